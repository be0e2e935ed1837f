/*
 * Timelines over GStreamer Editing Services. One GESTimeline holds every group: one GESTrack per group
 * (restriction caps from the group's format), one GESLayer per track of a group (the group's highest
 * track on top), the group's sources as GESUriClips pinned to the group's GESTrack. Transitions and
 * volume envelopes become effects on the clips they cover, keyframed with linear control sources.
 * Each track pad is converted to the group's sample format and exposed by a bin around the timeline.
 */
#include "glue/gesglue.h"
#include "glue/avirepair.h"
#include "glue/gstglue.h"
#include "glue/stillclip.h"

#include <ges/ges.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <gst/video/gstvideofilter.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/audio/audio.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib/gstdio.h>

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

/* ---- Colour key: pixels near one colour become transparent while "active" is above 0.5 ---- */

#define GG_TYPE_COLOR_KEY (gg_color_key_get_type())
G_DECLARE_FINAL_TYPE(GgColorKey, gg_color_key, GG, COLOR_KEY, GstVideoFilter)

struct _GgColorKey {
    GstVideoFilter parent;
    guint color;        /* 0xRRGGBB */
    gint tolerance;     /* per component */
    gdouble active;
};

enum { KEY_PROP_0, KEY_PROP_COLOR, KEY_PROP_TOLERANCE, KEY_PROP_ACTIVE };

G_DEFINE_TYPE(GgColorKey, gg_color_key, GST_TYPE_VIDEO_FILTER)

