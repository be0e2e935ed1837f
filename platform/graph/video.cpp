/* The graph's video window, basic video and frame step: those of its connected video renderer. */
#include "graph/filtergraph.h"
#include "glue/pipeline.h"

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

HRESULT FilterGraph::NoVideo()
{
    HRESULT hr;
    GraphFilter *r = VideoRenderer(&hr);
    if (r) r->Release();
    return r ? E_NOTIMPL : hr;
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

HRESULT STDMETHODCALLTYPE FilterGraph::put_BackgroundPalette(LONG palette) { return NoVideo() == E_NOTIMPL ? S_OK : NoVideo(); }

HRESULT STDMETHODCALLTYPE FilterGraph::get_BackgroundPalette(LONG *palette)
{
    HRESULT hr = NoVideo();
    if (!palette) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *palette = OAFALSE;
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
    if (hr != E_NOTIMPL) return hr;
    *color = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_BorderColor(LONG color) { HRESULT hr = NoVideo(); return hr == E_NOTIMPL ? S_OK : hr; }

HRESULT STDMETHODCALLTYPE FilterGraph::get_FullScreenMode(LONG *mode)
{
    HRESULT hr = NoVideo();
    if (!mode) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *mode = OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::put_FullScreenMode(LONG mode) { return NoVideo(); }

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

HRESULT STDMETHODCALLTYPE FilterGraph::HideCursor(LONG hide) { HRESULT hr = NoVideo(); return hr == E_NOTIMPL ? S_OK : hr; }

HRESULT STDMETHODCALLTYPE FilterGraph::IsCursorHidden(LONG *hidden)
{
    HRESULT hr = NoVideo();
    if (!hidden) return E_POINTER;
    if (hr != E_NOTIMPL) return hr;
    *hidden = OAFALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetVideoSize(LONG *width, LONG *height)
{
    HRESULT hr;
    GraphFilter *r;
    if (!width || !height) return E_POINTER;
    if (!(r = VideoRenderer(&hr))) return hr;
    r->Window()->GetSourceSize(width, height);
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

HRESULT STDMETHODCALLTYPE FilterGraph::GetSourcePosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    if (!l || !t) return E_POINTER;
    *l = *t = 0;
    return GetVideoSize(w, h);
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetDestinationPosition(LONG *l, LONG *t, LONG *w, LONG *h)
{
    HRESULT hr;
    HWND wnd;
    RECT rc;
    if (!l || !t || !w || !h) return E_POINTER;
    if (!(wnd = VideoHwnd(&hr))) return hr;
    GetClientRect(wnd, &rc);
    *l = *t = 0;
    *w = rc.right;
    *h = rc.bottom;
    return S_OK;
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
