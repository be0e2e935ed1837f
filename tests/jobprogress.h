// A program's job progress window (common/progress.h) as end-to-end tests read it: the bar's percent,
// the time left, and the stop button pressed as a user presses it.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "driver/driver.h"
#include "media/mediaprobe.h"
#include "../common/progress.h"

struct JobWatch {
    std::vector<int> percents;   // the bar's positions seen, in order
    std::string left;            // the last time-left text seen
    DWORD stopMs = 0;            // from "中止" until the window was gone (stopped runs)
    bool stopped = false;
};

// JOB_SHOTS=folder keeps a picture of the screen with the progress on it, one per test program, for a look.
inline void JobShot()
{
    const char *shots = getenv("JOB_SHOTS");
    if (!shots) return;
    char program[MAX_PATH] = "job";
    GetModuleFileNameA(NULL, program, sizeof program);
    std::string name = program;
    name = name.substr(name.find_last_of("\\/") + 1);
    probe::Run("import -window root '" + std::string(shots) + "/" + name + ".png'");
}

// Watches the progress window of process PID until the bar has moved twice (then presses "中止" when
// STOP) or, without STOP, until it shows 100 % or goes.
inline JobWatch WatchJob(DWORD pid, bool stop, DWORD ms = 60000)
{
    JobWatch w;
    HWND window = drv::waitWindow(pid, jobProgressClass, NULL, 15000);
    if (!window) return w;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms && IsWindow(window)) {
        int p = (int)drv::send(drv::child(window, IDC_JOBBAR), PBM_GETPOS, 0, 0, 1000);
        std::string left = drv::text(window, IDC_JOBLEFT);
        if (p < 0 || !IsWindow(window)) break;
        if (w.percents.empty() || p != w.percents.back()) w.percents.push_back(p);
        if (w.percents.size() == 3) JobShot();
        if (!left.empty()) w.left = left;
        if (stop && w.percents.size() >= 3 && w.left.compare(0, 4, "残り") == 0 && w.left != "残り --:--") {
            DWORD pressed = GetTickCount();
            w.stopped = drv::click(window, IDC_JOBSTOP) && drv::waitGone(window, 5000);
            w.stopMs = GetTickCount() - pressed;
            break;
        }
        if (!stop && p == 100) break;
        Sleep(20);
    }
    return w;
}
