// Times Dubrix's graph: an AVI's picture through the Motion JPEG compressor and a WAV's sound into a
// new AVI, the AVI's own sound left out, from building the graph to its completion.
// Usage: dubrix_replace.exe INPUT.avi SOUND.wav OUTPUT.avi   (Unix paths); prints "graph_seconds=" and
// "peak_kb=", the largest resident size this process (which holds the whole graph) reached.
#include <windows.h>
#include <psapi.h>
#include <dshow.h>
#include <evcode.h>
#include <stdio.h>

static WCHAR *dos(const char *unix_path)
{
    return wine_get_dos_file_name(unix_path);
}

static IBaseFilter *compressor(const WCHAR *wanted)
{
    ICreateDevEnum *devenum;
    IEnumMoniker *list;
    IMoniker *m;
    IBaseFilter *found = NULL;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)&devenum)))
        return NULL;
    if (devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &list, 0) == S_OK)
    {
        while (!found && list->Next(1, &m, NULL) == S_OK)
        {
            IPropertyBag *bag;
            if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)))
            {
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && !lstrcmpW(V_BSTR(&v), wanted))
                    m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&found);
                VariantClear(&v);
                bag->Release();
            }
            m->Release();
        }
        list->Release();
    }
    devenum->Release();
    return found;
}

int main(int argc, char **argv)
{
    IGraphBuilder *graph;
    ICaptureGraphBuilder2 *builder;
    IBaseFilter *avi, *wav, *enc, *mux;
    IMediaControl *control;
    IMediaEvent *events;
    LARGE_INTEGER f, t0, t1;
    LONG code = 0;

    if (argc != 4) return 2;
    CoInitialize(NULL);
    enc = compressor(L"Motion JPEG");
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    if (!enc
            || FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph))
            || FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                       (void **)&builder))
            || FAILED(builder->SetFiltergraph(graph))
            || FAILED(graph->AddSourceFilter(dos(argv[1]), L"Source Filter1", &avi))
            || FAILED(graph->AddSourceFilter(dos(argv[2]), L"Source Filter2", &wav))
            || FAILED(graph->AddFilter(enc, L"Video Compressor"))
            || FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dos(argv[3]), &mux, NULL))
            || FAILED(builder->RenderStream(NULL, NULL, avi, enc, mux))
            || FAILED(builder->RenderStream(NULL, &MEDIATYPE_Audio, wav, NULL, mux)))
    {
        fprintf(stderr, "cannot build the replacement graph\n");
        return 1;
    }
    graph->QueryInterface(IID_IMediaControl, (void **)&control);
    graph->QueryInterface(IID_IMediaEvent, (void **)&events);
    control->Run();
    events->WaitForCompletion(INFINITE, &code);
    QueryPerformanceCounter(&t1);
    control->Stop();
    printf("graph_seconds=%.2f\n", (double)(t1.QuadPart - t0.QuadPart) / (double)f.QuadPart);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        printf("peak_kb=%lu\n", (unsigned long)(counters.PeakWorkingSetSize / 1024));
    if (code != EC_COMPLETE) fprintf(stderr, "replacement ended with event %ld\n", code);
    events->Release();
    control->Release();
    mux->Release();
    wav->Release();
    avi->Release();
    builder->Release();
    graph->Release();
    enc->Release();
    CoUninitialize();
    return code == EC_COMPLETE ? 0 : 1;
}
