/* Plain-C helpers of the file output tests: GStreamer pipelines in this process, and Unix
 * programs (ffprobe, ffmpeg) run with popen. No Win32 and no GStreamer types here. */
#ifndef FILEOUTPUT_PIPELINES_H
#define FILEOUTPUT_PIPELINES_H

#ifdef __cplusplus
extern "C" {
#endif

/* Runs a gst-launch description to end of stream (the platform's elements exist once its server has
 * started GStreamer in this process).
 * 1 on EOS; 0 on an error or after timeout_s seconds, with the reason in error. */
int fo_run_pipeline(const char *description, int timeout_s, char *error, int error_size);

/* Runs a shell command line and keeps up to size-1 bytes of its standard output. Its exit status, or -1. */
int fo_run_command(const char *command, char *output, int size);

/* Makes a new empty Unix folder for the test's files; 1 on success. */
int fo_make_temp_dir(char *path, int size);

/* Reads a whole file into a malloc'd buffer (free with fo_free); NULL when it cannot be read. */
unsigned char *fo_read_file(const char *path, long long *size);
void fo_free(void *p);

/* Size of a file in bytes, or -1. */
long long fo_file_size(const char *path);

/* Removes a file; a folder with the files in it. */
void fo_remove(const char *path);
void fo_remove_dir(const char *path);

/* 1 when a GStreamer element factory of this name exists. */
int fo_element_exists(const char *factory);

#ifdef __cplusplus
}
#endif

#endif
