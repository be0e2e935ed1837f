// Timeline (CLSID_AMTimeline) and its nodes: groups, compositions, tracks, sources, transitions and
// effects. One node class answers the interfaces of its type. The timeline holds its groups, every
// node holds its children; a child knows its parent without a reference. CopyTimeline turns the tree
// into the glue's description for the render engine.
#include "server/lifetime.h"
#include "filters/catalog.h"
#include "editing/timeline.h"
#include "filters/mediatypes.h"

#include <mmreg.h>
#include <math.h>
#include <new>
#include <string.h>
#include <algorithm>

namespace {

const REFERENCE_TIME UNITS = 10000000;
const double DEFAULT_FPS = 15.0;

REFERENCE_TIME to_units(double seconds) { return (REFERENCE_TIME)llround(seconds * UNITS); }
double to_seconds(REFERENCE_TIME t) { return (double)t / UNITS; }

// A group's media type in the glue's terms; false for what the platform cannot deliver.
bool group_format(const AM_MEDIA_TYPE *mt, gg_group *g)
{
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
    {
        if (!IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
            return false;
        const BITMAPINFOHEADER *bih = &((const VIDEOINFOHEADER *)mt->pbFormat)->bmiHeader;
        g->video = 1;
        g->width = bih->biWidth;
        g->height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB555)) g->bits = 15;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB565)) g->bits = 16;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24)) g->bits = 24;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB32)) g->bits = 32;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_ARGB32)) { g->bits = 32; g->alpha = 1; }
        else return false;
        int expect = g->bits == 15 ? 16 : g->bits;
        if (bih->biBitCount != expect || (bih->biCompression != BI_RGB && bih->biCompression != BI_BITFIELDS))
            return false;
        return g->width > 0 && g->height > 0 && g->width <= 8192 && g->height <= 8192;
    }
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio))
    {
        if (!IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx) || mt->cbFormat < 16 || !mt->pbFormat) return false;
        const WAVEFORMATEX *wfx = (const WAVEFORMATEX *)mt->pbFormat;
        g->video = 0;
        g->channels = wfx->nChannels;
        g->rate = (int)wfx->nSamplesPerSec;
        g->sample_bits = wfx->wBitsPerSample;
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_PCM) && wfx->wFormatTag == WAVE_FORMAT_PCM)
            g->is_float = 0;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_IEEE_FLOAT) && wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
            g->is_float = 1;
        else
            return false;
        if (g->channels < 1 || g->channels > 8 || g->rate < 1000 || g->rate > 192000) return false;
        if (g->is_float) return g->sample_bits == 32 || g->sample_bits == 64;
        return g->sample_bits == 8 || g->sample_bits == 16 || g->sample_bits == 24 || g->sample_bits == 32;
    }
    return false;
}

void fps_fraction(double fps, int *num, int *den)
{
    long long n = llround(fps * 1000.0), d = 1000, a = n, b = d;
    while (b) { long long t = a % b; a = b; b = t; }
    if (a <= 0) a = 1;
    *num = (int)(n / a);
    *den = (int)(d / a);
}

class Timeline;

// Private: QueryInterface for it hands out the node object itself, with a reference.
const GUID IID_TimelineNodeSelf = {0x1d4f6b2e, 0x8a31, 0x4c7e, {0x9b, 0x02, 0x5e, 0x6d, 0x73, 0xa8, 0x1f, 0x94}};

