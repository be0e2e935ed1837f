// Snipwell: one file opened, previewed, marked and cut into a new file. One program-wide state.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <qedit.h>
#include "editing_services.h"
#include "compressors.h"
#include "resource.h"

#define WM_GRAPHNOTIFY (WM_USER + 1)
#define PLAY_TIMER 1

// Playback as the program classifies it; Paused and Stopped are the values of 2 and more.
enum PlaybackState { NoMedia = 0, Running = 1, Paused = 2, Stopped = 3 };

// One stream of the opened file as the media detector describes it.
struct CutStream {
    AM_MEDIA_TYPE mediaType;   // format block owned until ReleaseMedia
    double frameRate;          // 0 when the stream has none
};

struct CutterState {
    char inputPath[MAX_PATH];
    char outputPath[MAX_PATH];
    bool audioOnly;
    LONGLONG duration;
    LONGLONG startMark;
    LONGLONG endMark;
    bool dragging;
    char captionText[MAX_PATH + 16];

    HWND dialog, videoArea, slider;
    HWND buttons[8];           // 1001 .. 1008
    HICON playIcon, pauseIcon, stopIcon, skipIcon, stepIcon;

    IGraphBuilder *graph;
    IVideoWindow *videoWindow;
    IMediaSeeking *seeking;
    IMediaEventEx *events;
    IMediaControl *control;
    IVideoFrameStep *frameStep;

    CutStream streams[2];
    int streamCount;
    IAMTimeline *timeline;
    IRenderEngine *renderEngine;

    CompressorList videoCompressors;
};

extern CutterState cutter;
extern const char appName[];

template <typename T> inline void ReleaseSlot(T **slot)
{
    if (*slot) (*slot)->Release();
    *slot = NULL;
}

void ShowMessage(const char *text);

// Playback
bool BuildPreviewGraph();
void ReleaseMedia();
void SetControlsEnabled(bool enabled);
PlaybackState GetPlaybackState();
LONGLONG SliderFromTime(LONGLONG t);
LONGLONG TimeFromSlider(int pos);
void SyncSlider();
void SeekFromSlider();
void TogglePlay();
void StopPlayback();
void SkipToStart();
void StepFrame();
void SetStartMark();
void SetEndMark();
void RestorePlayIcon();
void HandleGraphEvents();

// Cut and save
void SaveSection();
bool BuildCutTimeline();
bool ReadStreams(const char *path);
bool AddStreamGroup(int index);
bool RenderCut();
// A close while a cut runs: the cut stops and the dialog closes after it. False when no cut runs.
bool StopCutToClose();
