/*
 * The AVI multiplexer's own interfaces (a GraphFilter of type GF_AVIMUX): the input types it takes, its
 * settings (IConfigAviMux, IConfigInterleaving) and IMediaSeeking, through which a program follows how far
 * the file being written has come. The graph's pipeline writes the file; the position is the graph's, which
 * for a graph that writes files is how far the media going into them has come.
 */
#include "filters/graphfilter.h"

#include <string.h>

/* {xxxxxxxx-0000-0010-8000-00AA00389B71}: a type named by an old-style FOURCC */
static bool fourcc_guid(REFGUID g)
{
    static const BYTE tail[8] = {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};
    return g.Data2 == 0x0000 && g.Data3 == 0x0010 && !memcmp(g.Data4, tail, sizeof(tail));
}

/* Any major type of a FOURCC, or line 21 data; audio in a WAVEFORMATEX, video in a VIDEOINFOHEADER or DV
 * format, interleaved DV in a DV format. Parts left GUID_NULL match anything. */
bool GraphFilter::MuxTakes(const AM_MEDIA_TYPE *mt)
{
    const GUID &major = mt->majortype, &format = mt->formattype;

    if (IsEqualGUID(major, GUID_NULL)) return true;
    if (!fourcc_guid(major) && !IsEqualGUID(major, MEDIATYPE_AUXLine21Data)) return false;
    if (IsEqualGUID(format, GUID_NULL)) return true;
    if (IsEqualGUID(major, MEDIATYPE_Audio)) return IsEqualGUID(format, FORMAT_WaveFormatEx);
    if (IsEqualGUID(major, MEDIATYPE_Video))
        return IsEqualGUID(format, FORMAT_VideoInfo) || IsEqualGUID(format, FORMAT_DvInfo);
    if (IsEqualGUID(major, MEDIATYPE_Interleaved)) return IsEqualGUID(format, FORMAT_DvInfo);
    return true;
}

/* ---- IConfigAviMux ---- */

