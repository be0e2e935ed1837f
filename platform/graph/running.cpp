/* The graph's pipeline, built from the connected filters when it pauses or runs, and its state. */
#include "graph/filtergraph.h"
#include "glue/pipeline.h"

#include <string.h>

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

HRESULT FilterGraph::BuildPipeline()
{
    int node_of[MAX_FILTERS];
    char err[256];
    HRESULT hr;
    int built;

    if (FAILED(hr = CheckWriters())) return hr;
    if (!(pl = pl_new())) return E_OUTOFMEMORY;
    keeps_files = false;
    renderer_node = -1;
    for (int i = 0; i < filter_count; i++)
    {
        IBaseFilter *f = filters[i];
        GraphFilter *gf;
        IPlatformSourceElement *se;
        IPlatformFilter *pf;

        node_of[i] = -1;
        if (!FilterConnected(f)) continue;
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
            case GF_AUDIO_RENDERER: node_of[i] = pl_add_audio_renderer(pl); break;
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
    }

    /* every connection, from its output side */
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
                IBaseFilter *from_filter, *to_filter;
                int output, input, to;
                pin_place(pin, &from_filter, &output);
                pin_place(peer, &to_filter, &input);
                to = to_filter ? FilterIndex(to_filter) : -1;
                if (to >= 0 && node_of[to] >= 0) pl_link(pl, node_of[i], output, node_of[to], input);
                if (from_filter) from_filter->Release();
                if (to_filter) to_filter->Release();
                peer->Release();
            }
            pin->Release();
        }
        pins->Release();
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
    seek_pending = current != 0 || stop_at >= 0;
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
    if (renderer)
    {
        renderer->Window()->StopFrames();
        renderer->Release();
        renderer = NULL;
    }
    renderer_node = -1;
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
            /* files are closed before the run is reported complete */
            if (keeps_files) pl_set_state(pl, PL_STOPPED, 0, NULL, 0);
            QueueEvent(EC_COMPLETE, S_OK, 0);
            break;
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

void FilterGraph::SetFilterStates(FILTER_STATE s)
{
    for (int i = 0; i < filter_count; i++)
    {
        if (s == State_Stopped) filters[i]->Stop();
        else if (s == State_Paused) filters[i]->Pause();
        else filters[i]->Run(0);
    }
}

void FilterGraph::ApplySeek()
{
    int st;
    pl_get_state(pl, STATE_WAIT_MS, &st);
    pl_seek(pl, current * NS_PER_UNIT, stop_at >= 0 ? stop_at * NS_PER_UNIT : -1);
    pl_get_state(pl, STATE_WAIT_MS, &st);
}

HRESULT FilterGraph::ChangeState(FILTER_STATE target)
{
    char err[256];
    HRESULT hr = S_OK;
    int r;

    EnterCriticalSection(&cs);
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
        ResetEvent(completed);
        completion_code = 0;
    }
    SetFilterStates(target);
    r = pl_set_state(pl, PL_PAUSED, STATE_WAIT_MS, err, sizeof(err));
    if (r == PL_OK && seek_pending)
    {
        ApplySeek();
        seek_pending = false;
    }
    if (r != PL_FAILED && target == State_Running) r = pl_set_state(pl, PL_PLAYING, 0, err, sizeof(err));
    if (r == PL_FAILED)
    {
        /* the output cannot be written, or the input does not play */
        TeardownPipeline();
        SetFilterStates(State_Stopped);
        state = State_Stopped;
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
    if (pl)
    {
        if (keeps_files)
        {
            /* files are finished and closed, devices let go */
            TeardownPipeline();
            current = 0;
        }
        else
            pl_set_state(pl, PL_PAUSED, 0, NULL, 0);
    }
    SetFilterStates(State_Stopped);
    state = State_Stopped;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* pauses so that the frame at the position is shown, then stops */
HRESULT STDMETHODCALLTYPE FilterGraph::StopWhenReady()
{
    EnterCriticalSection(&cs);
    if (pl && !keeps_files && !dirty)
    {
        int st;
        pl_set_state(pl, PL_PAUSED, STATE_WAIT_MS, NULL, 0);
        pl_get_state(pl, STATE_WAIT_MS, &st);
        SetFilterStates(State_Stopped);
        state = State_Stopped;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    LeaveCriticalSection(&cs);
    return Stop();
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetState(LONG timeout, OAFilterState *out)
{
    HRESULT hr = S_OK;
    struct pipeline *p;
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    *out = state;
    p = pl;
    if (p && state != State_Stopped)
    {
        int st;
        if (pl_get_state(p, timeout < 0 ? STATE_WAIT_MS : (unsigned)timeout, &st) == PL_ASYNC)
            hr = VFW_S_STATE_INTERMEDIATE;
    }
    LeaveCriticalSection(&cs);
    return hr;
}
