// System device enumerator of the media platform, created through the prefix's registry as the programs
// create it: categories, monikers, property bags and the filters they bind to.
#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "filters/filter.h"   // IPlatformFilter
#include "gtest_win.h"

#include <string>
#include <vector>

namespace {

struct ComEnvironment : ::testing::Environment
{
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL))); }
    void TearDown() override { CoUninitialize(); }
};
::testing::Environment *const com_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

std::string utf8(const WCHAR *w)
{
    char buf[512];
    if (!w || !WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof(buf), NULL, NULL)) return "";
    return buf;
}

struct Entry
{
    std::string name;
    CLSID clsid;
};

void set_virtual_camera(const WCHAR *value)
{
    SetEnvironmentVariableW(L"MEDIAPLATFORM_VIRTUAL_CAMERA", value);
}

ICreateDevEnum *create_devenum()
{
    ICreateDevEnum *devenum = NULL;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  (void **)&devenum);
    EXPECT_EQ(S_OK, hr);
    return devenum;
}

HRESULT read_string(IPropertyBag *bag, const WCHAR *name, std::string *out)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    HRESULT hr = bag->Read(name, &v, NULL);
    if (SUCCEEDED(hr))
    {
        EXPECT_EQ(VT_BSTR, V_VT(&v));
        if (V_VT(&v) == VT_BSTR) *out = utf8(V_BSTR(&v));
        VariantClear(&v);
    }
    return hr;
}

// Every moniker of a category, each checked: non-empty name, a "guid" that parses, a filter that binds and
// reports that class. Returns the entries in enumeration order.
std::vector<Entry> enumerate(REFGUID category, HRESULT *result = NULL)
{
    std::vector<Entry> entries;
    ICreateDevEnum *devenum = create_devenum();
    IEnumMoniker *monikers = NULL;
    if (!devenum) return entries;

    HRESULT hr = devenum->CreateClassEnumerator(category, &monikers, 0);
    devenum->Release();
    if (result) *result = hr;
    if (hr != S_OK)
    {
        EXPECT_TRUE(monikers == NULL);
        return entries;
    }

    IMoniker *m;
    ULONG fetched;
    while (monikers->Next(1, &m, &fetched) == S_OK)
    {
        EXPECT_EQ(1u, fetched);
        Entry e = {};
        IPropertyBag *bag = NULL;
        std::string guid;

        EXPECT_EQ(S_OK, m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag));
        if (bag)
        {
            EXPECT_EQ(S_OK, read_string(bag, L"FriendlyName", &e.name));
            EXPECT_EQ(S_OK, read_string(bag, L"guid", &guid));
            EXPECT_FALSE(SUCCEEDED(read_string(bag, L"NoSuchValue", &guid))) << e.name;
            bag->Release();
        }
        EXPECT_FALSE(e.name.empty());
        WCHAR wguid[64] = {0};
        MultiByteToWideChar(CP_UTF8, 0, guid.c_str(), -1, wguid, 64);
        EXPECT_EQ(S_OK, CLSIDFromString(wguid, &e.clsid)) << e.name << " guid " << guid;
        EXPECT_FALSE(IsEqualGUID(e.clsid, GUID_NULL)) << e.name;

        IBaseFilter *filter = NULL;
        EXPECT_EQ(S_OK, m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&filter)) << e.name;
        if (filter)
        {
            CLSID clsid = GUID_NULL;
            EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
            EXPECT_TRUE(IsEqualGUID(clsid, e.clsid)) << e.name;
            filter->Release();
        }
        m->Release();
        entries.push_back(e);
    }
    monikers->Release();
    return entries;
}

bool has_name(const std::vector<Entry> &list, const char *name)
{
    for (const Entry &e : list)
        if (e.name == name) return true;
    return false;
}

