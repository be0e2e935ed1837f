// The cutter from the outside: opening files by argument, menu and drop, the picture in the video
// area, the transport buttons and the marks.
#include "snipwell_app.h"

namespace {

// The first child of the video area (the preview's video window) in the area's client coordinates.
RECT VideoWindowRect(HWND area)
{
    RECT rect = {0, 0, 0, 0};
    HWND video = GetWindow(area, GW_CHILD);
    if (!video) return rect;
    GetWindowRect(video, &rect);
    MapWindowPoints(NULL, area, (POINT *)&rect, 2);
    return rect;
}

TEST_F(Snipwell, ComesUpEmptyWithOnlyMenuAndQuit)
{
    Start();
    for (int id = IDC_SLIDER; id <= IDC_SAVE; id++) EXPECT_FALSE(drv::enabled(drv::child(main, id))) << id;
    EXPECT_FALSE(drv::enabled(drv::child(main, IDC_VIDEOAREA)));
    EXPECT_TRUE(drv::enabled(drv::child(main, IDC_QUIT)));
    EXPECT_EQ(drv::text(main, IDC_SETSTART), "現在位置を開始位置に設定");
    EXPECT_EQ(drv::text(main, IDC_SETEND), "現在位置を終了位置に設定");
    EXPECT_EQ(drv::text(main, IDC_SAVE), "保存...");
    EXPECT_EQ(drv::text(main, IDC_QUIT), "終了");
    for (int id = IDC_PLAY; id <= IDC_FRAMESTEP; id++)
        EXPECT_TRUE(drv::send(drv::child(main, id), BM_GETIMAGE, IMAGE_ICON)) << "button " << id << " has no icon";
    // Escape is not a way out: the dialog stays.
    drv::post(main, WM_COMMAND, IDCANCEL);
    drv::sync(main);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(drv::visible(main));
    ASSERT_TRUE(drv::click(main, IDC_QUIT));
    EXPECT_EQ(app.exitCode(), 0);
}

TEST_F(Snipwell, OpensItsArgumentWithTheFirstFrameFittedIntoTheVideoArea)
{
    drv::TempDir dir("shot");
    StartWith(Media("movie.avi"), "movie.avi");
    EXPECT_TRUE(ControlsEnabled());
    EXPECT_EQ(RangeMax(), 1000);
    EXPECT_TRUE(Eventually([&] { return SelectionStart() == 0; })) << SelectionStart();
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 1000; })) << SelectionEnd();

    // The picture keeps its proportions inside the area, with a border of about a pixel, centred.
    HWND area = drv::child(main, IDC_VIDEOAREA);
    RECT client;
    GetClientRect(area, &client);
    RECT video = VideoWindowRect(area);
    int width = video.right - video.left, height = video.bottom - video.top;
    if (240.0 / client.bottom >= 320.0 / client.right) {
        EXPECT_EQ(height, client.bottom - 2);
        EXPECT_EQ(width, 320 * client.bottom / 240 - 2);
    } else {
        EXPECT_EQ(width, client.right - 2);
        EXPECT_EQ(height, 240 * client.right / 320 - 2);
    }
    EXPECT_EQ(video.left, (client.right - width) / 2);
    EXPECT_EQ(video.top, (client.bottom - height) / 2);

    // In an area of 116x135 the 320x240 picture is 114x85 at (1, 25); in a wide one of 300x100 the
    // height limits it.
    struct { int w, h; RECT expected; } areas[] = {{116, 135, {1, 25, 115, 110}}, {300, 100, {84, 1, 215, 99}}};
    for (const auto &a : areas) {
        ASSERT_TRUE(SetWindowPos(area, NULL, 0, 0, a.w, a.h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
        GetClientRect(area, &client);
        ASSERT_EQ(client.right, a.w);
        ASSERT_EQ(client.bottom, a.h);
        ASSERT_TRUE(drv::dropFiles(main, {Media("movie.avi")}));
        drv::sync(main);
        EXPECT_TRUE(drv::waitUntil([&] { return EqualRect(&(video = VideoWindowRect(area)), &a.expected); }, 5000))
            << video.left << "," << video.top << " " << video.right - video.left << "x" << video.bottom - video.top;
    }
    ASSERT_TRUE(drv::dropFiles(main, {Media("movie.avi")}));   // back to the dialog's own area
    ASSERT_TRUE(SetWindowPos(area, NULL, 0, 0, client.right, client.bottom, SWP_NOMOVE | SWP_NOZORDER));

    // The screen shows a frame of the movie in the area, not the black of an empty one.
    std::string shot = dir.file("dialog.png");
    double rgb[3] = {0, 0, 0};
    ASSERT_TRUE(drv::waitUntil([&] {
        RECT r;
        GetWindowRect(area, &r);
        std::string part = dir.file("area.png");
        if (!drv::screenshot(shot, main)) return false;
        // The picture's middle, cut out of the window's image by the area's place in the window.
        RECT w;
        GetWindowRect(main, &w);
        char crop[64];
        snprintf(crop, sizeof crop, "100x60+%ld+%ld", r.left - w.left + 8, r.top - w.top + 35);
        probe::Run("convert '" + shot + "' -crop " + crop + " +repage '" + part + "'");
        return probe::FrameColour(part, 0, rgb) && rgb[0] + rgb[1] + rgb[2] > 150;
    }, 10000)) << "the video area stays dark: " << rgb[0] << " " << rgb[1] << " " << rgb[2];
    const char *keep = getenv("SNIPWELL_SHOT");
    if (keep) CopyFileA(drv::dosPath(shot).c_str(), drv::dosPath(keep).c_str(), FALSE);
    Close();
}

TEST_F(Snipwell, OpensOnlyAviAndWavWhateverTheirCase)
{
    drv::TempDir dir("open");
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), dir.dos("movie.AVI").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), dir.dos("movie.mp4").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), dir.dos("movie").c_str(), FALSE));
    Start();

    // Through the menu's open dialog, upper-case extension.
    drv::command(main, IDM_OPEN);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    EXPECT_EQ(drv::comboItems(drv::child(dialog, 0x470)),
              (std::vector<std::string>{"ﾒﾃﾞｨｱﾌｧｲﾙ (*.wav; *.avi)", "AVIﾌｧｲﾙ (*.avi)", "WAVﾌｧｲﾙ (*.wav)"}));
    ASSERT_TRUE(drv::chooseFile(dialog, dir.dos("movie.AVI")));
    ASSERT_TRUE(WaitTitle(TitleFor("movie.AVI")));

    // Another kind, and a name without any ".", are refused and the open file stays.
    for (const char *name : {"movie.mp4", "movie"}) {
        ASSERT_TRUE(drv::dropFiles(main, {dir.dos(name)}));
        drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
        ASSERT_TRUE(box) << name;
        EXPECT_EQ(box.caption, "Snipwell");
        EXPECT_EQ(box.text, "AVI,WAVファイル以外は対応していません");
        drv::answer(box.hwnd, IDOK);
        EXPECT_EQ(drv::text(main), TitleFor("movie.AVI"));
        EXPECT_TRUE(ControlsEnabled());
    }

    // Of three dropped files only the first is opened.
    ASSERT_TRUE(drv::dropFiles(main, {Media("sound.wav"), dir.dos("movie.mp4"), Media("movie.avi")}));
    EXPECT_TRUE(WaitTitle(TitleFor("sound.wav")));
    drv::sync(main);
    EXPECT_FALSE(drv::findMessageBox(app.pid()));

    // A file that is no movie at all cannot be read.
    ASSERT_TRUE(drv::dropFiles(main, {Media("broken.avi")}));
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    EXPECT_EQ(box.text, "読み込めません");
    drv::answer(box.hwnd, IDOK);
    Close();
}