HRESULT STDMETHODCALLTYPE GraphFilter::SetMasterStream(LONG stream)
{
    if (stream < -1) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    master_stream = stream;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetMasterStream(LONG *stream)
{
    if (!stream) return E_POINTER;
    EnterCriticalSection(&cs);
    *stream = master_stream;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* The file always has the AVI 1.0 index over its first RIFF part, whatever is asked. */
HRESULT STDMETHODCALLTYPE GraphFilter::SetOutputCompatibilityIndex(BOOL value)
{
    EnterCriticalSection(&cs);
    old_index = value ? TRUE : FALSE;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetOutputCompatibilityIndex(BOOL *value)
{
    if (!value) return E_POINTER;
    EnterCriticalSection(&cs);
    *value = old_index;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* ---- IConfigInterleaving ---- */

HRESULT STDMETHODCALLTYPE GraphFilter::put_Mode(InterleavingMode value)
{
    if (value < INTERLEAVE_NONE || value > INTERLEAVE_NONE_BUFFERED) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    interleave_mode = value;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::get_Mode(InterleavingMode *value)
{
    if (!value) return E_POINTER;
    EnterCriticalSection(&cs);
    *value = interleave_mode;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::put_Interleaving(const REFERENCE_TIME *new_interleave,
                                                        const REFERENCE_TIME *new_preroll)
{
    if (!new_interleave || !new_preroll) return E_POINTER;
    if (*new_interleave < 0 || *new_preroll < 0) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    interleave = *new_interleave;
    preroll = *new_preroll;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::get_Interleaving(REFERENCE_TIME *out_interleave, REFERENCE_TIME *out_preroll)
{
    if (!out_interleave || !out_preroll) return E_POINTER;
    EnterCriticalSection(&cs);
    *out_interleave = interleave;
    *out_preroll = preroll;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* ---- IMediaSeeking: read only, media time ---- */

#define MUX_CAPS (AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration)

/* A reference to the graph's IMediaSeeking. The graph may ask its filters for their durations: a call that
 * comes back from the graph on the thread that is asking it gets none, instead of going round forever. */
IMediaSeeking *GraphFilter::GraphSeeking()
{
    IMediaSeeking *seeking = NULL;
    IFilterGraph *g;
    LONG me = (LONG)GetCurrentThreadId();

    if (asking_graph == me) return NULL;
    EnterCriticalSection(&cs);
    if ((g = Graph())) g->AddRef();
    LeaveCriticalSection(&cs);
    if (!g) return NULL;
    if (FAILED(g->QueryInterface(IID_IMediaSeeking, (void **)&seeking))) seeking = NULL;
    g->Release();
    return seeking;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetCapabilities(DWORD *caps)
{
    if (!caps) return E_POINTER;
    *caps = MUX_CAPS;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::CheckCapabilities(DWORD *caps)
{
    DWORD asked;
    if (!caps) return E_POINTER;
    asked = *caps;
    *caps &= MUX_CAPS;
    if (!asked || *caps == asked) return S_OK;
    return *caps ? S_FALSE : E_FAIL;
}

HRESULT STDMETHODCALLTYPE GraphFilter::IsFormatSupported(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GraphFilter::QueryPreferredFormat(GUID *format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetTimeFormat(GUID *format)
{
    return QueryPreferredFormat(format);
}

HRESULT STDMETHODCALLTYPE GraphFilter::IsUsingTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE GraphFilter::SetTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    if (!Stopped()) return VFW_E_WRONG_STATE;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) || IsEqualGUID(*format, TIME_FORMAT_NONE)
        ? S_OK : E_INVALIDARG;
}

/* the length of what is being written: 0 outside a graph */
HRESULT STDMETHODCALLTYPE GraphFilter::GetDuration(LONGLONG *duration)
{
    IMediaSeeking *seeking;
    HRESULT hr = S_OK;

    if (!duration) return E_POINTER;
    *duration = 0;
    if ((seeking = GraphSeeking()))
    {
        LONG me = (LONG)GetCurrentThreadId();
        InterlockedExchange(&asking_graph, me);
        hr = seeking->GetDuration(duration);
        InterlockedCompareExchange(&asking_graph, 0, me);
        seeking->Release();
        if (FAILED(hr)) *duration = 0;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetStopPosition(LONGLONG *stop)
{
    return GetDuration(stop);
}

/* how far the media going into the file has come: 0 outside a graph */
HRESULT STDMETHODCALLTYPE GraphFilter::GetCurrentPosition(LONGLONG *current)
{
    IMediaSeeking *seeking;
    HRESULT hr = S_OK;

    if (!current) return E_POINTER;
    *current = 0;
    if ((seeking = GraphSeeking()))
    {
        LONG me = (LONG)GetCurrentThreadId();
        InterlockedExchange(&asking_graph, me);
        hr = seeking->GetCurrentPosition(current);
        InterlockedCompareExchange(&asking_graph, 0, me);
        seeking->Release();
        if (FAILED(hr)) *current = 0;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::ConvertTimeFormat(LONGLONG *target, const GUID *target_format, LONGLONG source,
                                                         const GUID *source_format)
{
    if (!target) return E_POINTER;
    if (target_format && !IsEqualGUID(*target_format, TIME_FORMAT_MEDIA_TIME)) return E_INVALIDARG;
    if (source_format && !IsEqualGUID(*source_format, TIME_FORMAT_MEDIA_TIME)) return E_INVALIDARG;
    *target = source;
    return S_OK;
}

/* a multiplexer writes what reaches it: it cannot seek */
HRESULT STDMETHODCALLTYPE GraphFilter::SetPositions(LONGLONG *current, DWORD current_flags, LONGLONG *stop,
                                                    DWORD stop_flags)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetPositions(LONGLONG *current, LONGLONG *stop)
{
    HRESULT hr = S_OK;
    if (!current && !stop) return E_POINTER;
    if (current) hr = GetCurrentPosition(current);
    if (stop && SUCCEEDED(hr)) hr = GetStopPosition(stop);
    return hr;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetAvailable(LONGLONG *earliest, LONGLONG *latest)
{
    if (!earliest && !latest) return E_POINTER;
    if (earliest) *earliest = 0;
    return latest ? GetCurrentPosition(latest) : S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::SetRate(double rate)
{
    if (rate == 1.0) return S_OK;
    return rate > 0.0 ? E_NOTIMPL : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetRate(double *rate)
{
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GraphFilter::GetPreroll(LONGLONG *value)
{
    if (!value) return E_POINTER;
    *value = 0;
    return S_OK;
}
