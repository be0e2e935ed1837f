// Sequora: start, the single-instance rule, the main window, command dispatch and the orderly end.
#include "sequora.h"
#include "progress.h"
#include "samefile.h"
#include <stdio.h>
#include <string.h>

const char appName[] = "Sequora";
static const char mainClassName[] = "CLASS_Sequora";
static const char viewClassName[] = "CHILDCLASS_Sequora";
static const char savingTitle[] = "保存中 ・・・";

MediaItem items[MAX_ITEMS];
int itemCount, selectedItem = -1, hoverItem = -1, firstNewItem;
int zoom = 2, rowHeight;
OutputSettings settings;
char outputPath[MAX_PATH];
HWND mainWindow, timelineView;
CompressorList videoCompressors;

static HINSTANCE appInstance;
static char *startArguments;       // the process's arguments, taken at the first showing
static bool startArgumentsTaken;

void LayOutMainWindow()
{
    RECT client, bar = {0, 0, 0, 0};
    GetClientRect(mainWindow, &client);
    if (propertyBar) GetWindowRect(propertyBar, &bar);
    int barHeight = bar.bottom - bar.top;
    if (propertyBar) MoveWindow(propertyBar, 0, 0, client.right, barHeight, TRUE);
    if (timelineView) MoveWindow(timelineView, 0, barHeight, client.right, client.bottom - barHeight, TRUE);
}

// Go on (true) unless an export is running and the user wants to keep it.
bool ConfirmStopExport()
{
    char title[257];
    GetWindowTextA(mainWindow, title, sizeof title);
    if (strcmp(title, savingTitle) != 0) return true;
    if (MessageBoxA(mainWindow, "保存中ですが中止しますか？", appName, MB_YESNO | MB_ICONINFORMATION) == IDNO)
        return false;
    StopExport();
    return true;
}

// "中止", or a stop the user confirmed: the export ends at once and its file is not made.
void StopExport()
{
    TearDownGraph();
    SetWindowTextA(mainWindow, appName);
}

void HandleAddResult(int result)
{
    if (result == ADD_ITEMS_APPENDED) {
        LayOutNewItems();
    } else if (result == ADD_PROJECT_OPENED) {
        // Blocks were stored at the zoom of their day; the view starts again at zoom 2 and shows them so.
        zoom = 2;
        SendMessageA(zoomTrackbar, TBM_SETPOS, TRUE, zoom);
        RelayOutAll();
        SetScrollRanges(CONTENT_WIDTH, itemCount ? items[itemCount - 1].block.bottom : 0);
        LayOutMainWindow();
    }
}

// An export that could not start or ended on an error. An output refused as a file being read (reached
// by a name the check above cannot see) gets the message of that check.
static void ReportExportFailure(bool refused)
{
    MessageBoxA(mainWindow, refused ? "読み込みファイルには保存できません" : "保存できません", appName, MB_OK);
}

static void DrainGraphEvents()
{
    if (!graphEvents) return;
    LONG code;
    LONG_PTR param1, param2;
    bool finished = false, failed = false, refused = false;
    char title[32] = "";
    GetWindowTextA(mainWindow, title, sizeof title);
    while (graphEvents && graphEvents->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        graphEvents->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT) finished = true;
        if (code == EC_USERABORT || code == EC_ERRORABORT) failed = true;
        if (code == EC_ERRORABORT && OutputRefused((HRESULT)param1)) refused = true;
    }
    if (finished) {
        HideJobProgress(!failed);
        TearDownGraph();
        SetWindowTextA(mainWindow, appName);
        // an export that ended on an error wrote no file: say so
        if (failed && strcmp(title, savingTitle) == 0) ReportExportFailure(refused);
    }
}

