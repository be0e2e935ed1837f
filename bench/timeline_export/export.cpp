// Exports the benchmark timeline through the render engine and the filter graph, as Sequora does:
// audio group 0 and video group 1, one track per clip, the AVI chain with the "Motion JPEG" compressor.
// Usage: export.exe MOVIE STILL SOUND OUT.avi   (DOS paths); prints the seconds the export took.
#include <windows.h>
#include <initializer_list>
#include <dshow.h>
#include "editing_services.h"

#include <stdio.h>
#include <string.h>

static const LONGLONG S = 10000000;

#define CHECK(expr) do { HRESULT hr_ = (expr); if (FAILED(hr_)) { \
    fprintf(stderr, "%s failed: 0x%08x\n", #expr, (unsigned)hr_); return 1; } } while (0)

static IAMTimeline *timeline;

static HRESULT add_group(bool video, IAMTimelineObj **group)
{
    IAMTimelineGroup *g;
    AM_MEDIA_TYPE mt = {};
    HRESULT hr = timeline->CreateEmptyNode(group, TIMELINE_MAJOR_TYPE_GROUP);
    if (FAILED(hr)) return hr;
    (*group)->QueryInterface(IID_IAMTimelineGroup, (void **)&g);
    g->SetOutputFPS(25.0);
    if (video)
    {
        VIDEOINFOHEADER *vih = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(*vih));
        memset(vih, 0, sizeof(*vih));
        vih->bmiHeader.biSize = 40;
        vih->bmiHeader.biWidth = 640;
        vih->bmiHeader.biHeight = 480;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 24;
        vih->bmiHeader.biSizeImage = 640 * 3 * 480;
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB24;
        mt.formattype = FORMAT_VideoInfo;
        mt.bFixedSizeSamples = TRUE;
        mt.lSampleSize = vih->bmiHeader.biSizeImage;
        mt.cbFormat = sizeof(*vih);
        mt.pbFormat = (BYTE *)vih;
    }
    else
    {
        WAVEFORMATEX *wfx = (WAVEFORMATEX *)CoTaskMemAlloc(18);
        memset(wfx, 0, 18);
        wfx->wFormatTag = WAVE_FORMAT_PCM;
        wfx->nChannels = 2;
        wfx->nSamplesPerSec = 44100;
        wfx->wBitsPerSample = 16;
        wfx->nBlockAlign = 4;
        wfx->nAvgBytesPerSec = 44100 * 4;
        mt.majortype = MEDIATYPE_Audio;
        mt.subtype = MEDIASUBTYPE_PCM;
        mt.formattype = FORMAT_WaveFormatEx;
        mt.cbFormat = 18;
        mt.pbFormat = (BYTE *)wfx;
    }
    hr = g->SetMediaType(&mt);
    CoTaskMemFree(mt.pbFormat);
    g->Release();
    return FAILED(hr) ? hr : timeline->AddGroup(*group);
}

static HRESULT add_clip(IAMTimelineObj *group, const WCHAR *file, LONGLONG start, LONGLONG length,
                        IAMTimelineObj **track_out)
{
    IAMTimelineObj *track, *src;
    IAMTimelineComp *comp;
    IAMTimelineTrack *t;
    IAMTimelineSrc *s;
    HRESULT hr;

    timeline->CreateEmptyNode(&track, TIMELINE_MAJOR_TYPE_TRACK);
    group->QueryInterface(IID_IAMTimelineComp, (void **)&comp);
    hr = comp->VTrackInsBefore(track, -1);
    comp->Release();
    timeline->CreateEmptyNode(&src, TIMELINE_MAJOR_TYPE_SOURCE);
    src->QueryInterface(IID_IAMTimelineSrc, (void **)&s);
    src->SetStartStop(start, start + length);
    BSTR name = SysAllocString(file);
    s->SetMediaName(name);
    SysFreeString(name);
    s->SetMediaTimes(0, length);
    track->QueryInterface(IID_IAMTimelineTrack, (void **)&t);
    if (SUCCEEDED(hr)) hr = t->SrcAdd(src);
    t->Release();
    s->Release();
    src->Release();
    *track_out = track;
    return hr;
}

static HRESULT find_compressor(const WCHAR *wanted, IBaseFilter **out)
{
    ICreateDevEnum *devenum;
    IEnumMoniker *monikers;
    IMoniker *m;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  (void **)&devenum);
    if (FAILED(hr)) return hr;
    hr = devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0);
    devenum->Release();
    if (hr != S_OK) return E_FAIL;
    hr = E_FAIL;
    while (monikers->Next(1, &m, NULL) == S_OK)
    {
        IPropertyBag *bag;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)))
        {
            if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && !lstrcmpW(V_BSTR(&v), wanted))
                hr = m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)out);
            VariantClear(&v);
            bag->Release();
        }
        m->Release();
        if (SUCCEEDED(hr)) break;
    }
    monikers->Release();
    return hr;
}

