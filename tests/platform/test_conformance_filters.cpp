// The documented behaviour of the platform's filters, their pins and the objects that make them: every
// method's argument checks and return codes, the connection rules of pins, the File Writer's and the AVI
// multiplexer's own interfaces, and COM aggregation. Each check counts for its interface
// (conformance.h); the program prints how many hold.
#include <windows.h>
#include <dshow.h>
#include <evcode.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "conformance.h"
#include "editing_services.h"

using conf::Holds;
using conf::Returns;

namespace {

std::string &out_dir_name();

struct ComEnvironment : ::testing::Environment
{
    void SetUp() override
    {
        SetEnvironmentVariableW(L"MEDIAPLATFORM_VIRTUAL_CAMERA", L"1");
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    }
    void TearDown() override
    {
        CoUninitialize();
        if (!out_dir_name().empty()) system(("rm -rf '" + out_dir_name() + "'").c_str());
    }
};
::testing::Environment *const com_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

template <class T> struct Ptr
{
    T *p = nullptr;
    Ptr() {}
    explicit Ptr(T *q) : p(q) {}
    Ptr(const Ptr &) = delete;
    ~Ptr() { reset(); }
    void reset() { if (p) p->Release(); p = nullptr; }
    T **operator&() { reset(); return &p; }
    T *operator->() const { return p; }
    operator T *() const { return p; }
};

// The reference count of an object, read through AddRef and Release.
ULONG refs(IUnknown *unk)
{
    unk->AddRef();
    return unk->Release();
}

bool same_object(IUnknown *a, IUnknown *b)
{
    IUnknown *ua = NULL, *ub = NULL;
    if (a) a->QueryInterface(IID_IUnknown, (void **)&ua);
    if (b) b->QueryInterface(IID_IUnknown, (void **)&ub);
    bool same = ua && ua == ub;
    if (ua) ua->Release();
    if (ub) ub->Release();
    return same;
}

typedef std::u16string wstr;
const WCHAR *W(const wstr &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

std::string utf8(const WCHAR *w)
{
    char buf[1024];
    if (!w || !WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof(buf), NULL, NULL)) return "";
    return buf;
}

wstr dos_path(const std::string &unix_path)
{
    WCHAR *d = wine_get_dos_file_name(unix_path.c_str());
    wstr out = d ? reinterpret_cast<const char16_t *>(d) : u"";
    HeapFree(GetProcessHeap(), 0, d);
    return out;
}

std::string media(const char *name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/nonexistent") + "/" + name;
}

std::string &out_dir_name()
{
    static std::string dir;
    return dir;
}

std::string out_dir()
{
    std::string &dir = out_dir_name();
    if (dir.empty())
    {
        char tmpl[] = "/tmp/conformanceXXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    return dir;
}

long long file_size(const std::string &file)
{
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

std::string name_of(REFCLSID clsid)
{
    if (IsEqualGUID(clsid, CLSID_AviDest)) return "AVI Mux";
    if (IsEqualGUID(clsid, CLSID_FileWriter)) return "File Writer";
    if (IsEqualGUID(clsid, CLSID_WavDest)) return "WavDest";
    if (IsEqualGUID(clsid, CLSID_CaptureGraphBuilder2)) return "Capture Graph Builder";
    WCHAR text[40];
    char out[40];
    StringFromGUID2(clsid, text, 40);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), NULL, NULL);
    return out;
}

// The class of the first filter in a device category (a compressor or the virtual camera).
CLSID first_of_category(REFGUID category)
{
    CLSID clsid = GUID_NULL;
    Ptr<ICreateDevEnum> devenum;
    Ptr<IEnumMoniker> monikers;
    Ptr<IMoniker> m;
    Ptr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devenum))
            || devenum->CreateClassEnumerator(category, &monikers, 0) != S_OK
            || monikers->Next(1, &m, NULL) != S_OK
            || FAILED(m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&filter)))
        return clsid;
    filter->GetClassID(&clsid);
    return clsid;
}

IBaseFilter *create_filter(REFCLSID clsid)
{
    IBaseFilter *f = NULL;
    if (FAILED(CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&f))) return NULL;
    return f;
}

IGraphBuilder *create_graph()
{
    IGraphBuilder *g = NULL;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&g)))
        return NULL;
    return g;
}

ICaptureGraphBuilder2 *create_builder()
{
    ICaptureGraphBuilder2 *b = NULL;
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&b)))
        return NULL;
    return b;
}

std::vector<IPin *> pins_of(IBaseFilter *filter)
{
    std::vector<IPin *> pins;
    IEnumPins *e = NULL;
    IPin *pin;
    if (FAILED(filter->EnumPins(&e))) return pins;
    while (e->Next(1, &pin, NULL) == S_OK) pins.push_back(pin);
    e->Release();
    return pins;
}

void release_all(std::vector<IPin *> &pins)
{
    for (IPin *p : pins) p->Release();
    pins.clear();
}

IPin *pin_of(IBaseFilter *filter, PIN_DIRECTION dir, int n = 0)
{
    std::vector<IPin *> pins = pins_of(filter);
    IPin *found = NULL;
    for (IPin *p : pins)
    {
        PIN_DIRECTION d;
        if (!found && SUCCEEDED(p->QueryDirection(&d)) && d == dir && n-- == 0)
        {
            found = p;
            found->AddRef();
        }
    }
    release_all(pins);
    return found;
}

AM_MEDIA_TYPE media_type(REFGUID major, REFGUID sub = GUID_NULL, REFGUID format = GUID_NULL)
{
    AM_MEDIA_TYPE mt;
    memset(&mt, 0, sizeof(mt));
    mt.majortype = major;
    mt.subtype = sub;
    mt.formattype = format;
    return mt;
}

void free_type(AM_MEDIA_TYPE *mt)
{
    if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    memset(mt, 0, sizeof(*mt));
}

// The filters under test: the class table's and one of each catalog category present here.
struct FilterCase
{
    std::string name;
    CLSID clsid;
    bool runs_alone;     // may pause and run outside a graph with nothing set
};

std::vector<FilterCase> filter_cases()
{
    std::vector<FilterCase> cases = {
        { "AVI Mux", CLSID_AviDest, true },
        { "File Writer", CLSID_FileWriter, false },
        { "WavDest", CLSID_WavDest, true },
    };
    struct { const GUID *category; const char *name; } catalog[] = {
        { &CLSID_VideoCompressorCategory, "video compressor" },
        { &CLSID_AudioCompressorCategory, "audio compressor" },
        { &CLSID_VideoEffects2Category, "transition" },
        { &CLSID_VideoInputDeviceCategory, "capture filter" },
    };
    for (auto &c : catalog)
    {
        CLSID clsid = first_of_category(*c.category);
        if (!IsEqualGUID(clsid, GUID_NULL)) cases.push_back({ c.name, clsid, true });
    }
    return cases;
}

// ---- Aggregation ----

// A controlling unknown that counts its references and its QueryInterface calls, and hands every
// interface but IUnknown to the object it aggregates. Its inner object goes when it goes.
class Outer : public IUnknown
{
public:
    LONG ref = 1;
    int queries = 0;
    IUnknown *inner = NULL;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        queries++;
        if (IsEqualIID(riid, IID_IUnknown))
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        if (inner) return inner->QueryInterface(riid, out);
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&ref); }
    ~Outer() { Destroy(); }
    // the outer object's end: what the inner unknown's last Release returned
    ULONG Destroy()
    {
        ULONG r = inner ? inner->Release() : 0;
        inner = NULL;
        return r;
    }
};

