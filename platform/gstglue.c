/* One GStreamer initialisation for the whole platform, and questions about installed elements. */
#include "gstglue.h"
#include "wavdest.h"

#include <gst/gst.h>

static gsize started = 0;

void glue_init(void)
{
    if (g_once_init_enter(&started))
    {
        gst_init(NULL, NULL);
        /* the platform's own file writers, and the range converter in front of every encoder */
        wavdest_register();
        avimux_register();
        range_register();
        g_once_init_leave(&started, 1);
    }
}

int glue_started(void)
{
    return g_atomic_pointer_get(&started) != 0;
}

int glue_element_exists(const char *factory)
{
    GstElementFactory *f;

    if (!factory || !*factory) return 0;
    glue_init();
    f = gst_element_factory_find(factory);
    if (!f) return 0;
    gst_object_unref(f);
    return 1;
}

int glue_element_has_property(const char *factory, const char *property)
{
    GstElement *element;
    int found;

    if (!factory || !property) return 0;
    glue_init();
    element = gst_element_factory_make(factory, NULL);
    if (!element) return 0;
    found = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property) != NULL;
    gst_object_unref(element);
    return found;
}

long glue_element_default_int(const char *factory, const char *property, long fallback)
{
    GstElement *element;
    GParamSpec *param;
    long value = fallback;

    if (!factory || !property) return fallback;
    glue_init();
    element = gst_element_factory_make(factory, NULL);
    if (!element) return fallback;
    param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property);
    if (param)
    {
        GValue v = G_VALUE_INIT;

        g_value_init(&v, param->value_type);
        g_param_value_set_default(param, &v);
        if (G_VALUE_HOLDS_INT(&v)) value = g_value_get_int(&v);
        else if (G_VALUE_HOLDS_UINT(&v)) value = (long)g_value_get_uint(&v);
        else if (G_VALUE_HOLDS_INT64(&v)) value = (long)g_value_get_int64(&v);
        else if (G_VALUE_HOLDS_UINT64(&v)) value = (long)g_value_get_uint64(&v);
        g_value_unset(&v);
    }
    gst_object_unref(element);
    return value;
}
