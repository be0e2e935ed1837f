/* A clip that shows a still picture file (any format gdk-pixbuf reads) for as long as it lasts. */
#ifndef MEDIAPLATFORM_STILLCLIP_H
#define MEDIAPLATFORM_STILLCLIP_H

#include <ges/ges.h>

G_BEGIN_DECLS

/* A floating clip of the picture at path, sized from the file's header; NULL with error set when the
 * header cannot be read. The picture itself is decoded when the clip plays: into RGB, or with yuv, into
 * the YUV a plain JPEG holds (for pictures that go into an encoder). */
GESClip *still_clip_new(const char *path, gboolean yuv, GError **error);

G_END_DECLS

#endif
