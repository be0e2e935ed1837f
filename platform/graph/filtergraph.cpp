/*
 * The filter graph's filters and their connections: adding, removing, naming and enumerating filters,
 * direct connections, and the graph object itself. Graph events are queued by a thread of its own that
 * reads the pipeline's bus, and posted to the notify window one message per event.
 */
#include "server/lifetime.h"
#include "graph/filtergraph.h"
#include "filters/snapshotenum.h"

#include <evcode.h>

#include <string.h>
#include <new>

static void window_event(void *context, LONG code, LONG_PTR p1, LONG_PTR p2)
{
    ((FilterGraph *)context)->QueueEvent(code, p1, p2);
}

FilterGraph::FilterGraph(IUnknown *outer)
    : Aggregatable(outer), filter_count(0), state(State_Stopped), dirty(false), pl(NULL), renderer_node(-1), renderer(NULL),
      keeps_files(false), seek_pending(false), bus_thread(NULL), bus_quit(0), error_sent(0), current(0),
      stop_at(-1), clock(NULL), clock_chosen(false), start_time(0), paused_at(0), rate(1.0), preroll(0), version(0), site(NULL),
      cache_count(0), aborting(0), volume(0), balance(0), audio_node(-1), border_color(0), background_palette(OATRUE),
      cursor_hidden(OAFALSE), full_screen(OAFALSE), saved_parent(NULL), saved_style(0), link_count(0)
{
    SetRectEmpty(&source_rect);
    SetRectEmpty(&dest_rect);
    InitializeCriticalSection(&cs);
    step_done = CreateEventW(NULL, TRUE, FALSE, NULL);
    PlatformObjectCreated();
}

static void disconnect_all(IBaseFilter *filter)
{
    IEnumPins *pins;
    IPin *pin, *peer;
    if (FAILED(filter->EnumPins(&pins))) return;
    while (pins->Next(1, &pin, NULL) == S_OK)
    {
        if (SUCCEEDED(pin->ConnectedTo(&peer)))
        {
            peer->Disconnect();
            peer->Release();
        }
        pin->Disconnect();
        pin->Release();
    }
    pins->Release();
}


FilterGraph::~FilterGraph()
{
    TeardownPipeline();
    SetFilterStates(State_Stopped);
    for (int i = 0; i < filter_count; i++)
    {
        GraphFilter *gf;
        if (SUCCEEDED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf)))
        {
            if (gf->Window()) gf->Window()->SetEventSink(NULL, NULL);
            gf->Release();
        }
        /* a filter that outlives the graph (a compressor kept by the program) leaves it unconnected */
        disconnect_all(filters[i]);
        filters[i]->JoinFilterGraph(NULL, NULL);
        filters[i]->Release();
    }
    for (int i = 0; i < cache_count; i++) cache[i]->Release();
    if (clock) clock->Release();
    if (site) site->Release();
    CloseHandle(step_done);
    DeleteCriticalSection(&cs);
    PlatformObjectDestroyed();
}

