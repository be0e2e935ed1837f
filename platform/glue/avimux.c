/*
 * platformavimux: the AVI writer of the filter graph. A bin around avimux (OpenDML big-file mode on) that
 * also stores what avimux refuses: 16-bit RGB 5:5:5 frames (BI_RGB, bottom-up rows), IMA and MS ADPCM and
 * GSM 6.10 (as 65-byte WAV49 blocks), Cinepak, Microsoft Video 1 and FFV1. Each input passes a fixer that
 * hands avimux a stand-in of the same byte layout (RGB 5:5:5 as 8-bit grey of twice the width, block audio
 * as WMA with its extra bytes, coded pictures as Huffyuv) and
 * records what the stream really is; a probe on avimux's output puts that back into every header it
 * writes.
 */
#include "glue/wavdest.h"

#include <string.h>

#define GSM_FRAME 33
#define GSM_BLOCK 65

#define AVI_VIDEO_CAPS \
    "video/x-raw, format=(string){ BGR, BGRx, BGRA, RGB15, I420, YUY2, UYVY, GRAY8 }, " \
        "width=(int)[ 16, 4096 ], height=(int)[ 16, 4096 ], framerate=(fraction)[ 0/1, 2147483647/1 ]; " \
    "image/jpeg, width=(int)[ 16, 4096 ], height=(int)[ 16, 4096 ]; " \
    "video/x-divx, divxversion=(int)[ 3, 5 ]; " \
    "video/x-msmpeg, msmpegversion=(int)[ 41, 43 ]; " \
    "video/mpeg, mpegversion=(int){ 1, 2, 4 }, systemstream=(boolean)false; " \
    "video/x-h264, stream-format=(string)byte-stream, alignment=(string)au; " \
    "video/x-huffyuv; video/x-wmv, wmvversion=(int)[ 1, 3 ]; video/x-vp8; " \
    "video/x-dv, systemstream=(boolean)false; video/x-cinepak; video/x-msvideocodec, msvideoversion=(int)1; " \
    "video/x-ffv, ffvversion=(int)1"

#define AVI_AUDIO_CAPS \
    "audio/x-raw, format=(string){ U8, S16LE, S24LE, S32LE }, layout=(string)interleaved, " \
        "rate=(int)[ 1000, 96000 ], channels=(int)[ 1, 8 ]; " \
    "audio/mpeg, mpegversion=(int)1, layer=(int)[ 1, 3 ], rate=(int)[ 1000, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-alaw, rate=(int)[ 1000, 48000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-mulaw, rate=(int)[ 1000, 48000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-wma, wmaversion=(int)[ 1, 2 ], rate=(int)[ 1000, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-adpcm, layout=(string){ dvi, microsoft }, rate=(int)[ 1000, 96000 ], channels=(int)[ 1, 2 ]; " \
    "audio/x-gsm, rate=(int)8000, channels=(int)1"

static void put16(guint8 *p, guint16 v) { p[0] = v; p[1] = v >> 8; }
static void put32(guint8 *p, guint32 v) { p[0] = v; p[1] = v >> 8; p[2] = v >> 16; p[3] = v >> 24; }
static guint32 get32(const guint8 *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((guint32)p[3] << 24); }

enum fix_mode { FIX_NONE, FIX_RGB15, FIX_BLOCK_AUDIO, FIX_GSM, FIX_FOURCC };

/* Coded pictures whose FOURCC avimux does not know (stored as a stand-in of its own, Huffyuv, whose
 * frames it copies as they come, codec data included) or spells otherwise than players expect. */
static const struct coded_format
{
    const char *caps;
    char fourcc[5];
    guint16 bits;           /* biBitCount: the decoders of Microsoft Video 1 read 8 as a palette */
    gboolean stand_in;
} coded_formats[] =
{
    { "video/x-cinepak", "cvid", 24, TRUE },
    { "video/x-msvideocodec", "CRAM", 16, TRUE },
    { "video/x-ffv", "FFV1", 24, TRUE },
    { "video/x-dv", "dvsd", 24, FALSE },
};

/* ---- the fixer in front of each avimux input ---- */

