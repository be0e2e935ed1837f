/* Streams of a media file: still images through gdk-pixbuf, everything else through the discoverer. */
#include "glue/discover.h"
#include "glue/avirepair.h"
#include "glue/gstglue.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#define QUICK_LOOK_MS 2000

static int add_stream(struct discover_media *media, const struct discover_stream *stream)
{
    struct discover_stream *grown = realloc(media->streams, (media->count + 1) * sizeof(*grown));
    if (!grown) return 0;
    grown[media->count++] = *stream;
    media->streams = grown;
    return 1;
}

void discover_media_free(struct discover_media *media)
{
    if (!media) return;
    free(media->streams);
    memset(media, 0, sizeof(*media));
}

/* The file must exist and be a regular file we may read. */
static int check_file(const char *path)
{
    struct stat st;
    int fd;

    if (stat(path, &st) != 0)
        return (errno == ENOENT || errno == ENOTDIR) ? DISCOVER_NOT_FOUND : DISCOVER_NOT_READABLE;
    if (!S_ISREG(st.st_mode)) return DISCOVER_NOT_READABLE;
    fd = open(path, O_RDONLY);
    if (fd < 0) return DISCOVER_NOT_READABLE;
    close(fd);
    return st.st_size > 0 ? DISCOVER_OK : DISCOVER_UNSUPPORTED;
}

static int has_extension(const char *path, const char *ext)
{
    const char *dot = strrchr(path, '.');
    return dot && !strchr(dot, '/') && !strcasecmp(dot + 1, ext);
}

/* Whether the file is a still image we load ourselves. BMP, GIF and JPEG announce themselves; Targa has
 * no magic number, so only a file named .tga is taken for one. */
static int is_still_image(const char *path)
{
    GdkPixbufFormat *format = gdk_pixbuf_get_file_info(path, NULL, NULL);
    gchar *name;
    int still;

    if (!format) return 0;
    name = gdk_pixbuf_format_get_name(format);
    still = name && (!strcmp(name, "bmp") || !strcmp(name, "gif") || !strcmp(name, "jpeg")
                     || (!strcmp(name, "tga") && has_extension(path, "tga")));
    g_free(name);
    return still;
}

/* Loads the whole picture, so that a damaged file fails here rather than later. */
static int discover_still(const char *path, struct discover_media *media)
{
    struct discover_stream stream = {0};
    GdkPixbuf *pixbuf = gdk_pixbuf_new_from_file(path, NULL);

    if (!pixbuf) return DISCOVER_UNSUPPORTED;
    stream.kind = DISCOVER_VIDEO;
    stream.width = gdk_pixbuf_get_width(pixbuf);
    stream.height = gdk_pixbuf_get_height(pixbuf);
    stream.fps_den = 1;
    g_object_unref(pixbuf);
    if (stream.width <= 0 || stream.height <= 0) return DISCOVER_UNSUPPORTED;
    media->still = 1;
    return add_stream(media, &stream) ? DISCOVER_OK : DISCOVER_NO_MEMORY;
}

/* Whether an audio stream is stored as PCM samples. Its caps are either the raw caps, the codec's caps,
 * or, where a container delivers samples directly, the container's. */
static int stored_as_pcm(GstDiscovererStreamInfo *info, int *is_float)
{
    static const char *const pcm_containers[] = {
        "audio/x-wav", "audio/x-au", "audio/x-aiff", "audio/x-w64", "audio/x-rf64"
    };
    GstCaps *caps = gst_discoverer_stream_info_get_caps(info);
    int pcm = 0;
    size_t i;

    *is_float = 0;
    if (caps && gst_caps_get_size(caps) > 0) {
        const GstStructure *s = gst_caps_get_structure(caps, 0);
        if (gst_structure_has_name(s, "audio/x-raw")) {
            const gchar *format = gst_structure_get_string(s, "format");
            pcm = 1;
            *is_float = format && format[0] == 'F';
        }
        for (i = 0; !pcm && i < G_N_ELEMENTS(pcm_containers); i++)
            pcm = gst_structure_has_name(s, pcm_containers[i]);
    }
    if (caps) gst_caps_unref(caps);
    return pcm;
}

