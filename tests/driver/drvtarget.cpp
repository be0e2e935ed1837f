// A small window the driver's self-test steers: menu, edit, combo, trackbar, buttons, message box,
// open and save dialogs, dropped files. Every event is shown in the window and appended to a report
// file, so a test can check both what the window shows and what the program received.
//
// Arguments: [/report FILE] [/exit CODE] [words...]. The words go into the edit control and the title.
// At start it reports its working folder and, when set, the variable DRV_TARGET_NOTE.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "drvtarget.h"


static HWND main_wnd;
static char report_path[MAX_PATH];
static int exit_code = 7;

static void report(const char *what, const char *text)
{
    char line[2048];
    snprintf(line, sizeof line - 1, "%s: %s", what, text);
    SetDlgItemTextA(main_wnd, ID_STATUS, line);
    SendDlgItemMessageA(main_wnd, ID_LIST, LB_ADDSTRING, 0, (LPARAM)line);
    if (!report_path[0]) return;
    // Win32 file calls: the C library of a Winelib program takes Unix paths.
    HANDLE f = CreateFileA(report_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           0, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD done;
    lstrcatA(line, "\n");
    WriteFile(f, line, lstrlenA(line), &done, NULL);
    CloseHandle(f);
}

// Takes "/report FILE" and "/exit N" from the command line (split as the C runtime does); the other
// words go into the edit, joined by '|'.
static void parse_args(char *rest, size_t size)
{
    rest[0] = 0;
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; i++) {
        char word[MAX_PATH];
        if (!WideCharToMultiByte(CP_ACP, 0, argv[i], -1, word, sizeof word, NULL, NULL)) word[0] = 0;
        if (!strcmp(word, "/report") && i + 1 < argc) {
            WideCharToMultiByte(CP_ACP, 0, argv[++i], -1, report_path, sizeof report_path, NULL, NULL);
            continue;
        }
        if (!strcmp(word, "/exit") && i + 1 < argc) {
            WideCharToMultiByte(CP_ACP, 0, argv[++i], -1, word, sizeof word, NULL, NULL);
            exit_code = atoi(word);
            continue;
        }
        if (rest[0] && strlen(rest) + 1 < size) strcat(rest, "|");
        if (strlen(rest) + strlen(word) < size) strcat(rest, word);
    }
    LocalFree(argv);
}

static void open_files(void)
{
    char buf[4096] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = main_wnd;
    ofn.lpstrFilter = "メディア (*.avi;*.wav)\0*.avi;*.wav\0すべて (*.*)\0*.*\0";
    ofn.nFilterIndex = 2;
    ofn.lpstrFile = buf;
    ofn.nMaxFile = sizeof buf;
    ofn.lpstrTitle = "ファイルを開く";
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) {
        char why[32];
        snprintf(why, sizeof why, "cancel %u", (unsigned)CommDlgExtendedError());
        report("open", why);
        return;
    }
    // One name: a full path. Several: the folder, then each name, separated by NULs.
    char line[4096] = "";
    for (const char *p = buf; *p && strlen(line) + strlen(p) + 2 < sizeof line; p += strlen(p) + 1) {
        if (line[0]) strcat(line, "|");
        strcat(line, p);
    }
    report("open", line);
}

static void save_file(void)
{
    char buf[MAX_PATH] = "既定.wav";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = main_wnd;
    ofn.lpstrFilter = "WAV (*.wav)\0*.wav\0";
    ofn.lpstrFile = buf;
    ofn.nMaxFile = sizeof buf;
    ofn.lpstrDefExt = "wav";
    ofn.lpstrTitle = "名前を付けて保存";
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn)) {
        report("save", "cancel");
        return;
    }
    report("save", buf);
    HANDLE f = CreateFileA(buf, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD done;
        WriteFile(f, "RIFF", 4, &done, NULL);
        CloseHandle(f);
    }
}

static void ask(void)
{
    char text[512];
    GetDlgItemTextA(main_wnd, ID_EDIT, text, sizeof text);
    int answer = MessageBoxA(main_wnd, text, "確認ソ表", MB_YESNOCANCEL | MB_ICONQUESTION);
    char buf[32];
    snprintf(buf, sizeof buf, "%d", answer);
    report("answer", buf);
}

static void dropped(HDROP drop)
{
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    char line[4096];
    snprintf(line, sizeof line, "%u", count);
    for (UINT i = 0; i < count; i++) {
        char name[MAX_PATH];
        if (!DragQueryFileA(drop, i, name, sizeof name)) lstrcpyA(name, "?");
        if (strlen(line) + strlen(name) + 2 < sizeof line) {
            strcat(line, "|");
            strcat(line, name);
        }
    }
    POINT pt = {-1, -1};
    DragQueryPoint(drop, &pt);
    DragFinish(drop);
    report("drop", line);
    char where[64];
    snprintf(where, sizeof where, "%d,%d", (int)pt.x, (int)pt.y);
    report("drop-point", where);
}

