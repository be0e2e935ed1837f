// The filter graph against its documentation: each interface's calls with the arguments and states the
// documentation names, checked for the codes and effects it gives. Filters of the test's own (a source
// that pushes frames of one colour, a renderer that counts and looks at what it gets) take part as a
// client's filters do; what they receive is read back.
#include <windows.h>
#include <dshow.h>
#include <evcode.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/conformance.h"

namespace {

const DWORD kColour = 0x00c08040;   // BGRx bytes 40 80 c0
const int kWidth = 64, kHeight = 48, kFrames = 12;
const REFERENCE_TIME kFrameTime = 400000;   // 25 fps

std::u16string dos_path(const std::string &unix_path)
{
    WCHAR *d = wine_get_dos_file_name(unix_path.c_str());
    std::u16string out = d ? reinterpret_cast<const char16_t *>(d) : u"";
    HeapFree(GetProcessHeap(), 0, d);
    return out;
}
const WCHAR *W(const std::u16string &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

std::string media(const char *name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/nonexistent") + "/" + name;
}

// a picture type: RGB32 or RGB24, bottom-up
struct PictureType
{
    AM_MEDIA_TYPE mt;
    VIDEOINFOHEADER vih;
    PictureType(const GUID &subtype, WORD bits, int w = kWidth, int h = kHeight)
    {
        memset(&mt, 0, sizeof(mt));
        memset(&vih, 0, sizeof(vih));
        vih.AvgTimePerFrame = kFrameTime;
        vih.bmiHeader.biSize = sizeof(vih.bmiHeader);
        vih.bmiHeader.biWidth = w;
        vih.bmiHeader.biHeight = h;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = bits;
        vih.bmiHeader.biSizeImage = ((w * bits + 31) / 32) * 4 * h;
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = subtype;
        mt.bFixedSizeSamples = TRUE;
        mt.lSampleSize = vih.bmiHeader.biSizeImage;
        mt.formattype = FORMAT_VideoInfo;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE *)&vih;
    }
    PictureType(const PictureType &o) : PictureType(o.mt.subtype, o.vih.bmiHeader.biBitCount) {}
};

AM_MEDIA_TYPE *copy_type(const AM_MEDIA_TYPE &t)
{
    AM_MEDIA_TYPE *c = (AM_MEDIA_TYPE *)CoTaskMemAlloc(sizeof(*c));
    *c = t;
    c->pbFormat = (BYTE *)CoTaskMemAlloc(t.cbFormat);
    memcpy(c->pbFormat, t.pbFormat, t.cbFormat);
    return c;
}

// IEnumPins / IEnumMediaTypes over one item
template <class I, class T> class OneEnum : public I
{
public:
    OneEnum(T *t, bool done = false) : item(t), pos(done) { item->AddRef(); }
    virtual ~OneEnum() { item->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        *out = this;
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
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override { pos = true; return n == 1 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = false; return S_OK; }

protected:
    T *item;
    bool pos;
    LONG ref = 1;
};

class TestFilter;

class PinEnum final : public OneEnum<IEnumPins, IPin>
{
public:
    using OneEnum::OneEnum;
    HRESULT STDMETHODCALLTYPE Next(ULONG n, IPin **out, ULONG *got) override
    {
        ULONG k = 0;
        if (n && !pos)
        {
            out[k++] = item;
            item->AddRef();
            pos = true;
        }
        if (got) *got = k;
        return k == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **out) override
    {
        *out = new PinEnum(item, pos);
        return S_OK;
    }
};

// A filter with one pin: a source that pushes kFrames frames of kColour once paused, or a renderer that
// counts what it receives and completes at the end of the stream.
class TestFilter final : public IBaseFilter, public IPin, public IMemInputPin
{
public:
    TestFilter(bool source, const PictureType &type) : source(source), type(type) { InitializeCriticalSection(&cs); }
    ~TestFilter()
    {
        Stop();
        if (peer) peer->Release();
        if (input) input->Release();
        if (allocator) allocator->Release();
        if (clock) clock->Release();
        DeleteCriticalSection(&cs);
    }

    int received = 0;
    DWORD first_pixel = 0xffffffff;
    bool pixels_alike = true;
    bool ended = false;
    IReferenceClock *clock = nullptr;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter)
                || IsEqualIID(riid, IID_IPersist))
            *out = static_cast<IBaseFilter *>(this);
        else if (IsEqualIID(riid, IID_IPin))
            *out = static_cast<IPin *>(this);
        else if (IsEqualIID(riid, IID_IMemInputPin) && !source)
            *out = static_cast<IMemInputPin *>(this);
        else
        {
            *out = nullptr;
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

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *c) override { *c = GUID_NULL; return S_OK; }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        quit = true;
        if (allocator && source) allocator->Decommit();
        if (thread)
        {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = nullptr;
        }
        state = State_Stopped;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override
    {
        if (state == State_Stopped && source && input)
        {
            quit = false;
            allocator->Commit();
            thread = CreateThread(nullptr, 0, Push, this, 0, nullptr);
        }
        state = State_Paused;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override
    {
        if (state == State_Stopped) Pause();
        state = State_Running;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD ms, FILTER_STATE *s) override { *s = state; return S_OK; }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *c) override
    {
        if (c) c->AddRef();
        if (clock) clock->Release();
        clock = c;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **c) override
    {
        if ((*c = clock)) clock->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override
    {
        *out = new PinEnum(static_cast<IPin *>(this));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override
    {
        lstrcpynW(info->achName, name, MAX_FILTER_NAME);
        if ((info->pGraph = graph)) graph->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *g, LPCWSTR n) override
    {
        graph = g;
        lstrcpynW(name, n ? n : L"", MAX_FILTER_NAME);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override { return E_NOTIMPL; }

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *mt) override
    {
        HRESULT hr;
        ALLOCATOR_PROPERTIES want = {4, (LONG)type.mt.lSampleSize, 1, 0}, got;
        if (!source) return E_UNEXPECTED;
        if (mt && !IsEqualGUID(mt->subtype, GUID_NULL) && !IsEqualGUID(mt->subtype, type.mt.subtype))
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (FAILED(hr = receiver->ReceiveConnection(this, &type.mt))) return hr;
        // the allocator, as the documentation lays out
        if (FAILED(hr = receiver->QueryInterface(IID_IMemInputPin, (void **)&input))) goto fail;
        input->GetAllocatorRequirements(&want);
        if (want.cbBuffer < (LONG)type.mt.lSampleSize) want.cbBuffer = type.mt.lSampleSize;
        if (FAILED(hr = input->GetAllocator(&allocator))
                && FAILED(hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IMemAllocator, (void **)&allocator)))
            goto fail;
        if (FAILED(hr = allocator->SetProperties(&want, &got)) || FAILED(hr = input->NotifyAllocator(allocator, FALSE)))
            goto fail;
        allocator_got = got;
        peer = receiver;
        peer->AddRef();
        return S_OK;
    fail:
        receiver->Disconnect();
        if (input) input->Release();
        if (allocator) allocator->Release();
        input = nullptr;
        allocator = nullptr;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *mt) override
    {
        if (source) return E_UNEXPECTED;
        if (peer) return VFW_E_ALREADY_CONNECTED;
        if (QueryAccept(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        peer = connector;
        peer->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override
    {
        if (!peer) return S_FALSE;
        peer->Release();
        peer = nullptr;
        if (input) input->Release();
        input = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override
    {
        if ((*out = peer)) peer->AddRef();
        return peer ? S_OK : VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *mt) override
    {
        if (!peer) return VFW_E_NOT_CONNECTED;
        AM_MEDIA_TYPE *c = copy_type(type.mt);
        *mt = *c;
        CoTaskMemFree(c);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override
    {
        info->pFilter = this;
        AddRef();
        info->dir = source ? PINDIR_OUTPUT : PINDIR_INPUT;
        lstrcpyW(info->achName, source ? L"Out" : L"In");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *d) override
    {
        *d = source ? PINDIR_OUTPUT : PINDIR_INPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override
    {
        *id = (LPWSTR)CoTaskMemAlloc(8);
        lstrcpyW(*id, L"Pin");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *mt) override
    {
        if (!IsEqualGUID(mt->majortype, MEDIATYPE_Video) || !IsEqualGUID(mt->subtype, type.mt.subtype)
                || !IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER))
            return S_FALSE;
        const VIDEOINFOHEADER *v = (const VIDEOINFOHEADER *)mt->pbFormat;
        return v->bmiHeader.biWidth == kWidth && abs(v->bmiHeader.biHeight) == kHeight ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *n) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        IMediaEventSink *sink;
        ended = true;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, (void **)&sink)))
        {
            sink->Notify(EC_COMPLETE, S_OK, (LONG_PTR) static_cast<IBaseFilter *>(this));
            sink->Release();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) override { return S_OK; }

    // IMemInputPin (the renderer)
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **out) override { return VFW_E_NO_ALLOCATOR; }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *a, BOOL ro) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *p) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *s) override
    {
        BYTE *data;
        int bytes = type.vih.bmiHeader.biBitCount / 8;
        s->GetPointer(&data);
        if (s->GetActualDataLength() < (LONG)type.mt.lSampleSize) pixels_alike = false;
        else
        {
            DWORD first = 0, middle = 0;
            memcpy(&first, data, bytes);
            memcpy(&middle, data + (type.mt.lSampleSize / 2 / bytes) * bytes, bytes);
            if (first_pixel == 0xffffffff) first_pixel = first;
            if (first != middle || first != first_pixel) pixels_alike = false;
        }
        InterlockedIncrement((LONG *)&received);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **s, LONG n, LONG *done) override
    {
        for (*done = 0; *done < n; (*done)++) Receive(s[*done]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    ALLOCATOR_PROPERTIES allocator_got = {};

private:
    static DWORD WINAPI Push(void *arg)
    {
        TestFilter *f = (TestFilter *)arg;
        for (int i = 0; i < kFrames && !f->quit; i++)
        {
            IMediaSample *s;
            BYTE *data;
            if (FAILED(f->allocator->GetBuffer(&s, nullptr, nullptr, 0))) return 0;
            s->GetPointer(&data);
            for (LONG p = 0; p + 4 <= (LONG)f->type.mt.lSampleSize; p += 4) memcpy(data + p, &kColour, 4);
            s->SetActualDataLength(f->type.mt.lSampleSize);
            REFERENCE_TIME start = i * kFrameTime, stop = start + kFrameTime;
            s->SetTime(&start, &stop);
            s->SetSyncPoint(TRUE);
            HRESULT hr = f->input->Receive(s);
            s->Release();
            if (hr != S_OK) return 0;
        }
        if (!f->quit) f->peer->EndOfStream();
        return 0;
    }

    LONG ref = 1;
    bool source;
    PictureType type;
    CRITICAL_SECTION cs;
    IFilterGraph *graph = nullptr;
    WCHAR name[MAX_FILTER_NAME] = {};
    FILTER_STATE state = State_Stopped;
    IPin *peer = nullptr;
    IMemInputPin *input = nullptr;
    IMemAllocator *allocator = nullptr;
    HANDLE thread = nullptr;
    volatile bool quit = false;
};

class TypeEnum final : public IEnumMediaTypes
{
public:
    TypeEnum(const AM_MEDIA_TYPE &t, bool done = false) : type(t), pos(done) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        *out = this;
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
    HRESULT STDMETHODCALLTYPE Next(ULONG n, AM_MEDIA_TYPE **out, ULONG *got) override
    {
        ULONG k = 0;
        if (n && !pos)
        {
            out[k++] = copy_type(type);
            pos = true;
        }
        if (got) *got = k;
        return k == n ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG n) override { pos = true; return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = false; return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **out) override
    {
        *out = new TypeEnum(type, pos);
        return S_OK;
    }

private:
    AM_MEDIA_TYPE type;
    bool pos;
    LONG ref = 1;
};

HRESULT STDMETHODCALLTYPE TestFilter::EnumMediaTypes(IEnumMediaTypes **out)
{
    *out = new TypeEnum(type.mt);
    return S_OK;
}

// the test colour, give or take what a YUV round trip changes
bool near_colour(DWORD pixel)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (abs((int)((pixel >> shift) & 0xff) - (int)((kColour >> shift) & 0xff)) > 4) return false;
    return true;
}

