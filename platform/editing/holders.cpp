// What holds transitions (tracks, compositions) and effects (tracks, compositions, sources).
#include "editing/nodes.h"

#include <math.h>
#include <new>

namespace editing {

/* ---- IAMTimelineTransable ---- */

// Transitions of one holder do not overlap each other.
HRESULT STDMETHODCALLTYPE Transable::TransAdd(IAMTimelineObj *obj)
{
    TimelineNode *t = node_from(obj);
    NodeList &transitions = holder->transitions;
    if (!obj) return E_POINTER;
    if (!t || !t->Is(TIMELINE_MAJOR_TYPE_TRANSITION)) return E_NOINTERFACE;
    if (t->parent) return E_INVALIDARG;
    for (TimelineNode *o : transitions)
        if (o->start < t->stop && t->start < o->stop) return E_INVALIDARG;
    size_t at = 0;
    while (at < transitions.size() && transitions[at]->start < t->start) at++;
    try { transitions.insert(transitions.begin() + at, t); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    t->AddRef();
    t->parent = holder;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Transable::TransGetCount(LONG *count)
{
    return TimelineNode::CountOf(holder->transitions, count);
}

HRESULT STDMETHODCALLTYPE Transable::GetNextTrans(IAMTimelineObj **out, REFERENCE_TIME *in_out)
{
    if (!out || !in_out) return E_POINTER;
    *out = NULL;
    for (TimelineNode *t : holder->transitions)
        if (t->start >= *in_out)
        {
            *out = t->Obj();
            t->AddRef();
            *in_out = t->stop;
            return S_OK;
        }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE Transable::GetNextTrans2(IAMTimelineObj **out, REFTIME *in_out)
{
    if (!in_out) return E_POINTER;
    REFERENCE_TIME t = to_units(*in_out);
    HRESULT hr = GetNextTrans(out, &t);
    *in_out = to_seconds(t);
    return hr;
}

HRESULT STDMETHODCALLTYPE Transable::GetTransAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction)
{
    return TimelineNode::ObjectAtTime(holder->transitions, out, time, direction);
}

HRESULT STDMETHODCALLTYPE Transable::GetTransAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction)
{
    if (!out) return E_POINTER;
    if (!isfinite(time) || fabs(time) > 9e11) return E_INVALIDARG;
    return TimelineNode::ObjectAtTime(holder->transitions, out, to_units(time), direction);
}

/* ---- IAMTimelineEffectable ---- */

// E_NOTIMPL for what is not an effect, as documented. An effect on a source keeps within the source's
// length (its times count from the source's start).
HRESULT STDMETHODCALLTYPE Effectable::EffectInsBefore(IAMTimelineObj *obj, LONG priority)
{
    TimelineNode *fx = node_from(obj);
    NodeList &effects = holder->effects;
    if (!obj) return E_POINTER;
    if (!fx || !fx->Is(TIMELINE_MAJOR_TYPE_EFFECT)) return E_NOTIMPL;
    if (fx->parent || priority < -1) return E_INVALIDARG;
    size_t at = priority < 0 || priority > (LONG)effects.size() ? effects.size() : (size_t)priority;
    try { effects.insert(effects.begin() + at, fx); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    fx->AddRef();
    fx->parent = holder;
    if (holder->Is(TIMELINE_MAJOR_TYPE_SOURCE))
    {
        REFERENCE_TIME length = holder->stop > holder->start ? holder->stop - holder->start : 0;
        if (fx->stop > length) fx->stop = length;
        if (fx->start > fx->stop) fx->start = fx->stop;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Effectable::EffectSwapPriorities(LONG a, LONG b)
{
    return TimelineNode::Swap(holder->effects, a, b);
}

HRESULT STDMETHODCALLTYPE Effectable::EffectGetCount(LONG *count)
{
    return TimelineNode::CountOf(holder->effects, count);
}

// S_FALSE when no effect has that priority
HRESULT STDMETHODCALLTYPE Effectable::GetEffect(IAMTimelineObj **out, LONG which)
{
    HRESULT hr = TimelineNode::NodeAt(holder->effects, which, out);
    return hr == E_INVALIDARG ? S_FALSE : hr;
}

/* ---- IAMTimelineSplittable ---- */

HRESULT STDMETHODCALLTYPE Splittable::SplitAt(REFERENCE_TIME time)
{
    if (piece->Is(TIMELINE_MAJOR_TYPE_TRACK)) return static_cast<TrackNode *>(piece)->SplitAll(time);
    TimelineNode *second;
    HRESULT hr = piece->SplitInTwo(time, &second);
    if (SUCCEEDED(hr)) second->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE Splittable::SplitAt2(REFTIME time)
{
    if (!isfinite(time) || fabs(time) > 9e11) return E_INVALIDARG;
    return SplitAt(to_units(time));
}

}  // namespace editing
