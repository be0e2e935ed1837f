// Media detector: the streams of a media file, their types, lengths and formats.
//
// Every put_Filename reads the file afresh (discover.c); nothing is kept from the file before.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <mmreg.h>

#include <math.h>
#include <new>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "glue/discover.h"
#include "glue/grab.h"
#include "editing/timeline.h"
#include "server/lifetime.h"
#include "editing_services.h"

namespace {

// A broken file is given up after this long rather than hanging the caller.
const unsigned DETECT_TIMEOUT_MS = 5000;

HRESULT status_to_hresult(int status)
{
    switch (status)
    {
    case DISCOVER_OK: return S_OK;
    case DISCOVER_NOT_FOUND: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case DISCOVER_NOT_READABLE: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case DISCOVER_TIMEOUT: return VFW_E_TIMEOUT;
    case DISCOVER_NO_MEMORY: return E_OUTOFMEMORY;
    default: return VFW_E_UNSUPPORTED_STREAM;
    }
}

class MediaDetector final : public IMediaDet
{
public:
    MediaDetector();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMediaDet
    HRESULT STDMETHODCALLTYPE get_Filter(IUnknown **filter) override;
    HRESULT STDMETHODCALLTYPE put_Filter(IUnknown *filter) override;
    HRESULT STDMETHODCALLTYPE get_OutputStreams(LONG *count) override;
    HRESULT STDMETHODCALLTYPE get_CurrentStream(LONG *index) override;
    HRESULT STDMETHODCALLTYPE put_CurrentStream(LONG index) override;
    HRESULT STDMETHODCALLTYPE get_StreamType(GUID *majortype) override;
    HRESULT STDMETHODCALLTYPE get_StreamTypeB(BSTR *majortype) override;
    HRESULT STDMETHODCALLTYPE get_StreamLength(double *seconds) override;
    HRESULT STDMETHODCALLTYPE get_Filename(BSTR *name) override;
    HRESULT STDMETHODCALLTYPE put_Filename(BSTR name) override;
    HRESULT STDMETHODCALLTYPE GetBitmapBits(double time, LONG *size, char *buffer, LONG width,
                                            LONG height) override;
    HRESULT STDMETHODCALLTYPE WriteBitmapBits(double time, LONG width, LONG height, BSTR name) override;
    HRESULT STDMETHODCALLTYPE get_StreamMediaType(AM_MEDIA_TYPE *mt) override;
    HRESULT STDMETHODCALLTYPE GetSampleGrabber(ISampleGrabber **grabber) override;
    HRESULT STDMETHODCALLTYPE get_FrameRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE EnterBitmapGrabMode(double time) override;

private:
    ~MediaDetector();
    void forget_file();
    const discover_stream *current_stream() const;
    bool open() const { return filename || filter; }
    HRESULT streams_of_pins(IBaseFilter *source, discover_media *found);
    HRESULT picture_source(std::string *path, int *video_index);

    LONG refcount;
    CRITICAL_SECTION cs;
    BSTR filename;              // as the caller gave it; NULL while no file is open
    discover_media media;       // streams of that file, or of the filter
    LONG current;
    IBaseFilter *filter;        // the source in use: the caller's (put_Filter), or one made on demand
    IGraphBuilder *graph;       // the graph a source made here sits in
};

MediaDetector::MediaDetector() : refcount(1), filename(NULL), media(), current(0), filter(NULL), graph(NULL)
{
    InitializeCriticalSection(&cs);
    PlatformObjectCreated();
}

MediaDetector::~MediaDetector()
{
    forget_file();
    DeleteCriticalSection(&cs);
    PlatformObjectDestroyed();
}

void MediaDetector::forget_file()
{
    SysFreeString(filename);
    filename = NULL;
    discover_media_free(&media);
    current = 0;
    if (filter) filter->Release();
    filter = NULL;
    if (graph) graph->Release();
    graph = NULL;
}

// The selected stream, or NULL while no file is open. Called with cs held.
const discover_stream *MediaDetector::current_stream() const
{
    if (!open() || current < 0 || current >= media.count) return NULL;
    return &media.streams[current];
}

HRESULT STDMETHODCALLTYPE MediaDetector::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaDet))
    {
        *out = static_cast<IMediaDet *>(this);
        AddRef();
        return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MediaDetector::AddRef()
{
    return InterlockedIncrement(&refcount);
}

ULONG STDMETHODCALLTYPE MediaDetector::Release()
{
    ULONG left = InterlockedDecrement(&refcount);
    if (!left) delete this;
    return left;
}

// The source filter in use: the one put_Filter gave, or for a file a source made for it in a graph of
// the detector's own. NULL and S_OK while no file is open.
HRESULT STDMETHODCALLTYPE MediaDetector::get_Filter(IUnknown **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    EnterCriticalSection(&cs);
    HRESULT hr = S_OK;
    if (!filter && filename)
    {
        IGraphBuilder *g = NULL;
        IBaseFilter *f = NULL;
        hr = CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&g);
        if (SUCCEEDED(hr)) hr = g->AddSourceFilter(filename, L"Source", &f);
        if (SUCCEEDED(hr))
        {
            filter = f;
            graph = g;
        }
        else if (g)
            g->Release();
    }
    if (filter) filter->QueryInterface(IID_IUnknown, (void **)out);
    LeaveCriticalSection(&cs);
    return hr;
}