TEST_F(Snipwell, PlaysPausesStopsAndSkipsBackToTheStartMark)
{
    StartWith(Media("movie.avi"), "movie.avi");
    HANDLE play = PlayButtonImage();
    ASSERT_TRUE(play);

    // Play: the pause icon, and the thumb moves with the position.
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() != play; })) << "no pause icon";
    EXPECT_TRUE(drv::waitUntil([&] { return Position() > 150; }, 5000)) << Position();
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() == play; })) << "no play icon";
    int paused = Position();
    Sleep(400);
    EXPECT_TRUE(WaitPosition(paused, 40)) << "the position runs on while paused";

    // Start mark at 1.5 s: the selection starts there.
    Seek(500);
    Press(IDC_SETSTART);
    EXPECT_TRUE(Eventually([&] { return SelectionStart() == 500; })) << SelectionStart();
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 1000; })) << SelectionEnd();

    // Play on from 2.1 s, stop: back to the start mark with the play icon.
    Seek(700);
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() != play; })) << "no pause icon";
    Sleep(300);
    Press(IDC_STOP);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() == play; })) << "no play icon";
    EXPECT_TRUE(WaitPosition(500)) << Position();

    // Skip to start: from beyond the start mark to it, and from there to 0.
    Seek(800);
    Press(IDC_SKIPSTART);
    EXPECT_TRUE(WaitPosition(500)) << Position();
    Press(IDC_SKIPSTART);
    EXPECT_TRUE(WaitPosition(0)) << Position();
    Close();
}

