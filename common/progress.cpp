#include "progress.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>


static const UINT_PTR updateTimer = 1, closeTimer = 2;
static HWND progressWindow;
static IMediaSeeking *seeking;
static DWORD startTick;
static void (*onStop)();
static char recordingFile[MAX_PATH];   // a recording: its file, whose size is shown

// "h:mm:ss" or "m:ss" of a number of seconds, after a label.
static void SetTimeText(const char *label, LONGLONG s, const char *after = "")
{
    char text[64];
    if (s >= 3600)
        snprintf(text, sizeof text, "%s %d:%02d:%02d%s", label, (int)(s / 3600), (int)(s / 60 % 60), (int)(s % 60), after);
    else
        snprintf(text, sizeof text, "%s %d:%02d%s", label, (int)(s / 60), (int)(s % 60), after);
    // a control is redrawn only when what it shows changes
    char shown[64] = "";
    GetDlgItemTextA(progressWindow, IDC_JOBLEFT, shown, sizeof shown);
    if (strcmp(shown, text)) SetDlgItemTextA(progressWindow, IDC_JOBLEFT, text);
}

static void SetRemaining(LONGLONG milliseconds)
{
    SetTimeText("残り", (milliseconds + 999) / 1000);
}

// A recording: the time since it started and its file's size.
static void UpdateRecording()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    char size[32] = "";
    if (GetFileAttributesExA(recordingFile, GetFileExInfoStandard, &data))
        snprintf(size, sizeof size, "  %.1f MB", (((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow) / 1048576.0);
    SetTimeText("経過", (GetTickCount() - startTick) / 1000, size);
}

// Position over duration; the time left from the pace so far.
static void Update()
{
    if (recordingFile[0]) {
        UpdateRecording();
        return;
    }
    LONGLONG now = 0, length = 0;
    if (!seeking || FAILED(seeking->GetDuration(&length)) || length <= 0 || FAILED(seeking->GetCurrentPosition(&now)))
        return;
    if (now > length) now = length;
    if (now < 0) now = 0;
    WPARAM percent = (WPARAM)(now * 100 / length);
    if (SendDlgItemMessageA(progressWindow, IDC_JOBBAR, PBM_GETPOS, 0, 0) != (LRESULT)percent)
        SendDlgItemMessageA(progressWindow, IDC_JOBBAR, PBM_SETPOS, percent, 0);
    DWORD elapsed = GetTickCount() - startTick;
    if (now > 0 && elapsed >= 1000) SetRemaining((LONGLONG)elapsed * (length - now) / now);
}

static void Stop()
{
    void (*stop)() = onStop;
    onStop = NULL;
    if (stop) stop();
}

static LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == closeTimer) DestroyWindow(window);
        else Update();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_JOBSTOP) Stop();
        return 0;
    case WM_CLOSE:   // the close box stops the job as the button does
        Stop();
        return 0;
    case WM_DESTROY:
        if (window == progressWindow) progressWindow = NULL;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND Child(const char *cls, const char *text, DWORD style, int x, int y, int w, int h, int id)
{
    HWND c = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, progressWindow,
                             (HMENU)(INT_PTR)id, GetModuleHandleA(NULL), NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
    return c;
}

// The window with its bar, its line of text and its stop button, beside owner.
static bool CreateProgressWindow(HWND owner)
{
    static bool registered;
    HideJobProgress(false);
    if (!registered) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ProgressProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.hCursor = LoadCursor(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        wc.lpszClassName = jobProgressClass;
        registered = RegisterClassA(&wc) != 0;
        if (!registered) return false;
    }
    // below the owner's window, as wide as a dialog's line
    RECT frame = {0, 0, 320, 64}, place;
    AdjustWindowRectEx(&frame, WS_CAPTION, FALSE, WS_EX_TOOLWINDOW);
    GetWindowRect(owner, &place);
    char title[128] = "";
    GetWindowTextA(owner, title, sizeof title);
    progressWindow = CreateWindowExA(WS_EX_TOOLWINDOW, jobProgressClass, title, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                     place.left, place.bottom, frame.right - frame.left, frame.bottom - frame.top,
                                     owner, NULL, GetModuleHandleA(NULL), NULL);
    if (!progressWindow) return false;
    HWND bar = Child(PROGRESS_CLASS, "", 0, 8, 8, 304, 18, IDC_JOBBAR);
    SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    Child("STATIC", "残り --:--", SS_LEFT, 8, 36, 200, 20, IDC_JOBLEFT);
    Child("BUTTON", "中止", BS_PUSHBUTTON, 232, 34, 80, 24, IDC_JOBSTOP);
    startTick = GetTickCount();
    SetTimer(progressWindow, updateTimer, 250, NULL);
    return true;
}

bool ShowJobProgress(HWND owner, IUnknown *graph, void (*stop)())
{
    // SUITE_JOB_PROGRESS=0 runs jobs without the window, for measuring what it costs (bench/)
    char setting[4] = "";
    if (GetEnvironmentVariableA("SUITE_JOB_PROGRESS", setting, sizeof setting) == 1 && setting[0] == '0') return false;
    if (!CreateProgressWindow(owner)) return false;
    if (FAILED(graph->QueryInterface(IID_IMediaSeeking, (void **)&seeking))) seeking = NULL;
    onStop = stop;
    ShowWindow(progressWindow, SW_SHOWNOACTIVATE);
    return true;
}

bool ShowRecordingProgress(HWND owner, const char *path)
{
    if (!CreateProgressWindow(owner)) return false;
    lstrcpynA(recordingFile, path, sizeof recordingFile);
    // no share of a whole to show, and the program's own control stops a recording
    ShowWindow(GetDlgItem(progressWindow, IDC_JOBBAR), SW_HIDE);
    ShowWindow(GetDlgItem(progressWindow, IDC_JOBSTOP), SW_HIDE);
    UpdateRecording();
    ShowWindow(progressWindow, SW_SHOWNOACTIVATE);
    return true;
}

void HideJobProgress(bool completed)
{
    onStop = NULL;
    recordingFile[0] = 0;
    if (seeking) seeking->Release();
    seeking = NULL;
    if (!progressWindow) return;
    KillTimer(progressWindow, updateTimer);
    if (completed) {
        SendDlgItemMessageA(progressWindow, IDC_JOBBAR, PBM_SETPOS, 100, 0);
        SetRemaining(0);
        EnableWindow(GetDlgItem(progressWindow, IDC_JOBSTOP), FALSE);
        SetTimer(progressWindow, closeTimer, 1000, NULL);   // it goes by itself
        progressWindow = NULL;
        return;
    }
    DestroyWindow(progressWindow);
    progressWindow = NULL;
}

bool JobProgressClick(HWND window, LPARAM point)
{
    if (!progressWindow || !onStop) return false;
    POINT p = {(short)LOWORD(point), (short)HIWORD(point)};
    RECT button;
    ClientToScreen(window, &p);
    GetWindowRect(GetDlgItem(progressWindow, IDC_JOBSTOP), &button);
    if (!PtInRect(&button, p)) return false;
    Stop();
    return true;
}
