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

/* The major type of a pin: of its connection, else of the first type it offers; GUID_NULL when it names
 * none. */
static GUID pin_major(IPin *pin)
{
    IEnumMediaTypes *types;
    AM_MEDIA_TYPE *mt, current;
    GUID major = GUID_NULL;
    if (SUCCEEDED(pin->ConnectionMediaType(&current)))
    {
        major = current.majortype;
        FreeMediaType(&current);
        return major;
    }
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

/* The pin's category (AMPROPSETID_Pin), GUID_NULL when it has none. */
static GUID pin_category(IPin *pin)
{
    IKsPropertySet *props;
    GUID category = GUID_NULL;
    DWORD size = 0;
    if (SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, (void **)&props)))
    {
        if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, NULL, 0, &category, sizeof(category), &size))
                || size != sizeof(category))
            category = GUID_NULL;
        props->Release();
    }
    return category;
}

static bool pin_connected(IPin *pin)
{
    IPin *peer;
    if (FAILED(pin->ConnectedTo(&peer))) return false;
    peer->Release();
    return true;
}

static PIN_DIRECTION pin_direction(IPin *pin)
{
    PIN_DIRECTION d = PINDIR_INPUT;
    pin->QueryDirection(&d);
    return d;
}

/* Whether a pin is of a category and a major type (NULL or GUID_NULL: any). */
static bool pin_matches(IPin *pin, const GUID *category, const GUID *type)
{
    GUID have;
    if (category && !IsEqualGUID(*category, GUID_NULL) && !IsEqualGUID(have = pin_category(pin), *category))
        return false;
    if (type && !IsEqualGUID(*type, GUID_NULL) && !IsEqualGUID(have = pin_major(pin), *type)) return false;
    return true;
}

/* The n-th pin of a direction that matches; unconnected only when asked. New reference or NULL. */
static IPin *find_pin(IBaseFilter *filter, PIN_DIRECTION dir, const GUID *category, const GUID *type,
                      bool unconnected, int n)
{
    IEnumPins *pins;
    IPin *pin, *found = NULL;
    if (!filter || n < 0 || FAILED(filter->EnumPins(&pins))) return NULL;
    while (!found && pins->Next(1, &pin, NULL) == S_OK)
    {
        if (pin_direction(pin) == dir && (!unconnected || !pin_connected(pin)) && pin_matches(pin, category, type)
                && n-- == 0)
            found = pin;
        else
            pin->Release();
    }
    pins->Release();
    return found;
}

static IPin *nth_pin(IBaseFilter *filter, PIN_DIRECTION dir, bool unconnected, int n)
{
    return find_pin(filter, dir, NULL, NULL, unconnected, n);
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

/* The filter a pin belongs to, with a reference, or NULL. */
static IBaseFilter *owner_of(IPin *pin)
{
    PIN_INFO info;
    if (FAILED(pin->QueryPinInfo(&info))) return NULL;
    return info.pFilter;
}

static GraphFilter *graph_filter_of_pin(IPin *pin)
{
    IBaseFilter *filter = owner_of(pin);
    GraphFilter *gf = NULL;
    if (filter)
    {
        if (FAILED(filter->QueryInterface(IID_IGraphFilter, (void **)&gf))) gf = NULL;
        filter->Release();
    }
    return gf;
}

static bool same_object(IUnknown *a, IUnknown *b)
{
    IUnknown *ua = NULL, *ub = NULL;
    bool same;
    if (!a || !b) return false;
    a->QueryInterface(IID_IUnknown, (void **)&ua);
    b->QueryInterface(IID_IUnknown, (void **)&ub);
    same = ua && ua == ub;
    if (ua) ua->Release();
    if (ub) ub->Release();
    return same;
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
                                            WORD stop_cookie) override;
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR file, DWORDLONG size) override;
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR old_file, LPOLESTR new_file, int allow_escape,
                                              IAMCopyCaptureFileProgress *callback) override;
    HRESULT STDMETHODCALLTYPE FindPin(IUnknown *source, PIN_DIRECTION dir, const GUID *category, const GUID *type,
                                      BOOL unconnected, int num, IPin **out) override;

