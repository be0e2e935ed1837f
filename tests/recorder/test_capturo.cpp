// Capturo over the test-pattern camera: preview, recording in both recording modes, the compressor, the
// capture size, the output name, the run and stop caption, and a machine without a camera.
#include <algorithm>
#include <stdlib.h>
#include "capturo_app.h"
#include "jobprogress.h"

namespace {

const char kPreview[] = "ﾌﾟﾚﾋﾞｭｰ", kRecord[] = "録画", kBoth[] = "ﾌﾟﾚﾋﾞｭｰ + 録画";

TEST_F(Capturo, ComesUpWithItsChoicesAndTheDevicesSizes)
{
    Start();
    std::vector<std::string> compressors = drv::comboItems(Item(IDC_COMPRESSOR));
    ASSERT_GE(compressors.size(), 2u);
    EXPECT_EQ(compressors[0], "None");
    EXPECT_NE(std::find(compressors.begin(), compressors.end(), "Motion JPEG"), compressors.end());
    EXPECT_EQ(drv::comboSelection(Item(IDC_COMPRESSOR)), 0) << "no Indeo compressor, so None is preset";
    EXPECT_TRUE(drv::enabled(Item(IDC_COMPRESSOR)));
    EXPECT_EQ(drv::comboItems(Item(IDC_MODE)), (std::vector<std::string>{kPreview, kRecord, kBoth}));
    EXPECT_EQ(drv::comboSelection(Item(IDC_MODE)), 0);
    // The camera's RGB24 sizes in its own order, its current one chosen.
    EXPECT_EQ(drv::comboItems(Item(IDC_CAPTURESIZE)),
              (std::vector<std::string>{"320×240", "160×120", "176×144", "352×288", "640×480"}));
    EXPECT_EQ(drv::comboSelection(Item(IDC_CAPTURESIZE)), 0);
    // Built but not run: neither button is pressed and nothing shows yet.
    EXPECT_FALSE(drv::checked(Item(IDC_RUN)));
    EXPECT_FALSE(drv::checked(Item(IDC_STOP)));
    EXPECT_EQ(drv::text(main), "Capturo");

    // This camera has no dialogs of its own: their commands open nothing and leave the program as it was.
    for (int id : {IDM_VFWSOURCE, IDM_VFWFORMAT, IDM_VFWDISPLAY}) drv::command(main, id);
    drv::sync(main);
    Sleep(300);
    EXPECT_EQ(drv::topWindows(app.pid(), kDialogClass).size(), 1u) << drv::describeWindows(app.pid());
    EXPECT_TRUE(app.running());
    Close();
}

TEST_F(Capturo, PreviewShowsThePictureAndWritesNothing)
{
    Start();
    Picture before = Grab(Preview());
    EXPECT_LT(before.Colours(), 3) << "the preview area shows a picture before the run";
    Press(IDC_RUN);
    EXPECT_TRUE(Pressed(IDC_RUN));
    Picture shown = WaitPicture();
    ASSERT_FALSE(shown.empty());
    EXPECT_GE(shown.Colours(), 6) << "the camera's colour bars do not show in the preview area";
    EXPECT_TRUE(VideoWindow());
    drv::screenshot(dir.file("preview.png"), main);
    EXPECT_EQ(drv::text(main), "Capturo") << "previewing is not recording";
    Sleep(1000);
    Press(IDC_STOP);
    EXPECT_TRUE(Pressed(IDC_STOP));
    EXPECT_FALSE(drv::fileExists(dir.file("MyAviFile.avi")));
    Close();
    EXPECT_FALSE(drv::fileExists(dir.file("MyAviFile.avi")));
}

TEST_F(Capturo, RecordModeWritesUncompressedFramesIntoTheDefaultFileWithoutAPicture)
{
    Start();
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    EXPECT_TRUE(Eventually([&] { return drv::enabled(Item(IDC_COMPRESSOR)); }));
    Press(IDC_RUN);
    EXPECT_TRUE(CaptionIs(kRecording)) << drv::text(main);
    DWORD started = GetTickCount();
    std::string file = dir.file("MyAviFile.avi");
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(file) > 0; })) << "nothing is written while recording";
    HWND progress = drv::waitWindow(app.pid(), jobProgressClass);
    ASSERT_TRUE(progress) << "the recording's time and size are not shown";
    Sleep(3000);
    EXPECT_FALSE(VideoWindow()) << "recording alone shows a video window";
    EXPECT_LT(Grab(Preview()).Colours(), 3);
    // "経過 0:03  1.2 MB": the time it has run and the file's size
    std::string shown = drv::text(progress, IDC_JOBLEFT);
    JobShot();
    int minutes = -1, seconds_shown = -1;
    double megabytes = -1;
    EXPECT_EQ(sscanf(shown.c_str(), "経過 %d:%d %lf MB", &minutes, &seconds_shown, &megabytes), 3) << shown;
    EXPECT_GE(minutes * 60 + seconds_shown, 2) << shown;
    EXPECT_GT(megabytes, 0.1) << shown;
    Press(IDC_STOP);
    EXPECT_TRUE(drv::waitGone(progress));
    double seconds = (GetTickCount() - started) / 1000.0;
    EXPECT_TRUE(CaptionIs("Capturo"));
    WaitFinished(file);

    std::string video = probe::Stream(file, "v:0", "codec_name,pix_fmt,width,height");
    EXPECT_EQ(probe::Value(video, "codec_name"), "rawvideo");
    EXPECT_EQ(probe::Value(video, "pix_fmt"), "bgr24");
    EXPECT_EQ(probe::Value(video, "width"), "320");
    EXPECT_EQ(probe::Value(video, "height"), "240");
    double duration = ContainerSeconds(file);
    EXPECT_NEAR(duration, seconds, 1.0) << "recorded for " << seconds << " s";
    EXPECT_GT(probe::DecodedFrames(file), 0);
    Close();
}

