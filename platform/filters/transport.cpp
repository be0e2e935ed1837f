/* Samples between the platform's pins and foreign ones: allocator, samples, IMemInputPin (transport.h). */
#include "server/lifetime.h"
#include "filters/transport.h"

#include <mmreg.h>
#include <string.h>
#include <new>

static const GUID *const uncompressed_video[] =
{
    &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555,
    &MEDIASUBTYPE_RGB8, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_YV12,
    &SUBTYPE_I420, &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_NV12, &MEDIASUBTYPE_Y41P,
};

bool IsUncompressedType(const AM_MEDIA_TYPE *type)
{
    if (!type || IsEqualGUID(type->subtype, GUID_NULL)) return true;
    if (IsEqualGUID(type->majortype, MEDIATYPE_Video))
    {
        for (size_t i = 0; i < ARRAYSIZE(uncompressed_video); i++)
            if (IsEqualGUID(type->subtype, *uncompressed_video[i])) return true;
        return false;
    }
    if (IsEqualGUID(type->majortype, MEDIATYPE_Audio))
    {
        if (IsEqualGUID(type->subtype, MEDIASUBTYPE_PCM) || IsEqualGUID(type->subtype, MEDIASUBTYPE_IEEE_FLOAT))
            return true;
        return false;
    }
    return true;   /* streams, text ...: nothing to decode */
}

/* ---- Samples and the allocator ---- */

namespace {

class MemAllocator;

class MemSample final : public IMediaSample
{
public:
    MemSample(MemAllocator *a, BYTE *memory, LONG bytes) : ref(0), owner(a), data(memory), size(bytes) { Reset(); }
    ~MemSample() { ClearType(); }