typedef struct
{
    GstElement parent;
    GstPad *sinkpad, *srcpad;
    GstCaps *accepted;
    enum fix_mode mode;
    gint width, height, stride;     /* RGB 5:5:5 */
    guint32 image_size;             /* biSizeImage of RGB frames: padded rows times height; 0 for others */
    struct wave_format wf;          /* block audio */
    const struct coded_format *coded;   /* FIX_FOURCC */
    guint8 gsm_frame[GSM_FRAME];
    gboolean gsm_pending;
} PlatformAviFix;

typedef struct
{
    GstElementClass parent_class;
} PlatformAviFixClass;

GType platform_avi_fix_get_type(void);
G_DEFINE_TYPE(PlatformAviFix, platform_avi_fix, GST_TYPE_ELEMENT)

static GstStaticPadTemplate fix_sink_template = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK,
    GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
static GstStaticPadTemplate fix_src_template = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC,
    GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

/* What avimux is given instead of caps it refuses; NULL when the caps are not ours to take. */
static GstCaps *fix_stand_in_caps(PlatformAviFix *self, GstCaps *caps)
{
    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const gchar *name = gst_structure_get_name(s);

    self->mode = FIX_NONE;
    self->image_size = 0;
    if (!strcmp(name, "video/x-raw"))
    {
        /* avimux states width times height; a DIB's rows are padded to 4 bytes */
        const gchar *format = gst_structure_get_string(s, "format");
        gint w = 0, h = 0, bytes = !g_strcmp0(format, "RGB15") ? 2 : !g_strcmp0(format, "BGR") ? 3
                                  : !g_strcmp0(format, "BGRx") || !g_strcmp0(format, "BGRA") ? 4 : 0;
        if (bytes && gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h))
            self->image_size = (guint32)GST_ROUND_UP_4(w * bytes) * h;
    }
    if (!strcmp(name, "video/x-raw") && !g_strcmp0(gst_structure_get_string(s, "format"), "RGB15"))
    {
        GstCaps *out;
        gint num = 0, den = 1;
        if (!gst_structure_get_int(s, "width", &self->width) || !gst_structure_get_int(s, "height", &self->height)
                || self->width * 2 > 4096)
            return NULL;
        gst_structure_get_fraction(s, "framerate", &num, &den);
        /* rows of 2 bytes a pixel padded to 4 bytes: the same bytes as grey rows of twice the width */
        self->stride = GST_ROUND_UP_4(self->width * 2);
        out = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8",
                                  "width", G_TYPE_INT, self->width * 2, "height", G_TYPE_INT, self->height,
                                  "framerate", GST_TYPE_FRACTION, num, den,
                                  "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, NULL);
        self->mode = FIX_RGB15;
        return out;
    }
    for (gsize i = 0; i < G_N_ELEMENTS(coded_formats); i++)
    {
        GstCaps *out;
        const GValue *data;
        gint w = 0, h = 0, num = 0, den = 1;
        if (strcmp(name, coded_formats[i].caps)) continue;
        self->coded = &coded_formats[i];
        self->mode = FIX_FOURCC;
        if (!coded_formats[i].stand_in) return gst_caps_ref(caps);
        if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h)) return NULL;
        gst_structure_get_fraction(s, "framerate", &num, &den);
        out = gst_caps_new_simple("video/x-huffyuv", "width", G_TYPE_INT, w, "height", G_TYPE_INT, h,
                                  "framerate", GST_TYPE_FRACTION, num, den, NULL);
        if ((data = gst_structure_get_value(s, "codec_data")))
            gst_caps_set_value(out, "codec_data", data);
        return out;
    }
    if (!strcmp(name, "audio/x-adpcm") || !strcmp(name, "audio/x-gsm"))
    {
        GstBuffer *extra;
        GstCaps *out;
        if (!wave_format_from_caps(caps, &self->wf)) return NULL;
        extra = gst_buffer_new_allocate(NULL, self->wf.extra_size, NULL);
        gst_buffer_fill(extra, 0, self->wf.extra, self->wf.extra_size);
        out = gst_caps_new_simple("audio/x-wma", "wmaversion", G_TYPE_INT, 2,
                                  "rate", G_TYPE_INT, (gint)self->wf.rate,
                                  "channels", G_TYPE_INT, (gint)self->wf.channels,
                                  "block_align", G_TYPE_INT, (gint)self->wf.block_align,
                                  "bitrate", G_TYPE_INT, (gint)(self->wf.avg_bytes * 8),
                                  "codec_data", GST_TYPE_BUFFER, extra, NULL);
        gst_buffer_unref(extra);
        self->mode = self->wf.gsm_frames ? FIX_GSM : FIX_BLOCK_AUDIO;
        return out;
    }
    return gst_caps_ref(caps);
}

