/*
 * The filter mapper: the platform's own filters (decoders, converters, renderers, multiplexer, writers
 * and the compressors of the catalog) and the filters registered in the legacy filter category
 * (HKCR\CLSID\{category}\Instance\{instance}: FriendlyName, CLSID and FilterData, the REGFILTER2 as this
 * mapper stores it), found by their pins' media types, best merit first, as monikers that bind to them.
 */
#include "server/lifetime.h"
#include "graph/filtergraph.h"
#include "filters/catalog.h"
#include "filters/snapshotenum.h"
#include "filters/moniker.h"

#include <string.h>
#include <new>

#define MAX_MAPPED 256
#define MAX_PIN_TYPES 8
#define MAX_MAPPED_PINS 4

namespace {

struct MappedPin
{
    DWORD flags;                    /* REG_PINFLAG_B_* */
    int type_count;
    GUID types[MAX_PIN_TYPES][2];   /* major, minor */
};

struct Mapped
{
    CLSID clsid;
    WCHAR name[128];
    DWORD merit;
    int pin_count;
    MappedPin pins[MAX_MAPPED_PINS];
    int converter;                  /* ConverterKind, -1 for others */
};

/* the stored FilterData: this layout, pins following */
struct StoredFilter { DWORD version, merit, pin_count; };
struct StoredPin { DWORD flags, type_count; GUID types[MAX_PIN_TYPES][2]; };

static void guid_text(REFGUID g, WCHAR *text) { StringFromGUID2(g, text, 40); }

static void instance_key(const CLSID *category, const WCHAR *instance, WCHAR *key)
{
    WCHAR cat[40];
    guid_text(category ? *category : CLSID_LegacyAmFilterCategory, cat);
    wsprintfW(key, L"CLSID\\%s\\Instance\\%s", cat, instance);
}

static void add_pin(Mapped *m, DWORD flags, REFGUID major, REFGUID minor)
{
    if (m->pin_count >= MAX_MAPPED_PINS) return;
    MappedPin *p = &m->pins[m->pin_count++];
    p->flags = flags;
    p->type_count = 1;
    p->types[0][0] = major;
    p->types[0][1] = minor;
}

static int builtin_filters(Mapped *list, int max)
{
    int n = 0;
    for (int k = 0; k < CONVERT_COUNT && n < max; k++, n++)
    {
        Mapped *m = &list[n];
        memset(m, 0, sizeof(*m));
        m->clsid = *ConverterClass((ConverterKind)k);
        lstrcpynW(m->name, ConverterName((ConverterKind)k), 128);
        m->merit = ConverterMerit((ConverterKind)k);
        m->converter = k;
        bool video = k == CONVERT_VIDEO_DECODER || k == CONVERT_VIDEO;
        GUID major = video ? MEDIATYPE_Video : MEDIATYPE_Audio;
        add_pin(m, 0, major, GUID_NULL);
        add_pin(m, REG_PINFLAG_B_OUTPUT, major, video ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_PCM);
    }
    static const struct { const CLSID *clsid; const WCHAR *name; DWORD merit; const GUID *in, *out; } fixed[] =
    {
        {&CLSID_VideoRenderer, L"Video Renderer", MERIT_PREFERRED, &MEDIATYPE_Video, NULL},
        {&CLSID_DSoundRender, L"Default DirectSound Device", MERIT_PREFERRED, &MEDIATYPE_Audio, NULL},
        {&CLSID_AviDest, L"AVI Mux", MERIT_DO_NOT_USE, &GUID_NULL, &MEDIATYPE_Stream},
        {&CLSID_FileWriter, L"File writer", MERIT_DO_NOT_USE, &GUID_NULL, NULL},
        {&CLSID_WavDest, L"WavDest", MERIT_DO_NOT_USE, &MEDIATYPE_Audio, &MEDIATYPE_Stream},
        {&CLSID_AsyncReader, L"File Source (Async.)", MERIT_UNLIKELY, NULL, &MEDIATYPE_Stream},
    };
    for (size_t i = 0; i < ARRAYSIZE(fixed) && n < max; i++, n++)
    {
        Mapped *m = &list[n];
        memset(m, 0, sizeof(*m));
        m->clsid = *fixed[i].clsid;
        lstrcpynW(m->name, fixed[i].name, 128);
        m->merit = fixed[i].merit;
        m->converter = -1;
        if (fixed[i].in) add_pin(m, fixed[i].out ? 0 : REG_PINFLAG_B_RENDERER, *fixed[i].in, GUID_NULL);
        if (fixed[i].out) add_pin(m, REG_PINFLAG_B_OUTPUT, *fixed[i].out, GUID_NULL);
    }
    /* the compressors: never chosen by merit alone */
    const GUID *categories[] = {&CLSID_VideoCompressorCategory, &CLSID_AudioCompressorCategory};
    for (int c = 0; c < 2; c++)
    {
        DeviceEntry *entries;
        ULONG count;
        if (CatalogListCategory(*categories[c], &entries, &count) != S_OK) continue;
        for (ULONG i = 0; i < count && n < max; i++, n++)
        {
            Mapped *m = &list[n];
            memset(m, 0, sizeof(*m));
            m->clsid = entries[i].clsid;
            lstrcpynW(m->name, entries[i].name, 128);
            m->merit = MERIT_DO_NOT_USE;
            m->converter = -1;
            GUID major = c ? MEDIATYPE_Audio : MEDIATYPE_Video;
            add_pin(m, 0, major, GUID_NULL);
            add_pin(m, REG_PINFLAG_B_OUTPUT, major, GUID_NULL);
        }
        CatalogFreeList(entries);
    }
    return n;
}

static int registered_filters(Mapped *list, int max)
{
    WCHAR base[128], instance[64];
    HKEY key;
    int n = 0;
    instance_key(NULL, L"", base);
    base[lstrlenW(base) - 1] = 0;   /* no trailing separator */
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, base, 0, KEY_READ, &key)) return 0;
    for (DWORD i = 0; n < max; i++)
    {
        DWORD len = ARRAYSIZE(instance), size, type;
        HKEY sub;
        BYTE data[sizeof(StoredFilter) + MAX_MAPPED_PINS * sizeof(StoredPin)];
        WCHAR clsid[40];
        if (RegEnumKeyExW(key, i, instance, &len, NULL, NULL, NULL, NULL)) break;
        if (RegOpenKeyExW(key, instance, 0, KEY_READ, &sub)) continue;
        Mapped *m = &list[n];
        memset(m, 0, sizeof(*m));
        m->converter = -1;
        size = sizeof(m->name);
        if (RegQueryValueExW(sub, L"FriendlyName", NULL, &type, (BYTE *)m->name, &size)) m->name[0] = 0;
        size = sizeof(clsid);
        bool ok = !RegQueryValueExW(sub, L"CLSID", NULL, &type, (BYTE *)clsid, &size)
                  && SUCCEEDED(CLSIDFromString(clsid, &m->clsid));
        size = sizeof(data);
        if (ok && !RegQueryValueExW(sub, L"FilterData", NULL, &type, data, &size) && size >= sizeof(StoredFilter))
        {
            const StoredFilter *sf = (const StoredFilter *)data;
            m->merit = sf->merit;
            for (DWORD p = 0; p < sf->pin_count && p < MAX_MAPPED_PINS
                              && sizeof(StoredFilter) + (p + 1) * sizeof(StoredPin) <= size; p++)
            {
                const StoredPin *sp = (const StoredPin *)(data + sizeof(StoredFilter)) + p;
                m->pins[p].flags = sp->flags;
                m->pins[p].type_count = sp->type_count > MAX_PIN_TYPES ? MAX_PIN_TYPES : sp->type_count;
                memcpy(m->pins[p].types, sp->types, sizeof(sp->types));
                m->pin_count++;
            }
        }
        else
            m->merit = MERIT_DO_NOT_USE;   /* registered elsewhere, in a form not ours */
        RegCloseKey(sub);
        if (ok) n++;
    }
    RegCloseKey(key);
    return n;
}