    void Reset()
    {
        length = size;
        has_start = has_stop = has_media = false;
        start = stop = media_start = media_stop = 0;
        sync = preroll = discontinuity = false;
        type = NULL;
    }
    void ClearType()
    {
        if (type)
        {
            FreeMediaType(type);
            CoTaskMemFree(type);
            type = NULL;
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMediaSample))
        {
            *out = static_cast<IMediaSample *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE **out) override
    {
        if (!out) return E_POINTER;
        *out = data;
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetSize() override { return size; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *s, REFERENCE_TIME *e) override
    {
        if (!s || !e) return E_POINTER;
        if (!has_start) return VFW_E_SAMPLE_TIME_NOT_SET;
        *s = start;
        if (!has_stop)
        {
            *e = start + 1;
            return VFW_S_NO_STOP_TIME;
        }
        *e = stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *s, REFERENCE_TIME *e) override
    {
        has_start = s != NULL;
        has_stop = s && e;
        if (s) start = *s;
        if (s && e) stop = *e;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return sync ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL b) override { sync = b != FALSE; return S_OK; }
    HRESULT STDMETHODCALLTYPE IsPreroll() override { return preroll ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL b) override { preroll = b != FALSE; return S_OK; }
    LONG STDMETHODCALLTYPE GetActualDataLength() override { return length; }
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG n) override
    {
        if (n < 0 || n > size) return VFW_E_BUFFER_OVERFLOW;
        length = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **out) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        if (!type) return S_FALSE;
        if (!(*out = (AM_MEDIA_TYPE *)CoTaskMemAlloc(sizeof(**out)))) return E_OUTOFMEMORY;
        if (FAILED(CopyMediaType(*out, type)))
        {
            CoTaskMemFree(*out);
            *out = NULL;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *mt) override
    {
        ClearType();
        if (!mt) return S_OK;
        if (!(type = (AM_MEDIA_TYPE *)CoTaskMemAlloc(sizeof(*type)))) return E_OUTOFMEMORY;
        if (FAILED(CopyMediaType(type, mt)))
        {
            CoTaskMemFree(type);
            type = NULL;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return discontinuity ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL b) override { discontinuity = b != FALSE; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *s, LONGLONG *e) override
    {
        if (!s || !e) return E_POINTER;
        if (!has_media) return VFW_E_MEDIA_TIME_NOT_SET;
        *s = media_start;
        *e = media_stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *s, LONGLONG *e) override
    {
        has_media = s && e;
        if (has_media)
        {
            media_start = *s;
            media_stop = *e;
        }
        return S_OK;
    }

    LONG ref;
    MemAllocator *owner;
    BYTE *data;
    LONG size, length;
    bool has_start, has_stop, has_media, sync, preroll, discontinuity;
    REFERENCE_TIME start, stop;
    LONGLONG media_start, media_stop;
    AM_MEDIA_TYPE *type;
    MemSample *next_free;
};

class MemAllocator final : public IMemAllocator
{
public:
    MemAllocator() : ref(1), committed(false), decommitting(false), outstanding(0), samples(NULL), count(0),
                     free_list(NULL), memory(NULL)
    {
        memset(&props, 0, sizeof(props));
        InitializeCriticalSection(&cs);
        returned = CreateEventW(NULL, FALSE, FALSE, NULL);
        PlatformObjectCreated();
    }
    ~MemAllocator()
    {
        FreeBuffers();
        CloseHandle(returned);
        DeleteCriticalSection(&cs);
        PlatformObjectDestroyed();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMemAllocator))
        {
            *out = static_cast<IMemAllocator *>(this);
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&ref); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG r = InterlockedDecrement(&ref);
        if (!r) delete this;
        return r;
    }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override
    {
        HRESULT hr = S_OK;
        if (!request || !actual) return E_POINTER;
        EnterCriticalSection(&cs);
        if (committed) hr = VFW_E_ALREADY_COMMITTED;
        else if (outstanding) hr = VFW_E_BUFFERS_OUTSTANDING;
        else if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1))) hr = VFW_E_BADALIGN;
        else if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) hr = E_INVALIDARG;
        else
        {
            props = *request;
            /* the buffer with its prefix is a whole number of alignment units */
            LONG unit = props.cbAlign;
            props.cbBuffer = (props.cbBuffer + props.cbPrefix + unit - 1) / unit * unit - props.cbPrefix;
            *actual = props;
        }
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *out) override
    {
        if (!out) return E_POINTER;
        EnterCriticalSection(&cs);
        *out = props;
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override
    {
        HRESULT hr = S_OK;
        EnterCriticalSection(&cs);
        if (committed) hr = S_OK;
        else if (props.cBuffers <= 0 || props.cbBuffer <= 0) hr = VFW_E_SIZENOTSET;
        else if (!samples && FAILED(hr = MakeBuffers())) {}
        else
        {
            committed = true;
            decommitting = false;
        }
        LeaveCriticalSection(&cs);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Decommit() override
    {
        EnterCriticalSection(&cs);
        committed = false;
        /* buffers go when the last one is back */
        if (!outstanding) FreeBuffers();
        else decommitting = true;
        SetEvent(returned);   /* waiters see the decommit */
        LeaveCriticalSection(&cs);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags) override
    {
        if (!out) return E_POINTER;
        *out = NULL;
        for (;;)
        {
            EnterCriticalSection(&cs);
            if (!committed)
            {
                LeaveCriticalSection(&cs);
                return VFW_E_NOT_COMMITTED;
            }
            if (free_list)
            {
                MemSample *s = free_list;
                free_list = s->next_free;
                s->Reset();
                s->ref = 1;
                outstanding++;
                LeaveCriticalSection(&cs);
                AddRef();   /* released with the sample */
                *out = s;
                return S_OK;
            }
            LeaveCriticalSection(&cs);
            if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            WaitForSingleObject(returned, 100);
        }
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *sample) override
    {
        MemSample *s = static_cast<MemSample *>(sample);
        if (!sample) return E_POINTER;
        EnterCriticalSection(&cs);
        s->ClearType();
        s->next_free = free_list;
        free_list = s;
        outstanding--;
        if (!outstanding && decommitting)
        {
            FreeBuffers();
            decommitting = false;
        }
        SetEvent(returned);
        LeaveCriticalSection(&cs);
        Release();   /* the sample's hold on its allocator */
        return S_OK;
    }

private:
    HRESULT MakeBuffers()
    {
        LONG each = props.cbPrefix + props.cbBuffer;
        if (!(memory = (BYTE *)VirtualAlloc(NULL, (SIZE_T)each * props.cBuffers + props.cbAlign,
                                            MEM_COMMIT, PAGE_READWRITE)))
            return E_OUTOFMEMORY;
        if (!(samples = (MemSample *)HeapAlloc(GetProcessHeap(), 0, sizeof(MemSample) * props.cBuffers)))
        {
            VirtualFree(memory, 0, MEM_RELEASE);
            memory = NULL;
            return E_OUTOFMEMORY;
        }
        count = props.cBuffers;
        free_list = NULL;
        for (LONG i = count - 1; i >= 0; i--)
        {
            new (&samples[i]) MemSample(this, memory + (SIZE_T)each * i + props.cbPrefix, props.cbBuffer);
            samples[i].next_free = free_list;
            free_list = &samples[i];
        }
        return S_OK;
    }
    void FreeBuffers()
    {
        for (LONG i = 0; i < count; i++) samples[i].~MemSample();
        if (samples) HeapFree(GetProcessHeap(), 0, samples);
        if (memory) VirtualFree(memory, 0, MEM_RELEASE);
        samples = NULL;
        memory = NULL;
        free_list = NULL;
        count = 0;
    }

    LONG ref;
    CRITICAL_SECTION cs;
    ALLOCATOR_PROPERTIES props;
    bool committed, decommitting;
    LONG outstanding;
    MemSample *samples;
    LONG count;
    MemSample *free_list;
    BYTE *memory;
    HANDLE returned;
};

ULONG STDMETHODCALLTYPE MemSample::Release()
{
    ULONG r = InterlockedDecrement(&ref);
    if (!r) owner->ReleaseBuffer(this);
    return r;
}

}  // namespace

