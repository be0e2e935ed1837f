/*
 * A clip that shows a still picture for as long as it lasts.
 *
 * A picture given to GES as a file would be discovered first, and GES discovers every picture for a tenth
 * of a second or more (it waits for a length a picture never has), one at a time: a project of a few
 * hundred pictures would wait most of a minute before it could play. This clip knows its picture's size
 * from the file's header and decodes the picture only when it plays, with the same gdk-pixbuf loaders,
 * so the pixels are those of the file. A GIF shows its first frame; it does not loop.
 *
 * A plain JPEG whose pictures go into an encoder is decoded by GStreamer's JPEG decoder instead, into the
 * YUV it holds: the encoder takes YUV, and RGB from gdk-pixbuf would be converted back for it, the same
 * picture again for every frame of the clip.
 */
#include "glue/stillclip.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>

/* the source: file -> picture -> the picture repeated for as long as the clip asks */
typedef struct {
    GESVideoSource parent;
    int width, height;
} StillSource;
typedef struct {
    GESVideoSourceClass parent;
} StillSourceClass;

G_DEFINE_TYPE(StillSource, still_source, GES_TYPE_VIDEO_SOURCE)

/* The source's elements: the picture file (named "still-file") read, decoded and repeated. */
static GstElement *source_bin(GESSource *source, const char *description)
{
    GError *error = NULL;
    GstElement *bin = gst_parse_bin_from_description(description, TRUE, &error);
    if (!bin) {
        GST_ERROR_OBJECT(source, "no still picture source: %s", error ? error->message : "?");
        g_clear_error(&error);
    }
    return bin;
}

static GstElement *still_source_create(GESSource *source)
{
    /* the loader finds the picture's format itself; the caps only let the decoder take the bytes */
    return source_bin(source, "filesrc name=still-file ! capsfilter caps=image/png ! gdkpixbufdec ! imagefreeze");
}

static gboolean still_source_natural_size(GESVideoSource *source, gint *width, gint *height)
{
    StillSource *self = (StillSource *)source;
    *width = self->width;
    *height = self->height;
    return TRUE;
}

static void still_source_class_init(StillSourceClass *klass)
{
    GES_SOURCE_CLASS(klass)->create_source = still_source_create;
    GES_VIDEO_SOURCE_CLASS(klass)->ABI.abi.get_natural_size = still_source_natural_size;
}

static void still_source_init(StillSource *self) { (void)self; }

/* the source of a plain JPEG decoded into its YUV */
typedef StillSource YuvStillSource;
typedef StillSourceClass YuvStillSourceClass;

G_DEFINE_TYPE(YuvStillSource, yuv_still_source, still_source_get_type())

static GstElement *yuv_still_source_create(GESSource *source)
{
    return source_bin(source, "filesrc name=still-file ! jpegparse ! jpegdec ! imagefreeze");
}

static void yuv_still_source_class_init(YuvStillSourceClass *klass)
{
    GES_SOURCE_CLASS(klass)->create_source = yuv_still_source_create;
}

static void yuv_still_source_init(YuvStillSource *self) { (void)self; }

/* A JPEG whose frame GStreamer's decoder reads as gdk-pixbuf does: 8-bit samples in one or three
 * components, sequential or progressive. (Four components, 12 bits and the lossless and hierarchical
 * kinds are left to gdk-pixbuf.) */
static gboolean is_plain_jpeg(const char *path)
{
    FILE *f = fopen(path, "rb");
    unsigned char b[8];
    gboolean plain = FALSE;

    if (!f) return FALSE;
    if (fread(b, 1, 2, f) == 2 && b[0] == 0xff && b[1] == 0xd8) {
        for (int segments = 0; segments < 256; segments++) {
            int code;
            unsigned length;
            if (fgetc(f) != 0xff) break;
            while ((code = fgetc(f)) == 0xff) {}    /* fill bytes */
            if (code == EOF) break;
            if (code == 0x01 || (code >= 0xd0 && code <= 0xd7)) continue;   /* markers without a length */
            if (fread(b, 1, 2, f) != 2 || (length = (unsigned)b[0] << 8 | b[1]) < 2) break;
            if (code == 0xc0 || code == 0xc1 || code == 0xc2) {
                /* precision, height, width, components */
                plain = length >= 8 && fread(b, 1, 6, f) == 6 && b[0] == 8 && (b[1] | b[2]) && (b[3] | b[4])
                        && (b[5] == 1 || b[5] == 3);
                break;
            }
            /* another frame kind, or the scan or the end before any frame */
            if ((code >= 0xc3 && code <= 0xcf && code != 0xc4 && code != 0xc8 && code != 0xcc) || code == 0xda
                    || code == 0xd9)
                break;
            if (fseek(f, length - 2, SEEK_CUR)) break;
        }
    }
    fclose(f);
    return plain;
}

/* the clip: one video source for its picture */
typedef struct {
    GESSourceClip parent;
    char *path;
    int width, height;
    gboolean yuv;       /* decoded into its YUV (a plain JPEG) */
} StillClip;
typedef struct {
    GESSourceClipClass parent;
} StillClipClass;

G_DEFINE_TYPE(StillClip, still_clip, GES_TYPE_SOURCE_CLIP)

static GESTrackElement *still_clip_create_track_element(GESClip *clip, GESTrackType type)
{
    StillClip *self = (StillClip *)clip;
    GESAsset *asset;
    StillSource *source;
    GstElement *file;

    if (type != GES_TRACK_TYPE_VIDEO) return NULL;
    /* made from its asset, which readies its element; the picture's file is named afterwards */
    asset = ges_asset_request(self->yuv ? yuv_still_source_get_type() : still_source_get_type(), NULL, NULL);
    source = asset ? (StillSource *)ges_asset_extract(asset, NULL) : NULL;
    if (asset) gst_object_unref(asset);
    if (!source) return NULL;
    source->width = self->width;
    source->height = self->height;
    file = gst_bin_get_by_name(GST_BIN(ges_track_element_get_nleobject(GES_TRACK_ELEMENT(source))), "still-file");
    if (!file) {
        gst_object_unref(source);
        return NULL;
    }
    g_object_set(file, "location", self->path, NULL);
    gst_object_unref(file);
    return GES_TRACK_ELEMENT(source);
}

static void still_clip_finalize(GObject *object)
{
    g_free(((StillClip *)object)->path);
    G_OBJECT_CLASS(still_clip_parent_class)->finalize(object);
}

static void still_clip_class_init(StillClipClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = still_clip_finalize;
    GES_CLIP_CLASS(klass)->create_track_element = still_clip_create_track_element;
}

static void still_clip_init(StillClip *self) { (void)self; }

GESClip *still_clip_new(const char *path, gboolean yuv, GError **error)
{
    int width = 0, height = 0;
    StillClip *clip;

    if (!gdk_pixbuf_get_file_info(path, &width, &height) || width <= 0 || height <= 0) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "unreadable picture");
        return NULL;
    }
    clip = g_object_new(still_clip_get_type(), NULL);
    clip->path = g_strdup(path);
    clip->width = width;
    clip->height = height;
    clip->yuv = yuv && is_plain_jpeg(path);
    return GES_CLIP(clip);
}
