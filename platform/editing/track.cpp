// Tracks: sources in time order, none overlapping another, with the transitions and effects the track
// holds (holders.cpp).
#include "editing/nodes.h"

#include <new>

namespace editing {

TrackNode::TrackNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_TRACK, tl, id), Transable(this), Effectable(this), VirtualTrack(this)
{
}

void *TrackNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineTrack)) return static_cast<IAMTimelineTrack *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineTransable)) return static_cast<IAMTimelineTransable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineEffectable)) return static_cast<IAMTimelineEffectable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineVirtualTrack)) return static_cast<IAMTimelineVirtualTrack *>(this);
    return NULL;
}

// A new source covers what it overlaps of the ones there, which are shortened (from the end, or from
// the start with their media start moved along) or taken out.
HRESULT STDMETHODCALLTYPE TrackNode::SrcAdd(IAMTimelineObj *obj)
{
    TimelineNode *src = node_from(obj);
    if (!obj) return E_POINTER;
    if (!src || !src->Is(TIMELINE_MAJOR_TYPE_SOURCE) || src->parent) return E_INVALIDARG;
    if (src->stop <= src->start) return E_INVALIDARG;
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

HRESULT STDMETHODCALLTYPE TrackNode::GetNextSrc(IAMTimelineObj **out, REFERENCE_TIME *in_out)
{
    if (!out || !in_out) return E_POINTER;
    *out = NULL;
    for (TimelineNode *s : children)
        if (s->start >= *in_out)
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
    if (!in_out) return E_POINTER;
    REFERENCE_TIME t = to_units(*in_out);
    HRESULT hr = GetNextSrc(out, &t);
    *in_out = to_seconds(t);
    return hr;
}

HRESULT STDMETHODCALLTYPE TrackNode::MoveEverythingBy(REFERENCE_TIME from, REFERENCE_TIME by)
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

HRESULT STDMETHODCALLTYPE TrackNode::MoveEverythingBy2(REFTIME from, REFTIME by)
{
    return MoveEverythingBy(to_units(from), to_units(by));
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
    return ObjectAtTime(children, out, to_units(time), direction);
}

HRESULT STDMETHODCALLTYPE TrackNode::InsertSpace(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (e < s) return E_INVALIDARG;
    return MoveEverythingBy(s, e - s);
}

HRESULT STDMETHODCALLTYPE TrackNode::InsertSpace2(REFTIME s, REFTIME e)
{
    return InsertSpace(to_units(s), to_units(e));
}

HRESULT STDMETHODCALLTYPE TrackNode::ZeroBetween(REFERENCE_TIME s, REFERENCE_TIME e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TrackNode::ZeroBetween2(REFTIME s, REFTIME e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TrackNode::GetNextSrcEx(IAMTimelineObj *last, IAMTimelineObj **next)
{
    return NextAfter(children, last, next);
}

}  // namespace editing
