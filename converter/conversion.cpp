// Morphana's conversion graph: source, encoders and the file, run without blocking the dialog.
#include "morphana.h"
#include "progress.h"
#include "samefile.h"
#include <qedit.h>
#include <initguid.h>
#include <string.h>

// WavDest, found by its class identifier only.
DEFINE_GUID(CLSID_MorphanaWavDest, 0x3c78b8e2, 0x6c4d, 0x11d1, 0xad, 0xe2, 0x00, 0x00, 0xf8, 0x75, 0x4b, 0x99);

// CompressionCaps_CanQuality, which not every SDK header declares.
static const LONG canQuality = 0x1;

static IGraphBuilder *graph;
static ICaptureGraphBuilder2 *builder;
static IBaseFilter *source;
static IMediaEventEx *graphEvents;
static IMediaControl *graphControl;

template <class T> static void ReleaseSlot(T *&slot)
{
    if (slot) slot->Release();
    slot = NULL;
}

// A failed step, told by its bare number.
static bool StepFailed(const char *number, HWND owner)
{
    MessageBoxA(owner, number, appName, MB_OK);
    return false;
}

static IBaseFilter *SelectedEncoder(CompressorList *list)
{
    int s = list->selection;
    if (s < 0 || s >= list->count) return NULL;
    return list->filters[list->order[s]];
}

static void WidePath(const char *path, WCHAR *wide)
{
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)) wide[0] = 0;
}

static bool BuildAudioChain(IBaseFilter *audioEncoder)
{
    IBaseFilter *wavDest = NULL, *writer = NULL;
    IFileSinkFilter2 *sink = NULL;
    WCHAR widePath[MAX_PATH];
    const char *failed = NULL;

    if (FAILED(CoCreateInstance(CLSID_MorphanaWavDest, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                (void **)&wavDest)))
        failed = "8";
    else if (FAILED(graph->AddFilter(wavDest, L"WavDest")))
        failed = "9";
    else if (FAILED(CoCreateInstance(CLSID_FileWriter, NULL, CLSCTX_INPROC_SERVER, IID_IFileSinkFilter2,
                                     (void **)&sink)))
        failed = "10";
    if (!failed) {
        sink->SetMode(AM_FILE_OVERWRITE);
        WidePath(outputPath, widePath);
        if (FAILED(sink->QueryInterface(IID_IBaseFilter, (void **)&writer)))
            failed = "11";
        else if (FAILED(graph->AddFilter(writer, L"FileWriter")))
            failed = "12";
        else if (FAILED(sink->SetFileName(widePath, NULL)))
            failed = "13";
        else if (FAILED(builder->RenderStream(NULL, NULL, source, audioEncoder, wavDest)))
            failed = "14";
        else if (FAILED(builder->RenderStream(NULL, NULL, wavDest, NULL, writer)))
            failed = "15";
    }
    ReleaseSlot(wavDest);
    ReleaseSlot(sink);
    ReleaseSlot(writer);
    return failed ? StepFailed(failed, mainDialog) : true;
}

// The chosen quality, when the encoder can take one.
static void SetQuality(IBaseFilter *videoEncoder)
{
    IAMVideoCompression *compression = NULL;
    if (FAILED(builder->FindInterface(&LOOK_DOWNSTREAM_ONLY, NULL, videoEncoder, IID_IAMVideoCompression,
                                      (void **)&compression)) || !compression)
        return;
    int versionSize = 0, descriptionSize = 0;
    double defaultQuality = 0;
    LONG capabilities = 0;
    if (SUCCEEDED(compression->GetInfo(NULL, &versionSize, NULL, &descriptionSize, NULL, NULL, &defaultQuality,
                                       &capabilities)) &&
        (capabilities & canQuality)) {
        LRESULT position = SendMessageA(qualityTrackbar, TBM_GETPOS, 0, 0);
        compression->put_Quality(position / 100.0);
    }
    compression->Release();
}

// False only when the input is known to carry no stream of the kind (no picture: a sound file; no sound:
// a silent movie); an input that cannot be examined counts as having it, and the graph then says what
// fails.
static bool InputHas(REFGUID majorType)
{
    IMediaDet *detector = NULL;
    if (FAILED(CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&detector)))
        return true;
    WCHAR widePath[MAX_PATH];
    WidePath(inputPath, widePath);
    BSTR name = SysAllocString(widePath);
    bool found = true;
    LONG count = 0;
    if (name && SUCCEEDED(detector->put_Filename(name)) && SUCCEEDED(detector->get_OutputStreams(&count)) &&
        count > 0) {
        found = false;
        for (LONG i = 0; i < count && !found; i++) {
            GUID type = GUID_NULL;
            if (SUCCEEDED(detector->put_CurrentStream(i)) && SUCCEEDED(detector->get_StreamType(&type)))
                found = IsEqualGUID(type, majorType) != 0;
        }
    }
    SysFreeString(name);
    detector->Release();
    return found;
}

