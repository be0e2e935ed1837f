// Render engine (CLSID_RenderEngine) and the source filter it puts into the filter graph: one output pin
// per group delivering the group's media type over the timeline's whole length. The filter's streams
// come from the GES timeline the glue builds (IPlatformSourceElement); the graph runs them.
#include "server/lifetime.h"
#include "editing_services.h"
#include "filters/filterbase.h"
#include "filters/pin.h"
#include "editing/timeline.h"
#include "editing/medialocator.h"

#include <math.h>
#include <new>
#include <stdio.h>
#include <string.h>

namespace {

class TimelineSource;

/* ---- Output pin of one group: part of the filter object, counted with it ---- */

class TimelinePin final : public StreamPin
{
public:
    void Init(TimelineSource *f, int i, const AM_MEDIA_TYPE *type);
    void Teardown() { TeardownPin(); }

private:
    // the group's type only, offered whatever the caller asks; GUID_NULL parts of a question match anything
    bool Accepts(const AM_MEDIA_TYPE *type) const override
    {
        if (!IsEqualGUID(type->majortype, GUID_NULL) && !IsEqualGUID(type->majortype, preferred.majortype))
            return false;
        if (!IsEqualGUID(type->subtype, GUID_NULL) && !IsEqualGUID(type->subtype, preferred.subtype)) return false;
        if (!IsEqualGUID(type->formattype, GUID_NULL) && !IsEqualGUID(type->formattype, preferred.formattype))
            return false;
        return true;
    }
};

/* ---- The source filter ---- */

class TimelineSource final : public FilterBase, public IPlatformSourceElement
{
public:
    // takes the copy
    explicit TimelineSource(TimelineCopy *c);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter)
                || IsEqualIID(riid, IID_IBaseFilter))
            *out = static_cast<IBaseFilter *>(this);
        else if (IsEqualIID(riid, IID_IPlatformSourceElement))
            *out = static_cast<IPlatformSourceElement *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_RenderEngine;
        return S_OK;
    }

    // IPlatformSourceElement
    int STDMETHODCALLTYPE GetStreamCount(void) override { return count; }
    HRESULT STDMETHODCALLTYPE GetStreamType(int i, GUID *major) override
    {
        if (!major) return E_POINTER;
        if (i < 0 || i >= count) return E_INVALIDARG;
        *major = copy->groups[i].mt.majortype;
        return S_OK;
    }
    // a fresh timeline each time: the graph may build its pipeline more than once
    void *STDMETHODCALLTYPE CreateElement(unsigned converted) override
    {
        gg_timeline *tl = NULL;
        char message[512];
        void *element = NULL;
        std::vector<gg_group> groups(copy->flat);
        for (size_t i = 0; i < groups.size() && i < 32; i++) groups[i].any_format = (converted >> i) & 1;
        if (gg_timeline_build(groups.data(), (int)groups.size(), copy->length * 100, &tl, message,
                              sizeof(message)) == GG_OK)
        {
            element = gg_timeline_take_element(tl);
            gg_timeline_free(tl);
        }
        return element;
    }
    HRESULT STDMETHODCALLTYPE GetPadName(int i, char *out, int size) override
    {
        if (!out) return E_POINTER;
        if (i < 0 || i >= count || size <= 0) return E_INVALIDARG;
        int n = snprintf(out, size, "group%d", i);
        return n < size ? S_OK : E_OUTOFMEMORY;
    }

    int count;
    TimelinePin *pins;
    TimelineCopy *copy;

    static void swprintf_name(WCHAR *buffer, int i)
    {
        char narrow[32];
        snprintf(narrow, sizeof(narrow), "Group %d", i);
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, buffer, 32);
    }

private:
    ~TimelineSource()
    {
        for (int i = 0; i < count; i++) pins[i].Teardown();
        delete[] pins;
        delete copy;
        PlatformObjectDestroyed();
    }
    ULONG PinListCount() override { return count; }
    IPin *PinListItem(ULONG i) override { return &pins[i]; }

    LONG ref;
};

