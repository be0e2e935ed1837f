/*
 * Formats and picture controls of a capture filter, and the pipeline fragment that captures with them.
 *
 * The virtual camera is videotestsrc at one of five RGB24 sizes, its picture run through videobalance,
 * gamma and (for gain and sharpness) a second videobalance and gaussianblur. A v4l2 camera offers the
 * sizes its GstDevice caps list and the picture controls its driver has; the values reach the device
 * through v4l2src's extra-controls when the graph starts.
 */
#include "filters/camera.h"
#include "glue/camdevice.h"
#include "glue/gstglue.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <new>

enum { MAX_FORMATS = 64, PROPERTY_COUNT = 10 };

static const LONGLONG UNITS_PER_SECOND = 10000000;

struct CameraFormat
{
    LONG width, height;
    LONG fps_num, fps_den;              /* rate when none is asked for */
    LONGLONG min_interval, max_interval;  /* frame times SetFormat takes, 100 ns */
    bool jpeg;                          /* v4l2: the size comes as JPEG only */
};

struct PictureProperty
{
    bool supported;
    LONG min, max, step, def;
    LONG caps;          /* VideoProcAmp_Flags_Auto and/or _Manual */
    LONG value;
    LONG flags;         /* current mode */
    bool set;           /* the caller chose it: v4l2 passes it on, otherwise the device keeps its own */
    char name[64];      /* v4l2src extra-controls field */
    char auto_name[64];
};

static LONG image_size(LONG width, LONG height)
{
    return ((width * 24 + 31) & ~31) / 8 * height;
}

static LONGLONG interval_of(LONG num, LONG den)
{
    return num > 0 ? UNITS_PER_SECOND * den / num : 0;
}

/* A frame time as a rate: whole rates stay whole (666666 is 15/1). */
static void rate_of(LONGLONG interval, LONG *num, LONG *den)
{
    LONGLONG fps = (UNITS_PER_SECOND + interval / 2) / interval;
    LONGLONG a = UNITS_PER_SECOND, b = interval;

    if (fps > 0 && (UNITS_PER_SECOND / fps == interval || UNITS_PER_SECOND / fps + 1 == interval
                    || UNITS_PER_SECOND / fps - 1 == interval))
    {
        *num = (LONG)fps;
        *den = 1;
        return;
    }
    while (b)
    {
        LONGLONG t = a % b;
        a = b;
        b = t;
    }
    *num = (LONG)(UNITS_PER_SECOND / a);
    *den = (LONG)(interval / a);
}

static LONG clamp_long(LONGLONG v)
{
    return v > LONG_MAX ? LONG_MAX : (LONG)v;
}

/* value / 10^places in decimals (two or four places), independent of the locale */
static void print_fixed(char *out, size_t size, long value, int places)
{
    unsigned long scale = places == 4 ? 10000 : 100;
    unsigned long a = value < 0 ? -(unsigned long)value : (unsigned long)value;

    if (places == 4)
        snprintf(out, size, "%s%lu.%04lu", value < 0 ? "-" : "", a / scale, a % scale);
    else
        snprintf(out, size, "%s%lu.%02lu", value < 0 ? "-" : "", a / scale, a % scale);
}

class Camera;

/* IAMStreamConfig of the filter or of its pin: the same formats, under the owner's identity. */
class StreamConfig final : public IAMStreamConfig
{
public:
    void Init(Camera *c, IUnknown *owner) { camera = c; outer = owner; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        return outer->QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer->Release(); }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **mt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps) override;

private:
    Camera *camera;
    IUnknown *outer;
};

class Camera final : public IAMVideoProcAmp
{
public:
    Camera(const DeviceEntry *e, IUnknown *filter_unk, IUnknown *pin_unk)
        : filter(filter_unk), probed(false), format_count(0), current(0), fps_num(0), fps_den(1)
    {
        InitializeCriticalSection(&cs);
        lstrcpynA(device, e->device, sizeof(device));
        filter_config.Init(this, filter_unk);
        pin_config.Init(this, pin_unk);
        memset(formats, 0, sizeof(formats));
        memset(props, 0, sizeof(props));
    }
    ~Camera() { DeleteCriticalSection(&cs); }