template <class T> struct Ptr
{
    T *p = nullptr;
    ~Ptr() { if (p) p->Release(); }
    T **operator&() { return &p; }
    T *operator->() { return p; }
    operator T *() { return p; }
};

IPin *first_pin(IBaseFilter *f, PIN_DIRECTION want)
{
    IEnumPins *pins;
    IPin *pin, *found = nullptr;
    if (FAILED(f->EnumPins(&pins))) return nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK)
    {
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == want) found = pin;
        else pin->Release();
    }
    pins->Release();
    return found;
}

int filter_count(IFilterGraph *g)
{
    IEnumFilters *e;
    IBaseFilter *f;
    int n = 0;
    if (FAILED(g->EnumFilters(&e))) return -1;
    while (e->Next(1, &f, nullptr) == S_OK)
    {
        n++;
        f->Release();
    }
    e->Release();
    return n;
}

class Conformance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                         (void **)&graph));
        graph->QueryInterface(IID_IMediaControl, (void **)&control);
        graph->QueryInterface(IID_IMediaEventEx, (void **)&events);
    }
    void TearDown() override
    {
        if (control) control->Stop();
        if (events) events->Release();
        if (control) control->Release();
        if (graph) graph->Release();
        CoUninitialize();
    }
    template <class I> I *Get(REFIID riid)
    {
        I *i = nullptr;
        graph->QueryInterface(riid, (void **)&i);
        return i;
    }
    // the movie of the test media with its streams rendered
    bool RenderMovie()
    {
        return SUCCEEDED(graph->RenderFile(W(dos_path(media("movie.avi"))), nullptr));
    }
    LONG RunToEnd(DWORD ms)
    {
        LONG code = 0;
        control->Run();
        if (FAILED(events->WaitForCompletion(ms, &code))) return 0;
        return code;
    }

    IFilterGraph2 *graph = nullptr;
    IMediaControl *control = nullptr;
    IMediaEventEx *events = nullptr;
};

