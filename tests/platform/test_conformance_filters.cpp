// The documented behaviour of the platform's filters, their pins and the objects that make them: every
// method's argument checks and return codes, the connection rules of pins, the File Writer's and the AVI
// multiplexer's own interfaces, and COM aggregation. Each check counts for its interface
// (conformance.h); the program prints how many hold.
#include <windows.h>
#include <dshow.h>

#include <string.h>
#include <string>
#include <vector>

#include "conformance.h"
#include "editing_services.h"

using conf::Holds;
using conf::Returns;

namespace {

struct ComEnvironment : ::testing::Environment
{
    void SetUp() override
    {
        SetEnvironmentVariableW(L"MEDIAPLATFORM_VIRTUAL_CAMERA", L"1");
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    }
    void TearDown() override { CoUninitialize(); }
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

}  // namespace
