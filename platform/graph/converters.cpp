/*
 * The intermediate filters intelligent connect puts between pins that do not connect directly: a
 * decoder for compressed pictures or sound, and converters of picture layout and size or of sample
 * format. Each becomes a pipeline fragment (IGraphConverter) when the graph runs. The output pin offers
 * what the pin it connects to lists first, then the layouts and sizes it can make from its input.
 */
#include "server/lifetime.h"
#include "graph/filtergraph.h"
#include "filters/filterbase.h"
#include "filters/pin.h"
#include "glue/pipeline.h"

#include <mmreg.h>
#include <stdio.h>
#include <string.h>
#include <new>

/* {6F3A1C20-8B4E-4D71-9A05-2C7E8F31B6D0} and the three after it */
static const CLSID converter_classes[CONVERT_COUNT] =
{
    {0x6f3a1c20, 0x8b4e, 0x4d71, {0x9a, 0x05, 0x2c, 0x7e, 0x8f, 0x31, 0xb6, 0xd0}},
    {0x6f3a1c21, 0x8b4e, 0x4d71, {0x9a, 0x05, 0x2c, 0x7e, 0x8f, 0x31, 0xb6, 0xd0}},
    {0x6f3a1c22, 0x8b4e, 0x4d71, {0x9a, 0x05, 0x2c, 0x7e, 0x8f, 0x31, 0xb6, 0xd0}},
    {0x6f3a1c23, 0x8b4e, 0x4d71, {0x9a, 0x05, 0x2c, 0x7e, 0x8f, 0x31, 0xb6, 0xd0}},
};
static const WCHAR *const converter_names[CONVERT_COUNT] =
{
    L"Video Decoder", L"Audio Decoder", L"Color Space Converter", L"Audio Converter",
};

const WCHAR *ConverterName(ConverterKind kind) { return kind < CONVERT_COUNT ? converter_names[kind] : NULL; }
const CLSID *ConverterClass(ConverterKind kind) { return kind < CONVERT_COUNT ? &converter_classes[kind] : NULL; }
/* converters before decoders: the shorter way first where both would do */
DWORD ConverterMerit(ConverterKind kind)
{
    return kind == CONVERT_VIDEO || kind == CONVERT_AUDIO ? MERIT_NORMAL + 1 : MERIT_NORMAL;
}

static bool is_video(ConverterKind k) { return k == CONVERT_VIDEO_DECODER || k == CONVERT_VIDEO; }

namespace {

class Converter;

class ConverterPin final : public ConnectionPin
{
public:
    void Init(Converter *owner, PIN_DIRECTION dir, const WCHAR *name, ConverterKind k);
    void Teardown() { TeardownPin(); }
    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *type) override;

private:
    bool Accepts(const AM_MEDIA_TYPE *type) const override;
    AM_MEDIA_TYPE Offer(const AM_MEDIA_TYPE *type) const override { return type ? *type : preferred; }
    HRESULT TryCandidates(IPin *receiver);

    Converter *filter;
    ConverterKind kind;
};

class Converter final : public FilterBase, public IGraphConverter
{
public:
    explicit Converter(ConverterKind k) : ref(1), kind(k)
    {
        pins[0].Init(this, PINDIR_INPUT, L"Input", k);
        pins[1].Init(this, PINDIR_OUTPUT, L"Output", k);
        PlatformObjectCreated();
    }
    ~Converter()
    {
        pins[0].Teardown();
        pins[1].Teardown();
        PlatformObjectDestroyed();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter)
                || IsEqualIID(riid, IID_IBaseFilter))
            *out = static_cast<IBaseFilter *>(this);
        else if (IsEqualIID(riid, IID_IGraphConverter))
            *out = static_cast<IGraphConverter *>(this);
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
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = converter_classes[kind];
        return S_OK;
    }
    ULONG PinListCount() override { return 2; }
    IPin *PinListItem(ULONG i) override { return &pins[i]; }

    HRESULT STDMETHODCALLTYPE Describe(char *buffer, int size, int *out_kind) override
    {
        AM_MEDIA_TYPE mt;
        int n = 0;
        if (!buffer || !out_kind) return E_POINTER;
        switch (kind)
        {
        case CONVERT_VIDEO_DECODER: n = snprintf(buffer, size, "decodebin ! videoconvert"); break;
        case CONVERT_AUDIO_DECODER: n = snprintf(buffer, size, "decodebin ! audioconvert ! audioresample"); break;
        case CONVERT_VIDEO:
            n = snprintf(buffer, size, "videoconvert ! videoscale");
            /* the size the output was connected with */
            if (SUCCEEDED(pins[1].ConnectionMediaType(&mt)))
            {
                LONG w, h;
                if (PictureSize(&mt, &w, &h) && n < size)
                    n += snprintf(buffer + n, size - n, " ! capsfilter caps=video/x-raw,width=%ld,height=%ld", (long)w, (long)h);
                FreeMediaType(&mt);
            }
            break;
        case CONVERT_AUDIO: n = snprintf(buffer, size, "audioconvert ! audioresample"); break;
        default: return E_UNEXPECTED;
        }
        *out_kind = is_video(kind) ? PL_RAW_VIDEO : PL_RAW_AUDIO;
        return n > 0 && n < size ? S_OK : E_OUTOFMEMORY;
    }

    static bool PictureSize(const AM_MEDIA_TYPE *mt, LONG *w, LONG *h)
    {
        if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER))
        {
            const BITMAPINFOHEADER *bih = &((const VIDEOINFOHEADER *)mt->pbFormat)->bmiHeader;
            *w = bih->biWidth;
            *h = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
            return *w > 0 && *h > 0;
        }
        return false;
    }

    ConverterPin pins[2];

