/*
 * The filters the filter graph and the capture graph builder make themselves: file source, AVI
 * multiplexer, File Writer, video and sound renderers and the tee that splits a capture stream for its
 * preview. Their pins keep the connections; the media flows in the graph's pipeline. Win32 side only.
 */
#ifndef MEDIAPLATFORM_GRAPHFILTER_H
#define MEDIAPLATFORM_GRAPHFILTER_H

#include "server/aggregate.h"
#include "filters/filterbase.h"
#include "filters/pin.h"

class VideoWindow;

enum GraphFilterType
{
    GF_SOURCE,              /* a file's streams, decoded */
    GF_AVIMUX,
    GF_FILEWRITER,
    GF_VIDEO_RENDERER,
    GF_AUDIO_RENDERER,
    GF_TEE                  /* one input, "Capture" and "Preview" outputs */
};

#define GF_MAX_PINS 17

/* Private: QueryInterface for it hands out the GraphFilter itself, with a reference. */
EDS_GUID(IID_IGraphFilter, 0x7e41c2d8, 0x3b90, 0x4a5e, 0x86, 0x1f, 0xd2, 0x58, 0x0c, 0x9b, 0x4e, 0x63);

class GraphFilter;

class GraphPin final : public StreamPin
{
public:
    void Init(GraphFilter *owner, PIN_DIRECTION dir, const WCHAR *pin_name, const AM_MEDIA_TYPE *type, int index);
    void Teardown() { TeardownPin(); }

private:
    /* the major type, when both name one */
    bool Accepts(const AM_MEDIA_TYPE *type) const override;
    void OnConnected() override;

    GraphFilter *filter;
};

/* One stream of a source file, as the graph needs it. */
struct SourceStream
{
    bool video;
    LONGLONG length;        /* 100 ns */
    int width, height;
    int fps_num, fps_den;   /* as measured; 0/1 when unknown */
};

/* One filter object for every kind; each kind answers QueryInterface for its own interfaces only: the File
 * Writer IFileSinkFilter2, IAMFilterMiscFlags and IPersistStream, the multiplexer IConfigAviMux,
 * IConfigInterleaving and IMediaSeeking (avimux.cpp), the source IFileSourceFilter. */
class GraphFilter final : public FilterBase, public IFileSinkFilter2, public IFileSourceFilter, public IAMFilterMiscFlags,
                          public IPersistStream, public IConfigAviMux, public IConfigInterleaving, public IMediaSeeking,
                          public Aggregatable
{
public:
    /* outer: the aggregating object, or NULL */
    GraphFilter(GraphFilterType type, IUnknown *outer);
    ~GraphFilter();

    /* a file source over the file's streams; error codes for a missing, unreadable or foreign file */
    static HRESULT CreateSource(const WCHAR *dos_path, GraphFilter **out);
    static HRESULT Create(GraphFilterType type, GraphFilter **out);

    AGGREGATABLE_IUNKNOWN

    /* IPersist */
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;

    /* IFileSinkFilter2 (File Writer) */
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *name, AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE SetMode(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetMode(DWORD *flags) override;

    /* IFileSourceFilter (source) */
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, const AM_MEDIA_TYPE *type) override;

    /* IAMFilterMiscFlags (File Writer) */
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

    /* IPersistStream (File Writer): its file name and mode */
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream *stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream *stream, BOOL clear_dirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *size) override;

    /* IConfigAviMux, IConfigInterleaving (multiplexer, avimux.cpp) */
    HRESULT STDMETHODCALLTYPE SetMasterStream(LONG stream) override;
    HRESULT STDMETHODCALLTYPE GetMasterStream(LONG *stream) override;
    HRESULT STDMETHODCALLTYPE SetOutputCompatibilityIndex(BOOL old_index) override;
    HRESULT STDMETHODCALLTYPE GetOutputCompatibilityIndex(BOOL *old_index) override;
    HRESULT STDMETHODCALLTYPE put_Mode(InterleavingMode mode) override;
    HRESULT STDMETHODCALLTYPE get_Mode(InterleavingMode *mode) override;
    HRESULT STDMETHODCALLTYPE put_Interleaving(const REFERENCE_TIME *interleave, const REFERENCE_TIME *preroll) override;
    HRESULT STDMETHODCALLTYPE get_Interleaving(REFERENCE_TIME *interleave, REFERENCE_TIME *preroll) override;

    /* IMediaSeeking (multiplexer, avimux.cpp): how far the file being written has come, in media time */
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

    /* for the graph */
    GraphFilterType Type() const { return type; }
    GraphPin *Pin(int i) { return &pins[i]; }
    ULONG PinListCount() override { return pin_count; }
    IPin *PinListItem(ULONG i) override { return &pins[i]; }
    const char *UnixPath() const { return unix_path; }
    int StreamCount() const { return stream_count; }
    const SourceStream &Stream(int i) const { return streams[i]; }
    LONGLONG Length() const;
    VideoWindow *Window() { return window; }
    /* a pin got connected: the multiplexer keeps one free input */
    void PinConnected(GraphPin *pin);
    /* whether an input of the multiplexer takes a type (its documented input types) */
    static bool MuxTakes(const AM_MEDIA_TYPE *type);
    LONG PinListVersion() override { return pins_version; }

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override;
    void StateChanged(FILTER_STATE s) override;
    void AddPin(PIN_DIRECTION dir, const WCHAR *name, const AM_MEDIA_TYPE *type, int index);
    /* the graph's own seeking, for the multiplexer's position; NULL outside a graph or when asked from
     * within the graph's own call */
    IMediaSeeking *GraphSeeking();

    GraphFilterType type;
    GraphPin pins[GF_MAX_PINS];
    int pin_count;
    LONG pins_version;
    WCHAR *dos_path;
    char *unix_path;
    AM_MEDIA_TYPE file_type;     /* File Writer: as SetFileName gave it */
    DWORD mode;
    bool dirty;
    /* multiplexer settings */
    LONG master_stream;
    BOOL old_index;
    InterleavingMode interleave_mode;
    REFERENCE_TIME interleave, preroll;
    LONG asking_graph;
    SourceStream *streams;
    int stream_count;
    VideoWindow *window;
};

/* Video frames through a Win32 window: a child of the owner when one is set, a window of its own
 * otherwise. Made on the thread that builds the graph; frames are drawn from a thread of its own. */
typedef void (*VideoEventSink)(void *context, LONG code, LONG_PTR param1, LONG_PTR param2);

class VideoWindow
{
public:
    static VideoWindow *Create();
    ~VideoWindow();

    HWND Hwnd() const { return hwnd; }
    void SetEventSink(VideoEventSink sink, void *context);
    /* frames of renderer node of p until StopFrames */
    void StartFrames(struct pipeline *p, int node);
    void StopFrames();
    /* the graph paused or runs: show the window unless told otherwise */
    void StateChanged(bool active);
    void SetSourceSize(int width, int height);
    void GetSourceSize(LONG *width, LONG *height);

    HWND drain;
    HWND owner;
    bool auto_show;

    /* for the window procedure and the frame thread */
    LRESULT Message(UINT msg, WPARAM wp, LPARAM lp);
    void FrameLoop();

private:
    VideoWindow();
    void Paint(HDC dc);

    HWND hwnd;
    CRITICAL_SECTION cs;
    BYTE *frame;            /* last frame, BGRx top-down */
    int frame_width, frame_height;
    int source_width, source_height;
    struct pipeline *pl;
    int node;
    HANDLE thread;
    volatile LONG quit;
    VideoEventSink sink;
    void *sink_context;
};

#endif
