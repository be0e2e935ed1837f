// Saving a section: the marks cut from the whole second, the whole file without marks, AVI and WAV
// outputs, the name completed or kept, refusals, the compressor dialog, three-stream files.
#include <signal.h>
#include <sys/resource.h>
#include <stdlib.h>
#include "snipwell_app.h"
#include "jobprogress.h"

namespace {

// A 20 s movie whose brightness tells the time (12 levels a second), with a 440 Hz tone.
bool MakeTimedMovie(const std::string &path)
{
    return MakeMedia("-f lavfi -i \"nullsrc=s=320x240:r=15,format=gray,geq=lum='12*T':cb=128:cr=128\" "
                     "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 20 -c:v mjpeg -q:v 3 -c:a pcm_s16le",
                     path);
}

double Brightness(const std::string &file, double t)
{
    double rgb[3] = {-1, -1, -1};
    probe::FrameColour(file, t, rgb);
    return (rgb[0] + rgb[1] + rgb[2]) / 3;
}

std::string Format(const std::string &file)
{
    return probe::Run("ffprobe -v error -show_entries format=format_name -of default=nw=1:nk=1 '" + file + "'");
}

int StreamCount(const std::string &file)
{
    std::string lines = probe::Run("ffprobe -v error -show_entries stream=index -of csv=p=0 '" + file + "'");
    int count = 0;
    for (char c : lines) count += c == '\n';
    return count;
}

TEST_F(Snipwell, SavesTheSectionFromTheWholeSecondBeforeTheStartMark)
{
    drv::TempDir dir("section");
    ASSERT_TRUE(MakeTimedMovie(dir.file("timed.avi")));
    ASSERT_NEAR(Brightness(dir.file("timed.avi"), 3.0), 36, 4);
    StartWith(dir.dos("timed.avi"), "timed.avi");

    // Marks at 3.7 s and 10 s of 20 s.
    Seek(185);
    Press(IDC_SETSTART);
    Seek(500);
    Press(IDC_SETEND);
    ASSERT_TRUE(Eventually([&] { return SelectionStart() == 185; })) << SelectionStart();
    ASSERT_TRUE(Eventually([&] { return SelectionEnd() == 500; })) << SelectionEnd();

    ASSERT_EQ(ChooseOutput(dir.dos("cut.avi")), (std::vector<std::string>{"AVIﾌｧｲﾙ (*.avi)"}));
    HWND compressors = CompressorDialog();
    ASSERT_TRUE(compressors);
    std::vector<std::string> names = drv::comboItems(drv::child(compressors, IDC_COMPRESSORLIST));
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "none");
    ASSERT_TRUE(ConfirmCompressor("Motion JPEG"));
    ASSERT_TRUE(WaitSaved("timed.avi")) << drv::text(main);
    EXPECT_FALSE(drv::findMessageBox(app.pid())) << drv::messageText(drv::findMessageBox(app.pid()));

    // 3.0 s .. 10 s: 7 s of picture and sound, the first frame the source's at 3.0 s.
    std::string out = dir.file("cut.avi");
    EXPECT_EQ(probe::Value(probe::Stream(out, "v:0", "codec_name"), "codec_name"), "mjpeg");
    EXPECT_NEAR(probe::DecodedFrames(out), 105, 1);
    EXPECT_NEAR(probe::AudioSeconds(out), 7.0, 0.07);
    EXPECT_NEAR(Brightness(out, 0), Brightness(dir.file("timed.avi"), 3.0), 4);
    EXPECT_NEAR(Brightness(out, 6.9), Brightness(dir.file("timed.avi"), 9.9), 4);
    EXPECT_GT(probe::AudioLevel(out, 1, 6), 0.05);   // the tone is at an eighth of full scale

    // The title and controls are back, the preview is rebuilt with the marks reset.
    EXPECT_TRUE(ControlsEnabled());
    EXPECT_EQ(RangeMax(), 1000);
    EXPECT_TRUE(Eventually([&] { return SelectionStart() == 0; })) << SelectionStart();
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 1000; })) << SelectionEnd();
    Close();
}