HRESULT CreateMemAllocator(IMemAllocator **out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MemAllocator();
    return *out ? S_OK : E_OUTOFMEMORY;
}

/* ---- The pin's transport ---- */

void PinTransport::Init(IPin *p, PIN_DIRECTION dir)
{
    pin = p;
    direction = dir;
    allocator = NULL;
    downstream = NULL;
    receiver = NULL;
    busy = 0;
    InitializeCriticalSection(&cs);
}

void PinTransport::Teardown()
{
    Disconnected();
    DeleteCriticalSection(&cs);
}

/* the bytes one sample of a type needs */
static LONG sample_bytes(const AM_MEDIA_TYPE *type)
{
    if (type->lSampleSize > 0) return type->lSampleSize;
    if ((IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->cbFormat >= sizeof(VIDEOINFOHEADER))
            || (IsEqualGUID(type->formattype, FORMAT_VideoInfo2) && type->cbFormat >= sizeof(VIDEOINFOHEADER2)))
    {
        const BITMAPINFOHEADER *bih = IsEqualGUID(type->formattype, FORMAT_VideoInfo)
            ? &((const VIDEOINFOHEADER *)type->pbFormat)->bmiHeader
            : &((const VIDEOINFOHEADER2 *)type->pbFormat)->bmiHeader;
        if (bih->biSizeImage > 0) return bih->biSizeImage;
        LONG bits = bih->biBitCount ? bih->biBitCount : 32;
        return ((bih->biWidth * bits + 31) / 32) * 4 * (bih->biHeight < 0 ? -bih->biHeight : bih->biHeight);
    }
    if (IsEqualGUID(type->formattype, FORMAT_WaveFormatEx) && type->cbFormat >= sizeof(WAVEFORMATEX))
    {
        const WAVEFORMATEX *wfx = (const WAVEFORMATEX *)type->pbFormat;
        /* a tenth of a second */
        LONG b = (LONG)(wfx->nAvgBytesPerSec / 10);
        if (wfx->nBlockAlign) b = (b + wfx->nBlockAlign - 1) / wfx->nBlockAlign * wfx->nBlockAlign;
        return b > 0 ? b : 4096;
    }
    return 1 << 20;
}

HRESULT PinTransport::Negotiate(IPin *receiver_pin, const AM_MEDIA_TYPE *type)
{
    IPinTransport *ours;
    IMemInputPin *input;
    IMemAllocator *a = NULL;
    ALLOCATOR_PROPERTIES want, got;
    HRESULT hr;

    if (direction != PINDIR_OUTPUT) return S_OK;
    /* between the platform's own pins the pipeline carries the media */
    if (SUCCEEDED(receiver_pin->QueryInterface(IID_IPinTransport, (void **)&ours)))
    {
        ours->Release();
        return S_OK;
    }
    if (FAILED(receiver_pin->QueryInterface(IID_IMemInputPin, (void **)&input))) return VFW_E_NO_TRANSPORT;
    memset(&want, 0, sizeof(want));
    if (FAILED(input->GetAllocatorRequirements(&want))) memset(&want, 0, sizeof(want));
    if (want.cBuffers < 2) want.cBuffers = 2;
    if (want.cbAlign <= 0) want.cbAlign = 1;
    if (want.cbBuffer < sample_bytes(type)) want.cbBuffer = sample_bytes(type);

    /* the input's allocator first, then ours */
    hr = input->GetAllocator(&a);
    if (SUCCEEDED(hr) && a)
    {
        if (FAILED(hr = a->SetProperties(&want, &got)) || FAILED(hr = input->NotifyAllocator(a, FALSE)))
        {
            a->Release();
            a = NULL;
        }
    }
    if (!a)
    {
        if (FAILED(hr = CreateMemAllocator(&a)))
        {
            input->Release();
            return hr;
        }
        if (FAILED(hr = a->SetProperties(&want, &got)) || FAILED(hr = input->NotifyAllocator(a, FALSE)))
        {
            a->Release();
            input->Release();
            return hr;
        }
    }
    EnterCriticalSection(&cs);
    if (allocator) allocator->Release();
    if (downstream) downstream->Release();
    allocator = a;
    downstream = input;
    LeaveCriticalSection(&cs);
    return S_OK;
}

