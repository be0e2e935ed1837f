/*
 * The filters the device enumerator lists: video and audio compressors (GStreamer encoders that the AVI
 * and WAV writers take), video transitions (reveals GES can draw) and video capture devices. An entry is
 * listed only when the element behind it is installed, always in the order of the tables below.
 */
#include "filters/catalog.h"
#include "glue/gstglue.h"
#include "glue/devices.h"

#include <mmreg.h>
#include <dvdmedia.h>
#include <new>
#include <string.h>

static const CLSID CLSID_MotionJpegCompressor = {0xe7c659cb, 0x9873, 0x4ba5, {0x80, 0x3f, 0xe8, 0x32, 0x4a, 0x99, 0x90, 0x27}};
static const CLSID CLSID_Mpeg4V3Compressor = {0x22f35dbf, 0x3e74, 0x4cee, {0xba, 0x63, 0xc5, 0xef, 0x02, 0xdf, 0xaf, 0x28}};
static const CLSID CLSID_Mpeg4V2Compressor = {0xf0e69509, 0xf669, 0x46bd, {0xa1, 0x30, 0x80, 0x60, 0xc4, 0x6f, 0x76, 0xb9}};
static const CLSID CLSID_Mpeg4Part2Compressor = {0x5d6b1f3a, 0x2c47, 0x4e0b, {0x9a, 0x61, 0x3f, 0x0d, 0x84, 0xc2, 0x7e, 0x15}};
static const CLSID CLSID_WMVideo8Compressor = {0x056e7755, 0x5fac, 0x4a09, {0x88, 0x9e, 0x73, 0x08, 0x1c, 0xbd, 0x66, 0x5b}};
static const CLSID CLSID_HuffyuvCompressor = {0x2c47c480, 0x1bc4, 0x44b4, {0xb1, 0x63, 0x7c, 0x34, 0xf7, 0x7b, 0x12, 0xbb}};
static const CLSID CLSID_H264Compressor = {0xae9255dc, 0xb462, 0x415a, {0x88, 0x1a, 0x51, 0xce, 0xab, 0x1d, 0xf9, 0x08}};
static const CLSID CLSID_VP8Compressor = {0xb543c89f, 0x67c5, 0x44be, {0xbb, 0xbb, 0xb5, 0x57, 0x4f, 0x31, 0x77, 0xec}};
static const CLSID CLSID_CinepakCompressor = {0xa224a0da, 0x9f00, 0x4ab8, {0x83, 0xbe, 0x49, 0xb0, 0xd2, 0xbd, 0x7d, 0xec}};
static const CLSID CLSID_MSVideo1Compressor = {0x26ab1fef, 0xbb77, 0x47d0, {0x8a, 0x5b, 0xa5, 0x7b, 0x49, 0x9f, 0x65, 0xd5}};
static const CLSID CLSID_DVCompressor = {0xf8616701, 0xbb40, 0x4884, {0xa3, 0x6b, 0x68, 0x53, 0x84, 0x90, 0x2c, 0x67}};
static const CLSID CLSID_FFV1Compressor = {0xb50a92b5, 0x21d1, 0x4ffe, {0x80, 0x66, 0x41, 0x45, 0x33, 0x4f, 0xc0, 0xcf}};
static const CLSID CLSID_PcmCompressor = {0x441447d4, 0xf97e, 0x435d, {0x91, 0x18, 0x3d, 0xae, 0xdf, 0x55, 0xb4, 0xa5}};
static const CLSID CLSID_Mp3Compressor = {0xf6ae1273, 0xdbdd, 0x4286, {0x8c, 0x39, 0xa9, 0x47, 0xe2, 0x9b, 0x0f, 0xff}};
static const CLSID CLSID_WMAudioCompressor = {0x5ea7ff10, 0xe246, 0x4209, {0x8f, 0xe7, 0xb8, 0xab, 0x4e, 0x43, 0x3c, 0x87}};
static const CLSID CLSID_ImaAdpcmCompressor = {0xd3924c4d, 0xdbee, 0x433d, {0xad, 0x22, 0x9e, 0x22, 0x05, 0x24, 0x30, 0x48}};
static const CLSID CLSID_AdpcmCompressor = {0xbfe9038f, 0x15ef, 0x4912, {0xba, 0xe9, 0xf1, 0x6d, 0xcd, 0xaf, 0x7c, 0x26}};
static const CLSID CLSID_ALawCompressor = {0x033c8382, 0xc013, 0x4830, {0xb1, 0x5e, 0x94, 0xe0, 0xd9, 0x51, 0x2d, 0xe6}};
static const CLSID CLSID_MuLawCompressor = {0x97a7ee07, 0xfa2e, 0x4032, {0xac, 0xf0, 0x86, 0x64, 0x1b, 0xc2, 0x89, 0x3d}};
static const CLSID CLSID_Gsm610Compressor = {0x66ae3767, 0x3d9f, 0x4128, {0xa6, 0x0c, 0x8c, 0xc8, 0xfc, 0xd1, 0x2f, 0xfb}};
static const CLSID CLSID_WipeTransition = {0x73dd6488, 0xd763, 0x4f0e, {0xb4, 0x69, 0x39, 0x05, 0x13, 0x1e, 0x4f, 0x12}};
static const CLSID CLSID_BarnTransition = {0xe403aef7, 0x0bec, 0x4658, {0xb9, 0x2a, 0x60, 0x5c, 0x93, 0x1b, 0x7c, 0xe0}};
static const CLSID CLSID_IrisTransition = {0x54b8bab0, 0x75e8, 0x4801, {0x9b, 0x48, 0x10, 0x0e, 0xd1, 0x92, 0x97, 0xa5}};
static const CLSID CLSID_InsetTransition = {0xe6828a0d, 0xb749, 0x4e6c, {0x99, 0x63, 0x37, 0xe4, 0x11, 0xc3, 0x27, 0xb7}};
static const CLSID CLSID_RadialWipeTransition = {0x0a32142b, 0xeaae, 0x4d72, {0x88, 0xf4, 0x81, 0x62, 0x6a, 0x00, 0x7b, 0x4a}};
static const CLSID CLSID_FanTransition = {0x03218c3e, 0x15d8, 0x46ef, {0xb9, 0xeb, 0x7d, 0x48, 0x10, 0x34, 0x05, 0xe6}};
static const CLSID CLSID_WheelTransition = {0xe4d42a6c, 0x283a, 0x44d5, {0xaa, 0xaf, 0x45, 0x62, 0xfd, 0xb8, 0xf6, 0x52}};
static const CLSID CLSID_DiagonalTransition = {0xc2437d17, 0xfe1a, 0x4bab, {0x9c, 0x94, 0x74, 0xdf, 0x46, 0x38, 0x83, 0xc2}};
static const CLSID CLSID_FadeTransition = {0x94bf7861, 0x4291, 0x47d8, {0xb8, 0x7a, 0xe5, 0x80, 0x7c, 0x36, 0x68, 0xfd}};
static const CLSID CLSID_VideoCaptureSource = {0x8f9d7400, 0x39e5, 0x4863, {0xa2, 0x70, 0x0f, 0x59, 0x4c, 0x05, 0x67, 0xfb}};
static const CLSID CLSID_VirtualCamera = {0x90aa7f92, 0x7c71, 0x46cf, {0x8d, 0xe1, 0x18, 0xc5, 0xa0, 0xb9, 0xfe, 0xcc}};

