/* Video capture devices: the v4l2 devices that GStreamer's device monitor reports as video sources. */
#include "glue/devices.h"
#include "glue/gstglue.h"

#include <stdlib.h>
#include <string.h>
#include <gst/gst.h>

static void copy_text(char *dst, size_t size, const char *src)
{
    size_t n = src ? strlen(src) : 0;

    if (n >= size) n = size - 1;
    /* never cut a UTF-8 sequence in half */
    while (n > 0 && ((unsigned char)src[n] & 0xc0) == 0x80) n--;
    if (n) memcpy(dst, src, n);
    dst[n] = 0;
}

/* /dev/video2 sorts before /dev/video10 */
static int compare_paths(const void *a, const void *b)
{
    const char *pa = ((const struct glue_video_device *)a)->path;
    const char *pb = ((const struct glue_video_device *)b)->path;
    size_t la = strcspn(pa, "0123456789"), lb = strcspn(pb, "0123456789");

    if (la == lb && !strncmp(pa, pb, la) && pa[la] && pb[lb])
    {
        long na = strtol(pa + la, NULL, 10), nb = strtol(pb + lb, NULL, 10);
        if (na != nb) return na < nb ? -1 : 1;
    }
    return strcmp(pa, pb);
}

int glue_list_video_devices(struct glue_video_device *out, int max)
{
    GstDeviceMonitor *monitor;
    GList *devices, *l;
    int count = 0;

    if (!out || max <= 0) return 0;
    glue_init();

    monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", NULL);
    devices = gst_device_monitor_get_devices(monitor);   /* probes; the monitor need not run */

    for (l = devices; l && count < max; l = l->next)
    {
        GstDevice *device = l->data;
        GstStructure *props = gst_device_get_properties(device);
        const char *api = props ? gst_structure_get_string(props, "device.api") : NULL;
        const char *path = props ? gst_structure_get_string(props, "device.path") : NULL;
        gchar *name;
        int i, dup = 0;

        if (!path && props) path = gst_structure_get_string(props, "api.v4l2.path");
        if (!api || strcmp(api, "v4l2") || !path || !*path)
        {
            if (props) gst_structure_free(props);
            continue;
        }
        for (i = 0; i < count; i++)
            if (!strcmp(out[i].path, path)) dup = 1;
        if (!dup)
        {
            name = gst_device_get_display_name(device);
            copy_text(out[count].name, sizeof(out[count].name), name && *name ? name : path);
            copy_text(out[count].path, sizeof(out[count].path), path);
            g_free(name);
            count++;
        }
        gst_structure_free(props);
    }

    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    qsort(out, count, sizeof(*out), compare_paths);
    return count;
}
