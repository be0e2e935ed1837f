/*
 * The timeline's objects, private to editing/. Every node shares one core (node.cpp): its times, its
 * sub-object, its user data and the IAMTimelineObj that answers for them. The kinds add their own
 * interfaces: groups (group.cpp), compositions and the layer order they share with groups
 * (composition.cpp), tracks (track.cpp), sources (source.cpp), transitions and effects (transition.cpp);
 * the holders of transitions and effects and the splitting that tracks, sources, transitions and effects
 * share are in holders.cpp. The timeline itself is timeline.cpp, its copy for the render engine
 * timelinecopy.cpp.
 *
 * The timeline holds its groups and every node holds its children; a child knows its parent and the
 * timeline without a reference.
 */
#ifndef MEDIAPLATFORM_NODES_H
#define MEDIAPLATFORM_NODES_H

#include "editing/timeline.h"

#include <math.h>
#include <set>
#include <vector>

namespace editing {

const REFERENCE_TIME UNITS = 10000000;
const double DEFAULT_FPS = 15.0;

inline REFERENCE_TIME to_units(double seconds) { return (REFERENCE_TIME)llround(seconds * UNITS); }
inline double to_seconds(REFERENCE_TIME t) { return (double)t / UNITS; }

// A group's media type in the glue's terms; false for what the platform cannot deliver.
bool group_format(const AM_MEDIA_TYPE *mt, gg_group *g);

class Timeline;
class TimelineNode;
typedef std::vector<TimelineNode *> NodeList;

// Private: QueryInterface for it hands out the node object itself, with a reference.
const GUID IID_TimelineNodeSelf = {0x1d4f6b2e, 0x8a31, 0x4c7e, {0x9b, 0x02, 0x5e, 0x6d, 0x73, 0xa8, 0x1f, 0x94}};

// The node object behind an interface pointer, when it is one of ours.
TimelineNode *node_from(IUnknown *obj);

// A new node of a kind IAMTimeline::CreateEmptyNode makes, or NULL (no memory, or not such a kind).
TimelineNode *NewNode(TIMELINE_MAJOR_TYPE type, Timeline *tl, LONG id);

class TimelineNode : public IAMTimelineObj
{
public:
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
    // group, composition: tracks and compositions by priority; track: sources by time
    NodeList children;
    NodeList transitions;
    NodeList effects;

    bool Is(TIMELINE_MAJOR_TYPE t) const { return type == t; }
    void Detach() { parent = NULL; }
    void ForgetTimeline();
    double Fps();
    TimelineNode *Group();
    LONG IndexIn(const NodeList &list) const;
    REFERENCE_TIME RoundToFrame(REFERENCE_TIME t);
    bool IsContainer() const
    {
        return Is(TIMELINE_MAJOR_TYPE_GROUP) || Is(TIMELINE_MAJOR_TYPE_COMPOSITE) || Is(TIMELINE_MAJOR_TYPE_TRACK);
    }
    // end of the latest object below a group, composition or track: their own stop
    REFERENCE_TIME ContentEnd() const;
    // a new node of the same kind with the same properties, in no tree; NULL without memory
    TimelineNode *Duplicate();
    // cuts the node at t (timeline time, inside it): this keeps the part before, *second (a new node
    // beside it in the parent's list, with a reference) the part from t
    HRESULT SplitInTwo(REFERENCE_TIME t, TimelineNode **second);
    // takes the node out of its parent's lists; false when it had none
    bool Unlink();
    // what the interfaces ask of one list of nodes: its size, one node by index, two swapped, one at a time
    static HRESULT CountOf(const NodeList &list, LONG *count);
    static HRESULT NodeAt(const NodeList &list, LONG which, IAMTimelineObj **out);
    static HRESULT Swap(NodeList &list, LONG a, LONG b);
    static HRESULT ObjectAtTime(const NodeList &list, IAMTimelineObj **out, REFERENCE_TIME time, LONG direction);
    static HRESULT NextAfter(const NodeList &list, IAMTimelineObj *last, IAMTimelineObj **next);
    IAMTimelineObj *Obj() { return static_cast<IAMTimelineObj *>(this); }

