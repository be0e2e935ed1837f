/* A filter graph's pipeline: nodes for the connected filters, converters between them, one bus. */
#include "glue/pipeline.h"
#include "glue/avirepair.h"
#include "glue/statedlength.h"
#include "glue/gstglue.h"

#include <errno.h>
#include <fcntl.h>
#include <glib/gstdio.h>
#include <libgen.h>
#include <stdlib.h>
#include <string.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#define MAX_OUTPUTS 16
#define MAX_NODES 64
#define MAX_LINKS 64
#define DRAIN_MS 5000
#define QUEUE_BYTES (32u << 20)

enum node_type { N_FILE, N_ELEMENT, N_FRAGMENT, N_MUX, N_FILESINK, N_VIDEO, N_AUDIO, N_TEE, N_SINK };

struct frame_slot {
    GMutex lock;
    GCond cond;
    GstSample *latest;       /* newest frame not handed out */
    int width, height;
};

struct node {
    int type;
    char *text;              /* path or description */
    int count;               /* outputs of a source */
    int kinds[MAX_OUTPUTS];
    int rates[MAX_OUTPUTS][2];  /* measured frame rate of a file's video output, 0 when unknown */
    char *pads[MAX_OUTPUTS];
    int inputs;
    int out_kind;
    GstElement *element;     /* the node's element or bin (owned by the pipeline once built) */
    GstElement *sink;        /* the appsink of a video renderer */
    GstElement *volume, *panorama;   /* of a sound renderer */
    double gain, pan;        /* what they are set to: linear gain, -1 (left) .. 1 (right) */
    GstElement *given;       /* element source before build */
    int links_out[MAX_OUTPUTS];   /* link per output, -1 none */
    int seen[3];             /* decodebin pads seen per raw kind */
    int filled[MAX_OUTPUTS]; /* a pad arrived for this output */
    struct frame_slot slot;
    void *reading;           /* a file source: its entry among the files being read */
    char *partial;           /* a file sink: what it writes until the run completes */
    int fd;                  /* the partial file, open while the sink may write; -1 when closed */
    mode_t mode;             /* the partial file's permissions, those it keeps under its final name */
    /* a file's length as its header states it, for its pictures or its sound (stated_kind: PL_RAW_VIDEO,
     * PL_RAW_AUDIO, 0 for none), the shortfall still taken as whole, and how far that stream reached */
    int stated_kind;
    gint64 stated, slack_ns, reached;
    /* timestamps of an encoder's input, for outputs that lose theirs */
    GMutex ts_lock;
    GQueue ts;
    struct pipeline *owner;
};

struct link {
    int from, output, to, input;
    GstElement *first, *last;     /* converter chain, or NULL for a direct link */
};

struct pipeline {
    GMutex lock;             /* state changes */
    GstElement *bin;
    GstBus *bus;
    struct node nodes[MAX_NODES];
    int node_count;
    struct link links[MAX_LINKS];
    int link_count;
    int writers;             /* file sinks */
    int renderers;           /* clock-synced sinks */
    GMutex eos_lock;             /* also guards woken */
    GCond eos_cond;
    int eos_seen;
    GCond wake_cond;
    int woken;                   /* pl_wake called since the last pl_next_message */
    int built;
    int bounded;                 /* a seek chose part of the sources: they need not be read to their end */
    int stopping;                /* the end of stream comes from a stop, not from the sources */
    int complete;                /* the sources were read to their end: the files written are kept */
    gint64 written;              /* stream time the media going into files has reached, -1 before any */
};

/* ---- Nodes ---- */

pipeline *pl_new(void)
{
    pipeline *p = g_new0(pipeline, 1);
    glue_init();
    g_mutex_init(&p->lock);
    g_mutex_init(&p->eos_lock);
    g_cond_init(&p->eos_cond);
    g_cond_init(&p->wake_cond);
    return p;
}

static int add_node(pipeline *p, int type, const char *text)
{
    struct node *n;
    if (p->built || p->node_count >= MAX_NODES) return -1;
    n = &p->nodes[p->node_count];
    memset(n, 0, sizeof(*n));
    n->type = type;
    n->text = g_strdup(text ? text : "");
    n->fd = -1;
    for (int i = 0; i < MAX_OUTPUTS; i++) n->links_out[i] = -1;
    g_mutex_init(&n->slot.lock);
    g_cond_init(&n->slot.cond);
    g_mutex_init(&n->ts_lock);
    g_queue_init(&n->ts);
    n->owner = p;
    return p->node_count++;
}

/* A ready-made element handed over: the node holds one full reference to it, whether the caller's was
 * floating (a bin just made) or already its own. */
static GstElement *take_element(void *element)
{
    if (g_object_is_floating(element)) gst_object_ref_sink(element);
    return element;
}

int pl_add_file_source(pipeline *p, const char *path, int count, const int *kinds)
{
    int id;
    if (!path || count < 0 || count > MAX_OUTPUTS) return -1;
    if ((id = add_node(p, N_FILE, path)) < 0) return -1;
    p->nodes[id].count = count;
    memcpy(p->nodes[id].kinds, kinds, count * sizeof(int));
    {
        enum stated_kind kind;
        p->nodes[id].stated = stated_length(path, &kind, &p->nodes[id].slack_ns);
        p->nodes[id].stated_kind = kind == STATED_PICTURE ? PL_RAW_VIDEO : kind == STATED_SOUND ? PL_RAW_AUDIO : 0;
    }
    return id;
}

void pl_set_output_rate(pipeline *p, int node, int output, int num, int den)
{
    if (node < 0 || node >= p->node_count || output < 0 || output >= MAX_OUTPUTS || num <= 0 || den <= 0) return;
    p->nodes[node].rates[output][0] = num;
    p->nodes[node].rates[output][1] = den;
}

int pl_add_element_source(pipeline *p, void *element, int count, const char *const *pads, const int *kinds)
{
    int id;
    if (!element) return -1;
    take_element(element);
    if (count < 0 || count > MAX_OUTPUTS || (id = add_node(p, N_ELEMENT, NULL)) < 0)
    {
        gst_object_unref(element);
        return -1;
    }
    p->nodes[id].given = element;
    p->nodes[id].count = count;
    for (int i = 0; i < count; i++)
    {
        p->nodes[id].kinds[i] = kinds[i];
        p->nodes[id].pads[i] = g_strdup(pads[i]);
    }
    return id;
}

int pl_add_fragment(pipeline *p, const char *description, int inputs, int out_kind)
{
    int id;
    if (!description || !*description) return -1;
    if ((id = add_node(p, N_FRAGMENT, description)) < 0) return -1;
    p->nodes[id].inputs = inputs ? 1 : 0;
    p->nodes[id].out_kind = out_kind;
    p->nodes[id].count = out_kind ? 1 : 0;
    p->nodes[id].kinds[0] = out_kind;
    return id;
}

