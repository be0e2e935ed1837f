/*
 * The filter graph (filtergraph.cpp): the filters and their connections, compiled into one GStreamer
 * pipeline when the graph pauses or runs. Its interfaces are built in one file per concern: the filters
 * and their connections (filtergraph.cpp), intelligent connect (connect.cpp), the pipeline and the
 * running state (running.cpp), seeking (seeking.cpp), events (events.cpp), and the video window and
 * frame step of its renderer (video.cpp).
 */
#ifndef MEDIAPLATFORM_FILTERGRAPH_H
#define MEDIAPLATFORM_FILTERGRAPH_H

#include "filters/graphfilter.h"
#include "graph/events.h"
#include "server/aggregate.h"

#define MAX_FILTERS 64
#define STATE_WAIT_MS 5000
#define NS_PER_UNIT 100


/* A sample bridge between the pipeline and a client's filter (running.cpp). */
struct ClientLink;

class FilterGraph final : public IFilterGraph2, public IMediaControl, public IMediaSeeking, public IMediaEventEx,
                          public IMediaEventSink, public IMediaFilter, public IMediaPosition, public IBasicAudio,
                          public IVideoWindow, public IBasicVideo2, public IVideoFrameStep, public IGraphVersion,
                          public IObjectWithSite, public IGraphConfig, public IFilterChain, public Aggregatable
{
public:
    /* outer: the aggregating object, or NULL */
    explicit FilterGraph(IUnknown *outer);
    ~FilterGraph();

    /* IUnknown, through the controlling unknown (aggregate.h) */
    AGGREGATABLE_IUNKNOWN

    /* IFilterGraph */
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *filter) override;
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **out) override;
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter **out) override;
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *pin) override;
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *pin) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override;
    /* IGraphBuilder */
    HRESULT STDMETHODCALLTYPE Connect(IPin *out, IPin *in) override;
    HRESULT STDMETHODCALLTYPE Render(IPin *out) override;
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playlist) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter **out) override;
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR file) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override;
    /* IFilterGraph2 */
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *m, IBindCtx *ctx, LPCWSTR name,
                                                        IBaseFilter **out) override;
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *pin, const AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE RenderEx(IPin *pin, DWORD flags, DWORD *context) override;

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
    HRESULT STDMETHODCALLTYPE Run() override { return ChangeState(State_Running, -1); }
    HRESULT STDMETHODCALLTYPE Pause() override { return ChangeState(State_Paused, -1); }
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetState(LONG timeout, OAFilterState *state) override;
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR file) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR file, IDispatch **out) override;
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **out) override;
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **out) override;
    HRESULT STDMETHODCALLTYPE StopWhenReady() override;

    /* IPersist, IMediaFilter: the graph as a filter of a larger whole (Stop and Pause as above) */
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override { return ChangeState(State_Running, start); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;

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
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override;

    /* IMediaPosition: the same in seconds */
    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME *length) override;
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME *time) override;
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME *time) override;
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME *time) override;
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override { return SetRate(rate); }
    HRESULT STDMETHODCALLTYPE get_Rate(double *rate) override { return GetRate(rate); }
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG *can) override;
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG *can) override;

    /* IMediaEvent(Ex) */
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *handle) override { return events.GetEventHandle(handle); }
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout) override
    {
        return events.GetEvent(code, param1, param2, timeout);
    }
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG timeout, LONG *code) override;
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG code) override { return events.CancelDefaultHandling(code); }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG code) override { return events.RestoreDefaultHandling(code); }
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        return GraphEvents::FreeEventParams(code, param1, param2);
    }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param) override
    {
        return events.SetNotifyWindow(hwnd, msg, param);
    }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override { return events.SetNotifyFlags(flags); }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG *flags) override { return events.GetNotifyFlags(flags); }

    /* IMediaEventSink: events from the filters */
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        return events.Notify(code, param1, param2);
    }

    /* IBasicAudio: the sound renderer's */
    HRESULT STDMETHODCALLTYPE put_Volume(LONG volume) override;
    HRESULT STDMETHODCALLTYPE get_Volume(LONG *volume) override;
    HRESULT STDMETHODCALLTYPE put_Balance(LONG balance) override;
    HRESULT STDMETHODCALLTYPE get_Balance(LONG *balance) override;

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

    /* IBasicVideo2: the source size and the rectangles of the picture */
    HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME *t) override;
    HRESULT STDMETHODCALLTYPE get_BitRate(LONG *v) override;
    HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG *v) override;
    HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG *v) override;
    HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG *v) override;
    HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG v) override { return PutRectEdge(false, 0, v); }
    HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG *v) override { return GetRectEdge(false, 0, v); }
    HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG v) override { return PutRectEdge(false, 2, v); }
    HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG *v) override { return GetRectEdge(false, 2, v); }
    HRESULT STDMETHODCALLTYPE put_SourceTop(LONG v) override { return PutRectEdge(false, 1, v); }
    HRESULT STDMETHODCALLTYPE get_SourceTop(LONG *v) override { return GetRectEdge(false, 1, v); }
    HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG v) override { return PutRectEdge(false, 3, v); }
    HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG *v) override { return GetRectEdge(false, 3, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG v) override { return PutRectEdge(true, 0, v); }
    HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG *v) override { return GetRectEdge(true, 0, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG v) override { return PutRectEdge(true, 2, v); }
    HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG *v) override { return GetRectEdge(true, 2, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG v) override { return PutRectEdge(true, 1, v); }
    HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG *v) override { return GetRectEdge(true, 1, v); }
    HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG v) override { return PutRectEdge(true, 3, v); }
    HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG *v) override { return GetRectEdge(true, 3, v); }
    HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG l, LONG t, LONG w, LONG h) override;
    HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG *l, LONG *t, LONG *w, LONG *h) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() override;
    HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG l, LONG t, LONG w, LONG h) override;
    HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG *l, LONG *t, LONG *w, LONG *h) override;
    HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() override;
    HRESULT STDMETHODCALLTYPE GetVideoSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG start, LONG count, LONG *ret, LONG *entries) override;
    HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG *size, LONG *image) override;
    HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() override;
    HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() override;
    HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(LONG *x, LONG *y) override;

    /* IVideoFrameStep */
    HRESULT STDMETHODCALLTYPE Step(DWORD frames, IUnknown *filter) override;
    HRESULT STDMETHODCALLTYPE CanStep(LONG multiple, IUnknown *filter) override;
    HRESULT STDMETHODCALLTYPE CancelStep() override;

    /* IGraphVersion */
    HRESULT STDMETHODCALLTYPE QueryVersion(LONG *version) override;

    /* IObjectWithSite */
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown *site) override;
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void **site) override;

    /* IGraphConfig (Reconnect beside IFilterGraph's) */
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *out, IPin *in, const AM_MEDIA_TYPE *first, IBaseFilter *using_filter,
                                        HANDLE abort_event, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Reconfigure(IGraphConfigCallback *callback, PVOID context, DWORD flags,
                                          HANDLE abort_event) override;
    HRESULT STDMETHODCALLTYPE AddFilterToCache(IBaseFilter *filter) override;
    HRESULT STDMETHODCALLTYPE EnumCacheFilter(IEnumFilters **out) override;
    HRESULT STDMETHODCALLTYPE RemoveFilterFromCache(IBaseFilter *filter) override;
    HRESULT STDMETHODCALLTYPE GetStartTime(REFERENCE_TIME *start) override;
    HRESULT STDMETHODCALLTYPE PushThroughData(IPin *out, IPinConnection *connection, HANDLE abort_event) override;
    HRESULT STDMETHODCALLTYPE SetFilterFlags(IBaseFilter *filter, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetFilterFlags(IBaseFilter *filter, DWORD *flags) override;
    HRESULT STDMETHODCALLTYPE RemoveFilterEx(IBaseFilter *filter, DWORD flags) override;

    /* IFilterChain */
    HRESULT STDMETHODCALLTYPE StartChain(IBaseFilter *start, IBaseFilter *end) override;
    HRESULT STDMETHODCALLTYPE PauseChain(IBaseFilter *start, IBaseFilter *end) override;
    HRESULT STDMETHODCALLTYPE StopChain(IBaseFilter *start, IBaseFilter *end) override;
    HRESULT STDMETHODCALLTYPE RemoveChain(IBaseFilter *start, IBaseFilter *end) override;

    /* events from the bus thread, the video window and the client links */
    void QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2) { events.Queue(code, param1, param2); }
    void Deliver(LONG code, LONG_PTR param1, LONG_PTR param2) { events.Deliver(code, param1, param2); }
    void BusLoop();

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override;
    HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME start);
    HRESULT RemoveFilterLocked(IBaseFilter *filter, bool disconnect);
    void Changed() { dirty = true; InterlockedIncrement(&version); }
    HRESULT ConnectVia(IPin *out, IPin *in, const AM_MEDIA_TYPE *mt, int depth, bool only_cached);
    HRESULT RenderPin(IPin *out, bool existing_only);
    HRESULT TryIntermediate(IBaseFilter *f, const WCHAR *name, IPin *out, IPin *in, int depth, bool only_cached,
                            bool from_cache);
    bool IsRenderer(IBaseFilter *f);
    HRESULT ChainFilters(IBaseFilter *start, IBaseFilter *end, IBaseFilter **list, int *count);
    int CountRenderers(int *internal);
    void ChooseClock();
    void GiveClock();
    REFERENCE_TIME ClockNow();
    HRESULT BuildClientLinks(int *node_of);
    void StartClientLinks(FILTER_STATE s);
    void TeardownClientLinks();
    bool ClientLinksOnly();
    GraphFilter *AudioRenderer(HRESULT *hr);
    void ApplyAudio();
    HRESULT PutRectEdge(bool destination, int edge, LONG v);
    HRESULT GetRectEdge(bool destination, int edge, LONG *v);
    HRESULT VideoFormat(VIDEOINFOHEADER *vih);
    HRESULT NoVideo();
    HRESULT BuildPipeline();
    void TeardownPipeline();
    void SetFilterStates(FILTER_STATE s);
    HRESULT CheckWriters();
    int FilterIndex(IBaseFilter *f);
    bool FilterConnected(IBaseFilter *f);
    LONGLONG Length();
    GraphFilter *VideoRenderer(HRESULT *hr);
    HWND VideoHwnd(HRESULT *hr);
    HRESULT MoveEdge(int edge, LONG v);
    HRESULT GetEdge(int edge, LONG *v);
    void ApplySeek();

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

    GraphEvents events;

    /* clock and start time */
    IReferenceClock *clock;
    bool clock_chosen;          /* by the client (SetSyncSource) or by the graph: not chosen again */
    REFERENCE_TIME start_time;  /* reference time of stream time 0 while running */
    REFERENCE_TIME paused_at;   /* stream time when the run paused */
    double rate;
    LONGLONG preroll;

    LONG version;
    IUnknown *site;
    DWORD flags[MAX_FILTERS];   /* AM_FILTER_FLAGS of the filters */
    IBaseFilter *cache[MAX_FILTERS];
    int cache_count;
    volatile LONG aborting;

    /* sound */
    LONG volume, balance;
    int audio_node;
    /* picture rectangles; empty: the default */
    RECT source_rect, dest_rect;
    /* window settings the renderer's window does not hold itself */
    LONG border_color, background_palette, cursor_hidden, full_screen;
    HWND saved_parent;
    LONG saved_style;
    RECT saved_rect;

    /* links to the client's own filters while the pipeline lives */
    ClientLink *links[MAX_FILTERS];
    int link_count;
};

