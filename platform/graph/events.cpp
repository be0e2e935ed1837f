/* The graph's events: queued from the bus thread, the video window and the filters, read by the client. */
#include "graph/events.h"

#include <evcode.h>

GraphEvents::GraphEvents()
{
    InitializeCriticalSection(&lock);
    ready = CreateEventW(NULL, TRUE, FALSE, NULL);
    completed = CreateEventW(NULL, TRUE, FALSE, NULL);
}

GraphEvents::~GraphEvents()
{
    CloseHandle(ready);
    CloseHandle(completed);
    DeleteCriticalSection(&lock);
}

void GraphEvents::Queue(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&lock);
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
        SetEvent(ready);
        if (notify_hwnd && !(notify_flags & AM_MEDIAEVENT_NONOTIFY))
            PostMessageW(notify_hwnd, notify_msg, 0, notify_param);
    }
    LeaveCriticalSection(&lock);
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

void GraphEvents::Deliver(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&lock);
    bool handled = has_default(code) && !Cancelled(code);
    LeaveCriticalSection(&lock);
    if (!handled)
        Queue(code, param1, param2);
    else if (code == EC_COMPLETE)
        RenderersCompleted(1);
    /* the rest the graph takes as it is: its windows repaint and restart of their own */
}

bool GraphEvents::Cancelled(LONG code)
{
    for (int i = 0; i < cancelled_count; i++)
        if (cancelled[i] == code) return true;
    return false;
}

/* count renderers that have completed, until all have */
void GraphEvents::RenderersCompleted(int count)
{
    bool all = false;
    EnterCriticalSection(&lock);
    if (renderers_expected <= 0)
        all = true;   /* nothing counted: passed on as it comes */
    else if (renderers_done < renderers_expected)
    {
        renderers_done += count;
        all = renderers_done >= renderers_expected;
    }
    LeaveCriticalSection(&lock);
    if (all) Queue(EC_COMPLETE, S_OK, 0);
}

void GraphEvents::PipelineCompleted()
{
    EnterCriticalSection(&lock);
    bool each = Cancelled(EC_COMPLETE);
    int internal = internal_renderers;
    LeaveCriticalSection(&lock);
    if (!each)
        RenderersCompleted(internal);
    else   /* default handling cancelled: one EC_COMPLETE per renderer */
        for (int i = 0; i < internal; i++) Queue(EC_COMPLETE, S_OK, 0);
}

void GraphEvents::RunStarts(bool recount, int renderers, int internal)
{
    EnterCriticalSection(&lock);
    ResetEvent(completed);
    completion_code = 0;
    if (recount)
    {
        renderers_expected = renderers;
        renderers_done = 0;
        internal_renderers = internal;
    }
    LeaveCriticalSection(&lock);
}

bool GraphEvents::Counting()
{
    EnterCriticalSection(&lock);
    bool counting = renderers_expected != 0;
    LeaveCriticalSection(&lock);
    return counting;
}

HRESULT GraphEvents::Notify(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    EnterCriticalSection(&lock);
    bool full = event_count >= MAX_EVENTS;
    LeaveCriticalSection(&lock);
    if (full) return E_OUTOFMEMORY;
    Deliver(code, param1, param2);
    return S_OK;
}

HRESULT GraphEvents::CancelDefaultHandling(LONG code)
{
    if (!has_default(code)) return E_INVALIDARG;
    EnterCriticalSection(&lock);
    if (!Cancelled(code) && cancelled_count < (int)ARRAYSIZE(cancelled)) cancelled[cancelled_count++] = code;
    LeaveCriticalSection(&lock);
    return S_OK;
}

HRESULT GraphEvents::RestoreDefaultHandling(LONG code)
{
    if (!has_default(code)) return E_INVALIDARG;
    EnterCriticalSection(&lock);
    for (int i = 0; i < cancelled_count; i++)
        if (cancelled[i] == code)
        {
            cancelled[i] = cancelled[--cancelled_count];
            break;
        }
    LeaveCriticalSection(&lock);
    return S_OK;
}

/* the parameters that are strings are the client's to free through here */
HRESULT GraphEvents::FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2)
{
    if (code == EC_OLE_EVENT || code == EC_STATUS)
    {
        SysFreeString((BSTR)param1);
        SysFreeString((BSTR)param2);
    }
    return S_OK;
}

HRESULT GraphEvents::GetEventHandle(OAEVENT *handle)
{
    if (!handle) return E_POINTER;
    *handle = (OAEVENT)ready;
    return S_OK;
}

HRESULT GraphEvents::GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout)
{
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = *param2 = 0;
    for (;;)
    {
        EnterCriticalSection(&lock);
        if (event_count)
        {
            *code = events[0].code;
            *param1 = events[0].param1;
            *param2 = events[0].param2;
            memmove(&events[0], &events[1], (--event_count) * sizeof(events[0]));
            if (!event_count) ResetEvent(ready);
            LeaveCriticalSection(&lock);
            return S_OK;
        }
        LeaveCriticalSection(&lock);
        if (!timeout || WaitForSingleObject(ready, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0)
            return E_ABORT;
        timeout = 0;   /* taken by another caller: one more look only */
    }
}

HRESULT GraphEvents::WaitForCompletion(bool running, LONG timeout, LONG *code)
{
    if (!code) return E_POINTER;
    *code = 0;
    if (!running && WaitForSingleObject(completed, 0) != WAIT_OBJECT_0) return VFW_E_WRONG_STATE;
    if (WaitForSingleObject(completed, timeout < 0 ? INFINITE : (DWORD)timeout) != WAIT_OBJECT_0) return E_ABORT;
    EnterCriticalSection(&lock);
    *code = completion_code;
    LeaveCriticalSection(&lock);
    return S_OK;
}

HRESULT GraphEvents::SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param)
{
    if (hwnd && !IsWindow((HWND)hwnd)) return E_INVALIDARG;
    EnterCriticalSection(&lock);
    notify_hwnd = (HWND)hwnd;
    notify_msg = msg;
    notify_param = param;
    LeaveCriticalSection(&lock);
    return S_OK;
}

HRESULT GraphEvents::SetNotifyFlags(LONG flags)
{
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    EnterCriticalSection(&lock);
    notify_flags = flags;
    LeaveCriticalSection(&lock);
    return S_OK;
}

HRESULT GraphEvents::GetNotifyFlags(LONG *flags)
{
    if (!flags) return E_POINTER;
    *flags = notify_flags;
    return S_OK;
}
