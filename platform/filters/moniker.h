/*
 * What the platform's monikers share (the device enumerator's and the filter mapper's): a simple moniker
 * of the device moniker class that names one filter, is no composite and keeps nothing to persist. A
 * moniker of it gives its display name and what it binds to; it is counted among the platform's objects.
 */
#ifndef MEDIAPLATFORM_MONIKER_H
#define MEDIAPLATFORM_MONIKER_H

#include <windows.h>
#include <dshow.h>
#include "server/lifetime.h"

class FilterMoniker : public IMoniker
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist)
                || IsEqualIID(riid, IID_IPersistStream) || IsEqualIID(riid, IID_IMoniker))
        {
            *out = static_cast<IMoniker *>(this);
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

    /* IPersist, IPersistStream */
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_CDeviceMoniker;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream *stream) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream *stream, BOOL clear_dirty) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *size) override { return E_NOTIMPL; }

    /* IMoniker: a simple moniker */
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx *ctx, DWORD how_far, IMoniker **left, IMoniker **reduced) override
    {
        if (!reduced) return E_POINTER;
        if (left) *left = NULL;
        *reduced = this;
        AddRef();
        return MK_S_REDUCED_TO_SELF;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker *right, BOOL only_if_not_generic, IMoniker **out) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Enum(BOOL forward, IEnumMoniker **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;   /* not a composite */
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker *other) override
    {
        LPOLESTR a = NULL, b = NULL;
        HRESULT hr = S_FALSE;

        if (!other) return E_INVALIDARG;
        if (SUCCEEDED(GetDisplayName(NULL, NULL, &a)) && SUCCEEDED(other->GetDisplayName(NULL, NULL, &b))
                && !lstrcmpiW(a, b))
            hr = S_OK;
        CoTaskMemFree(a);
        CoTaskMemFree(b);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Hash(DWORD *hash) override
    {
        LPOLESTR name;
        DWORD h = 0;

        if (!hash) return E_POINTER;
        if (FAILED(GetDisplayName(NULL, NULL, &name))) return E_OUTOFMEMORY;
        for (const WCHAR *p = name; *p; p++) h = h * 31 + *p;
        CoTaskMemFree(name);
        *hash = h;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx *ctx, IMoniker *left, IMoniker *newly_running) override
    {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx *ctx, IMoniker *left, FILETIME *time) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker **out) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker *other, IMoniker **prefix) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker *other, IMoniker **path) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx *ctx, IMoniker *left, LPOLESTR name, ULONG *eaten,
                                               IMoniker **out) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD *kind) override
    {
        if (!kind) return E_POINTER;
        *kind = MKSYS_NONE;
        return S_FALSE;
    }

protected:
    FilterMoniker() { PlatformObjectCreated(); }
    virtual ~FilterMoniker() { PlatformObjectDestroyed(); }

private:
    LONG ref = 1;
};

#endif
