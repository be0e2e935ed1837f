/* The connection side of the platform's pins (pin.h). */
#include "filters/pin.h"

#include <string.h>

void ConnectionPin::InitPin(IBaseFilter *filter, CRITICAL_SECTION *filter_lock, PIN_DIRECTION dir,
                            const WCHAR *pin_name, const AM_MEDIA_TYPE *type)
{
    owner = filter;
    lock = filter_lock;
    direction = dir;
    lstrcpynW(name, pin_name, ARRAYSIZE(name));
    memset(&preferred, 0, sizeof(preferred));
    if (type && FAILED(CopyMediaType(&preferred, type))) memset(&preferred, 0, sizeof(preferred));
    peer = NULL;
    category = GUID_NULL;
    memset(&mt, 0, sizeof(mt));
}

void ConnectionPin::TeardownPin()
{
    if (peer) peer->Release();
    peer = NULL;
    FreeMediaType(&mt);
    FreeMediaType(&preferred);
}

bool ConnectionPin::Connected()
{
    EnterCriticalSection(lock);
    bool c = peer != NULL;
    LeaveCriticalSection(lock);
    return c;
}

bool ConnectionPin::OwnerStopped()
{
    FILTER_STATE state;
    return SUCCEEDED(owner->GetState(0, &state)) && state == State_Stopped;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QueryInterface(REFIID riid, void **out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin))
        *out = static_cast<IPin *>(this);
    else if (IsEqualIID(riid, IID_IKsPropertySet) && !IsEqualGUID(category, GUID_NULL))
        *out = static_cast<IKsPropertySet *>(this);
    else
        return MoreInterfaces(riid, out);
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::Connect(IPin *receiver, const AM_MEDIA_TYPE *type)
{
    PIN_DIRECTION peer_dir;
    AM_MEDIA_TYPE offer;
    HRESULT hr;

    if (!receiver) return E_POINTER;
    if (direction != PINDIR_OUTPUT) return E_UNEXPECTED;
    if (Connected()) return VFW_E_ALREADY_CONNECTED;
    if (!OwnerStopped()) return VFW_E_NOT_STOPPED;
    if (FAILED(receiver->QueryDirection(&peer_dir)) || peer_dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (type && !Accepts(type)) return VFW_E_TYPE_NOT_ACCEPTED;

    offer = Offer(type);
    if (FAILED(hr = receiver->ReceiveConnection(this, &offer)))
        return hr == E_FAIL ? VFW_E_NO_ACCEPTABLE_TYPES : hr;
    EnterCriticalSection(lock);
    if (SUCCEEDED(hr = CopyMediaType(&mt, &offer)))
    {
        peer = receiver;
        peer->AddRef();
    }
    LeaveCriticalSection(lock);
    if (FAILED(hr))
        receiver->Disconnect();
    else
        OnConnected();
    return hr;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type)
{
    PIN_DIRECTION peer_dir;
    HRESULT hr;

    if (!connector || !type) return E_POINTER;
    if (direction != PINDIR_INPUT) return E_UNEXPECTED;
    if (Connected()) return VFW_E_ALREADY_CONNECTED;
    if (!OwnerStopped()) return VFW_E_NOT_STOPPED;
    if (FAILED(connector->QueryDirection(&peer_dir)) || peer_dir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (!Accepts(type)) return VFW_E_TYPE_NOT_ACCEPTED;

    EnterCriticalSection(lock);
    if (peer)
        hr = VFW_E_ALREADY_CONNECTED;
    else if (SUCCEEDED(hr = CopyMediaType(&mt, type)))
    {
        peer = connector;
        peer->AddRef();
    }
    LeaveCriticalSection(lock);
    if (SUCCEEDED(hr)) OnConnected();
    return hr;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::Disconnect()
{
    IPin *old;

    if (!OwnerStopped()) return VFW_E_NOT_STOPPED;
    EnterCriticalSection(lock);
    old = peer;
    peer = NULL;
    FreeMediaType(&mt);
    LeaveCriticalSection(lock);
    if (!old) return S_FALSE;
    old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::ConnectedTo(IPin **out)
{
    if (!out) return E_POINTER;
    EnterCriticalSection(lock);
    if ((*out = peer)) peer->AddRef();
    LeaveCriticalSection(lock);
    return *out ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::ConnectionMediaType(AM_MEDIA_TYPE *out)
{
    HRESULT hr;

    if (!out) return E_POINTER;
    EnterCriticalSection(lock);
    if (peer)
        hr = CopyMediaType(out, &mt);
    else
    {
        memset(out, 0, sizeof(*out));
        hr = VFW_E_NOT_CONNECTED;
    }
    LeaveCriticalSection(lock);
    return hr;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QueryPinInfo(PIN_INFO *info)
{
    if (!info) return E_POINTER;
    info->pFilter = owner;
    owner->AddRef();
    info->dir = direction;
    lstrcpynW(info->achName, name, ARRAYSIZE(info->achName));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QueryDirection(PIN_DIRECTION *dir)
{
    if (!dir) return E_POINTER;
    *dir = direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QueryId(LPWSTR *id)
{
    if (!id) return E_POINTER;
    size_t size = (lstrlenW(name) + 1) * sizeof(WCHAR);
    if (!(*id = (LPWSTR)CoTaskMemAlloc(size))) return E_OUTOFMEMORY;
    memcpy(*id, name, size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QueryAccept(const AM_MEDIA_TYPE *type)
{
    if (!type) return E_POINTER;
    return Accepts(type) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::EnumMediaTypes(IEnumMediaTypes **out)
{
    if (!out) return E_POINTER;
    return CreateMediaTypeEnum(IsEqualGUID(preferred.majortype, GUID_NULL) ? NULL : &preferred, out);
}

HRESULT STDMETHODCALLTYPE ConnectionPin::Set(REFGUID set, DWORD id, void *instance, DWORD instance_size,
                                              void *data, DWORD size)
{
    /* the category is the pin's own: it cannot be set */
    return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::Get(REFGUID set, DWORD id, void *instance, DWORD instance_size,
                                              void *data, DWORD size, DWORD *returned)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;   /* the size asked for */
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    memcpy(data, &category, sizeof(GUID));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPin::QuerySupported(REFGUID set, DWORD id, DWORD *support)
{
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT StreamPin::MoreInterfaces(REFIID riid, void **out)
{
    if (!IsEqualIID(riid, IID_IPlatformPin)) return ConnectionPin::MoreInterfaces(riid, out);
    *out = static_cast<IPlatformPin *>(this);
    AddRef();
    return S_OK;
}
