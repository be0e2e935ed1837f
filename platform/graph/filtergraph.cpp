/*
 * The filter graph: the filters and their connections, compiled into one GStreamer pipeline when the
 * graph pauses or runs. Graph events are queued by a thread of its own that reads the pipeline's bus,
 * and posted to the notify window one message per event.
 */
#include "server/lifetime.h"
#include "filters/graphfilter.h"
#include "glue/pipeline.h"

#include <string.h>
#include <new>

#define MAX_FILTERS 64
#define MAX_EVENTS 256
#define STATE_WAIT_MS 5000
#define NS_PER_UNIT 100

struct GraphEvent
{
    LONG code;
    LONG_PTR param1, param2;
};

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

/* ---- The graph ---- */

class FilterGraph final : public IFilterGraph2, public IMediaControl, public IMediaSeeking, public IMediaEventEx,
                          public IVideoWindow, public IBasicVideo, public IVideoFrameStep
{
public:
    FilterGraph();
    ~FilterGraph();

    /* IUnknown */
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    /* IFilterGraph */
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *filter) override;
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **out) override;
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter **out) override;
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *pin) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *pin) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return S_OK; }
    /* IGraphBuilder */
    HRESULT STDMETHODCALLTYPE Connect(IPin *out, IPin *in) override;
    HRESULT STDMETHODCALLTYPE Render(IPin *out) override;
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playlist) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter **out) override;
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR file) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return S_OK; }
    /* IFilterGraph2 */
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *m, IBindCtx *ctx, LPCWSTR name,
                                                        IBaseFilter **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *pin, const AM_MEDIA_TYPE *mt) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderEx(IPin *pin, DWORD flags, DWORD *context) override { return Render(pin); }

    /* IDispatch, shared by the automation interfaces */
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *excep, UINT *arg) override { return E_NOTIMPL; }

    /* IMediaControl */
    HRESULT STDMETHODCALLTYPE Run() override { return ChangeState(State_Running); }
    HRESULT STDMETHODCALLTYPE Pause() override { return ChangeState(State_Paused); }
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetState(LONG timeout, OAFilterState *state) override;
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR file) override { return RenderFile(file, NULL); }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR file, IDispatch **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override;

    /* IMediaSeeking */
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *caps) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *caps) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *target, const GUID *target_format, LONGLONG source,
                                                const GUID *source_format) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *current, DWORD current_flags, LONGLONG *stop,
                                           DWORD stop_flags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *current, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override { return rate == 1.0 ? S_OK : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override
    {
        if (!rate) return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override
    {
        if (!preroll) return E_POINTER;
        *preroll = 0;
        return S_OK;
    }

    /* IMediaEvent(Ex) */
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *handle) override;
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout) override;
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG timeout, LONG *code) override;
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG code) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG code) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param) override;
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override;
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG *flags) override;

    /* IVideoWindow */
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR caption) override;
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR *caption) override;
    HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG style) override;
    HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG *style) override;
    HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG style) override;
    HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG *style) override;
    HRESULT STDMETHODCALLTYPE put_AutoShow(LONG show) override;
    HRESULT STDMETHODCALLTYPE get_AutoShow(LONG *show) override;
    HRESULT STDMETHODCALLTYPE put_WindowState(LONG state) override;
    HRESULT STDMETHODCALLTYPE get_WindowState(LONG *state) override;
    HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG palette) override;
    HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG *palette) override;
    HRESULT STDMETHODCALLTYPE put_Visible(LONG visible) override;
    HRESULT STDMETHODCALLTYPE get_Visible(LONG *visible) override;
    HRESULT STDMETHODCALLTYPE put_Left(LONG v) override { return MoveEdge(0, v); }
    HRESULT STDMETHODCALLTYPE get_Left(LONG *v) override { return GetEdge(0, v); }
    HRESULT STDMETHODCALLTYPE put_Width(LONG v) override { return MoveEdge(2, v); }
    HRESULT STDMETHODCALLTYPE get_Width(LONG *v) override { return GetEdge(2, v); }
    HRESULT STDMETHODCALLTYPE put_Top(LONG v) override { return MoveEdge(1, v); }
    HRESULT STDMETHODCALLTYPE get_Top(LONG *v) override { return GetEdge(1, v); }
    HRESULT STDMETHODCALLTYPE put_Height(LONG v) override { return MoveEdge(3, v); }
    HRESULT STDMETHODCALLTYPE get_Height(LONG *v) override { return GetEdge(3, v); }
    HRESULT STDMETHODCALLTYPE put_Owner(OAHWND owner) override;
    HRESULT STDMETHODCALLTYPE get_Owner(OAHWND *owner) override;
    HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND drain) override;
    HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND *drain) override;
    HRESULT STDMETHODCALLTYPE get_BorderColor(LONG *color) override;
    HRESULT STDMETHODCALLTYPE put_BorderColor(LONG color) override;
    HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG *mode) override;
    HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG focus) override;
    HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wp, LONG_PTR lp) override;
    HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG *left, LONG *top, LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG *left, LONG *top, LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE HideCursor(LONG hide) override;
    HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG *hidden) override;

    /* IBasicVideo: the source size; the picture always fills the window */
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME *t) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG *v) override;
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG *v) override;
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG *v) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG l, LONG t, LONG w, LONG h) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG *l, LONG *t, LONG *w, LONG *h) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG l, LONG t, LONG w, LONG h) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG *l, LONG *t, LONG *w, LONG *h) override;
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG start, LONG count, LONG *ret, LONG *entries) override
    {
        return NoVideo();
    }
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG *size, LONG *image) override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override { return NoVideo(); }
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override { return NoVideo(); }

    /* IVideoFrameStep */
    HRESULT STDMETHODCALLTYPE Step(DWORD frames, IUnknown *filter) override;
    HRESULT STDMETHODCALLTYPE CanStep(LONG multiple, IUnknown *filter) override;
    HRESULT STDMETHODCALLTYPE CancelStep() override { return S_OK; }

    /* events from the bus thread and the video window */
    void QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
    void BusLoop();

