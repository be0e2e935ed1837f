// The core every timeline node shares: its place in the tree, its times, its sub-object and user data,
// IUnknown over the interfaces of its kind, and IAMTimelineObj.
#include "server/lifetime.h"
#include "editing/nodes.h"

#include <new>
#include <string.h>
#include <algorithm>
#include <math.h>

namespace editing {

TimelineNode::TimelineNode(TIMELINE_MAJOR_TYPE t, Timeline *tl, LONG id)
    : type(t), timeline(tl), parent(NULL), start(0), stop(0), setter(NULL), sub_guid(GUID_NULL),
      sub_object(NULL), user_id(0), gen_id(id), user_name(NULL), muted(FALSE), locked(FALSE), ref(1)
{
    if (timeline) timeline->Register(this);
    PlatformObjectCreated();
}

TimelineNode::~TimelineNode()
{
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list)
        {
            n->Detach();
            n->Release();
        }
    if (setter) setter->Release();
    if (sub_object) sub_object->Release();
    SysFreeString(user_name);
    if (timeline) timeline->Unregister(this);
    PlatformObjectDestroyed();
}

TimelineNode *NewNode(TIMELINE_MAJOR_TYPE type, Timeline *tl, LONG id)
{
    switch (type)
    {
    case TIMELINE_MAJOR_TYPE_GROUP: return new (std::nothrow) GroupNode(tl, id);
    case TIMELINE_MAJOR_TYPE_COMPOSITE: return new (std::nothrow) CompositionNode(tl, id);
    case TIMELINE_MAJOR_TYPE_TRACK: return new (std::nothrow) TrackNode(tl, id);
    case TIMELINE_MAJOR_TYPE_SOURCE: return new (std::nothrow) SourceNode(tl, id);
    case TIMELINE_MAJOR_TYPE_TRANSITION: return new (std::nothrow) TransitionNode(tl, id);
    case TIMELINE_MAJOR_TYPE_EFFECT: return new (std::nothrow) EffectNode(tl, id);
    default: return NULL;
    }
}

void TimelineNode::ForgetTimeline()
{
    timeline = NULL;
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list) n->ForgetTimeline();
}

TimelineNode *TimelineNode::Group()
{
    TimelineNode *n = this;
    while (n && !n->Is(TIMELINE_MAJOR_TYPE_GROUP)) n = n->parent;
    return n;
}

double TimelineNode::Fps()
{
    TimelineNode *g = Group();
    if (g && as_group(g)->output_fps > 0.0) return as_group(g)->output_fps;
    return timeline ? timeline->default_fps : DEFAULT_FPS;
}

LONG TimelineNode::IndexIn(const NodeList &list) const
{
    for (size_t i = 0; i < list.size(); i++)
        if (list[i] == this) return (LONG)i;
    return -1;
}

REFERENCE_TIME TimelineNode::ContentEnd() const
{
    REFERENCE_TIME end = 0;
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list)
        {
            REFERENCE_TIME e = n->IsContainer() ? n->ContentEnd() : n->stop;
            if (e > end) end = e;
        }
    return end;
}

TimelineNode *TimelineNode::Duplicate()
{
    TimelineNode *copy = NewNode(type, timeline, timeline ? timeline->NextId() : 0);
    if (!copy) return NULL;
    copy->start = start;
    copy->stop = stop;
    copy->sub_guid = sub_guid;
    if ((copy->sub_object = sub_object)) sub_object->AddRef();
    copy->user_id = user_id;
    copy->muted = muted;
    copy->locked = locked;
    bool ok = CopyKindTo(copy);
    if (ok && user_name && !(copy->user_name = SysAllocString(user_name))) ok = false;
    try { copy->user_data = user_data; }
    catch (const std::bad_alloc &) { ok = false; }
    if (ok && setter)
    {
        // the values over the whole object, times unchanged; the split moves them
        IPropertySetter *clone = NULL;
        if (FAILED(setter->CloneProps(&clone, 0, stop > start ? stop - start : 0)) || !clone) ok = false;
        copy->setter = clone;
    }
    if (!ok)
    {
        copy->Release();
        return NULL;
    }
    return copy;
}

