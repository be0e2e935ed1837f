// Capture filter of the virtual camera, bound through the device enumerator as the recorder binds it: its
// formats (IAMStreamConfig on the filter and its pin), its picture controls (IAMVideoProcAmp), and the
// frames its pipeline fragment really produces with them.
#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "filters/filter.h"   // IPlatformFilter
#include "camera_frames.h"
#include "gtest_win.h"

#include <math.h>
#include <set>
#include <string>
#include <utility>

namespace {

struct ComEnvironment : ::testing::Environment
{
    void SetUp() override
    {
        // before any enumerator exists: the platform reads it at enumeration
        SetEnvironmentVariableW(L"MEDIAPLATFORM_VIRTUAL_CAMERA", L"1");
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    }
    void TearDown() override { CoUninitialize(); }
};
::testing::Environment *const com_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

std::string utf8(const WCHAR *w)
{
    char buf[512];
    if (!w || !WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof(buf), NULL, NULL)) return "";
    return buf;
}

void free_type(AM_MEDIA_TYPE *mt)
{
    if (!mt) return;
    CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    CoTaskMemFree(mt);
}

// The first video capture device, bound the way the recorder binds it; its friendly name in name.
IBaseFilter *bind_first_camera(std::string *name)
{
    ICreateDevEnum *devenum = NULL;
    IEnumMoniker *monikers = NULL;
    IMoniker *moniker = NULL;
    IBaseFilter *filter = NULL;

    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     (void **)&devenum));
    if (!devenum) return NULL;
    EXPECT_EQ(S_OK, devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0));
    devenum->Release();
    if (!monikers) return NULL;
    if (monikers->Next(1, &moniker, NULL) == S_OK)
    {
        IPropertyBag *bag = NULL;
        if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)))
        {
            VARIANT v;
            VariantInit(&v);
            V_VT(&v) = VT_BSTR;
            if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && V_VT(&v) == VT_BSTR) *name = utf8(V_BSTR(&v));
            VariantClear(&v);
            bag->Release();
        }
        EXPECT_EQ(S_OK, moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&filter));
        moniker->Release();
    }
    monikers->Release();
    return filter;
}

std::string description(IBaseFilter *filter)
{
    IPlatformFilter *pf = NULL;
    char text[4096];
    if (FAILED(filter->QueryInterface(IID_IPlatformFilter, (void **)&pf))) return "";
    HRESULT hr = pf->GetDescription(text, sizeof(text));
    pf->Release();
    EXPECT_EQ(S_OK, hr);
    return SUCCEEDED(hr) ? text : "";
}

// One frame of the filter's pipeline as it stands now.
frame_stats frame_of(IBaseFilter *filter)
{
    frame_stats stats;
    char error[256] = "";
    std::string d = description(filter);
    EXPECT_TRUE(measure_frame(d.c_str(), &stats, error, sizeof(error))) << d << ": " << error;
    return stats;
}

IPin *capture_pin(IBaseFilter *filter)
{
    IEnumPins *pins = NULL;
    IPin *pin = NULL, *found = NULL;
    if (FAILED(filter->EnumPins(&pins))) return NULL;
    while (!found && pins->Next(1, &pin, NULL) == S_OK)
    {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) found = pin;
        else pin->Release();
    }
    pins->Release();
    return found;
}

// A media type as the recorder builds it for SetFormat: RGB24 of this size, no frame time.
struct RecorderType
{
    AM_MEDIA_TYPE mt;
    VIDEOINFOHEADER vih;
    RecorderType(LONG width, LONG height, REFGUID subtype = MEDIASUBTYPE_RGB24)
    {
        LONG bytes = ((width * 24 + 31) & ~31) / 8 * (height < 0 ? -height : height);
        memset(&mt, 0, sizeof(mt));
        memset(&vih, 0, sizeof(vih));
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = width;
        vih.bmiHeader.biHeight = height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biSizeImage = bytes;
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = subtype;
        mt.bFixedSizeSamples = TRUE;
        mt.lSampleSize = bytes;
        mt.formattype = FORMAT_VideoInfo;
        mt.cbFormat = sizeof(vih);
        mt.pbFormat = (BYTE *)&vih;
    }
};

