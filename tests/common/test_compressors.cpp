// Compressor lists against a device enumerator of the test's own, registered in this process: the
// bound, nameless and unbindable entries, the Indeo preset and the sorted fill.
#include <windows.h>
#include <dshow.h>
#include <string.h>
#include <string>
#include <vector>
#include "compressors.h"
#include "gtest_win.h"

namespace {

// A category's entries as the fake enumerator offers them.
struct Entry {
    std::string name;  // friendly name (ASCII here)
    bool binds;        // whether BindToObject gives a filter
};
std::vector<Entry> category;
int filtersAlive;

// Reference counting and QueryInterface for a fake that offers one interface I.
template <typename I> class Fake : public I {
    LONG refs = 1;
public:
    virtual ~Fake() {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(I))) {
            *out = static_cast<I *>(this);
            this->AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs);
        if (!left) delete this;
        return left;
    }
};

// The least of a filter: only its reference count matters to the lists.
class FakeFilter : public Fake<IBaseFilter> {
public:
    FakeFilter() { filtersAlive++; }
    ~FakeFilter() { filtersAlive--; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Pause() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *) override { return E_NOTIMPL; }
};

class FakeBag : public Fake<IPropertyBag> {
    std::string name;
public:
    explicit FakeBag(const std::string &n) : name(n) {}
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR property, VARIANT *value, IErrorLog *) override
    {
        static const WCHAR friendly[] = {'F','r','i','e','n','d','l','y','N','a','m','e',0};
        if (lstrcmpW(property, friendly) != 0) return E_INVALIDARG;
        WCHAR wide[256];
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, 256);
        V_VT(value) = VT_BSTR;
        V_BSTR(value) = SysAllocString(wide);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT *) override { return E_NOTIMPL; }
};

class FakeMoniker : public Fake<IMoniker> {
    Entry entry;
public:
    explicit FakeMoniker(const Entry &e) : entry(e) {}
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *, IMoniker *, REFIID riid, void **out) override
    {
        if (!IsEqualIID(riid, IID_IPropertyBag)) return E_NOINTERFACE;
        *out = new FakeBag(entry.name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID riid, void **out) override
    {
        if (!entry.binds || !IsEqualIID(riid, IID_IBaseFilter)) return E_FAIL;
        *out = static_cast<IBaseFilter *>(new FakeFilter());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream *, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx *, DWORD, IMoniker **, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker *, BOOL, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Hash(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx *, IMoniker *, IMoniker *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx *, IMoniker *, FILETIME *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker *, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker *, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx *, IMoniker *, LPOLESTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx *, IMoniker *, LPOLESTR, ULONG *, IMoniker **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD *) override { return E_NOTIMPL; }
};

class FakeMonikers : public Fake<IEnumMoniker> {
    size_t next = 0;
public:
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker **out, ULONG *fetched) override
    {
        if (count != 1 || next >= category.size()) {
            if (fetched) *fetched = 0;
            return S_FALSE;
        }
        *out = new FakeMoniker(category[next++]);
        if (fetched) *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        next += count;
        return next <= category.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker **) override { return E_NOTIMPL; }
};