HRESULT TimelineNode::SplitInTwo(REFERENCE_TIME t, TimelineNode **second)
{
    *second = NULL;
    if (t <= start || t >= stop) return E_INVALIDARG;
    TimelineNode *tail = Duplicate();
    if (!tail) return E_OUTOFMEMORY;
    if (tail->setter)
    {
        // the second part's values, from its own start
        IPropertySetter *part = NULL;
        if (SUCCEEDED(setter->CloneProps(&part, t - start, stop - start)) && part)
        {
            tail->setter->Release();
            tail->setter = part;
        }
    }
    tail->start = t;
    tail->stop = stop;
    SplitKind(t, tail);
    stop = t;
    if (parent)
    {
        for (auto *list : {&parent->children, &parent->transitions, &parent->effects})
        {
            auto it = std::find(list->begin(), list->end(), this);
            if (it == list->end()) continue;
            try { list->insert(it + 1, tail); }
            catch (const std::bad_alloc &)
            {
                stop = tail->stop;
                tail->Release();
                return E_OUTOFMEMORY;
            }
            tail->AddRef();
            tail->parent = parent;
            break;
        }
    }
    *second = tail;
    return S_OK;
}

REFERENCE_TIME TimelineNode::RoundToFrame(REFERENCE_TIME t)
{
    double fps = Fps();
    double frames = floor((double)t * fps / UNITS + 0.5);
    return (REFERENCE_TIME)llround(frames * UNITS / fps);
}

HRESULT TimelineNode::CountOf(const NodeList &list, LONG *count)
{
    if (!count) return E_POINTER;
    *count = (LONG)list.size();
    return S_OK;
}

HRESULT TimelineNode::NodeAt(const NodeList &list, LONG which, IAMTimelineObj **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (which < 0 || which >= (LONG)list.size()) return E_INVALIDARG;
    *out = list[which]->Obj();
    (*out)->AddRef();
    return S_OK;
}

HRESULT TimelineNode::Swap(NodeList &list, LONG a, LONG b)
{
    if (a < 0 || b < 0 || a >= (LONG)list.size() || b >= (LONG)list.size()) return E_INVALIDARG;
    std::swap(list[a], list[b]);
    return S_OK;
}

HRESULT TimelineNode::ObjectAtTime(const NodeList &list, IAMTimelineObj **out, REFERENCE_TIME time, LONG direction)
{
    TimelineNode *found = NULL;
    if (!out) return E_POINTER;
    *out = NULL;
    if (direction != DEXTERF_EXACTLY_AT && direction != DEXTERF_FORWARDS && direction != DEXTERF_BOUNDING)
        return E_INVALIDARG;
    for (TimelineNode *n : list)
    {
        if (direction == DEXTERF_EXACTLY_AT && n->start <= time && time < n->stop) { found = n; break; }
        if (direction == DEXTERF_FORWARDS && n->start >= time) { found = n; break; }
        if (direction == DEXTERF_BOUNDING && n->start <= time && (time < n->stop || !found)) found = n;
    }
    if (!found) return S_FALSE;
    *out = found->Obj();
    found->AddRef();
    return S_OK;
}

// The node after last in the list (the first one when last is NULL); S_FALSE after the last one.
HRESULT TimelineNode::NextAfter(const NodeList &list, IAMTimelineObj *last, IAMTimelineObj **next)
{
    if (!next) return E_POINTER;
    *next = NULL;
    size_t i = 0;
    if (last)
    {
        for (i = 0; i < list.size(); i++)
            if (list[i]->Obj() == last) break;
        if (i == list.size()) return E_INVALIDARG;
        i++;
    }
    if (i >= list.size()) return S_FALSE;
    *next = list[i]->Obj();
    (*next)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMTimelineObj))
        *out = Obj();
    else if (IsEqualIID(riid, IID_TimelineNodeSelf))
        *out = this;
    else if (!(*out = KindInterface(riid)))
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

