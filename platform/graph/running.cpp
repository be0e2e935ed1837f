/* The graph's pipeline, built from the connected filters when it pauses or runs, and its state. */
#include "graph/filtergraph.h"
#include "glue/bridge.h"
#include "glue/pipeline.h"

#include <evcode.h>
#include <mmreg.h>
#include <string.h>
#include <new>

/* ---- The pipeline ---- */

bool FilterGraph::FilterConnected(IBaseFilter *f)
{
    IEnumPins *pins;
    IPin *pin, *peer;
    bool connected = false;
    if (FAILED(f->EnumPins(&pins))) return false;
    while (!connected && pins->Next(1, &pin, NULL) == S_OK)
    {
        if (SUCCEEDED(pin->ConnectedTo(&peer)))
        {
            connected = true;
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return connected;
}

/* Where a connected pin sits: its filter's index in the graph and its number among the pins of its
 * direction (for sources, the stream it stands for). */
static void pin_place(IPin *pin, IBaseFilter **owner, int *number)
{
    PIN_INFO info;
    IPlatformPin *pp;
    IEnumPins *pins;
    IPin *p;
    int n = 0;

    *owner = NULL;
    *number = 0;
    if (FAILED(pin->QueryPinInfo(&info))) return;
    *owner = info.pFilter;   /* the caller releases it */
    if (info.dir == PINDIR_OUTPUT && SUCCEEDED(pin->QueryInterface(IID_IPlatformPin, (void **)&pp)))
    {
        *number = pp->GetStreamIndex();
        pp->Release();
        return;
    }
    if (!info.pFilter || FAILED(info.pFilter->EnumPins(&pins))) return;
    while (pins->Next(1, &p, NULL) == S_OK)
    {
        PIN_DIRECTION d;
        bool same = p == pin;
        p->QueryDirection(&d);
        p->Release();
        if (same) break;
        if (d == info.dir) n++;
    }
    pins->Release();
    *number = n;
}

static void pin_place(IPin *pin, int *number, IBaseFilter **owner = NULL)
{
    IBaseFilter *o;
    pin_place(pin, &o, number);
    if (owner) *owner = o;
    else if (o) o->Release();
}

/* The output streams of a filter whose pins feed a video encoder: bit i for stream i. An encoder converts
 * the pictures it takes itself, so they need not be converted into the pin's format first. */
static unsigned streams_into_encoders(IBaseFilter *filter)
{
    IEnumPins *pins;
    IPin *pin, *peer;
    unsigned mask = 0;

    if (FAILED(filter->EnumPins(&pins))) return 0;
    while (pins->Next(1, &pin, NULL) == S_OK)
    {
        if (SUCCEEDED(pin->ConnectedTo(&peer)))
        {
            IBaseFilter *from, *to;
            IPlatformFilter *pf;
            int output, input;
            pin_place(pin, &from, &output);
            pin_place(peer, &to, &input);
            if (to && SUCCEEDED(to->QueryInterface(IID_IPlatformFilter, (void **)&pf)))
            {
                const DeviceEntry *e = pf->GetEntry();
                if (e && e->kind == FILTER_VIDEO_ENCODER && output >= 0 && output < 32) mask |= 1u << output;
                pf->Release();
            }
            if (from) from->Release();
            if (to) to->Release();
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return mask;
}

HRESULT FilterGraph::CheckWriters()
{
    for (int i = 0; i < filter_count; i++)
    {
        GraphFilter *w;
        if (FAILED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&w))) continue;
        HRESULT hr = S_OK;
        if (w->Type() == GF_FILEWRITER && FilterConnected(filters[i]))
        {
            if (!w->UnixPath())
                hr = E_FAIL;
            /* a file being read is refused when the pipeline is built (PL_SAME_FILE) */
            else if (!pl_can_write(w->UnixPath()))
                hr = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        }
        w->Release();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

static DWORD WINAPI bus_thread_proc(void *arg)
{
    ((FilterGraph *)arg)->BusLoop();
    return 0;
}

/* ---- Links to the client's own filters ---- */

/* A filter the platform turns into pipeline nodes; the others are the client's own. */
static bool is_platform_filter(IBaseFilter *f)
{
    static const IID *const ours[] = {&IID_IGraphFilter, &IID_IPlatformFilter, &IID_IPlatformSourceElement,
                                      &IID_IGraphConverter};
    for (size_t i = 0; i < ARRAYSIZE(ours); i++)
    {
        IUnknown *u;
        if (SUCCEEDED(f->QueryInterface(*ours[i], (void **)&u)))
        {
            u->Release();
            return true;
        }
    }
    return false;
}

static const struct { const GUID *subtype; const char *format; bool rgb; } picture_formats[] =
{
    {&MEDIASUBTYPE_RGB32, "BGRx", true}, {&MEDIASUBTYPE_ARGB32, "BGRA", true}, {&MEDIASUBTYPE_RGB24, "BGR", true},
    {&MEDIASUBTYPE_RGB565, "RGB16", true}, {&MEDIASUBTYPE_RGB555, "RGB15", true}, {&MEDIASUBTYPE_YUY2, "YUY2", false},
    {&MEDIASUBTYPE_UYVY, "UYVY", false}, {&MEDIASUBTYPE_YVYU, "YVYU", false}, {&MEDIASUBTYPE_YV12, "YV12", false},
    {&SUBTYPE_I420, "I420", false}, {&MEDIASUBTYPE_IYUV, "I420", false}, {&MEDIASUBTYPE_NV12, "NV12", false},
};

/* What a connection's media type is for the pipeline; false when the pipeline cannot carry it. */
static bool bridge_format_of(const AM_MEDIA_TYPE *mt, struct bridge_format *f, int *kind)
{
    memset(f, 0, sizeof(*f));
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
    {
        const BITMAPINFOHEADER *bih = NULL;
        REFERENCE_TIME frame = 0;
        if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER))
        {
            bih = &((const VIDEOINFOHEADER *)mt->pbFormat)->bmiHeader;
            frame = ((const VIDEOINFOHEADER *)mt->pbFormat)->AvgTimePerFrame;
        }
        else if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo2) && mt->cbFormat >= sizeof(VIDEOINFOHEADER2))
        {
            bih = &((const VIDEOINFOHEADER2 *)mt->pbFormat)->bmiHeader;
            frame = ((const VIDEOINFOHEADER2 *)mt->pbFormat)->AvgTimePerFrame;
        }
        if (!bih || bih->biWidth <= 0 || !bih->biHeight) return false;
        f->width = bih->biWidth;
        f->height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
        if (frame > 0)
        {
            f->fps_num = 10000000;
            f->fps_den = (int)frame;
        }
        for (size_t i = 0; i < ARRAYSIZE(picture_formats); i++)
            if (IsEqualGUID(mt->subtype, *picture_formats[i].subtype))
            {
                f->kind = BRIDGE_VIDEO;
                lstrcpynA(f->format, picture_formats[i].format, sizeof(f->format));
                /* RGB DIBs with a positive height are stored bottom-up */
                f->bottom_up = picture_formats[i].rgb && bih->biHeight > 0;
                *kind = PL_RAW_VIDEO;
                return true;
            }
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_MJPG))
        {
            f->kind = BRIDGE_CODED;
            lstrcpynA(f->format, "image/jpeg", sizeof(f->format));
            *kind = PL_CODED_VIDEO;
            return true;
        }
        return false;
    }
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio) && IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx)
            && mt->cbFormat >= sizeof(WAVEFORMATEX))
    {
        const WAVEFORMATEX *wfx = (const WAVEFORMATEX *)mt->pbFormat;
        bool is_float = IsEqualGUID(mt->subtype, MEDIASUBTYPE_IEEE_FLOAT) || wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        const char *format = NULL;
        if (!is_float && !IsEqualGUID(mt->subtype, MEDIASUBTYPE_PCM)) return false;
        switch (wfx->wBitsPerSample)
        {
        case 8: format = is_float ? NULL : "U8"; break;
        case 16: format = is_float ? NULL : "S16LE"; break;
        case 24: format = is_float ? NULL : "S24LE"; break;
        case 32: format = is_float ? "F32LE" : "S32LE"; break;
        case 64: format = is_float ? "F64LE" : NULL; break;
        }
        if (!format || !wfx->nSamplesPerSec || !wfx->nChannels) return false;
        f->kind = BRIDGE_AUDIO;
        lstrcpynA(f->format, format, sizeof(f->format));
        f->rate = wfx->nSamplesPerSec;
        f->channels = wfx->nChannels;
        *kind = PL_RAW_AUDIO;
        return true;
    }
    return false;
}

