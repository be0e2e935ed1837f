// Sources: a stretch of a media file placed on a track, with the effects it holds (holders.cpp).
#include "editing/nodes.h"

#include <math.h>
#include <new>

namespace editing {

SourceNode::SourceNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_SOURCE, tl, id), Effectable(this), Splittable(this), media_start(0), media_stop(0),
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
    if (IsEqualIID(riid, IID_IAMTimelineSplittable)) return static_cast<IAMTimelineSplittable *>(this);
    return NULL;
}

bool SourceNode::CopyKindTo(TimelineNode *other)
{
    SourceNode *s = as_source(other);
    s->media_start = media_start;
    s->media_stop = media_stop;
    s->media_length = media_length;
    s->stream_number = stream_number;
    s->source_fps = source_fps;
    s->stretch_mode = stretch_mode;
    if (media_name && !(s->media_name = SysAllocString(media_name))) return false;
    for (TimelineNode *fx : effects)
    {
        TimelineNode *copy = fx->Duplicate();
        if (!copy) return false;
        try { s->effects.push_back(copy); }
        catch (const std::bad_alloc &) { copy->Release(); return false; }
        copy->parent = s;
    }
    return true;
}

// Media times are cut where the timeline times are, at the clip's rate; media times never set (0..0:
// the file from its start at normal rate) stay so for the first part and follow on for the second.
// Effects hold times from the source's start: the second part keeps what lies after the cut, moved.
void SourceNode::SplitKind(REFERENCE_TIME t, TimelineNode *second)
{
    SourceNode *tail = as_source(second);
    REFERENCE_TIME cut = t - start, length = stop - start;
    REFERENCE_TIME media_cut;
    if (media_stop > media_start)
        media_cut = media_start + (REFERENCE_TIME)((double)cut * (double)(media_stop - media_start) / (double)length + 0.5);
    else
        media_cut = media_start + cut;
    tail->media_start = media_cut;
    tail->media_stop = media_stop > media_start ? media_stop : media_cut + (length - cut);
    if (media_stop > media_start) media_stop = media_cut;

    for (size_t i = 0; i < tail->effects.size();)
    {
        TimelineNode *fx = tail->effects[i];
        if (fx->stop <= cut) { tail->effects.erase(tail->effects.begin() + i); fx->Detach(); fx->Release(); continue; }
        fx->start = fx->start > cut ? fx->start - cut : 0;
        fx->stop -= cut;
        i++;
    }
    for (size_t i = 0; i < effects.size();)
    {
        TimelineNode *fx = effects[i];
        if (fx->start >= cut) { effects.erase(effects.begin() + i); fx->Detach(); fx->Release(); continue; }
        if (fx->stop > cut) fx->stop = cut;
        i++;
    }
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
    if (!isfinite(e) || fabs(e) > 9e11) return E_INVALIDARG;
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

// A media stop past the media length, when one is known, is cut back to it.
HRESULT STDMETHODCALLTYPE SourceNode::SetMediaTimes(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (s < 0 || e < s) return E_INVALIDARG;
    if (media_length > 0 && e > media_length) e = media_length < s ? s : media_length;
    media_start = s;
    media_stop = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaTimes2(REFTIME s, REFTIME e)
{
    if (!isfinite(s) || !isfinite(e) || fabs(s) > 9e11 || fabs(e) > 9e11) return E_INVALIDARG;
    return SetMediaTimes(to_units(s), to_units(e));
}

// Taken as given: the caller knows the file's length (IMediaDet::get_StreamLength).
HRESULT STDMETHODCALLTYPE SourceNode::SetMediaLength(REFERENCE_TIME length)
{
    media_length = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceNode::SetMediaLength2(REFTIME length)
{
    if (!isfinite(length) || fabs(length) > 9e11) return E_INVALIDARG;
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

// The next source must continue this one frame for frame: the same file, its media start at this one's
// media stop, the same rate. It goes, with its effects; this one runs on over its time.
HRESULT STDMETHODCALLTYPE SourceNode::SpliceWithNext(IAMTimelineObj *next)
{
    if (!next) return E_POINTER;
    TimelineNode *node = node_from(next);
    if (!node || !node->Is(TIMELINE_MAJOR_TYPE_SOURCE)) return E_NOINTERFACE;
    SourceNode *n = as_source(node);
    if (n == this || !media_name || !n->media_name || lstrcmpiW(media_name, n->media_name)) return E_INVALIDARG;
    if (n->media_start != media_stop || stop <= start || n->stop <= n->start) return E_INVALIDARG;
    // rates as media length over timeline length, compared without division
    double mine = (double)(media_stop - media_start) * (double)(n->stop - n->start);
    double theirs = (double)(n->media_stop - n->media_start) * (double)(stop - start);
    if (fabs(mine - theirs) > 1e-6 * (fabs(mine) + fabs(theirs)) + 1.0) return E_INVALIDARG;
    stop += n->stop - n->start;
    media_stop = n->media_stop;
    n->RemoveAll();
    return S_OK;
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
    if (!(fps >= 0.0) || fps > 1000.0) return E_INVALIDARG;
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
