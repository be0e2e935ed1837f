// The editor's program-wide state and the routines that work on it.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <dshow.h>
#include <qedit.h>
#include <stddef.h>
#include "editing_services.h"
#include "compressors.h"
#include "resource.h"

#define MAX_ITEMS 256
#define MAX_EFFECTS 128
#define CONTENT_WIDTH 10000
// The longest an item may last (a still's display time, a stream's length): 24 hours. Times beyond it are
// cut to it, so that no block width and no timeline time overflows; the latest start is that of the
// last of 256 such items.
#define MAX_ITEM_SECONDS 86400.0
// The highest output frame rate taken from the settings dialog.
#define MAX_FRAME_RATE 1000.0
#define MAX_ITEM_START ((LONGLONG)(MAX_ITEMS * MAX_ITEM_SECONDS) * 10000000)
#define WM_GRAPHNOTIFY (WM_USER + 100)

struct StreamInfo {
    GUID majorType;   // MEDIATYPE_Video or MEDIATYPE_Audio
    double length;    // seconds
};

struct MediaItem {
    LONGLONG start;         // on the output timeline, 100 ns units
    RECT block;             // in view content pixels
    int streamCount;        // 0..2
    StreamInfo streams[2];
    int effect;             // index into effects, 0 = none
    int effectSpan;         // per mille of the clip
    int fadeStart;          // per mille of the sound's length, 1000 = no fade
    double imageTime;       // seconds a still image is shown
    char path[MAX_PATH];
    char incoming[MAX_PATH];  // scratch slot for names waiting to be added
};

struct OutputSettings {
    int type;       // 0 audio+video, 1 audio only, 2 video only
    int channels;   // 0 mono, 1 stereo
    int bits;       // 0: 8 bit, 1: 16 bit
    int rate;       // 0: 8000, 1: 11025, 2: 22050, 3: 44100 Hz
    int width, height;
    int depth;      // 0: 16, 1: 24, 2: 32 bits per pixel
    double fps;
};

// Timeline construction, preview and export
bool BuildTimeline(bool exporting);
bool StartRendering(bool exporting);

// Project files store these byte for byte: the layout must not depend on the compiler.
static_assert(sizeof(OutputSettings) == 40 && offsetof(OutputSettings, fps) == 32, "settings layout");
static_assert(sizeof(MediaItem) == 624, "item layout");
static_assert(offsetof(MediaItem, streamCount) == 24 && offsetof(MediaItem, streams) == 32 &&
              offsetof(MediaItem, effect) == 80 && offsetof(MediaItem, imageTime) == 96 &&
              offsetof(MediaItem, path) == 104 && offsetof(MediaItem, incoming) == 364, "item layout");

struct EffectList {
    int count;
    char names[MAX_EFFECTS][64];
    GUID clsids[MAX_EFFECTS];
};

// Add results.
enum { ADD_NOTHING = 0, ADD_PROJECT_OPENED = 1, ADD_ITEMS_APPENDED = 2 };

extern MediaItem items[MAX_ITEMS];
extern int itemCount, selectedItem, hoverItem, firstNewItem;
extern int zoom, rowHeight;
extern OutputSettings settings;
extern char outputPath[MAX_PATH];
extern HWND mainWindow, timelineView, propertyBar;
extern HWND zoomTrackbar, changeButton, effectCombo, effectSpanTrackbar, imageTimeEdit, fadeTrackbar;
extern CompressorList videoCompressors;
extern EffectList effects;
extern IMediaEventEx *graphEvents;
extern bool exportRefused;   // the last export was refused: its output is a file being read
extern IAMTimeline *timeline;

extern const char appName[];

// Application shell
void LayOutMainWindow();
bool ConfirmStopExport();
void StopExport();
void HandleAddResult(int result);
void TearDownGraph();

// Media list
void SetItemDefaults(MediaItem *item);
double ItemLength(const MediaItem *item);
int BlockWidth(const MediaItem *item);
int AddIncomingNames(int offered);
int SplitCommandLine(const char *arguments);
int SplitForwardedCommandLine(char *text);
int TakeDroppedFiles(HDROP drop);
int AddFromOpenDialog();
void LayOutNewItems();
void DetectStreams(MediaItem *item);
void DeleteSelectedItem();
void MoveSelectedItemUp();
void MoveSelectedItemDown();
void ReplaceItemFile();
void ShowSelection();
void SetSelectedEffect(int effect);
void SetSelectedEffectSpan(int span);
void SetSelectedFadeStart(int fadeStart);
void SetSelectedImageTime(const char *text);

// Timeline construction, preview and export
bool BuildTimeline(bool exporting);
bool StartRendering(bool exporting);

// Project files
bool SaveProject(const char *name);
bool OpenProject(const char *name);
void SaveProjectCommand();
bool OpenProjectCommand();

// Output settings; the lists' entries, by index field
extern const char *const bitsNames[2];
extern const char *const rateNames[4];
extern const char *const depthNames[3];
void ShowSettingsDialog();
bool ReadFrameRate(const char *text, double *fps);

// Timeline view
bool RegisterTimelineViewClass(HINSTANCE instance);
void SetScrollRanges(int horizontalMax, int verticalMax);
void RelayOutAll();
void RepaintView(bool erase);
HFONT ViewFont();            // the font of the blocks' names
int TextRowHeight(HDC dc);   // an item row: that font's height and one pixel

// Property bar
bool CreatePropertyBar();
bool EnumerateEffects();