int pl_add_avi_mux(pipeline *p)
{
    int id = add_node(p, N_MUX, glue_element_exists("platformavimux") ? "platformavimux" : "avimux");
    if (id >= 0)
    {
        p->nodes[id].count = 1;
        p->nodes[id].kinds[0] = PL_BYTES;
    }
    return id;
}

int pl_add_file_sink(pipeline *p, const char *path)
{
    if (!path || !*path) return -1;
    return add_node(p, N_FILESINK, path);
}

int pl_add_video_renderer(pipeline *p) { return add_node(p, N_VIDEO, NULL); }

int pl_add_audio_renderer(pipeline *p)
{
    int id = add_node(p, N_AUDIO, NULL);
    if (id >= 0) p->nodes[id].gain = 1.0;
    return id;
}

int pl_add_element_sink(pipeline *p, void *element)
{
    int id;
    if (!element) return -1;
    take_element(element);
    if ((id = add_node(p, N_SINK, NULL)) < 0)
    {
        gst_object_unref(element);
        return -1;
    }
    p->nodes[id].given = element;
    return id;
}

int pl_set_audio(pipeline *p, int node, double gain, double pan)
{
    struct node *n;
    if (node < 0 || node >= p->node_count || p->nodes[node].type != N_AUDIO) return PL_FAILED;
    n = &p->nodes[node];
    n->gain = gain < 0.0 ? 0.0 : gain > 1.0 ? 1.0 : gain;
    n->pan = pan < -1.0 ? -1.0 : pan > 1.0 ? 1.0 : pan;
    if (n->volume) g_object_set(n->volume, "volume", n->gain, NULL);
    if (n->panorama) g_object_set(n->panorama, "panorama", (gfloat)n->pan, NULL);
    return PL_OK;
}

int pl_get_audio(pipeline *p, int node, double *gain, double *pan)
{
    struct node *n;
    gdouble g;
    gfloat f;
    if (node < 0 || node >= p->node_count || p->nodes[node].type != N_AUDIO) return PL_FAILED;
    n = &p->nodes[node];
    *gain = n->gain;
    *pan = n->pan;
    /* what the elements themselves hold, once they exist */
    if (n->volume)
    {
        g_object_get(n->volume, "volume", &g, NULL);
        *gain = g;
    }
    if (n->panorama)
    {
        g_object_get(n->panorama, "panorama", &f, NULL);
        *pan = f;
    }
    return PL_OK;
}

int pl_add_tee(pipeline *p)
{
    int id = add_node(p, N_TEE, NULL);
    if (id >= 0) p->nodes[id].count = MAX_OUTPUTS;
    return id;
}

int pl_link(pipeline *p, int from, int output, int to, int input)
{
    struct link *l;
    if (p->built || from < 0 || from >= p->node_count || to < 0 || to >= p->node_count) return PL_FAILED;
    if (output < 0 || output >= MAX_OUTPUTS || p->nodes[from].links_out[output] >= 0) return PL_FAILED;
    if (p->link_count >= MAX_LINKS) return PL_FAILED;
    l = &p->links[p->link_count];
    l->from = from;
    l->output = output;
    l->to = to;
    l->input = input;
    l->first = l->last = NULL;
    p->nodes[from].links_out[output] = p->link_count++;
    return PL_OK;
}

/* What output i of a node delivers. */
static int output_kind(pipeline *p, int id, int output)
{
    struct node *n = &p->nodes[id];
    if (n->type == N_TEE)
    {
        for (int i = 0; i < p->link_count; i++)
            if (p->links[i].to == id) return output_kind(p, p->links[i].from, p->links[i].output);
        return PL_RAW_VIDEO;
    }
    return n->kinds[output];
}

/* ---- Building ---- */

static GstElement *make(const char *factory, GstBin *bin)
{
    GstElement *e = gst_element_factory_make(factory, NULL);
    if (e) gst_bin_add(bin, e);
    return e;
}

/* A sink for a stream nobody wants, added while the pipeline may already run. */
static void drain_pad(pipeline *p, GstPad *pad)
{
    GstElement *sink = gst_element_factory_make("fakesink", NULL);
    GstPad *sinkpad;
    if (!sink) return;
    g_object_set(sink, "sync", p->renderers > 0, "async", FALSE, NULL);
    gst_bin_add(GST_BIN(p->bin), sink);
    sinkpad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkpad);
    gst_object_unref(sinkpad);
    gst_element_sync_state_with_parent(sink);
}

static GstPad *link_sink_pad(struct link *l)
{
    return gst_element_get_static_pad(l->first, "sink");
}

/* How far a file's stated stream reached, to tell a file that ends before its stated length. */
static GstPadProbeReturn note_reached(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct node *n = data;
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buf))
    {
        gint64 end = GST_BUFFER_PTS(buf) + (GST_BUFFER_DURATION_IS_VALID(buf) ? GST_BUFFER_DURATION(buf) : 0);
        if (end > __atomic_load_n(&n->reached, __ATOMIC_RELAXED)) __atomic_store_n(&n->reached, end, __ATOMIC_RELAXED);
    }
    return GST_PAD_PROBE_OK;
}

/* How far the media going into a file has come, in the stream time of its segment: the position of a
 * graph that writes files, which runs as fast as it can and not by the clock. */
static GstPadProbeReturn note_written(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    pipeline *p = data;
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    GstEvent *event;
    const GstSegment *segment;
    guint64 end;
    gint64 t;

    if (!GST_BUFFER_PTS_IS_VALID(buf) || !(event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)))
        return GST_PAD_PROBE_OK;
    gst_event_parse_segment(event, &segment);
    end = GST_BUFFER_PTS(buf) + (GST_BUFFER_DURATION_IS_VALID(buf) ? GST_BUFFER_DURATION(buf) : 0);
    if (GST_CLOCK_TIME_IS_VALID(segment->stop) && end > segment->stop) end = segment->stop;
    t = segment->format == GST_FORMAT_TIME ? (gint64)gst_segment_to_stream_time(segment, GST_FORMAT_TIME, end) : -1;
    gst_event_unref(event);
    if (t > __atomic_load_n(&p->written, __ATOMIC_RELAXED)) __atomic_store_n(&p->written, t, __ATOMIC_RELAXED);
    return GST_PAD_PROBE_OK;
}

