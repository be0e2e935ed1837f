// Cutting and saving: the marked section of the opened file through a timeline and the render engine
// into a new AVI or WAV file, then the preview rebuilt.
#include "snipwell.h"
#include <stdlib.h>
#include <string.h>
#include "outputchain.h"
#include "progress.h"
#include "samefile.h"
#include "textpath.h"

static const LONGLONG oneSecond = 10000000;

// The last cut's output was refused as a file being read (reached by a name the check below cannot see).
static bool outputRefused;
// A cut is running; the user stopped it ("中止"); the window was closed while it ran.
static bool cutRunning, cutStopped, closeAfterCut;

void SaveSection()
{
    char name[MAX_PATH] = "";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = cutter.dialog;
    ofn.lpstrFilter = cutter.audioOnly ? "ｳｪｰﾌﾞﾌｧｲﾙ (*.wav)\0*.wav\0" : "AVIﾌｧｲﾙ (*.avi)\0*.avi\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return;

    CopyText(cutter.outputPath, name, sizeof cutter.outputPath);
    if (!FindLastChar(cutter.outputPath, '.')) {
        // No room left for the extension: the name cannot be completed.
        if (strlen(cutter.outputPath) + 4 >= sizeof cutter.outputPath) {
            ShowMessage("保存できません");
            return;
        }
        strcat(cutter.outputPath, cutter.audioOnly ? ".wav" : ".avi");
    }
    if (SameFile(cutter.outputPath, cutter.inputPath)) {
        ShowMessage("読み込みファイルには保存できません");
        return;
    }

    ReleaseMedia();
    if (!cutter.audioOnly &&
        RunCompressorDialog(cutter.dialog, &cutter.videoCompressors, IDD_COMPRESSOR, IDC_COMPRESSORLIST) != 1) {
        BuildPreviewGraph();
        return;
    }
    outputRefused = cutStopped = closeAfterCut = false;
    if (!BuildCutTimeline()) {
        ReleaseMedia();
        if (!cutStopped) ShowMessage(outputRefused ? "読み込みファイルには保存できません" : "保存できません");
    }
    if (closeAfterCut) {
        PostMessageA(cutter.dialog, WM_CLOSE, 0, 0);
        return;
    }
    BuildPreviewGraph();
}

static void StopCut()
{
    cutStopped = true;
}

bool StopCutToClose()
{
    if (!cutRunning) return false;
    cutStopped = closeAfterCut = true;
    return true;
}

// The end of the run among the graph's waiting events (its EC_ code), 0 while it runs. The others are
// let go.
static LONG TakeEndEvent(IMediaEvent *events)
{
    LONG code = 0, event;
    LONG_PTR param1, param2;
    while (!code && events->GetEvent(&event, &param1, &param2, 0) == S_OK) {
        if (event == EC_COMPLETE || event == EC_ERRORABORT || event == EC_USERABORT) code = event;
        events->FreeEventParams(event, param1, param2);
    }
    return code;
}

