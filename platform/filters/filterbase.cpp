/* The state, clock, graph membership and pin lookup of the platform's filters (filterbase.h). */
#include "filters/filterbase.h"

FilterBase::FilterBase() : state(State_Stopped), clock(NULL), graph(NULL)
{
    InitializeCriticalSection(&cs);
    filter_name[0] = 0;
}

FilterBase::~FilterBase()
{
    if (clock) clock->Release();
    DeleteCriticalSection(&cs);
}

HRESULT FilterBase::SetState(FILTER_STATE s)
{
    EnterCriticalSection(&cs);
    state = s;
    LeaveCriticalSection(&cs);
    StateChanged(s);
    return S_OK;
}

bool FilterBase::Stopped()
{
    EnterCriticalSection(&cs);
    bool s = state == State_Stopped;
    LeaveCriticalSection(&cs);
    return s;
}

HRESULT STDMETHODCALLTYPE FilterBase::GetState(DWORD timeout, FILTER_STATE *out)
{
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    *out = state;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::SetSyncSource(IReferenceClock *new_clock)
{
    EnterCriticalSection(&cs);
    if (new_clock) new_clock->AddRef();
    if (clock) clock->Release();
    clock = new_clock;
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::GetSyncSource(IReferenceClock **out)
{
    if (!out) return E_POINTER;
    EnterCriticalSection(&cs);
    if ((*out = clock)) clock->AddRef();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::EnumPins(IEnumPins **out)
{
    return CreatePinEnum(static_cast<IBaseFilter *>(this), this, out);
}

HRESULT STDMETHODCALLTYPE FilterBase::FindPin(LPCWSTR id, IPin **out)
{
    if (!id || !out) return E_POINTER;
    *out = NULL;
    EnterCriticalSection(&cs);
    for (ULONG i = 0; i < PinListCount() && !*out; i++)
    {
        IPin *pin = PinListItem(i);
        LPWSTR pin_id = NULL;
        if (SUCCEEDED(pin->QueryId(&pin_id)) && !lstrcmpW(id, pin_id))
        {
            *out = pin;
            pin->AddRef();
        }
        CoTaskMemFree(pin_id);
    }
    LeaveCriticalSection(&cs);
    return *out ? S_OK : VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE FilterBase::QueryFilterInfo(FILTER_INFO *info)
{
    if (!info) return E_POINTER;
    EnterCriticalSection(&cs);
    lstrcpynW(info->achName, filter_name, ARRAYSIZE(info->achName));
    if ((info->pGraph = graph)) graph->AddRef();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::JoinFilterGraph(IFilterGraph *new_graph, LPCWSTR name)
{
    EnterCriticalSection(&cs);
    graph = new_graph;
    lstrcpynW(filter_name, name ? name : L"", ARRAYSIZE(filter_name));
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterBase::QueryVendorInfo(LPWSTR *info)
{
    if (!info) return E_POINTER;
    *info = NULL;
    return E_NOTIMPL;
}