/* Whether what enters node i goes into a file: a muxer, or a writer (WavDest) in front of a file sink. */
static int feeds_file(pipeline *p, int i)
{
    struct node *n = &p->nodes[i];
    if (n->type == N_MUX) return 1;
    return n->type == N_FRAGMENT && n->links_out[0] >= 0 && p->nodes[p->links[n->links_out[0]].to].type == N_FILESINK;
}

/* A file written from sources that ended before their stated length is not complete: the first such
 * source, or -1. (A lost chunk or a last frame's rounding is no such end: see stated_length's slack.) */
static int short_source(pipeline *p)
{
    if (!p->writers || p->bounded) return -1;
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        int linked = 0;
        if (n->type != N_FILE || n->stated <= 0) continue;
        for (int k = 0; k < n->count; k++) linked |= n->kinds[k] == n->stated_kind && n->links_out[k] >= 0;
        if (linked && __atomic_load_n(&n->reached, __ATOMIC_RELAXED) < n->stated - n->slack_ns) return i;
    }
    return -1;
}

static void on_decoded_pad(GstElement *decodebin, GstPad *pad, gpointer data)
{
    struct node *n = data;
    pipeline *p = n->owner;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    const char *name;
    int kind = 0, index = -1;

    if (!caps) caps = gst_pad_query_caps(pad, NULL);
    name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    if (g_str_has_prefix(name, "video/")) kind = PL_RAW_VIDEO;
    else if (g_str_has_prefix(name, "audio/")) kind = PL_RAW_AUDIO;
    gst_caps_unref(caps);

    /* the k-th picture pad is the k-th video stream of the file, and so for sound */
    if (kind)
    {
        int k = n->seen[kind]++;
        for (int i = 0; i < n->count; i++)
            if (n->kinds[i] == kind && k-- == 0)
            {
                index = i;
                break;
            }
    }
    if (index >= 0 && n->links_out[index] >= 0)
    {
        GstPad *sinkpad = link_sink_pad(&p->links[n->links_out[index]]);
        n->filled[index] = 1;
        if (kind == n->stated_kind) gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, note_reached, n, NULL);
        if (gst_pad_link(pad, sinkpad) != GST_PAD_LINK_OK)
            GST_ELEMENT_ERROR(decodebin, STREAM, FORMAT, ("stream %d cannot be linked", index), (NULL));
        gst_object_unref(sinkpad);
        return;
    }
    drain_pad(p, pad);
}

/* Linked streams that never showed up end at once, so that what they feed is not left waiting. */
static void on_no_more_pads(GstElement *decodebin, gpointer data)
{
    struct node *n = data;
    pipeline *p = n->owner;
    for (int i = 0; i < n->count; i++)
        if (n->links_out[i] >= 0 && !n->filled[i])
        {
            GstPad *sinkpad = link_sink_pad(&p->links[n->links_out[i]]);
            gst_pad_send_event(sinkpad, gst_event_new_eos());
            gst_object_unref(sinkpad);
        }
}

static GstFlowReturn on_frame(GstAppSink *sink, struct node *n, int preroll)
{
    GstSample *sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
    GstVideoInfo info;
    if (!sample) return GST_FLOW_OK;
    g_mutex_lock(&n->slot.lock);
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
    {
        n->slot.width = GST_VIDEO_INFO_WIDTH(&info);
        n->slot.height = GST_VIDEO_INFO_HEIGHT(&info);
    }
    if (n->slot.latest) gst_sample_unref(n->slot.latest);
    n->slot.latest = sample;
    g_cond_broadcast(&n->slot.cond);
    g_mutex_unlock(&n->slot.lock);
    return GST_FLOW_OK;
}

static GstFlowReturn on_preroll(GstAppSink *sink, gpointer data) { return on_frame(sink, data, 1); }
static GstFlowReturn on_sample(GstAppSink *sink, gpointer data) { return on_frame(sink, data, 0); }

/* Encoders that stamp their output with nonsense times get the times of their input back, in order. The
 * times travel as running times: an encoder's output segment need not be its input's (the libav encoders
 * start theirs 1000 hours on), and a time outside the output segment is dropped by the multiplexer. */
static GstClockTime segment_time(GstPad *pad, GstClockTime t, int to_running)
{
    GstEvent *event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    const GstSegment *segment;
    if (!event) return t;
    gst_event_parse_segment(event, &segment);
    if (segment->format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(t))
        t = to_running ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, t)
                       : gst_segment_position_from_running_time(segment, GST_FORMAT_TIME, t);
    gst_event_unref(event);
    return t;
}

/* A flush starts the remembered times afresh. */
static GstPadProbeReturn forget_times(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct node *n = data;
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
    {
        g_mutex_lock(&n->ts_lock);
        g_queue_clear_full(&n->ts, g_free);
        g_mutex_unlock(&n->ts_lock);
    }
    return GST_PAD_PROBE_OK;
}

static GstPadProbeReturn remember_time(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct node *n = data;
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    g_mutex_lock(&n->ts_lock);
    if (g_queue_get_length(&n->ts) < 256)
    {
        GstClockTime *t = g_new(GstClockTime, 2);
        t[0] = segment_time(pad, GST_BUFFER_PTS(buf), 1);
        t[1] = GST_BUFFER_DURATION(buf);
        g_queue_push_tail(&n->ts, t);
    }
    g_mutex_unlock(&n->ts_lock);
    return GST_PAD_PROBE_OK;
}

static GstPadProbeReturn restore_time(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    struct node *n = data;
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime *t;
    g_mutex_lock(&n->ts_lock);
    t = g_queue_pop_head(&n->ts);
    g_mutex_unlock(&n->ts_lock);
    if (!t) return GST_PAD_PROBE_OK;
    if (!GST_BUFFER_PTS_IS_VALID(buf) || GST_BUFFER_PTS(buf) >= (G_GUINT64_CONSTANT(1) << 62))
    {
        GstClockTime pts = segment_time(pad, t[0], 0);
        buf = gst_buffer_make_writable(buf);
        GST_BUFFER_PTS(buf) = pts;
        GST_BUFFER_DTS(buf) = pts;
        if (!GST_BUFFER_DURATION_IS_VALID(buf)) GST_BUFFER_DURATION(buf) = t[1];
        GST_PAD_PROBE_INFO_DATA(info) = buf;
    }
    g_free(t);
    return GST_PAD_PROBE_OK;
}