// Waits for the end of the cut while the dialog goes on answering: it repaints, shows the progress and
// takes "中止". The graph's events wake the wait as the dialog's messages do, so the end is seen at once.
// The graph's end (its EC_ code, or 0 when the user stopped it).
static LONG WaitForCut(IMediaEvent *events)
{
    LONG code = 0;
    HANDLE ready = NULL;
    if (FAILED(events->GetEventHandle((OAEVENT *)&ready))) ready = NULL;
    cutRunning = true;
    while (!cutStopped && !(code = TakeEndEvent(events))) {
        MsgWaitForMultipleObjects(ready ? 1 : 0, &ready, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (!cutStopped && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {   // for the message loop once the cut has ended
                PostQuitMessage((int)msg.wParam);
                cutStopped = true;
                break;
            }
            if (IsDialogMessageA(cutter.dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    cutRunning = false;
    return cutStopped ? 0 : code;
}

bool BuildCutTimeline()
{
    if (!cutter.inputPath[0]) return true;
    ReleaseSlot(&cutter.timeline);
    if (FAILED(CoCreateInstance(CLSID_AMTimeline, NULL, CLSCTX_INPROC_SERVER, IID_IAMTimeline,
                                (void **)&cutter.timeline)))
        return false;
    ReadStreams(cutter.inputPath);
    // The section starts at the whole second at or before the start mark.
    cutter.startMark -= cutter.startMark % oneSecond;
    for (int i = 0; i < cutter.streamCount; i++) AddStreamGroup(i);
    return RenderCut();
}

bool ReadStreams(const char *path)
{
    // A description left from an earlier save has had its format blocks freed: it must not be used.
    cutter.streamCount = 0;
    IMediaDet *detector = NULL;
    if (FAILED(CoCreateInstance(CLSID_MediaDet, NULL, CLSCTX_INPROC_SERVER, IID_IMediaDet, (void **)&detector)))
        return false;
    WCHAR widePath[MAX_PATH];
    BSTR name = NULL;
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH)) name = SysAllocString(widePath);
    HRESULT hr = name ? detector->put_Filename(name) : E_OUTOFMEMORY;
    SysFreeString(name);
    LONG count = 0;
    if (FAILED(hr) || FAILED(detector->get_OutputStreams(&count)) || count <= 0) {
        detector->Release();
        return false;
    }
    cutter.streamCount = count > 2 ? 2 : count;
    for (int i = 0; i < cutter.streamCount; i++) {
        CutStream *stream = &cutter.streams[i];
        if (FAILED(detector->put_CurrentStream(i))) continue;
        if (FAILED(detector->get_FrameRate(&stream->frameRate))) stream->frameRate = 0;
        if (stream->mediaType.pbFormat) CoTaskMemFree(stream->mediaType.pbFormat);
        if (stream->mediaType.pUnk) stream->mediaType.pUnk->Release();
        memset(&stream->mediaType, 0, sizeof stream->mediaType);
        detector->get_StreamMediaType(&stream->mediaType);
    }
    detector->Release();
    return true;
}

// The group's output type made from the stream's: one WAVEFORMATEX or one VIDEOINFOHEADER, uncompressed
// sample size for video. False when the stream's format is too short to copy or the copy cannot be made.
static bool MakeGroupType(const AM_MEDIA_TYPE *stream, AM_MEDIA_TYPE *type)
{
    memset(type, 0, sizeof *type);
    type->majortype = stream->majortype;
    type->subtype = stream->subtype;
    ULONG size = IsEqualGUID(stream->majortype, MEDIATYPE_Audio) ? 18 : sizeof(VIDEOINFOHEADER);
    if (!stream->pbFormat || stream->cbFormat < size) return false;
    type->pbFormat = (BYTE *)CoTaskMemAlloc(size);
    if (!type->pbFormat) return false;
    memcpy(type->pbFormat, stream->pbFormat, size);
    type->cbFormat = size;
    if (IsEqualGUID(stream->majortype, MEDIATYPE_Audio)) {
        type->formattype = FORMAT_WaveFormatEx;
    } else {
        const BITMAPINFOHEADER *bitmap = &((VIDEOINFOHEADER *)type->pbFormat)->bmiHeader;
        type->formattype = FORMAT_VideoInfo;
        type->bFixedSizeSamples = TRUE;
        type->bTemporalCompression = FALSE;
        type->lSampleSize = (ULONG)(((bitmap->biWidth * bitmap->biBitCount + 31) & ~31) / 8 * labs(bitmap->biHeight));
    }
    return true;
}

static IAMTimelineObj *CreateNode(TIMELINE_MAJOR_TYPE type)
{
    IAMTimelineObj *node = NULL;
    if (FAILED(cutter.timeline->CreateEmptyNode(&node, type))) return NULL;
    return node;
}

bool AddStreamGroup(int index)
{
    const CutStream *stream = &cutter.streams[index];
    IAMTimelineObj *groupNode = CreateNode(TIMELINE_MAJOR_TYPE_GROUP);
    IAMTimelineGroup *group = NULL;
    if (!groupNode) return false;
    if (FAILED(groupNode->QueryInterface(IID_IAMTimelineGroup, (void **)&group))) {
        groupNode->Release();
        return false;
    }
    // A video group is rendered at the source's own frame rate.
    if (stream->frameRate > 0) group->SetOutputFPS(stream->frameRate);

    bool ok = true;
    const GUID &major = stream->mediaType.majortype;
    if (IsEqualGUID(major, MEDIATYPE_Audio) || IsEqualGUID(major, MEDIATYPE_Video)) {
        AM_MEDIA_TYPE type;
        ok = MakeGroupType(&stream->mediaType, &type) && SUCCEEDED(group->SetMediaType(&type));
        if (type.pbFormat) CoTaskMemFree(type.pbFormat);
    }
    ok = ok && SUCCEEDED(cutter.timeline->AddGroup(groupNode));
    groupNode->Release();   // the timeline holds the group

    IAMTimelineObj *trackNode = NULL, *sourceNode = NULL;
    IAMTimelineComp *comp = NULL;
    IAMTimelineTrack *track = NULL;
    IAMTimelineSrc *source = NULL;
    WCHAR widePath[MAX_PATH] = {0};
    MultiByteToWideChar(CP_ACP, 0, cutter.inputPath, -1, widePath, MAX_PATH);
    BSTR name = SysAllocString(widePath);
    ok = ok && (trackNode = CreateNode(TIMELINE_MAJOR_TYPE_TRACK)) != NULL &&
         SUCCEEDED(group->QueryInterface(IID_IAMTimelineComp, (void **)&comp)) &&
         SUCCEEDED(comp->VTrackInsBefore(trackNode, 0));
    ReleaseSlot(&comp);
    ok = ok && SUCCEEDED(trackNode->QueryInterface(IID_IAMTimelineTrack, (void **)&track)) &&
         (sourceNode = CreateNode(TIMELINE_MAJOR_TYPE_SOURCE)) != NULL &&
         SUCCEEDED(sourceNode->QueryInterface(IID_IAMTimelineSrc, (void **)&source)) &&
         SUCCEEDED(sourceNode->SetStartStop(0, cutter.endMark - cutter.startMark)) && name &&
         SUCCEEDED(source->SetMediaName(name)) &&
         SUCCEEDED(source->SetMediaTimes(cutter.startMark, cutter.endMark)) &&
         SUCCEEDED(track->SrcAdd(sourceNode));
    SysFreeString(name);
    ReleaseSlot(&source);
    ReleaseSlot(&sourceNode);
    ReleaseSlot(&track);
    ReleaseSlot(&trackNode);
    ReleaseSlot(&group);
    return ok;
}

static void ShowSavingState(bool saving)
{
    SetControlsEnabled(!saving);
    EnableWindow(cutter.buttons[IDC_QUIT - IDC_PLAY], !saving);
}

bool RenderCut()
{
    ReleaseSlot(&cutter.renderEngine);
    if (FAILED(CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine,
                                (void **)&cutter.renderEngine)))
        return false;
    if (FAILED(cutter.renderEngine->SetTimelineObject(cutter.timeline)) ||
        FAILED(cutter.renderEngine->ConnectFrontEnd()))
        return false;
    ReleaseSlot(&cutter.graph);
    if (FAILED(cutter.renderEngine->GetFilterGraph(&cutter.graph)) || !cutter.graph) return false;

    bool chain = cutter.audioOnly
                     ? BuildWavChain(cutter.graph, cutter.renderEngine, cutter.outputPath)
                     : BuildAviChain(cutter.graph, cutter.renderEngine, cutter.timeline, cutter.outputPath,
                                     &cutter.videoCompressors, &MEDIATYPE_Audio);
    if (!chain) return false;

    ReleaseSlot(&cutter.control);
    if (FAILED(cutter.graph->QueryInterface(IID_IMediaControl, (void **)&cutter.control))) return false;
    IMediaEvent *events = NULL;
    if (FAILED(cutter.graph->QueryInterface(IID_IMediaEvent, (void **)&events))) return false;

    // The slider shows no position while saving.
    SendMessageA(cutter.slider, TBM_CLEARSEL, FALSE, 0);
    SendMessageA(cutter.slider, TBM_SETRANGE, TRUE, MAKELONG(0, 0));
    HRESULT run = cutter.control->Run();
    if (FAILED(run)) {
        outputRefused = OutputRefused(run);
        events->Release();
        return false;
    }

    SetWindowTextA(cutter.dialog, "保存中 ・・・");
    ShowSavingState(true);
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    ShowJobProgress(cutter.dialog, cutter.graph, StopCut);
    LONG code = WaitForCut(events);
    events->Release();
    // Only a graph that ran to its end has written the whole section.
    bool complete = code == EC_COMPLETE;
    HideJobProgress(complete);
    if (complete) {
        cutter.control->Stop();
        cutter.renderEngine->ScrapIt();
        ReleaseMedia();
    }
    SetWindowTextA(cutter.dialog, cutter.captionText);
    ShowSavingState(false);
    SetCursor(previous);
    return complete;
}