#define FOURCC(a, b, c, d) ((DWORD)(a) | ((DWORD)(b) << 8) | ((DWORD)(c) << 16) | ((DWORD)(d) << 24))

/* Encoders that avimux takes. Where an element's own rate setting has no effect, the quality goes through
 * the quantiser instead (see QualityKnob). A file of these formats says nothing of its colour range:
 * decoders take JPEG as full range (0-255) and every other format as limited range (16-235), both with
 * the BT.601 matrix, so each encoder is fed pictures moved to exactly that (platformrange, range 1 full or
 * 2 limited) before videoconvert lays them out as it takes them. */
#define FULL_RANGE_I420 "platformrange range=1 ! videoconvert ! capsfilter caps=\"video/x-raw,format=I420,colorimetry=1:4:0:0\""
#define LIMITED_RANGE(format) "platformrange range=2 ! videoconvert ! capsfilter caps=\"video/x-raw,format=" format ",colorimetry=bt601\""
#define RGB_FORMAT(format) "platformrange range=1 ! videoconvert ! capsfilter caps=\"video/x-raw,format=" format "\""
/* 15-bit RGB: each channel rounded to its nearest 5-bit level first (videoconvert would cut 3 bits) */
#define RGB15_FORMAT RGB_FORMAT("RGB") " ! platformrange rgb-bits=5 ! videoconvert ! capsfilter caps=\"video/x-raw,format=RGB15\""
/* DV frames: 625 lines at 25 fps (4:2:0), 525 lines at 29.97 fps (4:1:1); 4:3 pictures with borders kept */
#define DV_FRAME(format, size, rate, aspect) "platformrange range=2 ! videorate ! videoscale add-borders=true ! " \
    "videoconvert ! capsfilter caps=\"video/x-raw,format=" format "," size ",framerate=" rate \
    ",pixel-aspect-ratio=" aspect ",colorimetry=bt601\""
