/*
 * The graph's own filters: file source, AVI multiplexer, File Writer, renderers and the capture tee.
 * They hold pins and settings; the graph turns them into pipeline nodes when it runs.
 */
#include "server/classes.h"
#include "server/lifetime.h"
#include "filters/graphfilter.h"
#include "glue/discover.h"
#include "glue/gstglue.h"

#include <mmreg.h>
#include <stdio.h>
#include <string.h>
#include <new>

#define DISCOVER_MS 8000

/* ---- Pins ---- */

void GraphPin::Init(GraphFilter *owner, PIN_DIRECTION dir, const WCHAR *pin_name, const AM_MEDIA_TYPE *type, int i)
{
    filter = owner;
    index = i;
    InitPin(static_cast<IBaseFilter *>(owner), &owner->cs, dir, pin_name, type);
}

bool GraphPin::Accepts(const AM_MEDIA_TYPE *type) const
{
    if (filter->Type() == GF_AVIMUX && direction == PINDIR_INPUT) return GraphFilter::MuxTakes(type);
    if (IsEqualGUID(preferred.majortype, GUID_NULL) || IsEqualGUID(type->majortype, GUID_NULL)) return true;
    return IsEqualGUID(type->majortype, preferred.majortype);
}

void GraphPin::OnConnected() { filter->PinConnected(this); }

/* ---- The filter ---- */

static AM_MEDIA_TYPE major_only(REFGUID major)
{
    AM_MEDIA_TYPE mt;
    memset(&mt, 0, sizeof(mt));
    mt.majortype = major;
    return mt;
}

GraphFilter::GraphFilter(GraphFilterType t, IUnknown *outer)
    : Aggregatable(outer), type(t), pin_count(0), pins_version(0), dos_path(NULL), unix_path(NULL), mode(0),
      dirty(false), master_stream(-1), old_index(TRUE), interleave_mode(INTERLEAVE_CAPTURE), interleave(10000000),
      preroll(0), asking_graph(0), streams(NULL), stream_count(0), window(NULL)
{
    AM_MEDIA_TYPE any = major_only(GUID_NULL), video = major_only(MEDIATYPE_Video), audio = major_only(MEDIATYPE_Audio);
    AM_MEDIA_TYPE stream = major_only(MEDIATYPE_Stream);

    switch (type)
    {
    case GF_SOURCE:
        break;   /* pins follow the file */
    case GF_AVIMUX:
        stream.subtype = MEDIASUBTYPE_Avi;
        AddPin(PINDIR_OUTPUT, L"AVI Out", &stream, 0);
        AddPin(PINDIR_INPUT, L"Input 01", &any, 0);
        break;
    case GF_FILEWRITER:
        AddPin(PINDIR_INPUT, L"in", &stream, 0);   /* a byte stream, whatever its format */
        break;
    case GF_VIDEO_RENDERER:
        AddPin(PINDIR_INPUT, L"Input", &video, 0);
        window = VideoWindow::Create();
        break;
    case GF_AUDIO_RENDERER:
        AddPin(PINDIR_INPUT, L"Audio Input pin (rendered)", &audio, 0);
        break;
    case GF_TEE:
        AddPin(PINDIR_INPUT, L"Input", &video, 0);
        AddPin(PINDIR_OUTPUT, L"Capture", &video, 0);
        AddPin(PINDIR_OUTPUT, L"Preview", &video, 1);
        pins[1].SetCategory(PIN_CATEGORY_CAPTURE);
        pins[2].SetCategory(PIN_CATEGORY_PREVIEW);
        break;
    }
    memset(&file_type, 0, sizeof(file_type));
    PlatformObjectCreated();
}

GraphFilter::~GraphFilter()
{
    for (int i = 0; i < pin_count; i++) pins[i].Teardown();
    delete window;
    HeapFree(GetProcessHeap(), 0, dos_path);
    HeapFree(GetProcessHeap(), 0, unix_path);
    FreeMediaType(&file_type);
    delete[] streams;
    PlatformObjectDestroyed();
}

void GraphFilter::AddPin(PIN_DIRECTION dir, const WCHAR *name, const AM_MEDIA_TYPE *t, int index)
{
    if (pin_count >= GF_MAX_PINS) return;
    pins[pin_count++].Init(this, dir, name, t, index);
}

HRESULT GraphFilter::Create(GraphFilterType type, GraphFilter **out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) GraphFilter(type, NULL);
    if (!*out) return E_OUTOFMEMORY;
    if (type == GF_VIDEO_RENDERER && !(*out)->window)
    {
        (*out)->Release();
        *out = NULL;
        return E_FAIL;
    }
    return S_OK;
}

static char *unix_name_of(const WCHAR *dos)
{
    return wine_get_unix_file_name(dos);
}