    // IUnknown: every kind answers through these
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IAMTimelineObj
    HRESULT STDMETHODCALLTYPE GetStartStop(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE GetStartStop2(REFTIME *s, REFTIME *e) override;
    HRESULT STDMETHODCALLTYPE FixTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE FixTimes2(REFTIME *s, REFTIME *e) override;
    HRESULT STDMETHODCALLTYPE SetStartStop(REFERENCE_TIME s, REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE SetStartStop2(REFTIME s, REFTIME e) override;
    HRESULT STDMETHODCALLTYPE GetPropertySetter(IPropertySetter **out) override;
    HRESULT STDMETHODCALLTYPE SetPropertySetter(IPropertySetter *s) override;
    HRESULT STDMETHODCALLTYPE GetSubObject(IUnknown **out) override;
    HRESULT STDMETHODCALLTYPE SetSubObject(IUnknown *obj) override;
    HRESULT STDMETHODCALLTYPE SetSubObjectGUID(GUID guid) override;
    HRESULT STDMETHODCALLTYPE SetSubObjectGUIDB(BSTR text) override;
    HRESULT STDMETHODCALLTYPE GetSubObjectGUID(GUID *guid) override;
    HRESULT STDMETHODCALLTYPE GetSubObjectGUIDB(BSTR *text) override;
    HRESULT STDMETHODCALLTYPE GetSubObjectLoaded(BOOL *loaded) override;
    HRESULT STDMETHODCALLTYPE GetTimelineType(TIMELINE_MAJOR_TYPE *t) override;
    HRESULT STDMETHODCALLTYPE SetTimelineType(TIMELINE_MAJOR_TYPE t) override;
    HRESULT STDMETHODCALLTYPE GetUserID(LONG *id) override;
    HRESULT STDMETHODCALLTYPE SetUserID(LONG id) override;
    HRESULT STDMETHODCALLTYPE GetGenID(LONG *id) override;
    HRESULT STDMETHODCALLTYPE GetUserName(BSTR *name) override;
    HRESULT STDMETHODCALLTYPE SetUserName(BSTR name) override;
    HRESULT STDMETHODCALLTYPE GetUserData(BYTE *data, LONG *size) override;
    HRESULT STDMETHODCALLTYPE SetUserData(BYTE *data, LONG size) override;
    HRESULT STDMETHODCALLTYPE GetMuted(BOOL *m) override;
    HRESULT STDMETHODCALLTYPE SetMuted(BOOL m) override;
    HRESULT STDMETHODCALLTYPE GetLocked(BOOL *l) override;
    HRESULT STDMETHODCALLTYPE SetLocked(BOOL l) override;
    HRESULT STDMETHODCALLTYPE GetDirtyRange(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE GetDirtyRange2(REFTIME *s, REFTIME *e) override;
    HRESULT STDMETHODCALLTYPE SetDirtyRange(REFERENCE_TIME s, REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE SetDirtyRange2(REFTIME s, REFTIME e) override;
    HRESULT STDMETHODCALLTYPE ClearDirty() override;
    HRESULT STDMETHODCALLTYPE Remove() override;
    HRESULT STDMETHODCALLTYPE RemoveAll() override;
    HRESULT STDMETHODCALLTYPE GetTimelineNoRef(IAMTimeline **out) override;
    HRESULT STDMETHODCALLTYPE GetGroupIBelongTo(IAMTimelineGroup **out) override;
    HRESULT STDMETHODCALLTYPE GetEmbedDepth(LONG *depth) override;

protected:
    TimelineNode(TIMELINE_MAJOR_TYPE t, Timeline *tl, LONG id);
    virtual ~TimelineNode();
    // the interfaces of the node's kind beside IAMTimelineObj, or NULL
    virtual void *KindInterface(REFIID riid) = 0;
    // copies what the kind adds to the core (Duplicate); false without memory
    virtual bool CopyKindTo(TimelineNode *other) { return true; }
    // the kind's own times after a split at t (the core's start and stop are already cut)
    virtual void SplitKind(REFERENCE_TIME t, TimelineNode *second) {}

private:
    LONG ref;
};

// Each kind answers IUnknown, whichever of its interfaces it is reached through, as its core does.
#define TIMELINE_NODE_IUNKNOWN \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override \
    { return TimelineNode::QueryInterface(riid, out); } \
    ULONG STDMETHODCALLTYPE AddRef() override { return TimelineNode::AddRef(); } \
    ULONG STDMETHODCALLTYPE Release() override { return TimelineNode::Release(); }

/* ---- What several kinds share (holders.cpp, composition.cpp) ---- */

// Transitions held by a track or composition, in time order, none overlapping another.
class Transable : public IAMTimelineTransable
{
public:
    HRESULT STDMETHODCALLTYPE TransAdd(IAMTimelineObj *trans) override;
    HRESULT STDMETHODCALLTYPE TransGetCount(LONG *count) override;
    HRESULT STDMETHODCALLTYPE GetNextTrans(IAMTimelineObj **out, REFERENCE_TIME *in_out) override;
    HRESULT STDMETHODCALLTYPE GetNextTrans2(IAMTimelineObj **out, REFTIME *in_out) override;
    HRESULT STDMETHODCALLTYPE GetTransAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction) override;
    HRESULT STDMETHODCALLTYPE GetTransAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction) override;

protected:
    explicit Transable(TimelineNode *n) : holder(n) {}
    TimelineNode *holder;
};

// Effects held by a track, composition or source, by priority.
class Effectable : public IAMTimelineEffectable
{
public:
    HRESULT STDMETHODCALLTYPE EffectInsBefore(IAMTimelineObj *fx, LONG priority) override;
    HRESULT STDMETHODCALLTYPE EffectSwapPriorities(LONG a, LONG b) override;
    HRESULT STDMETHODCALLTYPE EffectGetCount(LONG *count) override;
    HRESULT STDMETHODCALLTYPE GetEffect(IAMTimelineObj **out, LONG which) override;

protected:
    explicit Effectable(TimelineNode *n) : holder(n) {}
    TimelineNode *holder;
};

// Sources, transitions and effects are cut in two; a track cuts everything it holds.
class Splittable : public IAMTimelineSplittable
{
public:
    HRESULT STDMETHODCALLTYPE SplitAt(REFERENCE_TIME time) override;
    HRESULT STDMETHODCALLTYPE SplitAt2(REFTIME time) override;

protected:
    explicit Splittable(TimelineNode *n) : piece(n) {}
    TimelineNode *piece;
};

// A track or composition as one layer of the composition or group above it.
class VirtualTrack : public IAMTimelineVirtualTrack
{
public:
    HRESULT STDMETHODCALLTYPE TrackGetPriority(LONG *priority) override;
    HRESULT STDMETHODCALLTYPE SetTrackDirty() override;

protected:
    explicit VirtualTrack(TimelineNode *n) : layer(n) {}
    TimelineNode *layer;
};

// The layers of a group or composition: tracks and compositions by priority, the lowest first.
class Layers : public IAMTimelineComp
{
public:
    HRESULT STDMETHODCALLTYPE VTrackInsBefore(IAMTimelineObj *track, LONG priority) override;
    HRESULT STDMETHODCALLTYPE VTrackSwapPriorities(LONG a, LONG b) override;
    HRESULT STDMETHODCALLTYPE VTrackGetCount(LONG *count) override;
    HRESULT STDMETHODCALLTYPE GetVTrack(IAMTimelineObj **out, LONG which) override;
    HRESULT STDMETHODCALLTYPE GetCountOfType(LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE t) override;
    HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfType(IAMTimelineObj **out, LONG which, TIMELINE_MAJOR_TYPE t) override;
    HRESULT STDMETHODCALLTYPE GetRecursiveLayerOfTypeI(IAMTimelineObj **out, LONG *which, TIMELINE_MAJOR_TYPE t) override;
    HRESULT STDMETHODCALLTYPE GetNextVTrack(IAMTimelineObj *track, IAMTimelineObj **next) override;

protected:
    explicit Layers(TimelineNode *n) : comp(n) {}
    TimelineNode *comp;
};

/* ---- The kinds ---- */

class GroupNode final : public TimelineNode, public IAMTimelineGroup, public Layers, public Transable
{
public:
    GroupNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

    AM_MEDIA_TYPE mt;
    bool has_mt;
    double output_fps;
    BSTR group_name;
    BOOL preview;
    int buffering;
    bool has_recompress;
    SCompFmt0 recompress;           // its media type owned here

    // IAMTimelineGroup
    HRESULT STDMETHODCALLTYPE SetTimeline(IAMTimeline *tl) override;
    HRESULT STDMETHODCALLTYPE GetTimeline(IAMTimeline **out) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG *priority) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE *out) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE SetOutputFPS(double fps) override;
    HRESULT STDMETHODCALLTYPE GetOutputFPS(double *fps) override;
    HRESULT STDMETHODCALLTYPE SetGroupName(BSTR name) override;
    HRESULT STDMETHODCALLTYPE GetGroupName(BSTR *name) override;
    HRESULT STDMETHODCALLTYPE SetPreviewMode(BOOL p) override;
    HRESULT STDMETHODCALLTYPE GetPreviewMode(BOOL *p) override;
    HRESULT STDMETHODCALLTYPE SetMediaTypeForVB(LONG which) override;
    HRESULT STDMETHODCALLTYPE GetOutputBuffering(int *b) override;
    HRESULT STDMETHODCALLTYPE SetOutputBuffering(int b) override;
    HRESULT STDMETHODCALLTYPE SetSmartRecompressFormat(LONG *format) override;
    HRESULT STDMETHODCALLTYPE GetSmartRecompressFormat(LONG **format) override;
    HRESULT STDMETHODCALLTYPE IsSmartRecompressFormatSet(BOOL *set) override;
    HRESULT STDMETHODCALLTYPE IsRecompressFormatDirty(BOOL *dirty) override;
    HRESULT STDMETHODCALLTYPE ClearRecompressFormatDirty() override;
    HRESULT STDMETHODCALLTYPE SetRecompFormatFromSource(IAMTimelineSrc *source) override;

private:
    ~GroupNode();
    void *KindInterface(REFIID riid) override;
    bool InTimeline();
};

class CompositionNode final : public TimelineNode, public Layers, public Transable, public Effectable,
                              public VirtualTrack
{
public:
    CompositionNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

private:
    void *KindInterface(REFIID riid) override;
};

class TrackNode final : public TimelineNode, public IAMTimelineTrack, public Transable, public Effectable,
                        public VirtualTrack, public Splittable
{
public:
    TrackNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

    // IAMTimelineTrack
    HRESULT STDMETHODCALLTYPE SrcAdd(IAMTimelineObj *source) override;
    HRESULT STDMETHODCALLTYPE GetNextSrc(IAMTimelineObj **out, REFERENCE_TIME *in_out) override;
    HRESULT STDMETHODCALLTYPE GetNextSrc2(IAMTimelineObj **out, REFTIME *in_out) override;
    HRESULT STDMETHODCALLTYPE MoveEverythingBy(REFERENCE_TIME from, REFERENCE_TIME by) override;
    HRESULT STDMETHODCALLTYPE MoveEverythingBy2(REFTIME from, REFTIME by) override;
    HRESULT ShiftFrom(REFERENCE_TIME from, REFERENCE_TIME by);   // what starts at from or later moves by
    HRESULT STDMETHODCALLTYPE GetSourcesCount(LONG *count) override;
    HRESULT STDMETHODCALLTYPE AreYouBlank(LONG *blank) override;
    HRESULT STDMETHODCALLTYPE GetSrcAtTime(IAMTimelineObj **out, REFERENCE_TIME time, LONG direction) override;
    HRESULT STDMETHODCALLTYPE GetSrcAtTime2(IAMTimelineObj **out, REFTIME time, LONG direction) override;
    HRESULT STDMETHODCALLTYPE InsertSpace(REFERENCE_TIME s, REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE InsertSpace2(REFTIME s, REFTIME e) override;
    HRESULT STDMETHODCALLTYPE ZeroBetween(REFERENCE_TIME s, REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE ZeroBetween2(REFTIME s, REFTIME e) override;
    HRESULT STDMETHODCALLTYPE GetNextSrcEx(IAMTimelineObj *last, IAMTimelineObj **next) override;

    // cuts every source, transition and effect that spans t; S_FALSE when t is past everything
    HRESULT SplitAll(REFERENCE_TIME t);

private:
    void *KindInterface(REFIID riid) override;
};

class SourceNode final : public TimelineNode, public IAMTimelineSrc, public Effectable, public Splittable
{
public:
    SourceNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

    REFERENCE_TIME media_start, media_stop, media_length;
    BSTR media_name;
    LONG stream_number;
    double source_fps;
    int stretch_mode;

    // IAMTimelineSrc
    HRESULT STDMETHODCALLTYPE GetMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE GetMediaTimes2(REFTIME *s, REFTIME *e) override;
    HRESULT STDMETHODCALLTYPE ModifyStopTime(REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE ModifyStopTime2(REFTIME e) override;
    HRESULT STDMETHODCALLTYPE FixMediaTimes(REFERENCE_TIME *s, REFERENCE_TIME *e) override;
    HRESULT STDMETHODCALLTYPE FixMediaTimes2(REFTIME *s, REFTIME *e) override;
    HRESULT STDMETHODCALLTYPE SetMediaTimes(REFERENCE_TIME s, REFERENCE_TIME e) override;
    HRESULT STDMETHODCALLTYPE SetMediaTimes2(REFTIME s, REFTIME e) override;
    HRESULT STDMETHODCALLTYPE SetMediaLength(REFERENCE_TIME length) override;
    HRESULT STDMETHODCALLTYPE SetMediaLength2(REFTIME length) override;
    HRESULT STDMETHODCALLTYPE GetMediaLength(REFERENCE_TIME *length) override;
    HRESULT STDMETHODCALLTYPE GetMediaLength2(REFTIME *length) override;
    HRESULT STDMETHODCALLTYPE GetMediaName(BSTR *name) override;
    HRESULT STDMETHODCALLTYPE SetMediaName(BSTR name) override;
    HRESULT STDMETHODCALLTYPE SpliceWithNext(IAMTimelineObj *next) override;
    HRESULT STDMETHODCALLTYPE GetStreamNumber(LONG *n) override;
    HRESULT STDMETHODCALLTYPE SetStreamNumber(LONG n) override;
    HRESULT STDMETHODCALLTYPE IsNormalRate(BOOL *normal) override;
    HRESULT STDMETHODCALLTYPE GetDefaultFPS(double *fps) override;
    HRESULT STDMETHODCALLTYPE SetDefaultFPS(double fps) override;
    HRESULT STDMETHODCALLTYPE GetStretchMode(int *mode) override;
    HRESULT STDMETHODCALLTYPE SetStretchMode(int mode) override;

private:
    ~SourceNode();
    void *KindInterface(REFIID riid) override;
    bool CopyKindTo(TimelineNode *other) override;
    void SplitKind(REFERENCE_TIME t, TimelineNode *second) override;
};

class TransitionNode final : public TimelineNode, public IAMTimelineTrans, public Splittable
{
public:
    TransitionNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

    REFERENCE_TIME cut_point;       // from the start; -1 while not set
    BOOL swap_inputs, cuts_only;
    // the cut point in force: as set, or the middle, and always inside the transition
    REFERENCE_TIME CutPoint() const;

    // IAMTimelineTrans
    HRESULT STDMETHODCALLTYPE GetCutPoint(REFERENCE_TIME *t) override;
    HRESULT STDMETHODCALLTYPE GetCutPoint2(REFTIME *t) override;
    HRESULT STDMETHODCALLTYPE SetCutPoint(REFERENCE_TIME t) override;
    HRESULT STDMETHODCALLTYPE SetCutPoint2(REFTIME t) override;
    HRESULT STDMETHODCALLTYPE GetSwapInputs(BOOL *v) override;
    HRESULT STDMETHODCALLTYPE SetSwapInputs(BOOL v) override;
    HRESULT STDMETHODCALLTYPE GetCutsOnly(BOOL *v) override;
    HRESULT STDMETHODCALLTYPE SetCutsOnly(BOOL v) override;

private:
    void *KindInterface(REFIID riid) override;
    bool CopyKindTo(TimelineNode *other) override;
};

class EffectNode final : public TimelineNode, public IAMTimelineEffect, public Splittable
{
public:
    EffectNode(Timeline *tl, LONG id);
    TIMELINE_NODE_IUNKNOWN

    // IAMTimelineEffect
    HRESULT STDMETHODCALLTYPE EffectGetPriority(LONG *priority) override;

private:
    void *KindInterface(REFIID riid) override;
};

inline GroupNode *as_group(TimelineNode *n) { return static_cast<GroupNode *>(n); }
inline SourceNode *as_source(TimelineNode *n) { return static_cast<SourceNode *>(n); }
inline TransitionNode *as_transition(TimelineNode *n) { return static_cast<TransitionNode *>(n); }

/* ---- The timeline ---- */

class Timeline final : public IAMTimeline, public IAMSetErrorLog, public IObjectWithSite, public IPersistStream,
                       public IPlatformTimeline
{
public:
    Timeline();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    // IAMTimeline
    HRESULT STDMETHODCALLTYPE CreateEmptyNode(IAMTimelineObj **obj, TIMELINE_MAJOR_TYPE type) override;
    HRESULT STDMETHODCALLTYPE AddGroup(IAMTimelineObj *group) override;
    HRESULT STDMETHODCALLTYPE RemGroupFromList(IAMTimelineObj *group) override;
    HRESULT STDMETHODCALLTYPE GetGroup(IAMTimelineObj **group, LONG index) override;
    HRESULT STDMETHODCALLTYPE GetGroupCount(LONG *count) override;
    HRESULT STDMETHODCALLTYPE ClearAllGroups() override;
    HRESULT STDMETHODCALLTYPE GetInsertMode(LONG *mode) override;
    HRESULT STDMETHODCALLTYPE SetInsertMode(LONG mode) override;
    HRESULT STDMETHODCALLTYPE EnableTransitions(BOOL enabled) override;
    HRESULT STDMETHODCALLTYPE TransitionsEnabled(BOOL *enabled) override;
    HRESULT STDMETHODCALLTYPE EnableEffects(BOOL enabled) override;
    HRESULT STDMETHODCALLTYPE EffectsEnabled(BOOL *enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterestRange(REFERENCE_TIME start, REFERENCE_TIME stop) override;
    HRESULT STDMETHODCALLTYPE GetDuration(REFERENCE_TIME *duration) override;
    HRESULT STDMETHODCALLTYPE GetDuration2(double *duration) override;
    HRESULT STDMETHODCALLTYPE SetDefaultFPS(double fps) override;
    HRESULT STDMETHODCALLTYPE GetDefaultFPS(double *fps) override;
    HRESULT STDMETHODCALLTYPE IsDirty(BOOL *dirty) override;
    HRESULT STDMETHODCALLTYPE GetDirtyRange(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT STDMETHODCALLTYPE GetCountOfType(LONG group, LONG *value, LONG *with_comps, TIMELINE_MAJOR_TYPE type) override;
    HRESULT STDMETHODCALLTYPE ValidateSourceNames(LONG flags, IMediaLocator *override, LONG_PTR notify) override;
    HRESULT STDMETHODCALLTYPE SetDefaultTransition(GUID *guid) override;
    HRESULT STDMETHODCALLTYPE GetDefaultTransition(GUID *guid) override;
    HRESULT STDMETHODCALLTYPE SetDefaultEffect(GUID *guid) override;
    HRESULT STDMETHODCALLTYPE GetDefaultEffect(GUID *guid) override;
    HRESULT STDMETHODCALLTYPE SetDefaultTransitionB(BSTR text) override;
    HRESULT STDMETHODCALLTYPE GetDefaultTransitionB(BSTR *text) override;
    HRESULT STDMETHODCALLTYPE SetDefaultEffectB(BSTR text) override;
    HRESULT STDMETHODCALLTYPE GetDefaultEffectB(BSTR *text) override;

    // IAMSetErrorLog
    HRESULT STDMETHODCALLTYPE get_ErrorLog(IAMErrorLog **log) override;
    HRESULT STDMETHODCALLTYPE put_ErrorLog(IAMErrorLog *log) override;

    // IObjectWithSite
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown *site) override;
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void **out) override;

    // IPersistStream: the timeline as XTL text
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream *stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream *stream, BOOL clear_dirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *size) override;

    // IPlatformTimeline
    HRESULT STDMETHODCALLTYPE CopyTimeline(TimelineCopy **out) override;
    HRESULT STDMETHODCALLTYPE LogError(LONG severity, const WCHAR *text, LONG code, HRESULT hr) override;

    LONG NextId() { return InterlockedIncrement(&next_id); }
    // every node made for this timeline knows it until one of the two goes
    void Register(TimelineNode *node);
    void Unregister(TimelineNode *node);
    void Adopt(TimelineNode *node);
    // takes the group out of the list (RemoveAll on a group)
    bool DropGroup(TimelineNode *group);

    double default_fps;

private:
    ~Timeline();
    REFERENCE_TIME Duration();
    HRESULT CopyGroup(GroupNode *group, TimelineGroupCopy *out);

    LONG ref;
    LONG next_id;
    NodeList groups;
    BOOL transitions_on, effects_on;
    GUID default_transition, default_effect;
    IAMErrorLog *error_log;
    IUnknown *site;
    CRITICAL_SECTION cs;            // the log and the node list: the render engine's threads reach them
    std::set<TimelineNode *> nodes;
};

}  // namespace editing

#endif
