/*
 * System device enumerator: ICreateDevEnum over the platform's four filter categories (catalog.cpp),
 * monikers that bind to filters, and their read-only property bags ("FriendlyName", "guid", "CLSID",
 * and "DevicePath" for a capture device).
 */
#include "server/lifetime.h"
#include "filters/filter.h"
#include "filters/moniker.h"

#include <new>
#include <string.h>

/* A category's entries at the time CreateClassEnumerator ran; shared by an enumerator and its clones. */
struct EntryList
{
    LONG ref;
    GUID category;
    DeviceEntry *entries;
    ULONG count;
};

static void release_list(EntryList *list)
{
    if (InterlockedDecrement(&list->ref)) return;
    CatalogFreeList(list->entries);
    delete list;
}

/* "{xxxxxxxx-xxxx-...}" of a class id as a BSTR */
static BSTR guid_string(REFGUID guid)
{
    WCHAR text[40];
    if (!StringFromGUID2(guid, text, ARRAYSIZE(text))) return NULL;
    return SysAllocString(text);
}

/* ---- IPropertyBag ---- */

class DevicePropertyBag final : public IPropertyBag
{
public:
    explicit DevicePropertyBag(const DeviceEntry *e) : ref(1), entry(*e) { PlatformObjectCreated(); }
    ~DevicePropertyBag() { PlatformObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag))
        {
            *out = static_cast<IPropertyBag *>(this);
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

    /* Values are strings. A caller that asks for VT_EMPTY or VT_BSTR gets a BSTR; another type is
     * converted. A name the bag does not hold fails as a missing registry value does. */
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *var, IErrorLog *log) override
    {
        VARIANT value;
        HRESULT hr;

        if (!name || !var) return E_POINTER;
        VariantInit(&value);
        V_VT(&value) = VT_BSTR;
        if (!lstrcmpiW(name, L"FriendlyName"))
            V_BSTR(&value) = SysAllocString(entry.name);
        else if (!lstrcmpiW(name, L"guid") || !lstrcmpiW(name, L"CLSID"))
            V_BSTR(&value) = guid_string(entry.clsid);
        else if (!lstrcmpiW(name, L"DevicePath") && entry.kind == FILTER_CAPTURE && entry.device[0])
        {
            WCHAR path[ARRAYSIZE(entry.device)];
            if (!MultiByteToWideChar(CP_UTF8, 0, entry.device, -1, path, ARRAYSIZE(path)))
                return E_FAIL;
            V_BSTR(&value) = SysAllocString(path);
        }
        else
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (!V_BSTR(&value)) return E_OUTOFMEMORY;

        if (V_VT(var) == VT_EMPTY || V_VT(var) == VT_BSTR)
        {
            *var = value;   /* the caller's VARIANT holds no value yet */
            return S_OK;
        }
        hr = VariantChangeType(var, &value, 0, V_VT(var));
        VariantClear(&value);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT *var) override
    {
        return E_NOTIMPL;   /* the platform's categories are not stored anywhere */
    }

private:
    LONG ref;
    DeviceEntry entry;
};

/* ---- IMoniker ---- */