static gboolean fix_sink_event(GstPad *pad, GstObject *parent, GstEvent *event)
{
    PlatformAviFix *self = (PlatformAviFix *)parent;

    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS)
    {
        GstCaps *caps, *out;
        gst_event_parse_caps(event, &caps);
        if (!gst_caps_is_fixed(caps) || !gst_caps_can_intersect(caps, self->accepted)
                || !(out = fix_stand_in_caps(self, caps)))
        {
            gst_event_unref(event);
            return FALSE;
        }
        gst_event_unref(event);
        event = gst_event_new_caps(out);
        gst_caps_unref(out);
        return gst_pad_push_event(self->srcpad, event);
    }
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && self->mode == FIX_GSM && self->gsm_pending)
    {
        static const guint8 silent[GSM_FRAME] = {0xd0};
        GstBuffer *block = gst_buffer_new_allocate(NULL, GSM_BLOCK, NULL);
        GstMapInfo out;
        gst_buffer_map(block, &out, GST_MAP_WRITE);
        gsm_pack_wav49(self->gsm_frame, silent, out.data);
        gst_buffer_unmap(block, &out);
        self->gsm_pending = FALSE;
        gst_pad_push(self->srcpad, block);
    }
    return gst_pad_event_default(pad, parent, event);
}