TEST_F(Snipwell, SavesTheWholeFileWithoutMarksUnderACompletedName)
{
    drv::TempDir dir("whole");
    StartWith(Media("movie.avi"), "movie.avi");
    ChooseOutput(dir.dos("cut"));
    ASSERT_TRUE(ConfirmCompressor("none"));
    ASSERT_TRUE(WaitSaved("movie.avi"));
    std::string out = dir.file("cut.avi");
    ASSERT_TRUE(drv::fileExists(out));
    EXPECT_FALSE(drv::fileExists(dir.file("cut")));
    // "none": the picture goes in uncompressed.
    EXPECT_EQ(probe::Value(probe::Stream(out, "v:0", "codec_name"), "codec_name"), "rawvideo");
    EXPECT_EQ(probe::Value(probe::Stream(out, "v:0", "width,height"), "width"), "320");
    EXPECT_NEAR(probe::DecodedFrames(out), 45, 1);
    EXPECT_NEAR(probe::AudioSeconds(out), 3.0, 0.05);
    EXPECT_TRUE(ControlsEnabled());
    Close();
}

TEST_F(Snipwell, KeepsTheNameAsTypedInAFolderWithADot)
{
    drv::TempDir dir("dotted");
    ASSERT_TRUE(CreateDirectoryA(dir.dos("v1.0").c_str(), NULL));
    StartWith(Media("movie.avi"), "movie.avi");
    ChooseOutput(dir.dos("v1.0\\cut"));
    ASSERT_TRUE(ConfirmCompressor("none"));
    ASSERT_TRUE(WaitSaved("movie.avi"));
    EXPECT_FALSE(drv::fileExists(dir.file("v1.0/cut.avi")));
    ASSERT_TRUE(drv::fileExists(dir.file("v1.0/cut")));
    EXPECT_NE(Format(dir.file("v1.0/cut")).find("avi"), std::string::npos);
    Close();
}

TEST_F(Snipwell, CutsASoundIntoAWaveFileWithoutAskingForACompressor)
{
    drv::TempDir dir("sound");
    StartWith(Media("long.wav"), "long.wav");
    // Marks at 1.5 s and 3 s of 4 s: the section is 1 s .. 3 s.
    Seek(375);
    Press(IDC_SETSTART);
    Seek(750);
    Press(IDC_SETEND);
    EXPECT_EQ(ChooseOutput(dir.dos("cut")), (std::vector<std::string>{"ｳｪｰﾌﾞﾌｧｲﾙ (*.wav)"}));
    ASSERT_TRUE(WaitSaved("long.wav"));
    EXPECT_FALSE(CompressorDialog(0));
    std::string out = dir.file("cut.wav");
    ASSERT_TRUE(drv::fileExists(out));
    EXPECT_NE(Format(out).find("wav"), std::string::npos);
    std::string audio = probe::Stream(out, "a:0", "channels,sample_rate");
    EXPECT_EQ(probe::Value(audio, "channels"), "1");
    EXPECT_EQ(probe::Value(audio, "sample_rate"), "44100");
    EXPECT_NEAR(probe::AudioSeconds(out), 2.0, 0.03);
    EXPECT_GT(probe::AudioLevel(out, 0.2, 1.8), 0.05);
    EXPECT_EQ(StreamCount(out), 1);
    Close();
}