// ---- IFilterGraph, IGraphBuilder, IFilterGraph2 ----

TEST_F(Conformance, FilterGraph)
{
    const char *I = "IFilterGraph2";
    TestFilter *a = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
    TestFilter *b = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
    TestFilter *outside = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
    IPin *pa = a, *pb = b, *po = outside;
    Ptr<IBaseFilter> found;
    Ptr<IEnumFilters> e;
    FILTER_INFO info;

    struct { const char *what; HRESULT got, want; } calls[] = {
        {"AddFilter(NULL)", graph->AddFilter(nullptr, L"x"), E_POINTER},
        {"AddFilter(source, NULL name)", graph->AddFilter(a, nullptr), S_OK},
        {"AddFilter(renderer, \"r\")", graph->AddFilter(b, L"r"), S_OK},
        {"FindFilterByName(NULL)", graph->FindFilterByName(nullptr, &found), E_POINTER},
        {"FindFilterByName(unknown)", graph->FindFilterByName(L"nobody", &found), VFW_E_NOT_FOUND},
        {"RemoveFilter(NULL)", graph->RemoveFilter(nullptr), E_POINTER},
        {"EnumFilters(NULL)", graph->EnumFilters(nullptr), E_POINTER},
        {"ConnectDirect(NULL, in)", graph->ConnectDirect(nullptr, pb, nullptr), E_POINTER},
        {"ConnectDirect to a filter not in the graph", graph->ConnectDirect(pa, po, nullptr), VFW_E_NOT_IN_GRAPH},
        {"Connect(NULL, in)", graph->Connect(nullptr, pb), E_POINTER},
        {"Render(NULL)", graph->Render(nullptr), E_POINTER},
        {"RenderFile(NULL)", graph->RenderFile(nullptr, nullptr), E_POINTER},
        {"RenderEx(pin, unknown flag)", graph->RenderEx(pa, 0x100, nullptr), E_INVALIDARG},
        {"ReconnectEx(NULL)", graph->ReconnectEx(nullptr, nullptr), E_POINTER},
        {"ReconnectEx(unconnected)", graph->ReconnectEx(pa, nullptr), S_FALSE},
        {"Reconnect(unconnected)", graph->Reconnect(pa), VFW_E_NOT_CONNECTED},
        {"AddSourceFilterForMoniker(NULL)", graph->AddSourceFilterForMoniker(nullptr, nullptr, L"m", &found), E_POINTER},
        {"AddSourceFilter(missing file)", graph->AddSourceFilter(L"Z:\\nonexistent\\none.avi", nullptr, &found),
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"Connect(out, in)", graph->Connect(pa, pb), S_OK},
        {"Connect again", graph->Connect(pa, pb), VFW_E_ALREADY_CONNECTED},
        {"ReconnectEx(connected)", graph->ReconnectEx(pa, nullptr), S_OK},
        {"Disconnect(NULL)", graph->Disconnect(nullptr), E_POINTER},
        {"Disconnect(out)", graph->Disconnect(pa), S_OK},
        {"Disconnect(out) again", graph->Disconnect(pa), S_FALSE},
    };
    for (auto &c : calls) conf::Returns(I, c.what, c.got, c.want);

    // names: one made for a filter without one, a number for one taken
    a->QueryFilterInfo(&info);
    conf::Holds(I, "AddFilter(NULL name) gives a name", info.achName[0] != 0);
    if (info.pGraph) info.pGraph->Release();
    TestFilter *c = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
    conf::Returns(I, "AddFilter(name in use)", graph->AddFilter(c, L"r"), VFW_S_DUPLICATE_NAME);
    c->QueryFilterInfo(&info);
    conf::Holds(I, "a name in use is made unique", lstrcmpW(info.achName, L"r") != 0);
    if (info.pGraph) info.pGraph->Release();
    conf::Returns(I, "FindFilterByName(\"r\")", graph->FindFilterByName(L"r", &found), S_OK);
    conf::Holds(I, "FindFilterByName finds the filter", found.p == static_cast<IBaseFilter *>(b));
    conf::Holds(I, "EnumFilters lists the three filters", filter_count(graph) == 3);
    conf::Returns(I, "RemoveFilter", graph->RemoveFilter(c), S_OK);
    conf::Returns(I, "RemoveFilter(not in graph)", graph->RemoveFilter(c), VFW_E_NOT_FOUND);

    // intelligent connect: RGB32 pictures into a renderer of RGB24 only, through a converter
    TestFilter *rgb24 = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB24, 24));
    graph->AddFilter(rgb24, L"rgb24");
    IPin *p24 = rgb24;
    conf::Returns(I, "ConnectDirect(RGB32 into RGB24)", graph->ConnectDirect(pa, p24, nullptr), VFW_E_TYPE_NOT_ACCEPTED);
    conf::Returns(I, "Connect(RGB32 into RGB24) through a converter", graph->Connect(pa, p24), S_OK);
    conf::Holds(I, "Connect put a filter between", filter_count(graph) == 4);

    // a compressed stream into a compressor goes through a decoder
    Ptr<ICreateDevEnum> devenum;
    Ptr<IEnumMoniker> monikers;
    IMoniker *m;
    std::vector<IBaseFilter *> mjpeg;
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)&devenum);
    if (devenum && devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) == S_OK)
        while (mjpeg.size() < 2 && monikers->Next(1, &m, nullptr) == S_OK)
        {
            IBaseFilter *f;
            if (SUCCEEDED(m->BindToObject(nullptr, nullptr, IID_IBaseFilter, (void **)&f))) mjpeg.push_back(f);
            m->Release();
        }
    conf::Holds(I, "two compressors to chain", mjpeg.size() == 2);
    if (mjpeg.size() == 2)
    {
        graph->AddFilter(mjpeg[0], L"first");
        graph->AddFilter(mjpeg[1], L"second");
        IPin *out = first_pin(mjpeg[0], PINDIR_OUTPUT), *in = first_pin(mjpeg[1], PINDIR_INPUT);
        int before = filter_count(graph);
        conf::Returns(I, "ConnectDirect(compressed into a compressor)", graph->ConnectDirect(out, in, nullptr),
                      VFW_E_TYPE_NOT_ACCEPTED);
        conf::Returns(I, "Connect(compressed into a compressor)", graph->Connect(out, in), S_OK);
        conf::Holds(I, "a decoder went between", filter_count(graph) == before + 1);
        out->Release();
        in->Release();
    }
    for (auto f : mjpeg) f->Release();
    a->Release();
    b->Release();
    outside->Release();
    rgb24->Release();
    c->Release();
}