static GstElement *renderer_bin(struct node *n)
{
    GstElement *bin = gst_bin_new(NULL);
    GstElement *convert = make("videoconvert", GST_BIN(bin));
    GstElement *sink = make("appsink", GST_BIN(bin));
    GstCaps *caps = gst_caps_from_string("video/x-raw,format=BGRx");
    GstAppSinkCallbacks callbacks = {0};
    GstPad *pad;

    if (!convert || !sink)
    {
        gst_object_unref(bin);
        gst_caps_unref(caps);
        return NULL;
    }
    g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 2, "drop", TRUE, NULL);
    gst_caps_unref(caps);
    callbacks.new_preroll = on_preroll;
    callbacks.new_sample = on_sample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, n, NULL);
    gst_element_link(convert, sink);
    pad = gst_element_get_static_pad(convert, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    n->sink = sink;
    return bin;
}

/* The sound device behind a balance and a volume. */
static GstElement *audio_bin(struct node *n)
{
    GstElement *bin = gst_bin_new(NULL);
    GstElement *convert = make("audioconvert", GST_BIN(bin));
    GstElement *panorama = make("audiopanorama", GST_BIN(bin));
    GstElement *volume = make("volume", GST_BIN(bin));
    GstElement *out = make("audioconvert", GST_BIN(bin));
    GstElement *sink = make("autoaudiosink", GST_BIN(bin));
    GstPad *pad;

    if (!convert || !panorama || !volume || !out || !sink
            || !gst_element_link_many(convert, panorama, volume, out, sink, NULL))
    {
        gst_object_unref(gst_object_ref_sink(bin));
        return NULL;
    }
    /* the balance attenuates one side only */
    g_object_set(panorama, "method", 1, "panorama", (gfloat)n->pan, NULL);
    g_object_set(volume, "volume", n->gain, NULL);
    n->volume = volume;
    n->panorama = panorama;
    pad = gst_element_get_static_pad(convert, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    return bin;
}

/* What a run that crashed left in a folder: files being written that nobody has touched for an hour (a
 * writer at work touches its file all the time). */
static void sweep_partials(const char *folder)
{
    GDir *dir = g_dir_open(folder, 0, NULL);
    const char *entry;
    gint64 now = g_get_real_time() / G_USEC_PER_SEC;
    if (!dir) return;
    while ((entry = g_dir_read_name(dir)))
    {
        struct stat st;
        char *file;
        if (!g_str_has_prefix(entry, ".writing-")) continue;
        file = g_build_filename(folder, entry, NULL);
        if (lstat(file, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > 3600) g_unlink(file);
        g_free(file);
    }
    g_dir_close(dir);
}

/* A new empty file in the folder of path, to be renamed to path, open in *fd; NULL when there is no room
 * for one. It has the permissions of the file it replaces, or those of a new file (*mode). The sink
 * writes through this descriptor: opening the name again would truncate the file, and a file truncated
 * to nothing is flushed to the disk as it closes (ext4), which holds up the end of a run by a tenth of a
 * second for every few hundred megabytes. */
static char *partial_name(const char *path, int *fd, mode_t *mode)
{
    char *folder = g_path_get_dirname(path);
    char *name = g_build_filename(folder, ".writing-XXXXXX", NULL);
    struct stat st;
    mode_t mask;

    sweep_partials(folder);
    *fd = g_mkstemp_full(name, O_RDWR | O_CLOEXEC, 0600);
    g_free(folder);
    if (*fd < 0)
    {
        g_free(name);
        return NULL;
    }
    if (stat(path, &st) != 0)
    {
        mask = umask(0);
        umask(mask);
        st.st_mode = 0666 & ~mask;
    }
    *mode = st.st_mode & 07777;
    fchmod(*fd, *mode);
    return name;
}

/* A pipeline that runs again after a stop writes a new partial file under the same name: the one before
 * has taken its final name or gone. PL_FAILED when it cannot be made. */
static int open_partials(pipeline *p, char *err, int size)
{
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        if (n->type != N_FILESINK || !n->partial || n->fd >= 0) continue;
        if ((n->fd = open(n->partial, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, n->mode)) < 0)
        {
            g_snprintf(err, size, "nothing can be written beside %s", n->text);
            return PL_FAILED;
        }
        fchmod(n->fd, n->mode);
        g_object_set(n->element, "fd", n->fd, NULL);
    }
    return PL_OK;
}

/* A pipeline fed by live sources (a camera) only: it has no end of its own, and what it records goes
 * into its file as it comes, so that a recording cut short by a crash keeps what was recorded. */
static int is_live(pipeline *p)
{
    for (int i = 0; i < p->node_count; i++)
        if (p->nodes[i].type == N_FILE || p->nodes[i].type == N_ELEMENT) return 0;
    return 1;
}

/* After a stop: the files of a complete run take their names, the others go. */
static void finish_files(pipeline *p)
{
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        if (n->type != N_FILESINK) continue;
        if (n->fd >= 0) close(n->fd);
        n->fd = -1;
        if (!n->partial || !g_file_test(n->partial, G_FILE_TEST_EXISTS)) continue;
        if (!p->complete || g_rename(n->partial, n->text)) g_unlink(n->partial);
    }
    p->complete = 0;
}

static int build_node(pipeline *p, struct node *n, char *err, int size)
{
    GstBin *bin = GST_BIN(p->bin);
    GError *error = NULL;

    switch (n->type)
    {
    case N_FILE:
    {
        GstElement *src = make("filesrc", bin);
        GstElement *dec = make("decodebin", bin);
        char *readable;
        if (!src || !dec || !gst_element_link(src, dec)) break;
        n->reading = glue_reading_begin(n->text);
        readable = avi_readable_path(n->text);
        g_object_set(src, "location", readable, NULL);
        g_free(readable);
        glue_watch_raw_rows(dec);
        g_signal_connect(dec, "pad-added", G_CALLBACK(on_decoded_pad), n);
        g_signal_connect(dec, "no-more-pads", G_CALLBACK(on_no_more_pads), n);
        n->element = dec;
        return PL_OK;
    }
    case N_ELEMENT:
        /* the bin keeps a reference of its own; the one handed over with the element goes */
        gst_bin_add(bin, n->given);
        n->element = n->given;
        gst_object_unref(n->given);
        n->given = NULL;
        return PL_OK;
    case N_FRAGMENT:
        n->element = gst_parse_bin_from_description(n->text, TRUE, &error);
        if (!n->element)
        {
            g_snprintf(err, size, "%s: %s", n->text, error ? error->message : "cannot be made");
            g_clear_error(&error);
            return PL_FAILED;
        }
        g_clear_error(&error);
        gst_bin_add(bin, n->element);
        if (n->inputs && n->out_kind == PL_CODED_VIDEO)
        {
            GstPad *in = gst_element_get_static_pad(n->element, "sink");
            GstPad *out = gst_element_get_static_pad(n->element, "src");
            if (in && out)
            {
                gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, remember_time, n, NULL);
                gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_EVENT_FLUSH, forget_times, n, NULL);
                gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, restore_time, n, NULL);
            }
            if (in) gst_object_unref(in);
            if (out) gst_object_unref(out);
        }
        return PL_OK;
    case N_MUX:
        n->element = make(n->text, bin);
        break;
    case N_FILESINK:
        /* the file is written beside its target and takes the target's name when the run completes: a
         * run that fails or is stopped leaves the file it would have replaced as it was */
        if (glue_is_being_read(n->text))
        {
            g_snprintf(err, size, "%s is being read", n->text);
            return PL_SAME_FILE;
        }
        if (!is_live(p) && !(n->partial = partial_name(n->text, &n->fd, &n->mode)))
        {
            g_snprintf(err, size, "nothing can be written beside %s", n->text);
            return PL_FAILED;
        }
        if ((n->element = make(n->partial ? "fdsink" : "filesink", bin)))
        {
            if (n->partial) g_object_set(n->element, "fd", n->fd, NULL);
            else g_object_set(n->element, "location", n->text, NULL);
            g_object_set(n->element, "sync", FALSE, NULL);
            p->writers++;
        }
        break;
    case N_VIDEO:
        if ((n->element = renderer_bin(n))) gst_bin_add(bin, n->element);
        break;
    case N_AUDIO:
        if ((n->element = audio_bin(n))) gst_bin_add(bin, n->element);
        break;
    case N_SINK:
        gst_bin_add(bin, n->given);
        n->element = n->given;
        gst_object_unref(n->given);
        n->given = NULL;
        return PL_OK;
    case N_TEE:
        n->element = make("tee", bin);
        break;
    }
    if (n->element) return PL_OK;
    g_snprintf(err, size, "element for %s missing", n->text && *n->text ? n->text : "a renderer");
    return PL_FAILED;
}