// A clock that counts its references: a filter keeps the clock it is given until it goes.
class CountedClock : public IReferenceClock
{
public:
    LONG ref = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IReferenceClock))
        {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&ref); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *t) override { *t = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

struct AggregateCase
{
    CLSID clsid;
    const IID *iid;      // an interface the object has
};

std::vector<AggregateCase> aggregate_cases()
{
    std::vector<AggregateCase> cases = {
        { CLSID_AviDest, &IID_IBaseFilter },
        { CLSID_FileWriter, &IID_IBaseFilter },
        { CLSID_WavDest, &IID_IBaseFilter },
        { CLSID_CaptureGraphBuilder2, &IID_ICaptureGraphBuilder2 },
    };
    const GUID *categories[] = { &CLSID_VideoCompressorCategory, &CLSID_AudioCompressorCategory,
                                 &CLSID_VideoInputDeviceCategory };
    for (const GUID *category : categories)
    {
        CLSID clsid = first_of_category(*category);
        if (!IsEqualGUID(clsid, GUID_NULL)) cases.push_back({ clsid, &IID_IBaseFilter });
    }
    return cases;
}

TEST(Aggregation, InnerUnknownDelegatesToTheOuterOne)
{
    const char *I = "aggregation";
    std::vector<AggregateCase> cases = aggregate_cases();
    EXPECT_GE(cases.size(), 6u);   // four classes and at least two of the catalog

    for (const AggregateCase &c : cases)
    {
        std::string who = name_of(c.clsid);
        Outer outer;
        IUnknown *refused = (IUnknown *)0xdeadbeef;

        // an aggregating caller may ask for IUnknown only
        Returns(I, who + ": CoCreateInstance with an outer unknown for another interface",
                CoCreateInstance(c.clsid, &outer, CLSCTX_INPROC_SERVER, *c.iid, (void **)&refused),
                CLASS_E_NOAGGREGATION);
        Holds(I, who + ": refused creation clears the out pointer", refused == NULL);

        HRESULT hr = CoCreateInstance(c.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&outer.inner);
        Returns(I, who + ": CoCreateInstance with an outer unknown for IUnknown", hr, S_OK);
        if (FAILED(hr) || !outer.inner) continue;
        Holds(I, who + ": the inner unknown is not the outer one", outer.inner != &outer);
        Holds(I, who + ": creation leaves the outer count alone", outer.ref == 1);

        IUnknown *inner_again = NULL;
        Returns(I, who + ": inner QueryInterface(IUnknown)", outer.inner->QueryInterface(IID_IUnknown,
                (void **)&inner_again), S_OK);
        Holds(I, who + ": inner QueryInterface(IUnknown) gives the inner unknown", inner_again == outer.inner);
        if (inner_again) inner_again->Release();

        IUnknown *itf = NULL;
        Returns(I, who + ": inner QueryInterface for its interface",
                outer.inner->QueryInterface(*c.iid, (void **)&itf), S_OK);
        if (!itf) continue;
        Holds(I, who + ": the interface counts on the outer unknown", outer.ref == 2);
        itf->AddRef();
        Holds(I, who + ": AddRef through the interface reaches the outer unknown", outer.ref == 3);
        itf->Release();
        Holds(I, who + ": Release through the interface reaches the outer unknown", outer.ref == 2);

        IUnknown *identity = NULL;
        int queries = outer.queries;
        Returns(I, who + ": QueryInterface(IUnknown) through the interface",
                itf->QueryInterface(IID_IUnknown, (void **)&identity), S_OK);
        Holds(I, who + ": the identity through the interface is the outer unknown", identity == &outer);
        Holds(I, who + ": QueryInterface through the interface asks the outer unknown", outer.queries > queries);
        if (identity) identity->Release();

        IUnknown *other = (IUnknown *)0xdeadbeef;
        Returns(I, who + ": QueryInterface through the outer unknown for a missing interface",
                itf->QueryInterface(IID_IPersistStorage, (void **)&other), E_NOINTERFACE);
        Holds(I, who + ": a missing interface clears the out pointer", other == NULL);

        // the object lives as long as the outer object holds its inner unknown: a filter keeps its clock
        CountedClock clock;
        IBaseFilter *filter = NULL;
        if (SUCCEEDED(outer.inner->QueryInterface(IID_IBaseFilter, (void **)&filter)))
        {
            Returns(I, who + ": SetSyncSource on the aggregated filter", filter->SetSyncSource(&clock), S_OK);
            filter->Release();
        }
        itf->Release();
        Holds(I, who + ": the outer count is back to its own", outer.ref == 1);
        Holds(I, who + ": the inner unknown's last Release ends it", outer.Destroy() == 0);
        if (filter) Holds(I, who + ": the ended filter let go of its clock", clock.ref == 1);
    }
}

// ---- IPersist, IMediaFilter, IBaseFilter of every filter ----

TEST(Filters, BaseFilterMethods)
{
    IGraphBuilder *graph = create_graph();
    IFilterGraph *fg = NULL;
    ASSERT_TRUE(graph && SUCCEEDED(graph->QueryInterface(IID_IFilterGraph, (void **)&fg)));
    std::vector<FilterCase> cases = filter_cases();
    EXPECT_GE(cases.size(), 6u);

    for (const FilterCase &c : cases)
    {
        const std::string who = c.name + ": ";
        IBaseFilter *f = create_filter(c.clsid);
        Holds("IBaseFilter", who + "CoCreateInstance for IBaseFilter", f != NULL);
        if (!f) continue;

        CLSID clsid = GUID_NULL;
        Returns("IPersist", who + "GetClassID(NULL)", f->GetClassID(NULL), E_POINTER);
        Returns("IPersist", who + "GetClassID", f->GetClassID(&clsid), S_OK);
        Holds("IPersist", who + "GetClassID names the class it was made from", IsEqualGUID(clsid, c.clsid));

        FILTER_STATE state = (FILTER_STATE)-1;
        Returns("IMediaFilter", who + "GetState(NULL)", f->GetState(0, NULL), E_POINTER);
        Returns("IMediaFilter", who + "GetState of a new filter", f->GetState(0, &state), S_OK);
        Holds("IMediaFilter", who + "a new filter is stopped", state == State_Stopped);
        if (c.runs_alone)
        {
            const struct { FILTER_STATE to; const char *call; } steps[] = {
                { State_Paused, "Pause" }, { State_Running, "Run" }, { State_Paused, "Pause" }, { State_Stopped, "Stop" } };
            for (auto &step : steps)
            {
                HRESULT hr = step.to == State_Paused ? f->Pause() : step.to == State_Running ? f->Run(0) : f->Stop();
                Returns("IMediaFilter", who + step.call, hr, S_OK);
                state = (FILTER_STATE)-1;
                f->GetState(0, &state);
                Holds("IMediaFilter", who + "GetState after " + step.call, state == step.to);
            }
        }
        Returns("IMediaFilter", who + "Stop when stopped", f->Stop(), S_OK);

        CountedClock clock;
        IReferenceClock *got = (IReferenceClock *)0xdeadbeef;
        Returns("IMediaFilter", who + "GetSyncSource(NULL)", f->GetSyncSource(NULL), E_POINTER);
        Returns("IMediaFilter", who + "GetSyncSource without a clock", f->GetSyncSource(&got), S_OK);
        Holds("IMediaFilter", who + "no clock at first", got == NULL);
        Returns("IMediaFilter", who + "SetSyncSource", f->SetSyncSource(&clock), S_OK);
        Holds("IMediaFilter", who + "the filter holds the clock", clock.ref == 2);
        Returns("IMediaFilter", who + "GetSyncSource", f->GetSyncSource(&got), S_OK);
        Holds("IMediaFilter", who + "GetSyncSource gives the clock with a reference", got == &clock && clock.ref == 3);
        if (got == &clock) got->Release();
        Returns("IMediaFilter", who + "SetSyncSource(NULL)", f->SetSyncSource(NULL), S_OK);
        Holds("IMediaFilter", who + "the filter let go of the clock", clock.ref == 1);

        IEnumPins *pins_enum = (IEnumPins *)0xdeadbeef;
        IPin *pin = (IPin *)0xdeadbeef;
        Returns("IBaseFilter", who + "EnumPins(NULL)", f->EnumPins(NULL), E_POINTER);
        Returns("IBaseFilter", who + "FindPin(NULL id)", f->FindPin(NULL, &pin), E_POINTER);
        Returns("IBaseFilter", who + "FindPin(id, NULL)", f->FindPin(L"In", NULL), E_POINTER);
        Returns("IBaseFilter", who + "FindPin of no such pin", f->FindPin(L"No such pin", &pin), VFW_E_NOT_FOUND);
        Holds("IBaseFilter", who + "FindPin of no such pin clears the out pointer", pin == NULL);
        if (SUCCEEDED(f->EnumPins(&pins_enum))) pins_enum->Release();

        FILTER_INFO info;
        Returns("IBaseFilter", who + "QueryFilterInfo(NULL)", f->QueryFilterInfo(NULL), E_POINTER);
        memset(&info, 0xcc, sizeof(info));
        Returns("IBaseFilter", who + "QueryFilterInfo outside a graph", f->QueryFilterInfo(&info), S_OK);
        Holds("IBaseFilter", who + "outside a graph: no name and no graph", info.achName[0] == 0 && !info.pGraph);
        ULONG graph_refs = refs(fg);
        Returns("IBaseFilter", who + "JoinFilterGraph", f->JoinFilterGraph(fg, L"フィルタ one"), S_OK);
        Holds("IBaseFilter", who + "JoinFilterGraph adds no reference to the graph", refs(fg) == graph_refs);
        memset(&info, 0, sizeof(info));
        Returns("IBaseFilter", who + "QueryFilterInfo in a graph", f->QueryFilterInfo(&info), S_OK);
        Holds("IBaseFilter", who + "QueryFilterInfo gives the name it joined under",
              !lstrcmpW(info.achName, L"フィルタ one"));
        Holds("IBaseFilter", who + "QueryFilterInfo gives the graph with a reference",
              info.pGraph == fg && refs(fg) == graph_refs + 1);
        if (info.pGraph) info.pGraph->Release();
        Returns("IBaseFilter", who + "JoinFilterGraph(NULL) leaves", f->JoinFilterGraph(NULL, NULL), S_OK);
        memset(&info, 0xcc, sizeof(info));
        f->QueryFilterInfo(&info);
        Holds("IBaseFilter", who + "after leaving: no graph", info.pGraph == NULL);
        if (info.pGraph && info.pGraph != (IFilterGraph *)0xcccccccccccccccc) info.pGraph->Release();

        LPWSTR vendor = NULL;
        HRESULT hr = f->QueryVendorInfo(&vendor);
        Holds("IBaseFilter", who + "QueryVendorInfo: E_NOTIMPL, or S_OK with a string",
              hr == E_NOTIMPL ? vendor == NULL : hr == S_OK && vendor != NULL);
        CoTaskMemFree(vendor);
        f->Release();
    }
    fg->Release();
    graph->Release();
}

// ---- IPin, IEnumMediaTypes of every pin, IEnumPins of every filter (unconnected) ----

bool same_pin(IPin *a, IPin *b) { return same_object(a, b); }
bool same_type(AM_MEDIA_TYPE *a, AM_MEDIA_TYPE *b)
{
    return IsEqualGUID(a->majortype, b->majortype) && IsEqualGUID(a->subtype, b->subtype);
}
void drop_pin(IPin *p) { p->Release(); }
void drop_type(AM_MEDIA_TYPE *mt)
{
    free_type(mt);
    CoTaskMemFree(mt);
}

// what a pin enumerator or a media type enumerator must do, whatever it enumerates
template <class Enum, class Item>
void check_enumerator(const char *I, const std::string &who, Enum *e, void (*drop)(Item *),
                      bool (*same_item)(Item *, Item *))
{
    std::vector<Item *> items(64, (Item *)NULL);
    ULONG count = 0, got = 99;
    Item *one = NULL;

    Returns(I, who + "Next(1, NULL)", e->Next(1, NULL, NULL), E_POINTER);
    Returns(I, who + "Next(2) without a count", e->Next(2, items.data(), NULL), E_INVALIDARG);
    Returns(I, who + "Reset", e->Reset(), S_OK);
    while (count < 32 && e->Next(1, &one, NULL) == S_OK)
    {
        drop(one);
        count++;
    }
    Returns(I, who + "Next at the end", e->Next(1, &one, &got), S_FALSE);
    Holds(I, who + "Next at the end fetches none", got == 0);
    e->Reset();
    got = 99;
    Returns(I, who + "Next(count + 1)", e->Next(count + 1, items.data(), &got), S_FALSE);
    Holds(I, who + "Next(count + 1) fetches all", got == count);
    for (ULONG i = 0; i < got && i < items.size(); i++) drop(items[i]);
    e->Reset();
    got = 99;
    Returns(I, who + "Next(0)", e->Next(0, items.data(), &got), S_OK);
    Holds(I, who + "Next(0) fetches none", got == 0);
    Returns(I, who + "Skip(count)", e->Skip(count), S_OK);
    Returns(I, who + "Skip past the end", e->Skip(1), S_FALSE);
    Returns(I, who + "Clone(NULL)", e->Clone(NULL), E_POINTER);
    e->Reset();
    if (count)
    {
        Enum *clone = NULL;
        Item *a = NULL, *b = NULL;
        e->Skip(count - 1);
        Returns(I, who + "Clone", e->Clone(&clone), S_OK);
        if (!clone) return;
        Returns(I, who + "a clone goes on from where it was made", clone->Next(1, &b, NULL), S_OK);
        e->Next(1, &a, NULL);
        Returns(I, who + "a clone then ends with its original", clone->Next(1, &one, NULL), S_FALSE);
        clone->Release();
        if (a && b) Holds(I, who + "a clone gives what the original gives", same_item(a, b));
        if (a) drop(a);
        if (b) drop(b);
    }
}


TEST(Filters, PinMethodsOfUnconnectedPins)
{
    for (const FilterCase &c : filter_cases())
    {
        IBaseFilter *f = create_filter(c.clsid);
        if (!f) continue;
        IEnumPins *e = NULL;
        if (SUCCEEDED(f->EnumPins(&e)))
        {
            check_enumerator<IEnumPins, IPin>("IEnumPins", c.name + ": ", e, drop_pin, same_pin);
            e->Release();
        }

        std::vector<IPin *> pins = pins_of(f);
        Holds("IBaseFilter", c.name + ": has pins", !pins.empty());
        for (IPin *pin : pins)
        {
            LPWSTR id = NULL;
            pin->QueryId(&id);
            const std::string who = c.name + " pin " + utf8(id) + ": ";
            PIN_DIRECTION dir = (PIN_DIRECTION)-1;
            PIN_INFO info;
            IPin *found = NULL, *peer = (IPin *)0xdeadbeef;

            Returns("IPin", who + "QueryId(NULL)", pin->QueryId(NULL), E_POINTER);
            Returns("IBaseFilter", who + "FindPin by its id", f->FindPin(id, &found), S_OK);
            Holds("IBaseFilter", who + "FindPin by its id finds it", same_object(found, pin));
            if (found) found->Release();
            CoTaskMemFree(id);

            Returns("IPin", who + "QueryDirection(NULL)", pin->QueryDirection(NULL), E_POINTER);
            Returns("IPin", who + "QueryDirection", pin->QueryDirection(&dir), S_OK);
            Returns("IPin", who + "QueryPinInfo(NULL)", pin->QueryPinInfo(NULL), E_POINTER);
            ULONG filter_refs = refs(f);
            memset(&info, 0, sizeof(info));
            Returns("IPin", who + "QueryPinInfo", pin->QueryPinInfo(&info), S_OK);
            Holds("IPin", who + "QueryPinInfo names its filter", same_object(info.pFilter, f));
            Holds("IPin", who + "QueryPinInfo adds a reference to the filter", refs(f) == filter_refs + 1);
            Holds("IPin", who + "QueryPinInfo gives the direction", info.dir == dir);
            if (info.pFilter) info.pFilter->Release();

            Returns("IPin", who + "ConnectedTo(NULL)", pin->ConnectedTo(NULL), E_POINTER);
            Returns("IPin", who + "ConnectedTo when unconnected", pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
            Holds("IPin", who + "ConnectedTo when unconnected clears the out pointer", peer == NULL);
            AM_MEDIA_TYPE mt;
            memset(&mt, 0xcc, sizeof(mt));
            Returns("IPin", who + "ConnectionMediaType(NULL)", pin->ConnectionMediaType(NULL), E_POINTER);
            Returns("IPin", who + "ConnectionMediaType when unconnected", pin->ConnectionMediaType(&mt),
                    VFW_E_NOT_CONNECTED);
            Holds("IPin", who + "ConnectionMediaType when unconnected leaves an empty type",
                  IsEqualGUID(mt.majortype, GUID_NULL) && !mt.pbFormat && !mt.cbFormat && !mt.pUnk);
            Returns("IPin", who + "Disconnect when unconnected", pin->Disconnect(), S_FALSE);
            Returns("IPin", who + "QueryAccept(NULL)", pin->QueryAccept(NULL), E_POINTER);

            IEnumMediaTypes *types = NULL;
            Returns("IPin", who + "EnumMediaTypes(NULL)", pin->EnumMediaTypes(NULL), E_POINTER);
            Returns("IPin", who + "EnumMediaTypes", pin->EnumMediaTypes(&types), S_OK);
            if (types)
            {
                check_enumerator<IEnumMediaTypes, AM_MEDIA_TYPE>("IEnumMediaTypes", who, types, drop_type, same_type);
                AM_MEDIA_TYPE *t;
                types->Reset();
                while (dir == PINDIR_OUTPUT && types->Next(1, &t, NULL) == S_OK)
                {
                    Returns("IPin", who + "QueryAccept of a type it offers", pin->QueryAccept(t), S_OK);
                    drop_type(t);
                }
                types->Release();
            }

            if (dir == PINDIR_OUTPUT)
            {
                Returns("IPin", who + "Connect(NULL)", pin->Connect(NULL, NULL), E_POINTER);
                Returns("IPin", who + "EndOfStream on an output pin", pin->EndOfStream(), E_UNEXPECTED);
                Returns("IPin", who + "BeginFlush on an output pin", pin->BeginFlush(), E_UNEXPECTED);
                Returns("IPin", who + "EndFlush on an output pin", pin->EndFlush(), E_UNEXPECTED);
                Returns("IPin", who + "NewSegment on an output pin", pin->NewSegment(0, 10000000, 1.0), E_UNEXPECTED);
            }
            else
            {
                AM_MEDIA_TYPE any = media_type(GUID_NULL);
                Returns("IPin", who + "ReceiveConnection(NULL pin)", pin->ReceiveConnection(NULL, &any), E_POINTER);
                Returns("IPin", who + "ReceiveConnection(NULL type)", pin->ReceiveConnection(pin, NULL), E_POINTER);
            }
        }
        release_all(pins);
        f->Release();
    }
}

// ---- Connection rules: AVI Mux, File Writer and a file's streams ----

struct Chain
{
    IGraphBuilder *graph = NULL;
    IBaseFilter *src = NULL, *mux = NULL, *writer = NULL;
    IPin *src_video = NULL, *mux_out = NULL, *mux_in = NULL, *writer_in = NULL;

    bool Make()
    {
        if (!(graph = create_graph()) || !(mux = create_filter(CLSID_AviDest)) || !(writer = create_filter(CLSID_FileWriter))
                || FAILED(graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source", &src)))
            return false;
        src_video = pin_of(src, PINDIR_OUTPUT, 0);
        mux_out = pin_of(mux, PINDIR_OUTPUT);
        mux_in = pin_of(mux, PINDIR_INPUT);
        writer_in = pin_of(writer, PINDIR_INPUT);
        return src_video && mux_out && mux_in && writer_in;
    }
    ~Chain()
    {
        IUnknown *all[] = { src_video, mux_out, mux_in, writer_in, src, mux, writer, graph };
        for (IUnknown *u : all) if (u) u->Release();
    }
};

TEST(Connections, PinsConnectAsDocumented)
{
    const char *I = "IPin";
    Chain ch;
    ASSERT_TRUE(ch.Make());
    AM_MEDIA_TYPE stream = media_type(MEDIATYPE_Stream, MEDIASUBTYPE_Avi);
    AM_MEDIA_TYPE video = media_type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo);
    IPin *peer = NULL;

    // a pin that is connected
    Returns(I, "Connect mux output to writer input", ch.mux_out->Connect(ch.writer_in, NULL), S_OK);
    Returns(I, "Connect of a connected output", ch.mux_out->Connect(ch.writer_in, NULL), VFW_E_ALREADY_CONNECTED);
    Returns(I, "ReceiveConnection on a connected input", ch.writer_in->ReceiveConnection(ch.src_video, &stream),
            VFW_E_ALREADY_CONNECTED);
    Returns(I, "ConnectedTo of the output", ch.mux_out->ConnectedTo(&peer), S_OK);
    Holds(I, "the output is connected to the input", same_object(peer, ch.writer_in));
    if (peer) peer->Release();
    peer = NULL;
    Returns(I, "ConnectedTo of the input", ch.writer_in->ConnectedTo(&peer), S_OK);
    Holds(I, "the input is connected to the output", same_object(peer, ch.mux_out));
    if (peer) peer->Release();
    AM_MEDIA_TYPE mt;
    Returns(I, "ConnectionMediaType of a connected pin", ch.writer_in->ConnectionMediaType(&mt), S_OK);
    Holds(I, "the connection carries an AVI byte stream",
          IsEqualGUID(mt.majortype, MEDIATYPE_Stream) && IsEqualGUID(mt.subtype, MEDIASUBTYPE_Avi));
    free_type(&mt);

    // connections change only while the filter is stopped
    ch.writer->Pause();
    Returns(I, "Disconnect while the filter runs", ch.writer_in->Disconnect(), VFW_E_NOT_STOPPED);
    ch.writer->Stop();
    ch.mux->Pause();
    Returns(I, "Disconnect of the output while its filter runs", ch.mux_out->Disconnect(), VFW_E_NOT_STOPPED);
    ch.mux->Stop();
    Returns(I, "Disconnect of the output", ch.mux_out->Disconnect(), S_OK);
    Returns(I, "Disconnect of the input", ch.writer_in->Disconnect(), S_OK);
    Returns(I, "Disconnect again", ch.writer_in->Disconnect(), S_FALSE);
    peer = (IPin *)0xdeadbeef;
    Returns(I, "ConnectedTo after Disconnect", ch.mux_out->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    ch.mux->Pause();
    Returns(I, "Connect while the filter runs", ch.mux_out->Connect(ch.writer_in, NULL), VFW_E_NOT_STOPPED);
    ch.mux->Stop();
    Holds(I, "Connect of an output to an output fails", FAILED(ch.mux_out->Connect(ch.src_video, NULL)));
    Returns(I, "Connect with a type the output does not give", ch.mux_out->Connect(ch.writer_in, &video),
            VFW_E_TYPE_NOT_ACCEPTED);
    Returns(I, "ReceiveConnection of a type the input does not take", ch.mux_in->ReceiveConnection(ch.src_video, &stream),
            VFW_E_TYPE_NOT_ACCEPTED);
    Holds(I, "a refused connection leaves both pins free", ch.mux_in->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED
          && ch.src_video->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED);

    // the types the AVI Mux's inputs and the File Writer's input take
    struct { IPin *pin; const char *pin_name; GUID major, format; HRESULT want; } accept[] = {
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Video, FORMAT_VideoInfo, S_OK },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Video, FORMAT_DvInfo, S_OK },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Audio, FORMAT_WaveFormatEx, S_OK },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Interleaved, FORMAT_DvInfo, S_OK },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Video, FORMAT_WaveFormatEx, S_FALSE },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Audio, FORMAT_VideoInfo, S_FALSE },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Interleaved, FORMAT_VideoInfo, S_FALSE },
        { ch.mux_in, "AVI Mux input", MEDIATYPE_Stream, GUID_NULL, S_FALSE },
        { ch.writer_in, "File Writer input", MEDIATYPE_Stream, GUID_NULL, S_OK },
        { ch.writer_in, "File Writer input", MEDIATYPE_Video, FORMAT_VideoInfo, S_FALSE },
    };
    for (auto &a : accept)
    {
        AM_MEDIA_TYPE t = media_type(a.major, GUID_NULL, a.format);
        char what[160];
        snprintf(what, sizeof(what), "QueryAccept on the %s, case %d", a.pin_name, (int)(&a - accept));
        Returns("IPin", what, a.pin->QueryAccept(&t), a.want);
    }

    // the AVI Mux makes a new input for every input connected; enumerators out then are out of step
    IEnumPins *before = NULL;
    ch.mux->EnumPins(&before);
    size_t count = pins_of(ch.mux).size();
    std::vector<IPin *> tmp = pins_of(ch.mux);
    release_all(tmp);
    Returns(I, "Connect a movie's video to the AVI Mux", ch.src_video->Connect(ch.mux_in, NULL), S_OK);
    tmp = pins_of(ch.mux);
    Holds("IBaseFilter", "AVI Mux: a connected input brings a new input", tmp.size() == count + 1);
    release_all(tmp);
    if (before)
    {
        IPin *p = NULL;
        IEnumPins *clone = NULL;
        Returns("IEnumPins", "AVI Mux: Next after the pins changed", before->Next(1, &p, NULL), VFW_E_ENUM_OUT_OF_SYNC);
        Returns("IEnumPins", "AVI Mux: Skip after the pins changed", before->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
        Returns("IEnumPins", "AVI Mux: Clone after the pins changed", before->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
        Returns("IEnumPins", "AVI Mux: Reset after the pins changed", before->Reset(), S_OK);
        Returns("IEnumPins", "AVI Mux: Next after Reset", before->Next(1, &p, NULL), S_OK);
        if (p) p->Release();
        if (clone) clone->Release();
        before->Release();
    }
    ch.src_video->Disconnect();
    ch.mux_in->Disconnect();
}

// ---- File Writer: IFileSinkFilter, IFileSinkFilter2, IAMFilterMiscFlags, IPersistStream ----

TEST(FileWriter, SinkInterfaces)
{
    IFileSinkFilter2 *sink = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                     (void **)&sink));
    const char *I = "IFileSinkFilter";
    const char *I2 = "IFileSinkFilter2";
    wstr path = dos_path(out_dir() + "/writer one.avi"), path2 = dos_path(out_dir() + "/writer two.avi");
    LPOLESTR name = (LPOLESTR)0xdeadbeef;
    AM_MEDIA_TYPE mt;
    DWORD mode = 99;

    IFileSinkFilter *sink1 = NULL;
    Returns(I, "QueryInterface(IFileSinkFilter)", sink->QueryInterface(IID_IFileSinkFilter, (void **)&sink1), S_OK);
    Holds(I, "IFileSinkFilter and IFileSinkFilter2 are one object", same_object(sink1, sink));
    if (sink1) sink1->Release();
    Returns(I, "SetFileName(NULL)", sink->SetFileName(NULL, NULL), E_POINTER);
    Returns(I, "GetCurFile(NULL)", sink->GetCurFile(NULL, NULL), E_POINTER);
    HRESULT hr = sink->GetCurFile(&name, NULL);
    Holds(I, "GetCurFile before a name: E_FAIL, or S_OK and no name", hr == E_FAIL || (hr == S_OK && !name));
    if (hr == S_OK && name) CoTaskMemFree(name);
    Returns(I, "SetFileName", sink->SetFileName(W(path), NULL), S_OK);
    name = NULL;
    Returns(I, "GetCurFile", sink->GetCurFile(&name, NULL), S_OK);
    Holds(I, "GetCurFile gives the name set", name && !lstrcmpW(name, W(path)));
    CoTaskMemFree(name);
    AM_MEDIA_TYPE avi = media_type(MEDIATYPE_Stream, MEDIASUBTYPE_Avi);
    Returns(I, "SetFileName with a type", sink->SetFileName(W(path2), &avi), S_OK);
    name = NULL;
    memset(&mt, 0, sizeof(mt));
    Returns(I, "GetCurFile with a type", sink->GetCurFile(&name, &mt), S_OK);
    Holds(I, "GetCurFile gives the last name set", name && !lstrcmpW(name, W(path2)));
    Holds(I, "GetCurFile gives the type set", IsEqualGUID(mt.majortype, MEDIATYPE_Stream)
          && IsEqualGUID(mt.subtype, MEDIASUBTYPE_Avi));
    CoTaskMemFree(name);
    free_type(&mt);

    Returns(I2, "GetMode(NULL)", sink->GetMode(NULL), E_POINTER);
    Returns(I2, "GetMode", sink->GetMode(&mode), S_OK);
    Holds(I2, "a new File Writer does not overwrite", mode == 0);
    const struct { DWORD set; HRESULT want; DWORD after; } modes[] = {
        { AM_FILE_OVERWRITE, S_OK, AM_FILE_OVERWRITE }, { 0, S_OK, 0 }, { 2, E_INVALIDARG, 0 }, { 0x80000001, E_INVALIDARG, 0 } };
    for (auto &m : modes)
    {
        char what[64];
        snprintf(what, sizeof(what), "SetMode(0x%lx)", (unsigned long)m.set);
        Returns(I2, what, sink->SetMode(m.set), m.want);
        mode = 99;
        sink->GetMode(&mode);
        Holds(I2, std::string("GetMode after ") + what, mode == m.after);
    }

    IAMFilterMiscFlags *flags = NULL;
    Returns("IAMFilterMiscFlags", "QueryInterface", sink->QueryInterface(IID_IAMFilterMiscFlags, (void **)&flags), S_OK);
    if (flags)
    {
        Holds("IAMFilterMiscFlags", "the File Writer is a renderer",
              flags->GetMiscFlags() == AM_FILTER_MISC_FLAGS_IS_RENDERER);
        flags->Release();
    }

    // IPersistStream: what one File Writer saves, another loads
    IPersistStream *persist = NULL, *persist2 = NULL;
    IFileSinkFilter2 *sink2 = NULL;
    IStream *stream = NULL;
    ULARGE_INTEGER max;
    CLSID clsid = GUID_NULL;
    sink->SetMode(AM_FILE_OVERWRITE);
    Returns("IPersistStream", "QueryInterface", sink->QueryInterface(IID_IPersistStream, (void **)&persist), S_OK);
    if (persist && SUCCEEDED(CreateStreamOnHGlobal(NULL, TRUE, &stream))
            && SUCCEEDED(CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                          (void **)&sink2))
            && SUCCEEDED(sink2->QueryInterface(IID_IPersistStream, (void **)&persist2)))
    {
        Returns("IPersistStream", "GetClassID", persist->GetClassID(&clsid), S_OK);
        Holds("IPersistStream", "GetClassID is the File Writer's", IsEqualGUID(clsid, CLSID_FileWriter));
        Returns("IPersistStream", "IsDirty after changes", persist->IsDirty(), S_OK);
        Returns("IPersistStream", "GetSizeMax(NULL)", persist->GetSizeMax(NULL), E_POINTER);
        Returns("IPersistStream", "GetSizeMax", persist->GetSizeMax(&max), S_OK);
        Returns("IPersistStream", "Save(NULL)", persist->Save(NULL, TRUE), E_POINTER);
        Returns("IPersistStream", "Save", persist->Save(stream, TRUE), S_OK);
        Returns("IPersistStream", "IsDirty after Save", persist->IsDirty(), S_FALSE);
        LARGE_INTEGER zero = {};
        ULARGE_INTEGER end;
        stream->Seek(zero, STREAM_SEEK_CUR, &end);
        Holds("IPersistStream", "Save writes no more than GetSizeMax", end.QuadPart <= max.QuadPart);
        stream->Seek(zero, STREAM_SEEK_SET, NULL);
        Returns("IPersistStream", "Load(NULL)", persist2->Load(NULL), E_POINTER);
        Returns("IPersistStream", "Load", persist2->Load(stream), S_OK);
        name = NULL;
        mode = 99;
        sink2->GetCurFile(&name, NULL);
        sink2->GetMode(&mode);
        Holds("IPersistStream", "Load brings back the name", name && !lstrcmpW(name, W(path2)));
        Holds("IPersistStream", "Load brings back the mode", mode == AM_FILE_OVERWRITE);
        CoTaskMemFree(name);
    }
    if (persist2) persist2->Release();
    if (sink2) sink2->Release();
    if (stream) stream->Release();
    if (persist) persist->Release();
    sink->Release();
}

