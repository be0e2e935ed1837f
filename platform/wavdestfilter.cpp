/*
 * WavDest: the filter between an audio stream and a File Writer that makes a RIFF WAVE file of it. It
 * stands for the "platformwavdest" element (IPlatformFilter::GetDescription) that the filter graph puts
 * into its pipeline; its pins keep the graph's connections and media types, the samples flow inside the
 * pipeline. Input: any audio; output: a byte stream (MEDIATYPE_Stream, MEDIASUBTYPE_WAVE).
 */
#include "objects.h"
#include "mediatypes.h"

#include <string.h>
#include <new>

HRESULT CreateWavDest(REFIID riid, void **out);

static const WCHAR wavdest_name[] = L"WavDest";
static const char wavdest_element[] = "platformwavdest";

class WavDestFilter;

/* ---- IPin: part of the filter object, counted with it ---- */

class WavDestPin final : public IPin
{
public:
    void Init(WavDestFilter *owner, PIN_DIRECTION dir, const WCHAR *pin_name, REFGUID major, REFGUID sub)
    {
        filter = owner;
        direction = dir;
        lstrcpynW(name, pin_name, ARRAYSIZE(name));
        memset(&preferred, 0, sizeof(preferred));
        preferred.majortype = major;
        preferred.subtype = sub;
        preferred.bFixedSizeSamples = TRUE;
        preferred.lSampleSize = 1;
        peer = NULL;
        memset(&mt, 0, sizeof(mt));
    }
    void Teardown()
    {
        if (peer) peer->Release();
        peer = NULL;
        FreeMediaType(&mt);
    }
    const WCHAR *Name() const { return name; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin))
        {
            *out = static_cast<IPin *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *out) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *dir) override
    {
        if (!dir) return E_POINTER;
        *dir = direction;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override
    {
        if (!id) return E_POINTER;
        size_t size = (lstrlenW(name) + 1) * sizeof(WCHAR);
        if (!(*id = (LPWSTR)CoTaskMemAlloc(size))) return E_OUTOFMEMORY;
        memcpy(*id, name, size);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override
    {
        if (!type) return E_POINTER;
        return Accepts(type) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override
    {
        return CreateMediaTypeEnum(&preferred, out);
    }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override { return E_NOTIMPL; }
    /* streaming calls reach input pins only */
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
    {
        return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED;
    }

private:
    /* input: audio of any encoding; output: only the WAVE byte stream */
    bool Accepts(const AM_MEDIA_TYPE *type) const
    {
        if (!IsEqualGUID(type->majortype, GUID_NULL) && !IsEqualGUID(type->majortype, preferred.majortype))
            return false;
        if (direction == PINDIR_OUTPUT && !IsEqualGUID(type->subtype, GUID_NULL)
                && !IsEqualGUID(type->subtype, preferred.subtype))
            return false;
        return true;
    }

    WavDestFilter *filter;
    PIN_DIRECTION direction;
    WCHAR name[MAX_PIN_NAME];
    AM_MEDIA_TYPE preferred;   /* no format block */
    IPin *peer;
    AM_MEDIA_TYPE mt;          /* of the connection */
};

/* ---- The filter ---- */

class WavDestFilter final : public IBaseFilter, public IPlatformFilter, public PinList
{
public:
    WavDestFilter() : ref(1), state(State_Stopped), clock(NULL), graph(NULL)
    {
        InitializeCriticalSection(&cs);
        filter_name[0] = 0;
        memset(&entry, 0, sizeof(entry));
        entry.clsid = CLSID_WavDest;
        lstrcpynW(entry.name, wavdest_name, ARRAYSIZE(entry.name));
        entry.kind = FILTER_WAVDEST;
        pins[0].Init(this, PINDIR_INPUT, L"In", MEDIATYPE_Audio, GUID_NULL);
        pins[1].Init(this, PINDIR_OUTPUT, L"Out", MEDIATYPE_Stream, MEDIASUBTYPE_WAVE);
        PlatformObjectCreated();
    }
    ~WavDestFilter()
    {
        pins[0].Teardown();
        pins[1].Teardown();
        if (clock) clock->Release();
        DeleteCriticalSection(&cs);
        PlatformObjectDestroyed();
    }

    CRITICAL_SECTION cs;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist)
                || IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IBaseFilter))
            *out = static_cast<IBaseFilter *>(this);
        else if (IsEqualIID(riid, IID_IPlatformFilter))
            *out = static_cast<IPlatformFilter *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    /* IPersist */
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_WavDest;
        return S_OK;
    }

    /* IMediaFilter: the state the graph set; the graph's pipeline does the running */
    HRESULT STDMETHODCALLTYPE Stop() override { return SetState(State_Stopped); }
    HRESULT STDMETHODCALLTYPE Pause() override { return SetState(State_Paused); }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override { return SetState(State_Running); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *out) override
    {
        if (!out) return E_POINTER;
        EnterCriticalSection(&cs);
        *out = state;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *new_clock) override
    {
        EnterCriticalSection(&cs);
        if (new_clock) new_clock->AddRef();
        if (clock) clock->Release();
        clock = new_clock;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **out) override
    {
        if (!out) return E_POINTER;
        EnterCriticalSection(&cs);
        if ((*out = clock)) clock->AddRef();
        LeaveCriticalSection(&cs);
        return S_OK;
    }

    /* IBaseFilter */
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **out) override
    {
        if (!id || !out) return E_POINTER;
        for (int i = 0; i < 2; i++)
            if (!lstrcmpW(id, pins[i].Name()))
            {
                *out = &pins[i];
                AddRef();
                return S_OK;
            }
        *out = NULL;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override
    {
        if (!info) return E_POINTER;
        EnterCriticalSection(&cs);
        lstrcpynW(info->achName, filter_name, ARRAYSIZE(info->achName));
        if ((info->pGraph = graph)) graph->AddRef();
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    /* the graph holds the filter, not the other way round: no reference on the graph */
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *new_graph, LPCWSTR name) override
    {
        EnterCriticalSection(&cs);
        graph = new_graph;
        if (name) lstrcpynW(filter_name, name, ARRAYSIZE(filter_name));
        else filter_name[0] = 0;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override
    {
        if (!info) return E_POINTER;
        *info = NULL;
        return E_NOTIMPL;
    }

    /* IPlatformFilter */
    const DeviceEntry *STDMETHODCALLTYPE GetEntry(void) override { return &entry; }
    HRESULT STDMETHODCALLTYPE GetDescription(char *buffer, int size) override
    {
        if (!buffer) return E_POINTER;
        if (size <= 0) return E_INVALIDARG;
        if (size < (int)sizeof(wavdest_element)) return E_OUTOFMEMORY;
        memcpy(buffer, wavdest_element, sizeof(wavdest_element));
        return S_OK;
    }

    ULONG PinListCount() override { return 2; }
    IPin *PinListItem(ULONG i) override { return &pins[i]; }
    bool Stopped()
    {
        EnterCriticalSection(&cs);
        bool s = state == State_Stopped;
        LeaveCriticalSection(&cs);
        return s;
    }

private:
    HRESULT SetState(FILTER_STATE s)
    {
        EnterCriticalSection(&cs);
        state = s;
        LeaveCriticalSection(&cs);
        return S_OK;
    }

    LONG ref;
    DeviceEntry entry;
    FILTER_STATE state;
    IReferenceClock *clock;
    IFilterGraph *graph;
    WCHAR filter_name[MAX_FILTER_NAME];
    WavDestPin pins[2];
};

ULONG STDMETHODCALLTYPE WavDestPin::AddRef() { return filter->AddRef(); }
ULONG STDMETHODCALLTYPE WavDestPin::Release() { return filter->Release(); }

HRESULT STDMETHODCALLTYPE WavDestPin::Connect(IPin *receiver, const AM_MEDIA_TYPE *type)
{
    AM_MEDIA_TYPE offer;
    PIN_DIRECTION peer_dir;
    HRESULT hr;

    if (!receiver) return E_POINTER;
    if (direction != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (!filter->Stopped()) return VFW_E_NOT_STOPPED;
    if (FAILED(receiver->QueryDirection(&peer_dir)) || peer_dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    EnterCriticalSection(&filter->cs);
    hr = peer ? VFW_E_ALREADY_CONNECTED : S_OK;
    LeaveCriticalSection(&filter->cs);
    if (FAILED(hr)) return hr;

    offer = preferred;
    if (type && !Accepts(type)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (FAILED(hr = receiver->ReceiveConnection(this, &offer)))
        return hr == E_FAIL ? VFW_E_NO_ACCEPTABLE_TYPES : hr;

    EnterCriticalSection(&filter->cs);
    if (FAILED(hr = CopyMediaType(&mt, &offer)))
    {
        LeaveCriticalSection(&filter->cs);
        receiver->Disconnect();
        return hr;
    }
    peer = receiver;
    peer->AddRef();
    LeaveCriticalSection(&filter->cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE WavDestPin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type)
{
    PIN_DIRECTION peer_dir;
    HRESULT hr;

    if (!connector || !type) return E_POINTER;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    if (!filter->Stopped()) return VFW_E_NOT_STOPPED;
    if (FAILED(connector->QueryDirection(&peer_dir)) || peer_dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (!Accepts(type)) return VFW_E_TYPE_NOT_ACCEPTED;

    EnterCriticalSection(&filter->cs);
    if (peer)
        hr = VFW_E_ALREADY_CONNECTED;
    else if (SUCCEEDED(hr = CopyMediaType(&mt, type)))
    {
        peer = connector;
        peer->AddRef();
    }
    LeaveCriticalSection(&filter->cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE WavDestPin::Disconnect()
{
    IPin *old;

    if (!filter->Stopped()) return VFW_E_NOT_STOPPED;
    EnterCriticalSection(&filter->cs);
    old = peer;
    peer = NULL;
    FreeMediaType(&mt);
    LeaveCriticalSection(&filter->cs);
    if (!old) return S_FALSE;
    old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE WavDestPin::ConnectedTo(IPin **out)
{
    if (!out) return E_POINTER;
    EnterCriticalSection(&filter->cs);
    if ((*out = peer)) peer->AddRef();
    LeaveCriticalSection(&filter->cs);
    return *out ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE WavDestPin::ConnectionMediaType(AM_MEDIA_TYPE *out)
{
    HRESULT hr;

    if (!out) return E_POINTER;
    EnterCriticalSection(&filter->cs);
    if (peer)
        hr = CopyMediaType(out, &mt);
    else
    {
        memset(out, 0, sizeof(*out));
        hr = VFW_E_NOT_CONNECTED;
    }
    LeaveCriticalSection(&filter->cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE WavDestPin::QueryPinInfo(PIN_INFO *info)
{
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter *>(filter);
    info->pFilter->AddRef();
    info->dir = direction;
    lstrcpynW(info->achName, name, ARRAYSIZE(info->achName));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE WavDestFilter::EnumPins(IEnumPins **out)
{
    return CreatePinEnum(static_cast<IBaseFilter *>(this), this, out);
}

HRESULT CreateWavDest(REFIID riid, void **out)
{
    WavDestFilter *filter;
    HRESULT hr;

    if (!out) return E_POINTER;
    *out = NULL;
    if (!(filter = new (std::nothrow) WavDestFilter())) return E_OUTOFMEMORY;
    hr = filter->QueryInterface(riid, out);
    filter->Release();
    return hr;
}
