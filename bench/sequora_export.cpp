// Times an export the way a user makes it: Sequora opens PROJECT, Save as OUT with "Motion JPEG", and the
// clock runs from the compressor dialog's OK until the title reads "Sequora" again. Prints the seconds and
// Sequora's peak resident memory. Usage: sequora_export PROJECT.sqp OUT.avi
#include <windows.h>
#include <stdio.h>
#include <string>
#include "driver.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: sequora_export PROJECT.sqp OUT.avi\n");
        return 2;
    }
    drv::Process app(drv::programPath("sequora"), {drv::dosPath(argv[1])});
    HWND main = app.window("CLASS_Sequora", "Sequora");
    if (!main) return 1;
    drv::command(main, 40003);
    HWND save = drv::waitFileDialog(app.pid());
    if (!save || !drv::chooseFile(save, drv::dosPath(argv[2]))) return 1;
    HWND choice = drv::waitWindow(app.pid(), "#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択");
    if (!choice || !drv::comboSelect(drv::findChild(choice, "ComboBox"), "Motion JPEG")) return 1;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    drv::click(choice, IDOK);
    drv::waitUntil([&] { return drv::text(main) == "保存中 ・・・"; }, 10000);
    if (!drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 600000)) return 1;
    QueryPerformanceCounter(&end);

    // The peak resident size of the editor's own Unix process.
    long peak = 0;
    if (FILE *p = popen("for p in $(pgrep -f 'sequora[.]exe'); do grep VmHWM /proc/$p/status; done", "r")) {
        char line[256];
        while (fgets(line, sizeof line, p)) {
            long kb = 0;
            if (sscanf(line, "VmHWM: %ld", &kb) == 1 && kb > peak) peak = kb;
        }
        pclose(p);
    }
    printf("%.2f %ld\n", (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart, peak / 1024);
    drv::post(main, WM_CLOSE);
    app.wait();
    return 0;
}
