/*
 * The filter graph's events (events.cpp): the queue the client reads through IMediaEventEx, the notify
 * window, the events the graph handles itself unless told otherwise, and the completion of a run, which
 * reaches the client once every renderer has completed. Any thread may post; no lock of the graph is
 * taken here.
 */
#ifndef MEDIAPLATFORM_EVENTS_H
#define MEDIAPLATFORM_EVENTS_H

#include <windows.h>
#include <dshow.h>

#define MAX_EVENTS 256

class GraphEvents
{
public:
    GraphEvents();
    ~GraphEvents();

    /* an event for the client as it is */
    void Queue(LONG code, LONG_PTR param1, LONG_PTR param2);
    /* an event from a filter or the graph: handled by default, or queued when its default is cancelled */
    void Deliver(LONG code, LONG_PTR param1, LONG_PTR param2);
    /* IMediaEventSink::Notify: E_OUTOFMEMORY when the queue is full */
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2);
    /* the pipeline ended: its own renderers, counted as the run started, have completed */
    void PipelineCompleted();

    /* a run starts: no completion yet; with recount, the renderers to wait for (internal: the pipeline's
     * own among them) are counted afresh */
    void RunStarts(bool recount, int renderers, int internal);
    bool Counting();

    HRESULT CancelDefaultHandling(LONG code);
    HRESULT RestoreDefaultHandling(LONG code);
    HRESULT GetEventHandle(OAEVENT *handle);
    HRESULT GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG timeout);
    /* running: whether the graph runs now (otherwise only a completion already there is waited for) */
    HRESULT WaitForCompletion(bool running, LONG timeout, LONG *code);
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param);
    HRESULT SetNotifyFlags(LONG flags);
    HRESULT GetNotifyFlags(LONG *flags);
    static HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2);

private:
    struct Event
    {
        LONG code;
        LONG_PTR param1, param2;
    };

    bool Cancelled(LONG code);   /* under lock */
    void RenderersCompleted(int count);

    CRITICAL_SECTION lock;
    Event events[MAX_EVENTS];
    int event_count = 0;
    HANDLE ready;               /* set while events wait */
    HANDLE completed;           /* set when the run ended */
    LONG completion_code = 0;
    HWND notify_hwnd = NULL;
    UINT notify_msg = 0;
    LONG_PTR notify_param = 0;
    LONG notify_flags = 0;
    LONG cancelled[16];         /* event codes whose default handling is cancelled */
    int cancelled_count = 0;
    int renderers_expected = 0, renderers_done = 0, internal_renderers = 0;
};

#endif