IBaseFilter *bind_by_name(REFGUID category, const char *name)
{
    ICreateDevEnum *devenum = create_devenum();
    IEnumMoniker *monikers = NULL;
    IBaseFilter *filter = NULL;
    IMoniker *m;

    if (!devenum) return NULL;
    if (devenum->CreateClassEnumerator(category, &monikers, 0) == S_OK)
    {
        while (!filter && monikers->Next(1, &m, NULL) == S_OK)
        {
            IPropertyBag *bag;
            std::string n;
            if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)))
            {
                if (SUCCEEDED(read_string(bag, L"FriendlyName", &n)) && n == name)
                    m->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&filter);
                bag->Release();
            }
            m->Release();
        }
        monikers->Release();
    }
    devenum->Release();
    return filter;
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

// The element part of an encoder's fragment, after the format it is fed in.
std::string encoder_part(const std::string &fragment)
{
    size_t at = fragment.rfind("! ");
    return at == std::string::npos ? fragment : fragment.substr(at + 2);
}

std::string description(IBaseFilter *filter)
{
    IPlatformFilter *pf = NULL;
    char text[512] = "";
    if (SUCCEEDED(filter->QueryInterface(IID_IPlatformFilter, (void **)&pf)))
    {
        EXPECT_EQ(S_OK, pf->GetDescription(text, sizeof(text)));
        pf->Release();
    }
    return text;
}

}  // namespace

TEST(DeviceEnumerator, ComesFromThePlatformThroughTheRegistry)
{
    ICreateDevEnum *devenum = create_devenum();
    ASSERT_TRUE(devenum != NULL);
    // the class is served by our DLL, not by Wine's devenum
    EXPECT_TRUE(GetModuleHandleW(L"mediaplatform.dll") != NULL);
    devenum->Release();

    IUnknown *unk = NULL;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_SystemDeviceEnum, (IUnknown *)0x1,
                                                      CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&unk));
}

TEST(DeviceEnumerator, EveryCategoryEntryHasNameGuidAndFilter)
{
    set_virtual_camera(L"1");
    const GUID *categories[] = { &CLSID_VideoCompressorCategory, &CLSID_AudioCompressorCategory,
                                 &CLSID_VideoEffects2Category, &CLSID_VideoInputDeviceCategory };
    for (const GUID *cat : categories)
    {
        HRESULT hr = E_FAIL;
        std::vector<Entry> list = enumerate(*cat, &hr);
        EXPECT_EQ(S_OK, hr);
        EXPECT_FALSE(list.empty());
        if (cat == &CLSID_VideoInputDeviceCategory) continue;   // two equal cameras share a class
        // no two entries share a name or a class (the "guid" is what a timeline stores)
        for (size_t i = 0; i < list.size(); i++)
            for (size_t j = i + 1; j < list.size(); j++)
            {
                EXPECT_NE(list[i].name, list[j].name);
                EXPECT_FALSE(IsEqualGUID(list[i].clsid, list[j].clsid)) << list[i].name;
            }
    }
    set_virtual_camera(NULL);
}

TEST(DeviceEnumerator, OrderIsStable)
{
    const GUID *categories[] = { &CLSID_VideoCompressorCategory, &CLSID_AudioCompressorCategory,
                                 &CLSID_VideoEffects2Category };
    for (const GUID *cat : categories)
    {
        std::vector<Entry> a = enumerate(*cat), b = enumerate(*cat);
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); i++)
        {
            EXPECT_EQ(a[i].name, b[i].name);
            EXPECT_TRUE(IsEqualGUID(a[i].clsid, b[i].clsid)) << a[i].name;
        }
    }
}