static int is_audio_encoder(const struct node *n)
{
    return n->type == N_FRAGMENT && n->inputs && n->out_kind == PL_CODED_AUDIO;
}

/* Where a link's queue goes, and with it a thread that takes the buffers from there on: QUEUE_FIRST for
 * every link but those into a file sink from a node that streams on its own (NO_QUEUE), and those of
 * sound into and out of an encoder where nothing waits on the other streams of its source. Into the
 * encoder (a file's only stream in use), the sound is gathered into pieces of a second before a queue
 * (QUEUE_GATHERED): handed over as it is read (40 ms at a time) it costs more than the parsing and
 * converting it takes off the encoder's thread, while a second at a time it leaves the encoder's thread
 * nothing but encoding (WMA 10 % faster, MP3 4 %); without the element that gathers, there is no queue
 * either. The encoder's output goes to the WAVE writer directly. */
enum { NO_QUEUE, QUEUE_FIRST, QUEUE_GATHERED };

static int link_queue(pipeline *p, const struct link *l)
{
    const struct node *from = &p->nodes[l->from], *to = &p->nodes[l->to];
    int linked = 0;

    if (to->type == N_FILESINK) return from->type == N_FILE || from->type == N_ELEMENT ? QUEUE_FIRST : NO_QUEUE;
    if (is_audio_encoder(from)) return to->type == N_FRAGMENT && to->out_kind == PL_BYTES ? NO_QUEUE : QUEUE_FIRST;
    if (from->type != N_FILE || !is_audio_encoder(to) || output_kind(p, l->from, l->output) != PL_RAW_AUDIO)
        return QUEUE_FIRST;
    for (int i = 0; i < from->count; i++) linked += from->links_out[i] >= 0;
    if (linked > 1) return QUEUE_FIRST;
    return glue_element_exists("audiobuffersplit") ? QUEUE_GATHERED : NO_QUEUE;
}

/* queue, and converters when raw media flows; NULL chain for a direct link. */
static int build_link(pipeline *p, struct link *l, char *err, int size)
{
    GstBin *bin = GST_BIN(p->bin);
    struct node *from = &p->nodes[l->from], *to = &p->nodes[l->to];
    int kind = output_kind(p, l->from, l->output);
    const char *chain[7] = {0};
    int n = 0, queue = link_queue(p, l);
    GstElement *prev = NULL;
    char rate[64];

    if (queue == QUEUE_FIRST) chain[n++] = "queue";
    if (kind == PL_RAW_VIDEO && to->type != N_TEE && to->type != N_VIDEO)
    {
        /* an encoder brings its own converters; one in front of it would only relabel the colour range */
        if (!(to->type == N_FRAGMENT && to->out_kind == PL_CODED_VIDEO)) chain[n++] = "videoconvert";
        /* pictures stored without a compressor are RGB (DIBs), as every reader of such files expects:
         * a file's pictures as 24-bit, RGB that a timeline or a camera makes in the depth it has */
        if (to->type == N_MUX)
            chain[n++] = from->type == N_FILE ? "video/x-raw,format=BGR"
                                               : "video/x-raw,format=(string){ BGR, BGRx, BGRA, RGB15 }";
        /* a file's pictures that are written keep the rate measured in the file */
        if (from->type == N_FILE && from->rates[l->output][0] > 0)
        {
            g_snprintf(rate, sizeof(rate), "video/x-raw,framerate=%d/%d", from->rates[l->output][0],
                       from->rates[l->output][1]);
            chain[n++] = "videorate";
            chain[n++] = rate;
        }
    }
    else if (kind == PL_RAW_AUDIO && to->type != N_TEE)
    {
        chain[n++] = "audioconvert";
        chain[n++] = "audioresample";
        if (queue == QUEUE_GATHERED)
        {
            chain[n++] = "audiobuffersplit";
            chain[n++] = "queue";
        }
    }
    for (int i = 0; i < n; i++)
    {
        /* an entry with a '/' is a caps filter */
        GstElement *e = make(strchr(chain[i], '/') ? "capsfilter" : chain[i], bin);
        if (!e)
        {
            g_snprintf(err, size, "%s missing", chain[i]);
            return PL_FAILED;
        }
        if (strchr(chain[i], '/'))
        {
            GstCaps *caps = gst_caps_from_string(chain[i]);
            g_object_set(e, "caps", caps, NULL);
            gst_caps_unref(caps);
        }
        if (!strcmp(chain[i], "audiobuffersplit"))
            g_object_set(e, "output-buffer-duration", 1, 1, NULL);
        if (!strcmp(chain[i], "queue"))
        {
            /* three seconds, and no more than a few dozen megabytes: that many seconds of large pictures
             * (75 frames of 1920x1080 are some 230 MB) would only stand in memory while the encoder
             * catches up */
            g_object_set(e, "max-size-buffers", 0, "max-size-bytes", QUEUE_BYTES,
                         "max-size-time", (guint64)3 * GST_SECOND, NULL);
            /* a second branch of a tee (the preview) drops frames rather than hold up the first */
            if (from->type == N_TEE && l->output > 0)
                g_object_set(e, "leaky", 2, "max-size-buffers", 2, NULL);
        }
        if (prev && !gst_element_link(prev, e))
        {
            g_snprintf(err, size, "converters cannot be linked");
            return PL_FAILED;
        }
        if (!prev) l->first = e;
        prev = e;
    }
    l->last = prev;
    return PL_OK;
}

