// Drives Snipwell as a user does: opens a movie, sets the marks, saves the section with one compressor,
// and prints how long the save took (from the compressor's OK until the title is back).
// Usage: snipwell_cut.exe.so SNIPWELL_EXE INPUT OUTPUT COMPRESSOR START_POS END_POS
#include <windows.h>
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
    DWORD start = GetTickCount();
    drv::click(choose, IDOK);
    drv::waitGone(choose);
    if (!drv::waitUntil([&] { return drv::text(main) == title; }, 600000)) return 6;
    drv::sync(main, 600000);
    printf("seconds=%.2f\n", (GetTickCount() - start) / 1000.0);
    drv::post(main, WM_CLOSE);
    app.wait();
    return 0;
}