private:
    LONG ref;
    ConverterKind kind;
};

void ConverterPin::Init(Converter *owner, PIN_DIRECTION dir, const WCHAR *name, ConverterKind k)
{
    AM_MEDIA_TYPE major;
    memset(&major, 0, sizeof(major));
    major.majortype = is_video(k) ? MEDIATYPE_Video : MEDIATYPE_Audio;
    filter = owner;
    kind = k;
    InitPin(static_cast<IBaseFilter *>(owner), &owner->cs, dir, name, &major);
}

bool ConverterPin::Accepts(const AM_MEDIA_TYPE *type) const
{
    if (!IsEqualGUID(type->majortype, preferred.majortype)) return false;
    bool raw = IsUncompressedType(type) && !IsEqualGUID(type->subtype, GUID_NULL);
    if (direction == PINDIR_OUTPUT) return IsUncompressedType(type);
    switch (kind)
    {
    case CONVERT_VIDEO_DECODER:
    case CONVERT_AUDIO_DECODER:
        return !IsUncompressedType(type);
    case CONVERT_VIDEO:
        /* a picture of known size, to make others from */
        LONG w, h;
        return raw && Converter::PictureSize(type, &w, &h);
    default:
        return raw && IsEqualGUID(type->formattype, FORMAT_WaveFormatEx) && type->cbFormat >= sizeof(WAVEFORMATEX);
    }
}

static void picture_type(AM_MEDIA_TYPE *mt, VIDEOINFOHEADER *vih, const GUID *subtype, WORD bits, DWORD fourcc,
                         LONG w, LONG h, REFERENCE_TIME frame)
{
    memset(mt, 0, sizeof(*mt));
    memset(vih, 0, sizeof(*vih));
    vih->AvgTimePerFrame = frame;
    vih->bmiHeader.biSize = sizeof(vih->bmiHeader);
    vih->bmiHeader.biWidth = w;
    vih->bmiHeader.biHeight = h;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = bits;
    vih->bmiHeader.biCompression = fourcc;
    vih->bmiHeader.biSizeImage = fourcc == BI_RGB ? ((w * bits + 31) / 32) * 4 * h : w * h * bits / 8;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = *subtype;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = vih->bmiHeader.biSizeImage;
    mt->formattype = FORMAT_VideoInfo;
    mt->cbFormat = sizeof(*vih);
    mt->pbFormat = (BYTE *)vih;
}

static void sound_type(AM_MEDIA_TYPE *mt, WAVEFORMATEX *wfx, WORD tag, WORD bits, DWORD rate, WORD channels)
{
    memset(mt, 0, sizeof(*mt));
    memset(wfx, 0, sizeof(*wfx));
    wfx->wFormatTag = tag;
    wfx->nChannels = channels;
    wfx->nSamplesPerSec = rate;
    wfx->wBitsPerSample = bits;
    wfx->nBlockAlign = channels * bits / 8;
    wfx->nAvgBytesPerSec = rate * wfx->nBlockAlign;
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = tag == WAVE_FORMAT_IEEE_FLOAT ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = wfx->nBlockAlign;
    mt->formattype = FORMAT_WaveFormatEx;
    mt->cbFormat = sizeof(*wfx);
    mt->pbFormat = (BYTE *)wfx;
}

/* What the output can make: the receiver's own types first, then layouts in the input's size and sizes
 * a picture format may need (even, multiples of 4), then PCM in common forms. */