    HRESULT FilterInterface(REFIID riid, void **out)
    {
        if (IsEqualIID(riid, IID_IAMStreamConfig)) *out = static_cast<IAMStreamConfig *>(&filter_config);
        else if (IsEqualIID(riid, IID_IAMVideoProcAmp)) *out = static_cast<IAMVideoProcAmp *>(this);
        else
        {
            *out = NULL;
            return E_NOINTERFACE;
        }
        filter->AddRef();
        return S_OK;
    }
    HRESULT PinInterface(REFIID riid, void **out)
    {
        if (!IsEqualIID(riid, IID_IAMStreamConfig))
        {
            *out = NULL;
            return E_NOINTERFACE;
        }
        *out = static_cast<IAMStreamConfig *>(&pin_config);
        pin_config.AddRef();
        return S_OK;
    }

    /* IUnknown: the filter's */
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        return filter->QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return filter->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return filter->Release(); }

    /* IAMVideoProcAmp */
    HRESULT STDMETHODCALLTYPE GetRange(LONG property, LONG *min, LONG *max, LONG *step, LONG *def,
                                       LONG *caps) override
    {
        const PictureProperty *p;

        if (!min || !max || !step || !def || !caps) return E_POINTER;
        EnterCriticalSection(&cs);
        Probe();
        if (!(p = Property(property)))
        {
            LeaveCriticalSection(&cs);
            return E_PROP_ID_UNSUPPORTED;
        }
        *min = p->min;
        *max = p->max;
        *step = p->step;
        *def = p->def;
        *caps = p->caps;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Set(LONG property, LONG value, LONG flags) override
    {
        PictureProperty *p;
        HRESULT hr = S_OK;

        EnterCriticalSection(&cs);
        Probe();
        if (!(p = Property(property)))
            hr = E_PROP_ID_UNSUPPORTED;
        /* exactly one mode, and one the property has */
        else if ((flags != VideoProcAmp_Flags_Auto && flags != VideoProcAmp_Flags_Manual) || !(p->caps & flags))
            hr = E_INVALIDARG;
        else if (flags == VideoProcAmp_Flags_Manual && (value < p->min || value > p->max))
            hr = E_INVALIDARG;
        else
        {
            /* in automatic mode the value is the device's business */
            if (flags == VideoProcAmp_Flags_Manual) p->value = value;
            p->flags = flags;
            p->set = true;
        }
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Get(LONG property, LONG *value, LONG *flags) override
    {
        const PictureProperty *p;

        if (!value || !flags) return E_POINTER;
        EnterCriticalSection(&cs);
        Probe();
        if (!(p = Property(property)))
        {
            LeaveCriticalSection(&cs);
            return E_PROP_ID_UNSUPPORTED;
        }
        *value = p->value;
        *flags = p->flags;
        LeaveCriticalSection(&cs);
        return S_OK;
    }

    /* IAMStreamConfig, for both owners */
    HRESULT SetFormat(const AM_MEDIA_TYPE *mt)
    {
        const VIDEOINFOHEADER *vih;
        const BITMAPINFOHEADER *bih;
        HRESULT hr = VFW_E_INVALIDMEDIATYPE;
        int i;

        if (!mt) return E_POINTER;
        if (!IsEqualGUID(mt->majortype, MEDIATYPE_Video) || !IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24)
                || !IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || !mt->pbFormat
                || mt->cbFormat < sizeof(VIDEOINFOHEADER))
            return VFW_E_INVALIDMEDIATYPE;
        vih = (const VIDEOINFOHEADER *)mt->pbFormat;
        bih = &vih->bmiHeader;
        /* bottom-up 24-bit frames only, as listed */
        if (bih->biCompression != BI_RGB || bih->biBitCount != 24 || bih->biHeight <= 0
                || vih->AvgTimePerFrame < 0)
            return VFW_E_INVALIDMEDIATYPE;

        EnterCriticalSection(&cs);
        Probe();
        for (i = 0; i < format_count; i++)
        {
            const CameraFormat *f = &formats[i];
            if (f->width != bih->biWidth || f->height != bih->biHeight) continue;
            /* no frame time: the size's own rate */
            if (!vih->AvgTimePerFrame)
            {
                current = i;
                fps_num = f->fps_num;
                fps_den = f->fps_den;
                hr = S_OK;
            }
            else if (vih->AvgTimePerFrame >= f->min_interval && vih->AvgTimePerFrame <= f->max_interval)
            {
                current = i;
                rate_of(vih->AvgTimePerFrame, &fps_num, &fps_den);
                hr = S_OK;
            }
            break;
        }
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT GetFormat(AM_MEDIA_TYPE **mt)
    {
        HRESULT hr;

        if (!mt) return E_POINTER;
        *mt = NULL;
        EnterCriticalSection(&cs);
        Probe();
        hr = format_count ? MediaType(&formats[current], fps_num, fps_den, mt) : E_FAIL;
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT GetNumberOfCapabilities(int *count, int *size)
    {
        if (!count || !size) return E_POINTER;
        EnterCriticalSection(&cs);
        Probe();
        *count = format_count;
        LeaveCriticalSection(&cs);
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps_out)
    {
        VIDEO_STREAM_CONFIG_CAPS caps;
        HRESULT hr;

        if (!mt || !caps_out) return E_POINTER;
        *mt = NULL;
        EnterCriticalSection(&cs);
        Probe();
        if (index < 0)
            hr = E_INVALIDARG;
        else if (index >= format_count)
            hr = S_FALSE;   /* past the end, as DirectShow filters answer */
        else
        {
            const CameraFormat *f = &formats[index];
            LONGLONG bits = (LONGLONG)image_size(f->width, f->height) * 8;

            memset(&caps, 0, sizeof(caps));
            caps.guid = FORMAT_VideoInfo;
            caps.VideoStandard = 0;   /* AnalogVideo_None */
            caps.InputSize.cx = caps.MinCroppingSize.cx = caps.MaxCroppingSize.cx = f->width;
            caps.InputSize.cy = caps.MinCroppingSize.cy = caps.MaxCroppingSize.cy = f->height;
            caps.CropGranularityX = caps.CropGranularityY = 1;
            caps.CropAlignX = caps.CropAlignY = 1;
            caps.MinOutputSize.cx = caps.MaxOutputSize.cx = f->width;
            caps.MinOutputSize.cy = caps.MaxOutputSize.cy = f->height;
            caps.OutputGranularityX = caps.OutputGranularityY = 1;
            caps.MinFrameInterval = f->min_interval;
            caps.MaxFrameInterval = f->max_interval;
            caps.MinBitsPerSecond = clamp_long(bits * UNITS_PER_SECOND / f->max_interval);
            caps.MaxBitsPerSecond = clamp_long(bits * UNITS_PER_SECOND / f->min_interval);
            if (SUCCEEDED(hr = MediaType(f, f->fps_num, f->fps_den, mt)))
                memcpy(caps_out, &caps, sizeof(caps));
        }
        LeaveCriticalSection(&cs);
        return hr;
    }

    HRESULT Describe(char *buffer, int size)
    {
        char text[2048];
        size_t n = 0;
        bool fits;

        if (!buffer) return E_POINTER;
        if (size <= 0) return E_INVALIDARG;
        EnterCriticalSection(&cs);
        Probe();
        fits = device[0] ? DescribeDevice(text, sizeof(text), &n) : DescribeVirtual(text, sizeof(text), &n);
        LeaveCriticalSection(&cs);
        if (!fits || n >= (size_t)size) return E_OUTOFMEMORY;
        memcpy(buffer, text, n + 1);
        return S_OK;
    }

private:
    /* Formats and controls, read once: a v4l2 device is asked at the first question, not at binding. */
    void Probe()
    {
        if (probed) return;
        probed = true;
        if (device[0]) ProbeDevice();
        else ProbeVirtual();
        if (format_count)
        {
            current = 0;
            fps_num = formats[0].fps_num;
            fps_den = formats[0].fps_den;
        }
        for (int i = 0; i < PROPERTY_COUNT; i++)
            if (props[i].supported && (props[i].max <= props[i].min || props[i].step <= 0))
                props[i].supported = false;   /* nothing to adjust */
    }

    void ProbeVirtual()
    {
        /* the first is the default */
        static const SIZE sizes[] = { {320, 240}, {160, 120}, {176, 144}, {352, 288}, {640, 480} };
        struct Range { LONG min, max, step, def, caps; };
        static const Range ranges[PROPERTY_COUNT] =
        {
            { -100, 100, 1, 0, VideoProcAmp_Flags_Manual },      /* brightness */
            { 0, 200, 1, 100, VideoProcAmp_Flags_Manual },       /* contrast, percent */
            { -180, 180, 1, 0, VideoProcAmp_Flags_Manual },      /* hue, degrees */
            { 0, 200, 1, 100, VideoProcAmp_Flags_Manual },       /* saturation, percent */
            { 0, 100, 1, 0, VideoProcAmp_Flags_Manual },         /* sharpness */
            { 1, 500, 1, 100, VideoProcAmp_Flags_Manual },       /* gamma, hundredths */
            { 0, 1, 1, 1, VideoProcAmp_Flags_Manual },           /* colour on/off */
            { 2800, 6500, 100, 6500, VideoProcAmp_Flags_Auto },  /* white balance, kelvin: automatic only */
            { 0, 0, 0, 0, 0 },                                   /* no backlight compensation */
            { 0, 100, 1, 0, VideoProcAmp_Flags_Manual },         /* gain, percent */
        };

        for (size_t i = 0; i < ARRAYSIZE(sizes); i++)
        {
            CameraFormat *f = &formats[format_count++];
            f->width = sizes[i].cx;
            f->height = sizes[i].cy;
            f->fps_num = 15;
            f->fps_den = 1;
            f->min_interval = UNITS_PER_SECOND / 30;
            f->max_interval = UNITS_PER_SECOND;
            f->jpeg = false;
        }
        for (int i = 0; i < PROPERTY_COUNT; i++)
        {
            PictureProperty *p = &props[i];
            if (!ranges[i].caps) continue;
            if (i == VideoProcAmp_Sharpness && !glue_element_exists("gaussianblur")) continue;
            p->supported = true;
            p->min = ranges[i].min;
            p->max = ranges[i].max;
            p->step = ranges[i].step;
            p->def = p->value = ranges[i].def;
            p->caps = p->flags = ranges[i].caps;
        }
    }

    void ProbeDevice()
    {
        glue_camera_size *sizes = new (std::nothrow) glue_camera_size[MAX_FORMATS];
        glue_camera_control *controls = new (std::nothrow) glue_camera_control[GLUE_CTRL_COUNT];
        int found = 0;

        if (sizes && controls)
        {
            found = glue_camera_sizes(device, sizes, MAX_FORMATS);
            for (int i = 0; i < found; i++)
            {
                CameraFormat *f = &formats[format_count];
                if (sizes[i].fps_num <= 0 || sizes[i].fps_den <= 0) continue;
                f->width = sizes[i].width;
                f->height = sizes[i].height;
                f->fps_num = sizes[i].fps_num;
                f->fps_den = sizes[i].fps_den;
                /* the device's best rate at this size is the one it gets */
                f->min_interval = f->max_interval = interval_of(f->fps_num, f->fps_den);
                f->jpeg = sizes[i].jpeg != 0;
                if (f->min_interval > 0) format_count++;
            }
            if (glue_camera_controls(device, controls))
                for (int i = 0; i < PROPERTY_COUNT && i < GLUE_CTRL_COUNT; i++)
                {
                    const glue_camera_control *c = &controls[i];
                    PictureProperty *p = &props[i];
                    if (!c->present || c->min < LONG_MIN || c->max > LONG_MAX) continue;
                    p->supported = true;
                    p->min = c->min;
                    p->max = c->max;
                    p->step = c->step;
                    p->def = c->def;
                    p->value = c->value;
                    p->caps = VideoProcAmp_Flags_Manual | (c->has_auto ? VideoProcAmp_Flags_Auto : 0);
                    p->flags = c->has_auto && c->auto_on ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual;
                    lstrcpynA(p->name, c->name, sizeof(p->name));
                    lstrcpynA(p->auto_name, c->auto_name, sizeof(p->auto_name));
                }
        }
        delete[] sizes;
        delete[] controls;
    }

    PictureProperty *Property(LONG property)
    {
        if (property < 0 || property >= PROPERTY_COUNT || !props[property].supported) return NULL;
        return &props[property];
    }

    HRESULT MediaType(const CameraFormat *f, LONG num, LONG den, AM_MEDIA_TYPE **out) const
    {
        AM_MEDIA_TYPE *mt = (AM_MEDIA_TYPE *)CoTaskMemAlloc(sizeof(*mt));
        VIDEOINFOHEADER *vih = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(*vih));
        LONG bytes = image_size(f->width, f->height);

        if (!mt || !vih)
        {
            CoTaskMemFree(mt);
            CoTaskMemFree(vih);
            return E_OUTOFMEMORY;
        }
        memset(mt, 0, sizeof(*mt));
        memset(vih, 0, sizeof(*vih));
        vih->AvgTimePerFrame = interval_of(num, den);
        vih->dwBitRate = (DWORD)clamp_long((LONGLONG)bytes * 8 * num / den);
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = f->width;
        vih->bmiHeader.biHeight = f->height;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 24;
        vih->bmiHeader.biCompression = BI_RGB;
        vih->bmiHeader.biSizeImage = bytes;
        mt->majortype = MEDIATYPE_Video;
        mt->subtype = MEDIASUBTYPE_RGB24;
        mt->bFixedSizeSamples = TRUE;
        mt->bTemporalCompression = FALSE;
        mt->lSampleSize = bytes;
        mt->formattype = FORMAT_VideoInfo;
        mt->cbFormat = sizeof(*vih);
        mt->pbFormat = (BYTE *)vih;
        *out = mt;
        return S_OK;
    }

    /* appends to text at *n; false once it no longer fits */
    static bool Append(char *text, size_t size, size_t *n, const char *format, ...)
    {
        va_list args;
        int r;

        if (*n >= size) return false;
        va_start(args, format);
        r = vsnprintf(text + *n, size - *n, format, args);
        va_end(args);
        if (r < 0 || (size_t)r >= size - *n)
        {
            *n = size;
            return false;
        }
        *n += r;
        return true;
    }

    bool AppendFormat(char *text, size_t size, size_t *n, const char *media)
    {
        if (!format_count) return true;
        return Append(text, size, n, " ! %s,width=%ld,height=%ld,framerate=%ld/%ld", media,
                      (long)formats[current].width, (long)formats[current].height, (long)fps_num, (long)fps_den);
    }

    bool DescribeVirtual(char *text, size_t size, size_t *n)
    {
        const PictureProperty *p = props;
        char brightness[32], contrast[32], hue[32], saturation[32], gamma[32];
        long sat = p[VideoProcAmp_Saturation].value;

        if (p[VideoProcAmp_ColorEnable].supported && !p[VideoProcAmp_ColorEnable].value) sat = 0;
        print_fixed(brightness, sizeof(brightness), p[VideoProcAmp_Brightness].value, 2);
        print_fixed(contrast, sizeof(contrast), p[VideoProcAmp_Contrast].value, 2);
        /* degrees onto -1..1, to four places */
        print_fixed(hue, sizeof(hue), (p[VideoProcAmp_Hue].value * 10000L + (p[VideoProcAmp_Hue].value < 0 ? -90 : 90)) / 180,
                    4);
        print_fixed(saturation, sizeof(saturation), sat, 2);
        print_fixed(gamma, sizeof(gamma), p[VideoProcAmp_Gamma].value, 2);

        Append(text, size, n, "videotestsrc is-live=true pattern=smpte");
        AppendFormat(text, size, n, "video/x-raw");
        Append(text, size, n, " ! videobalance brightness=%s contrast=%s hue=%s saturation=%s ! gamma gamma=%s",
               brightness, contrast, hue, saturation, gamma);
        if (p[VideoProcAmp_Gain].supported && p[VideoProcAmp_Gain].value)
        {
            char gain[32];
            /* amplification from black: 1 + gain% */
            print_fixed(gain, sizeof(gain), 100 + p[VideoProcAmp_Gain].value, 2);
            Append(text, size, n, " ! videobalance contrast=%s", gain);
        }
        if (p[VideoProcAmp_Sharpness].supported && p[VideoProcAmp_Sharpness].value)
        {
            char sigma[32];
            /* a negative blur sharpens: 0..100 onto sigma 0..-5 */
            print_fixed(sigma, sizeof(sigma), -5L * p[VideoProcAmp_Sharpness].value, 2);
            Append(text, size, n, " ! videoconvert ! gaussianblur sigma=%s", sigma);
        }
        return Append(text, size, n, " ! videoconvert ! capsfilter caps=video/x-raw,format=BGR");
    }

    bool DescribeDevice(char *text, size_t size, size_t *n)
    {
        bool any = false;

        Append(text, size, n, "v4l2src device=\"%s\"", device);
        /* only what the caller chose; automatic switches before the values they release */
        for (int i = 0; i < PROPERTY_COUNT; i++)
        {
            const PictureProperty *p = &props[i];
            if (!p->supported || !p->set) continue;
            if (!any) Append(text, size, n, " extra-controls=\"controls");
            any = true;
            if (p->auto_name[0])
                Append(text, size, n, ",%s=(int)%d", p->auto_name, p->flags == VideoProcAmp_Flags_Auto ? 1 : 0);
            if (p->flags == VideoProcAmp_Flags_Manual)
                Append(text, size, n, ",%s=(int)%ld", p->name, (long)p->value);
        }
        if (any) Append(text, size, n, "\"");
        if (format_count && formats[current].jpeg)
        {
            AppendFormat(text, size, n, "image/jpeg");
            Append(text, size, n, " ! jpegdec");
        }
        else
            AppendFormat(text, size, n, "video/x-raw");
        return Append(text, size, n, " ! videoconvert ! capsfilter caps=video/x-raw,format=BGR");
    }

    CRITICAL_SECTION cs;
    IUnknown *filter;
    StreamConfig filter_config, pin_config;
    char device[256];       /* v4l2 node; empty for the virtual camera */
    bool probed;
    CameraFormat formats[MAX_FORMATS];
    int format_count;
    int current;            /* chosen format */
    LONG fps_num, fps_den;  /* chosen rate */
    PictureProperty props[PROPERTY_COUNT];
};

HRESULT STDMETHODCALLTYPE StreamConfig::SetFormat(AM_MEDIA_TYPE *mt) { return camera->SetFormat(mt); }
HRESULT STDMETHODCALLTYPE StreamConfig::GetFormat(AM_MEDIA_TYPE **mt) { return camera->GetFormat(mt); }
HRESULT STDMETHODCALLTYPE StreamConfig::GetNumberOfCapabilities(int *count, int *size)
{
    return camera->GetNumberOfCapabilities(count, size);
}
HRESULT STDMETHODCALLTYPE StreamConfig::GetStreamCaps(int index, AM_MEDIA_TYPE **mt, BYTE *caps)
{
    return camera->GetStreamCaps(index, mt, caps);
}

Camera *CameraCreate(const DeviceEntry *entry, IUnknown *filter, IUnknown *pin)
{
    if (!entry || !filter || !pin) return NULL;
    return new (std::nothrow) Camera(entry, filter, pin);
}

void CameraDestroy(Camera *camera)
{
    delete camera;
}

HRESULT CameraFilterInterface(Camera *camera, REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (!camera)
    {
        *out = NULL;
        return E_NOINTERFACE;
    }
    return camera->FilterInterface(riid, out);
}

HRESULT CameraPinInterface(Camera *camera, REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (!camera)
    {
        *out = NULL;
        return E_NOINTERFACE;
    }
    return camera->PinInterface(riid, out);
}

HRESULT CameraDescribe(Camera *camera, char *buffer, int size)
{
    if (!camera) return E_UNEXPECTED;
    return camera->Describe(buffer, size);
}