static WCHAR *copy_string(const WCHAR *s)
{
    WCHAR *c = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, (lstrlenW(s) + 1) * sizeof(WCHAR));
    if (c) lstrcpyW(c, s);
    return c;
}

HRESULT GraphFilter::CreateSource(const WCHAR *path, GraphFilter **out)
{
    GraphFilter *f;
    HRESULT hr;

    if (!out) return E_POINTER;
    *out = NULL;
    if (!path) return E_POINTER;
    if (!(f = new (std::nothrow) GraphFilter(GF_SOURCE, NULL))) return E_OUTOFMEMORY;
    if (FAILED(hr = f->Load(path, NULL)))
    {
        f->Release();
        return hr;
    }
    *out = f;
    return S_OK;
}

/* IFileSourceFilter::Load: the streams of the file become output pins, video first as the file has it */
HRESULT STDMETHODCALLTYPE GraphFilter::Load(LPCOLESTR name, const AM_MEDIA_TYPE *mt)
{
    struct discover_media media;
    int status;

    if (!name) return E_POINTER;
    if (type != GF_SOURCE) return E_UNEXPECTED;
    if (dos_path) return E_UNEXPECTED;   /* once per filter */
    if (!*name) return E_INVALIDARG;
    if (!(dos_path = copy_string(name))) return E_OUTOFMEMORY;
    if (!(unix_path = unix_name_of(name))) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

    memset(&media, 0, sizeof(media));
    status = discover_file(unix_path, DISCOVER_MS, &media);
    switch (status)
    {
    case DISCOVER_OK: break;
    case DISCOVER_NOT_FOUND: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case DISCOVER_NOT_READABLE: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case DISCOVER_NO_MEMORY: return E_OUTOFMEMORY;
    default: return VFW_E_UNSUPPORTED_STREAM;
    }
    if (media.still || !(streams = new (std::nothrow) SourceStream[media.count]))
    {
        discover_media_free(&media);
        return media.still ? VFW_E_UNSUPPORTED_STREAM : E_OUTOFMEMORY;
    }
    int videos = 0, audios = 0;
    for (int i = 0; i < media.count && pin_count < GF_MAX_PINS; i++)
    {
        const struct discover_stream *s = &media.streams[i];
        AM_MEDIA_TYPE t;
        WCHAR pin_name[32];
        VIDEOINFOHEADER vih;
        WAVEFORMATEX wfx;

        memset(&t, 0, sizeof(t));
        streams[i].video = s->kind == DISCOVER_VIDEO;
        streams[i].length = (LONGLONG)(s->length * 10000000.0 + 0.5);
        streams[i].width = s->width;
        streams[i].height = s->height;
        streams[i].fps_num = s->fps_num;
        streams[i].fps_den = s->fps_den;
        if (streams[i].video)
        {
            memset(&vih, 0, sizeof(vih));
            vih.bmiHeader.biSize = sizeof(vih.bmiHeader);
            vih.bmiHeader.biWidth = s->width;
            vih.bmiHeader.biHeight = s->height;
            vih.bmiHeader.biPlanes = 1;
            vih.bmiHeader.biBitCount = 32;
            vih.bmiHeader.biSizeImage = s->width * s->height * 4;
            if (s->fps_num > 0) vih.AvgTimePerFrame = (REFERENCE_TIME)(10000000.0 * s->fps_den / s->fps_num);
            t.majortype = MEDIATYPE_Video;
            t.subtype = MEDIASUBTYPE_RGB32;
            t.bFixedSizeSamples = TRUE;
            t.lSampleSize = vih.bmiHeader.biSizeImage;
            t.formattype = FORMAT_VideoInfo;
            t.cbFormat = sizeof(vih);
            t.pbFormat = (BYTE *)&vih;
            wsprintfW(pin_name, videos ? L"Video %d" : L"Video", videos + 1);
            videos++;
        }
        else
        {
            memset(&wfx, 0, sizeof(wfx));
            wfx.wFormatTag = WAVE_FORMAT_PCM;
            wfx.nChannels = s->channels > 0 ? s->channels : 2;
            wfx.nSamplesPerSec = s->sample_rate > 0 ? s->sample_rate : 44100;
            wfx.wBitsPerSample = 16;
            wfx.nBlockAlign = wfx.nChannels * 2;
            wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
            t.majortype = MEDIATYPE_Audio;
            t.subtype = MEDIASUBTYPE_PCM;
            t.bFixedSizeSamples = TRUE;
            t.lSampleSize = wfx.nBlockAlign;
            t.formattype = FORMAT_WaveFormatEx;
            t.cbFormat = sizeof(wfx);
            t.pbFormat = (BYTE *)&wfx;
            wsprintfW(pin_name, audios ? L"Audio %d" : L"Audio", audios + 1);
            audios++;
        }
        AddPin(PINDIR_OUTPUT, pin_name, &t, i);
        stream_count++;
    }
    discover_media_free(&media);
    return S_OK;
}