class VirtualCamera : public ::testing::Test
{
protected:
    void SetUp() override
    {
        filter = bind_first_camera(&name);
        ASSERT_TRUE(filter != NULL);
        ASSERT_EQ("Virtual Camera", name);
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IAMStreamConfig, (void **)&config));
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IAMVideoProcAmp, (void **)&amp));
    }
    void TearDown() override
    {
        if (amp) amp->Release();
        if (config) config->Release();
        if (filter)
        {
            EXPECT_EQ(0u, filter->Release());
        }
    }

    std::string name;
    IBaseFilter *filter = NULL;
    IAMStreamConfig *config = NULL;
    IAMVideoProcAmp *amp = NULL;
};

TEST_F(VirtualCamera, StreamConfigOnFilterAndPinShareOneFormat)
{
    IPin *pin = capture_pin(filter);
    ASSERT_TRUE(pin != NULL);
    IAMStreamConfig *pin_config = NULL;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IAMStreamConfig, (void **)&pin_config));

    // the pin's interface belongs to the pin
    IPin *back = NULL;
    EXPECT_EQ(S_OK, pin_config->QueryInterface(IID_IPin, (void **)&back));
    EXPECT_EQ(pin, back);
    if (back) back->Release();

    // a format set through the pin is the filter's format
    RecorderType big(640, 480);
    EXPECT_EQ(S_OK, pin_config->SetFormat(&big.mt));
    AM_MEDIA_TYPE *mt = NULL;
    ASSERT_EQ(S_OK, config->GetFormat(&mt));
    VIDEOINFOHEADER *vih = (VIDEOINFOHEADER *)mt->pbFormat;
    EXPECT_EQ(640, vih->bmiHeader.biWidth);
    EXPECT_EQ(480, vih->bmiHeader.biHeight);
    free_type(mt);
    frame_stats f = frame_of(filter);
    EXPECT_EQ(640, f.width);
    EXPECT_EQ(480, f.height);

    pin_config->Release();
    pin->Release();
}

TEST_F(VirtualCamera, HasNoVfwDialogs)
{
    void *dialogs = (void *)1;
    EXPECT_EQ(E_NOINTERFACE, filter->QueryInterface(IID_IAMVfwCaptureDialogs, &dialogs));
    EXPECT_TRUE(dialogs == NULL);
    IPin *pin = capture_pin(filter);
    ASSERT_TRUE(pin != NULL);
    dialogs = (void *)1;
    EXPECT_EQ(E_NOINTERFACE, pin->QueryInterface(IID_IAMVfwCaptureDialogs, &dialogs));
    EXPECT_TRUE(dialogs == NULL);
    // the picture controls are the filter's, not the pin's
    EXPECT_EQ(E_NOINTERFACE, pin->QueryInterface(IID_IAMVideoProcAmp, &dialogs));
    pin->Release();
}

// Every capability as the recorder reads it, and the frames each one really gives.
TEST_F(VirtualCamera, EveryCapabilityIsConsistentAndDelivered)
{
    int count = -1, size = -1;
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(128, size);
    ASSERT_GE(count, 5);

    std::set<std::pair<LONG, LONG>> sizes;
    for (int i = 0; i < count; i++)
    {
        AM_MEDIA_TYPE *mt = NULL;
        VIDEO_STREAM_CONFIG_CAPS caps;
        memset(&caps, 0xcc, sizeof(caps));
        ASSERT_EQ(S_OK, config->GetStreamCaps(i, &mt, (BYTE *)&caps)) << i;
        ASSERT_TRUE(mt != NULL);
        EXPECT_TRUE(IsEqualGUID(mt->majortype, MEDIATYPE_Video));
        EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24));
        EXPECT_TRUE(IsEqualGUID(mt->formattype, FORMAT_VideoInfo));
        EXPECT_TRUE(IsEqualGUID(caps.guid, FORMAT_VideoInfo));
        ASSERT_GE(mt->cbFormat, sizeof(VIDEOINFOHEADER));
        ASSERT_TRUE(mt->pbFormat != NULL);
        const VIDEOINFOHEADER *vih = (const VIDEOINFOHEADER *)mt->pbFormat;
        const BITMAPINFOHEADER &bih = vih->bmiHeader;
        LONG w = bih.biWidth, h = bih.biHeight;
        EXPECT_EQ(caps.MaxOutputSize.cx, w);
        EXPECT_EQ(caps.MaxOutputSize.cy, h);
        EXPECT_EQ(caps.MinOutputSize.cx, w);
        EXPECT_EQ(caps.MinOutputSize.cy, h);
        EXPECT_EQ(24, bih.biBitCount);
        EXPECT_EQ(1, bih.biPlanes);
        EXPECT_EQ((DWORD)BI_RGB, bih.biCompression);
        EXPECT_EQ((DWORD)(((w * 3 + 3) & ~3) * h), bih.biSizeImage);
        EXPECT_EQ((ULONG)bih.biSizeImage, mt->lSampleSize);
        EXPECT_TRUE(mt->bFixedSizeSamples);
        EXPECT_FALSE(mt->bTemporalCompression);
        EXPECT_GT(vih->AvgTimePerFrame, 0);
        EXPECT_GE(vih->AvgTimePerFrame, caps.MinFrameInterval);
        EXPECT_LE(vih->AvgTimePerFrame, caps.MaxFrameInterval);
        EXPECT_LE(caps.MinBitsPerSecond, caps.MaxBitsPerSecond);
        EXPECT_TRUE(sizes.insert(std::make_pair(w, h)).second) << "size listed twice: " << w << "x" << h;

        // the format itself is accepted and delivers frames of that size at that rate
        EXPECT_EQ(S_OK, config->SetFormat(mt));
        frame_stats f = frame_of(filter);
        EXPECT_EQ(w, f.width);
        EXPECT_EQ(h, f.height);
        ASSERT_GT(f.fps_num, 0);
        EXPECT_NEAR(10000000.0 * f.fps_den / f.fps_num, (double)vih->AvgTimePerFrame, 1.0);
        free_type(mt);
    }
    for (auto s : {std::make_pair(160L, 120L), std::make_pair(176L, 144L), std::make_pair(320L, 240L),
                   std::make_pair(352L, 288L), std::make_pair(640L, 480L)})
        EXPECT_EQ(1u, sizes.count(std::make_pair((LONG)s.first, (LONG)s.second))) << s.first << "x" << s.second;

    AM_MEDIA_TYPE *mt = (AM_MEDIA_TYPE *)1;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(count, &mt, (BYTE *)&caps));
    EXPECT_TRUE(mt == NULL);
}