extern "C" int wmain(int argc, WCHAR **argv)
{
    IAMTimelineObj *audio, *video, *vt1, *vt2, *at, *trans, *fx;
    IRenderEngine *engine;
    IGraphBuilder *graph;
    ICaptureGraphBuilder2 *builder;
    IBaseFilter *mux, *compressor;
    IMediaControl *control;
    IMediaEvent *event;
    IPropertySetter *setter;
    LONG code = 0;

    if (argc != 5)
    {
        fprintf(stderr, "usage: export MOVIE STILL SOUND OUT.avi\n");
        return 2;
    }
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);

    CHECK(CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline, (void **)&timeline));
    CHECK(add_group(false, &audio));
    CHECK(add_group(true, &video));
    // movie 0..30 s, still 28..60 s revealed by a wipe over 28..31 s, sound 0..60 s fading out from 50 s
    CHECK(add_clip(video, argv[1], 0, 30 * S, &vt1));
    CHECK(add_clip(video, argv[2], 28 * S, 32 * S, &vt2));
    CHECK(add_clip(audio, argv[3], 0, 60 * S, &at));

    IAMTimelineTrans *tr;
    IAMTimelineTransable *transable;
    CHECK(timeline->CreateEmptyNode(&trans, TIMELINE_MAJOR_TYPE_TRANSITION));
    CHECK(trans->SetSubObjectGUIDB((BSTR)L"{73DD6488-D763-4F0E-B469-3905131E4F12}"));   // "Wipe"
    CHECK(trans->SetStartStop(28 * S, 31 * S));
    trans->QueryInterface(IID_IAMTimelineTrans, (void **)&tr);
    tr->SetSwapInputs(FALSE);
    tr->Release();
    vt2->QueryInterface(IID_IAMTimelineTransable, (void **)&transable);
    CHECK(transable->TransAdd(trans));
    transable->Release();

    IAMTimelineEffectable *effectable;
    CHECK(timeline->CreateEmptyNode(&fx, TIMELINE_MAJOR_TYPE_EFFECT));
    CHECK(fx->SetSubObjectGUID(CLSID_AudMixer));
    CHECK(fx->SetStartStop(50 * S, 60 * S));
    CHECK(CoCreateInstance(CLSID_PropertySetter, NULL, CLSCTX_INPROC_SERVER, IID_IPropertySetter, (void **)&setter));
    DEXTER_PARAM param = {SysAllocString(L"Vol"), 0, 2};
    DEXTER_VALUE values[2] = {};
    V_VT(&values[0].v) = VT_R8;
    V_R8(&values[0].v) = 1.0;
    V_VT(&values[1].v) = VT_R8;
    V_R8(&values[1].v) = 0.0;
    values[1].rt = 11 * S;
    values[1].dwInterp = DEXTERF_INTERPOLATE;
    CHECK(setter->AddProp(param, values));
    CHECK(fx->SetPropertySetter(setter));
    at->QueryInterface(IID_IAMTimelineEffectable, (void **)&effectable);
    CHECK(effectable->EffectInsBefore(fx, -1));

    CHECK(CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine, (void **)&engine));
    CHECK(engine->SetTimelineObject(timeline));
    CHECK(engine->ConnectFrontEnd());
    CHECK(engine->GetFilterGraph(&graph));
    CHECK(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                           (void **)&builder));
    CHECK(builder->SetFiltergraph(graph));
    CHECK(find_compressor(L"Motion JPEG", &compressor));
    CHECK(graph->AddFilter(compressor, L"Video Compressor"));
    CHECK(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, argv[4], &mux, NULL));
    for (LONG i = 0; i < 2; i++)
    {
        IPin *pin;
        if (engine->GetGroupOutputPin(i, &pin) != S_OK) continue;
        if (FAILED(builder->RenderStream(NULL, &MEDIATYPE_Video, pin, compressor, mux)))
            builder->RenderStream(NULL, NULL, pin, NULL, mux);
        pin->Release();
    }
    CHECK(graph->QueryInterface(IID_IMediaControl, (void **)&control));
    CHECK(graph->QueryInterface(IID_IMediaEvent, (void **)&event));
    CHECK(control->Run());
    CHECK(event->WaitForCompletion(600000, &code));
    control->Stop();
    QueryPerformanceCounter(&t1);
    engine->ScrapIt();
    for (IUnknown *u : {(IUnknown *)event, (IUnknown *)control, (IUnknown *)mux, (IUnknown *)compressor,
                        (IUnknown *)builder, (IUnknown *)graph, (IUnknown *)engine, (IUnknown *)effectable,
                        (IUnknown *)setter, (IUnknown *)fx, (IUnknown *)trans, (IUnknown *)at, (IUnknown *)vt2,
                        (IUnknown *)vt1, (IUnknown *)video, (IUnknown *)audio, (IUnknown *)timeline})
        u->Release();
    SysFreeString(param.name);
    CoUninitialize();
    if (code != EC_COMPLETE)
    {
        fprintf(stderr, "export ended with event %d\n", (int)code);
        return 1;
    }
    printf("%.2f\n", (double)(t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    return 0;
}
