// Tracks: sources in time order, none overlapping another, with the transitions and effects the track
// holds (holders.cpp).
#include "editing/nodes.h"

#include <math.h>
#include <new>

namespace editing {

TrackNode::TrackNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_TRACK, tl, id), Transable(this), Effectable(this), VirtualTrack(this),
      Splittable(this)
{
}

void *TrackNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineTrack)) return static_cast<IAMTimelineTrack *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineTransable)) return static_cast<IAMTimelineTransable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineEffectable)) return static_cast<IAMTimelineEffectable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineVirtualTrack)) return static_cast<IAMTimelineVirtualTrack *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineSplittable)) return static_cast<IAMTimelineSplittable *>(this);
    return NULL;
}

HRESULT TrackNode::SplitAll(REFERENCE_TIME t)
{
    if (t >= ContentEnd()) return S_FALSE;
    for (auto *list : {&children, &transitions, &effects})
        for (size_t i = 0; i < list->size(); i++)
        {
            TimelineNode *n = (*list)[i], *second;
            if (n->start >= t || n->stop <= t) continue;
            HRESULT hr = n->SplitInTwo(t, &second);
            if (FAILED(hr)) return hr;
            second->Release();
            i++;   // the second part sits right after the first
        }
    return S_OK;
}

// A new source covers what it overlaps of the ones there, which are shortened (from the end, or from
// the start with their media start moved along) or taken out.
HRESULT STDMETHODCALLTYPE TrackNode::SrcAdd(IAMTimelineObj *obj)
{
    TimelineNode *src = node_from(obj);
    if (!obj) return E_POINTER;
    if (!src || !src->Is(TIMELINE_MAJOR_TYPE_SOURCE)) return E_NOINTERFACE;
    if (src->parent || src->stop <= src->start) return E_INVALIDARG;
    try
    {
        for (size_t i = 0; i < children.size();)
        {
            TimelineNode *old = children[i];
            if (old->stop <= src->start || old->start >= src->stop) { i++; continue; }
            if (old->start >= src->start && old->stop <= src->stop)
            {
                children.erase(children.begin() + i);
                old->Detach();
                old->Release();
                continue;
            }
            if (old->start < src->start) old->stop = src->start;
            else
            {
                as_source(old)->media_start += src->stop - old->start;
                old->start = src->stop;
            }
            i++;
        }
        size_t at = 0;
        while (at < children.size() && children[at]->start < src->start) at++;
        children.insert(children.begin() + at, src);
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    src->AddRef();
    src->parent = this;
    return S_OK;
}

// The source under the time, or the first one after it.
HRESULT STDMETHODCALLTYPE TrackNode::GetNextSrc(IAMTimelineObj **out, REFERENCE_TIME *in_out)
{
    if (!out || !in_out) return E_POINTER;
    *out = NULL;
    for (TimelineNode *s : children)
        if (s->stop > *in_out)
        {
            *out = s->Obj();
            s->AddRef();
            *in_out = s->stop;
            return S_OK;
        }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE TrackNode::GetNextSrc2(IAMTimelineObj **out, REFTIME *in_out)
{
    if (!out || !in_out) return E_POINTER;
    if (!isfinite(*in_out) || fabs(*in_out) > 9e11) return E_INVALIDARG;
    REFERENCE_TIME t = to_units(*in_out);
    HRESULT hr = GetNextSrc(out, &t);
    *in_out = to_seconds(t);
    return hr;
}

// Not supported, as documented; InsertSpace moves what follows.
HRESULT STDMETHODCALLTYPE TrackNode::MoveEverythingBy(REFERENCE_TIME from, REFERENCE_TIME by)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TrackNode::MoveEverythingBy2(REFTIME from, REFTIME by)
{
    return E_NOTIMPL;
}

HRESULT TrackNode::ShiftFrom(REFERENCE_TIME from, REFERENCE_TIME by)
{
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list)
            if (n->start >= from)
            {
                if (n->start + by < 0) return E_INVALIDARG;
            }
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list)
            if (n->start >= from)
            {
                n->start += by;
                n->stop += by;
            }
    return S_OK;
}


HRESULT STDMETHODCALLTYPE TrackNode::GetSourcesCount(LONG *count)
{
    return CountOf(children, count);
}

HRESULT STDMETHODCALLTYPE TrackNode::AreYouBlank(LONG *blank)
{
    if (!blank) return E_POINTER;
    *blank = children.empty() && transitions.empty() && effects.empty();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TrackNode::GetSrcAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction)
{
    return ObjectAtTime(children, out, time, direction);
}

HRESULT STDMETHODCALLTYPE TrackNode::GetSrcAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction)
{
    if (!out) return E_POINTER;
    if (!isfinite(time) || fabs(time) > 9e11) return E_INVALIDARG;
    return ObjectAtTime(children, out, to_units(time), direction);
}

// Whatever spans the start is cut there; what lies from the start on moves past the end of the space.
HRESULT STDMETHODCALLTYPE TrackNode::InsertSpace(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (s < 0 || e <= s) return E_INVALIDARG;
    if (s >= ContentEnd()) return S_FALSE;
    HRESULT hr = SplitAll(s);
    if (FAILED(hr)) return hr;
    return ShiftFrom(s, e - s);
}

HRESULT STDMETHODCALLTYPE TrackNode::InsertSpace2(REFTIME s, REFTIME e)
{
    if (!isfinite(s) || !isfinite(e) || fabs(s) > 9e11 || fabs(e) > 9e11) return E_INVALIDARG;
    return InsertSpace(to_units(s), to_units(e));
}

// Everything between the times goes; what spans an end is cut there first. Nothing moves.
HRESULT STDMETHODCALLTYPE TrackNode::ZeroBetween(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (s < 0 || e <= s) return E_INVALIDARG;
    if (s >= ContentEnd()) return S_FALSE;
    HRESULT hr = SplitAll(s);
    if (SUCCEEDED(hr)) hr = SplitAll(e);
    if (FAILED(hr)) return hr;
    for (auto *list : {&children, &transitions, &effects})
        for (size_t i = 0; i < list->size();)
        {
            TimelineNode *n = (*list)[i];
            if (n->start >= s && n->stop <= e && n->stop > n->start)
            {
                list->erase(list->begin() + i);
                n->Detach();
                n->Release();
                continue;
            }
            i++;
        }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TrackNode::ZeroBetween2(REFTIME s, REFTIME e)
{
    if (!isfinite(s) || !isfinite(e) || fabs(s) > 9e11 || fabs(e) > 9e11) return E_INVALIDARG;
    return ZeroBetween(to_units(s), to_units(e));
}

HRESULT STDMETHODCALLTYPE TrackNode::GetNextSrcEx(IAMTimelineObj *last, IAMTimelineObj **next)
{
    return NextAfter(children, last, next);
}

}  // namespace editing