static const char dv_625[] = DV_FRAME("I420", "width=720,height=576", "25/1", "16/15");
static const char dv_525[] = DV_FRAME("Y41B", "width=720,height=480", "30000/1001", "8/9");
static const CodecEntry video_codecs[] =
{
    { &CLSID_MotionJpegCompressor, L"Motion JPEG", FILTER_VIDEO_ENCODER, "jpegenc", "",
      FOURCC('M','J','P','G'), KNOB_JPEG, 0.85, NULL, FULL_RANGE_I420, FRAMES_ANY },
    { &CLSID_Mpeg4V3Compressor, L"MPEG-4 Video Codec V3", FILTER_VIDEO_ENCODER, "avenc_msmpeg4", "",
      FOURCC('M','P','4','3'), KNOB_AVCODEC, 0.95, "gop-size", LIMITED_RANGE("I420"), FRAMES_ANY }, /* chroma drifts 5 levels at 0.85 */
    { &CLSID_Mpeg4V2Compressor, L"MPEG-4 Video Codec V2", FILTER_VIDEO_ENCODER, "avenc_msmpeg4v2", "",
      FOURCC('M','P','4','2'), KNOB_AVCODEC, 0.85, "gop-size", LIMITED_RANGE("I420"), FRAMES_ANY },
    { &CLSID_Mpeg4Part2Compressor, L"MPEG-4 Part 2", FILTER_VIDEO_ENCODER, "avenc_mpeg4", "",
      FOURCC('D','X','5','0'), KNOB_AVCODEC, 0.95, "gop-size", LIMITED_RANGE("I420"), FRAMES_ANY }, /* as V3 */
    { &CLSID_WMVideo8Compressor, L"WMVideo8 Encoder DMO", FILTER_VIDEO_ENCODER, "avenc_wmv2", "",
      FOURCC('W','M','V','2'), KNOB_AVCODEC, 0.85, "gop-size", LIMITED_RANGE("I420"), FRAMES_EVEN },
    { &CLSID_HuffyuvCompressor, L"Huffyuv", FILTER_VIDEO_ENCODER, "avenc_huffyuv", "",
      FOURCC('H','F','Y','U'), KNOB_NONE, 1.0, NULL, LIMITED_RANGE("Y42B"), FRAMES_EVEN },
    { &CLSID_H264Compressor, L"H.264", FILTER_VIDEO_ENCODER, "x264enc", "bframes=0",
      FOURCC('H','2','6','4'), KNOB_X264, 0.55, "key-int-max", LIMITED_RANGE("I420"), FRAMES_EVEN },
    { &CLSID_VP8Compressor, L"VP8", FILTER_VIDEO_ENCODER, "vp8enc", "",
      FOURCC('V','P','8','0'), KNOB_VPX, 0.75, "keyframe-max-dist", LIMITED_RANGE("I420"), FRAMES_ANY },
    /* the classic ones: vector-quantised RGB in 4x4 blocks, and DV */
    { &CLSID_CinepakCompressor, L"Cinepak", FILTER_VIDEO_ENCODER, "avenc_cinepak", "",
      FOURCC('c','v','i','d'), KNOB_NONE, 0.0, "gop-size", RGB_FORMAT("RGB"), FRAMES_FOUR },
    { &CLSID_MSVideo1Compressor, L"Microsoft Video 1", FILTER_VIDEO_ENCODER, "avenc_msvideo1", "",
      FOURCC('C','R','A','M'), KNOB_NONE, 0.0, NULL, RGB15_FORMAT, FRAMES_FOUR },
    { &CLSID_DVCompressor, L"DV", FILTER_VIDEO_ENCODER, "avenc_dvvideo", "",
      FOURCC('d','v','s','d'), KNOB_NONE, 0.0, NULL, dv_625, FRAMES_DV },
    /* lossless, for pictures that will be edited again: every pixel of its 4:4:4 input kept */
    { &CLSID_FFV1Compressor, L"FFV1 Lossless", FILTER_VIDEO_ENCODER, "avenc_ffv1", "",
      FOURCC('F','F','V','1'), KNOB_NONE, 0.0, NULL, LIMITED_RANGE("Y444"), FRAMES_ANY },
};

