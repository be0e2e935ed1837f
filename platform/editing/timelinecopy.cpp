// The timeline's copy for the render engine: the tree turned into the glue's description of each group
// (gesglue.h), taken when the front end is connected, so that the graph's threads never read the live
// objects.
#include "editing/nodes.h"
#include "filters/catalog.h"
#include "filters/mediatypes.h"

#include <new>
#include <stdlib.h>
#include <string.h>

namespace editing {

namespace {

void fps_fraction(double fps, int *num, int *den)
{
    long long n = llround(fps * 1000.0), d = 1000, a = n, b = d;
    while (b) { long long t = a % b; a = b; b = t; }
    if (a <= 0) a = 1;
    *num = (int)(n / a);
    *den = (int)(d / a);
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

}  // namespace

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

namespace {

void collect_layers(TimelineNode *comp, NodeList *layers)
{
    for (TimelineNode *n : comp->children)
    {
        if (n->muted) continue;
        if (n->Is(TIMELINE_MAJOR_TYPE_COMPOSITE)) collect_layers(n, layers);
        else layers->push_back(n);
    }
}

}  // namespace

HRESULT Timeline::CopyGroup(GroupNode *group, TimelineGroupCopy *out)
{
    gg_group &g = out->group;
    NodeList layers;
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
        for (TimelineNode *node : track->children)
        {
            SourceNode *s = as_source(node);
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
            src.stream = (int)s->stream_number;
            out->sources.push_back(src);
        }
        if (g.video)
            for (TimelineNode *node : track->transitions)
            {
                TransitionNode *t = as_transition(node);
                if (t->muted || t->stop <= t->start) continue;
                gg_transition tr = {};
                tr.layer = (int)layer;
                tr.start = t->start * 100;
                if (t->cuts_only || !transitions_on)
                {
                    // a cut at the cut point, whatever the transition: what lies below until then, the
                    // clip from then on (swapped inputs do not apply to a cut)
                    REFERENCE_TIME cut = t->CutPoint();
                    if (cut <= 0) continue;
                    tr.stop = (t->start + cut) * 100;
                    tr.hold = 1;
                    out->elements.push_back("alpha");
                    out->elements.push_back("");
                    tr.key_rgb = (unsigned)(out->elements.size() - 2) | 0x80000000u;
                    out->transitions.push_back(tr);
                    continue;
                }
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
            hr = CopyGroup(as_group(groups[i]), &copy->groups[i]);
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

}  // namespace editing

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

void TimelineCopy::Restrict(REFERENCE_TIME from, REFERENCE_TIME to)
{
    const int64_t a = from * 100, b = (to < length ? to : length) * 100;
    for (auto &g : groups)
    {
        for (size_t i = 0; i < g.sources.size();)
        {
            gg_source &src = g.sources[i];
            if (src.stop <= a || src.start >= b)
            {
                g.sources.erase(g.sources.begin() + i);
                g.paths.erase(g.paths.begin() + i);
                continue;
            }
            double rate = (double)(src.media_stop - src.media_start) / (double)(src.stop - src.start);
            if (src.start < a)
            {
                src.media_start += (int64_t)((double)(a - src.start) * rate + 0.5);
                src.start = a;
            }
            if (src.stop > b)
            {
                src.media_stop -= (int64_t)((double)(src.stop - b) * rate + 0.5);
                src.stop = b;
            }
            src.start -= a;
            src.stop -= a;
            i++;
        }
        // transitions and envelopes move whole: their progress keeps its own times
        for (size_t i = 0; i < g.transitions.size();)
        {
            gg_transition &t = g.transitions[i];
            if (t.stop <= a || t.start >= b) { g.transitions.erase(g.transitions.begin() + i); continue; }
            t.start -= a;
            t.stop -= a;
            i++;
        }
        for (auto &v : g.volumes)
        {
            v.start -= a;
            v.stop -= a;
        }
    }
    length = b > a ? (b - a) / 100 : 0;
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
