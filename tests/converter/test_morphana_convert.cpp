// What Morphana writes: every input kind into AVI files with and without encoders, quality, the three
// audio files through WavDest, and the ends of conversions that cannot be made.
#include <stdio.h>
#include "morphana_app.h"
#include "jobprogress.h"

namespace {

struct AviCase {
    const char *audio, *video;       // encoder names in the dialog
    const char *audioCodec, *videoCodec;   // what ffprobe then reads ("pcm": integer PCM of any size)
};

// Seconds of picture in FILE as a player shows them: decoded frames over the stream's frame rate.
double PictureSeconds(const std::string &file)
{
    std::string rate = probe::Value(probe::Stream(file, "v:0", "avg_frame_rate"), "avg_frame_rate");
    int num = 0, den = 0;
    if (sscanf(rate.c_str(), "%d/%d", &num, &den) != 2 || num <= 0 || den <= 0) return -1;
    int frames = probe::DecodedFrames(file);
    return frames < 0 ? -1 : frames * (double)den / num;
}

// Bytes of the first video stream's packets.
long long VideoBytes(const std::string &file)
{
    std::string t = probe::Run("ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 '" + file +
                               "' 2>/dev/null | awk '{s+=$1} END {print s+0}'");
    return atoll(t.c_str());
}

class MorphanaConvert : public Morphana {
protected:
    // Converts INPUT into an AVI for each case and checks the codecs and lengths of what is written.
    void ConvertToAvi(const std::string &input, const std::vector<AviCase> &cases)
    {
        drv::TempDir dir("morphavi");
        std::string in = MediaFile(input);
        double sound = probe::AudioSeconds(in), picture = PictureSeconds(in);
        ASSERT_GT(sound, 1.0);
        Open(in);
        int n = 0;
        for (const AviCase &c : cases) {
            SCOPED_TRACE(input + " with " + c.video + " and " + c.audio);
            std::string out = dir.file("out" + std::to_string(++n) + ".avi");
            Choose(true, c.audio, c.video);
            SaveAs(out);
            std::string audioCodec = probe::Value(probe::Stream(out, "a:0", "codec_name"), "codec_name");
            // PCM keeps the decoded sample size: 16 bits from PCM sources, 32 from compressed ones.
            if (std::string(c.audioCodec) == "pcm")
                EXPECT_TRUE(audioCodec == "pcm_s16le" || audioCodec == "pcm_s32le") << audioCodec;
            else
                EXPECT_EQ(audioCodec, c.audioCodec);
            EXPECT_NEAR(probe::AudioSeconds(out), sound, 0.15);
            if (picture > 0) {
                EXPECT_EQ(probe::Value(probe::Stream(out, "v:0", "codec_name"), "codec_name"), c.videoCodec);
                EXPECT_NEAR(PictureSeconds(out), picture, 0.15);
            } else {
                EXPECT_EQ(probe::Stream(out, "v", "codec_name"), "") << "a picture came from a sound";
            }
            EXPECT_EQ(probe::Value(probe::Run("ffprobe -v error -show_entries format=format_name -of default=nw=1 '" +
                                              out + "'"), "format_name"), "avi");
        }
        EXPECT_EQ(Title(), Caption(input));
    }
};

const std::vector<AviCase> kAviCases = {
    {"PCM", "none", "pcm", "rawvideo"},
    {"MPEG Layer-3", "Motion JPEG", "mp3", "mjpeg"},
    {"PCM", "MPEG-4 Video Codec V3", "pcm", "msmpeg4v3"},
};

TEST_F(MorphanaConvert, MoviesOfEveryKindBecomeAvi)
{
    Start();
    for (const char *input : {"movie.avi", "movie.wmv", "movie.asf", "movie.mpg"}) {
        ConvertToAvi(input, kAviCases);
        if (HasFatalFailure()) return;
    }
    Close();
}

TEST_F(MorphanaConvert, SoundsOfEveryKindBecomeAviOfTheirSound)
{
    Start();
    for (const char *input : {"sound.wav", "sound.wma", "sound.mp3"}) {
        ConvertToAvi(input, kAviCases);
        if (HasFatalFailure()) return;
    }
    Close();
}

TEST_F(MorphanaConvert, QualityReachesAnEncoderThatTakesIt)
{
    drv::TempDir dir("morphq");
    Start();
    Open(MediaFile("movie.avi"));
    std::vector<long long> sizes;
    for (int quality : {85, 20, 85}) {
        std::string out = dir.file("q" + std::to_string(quality) + "-" + std::to_string(sizes.size()) + ".avi");
        Choose(true, "PCM", "Motion JPEG", quality);
        SaveAs(out);
        EXPECT_EQ(probe::DecodedFrames(out), 45);
        sizes.push_back(drv::fileSize(out));
    }
    // The sound is the same in all three; the pictures are much smaller at 20 and the same again at 85.
    EXPECT_LT(sizes[1] * 10, sizes[0] * 8) << sizes[0] << " at 85, " << sizes[1] << " at 20";
    EXPECT_EQ(sizes[2], sizes[0]);

    // Another encoder with a quality setting, and one without: the lossless one writes the same either way.
    for (const char *video : {"MPEG-4 Video Codec V3", "Huffyuv"}) {
        SCOPED_TRACE(video);
        long long at[2];
        int n = 0;
        for (int quality : {90, 5}) {
            std::string out = dir.file(std::string(video).substr(0, 4) + std::to_string(quality) + ".avi");
            Choose(true, "PCM", video, quality);
            SaveAs(out);
            EXPECT_EQ(probe::DecodedFrames(out), 45);
            at[n++] = VideoBytes(out);
        }
        if (std::string(video) == "Huffyuv")
            EXPECT_EQ(at[0], at[1]);
        else
            EXPECT_LT(at[1] * 10, at[0] * 8) << at[0] << " at 90, " << at[1] << " at 5";
    }
    Close();
}

TEST_F(MorphanaConvert, AudioFormWritesWaveMp3AndWmaThroughWavDest)
{
    struct Case {
        const char *encoder, *name, *codec, *tag;
    };
    const std::vector<Case> cases = {
        {"PCM", "out", "pcm", "0x0001"},
        {"MPEG Layer-3", "out", "mp3", "0x0055"},
        {"WMAudio Encoder DMO", "out", "wmav2", "0x0161"},
        {"CCITT A-Law", "alaw", "pcm_alaw", "0x0006"},
    };
    const char *extensions[] = {".wav", ".mp3", ".wma", ".wav"};
    drv::TempDir dir("morphaud");
    // a sound that does not end on a whole second, nor on a whole buffer of any size
    std::string odd = dir.file("oddsound.wav");
    ASSERT_TRUE(MakeMedium("-f lavfi -i sine=frequency=660:sample_rate=44100 -ac 2 -t 2.34567 -c:a pcm_s16le", odd));
    Start();
    for (const char *input : {"long.wav", "movie.mpg", "oddsound.wav"}) {
        std::string in = std::string(input) == "oddsound.wav" ? odd : MediaFile(input);
        double seconds = probe::AudioSeconds(in);
        std::string samples = probe::Value(probe::Stream(in, "a:0", "duration_ts"), "duration_ts");
        Open(in);
        for (size_t i = 0; i < cases.size(); i++) {
            const Case &c = cases[i];
            SCOPED_TRACE(std::string(input) + " with " + c.encoder);
            std::string typed = dir.file(std::string(input).substr(0, 4) + c.name);
            Choose(false, c.encoder);
            SaveAs(typed);
            // A name without a dot gets the encoder's extension.
            std::string out = typed + extensions[i];
            ASSERT_TRUE(drv::fileExists(out)) << out;
            EXPECT_FALSE(drv::fileExists(typed));
            std::string head = drv::readFile(out).substr(0, 12);
            EXPECT_EQ(head.substr(0, 4), "RIFF");
            EXPECT_EQ(head.substr(8, 4), "WAVE");
            std::string stream = probe::Stream(out, "a:0", "codec_name,codec_tag");
            std::string codec = probe::Value(stream, "codec_name");
            if (std::string(c.codec) == "pcm")
                EXPECT_TRUE(codec == "pcm_s16le" || codec == "pcm_s32le") << codec;
            else
                EXPECT_EQ(codec, c.codec);
            EXPECT_EQ(probe::Value(stream, "codec_tag"), c.tag);
            EXPECT_NEAR(probe::AudioSeconds(out), seconds, 0.15);
            // a WAVE file's sound kept sample for sample where the encoder keeps one code per sample
            if (std::string(input) != "movie.mpg" && (std::string(c.codec) == "pcm" || codec == "pcm_alaw"))
                EXPECT_EQ(probe::Value(probe::Stream(out, "a:0", "duration_ts"), "duration_ts"), samples);
            EXPECT_EQ(probe::Stream(out, "v", "codec_name"), "");
        }
    }
    Close();
}

TEST_F(MorphanaConvert, CaptionTellsOfTheRunningConversion)
{
    drv::TempDir dir("morphcap");
    std::string in = dir.file("long movie.avi");
    ASSERT_TRUE(MakeMedium("-f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
                           "-t 60 -c:v mjpeg -q:v 5 -c:a pcm_s16le", in));
    Start({drv::dosPath(in)});
    ASSERT_TRUE(drv::waitUntil([&] { return Title() == Caption("long movie.avi"); })) << Title();
    Choose(true, "PCM", "Motion JPEG");
    HWND dialog = PressSave();
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, dir.file("converted.avi")));
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == Caption("long movie.avi", kConverting); }, 5000)) << Title();
    EXPECT_FALSE(drv::enabled(Control(IDC_SAVE))) << "save stays pressable while converting";
    ASSERT_TRUE(WaitIdle(60000)) << Title();
    EXPECT_EQ(Title(), Caption("long movie.avi"));
    EXPECT_FALSE(drv::findMessageBox(app.pid()));
    EXPECT_EQ(probe::DecodedFrames(dir.file("converted.avi")), 1500);

    // Closing in the middle stops the graph and ends the program.
    HWND again = PressSave();
    ASSERT_TRUE(again);
    ASSERT_TRUE(drv::chooseFile(again, dir.file("stopped.avi")));
    ASSERT_TRUE(drv::waitUntil([&] { return Title() == Caption("long movie.avi", kConverting); }, 5000)) << Title();
    drv::command(main, IDM_EXIT);
    EXPECT_EQ(app.exitCode(5000), 0);
}

