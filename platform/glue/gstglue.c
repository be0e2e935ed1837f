/* One GStreamer initialisation for the whole platform, and questions about installed elements. */
#include "glue/gstglue.h"
#include "glue/wavdest.h"

#include <gst/gst.h>
#include <gst/video/video.h>
#include <glib/gstdio.h>

#include <errno.h>
#include <malloc.h>
#include <sys/stat.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static gsize started = 0;

void glue_init(void)
{
    if (g_once_init_enter(&started))
    {
        /* Every run starts streaming threads, and glibc gives a new thread an allocation arena of its own
         * (up to eight per core); freed buffers stay in them, fragmented, so a session of a hundred runs
         * grew by tens of megabytes. Two arenas serve two cores and are reused run after run. */
        mallopt(M_ARENA_MAX, 2);
        /* Blocks of 4 MB and more get pages of their own, given back when they are freed; left to itself,
         * glibc raises this limit up to 32 MB the first time such a block is freed and keeps the rest in
         * the arenas. Lower limits cost speed: 64 kB puts every 640x480 picture on fresh pages and made
         * cuts 12-20 % slower, while 4 MB ran as fast as glibc's own limit. (100 exports in one session
         * grew by 4 MB with either when run alone.) */
        mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
        gst_init(NULL, NULL);
        /* the platform's own file writers, and the range converter in front of every encoder */
        wavdest_register();
        avimux_register();
        range_register();
        g_once_init_leave(&started, 1);
    }
}

int glue_started(void)
{
    return g_atomic_pointer_get(&started) != 0;
}

int glue_element_exists(const char *factory)
{
    GstElementFactory *f;

    if (!factory || !*factory) return 0;
    glue_init();
    f = gst_element_factory_find(factory);
    if (!f) return 0;
    gst_object_unref(f);
    return 1;
}

int glue_element_has_property(const char *factory, const char *property)
{
    GstElement *element;
    int found;

    if (!factory || !property) return 0;
    glue_init();
    element = gst_element_factory_make(factory, NULL);
    if (!element) return 0;
    found = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property) != NULL;
    gst_object_unref(element);
    return found;
}

long glue_element_default_int(const char *factory, const char *property, long fallback)
{
    GstElement *element;
    GParamSpec *param;
    long value = fallback;

    if (!factory || !property) return fallback;
    glue_init();
    element = gst_element_factory_make(factory, NULL);
    if (!element) return fallback;
    param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property);
    if (param)
    {
        GValue v = G_VALUE_INIT;

        g_value_init(&v, param->value_type);
        g_param_value_set_default(param, &v);
        if (G_VALUE_HOLDS_INT(&v)) value = g_value_get_int(&v);
        else if (G_VALUE_HOLDS_UINT(&v)) value = (long)g_value_get_uint(&v);
        else if (G_VALUE_HOLDS_INT64(&v)) value = (long)g_value_get_int64(&v);
        else if (G_VALUE_HOLDS_UINT64(&v)) value = (long)g_value_get_uint64(&v);
        g_value_unset(&v);
    }
    gst_object_unref(element);
    return value;
}

/* Files the platform makes (new names of files written over, copies with a rebuilt index) live in a
 * folder of this process under the temp folder; folders of processes that are gone are swept away on start. */
static void remove_folder(const char *path)
{
    GDir *dir = g_dir_open(path, 0, NULL);
    const char *name;
    if (dir) {
        while ((name = g_dir_read_name(dir))) {
            char *file = g_build_filename(path, name, NULL);
            g_unlink(file);
            g_free(file);
        }
        g_dir_close(dir);
    }
    g_rmdir(path);
}

const char *glue_work_folder(void)
{
    static gsize done = 0;
    static char *folder;

    if (g_once_init_enter(&done)) {
        GDir *dir = g_dir_open(g_get_tmp_dir(), 0, NULL);
        const char *name;
        int pid;
        char end;
        if (dir) {
            while ((name = g_dir_read_name(dir)))
                if (sscanf(name, "mediaplatform-%d%c", &pid, &end) == 1 && pid > 0 && pid != (int)getpid()
                        && kill(pid, 0) && errno == ESRCH) {
                    char *path = g_build_filename(g_get_tmp_dir(), name, NULL);
                    remove_folder(path);
                    g_free(path);
                }
            g_dir_close(dir);
        }
        folder = g_strdup_printf("%s/mediaplatform-%d", g_get_tmp_dir(), (int)getpid());
        g_mkdir(folder, 0700);
        g_once_init_leave(&done, 1);
    }
    return folder;
}