/* One connection between the pipeline and a client's filter. A client's output feeds an application
 * source through the input pin of ours it is connected to (Receive); one of our outputs feeds the
 * client's input from an application sink, through a thread of our own that delivers samples from the
 * allocator the pins agreed. */
struct ClientLink final : public SampleReceiver
{
    FilterGraph *graph;
    bridge *b;
    bool to_client;
    IPinTransport *transport;       /* from the client: our input pin's transport */
    IMemInputPin *input;            /* to the client: its input, the allocator and the pin */
    IMemAllocator *allocator;
    IPin *client_pin;
    HANDLE thread;
    volatile LONG quit;
    bool ended;

    HRESULT Receive(IMediaSample *sample) override
    {
        BYTE *data;
        REFERENCE_TIME start, stop;
        HRESULT times;
        if (FAILED(sample->GetPointer(&data))) return E_POINTER;
        times = sample->GetTime(&start, &stop);
        if (bridge_source_push(b, data, sample->GetActualDataLength(), SUCCEEDED(times) ? start * NS_PER_UNIT : -1,
                               times == S_OK ? stop * NS_PER_UNIT : -1, sample->IsDiscontinuity() == S_OK) < 0)
            return VFW_E_WRONG_STATE;   /* the pipeline stopped or failed */
        return S_OK;
    }
    void EndOfStream() override { bridge_source_end(b); }