private:
    HRESULT NonDelegatingQueryInterface(REFIID riid, void **out) override
    {
        if (IsEqualIID(riid, IID_ICaptureGraphBuilder2)) return Hand(static_cast<ICaptureGraphBuilder2 *>(this), out);
        return E_NOINTERFACE;
    }
    /* without SetFiltergraph the builder makes a graph of its own when it needs one */
    HRESULT NeedGraph()
    {
        if (graph) return S_OK;
        return CreateFilterGraph(IID_IGraphBuilder, (void **)&graph);
    }
    bool InGraph(IBaseFilter *filter);
    HRESULT MakeMux(const GUID *type, IBaseFilter **mux);
    HRESULT PreviewPin(IPin *capture, IPin **preview);
    HRESULT TryPin(IPin *pin, const GUID *type, IBaseFilter *intermediate, IBaseFilter *sink);
    HRESULT RenderCapturePin(IPin *capture, bool preview, const GUID *type, IBaseFilter *intermediate,
                             IBaseFilter *sink);

    IGraphBuilder *graph;
};

bool CaptureBuilder::InGraph(IBaseFilter *filter)
{
    FILTER_INFO info;
    bool in;
    if (FAILED(filter->QueryFilterInfo(&info))) return false;
    in = same_object(info.pGraph, graph);
    if (info.pGraph) info.pGraph->Release();
    return in;
}

/* The multiplexer for a media subtype or a class id, not yet in the graph. */
HRESULT CaptureBuilder::MakeMux(const GUID *type, IBaseFilter **mux)
{
    GraphFilter *avi;
    HRESULT hr;

    *mux = NULL;
    if (IsEqualGUID(*type, MEDIASUBTYPE_Avi) || IsEqualGUID(*type, CLSID_AviDest))
    {
        if (FAILED(hr = GraphFilter::Create(GF_AVIMUX, &avi))) return hr;
        *mux = avi;
        return S_OK;
    }
    /* any other class that is a filter; ASF needs the Windows Media writer, which is not here */
    if (FAILED(CoCreateInstance(*type, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)mux)))
    {
        *mux = NULL;
        return E_FAIL;
    }
    return S_OK;
}

/* The multiplexer, and a File Writer behind it unless the multiplexer writes the file itself. */
HRESULT STDMETHODCALLTYPE CaptureBuilder::SetOutputFileName(const GUID *type, LPCOLESTR file, IBaseFilter **mux_out,
                                                            IFileSinkFilter **sink_out)
{
    IBaseFilter *mux = NULL;
    IFileSinkFilter *sink = NULL;
    GraphFilter *writer = NULL;
    IPin *out = NULL;
    HRESULT hr;

    if (!type || !file || !mux_out) return E_POINTER;
    *mux_out = NULL;
    if (sink_out) *sink_out = NULL;
    if (!*file) return E_INVALIDARG;
    if (FAILED(hr = NeedGraph())) return hr;
    if (FAILED(hr = MakeMux(type, &mux))) return hr;

    if (SUCCEEDED(mux->QueryInterface(IID_IFileSinkFilter, (void **)&sink)))
    {
        /* a file writer, or a multiplexer that writes its own file */
        if (FAILED(hr = sink->SetFileName(file, NULL)) || FAILED(hr = graph->AddFilter(mux, file)))
            goto done;
    }
    else
    {
        if (FAILED(hr = GraphFilter::Create(GF_FILEWRITER, &writer)) || FAILED(hr = writer->SetFileName(file, NULL))
                || FAILED(hr = graph->AddFilter(mux, IsEqualGUID(*type, MEDIASUBTYPE_Avi) ? L"AVI Mux" : L"Mux")))
            goto done;
        if (FAILED(hr = graph->AddFilter(writer, file)))
        {
            graph->RemoveFilter(mux);
            goto done;
        }
        if (!(out = nth_pin(mux, PINDIR_OUTPUT, true, 0)))
            hr = E_FAIL;
        else
            hr = graph->ConnectDirect(out, writer->Pin(0), NULL);
        if (FAILED(hr))
        {
            graph->RemoveFilter(writer);
            graph->RemoveFilter(mux);
            goto done;
        }
        sink = static_cast<IFileSinkFilter2 *>(writer);
        sink->AddRef();
    }
    *mux_out = mux;
    mux->AddRef();
    if (sink_out)
    {
        *sink_out = sink;
        sink->AddRef();
    }
    hr = S_OK;
done:
    if (out) out->Release();
    if (sink) sink->Release();
    if (writer) writer->Release();
    mux->Release();
    return hr;
}

/* The capture pin already feeds something: a tee goes in between, and its free output is returned. */
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

/* A capture pin serves capture and preview: its second use goes through a tee. Preview from a filter that
 * has no preview pin of its own reports VFW_S_NOPREVIEWPIN. */
