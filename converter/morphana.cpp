// Morphana: start, the input file, the output form and encoders, the save command, graph events, close.
#include "morphana.h"
#include "progress.h"
#include "samefile.h"
#include <stdio.h>
#include <string.h>

const char appName[] = "Morphana";
static const char convertingPrefix[] = "変換中・・・ ";

char inputPath[MAX_PATH];
char outputPath[MAX_PATH];
bool aviForm;
int OutputKind;
int pcmPosition;
CompressorList encoderLists[2];
HWND mainDialog, saveButton, qualityTrackbar;

static HWND videoControls[4];        // quality frame, trackbar, video encoder frame, video encoder combo
static HWND audioCombo, videoCombo;
static int argumentCount;            // 1 while the first argument waits for the first showing
static char firstArgument[MAX_PATH];

// Save dialog filter and extension of each output kind.
static const char *const kindFilters[] = {
    "ｳｨﾝﾄﾞｳｽﾞ ｵｰﾃﾞｨｵ ﾌｧｲﾙ (*.wma)\0*.wma\0ﾌｧｲﾙ (*.*)\0*.*\0",
    "MPEG Layer-3 ﾌｧｲﾙ (*.mp3)\0*.mp3\0ﾌｧｲﾙ (*.*)\0*.*\0",
    "ｳｪｰﾌﾞﾌｧｲﾙ (*.wav)\0*.wav\0ﾌｧｲﾙ (*.*)\0*.*\0",
    "AVIﾌｧｲﾙ (*.avi)\0*.avi\0ﾌｧｲﾙ (*.*)\0*.*\0",
    "ﾌｧｲﾙ (*.*)\0*.*\0",
};
// Any other encoder still writes through WavDest, which always makes a RIFF WAVE file.
static const char *const kindExtensions[] = {".wma", ".mp3", ".wav", ".avi", ".wav"};

void UpdateCaption(const char *prefix)
{
    char full[MAX_PATH + 300];
    char title[256];
    snprintf(full, sizeof full, "%s%s  <%s>", prefix, FileNamePart(inputPath), appName);
    CopyText(title, full, sizeof title);
    SendMessageA(mainDialog, WM_SETTEXT, 0, (LPARAM)title);
}

static void EnableVideoControls(BOOL enable)
{
    for (HWND control : videoControls) EnableWindow(control, enable);
}

// The first word of the command line, quoted or not.
static void TakeFirstArgument(const char *commandLine)
{
    const char *p = commandLine ? commandLine : "";
    while (*p == ' ' || *p == '\t') p++;
    char word[MAX_PATH];
    int n = 0;
    bool quoted = false;
    for (; *p; p = CharNextA(p)) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (*p == ' ' || *p == '\t')) break;
        const char *next = CharNextA(p);
        if (n + (next - p) > (int)sizeof word - 1) break;
        for (const char *c = p; c < next; c++) word[n++] = *c;
    }
    word[n] = 0;
    argumentCount = n > 0 ? 1 : 0;
    CopyText(firstArgument, word, sizeof firstArgument);
}

// ---- start ---------------------------------------------------------------------------------------

static BOOL InitializeDialog(HWND dialog)
{
    mainDialog = dialog;
    if (FAILED(CoInitialize(NULL))) {
        MessageBoxA(dialog, "COM の初期化に失敗しました", appName, MB_OK);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return FALSE;
    }
    InitCommonControls();
    videoControls[0] = GetDlgItem(dialog, IDC_QUALITYFRAME);
    videoControls[1] = GetDlgItem(dialog, IDC_QUALITY);
    videoControls[2] = GetDlgItem(dialog, IDC_VIDEOFRAME);
    videoControls[3] = GetDlgItem(dialog, IDC_VIDEOENCODER);
    audioCombo = GetDlgItem(dialog, IDC_AUDIOENCODER);
    videoCombo = videoControls[3];
    qualityTrackbar = videoControls[1];
    saveButton = GetDlgItem(dialog, IDC_SAVE);

    SendMessageA(qualityTrackbar, TBM_SETTICFREQ, 50, 0);
    SendMessageA(qualityTrackbar, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageA(qualityTrackbar, TBM_SETPOS, TRUE, 85);

    EnableVideoControls(FALSE);
    aviForm = false;
    SendDlgItemMessageA(dialog, IDC_AUDIOFORM, BM_SETCHECK, BST_CHECKED, 0);

    if (!EnumerateCompressors(&encoderLists[0], CLSID_AudioCompressorCategory)) {
        MessageBoxA(dialog, "オーディオ エンコーダを列挙できません", appName, MB_OK);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return FALSE;
    }
    if (!EnumerateCompressors(&encoderLists[1], CLSID_VideoCompressorCategory)) {
        MessageBoxA(dialog, "ビデオ エンコーダを列挙できません", appName, MB_OK);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return FALSE;
    }
    FillSortedCombo(&encoderLists[0], audioCombo, false, &pcmPosition);
    if (pcmPosition < 0) pcmPosition = 0;   // no "PCM": the AVI form falls back to "none"
    SendMessageA(audioCombo, CB_SETCURSEL, encoderLists[0].selection, 0);
    FillSortedCombo(&encoderLists[1], videoCombo, true, NULL);
    SendMessageA(videoCombo, CB_SETCURSEL, encoderLists[1].selection, 0);

    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPICON));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    return TRUE;
}

