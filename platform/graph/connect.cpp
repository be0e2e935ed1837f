/* Intelligent connect: connections through the filters a stream needs, sources for files, rendering. */
#include "graph/filtergraph.h"

#include <string.h>

HRESULT STDMETHODCALLTYPE FilterGraph::Connect(IPin *out, IPin *in)
{
    HRESULT hr = ConnectDirect(out, in, NULL);
    return hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_NO_ACCEPTABLE_TYPES ? VFW_E_CANNOT_CONNECT : hr;
}

static GUID pin_major(IPin *pin)
{
    IEnumMediaTypes *types;
    AM_MEDIA_TYPE *mt;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->EnumMediaTypes(&types)))
    {
        if (types->Next(1, &mt, NULL) == S_OK)
        {
            major = mt->majortype;
            FreeMediaType(mt);
            CoTaskMemFree(mt);
        }
        types->Release();
    }
    return major;
}

/* a stream to the default renderer of its type */
HRESULT STDMETHODCALLTYPE FilterGraph::Render(IPin *out)
{
    PIN_DIRECTION dir;
    IPin *peer;
    GraphFilter *r;
    HRESULT hr;
    GUID major;

    if (!out) return E_POINTER;
    if (FAILED(out->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (SUCCEEDED(out->ConnectedTo(&peer)))
    {
        peer->Release();
        return VFW_E_ALREADY_CONNECTED;
    }
    major = pin_major(out);
    if (IsEqualGUID(major, MEDIATYPE_Video))
        hr = GraphFilter::Create(GF_VIDEO_RENDERER, &r);
    else if (IsEqualGUID(major, MEDIATYPE_Audio))
        hr = GraphFilter::Create(GF_AUDIO_RENDERER, &r);
    else
        return VFW_E_CANNOT_RENDER;
    if (FAILED(hr)) return hr;
    hr = AddFilter(r, r->Type() == GF_VIDEO_RENDERER ? L"Video Renderer" : L"Audio Renderer");
    if (SUCCEEDED(hr) && FAILED(hr = ConnectDirect(out, r->Pin(0), NULL)))
        RemoveFilter(r);
    if (SUCCEEDED(hr) && r->Window())
    {
        /* the picture size, as far as the stream tells it before it runs */
        AM_MEDIA_TYPE mt;
        IPlatformPin *pp;
        if (SUCCEEDED(out->QueryInterface(IID_IPlatformPin, (void **)&pp)))
        {
            GraphFilter *src;
            if (SUCCEEDED(pp->GetOwner()->QueryInterface(IID_IGraphFilter, (void **)&src)))
            {
                int i = pp->GetStreamIndex();
                if (src->Type() == GF_SOURCE && i >= 0 && i < src->StreamCount())
                    r->Window()->SetSourceSize(src->Stream(i).width, src->Stream(i).height);
                src->Release();
            }
            pp->Release();
        }
        if (SUCCEEDED(out->ConnectionMediaType(&mt)))
        {
            if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
            {
                const VIDEOINFOHEADER *vih = (const VIDEOINFOHEADER *)mt.pbFormat;
                if (vih->bmiHeader.biWidth > 0)
                    r->Window()->SetSourceSize(vih->bmiHeader.biWidth, abs(vih->bmiHeader.biHeight));
            }
            FreeMediaType(&mt);
        }
    }
    r->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter **out)
{
    GraphFilter *src;
    HRESULT hr;

    if (!file || !out) return E_POINTER;
    *out = NULL;
    if (FAILED(hr = GraphFilter::CreateSource(file, &src))) return hr;
    if (FAILED(hr = AddFilter(src, name ? name : file)))
    {
        src->Release();
        return hr;
    }
    *out = src;
    return S_OK;
}

/* full playback: every stream to its default renderer */
HRESULT STDMETHODCALLTYPE FilterGraph::RenderFile(LPCWSTR file, LPCWSTR playlist)
{
    IBaseFilter *src;
    IEnumPins *pins;
    IPin *pin;
    HRESULT hr;
    int rendered = 0, failed = 0;

    if (!file) return E_POINTER;
    if (FAILED(hr = AddSourceFilter(file, file, &src))) return hr;
    if (SUCCEEDED(src->EnumPins(&pins)))
    {
        while (pins->Next(1, &pin, NULL) == S_OK)
        {
            if (SUCCEEDED(Render(pin))) rendered++;
            else failed++;
            pin->Release();
        }
        pins->Release();
    }
    if (!rendered) RemoveFilter(src);
    src->Release();
    if (!rendered) return VFW_E_CANNOT_RENDER;
    return failed ? VFW_S_PARTIAL_RENDER : S_OK;
}