// The recorder takes the first listed size as its starting size: it must be the one the camera gives.
TEST_F(VirtualCamera, FirstCapabilityIsTheStartingFormat)
{
    AM_MEDIA_TYPE *first = NULL, *current = NULL;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(0, &first, (BYTE *)&caps));
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    const BITMAPINFOHEADER &a = ((VIDEOINFOHEADER *)first->pbFormat)->bmiHeader;
    const BITMAPINFOHEADER &b = ((VIDEOINFOHEADER *)current->pbFormat)->bmiHeader;
    EXPECT_EQ(a.biWidth, b.biWidth);
    EXPECT_EQ(a.biHeight, b.biHeight);
    frame_stats f = frame_of(filter);
    EXPECT_EQ(b.biWidth, f.width);
    EXPECT_EQ(b.biHeight, f.height);
    free_type(first);
    free_type(current);
}

TEST_F(VirtualCamera, SetFormatChangesTheFramesAndRefusesOthers)
{
    RecorderType qcif(176, 144);
    ASSERT_EQ(S_OK, config->SetFormat(&qcif.mt));
    frame_stats f = frame_of(filter);
    EXPECT_EQ(176, f.width);
    EXPECT_EQ(144, f.height);

    // sizes not in the list, other subtypes, top-down frames: refused, the format stays
    RecorderType odd(641, 480), between(200, 150), rgb32(320, 240, MEDIASUBTYPE_RGB32), flipped(320, -240);
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&odd.mt));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&between.mt));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&rgb32.mt));
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&flipped.mt));
    RecorderType audio(320, 240);
    audio.mt.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&audio.mt));
    RecorderType no_block(320, 240);
    no_block.mt.cbFormat = 0;
    no_block.mt.pbFormat = NULL;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&no_block.mt));
    // a frame time outside what the camera can do
    RecorderType too_fast(320, 240);
    too_fast.vih.AvgTimePerFrame = 10000000 / 120;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(&too_fast.mt));

    f = frame_of(filter);
    EXPECT_EQ(176, f.width);
    EXPECT_EQ(144, f.height);

    // a frame time it can do is the rate of the frames
    RecorderType fast(352, 288);
    fast.vih.AvgTimePerFrame = 333333;
    ASSERT_EQ(S_OK, config->SetFormat(&fast.mt));
    f = frame_of(filter);
    EXPECT_EQ(352, f.width);
    EXPECT_EQ(288, f.height);
    EXPECT_EQ(30, f.fps_num);
    EXPECT_EQ(1, f.fps_den);
}