/* Whether the stream's own caps carry a frame rate. ASF, for one, has none: its decoder then makes one up. */
static int caps_have_frame_rate(GstDiscovererStreamInfo *info)
{
    GstCaps *caps = gst_discoverer_stream_info_get_caps(info);
    int num = 0, den = 0;

    if (caps && gst_caps_get_size(caps) > 0)
        gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &num, &den);
    if (caps) gst_caps_unref(caps);
    return num > 0 && den > 0;
}

/* A measured rate as a fraction: the nearest usual rate when it is that within half a percent (timestamps
 * in milliseconds tell no better), else in thousandths. */
static void rate_to_fraction(double rate, int *num, int *den)
{
    static const int usual[][2] = {
        {24000, 1001}, {30000, 1001}, {60000, 1001}, {5, 1}, {10, 1}, {12, 1}, {25, 2}, {15, 1},
        {20, 1}, {24, 1}, {25, 1}, {30, 1}, {50, 1}, {60, 1}
    };
    double best = 0.005;
    size_t i;

    *num = (int)(rate * 1000.0 + 0.5);
    *den = 1000;
    for (i = 0; i < G_N_ELEMENTS(usual); i++) {
        double r = (double)usual[i][0] / usual[i][1];
        double off = rate > r ? rate / r - 1.0 : r / rate - 1.0;
        if (off < best) {
            best = off;
            *num = usual[i][0];
            *den = usual[i][1];
        }
    }
}

/* Frames per second from the times of the first decoded frames of the (first) video stream; 0 when the
 * file has too few frames or does not play within timeout_ms. Runs on the calling thread. */
static double measure_frame_rate(const char *uri, unsigned timeout_ms)
{
    enum { FRAMES = 12 };
    GstElement *play = gst_element_factory_make("playbin", NULL);
    GstElement *sink = gst_element_factory_make("appsink", NULL);
    GstElement *mute = gst_element_factory_make("fakesink", NULL);
    gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
    GstClockTime first = GST_CLOCK_TIME_NONE, last = GST_CLOCK_TIME_NONE;
    int frames = 0;
    double rate = 0.0;

    if (!play || !sink || !mute) {
        if (play) gst_object_unref(gst_object_ref_sink(play));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        if (mute) gst_object_unref(gst_object_ref_sink(mute));
        return 0.0;
    }
    /* Video only (playbin's flag 1), as fast as it decodes, at most a few frames ahead; the sound
     * device is never opened. */
    g_object_set(sink, "sync", FALSE, "max-buffers", 4, NULL);
    g_object_set(play, "uri", uri, "video-sink", sink, "audio-sink", mute, "flags", 1, NULL);
    if (gst_element_set_state(play, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        while (frames < FRAMES) {
            gint64 left = deadline - g_get_monotonic_time();
            GstSample *sample;
            GstBuffer *buffer;

            if (left <= 0) break;
            sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), (GstClockTime)left * GST_USECOND);
            if (!sample) break;   /* end of stream, error or time-out */
            buffer = gst_sample_get_buffer(sample);
            if (buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
                if (!GST_CLOCK_TIME_IS_VALID(first)) first = GST_BUFFER_PTS(buffer);
                last = GST_BUFFER_PTS(buffer);
                frames++;
            }
            gst_sample_unref(sample);
        }
    }
    gst_element_set_state(play, GST_STATE_NULL);
    gst_object_unref(play);
    if (frames >= 2 && last > first) rate = (frames - 1) * (double)GST_SECOND / (double)(last - first);
    return rate <= 1000.0 ? rate : 0.0;
}

#define FOURCC(a, b, c, d) ((unsigned)(a) | ((unsigned)(b) << 8) | ((unsigned)(c) << 16) | ((unsigned)(d) << 24))