static void gg_color_key_set_property(GObject *object, guint id, const GValue *value, GParamSpec *param)
{
    GgColorKey *key = GG_COLOR_KEY(object);
    GST_OBJECT_LOCK(key);
    switch (id) {
    case KEY_PROP_COLOR: key->color = g_value_get_uint(value); break;
    case KEY_PROP_TOLERANCE: key->tolerance = g_value_get_int(value); break;
    case KEY_PROP_ACTIVE: key->active = g_value_get_double(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(key);
}

static void gg_color_key_get_property(GObject *object, guint id, GValue *value, GParamSpec *param)
{
    GgColorKey *key = GG_COLOR_KEY(object);
    GST_OBJECT_LOCK(key);
    switch (id) {
    case KEY_PROP_COLOR: g_value_set_uint(value, key->color); break;
    case KEY_PROP_TOLERANCE: g_value_set_int(value, key->tolerance); break;
    case KEY_PROP_ACTIVE: g_value_set_double(value, key->active); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(key);
}

static GstFlowReturn gg_color_key_transform_frame_ip(GstVideoFilter *filter, GstVideoFrame *frame)
{
    GgColorKey *key = GG_COLOR_KEY(filter);
    GstClockTime ts = GST_BUFFER_PTS(frame->buffer);
    int r, g, b, tol, x, y, width, height, stride;
    guint8 *row;

    if (GST_CLOCK_TIME_IS_VALID(ts))
        gst_object_sync_values(GST_OBJECT(key),
                               gst_segment_to_stream_time(&GST_BASE_TRANSFORM(key)->segment, GST_FORMAT_TIME, ts));
    GST_OBJECT_LOCK(key);
    r = (key->color >> 16) & 0xff;
    g = (key->color >> 8) & 0xff;
    b = key->color & 0xff;
    tol = key->tolerance;
    if (key->active <= 0.5) {
        GST_OBJECT_UNLOCK(key);
        return GST_FLOW_OK;
    }
    GST_OBJECT_UNLOCK(key);

    width = GST_VIDEO_FRAME_WIDTH(frame);
    height = GST_VIDEO_FRAME_HEIGHT(frame);
    stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
    row = GST_VIDEO_FRAME_PLANE_DATA(frame, 0);
    for (y = 0; y < height; y++, row += stride) {
        guint8 *p = row;
        for (x = 0; x < width; x++, p += 4) {   /* B G R A */
            if (abs(p[2] - r) <= tol && abs(p[1] - g) <= tol && abs(p[0] - b) <= tol) p[3] = 0;
        }
    }
    return GST_FLOW_OK;
}

static void gg_color_key_class_init(GgColorKeyClass *klass)
{
    GObjectClass *object_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstVideoFilterClass *filter_class = GST_VIDEO_FILTER_CLASS(klass);
    GstCaps *caps = gst_caps_from_string("video/x-raw, format=(string)BGRA");

    object_class->set_property = gg_color_key_set_property;
    object_class->get_property = gg_color_key_get_property;
    g_object_class_install_property(object_class, KEY_PROP_COLOR,
        g_param_spec_uint("color", "Color", "Key colour 0xRRGGBB", 0, 0xffffff, 0,
                          G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    g_object_class_install_property(object_class, KEY_PROP_TOLERANCE,
        g_param_spec_int("tolerance", "Tolerance", "Largest difference per component still keyed", 0, 255, 24,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    g_object_class_install_property(object_class, KEY_PROP_ACTIVE,
        g_param_spec_double("active", "Active", "Keys while above 0.5", 0.0, 1.0, 1.0,
                            G_PARAM_READWRITE | GST_PARAM_CONTROLLABLE | G_PARAM_STATIC_STRINGS));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    gst_element_class_set_static_metadata(element_class, "Colour key", "Filter/Effect/Video",
                                          "Makes pixels of one colour transparent", "media platform");
    filter_class->transform_frame_ip = gg_color_key_transform_frame_ip;
}

static void gg_color_key_init(GgColorKey *key)
{
    key->color = 0;
    key->tolerance = 24;
    key->active = 1.0;
}

/* ---- Initialisation ---- */

static gsize ges_started = 0;

static void gg_init(void)
{
    glue_init();
    if (g_once_init_enter(&ges_started)) {
        /* The library brings up the embedded Python it is linked with, only to look for an optional
         * formatter that needs packages we do not have. Started without its site packages, the look fails
         * at once instead of first importing the GObject bindings (35 ms where those are installed). */
        int *no_site = dlsym(RTLD_DEFAULT, "Py_NoSiteFlag");
        if (no_site) *no_site = 1;
        ges_init();
        gst_element_register(NULL, "mpcolorkey", GST_RANK_NONE, GG_TYPE_COLOR_KEY);
        g_once_init_leave(&ges_started, 1);
    }
}

/* ---- The built timeline ---- */

enum { GG_MAX_GROUPS = 16 };

struct gg_timeline {
    GstElement *bin;                     /* holds the GESTimeline and the converters */
    GESTimeline *ges;
    int group_count;
    char pad_names[GG_MAX_GROUPS][16];
    int64_t duration;
};

static void set_message(char *message, int size, const char *format, ...)
{
    va_list args;
    if (!message || size <= 0) return;
    va_start(args, format);
    vsnprintf(message, size, format, args);
    va_end(args);
}

static int has_extension(const char *path, const char *ext)
{
    const char *dot = strrchr(path, '.');
    return dot && !strchr(dot, '/') && !strcasecmp(dot + 1, ext);
}

static int is_still_image(const char *path)
{
    GdkPixbufFormat *format = gdk_pixbuf_get_file_info(path, NULL, NULL);
    gchar *name;
    int still;

    if (!format) return 0;
    name = gdk_pixbuf_format_get_name(format);
    still = name && (!strcmp(name, "bmp") || !strcmp(name, "gif") || !strcmp(name, "jpeg")
                     || !strcmp(name, "png") || (!strcmp(name, "tga") && has_extension(path, "tga")));
    g_free(name);
    return still;
}

/* Each clip's elements go to its group's track only, and only the file's first stream of that kind: a
 * second sound of the same file would lie on the first in the same track. */
static GESTrack *select_track(GESClip *clip, GESTrackElement *element)
{
    GESTrack *track = g_object_get_data(G_OBJECT(clip), "gg-track");
    const char *wanted = g_object_get_data(G_OBJECT(clip), "gg-stream-id");
    if (!track || !(ges_track_element_get_track_type(element) & track->type)) return NULL;
    if (GES_IS_SOURCE(element) && wanted) {
        /* a stream other than the first: the element that reads it, by its stream id */
        GESAsset *asset = ges_extractable_get_asset(GES_EXTRACTABLE(element));
        GstDiscovererStreamInfo *info = asset && GES_IS_URI_SOURCE_ASSET(asset)
            ? ges_uri_source_asset_get_stream_info(GES_URI_SOURCE_ASSET(asset)) : NULL;
        const char *id = info ? gst_discoverer_stream_info_get_stream_id(info) : NULL;
        if (!id || strcmp(id, wanted)) return NULL;
    } else if (GES_IS_SOURCE(element)) {
        GESTrackElement *first = g_object_get_data(G_OBJECT(clip), "gg-source");
        if (first && first != element) return NULL;
        g_object_set_data(G_OBJECT(clip), "gg-source", element);
    }
    return track;
}

/* The tracks an element goes to: its group's, or none (an empty array: the element is left out). */
static GPtrArray *select_tracks(GESTimeline *timeline, GESClip *clip, GESTrackElement *element, gpointer data)
{
    GPtrArray *tracks = g_ptr_array_new_with_free_func(gst_object_unref);
    GESTrack *track = select_track(clip, element);
    if (track) g_ptr_array_add(tracks, gst_object_ref(track));
    return tracks;
}

/* The file's n-th stream of a kind (a reference, to be unreffed), or NULL when it has fewer. */
static GstDiscovererStreamInfo *nth_stream(GESUriClipAsset *asset, int video, int n)
{
    GstDiscovererInfo *info = ges_uri_clip_asset_get_info(asset);
    GList *streams = !info ? NULL : video ? gst_discoverer_info_get_video_streams(info)
                                          : gst_discoverer_info_get_audio_streams(info);
    GstDiscovererStreamInfo *nth = n >= 0 ? g_list_nth_data(streams, (guint)n) : NULL;
    if (nth) gst_discoverer_stream_info_ref(nth);
    gst_discoverer_stream_info_list_free(streams);
    return nth;
}

/* Stream id of the file's n-th stream of a kind, or NULL when it has fewer (to be freed). */
static char *nth_stream_id(GESUriClipAsset *asset, int video, int n)
{
    GstDiscovererStreamInfo *nth = nth_stream(asset, video, n);
    const char *id = nth ? gst_discoverer_stream_info_get_stream_id(nth) : NULL;
    char *copy = id ? g_strdup(id) : NULL;
    if (nth) gst_discoverer_stream_info_unref(nth);
    return copy;
}

/* Whether the n-th video stream of a file states no orientation other than upright. */
static int states_no_turn(GESUriClipAsset *asset, int n)
{
    GstDiscovererStreamInfo *nth = nth_stream(asset, 1, n);
    const GstTagList *tags = nth ? gst_discoverer_stream_info_get_tags(nth) : NULL;
    gchar *orientation = NULL;
    int upright = nth != NULL;

    if (upright && tags && gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation))
        upright = !strcmp(orientation, "rotate-0");
    g_free(orientation);
    if (nth) gst_discoverer_stream_info_unref(nth);
    return upright;
}

/* Whether the n-th video stream of a file fills a frame of the group as it is, without a mixer: the
 * group's size in square pixels, and no transparency (a compositor would lay it over black). Only
 * formats that carry no alpha count; a raw stream's own format says. */
static int fills_frame(GESUriClipAsset *asset, const struct gg_group *g, int n)
{
    static const char *const opaque[] = {"image/jpeg", "video/x-h264", "video/mpeg", "video/x-divx", "video/x-xvid",
                                         "video/x-msmpeg", "video/x-wmv", "video/x-dv", "video/x-cinepak", "video/x-vp8"};
    GstDiscovererStreamInfo *nth = nth_stream(asset, 1, n);
    GstCaps *caps = nth ? gst_discoverer_stream_info_get_caps(nth) : NULL;
    int fills = 0;

    if (caps && !gst_caps_is_empty(caps)) {
        GstDiscovererVideoInfo *v = GST_DISCOVERER_VIDEO_INFO(nth);
        const GstStructure *st = gst_caps_get_structure(caps, 0);
        const char *name = gst_structure_get_name(st);
        guint par_n = gst_discoverer_video_info_get_par_num(v), par_d = gst_discoverer_video_info_get_par_denom(v);
        fills = (int)gst_discoverer_video_info_get_width(v) == g->width
                && (int)gst_discoverer_video_info_get_height(v) == g->height && par_n == par_d;
        if (fills && !strcmp(name, "video/x-raw")) {
            const char *format = gst_structure_get_string(st, "format");
            const GstVideoFormatInfo *fi = format ? gst_video_format_get_info(gst_video_format_from_string(format)) : NULL;
            fills = fi && GST_VIDEO_FORMAT_INFO_FORMAT(fi) != GST_VIDEO_FORMAT_UNKNOWN && !GST_VIDEO_FORMAT_INFO_HAS_ALPHA(fi);
        } else if (fills) {
            int known = 0;
            for (size_t i = 0; i < G_N_ELEMENTS(opaque) && !known; i++) known = !strcmp(name, opaque[i]);
            fills = known;
        }
    }
    if (caps) gst_caps_unref(caps);
    if (nth) gst_discoverer_stream_info_unref(nth);
    return fills;
}

static GstCaps *group_caps(const struct gg_group *g, int with_format)
{
    if (g->video) {
        if (g->any_format) with_format = 0;
        const char *format = g->bits == 15 ? "RGB15" : g->bits == 16 ? "RGB16" : g->bits == 24 ? "BGR"
                           : g->alpha ? "BGRA" : "BGRx";
        GstCaps *caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, g->width,
                                            "height", G_TYPE_INT, g->height,
                                            "framerate", GST_TYPE_FRACTION, g->fps_num, g->fps_den,
                                            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, NULL);
        if (with_format) gst_caps_set_simple(caps, "format", G_TYPE_STRING, format, NULL);
        return caps;
    } else {
        const char *format = g->is_float ? (g->sample_bits == 64 ? "F64LE" : "F32LE")
                           : g->sample_bits == 8 ? "U8" : g->sample_bits == 24 ? "S24LE"
                           : g->sample_bits == 32 ? "S32LE" : "S16LE";
        GstCaps *caps = gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, g->rate,
                                            "channels", G_TYPE_INT, g->channels, NULL);
        if (with_format)
            gst_caps_set_simple(caps, "format", G_TYPE_STRING, format, "layout", G_TYPE_STRING, "interleaved", NULL);
        return caps;
    }
}

static int check_group(const struct gg_group *g)
{
    if (g->layers < 0 || g->source_count < 0 || g->transition_count < 0 || g->volume_count < 0) return 0;
    if (g->video)
        return g->width > 0 && g->height > 0 && g->width <= 8192 && g->height <= 8192
            && (g->bits == 15 || g->bits == 16 || g->bits == 24 || g->bits == 32)
            && g->fps_num > 0 && g->fps_den > 0;
    return g->channels >= 1 && g->channels <= 8 && g->rate >= 1000 && g->rate <= 192000
        && (g->is_float ? (g->sample_bits == 32 || g->sample_bits == 64)
                        : (g->sample_bits == 8 || g->sample_bits == 16 || g->sample_bits == 24 || g->sample_bits == 32));
}

/* Keyframes of a linear control source from a function sampled at its break points. Times are clip
 * relative; auto-clamp is off on the effect, so points outside the clip keep their meaning. */
static GstControlSource *new_linear_source(void)
{
    GstControlSource *cs = gst_interpolation_control_source_new();
    g_object_set(cs, "mode", GST_INTERPOLATION_MODE_LINEAR, NULL);
    return cs;
}

static void add_point(GstControlSource *cs, int64_t t, double v)
{
    if (t < 0) t = 0;
    gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(cs), (GstClockTime)t, v);
}

/* Envelope level at time t from the effect's start: 1.0 before the first point, the last value after
 * the last one, jumps or straight lines between. */
static double envelope_at(const struct gg_volume *v, int64_t t)
{
    double level = 1.0;
    int64_t prev_time = 0;
    for (int i = 0; i < v->count; i++) {
        const struct gg_point *p = &v->points[i];
        if (t < p->time) {
            if (p->interpolate && p->time > prev_time)
                return level + (p->value - level) * (double)(t - prev_time) / (double)(p->time - prev_time);
            return level;
        }
        level = p->value;
        prev_time = p->time;
    }
    return level;
}

static GESBaseEffect *add_effect(GESClip *clip, const char *description, char *message, int size)
{
    GESEffect *effect = ges_effect_new(description);
    GError *error = NULL;

    if (!effect) {
        set_message(message, size, "effect \"%s\" cannot be made", description);
        return NULL;
    }
    if (!ges_clip_add_top_effect(clip, GES_BASE_EFFECT(effect), -1, &error)) {
        set_message(message, size, "effect \"%s\": %s", description, error ? error->message : "refused");
        g_clear_error(&error);
        return NULL;
    }
    g_object_set(effect, "auto-clamp-control-sources", FALSE, NULL);
    return GES_BASE_EFFECT(effect);
}

static int attach_volume(GESClip *clip, const struct gg_volume *v, char *message, int size)
{
    int64_t cstart = GES_TIMELINE_ELEMENT_START(clip);
    int64_t cend = cstart + GES_TIMELINE_ELEMENT_DURATION(clip);
    int64_t es = v->start - cstart, ee = v->stop - cstart, clip_len = cend - cstart;
    GESBaseEffect *effect;
    GstControlSource *cs;

    if (v->stop <= v->start || v->stop <= cstart || v->start >= cend) return GG_OK;   /* nothing heard */
    if (!(effect = add_effect(clip, "volume", message, size))) return GG_FAILED;
    cs = new_linear_source();
    add_point(cs, 0, es > 0 ? 1.0 : envelope_at(v, -es));
    if (es > 0) {
        add_point(cs, es - 1, 1.0);
        add_point(cs, es, envelope_at(v, 0));
    }
    for (int i = 0; i < v->count; i++) {
        int64_t t = v->points[i].time + es;
        if (t <= 0 || t >= ee || t >= clip_len) continue;
        if (!v->points[i].interpolate) add_point(cs, t - 1, envelope_at(v, v->points[i].time - 1));
        add_point(cs, t, envelope_at(v, v->points[i].time));
    }
    if (ee < clip_len) {
        add_point(cs, ee - 1, envelope_at(v, ee - 1 - es));
        add_point(cs, ee, 1.0);
        add_point(cs, clip_len, 1.0);
    } else
        add_point(cs, clip_len, envelope_at(v, clip_len - es));
    if (!ges_track_element_set_control_source(GES_TRACK_ELEMENT(effect), cs, "volume", "direct-absolute")) {
        gst_object_unref(cs);
        set_message(message, size, "volume envelope refused");
        return GG_FAILED;
    }
    gst_object_unref(cs);
    return GG_OK;
}

/* progress 0 shows only what lies below, 1 only the clip */
static double transition_level(const struct gg_transition *t, int64_t time)
{
    double p;
    if (time < t->start || time >= t->stop) p = 1.0;
    else if (t->hold) p = 0.0;
    else {
        p = (double)(time - t->start) / (double)(t->stop - t->start);
        if (t->swap) p = 1.0 - p;
    }
    /* smptealpha draws its input whole at position 0 and hides it at 1 */
    return t->element && !strcmp(t->element, "smptealpha") ? 1.0 - p : p;
}

static int attach_transition(GESClip *clip, const struct gg_transition *t, char *message, int size)
{
    int64_t cstart = GES_TIMELINE_ELEMENT_START(clip);
    int64_t cend = cstart + GES_TIMELINE_ELEMENT_DURATION(clip);
    int64_t ts = t->start - cstart, te = t->stop - cstart, clip_len = cend - cstart;
    char description[256];
    const char *property;
    GESBaseEffect *effect;
    GstControlSource *cs;
    int key = !t->element;

    if (t->stop <= t->start || t->stop <= cstart || t->start >= cend) return GG_OK;
    if (key) {
        snprintf(description, sizeof(description), "mpcolorkey color=%u", t->key_rgb & 0xffffff);
        property = "active";
    } else if (!strcmp(t->element, "alpha")) {
        snprintf(description, sizeof(description), "alpha %s", t->properties ? t->properties : "");
        property = "alpha";
    } else {
        snprintf(description, sizeof(description), "%s %s", t->element, t->properties ? t->properties : "");
        property = "position";
    }
    if (!(effect = add_effect(clip, description, message, size))) return GG_FAILED;

    cs = new_linear_source();
    if (key) {
        /* keyed only while the transition runs */
        add_point(cs, 0, ts <= 0 ? 1.0 : 0.0);
        if (ts > 0) { add_point(cs, ts - 1, 0.0); add_point(cs, ts, 1.0); }
        if (te < clip_len) { add_point(cs, te - 1, 1.0); add_point(cs, te, 0.0); add_point(cs, clip_len, 0.0); }
        else add_point(cs, clip_len, 1.0);
    } else {
        add_point(cs, 0, transition_level(t, cstart));
        if (ts > 0) { add_point(cs, ts - 1, transition_level(t, t->start - 1)); add_point(cs, ts, transition_level(t, t->start)); }
        if (te < clip_len) {
            add_point(cs, te - 1, transition_level(t, t->stop - 1));
            add_point(cs, te, transition_level(t, t->stop));
            add_point(cs, clip_len, transition_level(t, cend));
        } else
            add_point(cs, clip_len, transition_level(t, cend));
    }
    if (!ges_track_element_set_control_source(GES_TRACK_ELEMENT(effect), cs, property, "direct-absolute")) {
        gst_object_unref(cs);
        set_message(message, size, "transition control refused (%s)", property);
        return GG_FAILED;
    }
    gst_object_unref(cs);
    return GG_OK;
}

/* MPEG program streams land late after a seek and stamp the frames wrongly, and their first frame is
 * not at 0. Their sources are decoded from the start of the file instead: the seek goes to 0, times
 * count from the stream's first buffer, the segment still starts where the clip asked, and everything
 * before that is dropped. */
struct from_start {
    GMutex lock;
    gint64 start;       /* requested media start */
    gint64 base;        /* time of the first buffer of the segment; -1 until it comes */
    int seeking;        /* seek sent, its segment not seen yet: what flows is from before */
};

static int is_program_stream(const char *path)
{
    GstCaps *caps;
    int ps = 0;
    GError *error = NULL;
    char *uri = gst_filename_to_uri(path, &error);
    GstElement *src;

    g_clear_error(&error);
    if (!uri) return 0;
    src = gst_element_make_from_uri(GST_URI_SRC, uri, NULL, NULL);
    g_free(uri);
    if (!src) return 0;
    if (gst_element_set_state(src, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstPad *pad = gst_element_get_static_pad(src, "src");
        caps = pad ? gst_type_find_helper(pad, 0) : NULL;
        if (caps) {
            const GstStructure *st = gst_caps_get_structure(caps, 0);
            gboolean system = FALSE;
            ps = gst_structure_has_name(st, "video/mpeg") && gst_structure_get_boolean(st, "systemstream", &system)
                 && system;
            gst_caps_unref(caps);
        }
        if (pad) gst_object_unref(pad);
    }
    gst_element_set_state(src, GST_STATE_NULL);
    gst_object_unref(src);
    return ps;
}

static GstPadProbeReturn from_start_probe(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct from_start *fs = data;
    GstPadProbeReturn ret = GST_PAD_PROBE_OK;

    g_mutex_lock(&fs->lock);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_UPSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        gdouble rate;
        GstFormat format;
        GstSeekFlags flags;
        GstSeekType start_type, stop_type;
        gint64 start, stop;

        if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
            gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
            if (format == GST_FORMAT_TIME && start_type == GST_SEEK_TYPE_SET && rate > 0.0 && start >= 0) {
                /* the stop is in the file's own times, which run base later */
                GstEvent *rewritten = gst_event_new_seek(rate, format, flags | GST_SEEK_FLAG_ACCURATE, start_type, 0,
                                                         GST_SEEK_TYPE_NONE, -1);
                fs->start = start;
                fs->base = -1;
                fs->seeking = 1;
                gst_event_set_seqnum(rewritten, gst_event_get_seqnum(event));
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = rewritten;
            }
        }
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        const GstSegment *segment;
        GstSegment fixed;
        GstEvent *rewritten;

        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && fs->start >= 0) {
            fs->seeking = 0;
            fs->base = -1;
            gst_event_parse_segment(event, &segment);
            if (segment->format == GST_FORMAT_TIME) {
                gst_segment_copy_into(segment, &fixed);
                fixed.start = fixed.time = fixed.position = fs->start;
                fixed.stop = -1;
                rewritten = gst_event_new_segment(&fixed);
                gst_event_set_seqnum(rewritten, gst_event_get_seqnum(event));
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = rewritten;
            }
        }
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstClockTime pts = GST_BUFFER_PTS(buffer), duration = GST_BUFFER_DURATION(buffer);

        if (fs->seeking)
            ret = GST_PAD_PROBE_DROP;
        else if (fs->start >= 0 && GST_CLOCK_TIME_IS_VALID(pts)) {
            if (fs->base < 0) fs->base = pts;
            if ((gint64)pts < fs->base) pts = fs->base;
            pts -= fs->base;
            if ((gint64)(pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 1)) <= fs->start)
                ret = GST_PAD_PROBE_DROP;
            else {
                buffer = gst_buffer_make_writable(buffer);
                GST_BUFFER_PTS(buffer) = pts;
                GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
                GST_PAD_PROBE_INFO_DATA(info) = buffer;
            }
        }
    }
    g_mutex_unlock(&fs->lock);
    return ret;
}

