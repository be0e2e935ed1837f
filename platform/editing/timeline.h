/*
 * What the timeline objects hand to the render engine: a copy of the timeline in the terms of the GES
 * glue (gesglue.h), taken when the front end is connected, so that the graph's threads never read the
 * live objects. Win32 side only.
 */
#ifndef MEDIAPLATFORM_TIMELINE_H
#define MEDIAPLATFORM_TIMELINE_H

#include <windows.h>
#include <dshow.h>
#include "editing_services.h"
#include "glue/gesglue.h"

#include <string>
#include <vector>

struct TimelineGroupCopy
{
    gg_group group;                          /* its arrays point into the vectors below */
    AM_MEDIA_TYPE mt;                        /* as set, with its own format block */
    std::vector<gg_source> sources;
    std::vector<gg_transition> transitions;
    std::vector<gg_volume> volumes;
    std::vector<std::string> paths;          /* Unix paths the sources point at */
    std::vector<std::string> elements;       /* transition element names and properties */
};

struct TimelineCopy
{
    std::vector<TimelineGroupCopy> groups;
    std::vector<gg_group> flat;              /* groups[i].group, ready for the glue */
    REFERENCE_TIME length;                   /* end of the last object of any group */

    TimelineCopy() : length(0) {}
    ~TimelineCopy();
    void Finish();                           /* points every gg_group at its vectors */
    /* keeps start..stop of the timeline only, which then begins at 0 (IRenderEngine::SetRenderRange);
     * call before Finish */
    void Restrict(REFERENCE_TIME start, REFERENCE_TIME stop);
};

/* Private interface of the timeline: the copy above. */
EDS_GUID(IID_IPlatformTimeline, 0x4c2e8a17, 0x6f3d, 0x4b81, 0x9a, 0x55, 0x0e, 0x7b, 0xc2, 0x19, 0xd4, 0x63);

MIDL_INTERFACE("4C2E8A17-6F3D-4B81-9A55-0E7BC219D463")
IPlatformTimeline : public IUnknown
{
    /* A new copy (delete it), or an error: no groups, a group without a usable media type
     * (VFW_E_INVALIDMEDIATYPE), a source without a name or with a name that is not a path. */
    virtual HRESULT STDMETHODCALLTYPE CopyTimeline(TimelineCopy **out) = 0;
    /* Hands a rendering error to the error log set on the timeline (IAMSetErrorLog), if any: S_FALSE
     * without one. */
    virtual HRESULT STDMETHODCALLTYPE LogError(LONG severity, const WCHAR *text, LONG code, HRESULT hr) = 0;
};

/*
 * Private interface of the render engine: renders the connected front end into a file with GStreamer
 * alone, video through an encoder ("jpegenc") into a muxer ("avimux", or "wavenc" for one audio group).
 * Used by tests and benchmarks to check what the timeline delivers without a filter graph.
 */
EDS_GUID(IID_IPlatformRenderFile, 0x9b7d3e52, 0x2a1c, 0x4f06, 0xb8, 0x3e, 0x71, 0xc4, 0x0d, 0xa9, 0x56, 0x2b);

MIDL_INTERFACE("9B7D3E52-2A1C-4F06-B83E-71C40DA9562B")
IPlatformRenderFile : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE RenderToFile(const char *video_encoder, const char *muxer,
                                                   const WCHAR *path, DWORD timeout_ms) = 0;
};

/* The Unix path of a DOS path, in UTF-8 (timelinecopy.cpp). */
namespace editing { bool unix_path(const WCHAR *dos, std::string *out); }

/* Turns a glue status into an HRESULT. */
HRESULT GlueStatusToHresult(int status);

#endif