HRESULT CaptureBuilder::RenderCapturePin(IPin *capture, bool preview, const GUID *type, IBaseFilter *intermediate,
                                         IBaseFilter *sink)
{
    IPin *free_out = NULL;
    HRESULT hr;

    if (!pin_connected(capture))
        hr = TryPin(capture, type, intermediate, sink);
    else if (SUCCEEDED(hr = PreviewPin(capture, &free_out)))
    {
        hr = TryPin(free_out, type, intermediate, sink);
        free_out->Release();
    }
    if (SUCCEEDED(hr) && preview) hr = VFW_S_NOPREVIEWPIN;
    return hr;
}

/* The first free stream of the source of the category and type that the intermediate takes. The filters
 * must be in the builder's graph already. */
HRESULT STDMETHODCALLTYPE CaptureBuilder::RenderStream(const GUID *category, const GUID *type, IUnknown *source,
                                                       IBaseFilter *intermediate, IBaseFilter *sink)
{
    IPin *pin = NULL;
    IBaseFilter *filter = NULL;
    HRESULT hr;

    if (!source) return E_POINTER;
    if (FAILED(hr = NeedGraph())) return hr;
    if ((intermediate && !InGraph(intermediate)) || (sink && !InGraph(sink))) return VFW_E_NOT_IN_GRAPH;
    if (intermediate && sink && same_object(intermediate, sink)) return E_INVALIDARG;

    if (SUCCEEDED(source->QueryInterface(IID_IPin, (void **)&pin)))
    {
        IBaseFilter *owner = owner_of(pin);
        bool in_graph = owner && InGraph(owner);
        if (owner) owner->Release();
        if (pin_direction(pin) != PINDIR_OUTPUT) hr = E_INVALIDARG;
        else if (!in_graph) hr = VFW_E_NOT_IN_GRAPH;
        else if (!pin_matches(pin, category, NULL)) hr = E_FAIL;   /* the type TryPin checks, where it is known */
        else if (pin_connected(pin)) hr = VFW_E_ALREADY_CONNECTED;
        else hr = TryPin(pin, type, intermediate, sink);
        pin->Release();
        return hr;
    }
    if (FAILED(source->QueryInterface(IID_IBaseFilter, (void **)&filter))) return E_NOINTERFACE;
    if (!InGraph(filter))
    {
        filter->Release();
        return VFW_E_NOT_IN_GRAPH;
    }

    hr = E_FAIL;
    if (category && IsEqualGUID(*category, PIN_CATEGORY_PREVIEW)
            && !(pin = find_pin(filter, PINDIR_OUTPUT, category, type, false, 0)))
    {
        /* no preview pin: the capture pin, through a tee once it is in use */
        if ((pin = find_pin(filter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type, false, 0)))
        {
            hr = RenderCapturePin(pin, true, type, intermediate, sink);
            pin->Release();
        }
    }
    else if (category && IsEqualGUID(*category, PIN_CATEGORY_CAPTURE))
    {
        if ((pin = find_pin(filter, PINDIR_OUTPUT, category, type, false, 0)))
        {
            hr = RenderCapturePin(pin, false, type, intermediate, sink);
            pin->Release();
        }
    }
    else
    {
        if (pin) pin->Release();
        for (int i = 0; FAILED(hr); i++)
        {
            if (!(pin = find_pin(filter, PINDIR_OUTPUT, category, type, true, i))) break;
            hr = TryPin(pin, type, intermediate, sink);
            pin->Release();
        }
    }
    filter->Release();
    return hr;
}

/* ---- FindInterface ---- */

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

static HRESULT search_filter(IBaseFilter *filter, PIN_DIRECTION dir, const GUID *type, REFIID riid, void **out,
                             int depth);

/* From one pin of a filter on: the pin, the pin it is connected to, that pin's filter and its pins, and on
 * in the same direction. */
static HRESULT search_from_pin(IPin *pin, PIN_DIRECTION dir, REFIID riid, void **out, int depth)
{
    IPin *peer;
    IBaseFilter *next;
    HRESULT hr;

    if (SUCCEEDED(hr = pin->QueryInterface(riid, out))) return hr;
    if (FAILED(pin->ConnectedTo(&peer))) return E_NOINTERFACE;
    if (FAILED(hr = peer->QueryInterface(riid, out)) && (next = owner_of(peer)))
    {
        if (FAILED(hr = next->QueryInterface(riid, out)) && FAILED(hr = query_pins(next, riid, out)))
            hr = search_filter(next, dir, NULL, riid, out, depth + 1);
        next->Release();
    }
    peer->Release();
    return hr;
}

