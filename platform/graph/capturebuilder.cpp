/*
 * The capture graph builder: an AVI multiplexer and File Writer for a path, streams of a source rendered
 * through an optional intermediate filter into a sink, and interfaces found along the connections.
 */
#include "server/aggregate.h"
#include "server/classes.h"
#include "server/lifetime.h"
#include "filters/graphfilter.h"

#include <string.h>
#include <new>

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

static bool pin_connected(IPin *pin)
{
    IPin *peer;
    if (FAILED(pin->ConnectedTo(&peer))) return false;
    peer->Release();
    return true;
}

/* The n-th pin of a direction; unconnected only when asked. New reference or NULL. */
static IPin *nth_pin(IBaseFilter *filter, PIN_DIRECTION dir, bool unconnected, int n)
{
    IEnumPins *pins;
    IPin *pin, *found = NULL;
    if (!filter || FAILED(filter->EnumPins(&pins))) return NULL;
    while (!found && pins->Next(1, &pin, NULL) == S_OK)
    {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir && (!unconnected || !pin_connected(pin)) && n-- == 0)
            found = pin;
        else
            pin->Release();
    }
    pins->Release();
    return found;
}

/* first free input of filter that takes streams of this major type */
static IPin *free_input(IBaseFilter *filter, REFGUID major)
{
    AM_MEDIA_TYPE mt;
    memset(&mt, 0, sizeof(mt));
    mt.majortype = major;
    for (int i = 0;; i++)
    {
        IPin *pin = nth_pin(filter, PINDIR_INPUT, true, i);
        if (!pin) return NULL;
        if (pin->QueryAccept(&mt) == S_OK) return pin;
        pin->Release();
    }
}

static bool is_capture_filter(IBaseFilter *filter)
{
    IPlatformFilter *pf;
    bool capture = false;
    if (SUCCEEDED(filter->QueryInterface(IID_IPlatformFilter, (void **)&pf)))
    {
        const DeviceEntry *e = pf->GetEntry();
        capture = e && e->kind == FILTER_CAPTURE;
        pf->Release();
    }
    return capture;
}

static GraphFilter *graph_filter_of_pin(IPin *pin)
{
    PIN_INFO info;
    GraphFilter *gf = NULL;
    if (FAILED(pin->QueryPinInfo(&info))) return NULL;
    if (info.pFilter)
    {
        if (FAILED(info.pFilter->QueryInterface(IID_IGraphFilter, (void **)&gf))) gf = NULL;
        info.pFilter->Release();
    }
    return gf;
}

class CaptureBuilder final : public ICaptureGraphBuilder2, public Aggregatable
{
public:
    explicit CaptureBuilder(IUnknown *outer) : Aggregatable(outer), graph(NULL) { PlatformObjectCreated(); }
    ~CaptureBuilder()
    {
        if (graph) graph->Release();
        PlatformObjectDestroyed();
    }

    AGGREGATABLE_IUNKNOWN

    /* a graph once set stays, as Windows keeps it */
    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *g) override
    {
        if (!g) return E_POINTER;
        if (graph) return E_UNEXPECTED;
        graph = g;
        graph->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **out) override
    {
        if (!out) return E_POINTER;
        if ((*out = graph)) graph->AddRef();
        return graph ? S_OK : E_UNEXPECTED;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID *type, LPCOLESTR file, IBaseFilter **mux_out,
                                                IFileSinkFilter **sink_out) override;
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter,
                                            REFIID riid, void **out) override;
    HRESULT STDMETHODCALLTYPE RenderStream(const GUID *category, const GUID *type, IUnknown *source,
                                           IBaseFilter *intermediate, IBaseFilter *sink) override;
    HRESULT STDMETHODCALLTYPE ControlStream(const GUID *category, const GUID *type, IBaseFilter *filter,
                                            REFERENCE_TIME *start, REFERENCE_TIME *stop, WORD start_cookie,
                                            WORD stop_cookie) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR file, DWORDLONG size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR old_file, LPOLESTR new_file, int allow_escape,
                                              IAMCopyCaptureFileProgress *callback) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPin(IUnknown *source, PIN_DIRECTION dir, const GUID *category, const GUID *type,
                                      BOOL unconnected, int num, IPin **out) override;

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_ICaptureGraphBuilder2)) return Hand(static_cast<ICaptureGraphBuilder2 *>(this), out);
        return E_NOINTERFACE;
    }
    HRESULT NeedGraph()
    {
        if (graph) return S_OK;
        return CreateFilterGraph(IID_IGraphBuilder, (void **)&graph);
    }
    HRESULT EnsureInGraph(IBaseFilter *filter, const WCHAR *name);
    HRESULT PreviewPin(IPin *capture, IPin **preview);
    HRESULT TryPin(IPin *pin, const GUID *type, IBaseFilter *intermediate, IBaseFilter *sink);

    IGraphBuilder *graph;
};