static void from_start_free(gpointer data)
{
    struct from_start *fs = data;
    g_mutex_clear(&fs->lock);
    g_free(fs);
}

static void from_start_pad_added(GstElement *element, GstPad *pad, gpointer data)
{
    struct from_start *fs = g_new0(struct from_start, 1);
    g_mutex_init(&fs->lock);
    fs->start = -1;
    fs->base = -1;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM
                      | GST_PAD_PROBE_TYPE_BUFFER, from_start_probe, fs, from_start_free);
}

static void decode_from_start(GESClip *clip)
{
    GList *children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList *l = children; l; l = l->next) {
        GstElement *nle;
        GstIterator *it;
        GValue item = G_VALUE_INIT;

        if (!GES_IS_SOURCE(l->data)) continue;
        if (!(nle = ges_track_element_get_nleobject(GES_TRACK_ELEMENT(l->data))) || !GST_IS_BIN(nle)) continue;
        it = gst_bin_iterate_recurse(GST_BIN(nle));
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            GstElement *e = g_value_get_object(&item);
            GstElementFactory *f = gst_element_get_factory(e);
            if (f && !strcmp(GST_OBJECT_NAME(f), "uridecodebin"))
                g_signal_connect(e, "pad-added", G_CALLBACK(from_start_pad_added), NULL);
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }
    g_list_free_full(children, gst_object_unref);
}