class FakeDevices : public ICreateDevEnum, public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        if (IsEqualIID(riid, IID_ICreateDevEnum)) {
            *out = static_cast<ICreateDevEnum *>(this);
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID, IEnumMoniker **out, DWORD) override
    {
        if (category.empty()) {
            *out = NULL;
            return S_FALSE;
        }
        *out = new FakeMonikers();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override
    {
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FakeDevices devices;

class Compressors : public ::testing::Test {
protected:
    DWORD cookie = 0;
    CompressorList list{};
    void SetUp() override
    {
        CoInitialize(NULL);
        ASSERT_EQ(CoRegisterClassObject(CLSID_SystemDeviceEnum, static_cast<IClassFactory *>(&devices),
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
        category.clear();
    }
    void TearDown() override
    {
        ReleaseCompressors(&list);
        EXPECT_EQ(filtersAlive, 0) << "every filter is released";
        CoRevokeClassObject(cookie);
        CoUninitialize();
    }
};

TEST_F(Compressors, ListStopsAt64AndSkipsNamelessAndUnbindableEntries)
{
    for (int i = 0; i < 80; i++) category.push_back({"codec " + std::to_string(i), i != 3});
    category[5].name = "";
    ASSERT_TRUE(EnumerateCompressors(&list, CLSID_VideoCompressorCategory));
    EXPECT_EQ(list.count, 64);
    EXPECT_STREQ(list.names[0], "none");
    EXPECT_EQ(list.filters[0], nullptr);
    EXPECT_STREQ(list.names[3], "codec 2");
    EXPECT_STREQ(list.names[4], "codec 4") << "codec 3 does not bind";
    EXPECT_STREQ(list.names[5], "codec 6") << "codec 5 has no name";
    EXPECT_STREQ(list.names[63], "codec 64");
    EXPECT_EQ(filtersAlive, 63) << "the rest are neither listed nor made";
    for (int i = 1; i < 64; i++) EXPECT_NE(list.filters[i], nullptr);
}

TEST_F(Compressors, LastIndeoIsPresetAndLongNamesAreCut)
{
    category = {{"Cinepak", true}, {"Indeo video 5", true}, {"MJPEG", true}, {"Indeo video 4", true},
                {std::string(100, 'x'), true}};
    ASSERT_TRUE(EnumerateCompressors(&list, CLSID_VideoCompressorCategory));
    EXPECT_EQ(list.selection, 4);
    EXPECT_EQ(strlen(list.names[5]), 63u);

    // Rebuilding releases the filters of the first build.
    ASSERT_TRUE(EnumerateCompressors(&list, CLSID_VideoCompressorCategory));
    EXPECT_EQ(filtersAlive, 5);
}

TEST_F(Compressors, EmptyCategoryLeavesOnlyNone)
{
    ASSERT_TRUE(EnumerateCompressors(&list, CLSID_VideoCompressorCategory));
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.selection, 0);
}

TEST_F(Compressors, ComboWithAndWithoutNoneLine)
{
    HWND combo = CreateWindowA("COMBOBOX", NULL, CBS_DROPDOWNLIST, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    IBaseFilter *filters[MAX_COMPRESSORS] = {};
    int preset = -1;
    category = {{"A", true}, {"Indeo 1", true}, {"B", true}};
    ASSERT_TRUE(EnumerateCompressorsIntoCombo(combo, filters, CLSID_VideoCompressorCategory, true, &preset));
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(filters[0], nullptr);
    EXPECT_EQ(preset, 2);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    ASSERT_TRUE(EnumerateCompressorsIntoCombo(combo, filters, CLSID_VideoCompressorCategory, false, &preset));
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
    EXPECT_NE(filters[0], nullptr);
    EXPECT_EQ(preset, 1);
    EXPECT_EQ(filtersAlive, 3) << "the first fill's filters were released";
    category.clear();
    EXPECT_FALSE(EnumerateCompressorsIntoCombo(combo, filters, CLSID_VideoCompressorCategory, false, &preset))
        << "without a none line an empty category fails";
    for (IBaseFilter *&f : filters)
        if (f) f->Release(), f = NULL;
    DestroyWindow(combo);
}

TEST_F(Compressors, SortedFillIsCaseInsensitiveStableAndRecordsPresets)
{
    category = {{"mp3", true}, {"PCM", true}, {"Indeo b", true}, {"adpcm", true}, {"MP3", true},
                {"indeo a", true}, {"Indeo c", true}};
    ASSERT_TRUE(EnumerateCompressors(&list, CLSID_AudioCompressorCategory));
    HWND combo = CreateWindowA("COMBOBOX", NULL, CBS_DROPDOWNLIST, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    int pcm = -1;
    list.selection = 0;
    FillSortedCombo(&list, combo, true, &pcm);
    std::vector<std::string> lines;
    for (int i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); i++) {
        char text[64];
        SendMessageA(combo, CB_GETLBTEXT, i, (LPARAM)text);
        lines.push_back(text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"none", "adpcm", "indeo a", "Indeo b", "Indeo c", "mp3", "MP3", "PCM"}));
    EXPECT_EQ(list.order[1], 4);
    EXPECT_EQ(list.order[5], 1) << "equal names keep list order";
    EXPECT_EQ(list.order[6], 5);
    EXPECT_EQ(list.selection, 4) << "the last Indeo in sorted order, by its position";

    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    FillSortedCombo(&list, combo, false, &pcm);
    EXPECT_EQ(pcm, 7);
    DestroyWindow(combo);
}

}  // namespace
