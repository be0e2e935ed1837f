/*
 * What the platform's pins share: a pin of one filter that keeps one connection and its media type. No
 * samples pass through it; the graph's pipeline carries the media. A pin is part of its filter and is
 * counted with it. Win32 side only.
 */
#ifndef MEDIAPLATFORM_PIN_H
#define MEDIAPLATFORM_PIN_H

#include "filters/interfaces.h"
#include "filters/mediatypes.h"

class ConnectionPin : public IPin, public IKsPropertySet
{
public:
    /* owner: the filter; lock: the filter's, held around the connection; preferred: the type the pin
     * offers and lists (copied; NULL or a GUID_NULL major type: none). */
    void InitPin(IBaseFilter *owner, CRITICAL_SECTION *lock, PIN_DIRECTION dir, const WCHAR *name,
                 const AM_MEDIA_TYPE *preferred);
    void TeardownPin();
    /* A pin category (PIN_CATEGORY_CAPTURE ...): the pin then reports it through IKsPropertySet. */
    void SetCategory(REFGUID c) { category = c; }
    const GUID &Category() const { return category; }
    const WCHAR *Name() const { return name; }
    PIN_DIRECTION Direction() const { return direction; }
    const AM_MEDIA_TYPE &Preferred() const { return preferred; }
    bool Connected();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner->Release(); }
    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *out) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override { return E_NOTIMPL; }
    /* streaming calls reach input pins only */
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
    {
        return direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED;
    }

    /* IKsPropertySet: the pin category (AMPROPSETID_Pin), read only */
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void *instance, DWORD instance_size, void *data,
                                  DWORD size) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void *instance, DWORD instance_size, void *data,
                                  DWORD size, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD *support) override;

protected:
    ~ConnectionPin() {}
    /* Whether a type (GUID_NULL parts match anything) suits the pin. */
    virtual bool Accepts(const AM_MEDIA_TYPE *type) const = 0;
    /* The type offered to a receiver when Connect was asked for type (may be NULL); a shallow copy. */
    virtual AM_MEDIA_TYPE Offer(const AM_MEDIA_TYPE *type) const { return preferred; }
    /* Interfaces beyond IPin. */
    virtual HRESULT MoreInterfaces(REFIID riid, void **out)
    {
        *out = NULL;
        return E_NOINTERFACE;
    }
    virtual void OnConnected() {}

    IBaseFilter *owner;
    PIN_DIRECTION direction;
    AM_MEDIA_TYPE preferred;

private:
    bool OwnerStopped();

    CRITICAL_SECTION *lock;
    GUID category;             /* GUID_NULL: none */
    WCHAR name[MAX_PIN_NAME];
    IPin *peer;
    AM_MEDIA_TYPE mt;          /* of the connection */
};

/* A pin that stands for one stream of its filter (IPlatformPin). */
class StreamPin : public ConnectionPin, public IPlatformPin
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        return ConnectionPin::QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ConnectionPin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ConnectionPin::Release(); }
    IBaseFilter *STDMETHODCALLTYPE GetOwner(void) override { return owner; }
    int STDMETHODCALLTYPE GetStreamIndex(void) override { return index; }

protected:
    ~StreamPin() {}
    HRESULT MoreInterfaces(REFIID riid, void **out) override;

    int index;
};

#endif
