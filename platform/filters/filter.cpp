/*
 * The filter a device-enumerator moniker binds to: an encoder, a transition or a capture source. It
 * stands for a GStreamer element (IPlatformFilter::GetDescription) that the filter graph puts into its
 * pipeline. Its pins keep the graph's connections and media types; no samples pass through them, the
 * media flows inside the pipeline the graph builds from the connected filters.
 */
#include "server/aggregate.h"
#include "server/classes.h"
#include "server/lifetime.h"
#include "filters/filter.h"
#include "glue/gstglue.h"
#include "filters/camera.h"
#include "filters/filterbase.h"
#include "filters/pin.h"

#include <stdio.h>
#include <string.h>
#include <new>

/* IAMVideoCompression capability bits (missing from the Winelib headers). */
enum
{
    COMPRESSION_CAN_QUALITY = 0x01,
    COMPRESSION_CAN_KEYFRAME = 0x04,
};

/* {FOURCC-0000-0010-8000-00AA00389B71}: the subtype of a FOURCC or of a WAVE_FORMAT tag */
static GUID subtype_from_tag(DWORD tag)
{
    GUID g = {tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return g;
}

class PlatformFilter;
class PlatformPin;

/* IAMVideoCompression on an encoder's output pin, where programs look for it: the filter's settings under
 * the pin's identity. */
class PinCompression final : public IAMVideoCompression
{
public:
    void Init(IPin *p, PlatformFilter *f) { pin = p; filter = f; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override { return pin->QueryInterface(riid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin->Release(); }

    HRESULT STDMETHODCALLTYPE put_KeyFrameRate(LONG rate) override;
    HRESULT STDMETHODCALLTYPE get_KeyFrameRate(LONG *rate) override;
    HRESULT STDMETHODCALLTYPE put_PFramesPerKeyFrame(LONG frames) override;
    HRESULT STDMETHODCALLTYPE get_PFramesPerKeyFrame(LONG *frames) override;
    HRESULT STDMETHODCALLTYPE put_Quality(double q) override;
    HRESULT STDMETHODCALLTYPE get_Quality(double *q) override;
    HRESULT STDMETHODCALLTYPE put_WindowSize(DWORDLONG size) override;
    HRESULT STDMETHODCALLTYPE get_WindowSize(DWORDLONG *size) override;
    HRESULT STDMETHODCALLTYPE GetInfo(LPWSTR version, int *version_size, LPWSTR description, int *description_size,
                                      LONG *default_keyframe_rate, LONG *default_pframes, double *default_quality,
                                      LONG *capabilities) override;
    HRESULT STDMETHODCALLTYPE OverrideKeyFrame(LONG frame) override;
    HRESULT STDMETHODCALLTYPE OverrideFrameSize(LONG frame, LONG size) override;

private:
    IPin *pin;
    PlatformFilter *filter;
};

/* ---- IPin: part of the filter object, counted with it ---- */

class PlatformPin final : public ConnectionPin
{
public:
    void Init(PlatformFilter *owner, PIN_DIRECTION dir, const WCHAR *pin_name, REFGUID major, REFGUID sub);
    void Teardown() { TeardownPin(); }

private:
    bool Accepts(const AM_MEDIA_TYPE *type) const override
    {
        if (!IsEqualGUID(preferred.majortype, GUID_NULL) && !IsEqualGUID(type->majortype, GUID_NULL)
                && !IsEqualGUID(type->majortype, preferred.majortype))
            return false;
        /* an encoder's input takes only the picture sizes its format can hold */
        if (direction == PINDIR_INPUT && !TakesPictures(type)) return false;
        /* an output delivers only its own encoding */
        if (direction == PINDIR_OUTPUT && !IsEqualGUID(preferred.subtype, GUID_NULL)
                && !IsEqualGUID(type->subtype, GUID_NULL) && !IsEqualGUID(type->subtype, preferred.subtype))
            return false;
        return true;
    }
    /* our type, with whatever the caller fixed */
    AM_MEDIA_TYPE Offer(const AM_MEDIA_TYPE *type) const override
    {
        AM_MEDIA_TYPE offer = preferred;
        if (!type) return offer;
        if (!IsEqualGUID(type->majortype, GUID_NULL)) offer.majortype = type->majortype;
        if (!IsEqualGUID(type->subtype, GUID_NULL)) offer.subtype = type->subtype;
        if (!IsEqualGUID(type->formattype, GUID_NULL))
        {
            offer.formattype = type->formattype;
            offer.cbFormat = type->cbFormat;
            offer.pbFormat = type->pbFormat;
        }
        return offer;
    }
    bool TakesPictures(const AM_MEDIA_TYPE *type) const;
    /* IAMStreamConfig on a capture filter's pin, as on the filter; IAMVideoCompression on an encoder's */
    HRESULT MoreInterfaces(REFIID riid, void **out) override;

    PlatformFilter *filter;
    PinCompression compression;
};

/* ---- The filter ---- */

class PlatformFilter final : public FilterBase, public IAMVideoCompression, public IPlatformFilter,
                             public Aggregatable
{
public:
    PlatformFilter(const DeviceEntry *e, IUnknown *outer)
        : Aggregatable(outer), entry(*e), pin_count(0), quality(-1.0), keyframe_rate(-1), camera(NULL)
    {
        switch (entry.kind)
        {
        case FILTER_VIDEO_ENCODER:
            pins[0].Init(this, PINDIR_INPUT, L"In", MEDIATYPE_Video, GUID_NULL);
            pins[1].Init(this, PINDIR_OUTPUT, L"Out", MEDIATYPE_Video, subtype_from_tag(entry.codec->tag));
            pin_count = 2;
            break;
        case FILTER_AUDIO_ENCODER:
            pins[0].Init(this, PINDIR_INPUT, L"In", MEDIATYPE_Audio, GUID_NULL);
            pins[1].Init(this, PINDIR_OUTPUT, L"Out", MEDIATYPE_Audio, subtype_from_tag(entry.codec->tag));
            pin_count = 2;
            break;
        case FILTER_TRANSITION:
            pins[0].Init(this, PINDIR_INPUT, L"Input A", MEDIATYPE_Video, GUID_NULL);
            pins[1].Init(this, PINDIR_INPUT, L"Input B", MEDIATYPE_Video, GUID_NULL);
            pins[2].Init(this, PINDIR_OUTPUT, L"Output", MEDIATYPE_Video, GUID_NULL);
            pin_count = 3;
            break;
        case FILTER_CAPTURE:
            pins[0].Init(this, PINDIR_OUTPUT, L"Capture", MEDIATYPE_Video, GUID_NULL);
            pins[0].SetCategory(PIN_CATEGORY_CAPTURE);
            pin_count = 1;
            camera = CameraCreate(&entry, static_cast<IBaseFilter *>(this), static_cast<IPin *>(&pins[0]));
            break;
        case FILTER_WAVDEST:
            pins[0].Init(this, PINDIR_INPUT, L"In", MEDIATYPE_Audio, GUID_NULL);
            pins[1].Init(this, PINDIR_OUTPUT, L"Out", MEDIATYPE_Stream, MEDIASUBTYPE_WAVE);
            pin_count = 2;
            break;
        default:
            break;
        }
        PlatformObjectCreated();
    }

    ~PlatformFilter()
    {
        for (int i = 0; i < pin_count; i++) pins[i].Teardown();
        CameraDestroy(camera);
        PlatformObjectDestroyed();
    }

    AGGREGATABLE_IUNKNOWN

    /* IPersist */
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = entry.clsid;
        return S_OK;
    }

    /* IAMVideoCompression: quality and key frame interval where the element has a working setting */
    HRESULT STDMETHODCALLTYPE put_KeyFrameRate(LONG rate) override
    {
        if (!entry.codec->keyframe_property) return E_NOTIMPL;
        EnterCriticalSection(&cs);
        keyframe_rate = rate < 0 ? -1 : rate;   /* negative: the element's default */
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_KeyFrameRate(LONG *rate) override
    {
        if (!rate) return E_POINTER;
        if (!entry.codec->keyframe_property) return E_NOTIMPL;
        EnterCriticalSection(&cs);
        *rate = keyframe_rate >= 0 ? keyframe_rate : DefaultKeyFrameRate();
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_PFramesPerKeyFrame(LONG frames) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_PFramesPerKeyFrame(LONG *frames) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Quality(double q) override
    {
        if (entry.codec->knob == KNOB_NONE) return E_NOTIMPL;
        if (q > 1.0 || q != q) return E_INVALIDARG;
        EnterCriticalSection(&cs);
        quality = q < 0.0 ? -1.0 : q;   /* negative: the default quality */
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Quality(double *q) override
    {
        if (!q) return E_POINTER;
        if (entry.codec->knob == KNOB_NONE) return E_NOTIMPL;
        EnterCriticalSection(&cs);
        *q = quality >= 0.0 ? quality : entry.codec->default_quality;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_WindowSize(DWORDLONG size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_WindowSize(DWORDLONG *size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInfo(LPWSTR version, int *version_size, LPWSTR description,
                                      int *description_size, LONG *default_keyframe_rate,
                                      LONG *default_pframes, double *default_quality,
                                      LONG *capabilities) override
    {
        static const WCHAR version_text[] = L"1.0";
        /* sizes are in bytes; without a buffer the size asked for is returned */
        if (version_size)
        {
            int need = sizeof(version_text);
            if (version && *version_size >= (int)sizeof(WCHAR))
                lstrcpynW(version, version_text, *version_size / sizeof(WCHAR));
            *version_size = need;
        }
        if (description_size)
        {
            int need = (lstrlenW(entry.name) + 1) * sizeof(WCHAR);
            if (description && *description_size >= (int)sizeof(WCHAR))
                lstrcpynW(description, entry.name, *description_size / sizeof(WCHAR));
            *description_size = need;
        }
        if (default_keyframe_rate)
            *default_keyframe_rate = entry.codec->keyframe_property ? DefaultKeyFrameRate() : 0;
        if (default_pframes) *default_pframes = 0;
        if (default_quality)
            *default_quality = entry.codec->knob != KNOB_NONE ? entry.codec->default_quality : -1.0;
        if (capabilities)
            *capabilities = (entry.codec->knob != KNOB_NONE ? COMPRESSION_CAN_QUALITY : 0)
                          | (entry.codec->keyframe_property ? COMPRESSION_CAN_KEYFRAME : 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OverrideKeyFrame(LONG frame) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OverrideFrameSize(LONG frame, LONG size) override { return E_NOTIMPL; }

    /* IPlatformFilter */
    const DeviceEntry *STDMETHODCALLTYPE GetEntry(void) override { return &entry; }
    HRESULT STDMETHODCALLTYPE GetDescription(char *buffer, int size) override
    {
        char text[512];
        int n = 0;

        if (!buffer) return E_POINTER;
        if (size <= 0) return E_INVALIDARG;
        if (entry.kind == FILTER_CAPTURE) return CameraDescribe(camera, buffer, size);
        EnterCriticalSection(&cs);
        switch (entry.kind)
        {
        case FILTER_VIDEO_ENCODER:
        case FILTER_AUDIO_ENCODER:
        {
            const CodecEntry *c = entry.codec;
            double q = quality >= 0.0 ? quality : c->default_quality;
            AM_MEDIA_TYPE in;
            const char *front;
            bool known = SUCCEEDED(pins[0].ConnectionMediaType(&in));
            if ((front = CatalogEncoderFront(c, known ? &in : NULL))) n = snprintf(text, sizeof(text), "%s ! ", front);
            if (known) FreeMediaType(&in);
            n += snprintf(text + n, sizeof(text) - n, "%s%s%s", c->element, *c->properties ? " " : "", c->properties);
            if (c->knob == KNOB_JPEG)
                n += snprintf(text + n, sizeof(text) - n, " quality=%d", (int)(q * 100.0 + 0.5));
            else if (c->knob == KNOB_AVCODEC)
            {
                int qs = (int)(31.0 - q * 29.0 + 0.5);
                n += snprintf(text + n, sizeof(text) - n, " qmin=%d qmax=%d", qs, qs);
            }
            else if (c->knob == KNOB_X264)
                n += snprintf(text + n, sizeof(text) - n, " pass=quant quantizer=%d", (int)((1.0 - q) * 51.0 + 0.5));
            else if (c->knob == KNOB_VPX)
            {
                int qs = (int)((1.0 - q) * 63.0 + 0.5);
                n += snprintf(text + n, sizeof(text) - n, " min-quantizer=%d max-quantizer=%d", qs, qs);
            }
            if (c->keyframe_property && keyframe_rate > 0)
                n += snprintf(text + n, sizeof(text) - n, " %s=%d", c->keyframe_property, (int)keyframe_rate);
            break;
        }
        case FILTER_TRANSITION:
            n = snprintf(text, sizeof(text), "%s%s%s", entry.transition->element,
                         *entry.transition->properties ? " " : "", entry.transition->properties);
            break;
        case FILTER_WAVDEST:
            n = snprintf(text, sizeof(text), "platformwavdest");
            break;
        default:   /* the capture filter is described above; the graph's own filters have no fragment */
            break;
        }
        LeaveCriticalSection(&cs);
        if (n < 0 || n >= (int)sizeof(text) || n >= size) return E_OUTOFMEMORY;
        memcpy(buffer, text, n + 1);
        return S_OK;
    }

    Camera *CaptureCamera() const { return camera; }
    bool HasCompressionSettings() const
    {
        return entry.kind == FILTER_VIDEO_ENCODER
            && (entry.codec->knob != KNOB_NONE || entry.codec->keyframe_property);
    }
    ULONG PinListCount() override { return pin_count; }
    IPin *PinListItem(ULONG i) override { return &pins[i]; }

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IBaseFilter))
            return Hand(static_cast<IBaseFilter *>(this), out);
        if (IsEqualIID(riid, IID_IAMVideoCompression) && HasCompressionSettings())
            return Hand(static_cast<IAMVideoCompression *>(this), out);
        if (IsEqualIID(riid, IID_IPlatformFilter))
            return Hand(static_cast<IPlatformFilter *>(this), out);
        if (camera) return CameraFilterInterface(camera, riid, out);   /* formats and picture controls */
        return E_NOINTERFACE;
    }
    LONG DefaultKeyFrameRate() const
    {
        return (LONG)glue_element_default_int(entry.codec->element, entry.codec->keyframe_property, 0);
    }
    DeviceEntry entry;
    PlatformPin pins[3];
    int pin_count;
    double quality;        /* -1: default */
    LONG keyframe_rate;    /* -1: default */
    Camera *camera;        /* capture filters: formats and picture controls (camera.cpp) */
};

void PlatformPin::Init(PlatformFilter *owner, PIN_DIRECTION dir, const WCHAR *pin_name, REFGUID major, REFGUID sub)
{
    AM_MEDIA_TYPE type;
    memset(&type, 0, sizeof(type));
    type.majortype = major;
    type.subtype = sub;
    type.bFixedSizeSamples = IsEqualGUID(major, MEDIATYPE_Audio);
    type.lSampleSize = type.bFixedSizeSamples ? 1 : 0;
    type.bTemporalCompression = !type.bFixedSizeSamples;
    filter = owner;
    compression.Init(static_cast<IPin *>(this), owner);
    InitPin(static_cast<IBaseFilter *>(owner), &owner->cs, dir, pin_name, &type);
}

bool PlatformPin::TakesPictures(const AM_MEDIA_TYPE *type) const
{
    const DeviceEntry *e = filter->GetEntry();
    return e->kind != FILTER_VIDEO_ENCODER || CatalogEncoderTakes(e->codec, type);
}

HRESULT PlatformPin::MoreInterfaces(REFIID riid, void **out)
{
    if (direction != PINDIR_OUTPUT) return ConnectionPin::MoreInterfaces(riid, out);
    if (IsEqualIID(riid, IID_IAMVideoCompression) && filter->HasCompressionSettings())
    {
        *out = static_cast<IAMVideoCompression *>(&compression);
        AddRef();
        return S_OK;
    }
    return CameraPinInterface(filter->CaptureCamera(), riid, out);
}

HRESULT STDMETHODCALLTYPE PinCompression::put_KeyFrameRate(LONG rate) { return filter->put_KeyFrameRate(rate); }
HRESULT STDMETHODCALLTYPE PinCompression::get_KeyFrameRate(LONG *rate) { return filter->get_KeyFrameRate(rate); }
HRESULT STDMETHODCALLTYPE PinCompression::put_PFramesPerKeyFrame(LONG frames)
{
    return filter->put_PFramesPerKeyFrame(frames);
}
HRESULT STDMETHODCALLTYPE PinCompression::get_PFramesPerKeyFrame(LONG *frames)
{
    return filter->get_PFramesPerKeyFrame(frames);
}
HRESULT STDMETHODCALLTYPE PinCompression::put_Quality(double q) { return filter->put_Quality(q); }
HRESULT STDMETHODCALLTYPE PinCompression::get_Quality(double *q) { return filter->get_Quality(q); }
HRESULT STDMETHODCALLTYPE PinCompression::put_WindowSize(DWORDLONG size) { return filter->put_WindowSize(size); }
HRESULT STDMETHODCALLTYPE PinCompression::get_WindowSize(DWORDLONG *size) { return filter->get_WindowSize(size); }
HRESULT STDMETHODCALLTYPE PinCompression::GetInfo(LPWSTR version, int *version_size, LPWSTR description,
                                                  int *description_size, LONG *default_keyframe_rate,
                                                  LONG *default_pframes, double *default_quality, LONG *capabilities)
{
    return filter->GetInfo(version, version_size, description, description_size, default_keyframe_rate,
                           default_pframes, default_quality, capabilities);
}
HRESULT STDMETHODCALLTYPE PinCompression::OverrideKeyFrame(LONG frame) { return filter->OverrideKeyFrame(frame); }
HRESULT STDMETHODCALLTYPE PinCompression::OverrideFrameSize(LONG frame, LONG size)
{
    return filter->OverrideFrameSize(frame, size);
}

HRESULT CreatePlatformFilter(const DeviceEntry *entry, IUnknown *outer, REFIID riid, void **out)
{
    PlatformFilter *filter;

    if (!out) return E_POINTER;
    *out = NULL;
    if (!entry) return E_INVALIDARG;
    if (!(filter = new (std::nothrow) PlatformFilter(entry, outer))) return E_OUTOFMEMORY;
    return filter->HandOut(riid, out);
}

HRESULT CreateCatalogFilter(REFCLSID clsid, IUnknown *outer, REFIID riid, void **out)
{
    DeviceEntry entry;
    HRESULT hr;

    if (!out) return E_POINTER;
    *out = NULL;
    if (FAILED(hr = CatalogEntryFor(clsid, &entry))) return hr;
    return CreatePlatformFilter(&entry, outer, riid, out);
}

/* WavDest: between an audio stream and a File Writer, it makes a RIFF WAVE file of whatever audio reaches
 * it (the "platformwavdest" element). Input: any audio; output: a byte stream (MEDIATYPE_Stream, WAVE). */
HRESULT CreateWavDest(IUnknown *outer, REFIID riid, void **out)
{
    DeviceEntry entry;
    memset(&entry, 0, sizeof(entry));
    entry.clsid = CLSID_WavDest;
    lstrcpynW(entry.name, L"WavDest", ARRAYSIZE(entry.name));
    entry.kind = FILTER_WAVDEST;
    return CreatePlatformFilter(&entry, outer, riid, out);
}