static gboolean fix_sink_query(GstPad *pad, GstObject *parent, GstQuery *query)
{
    PlatformAviFix *self = (PlatformAviFix *)parent;

    switch (GST_QUERY_TYPE(query))
    {
    case GST_QUERY_CAPS:
    {
        GstCaps *filter, *result;
        gst_query_parse_caps(query, &filter);
        result = filter ? gst_caps_intersect_full(filter, self->accepted, GST_CAPS_INTERSECT_FIRST)
                        : gst_caps_ref(self->accepted);
        gst_query_set_caps_result(query, result);
        gst_caps_unref(result);
        return TRUE;
    }
    case GST_QUERY_ACCEPT_CAPS:
    {
        GstCaps *caps;
        gst_query_parse_accept_caps(query, &caps);
        gst_query_set_accept_caps_result(query, gst_caps_can_intersect(caps, self->accepted));
        return TRUE;
    }
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

/* DIB rows run bottom-up: turn the frame upside down. */
static GstBuffer *fix_flip_rows(PlatformAviFix *self, GstBuffer *in)
{
    GstMapInfo src, dst;
    GstBuffer *out;
    gint y;

    if (!gst_buffer_map(in, &src, GST_MAP_READ)) return NULL;
    if (src.size < (gsize)self->stride * self->height)
    {
        gst_buffer_unmap(in, &src);
        return NULL;
    }
    out = gst_buffer_new_allocate(NULL, (gsize)self->stride * self->height, NULL);
    gst_buffer_map(out, &dst, GST_MAP_WRITE);
    for (y = 0; y < self->height; y++)
        memcpy(dst.data + (gsize)y * self->stride, src.data + (gsize)(self->height - 1 - y) * self->stride,
               self->stride);
    gst_buffer_unmap(out, &dst);
    gst_buffer_unmap(in, &src);
    gst_buffer_copy_into(out, in, GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS | GST_BUFFER_COPY_META, 0, -1);
    return out;
}

static GstFlowReturn fix_chain(GstPad *pad, GstObject *parent, GstBuffer *buf)
{
    PlatformAviFix *self = (PlatformAviFix *)parent;

    if (self->mode == FIX_RGB15)
    {
        GstBuffer *out = fix_flip_rows(self, buf);
        gst_buffer_unref(buf);
        if (!out)
        {
            GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("short RGB 5:5:5 frame"), (NULL));
            return GST_FLOW_ERROR;
        }
        return gst_pad_push(self->srcpad, out);
    }
    if (self->mode == FIX_GSM)
    {
        GstFlowReturn ret = GST_FLOW_OK;
        GstClockTime pts = GST_BUFFER_PTS(buf);
        GstMapInfo map;
        gsize off = 0;

        gst_buffer_map(buf, &map, GST_MAP_READ);
        while (ret == GST_FLOW_OK && off + GSM_FRAME <= map.size)
        {
            if (!self->gsm_pending)
            {
                memcpy(self->gsm_frame, map.data + off, GSM_FRAME);
                self->gsm_pending = TRUE;
            }
            else
            {
                GstBuffer *block = gst_buffer_new_allocate(NULL, GSM_BLOCK, NULL);
                GstMapInfo out;
                gst_buffer_map(block, &out, GST_MAP_WRITE);
                gsm_pack_wav49(self->gsm_frame, map.data + off, out.data);
                gst_buffer_unmap(block, &out);
                /* a block starts 20 ms (one frame) before the second frame */
                if (GST_CLOCK_TIME_IS_VALID(pts))
                {
                    GstClockTime t = pts + gst_util_uint64_scale(off / GSM_FRAME, GST_SECOND, 50);
                    GST_BUFFER_PTS(block) = t >= GST_SECOND / 50 ? t - GST_SECOND / 50 : 0;
                    GST_BUFFER_DURATION(block) = GST_SECOND / 25;
                }
                self->gsm_pending = FALSE;
                ret = gst_pad_push(self->srcpad, block);
            }
            off += GSM_FRAME;
        }
        gst_buffer_unmap(buf, &map);
        gst_buffer_unref(buf);
        return ret;
    }
    return gst_pad_push(self->srcpad, buf);
}

static void platform_avi_fix_finalize(GObject *object)
{
    PlatformAviFix *self = (PlatformAviFix *)object;
    if (self->accepted) gst_caps_unref(self->accepted);
    G_OBJECT_CLASS(platform_avi_fix_parent_class)->finalize(object);
}

static void platform_avi_fix_class_init(PlatformAviFixClass *klass)
{
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

    G_OBJECT_CLASS(klass)->finalize = platform_avi_fix_finalize;
    gst_element_class_add_static_pad_template(element_class, &fix_sink_template);
    gst_element_class_add_static_pad_template(element_class, &fix_src_template);
    gst_element_class_set_static_metadata(element_class, "AVI input fixer", "Filter",
        "Hands avimux a stand-in for formats it refuses", "media platform");
}

static void platform_avi_fix_init(PlatformAviFix *self)
{
    self->sinkpad = gst_pad_new_from_static_template(&fix_sink_template, "sink");
    gst_pad_set_chain_function(self->sinkpad, fix_chain);
    gst_pad_set_event_function(self->sinkpad, fix_sink_event);
    gst_pad_set_query_function(self->sinkpad, fix_sink_query);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&fix_src_template, "src");
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

/* ---- the bin ---- */

typedef struct
{
    GstBin parent;
    GstElement *mux;
    GstPad *srcpad;
    GPtrArray *video_fixes, *audio_fixes;   /* PlatformAviFix of each kind in request order */
    GMutex lock;
} PlatformAviMux;

typedef struct
{
    GstBinClass parent_class;
} PlatformAviMuxClass;

GType platform_avi_mux_get_type(void);
G_DEFINE_TYPE(PlatformAviMux, platform_avi_mux, GST_TYPE_BIN)

static GstStaticPadTemplate mux_video_template = GST_STATIC_PAD_TEMPLATE("video_%u", GST_PAD_SINK,
    GST_PAD_REQUEST, GST_STATIC_CAPS(AVI_VIDEO_CAPS));
static GstStaticPadTemplate mux_audio_template = GST_STATIC_PAD_TEMPLATE("audio_%u", GST_PAD_SINK,
    GST_PAD_REQUEST, GST_STATIC_CAPS(AVI_AUDIO_CAPS));
static GstStaticPadTemplate mux_src_template = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC,
    GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-msvideo"));

/* Puts a stream's real format into its strh/strf (and the main header's width). */
static void patch_stream(guint8 *avih, guint8 *strh, guint32 strh_size, guint8 *strf, guint32 strf_size,
                         const PlatformAviFix *fix)
{
    if (fix->mode == FIX_RGB15 && strf_size >= 40 && strh_size >= 8)
    {
        put32(strh + 4, 0);                          /* fccHandler */
        put32(strf + 4, fix->width);                 /* biWidth */
        put16(strf + 14, 16);                        /* biBitCount */
        put32(strf + 16, 0);                         /* BI_RGB */
        if (avih) put32(avih + 32, fix->width);      /* dwWidth */
    }
    if (fix->mode == FIX_FOURCC && strf_size >= 40 && strh_size >= 8)
    {
        guint32 fourcc = get32((const guint8 *)fix->coded->fourcc);
        put32(strh + 4, fourcc);                     /* fccHandler */
        put16(strf + 14, fix->coded->bits);          /* biBitCount */
        put32(strf + 16, fourcc);                    /* biCompression */
    }
    if (fix->image_size && strf_size >= 40)
        put32(strf + 20, fix->image_size);           /* biSizeImage */
    if ((fix->mode == FIX_BLOCK_AUDIO || fix->mode == FIX_GSM) && strf_size >= 16 && strh_size >= 28)
    {
        const struct wave_format *wf = &fix->wf;
        put32(strh + 4, 0);                          /* fccHandler */
        put16(strf, wf->tag);
        put32(strf + 8, wf->avg_bytes);
        put16(strf + 12, wf->block_align);
        put16(strf + 14, wf->bits);
        /* strh: one block per sample, blocks per second as the rate */
        put32(strh + 20, wf->block_align);           /* dwScale */
        put32(strh + 24, wf->avg_bytes);             /* dwRate */
    }
}

static void patch_header(PlatformAviMux *self, guint8 *data, gsize size)
{
    guint8 *avih = NULL;
    gsize off = 12, end;
    guint videos = 0, audios = 0;

    /* RIFF AVI, then LIST hdrl */
    if (size < 24 || memcmp(data, "RIFF", 4) || memcmp(data + 8, "AVI ", 4) || memcmp(data + 12, "LIST", 4)
            || memcmp(data + 20, "hdrl", 4))
        return;
    end = 20 + get32(data + 16);
    if (end > size) end = size;
    off = 24;
    while (off + 8 <= end)
    {
        guint32 n = get32(data + off + 4);
        if (off + 8 + n > end) break;
        if (!memcmp(data + off, "avih", 4) && n >= 40)
            avih = data + off + 8;
        else if (!memcmp(data + off, "LIST", 4) && n >= 4 && !memcmp(data + off + 8, "strl", 4))
        {
            guint8 *strh = NULL, *strf = NULL;
            guint32 strh_size = 0, strf_size = 0;
            gsize sub = off + 12;
            while (sub + 8 <= off + 8 + n)
            {
                guint32 m = get32(data + sub + 4);
                if (sub + 8 + m > off + 8 + n) break;
                if (!memcmp(data + sub, "strh", 4)) strh = data + sub + 8, strh_size = m;
                else if (!memcmp(data + sub, "strf", 4)) strf = data + sub + 8, strf_size = m;
                sub += 8 + m + (m & 1);
            }
            /* avimux writes its video streams first: match streams by kind and order */
            if (strh && strh_size >= 4)
            {
                gboolean video = !memcmp(strh, "vids", 4);
                GPtrArray *fixes = video ? self->video_fixes : self->audio_fixes;
                guint index = video ? videos++ : audios++;
                g_mutex_lock(&self->lock);
                if (strf && index < fixes->len)
                    patch_stream(avih, strh, strh_size, strf, strf_size, g_ptr_array_index(fixes, index));
                g_mutex_unlock(&self->lock);
            }
        }
        off += 8 + n + (n & 1);
    }
}

static GstPadProbeReturn mux_output_probe(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    PlatformAviMux *self = data;
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    guint8 head[12];

    if (gst_buffer_extract(buf, 0, head, 12) == 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "AVI ", 4))
    {
        GstMapInfo map;
        buf = gst_buffer_make_writable(buf);
        if (gst_buffer_map(buf, &map, GST_MAP_READWRITE))
        {
            patch_header(self, map.data, map.size);
            gst_buffer_unmap(buf, &map);
        }
        GST_PAD_PROBE_INFO_DATA(info) = buf;
    }
    return GST_PAD_PROBE_OK;
}