// ---- AVI Mux: IConfigAviMux, IConfigInterleaving, IMediaSeeking ----

TEST(AviMux, Settings)
{
    IBaseFilter *mux = create_filter(CLSID_AviDest);
    ASSERT_TRUE(mux != NULL);
    IConfigAviMux *config = NULL;
    IConfigInterleaving *inter = NULL;
    LONG stream = 99;
    BOOL old_index = 99;

    Returns("IConfigAviMux", "QueryInterface", mux->QueryInterface(IID_IConfigAviMux, (void **)&config), S_OK);
    if (config)
    {
        const char *I = "IConfigAviMux";
        Returns(I, "GetMasterStream(NULL)", config->GetMasterStream(NULL), E_POINTER);
        Returns(I, "GetMasterStream", config->GetMasterStream(&stream), S_OK);
        Holds(I, "no master stream at first", stream == -1);
        const struct { LONG set; HRESULT want; LONG after; } rows[] = {
            { 0, S_OK, 0 }, { 1, S_OK, 1 }, { -1, S_OK, -1 }, { -2, E_INVALIDARG, -1 }, { -2147483647 - 1, E_INVALIDARG, -1 } };
        for (auto &r : rows)
        {
            char what[48];
            snprintf(what, sizeof(what), "SetMasterStream(%ld)", (long)r.set);
            Returns(I, what, config->SetMasterStream(r.set), r.want);
            stream = 99;
            config->GetMasterStream(&stream);
            Holds(I, std::string("GetMasterStream after ") + what, stream == r.after);
        }
        Returns(I, "GetOutputCompatibilityIndex(NULL)", config->GetOutputCompatibilityIndex(NULL), E_POINTER);
        for (BOOL b : { FALSE, TRUE })
        {
            Returns(I, b ? "SetOutputCompatibilityIndex(TRUE)" : "SetOutputCompatibilityIndex(FALSE)",
                    config->SetOutputCompatibilityIndex(b), S_OK);
            old_index = 99;
            Returns(I, "GetOutputCompatibilityIndex", config->GetOutputCompatibilityIndex(&old_index), S_OK);
            Holds(I, "GetOutputCompatibilityIndex gives what was set", old_index == b);
        }
        config->Release();
    }

    Returns("IConfigInterleaving", "QueryInterface", mux->QueryInterface(IID_IConfigInterleaving, (void **)&inter), S_OK);
    if (inter)
    {
        const char *I = "IConfigInterleaving";
        InterleavingMode mode;
        REFERENCE_TIME a = 5000000, b = 2500000, ga = 0, gb = 0;
        Returns(I, "get_Mode(NULL)", inter->get_Mode(NULL), E_POINTER);
        for (InterleavingMode m : { INTERLEAVE_NONE, INTERLEAVE_CAPTURE, INTERLEAVE_FULL, INTERLEAVE_NONE_BUFFERED })
        {
            Returns(I, "put_Mode of a mode", inter->put_Mode(m), S_OK);
            mode = (InterleavingMode)99;
            Returns(I, "get_Mode", inter->get_Mode(&mode), S_OK);
            Holds(I, "get_Mode gives the mode put", mode == m);
        }
        Returns(I, "put_Mode of no mode", inter->put_Mode((InterleavingMode)7), E_INVALIDARG);
        Returns(I, "get_Interleaving(NULL)", inter->get_Interleaving(NULL, &gb), E_POINTER);
        Returns(I, "put_Interleaving", inter->put_Interleaving(&a, &b), S_OK);
        Returns(I, "get_Interleaving", inter->get_Interleaving(&ga, &gb), S_OK);
        Holds(I, "get_Interleaving gives what was put", ga == a && gb == b);
        inter->Release();
    }
    mux->Release();
}

