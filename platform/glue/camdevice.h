/* A v4l2 camera's frame sizes (from GStreamer's device monitor) and picture controls (from the driver).
 * Plain C, no Win32 and no GStreamer types. */
#ifndef MEDIAPLATFORM_CAMDEVICE_H
#define MEDIAPLATFORM_CAMDEVICE_H

#ifdef __cplusplus
extern "C" {
#endif

struct glue_camera_size {
    int width, height;
    int fps_num, fps_den;   /* the highest frame rate offered at this size */
    int jpeg;               /* 1: offered only as image/jpeg, 0: as raw video */
};

/* Sizes the device at this node offers, in the device's order, one entry per size; returns how many. */
int glue_camera_sizes(const char *path, struct glue_camera_size *out, int max);

/* Picture controls, numbered like the picture properties of the Win32 side. */
enum glue_camera_control_id {
    GLUE_CTRL_BRIGHTNESS, GLUE_CTRL_CONTRAST, GLUE_CTRL_HUE, GLUE_CTRL_SATURATION, GLUE_CTRL_SHARPNESS,
    GLUE_CTRL_GAMMA, GLUE_CTRL_COLOR_ENABLE, GLUE_CTRL_WHITE_BALANCE, GLUE_CTRL_BACKLIGHT, GLUE_CTRL_GAIN,
    GLUE_CTRL_COUNT
};

struct glue_camera_control {
    int present;                 /* the driver has the manual control */
    long min, max, step, def, value;
    int has_auto;                /* the driver has an automatic mode for it */
    int auto_on;                 /* that mode is on now */
    char name[64];               /* v4l2src extra-controls field of the manual control */
    char auto_name[64];          /* and of its automatic switch */
};

/* Reads every control of the device; out[id].present is 0 where the driver has none. 0 when the device
 * cannot be opened. */
int glue_camera_controls(const char *path, struct glue_camera_control out[GLUE_CTRL_COUNT]);

#ifdef __cplusplus
}
#endif

#endif
