// Capturo: start, the capture graph in its three modes, the user's commands and the orderly end.
#include "capturo.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include "progress.h"
#include "textpath.h"

const char appName[] = "Capturo";
static const char recordingCaption[] = "録画中・・・ %s";

char outputPath[MAX_PATH] = "MyAviFile.avi";
CompressorList compressors;
int CaptureMode;
CaptureSize SizeList[MAX_CAPTURE_SIZES];
int sizeCount;
int captureWidth, captureHeight;
bool deviceControls;

HWND mainDialog, previewArea, compressorCombo;
ICaptureGraphBuilder2 *captureBuilder;
IGraphBuilder *filterGraph;
IBaseFilter *captureFilter;
IVideoWindow *videoWindow;
IMediaControl *mediaControl;
IAMVfwCaptureDialogs *vfwDialogs;
static IMediaEventEx *graphEvents;      // errors of the running graph, posted as WM_GRAPHEVENT

static bool comInitialized;
static bool closing;
static bool recording;                  // a run in a recording mode is under way

template <class T> static void ReleaseSlot(T *&slot)
{
    if (slot) slot->Release();
    slot = NULL;
}

// ---- the capture graph -------------------------------------------------------------------------

// A recording that could not be written, or whose file is gone when it ends (its folder removed), says
// so; the dialog stays.
static void ReportRecordingFailure()
{
    MessageBoxA(mainDialog, "録画できません", appName, MB_OK);
}

void StopCapture()
{
    if (!mediaControl) return;
    mediaControl->Stop();
    HideJobProgress(false);
    CheckRadioButton(mainDialog, IDC_RUN, IDC_STOP, IDC_STOP);
    // Nothing records any more, so the caption no longer says so.
    SetWindowTextA(mainDialog, appName);
    if (recording) {
        recording = false;
        if (GetFileAttributesA(outputPath) == INVALID_FILE_ATTRIBUTES) ReportRecordingFailure();
    }
}

// A run that ends on an error (the file cannot be written any more) stops the recording.
static void OnGraphEvent()
{
    LONG code;
    LONG_PTR param1, param2;
    bool failed = false;
    while (graphEvents && graphEvents->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        graphEvents->FreeEventParams(code, param1, param2);
        if (code == EC_ERRORABORT) failed = true;
    }
    if (failed && recording) {
        recording = false;
        StopCapture();
        ReportRecordingFailure();
    }
}

// Runs the graph; a recording that cannot start says so.
static void StartCapture()
{
    if (!mediaControl) return;
    HRESULT hr = mediaControl->Run();
    CheckRadioButton(mainDialog, IDC_RUN, IDC_STOP, IDC_RUN);
    if (CaptureMode == 0) return;
    if (FAILED(hr)) {
        StopCapture();
        ReportRecordingFailure();
        return;
    }
    recording = true;
    char caption[64];
    snprintf(caption, sizeof caption, recordingCaption, appName);
    SetWindowTextA(mainDialog, caption);
    ShowRecordingProgress(mainDialog, outputPath);
}

void TearDownCaptureGraph()
{
    StopCapture();
    if (videoWindow) {
        videoWindow->put_Visible(OAFALSE);
        videoWindow->put_Owner(0);
    }
    if (graphEvents) graphEvents->SetNotifyWindow(0, 0, 0);
    ReleaseSlot(graphEvents);
    ReleaseSlot(vfwDialogs);
    ReleaseSlot(captureFilter);
    ReleaseSlot(videoWindow);
    ReleaseSlot(mediaControl);
    ReleaseSlot(filterGraph);
    ReleaseSlot(captureBuilder);
}

// The first video capture device into captureFilter. Shows "no input device" when there is none.
static bool BindFirstDevice()
{
    ICreateDevEnum *devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                (void **)&devices)))
        return false;
    IEnumMoniker *monikers = NULL;
    HRESULT hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    devices->Release();
    if (FAILED(hr)) return false;
    IMoniker *moniker = NULL;
    if (monikers) {
        monikers->Reset();
        if (monikers->Next(1, &moniker, NULL) != S_OK) moniker = NULL;
    }
    if (!moniker) {
        // An empty category is as good as none.
        if (monikers) monikers->Release();
        MessageBoxA(mainDialog, "入力デバイスがありません", appName, MB_OK);
        return false;
    }
    bool bound = true;
    IPropertyBag *bag;
    if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))) {
        char name[256];
        if (ReadBagString(bag, L"FriendlyName", name, sizeof name)) {
            ReleaseSlot(captureFilter);
            if (FAILED(moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&captureFilter))) {
                captureFilter = NULL;
                bound = false;
            }
        }
        bag->Release();
    }
    moniker->Release();
    monikers->Release();
    return bound && captureFilter;
}

