// Drives Morphana as its user does and times conversions from the press of OK in the save dialog until
// the dialog is idle again, one Morphana run per job:
//   avi  a movie to an AVI (Motion JPEG, quality 85, PCM)
//   mp3  a sound to MPEG Layer-3 (the encoder's own settings: 128 kbit/s CBR, joint stereo)
//   wma  a sound to WMAudio (128 kbit/s)
// Usage: morphana_convert.exe MORPHANA.exe JOB INPUT OUTPUT [JOB INPUT OUTPUT ...]   (Unix paths)
// Prints "JOB_seconds=" (-1 for a job that failed) and "JOB_peak_kb=", the largest resident size the
// Morphana process reached in that job's run.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "driver/driver.h"
#include "converter/resource.h"

static const char converting[] = "変換中・・・ ";

struct Job {
    const char *name;
    bool avi;
    const char *audio;       // the audio encoder chosen in the dialog
};

static const Job jobs[] = {
    {"avi", true, "PCM"},
    {"mp3", false, "MPEG Layer-3"},
    {"wma", false, "WMAudio Encoder DMO"},
};

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)(to.QuadPart - from.QuadPart) / f.QuadPart;
}

// The largest resident size of the process so far, in KiB (0 when unknown).
static unsigned long PeakKb(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? (unsigned long)(counters.PeakWorkingSetSize / 1024)
                                                                     : 0;
}

static double Convert(const std::string &program, const Job &job, const std::string &input,
                      const std::string &output, unsigned long *peak)
{
    *peak = 0;
    DeleteFileA(drv::dosPath(output).c_str());
    drv::Process app(program, {drv::dosPath(input)});
    HWND main = app.window("#32770", "*Morphana*");
    if (!main) return -1;
    HWND audioCombo = drv::child(main, IDC_AUDIOENCODER);
    if (!drv::waitUntil([&] { return drv::comboCount(audioCombo) > 1; })) return -1;
    drv::send(drv::child(main, job.avi ? IDC_AVIFORM : IDC_AUDIOFORM), BM_CLICK);
    drv::sync(main);
    if (!drv::comboSelect(audioCombo, job.audio)) return -1;
    if (job.avi && !drv::comboSelect(drv::child(main, IDC_VIDEOENCODER), "Motion JPEG")) return -1;
    drv::sync(main);
    if (!drv::click(main, IDC_SAVE)) return -1;
    HWND dialog = drv::waitFileDialog(app.pid());
    if (!dialog) return -1;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!drv::chooseFile(dialog, output)) return -1;
    // Over when the file is there (it takes its name only once complete) or a message box tells of a
    // failure, and the dialog is idle again. The caption and the button's state are read from the server
    // every 2 ms, the caption first: no message to the busy program, whose every answer would take a turn
    // from its work.
    HWND save = drv::child(main, IDC_SAVE);
    auto over = [&] {
        char title[512] = "";
        GetWindowTextA(main, title, sizeof title);
        return strncmp(title, converting, strlen(converting)) != 0 && drv::enabled(save) &&
               (drv::fileSize(output) > 0 || drv::findMessageBox(app.pid()));
    };
    bool done = false;
    for (DWORD begun = GetTickCount(); !(done = over()) && GetTickCount() - begun < 600000;) Sleep(2);
    QueryPerformanceCounter(&end);
    *peak = PeakKb(app.handle());
    bool quiet = !drv::findMessageBox(app.pid());
    drv::post(main, WM_CLOSE);
    app.wait();
    return done && quiet && drv::fileSize(output) > 0 ? Seconds(start, end) : -1;
}

int main(int argc, char **argv)
{
    if (argc < 5 || (argc - 2) % 3) {
        fprintf(stderr, "usage: morphana_convert.exe MORPHANA.exe JOB INPUT OUTPUT [JOB INPUT OUTPUT ...]"
                        "   (JOB: avi, mp3 or wma)\n");
        return 2;
    }
    for (int i = 2; i + 2 < argc; i += 3) {
        const Job *job = NULL;
        for (const Job &j : jobs)
            if (!strcmp(argv[i], j.name)) job = &j;
        if (!job) {
            fprintf(stderr, "unknown job %s\n", argv[i]);
            return 2;
        }
        unsigned long peak;
        double seconds = Convert(argv[1], *job, argv[i + 1], argv[i + 2], &peak);
        printf("%s_seconds=%.3f\n%s_peak_kb=%lu\n", job->name, seconds, job->name, peak);
        fflush(stdout);
    }
    return 0;
}
