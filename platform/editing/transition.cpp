// Transitions and effects: the objects a track, composition or source holds (holders.cpp) to draw one
// layer over the ones below it, or to change one layer.
#include "editing/nodes.h"

namespace editing {

/* ---- Transitions ---- */

TransitionNode::TransitionNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_TRANSITION, tl, id), cut_point(-1), swap_inputs(FALSE), cuts_only(FALSE)
{
}

void *TransitionNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineTrans)) return static_cast<IAMTimelineTrans *>(this);
    return NULL;
}

HRESULT STDMETHODCALLTYPE TransitionNode::GetCutPoint(REFERENCE_TIME *t)
{
    if (!t) return E_POINTER;
    *t = cut_point >= 0 ? cut_point : (stop - start) / 2;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::GetCutPoint2(REFTIME *t)
{
    REFERENCE_TIME u;
    if (!t) return E_POINTER;
    GetCutPoint(&u);
    *t = to_seconds(u);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::SetCutPoint(REFERENCE_TIME t)
{
    if (t < 0) return E_INVALIDARG;
    cut_point = t;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TransitionNode::SetCutPoint2(REFTIME t)
{
    return SetCutPoint(to_units(t));
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

EffectNode::EffectNode(Timeline *tl, LONG id) : TimelineNode(TIMELINE_MAJOR_TYPE_EFFECT, tl, id)
{
}

void *EffectNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineEffect)) return static_cast<IAMTimelineEffect *>(this);
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
