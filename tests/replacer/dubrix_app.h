// Dubrix as its end-to-end tests see it: the dialog, its boxes and buttons, its messages, and the
// files it writes read back through ffprobe and ffmpeg.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "driver/driver.h"
#include "media/mediaprobe.h"
#include "replacer/resource.h"
#include "gtest_win.h"

inline const char kDialogClass[] = "#32770";

// Unix path of a file of the shared test media.
inline std::string Media(const std::string &name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/tmp/suite-media") + "/" + name;
}

// Runs ffmpeg quietly on a command's arguments; true when it wrote what was asked.
inline bool MakeMedia(const std::string &args)
{
    probe::Run("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >/dev/null 2>&1");
    return true;
}

// RMS level in dB of the first audio stream inside a narrow band around HZ: about -21 for a full sine of
// that pitch, below -45 for one far from it; -200 when there is no sound.
inline double ToneLevel(const std::string &file, int hz)
{
    std::string out = probe::Run("ffmpeg -nostdin -hide_banner -i '" + file + "' -map 0:a:0 -af bandpass=f=" +
                                 std::to_string(hz) + ":width_type=q:width=10,astats=measure_perchannel=none" +
                                 " -f null - 2>&1");
    size_t at = out.rfind("RMS level dB:");
    if (at == std::string::npos) return -200;
    return atof(out.c_str() + at + 13);
}

class Dubrix : public ::testing::Test {
protected:
    drv::Process app;
    HWND dialog = NULL;

    void Start()
    {
        ASSERT_TRUE(app.start(drv::programPath("dubrix"))) << app.error();
        dialog = app.window(kDialogClass, "Dubrix");
        ASSERT_TRUE(dialog) << drv::describeWindows(app.pid());
    }

    std::string Title() { return drv::text(dialog); }

    // A message box of the program: a dialog of its own other than the main one (which, with its
    // labels, looks like a message box to the driver).
    HWND FindBox()
    {
        for (HWND wnd : drv::topWindows(app.pid(), kDialogClass))
            if (wnd != dialog) return wnd;
        return NULL;
    }
    drv::MessageBoxInfo WaitBox(DWORD ms = 20000)
    {
        drv::MessageBoxInfo info;
        if (drv::waitUntil([&] { return (info.hwnd = FindBox()) != NULL; }, ms)) {
            drv::waitUntil([&] { return !drv::messageText(info.hwnd).empty(); }, 2000);
            info.caption = drv::text(info.hwnd);
            info.text = drv::messageText(info.hwnd);
        }
        return info;
    }

    // Fills the two path boxes as the user types them (Unix paths become DOS paths; "" stays empty).
    void SetPaths(const std::string &avi, const std::string &wav)
    {
        ASSERT_TRUE(drv::setText(dialog, IDC_AVIPATH, avi.empty() || avi[0] != '/' ? avi : drv::dosPath(avi)));
        ASSERT_TRUE(drv::setText(dialog, IDC_WAVPATH, wav.empty() || wav[0] != '/' ? wav : drv::dosPath(wav)));
    }

    bool ChooseCompressor(const std::string &name)
    {
        return drv::comboSelect(drv::child(dialog, IDC_COMPRESSOR), name);
    }

    // Presses 実行 and waits for the title "終了！"; the texts of any message boxes that came instead.
    std::vector<std::string> RunToEnd(DWORD ms = 40000)
    {
        std::vector<std::string> boxes;
        EXPECT_TRUE(drv::click(dialog, IDC_RUN));
        drv::waitUntil([&] {
            if (HWND box = FindBox()) {
                boxes.push_back(drv::messageText(box));
                drv::answer(box, IDOK);
                return false;
            }
            return Title() == "終了！" || (!boxes.empty() && boxes.back() == "変換できません");
        }, ms);
        return boxes;
    }

    // Presses 実行 and answers the message boxes that follow, in order, until "変換できません"; their
    // captions must all be "Dubrix".
    std::vector<std::string> RunExpectingFailure()
    {
        std::vector<std::string> texts;
        EXPECT_TRUE(drv::click(dialog, IDC_RUN));
        for (int i = 0; i < 6; i++) {
            drv::MessageBoxInfo box = WaitBox();
            if (!box) break;
            EXPECT_EQ(box.caption, "Dubrix");
            texts.push_back(box.text);
            EXPECT_TRUE(drv::answer(box.hwnd, IDOK));
            if (box.text == "変換できません") break;
        }
        drv::sync(dialog);
        EXPECT_FALSE(FindBox()) << "a further message box came";
        return texts;
    }

    void Close()
    {
        ASSERT_TRUE(drv::click(dialog, IDC_QUIT));
        EXPECT_EQ(app.exitCode(), 0);
    }
};