/* The four-character code of a stored video stream, from its caps. */
static unsigned stored_fourcc(GstDiscovererStreamInfo *info)
{
    static const struct { const char *caps; unsigned fourcc; } codes[] = {
        { "image/jpeg", FOURCC('M', 'J', 'P', 'G') },
        { "video/x-h264", FOURCC('H', '2', '6', '4') },
        { "video/x-h265", FOURCC('H', 'E', 'V', 'C') },
        { "video/x-vp8", FOURCC('V', 'P', '8', '0') },
        { "video/x-vp9", FOURCC('V', 'P', '9', '0') },
        { "video/x-divx", FOURCC('D', 'I', 'V', 'X') },
        { "video/x-xvid", FOURCC('X', 'V', 'I', 'D') },
        { "video/x-huffyuv", FOURCC('H', 'F', 'Y', 'U') },
        { "video/x-dv", FOURCC('d', 'v', 's', 'd') },
    };
    GstCaps *caps = gst_discoverer_stream_info_get_caps(info);
    unsigned fourcc = 0;
    size_t i;

    if (caps && gst_caps_get_size(caps) > 0) {
        const GstStructure *s = gst_caps_get_structure(caps, 0);
        int version = 0;
        for (i = 0; !fourcc && i < G_N_ELEMENTS(codes); i++)
            if (gst_structure_has_name(s, codes[i].caps)) fourcc = codes[i].fourcc;
        if (!fourcc && gst_structure_has_name(s, "video/mpeg") && gst_structure_get_int(s, "mpegversion", &version))
            fourcc = version == 4 ? FOURCC('M', 'P', '4', 'V') : version == 2 ? FOURCC('M', 'P', 'G', '2')
                   : FOURCC('M', 'P', 'G', '1');
    }
    if (caps) gst_caps_unref(caps);
    return fourcc;
}

static void describe_video(GstDiscovererVideoInfo *video, double length, struct discover_stream *stream)
{
    stream->kind = DISCOVER_VIDEO;
    stream->fourcc = stored_fourcc((GstDiscovererStreamInfo *)video);
    stream->width = gst_discoverer_video_info_get_width(video);
    stream->height = gst_discoverer_video_info_get_height(video);
    stream->fps_num = gst_discoverer_video_info_get_framerate_num(video);
    stream->fps_den = gst_discoverer_video_info_get_framerate_denom(video);
    if (stream->fps_num <= 0 || stream->fps_den <= 0) {
        stream->fps_num = 0;
        stream->fps_den = 1;
    }
    stream->length = length;
}

static void describe_audio(GstDiscovererAudioInfo *audio, double length, struct discover_stream *stream)
{
    int is_float;
    int pcm = stored_as_pcm(GST_DISCOVERER_STREAM_INFO(audio), &is_float);

    stream->kind = DISCOVER_AUDIO;
    stream->channels = gst_discoverer_audio_info_get_channels(audio);
    stream->sample_rate = gst_discoverer_audio_info_get_sample_rate(audio);
    /* Compressed audio is given as the 16-bit PCM its decoder delivers. */
    stream->bits = pcm ? (int)gst_discoverer_audio_info_get_depth(audio) : 16;
    stream->is_float = is_float;
    if (stream->bits <= 0) stream->bits = 16;
    stream->length = length;
}

/* Fills media from what the discoverer found; *timed tells whether the file gave a length. */
static int collect_streams(GstDiscovererInfo *info, struct discover_media *media, int *timed)
{
    GstClockTime duration = gst_discoverer_info_get_duration(info);
    double length = GST_CLOCK_TIME_IS_VALID(duration) ? duration / (double)GST_SECOND : 0.0;
    GList *list = gst_discoverer_info_get_stream_list(info);
    GList *item;
    int status = DISCOVER_OK;

    for (item = list; item && status == DISCOVER_OK; item = item->next) {
        struct discover_stream stream = {0};
        GstDiscovererStreamInfo *next = gst_discoverer_stream_info_get_next(item->data);

        /* A node with a child is a wrapper (an AU file around its mu-law samples), not a stream. */
        if (next) {
            gst_discoverer_stream_info_unref(next);
            continue;
        }
        if (GST_IS_DISCOVERER_VIDEO_INFO(item->data)) {
            GstDiscovererVideoInfo *video = GST_DISCOVERER_VIDEO_INFO(item->data);
            if (gst_discoverer_video_info_is_image(video)) {
                /* A picture the discoverer knows: one still, whatever else it reports. */
                discover_media_free(media);
                describe_video(video, 0.0, &stream);
                stream.fps_num = 0;
                stream.fps_den = 1;
                media->still = 1;
                if (!add_stream(media, &stream)) status = DISCOVER_NO_MEMORY;
                break;
            }
            describe_video(video, length, &stream);
            if (!caps_have_frame_rate(item->data)) {
                stream.fps_num = 0;
                stream.fps_den = 0;   /* to be measured */
            }
        } else if (GST_IS_DISCOVERER_AUDIO_INFO(item->data)) {
            describe_audio(GST_DISCOVERER_AUDIO_INFO(item->data), length, &stream);
        } else {
            continue;
        }
        if (!add_stream(media, &stream)) status = DISCOVER_NO_MEMORY;
    }
    gst_discoverer_stream_info_list_free(list);
    if (status == DISCOVER_OK && media->count == 0) status = DISCOVER_UNSUPPORTED;
    *timed = media->still || length > 0.0;
    return status;
}

