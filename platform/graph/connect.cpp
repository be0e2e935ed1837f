/*
 * Intelligent connect: pins connect directly or through the filters a stream needs (filters of the
 * cache first, then the platform's decoders and converters by merit), sources for files, rendering to
 * the default renderers, and reconnection.
 */
#include "graph/filtergraph.h"

#include <string.h>

/* A connection through intermediate filters goes at most this many filters deep. */
#define CONNECT_DEPTH 2

static IBaseFilter *owner_of(IPin *pin)
{
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info))) return NULL;
    return info.pFilter;
}

static bool pin_is(IPin *pin, PIN_DIRECTION want)
{
    PIN_DIRECTION d;
    return SUCCEEDED(pin->QueryDirection(&d)) && d == want;
}

static bool pin_connected(IPin *pin)
{
    IPin *peer;
    if (FAILED(pin->ConnectedTo(&peer))) return false;
    peer->Release();
    return true;
}

/* Adds f, connects out to one of its inputs and one of its outputs onward to in; all or nothing. */
HRESULT FilterGraph::TryIntermediate(IBaseFilter *f, const WCHAR *name, IPin *out, IPin *in, int depth,
                                     bool only_cached, bool from_cache)
{
    IEnumPins *pins;
    IPin *pin, *pin_in = NULL;
    HRESULT hr;

    if (FAILED(hr = AddFilter(f, name))) return hr;
    if (SUCCEEDED(f->EnumPins(&pins)))
    {
        while (!pin_in && pins->Next(1, &pin, NULL) == S_OK)
        {
            if (pin_is(pin, PINDIR_INPUT) && !pin_connected(pin) && SUCCEEDED(ConnectDirect(out, pin, NULL)))
                pin_in = pin;
            else
                pin->Release();
        }
        pins->Release();
    }
    hr = VFW_E_CANNOT_CONNECT;
    if (pin_in && SUCCEEDED(f->EnumPins(&pins)))
    {
        while (FAILED(hr) && pins->Next(1, &pin, NULL) == S_OK)
        {
            if (pin_is(pin, PINDIR_OUTPUT) && !pin_connected(pin))
                hr = ConnectVia(pin, in, NULL, depth - 1, only_cached);
            pin->Release();
        }
        pins->Release();
    }
    if (SUCCEEDED(hr))
    {
        pin_in->Release();
        if (from_cache) RemoveFilterFromCache(f);
        return S_OK;
    }
    if (pin_in)
    {
        Disconnect(out);
        Disconnect(pin_in);
        pin_in->Release();
    }
    RemoveFilter(f);
    return hr;
}