// A sound file makes an AVI of its sound alone: without a picture the video steps are left out, so that
// the sound is not taken for the picture and still goes through the audio encoder. A silent movie makes
// an AVI of its picture alone: there is no sound to connect.
static bool BuildAviChain(IBaseFilter *audioEncoder, IBaseFilter *videoEncoder)
{
    bool video = InputHas(MEDIATYPE_Video), sound = !video || InputHas(MEDIATYPE_Audio);
    if (!video) videoEncoder = NULL;
    if (videoEncoder) {
        if (FAILED(graph->AddFilter(videoEncoder, L"Video Compressor"))) return StepFailed("16", mainDialog);
        SetQuality(videoEncoder);
    }
    // An existing file is not deleted first: it is replaced only by a complete new one, which the graph's
    // writer puts in its place at the end of the run, so a run that fails leaves it as it was.

    WCHAR widePath[MAX_PATH];
    WidePath(outputPath, widePath);
    IBaseFilter *multiplexer = NULL;
    if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, widePath, &multiplexer, NULL)))
        return StepFailed("17", mainDialog);
    if (video && FAILED(builder->RenderStream(NULL, NULL, source, videoEncoder, multiplexer)) &&
        FAILED(builder->RenderStream(NULL, &MEDIATYPE_Video, source, videoEncoder, multiplexer))) {
        multiplexer->Release();
        return StepFailed("18", mainDialog);
    }
    if (sound && FAILED(builder->RenderStream(NULL, NULL, source, audioEncoder, multiplexer))) {
        multiplexer->Release();
        return StepFailed("19", mainDialog);
    }
    if (sound) builder->RenderStream(NULL, NULL, source, NULL, multiplexer);
    multiplexer->Release();
    return true;
}

static void FinishConversion(bool failed, bool refused);

bool StartConversion()
{
    ReleaseConversion();
    EnableWindow(saveButton, FALSE);
    IBaseFilter *audioEncoder = SelectedEncoder(&encoderLists[0]);
    IBaseFilter *videoEncoder = SelectedEncoder(&encoderLists[1]);

    if (FAILED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&graph)))
        return StepFailed("1", mainDialog);
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, NULL, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                (void **)&builder)))
        return StepFailed("2", mainDialog);
    if (FAILED(builder->SetFiltergraph(graph))) return StepFailed("3", mainDialog);
    WCHAR widePath[MAX_PATH];
    WidePath(inputPath, widePath);
    if (FAILED(graph->AddSourceFilter(widePath, L"Source Filter", &source))) return StepFailed("4", mainDialog);
    if (audioEncoder && FAILED(graph->AddFilter(audioEncoder, L"Audio Decoder"))) return StepFailed("7", mainDialog);

    if (!(aviForm ? BuildAviChain(audioEncoder, videoEncoder) : BuildAudioChain(audioEncoder))) return false;

    if (FAILED(graph->QueryInterface(IID_IMediaEventEx, (void **)&graphEvents))) return StepFailed("5", NULL);
    graphEvents->SetNotifyWindow((OAHWND)mainDialog, WM_GRAPHNOTIFY, 0);
    if (FAILED(graph->QueryInterface(IID_IMediaControl, (void **)&graphControl))) return StepFailed("6", mainDialog);

    graphControl->Run();
    SetCapture(mainDialog);
    SetCursor(LoadCursor(NULL, IDC_WAIT));
    UpdateCaption("変換中・・・ ");
    ShowJobProgress(mainDialog, graph, StopConversion);
    return true;
}

// "中止": the run ends at once and its file is not made.
void StopConversion()
{
    HideJobProgress(false);
    FinishConversion(false, false);
}

// The end of a run: back to idle. A graph that stopped on an error leaves no usable file, and says so; an
// output refused as a file being read is told as such.
static void FinishConversion(bool failed, bool refused)
{
    HideJobProgress(!failed);
    ReleaseConversion();
    SetCursor(LoadCursor(NULL, IDC_ARROW));
    ReleaseCapture();
    UpdateCaption("");
    if (failed) MessageBoxA(mainDialog, refused ? "読み込みファイルには保存できません" : "保存できません", appName, MB_OK);
}

void OnGraphNotify()
{
    if (!graphEvents) return;
    LONG code;
    LONG_PTR param1, param2;
    while (graphEvents && SUCCEEDED(graphEvents->GetEvent(&code, &param1, &param2, 0))) {
        graphEvents->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) {
            FinishConversion(code != EC_COMPLETE, code == EC_ERRORABORT && OutputRefused((HRESULT)param1));
            return;
        }
    }
}

void ReleaseConversion()
{
    if (graphControl) graphControl->Stop();
    if (graphEvents) graphEvents->SetNotifyWindow((OAHWND)NULL, 0, 0);
    EnableWindow(saveButton, TRUE);
    ReleaseSlot(source);
    ReleaseSlot(graphEvents);
    ReleaseSlot(graphControl);
    ReleaseSlot(graph);
    ReleaseSlot(builder);
}
