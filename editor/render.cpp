// Preview and export: the render engine over the timeline, its group pins to the default renderers or
// into the output file, the graph run with its events posted to the main window.
#include "sequora.h"
#include "outputchain.h"
#include "progress.h"
#include "samefile.h"

static const char savingTitle[] = "保存中 ・・・";

static IRenderEngine *renderEngine;
static IGraphBuilder *graph;
static IMediaControl *graphControl;
IMediaEventEx *graphEvents;
bool exportRefused;

template <typename T> static void ReleaseSlot(T **slot)
{
    if (*slot) (*slot)->Release();
    *slot = NULL;
}

bool StartRendering(bool exporting)
{
    ReleaseSlot(&renderEngine);
    if (FAILED(CoCreateInstance(CLSID_RenderEngine, NULL, CLSCTX_INPROC_SERVER, IID_IRenderEngine,
                                (void **)&renderEngine)))
        return false;
    if (FAILED(renderEngine->SetTimelineObject(timeline)) || FAILED(renderEngine->ConnectFrontEnd())) return false;
    ReleaseSlot(&graph);
    if (FAILED(renderEngine->GetFilterGraph(&graph)) || !graph) return false;

    if (!exporting) {
        if (FAILED(renderEngine->RenderOutputPins())) return false;
    } else if (settings.type == 1) {
        if (!BuildWavChain(graph, renderEngine, outputPath)) return false;
    } else if (!BuildAviChain(graph, renderEngine, timeline, outputPath, &videoCompressors, NULL)) {
        return false;
    }

    ReleaseSlot(&graphControl);
    if (FAILED(graph->QueryInterface(IID_IMediaControl, (void **)&graphControl))) return false;
    ReleaseSlot(&graphEvents);
    if (FAILED(graph->QueryInterface(IID_IMediaEventEx, (void **)&graphEvents))) return false;
    if (FAILED(graphEvents->SetNotifyWindow((OAHWND)mainWindow, WM_GRAPHNOTIFY, 0))) return false;
    HRESULT hr = graphControl->Run();
    exportRefused = exporting && OutputRefused(hr);
    if (FAILED(hr)) return false;
    if (exporting) {
        SetWindowTextA(mainWindow, savingTitle);
        ShowJobProgress(mainWindow, graph, StopExport);
    }
    return true;
}

void TearDownGraph()
{
    HideJobProgress(false);
    if (graphControl) graphControl->Stop();
    if (renderEngine) renderEngine->ScrapIt();
    if (graphEvents) graphEvents->SetNotifyWindow(0, 0, 0);
    ReleaseSlot(&graphEvents);
    ReleaseSlot(&graphControl);
    ReleaseSlot(&graph);
    ReleaseSlot(&renderEngine);
    ReleaseSlot(&timeline);
}
