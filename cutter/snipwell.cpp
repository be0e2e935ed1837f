// Snipwell: start, the main dialog and its commands, opening a file, and the orderly end.
#include "snipwell.h"
#include <stdio.h>
#include <string.h>
#include "textpath.h"

const char appName[] = "Snipwell";

CutterState cutter;

static HINSTANCE appInstance;
static char startArgument[MAX_PATH];   // first command-line argument, opened at the first showing
static bool startArgumentUsed;
static bool comInitialized;

void ShowMessage(const char *text)
{
    MessageBoxA(cutter.dialog, text, appName, MB_OK);
}

// The first word of the command line, quotes removed.
static void TakeFirstArgument(const char *commandLine)
{
    const char *p = commandLine ? commandLine : "";
    while (*p == ' ' || *p == '\t') p++;
    char word[MAX_PATH * 4];
    int n = 0;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (n < (int)sizeof word - 1) word[n++] = *p;
    }
    word[n] = 0;
    CopyText(startArgument, word, sizeof startArgument);
}

void OpenMedia(const char *path)
{
    const char *extension = ExtensionPart(path);
    if (!extension || (lstrcmpiA(extension, "avi") != 0 && lstrcmpiA(extension, "wav") != 0)) {
        ShowMessage("AVI,WAVファイル以外は対応していません");
        return;
    }
    CopyText(cutter.inputPath, path, sizeof cutter.inputPath);
    ReleaseMedia();
    if (!BuildPreviewGraph()) {
        ReleaseMedia();
        ShowMessage("読み込めません");
        return;
    }
    SetControlsEnabled(true);
    snprintf(cutter.captionText, sizeof cutter.captionText, "%s  <%s>", FileNamePart(cutter.inputPath), appName);
    SendMessageA(cutter.dialog, WM_SETTEXT, 0, (LPARAM)cutter.captionText);
}

static void OpenFromDialog()
{
    char name[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = cutter.dialog;
    ofn.lpstrFilter = "ﾒﾃﾞｨｱﾌｧｲﾙ (*.wav; *.avi)\0*.wav;*.avi\0"
                      "AVIﾌｧｲﾙ (*.avi)\0*.avi\0"
                      "WAVﾌｧｲﾙ (*.wav)\0*.wav\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameA(&ofn)) OpenMedia(name);
}

static void OpenDroppedFile(HDROP drop)
{
    char name[MAX_PATH] = "";
    if (DragQueryFileA(drop, 0, name, sizeof name)) OpenMedia(name);
    DragFinish(drop);
}

static HICON LoadProgramIcon(int id)
{
    return (HICON)LoadImageA(appInstance, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR);
}

static BOOL Initialise(HWND dialog)
{
    cutter.dialog = dialog;
    if (FAILED(CoInitialize(NULL))) {
        ShowMessage("COM の初期化に失敗しました");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return FALSE;
    }
    comInitialized = true;
    InitCommonControls();

    cutter.videoArea = GetDlgItem(dialog, IDC_VIDEOAREA);
    cutter.slider = GetDlgItem(dialog, IDC_SLIDER);
    for (int i = 0; i < 8; i++) cutter.buttons[i] = GetDlgItem(dialog, IDC_PLAY + i);

    cutter.playIcon = LoadProgramIcon(IDI_PLAY);
    cutter.pauseIcon = LoadProgramIcon(IDI_PAUSE);
    cutter.stopIcon = LoadProgramIcon(IDI_STOP);
    cutter.skipIcon = LoadProgramIcon(IDI_SKIPSTART);
    cutter.stepIcon = LoadProgramIcon(IDI_FRAMESTEP);
    SendDlgItemMessageA(dialog, IDC_PLAY, BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.playIcon);
    SendDlgItemMessageA(dialog, IDC_STOP, BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.stopIcon);
    SendDlgItemMessageA(dialog, IDC_SKIPSTART, BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.skipIcon);
    SendDlgItemMessageA(dialog, IDC_FRAMESTEP, BM_SETIMAGE, IMAGE_ICON, (LPARAM)cutter.stepIcon);

    SetControlsEnabled(false);

    if (!EnumerateCompressors(&cutter.videoCompressors, CLSID_VideoCompressorCategory)) {
        ShowMessage("ビデオコンプレッサを列挙できません");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return FALSE;
    }
    return TRUE;
}

static void Close(HWND dialog)
{
    ReleaseCompressors(&cutter.videoCompressors);
    ReleaseMedia();
    DestroyWindow(dialog);
    if (comInitialized) CoUninitialize();
    comInitialized = false;
    PostQuitMessage(0);
}

static BOOL OnCommand(HWND dialog, int id)
{
    switch (id) {
    case IDM_OPEN:
        OpenFromDialog();
        break;
    case IDM_EXIT:
    case IDC_QUIT:
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        break;
    case IDC_PLAY:
        TogglePlay();
        break;
    case IDC_STOP:
        StopPlayback();
        break;
    case IDC_SKIPSTART:
        SkipToStart();
        if (GetPlaybackState() >= Paused) cutter.control->StopWhenReady();
        break;
    case IDC_FRAMESTEP:
        StepFrame();
        break;
    case IDC_SETSTART:
        SetStartMark();
        break;
    case IDC_SETEND:
        SetEndMark();
        break;
    case IDC_SAVE:
        SaveSection();
        break;
    default:
        return FALSE;
    }
    return TRUE;
}

static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return Initialise(dialog);
    case WM_SHOWWINDOW:
        if (startArgument[0] && !startArgumentUsed) {
            startArgumentUsed = true;
            OpenMedia(startArgument);
        }
        return TRUE;
    case WM_DROPFILES:
        OpenDroppedFile((HDROP)wParam);
        return TRUE;
    case WM_TIMER:
        SyncSlider();
        return TRUE;
    case WM_GRAPHNOTIFY:
        HandleGraphEvents();
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    case WM_CLOSE:
        if (!StopCutToClose()) Close(dialog);
        return TRUE;
    case WM_HSCROLL:
        if (LOWORD(wParam) == TB_THUMBTRACK) cutter.dragging = true;
        else SeekFromSlider();
        return TRUE;
    default:
        cutter.dragging = false;
        return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    appInstance = instance;
    TakeFirstArgument(commandLine);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
    if (dialog && IsWindow(dialog)) ShowWindow(dialog, showCommand);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (cutter.dialog && IsDialogMessageA(cutter.dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