// ---- the input file ------------------------------------------------------------------------------

static void OpenInputFile()
{
    char name[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainDialog;
    ofn.lpstrFilter = "ﾒﾃﾞｨｱﾌｧｲﾙ (avi wmv wav wma asf mp3 mpg)\0*.wav;*.avi;*.wma;*.wmv;*.asf;*.mp3;*.mpg\0"
                      "ﾌｧｲﾙ (*.*)\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&ofn)) return;
    CopyText(inputPath, name, sizeof inputPath);
    UpdateCaption("");
}

static void DropInputFile(HDROP drop)
{
    char name[MAX_PATH] = "";
    DragQueryFileA(drop, 0, name, sizeof name);
    DragFinish(drop);
    CopyText(inputPath, name, sizeof inputPath);
    UpdateCaption("");
}

static void TakeArgumentAsInput()
{
    if (argumentCount < 1) return;
    argumentCount = 0;
    CopyText(inputPath, firstArgument, sizeof inputPath);
    UpdateCaption("");
}

// ---- the output form -----------------------------------------------------------------------------

static void ChooseAudioForm()
{
    aviForm = false;
    EnableVideoControls(FALSE);
}

static void ChooseAviForm()
{
    aviForm = true;
    EnableVideoControls(TRUE);
    SendMessageA(audioCombo, CB_SETCURSEL, pcmPosition, 0);
}

// ---- save ----------------------------------------------------------------------------------------

static int DecideOutputKind()
{
    if (aviForm) return KIND_AVI;
    char name[64] = "";
    SendMessageA(audioCombo, WM_GETTEXT, sizeof name, (LPARAM)name);
    if (strcmp(name, "WMAudio Encoder DMO") == 0) return KIND_WMA;
    if (strcmp(name, "MPEG Layer-3") == 0) return KIND_MP3;
    if (strcmp(name, "PCM") == 0) return KIND_WAV;
    return KIND_OTHER;
}

static void SaveConverted()
{
    if (!inputPath[0]) {
        MessageBoxA(mainDialog, "ファイルがありません", appName, MB_ICONINFORMATION);
        return;
    }
    encoderLists[0].selection = (int)SendMessageA(audioCombo, CB_GETCURSEL, 0, 0);
    encoderLists[1].selection = (int)SendMessageA(videoCombo, CB_GETCURSEL, 0, 0);
    if (encoderLists[0].selection < 0 || encoderLists[1].selection < 0) return;
    OutputKind = DecideOutputKind();

    char name[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainDialog;
    ofn.lpstrFilter = kindFilters[OutputKind];
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return;
    CopyText(outputPath, name, sizeof outputPath);

    // The extension comes first, so that the name compared is the name written.
    if (!strchr(outputPath, '.')) {
        if (strlen(outputPath) + strlen(kindExtensions[OutputKind]) >= sizeof outputPath) {
            MessageBoxA(mainDialog, "保存できません", appName, MB_OK);
            return;
        }
        strcat(outputPath, kindExtensions[OutputKind]);
    }
    if (SameFile(outputPath, inputPath)) {
        MessageBoxA(mainDialog, "読み込みファイルには保存できません", appName, MB_OK);
        return;
    }
    if (StartConversion()) return;
    ReleaseConversion();
    MessageBoxA(mainDialog, "保存できません", appName, MB_OK);
}

// ---- close ---------------------------------------------------------------------------------------

static void CloseProgram(HWND dialog)
{
    ReleaseCompressors(&encoderLists[0]);
    ReleaseCompressors(&encoderLists[1]);
    DestroyWindow(dialog);
    ReleaseConversion();
    mainDialog = NULL;
    CoUninitialize();
    PostQuitMessage(0);
}

static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return InitializeDialog(dialog);
    case WM_SHOWWINDOW:
        TakeArgumentAsInput();
        return TRUE;
    case WM_DROPFILES:
        DropInputFile((HDROP)wParam);
        return TRUE;
    case WM_GRAPHNOTIFY:
        OnGraphNotify();
        return TRUE;
    case WM_LBUTTONDOWN:   // the mouse is held while converting: a click on "中止" comes here
        return JobProgressClick(dialog, lParam);
    case WM_CLOSE:
        CloseProgram(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_OPEN:
            OpenInputFile();
            return TRUE;
        case IDC_AUDIOFORM:
            ChooseAudioForm();
            return TRUE;
        case IDC_AVIFORM:
            ChooseAviForm();
            return TRUE;
        case IDC_SAVE:
            SaveConverted();
            return TRUE;
        case IDC_EXIT:
        case IDM_EXIT:
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    TakeFirstArgument(commandLine);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
    if (!dialog) {
        // A start that failed has already said why and asked to quit.
        MSG quit;
        return PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE) ? (int)quit.wParam : 1;
    }
    ShowWindow(dialog, showCommand);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (mainDialog && IsDialogMessageA(mainDialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
