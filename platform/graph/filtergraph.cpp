/*
 * The filter graph's filters and their connections: adding, removing, naming and enumerating filters,
 * direct connections, and the graph object itself. Graph events are queued by a thread of its own that
 * reads the pipeline's bus, and posted to the notify window one message per event.
 */
#include "server/lifetime.h"
#include "graph/filtergraph.h"

#include <string.h>
#include <new>

/* ---- IEnumFilters over a snapshot ---- */

class FilterEnum final : public IEnumFilters
{
public:
    FilterEnum(IBaseFilter **list, ULONG n, ULONG p) : ref(1), count(0), pos(p)
    {
        for (ULONG i = 0; i < n && i < MAX_FILTERS; i++)
        {
            filters[count] = list[i];
            filters[count++]->AddRef();
        }
        PlatformObjectCreated();
    }
    ~FilterEnum()
    {
        for (ULONG i = 0; i < count; i++) filters[i]->Release();
        PlatformObjectDestroyed();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumFilters))
        {
            *out = static_cast<IEnumFilters *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG n, IBaseFilter **out, ULONG *fetched) override
    {
        ULONG got = 0;
        if (!out) return E_POINTER;
        if (n > 1 && !fetched) return E_INVALIDARG;
        while (got < n && pos < count)
        {
            out[got] = filters[pos++];
            out[got++]->AddRef();
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override
    {
        if (n > count - pos)
        {
            pos = count;
            return S_FALSE;
        }
        pos += n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumFilters **out) override
    {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) FilterEnum(filters, count, pos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG ref;
    IBaseFilter *filters[MAX_FILTERS];
    ULONG count, pos;
};

static void window_event(void *context, LONG code, LONG_PTR p1, LONG_PTR p2)
{
    ((FilterGraph *)context)->QueueEvent(code, p1, p2);
}

FilterGraph::FilterGraph()
    : ref(1), filter_count(0), state(State_Stopped), dirty(false), pl(NULL), renderer_node(-1), renderer(NULL),
      keeps_files(false), seek_pending(false), bus_thread(NULL), bus_quit(0), error_sent(0), current(0),
      stop_at(-1), event_count(0), completion_code(0), notify_hwnd(NULL), notify_msg(0), notify_param(0),
      notify_flags(0)
{
    InitializeCriticalSection(&cs);
    InitializeCriticalSection(&ev_cs);
    event_ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    completed = CreateEventW(NULL, TRUE, FALSE, NULL);
    step_done = CreateEventW(NULL, TRUE, FALSE, NULL);
    PlatformObjectCreated();
}

static void disconnect_all(IBaseFilter *filter);

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
    CloseHandle(event_ready);
    CloseHandle(completed);
    CloseHandle(step_done);
    DeleteCriticalSection(&ev_cs);
    DeleteCriticalSection(&cs);
    PlatformObjectDestroyed();
}

HRESULT STDMETHODCALLTYPE FilterGraph::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterGraph) || IsEqualIID(riid, IID_IGraphBuilder)
            || IsEqualIID(riid, IID_IFilterGraph2))
        *out = static_cast<IFilterGraph2 *>(this);
    else if (IsEqualIID(riid, IID_IMediaControl))
        *out = static_cast<IMediaControl *>(this);
    else if (IsEqualIID(riid, IID_IMediaSeeking))
        *out = static_cast<IMediaSeeking *>(this);
    else if (IsEqualIID(riid, IID_IMediaEvent) || IsEqualIID(riid, IID_IMediaEventEx))
        *out = static_cast<IMediaEventEx *>(this);
    else if (IsEqualIID(riid, IID_IVideoWindow))
        *out = static_cast<IVideoWindow *>(this);
    else if (IsEqualIID(riid, IID_IBasicVideo))
        *out = static_cast<IBasicVideo *>(this);
    else if (IsEqualIID(riid, IID_IVideoFrameStep))
        *out = static_cast<IVideoFrameStep *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
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
    if (state != State_Stopped) hr = VFW_E_NOT_STOPPED;
    else if (FilterIndex(filter) >= 0) hr = VFW_E_DUPLICATE_NAME;
    else if (filter_count >= MAX_FILTERS) hr = E_OUTOFMEMORY;
    if (FAILED(hr))
    {
        LeaveCriticalSection(&cs);
        return hr;
    }
    /* a name in use gets a number, as Windows does */
    lstrcpynW(unique, name ? name : L"", MAX_FILTER_NAME - 6);
    for (int n = 0;; n++)
    {
        WCHAR candidate[MAX_FILTER_NAME];
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
    if (FAILED(filter->JoinFilterGraph(static_cast<IFilterGraph *>(static_cast<IFilterGraph2 *>(this)), unique)))
    {
        LeaveCriticalSection(&cs);
        return E_FAIL;
    }
    filter->AddRef();
    filters[filter_count] = filter;
    lstrcpyW(names[filter_count++], unique);
    dirty = true;
    LeaveCriticalSection(&cs);

    GraphFilter *gf;
    if (SUCCEEDED(filter->QueryInterface(IID_IGraphFilter, (void **)&gf)))
    {
        if (gf->Window()) gf->Window()->SetEventSink(window_event, this);
        gf->Release();
    }
    return hr;
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

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveFilter(IBaseFilter *filter)
{
    int i;
    if (!filter) return E_POINTER;
    EnterCriticalSection(&cs);
    if ((i = FilterIndex(filter)) < 0)
    {
        LeaveCriticalSection(&cs);
        return VFW_E_NOT_FOUND;
    }
    if (state != State_Stopped)
    {
        LeaveCriticalSection(&cs);
        return VFW_E_NOT_STOPPED;
    }
    TeardownPipeline();
    disconnect_all(filter);
    filter_count--;
    memmove(&filters[i], &filters[i + 1], (filter_count - i) * sizeof(filters[0]));
    memmove(&names[i], &names[i + 1], (filter_count - i) * sizeof(names[0]));
    dirty = true;
    LeaveCriticalSection(&cs);

    GraphFilter *gf;
    if (SUCCEEDED(filter->QueryInterface(IID_IGraphFilter, (void **)&gf)))
    {
        if (gf->Window()) gf->Window()->SetEventSink(NULL, NULL);
        gf->Release();
    }
    filter->JoinFilterGraph(NULL, NULL);
    filter->Release();
    return S_OK;
}

/* most recently added first, as Windows enumerates */
HRESULT STDMETHODCALLTYPE FilterGraph::EnumFilters(IEnumFilters **out)
{
    IBaseFilter *list[MAX_FILTERS];
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count; i++) list[i] = filters[filter_count - 1 - i];
    *out = new (std::nothrow) FilterEnum(list, filter_count, 0);
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

HRESULT STDMETHODCALLTYPE FilterGraph::ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt)
{
    PIN_DIRECTION dir;
    HRESULT hr;
    if (!out || !in) return E_POINTER;
    if (FAILED(out->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    EnterCriticalSection(&cs);
    if (state != State_Stopped)
        hr = VFW_E_NOT_STOPPED;
    else if (SUCCEEDED(hr = out->Connect(in, mt)))
        dirty = true;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Disconnect(IPin *pin)
{
    HRESULT hr;
    if (!pin) return E_POINTER;
    EnterCriticalSection(&cs);
    hr = state != State_Stopped ? VFW_E_NOT_STOPPED : pin->Disconnect();
    if (SUCCEEDED(hr)) dirty = true;
    LeaveCriticalSection(&cs);
    return hr;
}

/* no converters are looked for: pins connect as they are or not at all */
HRESULT CreateFilterGraph(REFIID riid, void **out)
{
    FilterGraph *g;
    HRESULT hr;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(g = new (std::nothrow) FilterGraph())) return E_OUTOFMEMORY;
    hr = g->QueryInterface(riid, out);
    g->Release();
    return hr;
}