HRESULT CaptureBuilder::EnsureInGraph(IBaseFilter *filter, const WCHAR *name)
{
    FILTER_INFO info;
    if (FAILED(filter->QueryFilterInfo(&info))) return E_FAIL;
    if (info.pGraph)
    {
        info.pGraph->Release();
        return S_OK;
    }
    return graph->AddFilter(filter, name);
}

HRESULT STDMETHODCALLTYPE CaptureBuilder::SetOutputFileName(const GUID *type, LPCOLESTR file, IBaseFilter **mux_out,
                                                            IFileSinkFilter **sink_out)
{
    GraphFilter *mux = NULL, *writer = NULL;
    HRESULT hr;

    if (!type || !file) return E_POINTER;
    if (mux_out) *mux_out = NULL;
    if (sink_out) *sink_out = NULL;
    if (!IsEqualGUID(*type, MEDIASUBTYPE_Avi)) return E_INVALIDARG;
    if (FAILED(hr = NeedGraph())) return hr;
    if (FAILED(hr = GraphFilter::Create(GF_AVIMUX, &mux))) return hr;
    if (FAILED(hr = GraphFilter::Create(GF_FILEWRITER, &writer)) || FAILED(hr = writer->SetFileName(file, NULL))
            || FAILED(hr = graph->AddFilter(mux, L"AVI Mux")))
        goto done;
    if (FAILED(hr = graph->AddFilter(writer, file)))
    {
        graph->RemoveFilter(mux);
        goto done;
    }
    if (FAILED(hr = graph->ConnectDirect(mux->Pin(0), writer->Pin(0), NULL)))
    {
        graph->RemoveFilter(writer);
        graph->RemoveFilter(mux);
        goto done;
    }
    if (mux_out)
    {
        *mux_out = mux;
        mux->AddRef();
    }
    if (sink_out)
    {
        *sink_out = static_cast<IFileSinkFilter2 *>(writer);
        writer->AddRef();
    }
    hr = S_OK;
done:
    if (writer) writer->Release();
    mux->Release();
    return hr;
}

/* The capture pin already feeds something: a tee goes in between, and its preview output is free. */
HRESULT CaptureBuilder::PreviewPin(IPin *capture, IPin **preview)
{
    IPin *peer;
    GraphFilter *tee, *owner;
    HRESULT hr;

    *preview = NULL;
    if (FAILED(capture->ConnectedTo(&peer))) return E_FAIL;
    if ((owner = graph_filter_of_pin(peer)) && owner->Type() == GF_TEE)
    {
        peer->Release();
        *preview = nth_pin(owner, PINDIR_OUTPUT, true, 0);
        owner->Release();
        return *preview ? S_OK : E_FAIL;
    }
    if (owner) owner->Release();
    if (FAILED(hr = GraphFilter::Create(GF_TEE, &tee)))
    {
        peer->Release();
        return hr;
    }
    if (SUCCEEDED(hr = graph->AddFilter(tee, L"Smart Tee")))
    {
        graph->Disconnect(peer);
        graph->Disconnect(capture);
        if (FAILED(hr = graph->ConnectDirect(capture, tee->Pin(0), NULL))
                || FAILED(hr = graph->ConnectDirect(tee->Pin(1), peer, NULL)))
        {
            graph->RemoveFilter(tee);
            graph->ConnectDirect(capture, peer, NULL);
        }
        else
        {
            *preview = tee->Pin(2);
            (*preview)->AddRef();
        }
    }
    tee->Release();
    peer->Release();
    return hr;
}

