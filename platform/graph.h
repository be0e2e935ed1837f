/*
 * What the filter graph, the capture graph builder and the render engine share about filters that are
 * not plain GStreamer fragments: pins that stand for one stream of their filter, and filters whose
 * output is a ready-made GStreamer element (the render engine's timeline). Win32 side only.
 */
#ifndef MEDIAPLATFORM_GRAPH_H
#define MEDIAPLATFORM_GRAPH_H

#include "objects.h"

/* A pin of one of the platform's filters: the filter it belongs to and the stream it stands for. */
EDS_GUID(IID_IPlatformPin, 0x5b0c7d21, 0x9e3a, 0x4f18, 0xa2, 0x6b, 0x31, 0xd4, 0x0e, 0x77, 0xc9, 0x52);

MIDL_INTERFACE("5B0C7D21-9E3A-4F18-A26B-31D40E77C952")
IPlatformPin : public IUnknown
{
    /* The owning filter; no reference is added. */
    virtual IBaseFilter *STDMETHODCALLTYPE GetOwner(void) = 0;
    /* Index of the stream among the owner's output streams (output pins), or of the input. */
    virtual int STDMETHODCALLTYPE GetStreamIndex(void) = 0;
};

/*
 * A source filter whose streams come out of a GStreamer element made elsewhere in the platform (the
 * render engine's timeline): one source pad per stream. The graph asks for the element when it builds
 * its pipeline and takes ownership of the reference it gets.
 */
EDS_GUID(IID_IPlatformSourceElement, 0x2f6a9e40, 0x1c57, 0x4d3b, 0x8e, 0x94, 0x5a, 0x02, 0xbd, 0x6c, 0x13, 0xe8);

MIDL_INTERFACE("2F6A9E40-1C57-4D3B-8E94-5A02BD6C13E8")
IPlatformSourceElement : public IUnknown
{
    /* Number of streams, and the major type of stream i (MEDIATYPE_Video or MEDIATYPE_Audio). */
    virtual int STDMETHODCALLTYPE GetStreamCount(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamType(int index, GUID *majorType) = 0;
    /* A new reference to the element (a GstElement *, floating reference sunk), NULL on failure. The
     * streams whose bit is set in converted (bit i: stream i) feed a filter that converts the pictures
     * itself: they may leave in whatever raw format costs the element least. */
    virtual void *STDMETHODCALLTYPE CreateElement(unsigned converted) = 0;
    /* Name of the element's source pad of stream i, valid while the element lives. */
    virtual HRESULT STDMETHODCALLTYPE GetPadName(int index, char *name, int size) = 0;
};

#endif
