// The output settings dialog: output type, audio format, frame size, colour depth and frame rate.
#include "sequora.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const typeNames[] = {"ｵｰﾃﾞｨｵ+ﾋﾞﾃﾞｵ", "ｵｰﾃﾞｨｵ", "ﾋﾞﾃﾞｵ"};
static const char *const channelNames[] = {"ﾓﾉﾗﾙ", "ｽﾃﾚｵ"};
const char *const bitsNames[] = {"8", "16"};
const char *const rateNames[] = {"8000", "11025", "22050", "44100"};
const char *const depthNames[] = {"16", "24", "32"};

static void FillList(HWND dialog, int id, const char *const *names, int count, int selected)
{
    for (int i = 0; i < count; i++) SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, (LPARAM)names[i]);
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, selected, 0);
}

static void EnableGroups(HWND dialog, int type)
{
    static const int audio[] = {IDC_CHANNELS, IDC_BITS, IDC_RATE};
    static const int video[] = {IDC_WIDTH, IDC_HEIGHT, IDC_DEPTH};
    for (int id : audio) EnableWindow(GetDlgItem(dialog, id), type != 2);
    for (int id : video) EnableWindow(GetDlgItem(dialog, id), type != 1);
}

static int Selected(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
}

// The frame rate as typed: only a text with a '.' counts, and more than seven decimals are cut to six. A
// rate that is no number, not above 0 or above MAX_FRAME_RATE is not taken either.
bool ReadFrameRate(const char *text, double *fps)
{
    char buffer[16];
    lstrcpynA(buffer, text, sizeof buffer);
    char *point = strchr(buffer, '.');
    if (!point) return false;
    if (strlen(point + 1) > 7) point[7] = 0;
    double value = atof(buffer);
    if (!(value > 0 && value <= MAX_FRAME_RATE)) return false;
    *fps = value;
    return true;
}

static void ReadDialog(HWND dialog)
{
    settings.type = Selected(dialog, IDC_TYPE);
    settings.channels = Selected(dialog, IDC_CHANNELS);
    settings.bits = Selected(dialog, IDC_BITS);
    settings.rate = Selected(dialog, IDC_RATE);
    settings.depth = Selected(dialog, IDC_DEPTH);
    char text[16];
    GetDlgItemTextA(dialog, IDC_WIDTH, text, sizeof text);
    settings.width = atoi(text);
    GetDlgItemTextA(dialog, IDC_HEIGHT, text, sizeof text);
    settings.height = atoi(text);
    GetDlgItemTextA(dialog, IDC_FPS, text, sizeof text);
    ReadFrameRate(text, &settings.fps);
}

static INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        FillList(dialog, IDC_TYPE, typeNames, 3, settings.type);
        FillList(dialog, IDC_CHANNELS, channelNames, 2, settings.channels);
        FillList(dialog, IDC_BITS, bitsNames, 2, settings.bits);
        FillList(dialog, IDC_RATE, rateNames, 4, settings.rate);
        FillList(dialog, IDC_DEPTH, depthNames, 3, settings.depth);
        SendDlgItemMessageA(dialog, IDC_WIDTHSPIN, UDM_SETRANGE32, 1, 4096);
        SendDlgItemMessageA(dialog, IDC_HEIGHTSPIN, UDM_SETRANGE32, 1, 2048);
        char text[64];
        snprintf(text, sizeof text, "%d", settings.width);
        SetDlgItemTextA(dialog, IDC_WIDTH, text);
        snprintf(text, sizeof text, "%d", settings.height);
        SetDlgItemTextA(dialog, IDC_HEIGHT, text);
        snprintf(text, sizeof text, "%f", settings.fps);
        SetDlgItemTextA(dialog, IDC_FPS, text);
        static const int edits[] = {IDC_WIDTH, IDC_HEIGHT, IDC_FPS};
        for (int id : edits) SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, 16, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_TYPE:
            if (HIWORD(wParam) == CBN_SELCHANGE) EnableGroups(dialog, Selected(dialog, IDC_TYPE));
            return TRUE;
        case IDOK:
            ReadDialog(dialog);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void ShowSettingsDialog()
{
    DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_SETTINGS), mainWindow, SettingsDialogProc, 0);
}
