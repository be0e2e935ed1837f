/*
 * How samples cross between a filter of the platform and a filter that is not the platform's (one the
 * client wrote): a memory allocator and its samples, IMemInputPin on the platform's input pins, and the
 * allocator an output pin agrees with a foreign input pin when they connect. Between two filters of the
 * platform no sample passes (the graph's pipeline carries the media), so none of this is used there.
 * Win32 side only.
 */
#ifndef MEDIAPLATFORM_TRANSPORT_H
#define MEDIAPLATFORM_TRANSPORT_H

#include "filters/interfaces.h"
#include "filters/mediatypes.h"

#include <dvdmedia.h>

/* The I420 subtype, which the Winelib headers lack: {30323449-0000-0010-8000-00AA00389B71} */
static const GUID SUBTYPE_I420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

/* Uncompressed pictures (RGB and the common YUV layouts) or PCM/float sound: what the pipeline's
 * converters take and renderers show. A type that names no subtype counts as uncompressed. */
bool IsUncompressedType(const AM_MEDIA_TYPE *type);

/* A memory allocator (IMemAllocator) whose samples are IMediaSample; as CLSID_MemoryAllocator. */
HRESULT CreateMemAllocator(IMemAllocator **out);

/* Where the samples that reach an input pin go, while the graph runs a pipeline that takes them. */
class SampleReceiver
{
public:
    virtual HRESULT Receive(IMediaSample *sample) = 0;
    virtual void EndOfStream() = 0;

protected:
    ~SampleReceiver() {}
};

/* Private: the transport side of a platform pin. */
EDS_GUID(IID_IPinTransport, 0x4a7c2e91, 0x5d3b, 0x4f60, 0x9b, 0x12, 0x7e, 0x44, 0xa1, 0x0c, 0x58, 0xd3);

MIDL_INTERFACE("4A7C2E91-5D3B-4F60-9B12-7E44A10C58D3")
IPinTransport : public IUnknown
{
    /* Input pins: where received samples go; NULL refuses them (VFW_E_WRONG_STATE). Setting NULL
     * returns once no Receive is under way. */
    virtual void STDMETHODCALLTYPE SetReceiver(SampleReceiver *receiver) = 0;
    /* Output pins connected to a foreign input: that input and the allocator agreed with it (references
     * added). VFW_E_NOT_CONNECTED otherwise. */
    virtual HRESULT STDMETHODCALLTYPE GetDownstream(IMemInputPin **input, IMemAllocator **allocator) = 0;
};

/* The transport of one pin, a part of it: its COM identity is the pin's. */
class PinTransport final : public IMemInputPin, public IPinTransport
{
public:
    void Init(IPin *pin, PIN_DIRECTION dir);
    void Teardown();

    /* An output pin connected to receiver with type: when the receiver is foreign, agree an allocator
     * with it (IMemInputPin::GetAllocatorRequirements, GetAllocator or ours, NotifyAllocator). */
    HRESULT Negotiate(IPin *receiver, const AM_MEDIA_TYPE *type);
    /* the connection ended */
    void Disconnected();
    /* streaming calls that reach an input pin */
    HRESULT EndOfStreamReached();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override { return pin->QueryInterface(riid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin->Release(); }

    /* IMemInputPin */
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **out) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL read_only) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

    /* IPinTransport */
    void STDMETHODCALLTYPE SetReceiver(SampleReceiver *receiver) override;
    HRESULT STDMETHODCALLTYPE GetDownstream(IMemInputPin **input, IMemAllocator **allocator) override;

private:
    IPin *pin;
    PIN_DIRECTION direction;
    CRITICAL_SECTION cs;
    IMemAllocator *allocator;       /* input: the one notified; output: the one agreed */
    IMemInputPin *downstream;       /* output: the foreign input */
    SampleReceiver *receiver;
    LONG busy;                      /* Receive calls under way */
};

#endif
