/*
 * The graph's reference clock: system time in 100 ns units that never goes back, and advise requests
 * (one-shot events and periodic semaphores) signalled from a thread of its own.
 */
#include "server/lifetime.h"
#include "graph/filtergraph.h"

#include <new>

#define MAX_ADVISES 64

namespace {

struct Advise
{
    DWORD_PTR cookie;
    REFERENCE_TIME due, period;     /* period 0: once */
    HANDLE handle;                  /* an event, or a semaphore for periodic advises */
};

class SystemClock final : public IReferenceClock
{
public:
    SystemClock() : ref(1), last(0), count(0), next_cookie(1), thread(NULL), quit(false)
    {
        InitializeCriticalSection(&cs);
        wake = CreateEventW(NULL, FALSE, FALSE, NULL);
        QueryPerformanceFrequency(&frequency);
        PlatformObjectCreated();
    }
    ~SystemClock()
    {
        if (thread)
        {
            EnterCriticalSection(&cs);
            quit = true;
            LeaveCriticalSection(&cs);
            SetEvent(wake);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        CloseHandle(wake);
        DeleteCriticalSection(&cs);
        PlatformObjectDestroyed();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IReferenceClock))
        {
            *out = static_cast<IReferenceClock *>(this);
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

    /* S_FALSE when the time has not moved on since the last call */
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *t) override
    {
        HRESULT hr = S_OK;
        if (!t) return E_POINTER;
        REFERENCE_TIME now = Now();
        EnterCriticalSection(&cs);
        if (now <= last)
        {
            now = last;
            hr = S_FALSE;
        }
        last = now;
        LeaveCriticalSection(&cs);
        *t = now;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME base, REFERENCE_TIME offset, HEVENT event,
                                         DWORD_PTR *cookie) override
    {
        if (!cookie) return E_POINTER;
        *cookie = 0;
        if (!event || base < 0 || offset < 0 || base + offset <= 0) return E_INVALIDARG;
        return Add(base + offset, 0, (HANDLE)event, cookie);
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                             DWORD_PTR *cookie) override
    {
        if (!cookie) return E_POINTER;
        *cookie = 0;
        if (!semaphore || start <= 0 || period <= 0) return E_INVALIDARG;
        return Add(start, period, (HANDLE)semaphore, cookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) override
    {
        HRESULT hr = S_FALSE;
        EnterCriticalSection(&cs);
        for (int i = 0; i < count; i++)
            if (advises[i].cookie == cookie)
            {
                advises[i] = advises[--count];
                hr = S_OK;
                break;
            }
        LeaveCriticalSection(&cs);
        return hr;
    }

    void Loop()
    {
        for (;;)
        {
            DWORD wait = INFINITE;
            EnterCriticalSection(&cs);
            if (quit)
            {
                LeaveCriticalSection(&cs);
                return;
            }
            REFERENCE_TIME now = Now();
            for (int i = 0; i < count;)
            {
                Advise *a = &advises[i];
                if (a->due <= now)
                {
                    if (a->period)
                    {
                        ReleaseSemaphore(a->handle, 1, NULL);
                        a->due += a->period;
                        if (a->due <= now) a->due = now + a->period;   /* missed ticks are not made up */
                    }
                    else
                    {
                        SetEvent(a->handle);
                        advises[i] = advises[--count];
                        continue;
                    }
                }
                DWORD ms = (DWORD)((a->due - now + 9999) / 10000);
                if (ms < wait) wait = ms;
                i++;
            }
            LeaveCriticalSection(&cs);
            WaitForSingleObject(wake, wait);
        }
    }

private:
    REFERENCE_TIME Now()
    {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return (REFERENCE_TIME)(c.QuadPart / frequency.QuadPart * 10000000
                                + c.QuadPart % frequency.QuadPart * 10000000 / frequency.QuadPart);
    }
    static DWORD WINAPI ThreadProc(void *arg)
    {
        ((SystemClock *)arg)->Loop();
        return 0;
    }
    HRESULT Add(REFERENCE_TIME due, REFERENCE_TIME period, HANDLE handle, DWORD_PTR *cookie)
    {
        HRESULT hr = S_OK;
        EnterCriticalSection(&cs);
        if (count >= MAX_ADVISES) hr = E_OUTOFMEMORY;
        else if (!thread && !(thread = CreateThread(NULL, 0, ThreadProc, this, 0, NULL))) hr = E_OUTOFMEMORY;
        else
        {
            advises[count].cookie = next_cookie++;
            advises[count].due = due;
            advises[count].period = period;
            advises[count].handle = handle;
            *cookie = advises[count++].cookie;
        }
        LeaveCriticalSection(&cs);
        if (SUCCEEDED(hr)) SetEvent(wake);
        return hr;
    }

    LONG ref;
    CRITICAL_SECTION cs;
    LARGE_INTEGER frequency;
    REFERENCE_TIME last;
    Advise advises[MAX_ADVISES];
    int count;
    DWORD_PTR next_cookie;
    HANDLE thread, wake;
    bool quit;
};

}  // namespace

HRESULT CreateSystemClock(REFIID riid, void **out)
{
    SystemClock *c;
    HRESULT hr;
    if (!out) return E_POINTER;
    *out = NULL;
    if (!(c = new (std::nothrow) SystemClock())) return E_OUTOFMEMORY;
    hr = c->QueryInterface(riid, out);
    c->Release();
    return hr;
}
