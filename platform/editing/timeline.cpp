// Timeline (CLSID_AMTimeline): the groups of an edit, the defaults its nodes fall back on, and the nodes
// it makes (CreateEmptyNode). The nodes are in nodes.h; the copy the render engine takes is
// timelinecopy.cpp.
#include "server/lifetime.h"
#include "editing/nodes.h"

#include <new>
#include <algorithm>

namespace editing {

namespace {

HRESULT guid_text(const GUID &guid, BSTR *text)
{
    WCHAR buffer[40];
    if (!text) return E_POINTER;
    StringFromGUID2(guid, buffer, ARRAYSIZE(buffer));
    return (*text = SysAllocString(buffer)) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

Timeline::Timeline()
    : default_fps(DEFAULT_FPS), ref(1), next_id(0), insert_mode(TIMELINE_INSERT_MODE_OVERLAY), transitions_on(TRUE),
      effects_on(TRUE), default_transition(GUID_NULL), default_effect(GUID_NULL)
{
    PlatformObjectCreated();
}

Timeline::~Timeline()
{
    for (TimelineNode *g : groups)
    {
        g->ForgetTimeline();
        g->Release();
    }
    PlatformObjectDestroyed();
}

HRESULT STDMETHODCALLTYPE Timeline::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMTimeline))
        *out = static_cast<IAMTimeline *>(this);
    else if (IsEqualIID(riid, IID_IPlatformTimeline))
        *out = static_cast<IPlatformTimeline *>(this);
    else
    {
        *out = NULL;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

REFERENCE_TIME Timeline::Duration()
{
    REFERENCE_TIME end = 0;
    NodeList work(groups.begin(), groups.end());
    while (!work.empty())
    {
        TimelineNode *n = work.back();
        work.pop_back();
        if (!n->Is(TIMELINE_MAJOR_TYPE_GROUP) && !n->Is(TIMELINE_MAJOR_TYPE_TRACK)
                && !n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE) && n->stop > end)
            end = n->stop;
        for (auto *list : {&n->children, &n->transitions, &n->effects})
            work.insert(work.end(), list->begin(), list->end());
    }
    return end;
}

HRESULT STDMETHODCALLTYPE Timeline::CreateEmptyNode(IAMTimelineObj **obj, TIMELINE_MAJOR_TYPE type)
{
    if (!obj) return E_POINTER;
    *obj = NULL;
    switch (type)
    {
    case TIMELINE_MAJOR_TYPE_COMPOSITE: case TIMELINE_MAJOR_TYPE_TRACK: case TIMELINE_MAJOR_TYPE_SOURCE:
    case TIMELINE_MAJOR_TYPE_TRANSITION: case TIMELINE_MAJOR_TYPE_EFFECT: case TIMELINE_MAJOR_TYPE_GROUP:
        break;
    default:
        return E_INVALIDARG;
    }
    TimelineNode *node = NewNode(type, this, InterlockedIncrement(&next_id));
    if (!node) return E_OUTOFMEMORY;
    *obj = node->Obj();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::AddGroup(IAMTimelineObj *group)
{
    TimelineNode *node = node_from(group);
    if (!group) return E_POINTER;
    if (!node || !node->Is(TIMELINE_MAJOR_TYPE_GROUP)) return E_INVALIDARG;
    if (std::find(groups.begin(), groups.end(), node) != groups.end()) return E_INVALIDARG;
    try { groups.push_back(node); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    node->AddRef();
    node->timeline = this;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::RemGroupFromList(IAMTimelineObj *group)
{
    TimelineNode *node = node_from(group);
    auto it = std::find(groups.begin(), groups.end(), node);
    if (!group) return E_POINTER;
    if (!node || it == groups.end()) return E_INVALIDARG;
    groups.erase(it);
    node->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetGroup(IAMTimelineObj **group, LONG index)
{
    return TimelineNode::NodeAt(groups, index, group);
}

HRESULT STDMETHODCALLTYPE Timeline::GetGroupCount(LONG *count)
{
    return TimelineNode::CountOf(groups, count);
}

HRESULT STDMETHODCALLTYPE Timeline::ClearAllGroups()
{
    for (TimelineNode *g : groups) g->Release();
    groups.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetInsertMode(LONG *mode)
{
    if (!mode) return E_POINTER;
    *mode = insert_mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::SetInsertMode(LONG mode)
{
    if (mode != TIMELINE_INSERT_MODE_INSERT && mode != TIMELINE_INSERT_MODE_OVERLAY) return E_INVALIDARG;
    insert_mode = mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::EnableTransitions(BOOL enabled)
{
    transitions_on = enabled;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::TransitionsEnabled(BOOL *enabled)
{
    if (!enabled) return E_POINTER;
    *enabled = transitions_on;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::EnableEffects(BOOL enabled)
{
    effects_on = enabled;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::EffectsEnabled(BOOL *enabled)
{
    if (!enabled) return E_POINTER;
    *enabled = effects_on;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::SetInterestRange(REFERENCE_TIME start, REFERENCE_TIME stop)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDuration(REFERENCE_TIME *duration)
{
    if (!duration) return E_POINTER;
    *duration = Duration();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDuration2(double *duration)
{
    if (!duration) return E_POINTER;
    *duration = to_seconds(Duration());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::SetDefaultFPS(double fps)
{
    if (!(fps > 0.0) || fps > 1000.0) return E_INVALIDARG;
    default_fps = fps;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDefaultFPS(double *fps)
{
    if (!fps) return E_POINTER;
    *fps = default_fps;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::IsDirty(BOOL *dirty)
{
    if (!dirty) return E_POINTER;
    *dirty = FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDirtyRange(REFERENCE_TIME *start, REFERENCE_TIME *stop)
{
    if (!start || !stop) return E_POINTER;
    *start = *stop = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetCountOfType(LONG group, LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE type)
{
    if (!value || !with_comps) return E_POINTER;
    if (group < 0 || group >= (LONG)groups.size()) return E_INVALIDARG;
    return as_group(groups[group])->GetCountOfType(value, with_comps, type);
}

HRESULT STDMETHODCALLTYPE Timeline::ValidateSourceNames(LONG flags, IMediaLocator *override, LONG_PTR notify)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Timeline::SetDefaultTransition(GUID *guid)
{
    if (!guid) return E_POINTER;
    default_transition = *guid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDefaultTransition(GUID *guid)
{
    if (!guid) return E_POINTER;
    *guid = default_transition;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::SetDefaultEffect(GUID *guid)
{
    if (!guid) return E_POINTER;
    default_effect = *guid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDefaultEffect(GUID *guid)
{
    if (!guid) return E_POINTER;
    *guid = default_effect;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::SetDefaultTransitionB(BSTR text)
{
    if (!text) return E_POINTER;
    return FAILED(CLSIDFromString(text, &default_transition)) ? E_INVALIDARG : S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDefaultTransitionB(BSTR *text)
{
    return guid_text(default_transition, text);
}

HRESULT STDMETHODCALLTYPE Timeline::SetDefaultEffectB(BSTR text)
{
    if (!text) return E_POINTER;
    return FAILED(CLSIDFromString(text, &default_effect)) ? E_INVALIDARG : S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDefaultEffectB(BSTR *text)
{
    return guid_text(default_effect, text);
}

}  // namespace editing

HRESULT CreateTimeline(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    editing::Timeline *tl = new (std::nothrow) editing::Timeline();
    if (!tl) return E_OUTOFMEMORY;
    HRESULT hr = tl->QueryInterface(riid, out);
    tl->Release();
    return hr;
}
