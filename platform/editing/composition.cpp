// Compositions, and the order of layers that groups and compositions share: tracks and compositions by
// priority (IAMTimelineComp), each of which knows its own priority (IAMTimelineVirtualTrack).
#include "editing/nodes.h"

#include <new>

namespace editing {

namespace {

void count_type(TimelineNode *node, TIMELINE_MAJOR_TYPE t, LONG *value, LONG *with_comps)
{
    for (auto *list : {&node->children, &node->transitions, &node->effects})
        for (TimelineNode *n : *list)
        {
            if (n->type == t) { (*value)++; (*with_comps)++; }
            else if (n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE) && t == TIMELINE_MAJOR_TYPE_TRACK) (*with_comps)++;
            count_type(n, t, value, with_comps);
        }
}

}  // namespace

/* ---- IAMTimelineComp ---- */

HRESULT STDMETHODCALLTYPE Layers::VTrackInsBefore(IAMTimelineObj *obj, LONG priority)
{
    TimelineNode *node = node_from(obj);
    if (!obj) return E_POINTER;
    if (!node || !(node->Is(TIMELINE_MAJOR_TYPE_TRACK) || node->Is(TIMELINE_MAJOR_TYPE_COMPOSITE)))
        return E_NOINTERFACE;
    NodeList &children = comp->children;
    if (node->parent || priority < -1 || priority > (LONG)children.size()) return E_INVALIDARG;
    // a composition cannot hold itself, nor one that holds this one
    for (TimelineNode *p = comp; p; p = p->parent)
        if (p == node) return E_INVALIDARG;
    size_t at = priority < 0 ? children.size() : (size_t)priority;
    try { children.insert(children.begin() + at, node); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    node->AddRef();
    node->parent = comp;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Layers::VTrackSwapPriorities(LONG a, LONG b)
{
    return TimelineNode::Swap(comp->children, a, b);
}

HRESULT STDMETHODCALLTYPE Layers::VTrackGetCount(LONG *count)
{
    return TimelineNode::CountOf(comp->children, count);
}

HRESULT STDMETHODCALLTYPE Layers::GetVTrack(IAMTimelineObj **out, LONG which)
{
    return TimelineNode::NodeAt(comp->children, which, out);
}

HRESULT STDMETHODCALLTYPE Layers::GetCountOfType(LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE t)
{
    if (!value || !with_comps) return E_POINTER;
    *value = *with_comps = 0;
    count_type(comp, t, value, with_comps);
    return S_OK;
}

// Depth first, what a layer holds before the layer, this composition last; tracks only when asked for.
static void layers_in_depth(TimelineNode *comp, bool tracks, NodeList *order)
{
    for (TimelineNode *n : comp->children)
    {
        if (n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE)) layers_in_depth(n, tracks, order);
        else if (n->Is(TIMELINE_MAJOR_TYPE_TRACK) && tracks) order->push_back(n);
    }
    order->push_back(comp);
}

HRESULT STDMETHODCALLTYPE Layers::GetRecursiveLayerOfType(IAMTimelineObj **out, LONG which, TIMELINE_MAJOR_TYPE t)
{
    if (!out) return E_POINTER;
    *out = NULL;
    NodeList order;
    try { layers_in_depth(comp, t == TIMELINE_MAJOR_TYPE_TRACK, &order); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    return TimelineNode::NodeAt(order, which, out);
}

// Not supported, as documented: GetRecursiveLayerOfType answers the question.
HRESULT STDMETHODCALLTYPE Layers::GetRecursiveLayerOfTypeI(IAMTimelineObj **out, LONG *which, TIMELINE_MAJOR_TYPE t)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Layers::GetNextVTrack(IAMTimelineObj *track, IAMTimelineObj **next)
{
    return TimelineNode::NextAfter(comp->children, track, next);
}

/* ---- IAMTimelineVirtualTrack ---- */

HRESULT STDMETHODCALLTYPE VirtualTrack::TrackGetPriority(LONG *priority)
{
    if (!priority) return E_POINTER;
    *priority = layer->parent ? layer->IndexIn(layer->parent->children) : -1;
    return S_OK;
}

// Not supported, as documented.
HRESULT STDMETHODCALLTYPE VirtualTrack::SetTrackDirty()
{
    return E_NOTIMPL;
}

/* ---- Compositions ---- */

CompositionNode::CompositionNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_COMPOSITE, tl, id), Layers(this), Transable(this), Effectable(this),
      VirtualTrack(this)
{
}

void *CompositionNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineComp)) return static_cast<IAMTimelineComp *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineTransable)) return static_cast<IAMTimelineTransable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineEffectable)) return static_cast<IAMTimelineEffectable *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineVirtualTrack)) return static_cast<IAMTimelineVirtualTrack *>(this);
    return NULL;
}

}  // namespace editing
