// Drives Snipwell as a user does: opens a movie, sets the marks, saves the section with one compressor,
// and prints how long the save took (from the compressor's OK until the preview is back) and the largest
// resident size the Snipwell process reached ("seconds=", "peak_kb=").
// Usage: snipwell_cut.exe.so SNIPWELL_EXE INPUT OUTPUT COMPRESSOR START_POS END_POS
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <commctrl.h>
#include "driver/driver.h"

int main(int argc, char **argv)
{
    if (argc < 7) return 2;
    std::string input = drv::dosPath(argv[2]), output = drv::dosPath(argv[3]), compressor = argv[4];
    std::string name = drv::unixPath(input);
    name = name.substr(name.rfind('/') + 1);
    std::string title = name + "  <Snipwell>";
    drv::Process app(argv[1], {input});
    HWND main = app.window("#32770", title.c_str(), 30000);
    if (!main) return 3;
    HWND slider = drv::child(main, 1000);
    drv::setTrackPos(slider, atoi(argv[5]));
    drv::sync(main);
    drv::click(main, 1005);
    drv::sync(main);
    drv::setTrackPos(slider, atoi(argv[6]));
    drv::sync(main);
    drv::click(main, 1006);
    drv::sync(main);
    drv::click(main, 1007);
    HWND dialog = drv::waitFileDialog(app.pid());
    if (!dialog || !drv::chooseFile(dialog, output)) return 4;
    HWND choose = app.window("#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択");
    if (!choose || !drv::comboSelect(drv::child(choose, 1010), compressor)) return 5;
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    drv::click(choose, IDOK);
    // The save is over when the title has shown the saving state and is back (read from the server: no
    // message to the busy dialog) and the dialog answers again, which it does once the preview is rebuilt
    // and the slider has its range back. Polled every millisecond, so that the figure is the program's.
    auto caption = [&] {
        char text[512] = "";
        GetWindowTextA(main, text, sizeof text);
        return std::string(text);
    };
    auto waitFor = [](const std::function<bool()> &done) {
        for (DWORD waited = 0; !done(); waited++) {
            if (waited > 600000) return false;
            Sleep(1);
        }
        return true;
    };
    if (!waitFor([&] { return caption() == "保存中 ・・・"; }) || !waitFor([&] { return caption() == title; }))
        return 6;
    DWORD_PTR answer;
    do {
        if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 600000, &answer)) return 6;
    } while (drv::send(slider, TBM_GETRANGEMAX) <= 0);
    QueryPerformanceCounter(&stop);
    printf("seconds=%.3f\n", (double)(stop.QuadPart - start.QuadPart) / frequency.QuadPart);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(app.handle(), &counters, sizeof counters))
        printf("peak_kb=%lu\n", (unsigned long)(counters.PeakWorkingSetSize / 1024));
    drv::post(main, WM_CLOSE);
    app.wait();
    return 0;
}