// A long conversion shows its progress rising and the time left; "中止" ends it at once, leaves no file and
// the dialog ready; a conversion run to its end fills the bar.
TEST_F(MorphanaConvert, ProgressRisesAndStopEndsTheRun)
{
    drv::TempDir dir("morphprog");
    Start({Media("ten.avi")});
    ASSERT_TRUE(drv::waitUntil([&] { return Title() == Caption("ten.avi"); })) << Title();
    Choose(true, "PCM", "Motion JPEG");
    HWND dialog = PressSave();
    ASSERT_TRUE(dialog && drv::chooseFile(dialog, dir.file("stopped.avi")));
    JobWatch job = WatchJob(app.pid(), true);
    ASSERT_GE(job.percents.size(), 3u) << "the bar did not move";
    EXPECT_LT(job.percents.back(), 100);
    EXPECT_TRUE(job.stopped) << "the progress window stayed";
    EXPECT_LT(job.stopMs, 500u);
    EXPECT_TRUE(WaitIdle(2000)) << Title();
    EXPECT_EQ(Title(), Caption("ten.avi"));
    EXPECT_EQ(probe::Run("ls -A '" + dir.file("") + "'"), "") << "a file of the stopped run was left";
    EXPECT_FALSE(drv::findMessageBox(app.pid()));

    Open(MediaFile("movie.avi"));
    Choose(true, "PCM", "Motion JPEG");
    dialog = PressSave();
    ASSERT_TRUE(dialog && drv::chooseFile(dialog, dir.file("whole.avi")));
    job = WatchJob(app.pid(), false);
    ASSERT_FALSE(job.percents.empty());
    EXPECT_EQ(job.percents.back(), 100);
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(probe::DecodedFrames(dir.file("whole.avi")), 45);
    Close();
}