void PinTransport::Disconnected()
{
    EnterCriticalSection(&cs);
    IMemAllocator *a = allocator;
    IMemInputPin *d = downstream;
    allocator = NULL;
    downstream = NULL;
    LeaveCriticalSection(&cs);
    if (a)
    {
        if (direction == PINDIR_OUTPUT) a->Decommit();
        a->Release();
    }
    if (d) d->Release();
}

HRESULT STDMETHODCALLTYPE PinTransport::GetAllocator(IMemAllocator **out)
{
    HRESULT hr = S_OK;
    if (!out) return E_POINTER;
    *out = NULL;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    EnterCriticalSection(&cs);
    if (!allocator) hr = CreateMemAllocator(&allocator);
    if (SUCCEEDED(hr))
    {
        *out = allocator;
        allocator->AddRef();
    }
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE PinTransport::NotifyAllocator(IMemAllocator *a, BOOL read_only)
{
    if (!a) return E_POINTER;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    EnterCriticalSection(&cs);
    a->AddRef();
    if (allocator) allocator->Release();
    allocator = a;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinTransport::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props)
{
    AM_MEDIA_TYPE mt;
    if (!props) return E_POINTER;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    memset(props, 0, sizeof(*props));
    /* samples are copied into the pipeline as they come: a few buffers do */
    props->cBuffers = 4;
    props->cbAlign = 1;
    if (SUCCEEDED(pin->ConnectionMediaType(&mt)))
    {
        props->cbBuffer = sample_bytes(&mt);
        FreeMediaType(&mt);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinTransport::Receive(IMediaSample *sample)
{
    PIN_INFO info;
    FILTER_STATE state = State_Stopped;
    SampleReceiver *r;
    IPin *peer;
    HRESULT hr;

    if (!sample) return E_POINTER;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    if (FAILED(pin->ConnectedTo(&peer))) return VFW_E_NOT_CONNECTED;
    peer->Release();
    if (SUCCEEDED(pin->QueryPinInfo(&info)) && info.pFilter)
    {
        info.pFilter->GetState(0, &state);
        info.pFilter->Release();
    }
    if (state == State_Stopped) return VFW_E_WRONG_STATE;
    EnterCriticalSection(&cs);
    if ((r = receiver)) busy++;
    LeaveCriticalSection(&cs);
    if (!r) return VFW_E_WRONG_STATE;
    hr = r->Receive(sample);
    EnterCriticalSection(&cs);
    busy--;
    LeaveCriticalSection(&cs);
    return hr;
}

HRESULT STDMETHODCALLTYPE PinTransport::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed)
{
    HRESULT hr = S_OK;
    LONG done = 0;
    if (!samples || !processed) return E_POINTER;
    while (done < count && (hr = Receive(samples[done])) == S_OK) done++;
    *processed = done;
    return hr;
}

HRESULT PinTransport::EndOfStreamReached()
{
    SampleReceiver *r;
    EnterCriticalSection(&cs);
    if ((r = receiver)) busy++;
    LeaveCriticalSection(&cs);
    if (!r) return S_OK;
    r->EndOfStream();
    EnterCriticalSection(&cs);
    busy--;
    LeaveCriticalSection(&cs);
    return S_OK;
}

void STDMETHODCALLTYPE PinTransport::SetReceiver(SampleReceiver *r)
{
    EnterCriticalSection(&cs);
    receiver = r;
    while (!r && busy)
    {
        LeaveCriticalSection(&cs);
        Sleep(1);
        EnterCriticalSection(&cs);
    }
    LeaveCriticalSection(&cs);
}

HRESULT STDMETHODCALLTYPE PinTransport::GetDownstream(IMemInputPin **input, IMemAllocator **a)
{
    HRESULT hr = S_OK;
    if (!input || !a) return E_POINTER;
    EnterCriticalSection(&cs);
    *input = downstream;
    *a = allocator;
    if (downstream && allocator && direction == PINDIR_OUTPUT)
    {
        downstream->AddRef();
        allocator->AddRef();
    }
    else
    {
        *input = NULL;
        *a = NULL;
        hr = VFW_E_NOT_CONNECTED;
    }
    LeaveCriticalSection(&cs);
    return hr;
}