HRESULT FilterGraph::ConnectVia(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt, int depth, bool only_cached)
{
    IBaseFilter *cached[MAX_FILTERS];
    int n;
    HRESULT hr = ConnectDirect(out, in, mt);

    if (SUCCEEDED(hr) || depth <= 0 || hr == VFW_E_NOT_STOPPED || hr == VFW_E_NOT_IN_GRAPH) return hr;
    if (ShouldOperationContinue() != S_OK) return E_ABORT;

    /* the filters of the cache come first */
    EnterCriticalSection(&cs);
    for (n = 0; n < cache_count; n++)
    {
        cached[n] = cache[n];
        cached[n]->AddRef();
    }
    LeaveCriticalSection(&cs);
    hr = VFW_E_CANNOT_CONNECT;
    for (int i = 0; i < n; i++)
    {
        FILTER_INFO info;
        WCHAR name[MAX_FILTER_NAME] = L"";
        if (SUCCEEDED(cached[i]->QueryFilterInfo(&info)))
        {
            lstrcpynW(name, info.achName, MAX_FILTER_NAME);
            if (info.pGraph) info.pGraph->Release();
        }
        if (FAILED(hr)) hr = TryIntermediate(cached[i], *name ? name : NULL, out, in, depth, only_cached, true);
        cached[i]->Release();
    }
    if (SUCCEEDED(hr) || only_cached) return SUCCEEDED(hr) ? hr : VFW_E_CANNOT_CONNECT;

    /* then the platform's decoders and converters, best merit first */
    int order[CONVERT_COUNT];
    for (int k = 0; k < CONVERT_COUNT; k++) order[k] = k;
    for (int i = 1; i < CONVERT_COUNT; i++)
        for (int j = i; j > 0 && ConverterMerit((ConverterKind)order[j]) > ConverterMerit((ConverterKind)order[j - 1]); j--)
        {
            int t = order[j];
            order[j] = order[j - 1];
            order[j - 1] = t;
        }
    for (int k = 0; k < CONVERT_COUNT && FAILED(hr); k++)
    {
        IBaseFilter *f;
        if (ShouldOperationContinue() != S_OK) return E_ABORT;
        if (FAILED(CreateConverter((ConverterKind)order[k], &f))) continue;
        hr = TryIntermediate(f, ConverterName((ConverterKind)order[k]), out, in, depth, only_cached, false);
        f->Release();
    }
    return SUCCEEDED(hr) ? S_OK : VFW_E_CANNOT_CONNECT;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Connect(IPin *out, IPin *in)
{
    IBaseFilter *a, *b;
    HRESULT hr = S_OK;

    if (!out || !in) return E_POINTER;
    a = owner_of(out);
    b = owner_of(in);
    EnterCriticalSection(&cs);
    if (!a || !b || FilterIndex(a) < 0 || FilterIndex(b) < 0) hr = VFW_E_NOT_IN_GRAPH;
    else if (state != State_Stopped) hr = VFW_E_NOT_STOPPED;
    LeaveCriticalSection(&cs);
    if (a) a->Release();
    if (b) b->Release();
    if (FAILED(hr)) return hr;
    if (!pin_is(out, PINDIR_OUTPUT) || !pin_is(in, PINDIR_INPUT)) return VFW_E_INVALID_DIRECTION;
    if (pin_connected(out) || pin_connected(in)) return VFW_E_ALREADY_CONNECTED;
    InterlockedExchange(&aborting, 0);
    hr = ConnectVia(out, in, NULL, CONNECT_DEPTH, false);
    return FAILED(hr) && hr != E_ABORT ? VFW_E_CANNOT_CONNECT : hr;
}

static GUID pin_major(IPin *pin)
{
    IEnumMediaTypes *types;
    AM_MEDIA_TYPE *mt;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)))
    {
        while (IsEqualGUID(major, GUID_NULL) && types->Next(1, &mt, NULL) == S_OK)
        {
            major = mt->majortype;
            FreeMediaType(mt);
            CoTaskMemFree(mt);
        }
        types->Release();
    }
    return major;
}

/* the picture size, as far as the stream tells it before it runs */
static void tell_picture_size(IPin *out, GraphFilter *r)
{
    AM_MEDIA_TYPE mt;
    IPlatformPin *pp;
    if (SUCCEEDED(out->QueryInterface(IID_IPlatformPin, (void **)&pp)))
    {
        GraphFilter *src;
        if (SUCCEEDED(pp->GetOwner()->QueryInterface(IID_IGraphFilter, (void **)&src)))
        {
            int i = pp->GetStreamIndex();
            if (src->Type() == GF_SOURCE && i >= 0 && i < src->StreamCount())
                r->Window()->SetSourceSize(src->Stream(i).width, src->Stream(i).height);
            src->Release();
        }
        pp->Release();
    }
    if (SUCCEEDED(r->Pin(0)->ConnectionMediaType(&mt)))
    {
        if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        {
            const VIDEOINFOHEADER *vih = (const VIDEOINFOHEADER *)mt.pbFormat;
            if (vih->bmiHeader.biWidth > 0)
                r->Window()->SetSourceSize(vih->bmiHeader.biWidth, abs(vih->bmiHeader.biHeight));
        }
        FreeMediaType(&mt);
    }
}

/* A stream to a renderer: those in the graph with a free input, or (unless only those) a new default
 * renderer of its type, through decoders and converters where it needs them. */