/* The pad a link enters its target by. */
static GstPad *target_pad(pipeline *p, struct link *l)
{
    struct node *to = &p->nodes[l->to];
    if (to->type == N_MUX)
    {
        int kind = output_kind(p, l->from, l->output);
        int video = kind == PL_RAW_VIDEO || kind == PL_CODED_VIDEO;
        GstPad *pad = gst_element_request_pad_simple(to->element, video ? "video_%u" : "audio_%u");
        return pad;
    }
    return gst_element_get_static_pad(to->element, "sink");
}

/* The pad a link leaves its source by; NULL for pads that come later (decodebin, dynamic sources). */
static GstPad *source_pad(pipeline *p, struct link *l)
{
    struct node *from = &p->nodes[l->from];
    switch (from->type)
    {
    case N_FILE: return NULL;
    case N_ELEMENT: return gst_element_get_static_pad(from->element, from->pads[l->output]);
    case N_TEE: return gst_element_request_pad_simple(from->element, "src_%u");
    default: return gst_element_get_static_pad(from->element, "src");
    }
}

static void on_element_pad(GstElement *element, GstPad *pad, gpointer data)
{
    struct node *n = data;
    pipeline *p = n->owner;
    char *name = gst_pad_get_name(pad);
    if (GST_PAD_IS_SRC(pad))
        for (int i = 0; i < n->count; i++)
            if (n->pads[i] && !strcmp(name, n->pads[i]) && n->links_out[i] >= 0)
            {
                GstPad *sinkpad = link_sink_pad(&p->links[n->links_out[i]]);
                gst_pad_link(pad, sinkpad);
                gst_object_unref(sinkpad);
                g_free(name);
                return;
            }
    g_free(name);
    if (GST_PAD_IS_SRC(pad)) drain_pad(p, pad);
}

static GstBusSyncReply bus_sync(GstBus *bus, GstMessage *m, gpointer data)
{
    pipeline *p = data;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS)
    {
        g_mutex_lock(&p->eos_lock);
        p->eos_seen = 1;
        if (!p->stopping) p->complete = short_source(p) < 0;
        g_cond_broadcast(&p->eos_cond);
        g_mutex_unlock(&p->eos_lock);
    }
    return GST_BUS_PASS;
}

int pl_build(pipeline *p, char *err, int size)
{
    char dummy[8];
    if (!err || size <= 0)
    {
        err = dummy;
        size = sizeof(dummy);
    }
    err[0] = 0;
    if (p->built) return PL_FAILED;
    p->bin = gst_pipeline_new(NULL);
    p->bus = gst_element_get_bus(p->bin);
    gst_bus_set_sync_handler(p->bus, bus_sync, p, NULL);
    p->built = 1;
    p->written = -1;
    for (int i = 0; i < p->node_count; i++)
        if (p->nodes[i].type == N_VIDEO || p->nodes[i].type == N_AUDIO) p->renderers++;
    /* the sources first, so that a writer knows every file being read */
    for (int pass = 0; pass < 2; pass++)
        for (int i = 0; i < p->node_count; i++)
            if ((p->nodes[i].type == N_FILESINK) == pass)
            {
                int r = build_node(p, &p->nodes[i], err, size);
                if (r != PL_OK) return r;
            }
    for (int i = 0; i < p->link_count; i++)
    {
        struct link *l = &p->links[i];
        GstPad *out, *in;
        int ok = 1;

        if (build_link(p, l, err, size) != PL_OK) return PL_FAILED;
        in = target_pad(p, l);
        if (!in)
        {
            g_snprintf(err, size, "%s takes no more streams", p->nodes[l->to].text);
            return PL_FAILED;
        }
        if (feeds_file(p, l->to)) gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, note_written, p, NULL);
        if (l->last)
        {
            GstPad *chain_out = gst_element_get_static_pad(l->last, "src");
            ok = gst_pad_link(chain_out, in) == GST_PAD_LINK_OK;
            gst_object_unref(chain_out);
        }
        out = ok ? source_pad(p, l) : NULL;
        if (out)
        {
            if (l->first)
            {
                GstPad *chain_in = gst_element_get_static_pad(l->first, "sink");
                ok = gst_pad_link(out, chain_in) == GST_PAD_LINK_OK;
                gst_object_unref(chain_in);
            }
            else
                ok = gst_pad_link(out, in) == GST_PAD_LINK_OK;
            gst_object_unref(out);
        }
        gst_object_unref(in);
        if (!ok)
        {
            g_snprintf(err, size, "streams of %s and %s do not fit together",
                       *p->nodes[l->from].text ? p->nodes[l->from].text : "a source",
                       *p->nodes[l->to].text ? p->nodes[l->to].text : "a renderer");
            return PL_FAILED;
        }
    }
    /* outputs that feed nothing drain into fakesinks */
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        if (n->type == N_ELEMENT)
        {
            g_signal_connect(n->element, "pad-added", G_CALLBACK(on_element_pad), n);
            for (int k = 0; k < n->count; k++)
                if (n->links_out[k] < 0)
                {
                    GstPad *pad = gst_element_get_static_pad(n->element, n->pads[k]);
                    if (pad)
                    {
                        drain_pad(p, pad);
                        gst_object_unref(pad);
                    }
                }
        }
        else if ((n->type == N_FRAGMENT || n->type == N_MUX) && n->count && n->links_out[0] < 0)
        {
            GstPad *pad = gst_element_get_static_pad(n->element, "src");
            if (pad)
            {
                drain_pad(p, pad);
                gst_object_unref(pad);
            }
        }
    }
    return PL_OK;
}

/* ---- Running ---- */

static void take_error(pipeline *p, char *err, int size)
{
    GstMessage *m = gst_bus_pop_filtered(p->bus, GST_MESSAGE_ERROR);
    if (m)
    {
        GError *e = NULL;
        gst_message_parse_error(m, &e, NULL);
        g_snprintf(err, size, "%s", e ? e->message : "stream error");
        g_clear_error(&e);
        gst_message_unref(m);
    }
    else
        g_snprintf(err, size, "state change failed");
}

