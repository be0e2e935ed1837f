/* Samples between a pipeline and filters outside it: appsrc and appsink behind bridge.h. */
#include "glue/bridge.h"
#include "glue/gstglue.h"

#include <string.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

struct bridge {
    GstElement *app;         /* the appsrc or appsink, a reference of our own */
};

static GstCaps *caps_of(const struct bridge_format *f, int square_pixels)
{
    GstCaps *caps = NULL;
    switch (f->kind)
    {
    case BRIDGE_VIDEO:
        caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, f->format, "width", G_TYPE_INT, f->width,
                                   "height", G_TYPE_INT, f->height, NULL);
        if (square_pixels) gst_caps_set_simple(caps, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, NULL);
        break;
    case BRIDGE_AUDIO:
        caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, f->format, "layout", G_TYPE_STRING,
                                   "interleaved", "rate", G_TYPE_INT, f->rate, "channels", G_TYPE_INT, f->channels, NULL);
        break;
    case BRIDGE_CODED:
        caps = gst_caps_new_empty_simple(f->format);
        if (f->width > 0 && f->height > 0)
            gst_caps_set_simple(caps, "width", G_TYPE_INT, f->width, "height", G_TYPE_INT, f->height, NULL);
        break;
    default:
        return NULL;
    }
    if (f->kind != BRIDGE_AUDIO && f->fps_num > 0 && f->fps_den > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, f->fps_num, f->fps_den, NULL);
    return caps;
}

/* a bin of elements linked in order, with ghost pads for the first's sink and the last's src */
static GstElement *chain_bin(GstElement **elements, int count, int ghost_sink, int ghost_src)
{
    GstElement *bin = gst_bin_new(NULL);
    GstPad *pad;
    for (int i = 0; i < count; i++)
    {
        gst_bin_add(GST_BIN(bin), elements[i]);
        if (i && !gst_element_link(elements[i - 1], elements[i]))
        {
            gst_object_unref(gst_object_ref_sink(bin));
            return NULL;
        }
    }
    if (ghost_sink)
    {
        pad = gst_element_get_static_pad(elements[0], "sink");
        gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
        gst_object_unref(pad);
    }
    if (ghost_src)
    {
        pad = gst_element_get_static_pad(elements[count - 1], "src");
        gst_element_add_pad(bin, gst_ghost_pad_new("src", pad));
        gst_object_unref(pad);
    }
    return bin;   /* floating: the pipeline's bin takes it */
}

static GstElement *flip(void)
{
    GstElement *e = gst_element_factory_make("videoflip", NULL);
    if (e) g_object_set(e, "video-direction", 5 /* vertical flip */, NULL);
    return e;
}

bridge *bridge_source_new(const struct bridge_format *f, void **element)
{
    GstElement *parts[2];
    GstCaps *caps;
    bridge *b;
    int n = 0;

    *element = NULL;
    glue_init();
    if (!(caps = caps_of(f, 1))) return NULL;
    parts[n++] = gst_element_factory_make("appsrc", NULL);
    if (!parts[0])
    {
        gst_caps_unref(caps);
        return NULL;
    }
    g_object_set(parts[0], "caps", caps, "format", GST_FORMAT_TIME, "block", TRUE, "is-live", FALSE,
                 "max-bytes", (guint64)(f->kind == BRIDGE_AUDIO ? 1 << 18 : 1 << 22), NULL);
    gst_caps_unref(caps);
    if (f->kind == BRIDGE_VIDEO && f->bottom_up && !(parts[n++] = flip()))
    {
        gst_object_unref(parts[0]);
        return NULL;
    }
    b = g_new0(bridge, 1);
    b->app = gst_object_ref(parts[0]);
    if (!(*element = chain_bin(parts, n, 0, 1)))
    {
        gst_object_unref(b->app);
        g_free(b);
        return NULL;
    }
    return b;
}

int bridge_source_push(bridge *b, const void *data, int size, long long start_ns, long long stop_ns, int discontinuity)
{
    GstBuffer *buf;
    if (!b || size < 0) return -1;
    buf = gst_buffer_new_allocate(NULL, size, NULL);
    if (!buf) return -1;
    if (size) gst_buffer_fill(buf, 0, data, size);
    if (start_ns >= 0)
    {
        GST_BUFFER_PTS(buf) = start_ns;
        if (stop_ns > start_ns) GST_BUFFER_DURATION(buf) = stop_ns - start_ns;
    }
    if (discontinuity) GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
    return gst_app_src_push_buffer(GST_APP_SRC(b->app), buf) == GST_FLOW_OK ? 0 : -1;
}