HRESULT FilterGraph::RenderPin(IPin *out, bool existing_only)
{
    IBaseFilter *list[MAX_FILTERS];
    int n = 0;
    HRESULT hr = VFW_E_CANNOT_RENDER;

    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count; i++)
    {
        list[n] = filters[i];
        list[n++]->AddRef();
    }
    LeaveCriticalSection(&cs);
    /* renderers already there (filters with inputs and no outputs), when asked for */
    IBaseFilter *self = owner_of(out);
    for (int i = 0; i < n; i++)
    {
        IEnumPins *pins;
        IPin *pin, *free_in = NULL;
        bool outputs = false;
        if (existing_only && FAILED(hr) && list[i] != self && SUCCEEDED(list[i]->EnumPins(&pins)))
        {
            while (pins->Next(1, &pin, NULL) == S_OK)
            {
                if (pin_is(pin, PINDIR_OUTPUT)) outputs = true;
                else if (!free_in && !pin_connected(pin))
                {
                    free_in = pin;
                    continue;
                }
                pin->Release();
            }
            pins->Release();
            if (free_in && !outputs && FAILED(hr = ConnectVia(out, free_in, NULL, CONNECT_DEPTH, false)))
                hr = VFW_E_CANNOT_RENDER;
            if (free_in) free_in->Release();
        }
        list[i]->Release();
    }
    if (self) self->Release();
    if (SUCCEEDED(hr) || existing_only) return SUCCEEDED(hr) ? S_OK : VFW_E_CANNOT_RENDER;

    GraphFilter *r;
    GUID major = pin_major(out);
    if (IsEqualGUID(major, MEDIATYPE_Video))
        hr = GraphFilter::Create(GF_VIDEO_RENDERER, &r);
    else if (IsEqualGUID(major, MEDIATYPE_Audio))
        hr = GraphFilter::Create(GF_AUDIO_RENDERER, &r);
    else
        return VFW_E_CANNOT_RENDER;
    if (FAILED(hr)) return hr;
    hr = AddFilter(r, r->Type() == GF_VIDEO_RENDERER ? L"Video Renderer" : L"Audio Renderer");
    if (SUCCEEDED(hr) && FAILED(hr = ConnectVia(out, r->Pin(0), NULL, CONNECT_DEPTH, false)))
    {
        RemoveFilter(r);
        hr = hr == E_ABORT ? hr : VFW_E_CANNOT_RENDER;
    }
    if (SUCCEEDED(hr) && r->Window()) tell_picture_size(out, r);
    r->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Render(IPin *out)
{
    return RenderEx(out, 0, NULL);
}

HRESULT STDMETHODCALLTYPE FilterGraph::RenderEx(IPin *out, DWORD render_flags, DWORD *context)
{
    IBaseFilter *f;
    HRESULT hr = S_OK;

    if (!out) return E_POINTER;
    if (context || (render_flags & ~AM_RENDEREX_RENDERTOEXISTINGRENDERERS)) return E_INVALIDARG;
    f = owner_of(out);
    EnterCriticalSection(&cs);
    if (!f || FilterIndex(f) < 0) hr = VFW_E_NOT_IN_GRAPH;
    else if (state != State_Stopped) hr = VFW_E_NOT_STOPPED;
    LeaveCriticalSection(&cs);
    if (f) f->Release();
    if (FAILED(hr)) return hr;
    if (!pin_is(out, PINDIR_OUTPUT)) return VFW_E_INVALID_DIRECTION;
    if (pin_connected(out)) return VFW_E_ALREADY_CONNECTED;
    InterlockedExchange(&aborting, 0);
    return RenderPin(out, render_flags & AM_RENDEREX_RENDERTOEXISTINGRENDERERS);
}