// Followed through IMediaSeeking, a file being written reaches its length; the calls answer as documented.
TEST(AviMux, SeekingFollowsTheFileBeingWritten)
{
    const char *I = "IMediaSeeking";
    IGraphBuilder *graph = create_graph();
    ICaptureGraphBuilder2 *builder = create_builder();
    IBaseFilter *src = NULL, *mux = NULL;
    IMediaSeeking *seeking = NULL;
    IMediaControl *control = NULL;
    IMediaEvent *events = NULL;
    std::string out = out_dir() + "/seeking.avi";
    ASSERT_TRUE(graph && builder);
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
    ASSERT_EQ(S_OK, graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source", &src));
    ASSERT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out)), &mux, NULL));
    ASSERT_EQ(S_OK, builder->RenderStream(NULL, NULL, src, NULL, mux));
    Returns(I, "QueryInterface on the AVI Mux", mux->QueryInterface(IID_IMediaSeeking, (void **)&seeking), S_OK);
    ASSERT_TRUE(seeking != NULL);

    DWORD caps = 0, check;
    GUID format = GUID_NULL;
    LONGLONG duration = -1, position = -1, stop = -1;
    double rate = 0;
    Returns(I, "GetCapabilities(NULL)", seeking->GetCapabilities(NULL), E_POINTER);
    Returns(I, "GetCapabilities", seeking->GetCapabilities(&caps), S_OK);
    Holds(I, "the position and the duration can be read",
          (caps & (AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration))
              == (AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration));
    Returns(I, "CheckCapabilities(NULL)", seeking->CheckCapabilities(NULL), E_POINTER);
    check = AM_SEEKING_CanGetCurrentPos;
    Returns(I, "CheckCapabilities of one it has", seeking->CheckCapabilities(&check), S_OK);
    Returns(I, "IsFormatSupported(NULL)", seeking->IsFormatSupported(NULL), E_POINTER);
    Returns(I, "IsFormatSupported(media time)", seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
    Returns(I, "QueryPreferredFormat(NULL)", seeking->QueryPreferredFormat(NULL), E_POINTER);
    Returns(I, "QueryPreferredFormat", seeking->QueryPreferredFormat(&format), S_OK);
    Holds(I, "the preferred format is media time", IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
    format = GUID_NULL;
    Returns(I, "GetTimeFormat(NULL)", seeking->GetTimeFormat(NULL), E_POINTER);
    Returns(I, "GetTimeFormat", seeking->GetTimeFormat(&format), S_OK);
    Holds(I, "the time format is media time", IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
    Returns(I, "IsUsingTimeFormat(media time)", seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    Returns(I, "IsUsingTimeFormat(frames)", seeking->IsUsingTimeFormat(&TIME_FORMAT_FRAME), S_FALSE);
    Returns(I, "GetDuration(NULL)", seeking->GetDuration(NULL), E_POINTER);
    Returns(I, "GetCurrentPosition(NULL)", seeking->GetCurrentPosition(NULL), E_POINTER);
    Returns(I, "GetStopPosition(NULL)", seeking->GetStopPosition(NULL), E_POINTER);
    Returns(I, "GetRate(NULL)", seeking->GetRate(NULL), E_POINTER);
    Returns(I, "GetRate", seeking->GetRate(&rate), S_OK);
    Holds(I, "the rate is 1", rate == 1.0);
    Returns(I, "GetDuration", seeking->GetDuration(&duration), S_OK);
    Holds(I, "GetDuration is the length being written", duration > 29000000 && duration < 31000000);
    Returns(I, "GetStopPosition", seeking->GetStopPosition(&stop), S_OK);
    Holds(I, "the stop position is the end", stop == duration);

    LONG code = 0;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaControl, (void **)&control))
            && SUCCEEDED(graph->QueryInterface(IID_IMediaEvent, (void **)&events)))
    {
        control->Run();
        events->WaitForCompletion(30000, &code);
        Holds(I, "the file is written", code == EC_COMPLETE);
        Returns(I, "GetCurrentPosition", seeking->GetCurrentPosition(&position), S_OK);
        Holds(I, "at the end the position is the duration", position >= duration - 1000000 && position <= duration + 1000000);
        control->Stop();
        control->Release();
        events->Release();
    }
    seeking->Release();
    mux->Release();
    src->Release();
    builder->Release();
    graph->Release();
    Holds("IFileSinkFilter", "the File Writer wrote the file", file_size(out) > 100000);
}

