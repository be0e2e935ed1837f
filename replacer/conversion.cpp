// One conversion: the graph from the AVI and WAV sources through the chosen compressor into the new
// AVI file, its start, its end and its teardown.
#include "dubrix.h"
#include "progress.h"
#include <string.h>

static const char busyTitle[] = "変換中・・・";
static const char finishedTitle[] = "終了！";

// A CP932 text as UTF-16 for DirectShow.
static void Widen(const char *text, WCHAR *out, int size)
{
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, out, size)) out[0] = 0;
}

// Reads edit box ID into BUFFER; false when its text is longer than any path can be, so that a cut
// name never stands for another file.
static bool ReadPathBox(int id, char *buffer)
{
    buffer[0] = 0;
    if (GetWindowTextLengthA(GetDlgItem(replacerDialog, id)) >= MAX_PATH) return false;
    GetDlgItemTextA(replacerDialog, id, buffer, MAX_PATH);
    return true;
}

// A run cut short takes away the file it made. A file that was there before is not touched: it is replaced
// only by a complete new one, which the graph's writer puts in its place at the end of the run.
static bool outputExisted;

static bool NoSuchFile(const char *path)
{
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
}

bool StartConversion()
{
    // A conversion still running is stopped and its unfinished file removed.
    if (converting) {
        ReleaseConversion();
        LeaveConvertingState();
        RemoveUnfinishedOutput();
    }
    ReleaseConversion();
    SetWindowTextA(replacerDialog, appName);

    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                (void **)&graphBuilder))) {
        Report("1");
        return false;
    }
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&captureBuilder))) {
        Report("2");
        return false;
    }
    if (FAILED(captureBuilder->SetFiltergraph(graphBuilder))) {
        Report("3");
        return false;
    }

    bool aviFits = ReadPathBox(IDC_AVIPATH, aviPath);
    if (aviFits && !aviPath[0]) {
        Report("AVIファイルが未入力です");
        return false;
    }
    if (!aviFits || NoSuchFile(aviPath)) {
        Report("該当するAVIファイルがありません");
        return false;
    }
    if (!AddSource(0, "Source Filter1")) return false;

    bool wavFits = ReadPathBox(IDC_WAVPATH, wavPath);
    if (!wavFits || wavPath[0]) {
        if (!wavFits || NoSuchFile(wavPath)) {
            Report("該当するWAVファイルがありません");
            return false;
        }
        if (!AddSource(1, "Source Filter2")) return false;
    } else if (sources[1]) {
        sources[1]->Release();
        sources[1] = NULL;
    }

    if (!ConnectOutput()) return false;

    if (FAILED(graphBuilder->QueryInterface(IID_IMediaEventEx, (void **)&graphEvents))) {
        MessageBoxA(NULL, "4", appName, MB_OK);
        return false;
    }
    graphEvents->SetNotifyWindow((OAHWND)replacerDialog, WM_GRAPHEVENT, 0);
    if (FAILED(graphBuilder->QueryInterface(IID_IMediaControl, (void **)&mediaControl))) {
        Report("5");
        return false;
    }

    mediaControl->Run();
    SetCapture(replacerDialog);
    savedCursor = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
    converting = true;
    SetWindowTextA(replacerDialog, busyTitle);
    ShowJobProgress(replacerDialog, graphBuilder, StopConversion);
    return true;
}

bool AddSource(int slot, const char *name)
{
    WCHAR path[MAX_PATH], filterName[32];
    Widen(slot == 0 ? aviPath : wavPath, path, MAX_PATH);
    Widen(name, filterName, 32);
    if (sources[slot]) sources[slot]->Release();
    sources[slot] = NULL;
    if (FAILED(graphBuilder->AddSourceFilter(path, filterName, &sources[slot]))) {
        sources[slot] = NULL;
        Report("6");
        return false;
    }
    return true;
}

bool ConnectOutput()
{
    IBaseFilter *compressor = NULL;
    if (compressorIndex >= 0 && compressorIndex < MAX_COMPRESSORS) compressor = compressorList.filters[compressorIndex];
    WCHAR compressorName[32];
    Widen("Video Compressor", compressorName, 32);
    if (!compressor || FAILED(graphBuilder->AddFilter(compressor, compressorName))) {
        Report("6");
        return false;
    }

    if (!FormOutputPath(aviPath, outputPath, MAX_PATH)) {
        Report("出力ファイル名が長すぎます");
        return false;
    }
    outputExisted = !NoSuchFile(outputPath);
    // The new file never takes the place of one it is made from.
    if (SameFile(outputPath, aviPath)) {
        Report("出力ファイルがAVIファイルと同じです");
        return false;
    }
    if (sources[1] && SameFile(outputPath, wavPath)) {
        Report("出力ファイルがWAVファイルと同じです");
        return false;
    }
    WCHAR output[MAX_PATH];
    Widen(outputPath, output, MAX_PATH);

    IBaseFilter *mux = NULL;
    if (FAILED(captureBuilder->SetOutputFileName(&MEDIASUBTYPE_Avi, output, &mux, NULL))) {
        Report("7");
        return false;
    }
    // The AVI's picture through the compressor; its own sound stays unconnected and is left out.
    if (FAILED(captureBuilder->RenderStream(NULL, NULL, sources[0], compressor, mux))) {
        mux->Release();
        Report("8");
        return false;
    }
    // The WAV's sound as the new sound, and nothing else of that file.
    if (sources[1] && FAILED(captureBuilder->RenderStream(NULL, &MEDIATYPE_Audio, sources[1], NULL, mux))) {
        mux->Release();
        Report("9");
        return false;
    }
    mux->Release();
    for (int i = 0; i < 2; i++) {
        if (sources[i]) sources[i]->Release();
        sources[i] = NULL;
    }
    return true;
}

void LeaveConvertingState()
{
    if (!converting) return;
    SetCursor(savedCursor);
    ReleaseCapture();
    converting = false;
}

void FinishConversion()
{
    HideJobProgress(true);
    ReleaseConversion();
    LeaveConvertingState();
    SetWindowTextA(replacerDialog, finishedTitle);
}

// The graph stopped on an error or was aborted: the dialog comes back, the unfinished file goes. A run
// refused because its output is a file being read says which, as the check by name does.
void AbortConversion(bool refused)
{
    StopConversion();
    if (refused)
        Report(wavPath[0] && SameFile(outputPath, wavPath) ? "出力ファイルがWAVファイルと同じです"
                                                          : "出力ファイルがAVIファイルと同じです");
    Report("変換できません");
}

// "中止", and the first steps of every run that does not finish.
void StopConversion()
{
    HideJobProgress(false);
    ReleaseConversion();
    LeaveConvertingState();
    RemoveUnfinishedOutput();
    SetWindowTextA(replacerDialog, appName);
}

void RemoveUnfinishedOutput()
{
    if (!outputExisted) DeleteFileA(outputPath);
}

void ReleaseConversion()
{
    if (mediaControl) mediaControl->Stop();
    if (graphEvents) graphEvents->SetNotifyWindow((OAHWND)NULL, 0, 0);
    for (int i = 0; i < 2; i++) {
        if (sources[i]) sources[i]->Release();
        sources[i] = NULL;
    }
    if (graphEvents) graphEvents->Release();
    graphEvents = NULL;
    if (mediaControl) mediaControl->Release();
    mediaControl = NULL;
    if (graphBuilder) graphBuilder->Release();
    graphBuilder = NULL;
    if (captureBuilder) captureBuilder->Release();
    captureBuilder = NULL;
}
