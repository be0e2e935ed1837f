/* The graph's events: queued from the bus thread and the video window, read by the client. */
#include "graph/filtergraph.h"

#include <evcode.h>

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

/* Events the graph handles itself unless told otherwise: EC_COMPLETE reaches the client once every
 * renderer has completed; the others concern the graph and its windows only. */
static const LONG default_handled[] =
{
    EC_COMPLETE, EC_REPAINT, EC_ACTIVATE, EC_CLOCK_CHANGED, EC_DISPLAY_CHANGED, EC_NEED_RESTART, EC_STARVATION,
    EC_NOTIFY_WINDOW, EC_PALETTE_CHANGED,
};

static bool has_default(LONG code)
{
    for (size_t i = 0; i < ARRAYSIZE(default_handled); i++)
        if (default_handled[i] == code) return true;
    return false;
}

void FilterGraph::Deliver(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    bool handled = has_default(code);
    EnterCriticalSection(&ev_cs);
    for (int i = 0; i < cancelled_count && handled; i++)
        if (cancelled[i] == code) handled = false;
    LeaveCriticalSection(&ev_cs);
    if (!handled)
        QueueEvent(code, param1, param2);
    else if (code == EC_COMPLETE)
        RenderersCompleted(1, (IBaseFilter *)param2);
    /* the rest the graph takes as it is: its windows repaint and restart of their own */
}

/* count renderers that have completed, until all have */
void FilterGraph::RenderersCompleted(int count, IBaseFilter *which)
{
    bool all = false;
    EnterCriticalSection(&ev_cs);
    if (renderers_expected <= 0)
        all = true;   /* nothing counted: passed on as it comes */
    else if (renderers_done < renderers_expected)
    {
        renderers_done += count;
        all = renderers_done >= renderers_expected;
    }
    LeaveCriticalSection(&ev_cs);
    if (all) QueueEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT STDMETHODCALLTYPE FilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&ev_cs);
    bool full = event_count >= MAX_EVENTS;
    LeaveCriticalSection(&ev_cs);
    if (full) return E_OUTOFMEMORY;
    Deliver(code, param1, param2);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CancelDefaultHandling(LONG code)
{
    if (!has_default(code)) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    bool there = false;
    for (int i = 0; i < cancelled_count; i++) there = there || cancelled[i] == code;
    if (!there && cancelled_count < (int)ARRAYSIZE(cancelled)) cancelled[cancelled_count++] = code;
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RestoreDefaultHandling(LONG code)
{
    if (!has_default(code)) return E_INVALIDARG;
    EnterCriticalSection(&ev_cs);
    for (int i = 0; i < cancelled_count; i++)
        if (cancelled[i] == code)
        {
            cancelled[i] = cancelled[--cancelled_count];
            break;
        }
    LeaveCriticalSection(&ev_cs);
    return S_OK;
}

/* the parameters that are strings are the client's to free through here */
HRESULT STDMETHODCALLTYPE FilterGraph::FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    if (code == EC_OLE_EVENT || code == EC_STATUS)
    {
        SysFreeString((BSTR)param1);
        SysFreeString((BSTR)param2);
    }
    return S_OK;
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