// The recording chain: compressor (when one is chosen), AVI multiplexer and file writer for outputPath.
static bool RenderRecording()
{
    int line = compressors.selection;
    IBaseFilter *compressor = line >= 0 && line < MAX_COMPRESSORS ? compressors.filters[line] : NULL;
    if (compressor && FAILED(filterGraph->AddFilter(compressor, L"Video Compressor"))) return false;
    WCHAR path[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, outputPath, -1, path, MAX_PATH)) return false;
    IBaseFilter *multiplexer = NULL;
    if (FAILED(captureBuilder->SetOutputFileName(&MEDIASUBTYPE_Avi, path, &multiplexer, NULL))) return false;
    HRESULT hr = captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter, compressor,
                                              multiplexer);
    if (multiplexer) multiplexer->Release();
    if (FAILED(hr)) return false;
    if (CaptureMode == 2 && FAILED(captureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                                                captureFilter, NULL, NULL)))
        return false;
    return true;
}

// The renderer's window as a 320 by 240 child centred on the preview area.
static bool PlaceVideoWindow()
{
    if (FAILED(filterGraph->QueryInterface(IID_IVideoWindow, (void **)&videoWindow))) {
        videoWindow = NULL;
        return false;
    }
    if (FAILED(videoWindow->put_Owner((OAHWND)previewArea)) ||
        FAILED(videoWindow->put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS))) {
        ReleaseSlot(videoWindow);
        return false;
    }
    IBasicVideo *basicVideo;
    if (FAILED(filterGraph->QueryInterface(IID_IBasicVideo, (void **)&basicVideo))) {
        ReleaseSlot(videoWindow);
        return false;
    }
    basicVideo->Release();
    RECT area;
    GetClientRect(previewArea, &area);
    videoWindow->SetWindowPosition((area.right - 320) / 2, (area.bottom - 240) / 2, 320, 240);
    return true;
}

bool BuildCaptureGraph(bool first)
{
    TearDownCaptureGraph();
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                (void **)&filterGraph))) {
        filterGraph = NULL;
        return false;
    }
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&captureBuilder))) {
        captureBuilder = NULL;
        return false;
    }
    if (FAILED(captureBuilder->SetFiltergraph(filterGraph))) return false;
    if (!BindFirstDevice()) return false;
    if (FAILED(filterGraph->AddFilter(captureFilter, L"Video Capture"))) return false;

    // Format and picture go to the device before any of its pins is rendered.
    if (first) {
        if (!CheckVfwDialogs()) {
            deviceControls = true;
            ReadPictureProperties();
            ListCaptureSizes();
        }
    } else if (deviceControls) {
        if (!SetCaptureFormat()) MessageBoxA(mainDialog, "サイズ変更できません", appName, MB_OK);
        ApplyPictureProperties();
    } else {
        // The device's dialogs belong to this graph's capture filter.
        LookUpVfwDialogs();
    }

    if (CaptureMode == 1 || CaptureMode == 2) {
        if (!RenderRecording()) return false;
    } else if (FAILED(captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter, NULL,
                                                   NULL))) {
        return false;
    }
    ReleaseSlot(captureFilter);   // the graph keeps it

    if ((CaptureMode == 0 || CaptureMode == 2) && !PlaceVideoWindow()) return false;
    if (FAILED(filterGraph->QueryInterface(IID_IMediaControl, (void **)&mediaControl))) {
        mediaControl = NULL;
        return false;
    }
    if (SUCCEEDED(filterGraph->QueryInterface(IID_IMediaEventEx, (void **)&graphEvents)))
        graphEvents->SetNotifyWindow((OAHWND)mainDialog, WM_GRAPHEVENT, 0);
    else
        graphEvents = NULL;
    return true;
}

