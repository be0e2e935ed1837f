// Dubrix: start, the dialog's commands, the graph's events and the close.
#include "dubrix.h"
#include "progress.h"
#include <string.h>

const char appName[] = "Dubrix";

HWND replacerDialog;
char aviPath[MAX_PATH];
char wavPath[MAX_PATH];
char outputPath[MAX_PATH];
CompressorList compressorList;
int compressorIndex;
IGraphBuilder *graphBuilder;
ICaptureGraphBuilder2 *captureBuilder;
IBaseFilter *sources[2];
IMediaEventEx *graphEvents;
IMediaControl *mediaControl;
HCURSOR savedCursor;
bool converting;

static bool comReady;

void Report(const char *text)
{
    MessageBoxA(replacerDialog, text, appName, MB_OK);
}

// Lets the user pick the AVI (0) or WAV (1) file and puts its path into the matching edit box.
static void BrowseFile(int which)
{
    static const char aviFilter[] = "AVIﾌｧｲﾙ (*.avi)\0*.avi\0";
    static const char wavFilter[] = "WAVﾌｧｲﾙ (*.wav)\0*.wav\0";
    char path[MAX_PATH] = "";
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = replacerDialog;
    ofn.lpstrFilter = which == 0 ? aviFilter : wavFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&ofn)) return;
    SendDlgItemMessageA(replacerDialog, which == 0 ? IDC_AVIPATH : IDC_WAVPATH, WM_SETTEXT, 0, (LPARAM)path);
}

// Takes the graph's queued events; the end of the run, good or bad, brings the dialog back.
static void HandleGraphEvents()
{
    LONG code;
    LONG_PTR param1, param2;
    while (graphEvents && SUCCEEDED(graphEvents->GetEvent(&code, &param1, &param2, 0))) {
        graphEvents->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE) {
            FinishConversion();
        } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
            AbortConversion(code == EC_ERRORABORT && OutputRefused((HRESULT)param1));
        }
    }
}

static bool InitReplacer(HWND dialog)
{
    replacerDialog = dialog;
    if (FAILED(CoInitialize(NULL))) {
        Report("COM の初期化に失敗しました");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return false;
    }
    comReady = true;
    HWND combo = GetDlgItem(dialog, IDC_COMPRESSOR);
    if (!EnumerateCompressorsIntoCombo(combo, compressorList.filters, CLSID_VideoCompressorCategory, false,
                                       &compressorList.selection)) {
        Report("ビデオコンプレッサを列挙できません");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return false;
    }
    compressorList.count = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    SendMessageA(combo, CB_SETCURSEL, compressorList.selection, 0);
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPICON));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    return true;
}

static void CloseReplacer(HWND dialog)
{
    ReleaseCompressors(&compressorList);
    // A conversion cut short leaves no unfinished file behind.
    bool unfinished = converting;
    ReleaseConversion();
    LeaveConvertingState();
    if (unfinished) RemoveUnfinishedOutput();
    DestroyWindow(dialog);
    if (comReady) CoUninitialize();
    comReady = false;
    PostQuitMessage(0);
}

static INT_PTR CALLBACK ReplacerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitReplacer(dialog) ? TRUE : FALSE;
    case WM_COMMAND:
        // The whole wParam: only clicks act, edit and combo notifications do not.
        switch (wParam) {
        case IDC_RUN:
            compressorIndex = (int)SendDlgItemMessageA(dialog, IDC_COMPRESSOR, CB_GETCURSEL, 0, 0);
            if (!StartConversion()) {
                Report("変換できません");
                ReleaseConversion();
            }
            return TRUE;
        case IDC_QUIT:
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        case IDC_BROWSEAVI:
            BrowseFile(0);
            return TRUE;
        case IDC_BROWSEWAV:
            BrowseFile(1);
            return TRUE;
        }
        return FALSE;
    case WM_GRAPHEVENT:
        HandleGraphEvents();
        return TRUE;
    case WM_LBUTTONDOWN:   // the mouse is held while converting: a click on "中止" comes here
        return JobProgressClick(dialog, lParam);
    case WM_CLOSE:
        CloseReplacer(dialog);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_REPLACER), NULL, ReplacerDialogProc, 0);
    if (dialog) ShowWindow(dialog, show);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
