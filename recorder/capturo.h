// Capturo: the program-wide state of the recorder and its routines.
#pragma once
#include <windows.h>
#include <dshow.h>
#include "compressors.h"
#include "resource.h"

#define MAX_CAPTURE_SIZES 64
#define WM_GRAPHEVENT (WM_USER + 1)
#define PICTURE_PROPERTY_COUNT 10
#define PICTURE_TRACKBARS 8

// The device's own dialogs (IAMVfwCaptureDialogs::HasDialog, ShowDialog).
enum { VFW_DIALOG_SOURCE = 1, VFW_DIALOG_FORMAT = 2, VFW_DIALOG_DISPLAY = 4 };

struct CaptureSize {
    int width, height;
};

// One of the device's picture controls as the program knows and wants it.
struct PictureProperty {
    bool supported;      // the device gave its range and current value
    int min, max, step;
    int defaultValue;
    int flags;           // current mode: VideoProcAmp_Flags_Auto or VideoProcAmp_Flags_Manual
    int value;           // the value the program sends the device
};

extern const char appName[];
extern char outputPath[MAX_PATH];
extern CompressorList compressors;      // combo line = filter slot; slot 0 ("None") stays empty
extern int CaptureMode;                 // 0 preview, 1 record, 2 preview and record
extern CaptureSize SizeList[MAX_CAPTURE_SIZES];
extern int sizeCount;
extern int captureWidth, captureHeight;
extern bool deviceControls;             // the device has no VfW dialogs: sizes and picture controls are ours
extern PictureProperty pictureProperties[PICTURE_PROPERTY_COUNT];

extern HWND mainDialog, previewArea, compressorCombo;
extern ICaptureGraphBuilder2 *captureBuilder;
extern IGraphBuilder *filterGraph;
extern IBaseFilter *captureFilter;
extern IVideoWindow *videoWindow;
extern IMediaControl *mediaControl;
extern IAMVfwCaptureDialogs *vfwDialogs;

// The capture graph (capture.cpp).
bool BuildCaptureGraph(bool first);
void TearDownCaptureGraph();
void StopCapture();
void RestartPreview();
void ListCaptureSizes();
bool SetCaptureFormat();

// The device's own dialogs and the picture controls (picture.cpp).
bool CheckVfwDialogs();
bool LookUpVfwDialogs();
void ReadPictureProperties();
void ApplyPictureProperties();
void ShowVfwDialog(int which);
INT_PTR CALLBACK PictureDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Trackbar positions 0..1000 against a property's range; a property with an empty range or no step
// cannot be adjusted.
bool Adjustable(const PictureProperty &property);
int TrackbarPosition(const PictureProperty &property);
int TrackbarValue(const PictureProperty &property, int position);