static bool guid_matches(REFGUID want, REFGUID have, BOOL exact)
{
    if (IsEqualGUID(want, have)) return true;
    return !exact && (IsEqualGUID(want, GUID_NULL) || IsEqualGUID(have, GUID_NULL));
}

/* a pin of the direction with one of the type pairs (none asked: any) */
static bool has_pin(const Mapped *m, bool output, BOOL exact, DWORD count, const GUID *types, BOOL render)
{
    for (int p = 0; p < m->pin_count; p++)
    {
        const MappedPin *pin = &m->pins[p];
        if (!(pin->flags & REG_PINFLAG_B_OUTPUT) != !output) continue;
        if (render && !(pin->flags & REG_PINFLAG_B_RENDERER)) continue;
        if (!count) return true;
        for (DWORD t = 0; t < count; t++)
            for (int k = 0; k < pin->type_count; k++)
                if (guid_matches(types[2 * t], pin->types[k][0], exact)
                        && guid_matches(types[2 * t + 1], pin->types[k][1], exact))
                    return true;
    }
    return false;
}

/* ---- Moniker of one mapped filter ---- */

class MappedBag final : public IPropertyBag
{
public:
    explicit MappedBag(const Mapped &e) : ref(1), m(e) { PlatformObjectCreated(); }
    ~MappedBag() { PlatformObjectDestroyed(); }
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
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *v, IErrorLog *log) override
    {
        WCHAR text[40];
        if (!name || !v) return E_POINTER;
        if (!lstrcmpiW(name, L"FriendlyName"))
        {
            V_VT(v) = VT_BSTR;
            V_BSTR(v) = SysAllocString(m.name);
        }
        else if (!lstrcmpiW(name, L"CLSID"))
        {
            guid_text(m.clsid, text);
            V_VT(v) = VT_BSTR;
            V_BSTR(v) = SysAllocString(text);
        }
        else if (!lstrcmpiW(name, L"Merit"))
        {
            V_VT(v) = VT_I4;
            V_I4(v) = (LONG)m.merit;
            return S_OK;
        }
        else
            return E_INVALIDARG;
        return V_BSTR(v) ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT *v) override { return E_ACCESSDENIED; }