static int discover_uri(const char *uri, unsigned timeout_ms, struct discover_media *media, int *timed)
{
    GstDiscoverer *discoverer = gst_discoverer_new((GstClockTime)timeout_ms * GST_MSECOND, NULL);
    GstDiscovererInfo *info;
    int status;

    *timed = 0;
    if (!discoverer) return DISCOVER_NO_MEMORY;
    /* Runs on the calling thread; the discoverer's own threads never reach our code. */
    info = gst_discoverer_discover_uri(discoverer, uri, NULL);
    if (!info) {
        g_object_unref(discoverer);
        return DISCOVER_UNSUPPORTED;
    }
    switch (gst_discoverer_info_get_result(info)) {
    case GST_DISCOVERER_OK:
    /* Streams whose decoder is missing still count when the container shows them. */
    case GST_DISCOVERER_MISSING_PLUGINS:
        status = collect_streams(info, media, timed);
        break;
    case GST_DISCOVERER_TIMEOUT:
        /* Now and then a pipeline stalls before its first buffer (aiffparse does) although the streams
         * and the length are known by then: those are kept; a file that told nothing has failed. */
        status = collect_streams(info, media, timed);
        if (status == DISCOVER_OK && !*timed) discover_media_free(media);
        if (status != DISCOVER_NO_MEMORY && !*timed) status = DISCOVER_TIMEOUT;
        break;
    default:
        status = DISCOVER_UNSUPPORTED;
        break;
    }
    gst_discoverer_info_unref(info);
    g_object_unref(discoverer);
    if (status != DISCOVER_OK) discover_media_free(media);
    return status;
}

/* Milliseconds left until a deadline on the monotonic clock, 0 once it has passed. */
static unsigned left_ms(gint64 deadline)
{
    gint64 left = (deadline - g_get_monotonic_time()) / 1000;
    return left > 0 ? (unsigned)left : 0;
}

/* All the looks at one file share timeout_ms between them. */
static int discover_stream_file(const char *path, unsigned timeout_ms, struct discover_media *media)
{
    gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
    gchar *uri, *readable;
    int status, timed;

    glue_init();
    readable = avi_readable_path(path);   /* an AVI without its index is read through a copy with one */
    uri = gst_filename_to_uri(readable, NULL);
    g_free(readable);
    if (!uri) return DISCOVER_NOT_READABLE;
    /* A first, short look: a stalled pipeline that already told everything then costs little. A file
     * that told nothing in that time gets the rest of the time. */
    status = discover_uri(uri, timeout_ms < QUICK_LOOK_MS ? timeout_ms : QUICK_LOOK_MS, media, &timed);
    if (status == DISCOVER_TIMEOUT && left_ms(deadline) > 0)
        status = discover_uri(uri, left_ms(deadline), media, &timed);
    if (status == DISCOVER_OK && !timed && left_ms(deadline) > 0) {
        /* Some demuxers lose the length when they pull (wavparse stops at a data chunk of odd size);
         * reading the same file as a stream gives it. */
        struct discover_media pushed;
        gchar *push_uri = g_strconcat("push", uri, NULL);

        memset(&pushed, 0, sizeof(pushed));
        if (discover_uri(push_uri, left_ms(deadline), &pushed, &timed) == DISCOVER_OK && timed
            && pushed.count == media->count) {
            discover_media_free(media);
            *media = pushed;
        } else {
            discover_media_free(&pushed);
        }
        g_free(push_uri);
    }
    if (status == DISCOVER_OK && !media->still) {
        double rate = 0.0;
        int i, measured = 0;

        for (i = 0; i < media->count; i++) {
            struct discover_stream *stream = &media->streams[i];
            if (stream->kind != DISCOVER_VIDEO || stream->fps_den) continue;
            if (!measured && left_ms(deadline) > 0) rate = measure_frame_rate(uri, left_ms(deadline));
            measured = 1;
            /* A rate that cannot be measured stays unknown (0) rather than made up. */
            if (rate > 0.0) rate_to_fraction(rate, &stream->fps_num, &stream->fps_den);
            else stream->fps_den = 1;
        }
    }
    g_free(uri);
    return status;
}

