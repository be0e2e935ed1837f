// Dubrix when a conversion cannot start or does not end well: its messages, the dialog it gives back
// and the files it leaves alone.
#include <stdlib.h>
#include <fstream>
#include <iterator>
#include "dubrix_app.h"
#include "jobprogress.h"

namespace {

typedef std::vector<std::string> Texts;

void MakeMovie(const std::string &path, const char *size = "320x240", const char *codec = "mjpeg -q:v 5")
{
    MakeMedia(std::string("-f lavfi -i testsrc=size=") + size + ":rate=15 -f lavfi -i sine=frequency=440:sample_rate=44100"
              " -t 3 -c:v " + codec + " -c:a pcm_s16le -f avi '" + path + "'");
}

TEST_F(Dubrix, MissingFilesAreNamedBeforeCannotConvert)
{
    drv::TempDir dir("dubrix");
    std::string movie = dir.file("movie.avi");
    MakeMovie(movie);
    Start();

    SetPaths("", "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"AVIファイルが未入力です", "変換できません"}));
    EXPECT_EQ(Title(), "Dubrix");

    SetPaths(dir.file("nothing.avi"), "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"該当するAVIファイルがありません", "変換できません"}));

    SetPaths(movie, dir.file("nothing.wav"));
    EXPECT_EQ(RunExpectingFailure(), (Texts{"該当するWAVファイルがありません", "変換できません"}));
    EXPECT_EQ(Title(), "Dubrix");
    // The boxes keep what was typed, and nothing was written.
    EXPECT_EQ(drv::text(dialog, IDC_AVIPATH), drv::dosPath(movie));
    EXPECT_EQ(drv::text(dialog, IDC_WAVPATH), drv::dosPath(dir.file("nothing.wav")));
    EXPECT_FALSE(drv::fileExists(dir.file("movie_.avi")));
    Close();
}

TEST_F(Dubrix, FilesThatAreNotMediaGive6)
{
    drv::TempDir dir("dubrix");
    std::string movie = dir.file("movie.avi"), text = dir.file("notes.avi"), wav = dir.file("notes.wav");
    MakeMovie(movie);
    ASSERT_TRUE(drv::writeFile(text, "not a movie\n"));
    ASSERT_TRUE(drv::writeFile(wav, "not a sound\n"));
    Start();

    SetPaths(text, "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"6", "変換できません"}));
    SetPaths(movie, wav);
    EXPECT_EQ(RunExpectingFailure(), (Texts{"6", "変換できません"}));
    EXPECT_EQ(Title(), "Dubrix");
    EXPECT_EQ(drv::readFile(text), "not a movie\n");
    Close();
}

TEST_F(Dubrix, AnOutputThatWouldBeTheWavIsRefusedAndTheNextRunWorks)
{
    drv::TempDir dir("dubrix");
    std::string movie = dir.file("clip.avi"), trap = dir.file("clip_.avi"), wav = dir.file("tone.wav");
    MakeMovie(movie);
    // A sound whose name is the copy's name.
    MakeMedia("-f lavfi -i sine=frequency=1200:sample_rate=22050 -t 3 -ac 1 -c:a pcm_s16le -f wav '" + trap + "'");
    std::string trapBytes = drv::readFile(trap);
    ASSERT_GT(trapBytes.size(), 10000u);
    Start();

    // The WAV by its own name, in other letters, through a link to its folder, as a hard link, through "..".
    ASSERT_TRUE(CreateDirectoryA(drv::dosPath(dir.file("sub")).c_str(), NULL));
    ASSERT_EQ(0, system(("ln -sfn . '" + dir.file("linked") + "' && ln -f '" + trap + "' '" + dir.file("hard.wav") + "'")
                            .c_str()));
    for (const std::string &spelling : {trap, dir.file("CLIP_.AVI"), dir.file("linked/clip_.avi"), dir.file("hard.wav"),
                                        dir.file("sub/../clip_.avi")}) {
        SCOPED_TRACE(spelling);
        SetPaths(movie, spelling);
        EXPECT_EQ(RunExpectingFailure(), (Texts{"出力ファイルがWAVファイルと同じです", "変換できません"}));
        EXPECT_EQ(drv::readFile(trap), trapBytes) << "the WAV was written over";
        EXPECT_EQ(Title(), "Dubrix");
    }
    ASSERT_TRUE(DeleteFileA(drv::dosPath(dir.file("hard.wav")).c_str()));

    // The same WAV under a name of its own: the refusal left nothing behind that stands in the way.
    ASSERT_TRUE(MoveFileA(drv::dosPath(trap).c_str(), drv::dosPath(wav).c_str()));
    SetPaths(movie, wav);
    EXPECT_EQ(RunToEnd(), Texts());
    EXPECT_EQ(Title(), "終了！");
    EXPECT_GT(ToneLevel(trap, 1200), -30);
    EXPECT_NEAR(probe::DecodedFrames(trap), 45, 1);
    Close();
}

TEST_F(Dubrix, AMovieWithoutPictureGives8)
{
    drv::TempDir dir("dubrix");
    std::string sound = dir.file("sound.avi");
    MakeMedia("-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:a pcm_s16le -f avi '" + sound + "'");
    ASSERT_TRUE(drv::fileExists(sound));
    Start();
    SetPaths(sound, "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"8", "変換できません"}));
    EXPECT_EQ(Title(), "Dubrix");
    Close();
}

TEST_F(Dubrix, AnEncoderFailingDuringTheRunGivesTheDialogBack)
{
    drv::TempDir dir("dubrix");
    std::string odd = dir.file("odd.avi"), movie = dir.file("movie.avi"), cut = dir.file("cut.avi");
    MakeMovie(odd, "321x241");
    MakeMovie(movie);
    ASSERT_TRUE(drv::fileExists(odd));
    Start();
    ASSERT_TRUE(ChooseCompressor("Huffyuv"));
    // Huffyuv takes no picture of odd width: refused when the graph is built
    SetPaths(odd, "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"8", "変換できません"}));
    EXPECT_EQ(Title(), "Dubrix");

    // a movie cut short starts and then ends on an error
    std::ifstream in(movie, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() * 6 / 10);
    SetPaths(cut, "");
    EXPECT_EQ(RunExpectingFailure(), (Texts{"変換できません"}));
    EXPECT_EQ(Title(), "Dubrix") << "the dialog stayed in its converting state";
    EXPECT_FALSE(drv::fileExists(dir.file("cut_.avi"))) << "an unfinished file was left behind";

    // The dialog is ready for the next run, which works.
    SetPaths(movie, "");
    EXPECT_EQ(RunToEnd(), Texts());
    EXPECT_EQ(Title(), "終了！");
    EXPECT_EQ(probe::Value(probe::Stream(dir.file("movie_.avi"), "v:0", "codec_tag_string"), "codec_tag_string"), "HFYU");
    Close();
}

// A long run shows its progress rising and the time left; "中止" ends it at once, leaves no file and the
// dialog ready; a run to its end fills the bar.
TEST_F(Dubrix, ProgressRisesAndStopEndsTheRun)
{
    drv::TempDir dir("dubrixprog");
    std::string ten = dir.file("ten.avi"), movie = dir.file("movie.avi");
    probe::Run("cp '" + Media("ten.avi") + "' '" + ten + "'");
    ASSERT_GT(drv::fileSize(ten), 0);
    MakeMovie(movie);
    Start();
    ASSERT_TRUE(ChooseCompressor("Motion JPEG"));
    SetPaths(ten, "");
    EXPECT_TRUE(drv::click(dialog, IDC_RUN));
    JobWatch job = WatchJob(app.pid(), true);
    ASSERT_GE(job.percents.size(), 3u) << "the bar did not move";
    EXPECT_LT(job.percents.back(), 100);
    EXPECT_TRUE(job.stopped) << "the progress window stayed";
    EXPECT_LT(job.stopMs, 500u);
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == "Dubrix"; }, 2000)) << Title();
    EXPECT_FALSE(drv::fileExists(dir.file("ten_.avi")));
    EXPECT_FALSE(FindBox());

    SetPaths(movie, "");
    EXPECT_TRUE(drv::click(dialog, IDC_RUN));
    job = WatchJob(app.pid(), false);
    ASSERT_FALSE(job.percents.empty());
    EXPECT_EQ(job.percents.back(), 100);
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == "終了！"; })) << Title();
    EXPECT_EQ(probe::DecodedFrames(dir.file("movie_.avi")), 45);
    Close();
}

}  // namespace
