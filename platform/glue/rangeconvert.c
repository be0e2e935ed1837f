/*
 * platformrange: moves 8-bit planar YUV pictures between full range (0-255) and limited range (16-235,
 * chroma 16-240), and passes them through when both sides agree. videoconvert of this GStreamer changes
 * only the label, not the values, between two YUV formats of the same matrix that differ in range, so
 * the pictures for an encoder pass this element first, with the range the encoder's format implies, and
 * videoconvert after it only changes the layout. For RGB of fewer bits a channel (rgb-bits), it rounds
 * 24-bit RGB to the nearest level that a decoder widens back, where videoconvert would cut the low bits.
 */
#include "glue/gstglue.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>
#include <stdlib.h>
#include <string.h>

typedef struct
{
    GstVideoFilter parent;
    GstVideoColorRange range;       /* what comes out; UNKNOWN: as it came */
    gint rgb_bits;                  /* levels a channel of packed RGB is rounded to: 8 passes it */
    gboolean packed;                /* this stream is 24-bit RGB, rounded through luma[] */
    guint8 luma[256], chroma[256];
} PlatformRange;

typedef struct
{
    GstVideoFilterClass parent_class;
} PlatformRangeClass;

enum { PROP_0, PROP_RANGE, PROP_RGB_BITS };

GType platform_range_get_type(void);
G_DEFINE_TYPE(PlatformRange, platform_range, GST_TYPE_VIDEO_FILTER)

/* 8-bit YUV with one plane per component: the formats whose range this element moves */
static gboolean planar_yuv(const GstStructure *s)
{
    const gchar *format = gst_structure_get_string(s, "format");
    return format && (!strcmp(format, "I420") || !strcmp(format, "YV12") || !strcmp(format, "Y42B")
                      || !strcmp(format, "Y444"));
}

/* Planar YUV may change its colorimetry here; everything else passes as it is (set_info). */
static GstCaps *range_transform_caps(GstBaseTransform *trans, GstPadDirection direction, GstCaps *caps,
                                     GstCaps *filter)
{
    GstCaps *result = gst_caps_is_any(caps) ? gst_caps_new_any() : gst_caps_new_empty();

    for (guint i = 0; !gst_caps_is_any(caps) && i < gst_caps_get_size(caps); i++)
    {
        /* no colorimetry is asked for upstream: a stream that states none is not given one on its way */
        GstStructure *s = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_remove_field(s, "colorimetry");
        result = gst_caps_merge_structure(result, s);
    }
    if (filter)
    {
        GstCaps *both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    return result;
}

/* A caps query is answered with the peer's caps, colorimetry left free. (The base class would put the
 * peer's own caps first, so that a stream stating no range would be labelled with the peer's.) */
static gboolean range_query(GstBaseTransform *trans, GstPadDirection direction, GstQuery *query)
{
    GstPad *pad, *other;
    GstCaps *filter, *peer, *result;

    if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS)
        return GST_BASE_TRANSFORM_CLASS(platform_range_parent_class)->query(trans, direction, query);
    pad = direction == GST_PAD_SINK ? trans->sinkpad : trans->srcpad;
    other = direction == GST_PAD_SINK ? trans->srcpad : trans->sinkpad;
    gst_query_parse_caps(query, &filter);
    peer = gst_pad_peer_query_caps(other, NULL);
    result = range_transform_caps(trans, GST_PAD_DIRECTION(other), peer, filter);
    gst_caps_unref(peer);
    peer = gst_caps_intersect(result, gst_pad_get_pad_template_caps(pad));
    gst_caps_unref(result);
    gst_query_set_caps_result(query, peer);
    gst_caps_unref(peer);
    return TRUE;
}

/* What comes out is what came in, in the range asked for. */
static GstCaps *range_fixate_caps(GstBaseTransform *trans, GstPadDirection direction, GstCaps *caps,
                                  GstCaps *othercaps)
{
    PlatformRange *self = (PlatformRange *)trans;
    GstVideoInfo in;

    othercaps = gst_caps_truncate(othercaps);
    if (direction == GST_PAD_SINK && self->range != GST_VIDEO_COLOR_RANGE_UNKNOWN
            && gst_video_info_from_caps(&in, caps) && planar_yuv(gst_caps_get_structure(caps, 0)))
    {
        gchar *text;
        othercaps = gst_caps_make_writable(othercaps);
        in.colorimetry.range = self->range;
        text = gst_video_colorimetry_to_string(&in.colorimetry);
        gst_caps_set_simple(othercaps, "colorimetry", G_TYPE_STRING, text, NULL);
        g_free(text);
    }
    return gst_caps_fixate(othercaps);
}

static void fill_tables(PlatformRange *self, gboolean to_limited)
{
    for (int v = 0; v < 256; v++)
    {
        double y, c;
        if (to_limited)
        {
            y = 16.0 + v * 219.0 / 255.0;
            c = 128.0 + (v - 128) * 224.0 / 255.0;
        }
        else
        {
            y = (v - 16) * 255.0 / 219.0;
            c = 128.0 + (v - 128) * 255.0 / 224.0;
        }
        self->luma[v] = (guint8)CLAMP(y + 0.5, 0.0, 255.0);
        self->chroma[v] = (guint8)CLAMP(c + 0.5, 0.0, 255.0);
    }
}