HRESULT STDMETHODCALLTYPE FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter **out)
{
    GraphFilter *src;
    HRESULT hr;

    if (!file || !out) return E_POINTER;
    *out = NULL;
    if (FAILED(hr = GraphFilter::CreateSource(file, &src))) return hr;
    if (FAILED(hr = AddFilter(src, name ? name : file)))
    {
        src->Release();
        return hr;
    }
    *out = src;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::AddSourceFilterForMoniker(IMoniker *moniker, IBindCtx *ctx, LPCWSTR name,
                                                                 IBaseFilter **out)
{
    IBaseFilter *f;
    HRESULT hr;

    if (!moniker || !out) return E_POINTER;
    *out = NULL;
    if (FAILED(hr = moniker->BindToObject(ctx, NULL, IID_IBaseFilter, (void **)&f))) return hr;
    if (FAILED(hr = AddFilter(f, name)))
    {
        f->Release();
        return hr;
    }
    *out = f;
    return S_OK;
}

/* full playback: every stream to its default renderer */
HRESULT STDMETHODCALLTYPE FilterGraph::RenderFile(LPCWSTR file, LPCWSTR playlist)
{
    IBaseFilter *src;
    IEnumPins *pins;
    IPin *pin;
    HRESULT hr;
    int rendered = 0, video_failed = 0, audio_failed = 0, other_failed = 0;

    if (!file) return E_POINTER;
    InterlockedExchange(&aborting, 0);
    if (FAILED(hr = AddSourceFilter(file, file, &src))) return hr;
    if (SUCCEEDED(src->EnumPins(&pins)))
    {
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            GUID major = pin_major(pin);
            if (pin_is(pin, PINDIR_OUTPUT))
            {
                if (SUCCEEDED(RenderPin(pin, false))) rendered++;
                else if (IsEqualGUID(major, MEDIATYPE_Video)) video_failed++;
                else if (IsEqualGUID(major, MEDIATYPE_Audio)) audio_failed++;
                else other_failed++;
            }
            pin->Release();
        }
        pins->Release();
    }
    if (!rendered) RemoveFilter(src);
    src->Release();
    if (ShouldOperationContinue() != S_OK) return E_ABORT;
    if (!rendered) return VFW_E_CANNOT_RENDER;
    if (other_failed || (video_failed && audio_failed)) return VFW_S_PARTIAL_RENDER;
    if (audio_failed) return VFW_S_AUDIO_NOT_RENDERED;
    if (video_failed) return VFW_S_VIDEO_NOT_RENDERED;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Abort()
{
    InterlockedExchange(&aborting, 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ShouldOperationContinue()
{
    return aborting ? S_FALSE : S_OK;
}

/* ---- Reconnection ---- */

/* the two ends of pin's connection, output first (references added) */
static HRESULT connection_ends(IPin *pin, IPin **out, IPin **in, AM_MEDIA_TYPE *mt)
{
    IPin *peer;
    HRESULT hr;
    if (FAILED(hr = pin->ConnectedTo(&peer))) return hr;
    if (FAILED(hr = pin->ConnectionMediaType(mt)))
    {
        peer->Release();
        return hr;
    }
    pin->AddRef();
    if (pin_is(pin, PINDIR_OUTPUT))
    {
        *out = pin;
        *in = peer;
    }
    else
    {
        *out = peer;
        *in = pin;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ReconnectEx(IPin *pin, const AM_MEDIA_TYPE *mt)
{
    IPin *out, *in;
    AM_MEDIA_TYPE old;
    HRESULT hr;

    if (!pin) return E_POINTER;
    EnterCriticalSection(&cs);
    bool stopped = state == State_Stopped;
    LeaveCriticalSection(&cs);
    if (!stopped) return VFW_E_NOT_STOPPED;
    if (FAILED(connection_ends(pin, &out, &in, &old))) return S_FALSE;   /* nothing to reconnect */
    Disconnect(out);
    Disconnect(in);
    if (FAILED(hr = ConnectDirect(out, in, mt ? mt : &old)))
    {
        /* back as it was */
        if (FAILED(ConnectDirect(out, in, &old))) ConnectDirect(out, in, NULL);
        hr = E_FAIL;
    }
    FreeMediaType(&old);
    out->Release();
    in->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Reconnect(IPin *pin)
{
    IPin *peer;
    if (!pin) return E_POINTER;
    if (FAILED(pin->ConnectedTo(&peer))) return VFW_E_NOT_CONNECTED;
    peer->Release();
    EnterCriticalSection(&cs);
    bool stopped = state == State_Stopped;
    LeaveCriticalSection(&cs);
    if (!stopped) return VFW_E_WRONG_STATE;
    return ReconnectEx(pin, NULL);
}

/* IGraphConfig::Reconnect: the connection from out (or to in) made again, through a filter of the caller's
 * or the graph's choice. A running graph is stopped for it and set going again. */
HRESULT STDMETHODCALLTYPE FilterGraph::Reconnect(IPin *out, IPin *in, const AM_MEDIA_TYPE *first,
                                                 IBaseFilter *using_filter, HANDLE abort_event, DWORD how)
{
    IPin *peer;
    HRESULT hr;
    OAFilterState was;

    if (!out && !in) return E_INVALIDARG;
    if (how & ~(AM_GRAPH_CONFIG_RECONNECT_DIRECTCONNECT | AM_GRAPH_CONFIG_RECONNECT_CACHE_REMOVED_FILTERS
                | AM_GRAPH_CONFIG_RECONNECT_USE_ONLY_CACHED_FILTERS))
        return E_INVALIDARG;
    if ((out && !pin_is(out, PINDIR_OUTPUT)) || (in && !pin_is(in, PINDIR_INPUT))) return E_INVALIDARG;
    /* one pin given: the other end of its connection */
    if (!in && SUCCEEDED(out->ConnectedTo(&peer))) in = peer;
    else if (!out && SUCCEEDED(in->ConnectedTo(&peer))) out = peer;
    else
    {
        peer = NULL;
        if (!in || !out) return VFW_E_NOT_CONNECTED;
    }
    if (using_filter)
    {
        IBaseFilter *f = using_filter;
        EnterCriticalSection(&cs);
        bool there = FilterIndex(f) >= 0;
        LeaveCriticalSection(&cs);
        if (!there)
        {
            if (peer) peer->Release();
            return VFW_E_NOT_IN_GRAPH;
        }
    }
    GetState(0, &was);
    if (was != State_Stopped) Stop();
    if (abort_event && WaitForSingleObject(abort_event, 0) == WAIT_OBJECT_0)
        hr = VFW_E_STATE_CHANGED;
    else
    {
        /* what lay between the two pins goes (into the cache when asked) */
        IPin *next = NULL;
        IBaseFilter *between = NULL;
        if (SUCCEEDED(out->ConnectedTo(&next)))
        {
            between = owner_of(next);
            IBaseFilter *target = owner_of(in);
            if (between == target)
            {
                between->Release();
                between = NULL;
            }
            if (target) target->Release();
            next->Release();
        }
        Disconnect(out);
        if (between)
        {
            IEnumPins *pins;
            IPin *p;
            if (SUCCEEDED(between->EnumPins(&pins)))
            {
                while (pins->Next(1, &p, NULL) == S_OK)
                {
                    IPin *q;
                    if (SUCCEEDED(p->ConnectedTo(&q)))
                    {
                        Disconnect(q);
                        q->Release();
                    }
                    Disconnect(p);
                    p->Release();
                }
                pins->Release();
            }
            if (how & AM_GRAPH_CONFIG_RECONNECT_CACHE_REMOVED_FILTERS) AddFilterToCache(between);
            else RemoveFilter(between);
            between->Release();
        }
        Disconnect(in);
        if (using_filter)
        {
            IEnumPins *pins;
            IPin *p;
            hr = VFW_E_CANNOT_CONNECT;
            if (SUCCEEDED(using_filter->EnumPins(&pins)))
            {
                IPin *f_in = NULL, *f_out = NULL;
                while (pins->Next(1, &p, NULL) == S_OK)
                {
                    if (!f_in && pin_is(p, PINDIR_INPUT)) f_in = p;
                    else if (!f_out && pin_is(p, PINDIR_OUTPUT)) f_out = p;
                    else p->Release();
                }
                pins->Release();
                if (f_in && f_out && SUCCEEDED(ConnectDirect(out, f_in, first)))
                {
                    hr = how & AM_GRAPH_CONFIG_RECONNECT_DIRECTCONNECT ? ConnectDirect(f_out, in, NULL)
                                                                       : Connect(f_out, in);
                    if (FAILED(hr)) Disconnect(out), Disconnect(f_in);
                }
                if (f_in) f_in->Release();
                if (f_out) f_out->Release();
            }
        }
        else if (how & AM_GRAPH_CONFIG_RECONNECT_DIRECTCONNECT)
            hr = ConnectDirect(out, in, first);
        else
            hr = ConnectVia(out, in, first, CONNECT_DEPTH, (how & AM_GRAPH_CONFIG_RECONNECT_USE_ONLY_CACHED_FILTERS) != 0);
        if (FAILED(hr)) hr = VFW_E_CANNOT_CONNECT;
    }
    if (peer) peer->Release();
    if (was == State_Paused) Pause();
    else if (was == State_Running) Run();
    return hr;
}
