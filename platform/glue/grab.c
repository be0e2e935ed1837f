/* One picture of a video file: the file decoded up to the time asked, the picture there converted to BGR
 * at the size asked, taken from an appsink's preroll. */
#include "glue/grab.h"
#include "glue/gstglue.h"

#include <string.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

struct grab {
    GstElement *pipeline, *sink;
    int video_index, seen;
};

/* The n-th video pad of the decoder goes to the converter; the others go nowhere. */
static void pad_added(GstElement *decoder, GstPad *pad, gpointer data)
{
    struct grab *g = data;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    int video = 0;
    if (!caps) caps = gst_pad_query_caps(pad, NULL);
    if (caps && gst_caps_get_size(caps) > 0)
        video = g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps) gst_caps_unref(caps);
    if (!video || g->seen++ != g->video_index) return;
    GstElement *convert = gst_bin_get_by_name(GST_BIN(g->pipeline), "convert");
    GstPad *sinkpad = convert ? gst_element_get_static_pad(convert, "sink") : NULL;
    if (sinkpad && !gst_pad_is_linked(sinkpad)) gst_pad_link(pad, sinkpad);
    if (sinkpad) gst_object_unref(sinkpad);
    if (convert) gst_object_unref(convert);
}

static void no_more_pads(GstElement *decoder, gpointer data)
{
    struct grab *g = data;
    /* no such stream: the sink never prerolls; an end of stream says so at once */
    if (g->seen <= g->video_index) gst_element_send_event(g->sink, gst_event_new_eos());
}

/* Waits for the pipeline to settle in PAUSED. */
static int settle(GstElement *pipeline, unsigned timeout_ms)
{
    GstStateChangeReturn r = gst_element_get_state(pipeline, NULL, NULL, (GstClockTime)timeout_ms * GST_MSECOND);
    return r == GST_STATE_CHANGE_SUCCESS || r == GST_STATE_CHANGE_NO_PREROLL ? GRAB_OK
         : r == GST_STATE_CHANGE_ASYNC ? GRAB_TIMEOUT : GRAB_FAILED;
}

int grab_picture(const char *unix_path, int video_index, double seconds, int width, int height,
                 unsigned char *bits, unsigned timeout_ms)
{
    struct grab g = { NULL, NULL, video_index, 0 };
    GstElement *decoder, *convert, *scale, *filter;
    GstSample *sample = NULL;
    int status = GRAB_FAILED;
    char *uri;

    glue_init();
    if (width <= 0 || height <= 0 || video_index < 0) return GRAB_FAILED;
    if (!(uri = gst_filename_to_uri(unix_path, NULL))) return GRAB_FAILED;
    g.pipeline = gst_pipeline_new(NULL);
    decoder = gst_element_factory_make("uridecodebin", NULL);
    convert = gst_element_factory_make("videoconvert", "convert");
    scale = gst_element_factory_make("videoscale", NULL);
    filter = gst_element_factory_make("capsfilter", NULL);
    g.sink = gst_element_factory_make("appsink", NULL);
    if (!g.pipeline || !decoder || !convert || !scale || !filter || !g.sink) {
        if (decoder) gst_object_unref(decoder);
        if (convert) gst_object_unref(convert);
        if (scale) gst_object_unref(scale);
        if (filter) gst_object_unref(filter);
        if (g.sink) gst_object_unref(g.sink);
        if (g.pipeline) gst_object_unref(g.pipeline);
        g_free(uri);
        return GRAB_FAILED;
    }
    GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, width,
                                        "height", G_TYPE_INT, height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                                        NULL);
    GstCaps *raw = gst_caps_from_string("video/x-raw(ANY)");
    g_object_set(decoder, "uri", uri, "caps", raw, "expose-all-streams", FALSE, NULL);   /* pictures only */
    gst_caps_unref(raw);
    g_object_set(scale, "add-borders", FALSE, NULL);
    g_object_set(filter, "caps", caps, NULL);
    g_object_set(g.sink, "sync", FALSE, "max-buffers", 1, NULL);
    gst_caps_unref(caps);
    g_free(uri);
    gst_bin_add_many(GST_BIN(g.pipeline), decoder, convert, scale, filter, g.sink, NULL);
    gst_element_link_many(convert, scale, filter, g.sink, NULL);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(pad_added), &g);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(no_more_pads), &g);

    gst_element_set_state(g.pipeline, GST_STATE_PAUSED);
    status = settle(g.pipeline, timeout_ms);
    if (status == GRAB_OK && g.seen <= video_index) status = GRAB_NO_VIDEO;
    if (status == GRAB_OK && seconds > 0.0) {
        gint64 duration = -1, at = (gint64)(seconds * GST_SECOND);
        if (gst_element_query_duration(g.pipeline, GST_FORMAT_TIME, &duration) && duration > 0 && at >= duration)
            at = duration - GST_MSECOND;   /* the last picture */
        if (at > 0 && gst_element_seek_simple(g.pipeline, GST_FORMAT_TIME,
                                              GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, at))
            status = settle(g.pipeline, timeout_ms);
    }
    if (status == GRAB_OK) sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(g.sink), (GstClockTime)timeout_ms * GST_MSECOND);
    if (status == GRAB_OK && !sample) status = g.seen <= video_index ? GRAB_NO_VIDEO : GRAB_FAILED;
    if (sample) {
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            if (map.size >= stride * (size_t)height) {
                for (int row = 0; row < height; row++)   /* top-down to bottom-up */
                    memcpy(bits + stride * (size_t)(height - 1 - row), map.data + stride * (size_t)row, stride);
                status = GRAB_OK;
            } else {
                status = GRAB_FAILED;
            }
            gst_buffer_unmap(buffer, &map);
        } else {
            status = GRAB_FAILED;
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(g.pipeline, GST_STATE_NULL);
    gst_object_unref(g.pipeline);
    return status;
}
