/* One picture of a video file, for the media detector's bitmaps (IMediaDet::GetBitmapBits). Plain C. */
#ifndef MEDIAPLATFORM_GRAB_H
#define MEDIAPLATFORM_GRAB_H

#ifdef __cplusplus
extern "C" {
#endif

enum grab_status { GRAB_OK = 0, GRAB_NO_VIDEO, GRAB_FAILED, GRAB_TIMEOUT };

/* The picture of the file's video stream number video_index (0 the first) shown at seconds, scaled to
 * width x height, as the bits of a bottom-up 24-bit DIB: BGR rows padded to 4 bytes, the lowest first.
 * bits holds ((width * 3 + 3) & ~3) * height bytes. A time past the end gives the last picture. */
int grab_picture(const char *unix_path, int video_index, double seconds, int width, int height,
                 unsigned char *bits, unsigned timeout_ms);

#ifdef __cplusplus
}
#endif

#endif
