// Dubrix: a copy of an AVI file with its picture re-encoded and a WAV file's sound in place of its own.
#pragma once
#include "samefile.h"
#include <windows.h>
#include <dshow.h>
#include "compressors.h"
#include "resource.h"

#define WM_GRAPHEVENT (WM_USER + 1)

extern const char appName[];

// The program-wide state, alive for the whole run.
extern HWND replacerDialog;
extern char aviPath[MAX_PATH];
extern char wavPath[MAX_PATH];
extern char outputPath[MAX_PATH];          // the file of the running (or last) conversion
extern CompressorList compressorList;      // filters[i] stands for line i of combo box 1008
extern int compressorIndex;
extern IGraphBuilder *graphBuilder;
extern ICaptureGraphBuilder2 *captureBuilder;
extern IBaseFilter *sources[2];            // 0: the AVI file, 1: the WAV file (or empty)
extern IMediaEventEx *graphEvents;
extern IMediaControl *mediaControl;
extern HCURSOR savedCursor;
extern bool converting;                    // wait cursor shown and mouse captured

// Shows TEXT in a message box over the dialog, captioned "Dubrix".
void Report(const char *text);

bool StartConversion();
bool AddSource(int slot, const char *name);
bool ConnectOutput();
void FinishConversion();
void AbortConversion(bool refused);
void StopConversion();
void ReleaseConversion();
void RemoveUnfinishedOutput();
void LeaveConvertingState();

// The output beside the AVI: its file name up to the last "." followed by "_.avi", or "_.avi" after
// the whole name when the file name has no ".". False when the result does not fit in SIZE bytes.
bool FormOutputPath(const char *avi, char *out, int size);