/* Encoders whose output the WAV and AVI writers store under a WAVE_FORMAT tag. */
static const CodecEntry audio_codecs[] =
{
    /* Decoders may deliver float; "PCM" always writes 16-bit integers. */
    { &CLSID_PcmCompressor, L"PCM", FILTER_AUDIO_ENCODER, "audioconvert", "! capsfilter caps=audio/x-raw,format=S16LE",
      WAVE_FORMAT_PCM, KNOB_NONE, 0.0, NULL },
    { &CLSID_Mp3Compressor, L"MPEG Layer-3", FILTER_AUDIO_ENCODER, "lamemp3enc",
      "target=bitrate cbr=true bitrate=128", WAVE_FORMAT_MPEGLAYER3, KNOB_NONE, 0.0, NULL },
    { &CLSID_WMAudioCompressor, L"WMAudio Encoder DMO", FILTER_AUDIO_ENCODER, "avenc_wmav2",
      "bitrate=128000", WAVE_FORMAT_WMAUDIO2, KNOB_NONE, 0.0, NULL },
    { &CLSID_ImaAdpcmCompressor, L"IMA ADPCM", FILTER_AUDIO_ENCODER, "avenc_adpcm_ima_wav", "",
      WAVE_FORMAT_IMA_ADPCM, KNOB_NONE, 0.0, NULL },
    { &CLSID_AdpcmCompressor, L"ADPCM", FILTER_AUDIO_ENCODER, "avenc_adpcm_ms", "",
      WAVE_FORMAT_ADPCM, KNOB_NONE, 0.0, NULL },
    { &CLSID_ALawCompressor, L"CCITT A-Law", FILTER_AUDIO_ENCODER, "alawenc", "",
      WAVE_FORMAT_ALAW, KNOB_NONE, 0.0, NULL },
    { &CLSID_MuLawCompressor, L"CCITT u-Law", FILTER_AUDIO_ENCODER, "mulawenc", "",
      WAVE_FORMAT_MULAW, KNOB_NONE, 0.0, NULL },
    { &CLSID_Gsm610Compressor, L"GSM 6.10", FILTER_AUDIO_ENCODER, "gsmenc", "",
      WAVE_FORMAT_GSM610, KNOB_NONE, 0.0, NULL },
};

/* Reveals of clip B over clip A. ges_type is the GES video transition of the same shape. */
static const TransitionEntry transitions[] =
{
    { &CLSID_WipeTransition, L"Wipe", "bar-wipe-lr", "smptealpha", "type=bar-wipe-lr" },
    { &CLSID_BarnTransition, L"Barn", "barndoor-v", "smptealpha", "type=barndoor-v" },
    { &CLSID_IrisTransition, L"Iris", "iris-rect", "smptealpha", "type=iris-rect" },
    { &CLSID_InsetTransition, L"Inset", "box-wipe-tl", "smptealpha", "type=box-wipe-tl" },
    { &CLSID_RadialWipeTransition, L"Radial Wipe", "clock-cw12", "smptealpha", "type=clock-cw12" },
    { &CLSID_FanTransition, L"Fan", "fan-ct", "smptealpha", "type=fan-ct" },
    { &CLSID_WheelTransition, L"Wheel", "pinwheel-fb", "smptealpha", "type=pinwheel-fb" },
    { &CLSID_DiagonalTransition, L"Diagonal", "diagonal-tl", "smptealpha", "type=diagonal-tl" },
    { &CLSID_FadeTransition, L"Fade", "crossfade", "alpha", "" },
    /* keys B by colour (its property setter gives KeyType and RGB) and shows A through the hole */
    { &CLSID_DxtKey, L"Key", NULL, "alpha", "method=custom" },
};

static const WCHAR virtual_camera_name[] = L"Virtual Camera";

/* The virtual camera exists while MEDIAPLATFORM_VIRTUAL_CAMERA is "1" in the process environment. */
static bool virtual_camera_enabled(void)
{
    WCHAR value[8];
    DWORD n = GetEnvironmentVariableW(L"MEDIAPLATFORM_VIRTUAL_CAMERA", value, ARRAYSIZE(value));
    return n == 1 && value[0] == '1';
}