// ---- IMediaControl and IMediaFilter ----

TEST_F(Conformance, MediaControlAndFilter)
{
    Ptr<IMediaFilter> mf;
    mf.p = Get<IMediaFilter>(IID_IMediaFilter);
    ASSERT_TRUE(mf.p);
    OAFilterState os;
    FILTER_STATE fs;
    CLSID clsid;
    Ptr<IReferenceClock> clk;

    conf::Returns("IMediaControl", "GetState(NULL)", control->GetState(0, nullptr), E_POINTER);
    conf::Returns("IMediaControl", "GetState stopped", control->GetState(0, &os), S_OK);
    conf::Holds("IMediaControl", "a new graph is stopped", os == State_Stopped);
    conf::Returns("IMediaControl", "RenderFile(NULL)", control->RenderFile(nullptr), E_POINTER);
    conf::Returns("IMediaControl", "Pause an empty graph", control->Pause(), S_OK);
    control->GetState(0, &os);
    conf::Holds("IMediaControl", "paused", os == State_Paused);
    conf::Returns("IMediaControl", "Run", control->Run(), S_OK);
    control->GetState(0, &os);
    conf::Holds("IMediaControl", "running", os == State_Running);
    conf::Returns("IMediaControl", "Stop", control->Stop(), S_OK);

    conf::Returns("IMediaFilter", "GetClassID(NULL)", mf->GetClassID(nullptr), E_POINTER);
    conf::Returns("IMediaFilter", "GetClassID", mf->GetClassID(&clsid), S_OK);
    conf::Holds("IMediaFilter", "the class is CLSID_FilterGraph", IsEqualGUID(clsid, CLSID_FilterGraph));
    conf::Returns("IMediaFilter", "GetState(NULL)", mf->GetState(0, nullptr), E_POINTER);
    conf::Returns("IMediaFilter", "GetState", mf->GetState(0, &fs), S_OK);
    conf::Returns("IMediaFilter", "GetSyncSource(NULL)", mf->GetSyncSource(nullptr), E_POINTER);
    conf::Returns("IMediaFilter", "SetDefaultSyncSource", graph->SetDefaultSyncSource(), S_OK);
    conf::Returns("IMediaFilter", "GetSyncSource", mf->GetSyncSource(&clk), S_OK);
    conf::Holds("IMediaFilter", "the graph provides a clock", clk.p != nullptr);
    TestFilter *f = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
    graph->AddFilter(f, L"f");
    conf::Holds("IMediaFilter", "filters get the graph's clock", f->clock == clk.p);
    conf::Returns("IMediaFilter", "Run(start)", mf->Run(0), S_OK);
    conf::Returns("IMediaFilter", "Pause", mf->Pause(), S_OK);
    conf::Returns("IMediaFilter", "Stop", mf->Stop(), S_OK);
    conf::Returns("IMediaFilter", "SetSyncSource(NULL)", mf->SetSyncSource(nullptr), S_OK);
    IReferenceClock *none = (IReferenceClock *)1;
    mf->GetSyncSource(&none);
    conf::Holds("IMediaFilter", "no clock after SetSyncSource(NULL)", none == nullptr && f->clock == nullptr);
    f->Release();

    // the clock itself
    if (clk.p)
    {
        REFERENCE_TIME t1, t2;
        DWORD_PTR cookie;
        HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        conf::Returns("IReferenceClock", "GetTime(NULL)", clk->GetTime(nullptr), E_POINTER);
        clk->GetTime(&t1);
        Sleep(20);
        clk->GetTime(&t2);
        conf::Holds("IReferenceClock", "time goes on", t2 - t1 >= 150000);
        conf::Returns("IReferenceClock", "AdviseTime(no event)", clk->AdviseTime(t2, 0, 0, &cookie), E_INVALIDARG);
        conf::Returns("IReferenceClock", "AdviseTime", clk->AdviseTime(t2, 300000, (HEVENT)ev, &cookie), S_OK);
        conf::Holds("IReferenceClock", "the event comes at its time", WaitForSingleObject(ev, 1000) == WAIT_OBJECT_0);
        conf::Returns("IReferenceClock", "Unadvise(done)", clk->Unadvise(cookie), S_FALSE);
        conf::Returns("IReferenceClock", "AdvisePeriodic(period 0)", clk->AdvisePeriodic(t2, 0, (HSEMAPHORE)ev, &cookie),
                      E_INVALIDARG);
        CloseHandle(ev);
    }
}

// ---- Seeking: IMediaSeeking and IMediaPosition ----

TEST_F(Conformance, Seeking)
{
    Ptr<IMediaSeeking> ms;
    Ptr<IMediaPosition> mp;
    ms.p = Get<IMediaSeeking>(IID_IMediaSeeking);
    mp.p = Get<IMediaPosition>(IID_IMediaPosition);
    ASSERT_TRUE(ms.p && mp.p);
    ASSERT_TRUE(RenderMovie());
    LONGLONG d, cur = 10000000, stop;
    GUID fmt;
    double rate;
    REFTIME t;
    LONG can;

    struct { const char *what; HRESULT got, want; } calls[] = {
        {"GetDuration(NULL)", ms->GetDuration(nullptr), E_POINTER},
        {"GetDuration", ms->GetDuration(&d), S_OK},
        {"GetTimeFormat", ms->GetTimeFormat(&fmt), S_OK},
        {"IsFormatSupported(frames)", ms->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE},
        {"SetTimeFormat(frames)", ms->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG},
        {"SetPositions(nothing)", ms->SetPositions(&cur, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_NoPositioning), S_FALSE},
        {"SetPositions(NULL current)", ms->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER},
        {"SetRate(0)", ms->SetRate(0.0), E_INVALIDARG},
        {"SetRate(2)", ms->SetRate(2.0), S_OK},
        {"GetRate", ms->GetRate(&rate), S_OK},
    };
    for (auto &c : calls) conf::Returns("IMediaSeeking", c.what, c.got, c.want);
    conf::Holds("IMediaSeeking", "duration of the 3 s movie", llabs(d - 30000000) < 1000000);
    conf::Holds("IMediaSeeking", "the rate set", rate == 2.0);
    ms->SetRate(1.0);

    struct { const char *what; HRESULT got, want; } pos[] = {
        {"get_Duration(NULL)", mp->get_Duration(nullptr), E_POINTER},
        {"get_Duration", mp->get_Duration(&t), S_OK},
        {"put_Rate(-1)", mp->put_Rate(-1.0), E_INVALIDARG},
        {"CanSeekForward(NULL)", mp->CanSeekForward(nullptr), E_POINTER},
        {"CanSeekForward", mp->CanSeekForward(&can), S_OK},
        {"put_CurrentPosition(1 s)", mp->put_CurrentPosition(1.0), S_OK},
    };
    for (auto &c : pos) conf::Returns("IMediaPosition", c.what, c.got, c.want);
    conf::Holds("IMediaPosition", "duration in seconds", fabs(t - 3.0) < 0.1);
    conf::Holds("IMediaPosition", "can seek forward", can == OATRUE);
    control->Pause();
    OAFilterState s;
    control->GetState(5000, &s);
    mp->get_CurrentPosition(&t);
    conf::Holds("IMediaPosition", "the position set is the position", fabs(t - 1.0) < 0.1);
    conf::Returns("IMediaPosition", "put_StopTime(2 s)", mp->put_StopTime(2.0), S_OK);
    mp->get_StopTime(&t);
    conf::Holds("IMediaPosition", "the stop time set", fabs(t - 2.0) < 0.01);
}