TimelineSource::TimelineSource(TimelineCopy *c)
    : count(0), pins(NULL), copy(c), ref(1)
{
    pins = new (std::nothrow) TimelinePin[copy->groups.size()];
    if (pins)
    {
        count = (int)copy->groups.size();
        for (int i = 0; i < count; i++) pins[i].Init(this, i, &copy->groups[i].mt);
    }
    PlatformObjectCreated();
}

void TimelinePin::Init(TimelineSource *f, int i, const AM_MEDIA_TYPE *type)
{
    WCHAR pin_name[32];
    TimelineSource::swprintf_name(pin_name, i);
    index = i;
    InitPin(static_cast<IBaseFilter *>(f), &f->cs, PINDIR_OUTPUT, pin_name, type);
}

/* ---- The render engine ---- */

class RenderEngine final : public IRenderEngine, public IRenderEngine2, public IAMSetErrorLog, public IObjectWithSite,
                           public IPlatformRenderFile
{
public:
    RenderEngine()
        : ref(1), timeline(NULL), graph(NULL), source(NULL), range_start(0), range_stop(-1), error_log(NULL),
          site(NULL), resizer(GUID_NULL), locator(NULL), validation_filter(NULL), validation_flags(0)
    {
        InitializeCriticalSection(&cs);
        PlatformObjectCreated();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IRenderEngine))
            *out = static_cast<IRenderEngine *>(this);
        else if (IsEqualIID(riid, IID_IRenderEngine2))
            *out = static_cast<IRenderEngine2 *>(this);
        else if (IsEqualIID(riid, IID_IAMSetErrorLog))
            *out = static_cast<IAMSetErrorLog *>(this);
        else if (IsEqualIID(riid, IID_IObjectWithSite))
            *out = static_cast<IObjectWithSite *>(this);
        else if (IsEqualIID(riid, IID_IPlatformRenderFile))
            *out = static_cast<IPlatformRenderFile *>(this);
        else
        {
            *out = NULL;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IRenderEngine
    HRESULT STDMETHODCALLTYPE SetTimelineObject(IAMTimeline *tl) override
    {
        IPlatformTimeline *mine;
        if (!tl) return E_POINTER;
        if (FAILED(tl->QueryInterface(IID_IPlatformTimeline, (void **)&mine))) return E_INVALIDARG;
        EnterCriticalSection(&cs);
        if (timeline) timeline->Release();
        timeline = mine;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    // NULL and S_OK while no timeline is set
    HRESULT STDMETHODCALLTYPE GetTimelineObject(IAMTimeline **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        EnterCriticalSection(&cs);
        HRESULT hr = timeline ? timeline->QueryInterface(IID_IAMTimeline, (void **)out) : S_OK;
        LeaveCriticalSection(&cs);
        return hr;
    }
    // NULL and S_OK before there is a graph
    HRESULT STDMETHODCALLTYPE GetFilterGraph(IGraphBuilder **out) override
    {
        if (!out) return E_POINTER;
        EnterCriticalSection(&cs);
        if ((*out = graph)) graph->AddRef();
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    // only while the engine has no graph of its own yet
    HRESULT STDMETHODCALLTYPE SetFilterGraph(IGraphBuilder *g) override
    {
        if (!g) return E_POINTER;
        EnterCriticalSection(&cs);
        HRESULT hr = S_OK;
        if (graph) hr = E_INVALIDARG;
        else (graph = g)->AddRef();
        LeaveCriticalSection(&cs);
        return hr;
    }
    // Not supported, as documented: SetRenderRange limits what is rendered.
    HRESULT STDMETHODCALLTYPE SetInterestRange(REFERENCE_TIME start, REFERENCE_TIME stop) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInterestRange2(double start, double stop) override { return E_NOTIMPL; }
    // Only start..stop of the timeline is rendered, from the next ConnectFrontEnd on; the output begins
    // with what the timeline shows at start.
    HRESULT STDMETHODCALLTYPE SetRenderRange(REFERENCE_TIME start, REFERENCE_TIME stop) override
    {
        if (start < 0 || stop <= start) return E_INVALIDARG;
        EnterCriticalSection(&cs);
        range_start = start;
        range_stop = stop;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRenderRange2(double start, double stop) override
    {
        if (!(start >= 0.0) || !(stop > start) || stop > 9e11) return E_INVALIDARG;
        return SetRenderRange((REFERENCE_TIME)llround(start * 1e7), (REFERENCE_TIME)llround(stop * 1e7));
    }
    HRESULT STDMETHODCALLTYPE GetGroupOutputPin(LONG group, IPin **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        EnterCriticalSection(&cs);
        HRESULT hr;
        if (!source) hr = E_UNEXPECTED;
        else if (group < 0 || group >= source->count) hr = E_INVALIDARG;
        else
        {
            *out = &source->pins[group];
            (*out)->AddRef();
            hr = S_OK;
        }
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ScrapIt(void) override;
    HRESULT STDMETHODCALLTYPE RenderOutputPins(void) override;
    HRESULT STDMETHODCALLTYPE GetVendorString(BSTR *vendor) override
    {
        if (!vendor) return E_POINTER;
        *vendor = SysAllocString(L"Media Platform");
        return *vendor ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE ConnectFrontEnd(void) override;
    HRESULT STDMETHODCALLTYPE SetSourceConnectCallback(IGrfCache *callback) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDynamicReconnectLevel(LONG level) override
    {
        return level == CONNECTF_DYNAMIC_NONE ? S_OK : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DoSmartRecompression(void) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UseInSmartRecompressionGraph(void) override { return E_NOTIMPL; }
    // Kept for ConnectFrontEnd, which looks for every source's file with the locator given (or the
    // platform's) and reads a file found elsewhere from there.
    HRESULT STDMETHODCALLTYPE SetSourceNameValidation(BSTR filter, IMediaLocator *override, LONG flags) override
    {
        BSTR copy = filter ? SysAllocStringLen(filter, SysStringLen(filter)) : NULL;
        if (filter && !copy) return E_OUTOFMEMORY;
        if (override) override->AddRef();
        EnterCriticalSection(&cs);
        SysFreeString(validation_filter);
        if (locator) locator->Release();
        validation_filter = copy;
        locator = override;
        validation_flags = flags;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    // not implemented, as documented
    HRESULT STDMETHODCALLTYPE Commit(void) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decommit(void) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCaps(LONG index, LONG *value) override { return E_NOTIMPL; }

    // IRenderEngine2: the resizer is the platform's own whatever is named
    HRESULT STDMETHODCALLTYPE SetResizerGUID(GUID guid) override
    {
        resizer = guid;
        return S_OK;
    }

    // IAMSetErrorLog: rendering errors go here, or to the timeline's log when none is set here
    HRESULT STDMETHODCALLTYPE get_ErrorLog(IAMErrorLog **log) override
    {
        if (!log) return E_POINTER;
        EnterCriticalSection(&cs);
        if ((*log = error_log)) error_log->AddRef();
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ErrorLog(IAMErrorLog *log) override
    {
        if (log) log->AddRef();
        EnterCriticalSection(&cs);
        IAMErrorLog *old = error_log;
        error_log = log;
        LeaveCriticalSection(&cs);
        if (old) old->Release();
        return S_OK;
    }

    // IObjectWithSite
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown *s) override
    {
        if (s) s->AddRef();
        EnterCriticalSection(&cs);
        IUnknown *old = site;
        site = s;
        LeaveCriticalSection(&cs);
        if (old) old->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        EnterCriticalSection(&cs);
        HRESULT hr = site ? site->QueryInterface(riid, out) : E_FAIL;
        LeaveCriticalSection(&cs);
        return hr;
    }

    // IPlatformRenderFile
    HRESULT STDMETHODCALLTYPE RenderToFile(const char *video_encoder, const char *muxer, const WCHAR *path,
                                           DWORD timeout_ms) override;

private:
    ~RenderEngine()
    {
        ScrapIt();
        if (timeline) timeline->Release();
        if (error_log) error_log->Release();
        if (locator) locator->Release();
        SysFreeString(validation_filter);
        if (site) site->Release();
        DeleteCriticalSection(&cs);
        PlatformObjectDestroyed();
    }
    void RemoveSource();

    LONG ref;
    CRITICAL_SECTION cs;
    IPlatformTimeline *timeline;
    IGraphBuilder *graph;
    TimelineSource *source;
    REFERENCE_TIME range_start, range_stop;   // stop -1: the whole timeline
    IAMErrorLog *error_log;
    IUnknown *site;
    GUID resizer;
    IMediaLocator *locator;                   // SetSourceNameValidation
    BSTR validation_filter;
    LONG validation_flags;
    void ValidateSourceNames(TimelineCopy *copy);

    void LogFailure(HRESULT hr, const char *message);
};

void RenderEngine::RemoveSource()
{
    if (!source) return;
    if (graph) graph->RemoveFilter(static_cast<IBaseFilter *>(source));
    source->Release();
    source = NULL;
}

// The engine's error log, or else the timeline's, hears why a front end could not be built. Called with
// cs held.
void RenderEngine::LogFailure(HRESULT hr, const char *message)
{
    LONG code = hr == VFW_E_INVALIDMEDIATYPE ? DEX_IDS_BAD_MEDIATYPE
              : hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                    ? DEX_IDS_BAD_SOURCE_NAME
              : hr == VFW_E_UNSUPPORTED_STREAM ? DEX_IDS_UNKNOWN_SOURCE
              : hr == E_OUTOFMEMORY ? DEX_IDS_OUTOFMEMORY : DEX_IDS_GRAPH_ERROR;
    WCHAR text[512];
    if (!message || !*message || !MultiByteToWideChar(CP_UTF8, 0, message, -1, text, ARRAYSIZE(text)))
        lstrcpyW(text, L"The timeline cannot be rendered.");
    text[ARRAYSIZE(text) - 1] = 0;
    if (!error_log)
    {
        timeline->LogError(2, text, code, hr);
        return;
    }
    BSTR b = SysAllocString(text);
    VARIANT extra;
    VariantInit(&extra);
    error_log->LogError(2, b, code, hr, &extra);
    SysFreeString(b);
}

// The copy reads each source whose file the locator finds elsewhere from there.
void RenderEngine::ValidateSourceNames(TimelineCopy *copy)
{
    for (TimelineGroupCopy &g : copy->groups)
        for (std::string &path : g.paths)
        {
            WCHAR *dos = wine_get_dos_file_name(path.c_str());
            if (!dos) continue;
            BSTR name = SysAllocString(dos), found = NULL;
            HeapFree(GetProcessHeap(), 0, dos);
            if (!name) continue;
            HRESULT hr = locator ? locator->FindMediaFile(name, validation_filter, &found, validation_flags)
                                 : LocateMediaFile(name, &found, validation_flags);
            std::string moved;
            if (hr == S_FALSE && found && *found && editing::unix_path(found, &moved))
            {
                try { path = moved; }
                catch (const std::bad_alloc &) {}
            }
            SysFreeString(found);
            SysFreeString(name);
        }
}

// Copies the timeline (the render range only, when one is set), checks it (every source opens, the
// groups can be delivered), then puts the source filter with one pin per group into the
// graph, made here unless one was given. E_INVALIDARG without a timeline.
HRESULT STDMETHODCALLTYPE RenderEngine::ConnectFrontEnd(void)
{
    TimelineCopy *copy = NULL;
    char message[512] = "";
    HRESULT hr;

    EnterCriticalSection(&cs);
    if (!timeline)
    {
        LeaveCriticalSection(&cs);
        return E_INVALIDARG;
    }
    if (FAILED(hr = timeline->CopyTimeline(&copy)))
    {
        LogFailure(hr, NULL);
        LeaveCriticalSection(&cs);
        return hr;
    }
    if (validation_flags & SFN_VALIDATEF_CHECK) ValidateSourceNames(copy);
    if (range_stop > range_start) copy->Restrict(range_start, range_stop);
    if (copy->length <= 0)
    {
        delete copy;
        LeaveCriticalSection(&cs);
        return E_INVALIDARG;   // nothing to render
    }
    copy->Finish();
    // every source opened and checked now; the graph builds the timeline itself when it runs
    int status = gg_timeline_check(copy->flat.data(), (int)copy->flat.size(), copy->length * 100, message,
                                   sizeof(message));
    if (status != GG_OK)
    {
        delete copy;
        hr = GlueStatusToHresult(status);
        LogFailure(hr, message);
        LeaveCriticalSection(&cs);
        return hr;
    }
    if (!graph && FAILED(hr = CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                               (void **)&graph)))
    {
        graph = NULL;
        delete copy;
        LeaveCriticalSection(&cs);
        return hr;
    }
    RemoveSource();
    TimelineSource *filter = new (std::nothrow) TimelineSource(copy);
    if (!filter)
    {
        delete copy;
        LeaveCriticalSection(&cs);
        return E_OUTOFMEMORY;
    }
    if (filter->count != (int)copy->groups.size())
    {
        filter->Release();
        LeaveCriticalSection(&cs);
        return E_OUTOFMEMORY;
    }
    if (FAILED(hr = graph->AddFilter(static_cast<IBaseFilter *>(filter), L"Timeline")))
    {
        filter->Release();
        LeaveCriticalSection(&cs);
        return hr;
    }
    source = filter;
    LeaveCriticalSection(&cs);
    return S_OK;
}

// Preview: each group's pin to the default renderer of its kind.
HRESULT STDMETHODCALLTYPE RenderEngine::RenderOutputPins(void)
{
    ICaptureGraphBuilder2 *builder = NULL;
    HRESULT hr = S_OK, r;

    EnterCriticalSection(&cs);
    if (!source || !graph)
    {
        LeaveCriticalSection(&cs);
        return E_UNEXPECTED;
    }
    if (SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                   (void **)&builder))
            && FAILED(builder->SetFiltergraph(graph)))
    {
        builder->Release();
        builder = NULL;
    }
    for (int i = 0; i < source->count; i++)
    {
        IPin *pin = &source->pins[i];
        if (source->pins[i].Connected()) continue;
        r = builder ? builder->RenderStream(NULL, NULL, pin, NULL, NULL) : graph->Render(pin);
        if (FAILED(r)) hr = r;
    }
    if (builder) builder->Release();
    LeaveCriticalSection(&cs);
    return hr;
}

// Stops and empties the graph the engine made and lets go of it.
HRESULT STDMETHODCALLTYPE RenderEngine::ScrapIt(void)
{
    IMediaControl *control;
    IEnumFilters *filters;
    IBaseFilter *f;

    EnterCriticalSection(&cs);
    if (graph)
    {
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaControl, (void **)&control)))
        {
            control->Stop();
            control->Release();
        }
        RemoveSource();
        // remove what else the graph holds, one at a time: removing changes the enumeration
        while (SUCCEEDED(graph->EnumFilters(&filters)))
        {
            ULONG got = 0;
            HRESULT hr = filters->Next(1, &f, &got);
            filters->Release();
            if (hr != S_OK || !got) break;
            hr = graph->RemoveFilter(f);
            f->Release();
            if (FAILED(hr)) break;
        }
        graph->Release();
        graph = NULL;
    }
    else
        RemoveSource();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RenderEngine::RenderToFile(const char *video_encoder, const char *muxer, const WCHAR *path,
                                                     DWORD timeout_ms)
{
    char message[512];
    std::string unix_name;

    if (!video_encoder || !muxer || !path) return E_POINTER;
    char *name = wine_get_unix_file_name(path);
    if (!name) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    unix_name = name;
    HeapFree(GetProcessHeap(), 0, name);

    EnterCriticalSection(&cs);
    if (!source)
    {
        LeaveCriticalSection(&cs);
        return E_UNEXPECTED;
    }
    TimelineSource *s = source;
    TimelineCopy *copy = s->copy;
    s->AddRef();
    LeaveCriticalSection(&cs);
    int status = gg_render_to_file(copy->flat.data(), (int)copy->flat.size(), copy->length * 100, video_encoder,
                                   muxer, unix_name.c_str(), timeout_ms, message, sizeof(message));
    s->Release();
    if (status != GG_OK)
    {
        OutputDebugStringA(message);
        return GlueStatusToHresult(status);
    }
    return S_OK;
}

}  // namespace

HRESULT CreateRenderEngine(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    RenderEngine *engine = new (std::nothrow) RenderEngine();
    if (!engine) return E_OUTOFMEMORY;
    HRESULT hr = engine->QueryInterface(riid, out);
    engine->Release();
    return hr;
}