static void copy_name(WCHAR *dst, size_t size, const WCHAR *src)
{
    size_t n = lstrlenW(src);
    if (n >= size) n = size - 1;
    memcpy(dst, src, n * sizeof(WCHAR));
    dst[n] = 0;
}

static void entry_from_codec(DeviceEntry *e, const CodecEntry *codec)
{
    memset(e, 0, sizeof(*e));
    e->clsid = *codec->clsid;
    copy_name(e->name, ARRAYSIZE(e->name), codec->name);
    e->kind = codec->kind;
    e->codec = codec;
}

static void entry_from_transition(DeviceEntry *e, const TransitionEntry *t)
{
    memset(e, 0, sizeof(*e));
    e->clsid = *t->clsid;
    copy_name(e->name, ARRAYSIZE(e->name), t->name);
    e->kind = FILTER_TRANSITION;
    e->transition = t;
}

static void entry_virtual_camera(DeviceEntry *e)
{
    memset(e, 0, sizeof(*e));
    e->clsid = CLSID_VirtualCamera;
    copy_name(e->name, ARRAYSIZE(e->name), virtual_camera_name);
    e->kind = FILTER_CAPTURE;
}

static bool transition_present(const TransitionEntry *t)
{
    /* a composition mixes its layers in compositor */
    return glue_element_exists(t->element) && glue_element_exists("compositor");
}

HRESULT CatalogListCategory(REFGUID category, DeviceEntry **out, ULONG *count)
{
    enum { MAX_CAPTURE = 16 };
    DeviceEntry *list;
    ULONG n = 0, i;

    *out = NULL;
    *count = 0;

    if (IsEqualGUID(category, CLSID_VideoCompressorCategory)
            || IsEqualGUID(category, CLSID_AudioCompressorCategory))
    {
        bool video = IsEqualGUID(category, CLSID_VideoCompressorCategory);
        const CodecEntry *table = video ? video_codecs : audio_codecs;
        ULONG size = video ? ARRAYSIZE(video_codecs) : ARRAYSIZE(audio_codecs);

        if (!(list = new (std::nothrow) DeviceEntry[size])) return E_OUTOFMEMORY;
        for (i = 0; i < size; i++)
            if (glue_element_exists(table[i].element))
                entry_from_codec(&list[n++], &table[i]);
    }
    else if (IsEqualGUID(category, CLSID_VideoEffects2Category))
    {
        if (!(list = new (std::nothrow) DeviceEntry[ARRAYSIZE(transitions)])) return E_OUTOFMEMORY;
        for (i = 0; i < ARRAYSIZE(transitions); i++)
            if (transition_present(&transitions[i]))
                entry_from_transition(&list[n++], &transitions[i]);
    }
    else if (IsEqualGUID(category, CLSID_VideoInputDeviceCategory))
    {
        struct glue_video_device *devices = new (std::nothrow) glue_video_device[MAX_CAPTURE];
        int found;

        if (!devices) return E_OUTOFMEMORY;
        if (!(list = new (std::nothrow) DeviceEntry[MAX_CAPTURE + 1]))
        {
            delete[] devices;
            return E_OUTOFMEMORY;
        }
        /* the virtual camera comes first: whoever asks for it wants it as "the" camera */
        if (virtual_camera_enabled() && glue_element_exists("videotestsrc"))
            entry_virtual_camera(&list[n++]);
        found = glue_element_exists("v4l2src") ? glue_list_video_devices(devices, MAX_CAPTURE) : 0;
        for (int d = 0; d < found; d++)
        {
            DeviceEntry *e = &list[n];
            memset(e, 0, sizeof(*e));
            e->clsid = CLSID_VideoCaptureSource;
            e->kind = FILTER_CAPTURE;
            if (!MultiByteToWideChar(CP_UTF8, 0, devices[d].name, -1, e->name, ARRAYSIZE(e->name)))
                e->name[ARRAYSIZE(e->name) - 1] = 0;
            lstrcpynA(e->device, devices[d].path, sizeof(e->device));
            if (e->name[0]) n++;
        }
        delete[] devices;
    }
    else
        return S_FALSE;   /* an unknown category is an empty one */

    if (!n)
    {
        delete[] list;
        return S_FALSE;
    }
    *out = list;
    *count = n;
    return S_OK;
}

void CatalogFreeList(DeviceEntry *list)
{
    delete[] list;
}

