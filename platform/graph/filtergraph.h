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

#define MAX_FILTERS 64
#define MAX_EVENTS 256
#define STATE_WAIT_MS 5000
#define NS_PER_UNIT 100

/* An event waiting for the client. */
struct GraphEvent
{
    LONG code;
    LONG_PTR param1, param2;
};


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

#endif
