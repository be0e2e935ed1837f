// Sources: a stretch of a media file placed on a track, with the effects it holds (holders.cpp).
#include "editing/nodes.h"

namespace editing {

SourceNode::SourceNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_SOURCE, tl, id), Effectable(this), media_start(0), media_stop(0),
      media_length(0), media_name(NULL), stream_number(0), source_fps(0.0), stretch_mode(RESIZEF_STRETCH)
{
}

SourceNode::~SourceNode()
{
    SysFreeString(media_name);
}

void *SourceNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineSrc)) return static_cast<IAMTimelineSrc *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineEffectable)) return static_cast<IAMTimelineEffectable *>(this);
    return NULL;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (!s || !e) return E_POINTER;
    *s = media_start;
    *e = media_stop;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetMediaTimes2(REFTIME *s, REFTIME *e)
{
    if (!s || !e) return E_POINTER;
    *s = to_seconds(media_start);
    *e = to_seconds(media_stop);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::ModifyStopTime(REFERENCE_TIME e)
{
    if (e < start) return E_INVALIDARG;
    stop = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::ModifyStopTime2(REFTIME e)
{
    return ModifyStopTime(to_units(e));
}

HRESULT STDMETHODCALLTYPE SourceNode::FixMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (s) *s = RoundToFrame(*s);
    if (e) *e = RoundToFrame(*e);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::FixMediaTimes2(REFTIME *s, REFTIME *e)
{
    REFERENCE_TIME a = s ? to_units(*s) : 0, b = e ? to_units(*e) : 0;
    HRESULT hr = FixMediaTimes(s ? &a : NULL, e ? &b : NULL);
    if (s) *s = to_seconds(a);
    if (e) *e = to_seconds(b);
    return hr;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaTimes(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (s < 0 || e < s) return E_INVALIDARG;
    media_start = s;
    media_stop = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaTimes2(REFTIME s, REFTIME e)
{
    return SetMediaTimes(to_units(s), to_units(e));
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaLength(REFERENCE_TIME length)
{
    if (length < 0) return E_INVALIDARG;
    media_length = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaLength2(REFTIME length)
{
    return SetMediaLength(to_units(length));
}

HRESULT STDMETHODCALLTYPE SourceNode::GetMediaLength(REFERENCE_TIME *length)
{
    if (!length) return E_POINTER;
    *length = media_length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetMediaLength2(REFTIME *length)
{
    if (!length) return E_POINTER;
    *length = to_seconds(media_length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetMediaName(BSTR *name)
{
    if (!name) return E_POINTER;
    *name = SysAllocString(media_name ? media_name : L"");
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaName(BSTR name)
{
    BSTR copy = name ? SysAllocString(name) : NULL;
    if (name && !copy) return E_OUTOFMEMORY;
    SysFreeString(media_name);
    media_name = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SpliceWithNext(IAMTimelineObj *next)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetStreamNumber(LONG *n)
{
    if (!n) return E_POINTER;
    *n = stream_number;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetStreamNumber(LONG n)
{
    if (n < 0) return E_INVALIDARG;
    stream_number = n;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::IsNormalRate(BOOL *normal)
{
    if (!normal) return E_POINTER;
    *normal = media_stop - media_start == stop - start;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetDefaultFPS(double *fps)
{
    if (!fps) return E_POINTER;
    *fps = source_fps;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetDefaultFPS(double fps)
{
    if (fps < 0.0) return E_INVALIDARG;
    source_fps = fps;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::GetStretchMode(int *mode)
{
    if (!mode) return E_POINTER;
    *mode = stretch_mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetStretchMode(int mode)
{
    stretch_mode = mode;
    return S_OK;
}

}  // namespace editing
