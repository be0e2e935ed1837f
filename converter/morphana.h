// Morphana: one dialog that converts a movie or sound into an AVI or an audio file.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include "compressors.h"
#include "textpath.h"
#include "resource.h"

#define WM_GRAPHNOTIFY (WM_USER + 1)

// What the save writes, chosen from the form and the audio encoder's name.
enum { KIND_WMA, KIND_MP3, KIND_WAV, KIND_AVI, KIND_OTHER };

extern const char appName[];
extern char inputPath[MAX_PATH];
extern char outputPath[MAX_PATH];
extern bool aviForm;
extern int OutputKind;
extern int pcmPosition;
extern CompressorList encoderLists[2];   // 0: audio encoders, 1: video encoders
extern HWND mainDialog, saveButton, qualityTrackbar;

void UpdateCaption(const char *prefix);

// The conversion graph (conversion.cpp).
bool StartConversion();
void StopConversion();
void ReleaseConversion();
void OnGraphNotify();