// ---- Events: IMediaEventEx and IMediaEventSink ----

TEST_F(Conformance, Events)
{
    Ptr<IMediaEventSink> sink;
    sink.p = Get<IMediaEventSink>(IID_IMediaEventSink);
    ASSERT_TRUE(sink.p);
    LONG code;
    LONG_PTR p1, p2;

    struct { const char *what; HRESULT got, want; } calls[] = {
        {"GetEvent(NULL)", events->GetEvent(nullptr, &p1, &p2, 0), E_POINTER},
        {"GetEvent, none waiting", events->GetEvent(&code, &p1, &p2, 0), E_ABORT},
        {"CancelDefaultHandling(no default)", events->CancelDefaultHandling(EC_USERABORT), E_INVALIDARG},
        {"RestoreDefaultHandling(no default)", events->RestoreDefaultHandling(EC_USERABORT), E_INVALIDARG},
        {"SetNotifyFlags(unknown)", events->SetNotifyFlags(2), E_INVALIDARG},
        {"GetNotifyFlags(NULL)", events->GetNotifyFlags(nullptr), E_POINTER},
        {"SetNotifyWindow(not a window)", events->SetNotifyWindow((OAHWND)0x1234, WM_USER, 0), E_INVALIDARG},
        {"WaitForCompletion(NULL)", events->WaitForCompletion(0, nullptr), E_POINTER},
        {"WaitForCompletion stopped", events->WaitForCompletion(0, &code), VFW_E_WRONG_STATE},
        {"GetEventHandle(NULL)", events->GetEventHandle(nullptr), E_POINTER},
    };
    for (auto &c : calls) conf::Returns("IMediaEventEx", c.what, c.got, c.want);

    conf::Returns("IMediaEventSink", "Notify(EC_USERABORT)", sink->Notify(EC_USERABORT, 7, 0), S_OK);
    conf::Holds("IMediaEventSink", "a notified event reaches GetEvent",
                events->GetEvent(&code, &p1, &p2, 0) == S_OK && code == EC_USERABORT && p1 == 7);
    events->FreeEventParams(code, p1, p2);
    sink->Notify(EC_REPAINT, 0, 0);
    conf::Holds("IMediaEventSink", "EC_REPAINT is handled by the graph", events->GetEvent(&code, &p1, &p2, 0) == E_ABORT);
    conf::Returns("IMediaEventEx", "CancelDefaultHandling(EC_REPAINT)", events->CancelDefaultHandling(EC_REPAINT), S_OK);
    sink->Notify(EC_REPAINT, 0, 0);
    conf::Holds("IMediaEventEx", "EC_REPAINT reaches the client once not handled",
                events->GetEvent(&code, &p1, &p2, 0) == S_OK && code == EC_REPAINT);
    conf::Returns("IMediaEventEx", "RestoreDefaultHandling(EC_REPAINT)", events->RestoreDefaultHandling(EC_REPAINT), S_OK);

    // EC_COMPLETE reaches the client when every renderer has completed: two renderers running
    TestFilter *src[2], *r[2];
    for (int i = 0; i < 2; i++)
    {
        src[i] = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
        r[i] = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
        graph->AddFilter(src[i], nullptr);
        graph->AddFilter(r[i], nullptr);
        graph->ConnectDirect(src[i], r[i], nullptr);
    }
    control->Run();
    bool complete = false;
    for (int wait = 0; wait < 50 && !(r[0]->ended && r[1]->ended); wait++) Sleep(100);
    while (events->GetEvent(&code, &p1, &p2, 500) == S_OK)
        if (code == EC_COMPLETE) complete = !complete;   // exactly once
    conf::Holds("IMediaEventSink", "both renderers completed", r[0]->ended && r[1]->ended);
    conf::Holds("IMediaEventSink", "one EC_COMPLETE for two renderers", complete);
    control->Stop();
    events->CancelDefaultHandling(EC_COMPLETE);
    sink->Notify(EC_COMPLETE, S_OK, (LONG_PTR) static_cast<IBaseFilter *>(r[0]));
    conf::Holds("IMediaEventEx", "each EC_COMPLETE once not handled",
                events->GetEvent(&code, &p1, &p2, 0) == S_OK && code == EC_COMPLETE && p2 == (LONG_PTR) static_cast<IBaseFilter *>(r[0]));
    for (int i = 0; i < 2; i++)
    {
        src[i]->Release();
        r[i]->Release();
    }
}

// ---- IBasicAudio, IBasicVideo2, IVideoWindow ----

