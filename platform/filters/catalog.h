/*
 * The filters of the device enumerator's categories: compressors, transitions and capture devices, as
 * tables of what each is and which GStreamer element makes it. Data only; the filter object an entry
 * makes is filters/filter.h.
 */
#ifndef MEDIAPLATFORM_CATALOG_H
#define MEDIAPLATFORM_CATALOG_H

#include <windows.h>
#include <dshow.h>
#include "editing_services.h"


enum FilterKind
{
    FILTER_VIDEO_ENCODER = 1,
    FILTER_AUDIO_ENCODER,
    FILTER_TRANSITION,
    FILTER_CAPTURE,
    FILTER_WAVDEST,         /* RIFF WAVE writer between an audio stream and a File Writer */
    FILTER_AVIMUX,          /* AVI multiplexer */
    FILTER_FILEWRITER,      /* File Writer */
    FILTER_SOURCE,          /* file source (AddSourceFilter) */
    FILTER_RENDERER         /* default video or sound renderer */
};

/* How the IAMVideoCompression quality (0.0 worst .. 1.0 best) reaches an encoder element. */
enum QualityKnob
{
    KNOB_NONE,          /* no setting that has an effect */
    KNOB_JPEG,          /* quality=0..100 */
    KNOB_AVCODEC,       /* qmin=qmax=q, q 31 (worst) .. 2 (best) */
    KNOB_X264,          /* pass=quant quantizer=51 (worst) .. 0 (best) */
    KNOB_VPX            /* min-quantizer=max-quantizer=63 (worst) .. 0 (best) */
};

/* The pictures a video encoder takes. */
enum FrameRule
{
    FRAMES_ANY,         /* any size */
    FRAMES_EVEN,        /* even width and height (its 4:2:0 or 4:2:2 layout) */
    FRAMES_FOUR,        /* width and height multiples of 4 (4x4 blocks) */
    FRAMES_DV           /* any size and rate, scaled to the DV frame of 25 fps (625 lines) or 29.97 fps */
};

struct CodecEntry
{
    const CLSID *clsid;
    const WCHAR *name;              /* friendly name */
    FilterKind kind;                /* FILTER_VIDEO_ENCODER or FILTER_AUDIO_ENCODER */
    const char *element;            /* GStreamer element factory */
    const char *properties;         /* always set, gst-launch syntax, or "" */
    DWORD tag;                      /* output: FOURCC (video) or WAVE_FORMAT_ tag (audio) */
    QualityKnob knob;
    double default_quality;         /* what get_Quality reports before put_Quality */
    const char *keyframe_property;  /* element property for the key frame interval, or NULL */
    const char *input;              /* video: the elements in front of it that make its pictures, in the
                                       range and matrix that decoders of its format assume */
    FrameRule frames;
};

struct TransitionEntry
{
    const CLSID *clsid;
    const WCHAR *name;              /* friendly name */
    const char *ges_type;           /* GES video transition type nick; NULL for the key */
    const char *element;            /* element that draws it in a composition */
    const char *properties;         /* its fixed properties, gst-launch syntax */
};

/* One moniker of a category, as the device enumerator hands it out and a filter remembers it. */
struct DeviceEntry
{
    CLSID clsid;                    /* the filter class: "guid" of the property bag */
    WCHAR name[128];                /* "FriendlyName" */
    FilterKind kind;
    const CodecEntry *codec;        /* encoders */
    const TransitionEntry *transition;  /* transitions */
    char device[256];               /* capture: v4l2 device node; empty for the virtual camera */
};

/* Present entries of a filter category, in a fixed order. S_OK with at least one entry, S_FALSE for an
 * empty or unknown category (out then holds none), E_OUTOFMEMORY. */
HRESULT CatalogListCategory(REFGUID category, DeviceEntry **out, ULONG *count);
void CatalogFreeList(DeviceEntry *list);

/* Whether a video encoder takes pictures of this type: its size, where the type states one. */
bool CatalogEncoderTakes(const CodecEntry *codec, const AM_MEDIA_TYPE *type);
/* The elements in front of a video encoder for pictures of this type (NULL: not known yet), or NULL. */
const char *CatalogEncoderFront(const CodecEntry *codec, const AM_MEDIA_TYPE *type);

/* Static tables, for the render engine and graph code: NULL when clsid is not one of them. */
const CodecEntry *CatalogFindCodec(REFCLSID clsid);
const TransitionEntry *CatalogFindTransition(REFCLSID clsid);

/* Class ids CoCreateInstance can reach through CreateCatalogFilter (for registration). */
ULONG CatalogClassCount(void);
const CLSID *CatalogClass(ULONG index, const WCHAR **name);

/* The entry of a compressor, transition or the virtual camera by its class id. S_OK, or
 * CLASS_E_CLASSNOTAVAILABLE when that class is not present on this machine now. */
HRESULT CatalogEntryFor(REFCLSID clsid, DeviceEntry *entry);

#endif