TEST_F(Capturo, BothModeWithACompressorWritesTheChosenNameAndShowsThePicture)
{
    Start();
    // A name without a type gets ".avi".
    drv::command(main, IDM_SAVENAME);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, dir.dos("clip")));
    drv::sync(main);
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kBoth));
    ASSERT_TRUE(drv::comboSelect(Item(IDC_COMPRESSOR), "Motion JPEG"));
    drv::sync(main);
    Press(IDC_RUN);
    EXPECT_TRUE(CaptionIs(kRecording)) << drv::text(main);
    DWORD started = GetTickCount();
    EXPECT_GE(WaitPicture().Colours(), 6) << "the preview does not show while recording";
    EXPECT_TRUE(VideoWindow());
    Sleep(2500);
    Press(IDC_STOP);
    double seconds = (GetTickCount() - started) / 1000.0;
    std::string file = dir.file("clip.avi");
    WaitFinished(file);
    EXPECT_FALSE(drv::fileExists(dir.file("clip")));
    EXPECT_FALSE(drv::fileExists(dir.file("MyAviFile.avi")));
    std::string video = probe::Stream(file, "v:0", "codec_tag_string,width,height");
    EXPECT_EQ(probe::Value(video, "codec_tag_string"), "MJPG");
    EXPECT_EQ(probe::Value(video, "width"), "320");
    EXPECT_NEAR(ContainerSeconds(file), seconds, 1.0);
    // The recorded picture is the camera's colour bars, not black.
    double rgb[3];
    ASSERT_TRUE(probe::FrameColour(file, 1.0, rgb));
    EXPECT_GT(rgb[0] + rgb[1] + rgb[2], 150);

    // The same compressor goes into the next graph too: record again in record mode, over the file.
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    EXPECT_TRUE(Pressed(IDC_STOP));
    long long first = drv::fileSize(file);
    Press(IDC_RUN);
    EXPECT_TRUE(CaptionIs(kRecording));
    Sleep(1500);
    Press(IDC_STOP);
    EXPECT_TRUE(CaptionIs("Capturo"));
    WaitFinished(file);
    EXPECT_NE(drv::fileSize(file), first) << "the second recording did not replace the first";
    EXPECT_EQ(probe::Value(probe::Stream(file, "v:0", "codec_tag_string"), "codec_tag_string"), "MJPG");
    EXPECT_NEAR(ContainerSeconds(file), 1.5, 0.8);
    Close();
}

TEST_F(Capturo, ANameInADottedFolderStillGetsItsType)
{
    ASSERT_TRUE(CreateDirectoryA(dir.dos("takes.2024").c_str(), NULL));
    Start();
    drv::command(main, IDM_SAVENAME);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, dir.dos("takes.2024\\scene")));
    drv::sync(main);
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    Press(IDC_RUN);
    std::string file = dir.file("takes.2024/scene.avi");
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(file) > 0; }));
    Sleep(1000);
    Press(IDC_STOP);
    WaitFinished(file);
    EXPECT_FALSE(drv::fileExists(dir.file("takes.2024/scene")));
    EXPECT_GT(probe::DecodedFrames(file), 0);

    // Cancelling the dialog keeps the name.
    drv::command(main, IDM_SAVENAME);
    dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(drv::cancelDialog(dialog));
    drv::sync(main);
    DeleteFileA(dir.dos("takes.2024\\scene.avi").c_str());
    Press(IDC_RUN);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(file) > 0; }));
    Press(IDC_STOP);
    Close();
}