/* ---- What was found lately: a program looks at the same file several times (opened, described, cut,
 * opened again), and a file that has not changed since tells the same. ---- */

enum { REMEMBERED = 16 };

struct remembered {
    char *path;                 /* NULL: free slot */
    struct stat st;             /* the file as it was looked at */
    struct discover_media media;
    unsigned long long used;
};

static GMutex remembered_lock;
static struct remembered remembered[REMEMBERED];
static unsigned long long remembered_clock;

static int same_file_state(const struct stat *a, const struct stat *b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino && a->st_size == b->st_size
        && a->st_mtim.tv_sec == b->st_mtim.tv_sec && a->st_mtim.tv_nsec == b->st_mtim.tv_nsec
        && a->st_ctim.tv_sec == b->st_ctim.tv_sec && a->st_ctim.tv_nsec == b->st_ctim.tv_nsec;
}

static int copy_media(const struct discover_media *from, struct discover_media *to)
{
    *to = *from;
    to->streams = malloc(from->count * sizeof(*to->streams));
    if (!to->streams) {
        memset(to, 0, sizeof(*to));
        return 0;
    }
    memcpy(to->streams, from->streams, from->count * sizeof(*to->streams));
    return 1;
}

static int recall(const char *path, const struct stat *st, struct discover_media *media)
{
    int found = 0;
    g_mutex_lock(&remembered_lock);
    for (int i = 0; i < REMEMBERED && !found; i++) {
        struct remembered *r = &remembered[i];
        if (r->path && !strcmp(r->path, path) && same_file_state(&r->st, st)) {
            found = copy_media(&r->media, media);
            r->used = ++remembered_clock;
        }
    }
    g_mutex_unlock(&remembered_lock);
    return found;
}

static void remember(const char *path, const struct stat *st, const struct discover_media *media)
{
    struct remembered *slot = &remembered[0];
    g_mutex_lock(&remembered_lock);
    for (int i = 0; i < REMEMBERED; i++) {
        struct remembered *r = &remembered[i];
        if (r->path && !strcmp(r->path, path)) { slot = r; break; }
        if (!r->path || r->used < slot->used) slot = r;
    }
    free(slot->path);
    discover_media_free(&slot->media);
    memset(slot, 0, sizeof(*slot));
    if ((slot->path = strdup(path)) && copy_media(media, &slot->media)) {
        slot->st = *st;
        slot->used = ++remembered_clock;
    } else {
        free(slot->path);
        slot->path = NULL;
    }
    g_mutex_unlock(&remembered_lock);
}

int discover_file(const char *unix_path, unsigned timeout_ms, struct discover_media *media)
{
    struct stat before, after;
    int status;

    if (!media) return DISCOVER_NO_MEMORY;
    memset(media, 0, sizeof(*media));
    if (!unix_path || !*unix_path) return DISCOVER_NOT_FOUND;
    status = check_file(unix_path);
    if (status != DISCOVER_OK) return status;
    int known = stat(unix_path, &before) == 0;
    if (known && recall(unix_path, &before, media)) return DISCOVER_OK;
    if (is_still_image(unix_path)) status = discover_still(unix_path, media);
    else status = discover_stream_file(unix_path, timeout_ms, media);
    if (status != DISCOVER_OK) discover_media_free(media);
    /* only a file that stayed as it was while it was looked at is remembered */
    else if (known && stat(unix_path, &after) == 0 && same_file_state(&before, &after))
        remember(unix_path, &after, media);
    return status;
}