/* GES keeps what it learnt of a file for the life of the process, and cannot be told to look again. A
 * file written over since then is reached through a new name (a symbolic link made for it), which GES
 * takes for a new file. Returns the path to open (to be freed). */
struct file_seen {
    gint64 mtime, size;
    char *alias;        /* NULL: the file's own name */
};

static void free_seen(gpointer data)
{
    struct file_seen *f = data;
    g_free(f->alias);
    g_free(f);
}

static char *current_name(const char *path)
{
    static GMutex lock;
    static GHashTable *seen;
    struct file_seen *f;
    struct stat st;
    char *result;

    if (stat(path, &st)) return g_strdup(path);
    g_mutex_lock(&lock);
    if (!seen) seen = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, free_seen);
    f = g_hash_table_lookup(seen, path);
    if (!f) {
        f = g_new0(struct file_seen, 1);
        f->mtime = (gint64)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
        f->size = st.st_size;
        g_hash_table_insert(seen, g_strdup(path), f);
    } else if (f->mtime != (gint64)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec || f->size != st.st_size) {
        const char *dot = strrchr(path, '.');
        char *pattern = g_strdup_printf("file-XXXXXX%s", dot && !strchr(dot, '/') ? dot : "");
        char *alias = glue_work_file(pattern);
        g_free(pattern);
        if (alias) {
            g_unlink(alias);
            if (symlink(path, alias)) {
                g_free(alias);
                alias = NULL;
            }
        }
        if (alias) {
            if (f->alias) g_unlink(f->alias);
            g_free(f->alias);
            f->alias = alias;
        }
        f->mtime = (gint64)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
        f->size = st.st_size;
    }
    result = g_strdup(f->alias ? f->alias : path);
    g_mutex_unlock(&lock);
    return result;
}

