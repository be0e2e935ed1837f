// The preview: the playback graph in the video area, the position slider, the transport buttons,
// the start and end marks, graph events and the release of the media.
#include "snipwell.h"

void SetControlsEnabled(bool enabled)
{
    EnableWindow(cutter.videoArea, enabled);
    EnableWindow(cutter.slider, enabled);
    for (int id = IDC_PLAY; id <= IDC_SAVE; id++) EnableWindow(GetDlgItem(cutter.dialog, id), enabled);
}

PlaybackState GetPlaybackState()
{
    if (!cutter.control) return NoMedia;
    OAFilterState state = 0;
    cutter.control->GetState(0, &state);
    if (state == State_Running) return Running;
    if (state == State_Paused) return Paused;
    return Stopped;
}

LONGLONG SliderFromTime(LONGLONG t)
{
    return cutter.duration ? t * 1000 / cutter.duration : 0;
}

LONGLONG TimeFromSlider(int pos)
{
    return (LONGLONG)pos * cutter.duration / 1000;
}

// Fits the picture into the video area, keeping its aspect ratio, centred with a border of about a pixel.
static void FitVideo(LONG w, LONG h)
{
    RECT area;
    GetClientRect(cutter.videoArea, &area);
    LONG R = area.right, B = area.bottom, W, H;
    if (w <= 0 || h <= 0 || R <= 0 || B <= 0) return;
    if ((double)h / B >= (double)w / R) {
        W = w * B / h - 2;
        H = B - 2;
    } else {
        W = R - 2;
        H = h * R / w - 2;
    }
    cutter.videoWindow->SetWindowPosition((R - W) / 2, (B - H) / 2, W, H);
}

// Joins the graph's video window to the video area; false when it cannot be placed there.
static bool AttachVideoWindow()
{
    if (FAILED(cutter.videoWindow->put_Owner((OAHWND)cutter.videoArea)) ||
        FAILED(cutter.videoWindow->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS))) {
        ReleaseSlot(&cutter.videoWindow);
        return false;
    }
    IBasicVideo *basicVideo = NULL;
    if (FAILED(cutter.graph->QueryInterface(IID_IBasicVideo, (void **)&basicVideo))) {
        ReleaseSlot(&cutter.videoWindow);
        return false;
    }
    LONG w = 0, h = 0;
    basicVideo->GetVideoSize(&w, &h);
    basicVideo->Release();
    FitVideo(w, h);
    return true;
}

static void SetUpSlider()
{
    SendMessageA(cutter.slider, TBM_SETTICFREQ, 250, 0);
    SendMessageA(cutter.slider, TBM_SETRANGEMIN, TRUE, 0);
    SendMessageA(cutter.slider, TBM_SETRANGEMAX, TRUE, 1000);
    SendMessageA(cutter.slider, TBM_SETSELSTART, TRUE, 0);
    SendMessageA(cutter.slider, TBM_SETSELEND, TRUE, 1000);
}

static bool BuildGraph()
{
    ReleaseSlot(&cutter.graph);
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                (void **)&cutter.graph)))
        return false;
    WCHAR path[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, cutter.inputPath, -1, path, MAX_PATH)) return false;
    if (FAILED(cutter.graph->RenderFile(path, NULL))) return false;

    ReleaseSlot(&cutter.videoWindow);
    if (FAILED(cutter.graph->QueryInterface(IID_IVideoWindow, (void **)&cutter.videoWindow))) return false;
    if (FAILED(cutter.videoWindow->put_MessageDrain((OAHWND)cutter.dialog))) {
        // No video renderer in the graph: a sound only.
        cutter.audioOnly = true;
        ReleaseSlot(&cutter.videoWindow);
    } else {
        cutter.audioOnly = false;
        if (!AttachVideoWindow()) return false;
    }

    ReleaseSlot(&cutter.seeking);
    if (FAILED(cutter.graph->QueryInterface(IID_IMediaSeeking, (void **)&cutter.seeking))) return false;
    cutter.duration = 0;
    if (FAILED(cutter.seeking->GetDuration(&cutter.duration)) || cutter.duration == 0) return false;

    ReleaseSlot(&cutter.events);
    if (FAILED(cutter.graph->QueryInterface(IID_IMediaEventEx, (void **)&cutter.events))) return false;
    if (FAILED(cutter.events->SetNotifyWindow((OAHWND)cutter.dialog, WM_GRAPHNOTIFY, 0))) return false;

    ReleaseSlot(&cutter.control);
    if (FAILED(cutter.graph->QueryInterface(IID_IMediaControl, (void **)&cutter.control))) return false;
    ReleaseSlot(&cutter.frameStep);
    if (FAILED(cutter.graph->QueryInterface(IID_IVideoFrameStep, (void **)&cutter.frameStep))) return false;

    cutter.startMark = 0;
    cutter.endMark = cutter.duration;
    SetUpSlider();
    cutter.control->Pause();
    return true;
}

bool BuildPreviewGraph()
{
    if (!cutter.inputPath[0]) {
        ShowMessage("ファイルがありません");
        return true;
    }
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    bool built = BuildGraph();
    SetCursor(previous);
    return built;
}

