// Timeline (CLSID_AMTimeline): the groups of an edit, the defaults its nodes fall back on, and the nodes
// it makes (CreateEmptyNode). The nodes are in nodes.h; the copy the render engine takes is
// timelinecopy.cpp.
#include "server/lifetime.h"
#include "editing/nodes.h"
#include "editing/xtl.h"
#include "editing/medialocator.h"

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
    : default_fps(DEFAULT_FPS), ref(1), next_id(0), transitions_on(TRUE),
      effects_on(TRUE), default_transition(GUID_NULL), default_effect(GUID_NULL), error_log(NULL), site(NULL)
{
    InitializeCriticalSection(&cs);
    PlatformObjectCreated();
}

// Nodes the client still holds outlive the timeline: they forget it first.
Timeline::~Timeline()
{
    EnterCriticalSection(&cs);
    for (TimelineNode *n : nodes) n->timeline = NULL;
    nodes.clear();
    LeaveCriticalSection(&cs);
    for (TimelineNode *g : groups) g->Release();
    if (error_log) error_log->Release();
    if (site) site->Release();
    DeleteCriticalSection(&cs);
    PlatformObjectDestroyed();
}

void Timeline::Register(TimelineNode *node)
{
    EnterCriticalSection(&cs);
    try { nodes.insert(node); }
    catch (const std::bad_alloc &) { node->timeline = NULL; }
    LeaveCriticalSection(&cs);
}

void Timeline::Unregister(TimelineNode *node)
{
    EnterCriticalSection(&cs);
    nodes.erase(node);
    LeaveCriticalSection(&cs);
}

void Timeline::Adopt(TimelineNode *node)
{
    node->timeline = this;
    Register(node);
    for (auto *list : {&node->children, &node->transitions, &node->effects})
        for (TimelineNode *n : *list) Adopt(n);
}

bool Timeline::DropGroup(TimelineNode *group)
{
    auto it = std::find(groups.begin(), groups.end(), group);
    if (it == groups.end()) return false;
    groups.erase(it);
    group->Release();
    return true;
}

HRESULT STDMETHODCALLTYPE Timeline::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMTimeline))
        *out = static_cast<IAMTimeline *>(this);
    else if (IsEqualIID(riid, IID_IAMSetErrorLog))
        *out = static_cast<IAMSetErrorLog *>(this);
    else if (IsEqualIID(riid, IID_IObjectWithSite))
        *out = static_cast<IObjectWithSite *>(this);
    else if (IsEqualIID(riid, IID_IPersistStream) || IsEqualIID(riid, IID_IPersist))
        *out = static_cast<IPersistStream *>(this);
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

/* ---- IObjectWithSite ---- */