/* t moved to the nearest start of an output frame of the group (down: the last one at or before t) */
static int64_t grid_time(const struct gg_group *g, int64_t t, int down)
{
    guint64 scale = (guint64)g->fps_den * GST_SECOND;
    guint64 frame = down ? gst_util_uint64_scale(t, g->fps_num, scale) : gst_util_uint64_scale_round(t, g->fps_num, scale);
    return (int64_t)gst_util_uint64_scale_round(frame, scale, g->fps_num);
}

/* A clip of a movie or sound file, asked of GES, which discovers the file first. */
static int file_clip(const struct gg_group *g, const struct gg_source *s, GESClip **clip, GstClockTime *max,
                     char **stream_id, int *fills, int *upright, char *message, int size)
{
    GESTrackType type = g->video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO;
    GESUriClipAsset *asset;
    GError *error = NULL;
    /* the file, or a fresh name for it, or a copy of it with its index rebuilt */
    char *current = current_name(s->path), *name = avi_readable_path(current), *uri;

    g_free(current);
    uri = gst_filename_to_uri(name, &error);
    g_free(name);
    if (!uri) {
        set_message(message, size, "%s: %s", s->path, error ? error->message : "bad path");
        g_clear_error(&error);
        return GG_NOT_FOUND;
    }
    asset = ges_uri_clip_asset_request_sync(uri, &error);
    g_free(uri);
    if (!asset) {
        set_message(message, size, "%s: %s", s->path, error ? error->message : "cannot be decoded");
        g_clear_error(&error);
        return GG_UNSUPPORTED;
    }
    if (!(ges_clip_asset_get_supported_formats(GES_CLIP_ASSET(asset)) & type)) {
        gst_object_unref(asset);
        set_message(message, size, "%s: no %s stream", s->path, g->video ? "video" : "audio");
        return GG_UNSUPPORTED;
    }
    *fills = g->video && fills_frame(asset, g, s->stream);
    *upright = g->video && states_no_turn(asset, s->stream);
    if (s->stream > 0 && !(*stream_id = nth_stream_id(asset, g->video, s->stream))) {
        gst_object_unref(asset);
        set_message(message, size, "%s: no %s stream %d", s->path, g->video ? "video" : "audio", s->stream);
        return GG_UNSUPPORTED;
    }
    if (!ges_uri_clip_asset_is_image(asset)) {
        *max = ges_uri_clip_asset_get_max_duration(asset);
        if (!GST_CLOCK_TIME_IS_VALID(*max)) *max = ges_uri_clip_asset_get_duration(asset);
    }
    *clip = GES_CLIP(ges_asset_extract(GES_ASSET(asset), &error));
    gst_object_unref(asset);
    if (!*clip) {
        g_clear_pointer(stream_id, g_free);
        set_message(message, size, "%s: %s", s->path, error ? error->message : "no clip");
        g_clear_error(&error);
        return GG_FAILED;
    }
    return GG_OK;
}

/* What a source shows: its clip (floating) and where it lies, on the output frame grid for video. */
struct placing {
    GESClip *clip;      /* NULL when the source shows nothing (no length, or past its file's end) */
    int64_t start, inpoint, length;
    int still;
    int fills;          /* pictures that fill the group's frame as they are (see fills_frame) */
    int upright;        /* pictures shown as they are stored */
    char *stream_id;    /* a file's stream other than the first */
};

static void placing_drop(struct placing *p)
{
    if (p->clip) g_object_unref(g_object_ref_sink(p->clip));    /* still floating: nothing else holds it */
    g_free(p->stream_id);
    memset(p, 0, sizeof(*p));
}

/* The clip of a source, checked against its file; the file is opened (and a movie's discovered) here. */
static int source_placing(const struct gg_group *g, const struct gg_source *s, struct placing *p, char *message,
                          int size)
{
    GstClockTime max = GST_CLOCK_TIME_NONE;
    int status;

    memset(p, 0, sizeof(*p));
    p->length = s->stop - s->start;
    p->inpoint = s->media_start;
    p->start = s->start;
    if (!s->path || !g_file_test(s->path, G_FILE_TEST_EXISTS)) {
        set_message(message, size, "%s: no such file", s->path ? s->path : "(no name)");
        return GG_NOT_FOUND;
    }
    if (p->length <= 0) return GG_OK;
    if (is_still_image(s->path)) {
        GError *error = NULL;
        if (!g->video) return GG_OK;    /* a picture has no sound; the track stays silent */
        /* an encoder takes a JPEG's YUV; pictures that leave in the group's RGB are decoded to RGB, once */
        if (!(p->clip = still_clip_new(s->path, g->any_format, &error))) {
            set_message(message, size, "%s: %s", s->path, error ? error->message : "unreadable picture");
            g_clear_error(&error);
            return GG_UNSUPPORTED;
        }
        p->still = p->upright = 1;
        p->inpoint = 0;
    } else if ((status = file_clip(g, s, &p->clip, &max, &p->stream_id, &p->fills, &p->upright, message,
                                  size)) != GG_OK)
        return status;

    /* a clip cannot run past the end of its file: the rest is a gap */
    if (GST_CLOCK_TIME_IS_VALID(max)) {
        if (p->inpoint >= (int64_t)max) p->length = 0;
        else if (p->inpoint + p->length > (int64_t)max) p->length = (int64_t)max - p->inpoint;
    }
    if (g->video && p->length > 0) {
        /* edges on the output frame grid: the mixer starts a frame at every edge, and a frame cut short
         * by the next edge still counts as a whole one */
        int64_t stop = grid_time(g, p->start + p->length, 0);
        p->start = grid_time(g, p->start, 0);
        if (!p->still) p->inpoint = MAX(0, p->inpoint + (p->start - s->start));   /* same picture at the same time */
        if (GST_CLOCK_TIME_IS_VALID(max) && p->inpoint + (stop - p->start) > (int64_t)max)
            stop = grid_time(g, p->start + (int64_t)max - p->inpoint, 1);
        p->length = stop - p->start;
    }
    if (p->length <= 0) placing_drop(p);
    return GG_OK;
}

/* *plain is cleared when the source's pictures need the mixer to be shown (see fills_frame). */
static int add_source(GESLayer *layer, GESTrack *track, const struct gg_group *g, const struct gg_source *s,
                      GESClip **out, int *plain, char *message, int size)
{
    struct placing p;
    int status = source_placing(g, s, &p, message, size);
    GESClip *clip = p.clip;

    *out = NULL;
    if (status != GG_OK || !clip) return status;
    if (g->video && !p.fills) *plain = 0;
    g_object_set_data(G_OBJECT(clip), "gg-track", track);
    if (p.stream_id) g_object_set_data_full(G_OBJECT(clip), "gg-stream-id", p.stream_id, g_free);
    ges_clip_set_supported_formats(clip, g->video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO);
    g_object_set(clip, "start", (guint64)p.start, "in-point", (guint64)p.inpoint, "duration", (guint64)p.length,
                 NULL);
    if (!ges_layer_add_clip(layer, clip)) {
        set_message(message, size, "%s: the clip does not fit at %.3f s", s->path, s->start / 1e9);
        return GG_FAILED;
    }
    if (g->video && !s->keep_aspect)
        ges_timeline_element_set_child_properties(GES_TIMELINE_ELEMENT(clip), "posx", 0, "posy", 0,
                                                  "width", g->width, "height", g->height, NULL);
    /* Pictures shown as they are stored pass the clip's flipper untouched; left to follow the stream's
     * tags it would copy every one of them. A still is shown as stored (an orientation a JPEG's EXIF
     * states is not applied, as gdk-pixbuf does not apply it); a movie that states an orientation is
     * turned by it. The flipper of this GStreamer copies every picture even when it turns none, so it is
     * told to pass them on as they are. */
    if (g->video && p.upright) {
        GObject *child = NULL;
        GParamSpec *spec = NULL;
        if (ges_timeline_element_lookup_child(GES_TIMELINE_ELEMENT(clip), "video-direction", &child, &spec)) {
            g_object_set(child, spec->name, GST_VIDEO_ORIENTATION_IDENTITY, NULL);
            if (GST_IS_BASE_TRANSFORM(child)) gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(child), TRUE);
            g_object_unref(child);
            g_param_spec_unref(spec);
        }
    }
    if (!p.still && is_program_stream(s->path)) decode_from_start(clip);
    *out = clip;
    return GG_OK;
}