TimelineNode *node_from(IUnknown *obj)
{
    void *self;
    if (!obj || FAILED(obj->QueryInterface(IID_TimelineNodeSelf, &self))) return NULL;
    TimelineNode *node = static_cast<TimelineNode *>(self);
    node->Release();
    return node;
}

/* ---- IAMTimelineObj ---- */

// Tracks, compositions and groups run from 0 to the end of what they hold.
HRESULT STDMETHODCALLTYPE TimelineNode::GetStartStop(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (!s || !e) return E_POINTER;
    *s = IsContainer() ? 0 : start;
    *e = IsContainer() ? ContentEnd() : stop;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetStartStop2(REFTIME *s, REFTIME *e)
{
    REFERENCE_TIME a, b;
    if (!s || !e) return E_POINTER;
    GetStartStop(&a, &b);
    *s = to_seconds(a);
    *e = to_seconds(b);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::FixTimes(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (s) *s = RoundToFrame(start);
    if (e) *e = RoundToFrame(stop);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::FixTimes2(REFTIME *s, REFTIME *e)
{
    REFERENCE_TIME a = s ? to_units(*s) : 0, b = e ? to_units(*e) : 0;
    HRESULT hr = FixTimes(s ? &a : NULL, e ? &b : NULL);
    if (s) *s = to_seconds(a);
    if (e) *e = to_seconds(b);
    return hr;
}

// -1 keeps a time as it is. A stop equal to the start is an object without length (a fade that has not
// begun), not an error. Tracks, compositions and groups take their times from what they hold.
HRESULT STDMETHODCALLTYPE TimelineNode::SetStartStop(REFERENCE_TIME s, REFERENCE_TIME e)
{
    if (IsContainer()) return E_NOTIMPL;
    if (s == -1) s = start;
    if (e == -1) e = stop;
    if (s < 0 || e < s) return E_INVALIDARG;
    start = s;
    stop = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetStartStop2(REFTIME s, REFTIME e)
{
    if (!isfinite(s) || !isfinite(e) || fabs(s) > 9e11 || fabs(e) > 9e11) return E_INVALIDARG;
    return SetStartStop(s == -1.0 ? -1 : to_units(s), e == -1.0 ? -1 : to_units(e));
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetPropertySetter(IPropertySetter **out)
{
    if (!out) return E_POINTER;
    if ((*out = setter)) setter->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetPropertySetter(IPropertySetter *s)
{
    if (s) s->AddRef();
    if (setter) setter->Release();
    setter = s;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetSubObject(IUnknown **out)
{
    if (!out) return E_POINTER;
    if ((*out = sub_object)) sub_object->AddRef();
    return sub_object ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetSubObject(IUnknown *obj)
{
    IPersist *persist;
    if (obj)
    {
        obj->AddRef();
        if (SUCCEEDED(obj->QueryInterface(IID_IPersist, (void **)&persist)))
        {
            persist->GetClassID(&sub_guid);
            persist->Release();
        }
    }
    if (sub_object) sub_object->Release();
    sub_object = obj;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetSubObjectGUID(GUID guid)
{
    if (sub_object)
    {
        sub_object->Release();
        sub_object = NULL;
    }
    sub_guid = guid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetSubObjectGUIDB(BSTR text)
{
    GUID guid;
    if (!text) return E_POINTER;
    if (FAILED(CLSIDFromString(text, &guid))) return E_INVALIDARG;
    return SetSubObjectGUID(guid);
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetSubObjectGUID(GUID *guid)
{
    if (!guid) return E_POINTER;
    *guid = sub_guid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetSubObjectGUIDB(BSTR *text)
{
    WCHAR buffer[40];
    if (!text) return E_POINTER;
    StringFromGUID2(sub_guid, buffer, ARRAYSIZE(buffer));
    return (*text = SysAllocString(buffer)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetSubObjectLoaded(BOOL *loaded)
{
    if (!loaded) return E_POINTER;
    *loaded = sub_object != NULL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetTimelineType(TIMELINE_MAJOR_TYPE *t)
{
    if (!t) return E_POINTER;
    *t = type;
    return S_OK;
}

// Not supported, as documented: the type is fixed when the node is made.
HRESULT STDMETHODCALLTYPE TimelineNode::SetTimelineType(TIMELINE_MAJOR_TYPE t)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetUserID(LONG *id)
{
    if (!id) return E_POINTER;
    *id = user_id;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetUserID(LONG id)
{
    user_id = id;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetGenID(LONG *id)
{
    if (!id) return E_POINTER;
    *id = gen_id;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetUserName(BSTR *name)
{
    if (!name) return E_POINTER;
    *name = user_name ? SysAllocString(user_name) : NULL;
    return user_name && !*name ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetUserName(BSTR name)
{
    BSTR copy = name ? SysAllocString(name) : NULL;
    if (name && !copy) return E_OUTOFMEMORY;
    SysFreeString(user_name);
    user_name = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetUserData(BYTE *data, LONG *size)
{
    if (!size) return E_POINTER;
    // as documented, a buffer is as large as a call with NULL said
    if (data && !user_data.empty()) memcpy(data, user_data.data(), user_data.size());
    *size = (LONG)user_data.size();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetUserData(BYTE *data, LONG size)
{
    if (size < 0 || (size && !data)) return E_INVALIDARG;
    try { user_data.assign(data, data + size); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetMuted(BOOL *m)
{
    if (!m) return E_POINTER;
    *m = muted;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetMuted(BOOL m)
{
    muted = m;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetLocked(BOOL *l)
{
    if (!l) return E_POINTER;
    *l = locked;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetLocked(BOOL l)
{
    locked = l;
    return S_OK;
}

// The dirty range is not supported, as documented.
HRESULT STDMETHODCALLTYPE TimelineNode::GetDirtyRange(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetDirtyRange2(REFTIME *s, REFTIME *e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetDirtyRange(REFERENCE_TIME s, REFERENCE_TIME e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetDirtyRange2(REFTIME s, REFTIME e)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TimelineNode::ClearDirty()
{
    return E_NOTIMPL;
}

bool TimelineNode::Unlink()
{
    if (!parent) return false;
    for (auto *list : {&parent->children, &parent->transitions, &parent->effects})
    {
        auto it = std::find(list->begin(), list->end(), this);
        if (it != list->end())
        {
            list->erase(it);
            parent = NULL;
            Release();
            return true;
        }
    }
    parent = NULL;
    return false;
}

// Out of the tree with what it holds, to be put back elsewhere.
HRESULT STDMETHODCALLTYPE TimelineNode::Remove()
{
    AddRef();
    if (!Unlink() && Is(TIMELINE_MAJOR_TYPE_GROUP) && timeline) timeline->DropGroup(this);
    Release();
    return S_OK;
}

// Out of the tree for good: what it holds goes with it.
HRESULT STDMETHODCALLTYPE TimelineNode::RemoveAll()
{
    AddRef();
    Remove();
    for (auto *list : {&children, &transitions, &effects})
    {
        NodeList held;
        held.swap(*list);
        for (TimelineNode *n : held)
        {
            n->Detach();
            n->Release();
        }
    }
    Release();
    return S_OK;
}

// Not supported, as documented: the timeline is reached through IAMTimelineGroup::GetTimeline.
HRESULT STDMETHODCALLTYPE TimelineNode::GetTimelineNoRef(IAMTimeline **out)
{
    return E_NOTIMPL;
}

// Not supported, as documented.
HRESULT STDMETHODCALLTYPE TimelineNode::GetGroupIBelongTo(IAMTimelineGroup **out)
{
    return E_NOTIMPL;
}

// Not supported, as documented.
HRESULT STDMETHODCALLTYPE TimelineNode::GetEmbedDepth(LONG *depth)
{
    return E_NOTIMPL;
}

}  // namespace editing
