/*
 * Timelines made into GStreamer Editing Services objects: plain C, no Win32 types. The render engine
 * describes its timeline with the structures below (times in nanoseconds, paths as Unix paths in UTF-8)
 * and gets back one element with one source pad per group.
 */
#ifndef MEDIAPLATFORM_GESGLUE_H
#define MEDIAPLATFORM_GESGLUE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum gg_status {
    GG_OK = 0,
    GG_NOT_FOUND,        /* a source file is missing */
    GG_UNSUPPORTED,      /* a source holds nothing of its group's kind, or cannot be decoded */
    GG_INVALID,          /* the description itself is wrong: no group, no length, bad format */
    GG_NO_MEMORY,
    GG_FAILED            /* GStreamer refused; the message says why */
};

struct gg_source {
    int layer;                  /* track of the group, 0 = lowest */
    const char *path;
    int64_t start, stop;        /* timeline */
    int64_t media_start, media_stop;
    int keep_aspect;            /* fit inside the frame; otherwise stretched to fill it */
    int stream;                 /* which of the file's streams of the group's kind, from 0 */
};

/* A reveal of the layer's clips over what lies below, running over start..stop. */
struct gg_transition {
    int layer;
    int64_t start, stop;
    const char *element;        /* "smptealpha", "alpha", or NULL for the colour key */
    const char *properties;     /* gst-launch syntax, may be "" */
    int swap;                   /* run from the clip to what lies below instead */
    unsigned key_rgb;           /* colour key: 0xRRGGBB made transparent */
    int hold;                   /* what lies below shows unchanged from start to stop, the clip from stop
                                   on: a cut at stop */
};

struct gg_point {
    int64_t time;               /* from the effect's start */
    double value;
    int interpolate;            /* reached linearly from the point before, else a jump */
};

/* A volume envelope over start..stop on the layer's clips; the level is 1.0 outside it. */
enum { GG_MAX_POINTS = 16 };
struct gg_volume {
    int layer;
    int64_t start, stop;
    int count;
    struct gg_point points[GG_MAX_POINTS];
};

struct gg_group {
    int video;
    /* video */
    int width, height, bits;    /* bits 15 (5:5:5), 16 (5:6:5), 24 or 32 */
    int alpha;                  /* 32 bits with alpha */
    int fps_num, fps_den;
    /* audio */
    int channels, rate, sample_bits, is_float;

    /* video: whoever takes the pictures converts them itself (an encoder), so they may leave in the
     * timeline's own pixel format instead of the one above */
    int any_format;

    int layers;
    int source_count, transition_count, volume_count;
    const struct gg_source *sources;
    const struct gg_transition *transitions;
    const struct gg_volume *volumes;
};

typedef struct gg_timeline gg_timeline;

/* Builds the timeline of the groups, at least length ns long (black and silent to the end): on GG_OK
 * *out holds it (free with gg_timeline_free); otherwise a message (UTF-8) says what failed. Source files
 * are opened here: a missing one fails the build. */
int gg_timeline_build(const struct gg_group *groups, int count, int64_t length, gg_timeline **out,
                      char *message, int size);
void gg_timeline_free(gg_timeline *timeline);

/* What gg_timeline_build would answer about the groups' sources (every file opened, a movie's streams
 * looked up), without building the timeline. */
int gg_timeline_check(const struct gg_group *groups, int count, int64_t length, char *message, int size);

/* Length of the whole timeline in nanoseconds: every group's pad runs this long. */
int64_t gg_timeline_duration(const gg_timeline *timeline);

/* A new reference to the element (GstElement *, not floating) with one source pad per group, named by
 * gg_timeline_pad_name. The element can be taken only once per build. */
void *gg_timeline_take_element(gg_timeline *timeline);
const char *gg_timeline_pad_name(const gg_timeline *timeline, int group);

/* Runs a timeline into a file and waits for the end: video groups through video_encoder (gst-launch
 * syntax, e.g. "jpegenc") into container ("avimux" or "wavenc"), audio groups as PCM. For tests and
 * benchmarks. GG_OK when the file was written to the end; the message says what failed otherwise. */
int gg_render_to_file(const struct gg_group *groups, int count, int64_t length, const char *video_encoder,
                      const char *muxer,
                      const char *path, unsigned timeout_ms, char *message, int size);

#ifdef __cplusplus
}
#endif

#endif