// Chooses the output file and exports the timeline into it.
static void SaveAsSequence()
{
    bool audioOnly = settings.type == 1;
    char name[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = mainWindow;
    ofn.lpstrFilter = audioOnly ? "ｳｪｰﾌﾞﾌｧｲﾙ (*.wav)\0*.wav\0" : "AVIﾌｧｲﾙ (*.avi)\0*.avi\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return;

    lstrcpynA(outputPath, name, sizeof outputPath);
    if (!strchr(outputPath, '.')) {
        // No room for the extension: the name cannot be completed, so nothing is written.
        if (strlen(outputPath) + 4 >= sizeof outputPath) return;
        strcat(outputPath, audioOnly ? ".wav" : ".avi");
    }
    for (int i = 0; i < itemCount; i++) {
        if (SameFile(outputPath, items[i].path)) {
            MessageBoxA(mainWindow, "読み込みファイルには保存できません", appName, MB_OK);
            return;
        }
    }
    if (!audioOnly && RunCompressorDialog(mainWindow, &videoCompressors, IDD_COMPRESSOR, IDC_COMPRESSORLIST) != 1)
        return;
    if (!BuildTimeline(true)) {
        TearDownGraph();
        ReportExportFailure(exportRefused);
    }
}

static void CreationSequence(HWND window)
{
    mainWindow = window;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    if (FAILED(CoInitialize(NULL))) {
        MessageBoxA(window, "COM の初期化に失敗しました", appName, MB_ICONWARNING | MB_SETFOREGROUND);
        SendMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    if (!CreatePropertyBar()) return;   // the window stays, without a view
    EnableWindow(changeButton, FALSE);
    for (int band = 1; band <= 3; band++) SendMessageA(propertyBar, RB_SHOWBAND, band, FALSE);

    timelineView = CreateWindowExA(WS_EX_CLIENTEDGE, viewClassName, NULL,
                                   WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, window,
                                   (HMENU)IDC_TIMELINEVIEW, appInstance, NULL);
    if (!timelineView) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    HDC dc = GetDC(timelineView);
    rowHeight = TextRowHeight(dc);
    ReleaseDC(timelineView, dc);

    settings.type = 0;
    settings.channels = 1;
    settings.bits = 1;
    settings.rate = 3;
    settings.width = 320;
    settings.height = 240;
    settings.depth = 0;
    settings.fps = 15.0;
    for (int i = 0; i < MAX_ITEMS; i++) SetItemDefaults(&items[i]);

    if (!EnumerateCompressors(&videoCompressors, CLSID_VideoCompressorCategory)) {
        MessageBoxA(window, "ビデオコンプレッサを列挙できません", appName, MB_OK);
        SendMessageA(window, WM_CLOSE, 0, 0);
    }
}

static void CloseSequence(HWND window)
{
    if (!ConfirmStopExport()) return;
    ReleaseCompressors(&videoCompressors);
    TearDownGraph();
    DestroyWindow(window);
    CoUninitialize();
    PostQuitMessage(0);
}

static void OnCommand(HWND window, int id)
{
    switch (id) {
    case IDM_OPEN:
        if (!ConfirmStopExport()) return;
        HandleAddResult(AddFromOpenDialog());
        RepaintView(true);
        break;
    case IDM_PREVIEW:
        if (!ConfirmStopExport()) return;
        if (!BuildTimeline(false)) TearDownGraph();
        RepaintView(true);
        break;
    case IDM_SAVEAS:
        if (!ConfirmStopExport()) return;
        SaveAsSequence();
        RepaintView(true);
        break;
    case IDM_EXIT:
        SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    case IDM_DELETE:
        DeleteSelectedItem();
        break;
    case IDM_MOVEUP:
        MoveSelectedItemUp();
        break;
    case IDM_MOVEDOWN:
        MoveSelectedItemDown();
        break;
    case IDM_SETTINGS:
        ShowSettingsDialog();
        break;
    case IDM_OPENPROJECT:
        if (OpenProjectCommand()) HandleAddResult(ADD_PROJECT_OPENED);
        RepaintView(true);
        break;
    case IDM_SAVEPROJECT:
        SaveProjectCommand();
        RepaintView(true);
        break;
    }
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreationSequence(window);
        return 0;
    case WM_SIZE:
        LayOutMainWindow();
        return 0;
    case WM_SHOWWINDOW:
        if (startArguments && startArguments[0] && !startArgumentsTaken) {
            startArgumentsTaken = true;
            HandleAddResult(AddIncomingNames(SplitCommandLine(startArguments)));
        }
        break;
    case WM_COPYDATA: {
        const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
        if (!ConfirmStopExport()) return TRUE;
        static char text[MAX_ITEMS * MAX_PATH + 1];
        DWORD n = data && data->lpData ? data->cbData : 0;
        if (n > sizeof text - 1) n = sizeof text - 1;
        if (n) memcpy(text, data->lpData, n);
        text[n] = 0;
        HandleAddResult(AddIncomingNames(SplitForwardedCommandLine(text)));
        return TRUE;
    }
    case WM_DROPFILES:
        if (!ConfirmStopExport()) {
            DragFinish((HDROP)wParam);
            return 0;
        }
        HandleAddResult(TakeDroppedFiles((HDROP)wParam));
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        CloseSequence(window);
        return 0;
    case WM_GRAPHNOTIFY:
        DrainGraphEvents();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    startArguments = commandLine ? commandLine : (char *)"";

    HWND running = FindWindowA(mainClassName, appName);
    if (running) {
        SetForegroundWindow(running);
        COPYDATASTRUCT data = {0, (DWORD)strlen(startArguments) + 1, startArguments};
        SendMessageA(running, WM_COPYDATA, 0, (LPARAM)&data);
        return 0;
    }

    appInstance = instance;
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = MainWindowProc;
    mainClass.hInstance = instance;
    mainClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON));
    mainClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    mainClass.hbrBackground = (HBRUSH)(COLOR_MENU + 1);
    mainClass.lpszClassName = mainClassName;
    if (!RegisterClassA(&mainClass) || !RegisterTimelineViewClass(instance)) return 1;

    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    HWND window = CreateWindowExA(WS_EX_ACCEPTFILES, mainClassName, appName, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, menu,
                                  instance, NULL);
    if (!window) return 1;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (TranslateAcceleratorA(mainWindow, accelerators, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