TEST_F(Conformance, AudioAndVideo)
{
    Ptr<IBasicAudio> ba;
    Ptr<IBasicVideo2> bv;
    Ptr<IVideoWindow> vw;
    ba.p = Get<IBasicAudio>(IID_IBasicAudio);
    bv.p = Get<IBasicVideo2>(IID_IBasicVideo2);
    vw.p = Get<IVideoWindow>(IID_IVideoWindow);
    ASSERT_TRUE(ba.p && bv.p && vw.p);
    LONG v, w, h, x, y, size;

    conf::Returns("IBasicAudio", "put_Volume without a sound renderer", ba->put_Volume(0), E_NOTIMPL);
    ASSERT_TRUE(RenderMovie());
    struct { const char *what; HRESULT got, want; } audio[] = {
        {"get_Volume(NULL)", ba->get_Volume(nullptr), E_POINTER},
        {"put_Volume(1)", ba->put_Volume(1), E_INVALIDARG},
        {"put_Volume(-10001)", ba->put_Volume(-10001), E_INVALIDARG},
        {"put_Balance(10001)", ba->put_Balance(10001), E_INVALIDARG},
        {"put_Volume(-2000)", ba->put_Volume(-2000), S_OK},
        {"put_Balance(-3000)", ba->put_Balance(-3000), S_OK},
    };
    for (auto &c : audio) conf::Returns("IBasicAudio", c.what, c.got, c.want);
    control->Pause();
    OAFilterState s;
    control->GetState(5000, &s);
    // read back from the pipeline's elements
    conf::Holds("IBasicAudio", "the volume reaches the pipeline", SUCCEEDED(ba->get_Volume(&v)) && v == -2000);
    conf::Holds("IBasicAudio", "the balance reaches the pipeline", SUCCEEDED(ba->get_Balance(&v)) && v == -3000);

    struct { const char *what; HRESULT got, want; } video[] = {
        {"GetVideoSize(NULL)", bv->GetVideoSize(nullptr, &h), E_POINTER},
        {"GetVideoSize", bv->GetVideoSize(&w, &h), S_OK},
        {"SetSourcePosition(negative left)", bv->SetSourcePosition(-1, 0, 10, 10), E_INVALIDARG},
        {"SetSourcePosition(beyond the picture)", bv->SetSourcePosition(0, 0, 1000, 10), E_INVALIDARG},
        {"SetSourcePosition(a quarter)", bv->SetSourcePosition(0, 0, 160, 120), S_OK},
        {"IsUsingDefaultSource after", bv->IsUsingDefaultSource(), S_FALSE},
        {"SetDefaultSourcePosition", bv->SetDefaultSourcePosition(), S_OK},
        {"IsUsingDefaultSource", bv->IsUsingDefaultSource(), S_OK},
        {"SetDestinationPosition(width 0)", bv->SetDestinationPosition(0, 0, 0, 10), E_INVALIDARG},
        {"GetPreferredAspectRatio(NULL)", bv->GetPreferredAspectRatio(nullptr, &y), E_POINTER},
        {"GetPreferredAspectRatio", bv->GetPreferredAspectRatio(&x, &y), S_OK},
        {"GetCurrentImage(NULL size)", bv->GetCurrentImage(nullptr, nullptr), E_POINTER},
        {"GetCurrentImage size", bv->GetCurrentImage(&size, nullptr), S_OK},
        {"GetVideoPaletteEntries", bv->GetVideoPaletteEntries(0, 1, &v, &w), VFW_E_NO_PALETTE_AVAILABLE},
    };
    for (auto &c : video) conf::Returns("IBasicVideo2", c.what, c.got, c.want);
    conf::Holds("IBasicVideo2", "the movie's size", w == 320 && h == 240);
    conf::Holds("IBasicVideo2", "its aspect ratio 4:3", x == 4 && y == 3);
    conf::Holds("IBasicVideo2", "an image is a header and 32-bit rows", size == (LONG)sizeof(BITMAPINFOHEADER) + 320 * 240 * 4);
    LONG tiny = 10;
    std::vector<LONG> image(size / 4 + 1);
    conf::Returns("IBasicVideo2", "GetCurrentImage(buffer too small)", bv->GetCurrentImage(&tiny, image.data()),
                  E_OUTOFMEMORY);
    conf::Returns("IBasicVideo2", "GetCurrentImage", bv->GetCurrentImage(&size, image.data()), S_OK);

    BSTR caption = nullptr;
    struct { const char *what; HRESULT got, want; } window[] = {
        {"get_Caption(NULL)", vw->get_Caption(nullptr), E_POINTER},
        {"put_FullScreenMode(bad)", vw->put_FullScreenMode(5), E_INVALIDARG},
        {"put_BorderColor", vw->put_BorderColor(0x123456), S_OK},
        {"get_BorderColor", vw->get_BorderColor(&v), S_OK},
        {"SetWindowPosition(negative width)", vw->SetWindowPosition(0, 0, -1, 10), E_INVALIDARG},
        {"get_Caption", vw->get_Caption(&caption), S_OK},
    };
    for (auto &c : window) conf::Returns("IVideoWindow", c.what, c.got, c.want);
    conf::Holds("IVideoWindow", "the border colour set", v == 0x123456);
    SysFreeString(caption);
}

// ---- IGraphVersion, IObjectWithSite, IGraphConfig ----

