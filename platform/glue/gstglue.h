/* GStreamer glue shared by the platform's objects: plain C, no Win32 and no GStreamer types. */
#ifndef MEDIAPLATFORM_GSTGLUE_H
#define MEDIAPLATFORM_GSTGLUE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Initialises GStreamer once per process; safe from any thread and any number of times. Every glue
 * entry point calls it first. */
void glue_init(void);

/* 1 once glue_init has run in this process. GStreamer cannot be shut down and started again, so the
 * server stays loaded from then on. */
int glue_started(void);

/* 1 when GStreamer knows an element factory of this name (a plugin that is installed and loads). */
int glue_element_exists(const char *factory);

/* 1 when elements of this factory have a property of this name. */
int glue_element_has_property(const char *factory, const char *property);

/* Default of an integer property of the factory's elements, or fallback when there is none. */
long glue_element_default_int(const char *factory, const char *property, long fallback);

/* The folder of this process for files the platform makes (copies it reads instead of a file), under
 * the temp folder; the folders of processes that are gone are swept away on first use. */
const char *glue_work_folder(void);
/* A new empty file of the work folder named like pattern ("still-XXXXXX.png"), or NULL. To be freed. */
char *glue_work_file(const char *pattern);

/* Files this process reads from (graph sources, timeline sources), known by device and inode so that
 * every spelling of a name (links, case, relative paths) reaches them. A writer refuses to replace one.
 * begin returns a token for end, NULL when the file cannot be looked at. */
void *glue_reading_begin(const char *path);
void glue_reading_end(void *token);
int glue_is_being_read(const char *path);

/* Uncompressed planar pictures in a file have rows of exactly their width, where GStreamer takes rows
 * padded to 4 bytes unless a buffer states its own: every AVI demuxer that comes into bin gives such
 * pictures a video meta with their real rows. */
void glue_watch_raw_rows(void *bin);

/* Registers "platformrange" (rangeconvert.c), which glue_init does. */
int range_register(void);

#ifdef __cplusplus
}
#endif

#endif
