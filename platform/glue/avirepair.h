/* AVI files read as far as their data goes (avirepair.c). Plain C, no Win32 and no GStreamer types. */
#ifndef MEDIAPLATFORM_AVIREPAIR_H
#define MEDIAPLATFORM_AVIREPAIR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The name to read a media file by (to be freed with g_free): for an AVI without an index, a copy of it
 * in the process's work folder with an index rebuilt from its chunks; otherwise the name itself. */
char *avi_readable_path(const char *path);

#ifdef __cplusplus
}
#endif

#endif
