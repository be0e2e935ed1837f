/* Video capture devices of the machine, found through GStreamer's device monitor (v4l2 only). */
#ifndef MEDIAPLATFORM_DEVICES_H
#define MEDIAPLATFORM_DEVICES_H

#ifdef __cplusplus
extern "C" {
#endif

struct glue_video_device {
    char name[256];    /* display name, UTF-8 */
    char path[256];    /* device node, e.g. /dev/video0 */
};

/* Fills up to max entries, ordered by device node (video2 before video10), and returns how many. */
int glue_list_video_devices(struct glue_video_device *out, int max);

#ifdef __cplusplus
}
#endif

#endif
