/*
 * Media types and the pin-side enumerators every filter of the platform hands out (mediatypes.h).
 */
#include "filters/mediatypes.h"
#include "server/lifetime.h"

#include <string.h>
#include <new>

void FreeMediaType(AM_MEDIA_TYPE *mt)
{
    if (mt->cbFormat) CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    memset(mt, 0, sizeof(*mt));
}

HRESULT CopyMediaType(AM_MEDIA_TYPE *dst, const AM_MEDIA_TYPE *src)
{
    *dst = *src;
    dst->pbFormat = NULL;
    dst->cbFormat = 0;
    if (src->cbFormat && src->pbFormat)
    {
        if (!(dst->pbFormat = (BYTE *)CoTaskMemAlloc(src->cbFormat)))
        {
            dst->pUnk = NULL;
            return E_OUTOFMEMORY;
        }
        memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
        dst->cbFormat = src->cbFormat;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

namespace {

/* ---- IEnumMediaTypes over one type, or none ---- */

class OneTypeEnum final : public IEnumMediaTypes
{
public:
    OneTypeEnum(const AM_MEDIA_TYPE *t, ULONG p) : ref(1), pos(p)
    {
        memset(&mt, 0, sizeof(mt));
        has = t && SUCCEEDED(CopyMediaType(&mt, t));
        PlatformObjectCreated();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMediaTypes))
        {
            *out = static_cast<IEnumMediaTypes *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override
    {
        ULONG n = 0;
        if (!types) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        while (n < count && has && pos < 1)
        {
            AM_MEDIA_TYPE *t = (AM_MEDIA_TYPE *)CoTaskMemAlloc(sizeof(*t));
            if (!t) break;
            if (FAILED(CopyMediaType(t, &mt)))
            {
                CoTaskMemFree(t);
                break;
            }
            types[n++] = t;
            pos++;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        ULONG total = has ? 1 : 0;
        if (count > total - pos)
        {
            pos = total;
            return S_FALSE;
        }
        pos += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **out) override
    {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) OneTypeEnum(has ? &mt : NULL, pos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~OneTypeEnum()
    {
        FreeMediaType(&mt);
        PlatformObjectDestroyed();
    }
    LONG ref;
    bool has;
    ULONG pos;
    AM_MEDIA_TYPE mt;
};

/* ---- IEnumPins over a filter's pins ---- */

class PinEnum final : public IEnumPins
{
public:
    PinEnum(IUnknown *o, PinList *l, ULONG p, LONG v) : ref(1), owner(o), pins(l), pos(p), version(v)
    {
        owner->AddRef();
        PlatformObjectCreated();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins))
        {
            *out = static_cast<IEnumPins *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) override
    {
        ULONG n = 0;
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        if (fetched) *fetched = 0;
        if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
        while (n < count && pos < pins->PinListCount())
        {
            out[n] = pins->PinListItem(pos++);
            out[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        ULONG total = pins->PinListCount();
        if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
        if (pos >= total || count > total - pos)
        {
            pos = total;
            return S_FALSE;
        }
        pos += count;
        return S_OK;
    }
    /* back to the first pin, and in step with the filter's pins again */
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        pos = 0;
        version = pins->PinListVersion();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
        *out = new (std::nothrow) PinEnum(owner, pins, pos, version);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~PinEnum()
    {
        owner->Release();
        PlatformObjectDestroyed();
    }
    bool OutOfSync() { return version != pins->PinListVersion(); }

    LONG ref;
    IUnknown *owner;
    PinList *pins;
    ULONG pos;
    LONG version;
};

}  // namespace

HRESULT CreateMediaTypeEnum(const AM_MEDIA_TYPE *type, IEnumMediaTypes **out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) OneTypeEnum(type, 0);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreatePinEnum(IUnknown *owner, PinList *pins, IEnumPins **out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinEnum(owner, pins, 0, pins->PinListVersion());
    return *out ? S_OK : E_OUTOFMEMORY;
}