/* The filters next to this one in a direction, through its pins of that direction (of a type, when given). */
static HRESULT search_filter(IBaseFilter *filter, PIN_DIRECTION dir, const GUID *type, REFIID riid, void **out,
                             int depth)
{
    IEnumPins *pins;
    IPin *pin;
    HRESULT hr = E_NOINTERFACE;
    if (depth > 16 || FAILED(filter->EnumPins(&pins))) return hr;
    while (FAILED(hr) && pins->Next(1, &pin, NULL) == S_OK)
    {
        if (pin_direction(pin) == dir && pin_matches(pin, NULL, type))
            hr = search_from_pin(pin, dir, riid, out, depth);
        pin->Release();
    }
    pins->Release();
    return hr;
}

/* LOOK_UPSTREAM_ONLY and LOOK_DOWNSTREAM_ONLY leave the filter itself out; a pin category searches the
 * filter, then its output pin of that category and type and what lies downstream of it; no category searches
 * the filter, its pins, downstream and upstream. */
HRESULT STDMETHODCALLTYPE CaptureBuilder::FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter,
                                                        REFIID riid, void **out)
{
    HRESULT hr;

    if (!filter || !out) return E_POINTER;
    *out = NULL;
    if (category && IsEqualGUID(*category, LOOK_UPSTREAM_ONLY))
        hr = search_filter(filter, PINDIR_INPUT, NULL, riid, out, 0);
    else if (category && IsEqualGUID(*category, LOOK_DOWNSTREAM_ONLY))
        hr = search_filter(filter, PINDIR_OUTPUT, type, riid, out, 0);
    else if (category && !IsEqualGUID(*category, GUID_NULL))
    {
        IPin *pin;
        if (SUCCEEDED(hr = filter->QueryInterface(riid, out))) return hr;
        if (!(pin = find_pin(filter, PINDIR_OUTPUT, category, type, false, 0))) return E_FAIL;
        hr = search_from_pin(pin, PINDIR_OUTPUT, riid, out, 0);
        pin->Release();
    }
    else if (FAILED(hr = filter->QueryInterface(riid, out)) && FAILED(hr = query_pins(filter, riid, out))
             && FAILED(hr = search_filter(filter, PINDIR_OUTPUT, type, riid, out, 0)))
        hr = search_filter(filter, PINDIR_INPUT, NULL, riid, out, 0);
    if (FAILED(hr))
    {
        *out = NULL;
        return E_NOINTERFACE;
    }
    return S_OK;
}

/* ---- ControlStream ---- */

/* Start and stop times go to the pins of the category through IAMStreamControl: of one filter, or of every
 * filter in the graph that has such a pin. */
HRESULT STDMETHODCALLTYPE CaptureBuilder::ControlStream(const GUID *category, const GUID *type, IBaseFilter *filter,
                                                        REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                                        WORD start_cookie, WORD stop_cookie)
{
    IEnumFilters *filters = NULL;
    IBaseFilter *f;
    HRESULT hr = E_FAIL, r;
    bool found = false;

    if (!category) return E_POINTER;
    if (!filter && !graph) return E_UNEXPECTED;
    if (!filter && FAILED(hr = graph->EnumFilters(&filters))) return hr;
    for (;;)
    {
        if (filter) f = filter, f->AddRef();
        else if (filters->Next(1, &f, NULL) != S_OK) break;
        for (int i = 0;; i++)
        {
            IPin *pin = find_pin(f, PINDIR_OUTPUT, category, type, false, i);
            IAMStreamControl *control;
            if (!pin) break;
            found = true;
            if (SUCCEEDED(r = pin->QueryInterface(IID_IAMStreamControl, (void **)&control)))
            {
                if (SUCCEEDED(r = control->StartAt(start, start_cookie))) r = control->StopAt(stop, FALSE, stop_cookie);
                control->Release();
            }
            if (FAILED(hr) || FAILED(r)) hr = r;
            pin->Release();
        }
        f->Release();
        if (filter) break;
    }
    if (filters) filters->Release();
    return found ? hr : E_FAIL;
}

/* ---- Capture files ---- */

HRESULT STDMETHODCALLTYPE CaptureBuilder::AllocCapFile(LPCOLESTR file, DWORDLONG size)
{
    LARGE_INTEGER end;
    HANDLE h;
    HRESULT hr = S_OK;

    if (!file) return E_POINTER;
    if (!*file) return E_INVALIDARG;
    h = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    end.QuadPart = (LONGLONG)size;
    if (!SetFilePointerEx(h, end, NULL, FILE_BEGIN) || !SetEndOfFile(h)) hr = HRESULT_FROM_WIN32(GetLastError());
    CloseHandle(h);
    return hr;
}