HRESULT ConverterPin::TryCandidates(IPin *receiver)
{
    AM_MEDIA_TYPE in, mt, *listed;
    IEnumMediaTypes *types;
    HRESULT hr, last = VFW_E_NO_ACCEPTABLE_TYPES;
    LONG w = 0, h = 0;
    REFERENCE_TIME frame = 0;
    DWORD rate = 44100;
    WORD channels = 2;

    if (FAILED(filter->pins[0].ConnectionMediaType(&in))) return VFW_E_NOT_CONNECTED;
    if (is_video(kind))
    {
        Converter::PictureSize(&in, &w, &h);
        if (IsEqualGUID(in.formattype, FORMAT_VideoInfo) && in.cbFormat >= sizeof(VIDEOINFOHEADER))
            frame = ((const VIDEOINFOHEADER *)in.pbFormat)->AvgTimePerFrame;
    }
    else if (IsEqualGUID(in.formattype, FORMAT_WaveFormatEx) && in.cbFormat >= sizeof(WAVEFORMATEX))
    {
        rate = ((const WAVEFORMATEX *)in.pbFormat)->nSamplesPerSec;
        channels = ((const WAVEFORMATEX *)in.pbFormat)->nChannels;
    }
    FreeMediaType(&in);

    if (SUCCEEDED(receiver->EnumMediaTypes(&types)))
    {
        while (types->Next(1, &listed, NULL) == S_OK)
        {
            /* a listed type complete enough to be made */
            bool usable = Accepts(listed) && !IsEqualGUID(listed->subtype, GUID_NULL)
                          && !IsEqualGUID(listed->formattype, GUID_NULL);
            hr = usable ? ConnectionPin::Connect(receiver, listed) : VFW_E_TYPE_NOT_ACCEPTED;
            FreeMediaType(listed);
            CoTaskMemFree(listed);
            if (SUCCEEDED(hr))
            {
                types->Release();
                return hr;
            }
            if (hr == VFW_E_ALREADY_CONNECTED || hr == VFW_E_NOT_STOPPED)
            {
                types->Release();
                return hr;
            }
        }
        types->Release();
    }

    if (is_video(kind))
    {
        static const struct { const GUID *subtype; WORD bits; DWORD fourcc; } layouts[] =
        {
            {&MEDIASUBTYPE_RGB32, 32, BI_RGB}, {&MEDIASUBTYPE_RGB24, 24, BI_RGB},
            {&MEDIASUBTYPE_YUY2, 16, MAKEFOURCC('Y', 'U', 'Y', '2')}, {&MEDIASUBTYPE_UYVY, 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
            {&SUBTYPE_I420, 12, MAKEFOURCC('I', '4', '2', '0')}, {&MEDIASUBTYPE_YV12, 12, MAKEFOURCC('Y', 'V', '1', '2')},
            {&MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS}, {&MEDIASUBTYPE_RGB555, 16, BI_RGB},
        };
        LONG sizes[3][2] = {{w, h}, {w & ~1, h & ~1}, {w & ~3, h & ~3}};
        int size_count = kind == CONVERT_VIDEO ? 3 : 1;
        for (int s = 0; s < size_count && w > 0; s++)
        {
            if (s && sizes[s][0] == sizes[s - 1][0] && sizes[s][1] == sizes[s - 1][1]) continue;
            if (sizes[s][0] <= 0 || sizes[s][1] <= 0) continue;
            for (size_t i = 0; i < ARRAYSIZE(layouts); i++)
            {
                VIDEOINFOHEADER vih;
                picture_type(&mt, &vih, layouts[i].subtype, layouts[i].bits, layouts[i].fourcc, sizes[s][0],
                             sizes[s][1], frame);
                if (SUCCEEDED(hr = ConnectionPin::Connect(receiver, &mt))) return hr;
                last = hr;
            }
        }
        /* a size not known before the stream plays: pictures in RGB32 all the same */
        memset(&mt, 0, sizeof(mt));
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB32;
        if (SUCCEEDED(hr = ConnectionPin::Connect(receiver, &mt))) return hr;
    }
    else
    {
        static const struct { WORD tag, bits; } forms[] =
        {
            {WAVE_FORMAT_PCM, 16}, {WAVE_FORMAT_PCM, 8}, {WAVE_FORMAT_IEEE_FLOAT, 32}, {WAVE_FORMAT_PCM, 24},
        };
        DWORD rates[3] = {rate, 44100, 48000};
        WORD chans[2] = {channels, 2};
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 2; c++)
                for (size_t i = 0; i < ARRAYSIZE(forms); i++)
                {
                    WAVEFORMATEX wfx;
                    if ((r && rates[r] == rate) || (c && chans[c] == channels)) continue;
                    sound_type(&mt, &wfx, forms[i].tag, forms[i].bits, rates[r], chans[c]);
                    if (SUCCEEDED(hr = ConnectionPin::Connect(receiver, &mt))) return hr;
                    last = hr;
                }
    }
    return last == VFW_E_TYPE_NOT_ACCEPTED ? VFW_E_NO_ACCEPTABLE_TYPES : last;
}

HRESULT STDMETHODCALLTYPE ConverterPin::Connect(IPin *receiver, const AM_MEDIA_TYPE *type)
{
    if (!receiver) return E_POINTER;
    if (direction != PINDIR_OUTPUT || (type && !IsEqualGUID(type->subtype, GUID_NULL))) return ConnectionPin::Connect(receiver, type);
    if (Connected()) return VFW_E_ALREADY_CONNECTED;
    return TryCandidates(receiver);
}

}  // namespace

HRESULT CreateConverter(ConverterKind kind, IBaseFilter **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (kind >= CONVERT_COUNT) return E_INVALIDARG;
    Converter *c = new (std::nothrow) Converter(kind);
    if (!c) return E_OUTOFMEMORY;
    *out = static_cast<IBaseFilter *>(c);
    return S_OK;
}
