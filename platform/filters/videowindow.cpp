/*
 * The video renderer's window: frames come from the pipeline's application sink and are drawn with GDI
 * from a thread made here, never from a GStreamer thread. The last frame is kept for WM_PAINT.
 */
#include "filters/graphfilter.h"
#include "glue/pipeline.h"

#include <string.h>
#include <new>

static const WCHAR window_class[] = L"PlatformVideoWindow";

static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    VideoWindow *w = (VideoWindow *)GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    if (msg == WM_NCCREATE)
    {
        CREATESTRUCTW *cs = (CREATESTRUCTW *)lp;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)cs->lpCreateParams);
    }
    if (w) return w->Message(msg, wp, lp);
    return DefWindowProcW(hwnd, msg, wp, lp);
}

static bool register_class(void)
{
    static LONG done;
    WNDCLASSW wc;
    if (InterlockedCompareExchange(&done, 1, 0) != 0) return true;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = window_class;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

VideoWindow::VideoWindow()
    : drain(NULL), owner(NULL), auto_show(true), hwnd(NULL), frame(NULL), frame_width(0), frame_height(0),
      source_width(0), source_height(0), pl(NULL), node(-1), thread(NULL), quit(0), sink(NULL), sink_context(NULL)
{
    InitializeCriticalSection(&cs);
}

VideoWindow *VideoWindow::Create()
{
    VideoWindow *w;
    if (!register_class()) return NULL;
    if (!(w = new (std::nothrow) VideoWindow())) return NULL;
    w->hwnd = CreateWindowExW(0, window_class, L"Video", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                              CW_USEDEFAULT, CW_USEDEFAULT, 320, 240, NULL, NULL, GetModuleHandleW(NULL), w);
    if (!w->hwnd)
    {
        delete w;
        return NULL;
    }
    return w;
}

VideoWindow::~VideoWindow()
{
    StopFrames();
    if (hwnd)
    {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
    delete[] frame;
    DeleteCriticalSection(&cs);
}

void VideoWindow::SetEventSink(VideoEventSink s, void *context)
{
    EnterCriticalSection(&cs);
    sink = s;
    sink_context = context;
    LeaveCriticalSection(&cs);
}

void VideoWindow::SetSourceSize(int width, int height)
{
    EnterCriticalSection(&cs);
    source_width = width;
    source_height = height;
    LeaveCriticalSection(&cs);
}

void VideoWindow::GetSourceSize(LONG *width, LONG *height)
{
    int w = 0, h = 0;
    EnterCriticalSection(&cs);
    if (pl) pl_video_size(pl, node, &w, &h);
    if (w <= 0)
    {
        w = source_width;
        h = source_height;
    }
    LeaveCriticalSection(&cs);
    *width = w;
    *height = h;
}

void VideoWindow::StateChanged(bool active)
{
    if (active && auto_show && hwnd && !IsWindowVisible(hwnd))
        ShowWindow(hwnd, owner ? SW_SHOWNA : SW_SHOW);
}

static DWORD WINAPI frame_thread(void *arg)
{
    ((VideoWindow *)arg)->FrameLoop();
    return 0;
}

void VideoWindow::StartFrames(struct pipeline *p, int n)
{
    StopFrames();
    EnterCriticalSection(&cs);
    pl = p;
    node = n;
    LeaveCriticalSection(&cs);
    quit = 0;
    thread = CreateThread(NULL, 0, frame_thread, this, 0, NULL);
}

void VideoWindow::StopFrames()
{
    if (thread)
    {
        InterlockedExchange(&quit, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        thread = NULL;
    }
    EnterCriticalSection(&cs);
    pl = NULL;
    node = -1;
    LeaveCriticalSection(&cs);
}

void VideoWindow::FrameLoop()
{
    while (!quit)
    {
        struct pl_frame f;
        if (!pl_frame_wait(pl, node, 50, &f)) continue;
        EnterCriticalSection(&cs);
        if (f.width != frame_width || f.height != frame_height || !frame)
        {
            delete[] frame;
            frame = new (std::nothrow) BYTE[(size_t)f.width * f.height * 4];
            frame_width = frame ? f.width : 0;
            frame_height = frame ? f.height : 0;
        }
        if (frame)
            for (int y = 0; y < f.height; y++)
                memcpy(frame + (size_t)y * f.width * 4, f.data + (size_t)y * f.stride, (size_t)f.width * 4);
        LeaveCriticalSection(&cs);
        pl_frame_release(&f);
        HDC dc = GetDC(hwnd);
        if (dc)
        {
            Paint(dc);
            ReleaseDC(hwnd, dc);
        }
    }
}

bool VideoWindow::CopyFrame(BYTE *bits, LONG width, LONG height)
{
    bool copied = false;
    EnterCriticalSection(&cs);
    if (frame && frame_width == width && frame_height == height)
    {
        /* a DIB's rows go bottom-up */
        for (LONG y = 0; y < height; y++)
            memcpy(bits + (size_t)(height - 1 - y) * width * 4, frame + (size_t)y * width * 4, (size_t)width * 4);
        copied = true;
    }
    LeaveCriticalSection(&cs);
    return copied;
}

void VideoWindow::FrameSize(LONG *width, LONG *height)
{
    EnterCriticalSection(&cs);
    *width = frame ? frame_width : 0;
    *height = frame ? frame_height : 0;
    LeaveCriticalSection(&cs);
}

void VideoWindow::Paint(HDC dc)
{
    RECT rc;
    BITMAPINFO bmi;

    GetClientRect(hwnd, &rc);
    EnterCriticalSection(&cs);
    if (frame)
    {
        memset(&bmi, 0, sizeof(bmi));
        bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
        bmi.bmiHeader.biWidth = frame_width;
        bmi.bmiHeader.biHeight = -frame_height;   /* rows top-down */
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, 0, 0, rc.right, rc.bottom, 0, 0, frame_width, frame_height, frame, &bmi,
                      DIB_RGB_COLORS, SRCCOPY);
    }
    else
        FillRect(dc, &rc, (HBRUSH)GetStockObject(BLACK_BRUSH));
    LeaveCriticalSection(&cs);
}

LRESULT VideoWindow::Message(UINT msg, WPARAM wp, LPARAM lp)
{
    /* input goes to the message drain when there is one */
    if (drain && ((msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || (msg >= WM_KEYFIRST && msg <= WM_KEYLAST)))
    {
        PostMessageW(drain, msg, wp, lp);
        return 0;
    }
    switch (msg)
    {
    case WM_PAINT:
    {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        Paint(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_CLOSE:
        /* the user closed the window of its own: hide it and tell the graph */
        ShowWindow(hwnd, SW_HIDE);
        EnterCriticalSection(&cs);
        if (sink) sink(sink_context, EC_USERABORT, 0, 0);
        LeaveCriticalSection(&cs);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