HRESULT FilterGraph::NonDelegatingQueryInterface(REFIID riid, void **out)
{
    *out = NULL;
    if (IsEqualIID(riid, IID_IFilterGraph) || IsEqualIID(riid, IID_IGraphBuilder)
            || IsEqualIID(riid, IID_IFilterGraph2))
        *out = static_cast<IFilterGraph2 *>(this);
    else if (IsEqualIID(riid, IID_IMediaControl))
        *out = static_cast<IMediaControl *>(this);
    else if (IsEqualIID(riid, IID_IMediaSeeking))
        *out = static_cast<IMediaSeeking *>(this);
    else if (IsEqualIID(riid, IID_IMediaEvent) || IsEqualIID(riid, IID_IMediaEventEx))
        *out = static_cast<IMediaEventEx *>(this);
    else if (IsEqualIID(riid, IID_IMediaEventSink))
        *out = static_cast<IMediaEventSink *>(this);
    else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter))
        *out = static_cast<IMediaFilter *>(this);
    else if (IsEqualIID(riid, IID_IMediaPosition))
        *out = static_cast<IMediaPosition *>(this);
    else if (IsEqualIID(riid, IID_IBasicAudio))
        *out = static_cast<IBasicAudio *>(this);
    else if (IsEqualIID(riid, IID_IVideoWindow))
        *out = static_cast<IVideoWindow *>(this);
    else if (IsEqualIID(riid, IID_IBasicVideo) || IsEqualIID(riid, IID_IBasicVideo2))
        *out = static_cast<IBasicVideo2 *>(this);
    else if (IsEqualIID(riid, IID_IVideoFrameStep))
        *out = static_cast<IVideoFrameStep *>(this);
    else if (IsEqualIID(riid, IID_IGraphVersion))
        *out = static_cast<IGraphVersion *>(this);
    else if (IsEqualIID(riid, IID_IObjectWithSite))
        *out = static_cast<IObjectWithSite *>(this);
    else if (IsEqualIID(riid, IID_IGraphConfig))
        *out = static_cast<IGraphConfig *>(this);
    else if (IsEqualIID(riid, IID_IFilterChain))
        *out = static_cast<IFilterChain *>(this);
    else
        return E_NOINTERFACE;
    /* a reference through the interface, on the controlling unknown */
    static_cast<IUnknown *>(*out)->AddRef();
    return S_OK;
}

/* ---- Filters ---- */

int FilterGraph::FilterIndex(IBaseFilter *f)
{
    for (int i = 0; i < filter_count; i++)
        if (filters[i] == f) return i;
    return -1;
}

HRESULT STDMETHODCALLTYPE FilterGraph::AddFilter(IBaseFilter *filter, LPCWSTR name)
{
    WCHAR unique[MAX_FILTER_NAME];
    HRESULT hr = S_OK;
    bool taken;

    if (!filter) return E_POINTER;
    EnterCriticalSection(&cs);
    if (FilterIndex(filter) >= 0) hr = VFW_E_DUPLICATE_NAME;
    else if (filter_count >= MAX_FILTERS) hr = E_OUTOFMEMORY;
    if (FAILED(hr))
    {
        LeaveCriticalSection(&cs);
        return hr;
    }
    /* a name in use gets a number, as Windows does; no name gets one of numbers only */
    lstrcpynW(unique, name ? name : L"", MAX_FILTER_NAME - 6);
    for (int n = 0;; n++)
    {
        WCHAR candidate[MAX_FILTER_NAME];
        if (n > 9999)
        {
            LeaveCriticalSection(&cs);
            return VFW_E_DUPLICATE_NAME;
        }
        if (!n) lstrcpyW(candidate, unique);
        else if (*unique) wsprintfW(candidate, L"%s %04d", unique, n);
        else wsprintfW(candidate, L"%04d", n);
        taken = !*candidate;
        for (int i = 0; i < filter_count && !taken; i++)
            if (!lstrcmpW(names[i], candidate)) taken = true;
        if (!taken)
        {
            if (n && *unique) hr = VFW_S_DUPLICATE_NAME;
            lstrcpyW(unique, candidate);
            break;
        }
    }
    HRESULT joined = filter->JoinFilterGraph(static_cast<IFilterGraph *>(static_cast<IFilterGraph2 *>(this)), unique);
    if (FAILED(joined))
    {
        LeaveCriticalSection(&cs);
        return joined;
    }
    filter->AddRef();
    flags[filter_count] = 0;
    filters[filter_count] = filter;
    lstrcpyW(names[filter_count++], unique);
    InterlockedIncrement(&version);
    /* the graph's clock reaches every filter */
    if (clock) filter->SetSyncSource(clock);
    LeaveCriticalSection(&cs);

    GraphFilter *gf;
    if (SUCCEEDED(filter->QueryInterface(IID_IGraphFilter, (void **)&gf)))
    {
        if (gf->Window()) gf->Window()->SetEventSink(window_event, this);
        gf->Release();
    }
    return hr;
}