// ---- ICaptureGraphBuilder2 ----

class ProgressCounter : public IAMCopyCaptureFileProgress
{
public:
    int calls = 0, last = -1;
    bool rising = true;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMCopyCaptureFileProgress))
        {
            *out = this;
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Progress(int percent) override
    {
        if (percent < last || percent < 0 || percent > 100) rising = false;
        last = percent;
        calls++;
        return S_OK;
    }
};

TEST(CaptureGraphBuilder, ArgumentsWithoutAGraph)
{
    const char *I = "ICaptureGraphBuilder2";
    ICaptureGraphBuilder2 *b = create_builder();
    ASSERT_TRUE(b != NULL);
    IBaseFilter *mux = create_filter(CLSID_AviDest), *got_filter = (IBaseFilter *)0xdeadbeef;
    IGraphBuilder *got = (IGraphBuilder *)0xdeadbeef;
    IPin *pin = (IPin *)0xdeadbeef;
    void *itf = (void *)0xdeadbeef;
    wstr path = dos_path(out_dir() + "/nograph.avi");
    REFERENCE_TIME t = 0;

    Returns(I, "GetFiltergraph(NULL)", b->GetFiltergraph(NULL), E_POINTER);
    Returns(I, "GetFiltergraph without a graph", b->GetFiltergraph(&got), E_UNEXPECTED);
    Holds(I, "GetFiltergraph without a graph clears the out pointer", got == NULL);
    Returns(I, "SetFiltergraph(NULL)", b->SetFiltergraph(NULL), E_POINTER);
    Returns(I, "SetOutputFileName(NULL type)", b->SetOutputFileName(NULL, W(path), &got_filter, NULL), E_POINTER);
    Returns(I, "SetOutputFileName(NULL file)", b->SetOutputFileName(&MEDIASUBTYPE_Avi, NULL, &got_filter, NULL), E_POINTER);
    Returns(I, "SetOutputFileName(NULL filter out)", b->SetOutputFileName(&MEDIASUBTYPE_Avi, W(path), NULL, NULL),
            E_POINTER);
    Returns(I, "FindInterface(NULL filter)", b->FindInterface(NULL, NULL, NULL, IID_IBaseFilter, &itf), E_POINTER);
    Returns(I, "FindInterface(NULL out)", b->FindInterface(NULL, NULL, mux, IID_IBaseFilter, NULL), E_POINTER);
    Returns(I, "FindPin(NULL source)", b->FindPin(NULL, PINDIR_INPUT, NULL, NULL, FALSE, 0, &pin), E_POINTER);
    Returns(I, "FindPin(NULL out)", b->FindPin(mux, PINDIR_INPUT, NULL, NULL, FALSE, 0, NULL), E_POINTER);
    Returns(I, "RenderStream(NULL source)", b->RenderStream(NULL, NULL, NULL, NULL, NULL), E_POINTER);
    Returns(I, "ControlStream(NULL category)", b->ControlStream(NULL, NULL, NULL, &t, &t, 0, 0), E_POINTER);
    Returns(I, "ControlStream of every filter without a graph",
            b->ControlStream(&PIN_CATEGORY_CAPTURE, NULL, NULL, NULL, NULL, 0, 0), E_UNEXPECTED);
    Returns(I, "AllocCapFile(NULL)", b->AllocCapFile(NULL, 1), E_POINTER);
    Returns(I, "CopyCaptureFile(NULL old)", b->CopyCaptureFile(NULL, (LPOLESTR)W(path), FALSE, NULL), E_POINTER);
    Returns(I, "CopyCaptureFile(NULL new)", b->CopyCaptureFile((LPOLESTR)W(path), NULL, FALSE, NULL), E_POINTER);
    // a filter not in the graph the builder makes for itself
    Returns(I, "RenderStream of a filter not in the graph", b->RenderStream(NULL, NULL, mux, NULL, NULL),
            VFW_E_NOT_IN_GRAPH);
    got = NULL;
    Returns(I, "GetFiltergraph after the builder made its own", b->GetFiltergraph(&got), S_OK);
    if (got) got->Release();
    mux->Release();
    b->Release();
}