private:
    LONG ref;
    Mapped m;
};

class MappedMoniker final : public FilterMoniker
{
public:
    explicit MappedMoniker(const Mapped &e) : m(e) {}

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *ctx, IMoniker *left, REFIID riid, void **out) override
    {
        IBaseFilter *f = NULL;
        HRESULT hr;
        if (!out) return E_POINTER;
        *out = NULL;
        if (m.converter >= 0)
            hr = CreateConverter((ConverterKind)m.converter, &f);
        else if (IsEqualGUID(m.clsid, CLSID_VideoRenderer) || IsEqualGUID(m.clsid, CLSID_DSoundRender))
        {
            GraphFilter *g;
            hr = GraphFilter::Create(IsEqualGUID(m.clsid, CLSID_VideoRenderer) ? GF_VIDEO_RENDERER : GF_AUDIO_RENDERER, &g);
            f = g;
        }
        else
            hr = CoCreateInstance(m.clsid, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&f);
        if (FAILED(hr)) return hr;
        hr = f->QueryInterface(riid, out);
        f->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *ctx, IMoniker *left, REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        MappedBag *bag = new (std::nothrow) MappedBag(m);
        if (!bag) return E_OUTOFMEMORY;
        HRESULT hr = bag->QueryInterface(riid, out);
        bag->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx *ctx, DWORD how, IMoniker **left, IMoniker **reduced) override
    {
        if (!reduced) return E_POINTER;
        *reduced = this;
        AddRef();
        return MK_S_REDUCED_TO_SELF;
    }
    HRESULT STDMETHODCALLTYPE Hash(DWORD *hash) override
    {
        if (!hash) return E_POINTER;
        *hash = m.clsid.Data1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker **out) override { return MK_E_NOINVERSE; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx *ctx, IMoniker *left, LPOLESTR *name) override
    {
        WCHAR cat[40], cls[40], text[128];
        if (!name) return E_POINTER;
        guid_text(CLSID_LegacyAmFilterCategory, cat);
        guid_text(m.clsid, cls);
        wsprintfW(text, L"@device:sw:%s\\%s", cat, cls);
        if (!(*name = (LPOLESTR)CoTaskMemAlloc((lstrlenW(text) + 1) * sizeof(WCHAR)))) return E_OUTOFMEMORY;
        lstrcpyW(*name, text);
        return S_OK;
    }