HRESULT FilterGraph::RemoveFilterLocked(IBaseFilter *filter, bool disconnect)
{
    int i = FilterIndex(filter);
    if (i < 0) return VFW_E_NOT_FOUND;
    if (state != State_Stopped && FilterConnected(filter)) return VFW_E_NOT_STOPPED;
    if (disconnect && FilterConnected(filter))
    {
        TeardownPipeline();
        disconnect_all(filter);
        dirty = true;
    }
    filter_count--;
    memmove(&filters[i], &filters[i + 1], (filter_count - i) * sizeof(filters[0]));
    memmove(&names[i], &names[i + 1], (filter_count - i) * sizeof(names[0]));
    memmove(&flags[i], &flags[i + 1], (filter_count - i) * sizeof(flags[0]));
    InterlockedIncrement(&version);

    GraphFilter *gf;
    if (SUCCEEDED(filter->QueryInterface(IID_IGraphFilter, (void **)&gf)))
    {
        if (gf->Window()) gf->Window()->SetEventSink(NULL, NULL);
        gf->Release();
    }
    filter->Stop();
    filter->SetSyncSource(NULL);
    filter->JoinFilterGraph(NULL, NULL);
    filter->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveFilter(IBaseFilter *filter)
{
    HRESULT hr;
    if (!filter) return E_POINTER;
    EnterCriticalSection(&cs);
    hr = RemoveFilterLocked(filter, true);
    LeaveCriticalSection(&cs);
    return hr;
}

/* most recently added first, as Windows enumerates */
HRESULT STDMETHODCALLTYPE FilterGraph::EnumFilters(IEnumFilters **out)
{
    IBaseFilter *list[MAX_FILTERS];
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count; i++) list[i] = filters[filter_count - 1 - i];
    *out = SnapshotEnum<IEnumFilters, IBaseFilter>::Create(IID_IEnumFilters, list, filter_count);
    LeaveCriticalSection(&cs);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter **out)
{
    if (!name || !out) return E_POINTER;
    *out = NULL;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count; i++)
        if (!lstrcmpW(names[i], name))
        {
            *out = filters[i];
            filters[i]->AddRef();
            break;
        }
    LeaveCriticalSection(&cs);
    return *out ? S_OK : VFW_E_NOT_FOUND;
}