char *glue_work_file(const char *pattern)
{
    char *path = g_build_filename(glue_work_folder(), pattern, NULL);
    int fd = g_mkstemp(path);
    if (fd < 0) {
        g_free(path);
        return NULL;
    }
    close(fd);
    return path;
}

/* ---- Files being read, by identity: what no writer of this process may replace ---- */

struct reading {
    dev_t dev;
    ino_t ino;
};

static GMutex reading_lock;
static GList *readings;

void *glue_reading_begin(const char *path)
{
    struct stat st;
    struct reading *r;

    if (!path || g_stat(path, &st)) return NULL;
    r = g_new(struct reading, 1);
    r->dev = st.st_dev;
    r->ino = st.st_ino;
    g_mutex_lock(&reading_lock);
    readings = g_list_prepend(readings, r);
    g_mutex_unlock(&reading_lock);
    return r;
}

void glue_reading_end(void *token)
{
    if (!token) return;
    g_mutex_lock(&reading_lock);
    readings = g_list_remove(readings, token);
    g_mutex_unlock(&reading_lock);
    g_free(token);
}

int glue_is_being_read(const char *path)
{
    struct stat st;
    int found = 0;

    if (!path || g_stat(path, &st)) return 0;   /* a file that is not there is read by nobody */
    g_mutex_lock(&reading_lock);
    for (GList *l = readings; l && !found; l = l->next) {
        const struct reading *r = l->data;
        found = r->dev == st.st_dev && r->ino == st.st_ino;
    }
    g_mutex_unlock(&reading_lock);
    return found;
}

/* ---- Pictures with unpadded rows ---- */

static GstPadProbeReturn raw_rows_probe(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    GstBuffer *buf = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstVideoFormatInfo *f;
    GstVideoInfo vi;
    GstCaps *caps;
    gsize offset[GST_VIDEO_MAX_PLANES] = {0}, total = 0;
    gint stride[GST_VIDEO_MAX_PLANES] = {0};
    gboolean known;

    if (gst_buffer_get_video_meta(buf) || !(caps = gst_pad_get_current_caps(pad))) return GST_PAD_PROBE_OK;
    known = gst_video_info_from_caps(&vi, caps);
    gst_caps_unref(caps);
    if (!known || gst_buffer_get_size(buf) == GST_VIDEO_INFO_SIZE(&vi)) return GST_PAD_PROBE_OK;
    f = vi.finfo;
    /* planar formats only: one component a plane */
    if (GST_VIDEO_FORMAT_INFO_N_PLANES(f) != GST_VIDEO_FORMAT_INFO_N_COMPONENTS(f)) return GST_PAD_PROBE_OK;
    for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(f); c++)
    {
        guint plane = GST_VIDEO_FORMAT_INFO_PLANE(f, c);
        stride[plane] = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(f, c, vi.width) * GST_VIDEO_FORMAT_INFO_PSTRIDE(f, c);
        offset[plane] = total;
        total += (gsize)stride[plane] * GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(f, c, vi.height);
    }
    if (total != gst_buffer_get_size(buf)) return GST_PAD_PROBE_OK;
    buf = gst_buffer_make_writable(buf);
    gst_buffer_add_video_meta_full(buf, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_INFO_FORMAT(&vi), vi.width, vi.height,
                                   GST_VIDEO_FORMAT_INFO_N_PLANES(f), offset, stride);
    GST_PAD_PROBE_INFO_DATA(info) = buf;
    return GST_PAD_PROBE_OK;
}

static void demuxer_pad_added(GstElement *demuxer, GstPad *pad, gpointer data)
{
    gchar *name = gst_pad_get_name(pad);
    if (g_str_has_prefix(name, "video_"))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, raw_rows_probe, NULL, NULL);
    g_free(name);
}

static void element_added(GstBin *bin, GstBin *sub_bin, GstElement *element, gpointer data)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && !strcmp(GST_OBJECT_NAME(factory), "avidemux"))
        g_signal_connect(element, "pad-added", G_CALLBACK(demuxer_pad_added), NULL);
}

void glue_watch_raw_rows(void *bin)
{
    g_signal_connect(bin, "deep-element-added", G_CALLBACK(element_added), NULL);
}