    void Deliver()
    {
        while (!quit)
        {
            struct bridge_sample s;
            int r = bridge_sink_pull(b, 50, &s);
            if (r < 0)
            {
                if (!ended) client_pin->EndOfStream();
                ended = true;
                Sleep(20);
                continue;
            }
            ended = false;
            if (!r) continue;
            IMediaSample *ms = NULL;
            if (SUCCEEDED(allocator->GetBuffer(&ms, NULL, NULL, 0)))
            {
                BYTE *data;
                LONG n = s.size;
                ms->GetPointer(&data);
                if (n > ms->GetSize()) n = ms->GetSize();
                memcpy(data, s.data, n);
                ms->SetActualDataLength(n);
                if (s.start_ns >= 0)
                {
                    REFERENCE_TIME start = s.start_ns / NS_PER_UNIT, stop = s.stop_ns / NS_PER_UNIT;
                    ms->SetTime(&start, s.stop_ns >= 0 ? &stop : NULL);
                }
                ms->SetSyncPoint(TRUE);
                ms->SetDiscontinuity(s.discontinuity);
                input->Receive(ms);
                ms->Release();
            }
            bridge_sample_release(&s);
        }
    }

    static DWORD WINAPI ThreadProc(void *arg)
    {
        ((ClientLink *)arg)->Deliver();
        return 0;
    }

    ~ClientLink()
    {
        if (transport) transport->Release();
        if (input) input->Release();
        if (allocator) allocator->Release();
        if (client_pin) client_pin->Release();
        bridge_free(b);
    }
};

static ClientLink *new_link(FilterGraph *g)
{
    ClientLink *l = new (std::nothrow) ClientLink();
    if (!l) return NULL;
    l->graph = g;
    l->b = NULL;
    l->to_client = false;
    l->transport = NULL;
    l->input = NULL;
    l->allocator = NULL;
    l->client_pin = NULL;
    l->thread = NULL;
    l->quit = 0;
    l->ended = false;
    return l;
}