TEST_F(VirtualCamera, PictureControlRanges)
{
    static const LONG manual[] = {VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Hue,
                                  VideoProcAmp_Saturation, VideoProcAmp_Gamma, VideoProcAmp_ColorEnable,
                                  VideoProcAmp_Gain};
    for (LONG p : manual)
    {
        LONG min, max, step, def, caps, value, flags;
        ASSERT_EQ(S_OK, amp->GetRange(p, &min, &max, &step, &def, &caps)) << p;
        EXPECT_LT(min, max) << p;
        EXPECT_GT(step, 0) << p;
        EXPECT_GE(def, min) << p;
        EXPECT_LE(def, max) << p;
        EXPECT_EQ(VideoProcAmp_Flags_Manual, caps) << p;
        ASSERT_EQ(S_OK, amp->Get(p, &value, &flags)) << p;
        EXPECT_EQ(def, value) << p;
        EXPECT_EQ(VideoProcAmp_Flags_Manual, flags) << p;

        // the ends are accepted, one past them refused and the value kept
        EXPECT_EQ(S_OK, amp->Set(p, max, VideoProcAmp_Flags_Manual)) << p;
        EXPECT_EQ(S_OK, amp->Set(p, min, VideoProcAmp_Flags_Manual)) << p;
        EXPECT_EQ(E_INVALIDARG, amp->Set(p, max + 1, VideoProcAmp_Flags_Manual)) << p;
        EXPECT_EQ(E_INVALIDARG, amp->Set(p, min - 1, VideoProcAmp_Flags_Manual)) << p;
        ASSERT_EQ(S_OK, amp->Get(p, &value, &flags));
        EXPECT_EQ(min, value) << p;
        // no automatic mode, no mode at all
        EXPECT_EQ(E_INVALIDARG, amp->Set(p, def, VideoProcAmp_Flags_Auto)) << p;
        EXPECT_EQ(E_INVALIDARG, amp->Set(p, def, 0)) << p;
        EXPECT_EQ(S_OK, amp->Set(p, def, VideoProcAmp_Flags_Manual)) << p;
    }
    LONG dummy = 0, value = 0, flags = 0;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->GetRange(10, &dummy, &dummy, &dummy, &dummy, &dummy));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->GetRange(-1, &dummy, &dummy, &dummy, &dummy, &dummy));
    EXPECT_EQ(E_POINTER, amp->Get(VideoProcAmp_Brightness, NULL, &flags));
    EXPECT_EQ(S_OK, amp->Get(VideoProcAmp_Brightness, &value, &flags));
}

TEST_F(VirtualCamera, WhiteBalanceIsAutomatic)
{
    LONG min, max, step, def, caps, value, flags;
    ASSERT_EQ(S_OK, amp->GetRange(VideoProcAmp_WhiteBalance, &min, &max, &step, &def, &caps));
    EXPECT_EQ(VideoProcAmp_Flags_Auto, caps);
    EXPECT_LT(min, max);
    ASSERT_EQ(S_OK, amp->Get(VideoProcAmp_WhiteBalance, &value, &flags));
    EXPECT_EQ(VideoProcAmp_Flags_Auto, flags);
    EXPECT_GE(value, min);
    EXPECT_LE(value, max);
    // it cannot be taken out of automatic mode
    EXPECT_EQ(E_INVALIDARG, amp->Set(VideoProcAmp_WhiteBalance, def, VideoProcAmp_Flags_Manual));
    EXPECT_EQ(S_OK, amp->Set(VideoProcAmp_WhiteBalance, def, VideoProcAmp_Flags_Auto));
    ASSERT_EQ(S_OK, amp->Get(VideoProcAmp_WhiteBalance, &value, &flags));
    EXPECT_EQ(VideoProcAmp_Flags_Auto, flags);
}

TEST_F(VirtualCamera, BacklightCompensationIsUnsupported)
{
    LONG a, b, c, d, e;
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->GetRange(VideoProcAmp_BacklightCompensation, &a, &b, &c, &d, &e));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->Get(VideoProcAmp_BacklightCompensation, &a, &b));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->Set(VideoProcAmp_BacklightCompensation, 0, VideoProcAmp_Flags_Manual));
}