/* Frames shorter than half a frame: slivers where the mixer's frame times and an edge differ by a few
 * nanoseconds, or a last frame that is mostly past the end. */
static GstPadProbeReturn drop_short_frame(GstPad *pad, GstPadProbeInfo *info, gpointer half)
{
    GstClockTime d = GST_BUFFER_DURATION(GST_PAD_PROBE_INFO_BUFFER(info));
    return GST_CLOCK_TIME_IS_VALID(d) && d < GPOINTER_TO_SIZE(half) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

/* Exactly round(duration * rate) samples out of an audio branch: each source resampled up ends a few
 * samples early and the next one starts on time, so the holes are filled with silence (kept by the
 * timestamps), overlaps cut, nothing passes beyond the end, and silence makes up what EOS leaves out.
 * Sits on the sink pad of the branch's last capsfilter, where the rate is already the output's. */
struct exact_audio {
    guint64 whole, want;    /* samples of the timeline; of what is played (a seek may stop earlier) */
    gint64 done;            /* next sample to go out, -1 after a flush */
    GstAudioInfo info;
    GstSegment segment;
    gboolean inside;        /* our own silence is going through */
};

static void exact_audio_fill(GstPad *pad, struct exact_audio *x, guint64 upto)
{
    int rate = GST_AUDIO_INFO_RATE(&x->info);
    GstMapInfo map;
    GstBuffer *b;
    guint64 n;

    if (upto > x->want) upto = x->want;
    if (x->done < 0 || (guint64)x->done >= upto || !rate) return;
    n = upto - x->done;
    b = gst_buffer_new_allocate(NULL, n * GST_AUDIO_INFO_BPF(&x->info), NULL);
    gst_buffer_map(b, &map, GST_MAP_WRITE);
    gst_audio_format_info_fill_silence(x->info.finfo, map.data, map.size);
    gst_buffer_unmap(b, &map);
    GST_BUFFER_PTS(b) = gst_segment_position_from_stream_time(&x->segment, GST_FORMAT_TIME,
                            gst_util_uint64_scale_round(x->done, GST_SECOND, rate));
    GST_BUFFER_DURATION(b) = gst_util_uint64_scale_round(n, GST_SECOND, rate);
    x->inside = TRUE;
    gst_pad_chain(pad, b);
    x->inside = FALSE;
    x->done = upto;
}

static GstPadProbeReturn exact_audio_probe(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct exact_audio *x = data;
    int rate = GST_AUDIO_INFO_RATE(&x->info), bpf = GST_AUDIO_INFO_BPF(&x->info);

    if (x->inside) return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
        GstClockTime t = gst_segment_to_stream_time(&x->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(b));
        guint64 n = bpf ? gst_buffer_get_size(b) / bpf : 0, at, cut;
        if (!n || !GST_CLOCK_TIME_IS_VALID(t)) return GST_PAD_PROBE_OK;
        at = gst_util_uint64_scale_round(t, rate, GST_SECOND);
        if (x->done < 0) x->done = at;
        exact_audio_fill(pad, x, at);
        cut = at < (guint64)x->done ? x->done - at : 0;
        if ((guint64)x->done >= x->want || cut >= n) return GST_PAD_PROBE_DROP;
        n = MIN(n - cut, x->want - x->done);
        if (cut || n * bpf < gst_buffer_get_size(b)) {
            b = gst_buffer_make_writable(b);
            gst_buffer_resize(b, cut * bpf, n * bpf);
            GST_BUFFER_PTS(b) += gst_util_uint64_scale_round(cut, GST_SECOND, rate);
            GST_BUFFER_DURATION(b) = gst_util_uint64_scale_round(n, GST_SECOND, rate);
            GST_PAD_PROBE_INFO_DATA(info) = b;
        }
        x->done += n;
    } else {
        GstEvent *e = GST_PAD_PROBE_INFO_EVENT(info);
        GstCaps *caps;
        const GstSegment *segment;
        switch (GST_EVENT_TYPE(e)) {
        case GST_EVENT_CAPS:
            gst_event_parse_caps(e, &caps);
            gst_audio_info_from_caps(&x->info, caps);
            break;
        case GST_EVENT_SEGMENT:   /* the holes come at the ends of segments: fill them in the old one */
            gst_event_parse_segment(e, &segment);
            if (segment->format != GST_FORMAT_TIME) break;
            if (rate) exact_audio_fill(pad, x, gst_util_uint64_scale_round(segment->time, rate, GST_SECOND));
            gst_segment_copy_into(segment, &x->segment);
            break;
        case GST_EVENT_EOS: exact_audio_fill(pad, x, x->want); break;
        case GST_EVENT_FLUSH_STOP: x->done = -1; break;
        case GST_EVENT_SEEK: {
            GstSeekType start_type, stop_type;
            gint64 start, stop;
            gst_event_parse_seek(e, NULL, NULL, NULL, &start_type, &start, &stop_type, &stop);
            x->want = stop_type == GST_SEEK_TYPE_SET && stop >= 0 && rate
                ? MIN(x->whole, gst_util_uint64_scale_round(stop, rate, GST_SECOND)) : x->whole;
            break;
        }
        default: break;
        }
    }
    return GST_PAD_PROBE_OK;
}