/* Every connection between a client's filter and ours becomes an application source or sink. */
HRESULT FilterGraph::BuildClientLinks(int *node_of)
{
    for (int i = 0; i < filter_count; i++)
    {
        IEnumPins *pins;
        IPin *pin, *peer;
        if (FAILED(filters[i]->EnumPins(&pins))) continue;
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            PIN_DIRECTION d;
            pin->QueryDirection(&d);
            if (d == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(&peer)))
            {
                IBaseFilter *to_filter;
                int output, input, to, kind = 0;
                AM_MEDIA_TYPE mt;
                struct bridge_format format;
                HRESULT hr = S_OK;
                pin_place(pin, &output);
                pin_place(peer, &input, &to_filter);
                to = to_filter ? FilterIndex(to_filter) : -1;
                bool from_ours = node_of[i] >= 0, to_ours = to >= 0 && node_of[to] >= 0;
                if (to >= 0 && from_ours != to_ours)
                {
                    ClientLink *l = NULL;
                    void *element = NULL;
                    if (link_count >= MAX_FILTERS || !(l = new_link(this)))
                        hr = E_OUTOFMEMORY;
                    else if (FAILED(pin->ConnectionMediaType(&mt)))
                        hr = VFW_E_NOT_CONNECTED;
                    else
                    {
                        if (!bridge_format_of(&mt, &format, &kind)) hr = VFW_E_UNSUPPORTED_STREAM;
                        FreeMediaType(&mt);
                    }
                    if (SUCCEEDED(hr) && to_ours)
                    {
                        /* the client's output into our input: samples come through our pin's Receive */
                        static const char *const src_pad[] = {"src"};
                        int node;
                        if (FAILED(peer->QueryInterface(IID_IPinTransport, (void **)&l->transport))
                                || !(l->b = bridge_source_new(&format, &element))
                                || (node = pl_add_element_source(pl, element, 1, src_pad, &kind)) < 0
                                || pl_link(pl, node, 0, node_of[to], input) != PL_OK)
                            hr = VFW_E_CANNOT_CONNECT;
                    }
                    else if (SUCCEEDED(hr))
                    {
                        /* our output into the client's input: samples from an application sink */
                        int node;
                        IPinTransport *t;
                        l->to_client = true;
                        l->client_pin = peer;
                        peer->AddRef();
                        if (FAILED(pin->QueryInterface(IID_IPinTransport, (void **)&t)))
                            hr = VFW_E_NO_TRANSPORT;
                        else
                        {
                            hr = t->GetDownstream(&l->input, &l->allocator);
                            t->Release();
                        }
                        if (SUCCEEDED(hr)
                                && (!(l->b = bridge_sink_new(&format, &element))
                                    || (node = pl_add_element_sink(pl, element)) < 0
                                    || pl_link(pl, node_of[i], output, node, 0) != PL_OK))
                            hr = VFW_E_CANNOT_CONNECT;
                    }
                    if (l) links[link_count++] = l;
                }
                if (to_filter) to_filter->Release();
                peer->Release();
                if (FAILED(hr))
                {
                    pin->Release();
                    pins->Release();
                    return hr;
                }
            }
            pin->Release();
        }
        pins->Release();
    }
    return S_OK;
}

/* Samples start to flow: our inputs take them, our deliveries to the client start. */
void FilterGraph::StartClientLinks(FILTER_STATE s)
{
    for (int i = 0; i < link_count; i++)
    {
        ClientLink *l = links[i];
        if (!l->to_client)
            l->transport->SetReceiver(l);
        else if (!l->thread)
        {
            l->allocator->Commit();
            l->thread = CreateThread(NULL, 0, ClientLink::ThreadProc, l, 0, NULL);
        }
    }
}

void FilterGraph::TeardownClientLinks()
{
    for (int i = 0; i < link_count; i++)
    {
        ClientLink *l = links[i];
        InterlockedExchange(&l->quit, 1);
        if (l->to_client && l->allocator) l->allocator->Decommit();
    }
    /* the pipeline lets go of waiting pushes and pulls */
    if (pl && link_count) pl_set_state(pl, PL_STOPPED, 0, NULL, 0);
    for (int i = 0; i < link_count; i++)
    {
        ClientLink *l = links[i];
        if (l->transport) l->transport->SetReceiver(NULL);
        if (l->thread)
        {
            WaitForSingleObject(l->thread, INFINITE);
            CloseHandle(l->thread);
        }
        delete l;
    }
    link_count = 0;
}

/* ---- The pipeline ---- */

