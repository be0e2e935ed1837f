// The media locator (CLSID_MediaLocator): checks that a source file is where its name says and, when it
// is not, looks for a file of the same name in the folders where files were found before (a cache that
// every locator of the process shares) and in the current folder. The timeline (ValidateSourceNames) and
// the render engine (SetSourceNameValidation) use one when the caller gives none. There is no dialog to
// show here: SFN_VALIDATEF_POPUP and SFN_VALIDATEF_TELLME change nothing.
#include "server/lifetime.h"
#include "editing/medialocator.h"

#include <new>
#include <string>
#include <vector>

namespace {

// Text of 16-bit characters (wtext is not: wchar_t differs between a Winelib build and its C++
// library).
typedef std::u16string wtext;
const WCHAR *W(const wtext &t) { return reinterpret_cast<const WCHAR *>(t.c_str()); }
wtext T(const WCHAR *w) { return wtext(reinterpret_cast<const char16_t *>(w)); }

CRITICAL_SECTION cache_lock;
std::vector<wtext> *found_folders;   // most recent first
const size_t MAX_FOLDERS = 64;

BOOL CALLBACK init_cache(INIT_ONCE *, void *, void **)
{
    InitializeCriticalSection(&cache_lock);
    return TRUE;
}

void lock_cache()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, init_cache, NULL, NULL);
    EnterCriticalSection(&cache_lock);
}

bool is_file(const wtext &path)
{
    DWORD attributes = GetFileAttributesW(W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

wtext folder_of(const wtext &path)
{
    size_t slash = path.find_last_of(u"\\/");
    return slash == wtext::npos ? wtext() : path.substr(0, slash);
}

wtext name_of(const wtext &path)
{
    size_t slash = path.find_last_of(u"\\/:");
    return slash == wtext::npos ? path : path.substr(slash + 1);
}

HRESULT remember(const wtext &folder)
{
    if (folder.empty()) return E_INVALIDARG;
    lock_cache();
    HRESULT hr = S_OK;
    try
    {
        if (!found_folders) found_folders = new std::vector<wtext>;
        for (auto it = found_folders->begin(); it != found_folders->end(); ++it)
            if (!lstrcmpiW(W(*it), W(folder)))
            {
                found_folders->erase(it);
                break;
            }
        found_folders->insert(found_folders->begin(), folder);
        if (found_folders->size() > MAX_FOLDERS) found_folders->pop_back();
    }
    catch (const std::bad_alloc &)
    {
        hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&cache_lock);
    return hr;
}

std::vector<wtext> folders_to_search()
{
    std::vector<wtext> folders;
    lock_cache();
    try
    {
        if (found_folders) folders = *found_folders;
    }
    catch (const std::bad_alloc &)
    {
    }
    LeaveCriticalSection(&cache_lock);
    WCHAR current[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    if (n && n < MAX_PATH)
    {
        try { folders.push_back(T(current)); }
        catch (const std::bad_alloc &) {}
    }
    return folders;
}

// A folder on a network share (a UNC path or a remote drive).
bool is_network(const wtext &folder)
{
    if (folder.size() >= 2 && folder[0] == u'\\' && folder[1] == u'\\') return true;
    if (folder.size() >= 2 && folder[1] == u':')
    {
        WCHAR root[4] = {(WCHAR)folder[0], ':', '\\', 0};
        return GetDriveTypeW(root) == DRIVE_REMOTE;
    }
    return false;
}

class MediaLocator final : public IMediaLocator
{
public:
    MediaLocator() : ref(1) { PlatformObjectCreated(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaLocator))
        {
            *out = static_cast<IMediaLocator *>(this);
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

    HRESULT STDMETHODCALLTYPE FindMediaFile(BSTR input, BSTR filter, BSTR *output, LONG flags) override
    {
        return LocateMediaFile(input, output, flags);
    }

    HRESULT STDMETHODCALLTYPE AddFoundLocation(BSTR folder) override
    {
        if (!folder) return E_POINTER;
        if (!*folder) return E_INVALIDARG;
        try
        {
            wtext f = T(folder);
            while (f.size() > 3 && (f.back() == u'\\' || f.back() == u'/')) f.pop_back();
            return remember(f);
        }
        catch (const std::bad_alloc &)
        {
            return E_OUTOFMEMORY;
        }
    }

private:
    ~MediaLocator() { PlatformObjectDestroyed(); }
    LONG ref;
};

}  // namespace

// S_OK: the file is where input says (or nothing was to be checked); S_FALSE: found elsewhere, *output
// is its name; E_FAIL: not found.
HRESULT LocateMediaFile(const WCHAR *input, BSTR *output, LONG flags)
{
    if (!output) return E_POINTER;
    *output = NULL;
    if (!input) return E_POINTER;
    if (!*input) return E_INVALIDARG;
    if (!(flags & SFN_VALIDATEF_CHECK)) return S_OK;
    try
    {
        wtext path = T(input);
        if (is_file(path))
        {
            remember(folder_of(path));
            return S_OK;
        }
        if (flags & SFN_VALIDATEF_NOFIND) return E_FAIL;
        wtext name = name_of(path);
        if (name.empty()) return E_FAIL;
        for (const wtext &folder : folders_to_search())
        {
            if ((flags & SFN_VALIDATEF_USELOCAL) && is_network(folder)) continue;
            wtext candidate = folder + u"\\" + name;
            if (!is_file(candidate)) continue;
            if (!(*output = SysAllocString(W(candidate)))) return E_OUTOFMEMORY;
            remember(folder);
            return S_FALSE;
        }
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    return E_FAIL;
}

HRESULT CreateMediaLocator(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    MediaLocator *locator = new (std::nothrow) MediaLocator();
    if (!locator) return E_OUTOFMEMORY;
    HRESULT hr = locator->QueryInterface(riid, out);
    locator->Release();
    return hr;
}