TEST_F(Snipwell, StepsOneFrameAndPlaysOnlyToTheEndMark)
{
    StartWith(Media("movie.avi"), "movie.avi");
    HANDLE play = PlayButtonImage();

    // One frame of a 15 fps movie of 3 s is 22 per mille of the slider.
    // 0.6 s is the start of frame 9.
    Seek(200);
    ASSERT_TRUE(WaitPosition(200));
    Press(IDC_FRAMESTEP);
    EXPECT_TRUE(WaitPosition(222, 1)) << Position();
    Press(IDC_FRAMESTEP);
    EXPECT_TRUE(WaitPosition(244, 1)) << Position();
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() == play; })) << "no play icon";

    // Marks at 1.2 s and 1.8 s: playing from the start mark ends at the end mark, not at the file's
    // end, and comes back to the start mark with the play icon.
    Seek(400);
    Press(IDC_SETSTART);
    Seek(600);
    Press(IDC_SETEND);
    EXPECT_TRUE(Eventually([&] { return SelectionStart() == 400; })) << SelectionStart();
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 600; })) << SelectionEnd();
    Press(IDC_SKIPSTART);
    ASSERT_TRUE(WaitPosition(400));
    DWORD started = GetTickCount();
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() != play; })) << "no pause icon";
    ASSERT_TRUE(drv::waitUntil([&] { return PlayButtonImage() == play; }, 5000)) << "playback never ended";
    DWORD took = GetTickCount() - started;
    EXPECT_GE(took, 400u);
    EXPECT_LT(took, 1500u) << "playback ran past the end mark";
    EXPECT_TRUE(WaitPosition(400)) << Position();

    // An end mark before the start mark takes the start mark with it.
    Seek(200);
    Press(IDC_SETEND);
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 200; })) << SelectionEnd();
    Press(IDC_SKIPSTART);
    EXPECT_TRUE(WaitPosition(0)) << "the start mark did not follow the end mark: " << Position();
    Close();
}

TEST_F(Snipwell, PlaysASoundWithABlackArea)
{
    StartWith(Media("long.wav"), "long.wav");
    EXPECT_FALSE(GetWindow(drv::child(main, IDC_VIDEOAREA), GW_CHILD));
    HANDLE play = PlayButtonImage();
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() != play; })) << "no pause icon";
    EXPECT_TRUE(drv::waitUntil([&] { return Position() > 100; }, 5000)) << Position();
    Press(IDC_STOP);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() == play; })) << "no play icon";
    EXPECT_TRUE(WaitPosition(0));
    Close();
}

}  // namespace
