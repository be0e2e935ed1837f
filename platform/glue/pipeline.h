/*
 * One GStreamer pipeline compiled from a filter graph: plain C, no Win32 and no GStreamer types. The
 * graph adds one node per connected filter, links them output to input, then builds and runs the
 * pipeline. Every call is safe from any thread; nothing here calls back into Win32.
 */
#ifndef MEDIAPLATFORM_PIPELINE_H
#define MEDIAPLATFORM_PIPELINE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct pipeline pipeline;

/* What flows out of a node's output. Raw streams get converters in front of whatever they feed. */
enum pl_kind { PL_RAW_VIDEO = 1, PL_RAW_AUDIO, PL_CODED_VIDEO, PL_CODED_AUDIO, PL_BYTES };

enum pl_state { PL_STOPPED = 0, PL_PAUSED, PL_PLAYING };

enum pl_result { PL_OK = 0, PL_ASYNC, PL_FAILED, PL_SAME_FILE /* a writer would replace a file being read */ };

enum pl_message_type { PL_MSG_NONE = 0, PL_MSG_EOS, PL_MSG_ERROR, PL_MSG_STEP_DONE, PL_MSG_ASYNC_DONE };

struct pl_message {
    int type;
    char text[256];          /* error text, UTF-8 */
};

/* A decoded picture, 32-bit BGRx rows top-down. */
struct pl_frame {
    const unsigned char *data;
    int width, height, stride;
    long long pts;           /* ns, stream time; -1 unknown */
    void *handle;            /* for pl_frame_release */
};

pipeline *pl_new(void);
void pl_free(pipeline *p);

/* Nodes. Each returns the node number (>= 0) or -1. Outputs and inputs are numbered from 0. */
/* filesrc ! decodebin; output i is the i-th stream, kinds[i] PL_RAW_VIDEO or PL_RAW_AUDIO in container
 * order. Streams that feed nothing are drained into fakesinks. */
int pl_add_file_source(pipeline *p, const char *path, int count, const int *kinds);
/* The frame rate of a file source's video output as measured; pictures written from it get that rate
 * (some containers only guess one for the decoder). */
void pl_set_output_rate(pipeline *p, int node, int output, int num, int den);
/* A ready-made element (a GstElement *, floating or a reference the pipeline takes) with one named source
 * pad per stream. */
int pl_add_element_source(pipeline *p, void *element, int count, const char *const *pads, const int *kinds);
/* A gst-launch fragment. inputs 0 (a live source such as a camera) or 1; out_kind what its one output
 * delivers (0: no output). */
int pl_add_fragment(pipeline *p, const char *description, int inputs, int out_kind);
/* AVI multiplexer: "platformavimux" when installed, else "avimux"; any number of inputs. */
int pl_add_avi_mux(pipeline *p);
/* filesink replacing the file at path. */
int pl_add_file_sink(pipeline *p, const char *path);
/* The picture goes to an application sink whose frames pl_frame_wait hands out. */
int pl_add_video_renderer(pipeline *p);
/* The default sound device, or a clock-synced fake sink when there is none. */
int pl_add_audio_renderer(pipeline *p);
/* A ready-made element (a GstElement *, floating or a reference the pipeline takes) with a "sink" pad
 * that takes one stream: a sink of the caller's (an application sink). */
int pl_add_element_sink(pipeline *p, void *element);
/* The volume of a sound renderer node: linear gain 0..1 and balance -1 (left only) .. 1 (right only),
 * kept for a pipeline not built yet. pl_get_audio reads back what the elements hold. */
int pl_set_audio(pipeline *p, int node, double gain, double pan);
int pl_get_audio(pipeline *p, int node, double *gain, double *pan);
/* One input, outputs as many as linked; later outputs drop frames rather than hold up the first. */
int pl_add_tee(pipeline *p);

int pl_link(pipeline *p, int from, int output, int to, int input);

/* Makes the GStreamer elements. PL_OK, or PL_FAILED with a reason in err; PL_SAME_FILE when a file sink's
 * target is a file being read in this process. A file sink writes beside its target, which takes the
 * written file's name only when the run has completed (its sources read to their end) and it stops;
 * a recording from live sources alone goes into its file as it comes. */
int pl_build(pipeline *p, char *err, int size);

/* Changes state; waits up to timeout_ms for PAUSED/PLAYING to be reached. PL_OK when reached, PL_ASYNC
 * when still under way, PL_FAILED with the reason in err. PL_STOPPED releases every file. */
int pl_set_state(pipeline *p, int state, unsigned timeout_ms, char *err, int size);
int pl_get_state(pipeline *p, unsigned timeout_ms, int *state);

/* Flushing, frame-accurate seek; -1 leaves a position as it is (the stop: at the end). */
int pl_seek(pipeline *p, long long start_ns, long long stop_ns);
/* The same at a playback rate (> 0; 1.0 is normal speed). */
int pl_seek_rate(pipeline *p, long long start_ns, long long stop_ns, double rate);
long long pl_position(pipeline *p);        /* ns, -1 unknown */
long long pl_duration(pipeline *p);        /* ns, -1 unknown */
/* Advances the video renderer (node) by frames in PAUSED; PL_MSG_STEP_DONE follows. */
int pl_step(pipeline *p, int renderer, int frames);

/* Next message of the bus, waiting up to timeout_ms. PL_MSG_NONE on timeout. */
int pl_next_message(pipeline *p, unsigned timeout_ms, struct pl_message *m);
/* Makes a pl_next_message that is waiting return PL_MSG_NONE at once. */
void pl_wake(pipeline *p);

/* Newest frame of a video renderer node that has not been handed out yet, waiting up to timeout_ms.
 * 1 with the frame (release it), 0 on timeout. */
int pl_frame_wait(pipeline *p, int renderer, unsigned timeout_ms, struct pl_frame *f);
void pl_frame_release(struct pl_frame *f);
/* Picture size negotiated at the renderer, 0 until known. */
int pl_video_size(pipeline *p, int renderer, int *width, int *height);

/* 1 when a file at path can be created or replaced (the file is not touched). */
int pl_can_write(const char *path);

#ifdef __cplusplus
}
#endif

#endif