/* One stream through the intermediate into the sink (or its default renderer), all or nothing. */
HRESULT CaptureBuilder::TryPin(IPin *pin, const GUID *type, IBaseFilter *intermediate, IBaseFilter *sink)
{
    GUID major = pin_major(pin);
    IPin *in = NULL, *out = NULL, *target = NULL;
    GUID out_major;
    HRESULT hr = E_FAIL;

    if (type && !IsEqualGUID(*type, GUID_NULL) && !IsEqualGUID(major, GUID_NULL) && !IsEqualGUID(major, *type))
        return E_FAIL;
    if (intermediate)
    {
        if (!(in = free_input(intermediate, major))) return E_FAIL;
        if (!(out = nth_pin(intermediate, PINDIR_OUTPUT, true, 0)))
        {
            in->Release();
            return E_FAIL;
        }
        out_major = pin_major(out);
        if (IsEqualGUID(out_major, GUID_NULL)) out_major = major;
    }
    else
    {
        out = pin;
        out->AddRef();
        out_major = major;
    }
    if (sink && !(target = free_input(sink, out_major))) goto done;
    if (!sink && !IsEqualGUID(out_major, MEDIATYPE_Video) && !IsEqualGUID(out_major, MEDIATYPE_Audio)) goto done;

    if (in && FAILED(hr = graph->ConnectDirect(pin, in, NULL))) goto done;
    hr = target ? graph->ConnectDirect(out, target, NULL) : graph->Render(out);
    if (FAILED(hr) && in)
    {
        graph->Disconnect(pin);
        graph->Disconnect(in);
    }
done:
    if (in) in->Release();
    if (out) out->Release();
    if (target) target->Release();
    return hr;
}

/* the first free stream of the source that matches the type and that the intermediate takes */
HRESULT STDMETHODCALLTYPE CaptureBuilder::RenderStream(const GUID *category, const GUID *type, IUnknown *source,
                                                       IBaseFilter *intermediate, IBaseFilter *sink)
{
    IPin *pin = NULL;
    IBaseFilter *filter = NULL;
    HRESULT hr;

    if (!source) return E_POINTER;
    if (FAILED(hr = NeedGraph())) return hr;
    if (intermediate && FAILED(hr = EnsureInGraph(intermediate, NULL))) return hr;
    if (sink && FAILED(hr = EnsureInGraph(sink, NULL))) return hr;

    if (SUCCEEDED(source->QueryInterface(IID_IPin, (void **)&pin)))
    {
        PIN_DIRECTION d;
        if (FAILED(pin->QueryDirection(&d)) || d != PINDIR_OUTPUT)
        {
            pin->Release();
            return E_INVALIDARG;
        }
        hr = pin_connected(pin) ? VFW_E_ALREADY_CONNECTED : TryPin(pin, type, intermediate, sink);
        pin->Release();
        return hr;
    }
    if (FAILED(source->QueryInterface(IID_IBaseFilter, (void **)&filter))) return E_NOINTERFACE;
    if (FAILED(hr = EnsureInGraph(filter, NULL)))
    {
        filter->Release();
        return hr;
    }

    hr = E_FAIL;
    /* a camera's one pin serves capture and preview: the second use goes through a tee */
    if (category && is_capture_filter(filter)
            && (IsEqualGUID(*category, PIN_CATEGORY_PREVIEW) || IsEqualGUID(*category, PIN_CATEGORY_CAPTURE)))
    {
        IPin *capture = nth_pin(filter, PINDIR_OUTPUT, false, 0), *preview = NULL;
        if (capture)
        {
            if (!pin_connected(capture))
                hr = TryPin(capture, type, intermediate, sink);
            else if (SUCCEEDED(PreviewPin(capture, &preview)))
            {
                hr = TryPin(preview, type, intermediate, sink);
                preview->Release();
            }
            capture->Release();
        }
        filter->Release();
        return hr;
    }
    for (int i = 0; FAILED(hr); i++)
    {
        if (!(pin = nth_pin(filter, PINDIR_OUTPUT, true, i))) break;
        hr = TryPin(pin, type, intermediate, sink);
        pin->Release();
    }
    filter->Release();
    return hr;
}