HRESULT STDMETHODCALLTYPE Timeline::SetSite(IUnknown *s)
{
    if (s) s->AddRef();
    EnterCriticalSection(&cs);
    IUnknown *old = site;
    site = s;
    LeaveCriticalSection(&cs);
    if (old) old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetSite(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    EnterCriticalSection(&cs);
    HRESULT hr = site ? site->QueryInterface(riid, out) : E_FAIL;
    LeaveCriticalSection(&cs);
    return hr;
}

/* ---- IPersistStream ---- */

HRESULT STDMETHODCALLTYPE Timeline::GetClassID(CLSID *clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = CLSID_AMTimeline;
    return S_OK;
}

// Changes are not followed: the timeline always counts as changed.
HRESULT STDMETHODCALLTYPE Timeline::IsDirty()
{
    return S_OK;
}

// The stream's XTL text replaces what the timeline held.
HRESULT STDMETHODCALLTYPE Timeline::Load(IStream *stream)
{
    if (!stream) return E_POINTER;
    std::string text;
    char buffer[4096];
    ULONG got;
    HRESULT hr;
    try
    {
        while (SUCCEEDED(hr = stream->Read(buffer, sizeof(buffer), &got)) && got)
        {
            text.append(buffer, got);
            if (text.size() > (64u << 20)) return VFW_E_INVALID_FILE_FORMAT;
        }
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    if (FAILED(hr)) return hr;
    ClearAllGroups();
    return XtlRead(this, text.data(), text.size());
}

HRESULT STDMETHODCALLTYPE Timeline::Save(IStream *stream, BOOL clear_dirty)
{
    if (!stream) return E_POINTER;
    std::string text;
    HRESULT hr = XtlWrite(this, &text);
    if (FAILED(hr)) return hr;
    ULONG written = 0;
    hr = stream->Write(text.data(), (ULONG)text.size(), &written);
    if (SUCCEEDED(hr) && written != text.size()) hr = STG_E_MEDIUMFULL;
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::GetSizeMax(ULARGE_INTEGER *size)
{
    if (!size) return E_POINTER;
    std::string text;
    HRESULT hr = XtlWrite(this, &text);
    if (FAILED(hr)) return hr;
    size->QuadPart = text.size();
    return S_OK;
}

/* ---- IAMSetErrorLog ---- */

HRESULT STDMETHODCALLTYPE Timeline::get_ErrorLog(IAMErrorLog **log)
{
    if (!log) return E_POINTER;
    EnterCriticalSection(&cs);
    if ((*log = error_log)) error_log->AddRef();
    LeaveCriticalSection(&cs);
    return S_OK;
}

// NULL takes the log away.
HRESULT STDMETHODCALLTYPE Timeline::put_ErrorLog(IAMErrorLog *log)
{
    if (log) log->AddRef();
    EnterCriticalSection(&cs);
    IAMErrorLog *old = error_log;
    error_log = log;
    LeaveCriticalSection(&cs);
    if (old) old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::LogError(LONG severity, const WCHAR *text, LONG code, HRESULT hr)
{
    EnterCriticalSection(&cs);
    IAMErrorLog *log = error_log;
    if (log) log->AddRef();
    LeaveCriticalSection(&cs);
    if (!log) return S_FALSE;
    BSTR message = SysAllocString(text ? text : L"");
    VARIANT extra;
    VariantInit(&extra);
    log->LogError(severity, message, code, hr, &extra);
    SysFreeString(message);
    log->Release();
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

// A type that is not one of the six leaves *obj as it was.
HRESULT STDMETHODCALLTYPE Timeline::CreateEmptyNode(IAMTimelineObj **obj, TIMELINE_MAJOR_TYPE type)
{
    if (!obj) return E_POINTER;
    switch (type)
    {
    case TIMELINE_MAJOR_TYPE_COMPOSITE: case TIMELINE_MAJOR_TYPE_TRACK: case TIMELINE_MAJOR_TYPE_SOURCE:
    case TIMELINE_MAJOR_TYPE_TRANSITION: case TIMELINE_MAJOR_TYPE_EFFECT: case TIMELINE_MAJOR_TYPE_GROUP:
        break;
    default:
        return E_INVALIDARG;
    }
    *obj = NULL;
    TimelineNode *node = NewNode(type, this, NextId());
    if (!node) return E_OUTOFMEMORY;
    *obj = node->Obj();
    return S_OK;
}

// At most 32 groups; E_NOINTERFACE for what is not a group.
HRESULT STDMETHODCALLTYPE Timeline::AddGroup(IAMTimelineObj *group)
{
    TimelineNode *node = node_from(group);
    if (!group) return E_POINTER;
    if (!node || !node->Is(TIMELINE_MAJOR_TYPE_GROUP)) return E_NOINTERFACE;
    if (groups.size() >= 32 || std::find(groups.begin(), groups.end(), node) != groups.end()) return E_INVALIDARG;
    if (node->timeline && node->timeline != this) return E_INVALIDARG;   // made by another timeline
    try { groups.push_back(node); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    node->AddRef();
    if (!node->timeline) Adopt(node);   // its own timeline is gone
    return S_OK;
}

// Not supported, as documented: IAMTimelineObj::Remove takes a group out.
HRESULT STDMETHODCALLTYPE Timeline::RemGroupFromList(IAMTimelineObj *group)
{
    return E_NOTIMPL;
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

// The insert mode is not supported, as documented.
HRESULT STDMETHODCALLTYPE Timeline::GetInsertMode(LONG *mode)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Timeline::SetInsertMode(LONG mode)
{
    return E_NOTIMPL;
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

// Changes are not followed, as documented (not supported).
HRESULT STDMETHODCALLTYPE Timeline::IsDirty(BOOL *dirty)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Timeline::GetDirtyRange(REFERENCE_TIME *start, REFERENCE_TIME *stop)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Timeline::GetCountOfType(LONG group, LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE type)
{
    if (!value || !with_comps) return E_POINTER;
    if (group < 0 || group >= (LONG)groups.size()) return E_INVALIDARG;
    return as_group(groups[group])->GetCountOfType(value, with_comps, type);
}

// Every source's file is looked for with the caller's locator, or the platform's; a file found elsewhere
// renames its source (SFN_VALIDATEF_REPLACE and SFN_VALIDATEF_CHECK are both required). The event handle,
// when given, is set once all are done.
HRESULT STDMETHODCALLTYPE Timeline::ValidateSourceNames(LONG flags, IMediaLocator *override, LONG_PTR notify)
{
    if ((flags & (SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE)) != (SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE))
        return E_INVALIDARG;
    NodeList sources;
    try
    {
        NodeList work(groups.begin(), groups.end());
        while (!work.empty())
        {
            TimelineNode *n = work.back();
            work.pop_back();
            if ((flags & SFN_VALIDATEF_IGNOREMUTED) && n->muted) continue;
            if (n->Is(TIMELINE_MAJOR_TYPE_SOURCE)) sources.push_back(n);
            else work.insert(work.end(), n->children.begin(), n->children.end());
        }
    }
    catch (const std::bad_alloc &)
    {
        return E_OUTOFMEMORY;
    }
    for (TimelineNode *n : sources) n->AddRef();
    HRESULT result = S_OK;
    for (TimelineNode *n : sources)
    {
        SourceNode *src = as_source(n);
        BSTR found = NULL;
        HRESULT hr = S_OK;
        if (src->media_name && *src->media_name)
            hr = override ? override->FindMediaFile(src->media_name, NULL, &found, flags)
                          : LocateMediaFile(src->media_name, &found, flags);
        if (hr == S_FALSE && found && *found) src->SetMediaName(found);
        else if (hr == E_OUTOFMEMORY) result = hr;
        SysFreeString(found);
        n->Release();
    }
    if (notify) SetEvent((HANDLE)notify);
    return result;
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