HRESULT FilterGraph::BuildPipeline()
{
    int node_of[MAX_FILTERS];
    char err[256];
    HRESULT hr;
    int built, nodes = 0;

    if (FAILED(hr = CheckWriters())) return hr;
    if (!(pl = pl_new())) return E_OUTOFMEMORY;
    keeps_files = false;
    renderer_node = -1;
    audio_node = -1;
    for (int i = 0; i < filter_count; i++)
    {
        IBaseFilter *f = filters[i];
        GraphFilter *gf;
        IPlatformSourceElement *se;
        IPlatformFilter *pf;
        IGraphConverter *conv;

        node_of[i] = -1;
        if (!FilterConnected(f) || !is_platform_filter(f)) continue;
        if (SUCCEEDED(f->QueryInterface(IID_IGraphFilter, (void **)&gf)))
        {
            switch (gf->Type())
            {
            case GF_SOURCE:
            {
                int kinds[GF_MAX_PINS];
                for (int k = 0; k < gf->StreamCount() && k < GF_MAX_PINS; k++)
                    kinds[k] = gf->Stream(k).video ? PL_RAW_VIDEO : PL_RAW_AUDIO;
                node_of[i] = pl_add_file_source(pl, gf->UnixPath(), gf->StreamCount(), kinds);
                for (int k = 0; k < gf->StreamCount() && k < GF_MAX_PINS; k++)
                    pl_set_output_rate(pl, node_of[i], k, gf->Stream(k).fps_num, gf->Stream(k).fps_den);
                break;
            }
            case GF_AVIMUX: node_of[i] = pl_add_avi_mux(pl); break;
            case GF_FILEWRITER:
                node_of[i] = pl_add_file_sink(pl, gf->UnixPath());
                keeps_files = true;
                break;
            case GF_VIDEO_RENDERER:
                node_of[i] = pl_add_video_renderer(pl);
                if (renderer_node < 0)
                {
                    renderer_node = node_of[i];
                    renderer = gf;
                    gf->AddRef();
                }
                break;
            case GF_AUDIO_RENDERER:
                node_of[i] = pl_add_audio_renderer(pl);
                if (audio_node < 0)
                {
                    audio_node = node_of[i];
                    ApplyAudio();
                }
                break;
            case GF_TEE: node_of[i] = pl_add_tee(pl); break;
            }
            gf->Release();
        }
        else if (SUCCEEDED(f->QueryInterface(IID_IPlatformSourceElement, (void **)&se)))
        {
            int count = se->GetStreamCount(), kinds[GF_MAX_PINS];
            char names[GF_MAX_PINS][64];
            const char *pads[GF_MAX_PINS];
            void *element;
            if (count < 0 || count > GF_MAX_PINS) count = 0;
            for (int k = 0; k < count; k++)
            {
                GUID major = GUID_NULL;
                se->GetStreamType(k, &major);
                kinds[k] = IsEqualGUID(major, MEDIATYPE_Audio) ? PL_RAW_AUDIO : PL_RAW_VIDEO;
                if (FAILED(se->GetPadName(k, names[k], sizeof(names[k])))) names[k][0] = 0;
                pads[k] = names[k];
            }
            if ((element = se->CreateElement(streams_into_encoders(f))))
                node_of[i] = pl_add_element_source(pl, element, count, pads, kinds);
            se->Release();
        }
        else if (SUCCEEDED(f->QueryInterface(IID_IGraphConverter, (void **)&conv)))
        {
            char desc[512];
            int kind;
            if (SUCCEEDED(conv->Describe(desc, sizeof(desc), &kind))) node_of[i] = pl_add_fragment(pl, desc, 1, kind);
            conv->Release();
        }
        else if (SUCCEEDED(f->QueryInterface(IID_IPlatformFilter, (void **)&pf)))
        {
            char desc[1024];
            const DeviceEntry *e = pf->GetEntry();
            if (e && SUCCEEDED(pf->GetDescription(desc, sizeof(desc))))
            {
                switch (e->kind)
                {
                case FILTER_VIDEO_ENCODER: node_of[i] = pl_add_fragment(pl, desc, 1, PL_CODED_VIDEO); break;
                case FILTER_AUDIO_ENCODER: node_of[i] = pl_add_fragment(pl, desc, 1, PL_CODED_AUDIO); break;
                case FILTER_WAVDEST: node_of[i] = pl_add_fragment(pl, desc, 1, PL_BYTES); break;
                case FILTER_CAPTURE:
                    node_of[i] = pl_add_fragment(pl, desc, 0, PL_RAW_VIDEO);
                    keeps_files = true;   /* the device is let go on Stop */
                    break;
                default: break;
                }
            }
            pf->Release();
        }
        if (node_of[i] < 0)
        {
            TeardownPipeline();
            return VFW_E_CANNOT_CONNECT;
        }
        nodes++;
    }
    /* the client's filters alone: they pass their samples between them */
    if (!nodes)
    {
        pl_free(pl);
        pl = NULL;
        return S_OK;
    }

    /* every connection between our filters, from its output side */
    for (int i = 0; i < filter_count; i++)
    {
        IEnumPins *pins;
        IPin *pin, *peer;
        if (node_of[i] < 0 || FAILED(filters[i]->EnumPins(&pins))) continue;
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            PIN_DIRECTION d;
            pin->QueryDirection(&d);
            if (d == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(&peer)))
            {
                IBaseFilter *to_filter;
                int output, input, to;
                pin_place(pin, &output);
                pin_place(peer, &input, &to_filter);
                to = to_filter ? FilterIndex(to_filter) : -1;
                if (to >= 0 && node_of[to] >= 0) pl_link(pl, node_of[i], output, node_of[to], input);
                if (to_filter) to_filter->Release();
                peer->Release();
            }
            pin->Release();
        }
        pins->Release();
    }
    if (FAILED(hr = BuildClientLinks(node_of)))
    {
        TeardownPipeline();
        return hr;
    }
    if ((built = pl_build(pl, err, sizeof(err))) != PL_OK)
    {
        TeardownPipeline();
        /* an output that is one of the files being read is refused, whatever name it was given by */
        return built == PL_SAME_FILE ? HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) : VFW_E_CANNOT_CONNECT;
    }
    if (renderer) renderer->Window()->StartFrames(pl, renderer_node);
    bus_quit = 0;
    error_sent = 0;
    bus_thread = CreateThread(NULL, 0, bus_thread_proc, this, 0, NULL);
    dirty = false;
    seek_pending = current != 0 || stop_at >= 0 || rate != 1.0;
    return S_OK;
}