const CodecEntry *CatalogFindCodec(REFCLSID clsid)
{
    for (size_t i = 0; i < ARRAYSIZE(video_codecs); i++)
        if (IsEqualGUID(clsid, *video_codecs[i].clsid)) return &video_codecs[i];
    for (size_t i = 0; i < ARRAYSIZE(audio_codecs); i++)
        if (IsEqualGUID(clsid, *audio_codecs[i].clsid)) return &audio_codecs[i];
    return NULL;
}

/* The picture size and frame time a video type states: false when it states none. */
static bool picture_of(const AM_MEDIA_TYPE *type, LONG *width, LONG *height, REFERENCE_TIME *frame)
{
    const BITMAPINFOHEADER *bih;
    if (!type || !type->pbFormat) return false;
    if (IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->cbFormat >= sizeof(VIDEOINFOHEADER))
        bih = &((const VIDEOINFOHEADER *)type->pbFormat)->bmiHeader, *frame = ((const VIDEOINFOHEADER *)type->pbFormat)->AvgTimePerFrame;
    else if (IsEqualGUID(type->formattype, FORMAT_VideoInfo2) && type->cbFormat >= sizeof(VIDEOINFOHEADER2))
        bih = &((const VIDEOINFOHEADER2 *)type->pbFormat)->bmiHeader, *frame = ((const VIDEOINFOHEADER2 *)type->pbFormat)->AvgTimePerFrame;
    else
        return false;
    *width = bih->biWidth;
    *height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
    return *width > 0 && *height > 0;
}

bool CatalogEncoderTakes(const CodecEntry *codec, const AM_MEDIA_TYPE *type)
{
    LONG w, h;
    REFERENCE_TIME frame;
    if (!codec || codec->kind != FILTER_VIDEO_ENCODER || !picture_of(type, &w, &h, &frame)) return true;
    switch (codec->frames)
    {
    case FRAMES_EVEN: return !(w % 2) && !(h % 2);
    case FRAMES_FOUR: return !(w % 4) && !(h % 4);
    default: return true;
    }
}

const char *CatalogEncoderFront(const CodecEntry *codec, const AM_MEDIA_TYPE *type)
{
    LONG w, h;
    REFERENCE_TIME frame = 0;
    if (codec->frames != FRAMES_DV) return codec->input;
    /* 25 fps and its half and double are 625-line pictures; the rest go to 29.97 */
    picture_of(type, &w, &h, &frame);
    return frame == 400000 || frame == 800000 || frame == 200000 ? dv_625 : dv_525;
}

const TransitionEntry *CatalogFindTransition(REFCLSID clsid)
{
    for (size_t i = 0; i < ARRAYSIZE(transitions); i++)
        if (IsEqualGUID(clsid, *transitions[i].clsid)) return &transitions[i];
    return NULL;
}

ULONG CatalogClassCount(void)
{
    return ARRAYSIZE(video_codecs) + ARRAYSIZE(audio_codecs) + ARRAYSIZE(transitions) + 1;
}

const CLSID *CatalogClass(ULONG index, const WCHAR **name)
{
    if (index < ARRAYSIZE(video_codecs))
        return *name = video_codecs[index].name, video_codecs[index].clsid;
    index -= ARRAYSIZE(video_codecs);
    if (index < ARRAYSIZE(audio_codecs))
        return *name = audio_codecs[index].name, audio_codecs[index].clsid;
    index -= ARRAYSIZE(audio_codecs);
    if (index < ARRAYSIZE(transitions))
        return *name = transitions[index].name, transitions[index].clsid;
    index -= ARRAYSIZE(transitions);
    if (index == 0)
        return *name = virtual_camera_name, &CLSID_VirtualCamera;
    return NULL;
}

HRESULT CatalogEntryFor(REFCLSID clsid, DeviceEntry *entry)
{
    const CodecEntry *codec;
    const TransitionEntry *t;

    if ((codec = CatalogFindCodec(clsid)))
    {
        if (!glue_element_exists(codec->element)) return CLASS_E_CLASSNOTAVAILABLE;
        entry_from_codec(entry, codec);
    }
    else if ((t = CatalogFindTransition(clsid)))
    {
        if (!transition_present(t)) return CLASS_E_CLASSNOTAVAILABLE;
        entry_from_transition(entry, t);
    }
    else if (IsEqualGUID(clsid, CLSID_VirtualCamera))
    {
        if (!virtual_camera_enabled() || !glue_element_exists("videotestsrc"))
            return CLASS_E_CLASSNOTAVAILABLE;
        entry_virtual_camera(entry);
    }
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return S_OK;
}