static HRESULT query_pins(IBaseFilter *filter, REFIID riid, void **out)
{
    IEnumPins *pins;
    IPin *pin;
    HRESULT hr = E_NOINTERFACE;
    if (FAILED(filter->EnumPins(&pins))) return hr;
    while (FAILED(hr) && pins->Next(1, &pin, NULL) == S_OK)
    {
        hr = pin->QueryInterface(riid, out);
        pin->Release();
    }
    pins->Release();
    return hr;
}

/* Filters next to this one in a direction: their pins' peers' owners. */
static HRESULT search(IBaseFilter *filter, PIN_DIRECTION dir, REFIID riid, void **out, int depth)
{
    IEnumPins *pins;
    IPin *pin, *peer;
    HRESULT hr = E_NOINTERFACE;
    if (depth > 16 || FAILED(filter->EnumPins(&pins))) return hr;
    while (FAILED(hr) && pins->Next(1, &pin, NULL) == S_OK)
    {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir && SUCCEEDED(pin->ConnectedTo(&peer)))
        {
            PIN_INFO info;
            if (SUCCEEDED(hr = peer->QueryInterface(riid, out))) { }
            else if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter)
            {
                hr = info.pFilter->QueryInterface(riid, out);
                if (FAILED(hr)) hr = search(info.pFilter, dir, riid, out, depth + 1);
                info.pFilter->Release();
            }
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE CaptureBuilder::FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter,
                                                        REFIID riid, void **out)
{
    bool up = true, down = true;
    if (!filter || !out) return E_POINTER;
    *out = NULL;
    if (category && IsEqualGUID(*category, LOOK_DOWNSTREAM_ONLY)) up = false;
    if (category && IsEqualGUID(*category, LOOK_UPSTREAM_ONLY)) down = false;
    if (SUCCEEDED(filter->QueryInterface(riid, out))) return S_OK;
    if (SUCCEEDED(query_pins(filter, riid, out))) return S_OK;
    if (down && SUCCEEDED(search(filter, PINDIR_OUTPUT, riid, out, 0))) return S_OK;
    if (up && SUCCEEDED(search(filter, PINDIR_INPUT, riid, out, 0))) return S_OK;
    *out = NULL;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CaptureBuilder::FindPin(IUnknown *source, PIN_DIRECTION dir, const GUID *category,
                                                  const GUID *type, BOOL unconnected, int num, IPin **out)
{
    IBaseFilter *filter;
    IPin *pin;
    int seen = 0;

    if (!source || !out) return E_POINTER;
    *out = NULL;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, (void **)&pin)))
    {
        *out = pin;
        return S_OK;
    }
    if (FAILED(source->QueryInterface(IID_IBaseFilter, (void **)&filter))) return E_NOINTERFACE;
    for (int i = 0; (pin = nth_pin(filter, dir, unconnected != FALSE, i)); i++)
    {
        GUID major = pin_major(pin);
        if ((!type || IsEqualGUID(*type, GUID_NULL) || IsEqualGUID(major, *type)) && seen++ == num)
        {
            *out = pin;
            break;
        }
        pin->Release();
    }
    filter->Release();
    return *out ? S_OK : E_FAIL;
}

HRESULT CreateCaptureGraphBuilder(IUnknown *outer, REFIID riid, void **out)
{
    CaptureBuilder *b;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(b = new (std::nothrow) CaptureBuilder(outer))) return E_OUTOFMEMORY;
    return b->HandOut(riid, out);
}
