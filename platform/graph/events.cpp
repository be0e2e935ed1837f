/* The graph's events: queued from the bus thread and the video window, read by the client. */
#include "graph/filtergraph.h"

/* ---- Events ---- */

void FilterGraph::QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&ev_cs);
    if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT)
    {
        completion_code = code;
        SetEvent(completed);
    }
    if (event_count < MAX_EVENTS)
    {
        events[event_count].code = code;
        events[event_count].param1 = param1;
        events[event_count].param2 = param2;
        event_count++;
        SetEvent(event_ready);
        if (notify_hwnd && !(notify_flags & AM_MEDIAEVENT_NONOTIFY))
            PostMessageW(notify_hwnd, notify_msg, 0, notify_param);
    }
    LeaveCriticalSection(&ev_cs);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetEventHandle(OAEVENT *handle)
{
    if (!handle) return E_POINTER;
    *handle = (OAEVENT)event_ready;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout)
{
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = *param2 = 0;
    for (;;)
    {
        EnterCriticalSection(&ev_cs);
        if (event_count)
        {
            *code = events[0].code;
            *param1 = events[0].param1;
            *param2 = events[0].param2;
            memmove(&events[0], &events[1], (--event_count) * sizeof(events[0]));
            if (!event_count) ResetEvent(event_ready);
            LeaveCriticalSection(&ev_cs);
            return S_OK;
        }
        LeaveCriticalSection(&ev_cs);
        if (!timeout || WaitForSingleObject(event_ready, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0)
            return E_ABORT;
        timeout = 0;   /* taken by another caller: one more look only */
    }
}

HRESULT STDMETHODCALLTYPE FilterGraph::WaitForCompletion(LONG timeout, LONG *code)
{
    if (!code) return E_POINTER;
    *code = 0;
    EnterCriticalSection(&cs);
    bool running = state == State_Running;
    LeaveCriticalSection(&cs);
    if (!running && WaitForSingleObject(completed, 0) != WAIT_OBJECT_0) return VFW_E_WRONG_STATE;
    if (WaitForSingleObject(completed, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0) return E_ABORT;
    EnterCriticalSection(&ev_cs);
    *code = completion_code;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param)
{
    if (hwnd && !IsWindow((HWND)hwnd)) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    notify_hwnd = (HWND)hwnd;
    notify_msg = msg;
    notify_param = param;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetNotifyFlags(LONG flags)
{
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    notify_flags = flags;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetNotifyFlags(LONG *flags)
{
    if (!flags) return E_POINTER;
    *flags = notify_flags;
    return S_OK;
}