TEST(DeviceEnumerator, MonikerEnumeratorNextSkipResetClone)
{
    ICreateDevEnum *devenum = create_devenum();
    ASSERT_TRUE(devenum != NULL);
    IEnumMoniker *e = NULL;
    ASSERT_EQ(S_OK, devenum->CreateClassEnumerator(CLSID_AudioCompressorCategory, &e, 0));
    devenum->Release();
    size_t total = enumerate(CLSID_AudioCompressorCategory).size();
    ASSERT_GE(total, 3u);

    IMoniker *m[64] = {};
    ULONG fetched = 99;
    EXPECT_EQ(E_INVALIDARG, e->Next(2, m, NULL));
    EXPECT_EQ(S_OK, e->Next(2, m, &fetched));
    EXPECT_EQ(2u, fetched);
    m[0]->Release();
    m[1]->Release();

    IEnumMoniker *clone = NULL;
    ASSERT_EQ(S_OK, e->Clone(&clone));
    // the clone continues where the original stands, independently of it
    EXPECT_EQ(S_OK, e->Skip(1));
    EXPECT_EQ(S_FALSE, e->Next(64, m, &fetched));
    EXPECT_EQ(total - 3, fetched);
    for (ULONG i = 0; i < fetched; i++) m[i]->Release();
    EXPECT_EQ(S_FALSE, clone->Next(64, m, &fetched));
    EXPECT_EQ(total - 2, fetched);
    for (ULONG i = 0; i < fetched; i++) m[i]->Release();
    EXPECT_EQ(S_FALSE, clone->Skip(1));
    clone->Release();

    EXPECT_EQ(S_OK, e->Reset());
    EXPECT_EQ(S_FALSE, e->Skip((ULONG)total + 5));
    EXPECT_EQ(S_FALSE, e->Next(1, m, &fetched));
    EXPECT_EQ(0u, fetched);
    e->Release();
}

TEST(DeviceEnumerator, AudioCompressorsHoldTheCodecsTheProgramsLookFor)
{
    std::vector<Entry> audio = enumerate(CLSID_AudioCompressorCategory);
    EXPECT_TRUE(has_name(audio, "PCM"));
    EXPECT_TRUE(has_name(audio, "MPEG Layer-3"));
    EXPECT_TRUE(has_name(audio, "WMAudio Encoder DMO"));
}

TEST(DeviceEnumerator, TransitionsHoldTheKey)
{
    std::vector<Entry> transitions = enumerate(CLSID_VideoEffects2Category);
    bool key = false;
    for (const Entry &e : transitions)
        key |= IsEqualGUID(e.clsid, CLSID_DxtKey) != 0;
    EXPECT_TRUE(key);
    EXPECT_GE(transitions.size(), 8u);

    // the "guid" also works with CoCreateInstance, as a timeline's render engine uses it
    IBaseFilter *filter = NULL;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_DxtKey, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&filter));
    if (filter)
    {
        std::vector<IPin *> pins = pins_of(filter);
        EXPECT_EQ(3u, pins.size());   // two inputs, one output
        for (IPin *p : pins) p->Release();
        EXPECT_EQ("alpha method=custom", description(filter));
        filter->Release();
    }
}

TEST(DeviceEnumerator, VirtualCameraOnlyWithTheEnvironmentVariable)
{
    set_virtual_camera(NULL);
    EXPECT_FALSE(has_name(enumerate(CLSID_VideoInputDeviceCategory), "Virtual Camera"));
    set_virtual_camera(L"0");
    EXPECT_FALSE(has_name(enumerate(CLSID_VideoInputDeviceCategory), "Virtual Camera"));

    set_virtual_camera(L"1");
    std::vector<Entry> devices = enumerate(CLSID_VideoInputDeviceCategory);
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ("Virtual Camera", devices[0].name);   // the first device is the one a program takes

    IBaseFilter *camera = bind_by_name(CLSID_VideoInputDeviceCategory, "Virtual Camera");
    ASSERT_TRUE(camera != NULL);
    std::vector<IPin *> pins = pins_of(camera);
    ASSERT_EQ(1u, pins.size());
    PIN_DIRECTION dir = PINDIR_INPUT;
    EXPECT_EQ(S_OK, pins[0]->QueryDirection(&dir));
    EXPECT_EQ(PINDIR_OUTPUT, dir);
    pins[0]->Release();
    EXPECT_EQ(0u, description(camera).find("videotestsrc"));
    camera->Release();

    // with the variable gone the class is gone too
    set_virtual_camera(NULL);
    IBaseFilter *filter = NULL;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, CoCreateInstance(devices[0].clsid, NULL, CLSCTX_INPROC_SERVER,
                                                          IID_IBaseFilter, (void **)&filter));
    EXPECT_TRUE(filter == NULL);
}

