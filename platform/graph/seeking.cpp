/* Seeking the graph: media time in 100 ns units. */
#include "graph/filtergraph.h"
#include "glue/pipeline.h"

/* ---- Seeking: media time in 100 ns units ---- */

LONGLONG FilterGraph::Length()
{
    LONGLONG length = 0;
    for (int i = 0; i < filter_count; i++)
    {
        GraphFilter *gf;
        IMediaSeeking *ms;
        LONGLONG d = 0;
        if (SUCCEEDED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf)))
        {
            if (gf->Type() == GF_SOURCE) d = gf->Length();
            gf->Release();
        }
        else if (SUCCEEDED(filters[i]->QueryInterface(IID_IMediaSeeking, (void **)&ms)))
        {
            if (FAILED(ms->GetDuration(&d))) d = 0;
            ms->Release();
        }
        if (d > length) length = d;
    }
    if (!length && pl)
    {
        long long ns = pl_duration(pl);
        if (ns > 0) length = ns / NS_PER_UNIT;
    }
    return length;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetCapabilities(DWORD *caps)
{
    if (!caps) return E_POINTER;
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards
          | AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CheckCapabilities(DWORD *caps)
{
    DWORD have;
    if (!caps) return E_POINTER;
    GetCapabilities(&have);
    if (!*caps) return E_FAIL;
    DWORD asked = *caps;
    *caps &= have;
    return *caps == asked ? S_OK : *caps ? S_FALSE : E_FAIL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::IsFormatSupported(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE FilterGraph::QueryPreferredFormat(GUID *format)
{
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetTimeFormat(GUID *format) { return QueryPreferredFormat(format); }

HRESULT STDMETHODCALLTYPE FilterGraph::IsUsingTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetTimeFormat(const GUID *format)
{
    if (!format) return E_POINTER;
    EnterCriticalSection(&cs);
    bool stopped = state == State_Stopped;
    LeaveCriticalSection(&cs);
    if (!stopped) return VFW_E_WRONG_STATE;
    return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetDuration(LONGLONG *duration)
{
    if (!duration) return E_POINTER;
    EnterCriticalSection(&cs);
    *duration = Length();
    LeaveCriticalSection(&cs);
    /* no filter of the graph knows a length */
    return *duration > 0 ? S_OK : E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetStopPosition(LONGLONG *stop)
{
    if (!stop) return E_POINTER;
    EnterCriticalSection(&cs);
    *stop = stop_at >= 0 ? stop_at : Length();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetCurrentPosition(LONGLONG *pos)
{
    if (!pos) return E_POINTER;
    EnterCriticalSection(&cs);
    *pos = current;
    if (pl && !seek_pending)
    {
        long long ns = pl_position(pl);
        if (ns >= 0) *pos = ns / NS_PER_UNIT;
    }
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ConvertTimeFormat(LONGLONG *target, const GUID *target_format,
                                                         LONGLONG source, const GUID *source_format)
{
    if (!target) return E_POINTER;
    if ((target_format && !IsEqualGUID(*target_format, TIME_FORMAT_MEDIA_TIME))
            || (source_format && !IsEqualGUID(*source_format, TIME_FORMAT_MEDIA_TIME)))
        return E_INVALIDARG;
    *target = source;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetPositions(LONGLONG *cur, DWORD cur_flags, LONGLONG *stop, DWORD stop_flags)
{
    DWORD cur_how = cur_flags & AM_SEEKING_PositioningBitsMask, stop_how = stop_flags & AM_SEEKING_PositioningBitsMask;
    LONGLONG now;

    if ((cur_how != AM_SEEKING_NoPositioning && !cur) || (stop_how != AM_SEEKING_NoPositioning && !stop))
        return E_POINTER;
    if (cur_how == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    /* no change asked */
    if (cur_how == AM_SEEKING_NoPositioning && stop_how == AM_SEEKING_NoPositioning) return S_FALSE;
    GetCurrentPosition(&now);
    EnterCriticalSection(&cs);
    current = now;
    if (cur_how == AM_SEEKING_AbsolutePositioning) current = *cur;
    else if (cur_how == AM_SEEKING_RelativePositioning) current = now + *cur;
    if (current < 0) current = 0;
    if (stop_how == AM_SEEKING_AbsolutePositioning) stop_at = *stop;
    else if (stop_how == AM_SEEKING_RelativePositioning) stop_at = (stop_at >= 0 ? stop_at : Length()) + *stop;
    if (stop_at < -1) stop_at = 0;
    if (pl && !seek_pending)
        ApplySeek();
    else
        seek_pending = true;
    if ((cur_flags & AM_SEEKING_ReturnTime) && cur) *cur = current;
    if ((stop_flags & AM_SEEKING_ReturnTime) && stop) *stop = stop_at >= 0 ? stop_at : Length();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetPositions(LONGLONG *cur, LONGLONG *stop)
{
    if (cur) GetCurrentPosition(cur);
    if (stop) GetStopPosition(stop);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetAvailable(LONGLONG *earliest, LONGLONG *latest)
{
    if (earliest) *earliest = 0;
    if (latest)
    {
        EnterCriticalSection(&cs);
        *latest = Length();
        LeaveCriticalSection(&cs);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetRate(double r)
{
    if (r <= 0.0 || r != r) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    rate = r;
    /* the new rate takes effect from the position now */
    if (pl && !seek_pending)
    {
        long long ns = pl_position(pl);
        if (ns >= 0) current = ns / NS_PER_UNIT;
        ApplySeek();
    }
    else
        seek_pending = seek_pending || r != 1.0;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetRate(double *r)
{
    if (!r) return E_POINTER;
    EnterCriticalSection(&cs);
    *r = rate;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetPreroll(LONGLONG *p)
{
    if (!p) return E_POINTER;
    EnterCriticalSection(&cs);
    *p = preroll;
    LeaveCriticalSection(&cs);
    return S_OK;
}

/* ---- IMediaPosition: seconds as REFTIME over the same positions ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::get_Duration(REFTIME *length)
{
    LONGLONG d;
    HRESULT hr;
    if (!length) return E_POINTER;
    *length = 0;
    if (FAILED(hr = GetDuration(&d))) return hr;
    *length = d / 1e7;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_CurrentPosition(REFTIME t)
{
    LONGLONG pos = (LONGLONG)(t * 1e7);
    HRESULT hr = SetPositions(&pos, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_CurrentPosition(REFTIME *t)
{
    LONGLONG pos;
    if (!t) return E_POINTER;
    GetCurrentPosition(&pos);
    *t = pos / 1e7;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_StopTime(REFTIME *t)
{
    LONGLONG stop;
    if (!t) return E_POINTER;
    GetStopPosition(&stop);
    *t = stop / 1e7;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_StopTime(REFTIME t)
{
    LONGLONG stop = (LONGLONG)(t * 1e7);
    HRESULT hr = SetPositions(NULL, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_PrerollTime(REFTIME *t)
{
    if (!t) return E_POINTER;
    EnterCriticalSection(&cs);
    *t = preroll / 1e7;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_PrerollTime(REFTIME t)
{
    if (t < 0 || t != t) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    preroll = (LONGLONG)(t * 1e7);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CanSeekForward(LONG *can)
{
    DWORD caps;
    if (!can) return E_POINTER;
    GetCapabilities(&caps);
    *can = caps & AM_SEEKING_CanSeekForwards ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CanSeekBackward(LONG *can)
{
    DWORD caps;
    if (!can) return E_POINTER;
    GetCapabilities(&caps);
    *can = caps & AM_SEEKING_CanSeekBackwards ? OATRUE : OAFALSE;
    return S_OK;
}
