// Times exports the way a user makes them: Sequora opens PROJECT, Save as OUT with "Motion JPEG", and the
// clock runs from the compressor dialog's OK until the title reads "Sequora" again. The first line printed
// is the seconds of the first export and Sequora's peak resident memory (MB). With RUNS, the same Sequora
// exports RUNS times in a row and prints one line per export: its number, the seconds from OK until the
// title reads "保存中 ・・・" (the timeline built), the seconds of the whole export, and Sequora's resident
// memory after it and at its peak so far (MB). Usage: sequora_export PROJECT.sqp OUT.avi [RUNS]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include "driver.h"

// The resident memory of the editor's own Unix process, now or at its peak, in kB.
static long editor_memory(const char *field)
{
    long most = 0;
    std::string command = std::string("for p in $(pgrep -f 'sequora[.]exe'); do grep ") + field +
                          " /proc/$p/status; done";
    if (FILE *p = popen(command.c_str(), "r")) {
        char line[256];
        long kb = 0;
        while (fgets(line, sizeof line, p))
            if (sscanf(strchr(line, ':') ? strchr(line, ':') + 1 : line, "%ld", &kb) == 1 && kb > most) most = kb;
        pclose(p);
    }
    return most;
}

static double seconds_since(const LARGE_INTEGER &start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: sequora_export PROJECT.sqp OUT.avi [RUNS]\n");
        return 2;
    }
    int runs = argc == 4 ? atoi(argv[3]) : 1;
    drv::Process app(drv::programPath("sequora"), {drv::dosPath(argv[1])});
    HWND main = app.window("CLASS_Sequora", "Sequora");
    if (!main) return 1;
    for (int run = 1; run <= runs; run++) {
        DeleteFileA(drv::dosPath(argv[2]).c_str());
        drv::command(main, 40003);
        HWND save = drv::waitFileDialog(app.pid());
        if (!save || !drv::chooseFile(save, drv::dosPath(argv[2]))) return 1;
        HWND choice = drv::waitWindow(app.pid(), "#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択");
        if (!choice || !drv::comboSelect(drv::findChild(choice, "ComboBox"), "Motion JPEG")) return 1;

        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        drv::click(choice, IDOK);
        if (!drv::waitUntil([&] { return drv::text(main) == "保存中 ・・・"; }, 600000)) return 1;
        double built = seconds_since(start);
        if (!drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 3600000)) return 1;
        double whole = seconds_since(start);
        if (argc == 3)
            printf("%.2f %ld\n", whole, editor_memory("VmHWM") / 1024);
        else
            printf("%d %.2f %.2f %ld %ld\n", run, built, whole, editor_memory("VmRSS") / 1024,
                   editor_memory("VmHWM") / 1024);
        fflush(stdout);
    }
    drv::post(main, WM_CLOSE);
    app.wait();
    return 0;
}
