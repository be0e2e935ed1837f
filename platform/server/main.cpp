/*
 * The media platform's COM server: DllMain, one class factory over the class table, whether it may unload, and
 * registration (HKLM classes, InprocServer32, ThreadingModel Both).
 */
#include "server/classes.h"
#include "server/lifetime.h"
#include "filters/catalog.h"
#include "glue/gstglue.h"

#include <new>

static HINSTANCE platform_instance;
static LONG lock_count;


struct ClassEntry
{
    const CLSID *clsid;
    const WCHAR *name;
    HRESULT (*create)(IUnknown *outer, REFIID riid, void **out);
    const WCHAR *wine_dll;    /* Wine's own server of this class, put back on unregistration */
};


/* A class whose objects cannot be aggregated. */
template <HRESULT (*create)(REFIID, void **)>
static HRESULT alone(IUnknown *outer, REFIID riid, void **out)
{
    if (outer) return CLASS_E_NOAGGREGATION;
    return create(riid, out);
}

/* Classes with their own creator; the compressors, transitions and the virtual camera of the device
 * enumerator's categories follow from catalog.cpp. */
static const ClassEntry classes[] =
{
    { &CLSID_SystemDeviceEnum, L"System Device Enumerator", alone<CreateSystemDeviceEnum>, L"devenum.dll" },
    { &CLSID_MediaDet, L"MediaDet", alone<CreateMediaDet>, L"qedit.dll" },
    { &CLSID_WavDest, L"WavDest", CreateWavDest, NULL },
    { &CLSID_FilterGraph, L"Filter Graph", CreateFilterGraph, L"quartz.dll" },
    { &CLSID_CaptureGraphBuilder2, L"Capture Graph Builder 2", CreateCaptureGraphBuilder, L"qcap.dll" },
    { &CLSID_FilterMapper2, L"Filter Mapper2", alone<CreateFilterMapper>, L"quartz.dll" },
    { &CLSID_SystemClock, L"System Clock", alone<CreateSystemClock>, L"quartz.dll" },
    { &CLSID_FileWriter, L"File writer", CreateFileWriter, L"qcap.dll" },
    { &CLSID_AviDest, L"AVI Mux", CreateAviMux, L"qcap.dll" },
    { &CLSID_AMTimeline, L"Timeline", alone<CreateTimeline>, L"qedit.dll" },
    { &CLSID_PropertySetter, L"Property Setter", alone<CreatePropertySetter>, NULL },
    { &CLSID_RenderEngine, L"Render Engine", alone<CreateRenderEngine>, NULL },
    { &CLSID_Xml2Dex, L"Xml2Dex", alone<CreateXml2Dex>, NULL },
    { &CLSID_MediaLocator, L"Media Locator", alone<CreateMediaLocator>, NULL },
};

static const ClassEntry *find_class(REFCLSID clsid)
{
    for (size_t i = 0; i < ARRAYSIZE(classes); i++)
        if (IsEqualGUID(clsid, *classes[i].clsid)) return &classes[i];
    return NULL;
}

static bool is_catalog_class(REFCLSID clsid)
{
    const WCHAR *name;
    for (ULONG i = 0; i < CatalogClassCount(); i++)
        if (IsEqualGUID(clsid, *CatalogClass(i, &name))) return true;
    return false;
}

/* ---- IClassFactory ---- */