LONGLONG GraphFilter::Length() const
{
    LONGLONG length = 0;
    for (int i = 0; i < stream_count; i++)
        if (streams[i].length > length) length = streams[i].length;
    return length;
}

void GraphFilter::PinConnected(GraphPin *pin)
{
    AM_MEDIA_TYPE any = major_only(GUID_NULL);
    WCHAR name[32];
    bool free_input = false;

    if (type != GF_AVIMUX || pin->Direction() != PINDIR_INPUT) return;
    EnterCriticalSection(&cs);
    for (int i = 0; i < pin_count; i++)
        if (pins[i].Direction() == PINDIR_INPUT && &pins[i] != pin && !pins[i].Connected()) free_input = true;
    if (!free_input && pin_count < GF_MAX_PINS)
    {
        wsprintfW(name, L"Input %02d", pin_count);
        AddPin(PINDIR_INPUT, name, &any, pin_count - 1);
        InterlockedIncrement(&pins_version);   /* enumerators out now are out of step */
    }
    LeaveCriticalSection(&cs);
}

HRESULT GraphFilter::NonDelegatingQueryInterface(REFIID riid, void **out)
{
    if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IBaseFilter))
        return Hand(static_cast<IBaseFilter *>(this), out);
    if (type == GF_FILEWRITER && (IsEqualIID(riid, IID_IFileSinkFilter) || IsEqualIID(riid, IID_IFileSinkFilter2)))
        return Hand(static_cast<IFileSinkFilter2 *>(this), out);
    if (type == GF_FILEWRITER && IsEqualIID(riid, IID_IAMFilterMiscFlags))
        return Hand(static_cast<IAMFilterMiscFlags *>(this), out);
    if (type == GF_FILEWRITER && IsEqualIID(riid, IID_IPersistStream))
        return Hand(static_cast<IPersistStream *>(this), out);
    if (type == GF_AVIMUX && IsEqualIID(riid, IID_IConfigAviMux))
        return Hand(static_cast<IConfigAviMux *>(this), out);
    if (type == GF_AVIMUX && IsEqualIID(riid, IID_IConfigInterleaving))
        return Hand(static_cast<IConfigInterleaving *>(this), out);
    if (type == GF_AVIMUX && IsEqualIID(riid, IID_IMediaSeeking))
        return Hand(static_cast<IMediaSeeking *>(this), out);
    if (type == GF_SOURCE && IsEqualIID(riid, IID_IFileSourceFilter))
        return Hand(static_cast<IFileSourceFilter *>(this), out);
    if (IsEqualIID(riid, IID_IGraphFilter))
    {
        *out = this;
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetClassID(CLSID *clsid)
{
    if (!clsid) return E_POINTER;
    switch (type)
    {
    case GF_AVIMUX: *clsid = CLSID_AviDest; break;
    case GF_FILEWRITER: *clsid = CLSID_FileWriter; break;
    case GF_VIDEO_RENDERER: *clsid = CLSID_VideoRenderer; break;
    case GF_AUDIO_RENDERER: *clsid = CLSID_DSoundRender; break;
    case GF_TEE: *clsid = CLSID_SmartTee; break;
    default: *clsid = CLSID_AsyncReader; break;
    }
    return S_OK;
}

void GraphFilter::StateChanged(FILTER_STATE s)
{
    if (window) window->StateChanged(s != State_Stopped);
}

/* IFileSinkFilter2: the name and type are kept as given; the file is made when the graph runs */
HRESULT STDMETHODCALLTYPE GraphFilter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE *mt)
{
    AM_MEDIA_TYPE copy;
    WCHAR *dos;
    char *unix_name;

    if (!name) return E_POINTER;
    if (type != GF_FILEWRITER) return E_UNEXPECTED;
    if (!*name || lstrlenW(name) >= 32768) return E_INVALIDARG;
    if (!Stopped()) return VFW_E_WRONG_STATE;
    memset(&copy, 0, sizeof(copy));
    if (mt && FAILED(CopyMediaType(&copy, mt))) return E_OUTOFMEMORY;
    if (!(unix_name = unix_name_of(name)))
    {
        FreeMediaType(&copy);
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    if (!(dos = copy_string(name)))
    {
        HeapFree(GetProcessHeap(), 0, unix_name);
        FreeMediaType(&copy);
        return E_OUTOFMEMORY;
    }
    EnterCriticalSection(&cs);
    HeapFree(GetProcessHeap(), 0, dos_path);
    HeapFree(GetProcessHeap(), 0, unix_path);
    FreeMediaType(&file_type);
    dos_path = dos;
    unix_path = unix_name;
    file_type = copy;
    dirty = true;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* Before a name is set: S_OK and no name, as the documentation allows. */
HRESULT STDMETHODCALLTYPE GraphFilter::GetCurFile(LPOLESTR *name, AM_MEDIA_TYPE *mt)
{
    HRESULT hr = S_OK;
    if (!name) return E_POINTER;
    *name = NULL;
    if (mt) memset(mt, 0, sizeof(*mt));
    EnterCriticalSection(&cs);
    if (dos_path)
    {
        size_t size = (lstrlenW(dos_path) + 1) * sizeof(WCHAR);
        if ((*name = (LPOLESTR)CoTaskMemAlloc(size))) memcpy(*name, dos_path, size);
        else hr = E_OUTOFMEMORY;
        if (mt && type == GF_SOURCE) mt->majortype = MEDIATYPE_Stream;
        if (mt && type == GF_FILEWRITER && SUCCEEDED(hr) && FAILED(hr = CopyMediaType(mt, &file_type)))
        {
            CoTaskMemFree(*name);
            *name = NULL;
        }
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::SetMode(DWORD flags)
{
    if (flags & ~AM_FILE_OVERWRITE) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    mode = flags;
    dirty = true;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetMode(DWORD *flags)
{
    if (!flags) return E_POINTER;
    EnterCriticalSection(&cs);
    *flags = mode;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* IAMFilterMiscFlags: the File Writer ends its stream in the graph, as a renderer does */
ULONG STDMETHODCALLTYPE GraphFilter::GetMiscFlags()
{
    return type == GF_FILEWRITER ? AM_FILTER_MISC_FLAGS_IS_RENDERER : 0;
}

/* ---- IPersistStream (File Writer): mode, name length in characters, name ---- */

HRESULT STDMETHODCALLTYPE GraphFilter::IsDirty()
{
    EnterCriticalSection(&cs);
    bool d = dirty;
    LeaveCriticalSection(&cs);
    return d ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GraphFilter::Load(IStream *stream)
{
    DWORD header[2];
    WCHAR *name;
    ULONG got;
    HRESULT hr;

    if (!stream) return E_POINTER;
    if (FAILED(hr = stream->Read(header, sizeof(header), &got))) return hr;
    if (got != sizeof(header) || (header[0] & ~AM_FILE_OVERWRITE) || header[1] > 32767) return E_FAIL;
    if (!(name = (WCHAR *)HeapAlloc(GetProcessHeap(), 0, (header[1] + 1) * sizeof(WCHAR)))) return E_OUTOFMEMORY;
    hr = stream->Read(name, header[1] * sizeof(WCHAR), &got);
    name[header[1]] = 0;
    if (SUCCEEDED(hr) && got != header[1] * sizeof(WCHAR)) hr = E_FAIL;
    if (SUCCEEDED(hr) && header[1]) hr = SetFileName(name, NULL);
    if (SUCCEEDED(hr)) hr = SetMode(header[0]);
    HeapFree(GetProcessHeap(), 0, name);
    if (SUCCEEDED(hr))
    {
        EnterCriticalSection(&cs);
        dirty = false;
        LeaveCriticalSection(&cs);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::Save(IStream *stream, BOOL clear_dirty)
{
    DWORD header[2];
    HRESULT hr;

    if (!stream) return E_POINTER;
    EnterCriticalSection(&cs);
    header[0] = mode;
    header[1] = dos_path ? lstrlenW(dos_path) : 0;
    hr = stream->Write(header, sizeof(header), NULL);
    if (SUCCEEDED(hr) && header[1]) hr = stream->Write(dos_path, header[1] * sizeof(WCHAR), NULL);
    if (SUCCEEDED(hr) && clear_dirty) dirty = false;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetSizeMax(ULARGE_INTEGER *size)
{
    if (!size) return E_POINTER;
    EnterCriticalSection(&cs);
    size->QuadPart = 2 * sizeof(DWORD) + (dos_path ? lstrlenW(dos_path) * sizeof(WCHAR) : 0);
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* ---- Class table creators ---- */

static HRESULT create_typed(GraphFilterType type, IUnknown *outer, REFIID riid, void **out)
{
    GraphFilter *f;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(f = new (std::nothrow) GraphFilter(type, outer))) return E_OUTOFMEMORY;
    return f->HandOut(riid, out);
}

HRESULT CreateFileWriter(IUnknown *outer, REFIID riid, void **out) { return create_typed(GF_FILEWRITER, outer, riid, out); }
HRESULT CreateAviMux(IUnknown *outer, REFIID riid, void **out) { return create_typed(GF_AVIMUX, outer, riid, out); }