private:
    HRESULT ChangeState(FILTER_STATE target);
    HRESULT BuildPipeline();
    void TeardownPipeline();
    void SetFilterStates(FILTER_STATE s);
    HRESULT CheckWriters();
    int FilterIndex(IBaseFilter *f);
    bool FilterConnected(IBaseFilter *f);
    LONGLONG Length();
    GraphFilter *VideoRenderer(HRESULT *hr);
    HWND VideoHwnd(HRESULT *hr);
    HRESULT NoVideo();
    HRESULT MoveEdge(int edge, LONG v);
    HRESULT GetEdge(int edge, LONG *v);
    void ApplySeek();

    LONG ref;
    CRITICAL_SECTION cs;
    IBaseFilter *filters[MAX_FILTERS];
    WCHAR names[MAX_FILTERS][MAX_FILTER_NAME];
    int filter_count;
    FILTER_STATE state;
    bool dirty;

    /* the pipeline and what belongs to it */
    struct pipeline *pl;
    int renderer_node;          /* of the video renderer that steps */
    GraphFilter *renderer;      /* its filter, while the pipeline lives */
    bool keeps_files;           /* writes files or captures: torn down on Stop */
    bool seek_pending;
    HANDLE bus_thread;
    volatile LONG bus_quit;
    volatile LONG error_sent;
    HANDLE step_done;

    LONGLONG current;           /* position while no pipeline tells it, 100 ns */
    LONGLONG stop_at;           /* -1: the end */

    /* events */
    CRITICAL_SECTION ev_cs;
    GraphEvent events[MAX_EVENTS];
    int event_count;
    HANDLE event_ready;         /* set while events wait */
    HANDLE completed;           /* set when the run ended */
    LONG completion_code;
    HWND notify_hwnd;
    UINT notify_msg;
    LONG_PTR notify_param;
    LONG notify_flags;
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
HRESULT STDMETHODCALLTYPE FilterGraph::Connect(IPin *out, IPin *in)
{
    HRESULT hr = ConnectDirect(out, in, NULL);
    return hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_NO_ACCEPTABLE_TYPES ? VFW_E_CANNOT_CONNECT : hr;
}