void FilterGraph::TeardownPipeline()
{
    if (bus_thread)
    {
        InterlockedExchange(&bus_quit, 1);
        pl_wake(pl);
        WaitForSingleObject(bus_thread, INFINITE);
        CloseHandle(bus_thread);
        bus_thread = NULL;
    }
    TeardownClientLinks();
    if (renderer)
    {
        renderer->Window()->StopFrames();
        renderer->Release();
        renderer = NULL;
    }
    renderer_node = -1;
    audio_node = -1;
    if (pl)
    {
        pl_set_state(pl, PL_STOPPED, 0, NULL, 0);
        pl_free(pl);
        pl = NULL;
    }
}

void FilterGraph::BusLoop()
{
    while (!bus_quit)
    {
        struct pl_message m;
        switch (pl_next_message(pl, 50, &m))
        {
        case PL_MSG_EOS:
        {
            /* files are closed before the run is reported complete */
            if (keeps_files && !link_count) pl_set_state(pl, PL_STOPPED, 0, NULL, 0);
            /* every renderer of ours ended with the pipeline */
            events.PipelineCompleted();
            break;
        }
        case PL_MSG_ERROR:
            if (!InterlockedExchange(&error_sent, 1)) QueueEvent(EC_ERRORABORT, E_FAIL, 0);
            break;
        case PL_MSG_STEP_DONE:
            SetEvent(step_done);
            QueueEvent(EC_STEP_COMPLETE, FALSE, 0);
            break;
        default:
            break;
        }
    }
}

/* A renderer: it takes a stream and passes none on. */
bool FilterGraph::IsRenderer(IBaseFilter *f)
{
    IEnumPins *pins;
    IPin *pin, *peer;
    bool in = false, out = false;
    if (FAILED(f->EnumPins(&pins))) return false;
    while (pins->Next(1, &pin, NULL) == S_OK)
    {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && SUCCEEDED(pin->ConnectedTo(&peer)))
        {
            if (d == PINDIR_INPUT) in = true;
            else out = true;
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return in && !out;
}

int FilterGraph::CountRenderers(int *internal)
{
    int n = 0;
    *internal = 0;
    for (int i = 0; i < filter_count; i++)
        if (IsRenderer(filters[i]))
        {
            n++;
            if (is_platform_filter(filters[i])) (*internal)++;
        }
    return n;
}

/* Filters change state downstream first: a renderer is ready before what feeds it. */
void FilterGraph::SetFilterStates(FILTER_STATE s)
{
    int depth[MAX_FILTERS], order[MAX_FILTERS];
    for (int i = 0; i < filter_count; i++) depth[i] = 0;
    /* depth: how many filters lie downstream along the longest path */
    for (int pass = 0; pass < filter_count; pass++)
    {
        bool changed = false;
        for (int i = 0; i < filter_count; i++)
        {
            IEnumPins *pins;
            IPin *pin, *peer;
            if (FAILED(filters[i]->EnumPins(&pins))) continue;
            while (pins->Next(1, &pin, NULL) == S_OK)
            {
                PIN_DIRECTION d;
                if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(&peer)))
                {
                    IBaseFilter *down;
                    int k;
                    pin_place(peer, &k, &down);
                    if (down && (k = FilterIndex(down)) >= 0 && depth[k] + 1 > depth[i] && depth[k] < MAX_FILTERS)
                    {
                        depth[i] = depth[k] + 1;
                        changed = true;
                    }
                    if (down) down->Release();
                    peer->Release();
                }
                pin->Release();
            }
            pins->Release();
        }
        if (!changed) break;
    }
    for (int i = 0; i < filter_count; i++) order[i] = i;
    for (int i = 1; i < filter_count; i++)
        for (int j = i; j > 0 && depth[order[j - 1]] > depth[order[j]]; j--)
        {
            int t = order[j];
            order[j] = order[j - 1];
            order[j - 1] = t;
        }
    for (int k = 0; k < filter_count; k++)
    {
        IBaseFilter *f = filters[order[k]];
        if (s == State_Stopped) f->Stop();
        else if (s == State_Paused) f->Pause();
        else f->Run(start_time);
    }
}