// What the recorder's settings dialog does: read every property, change one, apply it.
TEST_F(VirtualCamera, BrightnessChangesThePicture)
{
    frame_stats normal = frame_of(filter);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Brightness, 60, VideoProcAmp_Flags_Manual));
    frame_stats bright = frame_of(filter);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Brightness, -60, VideoProcAmp_Flags_Manual));
    frame_stats dark = frame_of(filter);
    EXPECT_GT(bright.mean_luma, normal.mean_luma + 40) << description(filter);
    EXPECT_LT(dark.mean_luma, normal.mean_luma - 40) << description(filter);
    // back to the default: the plain test picture
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Brightness, 0, VideoProcAmp_Flags_Manual));
    EXPECT_NEAR(normal.mean_luma, frame_of(filter).mean_luma, 1.0);
}

TEST_F(VirtualCamera, ContrastGammaAndGainChangeThePicture)
{
    frame_stats normal = frame_of(filter);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Contrast, 20, VideoProcAmp_Flags_Manual));
    frame_stats flat = frame_of(filter);
    EXPECT_LT(flat.luma_stddev, normal.luma_stddev * 0.4);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Contrast, 100, VideoProcAmp_Flags_Manual));

    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Gamma, 300, VideoProcAmp_Flags_Manual));
    frame_stats lifted = frame_of(filter);
    EXPECT_GT(lifted.mean_luma, normal.mean_luma + 20);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Gamma, 100, VideoProcAmp_Flags_Manual));

    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Gain, 100, VideoProcAmp_Flags_Manual));
    frame_stats gained = frame_of(filter);
    EXPECT_GT(gained.mean_luma, normal.mean_luma + 20);
}

TEST_F(VirtualCamera, ColourControlsChangeThePicture)
{
    frame_stats normal = frame_of(filter);
    ASSERT_GT(normal.chroma, 60);   // colour bars

    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Saturation, 0, VideoProcAmp_Flags_Manual));
    EXPECT_LT(frame_of(filter).chroma, 4);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Saturation, 100, VideoProcAmp_Flags_Manual));

    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_ColorEnable, 0, VideoProcAmp_Flags_Manual));
    frame_stats grey = frame_of(filter);
    EXPECT_LT(grey.chroma, 4);
    EXPECT_NEAR(normal.mean_luma, grey.mean_luma, 8);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_ColorEnable, 1, VideoProcAmp_Flags_Manual));

    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Hue, 180, VideoProcAmp_Flags_Manual));
    frame_stats turned = frame_of(filter);
    double moved = fabs(turned.mean_r - normal.mean_r) + fabs(turned.mean_g - normal.mean_g)
                 + fabs(turned.mean_b - normal.mean_b);
    EXPECT_GT(moved, 30);
    EXPECT_GT(turned.chroma, 40);   // other colours, still colours
}

TEST_F(VirtualCamera, SharpnessChangesThePictureWhereOffered)
{
    LONG min, max, step, def, caps;
    if (amp->GetRange(VideoProcAmp_Sharpness, &min, &max, &step, &def, &caps) != S_OK)
        GTEST_SKIP() << "no sharpening element installed";
    EXPECT_EQ(VideoProcAmp_Flags_Manual, caps);
    frame_stats normal = frame_of(filter);
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Sharpness, max, VideoProcAmp_Flags_Manual));
    frame_stats sharp = frame_of(filter);
    EXPECT_GT(sharp.edges, normal.edges * 1.2);
    EXPECT_EQ(normal.width, sharp.width);
}

// The recorder binds a new filter for every rebuild and sends its settings again: each binding starts
// from the camera's defaults, and one binding's settings do not leak into another.
TEST_F(VirtualCamera, EachBindingHasItsOwnSettings)
{
    RecorderType big(640, 480);
    ASSERT_EQ(S_OK, config->SetFormat(&big.mt));
    ASSERT_EQ(S_OK, amp->Set(VideoProcAmp_Brightness, 50, VideoProcAmp_Flags_Manual));

    std::string other_name;
    IBaseFilter *other = bind_first_camera(&other_name);
    ASSERT_TRUE(other != NULL);
    IAMVideoProcAmp *other_amp = NULL;
    ASSERT_EQ(S_OK, other->QueryInterface(IID_IAMVideoProcAmp, (void **)&other_amp));
    LONG value = -1, flags = 0;
    EXPECT_EQ(S_OK, other_amp->Get(VideoProcAmp_Brightness, &value, &flags));
    EXPECT_EQ(0, value);
    other_amp->Release();
    frame_stats f = frame_of(other);
    EXPECT_EQ(320, f.width);
    EXPECT_EQ(240, f.height);
    EXPECT_EQ(0u, other->Release());

    f = frame_of(filter);
    EXPECT_EQ(640, f.width);
}

}  // namespace