TEST(CaptureGraphBuilder, GraphFileAndPins)
{
    const char *I = "ICaptureGraphBuilder2";
    ICaptureGraphBuilder2 *b = create_builder();
    IGraphBuilder *graph = create_graph(), *got = NULL;
    ASSERT_TRUE(b && graph);
    IBaseFilter *mux = NULL, *src = NULL, *other = NULL;
    IFileSinkFilter *sink = NULL;
    IPin *pin = NULL;
    void *itf = NULL;
    wstr path = dos_path(out_dir() + "/builder.avi");

    ULONG graph_refs = refs(graph);
    Returns(I, "SetFiltergraph", b->SetFiltergraph(graph), S_OK);
    Holds(I, "SetFiltergraph holds the graph", refs(graph) == graph_refs + 1);
    Returns(I, "SetFiltergraph again", b->SetFiltergraph(graph), E_UNEXPECTED);
    Returns(I, "GetFiltergraph", b->GetFiltergraph(&got), S_OK);
    Holds(I, "GetFiltergraph gives the graph with a reference", same_object(got, graph) && refs(graph) == graph_refs + 2);
    if (got) got->Release();

    // the file-writing part
    Returns(I, "SetOutputFileName(AVI)", b->SetOutputFileName(&MEDIASUBTYPE_Avi, W(path), &mux, &sink), S_OK);
    ASSERT_TRUE(mux && sink);
    CLSID clsid = GUID_NULL;
    mux->GetClassID(&clsid);
    Holds(I, "SetOutputFileName(AVI) makes an AVI Mux", IsEqualGUID(clsid, CLSID_AviDest));
    FILTER_INFO info;
    mux->QueryFilterInfo(&info);
    Holds(I, "the multiplexer is in the graph", same_object(info.pGraph, graph));
    if (info.pGraph) info.pGraph->Release();
    LPOLESTR name = NULL;
    sink->GetCurFile(&name, NULL);
    Holds(I, "the sink writes the file named", name && !lstrcmpW(name, W(path)));
    CoTaskMemFree(name);
    Returns(I, "FindPin of the connected output, unconnected only",
            b->FindPin(mux, PINDIR_OUTPUT, NULL, NULL, TRUE, 0, &pin), E_FAIL);
    Returns(I, "FindPin of the output", b->FindPin(mux, PINDIR_OUTPUT, NULL, NULL, FALSE, 0, &pin), S_OK);
    IPin *peer = NULL;
    Holds(I, "the multiplexer's output is connected to the writer", pin && SUCCEEDED(pin->ConnectedTo(&peer)));
    if (peer) peer->Release();
    if (pin) pin->Release();
    pin = NULL;
    Returns(I, "FindPin of a free input", b->FindPin(mux, PINDIR_INPUT, NULL, NULL, TRUE, 0, &pin), S_OK);
    IPin *again = NULL;
    Returns(I, "FindPin of a pin itself", b->FindPin(pin, PINDIR_INPUT, NULL, NULL, TRUE, 0, &again), S_OK);
    Holds(I, "FindPin of a pin gives that pin", same_object(again, pin));
    if (again) again->Release();
    if (pin) pin->Release();
    pin = (IPin *)0xdeadbeef;
    Returns(I, "FindPin past the last", b->FindPin(mux, PINDIR_INPUT, NULL, NULL, TRUE, 1, &pin), E_FAIL);
    Holds(I, "FindPin that finds none clears the out pointer", pin == NULL);
    Returns(I, "FindPin of a category no pin has",
            b->FindPin(mux, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, NULL, FALSE, 0, &pin), E_FAIL);

    // FindInterface: the filter, its neighbours, and the two one-way searches that leave the filter out
    IBaseFilter *writer = NULL;
    sink->QueryInterface(IID_IBaseFilter, (void **)&writer);
    struct { const GUID *category; IBaseFilter *from; const char *from_name; const IID *iid; const char *iid_name; HRESULT want; } finds[] = {
        { NULL, mux, "mux", &IID_IConfigAviMux, "IConfigAviMux", S_OK },
        { NULL, mux, "mux", &IID_IFileSinkFilter, "IFileSinkFilter", S_OK },
        { NULL, writer, "writer", &IID_IConfigAviMux, "IConfigAviMux", S_OK },
        { &LOOK_DOWNSTREAM_ONLY, mux, "mux", &IID_IFileSinkFilter, "IFileSinkFilter", S_OK },
        { &LOOK_DOWNSTREAM_ONLY, mux, "mux", &IID_IConfigAviMux, "IConfigAviMux", E_NOINTERFACE },
        { &LOOK_UPSTREAM_ONLY, writer, "writer", &IID_IConfigAviMux, "IConfigAviMux", S_OK },
        { &LOOK_UPSTREAM_ONLY, writer, "writer", &IID_IFileSinkFilter, "IFileSinkFilter", E_NOINTERFACE },
        { &LOOK_UPSTREAM_ONLY, mux, "mux", &IID_IConfigAviMux, "IConfigAviMux", E_NOINTERFACE },
        { NULL, mux, "mux", &IID_IAMTimeline, "IAMTimeline", E_NOINTERFACE },
    };
    for (auto &f : finds)
    {
        std::string what = std::string("FindInterface(") + (!f.category ? "NULL" : f.category == &LOOK_UPSTREAM_ONLY
                           ? "upstream" : "downstream") + ", " + f.from_name + ", " + f.iid_name + ")";
        itf = (void *)0xdeadbeef;
        Returns(I, what, b->FindInterface(f.category, NULL, f.from, *f.iid, &itf), f.want);
        if (f.want == S_OK && itf && itf != (void *)0xdeadbeef) ((IUnknown *)itf)->Release();
        else Holds(I, what + " clears the out pointer", itf == NULL);
    }

    // other multiplexer types: a class id of the AVI Mux, of a File Writer; and one that is neither
    IBaseFilter *mux2 = NULL, *fw = NULL;
    IFileSinkFilter *sink2 = NULL;
    wstr path2 = dos_path(out_dir() + "/builder2.avi"), path3 = dos_path(out_dir() + "/builder3.bin");
    Returns(I, "SetOutputFileName(CLSID_AviDest)", b->SetOutputFileName(&CLSID_AviDest, W(path2), &mux2, NULL), S_OK);
    clsid = GUID_NULL;
    if (mux2) mux2->GetClassID(&clsid);
    Holds(I, "SetOutputFileName(CLSID_AviDest) makes an AVI Mux", IsEqualGUID(clsid, CLSID_AviDest));
    Returns(I, "SetOutputFileName(CLSID_FileWriter)", b->SetOutputFileName(&CLSID_FileWriter, W(path3), &fw, &sink2), S_OK);
    clsid = GUID_NULL;
    if (fw) fw->GetClassID(&clsid);
    Holds(I, "SetOutputFileName(CLSID_FileWriter) gives the File Writer itself",
          IsEqualGUID(clsid, CLSID_FileWriter) && same_object(fw, sink2));
    IBaseFilter *none = (IBaseFilter *)0xdeadbeef;
    Holds(I, "SetOutputFileName of a type that names no filter fails",
          FAILED(b->SetOutputFileName(&MEDIATYPE_Video, W(path2), &none, NULL)) && none == NULL);
    if (mux2) mux2->Release();
    if (fw) fw->Release();
    if (sink2) sink2->Release();

    // RenderStream from a movie into the multiplexer, one stream of each type
    ASSERT_EQ(S_OK, graph->AddSourceFilter(W(dos_path(media("movie.avi"))), L"Source", &src));
    other = create_filter(CLSID_WavDest);
    Returns(I, "RenderStream into a sink not in the graph", b->RenderStream(NULL, NULL, src, NULL, other),
            VFW_E_NOT_IN_GRAPH);
    Returns(I, "RenderStream through an intermediate not in the graph", b->RenderStream(NULL, NULL, src, other, mux),
            VFW_E_NOT_IN_GRAPH);
    Holds(I, "RenderStream of a category the source has no pin of fails",
          FAILED(b->RenderStream(&PIN_CATEGORY_CAPTURE, NULL, src, NULL, mux)));
    IPin *mux_in = NULL;
    b->FindPin(mux, PINDIR_INPUT, NULL, NULL, TRUE, 0, &mux_in);
    if (mux_in)
    {
        Returns(I, "RenderStream of an input pin", b->RenderStream(NULL, NULL, mux_in, NULL, NULL), E_INVALIDARG);
        mux_in->Release();
    }
    Returns(I, "RenderStream(video)", b->RenderStream(NULL, &MEDIATYPE_Video, src, NULL, mux), S_OK);
    Holds(I, "RenderStream(video) again finds no free video stream",
          FAILED(b->RenderStream(NULL, &MEDIATYPE_Video, src, NULL, mux)));
    Returns(I, "RenderStream(audio)", b->RenderStream(NULL, &MEDIATYPE_Audio, src, NULL, mux), S_OK);
    IPin *src_video = NULL;
    Returns(I, "FindPin of a source's video", b->FindPin(src, PINDIR_OUTPUT, NULL, &MEDIATYPE_Video, FALSE, 0, &src_video),
            S_OK);
    if (src_video)
    {
        Returns(I, "RenderStream of a connected pin", b->RenderStream(NULL, NULL, src_video, NULL, mux),
                VFW_E_ALREADY_CONNECTED);
        src_video->Release();
    }
    Returns(I, "ControlStream of pins that take no stream control",
            b->ControlStream(&PIN_CATEGORY_CAPTURE, NULL, mux, NULL, NULL, 0, 0), E_FAIL);

    other->Release();
    writer->Release();
    src->Release();
    sink->Release();
    mux->Release();
    b->Release();
    graph->Release();
}