TEST_F(Capturo, ChoosingASizeGoesBackToARunningPreviewAndRecordsAtThatSize)
{
    Start();
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    EXPECT_TRUE(Eventually([&] { return drv::enabled(Item(IDC_COMPRESSOR)); }));
    ASSERT_TRUE(drv::comboSelect(Item(IDC_CAPTURESIZE), "640×480"));
    EXPECT_TRUE(Pressed(IDC_RUN)) << "the preview does not run after a size change";
    EXPECT_EQ(drv::comboSelection(Item(IDC_MODE)), 0);
    EXPECT_FALSE(drv::enabled(Item(IDC_COMPRESSOR)));
    EXPECT_GE(WaitPicture().Colours(), 6) << "the preview does not run after a size change";
    EXPECT_FALSE(drv::findMessageBox(app.pid()));

    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    EXPECT_TRUE(Eventually([&] { return drv::enabled(Item(IDC_COMPRESSOR)); }));
    Press(IDC_RUN);
    std::string file = dir.file("MyAviFile.avi");
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(file) > 0; }));
    Sleep(1500);
    Press(IDC_STOP);
    WaitFinished(file);
    std::string video = probe::Stream(file, "v:0", "codec_name,width,height");
    EXPECT_EQ(probe::Value(video, "codec_name"), "rawvideo");
    EXPECT_EQ(probe::Value(video, "width"), "640");
    EXPECT_EQ(probe::Value(video, "height"), "480");
    Close();
}

TEST_F(Capturo, ChangingTheModeWhileRecordingStopsIt)
{
    Start();
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    Press(IDC_RUN);
    std::string file = dir.file("MyAviFile.avi");
    ASSERT_TRUE(drv::waitUntil([&] { return drv::fileSize(file) > 0; }));
    Sleep(1000);
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kBoth));
    EXPECT_TRUE(Pressed(IDC_STOP));
    EXPECT_FALSE(drv::checked(Item(IDC_RUN)));
    EXPECT_TRUE(CaptionIs("Capturo")) << "the caption still claims a recording";
    // Nothing runs: the file stays as it was and no picture comes.
    WaitFinished(file);
    long long size = drv::fileSize(file);
    Sleep(1500);
    EXPECT_EQ(drv::fileSize(file), size);
    EXPECT_LT(Grab(Preview()).Colours(), 3);
    EXPECT_GT(probe::DecodedFrames(file), 0);

    // Changing the compressor while recording stops it too.
    Press(IDC_RUN);
    EXPECT_TRUE(Pressed(IDC_RUN));
    EXPECT_TRUE(CaptionIs(kRecording));
    Sleep(1000);
    ASSERT_TRUE(drv::comboSelect(Item(IDC_COMPRESSOR), "Motion JPEG"));
    EXPECT_TRUE(Pressed(IDC_STOP));
    EXPECT_TRUE(CaptionIs("Capturo"));
    Close();
}

// A recording that cannot be written says so and the dialog stays, ready to record: its folder removed
// while recording, a folder that takes no files.
TEST_F(Capturo, ARecordingThatCannotBeWrittenSaysSoAndTheDialogStays)
{
    Start();
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), kRecord));
    auto name = [&](const std::string &path) {
        drv::command(main, IDM_SAVENAME);
        HWND dialog = drv::waitFileDialog(app.pid());
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(drv::chooseFile(dialog, path));
        drv::sync(main);
    };
    auto expectReport = [&] {
        drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
        ASSERT_TRUE(box) << "no message";
        EXPECT_EQ(box.caption, "Capturo");
        EXPECT_EQ(box.text, "録画できません");
        drv::answer(box.hwnd, IDOK);
        EXPECT_TRUE(CaptionIs("Capturo"));
        EXPECT_TRUE(Pressed(IDC_STOP));
    };

    ASSERT_EQ(0, system(("mkdir -p '" + dir.file("gone") + "'").c_str()));
    name(dir.dos("gone\\clip.avi"));
    Press(IDC_RUN);
    ASSERT_TRUE(drv::waitUntil([&] { return drv::fileSize(dir.file("gone/clip.avi")) > 0; }));
    ASSERT_EQ(0, system(("rm -rf '" + dir.file("gone") + "'").c_str()));
    Press(IDC_STOP);
    expectReport();

    name("/proc/capturo.avi");
    Press(IDC_RUN);
    expectReport();

    name(dir.dos("again.avi"));
    Press(IDC_RUN);
    EXPECT_TRUE(CaptionIs(kRecording));
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(dir.file("again.avi")) > 0; }));
    Press(IDC_STOP);
    WaitFinished(dir.file("again.avi"));
    EXPECT_GT(probe::DecodedFrames(dir.file("again.avi")), 0);
    Close();
}

TEST_F(Capturo, WithoutACameraSaysSoAndCloses)
{
    Launch(false);
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box) << drv::describeWindows(app.pid());
    EXPECT_EQ(box.caption, "Capturo");
    EXPECT_EQ(box.text, "入力デバイスがありません");
    EXPECT_TRUE(drv::answer(box.hwnd, IDOK));
    EXPECT_EQ(app.exitCode(), 0);
}

}  // namespace
