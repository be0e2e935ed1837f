/*
 * Samples between a pipeline and filters outside it (a client's own source or renderer): an application
 * source that samples are pushed into, and an application sink that samples are pulled from. Plain C, no
 * Win32; callers push and pull on threads of their own, never on GStreamer's.
 */
#ifndef MEDIAPLATFORM_BRIDGE_H
#define MEDIAPLATFORM_BRIDGE_H

#ifdef __cplusplus
extern "C" {
#endif

enum bridge_kind { BRIDGE_VIDEO = 1, BRIDGE_AUDIO, BRIDGE_CODED };

/* What flows through: raw pictures (format a GStreamer video format name such as "BGRx", "I420"),
 * raw sound (format "S16LE", "U8", "F32LE" ...), or coded media (format a caps name, "image/jpeg"). */
struct bridge_format {
    int kind;
    char format[32];
    int width, height;
    int bottom_up;           /* pictures stored last row first (DIBs) */
    int fps_num, fps_den;    /* 0: unknown */
    int rate, channels;
};

typedef struct bridge bridge;

/* A source: *element (a GstElement *, for pl_add_element_source, pad "src") takes what is pushed. */
bridge *bridge_source_new(const struct bridge_format *f, void **element);
/* Copies one sample in; times in ns of stream time, -1 unknown. 0, or -1 when the pipeline no longer
 * takes samples (stopped, flushing or failed). May wait while the pipeline is full. */
int bridge_source_push(bridge *b, const void *data, int size, long long start_ns, long long stop_ns, int discontinuity);
void bridge_source_end(bridge *b);

/* A sink: *element (a GstElement *, for pl_add_element_sink, pad "sink") delivers in the format f. */
bridge *bridge_sink_new(const struct bridge_format *f, void **element);

struct bridge_sample {
    const unsigned char *data;
    int size;
    long long start_ns, stop_ns;   /* running time, -1 unknown */
    int discontinuity;
    void *handle;
};
/* The next sample, waiting up to timeout_ms: 1 with a sample (release it), 0 on timeout, -1 at the end
 * of the stream (or when stopped). */
int bridge_sink_pull(bridge *b, unsigned timeout_ms, struct bridge_sample *s);
void bridge_sample_release(struct bridge_sample *s);

void bridge_free(bridge *b);

#ifdef __cplusplus
}
#endif

#endif