static bool read_exact(HANDLE h, void *buffer, DWORD size)
{
    DWORD got;
    return ReadFile(h, buffer, size, &got, NULL) && got == size;
}

/* The RIFF parts of an AVI (the first 'AVI ', then any 'AVIX'), without what follows them in a file that
 * was allocated larger. */
HRESULT STDMETHODCALLTYPE CaptureBuilder::CopyCaptureFile(LPOLESTR old_file, LPOLESTR new_file, int allow_escape,
                                                          IAMCopyCaptureFileProgress *callback)
{
    static const DWORD BLOCK = 1 << 16;
    LARGE_INTEGER size, pos;
    ULONGLONG valid = 0, done = 0;
    DWORD header[3];
    HANDLE from, to;
    BYTE *buffer;
    HRESULT hr = S_OK;
    int last_percent = -1;

    if (!old_file || !new_file) return E_POINTER;
    from = CreateFileW(old_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (from == INVALID_HANDLE_VALUE) return E_INVALIDARG;
    if (!GetFileSizeEx(from, &size))
    {
        CloseHandle(from);
        return E_FAIL;
    }
    /* measure the RIFF parts */
    for (;;)
    {
        pos.QuadPart = (LONGLONG)valid;
        if (valid + 12 > (ULONGLONG)size.QuadPart || !SetFilePointerEx(from, pos, NULL, FILE_BEGIN)
                || !read_exact(from, header, sizeof(header)) || header[0] != mmioFOURCC('R', 'I', 'F', 'F'))
            break;
        if (header[2] != (valid ? mmioFOURCC('A', 'V', 'I', 'X') : mmioFOURCC('A', 'V', 'I', ' '))) break;
        ULONGLONG part = 8 + (ULONGLONG)header[1] + (header[1] & 1);
        if (valid + part > (ULONGLONG)size.QuadPart) part = size.QuadPart - valid;   /* cut short: what is there */
        valid += part;
    }
    if (!valid)
    {
        CloseHandle(from);
        return E_FAIL;   /* not an AVI file */
    }
    to = CreateFileW(new_file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (to == INVALID_HANDLE_VALUE)
    {
        CloseHandle(from);
        return E_INVALIDARG;
    }
    if (!(buffer = (BYTE *)HeapAlloc(GetProcessHeap(), 0, BLOCK))) hr = E_OUTOFMEMORY;
    pos.QuadPart = 0;
    if (SUCCEEDED(hr) && !SetFilePointerEx(from, pos, NULL, FILE_BEGIN)) hr = E_FAIL;
    while (SUCCEEDED(hr) && hr != S_FALSE && done < valid)
    {
        DWORD n = (DWORD)(valid - done < BLOCK ? valid - done : BLOCK), wrote;
        int percent;
        if (!read_exact(from, buffer, n) || !WriteFile(to, buffer, n, &wrote, NULL) || wrote != n)
        {
            hr = E_FAIL;
            break;
        }
        done += n;
        percent = (int)(done * 100 / valid);
        if (callback && percent != last_percent) callback->Progress(percent);
        last_percent = percent;
        if (allow_escape && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) && done < valid) hr = S_FALSE;
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(to);
    CloseHandle(from);
    if (hr != S_OK) DeleteFileW(new_file);   /* stopped or failed: no half copy */
    return hr;
}

/* ---- FindPin ---- */

HRESULT STDMETHODCALLTYPE CaptureBuilder::FindPin(IUnknown *source, PIN_DIRECTION dir, const GUID *category,
                                                  const GUID *type, BOOL unconnected, int num, IPin **out)
{
    IBaseFilter *filter;
    IPin *pin;

    if (!source || !out) return E_POINTER;
    *out = NULL;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, (void **)&pin)))
    {
        /* a pin is its own answer when it fits */
        if (num == 0 && pin_direction(pin) == dir && (!unconnected || !pin_connected(pin))
                && pin_matches(pin, category, type))
        {
            *out = pin;
            return S_OK;
        }
        pin->Release();
        return E_FAIL;
    }
    if (FAILED(source->QueryInterface(IID_IBaseFilter, (void **)&filter))) return E_NOINTERFACE;
    *out = find_pin(filter, dir, category, type, unconnected != FALSE, num);
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