TEST(DeviceEnumerator, UnknownOrEmptyCategoryGivesSFalseAndNoEnumerator)
{
    ICreateDevEnum *devenum = create_devenum();
    ASSERT_TRUE(devenum != NULL);
    static const GUID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    IEnumMoniker *e = (IEnumMoniker *)0xdeadbeef;
    EXPECT_EQ(S_FALSE, devenum->CreateClassEnumerator(unknown, &e, 0));
    EXPECT_TRUE(e == NULL);
    e = (IEnumMoniker *)0xdeadbeef;
    EXPECT_EQ(S_FALSE, devenum->CreateClassEnumerator(CLSID_VideoEffects1Category, &e, 0));
    EXPECT_TRUE(e == NULL);
    EXPECT_EQ(E_POINTER, devenum->CreateClassEnumerator(CLSID_AudioCompressorCategory, NULL, 0));
    devenum->Release();
}

TEST(CompressorFilter, FilterStateNameAndPins)
{
    IBaseFilter *mjpeg = bind_by_name(CLSID_VideoCompressorCategory, "Motion JPEG");
    ASSERT_TRUE(mjpeg != NULL);

    FILTER_INFO info;
    EXPECT_EQ(S_OK, mjpeg->QueryFilterInfo(&info));
    EXPECT_TRUE(info.pGraph == NULL);
    EXPECT_EQ(0, info.achName[0]);
    EXPECT_EQ(S_OK, mjpeg->JoinFilterGraph(NULL, L"Video Compressor"));
    EXPECT_EQ(S_OK, mjpeg->QueryFilterInfo(&info));
    EXPECT_EQ("Video Compressor", utf8(info.achName));

    FILTER_STATE state;
    EXPECT_EQ(S_OK, mjpeg->Pause());
    EXPECT_EQ(S_OK, mjpeg->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(S_OK, mjpeg->Stop());
    EXPECT_EQ(S_OK, mjpeg->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);

    std::vector<IPin *> pins = pins_of(mjpeg);
    ASSERT_EQ(2u, pins.size());
    PIN_INFO pi;
    EXPECT_EQ(S_OK, pins[0]->QueryPinInfo(&pi));
    EXPECT_EQ(PINDIR_INPUT, pi.dir);
    EXPECT_TRUE(pi.pFilter == mjpeg);
    pi.pFilter->Release();
    EXPECT_EQ(S_OK, pins[1]->QueryPinInfo(&pi));
    EXPECT_EQ(PINDIR_OUTPUT, pi.dir);
    pi.pFilter->Release();

    IPin *found = NULL;
    EXPECT_EQ(S_OK, mjpeg->FindPin(L"Out", &found));
    EXPECT_TRUE(found == pins[1]);
    if (found) found->Release();
    EXPECT_EQ(VFW_E_NOT_FOUND, mjpeg->FindPin(L"Nothing", &found));

    // the output offers the encoding: MJPG
    IEnumMediaTypes *types = NULL;
    AM_MEDIA_TYPE *mt = NULL;
    ASSERT_EQ(S_OK, pins[1]->EnumMediaTypes(&types));
    ASSERT_EQ(S_OK, types->Next(1, &mt, NULL));
    EXPECT_TRUE(IsEqualGUID(mt->majortype, MEDIATYPE_Video));
    EXPECT_EQ(MAKEFOURCC('M', 'J', 'P', 'G'), mt->subtype.Data1);
    CoTaskMemFree(mt);
    types->Release();

    // connecting video into an audio encoder is refused; into a transition it is kept
    IBaseFilter *pcm = bind_by_name(CLSID_AudioCompressorCategory, "PCM");
    IBaseFilter *fade = bind_by_name(CLSID_VideoEffects2Category, "Fade");
    ASSERT_TRUE(pcm != NULL);
    ASSERT_TRUE(fade != NULL);
    std::vector<IPin *> pcm_pins = pins_of(pcm), fade_pins = pins_of(fade);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, pins[1]->Connect(pcm_pins[0], NULL));
    EXPECT_EQ(S_OK, pins[1]->Connect(fade_pins[0], NULL));
    IPin *peer = NULL;
    EXPECT_EQ(S_OK, fade_pins[0]->ConnectedTo(&peer));
    EXPECT_TRUE(peer == pins[1]);
    if (peer) peer->Release();
    AM_MEDIA_TYPE cmt;
    EXPECT_EQ(S_OK, fade_pins[0]->ConnectionMediaType(&cmt));
    EXPECT_EQ(MAKEFOURCC('M', 'J', 'P', 'G'), cmt.subtype.Data1);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, pins[1]->Connect(fade_pins[1], NULL));
    EXPECT_EQ(S_OK, pins[1]->Disconnect());
    EXPECT_EQ(S_OK, fade_pins[0]->Disconnect());
    EXPECT_EQ(S_FALSE, fade_pins[0]->Disconnect());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, fade_pins[0]->ConnectedTo(&peer));

    for (IPin *p : pins) p->Release();
    for (IPin *p : pcm_pins) p->Release();
    for (IPin *p : fade_pins) p->Release();
    pcm->Release();
    fade->Release();
    mjpeg->Release();
}