/* Each value to the level of `bits` bits nearest to it as decoders widen it back (the level's bits
 * repeated below it), stored so that cutting the low bits gives that level. */
static void fill_rounding(PlatformRange *self, int bits)
{
    int levels = 1 << bits;
    for (int v = 0; v < 256; v++)
    {
        int best = 0, best_error = 256;
        for (int q = 0; q < levels; q++)
        {
            int widened = (q << (8 - bits)) | (q >> (2 * bits - 8)), error = abs(widened - v);
            if (error < best_error) best = q, best_error = error;
        }
        self->luma[v] = (guint8)(best << (8 - bits));
    }
}

static gboolean range_set_info(GstVideoFilter *filter, GstCaps *incaps, GstVideoInfo *in, GstCaps *outcaps,
                               GstVideoInfo *out)
{
    PlatformRange *self = (PlatformRange *)filter;
    gboolean same = !planar_yuv(gst_caps_get_structure(incaps, 0))
                 || in->colorimetry.range == out->colorimetry.range;

    if (GST_VIDEO_INFO_FORMAT(in) != GST_VIDEO_INFO_FORMAT(out)) return FALSE;
    self->packed = GST_VIDEO_INFO_FORMAT(in) == GST_VIDEO_FORMAT_RGB && self->rgb_bits >= 4 && self->rgb_bits < 8;
    if (self->packed)
    {
        fill_rounding(self, self->rgb_bits);
        same = FALSE;
    }
    else if (!same) fill_tables(self, out->colorimetry.range != GST_VIDEO_COLOR_RANGE_0_255);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter), same);
    return TRUE;
}

static GstFlowReturn range_transform_frame(GstVideoFilter *filter, GstVideoFrame *in, GstVideoFrame *out)
{
    PlatformRange *self = (PlatformRange *)filter;

    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(in); p++)
    {
        const guint8 *table = p == 0 ? self->luma : self->chroma;
        gint width = GST_VIDEO_FRAME_COMP_WIDTH(in, p) * (self->packed ? 3 : 1), height = GST_VIDEO_FRAME_COMP_HEIGHT(in, p);
        gint in_stride = GST_VIDEO_FRAME_PLANE_STRIDE(in, p), out_stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, p);
        const guint8 *src = GST_VIDEO_FRAME_PLANE_DATA(in, p);
        guint8 *dst = GST_VIDEO_FRAME_PLANE_DATA(out, p);

        for (gint y = 0; y < height; y++, src += in_stride, dst += out_stride)
            for (gint x = 0; x < width; x++) dst[x] = table[src[x]];
    }
    return GST_FLOW_OK;
}

static void range_set_property(GObject *object, guint id, const GValue *value, GParamSpec *param)
{
    if (id == PROP_RANGE) ((PlatformRange *)object)->range = g_value_get_int(value);
    else if (id == PROP_RGB_BITS) ((PlatformRange *)object)->rgb_bits = g_value_get_int(value);
    else G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

static void range_get_property(GObject *object, guint id, GValue *value, GParamSpec *param)
{
    if (id == PROP_RANGE) g_value_set_int(value, ((PlatformRange *)object)->range);
    else if (id == PROP_RGB_BITS) g_value_set_int(value, ((PlatformRange *)object)->rgb_bits);
    else G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

static void platform_range_class_init(PlatformRangeClass *klass)
{
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstVideoFilterClass *filter_class = GST_VIDEO_FILTER_CLASS(klass);
    GstCaps *caps = gst_caps_from_string("video/x-raw");

    gst_element_class_add_pad_template(element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
    gst_element_class_set_static_metadata(element_class, "YUV range", "Filter/Converter/Video",
                                          "Moves YUV pictures between full and limited range", "media platform");
    G_OBJECT_CLASS(klass)->set_property = range_set_property;
    G_OBJECT_CLASS(klass)->get_property = range_get_property;
    g_object_class_install_property(G_OBJECT_CLASS(klass), PROP_RANGE,
        g_param_spec_int("range", "Range", "Range of what comes out: 1 full, 2 limited, 0 as it came", 0, 2, 0,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    g_object_class_install_property(G_OBJECT_CLASS(klass), PROP_RGB_BITS,
        g_param_spec_int("rgb-bits", "RGB bits", "Bits a channel of 24-bit RGB is rounded to (4-8)", 4, 8, 8,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
    GST_BASE_TRANSFORM_CLASS(klass)->transform_caps = range_transform_caps;
    GST_BASE_TRANSFORM_CLASS(klass)->fixate_caps = range_fixate_caps;
    GST_BASE_TRANSFORM_CLASS(klass)->query = range_query;
    filter_class->set_info = range_set_info;
    filter_class->transform_frame = range_transform_frame;
}

static void platform_range_init(PlatformRange *self)
{
    self->rgb_bits = 8;
}

int range_register(void)
{
    return gst_element_register(NULL, "platformrange", GST_RANK_NONE, platform_range_get_type());
}
