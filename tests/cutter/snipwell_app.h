// The running cutter as its end-to-end tests see it: started through the driver, its dialog's controls
// read and pressed, its save dialogs answered.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <functional>
#include <stdlib.h>
#include <string>
#include <vector>
#include "cutter/resource.h"
#include "driver/driver.h"
#include "gtest_win.h"
#include "mediaprobe.h"

inline const char kDialogClass[] = "#32770";
inline const char kCompressorTitle[] = "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択";

// Unix path of a file of the shared test media.
inline std::string MediaFile(const std::string &name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/tmp/suite-media") + "/" + name;
}

inline std::string Media(const std::string &name)
{
    return drv::dosPath(MediaFile(name));
}

// The title the dialog shows while FILE is open.
inline std::string TitleFor(const std::string &file)
{
    return file + "  <Snipwell>";
}

// Runs an ffmpeg command line (arguments after "ffmpeg -y") and tells whether it made OUTPUT.
inline bool MakeMedia(const std::string &arguments, const std::string &output)
{
    probe::Run("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " '" + output + "' 2>&1");
    return drv::fileSize(output) > 0;
}

inline double Number(const std::string &text)
{
    return text.empty() ? -1 : atof(text.c_str());
}

class Snipwell : public ::testing::Test {
protected:
    drv::Process app;
    HWND main = NULL;

    void Start(const std::vector<std::string> &args = {}, const char *title = "Snipwell")
    {
        ASSERT_TRUE(app.start(drv::programPath("snipwell"), args)) << app.error();
        main = app.window(kDialogClass, title, 20000);
        ASSERT_TRUE(main) << drv::describeWindows(app.pid());
    }

    // Starts with FILE (a DOS path) as the first argument and waits until its title shows.
    void StartWith(const std::string &file, const std::string &name)
    {
        Start({file}, TitleFor(name).c_str());
    }

    // Commands that wait on the graph may let the driver's round trips through before they are done:
    // what they do is waited for.
    bool Eventually(const std::function<bool()> &cond, DWORD ms = 5000) { return drv::waitUntil(cond, ms); }

    HWND Slider() { return drv::child(main, IDC_SLIDER); }
    int Position() { return (int)drv::send(Slider(), TBM_GETPOS); }
    int SelectionStart() { return (int)drv::send(Slider(), TBM_GETSELSTART); }
    int SelectionEnd() { return (int)drv::send(Slider(), TBM_GETSELEND); }
    int RangeMax() { return (int)drv::send(Slider(), TBM_GETRANGEMAX); }
    HANDLE PlayButtonImage() { return (HANDLE)drv::send(drv::child(main, IDC_PLAY), BM_GETIMAGE, IMAGE_ICON); }

    bool WaitTitle(const std::string &title, DWORD ms = 20000)
    {
        return drv::waitUntil([&] { return drv::text(main) == title; }, ms);
    }

    // Moves the slider as the user does and lets the dialog take it.
    void Seek(int pos)
    {
        drv::setTrackPos(Slider(), pos);
        drv::sync(main);
    }

    void Press(int id)
    {
        ASSERT_TRUE(drv::click(main, id)) << "button " << id << " cannot be pressed";
        drv::sync(main);
    }

    // Waits for the slider to settle at POS (within SLACK per mille).
    bool WaitPosition(int pos, int slack = 3, DWORD ms = 5000)
    {
        return drv::waitUntil([&] {
            drv::send(main, WM_TIMER, 1);   // the dialog moves the slider on its timer
            return abs(Position() - pos) <= slack;
        }, ms);
    }

    bool ControlsEnabled()
    {
        for (int id = IDC_SLIDER; id <= IDC_VIDEOAREA; id++)
            if (!drv::enabled(drv::child(main, id))) return false;
        return true;
    }

    // Presses save and types PATH into the save dialog; returns the dialog's file-type lines.
    std::vector<std::string> ChooseOutput(const std::string &path)
    {
        drv::click(main, IDC_SAVE);
        HWND dialog = drv::waitFileDialog(app.pid());
        if (!dialog) return {};
        std::vector<std::string> types = drv::comboItems(drv::child(dialog, 0x470));
        if (!drv::chooseFile(dialog, path)) return {};
        return types;
    }

    // The compressor selection dialog, once it shows.
    HWND CompressorDialog(DWORD ms = drv::kWait) { return app.window(kDialogClass, kCompressorTitle, ms); }

    // Picks compressor NAME and confirms.
    bool ConfirmCompressor(const std::string &name)
    {
        HWND dialog = CompressorDialog();
        if (!dialog || !drv::comboSelect(drv::child(dialog, IDC_COMPRESSORLIST), name)) return false;
        return drv::click(dialog, IDOK) && drv::waitGone(dialog);
    }

    // Waits until the save has ended: the title of the opened file is back, the dialog answers and no
    // message box tells of a failure.
    bool WaitSaved(const std::string &name, DWORD ms = 60000)
    {
        if (!drv::waitUntil([&] { return drv::text(main) == TitleFor(name); }, ms) || !drv::sync(main, ms))
            return false;
        drv::MessageBoxInfo box = drv::waitMessageBox(app.pid(), 300);
        if (box) {
            ADD_FAILURE() << "message after saving: " << box.text;
            drv::answer(box.hwnd, IDOK);
            return false;
        }
        return true;
    }

    void Close()
    {
        drv::post(main, WM_CLOSE);
        EXPECT_EQ(app.exitCode(), 0);
    }
};