static GstPad *mux_request_new_pad(GstElement *element, GstPadTemplate *templ, const gchar *name,
                                   const GstCaps *caps)
{
    PlatformAviMux *self = (PlatformAviMux *)element;
    gboolean video = !strcmp(GST_PAD_TEMPLATE_NAME_TEMPLATE(templ), "video_%u");
    PlatformAviFix *fix;
    GstPad *muxpad, *fixsink, *ghost;
    gchar *ghost_name;

    muxpad = gst_element_request_pad_simple(self->mux, video ? "video_%u" : "audio_%u");
    if (!muxpad) return NULL;
    fix = g_object_new(platform_avi_fix_get_type(), NULL);
    fix->accepted = gst_pad_template_get_caps(templ);
    gst_bin_add(GST_BIN(self), GST_ELEMENT(fix));
    if (gst_pad_link(fix->srcpad, muxpad) != GST_PAD_LINK_OK)
    {
        gst_element_release_request_pad(self->mux, muxpad);
        gst_object_unref(muxpad);
        gst_bin_remove(GST_BIN(self), GST_ELEMENT(fix));
        return NULL;
    }
    /* ghost pads take the names avimux gave, so the bin's pads read the same */
    ghost_name = gst_pad_get_name(muxpad);
    gst_object_unref(muxpad);
    g_mutex_lock(&self->lock);
    g_ptr_array_add(video ? self->video_fixes : self->audio_fixes, fix);
    g_mutex_unlock(&self->lock);

    fixsink = fix->sinkpad;
    ghost = gst_ghost_pad_new_from_template(ghost_name, fixsink, templ);
    g_free(ghost_name);
    gst_element_sync_state_with_parent(GST_ELEMENT(fix));
    if (GST_STATE(element) > GST_STATE_READY) gst_pad_set_active(ghost, TRUE);
    gst_element_add_pad(element, ghost);
    return ghost;
}

