/* GStreamer and Unix side of the file output tests (compiled by gcc, linked into the Winelib test). The
 * elements under test come from the platform's server, which registers them when it starts GStreamer. */
#include "fileoutput_pipelines.h"

#include <gst/gst.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>
#include <dirent.h>

int fo_run_pipeline(const char *description, int timeout_s, char *error, int error_size)
{
    GError *err = NULL;
    GstElement *pipeline;
    GstBus *bus;
    GstMessage *msg;
    int ok = 0;

    if (error_size > 0) error[0] = 0;
    /* the platform's server registered its elements in this process's GStreamer */
    gst_init(NULL, NULL);
    pipeline = gst_parse_launch(description, &err);
    if (!pipeline || err)
    {
        snprintf(error, error_size, "parse: %s", err ? err->message : "no pipeline");
        if (err) g_error_free(err);
        if (pipeline) gst_object_unref(pipeline);
        return 0;
    }
    bus = gst_element_get_bus(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        snprintf(error, error_size, "cannot start");
    else
    {
        msg = gst_bus_timed_pop_filtered(bus, (GstClockTime)timeout_s * GST_SECOND,
                                         GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
        if (!msg)
            snprintf(error, error_size, "no end of stream within %d s", timeout_s);
        else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR)
        {
            GError *e = NULL;
            gchar *debug = NULL;
            gst_message_parse_error(msg, &e, &debug);
            snprintf(error, error_size, "%s: %s (%s)", GST_OBJECT_NAME(GST_MESSAGE_SRC(msg)),
                     e ? e->message : "?", debug ? debug : "");
            if (e) g_error_free(e);
            g_free(debug);
        }
        else
            ok = 1;
        if (msg) gst_message_unref(msg);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    return ok;
}

int fo_run_command(const char *command, char *output, int size)
{
    FILE *f = popen(command, "r");
    int n = 0, status;

    if (size > 0) output[0] = 0;
    if (!f) return -1;
    if (size > 0)
    {
        size_t got;
        while (n < size - 1 && (got = fread(output + n, 1, size - 1 - n, f)) > 0) n += (int)got;
        output[n] = 0;
    }
    {
        char sink[4096];
        while (fread(sink, 1, sizeof(sink), f) > 0) {}
    }
    status = pclose(f);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int fo_element_exists(const char *factory)
{
    GstElementFactory *f;

    gst_init(NULL, NULL);
    if (!(f = gst_element_factory_find(factory))) return 0;
    gst_object_unref(f);
    return 1;
}

int fo_make_temp_dir(char *path, int size)
{
    char tmpl[] = "/tmp/fileoutput-XXXXXX";
    if (!mkdtemp(tmpl) || (int)strlen(tmpl) >= size) return 0;
    strcpy(path, tmpl);
    return 1;
}

unsigned char *fo_read_file(const char *path, long long *size)
{
    FILE *f = fopen(path, "rb");
    unsigned char *data;
    long n;

    *size = 0;
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    n = ftell(f);
    fseek(f, 0, SEEK_SET);
    data = malloc(n > 0 ? n : 1);
    if (data && n > 0 && fread(data, 1, n, f) != (size_t)n)
    {
        free(data);
        data = NULL;
    }
    fclose(f);
    if (data) *size = n;
    return data;
}

void fo_free(void *p)
{
    free(p);
}

long long fo_file_size(const char *path)
{
    struct stat st;
    return stat(path, &st) ? -1 : (long long)st.st_size;
}

void fo_remove(const char *path)
{
    unlink(path);
}

void fo_remove_dir(const char *path)
{
    DIR *dir = opendir(path);
    struct dirent *e;
    char file[4096];

    if (!dir) return;
    while ((e = readdir(dir)))
    {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        snprintf(file, sizeof(file), "%s/%s", path, e->d_name);
        unlink(file);
    }
    closedir(dir);
    rmdir(path);
}