void ReleaseMedia()
{
    KillTimer(cutter.dialog, PLAY_TIMER);
    if (cutter.control) cutter.control->Stop();
    SendMessageA(cutter.slider, TBM_SETPOS, TRUE, 0);
    if (cutter.videoWindow) {
        cutter.videoWindow->put_Visible(OAFALSE);
        cutter.videoWindow->put_Owner(0);
    }
    for (int i = 0; i < 2; i++) {
        AM_MEDIA_TYPE *type = &cutter.streams[i].mediaType;
        if (type->pbFormat) CoTaskMemFree(type->pbFormat);
        type->pbFormat = NULL;
        type->cbFormat = 0;
        if (type->pUnk) type->pUnk->Release();
        type->pUnk = NULL;
    }
    ReleaseSlot(&cutter.videoWindow);
    ReleaseSlot(&cutter.seeking);
    ReleaseSlot(&cutter.events);
    ReleaseSlot(&cutter.control);
    ReleaseSlot(&cutter.frameStep);
    ReleaseSlot(&cutter.graph);
    ReleaseSlot(&cutter.renderEngine);
    ReleaseSlot(&cutter.timeline);
}

void SyncSlider()
{
    if (!cutter.seeking || !cutter.control || cutter.dragging) return;
    LONGLONG current = 0;
    cutter.seeking->GetCurrentPosition(&current);
    SendMessageA(cutter.slider, TBM_SETPOS, TRUE, (LPARAM)SliderFromTime(current));
}

void SeekFromSlider()
{
    if (!cutter.control || !cutter.seeking) return;
    int pos = (int)SendMessageA(cutter.slider, TBM_GETPOS, 0, 0);
    LONGLONG t = TimeFromSlider(pos);
    cutter.seeking->SetPositions(&t, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    if (GetPlaybackState() >= Paused) cutter.control->StopWhenReady();
}

void RestorePlayIcon()
{
    HANDLE current = (HANDLE)SendMessageA(cutter.buttons[0], BM_GETIMAGE, IMAGE_ICON, 0);
    if (current != cutter.playIcon) SendMessageA(cutter.buttons[0], BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.playIcon);
}

void TogglePlay()
{
    switch (GetPlaybackState()) {
    case Running:
        KillTimer(cutter.dialog, PLAY_TIMER);
        cutter.control->Pause();
        RestorePlayIcon();
        break;
    case Paused:
    case Stopped:
        SetTimer(cutter.dialog, PLAY_TIMER, 100, NULL);
        cutter.control->Run();
        SendMessageA(cutter.buttons[0], BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.pauseIcon);
        break;
    case NoMedia:
        break;
    }
}

void StopPlayback()
{
    if (!cutter.control) return;
    KillTimer(cutter.dialog, PLAY_TIMER);
    SkipToStart();
    cutter.control->StopWhenReady();
    RestorePlayIcon();
}

void SkipToStart()
{
    if (!cutter.seeking) return;
    LONGLONG current = 0;
    cutter.seeking->GetCurrentPosition(&current);
    LONGLONG target = current > cutter.startMark ? cutter.startMark : 0;
    cutter.seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    SyncSlider();
}

void StepFrame()
{
    if (!cutter.frameStep || FAILED(cutter.frameStep->CanStep(0, NULL))) return;
    KillTimer(cutter.dialog, PLAY_TIMER);
    cutter.frameStep->Step(1, NULL);
    SyncSlider();
    RestorePlayIcon();
}

void SetStartMark()
{
    if (!cutter.seeking || !cutter.control) return;
    LONGLONG current = 0;
    cutter.seeking->GetCurrentPosition(&current);
    cutter.startMark = current;
    SendMessageA(cutter.slider, TBM_SETSELSTART, TRUE, (LPARAM)SliderFromTime(current));
    cutter.seeking->SetPositions(&cutter.startMark, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    if (cutter.endMark <= cutter.startMark) {
        cutter.endMark = cutter.startMark;
        cutter.seeking->SetPositions(NULL, AM_SEEKING_NoPositioning, &cutter.endMark, AM_SEEKING_AbsolutePositioning);
    }
}

void SetEndMark()
{
    if (!cutter.seeking || !cutter.control) return;
    LONGLONG current = 0;
    cutter.seeking->GetCurrentPosition(&current);
    cutter.endMark = current;
    SendMessageA(cutter.slider, TBM_SETSELEND, TRUE, (LPARAM)SliderFromTime(current));
    // The end mark is the graph's stop position: playback ends there.
    cutter.seeking->SetPositions(NULL, AM_SEEKING_NoPositioning, &cutter.endMark, AM_SEEKING_AbsolutePositioning);
    if (cutter.startMark >= cutter.endMark) {
        cutter.startMark = cutter.endMark;
        cutter.seeking->SetPositions(&cutter.startMark, AM_SEEKING_AbsolutePositioning, NULL, AM_SEEKING_NoPositioning);
    }
}

void HandleGraphEvents()
{
    if (!cutter.events) return;
    LONG code;
    LONG_PTR param1, param2;
    bool complete = false;
    while (!complete && cutter.events->GetEvent(&code, &param1, &param2, 0) >= 0) {
        cutter.events->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE) complete = true;
    }
    if (complete && cutter.control) {
        KillTimer(cutter.dialog, PLAY_TIMER);
        cutter.control->StopWhenReady();
        SkipToStart();
        RestorePlayIcon();
    }
}