static GstElement *converter(const struct gg_group *g, int64_t duration)
{
    GstElement *bin = gst_bin_new(NULL), *first, *last;
    GstCaps *caps = group_caps(g, 1);
    GstPad *pad;

    if (g->video) {
        first = gst_element_factory_make("videoconvert", NULL);
        last = gst_element_factory_make("capsfilter", NULL);
        g_object_set(first, "n-threads", 2, NULL);
        gst_bin_add_many(GST_BIN(bin), first, last, NULL);
        gst_element_link(first, last);
    } else {
        GstElement *resample = gst_element_factory_make("audioresample", NULL);
        first = gst_element_factory_make("audioconvert", NULL);
        last = gst_element_factory_make("capsfilter", NULL);
        gst_bin_add_many(GST_BIN(bin), first, resample, last, NULL);
        gst_element_link_many(first, resample, last, NULL);
    }
    g_object_set(last, "caps", caps, NULL);
    gst_caps_unref(caps);
    if (g->video) {
        pad = gst_element_get_static_pad(last, "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, drop_short_frame,
                          GSIZE_TO_POINTER(gst_util_uint64_scale(GST_SECOND / 2, g->fps_den, g->fps_num)), NULL);
    } else {
        struct exact_audio *x = g_new0(struct exact_audio, 1);
        x->whole = x->want = gst_util_uint64_scale_round(duration, g->rate, GST_SECOND);
        x->done = -1;
        gst_segment_init(&x->segment, GST_FORMAT_TIME);
        pad = gst_element_get_static_pad(last, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM
                          | GST_PAD_PROBE_TYPE_EVENT_UPSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH,
                          exact_audio_probe, x, g_free);
    }
    gst_object_unref(pad);
    pad = gst_element_get_static_pad(first, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    pad = gst_element_get_static_pad(last, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", pad));
    gst_object_unref(pad);
    return bin;
}

/* Black and silence from the end of the clips to the end of the timeline, on the lowest layer. */
static int add_filler(GESLayer *layer, GESTrack *track, int video, int64_t start, int64_t length)
{
    GESTestClip *clip = ges_test_clip_new();
    if (!clip) return GG_NO_MEMORY;
    ges_test_clip_set_vpattern(clip, GES_VIDEO_TEST_PATTERN_BLACK);
    ges_test_clip_set_mute(clip, TRUE);
    g_object_set_data(G_OBJECT(clip), "gg-track", track);
    ges_clip_set_supported_formats(GES_CLIP(clip), video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO);
    g_object_set(clip, "start", (guint64)start, "duration", (guint64)length, NULL);
    return ges_layer_add_clip(layer, GES_CLIP(clip)) ? GG_OK : GG_FAILED;
}

/* The sound mixers GES makes put out a frame's worth of sound at a time (40 ms) rather than 10 ms: every
 * buffer passes a dozen elements on its way to the file, and four times as many cost a few percent of a
 * render's work for nothing. */
#define MIXED_SOUND_BUFFER (40 * GST_MSECOND)

static void on_element_added(GstBin *bin, GstBin *sub, GstElement *element, gpointer data)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && !strcmp(GST_OBJECT_NAME(factory), "audiomixer"))
        g_object_set(element, "output-buffer-duration", (guint64)MIXED_SOUND_BUFFER, NULL);
}

static int check_groups(const struct gg_group *groups, int count, char *message, int size)
{
    set_message(message, size, "");
    if (count <= 0 || count > GG_MAX_GROUPS) {
        set_message(message, size, "a timeline needs 1 to %d groups", GG_MAX_GROUPS);
        return GG_INVALID;
    }
    for (int i = 0; i < count; i++)
        if (!check_group(&groups[i])) {
            set_message(message, size, "group %d has a format that cannot be rendered", i);
            return GG_INVALID;
        }
    return GG_OK;
}

int gg_timeline_check(const struct gg_group *groups, int count, int64_t length, char *message, int size)
{
    int status = check_groups(groups, count, message, size), shown = length > 0;

    if (status != GG_OK) return status;
    gg_init();
    for (int gi = 0; gi < count && status == GG_OK; gi++)
        for (int s = 0; s < groups[gi].source_count && status == GG_OK; s++) {
            const struct gg_source *src = &groups[gi].sources[s];
            struct placing p;
            if (src->layer < 0 || src->layer >= groups[gi].layers) return GG_INVALID;
            status = source_placing(&groups[gi], src, &p, message, size);
            shown |= p.clip != NULL;
            placing_drop(&p);
        }
    if (status == GG_OK && !shown) {
        set_message(message, size, "the timeline is empty");
        status = GG_INVALID;
    }
    return status;
}

