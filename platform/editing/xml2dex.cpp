// The XML parser (CLSID_Xml2Dex): timelines saved to and loaded from XTL project files or strings
// (xtl.cpp), and filter graphs saved as .grf files. What the documentation calls not implemented
// answers E_NOTIMPL.
#include "server/lifetime.h"
#include "editing/xtl.h"

#include <new>
#include <string>

namespace {

// The timeline behind the IUnknown a caller passes.
HRESULT timeline_of(IUnknown *unknown, IAMTimeline **out)
{
    *out = NULL;
    if (!unknown) return E_POINTER;
    return SUCCEEDED(unknown->QueryInterface(IID_IAMTimeline, (void **)out)) ? S_OK : E_INVALIDARG;
}

class Xml2Dex final : public IXml2Dex
{
public:
    Xml2Dex() : ref(1) { PlatformObjectCreated(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IXml2Dex))
        {
            *out = static_cast<IXml2Dex *>(this);
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

    // IDispatch: no type information; the methods are reached through the vtable
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override
    {
        if (!info) return E_POINTER;
        *info = NULL;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) override
    {
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; i++) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *info, UINT *arg) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

    // IXml2Dex
    HRESULT STDMETHODCALLTYPE CreateGraphFromFile(IUnknown **graph, IUnknown *timeline, BSTR name) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WriteGrfFile(IUnknown *graph, BSTR name) override;
    HRESULT STDMETHODCALLTYPE WriteXMLFile(IUnknown *timeline, BSTR name) override;
    HRESULT STDMETHODCALLTYPE ReadXMLFile(IUnknown *timeline, BSTR name) override;
    HRESULT STDMETHODCALLTYPE Delete(IUnknown *timeline, double start, double stop) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteXMLPart(IUnknown *timeline, double start, double stop, BSTR name) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PasteXMLFile(IUnknown *timeline, double start, BSTR name) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyXML(IUnknown *timeline, double start, double stop) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PasteXML(IUnknown *timeline, double start) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset(void) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReadXML(IUnknown *timeline, IUnknown *xml) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteXML(IUnknown *timeline, BSTR *xml) override;

private:
    ~Xml2Dex() { PlatformObjectDestroyed(); }
    LONG ref;
};

// The XTL as UTF-8, written over whatever the file held.
HRESULT STDMETHODCALLTYPE Xml2Dex::WriteXMLFile(IUnknown *unknown, BSTR name)
{
    IAMTimeline *tl;
    std::string text;
    if (!name) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    HRESULT hr = timeline_of(unknown, &tl);
    if (FAILED(hr)) return hr;
    hr = XtlWrite(tl, &text);
    tl->Release();
    if (FAILED(hr)) return hr;
    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
    hr = ok ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    if (!CloseHandle(file) && ok) hr = HRESULT_FROM_WIN32(GetLastError());
    return FAILED(hr) ? hr : S_OK;
}

// UTF-8 with or without its byte order mark, or UTF-16 with its mark.
HRESULT STDMETHODCALLTYPE Xml2Dex::ReadXMLFile(IUnknown *unknown, BSTR name)
{
    IAMTimeline *tl;
    if (!name) return E_POINTER;
    HRESULT hr = timeline_of(unknown, &tl);
    if (FAILED(hr)) return hr;
    HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
    {
        tl->Release();
        return HRESULT_FROM_WIN32(GetLastError());
    }
    LARGE_INTEGER size;
    std::string text;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) hr = VFW_E_INVALID_FILE_FORMAT;
    else
    {
        try { text.resize((size_t)size.QuadPart); }
        catch (const std::bad_alloc &) { hr = E_OUTOFMEMORY; }
        DWORD got = 0;
        if (SUCCEEDED(hr) && !text.empty() && (!ReadFile(file, &text[0], (DWORD)text.size(), &got, NULL) || got != text.size()))
            hr = HRESULT_FROM_WIN32(GetLastError());
    }
    CloseHandle(file);
    if (SUCCEEDED(hr) && text.size() >= 2 && (unsigned char)text[0] == 0xff && (unsigned char)text[1] == 0xfe)
    {
        const WCHAR *wide = reinterpret_cast<const WCHAR *>(text.data() + 2);
        int count = (int)((text.size() - 2) / 2);
        int n = WideCharToMultiByte(CP_UTF8, 0, wide, count, NULL, 0, NULL, NULL);
        std::string narrow(n, '\0');
        if (n) WideCharToMultiByte(CP_UTF8, 0, wide, count, &narrow[0], n, NULL, NULL);
        text.swap(narrow);
    }
    if (SUCCEEDED(hr)) hr = XtlRead(tl, text.data(), text.size());
    tl->Release();
    return hr;
}

// The caller frees the string with SysFreeString.
HRESULT STDMETHODCALLTYPE Xml2Dex::WriteXML(IUnknown *unknown, BSTR *xml)
{
    IAMTimeline *tl;
    std::string text;
    if (!xml) return E_POINTER;
    *xml = NULL;
    HRESULT hr = timeline_of(unknown, &tl);
    if (FAILED(hr)) return hr;
    hr = XtlWrite(tl, &text);
    tl->Release();
    if (FAILED(hr)) return hr;
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), NULL, 0);
    if (!(*xml = SysAllocStringLen(NULL, n))) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), *xml, n);
    return S_OK;
}

// A compound file with the graph saved in its "ActiveMovieGraph" stream, as the graph saves itself
// (IPersistStream); E_NOINTERFACE for a graph that cannot.
HRESULT STDMETHODCALLTYPE Xml2Dex::WriteGrfFile(IUnknown *graph, BSTR name)
{
    IPersistStream *persist = NULL;
    IStorage *storage = NULL;
    IStream *stream = NULL;
    if (!graph || !name) return E_POINTER;
    HRESULT hr = graph->QueryInterface(IID_IPersistStream, (void **)&persist);
    if (FAILED(hr)) return hr;
    hr = StgCreateDocfile(name, STGM_CREATE | STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage);
    if (SUCCEEDED(hr))
        hr = storage->CreateStream(L"ActiveMovieGraph", STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    if (SUCCEEDED(hr)) hr = persist->Save(stream, TRUE);
    if (stream) stream->Release();
    if (SUCCEEDED(hr)) hr = storage->Commit(STGC_DEFAULT);
    if (storage) storage->Release();
    persist->Release();
    return hr;
}

}  // namespace

HRESULT CreateXml2Dex(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    Xml2Dex *x = new (std::nothrow) Xml2Dex();
    if (!x) return E_OUTOFMEMORY;
    HRESULT hr = x->QueryInterface(riid, out);
    x->Release();
    return hr;
}
