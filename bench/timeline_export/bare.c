/* The benchmark timeline as a bare GES pipeline: the same clips, wipe and fade, tracks at 640x480 25 fps
 * and 44.1 kHz stereo, video through jpegenc into avimux. Usage: bare MOVIE STILL SOUND OUT.avi [FORMAT];
 * FORMAT (e.g. BGR, the group's RGB24) fixes the pictures the timeline delivers, as a group's media type
 * does; without it GES keeps its own. Prints the seconds the export took. */
#include <ges/ges.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <stdio.h>

#define S GST_SECOND

static GESClip *clip(GESLayer *layer, const char *file, GstClockTime start, GstClockTime length, GESTrackType type)
{
    GError *error = NULL;
    char *uri = gst_filename_to_uri(file, NULL);
    GESUriClipAsset *asset = ges_uri_clip_asset_request_sync(uri, &error);
    g_free(uri);
    if (!asset) {
        fprintf(stderr, "%s: %s\n", file, error ? error->message : "?");
        return NULL;
    }
    return ges_layer_add_asset(layer, GES_ASSET(asset), start, 0, length, type);
}

static void keyframe(GESClip *c, const char *description, const char *property, const GstClockTime *t,
                     const double *v, int n)
{
    GESEffect *effect = ges_effect_new(description);
    GstControlSource *cs = gst_interpolation_control_source_new();
    ges_clip_add_top_effect(c, GES_BASE_EFFECT(effect), -1, NULL);
    g_object_set(effect, "auto-clamp-control-sources", FALSE, NULL);
    g_object_set(cs, "mode", GST_INTERPOLATION_MODE_LINEAR, NULL);
    for (int i = 0; i < n; i++) gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(cs), t[i], v[i]);
    ges_track_element_set_control_source(GES_TRACK_ELEMENT(effect), cs, property, "direct-absolute");
    gst_object_unref(cs);
}

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: bare MOVIE STILL SOUND OUT.avi [FORMAT]\n");
        return 2;
    }
    gint64 t0 = g_get_monotonic_time();   /* library start-up counts, as it does for the engine */
    gst_init(NULL, NULL);
    ges_init();

    GESTimeline *timeline = ges_timeline_new();
    GESTrack *video = GES_TRACK(ges_video_track_new()), *audio = GES_TRACK(ges_audio_track_new());
    GstCaps *vcaps = gst_caps_from_string("video/x-raw,width=640,height=480,framerate=25/1");
    if (argc == 6) gst_caps_set_simple(vcaps, "format", G_TYPE_STRING, argv[5], NULL);
    GstCaps *acaps = gst_caps_from_string("audio/x-raw,rate=44100,channels=2");
    ges_track_set_restriction_caps(video, vcaps);
    ges_track_set_restriction_caps(audio, acaps);
    gst_caps_unref(vcaps);
    gst_caps_unref(acaps);
    ges_timeline_add_track(timeline, video);
    ges_timeline_add_track(timeline, audio);
    GESLayer *top = ges_timeline_append_layer(timeline), *bottom = ges_timeline_append_layer(timeline);

    GESClip *movie = clip(bottom, argv[1], 0, 30 * S, GES_TRACK_TYPE_VIDEO);
    GESClip *still = clip(top, argv[2], 28 * S, 32 * S, GES_TRACK_TYPE_VIDEO);
    GESClip *sound = clip(bottom, argv[3], 0, 60 * S, GES_TRACK_TYPE_AUDIO);
    if (!movie || !still || !sound) return 1;
    /* wipe over 28..31 s of the timeline: clip times 0..3 s; volume 1 -> 0 over 50..61 s */
    GstClockTime wt[] = {0, 3 * S, 32 * S};
    double wv[] = {1.0, 0.0, 0.0};
    keyframe(still, "smptealpha type=bar-wipe-lr", "position", wt, wv, 3);
    GstClockTime vt[] = {0, 50 * S - 1, 50 * S, 61 * S};
    double vv[] = {1.0, 1.0, 1.0, 0.0};
    keyframe(sound, "volume", "volume", vt, vv, 4);
    ges_timeline_commit_sync(timeline);

    GstElement *pipeline = gst_pipeline_new(NULL);
    GError *error = NULL;
    GstElement *vchain = gst_parse_bin_from_description("queue ! videoconvert ! jpegenc", TRUE, &error);
    GstElement *achain = gst_parse_bin_from_description("queue ! audioconvert", TRUE, &error);
    GstElement *mux = gst_element_factory_make("avimux", NULL), *sink = gst_element_factory_make("filesink", NULL);
    g_object_set(sink, "location", argv[4], NULL);
    gst_bin_add_many(GST_BIN(pipeline), GST_ELEMENT(timeline), vchain, achain, mux, sink, NULL);
    gst_pad_link(ges_timeline_get_pad_for_track(timeline, video), gst_element_get_static_pad(vchain, "sink"));
    gst_pad_link(ges_timeline_get_pad_for_track(timeline, audio), gst_element_get_static_pad(achain, "sink"));
    gst_element_link(vchain, mux);
    gst_element_link(achain, mux);
    gst_element_link(mux, sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstMessage *msg = gst_bus_timed_pop_filtered(gst_element_get_bus(pipeline), 600 * GST_SECOND,
                                                 GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    int ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    if (!ok) {
        fprintf(stderr, "the export failed\n");
        return 1;
    }
    printf("%.2f\n", (g_get_monotonic_time() - t0) / 1e6);
    return 0;
}