void ListCaptureSizes()
{
    IAMStreamConfig *config;
    if (FAILED(captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter,
                                             IID_IAMStreamConfig, (void **)&config)))
        return;
    int count = 0, size = 0;
    if (SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)) && size == sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
        sizeCount = 0;
        for (int i = 0; i < count && sizeCount < MAX_CAPTURE_SIZES; i++) {
            AM_MEDIA_TYPE *type = NULL;
            VIDEO_STREAM_CONFIG_CAPS caps;
            if (FAILED(config->GetStreamCaps(i, &type, (BYTE *)&caps)) || !type) continue;
            if (IsEqualGUID(type->majortype, MEDIATYPE_Video) && IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24) &&
                IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->pbFormat &&
                type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
                SizeList[sizeCount].width = caps.MaxOutputSize.cx;
                SizeList[sizeCount].height = caps.MaxOutputSize.cy;
                if (sizeCount == 0) {
                    const VIDEOINFOHEADER *format = (const VIDEOINFOHEADER *)type->pbFormat;
                    captureWidth = format->bmiHeader.biWidth;
                    captureHeight = format->bmiHeader.biHeight;
                }
                sizeCount++;
            }
            if (type->cbFormat && type->pbFormat) CoTaskMemFree(type->pbFormat);
            if (type->pUnk) type->pUnk->Release();
            CoTaskMemFree(type);
        }
    }
    config->Release();
}

bool SetCaptureFormat()
{
    if (!captureBuilder) return false;
    StopCapture();
    IAMStreamConfig *config;
    if (FAILED(captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter,
                                             IID_IAMStreamConfig, (void **)&config)))
        return false;
    VIDEOINFOHEADER *format = (VIDEOINFOHEADER *)CoTaskMemAlloc(sizeof(VIDEOINFOHEADER));
    if (!format) {
        config->Release();
        return false;
    }
    memset(format, 0, sizeof *format);
    LONGLONG height = captureHeight < 0 ? -(LONGLONG)captureHeight : captureHeight;
    LONGLONG imageSize = (((LONGLONG)captureWidth * 24 + 31) & ~31LL) / 8 * height;
    format->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    format->bmiHeader.biWidth = captureWidth;
    format->bmiHeader.biHeight = captureHeight;
    format->bmiHeader.biPlanes = 1;
    format->bmiHeader.biBitCount = 24;
    format->bmiHeader.biSizeImage = (DWORD)imageSize;

    AM_MEDIA_TYPE type;
    memset(&type, 0, sizeof type);
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = (ULONG)imageSize;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = sizeof(VIDEOINFOHEADER);
    type.pbFormat = (BYTE *)format;
    HRESULT hr = config->SetFormat(&type);
    CoTaskMemFree(format);
    config->Release();
    return SUCCEEDED(hr);
}

void RestartPreview()
{
    CaptureMode = 0;
    SendDlgItemMessageA(mainDialog, IDC_MODE, CB_SETCURSEL, 0, 0);
    EnableWindow(compressorCombo, FALSE);
    if (!BuildCaptureGraph(false)) {
        SendMessageA(mainDialog, WM_CLOSE, 0, 0);
        return;
    }
    if (mediaControl) {
        mediaControl->Run();
        CheckRadioButton(mainDialog, IDC_RUN, IDC_STOP, IDC_RUN);
    }
}

// ---- start -------------------------------------------------------------------------------------

static void FormatSize(char *text, int size, int width, int height)
{
    snprintf(text, size, "%d×%d", width, height);
}

static void FillSizeCombo()
{
    HWND combo = GetDlgItem(mainDialog, IDC_CAPTURESIZE);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    char text[32];
    for (int i = 0; i < sizeCount; i++) {
        FormatSize(text, sizeof text, SizeList[i].width, SizeList[i].height);
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
    }
    FormatSize(text, sizeof text, captureWidth, captureHeight);
    LRESULT line = SendMessageA(combo, CB_FINDSTRING, (WPARAM)-1, (LPARAM)text);
    if (line != CB_ERR) SendMessageA(combo, CB_SETCURSEL, line, 0);
}

static void StartUp(HWND dialog)
{
    mainDialog = dialog;
    previewArea = GetDlgItem(dialog, IDC_PREVIEW);
    compressorCombo = GetDlgItem(dialog, IDC_COMPRESSOR);
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APPICON));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);

    if (FAILED(CoInitialize(NULL))) {
        MessageBoxA(dialog, "COM の初期化に失敗しました", appName, MB_OK);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return;
    }
    comInitialized = true;
    if (!EnumerateCompressorsIntoCombo(compressorCombo, compressors.filters, CLSID_VideoCompressorCategory, true,
                                       &compressors.selection)) {
        MessageBoxA(dialog, "ビデオコンプレッサを列挙できません", appName, MB_OK);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return;
    }
    SendMessageA(compressorCombo, CB_SETCURSEL, compressors.selection, 0);

    HWND modes = GetDlgItem(dialog, IDC_MODE);
    SendMessageA(modes, CB_ADDSTRING, 0, (LPARAM) "ﾌﾟﾚﾋﾞｭｰ");
    SendMessageA(modes, CB_ADDSTRING, 0, (LPARAM) "録画");
    SendMessageA(modes, CB_ADDSTRING, 0, (LPARAM) "ﾌﾟﾚﾋﾞｭｰ + 録画");
    SendMessageA(modes, CB_SETCURSEL, 0, 0);

    if (!BuildCaptureGraph(true)) {
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        return;
    }
    FillSizeCombo();
}

