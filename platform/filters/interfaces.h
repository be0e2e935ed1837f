/*
 * The platform's private interfaces between its filters and the graphs that hold them (the filter graph,
 * the capture graph builder, the render engine): filters made from the catalog, pins that stand for one stream of their filter, and filters whose
 * output is a ready-made GStreamer element (the render engine's timeline). Win32 side only.
 */
#ifndef MEDIAPLATFORM_INTERFACES_H
#define MEDIAPLATFORM_INTERFACES_H

#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "filters/catalog.h"

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

/*
 * Private interface of the platform's filters: what the filter graph and the render engine need to turn
 * a filter into GStreamer elements.
 */
EDS_GUID(IID_IPlatformFilter, 0x8d1e5f3a, 0x47c2, 0x4b69, 0x9e, 0x0d, 0x6a, 0x31, 0xf2, 0x85, 0xc4, 0x17);

MIDL_INTERFACE("8D1E5F3A-47C2-4B69-9E0D-6A31F285C417")
IPlatformFilter : public IUnknown
{
    /* The entry this filter was made from (kind, class, codec or transition, device node). */
    virtual const DeviceEntry *STDMETHODCALLTYPE GetEntry(void) = 0;
    /* A gst-launch fragment for the filter with its current settings, UTF-8, e.g.
     * "jpegenc quality=85" or "v4l2src device=/dev/video0". E_OUTOFMEMORY when it does not fit. */
    virtual HRESULT STDMETHODCALLTYPE GetDescription(char *buffer, int size) = 0;
};

#endif