static void clear_frames(pipeline *p)
{
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        g_mutex_lock(&n->slot.lock);
        if (n->slot.latest) gst_sample_unref(n->slot.latest);
        n->slot.latest = NULL;
        g_mutex_unlock(&n->slot.lock);
        g_mutex_lock(&n->ts_lock);
        g_queue_clear_full(&n->ts, g_free);
        g_mutex_unlock(&n->ts_lock);
    }
}

int pl_set_state(pipeline *p, int state, unsigned timeout_ms, char *err, int size)
{
    char dummy[8];
    GstStateChangeReturn r;
    GstState target = state == PL_PLAYING ? GST_STATE_PLAYING : state == PL_PAUSED ? GST_STATE_PAUSED : GST_STATE_NULL;
    int result = PL_OK;

    if (!err || size <= 0)
    {
        err = dummy;
        size = sizeof(dummy);
    }
    err[0] = 0;
    if (!p->built) return PL_FAILED;
    g_mutex_lock(&p->lock);
    if (target == GST_STATE_NULL)
    {
        GstState current = GST_STATE_NULL;
        gst_element_get_state(p->bin, &current, NULL, 0);
        /* a recording's file is finished (headers, index) before it is closed; the partial files of a
         * run stopped before its end go (finish_files), so they are not worth finishing */
        if (p->writers && current == GST_STATE_PLAYING && is_live(p))
        {
            gint64 deadline = g_get_monotonic_time() + DRAIN_MS * G_TIME_SPAN_MILLISECOND;
            int seen;
            g_mutex_lock(&p->eos_lock);
            seen = p->eos_seen;
            g_mutex_unlock(&p->eos_lock);
            if (!seen)
            {
                g_mutex_lock(&p->eos_lock);
                p->stopping = 1;
                g_mutex_unlock(&p->eos_lock);
                gst_element_send_event(p->bin, gst_event_new_eos());
                g_mutex_lock(&p->eos_lock);
                while (!p->eos_seen)
                    if (!g_cond_wait_until(&p->eos_cond, &p->eos_lock, deadline)) break;
                g_mutex_unlock(&p->eos_lock);
            }
        }
        gst_element_set_state(p->bin, GST_STATE_NULL);
        g_mutex_lock(&p->eos_lock);
        p->eos_seen = 0;
        p->stopping = 0;
        finish_files(p);
        g_mutex_unlock(&p->eos_lock);
        clear_frames(p);
        g_mutex_unlock(&p->lock);
        return PL_OK;
    }
    if (open_partials(p, err, size) != PL_OK)
    {
        g_mutex_unlock(&p->lock);
        return PL_FAILED;
    }
    r = gst_element_set_state(p->bin, target);
    if (r == GST_STATE_CHANGE_ASYNC)
        r = gst_element_get_state(p->bin, NULL, NULL, (GstClockTime)timeout_ms * GST_MSECOND);
    if (r == GST_STATE_CHANGE_FAILURE)
    {
        take_error(p, err, size);
        result = PL_FAILED;
    }
    else if (r == GST_STATE_CHANGE_ASYNC)
        result = PL_ASYNC;
    g_mutex_unlock(&p->lock);
    return result;
}

int pl_get_state(pipeline *p, unsigned timeout_ms, int *state)
{
    GstState current = GST_STATE_NULL;
    GstStateChangeReturn r;
    if (!p->built)
    {
        *state = PL_STOPPED;
        return PL_OK;
    }
    r = gst_element_get_state(p->bin, &current, NULL, (GstClockTime)timeout_ms * GST_MSECOND);
    *state = current == GST_STATE_PLAYING ? PL_PLAYING : current == GST_STATE_PAUSED ? PL_PAUSED : PL_STOPPED;
    return r == GST_STATE_CHANGE_FAILURE ? PL_FAILED : r == GST_STATE_CHANGE_ASYNC ? PL_ASYNC : PL_OK;
}

int pl_seek(pipeline *p, long long start_ns, long long stop_ns)
{
    return pl_seek_rate(p, start_ns, stop_ns, 1.0);
}

int pl_seek_rate(pipeline *p, long long start_ns, long long stop_ns, double rate)
{
    int ok;
    if (!p->built) return PL_FAILED;
    g_mutex_lock(&p->lock);
    g_mutex_lock(&p->eos_lock);
    p->eos_seen = 0;
    g_mutex_unlock(&p->eos_lock);
    p->bounded = p->bounded || start_ns > 0 || stop_ns >= 0;
    __atomic_store_n(&p->written, (gint64)-1, __ATOMIC_RELAXED);   /* written again from the new start */
    ok = gst_element_seek(p->bin, rate > 0.0 ? rate : 1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE,
                          start_ns >= 0 ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE, start_ns >= 0 ? start_ns : 0,
                          GST_SEEK_TYPE_SET, stop_ns >= 0 ? (gint64)stop_ns : (gint64)GST_CLOCK_TIME_NONE);
    g_mutex_unlock(&p->lock);
    return ok ? PL_OK : PL_FAILED;
}

long long pl_position(pipeline *p)
{
    gint64 pos;
    if (!p->built) return -1;
    /* a graph that writes files is as far as what it has written */
    if (p->writers && (pos = __atomic_load_n(&p->written, __ATOMIC_RELAXED)) >= 0) return pos;
    if (!gst_element_query_position(p->bin, GST_FORMAT_TIME, &pos)) return -1;
    return pos;
}

long long pl_duration(pipeline *p)
{
    gint64 d;
    if (!p->built || !gst_element_query_duration(p->bin, GST_FORMAT_TIME, &d)) return -1;
    return d;
}

int pl_step(pipeline *p, int renderer, int frames)
{
    if (!p->built || renderer < 0 || renderer >= p->node_count || !p->nodes[renderer].sink) return PL_FAILED;
    return gst_element_send_event(p->nodes[renderer].sink,
                                  gst_event_new_step(GST_FORMAT_BUFFERS, frames, 1.0, TRUE, FALSE)) ? PL_OK : PL_FAILED;
}

