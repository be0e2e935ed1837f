#include "outputchain.h"

static const WCHAR videoCompressorName[] = {'V','i','d','e','o',' ','C','o','m','p','r','e','s','s','o','r',0};
static const WCHAR wavDestName[] = {'W','a','v','D','e','s','t',0};
static const WCHAR fileWriterName[] = {'F','i','l','e','W','r','i','t','e','r',0};

static void WidePath(const char *path, WCHAR *wide, int size)
{
    wide[0] = 0;
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, size);
}

static ICaptureGraphBuilder2 *CreateBuilder(IGraphBuilder *graph)
{
    ICaptureGraphBuilder2 *builder = NULL;
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&builder)))
        return NULL;
    if (FAILED(builder->SetFiltergraph(graph))) {
        builder->Release();
        return NULL;
    }
    return builder;
}

bool BuildAviChain(IGraphBuilder *graph, IRenderEngine *engine, IAMTimeline *timeline, const char *path,
                   CompressorList *compressors, const GUID *secondType)
{
    ICaptureGraphBuilder2 *builder = CreateBuilder(graph);
    if (!builder) return false;
    IBaseFilter *compressor = compressors->filters[compressors->selection];
    if (compressor && FAILED(graph->AddFilter(compressor, videoCompressorName))) {
        builder->Release();
        return false;
    }
    WCHAR widePath[MAX_PATH * 2];
    WidePath(path, widePath, MAX_PATH * 2);
    IBaseFilter *mux = NULL;
    if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, widePath, &mux, NULL))) {
        builder->Release();
        return false;
    }
    LONG groups = 0;
    timeline->GetGroupCount(&groups);
    for (LONG i = 0; i < groups; i++) {
        IPin *pin = NULL;
        if (engine->GetGroupOutputPin(i, &pin) != S_OK) continue;
        // The video group's pin goes through the compressor; the audio group's pin, refused there,
        // goes straight into the multiplexer with the second call.
        builder->RenderStream(NULL, &MEDIATYPE_Video, pin, compressor, mux);
        builder->RenderStream(NULL, secondType, pin, NULL, mux);
        pin->Release();
    }
    mux->Release();
    builder->Release();
    return true;
}

bool BuildWavChain(IGraphBuilder *graph, IRenderEngine *engine, const char *path)
{
    IBaseFilter *wavDest = NULL;
    if (FAILED(CoCreateInstance(CLSID_WavDest, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&wavDest)))
        return false;
    if (FAILED(graph->AddFilter(wavDest, wavDestName))) {
        wavDest->Release();
        return false;
    }
    IFileSinkFilter2 *sink = NULL;
    IBaseFilter *writer = NULL;
    WCHAR widePath[MAX_PATH * 2];
    WidePath(path, widePath, MAX_PATH * 2);
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                         (void **)&sink)) &&
              SUCCEEDED(sink->SetMode(AM_FILE_OVERWRITE)) &&
              SUCCEEDED(sink->QueryInterface(IID_IBaseFilter, (void **)&writer)) &&
              SUCCEEDED(graph->AddFilter(writer, fileWriterName)) && SUCCEEDED(sink->SetFileName(widePath, NULL));
    ICaptureGraphBuilder2 *builder = ok ? CreateBuilder(graph) : NULL;
    HRESULT last = S_OK;
    if (builder) {
        IPin *pin = NULL;
        for (LONG i = 0; engine->GetGroupOutputPin(i, &pin) == S_OK; i++) {
            last = builder->RenderStream(NULL, NULL, pin, wavDest, writer);
            pin->Release();
        }
        builder->Release();
    }
    if (writer) writer->Release();
    if (sink) sink->Release();
    wavDest->Release();
    return builder != NULL && SUCCEEDED(last);
}