static GUID pin_major(IPin *pin)
{
    IEnumMediaTypes *types;
    AM_MEDIA_TYPE *mt;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)))
    {
        if (types->Next(1, &mt, NULL) == S_OK)
        {
            major = mt->majortype;
            FreeMediaType(mt);
            CoTaskMemFree(mt);
        }
        types->Release();
    }
    return major;
}

/* a stream to the default renderer of its type */
HRESULT STDMETHODCALLTYPE FilterGraph::Render(IPin *out)
{
    PIN_DIRECTION dir;
    IPin *peer;
    GraphFilter *r;
    HRESULT hr;
    GUID major;

    if (!out) return E_POINTER;
    if (FAILED(out->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (SUCCEEDED(out->ConnectedTo(&peer)))
    {
        peer->Release();
        return VFW_E_ALREADY_CONNECTED;
    }
    major = pin_major(out);
    if (IsEqualGUID(major, MEDIATYPE_Video))
        hr = GraphFilter::Create(GF_VIDEO_RENDERER, &r);
    else if (IsEqualGUID(major, MEDIATYPE_Audio))
        hr = GraphFilter::Create(GF_AUDIO_RENDERER, &r);
    else
        return VFW_E_CANNOT_RENDER;
    if (FAILED(hr)) return hr;
    hr = AddFilter(r, r->Type() == GF_VIDEO_RENDERER ? L"Video Renderer" : L"Audio Renderer");
    if (SUCCEEDED(hr) && FAILED(hr = ConnectDirect(out, r->Pin(0), NULL)))
        RemoveFilter(r);
    if (SUCCEEDED(hr) && r->Window())
    {
        /* the picture size, as far as the stream tells it before it runs */
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
        if (SUCCEEDED(out->ConnectionMediaType(&mt)))
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
    r->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
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

/* full playback: every stream to its default renderer */
HRESULT STDMETHODCALLTYPE FilterGraph::RenderFile(LPCWSTR file, LPCWSTR playlist)
{
    IBaseFilter *src;
    IEnumPins *pins;
    IPin *pin;
    HRESULT hr;
    int rendered = 0, failed = 0;

    if (!file) return E_POINTER;
    if (FAILED(hr = AddSourceFilter(file, file, &src))) return hr;
    if (SUCCEEDED(src->EnumPins(&pins)))
    {
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            if (SUCCEEDED(Render(pin))) rendered++;
            else failed++;
            pin->Release();
        }
        pins->Release();
    }
    if (!rendered) RemoveFilter(src);
    src->Release();
    if (!rendered) return VFW_E_CANNOT_RENDER;
    return failed ? VFW_S_PARTIAL_RENDER : S_OK;
}

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

/* ---- Seeking: media time in 100 ns units ---- */

LONGLONG FilterGraph::Length()
{
    LONGLONG length = 0;
    for (int i = 0; i < filter_count; i++)
    {
        GraphFilter *gf;
        IMediaSeeking *ms;
        LONGLONG d = 0;
        if (SUCCEEDED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf)))
        {
            if (gf->Type() == GF_SOURCE) d = gf->Length();
            gf->Release();
        }
        else if (SUCCEEDED(filters[i]->QueryInterface(IID_IMediaSeeking, (void **)&ms)))
        {
            if (FAILED(ms->GetDuration(&d))) d = 0;
            ms->Release();
        }
        if (d > length) length = d;
    }
    if (!length && pl)
    {
        long long ns = pl_duration(pl);
        if (ns > 0) length = ns / NS_PER_UNIT;
    }
    return length;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetCapabilities(DWORD *caps)
{
    if (!caps) return E_POINTER;
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards
          | AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CheckCapabilities(DWORD *caps)
{
    DWORD have;
    if (!caps) return E_POINTER;
    GetCapabilities(&have);
    if (!*caps) return E_FAIL;
    DWORD asked = *caps;
    *caps &= have;
    return *caps == asked ? S_OK : *caps ? S_FALSE : E_FAIL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::IsFormatSupported(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE FilterGraph::QueryPreferredFormat(GUID *format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetTimeFormat(GUID *format) { return QueryPreferredFormat(format); }

HRESULT STDMETHODCALLTYPE FilterGraph::IsUsingTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetDuration(LONGLONG *duration)
{
    if (!duration) return E_POINTER;
    EnterCriticalSection(&cs);
    *duration = Length();
    LeaveCriticalSection(&cs);
    return *duration > 0 ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetStopPosition(LONGLONG *stop)
{
    if (!stop) return E_POINTER;
    EnterCriticalSection(&cs);
    *stop = stop_at >= 0 ? stop_at : Length();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetCurrentPosition(LONGLONG *pos)
{
    if (!pos) return E_POINTER;
    EnterCriticalSection(&cs);
    *pos = current;
    if (pl && !seek_pending)
    {
        long long ns = pl_position(pl);
        if (ns >= 0) *pos = ns / NS_PER_UNIT;
    }
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ConvertTimeFormat(LONGLONG *target, const GUID *target_format,
                                                         LONGLONG source, const GUID *source_format)
{
    if (!target) return E_POINTER;
    if ((target_format && !IsEqualGUID(*target_format, TIME_FORMAT_MEDIA_TIME))
            || (source_format && !IsEqualGUID(*source_format, TIME_FORMAT_MEDIA_TIME)))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetPositions(LONGLONG *cur, DWORD cur_flags, LONGLONG *stop, DWORD stop_flags)
{
    DWORD cur_how = cur_flags & AM_SEEKING_PositioningBitsMask, stop_how = stop_flags & AM_SEEKING_PositioningBitsMask;
    LONGLONG now;

    if ((cur_how != AM_SEEKING_NoPositioning && !cur) || (stop_how != AM_SEEKING_NoPositioning && !stop))
        return E_POINTER;
    if (cur_how == AM_SEEKING_NoPositioning && stop_how == AM_SEEKING_NoPositioning) return S_OK;
    GetCurrentPosition(&now);
    EnterCriticalSection(&cs);
    current = now;
    if (cur_how == AM_SEEKING_AbsolutePositioning) current = *cur;
    else if (cur_how == AM_SEEKING_RelativePositioning) current = now + *cur;
    if (current < 0) current = 0;
    if (stop_how == AM_SEEKING_AbsolutePositioning) stop_at = *stop;
    else if (stop_how == AM_SEEKING_RelativePositioning) stop_at = (stop_at >= 0 ? stop_at : Length()) + *stop;
    if (stop_at < -1) stop_at = 0;
    if (pl && !seek_pending)
        ApplySeek();
    else
        seek_pending = true;
    if ((cur_flags & AM_SEEKING_ReturnTime) && cur) *cur = current;
    if ((stop_flags & AM_SEEKING_ReturnTime) && stop) *stop = stop_at >= 0 ? stop_at : Length();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetPositions(LONGLONG *cur, LONGLONG *stop)
{
    if (cur) GetCurrentPosition(cur);
    if (stop) GetStopPosition(stop);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetAvailable(LONGLONG *earliest, LONGLONG *latest)
{
    if (earliest) *earliest = 0;
    if (latest)
    {
        EnterCriticalSection(&cs);
        *latest = Length();
        LeaveCriticalSection(&cs);
    }
    return S_OK;
}

/* ---- Events ---- */

void FilterGraph::QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&ev_cs);
    if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)
    {
        completion_code = code;
        SetEvent(completed);
    }
    if (event_count < MAX_EVENTS)
    {
        events[event_count].code = code;
        events[event_count].param1 = param1;
        events[event_count].param2 = param2;
        event_count++;
        SetEvent(event_ready);
        if (notify_hwnd && !(notify_flags & AM_MEDIAEVENT_NONOTIFY))
            PostMessageW(notify_hwnd, notify_msg, 0, notify_param);
    }
    LeaveCriticalSection(&ev_cs);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetEventHandle(OAEVENT *handle)
{
    if (!handle) return E_POINTER;
    *handle = (OAEVENT)event_ready;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout)
{
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = *param2 = 0;
    for (;;)
    {
        EnterCriticalSection(&ev_cs);
        if (event_count)
        {
            *code = events[0].code;
            *param1 = events[0].param1;
            *param2 = events[0].param2;
            memmove(&events[0], &events[1], (--event_count) * sizeof(events[0]));
            if (!event_count) ResetEvent(event_ready);
            LeaveCriticalSection(&ev_cs);
            return S_OK;
        }
        LeaveCriticalSection(&ev_cs);
        if (!timeout || WaitForSingleObject(event_ready, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0)
            return E_ABORT;
        timeout = 0;   /* taken by another caller: one more look only */
    }
}

HRESULT STDMETHODCALLTYPE FilterGraph::WaitForCompletion(LONG timeout, LONG *code)
{
    if (!code) return E_POINTER;
    *code = 0;
    EnterCriticalSection(&cs);
    bool running = state == State_Running;
    LeaveCriticalSection(&cs);
    if (!running && WaitForSingleObject(completed, 0) != WAIT_OBJECT_0) return VFW_E_WRONG_STATE;
    if (WaitForSingleObject(completed, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0) return E_ABORT;
    EnterCriticalSection(&ev_cs);
    *code = completion_code;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param)
{
    if (hwnd && !IsWindow((HWND)hwnd)) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    notify_hwnd = (HWND)hwnd;
    notify_msg = msg;
    notify_param = param;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetNotifyFlags(LONG flags)
{
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    notify_flags = flags;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetNotifyFlags(LONG *flags)
{
    if (!flags) return E_POINTER;
    *flags = notify_flags;
    return S_OK;
}

/* ---- Video window: the connected video renderer's ---- */

GraphFilter *FilterGraph::VideoRenderer(HRESULT *hr)
{
    GraphFilter *found = NULL;
    bool unconnected = false;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count && !found; i++)
    {
        GraphFilter *gf;
        if (FAILED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf))) continue;
        if (gf->Type() == GF_VIDEO_RENDERER && gf->Window())
        {
            if (gf->Pin(0)->Connected())
            {
                found = gf;
                continue;
            }
            unconnected = true;
        }
        gf->Release();
    }
    LeaveCriticalSection(&cs);
    /* no renderer: no interface, as the graph on Windows answers */
    *hr = found ? S_OK : unconnected ? VFW_E_NOT_CONNECTED : E_NOINTERFACE;
    return found;
}

HWND FilterGraph::VideoHwnd(HRESULT *hr)
{
    GraphFilter *r = VideoRenderer(hr);
    HWND hwnd = r ? r->Window()->Hwnd() : NULL;
    if (r) r->Release();
    return hwnd;
}

HRESULT FilterGraph::NoVideo()
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (r) r->Release();
    return r ? E_NOTIMPL : hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Caption(BSTR caption)
{
    HRESULT hr;
    HWND w = VideoHwnd(&hr);
    if (!w) return hr;
    SetWindowTextW(w, caption ? caption : L"");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Caption(BSTR *caption)
{
    WCHAR text[256];
    HRESULT hr;
    HWND w;
    if (!caption) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    GetWindowTextW(w, text, ARRAYSIZE(text));
    *caption = SysAllocString(text);
    return *caption ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowStyle(LONG style)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (style & (WS_DISABLED | WS_HSCROLL | WS_VSCROLL | WS_MAXIMIZE | WS_MINIMIZE)) return E_INVALIDARG;
    style = (style & ~WS_VISIBLE) | (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE);
    SetWindowLongW(w, GWL_STYLE, style);
    SetWindowPos(w, NULL, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowStyle(LONG *style)
{
    HRESULT hr;
    HWND w;
    if (!style) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *style = GetWindowLongW(w, GWL_STYLE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowStyleEx(LONG style)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    SetWindowLongW(w, GWL_EXSTYLE, style);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowStyleEx(LONG *style)
{
    HRESULT hr;
    HWND w;
    if (!style) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *style = GetWindowLongW(w, GWL_EXSTYLE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_AutoShow(LONG show)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    r->Window()->auto_show = show != OAFALSE;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_AutoShow(LONG *show)
{
    HRESULT hr;
    GraphFilter *r;
    if (!show) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *show = r->Window()->auto_show ? OATRUE : OAFALSE;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowState(LONG show)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    ShowWindow(w, show);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowState(LONG *show)
{
    HRESULT hr;
    HWND w;
    if (!show) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *show = !IsWindowVisible(w) ? SW_HIDE : IsIconic(w) ? SW_MINIMIZE : IsZoomed(w) ? SW_MAXIMIZE : SW_SHOW;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_BackgroundPalette(LONG palette) { return NoVideo() == E_NOTIMPL ? S_OK : NoVideo(); }

HRESULT STDMETHODCALLTYPE FilterGraph::get_BackgroundPalette(LONG *palette)
{
    HRESULT hr = NoVideo();
    if (!palette) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *palette = OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Visible(LONG visible)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    HWND w = r->Window()->Hwnd();
    ShowWindow(w, visible != OAFALSE ? (r->Window()->owner ? SW_SHOWNA : SW_SHOW) : SW_HIDE);
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Visible(LONG *visible)
{
    HRESULT hr;
    HWND w;
    if (!visible) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *visible = IsWindowVisible(w) ? OATRUE : OAFALSE;
    return S_OK;
}

/* edges: 0 left, 1 top, 2 width, 3 height, in the parent's client coordinates */
HRESULT FilterGraph::GetEdge(int edge, LONG *v)
{
    LONG pos[4];
    HRESULT hr;
    if (!v) return E_POINTER;
    if (FAILED(hr = GetWindowPosition(&pos[0], &pos[1], &pos[2], &pos[3]))) return hr;
    *v = pos[edge];
    return S_OK;
}

HRESULT FilterGraph::MoveEdge(int edge, LONG v)
{
    LONG pos[4];
    HRESULT hr;
    if (FAILED(hr = GetWindowPosition(&pos[0], &pos[1], &pos[2], &pos[3]))) return hr;
    pos[edge] = v;
    return SetWindowPosition(pos[0], pos[1], pos[2], pos[3]);
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Owner(OAHWND owner)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    VideoWindow *vw = r->Window();
    HWND w = vw->Hwnd();
    if (owner && !IsWindow((HWND)owner))
    {
        r->Release();
        return E_INVALIDARG;
    }
    LONG style = GetWindowLongW(w, GWL_STYLE);
    vw->owner = (HWND)owner;
    if (owner)
    {
        /* a child of the owner */
        SetWindowLongW(w, GWL_STYLE, (style & ~(WS_POPUP | WS_OVERLAPPEDWINDOW)) | WS_CHILD);
        SetParent(w, (HWND)owner);
    }
    else
    {
        SetParent(w, NULL);
        SetWindowLongW(w, GWL_STYLE, (style & ~WS_CHILD) | WS_OVERLAPPEDWINDOW);
    }
    SetWindowPos(w, NULL, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Owner(OAHWND *owner)
{
    HRESULT hr;
    GraphFilter *r;
    if (!owner) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *owner = (OAHWND)r->Window()->owner;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_MessageDrain(OAHWND drain)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    r->Window()->drain = (HWND)drain;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_MessageDrain(OAHWND *drain)
{
    HRESULT hr;
    GraphFilter *r;
    if (!drain) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *drain = (OAHWND)r->Window()->drain;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_BorderColor(LONG *color)
{
    HRESULT hr = NoVideo();
    if (!color) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *color = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_BorderColor(LONG color) { HRESULT hr = NoVideo(); return hr == E_NOTIMPL ? S_OK : hr; }

HRESULT STDMETHODCALLTYPE FilterGraph::get_FullScreenMode(LONG *mode)
{
    HRESULT hr = NoVideo();
    if (!mode) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *mode = OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_FullScreenMode(LONG mode) { return NoVideo(); }

HRESULT STDMETHODCALLTYPE FilterGraph::SetWindowForeground(LONG focus)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | (focus ? 0 : SWP_NOACTIVATE));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wp, LONG_PTR lp)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (msg == WM_PALETTECHANGED || msg == WM_SYSCOLORCHANGE || msg == WM_DISPLAYCHANGE)
        PostMessageW(w, msg, wp, lp);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetWindowPosition(LONG left, LONG top, LONG width, LONG height)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (width < 0 || height < 0) return E_INVALIDARG;
    SetWindowPos(w, NULL, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetWindowPosition(LONG *left, LONG *top, LONG *width, LONG *height)
{
    HRESULT hr;
    HWND w;
    RECT rc;
    if (!left || !top || !width || !height) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    GetWindowRect(w, &rc);
    HWND parent = GetParent(w);
    if (parent && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) MapWindowPoints(NULL, parent, (POINT *)&rc, 2);
    *left = rc.left;
    *top = rc.top;
    *width = rc.right - rc.left;
    *height = rc.bottom - rc.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetMinIdealImageSize(LONG *width, LONG *height) { return GetVideoSize(width, height); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetMaxIdealImageSize(LONG *width, LONG *height) { return GetVideoSize(width, height); }

HRESULT STDMETHODCALLTYPE FilterGraph::GetRestorePosition(LONG *left, LONG *top, LONG *width, LONG *height)
{
    return GetWindowPosition(left, top, width, height);
}

HRESULT STDMETHODCALLTYPE FilterGraph::HideCursor(LONG hide) { HRESULT hr = NoVideo(); return hr == E_NOTIMPL ? S_OK : hr; }

HRESULT STDMETHODCALLTYPE FilterGraph::IsCursorHidden(LONG *hidden)
{
    HRESULT hr = NoVideo();
    if (!hidden) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *hidden = OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetVideoSize(LONG *width, LONG *height)
{
    HRESULT hr;
    GraphFilter *r;
    if (!width || !height) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    r->Window()->GetSourceSize(width, height);
    r->Release();
    return *width > 0 ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_VideoWidth(LONG *v)
{
    LONG h;
    return GetVideoSize(v, &h);
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_VideoHeight(LONG *v)
{
    LONG w;
    return GetVideoSize(&w, v);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetSourcePosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    if (!l || !t) return E_POINTER;
    *l = *t = 0;
    return GetVideoSize(w, h);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetDestinationPosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    HRESULT hr;
    HWND wnd;
    RECT rc;
    if (!l || !t || !w || !h) return E_POINTER;
    if (!(wnd = VideoHwnd(&hr))) return hr;
    GetClientRect(wnd, &rc);
    *l = *t = 0;
    *w = rc.right;
    *h = rc.bottom;
    return S_OK;
}

/* ---- Frame step ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::CanStep(LONG multiple, IUnknown *filter)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return S_FALSE;
    r->Release();
    return S_OK;
}

/* in pause: the picture and the position move on by the frames asked */
HRESULT STDMETHODCALLTYPE FilterGraph::Step(DWORD frames, IUnknown *filter)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return VFW_E_NOT_CONNECTED;
    r->Release();
    if (!frames) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    bool ready = pl && !dirty && state != State_Running;
    LeaveCriticalSection(&cs);
    if (!ready && FAILED(hr = Pause())) return hr;
    EnterCriticalSection(&cs);
    int st;
    pl_get_state(pl, STATE_WAIT_MS, &st);
    ResetEvent(step_done);
    hr = pl_step(pl, renderer_node, (int)frames) == PL_OK ? S_OK : E_FAIL;
    LeaveCriticalSection(&cs);
    /* the new frame is there when the call returns, so the position already tells it */
    if (SUCCEEDED(hr)) WaitForSingleObject(step_done, STATE_WAIT_MS);
    if (SUCCEEDED(hr))
    {
        EnterCriticalSection(&cs);
        pl_get_state(pl, STATE_WAIT_MS, &st);
        if (state == State_Running) hr = S_OK;
        state = state == State_Stopped ? State_Stopped : State_Paused;
        LeaveCriticalSection(&cs);
    }
    return hr;
}

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
