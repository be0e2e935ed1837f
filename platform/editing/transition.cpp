// Transitions and effects: the objects a track, composition or source holds (holders.cpp) to draw one
// layer over the ones below it, or to change one layer.
#include "editing/nodes.h"

#include <math.h>

namespace editing {

/* ---- Transitions ---- */

TransitionNode::TransitionNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_TRANSITION, tl, id), Splittable(this), cut_point(-1), swap_inputs(FALSE),
      cuts_only(FALSE)
{
}

void *TransitionNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineTrans)) return static_cast<IAMTimelineTrans *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineSplittable)) return static_cast<IAMTimelineSplittable *>(this);
    return NULL;
}

bool TransitionNode::CopyKindTo(TimelineNode *other)
{
    TransitionNode *t = as_transition(other);
    t->cut_point = cut_point;
    t->swap_inputs = swap_inputs;
    t->cuts_only = cuts_only;
    return true;
}

// The cut point is kept as set and read inside the transition's bounds, which may change after it.
REFERENCE_TIME TransitionNode::CutPoint() const
{
    REFERENCE_TIME length = stop > start ? stop - start : 0;
    if (cut_point < 0) return length / 2;
    return cut_point > length ? length : cut_point;
}

// S_FALSE: not set, the middle of the transition is the cut point
HRESULT STDMETHODCALLTYPE TransitionNode::GetCutPoint(REFERENCE_TIME *t)
{
    if (!t) return E_POINTER;
    *t = CutPoint();
    return cut_point >= 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TransitionNode::GetCutPoint2(REFTIME *t)
{
    REFERENCE_TIME u;
    if (!t) return E_POINTER;
    HRESULT hr = GetCutPoint(&u);
    *t = to_seconds(u);
    return hr;
}

// A time outside the transition is taken as the nearest one inside it.
HRESULT STDMETHODCALLTYPE TransitionNode::SetCutPoint(REFERENCE_TIME t)
{
    cut_point = t < 0 ? 0 : t;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::SetCutPoint2(REFTIME t)
{
    if (isnan(t)) return E_INVALIDARG;
    return SetCutPoint(t < -9e11 ? 0 : t > 9e11 ? (REFERENCE_TIME)9e18 : to_units(t));
}

HRESULT STDMETHODCALLTYPE TransitionNode::GetSwapInputs(BOOL *v)
{
    if (!v) return E_POINTER;
    *v = swap_inputs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::SetSwapInputs(BOOL v)
{
    swap_inputs = v ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::GetCutsOnly(BOOL *v)
{
    if (!v) return E_POINTER;
    *v = cuts_only;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::SetCutsOnly(BOOL v)
{
    cuts_only = v ? TRUE : FALSE;
    return S_OK;
}

/* ---- Effects ---- */

EffectNode::EffectNode(Timeline *tl, LONG id) : TimelineNode(TIMELINE_MAJOR_TYPE_EFFECT, tl, id), Splittable(this)
{
}

void *EffectNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineEffect)) return static_cast<IAMTimelineEffect *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineSplittable)) return static_cast<IAMTimelineSplittable *>(this);
    return NULL;
}

HRESULT STDMETHODCALLTYPE EffectNode::EffectGetPriority(LONG *priority)
{
    if (!priority) return E_POINTER;
    if (!parent) return E_UNEXPECTED;
    *priority = IndexIn(parent->effects);
    return *priority >= 0 ? S_OK : E_UNEXPECTED;
}

}  // namespace editing