class DeviceMoniker final : public FilterMoniker
{
public:
    DeviceMoniker(REFGUID cat, const DeviceEntry *e) : category(cat), entry(*e) {}

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *ctx, IMoniker *left, REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (left) return E_INVALIDARG;
        return CreatePlatformFilter(&entry, NULL, riid, out);
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *ctx, IMoniker *left, REFIID riid, void **out) override
    {
        DevicePropertyBag *bag;
        HRESULT hr;

        if (!out) return E_POINTER;
        *out = NULL;
        if (left) return E_INVALIDARG;
        if (!(bag = new (std::nothrow) DevicePropertyBag(&entry))) return E_OUTOFMEMORY;
        hr = bag->QueryInterface(riid, out);
        bag->Release();
        return hr;
    }
    /* "@device:sw:{category}\{class}" for software filters, "@device:pnp:<device node>" for a camera */
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx *ctx, IMoniker *left, LPOLESTR *out) override
    {
        WCHAR text[400], guid[40];

        if (!out) return E_POINTER;
        *out = NULL;
        if (entry.kind == FILTER_CAPTURE && entry.device[0])
        {
            WCHAR path[ARRAYSIZE(entry.device)];
            if (!MultiByteToWideChar(CP_UTF8, 0, entry.device, -1, path, ARRAYSIZE(path))) return E_FAIL;
            lstrcpyW(text, L"@device:pnp:");
            lstrcatW(text, path);
        }
        else
        {
            lstrcpyW(text, L"@device:sw:");
            StringFromGUID2(category, guid, ARRAYSIZE(guid));
            lstrcatW(text, guid);
            lstrcatW(text, L"\\");
            StringFromGUID2(entry.clsid, guid, ARRAYSIZE(guid));
            lstrcatW(text, guid);
        }
        size_t size = (lstrlenW(text) + 1) * sizeof(WCHAR);
        if (!(*out = (LPOLESTR)CoTaskMemAlloc(size))) return E_OUTOFMEMORY;
        memcpy(*out, text, size);
        return S_OK;
    }

private:
    GUID category;
    DeviceEntry entry;
};

/* ---- IEnumMoniker ---- */

class DeviceMonikerEnum final : public IEnumMoniker
{
public:
    DeviceMonikerEnum(EntryList *l, ULONG pos) : ref(1), list(l), pos(pos)
    {
        InterlockedIncrement(&list->ref);
        PlatformObjectCreated();
    }
    ~DeviceMonikerEnum()
    {
        release_list(list);
        PlatformObjectDestroyed();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMoniker))
        {
            *out = static_cast<IEnumMoniker *>(this);
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

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker **out, ULONG *fetched) override
    {
        ULONG n = 0;

        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        while (n < count && pos < list->count)
        {
            DeviceMoniker *m = new (std::nothrow) DeviceMoniker(list->category, &list->entries[pos]);
            if (!m)
            {
                while (n) out[--n]->Release();
                if (fetched) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            out[n++] = m;
            pos++;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        if (count > list->count - pos)   /* pos never passes count */
        {
            pos = list->count;
            return S_FALSE;
        }
        pos += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { pos = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker **out) override
    {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) DeviceMonikerEnum(list, pos);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG ref;
    EntryList *list;
    ULONG pos;
};

/* ---- ICreateDevEnum ---- */

class SystemDeviceEnum final : public ICreateDevEnum
{
public:
    SystemDeviceEnum() : ref(1) { PlatformObjectCreated(); }
    ~SystemDeviceEnum() { PlatformObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICreateDevEnum))
        {
            *out = static_cast<ICreateDevEnum *>(this);
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

    /* An empty or unknown category gives S_FALSE and no enumerator, as on Windows. */
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker **out, DWORD flags) override
    {
        EntryList *list;
        HRESULT hr;

        if (!out) return E_POINTER;
        *out = NULL;
        if (!(list = new (std::nothrow) EntryList)) return E_OUTOFMEMORY;
        list->ref = 1;
        list->category = category;
        hr = CatalogListCategory(category, &list->entries, &list->count);
        if (hr == S_OK)
        {
            *out = new (std::nothrow) DeviceMonikerEnum(list, 0);
            if (!*out) hr = E_OUTOFMEMORY;
        }
        release_list(list);
        return hr;
    }

private:
    LONG ref;
};

HRESULT CreateSystemDeviceEnum(REFIID riid, void **out)
{
    SystemDeviceEnum *devenum;
    HRESULT hr;

    if (!out) return E_POINTER;
    *out = NULL;
    if (!(devenum = new (std::nothrow) SystemDeviceEnum)) return E_OUTOFMEMORY;
    hr = devenum->QueryInterface(riid, out);
    devenum->Release();
    return hr;
}
