// Times a conversion through the platform's filter graph (MJPEG+PCM AVI to an MJPEG AVI, as the
// converter builds it) and the time from Run to the first picture of a preview in a window.
// Usage: graph_convert.exe INPUT.avi OUTPUT.avi   (Unix paths); prints "graph_seconds=" and "preview_ms=".
#include <windows.h>
#include <dshow.h>
#include <evcode.h>
#include <stdio.h>
#include <string.h>

static WCHAR *dos(const char *unix_path)
{
    return wine_get_dos_file_name(unix_path);
}

static IBaseFilter *mjpeg_encoder(void)
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
                if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && !lstrcmpW(V_BSTR(&v), L"Motion JPEG"))
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

static double seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f)
{
    return (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart;
}

static int convert(const char *in, const char *out)
{
    IGraphBuilder *graph;
    ICaptureGraphBuilder2 *builder;
    IBaseFilter *src, *enc, *mux;
    IMediaControl *control;
    IMediaEvent *events;
    LARGE_INTEGER f, t0, t1;
    LONG code = 0;

    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph))
            || FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                       (void **)&builder))
            || FAILED(builder->SetFiltergraph(graph)) || !(enc = mjpeg_encoder())
            || FAILED(graph->AddSourceFilter(dos(in), L"Source Filter", &src))
            || FAILED(graph->AddFilter(enc, L"Video Compressor"))
            || FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, dos(out), &mux, NULL))
            || FAILED(builder->RenderStream(NULL, NULL, src, enc, mux))
            || FAILED(builder->RenderStream(NULL, NULL, src, NULL, mux)))
    {
        fprintf(stderr, "cannot build the conversion graph\n");
        return 1;
    }
    graph->QueryInterface(IID_IMediaControl, (void **)&control);
    graph->QueryInterface(IID_IMediaEvent, (void **)&events);
    control->Run();
    events->WaitForCompletion(INFINITE, &code);
    QueryPerformanceCounter(&t1);
    control->Stop();
    printf("graph_seconds=%.2f\n", seconds(t0, t1, f));
    if (code != EC_COMPLETE) fprintf(stderr, "conversion ended with event %ld\n", code);
    events->Release();
    control->Release();
    mux->Release();
    enc->Release();
    src->Release();
    builder->Release();
    graph->Release();
    return code == EC_COMPLETE ? 0 : 1;
}

/* first picture in the preview window: a pixel that is no longer black */
static int preview(const char *in)
{
    IGraphBuilder *graph;
    IMediaControl *control;
    IVideoWindow *vw;
    LARGE_INTEGER f, t0, t1;
    HWND owner, child;
    double ms = -1;

    QueryPerformanceFrequency(&f);
    owner = CreateWindowExW(0, L"STATIC", L"preview", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, NULL, NULL, NULL, NULL);
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph))
            || FAILED(graph->RenderFile(dos(in), NULL)))
        return 1;
    graph->QueryInterface(IID_IMediaControl, (void **)&control);
    graph->QueryInterface(IID_IVideoWindow, (void **)&vw);
    vw->put_Owner((OAHWND)owner);
    vw->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS);
    vw->SetWindowPosition(0, 0, 320, 240);
    child = GetWindow(owner, GW_CHILD);
    QueryPerformanceCounter(&t0);
    control->Run();
    for (int i = 0; i < 5000 && ms < 0; i++)
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        HDC dc = GetDC(child);
        COLORREF c = GetPixel(dc, 160, 120);
        ReleaseDC(child, dc);
        if (c != CLR_INVALID && (GetRValue(c) > 40 || GetGValue(c) > 40 || GetBValue(c) > 40))
        {
            QueryPerformanceCounter(&t1);
            ms = seconds(t0, t1, f) * 1000.0;
        }
        Sleep(1);
    }
    control->Stop();
    printf("preview_ms=%.0f\n", ms);
    vw->put_Visible(OAFALSE);
    vw->put_Owner(0);
    vw->Release();
    control->Release();
    graph->Release();
    DestroyWindow(owner);
    return ms < 0;
}

int main(int argc, char **argv)
{
    int r;
    if (argc < 3)
    {
        fprintf(stderr, "usage: graph_convert INPUT.avi OUTPUT.avi\n");
        return 2;
    }
    CoInitialize(NULL);
    r = convert(argv[1], argv[2]);
    if (!r) r = preview(argv[1]);
    CoUninitialize();
    return r;
}