TEST_F(Snipwell, RefusesToWriteOverTheOpenedFileAndKeepsTheMarks)
{
    drv::TempDir dir("refuse");
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), dir.dos("movie.avi").c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(dir.dos("sub").c_str(), NULL));
    const std::string before = drv::readFile(dir.file("movie.avi"));
    StartWith(dir.dos("movie.avi"), "movie.avi");
    Seek(500);
    Press(IDC_SETSTART);

    // Another letter case, the name without its extension, the same file reached through "..", through a
    // link to its folder and as a hard link.
    ASSERT_EQ(0, system(("ln -sfn . '" + dir.file("linked") + "' && ln -f '" + dir.file("movie.avi") + "' '"
                         + dir.file("hard.avi") + "'").c_str()));
    for (std::string name : {dir.dos("MOVIE.AVI"), dir.dos("movie"), dir.dos("sub\\..\\movie.avi"),
                             dir.dos("linked\\movie.avi"), dir.dos("hard.avi")}) {
        drv::click(main, IDC_SAVE);
        HWND dialog = drv::waitFileDialog(app.pid());
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(drv::chooseFile(dialog, name, false));
        drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
        if (box && box.text != "読み込みファイルには保存できません") {   // the overwrite question
            drv::answer(box.hwnd, IDYES);
            box = drv::waitMessageBox(app.pid());
        }
        ASSERT_TRUE(box) << name;
        EXPECT_EQ(box.caption, "Snipwell");
        EXPECT_EQ(box.text, "読み込みファイルには保存できません") << name;
        drv::answer(box.hwnd, IDOK);
        EXPECT_FALSE(CompressorDialog(0));
        EXPECT_EQ(SelectionStart(), 500) << name;
        EXPECT_EQ(drv::text(main), TitleFor("movie.avi"));
    }
    EXPECT_TRUE(drv::readFile(dir.file("movie.avi")) == before) << "the movie changed";
    Close();
}

TEST_F(Snipwell, CancellingTheCompressorWritesNothingAndResetsTheMarks)
{
    drv::TempDir dir("cancel");
    StartWith(Media("movie.avi"), "movie.avi");
    Seek(300);
    Press(IDC_SETSTART);
    ASSERT_TRUE(Eventually([&] { return SelectionStart() == 300; })) << SelectionStart();
    ChooseOutput(dir.dos("cut.avi"));
    HWND compressors = CompressorDialog();
    ASSERT_TRUE(compressors);
    ASSERT_TRUE(drv::click(compressors, IDCANCEL));
    ASSERT_TRUE(drv::waitGone(compressors));
    drv::sync(main);
    EXPECT_FALSE(drv::fileExists(dir.file("cut.avi")));
    EXPECT_TRUE(Eventually([&] { return SelectionStart() == 0; })) << SelectionStart();
    EXPECT_TRUE(Eventually([&] { return SelectionEnd() == 1000; })) << SelectionEnd();
    EXPECT_TRUE(ControlsEnabled());
    EXPECT_EQ(drv::text(main), TitleFor("movie.avi"));
    // The rebuilt preview plays.
    HANDLE play = PlayButtonImage();
    Press(IDC_PLAY);
    EXPECT_TRUE(Eventually([&] { return PlayButtonImage() != play; })) << "no pause icon";
    EXPECT_TRUE(drv::waitUntil([&] { return Position() > 100; }, 5000));
    Close();
}

TEST_F(Snipwell, WritesTheFirstTwoStreamsOfAMovieWithTwoSounds)
{
    drv::TempDir dir("streams");
    std::string source = dir.file("two.avi");
    ASSERT_TRUE(MakeMedia("-f lavfi -i testsrc=size=320x240:rate=15 -f lavfi -i sine=frequency=440:sample_rate=44100 "
                          "-f lavfi -i sine=frequency=660:sample_rate=22050 -t 2 -map 0 -map 1 -map 2 "
                          "-ac:a:0 1 -ac:a:1 2 -c:v mjpeg -c:a pcm_s16le",
                          source));
    ASSERT_EQ(StreamCount(source), 3);
    StartWith(dir.dos("two.avi"), "two.avi");
    ChooseOutput(dir.dos("cut.avi"));
    ASSERT_TRUE(ConfirmCompressor("none"));
    ASSERT_TRUE(WaitSaved("two.avi"));
    std::string out = dir.file("cut.avi");
    EXPECT_EQ(StreamCount(out), 2);
    EXPECT_NEAR(probe::DecodedFrames(out), 30, 1);
    // The sound written is the first one: mono at 44.1 kHz.
    std::string audio = probe::Stream(out, "a:0", "channels,sample_rate");
    EXPECT_EQ(probe::Value(audio, "channels"), "1");
    EXPECT_EQ(probe::Value(audio, "sample_rate"), "44100");
    Close();
}