TEST(CaptureGraphBuilder, CaptureAndPreviewOfACamera)
{
    const char *I = "ICaptureGraphBuilder2";
    CLSID camera_class = first_of_category(CLSID_VideoInputDeviceCategory);
    ASSERT_FALSE(IsEqualGUID(camera_class, GUID_NULL)) << "the virtual camera is listed";
    ICaptureGraphBuilder2 *b = create_builder();
    IGraphBuilder *graph = create_graph();
    IBaseFilter *cam = create_filter(camera_class), *mux = NULL;
    ASSERT_TRUE(b && graph && cam);
    ASSERT_EQ(S_OK, b->SetFiltergraph(graph));
    ASSERT_EQ(S_OK, graph->AddFilter(cam, L"Video Capture"));

    IPin *capture = NULL, *pin = NULL;
    Returns(I, "FindPin of the capture pin", b->FindPin(cam, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                        FALSE, 0, &capture), S_OK);
    Returns(I, "FindPin of a preview pin the camera does not have",
            b->FindPin(cam, PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, NULL, FALSE, 0, &pin), E_FAIL);
    if (capture)
    {
        IKsPropertySet *props = NULL;
        GUID category = GUID_NULL;
        DWORD size = 0, support = 0;
        Returns("IKsPropertySet", "QueryInterface on a capture pin",
                capture->QueryInterface(IID_IKsPropertySet, (void **)&props), S_OK);
        if (props)
        {
            Returns("IKsPropertySet", "QuerySupported(pin category)",
                    props->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
            Holds("IKsPropertySet", "the pin category can be read", support & KSPROPERTY_SUPPORT_GET);
            Returns("IKsPropertySet", "Get(pin category)", props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, NULL, 0,
                                                                     &category, sizeof(category), &size), S_OK);
            Holds("IKsPropertySet", "the capture pin is of the capture category",
                  IsEqualGUID(category, PIN_CATEGORY_CAPTURE) && size == sizeof(GUID));
            Holds("IKsPropertySet", "the category cannot be set",
                  FAILED(props->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, NULL, 0, &category, sizeof(category))));
            props->Release();
        }
        capture->Release();
    }
    void *config = NULL;
    Returns(I, "FindInterface(capture, IAMStreamConfig)",
            b->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, cam, IID_IAMStreamConfig, &config), S_OK);
    if (config) ((IUnknown *)config)->Release();

    ASSERT_EQ(S_OK, b->SetOutputFileName(&MEDIASUBTYPE_Avi, W(dos_path(out_dir() + "/camera.avi")), &mux, NULL));
    Returns(I, "RenderStream(capture)", b->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, cam, NULL, mux), S_OK);
    Returns(I, "RenderStream(preview) of a camera without a preview pin",
            b->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, cam, NULL, NULL), VFW_S_NOPREVIEWPIN);
    mux->Release();
    cam->Release();
    graph->Release();
    b->Release();
}

