// Drives Morphana as its user does and times two conversions from the press of OK in the save dialog
// until the dialog is idle again: a movie to an AVI (Motion JPEG, quality 85, PCM) and a WAV to an MP3.
// Usage: morphana_convert.exe MORPHANA.exe MOVIE.avi OUT.avi SOUND.wav OUT.mp3   (Unix paths)
// Prints "avi_seconds=" and "mp3_seconds=" (-1 for a job that failed).
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "driver/driver.h"
#include "converter/resource.h"

static const char converting[] = "変換中・・・ ";

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)(to.QuadPart - from.QuadPart) / f.QuadPart;
}

static double Convert(const std::string &program, const std::string &input, const std::string &output, bool avi,
                      const char *audio)
{
    DeleteFileA(drv::dosPath(output).c_str());
    drv::Process app(program, {drv::dosPath(input)});
    HWND main = app.window("#32770", "*Morphana*");
    if (!main) return -1;
    HWND audioCombo = drv::child(main, IDC_AUDIOENCODER);
    if (!drv::waitUntil([&] { return drv::comboCount(audioCombo) > 1; })) return -1;
    drv::send(drv::child(main, avi ? IDC_AVIFORM : IDC_AUDIOFORM), BM_CLICK);
    drv::sync(main);
    if (!drv::comboSelect(audioCombo, audio)) return -1;
    if (avi && !drv::comboSelect(drv::child(main, IDC_VIDEOENCODER), "Motion JPEG")) return -1;
    drv::sync(main);
    if (!drv::click(main, IDC_SAVE)) return -1;
    HWND dialog = drv::waitFileDialog(app.pid());
    if (!dialog) return -1;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!drv::chooseFile(dialog, output)) return -1;
    bool done = drv::waitUntil([&] {
        std::string title = drv::text(main);
        return title.compare(0, strlen(converting), converting) != 0 && drv::enabled(drv::child(main, IDC_SAVE));
    }, 600000);
    QueryPerformanceCounter(&end);
    bool quiet = !drv::findMessageBox(app.pid());
    drv::post(main, WM_CLOSE);
    app.wait();
    return done && quiet && drv::fileSize(output) > 0 ? Seconds(start, end) : -1;
}

int main(int argc, char **argv)
{
    if (argc < 6) {
        fprintf(stderr, "usage: morphana_convert.exe MORPHANA.exe MOVIE.avi OUT.avi SOUND.wav OUT.mp3\n");
        return 2;
    }
    printf("avi_seconds=%.3f\n", Convert(argv[1], argv[2], argv[3], true, "PCM"));
    printf("mp3_seconds=%.3f\n", Convert(argv[1], argv[4], argv[5], false, "MPEG Layer-3"));
    return 0;
}
