// The running converter as its end-to-end tests see it: started through the driver, its dialog read
// and pressed, its save dialog answered and the files it writes read back with ffprobe and ffmpeg.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "driver/driver.h"
#include "converter/resource.h"
#include "gtest_win.h"
#include "mediaprobe.h"

inline const char kDialogClass[] = "#32770";
inline const char kConverting[] = "変換中・・・ ";
const int kFileTypeCombo = 0x470;   // the file type list of the common save dialog

// Unix path of a test medium.
inline std::string MediaFile(const std::string &name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return std::string(dir ? dir : "/tmp/suite-media") + "/" + name;
}

inline std::string Media(const std::string &name)
{
    return drv::dosPath(MediaFile(name));
}

// The caption the dialog shows for an input file named NAME, with an optional prefix.
inline std::string Caption(const std::string &name, const std::string &prefix = "")
{
    return prefix + name + "  <Morphana>";
}

// Seconds of the container, as ffprobe tells them.
inline double ContainerSeconds(const std::string &file)
{
    std::string t = probe::Run("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + file +
                               "' 2>/dev/null");
    return t.empty() ? -1.0 : atof(t.c_str());
}

// Makes a medium with ffmpeg (ARGS between the inputs and the output) and says whether it exists.
inline bool MakeMedium(const std::string &args, const std::string &file)
{
    probe::Run("ffmpeg -nostdin -v error -y " + args + " '" + file + "' 2>&1");
    return drv::fileSize(file) > 0;
}

class Morphana : public ::testing::Test {
protected:
    drv::Process app;
    HWND main = NULL;

    void Start(const std::vector<std::string> &args = {})
    {
        ASSERT_TRUE(app.start(drv::programPath("morphana"), args)) << app.error();
        main = app.window(kDialogClass, "*Morphana*");
        ASSERT_TRUE(main) << drv::describeWindows(app.pid());
        ASSERT_TRUE(drv::waitUntil([&] { return drv::comboCount(AudioCombo()) > 1; }))
            << "the audio encoders never came";
    }

    HWND Control(int id) { return drv::child(main, id); }
    HWND AudioCombo() { return Control(IDC_AUDIOENCODER); }
    HWND VideoCombo() { return Control(IDC_VIDEOENCODER); }
    std::string Title() { return drv::text(main); }

    // Opens INPUT (Unix path) through the menu's open dialog.
    void Open(const std::string &input)
    {
        drv::command(main, IDM_OPEN);
        HWND dialog = drv::waitFileDialog(app.pid());
        ASSERT_TRUE(dialog) << "no open dialog";
        ASSERT_TRUE(drv::chooseFile(dialog, input));
        std::string name = input.substr(input.find_last_of("/\\") + 1);
        ASSERT_TRUE(drv::waitUntil([&] { return Title() == Caption(name); })) << Title();
    }

    // Clicks the form's radio button as the user does.
    bool PickForm(bool avi)
    {
        HWND button = Control(avi ? IDC_AVIFORM : IDC_AUDIOFORM);
        if (!button || !drv::enabled(button)) return false;
        drv::send(button, BM_CLICK);
        return drv::sync(main);
    }

    // Chooses the form and the encoders as the user does.
    void Choose(bool avi, const std::string &audio, const std::string &video = "none", int quality = 85)
    {
        ASSERT_TRUE(PickForm(avi));
        ASSERT_TRUE(drv::comboSelect(AudioCombo(), audio)) << "no audio encoder " << audio;
        if (avi) {
            ASSERT_TRUE(drv::comboSelect(VideoCombo(), video)) << "no video encoder " << video;
            ASSERT_TRUE(drv::setTrackPos(Control(IDC_QUALITY), quality));
        }
        drv::sync(main);
    }

    // Presses save and waits for the save dialog; NULL when none came.
    HWND PressSave()
    {
        if (!drv::click(main, IDC_SAVE)) return NULL;
        return drv::waitFileDialog(app.pid());
    }

    // Idle: no prefix in the caption, the save button enabled.
    bool Idle()
    {
        std::string t = Title();
        return t.compare(0, strlen(kConverting), kConverting) != 0 && drv::enabled(Control(IDC_SAVE));
    }

    bool WaitIdle(DWORD ms = 30000)
    {
        return drv::waitUntil([&] { return Idle(); }, ms);
    }

    // Saves into OUTPUT (Unix path) and waits until the conversion has ended without a message.
    void SaveAs(const std::string &output)
    {
        HWND dialog = PressSave();
        ASSERT_TRUE(dialog) << "no save dialog";
        ASSERT_TRUE(drv::chooseFile(dialog, output));
        drv::MessageBoxInfo box;
        drv::waitUntil([&] {
            box = drv::MessageBoxInfo();
            if (HWND found = drv::findMessageBox(app.pid())) {
                box.hwnd = found;
                box.text = drv::messageText(found);
            }
            return box || Idle();
        }, 30000);
        ASSERT_FALSE(box) << "unexpected message: " << box.text;
        ASSERT_TRUE(Idle()) << "still converting: " << Title();
    }

    // Saves under PATH, confirming the save dialog's overwrite question when the file exists, and returns
    // the messages that follow.
    std::vector<std::string> SaveOver(const std::string &path)
    {
        std::vector<std::string> texts;
        HWND dialog = PressSave();
        if (!dialog || !drv::chooseFile(dialog, path, false)) return {"(no save dialog)"};
        while (drv::MessageBoxInfo box = drv::waitMessageBox(app.pid(), 2000)) {
            bool question = box.caption != "Morphana";   // the save dialog's own overwrite question
            if (!question) texts.push_back(box.text);
            if (!drv::answer(box.hwnd, question ? IDYES : IDOK)) break;
        }
        drv::waitGone(dialog);
        return texts;
    }

    // Answers every message box that comes within MS of each other and returns their texts.
    std::vector<std::string> Messages(DWORD ms = 3000)
    {
        std::vector<std::string> texts;
        while (drv::MessageBoxInfo box = drv::waitMessageBox(app.pid(), ms)) {
            texts.push_back(box.text);
            EXPECT_EQ(box.caption, "Morphana");
            if (!drv::answer(box.hwnd, IDOK)) break;
            ms = 1500;
        }
        return texts;
    }

    void Close()
    {
        drv::post(main, WM_CLOSE);
        EXPECT_EQ(app.exitCode(), 0);
    }
};
