/* A v4l2 camera's frame sizes (GstDevice caps) and picture controls (VIDIOC_QUERYCTRL). */
#include "glue/camdevice.h"
#include "glue/gstglue.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <linux/videodev2.h>
#include <gst/gst.h>

/* The highest rate of a framerate field: a fraction, a list of them or a range. 0 when there is none. */
static int highest_rate(const GValue *v, int *num, int *den)
{
    if (!v) return 0;
    if (GST_VALUE_HOLDS_FRACTION(v))
    {
        int n = gst_value_get_fraction_numerator(v), d = gst_value_get_fraction_denominator(v);
        if (n <= 0 || d <= 0) return 0;
        if (!*num || (gint64)n * *den > (gint64)*num * d)
        {
            *num = n;
            *den = d;
        }
        return 1;
    }
    if (GST_VALUE_HOLDS_LIST(v))
    {
        int found = 0;
        for (guint i = 0; i < gst_value_list_get_size(v); i++)
            found |= highest_rate(gst_value_list_get_value(v, i), num, den);
        return found;
    }
    if (GST_VALUE_HOLDS_FRACTION_RANGE(v))
        return highest_rate(gst_value_get_fraction_range_max(v), num, den);
    return 0;
}

static GstDevice *find_device(const char *path)
{
    GstDeviceMonitor *monitor = gst_device_monitor_new();
    GstDevice *found = NULL;
    GList *devices, *l;

    gst_device_monitor_add_filter(monitor, "Video/Source", NULL);
    devices = gst_device_monitor_get_devices(monitor);
    for (l = devices; l && !found; l = l->next)
    {
        GstStructure *props = gst_device_get_properties(l->data);
        const char *p = props ? gst_structure_get_string(props, "device.path") : NULL;

        if (!p && props) p = gst_structure_get_string(props, "api.v4l2.path");
        if (p && !strcmp(p, path)) found = gst_object_ref(l->data);
        if (props) gst_structure_free(props);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return found;
}

/* One entry per fixed size of raw video or JPEG in caps, in their order. */
static int sizes_from_caps(const GstCaps *caps, struct glue_camera_size *out, int max)
{
    int count = 0;

    for (guint i = 0; i < gst_caps_get_size(caps); i++)
    {
        GstStructure *s = gst_caps_get_structure(caps, i);
        GstCapsFeatures *features = gst_caps_get_features(caps, i);
        int raw = gst_structure_has_name(s, "video/x-raw");
        int width, height, num = 0, den = 1, k;

        if (!raw && !gst_structure_has_name(s, "image/jpeg")) continue;
        if (features && !gst_caps_features_is_any(features)
                && !gst_caps_features_contains(features, GST_CAPS_FEATURE_MEMORY_SYSTEM_MEMORY))
            continue;
        /* stepwise sizes come as ranges: only fixed sizes are listed */
        if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height)) continue;
        if (width <= 0 || height <= 0) continue;
        if (!highest_rate(gst_structure_get_value(s, "framerate"), &num, &den)) continue;

        for (k = 0; k < count; k++)
            if (out[k].width == width && out[k].height == height) break;
        if (k < count)
        {
            /* raw video wins over JPEG; within one kind, the higher rate */
            if (out[k].jpeg && raw)
            {
                out[k].jpeg = 0;
                out[k].fps_num = num;
                out[k].fps_den = den;
            }
            else if (out[k].jpeg == !raw && (gint64)num * out[k].fps_den > (gint64)out[k].fps_num * den)
            {
                out[k].fps_num = num;
                out[k].fps_den = den;
            }
            continue;
        }
        if (count == max) break;
        out[count].width = width;
        out[count].height = height;
        out[count].fps_num = num;
        out[count].fps_den = den;
        out[count].jpeg = !raw;
        count++;
    }
    return count;
}

int glue_camera_sizes(const char *path, struct glue_camera_size *out, int max)
{
    GstDevice *device;
    GstCaps *caps;
    int count;

    if (!path || !out || max <= 0) return 0;
    glue_init();
    if (!(device = find_device(path))) return 0;
    caps = gst_device_get_caps(device);
    gst_object_unref(device);
    if (!caps) return 0;
    count = sizes_from_caps(caps, out, max);
    gst_caps_unref(caps);
    return count;
}

/* v4l2src names a control by its driver name, lower case, every other character an underscore. */
static void control_name(char *dst, size_t size, const unsigned char *src)
{
    size_t i;

    for (i = 0; i + 1 < size && src[i]; i++)
    {
        unsigned char c = src[i];
        if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
        else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) c = '_';
        dst[i] = (char)c;
    }
    dst[i] = 0;
}

/* 1 with the control's description and current value when the driver has it as a number or switch. */
static int query_control(int fd, unsigned int cid, struct v4l2_queryctrl *qc, long *value)
{
    struct v4l2_control ctrl;

    memset(qc, 0, sizeof(*qc));
    qc->id = cid;
    if (ioctl(fd, VIDIOC_QUERYCTRL, qc) < 0) return 0;
    if (qc->flags & V4L2_CTRL_FLAG_DISABLED) return 0;
    if (qc->type != V4L2_CTRL_TYPE_INTEGER && qc->type != V4L2_CTRL_TYPE_BOOLEAN) return 0;
    memset(&ctrl, 0, sizeof(ctrl));
    ctrl.id = cid;
    *value = ioctl(fd, VIDIOC_G_CTRL, &ctrl) < 0 ? qc->default_value : ctrl.value;
    return 1;
}

int glue_camera_controls(const char *path, struct glue_camera_control out[GLUE_CTRL_COUNT])
{
    /* manual control and automatic switch of each picture property; 0: none in v4l2 */
    static const unsigned int cids[GLUE_CTRL_COUNT][2] =
    {
        { V4L2_CID_BRIGHTNESS, 0 },
        { V4L2_CID_CONTRAST, 0 },
        { V4L2_CID_HUE, V4L2_CID_HUE_AUTO },
        { V4L2_CID_SATURATION, 0 },
        { V4L2_CID_SHARPNESS, 0 },
        { V4L2_CID_GAMMA, 0 },
        { 0, 0 },
        { V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE },
        { V4L2_CID_BACKLIGHT_COMPENSATION, 0 },
        { V4L2_CID_GAIN, V4L2_CID_AUTOGAIN },
    };
    int fd, i;

    memset(out, 0, sizeof(*out) * GLUE_CTRL_COUNT);
    if (!path) return 0;
    do fd = open(path, O_RDWR | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return 0;

    for (i = 0; i < GLUE_CTRL_COUNT; i++)
    {
        struct v4l2_queryctrl qc;
        long value;

        if (!cids[i][0] || !query_control(fd, cids[i][0], &qc, &value)) continue;
        if (qc.maximum <= qc.minimum) continue;
        out[i].present = 1;
        out[i].min = qc.minimum;
        out[i].max = qc.maximum;
        out[i].step = qc.step > 0 ? qc.step : 1;
        out[i].def = qc.default_value;
        out[i].value = value;
        control_name(out[i].name, sizeof(out[i].name), qc.name);
        if (cids[i][1] && query_control(fd, cids[i][1], &qc, &value))
        {
            out[i].has_auto = 1;
            out[i].auto_on = value != 0;
            control_name(out[i].auto_name, sizeof(out[i].auto_name), qc.name);
        }
    }
    close(fd);
    return 1;
}