int gg_timeline_build(const struct gg_group *groups, int count, int64_t length, gg_timeline **out,
                      char *message, int size)
{
    GESTrack *tracks[GG_MAX_GROUPS];
    GESLayer **layers = NULL;
    GPtrArray *reading;
    gg_timeline *tl;
    int status, total_layers = 0;

    *out = NULL;
    if ((status = check_groups(groups, count, message, size)) != GG_OK) return status;
    for (int i = 0; i < count; i++) total_layers += groups[i].layers;
    gg_init();

    if (!(tl = g_new0(gg_timeline, 1))) return GG_NO_MEMORY;
    tl->group_count = count;
    tl->ges = ges_timeline_new();
    gst_object_ref_sink(tl->ges);
    g_signal_connect(tl->ges, "select-tracks-for-object", G_CALLBACK(select_tracks), NULL);
    g_signal_connect(tl->ges, "deep-element-added", G_CALLBACK(on_element_added), NULL);
    for (int i = 0; i < count; i++) {
        /* the mixer works in its own pixel format, converted once at the track's output; a group with
         * alpha is mixed in its own format so that the alpha survives */
        GstCaps *caps = group_caps(&groups[i], groups[i].video && groups[i].alpha);
        /* sound is mixed in float, converted to the group's format only at the output: in 8 bits the mixer
         * adds the 128 of every input's silence (full-scale DC) and an 8-bit source is requantised after
         * resampling */
        if (!groups[i].video)
            gst_caps_set_simple(caps, "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING, "interleaved", NULL);
        tracks[i] = groups[i].video ? GES_TRACK(ges_video_track_new()) : GES_TRACK(ges_audio_track_new());
        ges_track_set_restriction_caps(tracks[i], caps);
        gst_caps_unref(caps);
        ges_timeline_add_track(tl->ges, tracks[i]);
    }
    /* layers top first: group 0's highest track, ..., group 0's lowest, group 1's highest ... */
    layers = g_new0(GESLayer *, total_layers + 1);
    for (int i = 0; i <= total_layers; i++) layers[i] = ges_timeline_append_layer(tl->ges);

    reading = g_ptr_array_new_with_free_func(glue_reading_end);
    for (int gi = 0, base = 0; gi < count && status == GG_OK; base += groups[gi].layers, gi++) {
        const struct gg_group *g = &groups[gi];
        /* clips of each layer, to put the layer's transitions and envelopes on */
        GPtrArray *clips = g_ptr_array_new();
        GArray *clip_layer = g_array_new(FALSE, FALSE, sizeof(int));
        /* A video group whose clips lie on one layer, each filling the frame as it is, with nothing revealed
         * over what lies below, needs no mixer: the track passes its one clip at a time straight on, where
         * a compositor would copy every picture onto a black one. (Sound keeps its mixer, which makes the
         * silence between and after clips.) */
        int plain = g->video && !g->alpha && !g->transition_count, layer = -1;

        for (int s = 0; s < g->source_count && status == GG_OK; s++) {
            const struct gg_source *src = &g->sources[s];
            GESClip *clip;
            if (src->layer < 0 || src->layer >= g->layers) { status = GG_INVALID; break; }
            if (layer >= 0 && src->layer != layer) plain = 0;
            layer = src->layer;
            status = add_source(layers[base + g->layers - 1 - src->layer], tracks[gi], g, src, &clip,
                                &plain, message, size);
            if (status == GG_OK && clip) {
                g_ptr_array_add(reading, glue_reading_begin(src->path));
                g_ptr_array_add(clips, clip);
                g_array_append_val(clip_layer, src->layer);
            }
        }
        if (status == GG_OK && plain) ges_track_set_mixing(tracks[gi], FALSE);
        for (int t = 0; t < g->transition_count && status == GG_OK; t++)
            for (guint c = 0; c < clips->len && status == GG_OK; c++)
                if (g_array_index(clip_layer, int, c) == g->transitions[t].layer && g->video)
                    status = attach_transition(g_ptr_array_index(clips, c), &g->transitions[t], message, size);
        for (int v = 0; v < g->volume_count && status == GG_OK; v++)
            for (guint c = 0; c < clips->len && status == GG_OK; c++)
                if (g_array_index(clip_layer, int, c) == g->volumes[v].layer && !g->video)
                    status = attach_volume(g_ptr_array_index(clips, c), &g->volumes[v], message, size);
        g_ptr_array_unref(clips);
        g_array_unref(clip_layer);
    }
    if (status == GG_OK) {
        int64_t end = (int64_t)ges_timeline_get_duration(tl->ges);
        for (int i = 0; i < count && status == GG_OK && end < length; i++)
            status = add_filler(layers[total_layers], tracks[i], groups[i].video, end, length - end);
        if (status != GG_OK) set_message(message, size, "the timeline cannot be filled to its end");
    }
    g_free(layers);

    if (status == GG_OK) {
        tl->duration = (int64_t)ges_timeline_get_duration(tl->ges);
        if (tl->duration <= 0) {
            set_message(message, size, "the timeline is empty");
            status = GG_INVALID;
        }
    }
    if (status == GG_OK && !ges_timeline_commit_sync(tl->ges)) {
        set_message(message, size, "the timeline cannot be committed");
        status = GG_FAILED;
    }
    if (status == GG_OK) {
        tl->bin = gst_bin_new(NULL);
        gst_object_ref_sink(tl->bin);
        gst_bin_add(GST_BIN(tl->bin), GST_ELEMENT(tl->ges));
        for (int i = 0; i < count && status == GG_OK; i++) {
            GstPad *pad = ges_timeline_get_pad_for_track(tl->ges, tracks[i]), *sink, *src;
            GstElement *conv = converter(&groups[i], tl->duration);
            gst_bin_add(GST_BIN(tl->bin), conv);
            sink = gst_element_get_static_pad(conv, "sink");
            if (!pad || gst_pad_link(pad, sink) != GST_PAD_LINK_OK) {
                set_message(message, size, "track %d has no output", i);
                status = GG_FAILED;
            }
            gst_object_unref(sink);
            if (pad) gst_object_unref(pad);
            snprintf(tl->pad_names[i], sizeof(tl->pad_names[i]), "group%d", i);
            src = gst_element_get_static_pad(conv, "src");
            gst_element_add_pad(tl->bin, gst_ghost_pad_new(tl->pad_names[i], src));
            gst_object_unref(src);
        }
        /* the sources count as being read for as long as the timeline's element lives */
        g_object_set_data_full(G_OBJECT(tl->bin), "gg-reading", reading, (GDestroyNotify)g_ptr_array_unref);
        glue_watch_raw_rows(tl->bin);
        reading = NULL;
    }
    if (reading) g_ptr_array_unref(reading);
    if (status != GG_OK) {
        gg_timeline_free(tl);
        return status;
    }
    *out = tl;
    return GG_OK;
}

void gg_timeline_free(gg_timeline *tl)
{
    if (!tl) return;
    if (tl->bin) gst_object_unref(tl->bin);
    if (tl->ges) gst_object_unref(tl->ges);
    g_free(tl);
}

int64_t gg_timeline_duration(const gg_timeline *tl)
{
    return tl ? tl->duration : 0;
}

void *gg_timeline_take_element(gg_timeline *tl)
{
    GstElement *e;
    if (!tl || !tl->bin) return NULL;
    e = tl->bin;
    tl->bin = NULL;
    return e;
}

const char *gg_timeline_pad_name(const gg_timeline *tl, int group)
{
    if (!tl || group < 0 || group >= tl->group_count) return NULL;
    return tl->pad_names[group];
}

/* ---- Rendering into a file (tests and benchmarks) ---- */

int gg_render_to_file(const struct gg_group *groups, int count, int64_t length, const char *video_encoder,
                      const char *muxer, const char *path, unsigned timeout_ms, char *message, int size)
{
    GstElement *pipeline, *element, *mux, *sink;
    GError *error = NULL;
    gg_timeline *tl;
    GstBus *bus;
    GstMessage *msg;
    int status;

    if ((status = gg_timeline_build(groups, count, length, &tl, message, size)) != GG_OK) return status;
    element = gg_timeline_take_element(tl);
    pipeline = gst_pipeline_new(NULL);
    mux = gst_element_factory_make(muxer, NULL);
    sink = gst_element_factory_make("filesink", NULL);
    if (!mux || !sink) {
        set_message(message, size, "no %s", mux ? "filesink" : muxer);
        if (mux) gst_object_unref(mux);
        if (sink) gst_object_unref(sink);
        gst_object_unref(pipeline);
        gst_object_unref(element);
        gg_timeline_free(tl);
        return GG_FAILED;
    }
    g_object_set(sink, "location", path, NULL);
    gst_bin_add_many(GST_BIN(pipeline), element, mux, sink, NULL);
    gst_object_unref(element);   /* the pipeline holds it */
    gst_element_link(mux, sink);
    for (int i = 0; i < count && status == GG_OK; i++) {
        char chain[256];
        GstElement *branch;
        GstPad *src, *sinkpad;
        snprintf(chain, sizeof(chain), groups[i].video ? "queue ! videoconvert ! %s" : "queue ! audioconvert",
                 video_encoder);
        branch = gst_parse_bin_from_description(chain, TRUE, &error);
        if (!branch) {
            set_message(message, size, "%s", error ? error->message : chain);
            g_clear_error(&error);
            status = GG_FAILED;
            break;
        }
        gst_bin_add(GST_BIN(pipeline), branch);
        src = gst_element_get_static_pad(element, gg_timeline_pad_name(tl, i));
        sinkpad = gst_element_get_static_pad(branch, "sink");
        if (gst_pad_link(src, sinkpad) != GST_PAD_LINK_OK || !gst_element_link(branch, mux)) {
            set_message(message, size, "group %d cannot be linked to %s", i, muxer);
            status = GG_FAILED;
        }
        gst_object_unref(src);
        gst_object_unref(sinkpad);
        if (!strcmp(muxer, "wavenc")) break;   /* one stream per WAV file */
    }
    gg_timeline_free(tl);
    if (status != GG_OK) {
        gst_object_unref(pipeline);
        return status;
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        set_message(message, size, "the pipeline does not start");
        status = GG_FAILED;
    } else {
        bus = gst_element_get_bus(pipeline);
        msg = gst_bus_timed_pop_filtered(bus, (GstClockTime)timeout_ms * GST_MSECOND,
                                         GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
        if (!msg) {
            set_message(message, size, "no end within %u ms", timeout_ms);
            status = GG_FAILED;
        } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            gchar *debug = NULL;
            gst_message_parse_error(msg, &error, &debug);
            set_message(message, size, "%s (%s)", error ? error->message : "error", debug ? debug : "");
            g_clear_error(&error);
            g_free(debug);
            status = GG_FAILED;
        }
        if (msg) gst_message_unref(msg);
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return status;
}