TEST_F(Conformance, VersionSiteConfig)
{
    Ptr<IGraphVersion> gv;
    Ptr<IObjectWithSite> ows;
    Ptr<IGraphConfig> gc;
    gv.p = Get<IGraphVersion>(IID_IGraphVersion);
    ows.p = Get<IObjectWithSite>(IID_IObjectWithSite);
    gc.p = Get<IGraphConfig>(IID_IGraphConfig);
    ASSERT_TRUE(gv.p && ows.p && gc.p);
    LONG v0, v1, v2, v3;
    TestFilter *a = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
    TestFilter *b = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));

    conf::Returns("IGraphVersion", "QueryVersion(NULL)", gv->QueryVersion(nullptr), E_POINTER);
    gv->QueryVersion(&v0);
    graph->AddFilter(a, L"a");
    graph->AddFilter(b, L"b");
    gv->QueryVersion(&v1);
    graph->ConnectDirect(a, b, nullptr);
    gv->QueryVersion(&v2);
    graph->Disconnect(a);
    graph->Disconnect(b);
    gv->QueryVersion(&v3);
    conf::Holds("IGraphVersion", "AddFilter changes the version", v1 > v0);
    conf::Holds("IGraphVersion", "a connection changes the version", v2 > v1);
    conf::Holds("IGraphVersion", "a disconnection changes the version", v3 > v2);

    Ptr<IUnknown> site;
    conf::Returns("IObjectWithSite", "GetSite(NULL)", ows->GetSite(IID_IUnknown, nullptr), E_POINTER);
    conf::Returns("IObjectWithSite", "GetSite without a site", ows->GetSite(IID_IUnknown, (void **)&site), E_FAIL);
    conf::Returns("IObjectWithSite", "SetSite", ows->SetSite(static_cast<IBaseFilter *>(b)), S_OK);
    conf::Returns("IObjectWithSite", "GetSite", ows->GetSite(IID_IBaseFilter, (void **)&site), S_OK);
    conf::Holds("IObjectWithSite", "the site set", site.p == static_cast<IBaseFilter *>(b));
    conf::Returns("IObjectWithSite", "SetSite(NULL)", ows->SetSite(nullptr), S_OK);

    Ptr<IEnumFilters> cached;
    REFERENCE_TIME start;
    DWORD flags;
    IBaseFilter *listed = nullptr;
    struct { const char *what; HRESULT got, want; } calls[] = {
        {"AddFilterToCache(NULL)", gc->AddFilterToCache(nullptr), E_POINTER},
        {"AddFilterToCache", gc->AddFilterToCache(a), S_OK},
        {"AddFilterToCache again", gc->AddFilterToCache(a), S_FALSE},
        {"EnumCacheFilter(NULL)", gc->EnumCacheFilter(nullptr), E_POINTER},
        {"EnumCacheFilter", gc->EnumCacheFilter(&cached), S_OK},
        {"RemoveFilterFromCache(NULL)", gc->RemoveFilterFromCache(nullptr), E_POINTER},
        {"GetStartTime stopped", gc->GetStartTime(&start), VFW_E_WRONG_STATE},
        {"SetFilterFlags(unknown flag)", gc->SetFilterFlags(b, 2), E_INVALIDARG},
        {"SetFilterFlags(removable)", gc->SetFilterFlags(b, AM_FILTER_FLAGS_REMOVABLE), S_OK},
        {"GetFilterFlags(NULL)", gc->GetFilterFlags(b, nullptr), E_POINTER},
        {"GetFilterFlags", gc->GetFilterFlags(b, &flags), S_OK},
        {"Reconnect(no pins)", gc->Reconnect(nullptr, nullptr, nullptr, nullptr, nullptr, 0), E_INVALIDARG},
        {"Reconfigure(NULL)", gc->Reconfigure(nullptr, nullptr, 0, nullptr), E_POINTER},
        {"PushThroughData(NULL)", gc->PushThroughData(nullptr, nullptr, nullptr), E_POINTER},
        {"RemoveFilterEx(unknown flag)", gc->RemoveFilterEx(b, 2), E_INVALIDARG},
    };
    for (auto &c : calls) conf::Returns("IGraphConfig", c.what, c.got, c.want);
    conf::Holds("IGraphConfig", "the flags set", flags == AM_FILTER_FLAGS_REMOVABLE);
    conf::Holds("IGraphConfig", "a cached filter leaves the graph", filter_count(graph) == 1);
    conf::Holds("IGraphConfig", "the cache lists it", cached && cached->Next(1, &listed, nullptr) == S_OK
                                                      && listed == static_cast<IBaseFilter *>(a));
    if (listed) listed->Release();
    conf::Returns("IGraphConfig", "RemoveFilterFromCache", gc->RemoveFilterFromCache(a), S_OK);
    conf::Returns("IGraphConfig", "RemoveFilterFromCache again", gc->RemoveFilterFromCache(a), S_FALSE);
    // a connection remade through the graph's choice
    graph->AddFilter(a, L"a");
    graph->ConnectDirect(a, b, nullptr);
    conf::Returns("IGraphConfig", "Reconnect(out only)", gc->Reconnect(a, nullptr, nullptr, nullptr, nullptr, 0), S_OK);
    IPin *peer = nullptr;
    conf::Holds("IGraphConfig", "connected again", SUCCEEDED(static_cast<IPin *>(a)->ConnectedTo(&peer)));
    if (peer) peer->Release();
    control->Run();
    conf::Returns("IGraphConfig", "GetStartTime running", gc->GetStartTime(&start), S_OK);
    control->Stop();
    conf::Returns("IGraphConfig", "RemoveFilterEx(leave connected)", gc->RemoveFilterEx(b, REMFILTERF_LEAVECONNECTED), S_OK);
    conf::Holds("IGraphConfig", "left connected", SUCCEEDED(static_cast<IPin *>(a)->ConnectedTo(&peer)));
    if (peer) peer->Release();
    a->Release();
    b->Release();
}

// ---- IFilterMapper2 ----

TEST_F(Conformance, FilterMapper)
{
    const char *I = "IFilterMapper2";
    Ptr<IFilterMapper2> mapper;
    conf::Returns(I, "CoCreateInstance(CLSID_FilterMapper2)",
                  CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, (void **)&mapper),
                  S_OK);
    ASSERT_TRUE(mapper.p);
    const GUID video[2] = {MEDIATYPE_Video, GUID_NULL};
    const CLSID test_clsid = {0x1b2f3c4d, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa}};
    const GUID text_type = {0x7b2f3c4d, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xab}};
    Ptr<IEnumMoniker> e;

    conf::Returns(I, "EnumMatchingFilters(NULL)", mapper->EnumMatchingFilters(nullptr, 0, FALSE, 0, TRUE, 1, video,
                                                  nullptr, nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr), E_POINTER);
    conf::Returns(I, "EnumMatchingFilters(video in)", mapper->EnumMatchingFilters(&e, 0, FALSE, 0, TRUE, 1, video,
                                                      nullptr, nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr), S_OK);
    // merit order, and the renderer among them
    IMoniker *m;
    DWORD last = 0xffffffff;
    bool ordered = true, renderer = false;
    while (e && e->Next(1, &m, nullptr) == S_OK)
    {
        IPropertyBag *bag;
        VARIANT var;
        if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, (void **)&bag)))
        {
            VariantInit(&var);
            if (SUCCEEDED(bag->Read(L"Merit", &var, nullptr)))
            {
                ordered = ordered && (DWORD)V_I4(&var) <= last;
                last = V_I4(&var);
            }
            VariantClear(&var);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &var, nullptr)) && !lstrcmpW(V_BSTR(&var), L"Video Renderer"))
                renderer = true;
            VariantClear(&var);
            bag->Release();
        }
        m->Release();
    }
    conf::Holds(I, "filters come best merit first", ordered);
    conf::Holds(I, "the video renderer takes video", renderer);

    REGPINTYPES type = {&MEDIATYPE_Text, &text_type};
    REGFILTERPINS2 pin = {};
    pin.nMediaTypes = 1;
    pin.lpMediaType = &type;
    REGFILTER2 rf = {};
    rf.dwVersion = 2;
    rf.dwMerit = MERIT_NORMAL;
    rf.cPins2 = 1;
    rf.rgPins2 = &pin;
    const GUID wanted[2] = {MEDIATYPE_Text, text_type};
    conf::Returns(I, "RegisterFilter(NULL REGFILTER2)", mapper->RegisterFilter(test_clsid, L"Test", nullptr, nullptr,
                                                                              nullptr, nullptr), E_POINTER);
    conf::Returns(I, "RegisterFilter", mapper->RegisterFilter(test_clsid, L"Conformance Test Filter", nullptr, nullptr,
                                                              nullptr, &rf), S_OK);
    auto finds_it = [&]() {
        Ptr<IEnumMoniker> en;
        IMoniker *mk;
        int n = 0;
        mapper->EnumMatchingFilters(&en, 0, TRUE, 0, TRUE, 1, wanted, nullptr, nullptr, FALSE, FALSE, 0, nullptr,
                                    nullptr, nullptr);
        while (en && en->Next(1, &mk, nullptr) == S_OK)
        {
            n++;
            mk->Release();
        }
        return n;
    };
    conf::Holds(I, "a registered filter is found by its type", finds_it() == 1);
    conf::Returns(I, "UnregisterFilter", mapper->UnregisterFilter(nullptr, nullptr, test_clsid), S_OK);
    conf::Holds(I, "an unregistered filter is not found", finds_it() == 0);
    conf::Returns(I, "CreateCategory(NULL description)", mapper->CreateCategory(test_clsid, MERIT_NORMAL, nullptr),
                  E_POINTER);
}