/* the filter of a pin (a reference added), or NULL */
static IBaseFilter *pin_filter(IPin *pin)
{
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info))) return NULL;
    return info.pFilter;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt)
{
    PIN_DIRECTION dir;
    IBaseFilter *a, *b;
    HRESULT hr;
    if (!out || !in) return E_POINTER;
    a = pin_filter(out);
    b = pin_filter(in);
    EnterCriticalSection(&cs);
    if (!a || !b || FilterIndex(a) < 0 || FilterIndex(b) < 0)
        hr = VFW_E_NOT_IN_GRAPH;
    else if (a == b)
        hr = VFW_E_CIRCULAR_GRAPH;
    else if (FAILED(out->QueryDirection(&dir)) || dir != PINDIR_OUTPUT
             || FAILED(in->QueryDirection(&dir)) || dir != PINDIR_INPUT)
        hr = VFW_E_INVALID_DIRECTION;
    else if (state != State_Stopped)
        hr = VFW_E_NOT_STOPPED;
    else if (SUCCEEDED(hr = out->Connect(in, mt)))
        Changed();
    LeaveCriticalSection(&cs);
    if (a) a->Release();
    if (b) b->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Disconnect(IPin *pin)
{
    HRESULT hr;
    if (!pin) return E_POINTER;
    EnterCriticalSection(&cs);
    hr = state != State_Stopped ? VFW_E_NOT_STOPPED : pin->Disconnect();
    if (hr == S_OK)
    {
        TeardownPipeline();
        Changed();
    }
    LeaveCriticalSection(&cs);
    return hr;
}

/* ---- IGraphVersion, IObjectWithSite ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::QueryVersion(LONG *v)
{
    if (!v) return E_POINTER;
    *v = version;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetSite(IUnknown *new_site)
{
    EnterCriticalSection(&cs);
    if (new_site) new_site->AddRef();
    if (site) site->Release();
    site = new_site;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetSite(REFIID riid, void **out)
{
    HRESULT hr;
    if (!out) return E_POINTER;
    *out = NULL;
    EnterCriticalSection(&cs);
    hr = site ? site->QueryInterface(riid, out) : E_FAIL;
    LeaveCriticalSection(&cs);
    return hr;
}

/* ---- IGraphConfig: the filter cache, filter flags, removal ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::AddFilterToCache(IBaseFilter *filter)
{
    HRESULT hr = S_OK;
    if (!filter) return E_POINTER;
    /* only a filter with no connection goes into the cache */
    if (FilterConnected(filter)) return E_FAIL;
    EnterCriticalSection(&cs);
    for (int i = 0; i < cache_count; i++)
        if (cache[i] == filter) hr = S_FALSE;
    if (hr == S_OK && cache_count >= MAX_FILTERS) hr = E_FAIL;
    if (hr == S_OK)
    {
        filter->AddRef();
        if (FilterIndex(filter) >= 0) RemoveFilterLocked(filter, false);
        filter->Stop();
        cache[cache_count++] = filter;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::EnumCacheFilter(IEnumFilters **out)
{
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    *out = SnapshotEnum<IEnumFilters, IBaseFilter>::Create(IID_IEnumFilters, cache, cache_count);
    LeaveCriticalSection(&cs);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveFilterFromCache(IBaseFilter *filter)
{
    IBaseFilter *found = NULL;
    if (!filter) return E_POINTER;
    EnterCriticalSection(&cs);
    for (int i = 0; i < cache_count && !found; i++)
        if (cache[i] == filter)
        {
            found = cache[i];
            cache_count--;
            memmove(&cache[i], &cache[i + 1], (cache_count - i) * sizeof(cache[0]));
        }
    LeaveCriticalSection(&cs);
    if (!found) return S_FALSE;
    found->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetFilterFlags(IBaseFilter *filter, DWORD f)
{
    int i;
    if (!filter) return E_POINTER;
    if (f & ~AM_FILTER_FLAGS_REMOVABLE) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    if ((i = FilterIndex(filter)) >= 0) flags[i] = f;
    LeaveCriticalSection(&cs);
    return i >= 0 ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetFilterFlags(IBaseFilter *filter, DWORD *f)
{
    int i;
    if (!filter || !f) return E_POINTER;
    *f = 0;
    EnterCriticalSection(&cs);
    if ((i = FilterIndex(filter)) >= 0) *f = flags[i];
    LeaveCriticalSection(&cs);
    return i >= 0 ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveFilterEx(IBaseFilter *filter, DWORD f)
{
    HRESULT hr;
    if (!filter) return E_POINTER;
    if (f & ~REMFILTERF_LEAVECONNECTED) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    hr = RemoveFilterLocked(filter, !(f & REMFILTERF_LEAVECONNECTED));
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Reconfigure(IGraphConfigCallback *callback, PVOID context, DWORD f,
                                                   HANDLE abort_event)
{
    HRESULT hr;
    if (!callback) return E_POINTER;
    /* the graph is held while the callback changes it */
    EnterCriticalSection(&cs);
    hr = callback->Reconfigure(context, f);
    Changed();
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::PushThroughData(IPin *out, IPinConnection *connection, HANDLE abort_event)
{
    PIN_DIRECTION dir;
    IPin *peer;
    if (!out) return E_POINTER;
    if (FAILED(out->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (FAILED(out->ConnectedTo(&peer))) return VFW_E_NOT_CONNECTED;
    /* data is pushed through to a pin that tells when it has passed (IPinConnection) */
    IPinConnection *pc = connection;
    if (!pc && FAILED(peer->QueryInterface(IID_IPinConnection, (void **)&pc)))
    {
        peer->Release();
        return E_NOINTERFACE;
    }
    HANDLE done = CreateEventW(NULL, TRUE, FALSE, NULL);
    HRESULT hr = pc->NotifyEndOfStream(done);
    if (SUCCEEDED(hr))
    {
        peer->EndOfStream();
        HANDLE waits[2] = {done, abort_event};
        DWORD r = WaitForMultipleObjects(abort_event ? 2 : 1, waits, FALSE, STATE_WAIT_MS);
        hr = r == WAIT_OBJECT_0 ? S_OK : r == WAIT_OBJECT_0 + 1 ? VFW_E_STATE_CHANGED : VFW_E_TIMEOUT;
        pc->NotifyEndOfStream(NULL);
    }
    CloseHandle(done);
    if (!connection) pc->Release();
    peer->Release();
    return hr;
}

/* ---- IFilterChain: a run of filters downstream of one, each feeding exactly one ---- */

HRESULT FilterGraph::ChainFilters(IBaseFilter *start, IBaseFilter *end, IBaseFilter **list, int *count)
{
    IBaseFilter *f = start;
    *count = 0;
    if (!start) return E_POINTER;
    if (FilterIndex(start) < 0 || (end && FilterIndex(end) < 0)) return VFW_E_NOT_IN_GRAPH;
    while (f && *count < MAX_FILTERS)
    {
        list[(*count)++] = f;
        if (f == end) return S_OK;
        IEnumPins *pins;
        IPin *pin, *peer;
        IBaseFilter *next = NULL;
        int outputs = 0;
        if (FAILED(f->EnumPins(&pins))) break;
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            PIN_DIRECTION d;
            if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(&peer)))
            {
                IBaseFilter *down = pin_filter(peer);
                if (down)
                {
                    if (!outputs++) next = down;
                    down->Release();
                }
                peer->Release();
            }
            pin->Release();
        }
        pins->Release();
        f = outputs == 1 ? next : NULL;
    }
    /* an end that is not downstream of the start in one line */
    return end ? VFW_E_NOT_FOUND : S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::StartChain(IBaseFilter *start, IBaseFilter *end)
{
    IBaseFilter *list[MAX_FILTERS];
    int n;
    HRESULT hr;
    EnterCriticalSection(&cs);
    if (SUCCEEDED(hr = ChainFilters(start, end, list, &n)))
    {
        if (state != State_Running) hr = VFW_E_NOT_RUNNING;
        for (int i = n - 1; i >= 0 && SUCCEEDED(hr); i--) hr = list[i]->Run(start_time);
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::PauseChain(IBaseFilter *start, IBaseFilter *end)
{
    IBaseFilter *list[MAX_FILTERS];
    int n;
    HRESULT hr;
    EnterCriticalSection(&cs);
    if (SUCCEEDED(hr = ChainFilters(start, end, list, &n)))
    {
        if (state != State_Paused) hr = VFW_E_NOT_PAUSED;
        for (int i = n - 1; i >= 0 && SUCCEEDED(hr); i--) hr = list[i]->Pause();
        /* a chain that cannot pause is stopped whole */
        if (FAILED(hr) && hr != VFW_E_NOT_PAUSED)
            for (int i = 0; i < n; i++) list[i]->Stop();
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::StopChain(IBaseFilter *start, IBaseFilter *end)
{
    IBaseFilter *list[MAX_FILTERS];
    int n;
    HRESULT hr;
    EnterCriticalSection(&cs);
    if (SUCCEEDED(hr = ChainFilters(start, end, list, &n)))
        for (int i = 0; i < n; i++) list[i]->Stop();
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveChain(IBaseFilter *start, IBaseFilter *end)
{
    IBaseFilter *list[MAX_FILTERS];
    int n;
    HRESULT hr;
    EnterCriticalSection(&cs);
    if (SUCCEEDED(hr = ChainFilters(start, end, list, &n)))
    {
        if (state != State_Stopped) hr = VFW_E_NOT_STOPPED;
        for (int i = 0; i < n; i++) list[i]->AddRef();
        for (int i = 0; i < n && SUCCEEDED(hr); i++) hr = RemoveFilterLocked(list[i], true);
        for (int i = 0; i < n; i++) list[i]->Release();
    }
    LeaveCriticalSection(&cs);
    return hr;
}

/* aggregatable, as clients of the filter graph may aggregate it */
HRESULT CreateFilterGraph(IUnknown *outer, REFIID riid, void **out)
{
    FilterGraph *g;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(g = new (std::nothrow) FilterGraph(outer))) return E_OUTOFMEMORY;
    return g->HandOut(riid, out);
}

HRESULT STDMETHODCALLTYPE FilterGraph::WaitForCompletion(LONG timeout, LONG *code)
{
    EnterCriticalSection(&cs);
    bool running = state == State_Running;
    LeaveCriticalSection(&cs);
    return events.WaitForCompletion(running, timeout, code);
}