TEST_F(Snipwell, AGraphThatEndsInAnErrorIsAFailedSave)
{
    // The program may write no file larger than 100 KB: the graph starts, cannot write the section and
    // ends with an error instead of completing.
    drv::TempDir dir("limit");
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit old, limited;
    getrlimit(RLIMIT_FSIZE, &old);
    limited = old;
    limited.rlim_cur = 100 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    Start({Media("movie.avi")}, TitleFor("movie.avi").c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(main);
    ChooseOutput(dir.dos("cut.avi"));
    ASSERT_TRUE(ConfirmCompressor("none"));
    drv::MessageBoxInfo box;
    drv::waitUntil([&] { return (box = drv::waitMessageBox(app.pid(), 0)) || drv::text(main) == TitleFor("movie.avi"); },
                   30000);
    if (!box) box = drv::waitMessageBox(app.pid(), 3000);
    ASSERT_TRUE(box) << "the failed save was taken for a success";
    EXPECT_EQ(box.caption, "Snipwell");
    EXPECT_EQ(box.text, "保存できません");
    drv::answer(box.hwnd, IDOK);
    // The preview is back for the same file.
    EXPECT_TRUE(WaitTitle(TitleFor("movie.avi")));
    EXPECT_TRUE(Eventually([&] { return ControlsEnabled(); }));
    Close();
}

// Saving ten minutes leaves the dialog answering: its progress rises with the time left, "中止" ends the
// save at once with no file, the preview and controls back; a save run to its end fills the bar.
TEST_F(Snipwell, ProgressRisesAndStopEndsTheSave)
{
    drv::TempDir dir("snipprog");
    const char *shared = getenv("SUITE_MEDIA");
    probe::Run("cp '" + std::string(shared ? shared : "/tmp/suite-media") + "/ten.avi' '" + dir.file("ten.avi") + "'");
    ASSERT_TRUE(MakeTimedMovie(dir.file("timed.avi")));
    StartWith(dir.dos("ten.avi"), "ten.avi");
    ASSERT_EQ(ChooseOutput(dir.dos("stopped.avi")).size(), 1u);
    ASSERT_TRUE(ConfirmCompressor("Motion JPEG"));
    JobWatch job = WatchJob(app.pid(), true);
    ASSERT_GE(job.percents.size(), 3u) << "the bar did not move";
    EXPECT_LT(job.percents.back(), 100);
    EXPECT_TRUE(job.stopped) << "the progress window stayed";
    EXPECT_LT(job.stopMs, 500u);
    EXPECT_TRUE(WaitSaved("ten.avi", 2000)) << drv::text(main);
    EXPECT_TRUE(ControlsEnabled());
    EXPECT_EQ(RangeMax(), 1000) << "the preview was not rebuilt";
    EXPECT_EQ(drv::fileSize(dir.file("stopped.avi")), -1);
    // closing the window while it saves stops the save and ends the program
    ASSERT_EQ(ChooseOutput(dir.dos("closed.avi")).size(), 1u);
    ASSERT_TRUE(ConfirmCompressor("Motion JPEG"));
    ASSERT_TRUE(drv::waitWindow(app.pid(), jobProgressClass));
    drv::post(main, WM_CLOSE);
    EXPECT_EQ(app.exitCode(5000), 0);
    EXPECT_EQ(drv::fileSize(dir.file("closed.avi")), -1);

    StartWith(dir.dos("timed.avi"), "timed.avi");
    ASSERT_EQ(ChooseOutput(dir.dos("whole.avi")).size(), 1u);
    ASSERT_TRUE(ConfirmCompressor("Motion JPEG"));
    job = WatchJob(app.pid(), false);
    ASSERT_FALSE(job.percents.empty());
    EXPECT_EQ(job.percents.back(), 100);
    EXPECT_TRUE(WaitSaved("timed.avi"));
    EXPECT_EQ(probe::DecodedFrames(dir.file("whole.avi")), 300);
    Close();
}

}  // namespace