static void create_controls(HWND hwnd, const char *words)
{
    HINSTANCE inst = GetModuleHandleA(NULL);
    HFONT font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    struct { const char *cls, *text; DWORD style; int id, x, y, w, h; } ctl[] = {
        {"EDIT", words, WS_BORDER | ES_AUTOHSCROLL, ID_EDIT, 10, 10, 300, 24},
        {"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL, ID_COMBO, 10, 44, 200, 200},
        {"BUTTON", "質問", BS_PUSHBUTTON, ID_ASK, 220, 44, 90, 26},
        {"BUTTON", "無効", BS_PUSHBUTTON | WS_DISABLED, ID_DISABLED, 320, 44, 90, 26},
        {"STATIC", "隠れた", 0, ID_HIDDEN, 320, 10, 90, 24},
        {TRACKBAR_CLASSA, "", TBS_HORZ, ID_TRACK, 10, 80, 300, 30},
        {"STATIC", "", SS_LEFT, ID_STATUS, 10, 120, 460, 24},
        {"LISTBOX", "", WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, ID_LIST, 10, 150, 460, 160},
    };
    for (auto &c : ctl) {
        DWORD style = WS_CHILD | WS_TABSTOP | c.style | (c.id == ID_HIDDEN ? 0 : WS_VISIBLE);
        HWND w = CreateWindowExA(0, c.cls, c.text, style, c.x, c.y, c.w, c.h, hwnd, (HMENU)(INT_PTR)c.id,
                                 inst, NULL);
        SendMessageA(w, WM_SETFONT, (WPARAM)font, FALSE);
    }
    const char *items[] = {"表示", "ソース", "能力", "MPEG Layer-3"};
    for (auto item : items) SendDlgItemMessageA(hwnd, ID_COMBO, CB_ADDSTRING, 0, (LPARAM)item);
    SendDlgItemMessageA(hwnd, ID_COMBO, CB_SETCURSEL, 1, 0);
    SendDlgItemMessageA(hwnd, ID_TRACK, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendDlgItemMessageA(hwnd, ID_TRACK, TBM_SETPOS, TRUE, 25);
}

static LRESULT CALLBACK wnd_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDM_OPEN: open_files(); return 0;
        case IDM_SAVE: save_file(); return 0;
        case IDM_ASK: case ID_ASK: ask(); return 0;
        case IDM_HANG: for (;;) Sleep(1000);
        case IDM_BUSY: Sleep(700); report("busy", "done"); return 0;
        case IDM_EXIT: DestroyWindow(hwnd); return 0;
        case IDM_CRASH: *(volatile int *)(INT_PTR)lp = 1; return 0;
        case ID_COMBO:
            if (HIWORD(wp) == CBN_SELCHANGE) {
                char text[256] = "";
                int sel = (int)SendMessageA((HWND)lp, CB_GETCURSEL, 0, 0);
                if (sel >= 0) SendMessageA((HWND)lp, CB_GETLBTEXT, sel, (LPARAM)text);
                report("combo", text);
            }
            return 0;
        }
        break;
    case WM_HSCROLL:
        if ((HWND)lp == GetDlgItem(hwnd, ID_TRACK)) {
            char buf[32];
            snprintf(buf, sizeof buf, "%d", (int)SendMessageA((HWND)lp, TBM_GETPOS, 0, 0));
            report("track", buf);
        }
        return 0;
    case WM_DROPFILES:
        dropped((HDROP)wp);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(exit_code);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

static HMENU make_menu(void)
{
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, IDM_OPEN, "開く(&O)...");
    AppendMenuA(file, MF_STRING, IDM_SAVE, "名前を付けて保存(&A)...");
    AppendMenuA(file, MF_STRING, IDM_ASK, "質問(&Q)");
    AppendMenuA(file, MF_STRING, IDM_BUSY, "処理(&B)");
    AppendMenuA(file, MF_STRING, IDM_HANG, "応答なし(&H)");
    AppendMenuA(file, MF_SEPARATOR, 0, NULL);
    AppendMenuA(file, MF_STRING, IDM_EXIT, "終了(&X)");
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, (UINT_PTR)file, "ファイル(&F)");
    return bar;
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int show)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    char words[1024];
    parse_args(words, sizeof words);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = wnd_proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "DrvTargetWnd";
    RegisterClassA(&wc);

    char title[1100];
    snprintf(title, sizeof title, "ドライバ試験 - %s", words);
    main_wnd = CreateWindowExA(0, "DrvTargetWnd", title, WS_OVERLAPPEDWINDOW, 40, 40, 500, 380, NULL,
                               make_menu(), inst, NULL);
    create_controls(main_wnd, words);
    DragAcceptFiles(main_wnd, TRUE);
    char buf[MAX_PATH];
    GetCurrentDirectoryA(sizeof buf, buf);
    report("cwd", buf);
    // GetEnvironmentVariableA cuts Japanese values short in Wine 8: read the wide value.
    WCHAR note[MAX_PATH];
    if (GetEnvironmentVariableW(L"DRV_TARGET_NOTE", note, MAX_PATH) &&
        WideCharToMultiByte(CP_ACP, 0, note, -1, buf, sizeof buf, NULL, NULL))
        report("note", buf);
    ShowWindow(main_wnd, show);
    UpdateWindow(main_wnd);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