void bridge_source_end(bridge *b)
{
    if (b) gst_app_src_end_of_stream(GST_APP_SRC(b->app));
}

bridge *bridge_sink_new(const struct bridge_format *f, void **element)
{
    GstElement *parts[5];
    GstCaps *caps;
    bridge *b;
    int n = 0, ok = 1;

    struct bridge_format any_rate = *f;

    *element = NULL;
    glue_init();
    /* pictures come at the rate they come: the renderer keeps time by their stamps */
    any_rate.fps_num = any_rate.fps_den = 0;
    /* the pictures keep their size and whatever aspect their source gave them (a file's decoder may mark
     * pictures stored bottom-up with a negative one, which a scaler refuses) */
    if (!(caps = caps_of(&any_rate, 0))) return NULL;
    if (f->kind == BRIDGE_VIDEO) parts[n++] = gst_element_factory_make("videoconvert", NULL);
    else if (f->kind == BRIDGE_AUDIO)
    {
        parts[n++] = gst_element_factory_make("audioconvert", NULL);
        parts[n++] = gst_element_factory_make("audioresample", NULL);
    }
    parts[n++] = gst_element_factory_make("capsfilter", NULL);
    if (parts[n - 1]) g_object_set(parts[n - 1], "caps", caps, NULL);
    gst_caps_unref(caps);
    if (f->kind == BRIDGE_VIDEO && f->bottom_up) parts[n++] = flip();
    parts[n++] = gst_element_factory_make("appsink", NULL);
    for (int i = 0; i < n; i++) ok = ok && parts[i];
    if (!ok)
    {
        for (int i = 0; i < n; i++)
            if (parts[i]) gst_object_unref(gst_object_ref_sink(parts[i]));
        return NULL;
    }
    /* the client's renderer keeps its own time against the graph's clock */
    g_object_set(parts[n - 1], "sync", FALSE, "max-buffers", 4, "drop", FALSE, "emit-signals", FALSE, NULL);
    b = g_new0(bridge, 1);
    b->app = gst_object_ref(parts[n - 1]);
    if (!(*element = chain_bin(parts, n, 1, 0)))
    {
        gst_object_unref(b->app);
        g_free(b);
        return NULL;
    }
    return b;
}

struct held {
    GstSample *sample;
    GstMapInfo map;
};

int bridge_sink_pull(bridge *b, unsigned timeout_ms, struct bridge_sample *s)
{
    gint64 began = g_get_monotonic_time();
    GstSample *sample;
    GstBuffer *buf;
    struct held *h;

    memset(s, 0, sizeof(*s));
    if (!b) return -1;
    sample = gst_app_sink_try_pull_sample(GST_APP_SINK(b->app), (GstClockTime)timeout_ms * GST_MSECOND);
    if (!sample)
    {
        if (gst_app_sink_is_eos(GST_APP_SINK(b->app))) return -1;
        /* a stopped sink answers at once: wait as asked all the same */
        gint64 left = (gint64)timeout_ms * 1000 - (g_get_monotonic_time() - began);
        if (left > 0) g_usleep(left > 20000 ? 20000 : left);
        return 0;
    }
    buf = gst_sample_get_buffer(sample);
    h = g_new0(struct held, 1);
    if (!buf || !gst_buffer_map(buf, &h->map, GST_MAP_READ))
    {
        g_free(h);
        gst_sample_unref(sample);
        return 0;
    }
    h->sample = sample;
    s->data = h->map.data;
    s->size = (int)h->map.size;
    s->start_ns = s->stop_ns = -1;
    if (GST_BUFFER_PTS_IS_VALID(buf))
    {
        const GstSegment *segment = gst_sample_get_segment(sample);
        guint64 t = GST_BUFFER_PTS(buf);
        if (segment && segment->format == GST_FORMAT_TIME) t = gst_segment_to_running_time(segment, GST_FORMAT_TIME, t);
        if (GST_CLOCK_TIME_IS_VALID(t))
        {
            s->start_ns = (long long)t;
            if (GST_BUFFER_DURATION_IS_VALID(buf)) s->stop_ns = s->start_ns + (long long)GST_BUFFER_DURATION(buf);
        }
    }
    s->discontinuity = GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT);
    s->handle = h;
    return 1;
}

void bridge_sample_release(struct bridge_sample *s)
{
    struct held *h = s ? s->handle : NULL;
    if (!h) return;
    gst_buffer_unmap(gst_sample_get_buffer(h->sample), &h->map);
    gst_sample_unref(h->sample);
    g_free(h);
    s->handle = NULL;
}

void bridge_free(bridge *b)
{
    if (!b) return;
    gst_object_unref(b->app);
    g_free(b);
}