/* The graph's reference clock (clock.cpp): system time in 100 ns units, with advise notifications. */
HRESULT CreateSystemClock(REFIID riid, void **out);

/* The platform's intermediate filters (converters.cpp): decoders and converters that intelligent connect
 * puts between pins that do not connect directly. */
enum ConverterKind
{
    CONVERT_VIDEO_DECODER,      /* compressed pictures to RGB32 */
    CONVERT_AUDIO_DECODER,      /* compressed sound to PCM */
    CONVERT_VIDEO,              /* pictures to other layouts and sizes */
    CONVERT_AUDIO,              /* PCM to other sample formats, rates and channels */
    CONVERT_COUNT
};
HRESULT CreateConverter(ConverterKind kind, IBaseFilter **out);
const WCHAR *ConverterName(ConverterKind kind);
const CLSID *ConverterClass(ConverterKind kind);
DWORD ConverterMerit(ConverterKind kind);

/* Private: a filter of converters.cpp that becomes a pipeline fragment. */
EDS_GUID(IID_IGraphConverter, 0x91c3e5a7, 0x2b6d, 0x4e08, 0xa4, 0x5f, 0x13, 0x8e, 0x7c, 0x20, 0xd6, 0x4b);

MIDL_INTERFACE("91C3E5A7-2B6D-4E08-A45F-138E7C20D64B")
IGraphConverter : public IUnknown
{
    /* the gst-launch fragment for its connections now, and the kind of stream it delivers (PL_*) */
    virtual HRESULT STDMETHODCALLTYPE Describe(char *buffer, int size, int *out_kind) = 0;
};

/* The filter mapper (mapper.cpp). Its enumeration: monikers of matching filters, best merit first. */
HRESULT CreateFilterMapper(REFIID riid, void **out);

#endif