class ClassFactory final : public IClassFactory
{
public:
    explicit ClassFactory(REFCLSID c) : ref(1), clsid(c) { PlatformObjectCreated(); }
    ~ClassFactory() { PlatformObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
        {
            *out = static_cast<IClassFactory *>(this);
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
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override
    {
        const ClassEntry *c;

        if (!out) return E_POINTER;
        *out = NULL;
        /* an aggregating object asks for the inner unknown and nothing else */
        if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        if ((c = find_class(clsid))) return c->create(outer, riid, out);
        return CreateCatalogFilter(clsid, outer, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) InterlockedIncrement(&lock_count);
        else InterlockedDecrement(&lock_count);
        return S_OK;
    }

private:
    LONG ref;
    CLSID clsid;
};

/* ---- Exports ---- */

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        platform_instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void **out)
{
    ClassFactory *factory;
    HRESULT hr;

    if (!out) return E_POINTER;
    *out = NULL;
    if (!find_class(clsid) && !is_catalog_class(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    if (!(factory = new (std::nothrow) ClassFactory(clsid))) return E_OUTOFMEMORY;
    hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

/* Once GStreamer runs in the process the server stays: it cannot be shut down and started again. */
extern "C" HRESULT WINAPI DllCanUnloadNow(void)
{
    if (PlatformObjectCount() || lock_count || glue_started()) return S_FALSE;
    return S_OK;
}

static void class_key(REFCLSID clsid, WCHAR *key, size_t size)
{
    WCHAR guid[40];
    StringFromGUID2(clsid, guid, ARRAYSIZE(guid));
    lstrcpynW(key, L"Software\\Classes\\CLSID\\", size);
    lstrcatW(key, guid);
}

static LONG set_string(HKEY key, const WCHAR *name, const WCHAR *value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)value, (lstrlenW(value) + 1) * sizeof(WCHAR));
}

/* HKLM\Software\Classes\CLSID\{clsid}: @=name; InprocServer32: @=server, ThreadingModel=Both */
static HRESULT register_class(REFCLSID clsid, const WCHAR *name, const WCHAR *server)
{
    WCHAR path[128];
    HKEY key, inproc;
    LONG err;

    class_key(clsid, path, ARRAYSIZE(path));
    if ((err = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL)))
        return HRESULT_FROM_WIN32(err);
    err = set_string(key, NULL, name);
    if (!err) err = RegCreateKeyExW(key, L"InprocServer32", 0, NULL, 0, KEY_WRITE, NULL, &inproc, NULL);
    if (!err)
    {
        err = set_string(inproc, NULL, server);
        if (!err) err = set_string(inproc, L"ThreadingModel", L"Both");
        RegCloseKey(inproc);
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(err);
}

static HRESULT unregister_class(REFCLSID clsid, const WCHAR *wine_dll)
{
    WCHAR path[128], server[MAX_PATH];
    LONG err;

    if (wine_dll)
    {
        /* point the class back at Wine's own server, as the prefix had it */
        UINT n = GetSystemDirectoryW(server, MAX_PATH - 20);
        if (!n || n >= MAX_PATH - 20) return E_FAIL;
        lstrcatW(server, L"\\");
        lstrcatW(server, wine_dll);
        HKEY key;
        class_key(clsid, path, ARRAYSIZE(path));
        lstrcatW(path, L"\\InprocServer32");
        if ((err = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, &key)))
            return err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
        err = set_string(key, NULL, server);
        RegCloseKey(key);
        return HRESULT_FROM_WIN32(err);
    }
    class_key(clsid, path, ARRAYSIZE(path));
    err = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    if (!err) err = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
    return err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
}

extern "C" HRESULT WINAPI DllRegisterServer(void)
{
    WCHAR server[MAX_PATH];
    const WCHAR *name;
    HRESULT hr = S_OK;
    DWORD n;

    n = GetModuleFileNameW(platform_instance, server, ARRAYSIZE(server));
    if (!n || n >= ARRAYSIZE(server)) return E_FAIL;
    for (size_t i = 0; i < ARRAYSIZE(classes) && SUCCEEDED(hr); i++)
        hr = register_class(*classes[i].clsid, classes[i].name, server);
    for (ULONG i = 0; i < CatalogClassCount() && SUCCEEDED(hr); i++)
    {
        const CLSID *clsid = CatalogClass(i, &name);
        hr = register_class(*clsid, name, server);
    }
    return hr;
}

extern "C" HRESULT WINAPI DllUnregisterServer(void)
{
    const WCHAR *name;
    HRESULT hr = S_OK, r;

    for (size_t i = 0; i < ARRAYSIZE(classes); i++)
        if (FAILED(r = unregister_class(*classes[i].clsid, classes[i].wine_dll))) hr = r;
    for (ULONG i = 0; i < CatalogClassCount(); i++)
        if (FAILED(r = unregister_class(*CatalogClass(i, &name), NULL))) hr = r;
    return hr;
}
