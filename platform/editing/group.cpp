// Groups: the top of the tree, one output stream of the timeline each, with its media type, frame rate,
// name and the layers below it (composition.cpp).
#include "editing/nodes.h"
#include "filters/mediatypes.h"
#include "glue/discover.h"

#include <mmreg.h>
#include <math.h>
#include <new>
#include <string.h>

namespace editing {

bool group_format(const AM_MEDIA_TYPE *mt, gg_group *g)
{
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
    {
        if (!IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
            return false;
        const BITMAPINFOHEADER *bih = &((const VIDEOINFOHEADER *)mt->pbFormat)->bmiHeader;
        if (bih->biHeight < 0) return false;   // top-down pictures are not delivered
        g->video = 1;
        g->width = bih->biWidth;
        g->height = bih->biHeight;
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB555)) g->bits = 15;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB565)) g->bits = 16;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24)) g->bits = 24;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB32)) g->bits = 32;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_ARGB32)) { g->bits = 32; g->alpha = 1; }
        else return false;
        int expect = g->bits == 15 ? 16 : g->bits;
        if (bih->biBitCount != expect || (bih->biCompression != BI_RGB && bih->biCompression != BI_BITFIELDS))
            return false;
        return g->width > 0 && g->height > 0 && g->width <= 8192 && g->height <= 8192;
    }
    if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio))
    {
        if (!IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx) || mt->cbFormat < 16 || !mt->pbFormat) return false;
        const WAVEFORMATEX *wfx = (const WAVEFORMATEX *)mt->pbFormat;
        g->video = 0;
        g->channels = wfx->nChannels;
        g->rate = (int)wfx->nSamplesPerSec;
        g->sample_bits = wfx->wBitsPerSample;
        if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_PCM) && wfx->wFormatTag == WAVE_FORMAT_PCM)
            g->is_float = 0;
        else if (IsEqualGUID(mt->subtype, MEDIASUBTYPE_IEEE_FLOAT) && wfx->wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
            g->is_float = 1;
        else
            return false;
        if (g->channels < 1 || g->channels > 8 || g->rate < 1000 || g->rate > 192000) return false;
        if (g->is_float) return g->sample_bits == 32 || g->sample_bits == 64;
        return g->sample_bits == 8 || g->sample_bits == 16 || g->sample_bits == 24 || g->sample_bits == 32;
    }
    return false;
}

GroupNode::GroupNode(Timeline *tl, LONG id)
    : TimelineNode(TIMELINE_MAJOR_TYPE_GROUP, tl, id), Layers(this), Transable(this), has_mt(false), output_fps(0.0),
      group_name(NULL), preview(TRUE), buffering(30), has_recompress(false)
{
    memset(&mt, 0, sizeof(mt));
    memset(&recompress, 0, sizeof(recompress));
}

GroupNode::~GroupNode()
{
    if (has_mt) FreeMediaType(&mt);
    if (has_recompress) FreeMediaType(&recompress.MediaType);
    SysFreeString(group_name);
}

void *GroupNode::KindInterface(REFIID riid)
{
    if (IsEqualIID(riid, IID_IAMTimelineGroup)) return static_cast<IAMTimelineGroup *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineComp)) return static_cast<IAMTimelineComp *>(this);
    if (IsEqualIID(riid, IID_IAMTimelineTransable)) return static_cast<IAMTimelineTransable *>(this);
    return NULL;
}

// Not supported, as documented: IAMTimeline::AddGroup puts a group into a timeline.
HRESULT STDMETHODCALLTYPE GroupNode::SetTimeline(IAMTimeline *tl)
{
    return E_NOTIMPL;
}