int pl_next_message(pipeline *p, unsigned timeout_ms, struct pl_message *out)
{
    GstMessage *m;
    memset(out, 0, sizeof(*out));
    if (!p->built)
    {
        g_usleep((gulong)timeout_ms * 1000);
        return PL_MSG_NONE;
    }
    /* a stopped pipeline's bus drops what is posted: nothing but pl_wake can come */
    if (GST_OBJECT_FLAG_IS_SET(p->bus, GST_BUS_FLUSHING))
    {
        gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * G_TIME_SPAN_MILLISECOND;
        g_mutex_lock(&p->eos_lock);
        while (!p->woken)
            if (!g_cond_wait_until(&p->wake_cond, &p->eos_lock, deadline)) break;
        p->woken = 0;
        g_mutex_unlock(&p->eos_lock);
        return PL_MSG_NONE;
    }
    m = gst_bus_timed_pop_filtered(p->bus, (GstClockTime)timeout_ms * GST_MSECOND,
                                   GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_STEP_DONE | GST_MESSAGE_ASYNC_DONE
                                   | GST_MESSAGE_APPLICATION);
    g_mutex_lock(&p->eos_lock);
    p->woken = 0;
    g_mutex_unlock(&p->eos_lock);
    if (!m) return PL_MSG_NONE;
    switch (GST_MESSAGE_TYPE(m))
    {
    case GST_MESSAGE_EOS:
    {
        int i = short_source(p);
        out->type = i < 0 ? PL_MSG_EOS : PL_MSG_ERROR;
        if (i >= 0)
            g_snprintf(out->text, sizeof(out->text), "%s ends at %.2f s of the %.2f s it states", p->nodes[i].text,
                       __atomic_load_n(&p->nodes[i].reached, __ATOMIC_RELAXED) / 1e9, p->nodes[i].stated / 1e9);
        break;
    }
    case GST_MESSAGE_ERROR:
    {
        GError *e = NULL;
        gst_message_parse_error(m, &e, NULL);
        g_snprintf(out->text, sizeof(out->text), "%s", e ? e->message : "stream error");
        g_clear_error(&e);
        out->type = PL_MSG_ERROR;
        break;
    }
    case GST_MESSAGE_STEP_DONE:
        out->type = PL_MSG_STEP_DONE;
        break;
    case GST_MESSAGE_ASYNC_DONE:
        out->type = GST_MESSAGE_SRC(m) == GST_OBJECT(p->bin) ? PL_MSG_ASYNC_DONE : PL_MSG_NONE;
        break;
    default:
        break;
    }
    gst_message_unref(m);
    return out->type;
}

void pl_wake(pipeline *p)
{
    g_mutex_lock(&p->eos_lock);
    p->woken = 1;
    g_cond_broadcast(&p->wake_cond);
    g_mutex_unlock(&p->eos_lock);
    if (p->built)
        gst_bus_post(p->bus, gst_message_new_application(GST_OBJECT(p->bin), gst_structure_new_empty("wake")));
}

struct frame_handle {
    GstSample *sample;
    GstVideoFrame frame;
};

int pl_frame_wait(pipeline *p, int renderer, unsigned timeout_ms, struct pl_frame *f)
{
    struct node *n;
    GstSample *sample;
    gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * G_TIME_SPAN_MILLISECOND;
    struct frame_handle *h;
    GstVideoInfo info;
    GstBuffer *buf;

    memset(f, 0, sizeof(*f));
    if (renderer < 0 || renderer >= p->node_count || p->nodes[renderer].type != N_VIDEO) return 0;
    n = &p->nodes[renderer];
    g_mutex_lock(&n->slot.lock);
    while (!n->slot.latest)
        if (!g_cond_wait_until(&n->slot.cond, &n->slot.lock, deadline)) break;
    sample = n->slot.latest;
    n->slot.latest = NULL;
    g_mutex_unlock(&n->slot.lock);
    if (!sample) return 0;

    buf = gst_sample_get_buffer(sample);
    h = g_new0(struct frame_handle, 1);
    if (!buf || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
            || !gst_video_frame_map(&h->frame, &info, buf, GST_MAP_READ))
    {
        g_free(h);
        gst_sample_unref(sample);
        return 0;
    }
    h->sample = sample;
    f->data = GST_VIDEO_FRAME_PLANE_DATA(&h->frame, 0);
    f->stride = GST_VIDEO_FRAME_PLANE_STRIDE(&h->frame, 0);
    f->width = GST_VIDEO_INFO_WIDTH(&info);
    f->height = GST_VIDEO_INFO_HEIGHT(&info);
    f->pts = GST_BUFFER_PTS_IS_VALID(buf) ? (long long)GST_BUFFER_PTS(buf) : -1;
    f->handle = h;
    return 1;
}

void pl_frame_release(struct pl_frame *f)
{
    struct frame_handle *h = f ? f->handle : NULL;
    if (!h) return;
    gst_video_frame_unmap(&h->frame);
    gst_sample_unref(h->sample);
    g_free(h);
    f->handle = NULL;
}

int pl_video_size(pipeline *p, int renderer, int *width, int *height)
{
    struct node *n;
    *width = *height = 0;
    if (renderer < 0 || renderer >= p->node_count) return 0;
    n = &p->nodes[renderer];
    g_mutex_lock(&n->slot.lock);
    *width = n->slot.width;
    *height = n->slot.height;
    g_mutex_unlock(&n->slot.lock);
    return *width > 0;
}

void pl_free(pipeline *p)
{
    if (!p) return;
    if (p->built)
    {
        gst_element_set_state(p->bin, GST_STATE_NULL);
        gst_bus_set_sync_handler(p->bus, NULL, NULL, NULL);
        gst_object_unref(p->bus);
        gst_object_unref(p->bin);
        finish_files(p);
    }
    clear_frames(p);
    for (int i = 0; i < p->node_count; i++)
    {
        struct node *n = &p->nodes[i];
        glue_reading_end(n->reading);
        if (n->partial) g_unlink(n->partial);
        g_free(n->partial);
        g_free(n->text);
        for (int k = 0; k < MAX_OUTPUTS; k++) g_free(n->pads[k]);
        if (n->given) gst_object_unref(n->given);
        g_mutex_clear(&n->slot.lock);
        g_cond_clear(&n->slot.cond);
        g_mutex_clear(&n->ts_lock);
    }
    g_mutex_clear(&p->lock);
    g_mutex_clear(&p->eos_lock);
    g_cond_clear(&p->eos_cond);
    g_cond_clear(&p->wake_cond);
    g_free(p);
    /* A run's streaming threads leave the free memory of their allocation arenas with the process; give
     * it back, or a long session of runs keeps a high-water mark per arena. */
    malloc_trim(0);
}

/* ---- Files ---- */

int pl_can_write(const char *path)
{
    struct stat st;
    char *copy;
    int ok;
    if (!path || !*path) return 0;
    /* a file replaced is written beside it first: its folder takes new files */
    if (stat(path, &st) == 0 && !(S_ISREG(st.st_mode) && access(path, W_OK) == 0)) return 0;
    if (stat(path, &st) != 0 && errno != ENOENT) return 0;
    copy = g_strdup(path);
    ok = access(dirname(copy), W_OK | X_OK) == 0;
    g_free(copy);
    return ok;
}