// Streams of a source that is not a file source: one per output pin, from the pin's first media type.
HRESULT MediaDetector::streams_of_pins(IBaseFilter *source, discover_media *found)
{
    IEnumPins *pins = NULL;
    IPin *pin;
    double length = 0.0;
    IMediaSeeking *seeking;
    LONGLONG duration;

    memset(found, 0, sizeof(*found));
    if (SUCCEEDED(source->QueryInterface(IID_IMediaSeeking, (void **)&seeking)))
    {
        if (SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0) length = duration / 1e7;
        seeking->Release();
    }
    HRESULT hr = source->EnumPins(&pins);
    if (FAILED(hr)) return hr;
    while (pins->Next(1, &pin, NULL) == S_OK)
    {
        PIN_DIRECTION dir;
        IEnumMediaTypes *types = NULL;
        AM_MEDIA_TYPE *mt = NULL;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT && SUCCEEDED(pin->EnumMediaTypes(&types))
                && types->Next(1, &mt, NULL) == S_OK && mt)
        {
            discover_stream s = {};
            s.length = length;
            s.fps_den = 1;
            if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
            {
                s.kind = DISCOVER_VIDEO;
                if (IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER) && mt->pbFormat)
                {
                    const VIDEOINFOHEADER *vih = (const VIDEOINFOHEADER *)mt->pbFormat;
                    s.width = vih->bmiHeader.biWidth;
                    s.height = abs(vih->bmiHeader.biHeight);
                    if (vih->AvgTimePerFrame > 0)
                    {
                        s.fps_num = 10000000;
                        s.fps_den = (int)vih->AvgTimePerFrame;
                    }
                }
            }
            else if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio))
            {
                s.kind = DISCOVER_AUDIO;
                if (IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx) && mt->cbFormat >= 16 && mt->pbFormat)
                {
                    const WAVEFORMATEX *wfx = (const WAVEFORMATEX *)mt->pbFormat;
                    s.channels = wfx->nChannels;
                    s.sample_rate = (int)wfx->nSamplesPerSec;
                    s.bits = wfx->wBitsPerSample;
                    s.is_float = wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
                }
            }
            if (s.kind)
            {
                discover_stream *more = (discover_stream *)realloc(found->streams, (found->count + 1) * sizeof(s));
                if (!more) hr = E_OUTOFMEMORY;
                else
                {
                    found->streams = more;
                    found->streams[found->count++] = s;
                }
            }
        }
        if (mt)
        {
            CoTaskMemFree(mt->pbFormat);
            if (mt->pUnk) mt->pUnk->Release();
            CoTaskMemFree(mt);
        }
        if (types) types->Release();
        pin->Release();
    }
    pins->Release();
    if (FAILED(hr)) discover_media_free(found);
    return hr;
}