// NULL and S_OK for a group in no timeline
HRESULT STDMETHODCALLTYPE GroupNode::GetTimeline(IAMTimeline **out)
{
    if (!out) return E_POINTER;
    if ((*out = InTimeline() ? timeline : NULL)) timeline->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetPriority(LONG *priority)
{
    if (!priority) return E_POINTER;
    *priority = -1;
    if (!timeline) return E_UNEXPECTED;
    LONG count = 0;
    timeline->GetGroupCount(&count);
    for (LONG i = 0; i < count; i++)
    {
        IAMTimelineObj *g;
        if (SUCCEEDED(timeline->GetGroup(&g, i)))
        {
            bool same = node_from(g) == this;
            g->Release();
            if (same)
            {
                *priority = i;
                return S_OK;
            }
        }
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetMediaType(AM_MEDIA_TYPE *out)
{
    if (!out) return E_POINTER;
    if (!has_mt)
    {
        memset(out, 0, sizeof(*out));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(out, &mt);
}

HRESULT STDMETHODCALLTYPE GroupNode::SetMediaType(AM_MEDIA_TYPE *type)
{
    gg_group g = {};
    AM_MEDIA_TYPE copy;
    HRESULT hr;
    if (!type) return E_POINTER;
    if (!group_format(type, &g)) return VFW_E_INVALIDMEDIATYPE;
    if (FAILED(hr = CopyMediaType(&copy, type))) return hr;
    if (has_mt) FreeMediaType(&mt);
    mt = copy;
    has_mt = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::SetOutputFPS(double fps)
{
    if (!(fps > 0.0) || fps > 1000.0) return E_INVALIDARG;
    output_fps = fps;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetOutputFPS(double *fps)
{
    if (!fps) return E_POINTER;
    *fps = Fps();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::SetGroupName(BSTR name)
{
    BSTR copy = name ? SysAllocString(name) : NULL;
    if (name && !copy) return E_OUTOFMEMORY;
    SysFreeString(group_name);
    group_name = copy;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetGroupName(BSTR *name)
{
    if (!name) return E_POINTER;
    *name = SysAllocString(group_name ? group_name : L"");
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE GroupNode::SetPreviewMode(BOOL p)
{
    preview = p;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetPreviewMode(BOOL *p)
{
    if (!p) return E_POINTER;
    *p = preview;
    return S_OK;
}

// 0: video 320x240 RGB 5:5:5; 1: audio 44.1 kHz 16-bit stereo
bool GroupNode::InTimeline()
{
    LONG priority;
    return timeline && SUCCEEDED(GetPriority(&priority));
}

HRESULT STDMETHODCALLTYPE GroupNode::SetMediaTypeForVB(LONG which)
{
    AM_MEDIA_TYPE t = {};
    HRESULT hr;
    if (which == 0)
    {
        VIDEOINFOHEADER vih = {};
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = 320;
        vih.bmiHeader.biHeight = 240;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 16;
        vih.bmiHeader.biSizeImage = 320 * 2 * 240;
        t.majortype = MEDIATYPE_Video;
        t.subtype = MEDIASUBTYPE_RGB555;
        t.formattype = FORMAT_VideoInfo;
        t.bFixedSizeSamples = TRUE;
        t.lSampleSize = vih.bmiHeader.biSizeImage;
        t.cbFormat = sizeof(vih);
        t.pbFormat = (BYTE *)&vih;
        hr = SetMediaType(&t);
    }
    else if (which == 1)
    {
        WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
        t.majortype = MEDIATYPE_Audio;
        t.subtype = MEDIASUBTYPE_PCM;
        t.formattype = FORMAT_WaveFormatEx;
        t.cbFormat = sizeof(wfx);
        t.pbFormat = (BYTE *)&wfx;
        hr = SetMediaType(&t);
    }
    else
        hr = E_INVALIDARG;
    return hr;
}

HRESULT STDMETHODCALLTYPE GroupNode::GetOutputBuffering(int *b)
{
    if (!b) return E_POINTER;
    *b = buffering;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::SetOutputBuffering(int b)
{
    if (b < 2) return E_INVALIDARG;
    buffering = b;
    return S_OK;
}

// The compressed format the group's video is to come out in: an SCompFmt0 (format id 0) with a video
// type. Its frame rate becomes the group's.
HRESULT STDMETHODCALLTYPE GroupNode::SetSmartRecompressFormat(LONG *format)
{
    if (!format) return E_POINTER;
    const SCompFmt0 *f = reinterpret_cast<const SCompFmt0 *>(format);
    if (f->nFormatId != 0 || !IsEqualGUID(f->MediaType.majortype, MEDIATYPE_Video)) return E_INVALIDARG;
    if (!has_mt || !IsEqualGUID(mt.majortype, MEDIATYPE_Video)) return E_INVALIDARG;   // not for sound
    if (f->MediaType.cbFormat && !f->MediaType.pbFormat) return E_INVALIDARG;
    AM_MEDIA_TYPE copy;
    HRESULT hr = CopyMediaType(&copy, &f->MediaType);
    if (FAILED(hr)) return hr;
    if (has_recompress) FreeMediaType(&recompress.MediaType);
    recompress.nFormatId = 0;
    recompress.MediaType = copy;
    has_recompress = true;
    if (IsEqualGUID(copy.formattype, FORMAT_VideoInfo) && copy.cbFormat >= sizeof(VIDEOINFOHEADER))
    {
        REFERENCE_TIME frame = ((const VIDEOINFOHEADER *)copy.pbFormat)->AvgTimePerFrame;
        if (frame > 0) output_fps = (double)UNITS / (double)frame;
    }
    return S_OK;
}

// A new SCompFmt0 the caller frees (FreeMediaType on its type, then delete); all zero when none was set.
HRESULT STDMETHODCALLTYPE GroupNode::GetSmartRecompressFormat(LONG **format)
{
    if (!format) return E_POINTER;
    *format = NULL;
    SCompFmt0 *f = new (std::nothrow) SCompFmt0;
    if (!f) return E_OUTOFMEMORY;
    memset(f, 0, sizeof(*f));
    if (has_recompress && FAILED(CopyMediaType(&f->MediaType, &recompress.MediaType)))
    {
        delete f;
        return E_OUTOFMEMORY;
    }
    *format = reinterpret_cast<LONG *>(f);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GroupNode::IsSmartRecompressFormatSet(BOOL *set)
{
    if (!set) return E_POINTER;
    *set = has_recompress;
    return S_OK;
}

// Not supported, as documented.
HRESULT STDMETHODCALLTYPE GroupNode::IsRecompressFormatDirty(BOOL *dirty)
{
    return E_NOTIMPL;
}

// Not supported, as documented.
HRESULT STDMETHODCALLTYPE GroupNode::ClearRecompressFormatDirty()
{
    return E_NOTIMPL;
}

// The format of the first video stream of the source's file, as it is stored there (its four-character
// code, size and frame rate), becomes the group's compression format.
HRESULT STDMETHODCALLTYPE GroupNode::SetRecompFormatFromSource(IAMTimelineSrc *source)
{
    if (!source) return E_POINTER;
    if (!InTimeline()) return E_NO_TIMELINE;
    if (!has_mt || !IsEqualGUID(mt.majortype, MEDIATYPE_Video)) return VFW_E_INVALIDMEDIATYPE;
    BSTR name = NULL;
    HRESULT hr = source->GetMediaName(&name);
    if (FAILED(hr)) return hr;
    std::string path;
    bool found = name && *name && unix_path(name, &path);
    SysFreeString(name);
    if (!found) return VFW_E_INVALIDMEDIATYPE;

    discover_media media = {};
    if (discover_file(path.c_str(), 5000, &media) != DISCOVER_OK) return VFW_E_INVALIDMEDIATYPE;
    const discover_stream *video = NULL;
    for (int i = 0; i < media.count && !video; i++)
        if (media.streams[i].kind == DISCOVER_VIDEO) video = &media.streams[i];
    if (!video)
    {
        discover_media_free(&media);
        return VFW_E_INVALIDMEDIATYPE;
    }
    SCompFmt0 format;
    memset(&format, 0, sizeof(format));
    VIDEOINFOHEADER *vih = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(VIDEOINFOHEADER));
    if (!vih)
    {
        discover_media_free(&media);
        return E_OUTOFMEMORY;
    }
    memset(vih, 0, sizeof(*vih));
    if (video->fps_num > 0 && video->fps_den > 0)
        vih->AvgTimePerFrame = (REFERENCE_TIME)llround((double)UNITS * video->fps_den / video->fps_num);
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = video->width;
    vih->bmiHeader.biHeight = video->height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = video->fourcc ? video->fourcc : BI_RGB;
    format.MediaType.majortype = MEDIATYPE_Video;
    if (video->fourcc)
    {
        format.MediaType.subtype = MEDIASUBTYPE_YUY2;   // the FOURCC GUID pattern with the stream's code
        format.MediaType.subtype.Data1 = video->fourcc;
        format.MediaType.bTemporalCompression = TRUE;
    }
    else
    {
        format.MediaType.subtype = MEDIASUBTYPE_RGB24;
        vih->bmiHeader.biSizeImage = ((video->width * 3 + 3) & ~3) * video->height;
        format.MediaType.bFixedSizeSamples = TRUE;
        format.MediaType.lSampleSize = vih->bmiHeader.biSizeImage;
    }
    format.MediaType.formattype = FORMAT_VideoInfo;
    format.MediaType.cbFormat = sizeof(VIDEOINFOHEADER);
    format.MediaType.pbFormat = (BYTE *)vih;
    discover_media_free(&media);
    hr = SetSmartRecompressFormat(reinterpret_cast<LONG *>(&format));
    CoTaskMemFree(vih);
    return hr;
}

}  // namespace editing