TEST_F(MorphanaConvert, ReplacesAnExistingOutputWhole)
{
    drv::TempDir dir("morphover");
    // Old files much larger than what replaces them: nothing of them may stay behind.
    std::string junk(3 * 1024 * 1024, 'x');
    ASSERT_TRUE(drv::writeFile(dir.file("old.avi"), junk));
    ASSERT_TRUE(drv::writeFile(dir.file("old.wav"), junk));
    Start();
    Open(MediaFile("sound.wav"));
    Choose(false, "PCM");
    EXPECT_EQ(SaveOver(dir.file("old.wav")), std::vector<std::string>{});
    ASSERT_TRUE(WaitIdle());
    EXPECT_LT(drv::fileSize(dir.file("old.wav")), 400000);
    EXPECT_NEAR(probe::AudioSeconds(dir.file("old.wav")), 2.0, 0.1);

    Open(MediaFile("movie.avi"));
    Choose(true, "MPEG Layer-3", "Motion JPEG");
    EXPECT_EQ(SaveOver(dir.file("old.avi")), std::vector<std::string>{});
    ASSERT_TRUE(WaitIdle());
    EXPECT_LT(drv::fileSize(dir.file("old.avi")), 2 * 1024 * 1024);
    EXPECT_EQ(probe::DecodedFrames(dir.file("old.avi")), 45);
    EXPECT_EQ(probe::Value(probe::Stream(dir.file("old.avi"), "a:0", "codec_name"), "codec_name"), "mp3");
    Close();
}