static void mux_release_pad(GstElement *element, GstPad *pad)
{
    gst_element_remove_pad(element, pad);
}

static void platform_avi_mux_finalize(GObject *object)
{
    PlatformAviMux *self = (PlatformAviMux *)object;
    g_ptr_array_unref(self->video_fixes);
    g_ptr_array_unref(self->audio_fixes);
    g_mutex_clear(&self->lock);
    G_OBJECT_CLASS(platform_avi_mux_parent_class)->finalize(object);
}

static void platform_avi_mux_class_init(PlatformAviMuxClass *klass)
{
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

    G_OBJECT_CLASS(klass)->finalize = platform_avi_mux_finalize;
    gst_element_class_add_static_pad_template(element_class, &mux_video_template);
    gst_element_class_add_static_pad_template(element_class, &mux_audio_template);
    gst_element_class_add_static_pad_template(element_class, &mux_src_template);
    gst_element_class_set_static_metadata(element_class, "AVI writer", "Codec/Muxer",
        "AVI of compressed and RGB video and of PCM and compressed audio, OpenDML past 1 GB", "media platform");
    element_class->request_new_pad = mux_request_new_pad;
    element_class->release_pad = mux_release_pad;
}

static void platform_avi_mux_init(PlatformAviMux *self)
{
    GstPad *muxsrc;

    g_mutex_init(&self->lock);
    self->video_fixes = g_ptr_array_new();
    self->audio_fixes = g_ptr_array_new();
    self->mux = gst_element_factory_make("avimux", NULL);
    if (!self->mux) return;
    g_object_set(self->mux, "bigfile", TRUE, NULL);
    gst_bin_add(GST_BIN(self), self->mux);
    muxsrc = gst_element_get_static_pad(self->mux, "src");
    gst_pad_add_probe(muxsrc, GST_PAD_PROBE_TYPE_BUFFER, mux_output_probe, self, NULL);
    self->srcpad = gst_ghost_pad_new_from_template("src", muxsrc,
        gst_static_pad_template_get(&mux_src_template));
    gst_object_unref(muxsrc);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

gboolean avimux_register(void)
{
    /* avimux does the muxing: without it there is no AVI writer */
    GstElementFactory *f = gst_element_factory_find("avimux");
    if (!f) return FALSE;
    gst_object_unref(f);
    return gst_element_register(NULL, "platformavimux", GST_RANK_NONE, platform_avi_mux_get_type());
}