// A source filter the caller made (not in a graph of its own): a file source is read through its file,
// any other through the media types of its output pins. What was open before is forgotten.
HRESULT STDMETHODCALLTYPE MediaDetector::put_Filter(IUnknown *unknown)
{
    IBaseFilter *source = NULL;
    IFileSourceFilter *file = NULL;
    discover_media found = {};
    LPOLESTR name = NULL;
    HRESULT hr;

    if (!unknown) return E_POINTER;
    if (FAILED(unknown->QueryInterface(IID_IBaseFilter, (void **)&source))) return E_NOINTERFACE;
    EnterCriticalSection(&cs);
    forget_file();
    LeaveCriticalSection(&cs);

    if (SUCCEEDED(source->QueryInterface(IID_IFileSourceFilter, (void **)&file)))
    {
        AM_MEDIA_TYPE mt = {};
        hr = file->GetCurFile(&name, &mt);
        CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
        file->Release();
        if (SUCCEEDED(hr) && (!name || !*name)) hr = VFW_E_NOT_FOUND;
        char *unix_name = SUCCEEDED(hr) ? wine_get_unix_file_name(name) : NULL;
        if (SUCCEEDED(hr) && !unix_name) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        if (SUCCEEDED(hr))
        {
            hr = status_to_hresult(discover_file(unix_name, DETECT_TIMEOUT_MS, &found));
            HeapFree(GetProcessHeap(), 0, unix_name);
        }
    }
    else
        hr = streams_of_pins(source, &found);
    if (SUCCEEDED(hr) && !found.count) hr = VFW_E_UNSUPPORTED_STREAM;
    if (FAILED(hr))
    {
        CoTaskMemFree(name);
        discover_media_free(&found);
        source->Release();
        return hr;
    }
    EnterCriticalSection(&cs);
    forget_file();
    filename = name ? SysAllocString(name) : NULL;
    media = found;
    filter = source;
    LeaveCriticalSection(&cs);
    CoTaskMemFree(name);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaDetector::get_OutputStreams(LONG *count)
{
    if (!count) return E_POINTER;
    EnterCriticalSection(&cs);
    HRESULT hr = open() ? S_OK : E_INVALIDARG;
    *count = open() ? media.count : 0;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE MediaDetector::get_CurrentStream(LONG *index)
{
    if (!index) return E_POINTER;
    EnterCriticalSection(&cs);
    HRESULT hr = open() ? S_OK : E_INVALIDARG;
    *index = open() ? current : 0;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE MediaDetector::put_CurrentStream(LONG index)
{
    EnterCriticalSection(&cs);
    HRESULT hr = E_INVALIDARG;
    if (open() && index >= 0 && index < media.count)
    {
        current = index;
        hr = S_OK;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE MediaDetector::get_StreamType(GUID *majortype)
{
    if (!majortype) return E_POINTER;
    EnterCriticalSection(&cs);
    const discover_stream *stream = current_stream();
    if (stream) *majortype = stream->kind == DISCOVER_VIDEO ? MEDIATYPE_Video : MEDIATYPE_Audio;
    LeaveCriticalSection(&cs);
    return stream ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE MediaDetector::get_StreamTypeB(BSTR *majortype)
{
    if (!majortype) return E_POINTER;
    *majortype = NULL;
    GUID type;
    HRESULT hr = get_StreamType(&type);
    if (FAILED(hr)) return hr;
    WCHAR text[39];
    if (!StringFromGUID2(type, text, sizeof(text) / sizeof(text[0]))) return E_UNEXPECTED;
    *majortype = SysAllocString(text);
    return *majortype ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE MediaDetector::get_StreamLength(double *seconds)
{
    if (!seconds) return E_POINTER;
    EnterCriticalSection(&cs);
    const discover_stream *stream = current_stream();
    if (stream) *seconds = stream->length;
    LeaveCriticalSection(&cs);
    return stream ? S_OK : E_INVALIDARG;
}

// With no file open the name is empty, not an error.
HRESULT STDMETHODCALLTYPE MediaDetector::get_Filename(BSTR *name)
{
    if (!name) return E_POINTER;
    EnterCriticalSection(&cs);
    HRESULT hr = S_OK;
    *name = NULL;
    if (filename)
    {
        *name = SysAllocString(filename);
        if (!*name) hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

// Opens a file by its DOS name. On failure no file is open, so nothing of an earlier one remains.
HRESULT STDMETHODCALLTYPE MediaDetector::put_Filename(BSTR name)
{
    EnterCriticalSection(&cs);
    forget_file();
    LeaveCriticalSection(&cs);
    if (!name || !*name) return E_INVALIDARG;

    // Wine's own conversion: drive letters, Z: for the Unix root, UTF-16 to the Unix charset.
    char *unix_name = wine_get_unix_file_name(name);
    if (!unix_name) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    discover_media found;
    int status = discover_file(unix_name, DETECT_TIMEOUT_MS, &found);
    HeapFree(GetProcessHeap(), 0, unix_name);
    if (status != DISCOVER_OK) return status_to_hresult(status);

    // Up to the terminator: callers that pass a plain wide string instead of a BSTR are common.
    BSTR copy = SysAllocString(name);
    if (!copy)
    {
        discover_media_free(&found);
        return E_OUTOFMEMORY;
    }
    EnterCriticalSection(&cs);
    forget_file();
    filename = copy;
    media = found;
    LeaveCriticalSection(&cs);
    return S_OK;
}

// The file and which of its video streams the current stream is, for a picture of it.
HRESULT MediaDetector::picture_source(std::string *path, int *video_index)
{
    EnterCriticalSection(&cs);
    const discover_stream *stream = current_stream();
    HRESULT hr = !open() ? E_UNEXPECTED : !stream || stream->kind != DISCOVER_VIDEO ? VFW_E_INVALIDMEDIATYPE : S_OK;
    *video_index = 0;
    for (LONG i = 0; SUCCEEDED(hr) && i < current; i++)
        if (media.streams[i].kind == DISCOVER_VIDEO) (*video_index)++;
    if (SUCCEEDED(hr) && !filename) hr = E_UNEXPECTED;   // a caller's filter that is not a file
    if (SUCCEEDED(hr) && !editing::unix_path(filename, path)) hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    LeaveCriticalSection(&cs);
    return hr;
}

// A BITMAPINFOHEADER and the bits of a bottom-up 24-bit picture of the current (video) stream at time,
// scaled to width x height. Without a buffer, the size it needs.
HRESULT STDMETHODCALLTYPE MediaDetector::GetBitmapBits(double time, LONG *size, char *buffer, LONG width, LONG height)
{
    if (!buffer && !size) return E_POINTER;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || !isfinite(time) || time < 0)
        return E_INVALIDARG;
    ULONGLONG stride = ((ULONGLONG)width * 3 + 3) & ~3ull, bytes = sizeof(BITMAPINFOHEADER) + stride * height;
    if (bytes > 0x7fffffff) return E_INVALIDARG;
    std::string path;
    int video_index;
    HRESULT hr = picture_source(&path, &video_index);
    if (FAILED(hr)) return hr;
    if (!buffer)
    {
        *size = (LONG)bytes;
        return S_OK;
    }
    BITMAPINFOHEADER *bih = reinterpret_cast<BITMAPINFOHEADER *>(buffer);
    memset(bih, 0, sizeof(*bih));
    bih->biSize = sizeof(*bih);
    bih->biWidth = width;
    bih->biHeight = height;
    bih->biPlanes = 1;
    bih->biBitCount = 24;
    bih->biCompression = BI_RGB;
    bih->biSizeImage = (DWORD)(stride * height);
    switch (grab_picture(path.c_str(), video_index, time, width, height,
                         reinterpret_cast<unsigned char *>(buffer) + sizeof(*bih), DETECT_TIMEOUT_MS))
    {
    case GRAB_OK: return S_OK;
    case GRAB_NO_VIDEO: return VFW_E_INVALIDMEDIATYPE;
    default: return E_UNEXPECTED;
    }
}

// The same picture as a .bmp file.
HRESULT STDMETHODCALLTYPE MediaDetector::WriteBitmapBits(double time, LONG width, LONG height, BSTR name)
{
    if (!name) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    LONG size = 0;
    HRESULT hr = GetBitmapBits(time, &size, NULL, width, height);
    if (FAILED(hr)) return hr;
    std::vector<char> picture;
    try { picture.resize(size); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    if (FAILED(hr = GetBitmapBits(time, NULL, picture.data(), width, height))) return hr;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4d42;   // "BM"
    header.bfSize = sizeof(header) + size;
    header.bfOffBits = sizeof(header) + sizeof(BITMAPINFOHEADER);
    HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0, written2 = 0;
    BOOL ok = WriteFile(file, &header, sizeof(header), &written, NULL)
              && WriteFile(file, picture.data(), (DWORD)size, &written2, NULL);
    hr = ok && written == sizeof(header) && written2 == (DWORD)size ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    CloseHandle(file);
    if (FAILED(hr)) DeleteFileW(name);
    return hr;
}

// Video as bottom-up RGB24 frames of the stream's size, audio as PCM: the formats the streams decode to.
HRESULT STDMETHODCALLTYPE MediaDetector::get_StreamMediaType(AM_MEDIA_TYPE *mt)
{
    if (!mt) return E_POINTER;
    ZeroMemory(mt, sizeof(*mt));
    EnterCriticalSection(&cs);
    const discover_stream *found = current_stream();
    discover_stream stream = {};
    if (found) stream = *found;
    LeaveCriticalSection(&cs);
    if (!found) return E_INVALIDARG;

    if (stream.kind == DISCOVER_VIDEO)
    {
        VIDEOINFOHEADER *vih = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(*vih)));
        if (!vih) return E_OUTOFMEMORY;
        ZeroMemory(vih, sizeof(*vih));
        ULONGLONG stride = ((ULONGLONG)stream.width * 3 + 3) & ~3ull;
        ULONGLONG image = stride * (ULONGLONG)stream.height;
        double fps = stream.fps_num > 0 ? (double)stream.fps_num / stream.fps_den : 0.0;
        if (fps > 0.0) vih->AvgTimePerFrame = (REFERENCE_TIME)(10000000.0 / fps + 0.5);
        double bitrate = (double)image * 8.0 * fps;
        vih->dwBitRate = bitrate < 4294967295.0 ? (DWORD)bitrate : 0;
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = stream.width;
        vih->bmiHeader.biHeight = stream.height;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 24;
        vih->bmiHeader.biCompression = BI_RGB;
        // An image too large for a 32-bit size leaves it 0, which BI_RGB allows.
        vih->bmiHeader.biSizeImage = image <= 0xffffffffull ? (DWORD)image : 0;
        mt->majortype = MEDIATYPE_Video;
        mt->subtype = MEDIASUBTYPE_RGB24;
        mt->bFixedSizeSamples = vih->bmiHeader.biSizeImage != 0;
        mt->bTemporalCompression = FALSE;
        mt->lSampleSize = vih->bmiHeader.biSizeImage;
        mt->formattype = FORMAT_VideoInfo;
        mt->cbFormat = sizeof(*vih);
        mt->pbFormat = reinterpret_cast<BYTE *>(vih);
    }
    else
    {
        WAVEFORMATEX *wfx = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(*wfx)));
        if (!wfx) return E_OUTOFMEMORY;
        ZeroMemory(wfx, sizeof(*wfx));
        wfx->wFormatTag = stream.is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
        wfx->nChannels = (WORD)stream.channels;
        wfx->nSamplesPerSec = (DWORD)stream.sample_rate;
        wfx->wBitsPerSample = (WORD)stream.bits;
        wfx->nBlockAlign = (WORD)(stream.channels * ((stream.bits + 7) / 8));
        wfx->nAvgBytesPerSec = wfx->nSamplesPerSec * wfx->nBlockAlign;
        wfx->cbSize = 0;
        mt->majortype = MEDIATYPE_Audio;
        mt->subtype = stream.is_float ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
        mt->bFixedSizeSamples = TRUE;
        mt->bTemporalCompression = FALSE;
        mt->lSampleSize = wfx->nBlockAlign;
        mt->formattype = FORMAT_WaveFormatEx;
        mt->cbFormat = sizeof(*wfx);
        mt->pbFormat = reinterpret_cast<BYTE *>(wfx);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaDetector::GetSampleGrabber(ISampleGrabber **grabber)
{
    if (!grabber) return E_POINTER;
    *grabber = NULL;
    return E_NOTIMPL;
}

// Frames per second of a video stream; 0 for a still image. An audio stream has none.
HRESULT STDMETHODCALLTYPE MediaDetector::get_FrameRate(double *rate)
{
    if (!rate) return E_POINTER;
    EnterCriticalSection(&cs);
    const discover_stream *stream = current_stream();
    HRESULT hr = E_INVALIDARG;
    if (stream && stream->kind != DISCOVER_VIDEO)
        hr = VFW_E_INVALIDMEDIATYPE;
    else if (stream)
    {
        *rate = stream->fps_num > 0 ? (double)stream->fps_num / stream->fps_den : 0.0;
        hr = S_OK;
    }
    LeaveCriticalSection(&cs);
    return hr;
}

// Pictures are taken on demand: grab mode needs only a video stream to take them from.
HRESULT STDMETHODCALLTYPE MediaDetector::EnterBitmapGrabMode(double time)
{
    if (!isfinite(time) || time < 0) return E_INVALIDARG;
    std::string path;
    int video_index;
    return picture_source(&path, &video_index);
}

} // namespace

HRESULT CreateMediaDet(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    MediaDetector *detector = new (std::nothrow) MediaDetector();
    if (!detector) return E_OUTOFMEMORY;
    HRESULT hr = detector->QueryInterface(riid, out);
    detector->Release();
    return hr;
}