private:
    Mapped m;
};

class FilterMapper final : public IFilterMapper3
{
public:
    FilterMapper() : ref(1) { PlatformObjectCreated(); }
    ~FilterMapper() { PlatformObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterMapper2) || IsEqualIID(riid, IID_IFilterMapper3))
        {
            *out = static_cast<IFilterMapper3 *>(this);
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

    HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override
    {
        WCHAR cat[40], list[40], key_name[128];
        HKEY key;
        LONG err;
        if (!description) return E_POINTER;
        guid_text(CLSID_ActiveMovieCategories, list);
        guid_text(category, cat);
        wsprintfW(key_name, L"CLSID\\%s\\Instance\\%s", list, cat);
        if ((err = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL)))
            return HRESULT_FROM_WIN32(err);
        err = RegSetValueExW(key, L"FriendlyName", 0, REG_SZ, (const BYTE *)description,
                             (lstrlenW(description) + 1) * sizeof(WCHAR));
        if (!err) err = RegSetValueExW(key, L"CLSID", 0, REG_SZ, (const BYTE *)cat, (lstrlenW(cat) + 1) * sizeof(WCHAR));
        if (!err) err = RegSetValueExW(key, L"Merit", 0, REG_DWORD, (const BYTE *)&merit, sizeof(merit));
        RegCloseKey(key);
        return HRESULT_FROM_WIN32(err);
    }

    HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID *category, LPCOLESTR instance, REFCLSID filter) override
    {
        WCHAR name[40], key[128];
        LONG err;
        if (!instance) guid_text(filter, name);
        instance_key(category, instance ? instance : name, key);
        /* the key with everything under it */
        err = RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        return HRESULT_FROM_WIN32(err);
    }

    HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker **moniker, const CLSID *category,
                                             LPCOLESTR instance, const REGFILTER2 *info) override
    {
        BYTE data[sizeof(StoredFilter) + MAX_MAPPED_PINS * sizeof(StoredPin)];
        StoredFilter *sf = (StoredFilter *)data;
        WCHAR id[40], key_name[128];
        HKEY key;
        LONG err;
        ULONG pins;

        if (!name || !info) return E_POINTER;
        if (info->dwVersion != 1 && info->dwVersion != 2) return E_INVALIDARG;
        pins = info->dwVersion == 1 ? info->cPins : info->cPins2;
        if (pins > MAX_MAPPED_PINS) return E_INVALIDARG;
        if ((info->dwVersion == 1 && pins && !info->rgPins) || (info->dwVersion == 2 && pins && !info->rgPins2))
            return E_POINTER;
        memset(data, 0, sizeof(data));
        sf->version = 2;
        sf->merit = info->dwMerit;
        sf->pin_count = pins;
        for (ULONG p = 0; p < pins; p++)
        {
            StoredPin *sp = (StoredPin *)(data + sizeof(StoredFilter)) + p;
            UINT n;
            const REGPINTYPES *types;
            if (info->dwVersion == 1)
            {
                const REGFILTERPINS *rp = &info->rgPins[p];
                sp->flags = (rp->bOutput ? REG_PINFLAG_B_OUTPUT : 0) | (rp->bRendered ? REG_PINFLAG_B_RENDERER : 0)
                          | (rp->bMany ? REG_PINFLAG_B_MANY : 0) | (rp->bZero ? REG_PINFLAG_B_ZERO : 0);
                n = rp->nMediaTypes;
                types = rp->lpMediaType;
            }
            else
            {
                const REGFILTERPINS2 *rp = &info->rgPins2[p];
                sp->flags = rp->dwFlags;
                n = rp->nMediaTypes;
                types = rp->lpMediaType;
            }
            if (n && !types) return E_POINTER;
            sp->type_count = n > MAX_PIN_TYPES ? MAX_PIN_TYPES : n;
            for (UINT t = 0; t < sp->type_count; t++)
            {
                sp->types[t][0] = types[t].clsMajorType ? *types[t].clsMajorType : GUID_NULL;
                sp->types[t][1] = types[t].clsMinorType ? *types[t].clsMinorType : GUID_NULL;
            }
        }
        guid_text(filter, id);
        instance_key(category, instance ? instance : id, key_name);
        if ((err = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL)))
            return HRESULT_FROM_WIN32(err);
        err = RegSetValueExW(key, L"FriendlyName", 0, REG_SZ, (const BYTE *)name, (lstrlenW(name) + 1) * sizeof(WCHAR));
        if (!err) err = RegSetValueExW(key, L"CLSID", 0, REG_SZ, (const BYTE *)id, (lstrlenW(id) + 1) * sizeof(WCHAR));
        if (!err)
            err = RegSetValueExW(key, L"FilterData", 0, REG_BINARY, data,
                                 sizeof(StoredFilter) + pins * sizeof(StoredPin));
        RegCloseKey(key);
        if (err) return HRESULT_FROM_WIN32(err);
        if (moniker && !*moniker)
        {
            Mapped m;
            memset(&m, 0, sizeof(m));
            m.clsid = filter;
            lstrcpynW(m.name, name, 128);
            m.merit = info->dwMerit;
            m.converter = -1;
            *moniker = new (std::nothrow) MappedMoniker(m);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker **out, DWORD flags, BOOL exact, DWORD merit,
                                                  BOOL input_needed, DWORD input_count, const GUID *input_types,
                                                  const REGPINMEDIUM *input_medium, const CLSID *input_category,
                                                  BOOL render, BOOL output_needed, DWORD output_count,
                                                  const GUID *output_types, const REGPINMEDIUM *output_medium,
                                                  const CLSID *output_category) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (flags) return E_INVALIDARG;
        if ((input_count && !input_types) || (output_count && !output_types)) return E_POINTER;
        Mapped *all = new (std::nothrow) Mapped[MAX_MAPPED];
        IMoniker **found = new (std::nothrow) IMoniker *[MAX_MAPPED];
        if (!all || !found)
        {
            delete[] all;
            delete[] found;
            return E_OUTOFMEMORY;
        }
        int n = builtin_filters(all, MAX_MAPPED);
        n += registered_filters(all + n, MAX_MAPPED - n);
        /* best merit first; the order found among equals */
        int order[MAX_MAPPED], count = 0;
        for (int i = 0; i < n; i++)
        {
            const Mapped *m = &all[i];
            if (m->merit < merit) continue;
            if ((input_needed || input_count) && !has_pin(m, false, exact, input_count, input_types, render)) continue;
            if ((output_needed || output_count) && !has_pin(m, true, exact, output_count, output_types, FALSE)) continue;
            int j = count++;
            while (j > 0 && all[order[j - 1]].merit < m->merit)
            {
                order[j] = order[j - 1];
                j--;
            }
            order[j] = i;
        }
        int made = 0;
        for (int i = 0; i < count; i++)
            if ((found[made] = new (std::nothrow) MappedMoniker(all[order[i]]))) made++;
        *out = SnapshotEnum<IEnumMoniker, IMoniker>::Create(IID_IEnumMoniker, found, made);
        for (int i = 0; i < made; i++) found[i]->Release();
        delete[] all;
        delete[] found;
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE GetICreateDevEnum(ICreateDevEnum **out) override
    {
        if (!out) return E_POINTER;
        return CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, (void **)out);
    }

private:
    LONG ref;
};

}  // namespace

HRESULT CreateFilterMapper(REFIID riid, void **out)
{
    FilterMapper *m;
    HRESULT hr;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(m = new (std::nothrow) FilterMapper())) return E_OUTOFMEMORY;
    hr = m->QueryInterface(riid, out);
    m->Release();
    return hr;
}