// An encoder's settings are found on its output pin, downstream of the filter.
TEST(CaptureGraphBuilder, CompressionSettingsDownstreamOfAnEncoder)
{
    ICaptureGraphBuilder2 *b = create_builder();
    ASSERT_TRUE(b != NULL);
    ICreateDevEnum *devenum = NULL;
    IEnumMoniker *monikers = NULL;
    IMoniker *m;
    int encoders = 0;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     (void **)&devenum));
    ASSERT_EQ(S_OK, devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0));
    while (monikers->Next(1, &m, NULL) == S_OK)
    {
        IBaseFilter *enc = NULL;
        IAMVideoCompression *on_filter = NULL, *found = NULL;
        if (SUCCEEDED(m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&enc))
                && SUCCEEDED(enc->QueryInterface(IID_IAMVideoCompression, (void **)&on_filter)))
        {
            encoders++;
            Returns("ICaptureGraphBuilder2", "FindInterface(downstream, encoder, IAMVideoCompression)",
                    b->FindInterface(&LOOK_DOWNSTREAM_ONLY, NULL, enc, IID_IAMVideoCompression, (void **)&found), S_OK);
            if (found)
            {
                double q = -1, q2 = -2;
                IPin *out = pin_of(enc, PINDIR_OUTPUT);
                Holds("IAMVideoCompression", "the output pin's settings belong to the pin", same_object(found, out));
                if (SUCCEEDED(found->put_Quality(0.5)) && SUCCEEDED(on_filter->get_Quality(&q)))
                {
                    Holds("IAMVideoCompression", "the pin's settings are the filter's", q == 0.5);
                    on_filter->put_Quality(0.25);
                    found->get_Quality(&q2);
                    Holds("IAMVideoCompression", "the pin reads what the filter holds", q2 == 0.25);
                }
                if (out) out->Release();
                found->Release();
            }
        }
        if (on_filter) on_filter->Release();
        if (enc) enc->Release();
        m->Release();
    }
    EXPECT_GT(encoders, 0);
    monikers->Release();
    devenum->Release();
    b->Release();
}

TEST(CaptureGraphBuilder, CaptureFiles)
{
    const char *I = "ICaptureGraphBuilder2";
    ICaptureGraphBuilder2 *b = create_builder();
    ASSERT_TRUE(b != NULL);
    std::string big = out_dir() + "/alloc.avi", copy = out_dir() + "/copy.avi", padded = out_dir() + "/padded.avi";

    Returns(I, "AllocCapFile", b->AllocCapFile(W(dos_path(big)), 3 << 20), S_OK);
    Holds(I, "AllocCapFile makes a file of the size", file_size(big) == 3 << 20);
    Returns(I, "AllocCapFile to a smaller size", b->AllocCapFile(W(dos_path(big)), 1 << 20), S_OK);
    Holds(I, "AllocCapFile resizes the file", file_size(big) == 1 << 20);

    // a capture file: an AVI with the unused rest of its allocation behind it
    std::string movie = media("movie.avi");
    long long avi_size = file_size(movie);
    ASSERT_GT(avi_size, 0);
    ASSERT_EQ(0, system(("cp '" + movie + "' '" + padded + "' && truncate -s +1M '" + padded + "'").c_str()));
    ProgressCounter progress;
    Returns(I, "CopyCaptureFile", b->CopyCaptureFile((LPOLESTR)W(dos_path(padded)), (LPOLESTR)W(dos_path(copy)), FALSE,
                                                     &progress), S_OK);
    Holds(I, "CopyCaptureFile copies the AVI without the unused rest", file_size(copy) == avi_size);
    Holds(I, "CopyCaptureFile reports progress up to 100", progress.calls > 0 && progress.rising && progress.last == 100);
    Returns(I, "CopyCaptureFile of a file that is not there",
            b->CopyCaptureFile((LPOLESTR)W(dos_path(out_dir() + "/none.avi")), (LPOLESTR)W(dos_path(copy)), FALSE, NULL),
            E_INVALIDARG);
    Holds(I, "CopyCaptureFile of a file that is not an AVI fails",
          FAILED(b->CopyCaptureFile((LPOLESTR)W(dos_path(media("readme.txt"))),
                                    (LPOLESTR)W(dos_path(out_dir() + "/text.avi")), FALSE, NULL)));
    b->Release();
}

// ---- System device enumerator: ICreateDevEnum, IEnumMoniker, IMoniker, IPropertyBag ----

void drop_moniker(IMoniker *m) { m->Release(); }
bool same_moniker(IMoniker *a, IMoniker *b) { return a->IsEqual(b) == S_OK; }

TEST(DeviceEnumerator, EnumeratorsMonikersAndBags)
{
    ICreateDevEnum *devenum = NULL;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     (void **)&devenum));
    IEnumMoniker *e = (IEnumMoniker *)0xdeadbeef;
    const GUID nothing = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    Returns("ICreateDevEnum", "CreateClassEnumerator(NULL)",
            devenum->CreateClassEnumerator(CLSID_VideoCompressorCategory, NULL, 0), E_POINTER);
    Returns("ICreateDevEnum", "CreateClassEnumerator of an unknown category", devenum->CreateClassEnumerator(nothing, &e, 0),
            S_FALSE);
    Holds("ICreateDevEnum", "an unknown category gives no enumerator", e == NULL);

    const GUID *categories[] = { &CLSID_VideoCompressorCategory, &CLSID_AudioCompressorCategory,
                                 &CLSID_VideoEffects2Category, &CLSID_VideoInputDeviceCategory };
    for (const GUID *category : categories)
    {
        e = NULL;
        Returns("ICreateDevEnum", "CreateClassEnumerator", devenum->CreateClassEnumerator(*category, &e, 0), S_OK);
        if (!e) continue;
        check_enumerator<IEnumMoniker, IMoniker>("IEnumMoniker", "", e, drop_moniker, same_moniker);
        e->Reset();
        IMoniker *m = NULL, *second = NULL;
        e->Next(1, &m, NULL);
        e->Next(1, &second, NULL);
        if (m)
        {
            const char *I = "IMoniker";
            CLSID clsid = GUID_NULL;
            LPOLESTR name = NULL;
            DWORD hash = 0, hash2 = 1, kind = 99;
            void *obj = (void *)0xdeadbeef;
            Returns(I, "GetClassID", m->GetClassID(&clsid), S_OK);
            Holds(I, "a device moniker's class", IsEqualGUID(clsid, CLSID_CDeviceMoniker));
            Returns(I, "BindToObject(NULL out)", m->BindToObject(NULL, NULL, IID_IBaseFilter, NULL), E_POINTER);
            Returns(I, "BindToStorage(NULL out)", m->BindToStorage(NULL, NULL, IID_IPropertyBag, NULL), E_POINTER);
            Returns(I, "BindToObject for an interface filters lack",
                    m->BindToObject(NULL, NULL, IID_IAMTimeline, &obj), E_NOINTERFACE);
            Holds(I, "a failed BindToObject clears the out pointer", obj == NULL);
            Returns(I, "GetDisplayName(NULL)", m->GetDisplayName(NULL, NULL, NULL), E_POINTER);
            Returns(I, "GetDisplayName", m->GetDisplayName(NULL, NULL, &name), S_OK);
            Holds(I, "a device display name", name && !memcmp(name, L"@device:", 8 * sizeof(WCHAR)));
            CoTaskMemFree(name);
            Returns(I, "IsEqual(itself)", m->IsEqual(m), S_OK);
            if (second) Returns(I, "IsEqual(another)", m->IsEqual(second), S_FALSE);
            Returns(I, "Hash(NULL)", m->Hash(NULL), E_POINTER);
            m->Hash(&hash);
            IMoniker *same = NULL;
            IEnumMoniker *again = NULL;
            if (devenum->CreateClassEnumerator(*category, &again, 0) == S_OK && again->Next(1, &same, NULL) == S_OK)
            {
                Returns(I, "IsEqual(the same device from another enumerator)", m->IsEqual(same), S_OK);
                same->Hash(&hash2);
                Holds(I, "equal monikers hash alike", hash == hash2);
                same->Release();
            }
            if (again) again->Release();
            Returns(I, "IsSystemMoniker", m->IsSystemMoniker(&kind), S_FALSE);

            IPropertyBag *bag = NULL;
            Returns(I, "BindToStorage(IPropertyBag)", m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag), S_OK);
            if (bag)
            {
                const char *B = "IPropertyBag";
                VARIANT v;
                VariantInit(&v);
                Returns(B, "Read(NULL name)", bag->Read(NULL, &v, NULL), E_POINTER);
                Returns(B, "Read(NULL value)", bag->Read(L"FriendlyName", NULL, NULL), E_POINTER);
                Returns(B, "Read(FriendlyName)", bag->Read(L"FriendlyName", &v, NULL), S_OK);
                Holds(B, "FriendlyName is a string", V_VT(&v) == VT_BSTR && V_BSTR(&v) && *V_BSTR(&v));
                VariantClear(&v);
                V_VT(&v) = VT_BSTR;
                V_BSTR(&v) = NULL;
                Returns(B, "Read(CLSID)", bag->Read(L"CLSID", &v, NULL), S_OK);
                CLSID in_bag = GUID_NULL;
                IBaseFilter *f = NULL;
                if (V_VT(&v) == VT_BSTR && V_BSTR(&v)) CLSIDFromString(V_BSTR(&v), &in_bag);
                VariantClear(&v);
                if (SUCCEEDED(m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&f)))
                {
                    f->GetClassID(&clsid);
                    Holds(B, "the bag's CLSID is the class of the filter the moniker binds to",
                          IsEqualGUID(clsid, in_bag));
                    f->Release();
                }
                VariantInit(&v);
                Holds(B, "Read of a name the bag lacks fails", FAILED(bag->Read(L"No such value", &v, NULL)));
                Holds(B, "a failed Read leaves the value empty", V_VT(&v) == VT_EMPTY);
                bag->Release();
            }
            m->Release();
        }
        if (second) second->Release();
        e->Release();
    }
    devenum->Release();
}

}  // namespace
