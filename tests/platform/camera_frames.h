/* Frames out of a capture filter's pipeline fragment, for the camera tests. Plain C, no Win32. */
#ifndef TESTS_CAMERA_FRAMES_H
#define TESTS_CAMERA_FRAMES_H

#ifdef __cplusplus
extern "C" {
#endif

struct frame_stats {
    int width, height;          /* of the frame's caps */
    int fps_num, fps_den;
    double mean_b, mean_g, mean_r;
    double mean_luma;           /* BT.601 weights, 0..255 */
    double luma_stddev;
    double chroma;              /* mean of max(B,G,R) - min(B,G,R) */
    double edges;               /* mean absolute luma step between horizontal neighbours */
};

/* Runs "DESCRIPTION ! appsink" with BGR caps, takes the third frame and measures it. 1 on success;
 * otherwise 0 with the reason in error. */
int measure_frame(const char *description, struct frame_stats *out, char *error, int error_size);

#ifdef __cplusplus
}
#endif

#endif
