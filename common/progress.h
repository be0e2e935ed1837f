// A long job's progress, for every program: a small window beside the program's own with a progress bar
// (the share of the output written), the time left ("残り 1:23") and a button "中止" that stops the job;
// for a recording, the time it has run and its file's size. It is read a few times a second; the
// program's own caption and states stay its own.
#pragma once
#include <windows.h>
#include <dshow.h>

enum { IDC_JOBBAR = 3001, IDC_JOBLEFT = 3002, IDC_JOBSTOP = 3003 };
const char jobProgressClass[] = "SuiteJobProgress";   // its window class

// Shows the window beside owner for the run of graph (its IMediaSeeking position over its duration);
// stop is called once when the user presses "中止". False when the window cannot be made (the job then
// runs without it).
bool ShowJobProgress(HWND owner, IUnknown *graph, void (*stop)());
// Shows the window beside owner for a recording into path: the time since it started and the file's
// size (no bar and no stop button: the program's own control stops a recording).
bool ShowRecordingProgress(HWND owner, const char *path);
// Takes the window away; after a run that completed it shows 100 % for a moment first.
void HideJobProgress(bool completed);
// A program that holds the mouse while a job runs (SetCapture) hands its button clicks here: a click at
// point (client coordinates of window) on the stop button stops the job. True when it did.
bool JobProgressClick(HWND window, LPARAM point);