TEST(CompressorFilter, QualityReachesTheEncoderSettings)
{
    IBaseFilter *mjpeg = bind_by_name(CLSID_VideoCompressorCategory, "Motion JPEG");
    ASSERT_TRUE(mjpeg != NULL);
    IAMVideoCompression *vc = NULL;
    ASSERT_EQ(S_OK, mjpeg->QueryInterface(IID_IAMVideoCompression, (void **)&vc));

    double q = -5;
    LONG caps = 0;
    EXPECT_EQ(S_OK, vc->GetInfo(NULL, NULL, NULL, NULL, NULL, NULL, &q, &caps));
    EXPECT_TRUE(caps & 1);   // can set the quality
    EXPECT_EQ(S_OK, vc->put_Quality(0.5));
    EXPECT_EQ(S_OK, vc->get_Quality(&q));
    EXPECT_DOUBLE_EQ(0.5, q);
    EXPECT_EQ("jpegenc quality=50", encoder_part(description(mjpeg)));
    EXPECT_EQ(E_INVALIDARG, vc->put_Quality(1.5));
    EXPECT_EQ("jpegenc quality=50", encoder_part(description(mjpeg)));
    vc->Release();
    mjpeg->Release();

    // the quantiser of the avcodec encoders: best quality is the smallest quantiser
    IBaseFilter *mp43 = bind_by_name(CLSID_VideoCompressorCategory, "MPEG-4 Video Codec V3");
    if (mp43)
    {
        ASSERT_EQ(S_OK, mp43->QueryInterface(IID_IAMVideoCompression, (void **)&vc));
        EXPECT_EQ(S_OK, vc->put_Quality(1.0));
        EXPECT_EQ(S_OK, vc->put_KeyFrameRate(25));
        EXPECT_EQ("avenc_msmpeg4 qmin=2 qmax=2 gop-size=25", encoder_part(description(mp43)));
        EXPECT_EQ(S_OK, vc->put_Quality(0.0));
        EXPECT_EQ("avenc_msmpeg4 qmin=31 qmax=31 gop-size=25", encoder_part(description(mp43)));
        vc->Release();
        mp43->Release();
    }

    // an encoder without a working quality setting does not offer the interface
    IBaseFilter *huffyuv = bind_by_name(CLSID_VideoCompressorCategory, "Huffyuv");
    if (huffyuv)
    {
        EXPECT_EQ(E_NOINTERFACE, huffyuv->QueryInterface(IID_IAMVideoCompression, (void **)&vc));
        huffyuv->Release();
    }
}
