/* Measures one frame of a pipeline fragment that ends in BGR video. */
#include "camera_frames.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <gst/gst.h>
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

static void fail(char *error, int size, const char *what, const char *detail)
{
    if (error && size > 0) snprintf(error, size, "%s%s%s", what, detail ? ": " : "", detail ? detail : "");
}

static void measure(const GstVideoFrame *frame, struct frame_stats *out)
{
    int w = GST_VIDEO_FRAME_WIDTH(frame), h = GST_VIDEO_FRAME_HEIGHT(frame);
    int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
    const guint8 *data = GST_VIDEO_FRAME_PLANE_DATA(frame, 0);
    double sb = 0, sg = 0, sr = 0, sy = 0, syy = 0, sc = 0, se = 0;
    double n = (double)w * h;

    for (int y = 0; y < h; y++)
    {
        const guint8 *row = data + (gsize)y * stride;
        double prev = 0;
        for (int x = 0; x < w; x++)
        {
            int b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
            int hi = MAX(b, MAX(g, r)), lo = MIN(b, MIN(g, r));
            double luma = 0.114 * b + 0.587 * g + 0.299 * r;
            sb += b;
            sg += g;
            sr += r;
            sy += luma;
            syy += luma * luma;
            sc += hi - lo;
            if (x) se += fabs(luma - prev);
            prev = luma;
        }
    }
    out->mean_b = sb / n;
    out->mean_g = sg / n;
    out->mean_r = sr / n;
    out->mean_luma = sy / n;
    out->luma_stddev = sqrt(MAX(0.0, syy / n - out->mean_luma * out->mean_luma));
    out->chroma = sc / n;
    out->edges = w > 1 ? se / ((double)(w - 1) * h) : 0;
}

int measure_frame(const char *description, struct frame_stats *out, char *error, int error_size)
{
    GstElement *pipeline, *sink;
    GstSample *sample = NULL;
    GError *err = NULL;
    gchar *text;
    int ok = 0;

    memset(out, 0, sizeof(*out));
    gst_init(NULL, NULL);
    text = g_strdup_printf("%s ! appsink name=probe caps=video/x-raw,format=BGR sync=false", description);
    pipeline = gst_parse_launch(text, &err);
    g_free(text);
    if (!pipeline || err)
    {
        fail(error, error_size, "does not parse", err ? err->message : NULL);
        if (err) g_error_free(err);
        if (pipeline) gst_object_unref(pipeline);
        return 0;
    }
    sink = gst_bin_get_by_name(GST_BIN(pipeline), "probe");
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        fail(error, error_size, "does not start", NULL);
    else
    {
        /* the third frame: past whatever the first buffers carry */
        for (int i = 0; i < 3; i++)
        {
            if (sample) gst_sample_unref(sample);
            if (!(sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND))) break;
        }
        if (!sample)
            fail(error, error_size, "no frame within 10 s", NULL);
        else
        {
            GstVideoInfo info;
            GstVideoFrame frame;
            GstCaps *caps = gst_sample_get_caps(sample);

            if (!caps || !gst_video_info_from_caps(&info, caps))
                fail(error, error_size, "frame without video caps", NULL);
            else if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
                fail(error, error_size, "frame cannot be mapped", NULL);
            else
            {
                out->width = GST_VIDEO_INFO_WIDTH(&info);
                out->height = GST_VIDEO_INFO_HEIGHT(&info);
                out->fps_num = GST_VIDEO_INFO_FPS_N(&info);
                out->fps_den = GST_VIDEO_INFO_FPS_D(&info);
                measure(&frame, out);
                gst_video_frame_unmap(&frame);
                ok = 1;
            }
            gst_sample_unref(sample);
        }
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return ok;
}