// ---- commands ----------------------------------------------------------------------------------

static void ChangeSaveName()
{
    char name[MAX_PATH];
    CopyText(name, outputPath, sizeof name);
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = mainDialog;
    dialog.lpstrFilter = "AVIﾌｧｲﾙ (*.avi)\0*.avi\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = sizeof name;
    dialog.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&dialog)) return;
    // A name without a type gets ".avi"; a dot in a folder's name does not count.
    if (!ExtensionPart(FileNamePart(name))) {
        size_t length = strlen(name);
        if (length + 4 >= sizeof name) return;   // no room for the type: the old name stays
        memcpy(name + length, ".avi", 5);
    }
    CopyText(outputPath, name, sizeof outputPath);
    if (!BuildCaptureGraph(false)) SendMessageA(mainDialog, WM_CLOSE, 0, 0);
}

static void ChooseSize()
{
    char text[32] = "";
    SendDlgItemMessageA(mainDialog, IDC_CAPTURESIZE, WM_GETTEXT, sizeof text, (LPARAM)text);
    int width, height;
    if (sscanf(text, "%d×%d", &width, &height) == 2) {
        captureWidth = width;
        captureHeight = height;
    }
    RestartPreview();
}

static void Command(int id, int code)
{
    switch (id) {
    case IDC_RUN:
        if (code != BN_CLICKED) break;
        CheckRadioButton(mainDialog, IDC_RUN, IDC_STOP, IDC_RUN);
        StartCapture();
        break;
    case IDC_STOP:
        if (code != BN_CLICKED) break;
        CheckRadioButton(mainDialog, IDC_RUN, IDC_STOP, IDC_STOP);
        StopCapture();
        break;
    case IDC_COMPRESSOR:
        if (code != CBN_SELCHANGE) break;
        compressors.selection = (int)SendMessageA(compressorCombo, CB_GETCURSEL, 0, 0);
        if (!BuildCaptureGraph(false)) SendMessageA(mainDialog, WM_CLOSE, 0, 0);
        break;
    case IDC_MODE:
        if (code != CBN_SELCHANGE) break;
        CaptureMode = (int)SendDlgItemMessageA(mainDialog, IDC_MODE, CB_GETCURSEL, 0, 0);
        EnableWindow(compressorCombo, CaptureMode != 0);
        if (!BuildCaptureGraph(false)) SendMessageA(mainDialog, WM_CLOSE, 0, 0);
        break;
    case IDC_CAPTURESIZE:
        if (code == CBN_SELCHANGE) ChooseSize();
        break;
    case IDM_SAVENAME:
        ChangeSaveName();
        break;
    case IDM_VFWSOURCE:
        ShowVfwDialog(VFW_DIALOG_SOURCE);
        break;
    case IDM_VFWFORMAT:
        ShowVfwDialog(VFW_DIALOG_FORMAT);
        break;
    case IDM_VFWDISPLAY:
        ShowVfwDialog(VFW_DIALOG_DISPLAY);
        break;
    case IDM_QUALITY:
        DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_PICTURE), mainDialog, PictureDialogProc, 0);
        break;
    case IDM_EXIT:
    case IDC_EXIT:
        SendMessageA(mainDialog, WM_CLOSE, 0, 0);
        break;
    }
}

// ---- close -------------------------------------------------------------------------------------

static void Close()
{
    if (closing) return;
    closing = true;
    // The graph goes first, while the preview area that holds its window still exists.
    TearDownCaptureGraph();
    ReleaseCompressors(&compressors);
    DestroyWindow(mainDialog);
    mainDialog = previewArea = compressorCombo = NULL;
    if (comInitialized) CoUninitialize();
    comInitialized = false;
    PostQuitMessage(0);
}

static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        StartUp(dialog);
        return TRUE;
    case WM_COMMAND:
        if (closing) return FALSE;
        Command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        Close();
        return TRUE;
    case WM_GRAPHEVENT:
        OnGraphEvent();
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    InitCommonControls();
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDialogProc, 0);
    if (!dialog && !closing) return 1;
    if (dialog && !closing) ShowWindow(dialog, show);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (mainDialog && IsDialogMessageA(mainDialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
