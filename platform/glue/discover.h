/* Streams of a media file, found without Win32: plain C over the GStreamer discoverer and gdk-pixbuf.
 * Call it from any thread; nothing here calls back into the caller. */
#ifndef MEDIAPLATFORM_DISCOVER_H
#define MEDIAPLATFORM_DISCOVER_H

#ifdef __cplusplus
extern "C" {
#endif

enum discover_kind { DISCOVER_VIDEO = 1, DISCOVER_AUDIO = 2 };

enum discover_status {
    DISCOVER_OK = 0,
    DISCOVER_NOT_FOUND,    /* no such file or folder */
    DISCOVER_NOT_READABLE, /* not a regular file, or no permission to read it */
    DISCOVER_UNSUPPORTED,  /* readable, but holds no audio or video we can decode */
    DISCOVER_TIMEOUT,      /* the file did not answer in time */
    DISCOVER_NO_MEMORY
};

struct discover_stream {
    int kind;               /* enum discover_kind */
    double length;          /* seconds; 0 for a still image */
    /* video */
    int width, height;
    int fps_num, fps_den;   /* 0/1 when the file gives no rate, and for a still image */
    unsigned fourcc;        /* how the video is stored ('MJPG', 'H264'...), 0 when raw or not known */
    /* audio, as decoded */
    int channels, sample_rate, bits;
    int is_float;           /* samples are IEEE floats */
};

struct discover_media {
    int still;              /* a still image: one video stream of length 0 */
    int count;
    struct discover_stream *streams;   /* in container order */
};

/* Looks at the file at a Unix path (UTF-8). On DISCOVER_OK, media holds at least one stream and must be
 * released with discover_media_free; on failure it is left empty. A file that does not answer within
 * timeout_ms is given up. */
int discover_file(const char *unix_path, unsigned timeout_ms, struct discover_media *media);
void discover_media_free(struct discover_media *media);

#ifdef __cplusplus
}
#endif

#endif