class TimelineNode final : public IAMTimelineObj, public IAMTimelineGroup, public IAMTimelineComp,
                           public IAMTimelineTrack, public IAMTimelineSrc, public IAMTimelineTrans,
                           public IAMTimelineTransable, public IAMTimelineEffect, public IAMTimelineEffectable,
                           public IAMTimelineVirtualTrack
{
public:
    TimelineNode(TIMELINE_MAJOR_TYPE t, Timeline *tl, LONG id);

    TIMELINE_MAJOR_TYPE type;
    Timeline *timeline;             // no reference
    TimelineNode *parent;           // no reference
    REFERENCE_TIME start, stop;
    IPropertySetter *setter;
    GUID sub_guid;
    IUnknown *sub_object;
    LONG user_id, gen_id;
    BSTR user_name;
    std::vector<BYTE> user_data;
    BOOL muted, locked;
    REFERENCE_TIME dirty_start, dirty_stop;
    // group
    AM_MEDIA_TYPE mt;
    bool has_mt;
    double output_fps;
    BSTR group_name;
    BOOL preview;
    int buffering;
    // group, composition: tracks and compositions by priority; track: sources by time
    std::vector<TimelineNode *> children;
    std::vector<TimelineNode *> transitions;
    std::vector<TimelineNode *> effects;
    // source
    REFERENCE_TIME media_start, media_stop, media_length;
    BSTR media_name;
    LONG stream_number;
    double source_fps;
    int stretch_mode;
    // transition
    REFERENCE_TIME cut_point;
    BOOL swap_inputs, cuts_only;

    bool Is(TIMELINE_MAJOR_TYPE t) const { return type == t; }
    void Detach() { parent = NULL; }
    void ForgetTimeline();
    double Fps();
    TimelineNode *Group();
    LONG IndexIn(const std::vector<TimelineNode *> &list) const;
    // what the interfaces ask of one list of nodes: its size, one node by index, two swapped
    static HRESULT CountOf(const std::vector<TimelineNode *> &list, LONG *count);
    static HRESULT NodeAt(const std::vector<TimelineNode *> &list, LONG which, IAMTimelineObj **out);
    static HRESULT Swap(std::vector<TimelineNode *> &list, LONG a, LONG b);

    // IUnknown (IAMTimelineObj's)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IAMTimelineObj
    HRESULT STDMETHODCALLTYPE GetStartStop(REFERENCE_TIME *s, REFERENCE_TIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = start;
        *e = stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStartStop2(REFTIME *s, REFTIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = to_seconds(start);
        *e = to_seconds(stop);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FixTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE FixTimes2(REFTIME *s, REFTIME *e) override
    {
        REFERENCE_TIME a = s ? to_units(*s) : 0, b = e ? to_units(*e) : 0;
        HRESULT hr = FixTimes(s ? &a : NULL, e ? &b : NULL);
        if (s) *s = to_seconds(a);
        if (e) *e = to_seconds(b);
        return hr;
    }
    // A stop equal to the start is an object without length (a fade that has not begun), not an error.
    HRESULT STDMETHODCALLTYPE SetStartStop(REFERENCE_TIME s, REFERENCE_TIME e) override
    {
        if (s < 0 || e < s) return E_INVALIDARG;
        start = s;
        stop = e;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStartStop2(REFTIME s, REFTIME e) override
    {
        return SetStartStop(to_units(s), to_units(e));
    }
    HRESULT STDMETHODCALLTYPE GetPropertySetter(IPropertySetter **out) override
    {
        if (!out) return E_POINTER;
        if ((*out = setter)) setter->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPropertySetter(IPropertySetter *s) override
    {
        if (s) s->AddRef();
        if (setter) setter->Release();
        setter = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubObject(IUnknown **out) override
    {
        if (!out) return E_POINTER;
        if ((*out = sub_object)) sub_object->AddRef();
        return sub_object ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetSubObject(IUnknown *obj) override
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
    HRESULT STDMETHODCALLTYPE SetSubObjectGUID(GUID guid) override
    {
        if (sub_object)
        {
            sub_object->Release();
            sub_object = NULL;
        }
        sub_guid = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSubObjectGUIDB(BSTR text) override
    {
        GUID guid;
        if (!text) return E_POINTER;
        if (FAILED(CLSIDFromString(text, &guid))) return E_INVALIDARG;
        return SetSubObjectGUID(guid);
    }
    HRESULT STDMETHODCALLTYPE GetSubObjectGUID(GUID *guid) override
    {
        if (!guid) return E_POINTER;
        *guid = sub_guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubObjectGUIDB(BSTR *text) override
    {
        WCHAR buffer[40];
        if (!text) return E_POINTER;
        StringFromGUID2(sub_guid, buffer, ARRAYSIZE(buffer));
        return (*text = SysAllocString(buffer)) ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetSubObjectLoaded(BOOL *loaded) override
    {
        if (!loaded) return E_POINTER;
        *loaded = sub_object != NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTimelineType(TIMELINE_MAJOR_TYPE *t) override
    {
        if (!t) return E_POINTER;
        *t = type;
        return S_OK;
    }
    // the type is fixed when the node is made
    HRESULT STDMETHODCALLTYPE SetTimelineType(TIMELINE_MAJOR_TYPE t) override { return t == type ? S_OK : E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE GetUserID(LONG *id) override
    {
        if (!id) return E_POINTER;
        *id = user_id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetUserID(LONG id) override { user_id = id; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetGenID(LONG *id) override
    {
        if (!id) return E_POINTER;
        *id = gen_id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserName(BSTR *name) override
    {
        if (!name) return E_POINTER;
        *name = user_name ? SysAllocString(user_name) : NULL;
        return user_name && !*name ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetUserName(BSTR name) override
    {
        BSTR copy = name ? SysAllocString(name) : NULL;
        if (name && !copy) return E_OUTOFMEMORY;
        SysFreeString(user_name);
        user_name = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserData(BYTE *data, LONG *size) override
    {
        if (!size) return E_POINTER;
        if (data)
        {
            if (*size < (LONG)user_data.size()) return E_INVALIDARG;
            if (!user_data.empty()) memcpy(data, user_data.data(), user_data.size());
        }
        *size = (LONG)user_data.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetUserData(BYTE *data, LONG size) override
    {
        if (size < 0 || (size && !data)) return E_INVALIDARG;
        try { user_data.assign(data, data + size); }
        catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMuted(BOOL *m) override
    {
        if (!m) return E_POINTER;
        *m = muted;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMuted(BOOL m) override { muted = m; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLocked(BOOL *l) override
    {
        if (!l) return E_POINTER;
        *l = locked;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLocked(BOOL l) override { locked = l; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDirtyRange(REFERENCE_TIME *s, REFERENCE_TIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = dirty_start;
        *e = dirty_stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDirtyRange2(REFTIME *s, REFTIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = to_seconds(dirty_start);
        *e = to_seconds(dirty_stop);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDirtyRange(REFERENCE_TIME s, REFERENCE_TIME e) override
    {
        if (e < s) return E_INVALIDARG;
        dirty_start = s;
        dirty_stop = e;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDirtyRange2(REFTIME s, REFTIME e) override { return SetDirtyRange(to_units(s), to_units(e)); }
    HRESULT STDMETHODCALLTYPE ClearDirty() override
    {
        dirty_start = dirty_stop = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Remove() override;
    HRESULT STDMETHODCALLTYPE RemoveAll() override { return Remove(); }
    HRESULT STDMETHODCALLTYPE GetTimelineNoRef(IAMTimeline **out) override;
    HRESULT STDMETHODCALLTYPE GetGroupIBelongTo(IAMTimelineGroup **out) override
    {
        if (!out) return E_POINTER;
        TimelineNode *g = Group();
        *out = NULL;
        if (!g) return E_NOINTERFACE;
        *out = static_cast<IAMTimelineGroup *>(g);
        g->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbedDepth(LONG *depth) override
    {
        if (!depth) return E_POINTER;
        *depth = 0;
        for (TimelineNode *p = parent; p; p = p->parent) (*depth)++;
        return S_OK;
    }

    // IAMTimelineGroup
    HRESULT STDMETHODCALLTYPE SetTimeline(IAMTimeline *tl) override;
    HRESULT STDMETHODCALLTYPE GetTimeline(IAMTimeline **out) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG *priority) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE *out) override
    {
        if (!out) return E_POINTER;
        if (!has_mt)
        {
            memset(out, 0, sizeof(*out));
            return VFW_E_NOT_CONNECTED;
        }
        return CopyMediaType(out, &mt);
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) override
    {
        gg_group g = {};
        AM_MEDIA_TYPE copy;
        HRESULT hr;
        if (!type) return E_POINTER;
        if (!group_format(type, &g)) return VFW_E_INVALIDMEDIATYPE;
        if (FAILED(hr = CopyMediaType(&copy, type))) return hr;
        if (has_mt) FreeMediaType(&mt);
        mt = copy;
        has_mt = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputFPS(double fps) override
    {
        if (!(fps > 0.0) || fps > 1000.0) return E_INVALIDARG;
        output_fps = fps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOutputFPS(double *fps) override
    {
        if (!fps) return E_POINTER;
        *fps = Fps();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetGroupName(BSTR name) override
    {
        BSTR copy = name ? SysAllocString(name) : NULL;
        if (name && !copy) return E_OUTOFMEMORY;
        SysFreeString(group_name);
        group_name = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetGroupName(BSTR *name) override
    {
        if (!name) return E_POINTER;
        *name = SysAllocString(group_name ? group_name : L"");
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE SetPreviewMode(BOOL p) override { preview = p; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPreviewMode(BOOL *p) override
    {
        if (!p) return E_POINTER;
        *p = preview;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTypeForVB(LONG which) override;
    HRESULT STDMETHODCALLTYPE GetOutputBuffering(int *b) override
    {
        if (!b) return E_POINTER;
        *b = buffering;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputBuffering(int b) override
    {
        if (b < 2) return E_INVALIDARG;
        buffering = b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSmartRecompressFormat(LONG *format) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSmartRecompressFormat(LONG **format) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsSmartRecompressFormatSet(BOOL *set) override
    {
        if (!set) return E_POINTER;
        *set = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRecompressFormatDirty(BOOL *dirty) override
    {
        if (!dirty) return E_POINTER;
        *dirty = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearRecompressFormatDirty() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetRecompFormatFromSource(IAMTimelineSrc *source) override { return E_NOTIMPL; }

    // IAMTimelineComp
    HRESULT STDMETHODCALLTYPE VTrackInsBefore(IAMTimelineObj *track, LONG priority) override;
    HRESULT STDMETHODCALLTYPE VTrackSwapPriorities(LONG a, LONG b) override { return Swap(children, a, b); }
    HRESULT STDMETHODCALLTYPE VTrackGetCount(LONG *count) override { return CountOf(children, count); }
    HRESULT STDMETHODCALLTYPE GetVTrack(IAMTimelineObj **out, LONG which) override
    {
        return NodeAt(children, which, out);
    }
    HRESULT STDMETHODCALLTYPE GetCountOfType(LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE t) override
    {
        if (!value || !with_comps) return E_POINTER;
        *value = *with_comps = 0;
        CountType(t, value, with_comps);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfType(IAMTimelineObj **out, LONG which, TIMELINE_MAJOR_TYPE t) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfTypeI(IAMTimelineObj **out, LONG *which, TIMELINE_MAJOR_TYPE t) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetNextVTrack(IAMTimelineObj *track, IAMTimelineObj **next) override
    {
        if (!next) return E_POINTER;
        *next = NULL;
        size_t i = 0;
        if (track)
        {
            for (i = 0; i < children.size(); i++)
                if (static_cast<IAMTimelineObj *>(children[i]) == track) break;
            if (i == children.size()) return E_INVALIDARG;
            i++;
        }
        if (i >= children.size()) return S_FALSE;
        *next = static_cast<IAMTimelineObj *>(children[i]);
        (*next)->AddRef();
        return S_OK;
    }

    // IAMTimelineTrack
    HRESULT STDMETHODCALLTYPE SrcAdd(IAMTimelineObj *source) override;
    HRESULT STDMETHODCALLTYPE GetNextSrc(IAMTimelineObj **out, REFERENCE_TIME *in_out) override
    {
        if (!out || !in_out) return E_POINTER;
        *out = NULL;
        for (TimelineNode *s : children)
            if (s->start >= *in_out)
            {
                *out = static_cast<IAMTimelineObj *>(s);
                s->AddRef();
                *in_out = s->stop;
                return S_OK;
            }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetNextSrc2(IAMTimelineObj **out, REFTIME *in_out) override
    {
        if (!in_out) return E_POINTER;
        REFERENCE_TIME t = to_units(*in_out);
        HRESULT hr = GetNextSrc(out, &t);
        *in_out = to_seconds(t);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE MoveEverythingBy(REFERENCE_TIME from, REFERENCE_TIME by) override;
    HRESULT STDMETHODCALLTYPE MoveEverythingBy2(REFTIME from, REFTIME by) override
    {
        return MoveEverythingBy(to_units(from), to_units(by));
    }
    HRESULT STDMETHODCALLTYPE GetSourcesCount(LONG *count) override { return CountOf(children, count); }
    HRESULT STDMETHODCALLTYPE AreYouBlank(LONG *blank) override
    {
        if (!blank) return E_POINTER;
        *blank = children.empty() && transitions.empty() && effects.empty();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSrcAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction) override
    {
        return ObjectAtTime(children, out, time, direction);
    }
    HRESULT STDMETHODCALLTYPE GetSrcAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction) override
    {
        return ObjectAtTime(children, out, to_units(time), direction);
    }
    HRESULT STDMETHODCALLTYPE InsertSpace(REFERENCE_TIME s, REFERENCE_TIME e) override
    {
        if (e < s) return E_INVALIDARG;
        return MoveEverythingBy(s, e - s);
    }
    HRESULT STDMETHODCALLTYPE InsertSpace2(REFTIME s, REFTIME e) override { return InsertSpace(to_units(s), to_units(e)); }
    HRESULT STDMETHODCALLTYPE ZeroBetween(REFERENCE_TIME s, REFERENCE_TIME e) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ZeroBetween2(REFTIME s, REFTIME e) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNextSrcEx(IAMTimelineObj *last, IAMTimelineObj **next) override
    {
        if (!next) return E_POINTER;
        *next = NULL;
        size_t i = 0;
        if (last)
        {
            for (i = 0; i < children.size(); i++)
                if (static_cast<IAMTimelineObj *>(children[i]) == last) break;
            if (i == children.size()) return E_INVALIDARG;
            i++;
        }
        if (i >= children.size()) return S_FALSE;
        *next = static_cast<IAMTimelineObj *>(children[i]);
        (*next)->AddRef();
        return S_OK;
    }

    // IAMTimelineSrc
    HRESULT STDMETHODCALLTYPE GetMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = media_start;
        *e = media_stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaTimes2(REFTIME *s, REFTIME *e) override
    {
        if (!s || !e) return E_POINTER;
        *s = to_seconds(media_start);
        *e = to_seconds(media_stop);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ModifyStopTime(REFERENCE_TIME e) override
    {
        if (e < start) return E_INVALIDARG;
        stop = e;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ModifyStopTime2(REFTIME e) override { return ModifyStopTime(to_units(e)); }
    HRESULT STDMETHODCALLTYPE FixMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE FixMediaTimes2(REFTIME *s, REFTIME *e) override
    {
        REFERENCE_TIME a = s ? to_units(*s) : 0, b = e ? to_units(*e) : 0;
        HRESULT hr = FixMediaTimes(s ? &a : NULL, e ? &b : NULL);
        if (s) *s = to_seconds(a);
        if (e) *e = to_seconds(b);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTimes(REFERENCE_TIME s, REFERENCE_TIME e) override
    {
        if (s < 0 || e < s) return E_INVALIDARG;
        media_start = s;
        media_stop = e;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTimes2(REFTIME s, REFTIME e) override { return SetMediaTimes(to_units(s), to_units(e)); }
    HRESULT STDMETHODCALLTYPE SetMediaLength(REFERENCE_TIME length) override
    {
        if (length < 0) return E_INVALIDARG;
        media_length = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaLength2(REFTIME length) override { return SetMediaLength(to_units(length)); }
    HRESULT STDMETHODCALLTYPE GetMediaLength(REFERENCE_TIME *length) override
    {
        if (!length) return E_POINTER;
        *length = media_length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaLength2(REFTIME *length) override
    {
        if (!length) return E_POINTER;
        *length = to_seconds(media_length);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaName(BSTR *name) override
    {
        if (!name) return E_POINTER;
        *name = SysAllocString(media_name ? media_name : L"");
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE SetMediaName(BSTR name) override
    {
        BSTR copy = name ? SysAllocString(name) : NULL;
        if (name && !copy) return E_OUTOFMEMORY;
        SysFreeString(media_name);
        media_name = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SpliceWithNext(IAMTimelineObj *next) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamNumber(LONG *n) override
    {
        if (!n) return E_POINTER;
        *n = stream_number;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamNumber(LONG n) override
    {
        if (n < 0) return E_INVALIDARG;
        stream_number = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsNormalRate(BOOL *normal) override
    {
        if (!normal) return E_POINTER;
        *normal = media_stop - media_start == stop - start;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultFPS(double *fps) override
    {
        if (!fps) return E_POINTER;
        *fps = source_fps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultFPS(double fps) override
    {
        if (fps < 0.0) return E_INVALIDARG;
        source_fps = fps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStretchMode(int *mode) override
    {
        if (!mode) return E_POINTER;
        *mode = stretch_mode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStretchMode(int mode) override
    {
        stretch_mode = mode;
        return S_OK;
    }

    // IAMTimelineTrans
    HRESULT STDMETHODCALLTYPE GetCutPoint(REFERENCE_TIME *t) override
    {
        if (!t) return E_POINTER;
        *t = cut_point >= 0 ? cut_point : (stop - start) / 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCutPoint2(REFTIME *t) override
    {
        REFERENCE_TIME u;
        if (!t) return E_POINTER;
        GetCutPoint(&u);
        *t = to_seconds(u);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCutPoint(REFERENCE_TIME t) override
    {
        if (t < 0) return E_INVALIDARG;
        cut_point = t;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCutPoint2(REFTIME t) override { return SetCutPoint(to_units(t)); }
    HRESULT STDMETHODCALLTYPE GetSwapInputs(BOOL *v) override
    {
        if (!v) return E_POINTER;
        *v = swap_inputs;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSwapInputs(BOOL v) override { swap_inputs = v ? TRUE : FALSE; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCutsOnly(BOOL *v) override
    {
        if (!v) return E_POINTER;
        *v = cuts_only;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCutsOnly(BOOL v) override { cuts_only = v ? TRUE : FALSE; return S_OK; }

    // IAMTimelineTransable
    HRESULT STDMETHODCALLTYPE TransAdd(IAMTimelineObj *trans) override;
    HRESULT STDMETHODCALLTYPE TransGetCount(LONG *count) override { return CountOf(transitions, count); }
    HRESULT STDMETHODCALLTYPE GetNextTrans(IAMTimelineObj **out, REFERENCE_TIME *in_out) override
    {
        if (!out || !in_out) return E_POINTER;
        *out = NULL;
        for (TimelineNode *t : transitions)
            if (t->start >= *in_out)
            {
                *out = static_cast<IAMTimelineObj *>(t);
                t->AddRef();
                *in_out = t->stop;
                return S_OK;
            }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetNextTrans2(IAMTimelineObj **out, REFTIME *in_out) override
    {
        if (!in_out) return E_POINTER;
        REFERENCE_TIME t = to_units(*in_out);
        HRESULT hr = GetNextTrans(out, &t);
        *in_out = to_seconds(t);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetTransAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction) override
    {
        return ObjectAtTime(transitions, out, time, direction);
    }
    HRESULT STDMETHODCALLTYPE GetTransAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction) override
    {
        return ObjectAtTime(transitions, out, to_units(time), direction);
    }

    // IAMTimelineEffect
    HRESULT STDMETHODCALLTYPE EffectGetPriority(LONG *priority) override
    {
        if (!priority) return E_POINTER;
        if (!parent) return E_UNEXPECTED;
        *priority = IndexIn(parent->effects);
        return *priority >= 0 ? S_OK : E_UNEXPECTED;
    }

    // IAMTimelineEffectable
    HRESULT STDMETHODCALLTYPE EffectInsBefore(IAMTimelineObj *fx, LONG priority) override;
    HRESULT STDMETHODCALLTYPE EffectSwapPriorities(LONG a, LONG b) override { return Swap(effects, a, b); }
    HRESULT STDMETHODCALLTYPE EffectGetCount(LONG *count) override { return CountOf(effects, count); }
    HRESULT STDMETHODCALLTYPE GetEffect(IAMTimelineObj **out, LONG which) override
    {
        return NodeAt(effects, which, out);
    }

    // IAMTimelineVirtualTrack
    HRESULT STDMETHODCALLTYPE TrackGetPriority(LONG *priority) override
    {
        if (!priority) return E_POINTER;
        *priority = parent ? IndexIn(parent->children) : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTrackDirty() override { return S_OK; }

private:
    ~TimelineNode();
    void CountType(TIMELINE_MAJOR_TYPE t, LONG *value, LONG *with_comps);
    HRESULT ObjectAtTime(const std::vector<TimelineNode *> &list, IAMTimelineObj **out, REFERENCE_TIME time,
                         LONG direction);
    REFERENCE_TIME RoundToFrame(REFERENCE_TIME t);

    LONG ref;
};

// The node object behind an interface pointer, when it is one of ours.
TimelineNode *node_from(IAMTimelineObj *obj);

class Timeline final : public IAMTimeline, public IPlatformTimeline
{
public:
    Timeline();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
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
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IAMTimeline
    HRESULT STDMETHODCALLTYPE CreateEmptyNode(IAMTimelineObj **obj, TIMELINE_MAJOR_TYPE type) override
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
        TimelineNode *node = new (std::nothrow) TimelineNode(type, this, InterlockedIncrement(&next_id));
        if (!node) return E_OUTOFMEMORY;
        *obj = static_cast<IAMTimelineObj *>(node);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddGroup(IAMTimelineObj *group) override
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
    HRESULT STDMETHODCALLTYPE RemGroupFromList(IAMTimelineObj *group) override
    {
        TimelineNode *node = node_from(group);
        auto it = std::find(groups.begin(), groups.end(), node);
        if (!group) return E_POINTER;
        if (!node || it == groups.end()) return E_INVALIDARG;
        groups.erase(it);
        node->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetGroup(IAMTimelineObj **group, LONG index) override
    {
        return TimelineNode::NodeAt(groups, index, group);
    }
    HRESULT STDMETHODCALLTYPE GetGroupCount(LONG *count) override { return TimelineNode::CountOf(groups, count); }
    HRESULT STDMETHODCALLTYPE ClearAllGroups() override
    {
        for (TimelineNode *g : groups) g->Release();
        groups.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInsertMode(LONG *mode) override
    {
        if (!mode) return E_POINTER;
        *mode = insert_mode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInsertMode(LONG mode) override
    {
        if (mode != TIMELINE_INSERT_MODE_INSERT && mode != TIMELINE_INSERT_MODE_OVERLAY) return E_INVALIDARG;
        insert_mode = mode;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableTransitions(BOOL enabled) override { transitions_on = enabled; return S_OK; }
    HRESULT STDMETHODCALLTYPE TransitionsEnabled(BOOL *enabled) override
    {
        if (!enabled) return E_POINTER;
        *enabled = transitions_on;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableEffects(BOOL enabled) override { effects_on = enabled; return S_OK; }
    HRESULT STDMETHODCALLTYPE EffectsEnabled(BOOL *enabled) override
    {
        if (!enabled) return E_POINTER;
        *enabled = effects_on;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInterestRange(REFERENCE_TIME start, REFERENCE_TIME stop) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDuration(REFERENCE_TIME *duration) override
    {
        if (!duration) return E_POINTER;
        *duration = Duration();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDuration2(double *duration) override
    {
        if (!duration) return E_POINTER;
        *duration = to_seconds(Duration());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultFPS(double fps) override
    {
        if (!(fps > 0.0) || fps > 1000.0) return E_INVALIDARG;
        default_fps = fps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultFPS(double *fps) override
    {
        if (!fps) return E_POINTER;
        *fps = default_fps;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty(BOOL *dirty) override
    {
        if (!dirty) return E_POINTER;
        *dirty = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDirtyRange(REFERENCE_TIME *start, REFERENCE_TIME *stop) override
    {
        if (!start || !stop) return E_POINTER;
        *start = *stop = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCountOfType(LONG group, LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE type) override
    {
        if (!value || !with_comps) return E_POINTER;
        if (group < 0 || group >= (LONG)groups.size()) return E_INVALIDARG;
        return groups[group]->GetCountOfType(value, with_comps, type);
    }
    HRESULT STDMETHODCALLTYPE ValidateSourceNames(LONG flags, IMediaLocator *override, LONG_PTR notify) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultTransition(GUID *guid) override
    {
        if (!guid) return E_POINTER;
        default_transition = *guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultTransition(GUID *guid) override
    {
        if (!guid) return E_POINTER;
        *guid = default_transition;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultEffect(GUID *guid) override
    {
        if (!guid) return E_POINTER;
        default_effect = *guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultEffect(GUID *guid) override
    {
        if (!guid) return E_POINTER;
        *guid = default_effect;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDefaultTransitionB(BSTR text) override
    {
        if (!text) return E_POINTER;
        return FAILED(CLSIDFromString(text, &default_transition)) ? E_INVALIDARG : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultTransitionB(BSTR *text) override { return GuidText(default_transition, text); }
    HRESULT STDMETHODCALLTYPE SetDefaultEffectB(BSTR text) override
    {
        if (!text) return E_POINTER;
        return FAILED(CLSIDFromString(text, &default_effect)) ? E_INVALIDARG : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultEffectB(BSTR *text) override { return GuidText(default_effect, text); }

    // IPlatformTimeline
    HRESULT STDMETHODCALLTYPE CopyTimeline(TimelineCopy **out) override;

    double default_fps;

private:
    ~Timeline()
    {
        for (TimelineNode *g : groups)
        {
            g->ForgetTimeline();
            g->Release();
        }
        PlatformObjectDestroyed();
    }
    static HRESULT GuidText(const GUID &guid, BSTR *text)
    {
        WCHAR buffer[40];
        if (!text) return E_POINTER;
        StringFromGUID2(guid, buffer, ARRAYSIZE(buffer));
        return (*text = SysAllocString(buffer)) ? S_OK : E_OUTOFMEMORY;
    }
    REFERENCE_TIME Duration();
    HRESULT CopyGroup(TimelineNode *group, TimelineGroupCopy *out);

    LONG ref;
    LONG next_id;
    std::vector<TimelineNode *> groups;
    LONG insert_mode;
    BOOL transitions_on, effects_on;
    GUID default_transition, default_effect;
};

/* ---- TimelineNode ---- */

TimelineNode::TimelineNode(TIMELINE_MAJOR_TYPE t, Timeline *tl, LONG id)
    : type(t), timeline(tl), parent(NULL), start(0), stop(0), setter(NULL), sub_guid(GUID_NULL),
      sub_object(NULL), user_id(0), gen_id(id), user_name(NULL), muted(FALSE), locked(FALSE), dirty_start(0),
      dirty_stop(0), has_mt(false), output_fps(0.0), group_name(NULL), preview(TRUE), buffering(30),
      media_start(0), media_stop(0), media_length(0), media_name(NULL), stream_number(0), source_fps(0.0),
      stretch_mode(RESIZEF_STRETCH), cut_point(-1), swap_inputs(FALSE), cuts_only(FALSE), ref(1)
{
    memset(&mt, 0, sizeof(mt));
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
    if (has_mt) FreeMediaType(&mt);
    SysFreeString(user_name);
    SysFreeString(group_name);
    SysFreeString(media_name);
    PlatformObjectDestroyed();
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
    if (g && g->output_fps > 0.0) return g->output_fps;
    return timeline ? timeline->default_fps : DEFAULT_FPS;
}

LONG TimelineNode::IndexIn(const std::vector<TimelineNode *> &list) const
{
    for (size_t i = 0; i < list.size(); i++)
        if (list[i] == this) return (LONG)i;
    return -1;
}

HRESULT TimelineNode::CountOf(const std::vector<TimelineNode *> &list, LONG *count)
{
    if (!count) return E_POINTER;
    *count = (LONG)list.size();
    return S_OK;
}

HRESULT TimelineNode::NodeAt(const std::vector<TimelineNode *> &list, LONG which, IAMTimelineObj **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (which < 0 || which >= (LONG)list.size()) return E_INVALIDARG;
    *out = static_cast<IAMTimelineObj *>(list[which]);
    (*out)->AddRef();
    return S_OK;
}

HRESULT TimelineNode::Swap(std::vector<TimelineNode *> &list, LONG a, LONG b)
{
    if (a < 0 || b < 0 || a >= (LONG)list.size() || b >= (LONG)list.size()) return E_INVALIDARG;
    std::swap(list[a], list[b]);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::QueryInterface(REFIID riid, void **out)
{
    bool group = Is(TIMELINE_MAJOR_TYPE_GROUP), comp = Is(TIMELINE_MAJOR_TYPE_COMPOSITE);
    bool track = Is(TIMELINE_MAJOR_TYPE_TRACK), source = Is(TIMELINE_MAJOR_TYPE_SOURCE);

    if (!out) return E_POINTER;
    *out = NULL;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAMTimelineObj))
        *out = static_cast<IAMTimelineObj *>(this);
    else if (IsEqualIID(riid, IID_TimelineNodeSelf))
        *out = this;
    else if (IsEqualIID(riid, IID_IAMTimelineGroup) && group)
        *out = static_cast<IAMTimelineGroup *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineComp) && (group || comp))
        *out = static_cast<IAMTimelineComp *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineTrack) && track)
        *out = static_cast<IAMTimelineTrack *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineSrc) && source)
        *out = static_cast<IAMTimelineSrc *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineTrans) && Is(TIMELINE_MAJOR_TYPE_TRANSITION))
        *out = static_cast<IAMTimelineTrans *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineTransable) && (track || comp))
        *out = static_cast<IAMTimelineTransable *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineEffect) && Is(TIMELINE_MAJOR_TYPE_EFFECT))
        *out = static_cast<IAMTimelineEffect *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineEffectable) && (track || comp || source))
        *out = static_cast<IAMTimelineEffectable *>(this);
    else if (IsEqualIID(riid, IID_IAMTimelineVirtualTrack) && (track || comp))
        *out = static_cast<IAMTimelineVirtualTrack *>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

TimelineNode *node_from(IAMTimelineObj *obj)
{
    void *self;
    if (!obj || FAILED(obj->QueryInterface(IID_TimelineNodeSelf, &self))) return NULL;
    TimelineNode *node = static_cast<TimelineNode *>(self);
    node->Release();
    return node;
}

REFERENCE_TIME TimelineNode::RoundToFrame(REFERENCE_TIME t)
{
    double fps = Fps();
    double frames = floor((double)t * fps / UNITS + 0.5);
    return (REFERENCE_TIME)llround(frames * UNITS / fps);
}

HRESULT STDMETHODCALLTYPE TimelineNode::FixTimes(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (s) *s = RoundToFrame(start);
    if (e) *e = RoundToFrame(stop);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::FixMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e)
{
    if (s) *s = RoundToFrame(*s);
    if (e) *e = RoundToFrame(*e);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::Remove()
{
    if (!parent) return S_FALSE;
    for (auto *list : {&parent->children, &parent->transitions, &parent->effects})
    {
        auto it = std::find(list->begin(), list->end(), this);
        if (it != list->end())
        {
            list->erase(it);
            parent = NULL;
            Release();
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetTimelineNoRef(IAMTimeline **out)
{
    if (!out) return E_POINTER;
    *out = timeline;
    return timeline ? S_OK : E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TimelineNode::SetTimeline(IAMTimeline *tl)
{
    IPlatformTimeline *mine;
    if (!tl) return E_POINTER;
    if (FAILED(tl->QueryInterface(IID_IPlatformTimeline, (void **)&mine))) return E_INVALIDARG;
    mine->Release();
    timeline = static_cast<Timeline *>(mine);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetTimeline(IAMTimeline **out)
{
    if (!out) return E_POINTER;
    if ((*out = timeline)) timeline->AddRef();
    return timeline ? S_OK : E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TimelineNode::GetPriority(LONG *priority)
{
    if (!priority) return E_POINTER;
    *priority = -1;
    if (!timeline) return E_UNEXPECTED;
    LONG count = 0;
    timeline->GetGroupCount(&count);
    for (LONG i = 0; i < count; i++)
    {
        IAMTimelineObj *g;
        if (SUCCEEDED(timeline->GetGroup(&g, i)))
        {
            bool same = node_from(g) == this;
            g->Release();
            if (same)
            {
                *priority = i;
                return S_OK;
            }
        }
    }
    return E_UNEXPECTED;
}

// 0: video 320x240 RGB 5:5:5; 1: audio 44.1 kHz 16-bit stereo
HRESULT STDMETHODCALLTYPE TimelineNode::SetMediaTypeForVB(LONG which)
{
    AM_MEDIA_TYPE t = {};
    HRESULT hr;
    if (which == 0)
    {
        VIDEOINFOHEADER vih = {};
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = 320;
        vih.bmiHeader.biHeight = 240;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 16;
        vih.bmiHeader.biSizeImage = 320 * 2 * 240;
        t.majortype = MEDIATYPE_Video;
        t.subtype = MEDIASUBTYPE_RGB555;
        t.formattype = FORMAT_VideoInfo;
        t.bFixedSizeSamples = TRUE;
        t.lSampleSize = vih.bmiHeader.biSizeImage;
        t.cbFormat = sizeof(vih);
        t.pbFormat = (BYTE *)&vih;
        hr = SetMediaType(&t);
    }
    else if (which == 1)
    {
        WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
        t.majortype = MEDIATYPE_Audio;
        t.subtype = MEDIASUBTYPE_PCM;
        t.formattype = FORMAT_WaveFormatEx;
        t.cbFormat = sizeof(wfx);
        t.pbFormat = (BYTE *)&wfx;
        hr = SetMediaType(&t);
    }
    else
        hr = E_INVALIDARG;
    return hr;
}

HRESULT STDMETHODCALLTYPE TimelineNode::VTrackInsBefore(IAMTimelineObj *obj, LONG priority)
{
    TimelineNode *node = node_from(obj);
    if (!obj) return E_POINTER;
    if (!node || !(node->Is(TIMELINE_MAJOR_TYPE_TRACK) || node->Is(TIMELINE_MAJOR_TYPE_COMPOSITE)) || node->parent
            || node == this)
        return E_INVALIDARG;
    if (priority < -1) return E_INVALIDARG;
    size_t at = priority < 0 || priority > (LONG)children.size() ? children.size() : (size_t)priority;
    try { children.insert(children.begin() + at, node); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    node->AddRef();
    node->parent = this;
    return S_OK;
}

// Sources of a track do not overlap: a new source covers what it overlaps of the ones there, which are
// shortened (from the end, or from the start with their media start moved along) or taken out.
HRESULT STDMETHODCALLTYPE TimelineNode::SrcAdd(IAMTimelineObj *obj)
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
                old->media_start += src->stop - old->start;
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

HRESULT STDMETHODCALLTYPE TimelineNode::MoveEverythingBy(REFERENCE_TIME from, REFERENCE_TIME by)
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

// Transitions of one track do not overlap each other.
HRESULT STDMETHODCALLTYPE TimelineNode::TransAdd(IAMTimelineObj *obj)
{
    TimelineNode *t = node_from(obj);
    if (!obj) return E_POINTER;
    if (!t || !t->Is(TIMELINE_MAJOR_TYPE_TRANSITION) || t->parent) return E_INVALIDARG;
    for (TimelineNode *o : transitions)
        if (o->start < t->stop && t->start < o->stop) return E_INVALIDARG;
    size_t at = 0;
    while (at < transitions.size() && transitions[at]->start < t->start) at++;
    try { transitions.insert(transitions.begin() + at, t); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    t->AddRef();
    t->parent = this;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TimelineNode::EffectInsBefore(IAMTimelineObj *obj, LONG priority)
{
    TimelineNode *fx = node_from(obj);
    if (!obj) return E_POINTER;
    if (!fx || !fx->Is(TIMELINE_MAJOR_TYPE_EFFECT) || fx->parent || priority < -1) return E_INVALIDARG;
    size_t at = priority < 0 || priority > (LONG)effects.size() ? effects.size() : (size_t)priority;
    try { effects.insert(effects.begin() + at, fx); }
    catch (const std::bad_alloc &) { return E_OUTOFMEMORY; }
    fx->AddRef();
    fx->parent = this;
    return S_OK;
}

void TimelineNode::CountType(TIMELINE_MAJOR_TYPE t, LONG *value, LONG *with_comps)
{
    for (auto *list : {&children, &transitions, &effects})
        for (TimelineNode *n : *list)
        {
            if (n->type == t) { (*value)++; (*with_comps)++; }
            else if (n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE) && t == TIMELINE_MAJOR_TYPE_TRACK) (*with_comps)++;
            n->CountType(t, value, with_comps);
        }
}

HRESULT TimelineNode::ObjectAtTime(const std::vector<TimelineNode *> &list, IAMTimelineObj **out,
                                   REFERENCE_TIME time, LONG direction)
{
    TimelineNode *found = NULL;
    if (!out) return E_POINTER;
    *out = NULL;
    for (TimelineNode *n : list)
    {
        if (direction == DEXTERF_EXACTLY_AT && n->start <= time && time < n->stop) { found = n; break; }
        if (direction == DEXTERF_FORWARDS && n->start >= time) { found = n; break; }
        if (direction == DEXTERF_BOUNDING && n->start <= time && (time < n->stop || !found)) found = n;
    }
    if (!found) return S_FALSE;
    *out = static_cast<IAMTimelineObj *>(found);
    found->AddRef();
    return S_OK;
}

/* ---- Timeline ---- */

Timeline::Timeline()
    : default_fps(DEFAULT_FPS), ref(1), next_id(0), insert_mode(TIMELINE_INSERT_MODE_OVERLAY), transitions_on(TRUE),
      effects_on(TRUE), default_transition(GUID_NULL), default_effect(GUID_NULL)
{
    PlatformObjectCreated();
}

REFERENCE_TIME Timeline::Duration()
{
    REFERENCE_TIME end = 0;
    std::vector<TimelineNode *> work(groups.begin(), groups.end());
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

// A property's first value as text or number.
bool prop_text(const DEXTER_VALUE *v, WCHAR *text, size_t size)
{
    VARIANT s;
    VariantInit(&s);
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT *>(&v->v), 0, VT_BSTR))) return false;
    lstrcpynW(text, V_BSTR(&s) ? V_BSTR(&s) : L"", (int)size);
    VariantClear(&s);
    return true;
}

bool prop_number(const DEXTER_VALUE *v, double *out)
{
    VARIANT d;
    WCHAR text[64];
    VariantInit(&d);
    if (V_VT(&v->v) == VT_BSTR && prop_text(v, text, ARRAYSIZE(text)))
    {
        char narrow[64];
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
        char *end;
        *out = strtod(narrow, &end);
        return end != narrow;
    }
    if (FAILED(VariantChangeType(&d, const_cast<VARIANT *>(&v->v), 0, VT_R8))) return false;
    *out = V_R8(&d);
    return true;
}

// Unix path of a DOS path, in UTF-8.
bool unix_path(const WCHAR *dos, std::string *out)
{
    WCHAR full[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(dos, ARRAYSIZE(full), full, NULL);
    if (!n || n >= ARRAYSIZE(full)) return false;
    char *name = wine_get_unix_file_name(full);
    if (!name) return false;
    try { out->assign(name); }
    catch (const std::bad_alloc &) { HeapFree(GetProcessHeap(), 0, name); return false; }
    HeapFree(GetProcessHeap(), 0, name);
    return true;
}

void collect_layers(TimelineNode *comp, std::vector<TimelineNode *> *layers)
{
    for (TimelineNode *n : comp->children)
    {
        if (n->muted) continue;
        if (n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE)) collect_layers(n, layers);
        else layers->push_back(n);
    }
}

HRESULT Timeline::CopyGroup(TimelineNode *group, TimelineGroupCopy *out)
{
    gg_group &g = out->group;
    std::vector<TimelineNode *> layers;
    HRESULT hr;

    memset(&g, 0, sizeof(g));
    if (!group->has_mt || !group_format(&group->mt, &g)) return VFW_E_INVALIDMEDIATYPE;
    if (FAILED(hr = CopyMediaType(&out->mt, &group->mt))) return hr;
    fps_fraction(group->output_fps > 0.0 ? group->output_fps : default_fps, &g.fps_num, &g.fps_den);
    /* the group's pin states the frame rate it delivers */
    if (g.fps_num > 0 && IsEqualGUID(out->mt.formattype, FORMAT_VideoInfo) && out->mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        ((VIDEOINFOHEADER *)out->mt.pbFormat)->AvgTimePerFrame = (REFERENCE_TIME)10000000 * g.fps_den / g.fps_num;
    collect_layers(group, &layers);
    g.layers = (int)layers.size();

    // every string first, so that the pointers taken below stay put
    size_t names = 0;
    for (TimelineNode *track : layers) names += track->children.size();
    out->paths.reserve(names);
    out->elements.reserve(2 * (layers.size() + 1) * 8);

    for (size_t layer = 0; layer < layers.size(); layer++)
    {
        TimelineNode *track = layers[layer];
        for (TimelineNode *s : track->children)
        {
            if (s->muted || s->stop <= s->start) continue;
            if (!s->media_name || !*s->media_name) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            std::string path;
            if (!unix_path(s->media_name, &path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
            out->paths.push_back(path);
            gg_source src;
            src.layer = (int)layer;
            src.path = NULL;
            src.start = s->start * 100;
            src.stop = s->stop * 100;
            // media times left at 0..0 play the file from its start
            src.media_start = s->media_start * 100;
            src.media_stop = (s->media_stop > s->media_start ? s->media_stop : s->media_start + s->stop - s->start) * 100;
            src.keep_aspect = s->stretch_mode == RESIZEF_PRESERVEASPECTRATIO
                           || s->stretch_mode == RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX;
            out->sources.push_back(src);
        }
        if (transitions_on && g.video)
            for (TimelineNode *t : track->transitions)
            {
                if (t->muted || t->stop <= t->start) continue;
                gg_transition tr = {};
                tr.layer = (int)layer;
                tr.start = t->start * 100;
                tr.stop = t->stop * 100;
                tr.swap = t->swap_inputs;
                if (IsEqualGUID(t->sub_guid, CLSID_DxtKey))
                {
                    // keys by colour: KeyType 0 with "RGB" as 0xRRGGBB (black when not given)
                    tr.element = NULL;
                    tr.key_rgb = 0;
                    if (t->setter)
                    {
                        LONG count = 0;
                        DEXTER_PARAM *params;
                        DEXTER_VALUE *values;
                        if (SUCCEEDED(t->setter->GetProps(&count, &params, &values)))
                        {
                            LONG k = 0;
                            for (LONG i = 0; i < count; i++)
                            {
                                double number;
                                if (params[i].nValues > 0 && !lstrcmpiW(params[i].name, L"RGB")
                                        && prop_number(&values[k], &number))
                                    tr.key_rgb = (unsigned)(LONGLONG)number & 0xffffff;
                                if (params[i].nValues > 0 && !lstrcmpiW(params[i].name, L"RGB")
                                        && V_VT(&values[k].v) == VT_BSTR)
                                {
                                    WCHAR text[64];
                                    char narrow[64];
                                    prop_text(&values[k], text, ARRAYSIZE(text));
                                    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), NULL, NULL);
                                    tr.key_rgb = (unsigned)strtoul(narrow, NULL, 0) & 0xffffff;
                                }
                                k += params[i].nValues;
                            }
                            t->setter->FreeProps(count, params, values);
                        }
                    }
                }
                else
                {
                    const TransitionEntry *entry = CatalogFindTransition(t->sub_guid);
                    if (!entry) continue;   // not a transition this platform draws: the clip cuts in
                    out->elements.push_back(entry->element);
                    out->elements.push_back(entry->properties);
                    tr.element = NULL;      // pointed at the strings in Finish
                    tr.properties = NULL;
                    tr.key_rgb = (unsigned)(out->elements.size() - 2) | 0x80000000u;
                }
                out->transitions.push_back(tr);
            }
        if (effects_on && !g.video)
            for (TimelineNode *fx : track->effects)
            {
                if (fx->muted || !IsEqualGUID(fx->sub_guid, CLSID_AudMixer) || !fx->setter) continue;
                gg_volume v = {};
                v.layer = (int)layer;
                v.start = fx->start * 100;
                v.stop = fx->stop * 100;
                LONG count = 0;
                DEXTER_PARAM *params;
                DEXTER_VALUE *values;
                if (FAILED(fx->setter->GetProps(&count, &params, &values))) continue;
                LONG k = 0;
                for (LONG i = 0; i < count; i++)
                {
                    if (!lstrcmpiW(params[i].name, L"Vol"))
                        for (LONG j = 0; j < params[i].nValues && v.count < GG_MAX_POINTS; j++)
                        {
                            double level;
                            if (!prop_number(&values[k + j], &level)) continue;
                            v.points[v.count].time = values[k + j].rt * 100;
                            v.points[v.count].value = level;
                            v.points[v.count].interpolate = values[k + j].dwInterp == DEXTERF_INTERPOLATE;
                            v.count++;
                        }
                    k += params[i].nValues;
                }
                fx->setter->FreeProps(count, params, values);
                if (v.count) out->volumes.push_back(v);
            }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Timeline::CopyTimeline(TimelineCopy **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    if (groups.empty()) return E_INVALIDARG;
    TimelineCopy *copy = new (std::nothrow) TimelineCopy();
    if (!copy) return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    try
    {
        copy->groups.resize(groups.size());
        for (size_t i = 0; i < groups.size() && SUCCEEDED(hr); i++)
        {
            memset(&copy->groups[i].mt, 0, sizeof(AM_MEDIA_TYPE));
            hr = CopyGroup(groups[i], &copy->groups[i]);
        }
        copy->length = Duration();
        if (SUCCEEDED(hr)) copy->Finish();
    }
    catch (const std::bad_alloc &)
    {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr))
    {
        delete copy;
        return hr;
    }
    *out = copy;
    return S_OK;
}

}  // namespace

TimelineCopy::~TimelineCopy()
{
    for (auto &g : groups) FreeMediaType(&g.mt);
}

void TimelineCopy::Finish()
{
    flat.clear();
    for (auto &g : groups)
    {
        for (size_t i = 0; i < g.sources.size(); i++) g.sources[i].path = g.paths[i].c_str();
        for (auto &t : g.transitions)
            if (t.key_rgb & 0x80000000u)
            {
                size_t at = t.key_rgb & 0x7fffffffu;
                t.element = g.elements[at].c_str();
                t.properties = g.elements[at + 1].c_str();
                t.key_rgb = 0;
            }
        g.group.sources = g.sources.data();
        g.group.source_count = (int)g.sources.size();
        g.group.transitions = g.transitions.data();
        g.group.transition_count = (int)g.transitions.size();
        g.group.volumes = g.volumes.data();
        g.group.volume_count = (int)g.volumes.size();
        flat.push_back(g.group);
    }
}

HRESULT GlueStatusToHresult(int status)
{
    switch (status)
    {
    case GG_OK: return S_OK;
    case GG_NOT_FOUND: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case GG_UNSUPPORTED: return VFW_E_UNSUPPORTED_STREAM;
    case GG_INVALID: return E_INVALIDARG;
    case GG_NO_MEMORY: return E_OUTOFMEMORY;
    default: return E_FAIL;
    }
}

HRESULT CreateTimeline(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    *out = NULL;
    Timeline *tl = new (std::nothrow) Timeline();
    if (!tl) return E_OUTOFMEMORY;
    HRESULT hr = tl->QueryInterface(riid, out);
    tl->Release();
    return hr;
}
