// Drives Morphana as its user does and times conversions from the press of OK in the save dialog until
// the dialog is idle again, one Morphana run per job:
//   avi  a movie to an AVI (Motion JPEG, quality 85, PCM)
//   mp3  a sound to MPEG Layer-3 (the encoder's own settings: 128 kbit/s CBR, joint stereo)
//   wma  a sound to WMAudio (128 kbit/s)
// Usage: morphana_convert.exe MORPHANA.exe JOB INPUT OUTPUT [JOB INPUT OUTPUT ...]   (Unix paths)
// Prints "JOB_seconds=" (-1 for a job that failed), "JOB_cpu_seconds=" and "JOB_own_cpu_seconds=", the
// processor time the Morphana process spent over the same span (read from /proc: all its threads, and
// its main thread, which runs the windows), and "JOB_peak_kb=", the largest resident size the Morphana
// process reached in that job's run.
#include <windows.h>
#include <psapi.h>
#include <dirent.h>
#include <unistd.h>
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

// Processor time (user and system, in seconds) read from a /proc stat file when it is that of a task
// named NAME (any name when NULL); -1 when it is not.
static double TaskSeconds(const std::string &path, const char *name)
{
    FILE *f = fopen(path.c_str(), "r");
    if (!f) return -1;
    char line[1024] = "";
    if (!fgets(line, sizeof line, f)) line[0] = 0;
    fclose(f);
    // pid (comm) state ppid ...: utime and stime are the 14th and 15th fields
    const char *open = strchr(line, '('), *close = strrchr(line, ')');
    unsigned long user = 0, system = 0;
    if (!open || !close || (name && std::string(open + 1, close) != name) ||
        sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2)
        return -1;
    return (double)(user + system) / sysconf(_SC_CLK_TCK);
}

// The processor time the running Morphana process (the one process named morphana.exe) has spent so
// far: all of it, and that of its main thread, which runs the windows and their message loop (the media
// have threads of their own). Zeros when it is not found.
struct Cpu {
    double all = 0, own = 0;
};
static Cpu MorphanaCpu()
{
    Cpu cpu;
    DIR *processes = opendir("/proc");
    if (!processes) return cpu;
    while (struct dirent *process = readdir(processes)) {
        std::string dir = std::string("/proc/") + process->d_name;
        double all = process->d_name[0] >= '1' && process->d_name[0] <= '9' ? TaskSeconds(dir + "/stat", "morphana.exe") : -1;
        if (all < 0) continue;
        cpu.all = all;
        cpu.own = TaskSeconds(dir + "/task/" + process->d_name + "/stat", NULL);
    }
    closedir(processes);
    return cpu;
}

static double Convert(const std::string &program, const Job &job, const std::string &input,
                      const std::string &output, unsigned long *peak, Cpu *cpu)
{
    *peak = 0;
    *cpu = Cpu();
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
    Cpu cpuStart = MorphanaCpu();
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
    Cpu cpuEnd = MorphanaCpu();
    cpu->all = cpuEnd.all - cpuStart.all;
    cpu->own = cpuEnd.own - cpuStart.own;
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
        Cpu cpu;
        double seconds = Convert(argv[1], *job, argv[i + 1], argv[i + 2], &peak, &cpu);
        printf("%s_seconds=%.3f\n%s_cpu_seconds=%.2f\n%s_own_cpu_seconds=%.2f\n%s_peak_kb=%lu\n", job->name,
               seconds, job->name, cpu.all, job->name, cpu.own, job->name, peak);
        fflush(stdout);
    }
    return 0;
}
