/* The length a media file's header states, to tell a file that ends early (statedlength.c). Plain C, no
 * Win32 and no GStreamer types. */
#ifndef MEDIAPLATFORM_STATEDLENGTH_H
#define MEDIAPLATFORM_STATEDLENGTH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum stated_kind { STATED_NONE, STATED_PICTURE, STATED_SOUND };

/* The length in nanoseconds that the file's header states for its pictures (an AVI: frames times frame
 * time) or its sound (a PCM WAV: data bytes over bytes per second), the kind it is stated for, and the
 * shortfall that still counts as whole (a few frames, a tenth of a second). -1 and STATED_NONE when the
 * file states nothing that can be relied on. */
int64_t stated_length(const char *path, enum stated_kind *kind, int64_t *slack_ns);

#ifdef __cplusplus
}
#endif

#endif