// ---- The client's own filters ----

TEST_F(Conformance, ClientFilters)
{
    const char *I = "client filters";
    LONG code;

    // the client's source into the client's renderer, the graph running both
    {
        TestFilter *s = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
        TestFilter *r = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
        graph->AddFilter(s, L"source");
        graph->AddFilter(r, L"renderer");
        conf::Returns(I, "ConnectDirect(client source, client renderer)", graph->ConnectDirect(s, r, nullptr), S_OK);
        conf::Holds(I, "the allocator was agreed", s->allocator_got.cBuffers >= 1);
        code = RunToEnd(10000);
        conf::Holds(I, "run completes (EC_COMPLETE)", code == EC_COMPLETE);
        conf::Holds(I, "every frame reached the renderer", r->received == kFrames);
        control->Stop();
        graph->RemoveFilter(s);
        graph->RemoveFilter(r);
        s->Release();
        r->Release();
    }
    // the client's source through a converter of ours into the client's renderer of another layout
    {
        TestFilter *s = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
        TestFilter *r = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB24, 24));
        graph->AddFilter(s, L"source");
        graph->AddFilter(r, L"renderer");
        conf::Returns(I, "Connect(RGB32 source, RGB24 renderer)", graph->Connect(s, r), S_OK);
        code = RunToEnd(10000);
        conf::Holds(I, "through the pipeline: completes", code == EC_COMPLETE);
        conf::Holds(I, "through the pipeline: every frame", r->received == kFrames);
        conf::Holds(I, "through the pipeline: the colour", r->first_pixel == (kColour & 0xffffff) && r->pixels_alike);
        control->Stop();
        conf::Returns(I, "Stop, Pause, Stop again", control->Pause(), S_OK);
        control->Stop();
        s->Release();
        r->Release();
    }
}

TEST_F(Conformance, ClientFiltersWithOurs)
{
    const char *I = "client filters";
    // the client's source into our video renderer: the picture shown is the one sent
    {
        TestFilter *s = new TestFilter(true, PictureType(MEDIASUBTYPE_RGB32, 32));
        graph->AddFilter(s, L"source");
        conf::Returns(I, "Render(client source)", graph->Render(s), S_OK);
        control->Pause();
        OAFilterState st;
        control->GetState(5000, &st);
        Ptr<IBasicVideo> bv;
        bv.p = Get<IBasicVideo>(IID_IBasicVideo);
        LONG size = 0;
        std::vector<BYTE> image;
        if (bv.p && SUCCEEDED(bv->GetCurrentImage(&size, nullptr)))
        {
            image.resize(size);
            bv->GetCurrentImage(&size, (LONG *)image.data());
        }
        DWORD pixel = 0;
        if (image.size() >= sizeof(BITMAPINFOHEADER) + 4) memcpy(&pixel, image.data() + sizeof(BITMAPINFOHEADER), 4);
        conf::Holds(I, "our renderer shows the client's picture", (pixel & 0xffffff) == (kColour & 0xffffff));
        LONG code = 0;
        control->Run();
        events->WaitForCompletion(10000, &code);
        conf::Holds(I, "our renderer completes the client's stream", code == EC_COMPLETE);
        control->Stop();
        s->Release();
    }
    // a file of one colour through our source into the client's renderer
    {
        char tmpl[] = "/tmp/confgraphXXXXXX";
        std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        std::string file = dir + "/colour.avi";
        std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0xC08040:size=64x48:rate=25 -t 0.48 "
                          "-c:v rawvideo -pix_fmt bgr24 '" + file + "'";
        conf::Holds(I, "a file of one colour made", system(cmd.c_str()) == 0);
        Ptr<IBaseFilter> src;
        graph->AddSourceFilter(W(dos_path(file)), L"file", &src);
        TestFilter *r = new TestFilter(false, PictureType(MEDIASUBTYPE_RGB32, 32));
        graph->AddFilter(r, L"renderer");
        IPin *out = src.p ? first_pin(src, PINDIR_OUTPUT) : nullptr;
        conf::Returns(I, "Connect(our source, client renderer)", out ? graph->Connect(out, r) : E_FAIL, S_OK);
        if (out) out->Release();
        LONG code = RunToEnd(10000);
        conf::Holds(I, "our source into the client's renderer completes", code == EC_COMPLETE);
        conf::Holds(I, "the file's frames reach the client's renderer", r->received == 12);
        char what[64];
        snprintf(what, sizeof(what), "with the file's colour (%06lx)", (unsigned long)(r->first_pixel & 0xffffff));
        conf::Holds(I, what, near_colour(r->first_pixel) && r->pixels_alike);
        control->Stop();
        r->Release();
        unlink(file.c_str());
        rmdir(dir.c_str());
    }
}

}  // namespace

namespace {

// ---- Aggregation: a client's object holds the graph inside it ----

class Outer final : public IUnknown
{
public:
    IUnknown *inner = nullptr;
    LONG ref = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown))
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&ref); }
};

TEST(ConformanceAggregation, FilterGraph)
{
    const char *I = "IFilterGraph2";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Outer outer;
    IGraphBuilder *gb = nullptr;
    conf::Returns(I, "aggregated, asked for another interface than IUnknown",
                  CoCreateInstance(CLSID_FilterGraph, &outer, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&gb),
                  CLASS_E_NOAGGREGATION);
    conf::Returns(I, "aggregated", CoCreateInstance(CLSID_FilterGraph, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    (void **)&outer.inner), S_OK);
    if (outer.inner)
    {
        IUnknown *back = nullptr;
        conf::Returns(I, "the inner unknown gives the graph's interfaces",
                      outer.inner->QueryInterface(IID_IGraphBuilder, (void **)&gb), S_OK);
        if (gb)
        {
            conf::Holds(I, "an interface of the graph answers for the outer object",
                        SUCCEEDED(gb->QueryInterface(IID_IUnknown, (void **)&back)) && back == &outer);
            if (back) back->Release();
            gb->Release();
        }
        conf::Holds(I, "the inner unknown is the last reference", outer.inner->Release() == 0);
    }
    CoUninitialize();
}

}  // namespace
