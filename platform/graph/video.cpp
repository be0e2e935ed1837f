/* The graph's video window, basic video and frame step: those of its connected video renderer. */
#include "graph/filtergraph.h"
#include "glue/pipeline.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

/* ---- Video window: the connected video renderer's ---- */

GraphFilter *FilterGraph::VideoRenderer(HRESULT *hr)
{
    GraphFilter *found = NULL;
    bool unconnected = false;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count && !found; i++)
    {
        GraphFilter *gf;
        if (FAILED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf))) continue;
        if (gf->Type() == GF_VIDEO_RENDERER && gf->Window())
        {
            if (gf->Pin(0)->Connected())
            {
                found = gf;
                continue;
            }
            unconnected = true;
        }
        gf->Release();
    }
    LeaveCriticalSection(&cs);
    /* no renderer: no interface, as the graph on Windows answers */
    *hr = found ? S_OK : unconnected ? VFW_E_NOT_CONNECTED : E_NOINTERFACE;
    return found;
}

HWND FilterGraph::VideoHwnd(HRESULT *hr)
{
    GraphFilter *r = VideoRenderer(hr);
    HWND hwnd = r ? r->Window()->Hwnd() : NULL;
    if (r) r->Release();
    return hwnd;
}

/* S_OK when the graph has a connected video renderer, the error to answer otherwise */
HRESULT FilterGraph::NoVideo()
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (r) r->Release();
    return r ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Caption(BSTR caption)
{
    HRESULT hr;
    HWND w = VideoHwnd(&hr);
    if (!w) return hr;
    SetWindowTextW(w, caption ? caption : L"");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Caption(BSTR *caption)
{
    WCHAR text[256];
    HRESULT hr;
    HWND w;
    if (!caption) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    GetWindowTextW(w, text, ARRAYSIZE(text));
    *caption = SysAllocString(text);
    return *caption ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowStyle(LONG style)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (style & (WS_DISABLED | WS_HSCROLL | WS_VSCROLL | WS_MAXIMIZE | WS_MINIMIZE)) return E_INVALIDARG;
    style = (style & ~WS_VISIBLE) | (GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE);
    SetWindowLongW(w, GWL_STYLE, style);
    SetWindowPos(w, NULL, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowStyle(LONG *style)
{
    HRESULT hr;
    HWND w;
    if (!style) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *style = GetWindowLongW(w, GWL_STYLE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowStyleEx(LONG style)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    SetWindowLongW(w, GWL_EXSTYLE, style);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowStyleEx(LONG *style)
{
    HRESULT hr;
    HWND w;
    if (!style) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *style = GetWindowLongW(w, GWL_EXSTYLE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_AutoShow(LONG show)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    r->Window()->auto_show = show != OAFALSE;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_AutoShow(LONG *show)
{
    HRESULT hr;
    GraphFilter *r;
    if (!show) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *show = r->Window()->auto_show ? OATRUE : OAFALSE;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_WindowState(LONG show)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    ShowWindow(w, show);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_WindowState(LONG *show)
{
    HRESULT hr;
    HWND w;
    if (!show) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *show = !IsWindowVisible(w) ? SW_HIDE : IsIconic(w) ? SW_MINIMIZE : IsZoomed(w) ? SW_MAXIMIZE : SW_SHOW;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_BackgroundPalette(LONG palette)
{
    HRESULT hr = NoVideo();
    if (FAILED(hr)) return hr;
    if (palette != OATRUE && palette != OAFALSE) return E_INVALIDARG;
    background_palette = palette;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_BackgroundPalette(LONG *palette)
{
    HRESULT hr = NoVideo();
    if (!palette) return E_POINTER;
    if (FAILED(hr)) return hr;
    *palette = background_palette;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Visible(LONG visible)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    HWND w = r->Window()->Hwnd();
    ShowWindow(w, visible != OAFALSE ? (r->Window()->owner ? SW_SHOWNA : SW_SHOW) : SW_HIDE);
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Visible(LONG *visible)
{
    HRESULT hr;
    HWND w;
    if (!visible) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    *visible = IsWindowVisible(w) ? OATRUE : OAFALSE;
    return S_OK;
}

/* edges: 0 left, 1 top, 2 width, 3 height, in the parent's client coordinates */
HRESULT FilterGraph::GetEdge(int edge, LONG *v)
{
    LONG pos[4];
    HRESULT hr;
    if (!v) return E_POINTER;
    if (FAILED(hr = GetWindowPosition(&pos[0], &pos[1], &pos[2], &pos[3]))) return hr;
    *v = pos[edge];
    return S_OK;
}

HRESULT FilterGraph::MoveEdge(int edge, LONG v)
{
    LONG pos[4];
    HRESULT hr;
    if (FAILED(hr = GetWindowPosition(&pos[0], &pos[1], &pos[2], &pos[3]))) return hr;
    pos[edge] = v;
    return SetWindowPosition(pos[0], pos[1], pos[2], pos[3]);
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Owner(OAHWND owner)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    VideoWindow *vw = r->Window();
    HWND w = vw->Hwnd();
    if (owner && !IsWindow((HWND)owner))
    {
        r->Release();
        return E_INVALIDARG;
    }
    LONG style = GetWindowLongW(w, GWL_STYLE);
    vw->owner = (HWND)owner;
    if (owner)
    {
        /* a child of the owner */
        SetWindowLongW(w, GWL_STYLE, (style & ~(WS_POPUP | WS_OVERLAPPEDWINDOW)) | WS_CHILD);
        SetParent(w, (HWND)owner);
    }
    else
    {
        SetParent(w, NULL);
        SetWindowLongW(w, GWL_STYLE, (style & ~WS_CHILD) | WS_OVERLAPPEDWINDOW);
    }
    SetWindowPos(w, NULL, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Owner(OAHWND *owner)
{
    HRESULT hr;
    GraphFilter *r;
    if (!owner) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *owner = (OAHWND)r->Window()->owner;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_MessageDrain(OAHWND drain)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    r->Window()->drain = (HWND)drain;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_MessageDrain(OAHWND *drain)
{
    HRESULT hr;
    GraphFilter *r;
    if (!drain) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    *drain = (OAHWND)r->Window()->drain;
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_BorderColor(LONG *color)
{
    HRESULT hr = NoVideo();
    if (!color) return E_POINTER;
    if (FAILED(hr)) return hr;
    *color = border_color;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_BorderColor(LONG color)
{
    HRESULT hr = NoVideo();
    if (SUCCEEDED(hr)) border_color = color;
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_FullScreenMode(LONG *mode)
{
    HRESULT hr = NoVideo();
    if (!mode) return E_POINTER;
    if (FAILED(hr)) return hr;
    *mode = full_screen;
    return S_OK;
}

/* full screen: the window leaves its owner and covers its monitor; back again as it was */
HRESULT STDMETHODCALLTYPE FilterGraph::put_FullScreenMode(LONG mode)
{
    HRESULT hr;
    HWND w = VideoHwnd(&hr);
    if (!w) return hr;
    if (mode != OATRUE && mode != OAFALSE) return E_INVALIDARG;
    if (mode == full_screen) return S_OK;
    if (mode == OATRUE)
    {
        MONITORINFO mi;
        mi.cbSize = sizeof(mi);
        saved_parent = GetParent(w);
        saved_style = GetWindowLongW(w, GWL_STYLE);
        GetWindowRect(w, &saved_rect);
        if (saved_parent) MapWindowPoints(NULL, saved_parent, (POINT *)&saved_rect, 2);
        GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTONEAREST), &mi);
        SetParent(w, NULL);
        SetWindowLongW(w, GWL_STYLE, (saved_style & ~(WS_CHILD | WS_OVERLAPPEDWINDOW)) | WS_POPUP);
        SetWindowPos(w, HWND_TOP, mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right - mi.rcMonitor.left,
                     mi.rcMonitor.bottom - mi.rcMonitor.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    }
    else
    {
        SetWindowLongW(w, GWL_STYLE, saved_style);
        SetParent(w, saved_parent);
        SetWindowPos(w, NULL, saved_rect.left, saved_rect.top, saved_rect.right - saved_rect.left,
                     saved_rect.bottom - saved_rect.top, SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    full_screen = mode;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetWindowForeground(LONG focus)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | (focus ? 0 : SWP_NOACTIVATE));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wp, LONG_PTR lp)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (msg == WM_PALETTECHANGED || msg == WM_SYSCOLORCHANGE || msg == WM_DISPLAYCHANGE)
        PostMessageW(w, msg, wp, lp);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetWindowPosition(LONG left, LONG top, LONG width, LONG height)
{
    HRESULT hr;
    HWND w;
    if (!(w = VideoHwnd(&hr))) return hr;
    if (width < 0 || height < 0) return E_INVALIDARG;
    SetWindowPos(w, NULL, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetWindowPosition(LONG *left, LONG *top, LONG *width, LONG *height)
{
    HRESULT hr;
    HWND w;
    RECT rc;
    if (!left || !top || !width || !height) return E_POINTER;
    if (!(w = VideoHwnd(&hr))) return hr;
    GetWindowRect(w, &rc);
    HWND parent = GetParent(w);
    if (parent && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) MapWindowPoints(NULL, parent, (POINT *)&rc, 2);
    *left = rc.left;
    *top = rc.top;
    *width = rc.right - rc.left;
    *height = rc.bottom - rc.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetMinIdealImageSize(LONG *width, LONG *height) { return GetVideoSize(width, height); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetMaxIdealImageSize(LONG *width, LONG *height) { return GetVideoSize(width, height); }

HRESULT STDMETHODCALLTYPE FilterGraph::GetRestorePosition(LONG *left, LONG *top, LONG *width, LONG *height)
{
    return GetWindowPosition(left, top, width, height);
}

HRESULT STDMETHODCALLTYPE FilterGraph::HideCursor(LONG hide)
{
    HRESULT hr = NoVideo();
    if (SUCCEEDED(hr)) cursor_hidden = hide ? OATRUE : OAFALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::IsCursorHidden(LONG *hidden)
{
    HRESULT hr = NoVideo();
    if (!hidden) return E_POINTER;
    if (FAILED(hr)) return hr;
    *hidden = cursor_hidden;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetVideoSize(LONG *width, LONG *height)
{
    HRESULT hr;
    GraphFilter *r;
    if (!width || !height) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    r->Window()->GetSourceSize(width, height);
    /* the size the renderer's input was connected with, where its type tells one */
    AM_MEDIA_TYPE mt;
    if (*width <= 0 && SUCCEEDED(r->Pin(0)->ConnectionMediaType(&mt)))
    {
        if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        {
            *width = ((const VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader.biWidth;
            *height = abs(((const VIDEOINFOHEADER *)mt.pbFormat)->bmiHeader.biHeight);
        }
        FreeMediaType(&mt);
    }
    r->Release();
    return *width > 0 ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_VideoWidth(LONG *v)
{
    LONG h;
    return GetVideoSize(v, &h);
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_VideoHeight(LONG *v)
{
    LONG w;
    return GetVideoSize(&w, v);
}

/* ---- Frame step ---- */

HRESULT STDMETHODCALLTYPE FilterGraph::CanStep(LONG multiple, IUnknown *filter)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return S_FALSE;
    r->Release();
    return S_OK;
}

/* in pause: the picture and the position move on by the frames asked */
HRESULT STDMETHODCALLTYPE FilterGraph::Step(DWORD frames, IUnknown *filter)
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return VFW_E_NOT_CONNECTED;
    r->Release();
    if (!frames) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    bool ready = pl && !dirty && state != State_Running;
    LeaveCriticalSection(&cs);
    if (!ready && FAILED(hr = Pause())) return hr;
    EnterCriticalSection(&cs);
    int st;
    pl_get_state(pl, STATE_WAIT_MS, &st);
    ResetEvent(step_done);
    hr = pl_step(pl, renderer_node, (int)frames) == PL_OK ? S_OK : E_FAIL;
    LeaveCriticalSection(&cs);
    /* the new frame is there when the call returns, so the position already tells it */
    if (SUCCEEDED(hr)) WaitForSingleObject(step_done, STATE_WAIT_MS);
    if (SUCCEEDED(hr))
    {
        EnterCriticalSection(&cs);
        pl_get_state(pl, STATE_WAIT_MS, &st);
        if (state == State_Running) hr = S_OK;
        state = state == State_Stopped ? State_Stopped : State_Paused;
        LeaveCriticalSection(&cs);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::CancelStep()
{
    /* a step completes before Step returns: nothing is left to cancel */
    return S_OK;
}

/* ---- Basic video: what the renderer's input takes, and the rectangles of the picture ---- */

HRESULT FilterGraph::VideoFormat(VIDEOINFOHEADER *vih)
{
    AM_MEDIA_TYPE mt;
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (!r) return hr;
    memset(vih, 0, sizeof(*vih));
    if (SUCCEEDED(r->Pin(0)->ConnectionMediaType(&mt)))
    {
        if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
            *vih = *(const VIDEOINFOHEADER *)mt.pbFormat;
        FreeMediaType(&mt);
    }
    r->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_AvgTimePerFrame(REFTIME *t)
{
    VIDEOINFOHEADER vih;
    HRESULT hr;
    if (!t) return E_POINTER;
    if (FAILED(hr = VideoFormat(&vih))) return hr;
    *t = vih.AvgTimePerFrame / 1e7;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_BitRate(LONG *v)
{
    VIDEOINFOHEADER vih;
    HRESULT hr;
    if (!v) return E_POINTER;
    if (FAILED(hr = VideoFormat(&vih))) return hr;
    *v = vih.dwBitRate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_BitErrorRate(LONG *v)
{
    VIDEOINFOHEADER vih;
    HRESULT hr;
    if (!v) return E_POINTER;
    if (FAILED(hr = VideoFormat(&vih))) return hr;
    *v = vih.dwBitErrorRate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetSourcePosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    LONG vw, vh;
    HRESULT hr;
    if (!l || !t || !w || !h) return E_POINTER;
    if (FAILED(hr = GetVideoSize(&vw, &vh))) return hr;
    EnterCriticalSection(&cs);
    RECT rc = source_rect;
    LeaveCriticalSection(&cs);
    if (IsRectEmpty(&rc)) SetRect(&rc, 0, 0, vw, vh);
    *l = rc.left;
    *t = rc.top;
    *w = rc.right - rc.left;
    *h = rc.bottom - rc.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetSourcePosition(LONG l, LONG t, LONG w, LONG h)
{
    LONG vw, vh;
    HRESULT hr;
    if (FAILED(hr = GetVideoSize(&vw, &vh))) return hr;
    /* a part of the picture */
    if (l < 0 || t < 0 || w <= 0 || h <= 0 || l + w > vw || t + h > vh) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    SetRect(&source_rect, l, t, l + w, t + h);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetDefaultSourcePosition()
{
    HRESULT hr = NoVideo();
    if (FAILED(hr)) return hr;
    EnterCriticalSection(&cs);
    SetRectEmpty(&source_rect);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::IsUsingDefaultSource()
{
    LONG l, t, w, h, vw, vh;
    HRESULT hr;
    if (FAILED(hr = GetSourcePosition(&l, &t, &w, &h)) || FAILED(hr = GetVideoSize(&vw, &vh))) return hr;
    return !l && !t && w == vw && h == vh ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetDestinationPosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    HRESULT hr;
    HWND wnd;
    RECT rc;
    if (!l || !t || !w || !h) return E_POINTER;
    if (!(wnd = VideoHwnd(&hr))) return hr;
    EnterCriticalSection(&cs);
    rc = dest_rect;
    LeaveCriticalSection(&cs);
    if (IsRectEmpty(&rc)) GetClientRect(wnd, &rc);
    *l = rc.left;
    *t = rc.top;
    *w = rc.right - rc.left;
    *h = rc.bottom - rc.top;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetDestinationPosition(LONG l, LONG t, LONG w, LONG h)
{
    HRESULT hr = NoVideo();
    if (FAILED(hr)) return hr;
    if (w <= 0 || h <= 0) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    SetRect(&dest_rect, l, t, l + w, t + h);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetDefaultDestinationPosition()
{
    HRESULT hr = NoVideo();
    if (FAILED(hr)) return hr;
    EnterCriticalSection(&cs);
    SetRectEmpty(&dest_rect);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::IsUsingDefaultDestination()
{
    HRESULT hr = NoVideo();
    if (FAILED(hr)) return hr;
    EnterCriticalSection(&cs);
    bool is_default = IsRectEmpty(&dest_rect);
    LeaveCriticalSection(&cs);
    return is_default ? S_OK : S_FALSE;
}

/* edges: 0 left, 1 top, 2 width, 3 height */
HRESULT FilterGraph::GetRectEdge(bool destination, int edge, LONG *v)
{
    LONG r[4];
    HRESULT hr;
    if (!v) return E_POINTER;
    hr = destination ? GetDestinationPosition(&r[0], &r[1], &r[2], &r[3]) : GetSourcePosition(&r[0], &r[1], &r[2], &r[3]);
    if (FAILED(hr)) return hr;
    *v = r[edge];
    return S_OK;
}

HRESULT FilterGraph::PutRectEdge(bool destination, int edge, LONG v)
{
    LONG r[4];
    HRESULT hr;
    hr = destination ? GetDestinationPosition(&r[0], &r[1], &r[2], &r[3]) : GetSourcePosition(&r[0], &r[1], &r[2], &r[3]);
    if (FAILED(hr)) return hr;
    r[edge] = v;
    return destination ? SetDestinationPosition(r[0], r[1], r[2], r[3]) : SetSourcePosition(r[0], r[1], r[2], r[3]);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetVideoPaletteEntries(LONG start, LONG count, LONG *ret, LONG *entries)
{
    HRESULT hr;
    if (!ret || !entries) return E_POINTER;
    *ret = 0;
    if (FAILED(hr = NoVideo())) return hr;
    /* the renderer shows true-colour pictures only */
    return VFW_E_NO_PALETTE_AVAILABLE;
}

/* the picture shown while paused, as a packed DIB: a BITMAPINFOHEADER and 32-bit rows */
HRESULT STDMETHODCALLTYPE FilterGraph::GetCurrentImage(LONG *size, LONG *image)
{
    HRESULT hr;
    GraphFilter *r;
    LONG w = 0, h = 0;
    if (!size) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    EnterCriticalSection(&cs);
    bool paused = state == State_Paused;
    LeaveCriticalSection(&cs);
    if (!paused)
    {
        r->Release();
        return VFW_E_NOT_PAUSED;
    }
    for (int i = 0; i < 100 && !w; i++)
    {
        r->Window()->FrameSize(&w, &h);
        if (!w) Sleep(10);
    }
    LONG need = (LONG)sizeof(BITMAPINFOHEADER) + w * h * 4;
    if (!w)
        hr = VFW_E_NOT_PAUSED;   /* no picture came */
    else if (!image)
        *size = need;
    else if (*size < need)
        hr = E_OUTOFMEMORY;
    else
    {
        BITMAPINFOHEADER *bih = (BITMAPINFOHEADER *)image;
        memset(bih, 0, sizeof(*bih));
        bih->biSize = sizeof(*bih);
        bih->biWidth = w;
        bih->biHeight = h;
        bih->biPlanes = 1;
        bih->biBitCount = 32;
        bih->biCompression = BI_RGB;
        bih->biSizeImage = w * h * 4;
        if (!r->Window()->CopyFrame((BYTE *)(bih + 1), w, h)) hr = VFW_E_NOT_PAUSED;
        else *size = need;
    }
    r->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetPreferredAspectRatio(LONG *x, LONG *y)
{
    LONG w, h, a, b;
    HRESULT hr;
    if (!x || !y) return E_POINTER;
    if (FAILED(hr = GetVideoSize(&w, &h))) return hr;
    /* square pixels: the picture's own proportions, reduced */
    for (a = w, b = h; b;)
    {
        LONG t = a % b;
        a = b;
        b = t;
    }
    *x = a ? w / a : w;
    *y = a ? h / a : h;
    return S_OK;
}

/* ---- Basic audio: the sound renderer's volume and balance, in the pipeline ---- */

GraphFilter *FilterGraph::AudioRenderer(HRESULT *hr)
{
    GraphFilter *found = NULL;
    EnterCriticalSection(&cs);
    for (int i = 0; i < filter_count && !found; i++)
    {
        GraphFilter *gf;
        if (FAILED(filters[i]->QueryInterface(IID_IGraphFilter, (void **)&gf))) continue;
        if (gf->Type() == GF_AUDIO_RENDERER && gf->Pin(0)->Connected())
            found = gf;
        else
            gf->Release();
    }
    LeaveCriticalSection(&cs);
    /* no filter of the graph takes a volume, as the graph on Windows answers */
    *hr = found ? S_OK : E_NOTIMPL;
    return found;
}

static double gain_of(LONG volume) { return volume <= -10000 ? 0.0 : pow(10.0, volume / 2000.0); }
static double pan_of(LONG balance)
{
    double attenuated = 1.0 - pow(10.0, -abs(balance) / 2000.0);
    if (abs(balance) >= 10000) attenuated = 1.0;
    return balance < 0 ? -attenuated : attenuated;
}

void FilterGraph::ApplyAudio()
{
    if (pl && audio_node >= 0) pl_set_audio(pl, audio_node, gain_of(volume), pan_of(balance));
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Volume(LONG v)
{
    HRESULT hr;
    GraphFilter *r = AudioRenderer(&hr);
    if (!r) return hr;
    r->Release();
    if (v < -10000 || v > 0) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    volume = v;
    ApplyAudio();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Volume(LONG *v)
{
    HRESULT hr;
    GraphFilter *r;
    double gain, pan;
    if (!v) return E_POINTER;
    if (!(r = AudioRenderer(&hr))) return hr;
    r->Release();
    EnterCriticalSection(&cs);
    *v = volume;
    /* as the pipeline has it, once there is one */
    if (pl && audio_node >= 0 && pl_get_audio(pl, audio_node, &gain, &pan) == PL_OK)
        *v = gain <= 0.00001 ? -10000 : (LONG)floor(2000.0 * log10(gain) + 0.5);
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_Balance(LONG b)
{
    HRESULT hr;
    GraphFilter *r = AudioRenderer(&hr);
    if (!r) return hr;
    r->Release();
    if (b < -10000 || b > 10000) return E_INVALIDARG;
    EnterCriticalSection(&cs);
    balance = b;
    ApplyAudio();
    LeaveCriticalSection(&cs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::get_Balance(LONG *b)
{
    HRESULT hr;
    GraphFilter *r;
    double gain, pan;
    if (!b) return E_POINTER;
    if (!(r = AudioRenderer(&hr))) return hr;
    r->Release();
    EnterCriticalSection(&cs);
    *b = balance;
    if (pl && audio_node >= 0 && pl_get_audio(pl, audio_node, &gain, &pan) == PL_OK)
    {
        double kept = 1.0 - fabs(pan);
        LONG db = kept <= 0.00001 ? 10000 : (LONG)floor(-2000.0 * log10(kept) + 0.5);
        *b = pan < 0 ? -db : db;
    }
    LeaveCriticalSection(&cs);
    return S_OK;
}