TEST_F(MorphanaConvert, CorruptInputEndsWithAMessageAndAUsableDialog)
{
    drv::TempDir dir("morphbad");
    Start();
    for (const char *input : {"broken.avi", "readme.txt"}) {
        SCOPED_TRACE(input);
        Open(MediaFile(input));
        Choose(true, "PCM", "Motion JPEG");
        HWND dialog = PressSave();
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(drv::chooseFile(dialog, dir.file(std::string(input) + ".out.avi")));
        std::vector<std::string> texts = Messages();
        ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
        EXPECT_GE(atoi(texts[0].c_str()), 1) << "not a step number: " << texts[0];
        EXPECT_EQ(texts[1], "保存できません");
        EXPECT_TRUE(WaitIdle(5000)) << Title();
        EXPECT_EQ(Title(), Caption(input));
    }

    // A movie without sound has nothing for WavDest: the step that connects it is named.
    Open(MediaFile("silent.avi"));
    Choose(false, "PCM");
    EXPECT_EQ(SaveOver(dir.file("silent.wav")), (std::vector<std::string>{"14", "保存できません"}));
    EXPECT_TRUE(WaitIdle(5000));
    // As an AVI it is its picture alone.
    Choose(true, "PCM", "Motion JPEG");
    EXPECT_EQ(SaveOver(dir.file("silent.out.avi")), std::vector<std::string>{});
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(probe::DecodedFrames(dir.file("silent.out.avi")), 45);
    EXPECT_LT(probe::AudioSeconds(dir.file("silent.out.avi")), 0);

    // A file that cannot be written stops the running graph: the conversion ends with the same message
    // instead of keeping the dialog captured.
    for (bool avi : {true, false}) {
        SCOPED_TRACE(avi ? "AVI" : "audio");
        Open(MediaFile("movie.avi"));
        Choose(avi, "PCM", "Motion JPEG");
        HWND dialog = PressSave();
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(drv::chooseFile(dialog, "/proc/morphana-out.avi"));
        std::vector<std::string> texts = Messages(20000);
        EXPECT_EQ(texts, std::vector<std::string>{"保存できません"});
        EXPECT_TRUE(WaitIdle(5000)) << Title();
        EXPECT_EQ(Title(), Caption("movie.avi"));
    }

    // A movie cut short (its index gone with its end) is not converted as if it were whole: the run fails
    // when the picture ends before the length the file states, and no file is left.
    std::string movie = drv::readFile(MediaFile("movie.avi"));
    ASSERT_TRUE(drv::writeFile(dir.file("cut.avi"), movie.substr(0, movie.size() * 7 / 10)));
    Open(dir.file("cut.avi"));
    Choose(true, "PCM", "Motion JPEG");
    EXPECT_EQ(SaveOver(dir.file("cut.out.avi")), std::vector<std::string>{"保存できません"});
    EXPECT_TRUE(WaitIdle(5000)) << Title();
    EXPECT_EQ(drv::fileSize(dir.file("cut.out.avi")), -1);

    // The dialog still converts.
    Open(MediaFile("movie.avi"));
    Choose(true, "PCM", "Motion JPEG");
    SaveAs(dir.file("good.avi"));
    EXPECT_EQ(probe::DecodedFrames(dir.file("good.avi")), 45);
    Close();
}

}  // namespace