void FilterGraph::ApplySeek()
{
    int st;
    pl_get_state(pl, STATE_WAIT_MS, &st);
    pl_seek_rate(pl, current * NS_PER_UNIT, stop_at >= 0 ? stop_at * NS_PER_UNIT : -1, rate);
    pl_get_state(pl, STATE_WAIT_MS, &st);
}

/* ---- Clock ---- */

REFERENCE_TIME FilterGraph::ClockNow()
{
    REFERENCE_TIME now = 0;
    if (clock) clock->GetTime(&now);
    return now;
}

void FilterGraph::GiveClock()
{
    for (int i = 0; i < filter_count; i++) filters[i]->SetSyncSource(clock);
}

/* a clock of a filter (a renderer's first), or the graph's own */
void FilterGraph::ChooseClock()
{
    IReferenceClock *chosen = NULL;
    for (int pass = 0; pass < 2 && !chosen; pass++)
        for (int i = 0; i < filter_count && !chosen; i++)
            if ((pass || IsRenderer(filters[i]))
                    && FAILED(filters[i]->QueryInterface(IID_IReferenceClock, (void **)&chosen)))
                chosen = NULL;
    if (!chosen && FAILED(CreateSystemClock(IID_IReferenceClock, (void **)&chosen))) chosen = NULL;
    if (clock) clock->Release();
    clock = chosen;
    clock_chosen = true;
    GiveClock();
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetDefaultSyncSource()
{
    EnterCriticalSection(&cs);
    ChooseClock();
    LeaveCriticalSection(&cs);
    Deliver(EC_CLOCK_CHANGED, 0, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetSyncSource(IReferenceClock *c)
{
    EnterCriticalSection(&cs);
    if (c) c->AddRef();
    if (clock) clock->Release();
    clock = c;
    clock_chosen = true;   /* none at all too: the graph then runs as fast as it can */
    GiveClock();
    LeaveCriticalSection(&cs);
    Deliver(EC_CLOCK_CHANGED, 0, 0);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetSyncSource(IReferenceClock **c)
{
    if (!c) return E_POINTER;
    EnterCriticalSection(&cs);
    if ((*c = clock)) clock->AddRef();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetStartTime(REFERENCE_TIME *start)
{
    HRESULT hr = S_OK;
    if (!start) return E_POINTER;
    EnterCriticalSection(&cs);
    if (state != State_Running) hr = VFW_E_WRONG_STATE;
    else if (!clock) hr = VFW_E_NO_CLOCK;
    else *start = start_time;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetClassID(CLSID *clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FilterGraph;
    return S_OK;
}

/* ---- State ---- */

#define START_DELAY 100000   /* 10 ms: filters get the run before its start time comes */

HRESULT FilterGraph::ChangeState(FILTER_STATE target, REFERENCE_TIME start)
{
    char err[256];
    HRESULT hr = S_OK;
    int r = PL_OK;

    EnterCriticalSection(&cs);
    if (!clock_chosen) ChooseClock();
    if (state == target)
    {
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    if (pl && dirty) TeardownPipeline();
    if (!pl && FAILED(hr = BuildPipeline()))
    {
        LeaveCriticalSection(&cs);
        QueueEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    if (target == State_Running && state != State_Running)
    {
        /* stream time 0 is the start time: a run that resumes goes on from where it paused */
        REFERENCE_TIME now = ClockNow();
        start_time = start >= 0 ? start : now + START_DELAY - paused_at;
        bool recount = state == State_Stopped || !events.Counting();
        int internal = 0, renderers = recount ? CountRenderers(&internal) : 0;
        events.RunStarts(recount, renderers, internal);
    }
    if (target == State_Paused && state == State_Running) paused_at = ClockNow() - start_time;
    /* the pipeline is under way before the client's filters deliver into it */
    if (pl) r = pl_set_state(pl, PL_PAUSED, 0, err, sizeof(err));
    if (r != PL_FAILED) StartClientLinks(target);
    if (r != PL_FAILED) SetFilterStates(target);
    if (pl && r != PL_FAILED) r = pl_set_state(pl, PL_PAUSED, STATE_WAIT_MS, err, sizeof(err));
    if (pl && r == PL_OK && seek_pending)
    {
        ApplySeek();
        seek_pending = false;
    }
    if (pl && r != PL_FAILED && target == State_Running) r = pl_set_state(pl, PL_PLAYING, 0, err, sizeof(err));
    if (r == PL_FAILED)
    {
        /* the output cannot be written, or the input does not play */
        SetFilterStates(State_Stopped);
        TeardownPipeline();
        state = State_Stopped;
        paused_at = 0;
        LeaveCriticalSection(&cs);
        QueueEvent(EC_ERRORABORT, E_FAIL, 0);
        return E_FAIL;
    }
    state = target;
    LeaveCriticalSection(&cs);
    return r == PL_ASYNC ? S_FALSE : S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Stop()
{
    EnterCriticalSection(&cs);
    if (pl && link_count)
    {
        /* waiting deliveries are let go before the client's filters stop */
        for (int i = 0; i < link_count; i++)
        {
            InterlockedExchange(&links[i]->quit, 1);
            if (links[i]->to_client) links[i]->allocator->Decommit();
        }
        pl_set_state(pl, PL_STOPPED, 0, NULL, 0);
    }
    SetFilterStates(State_Stopped);
    if (pl)
    {
        if (keeps_files || link_count)
        {
            /* files are finished and closed, devices let go; client filters start afresh */
            TeardownPipeline();
            current = 0;
        }
        else
            pl_set_state(pl, PL_PAUSED, 0, NULL, 0);
    }
    state = State_Stopped;
    paused_at = 0;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* pauses so that the frame at the position is shown, then stops */
HRESULT STDMETHODCALLTYPE FilterGraph::StopWhenReady()
{
    EnterCriticalSection(&cs);
    if (pl && !keeps_files && !link_count && !dirty)
    {
        int st;
        pl_set_state(pl, PL_PAUSED, STATE_WAIT_MS, NULL, 0);
        pl_get_state(pl, STATE_WAIT_MS, &st);
        SetFilterStates(State_Stopped);
        state = State_Stopped;
        paused_at = 0;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    LeaveCriticalSection(&cs);
    return Stop();
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetState(LONG timeout, OAFilterState *out)
{
    HRESULT hr = S_OK;
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    *out = state;
    if (pl && state != State_Stopped)
    {
        int st;
        if (pl_get_state(pl, timeout < 0 ? STATE_WAIT_MS : (unsigned)timeout, &st) == PL_ASYNC)
            hr = VFW_S_STATE_INTERMEDIATE;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetState(DWORD timeout, FILTER_STATE *out)
{
    OAFilterState s;
    HRESULT hr;
    if (!out) return E_POINTER;
    hr = GetState(timeout == INFINITE ? (LONG)-1 : (LONG)(timeout > 0x7fffffff ? 0x7fffffff : timeout), &s);
    *out = (FILTER_STATE)s;
    return hr;
}

/* ---- Automation ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::RenderFile(BSTR file)
{
    HRESULT hr;
    if (!file) return E_POINTER;
    hr = RenderFile(file, NULL);
    return hr;
}

/* the automation collections (IFilterInfo, IRegFilterInfo) are not made: their callers get no object */
HRESULT STDMETHODCALLTYPE FilterGraph::AddSourceFilter(BSTR file, IDispatch **out)
{
    if (!file || !out) return E_POINTER;
    *out = NULL;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_FilterCollection(IDispatch **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_RegFilterCollection(IDispatch **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    return E_NOTIMPL;
}
