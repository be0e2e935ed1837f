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

class GraphFilter final : public FilterBase, public IFileSinkFilter2, public IFileSourceFilter, public Aggregatable
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

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override;
    void StateChanged(FILTER_STATE s) override;
    void AddPin(PIN_DIRECTION dir, const WCHAR *name, const AM_MEDIA_TYPE *type, int index);

    GraphFilterType type;
    GraphPin pins[GF_MAX_PINS];
    int pin_count;
    WCHAR *dos_path;
    char *unix_path;
    DWORD mode;
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
