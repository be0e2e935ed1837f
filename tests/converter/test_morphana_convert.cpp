// What Morphana writes: every input kind into AVI files with and without encoders, quality, the three
// audio files through WavDest, and the ends of conversions that cannot be made.
#include <stdio.h>
#include <math.h>
#include "morphana_app.h"

namespace {

struct AviCase {
    const char *audio, *video;       // encoder names in the dialog
    const char *audioCodec, *videoCodec;   // what ffprobe then reads (video "" for a sound input)
};

// Seconds of sound and of picture ffmpeg decodes from FILE (picture: frames over the stream's rate).
double PictureSeconds(const std::string &file)
{
    std::string rate = probe::Value(probe::Stream(file, "v:0", "avg_frame_rate"), "avg_frame_rate");
    int num = 0, den = 0;
    if (sscanf(rate.c_str(), "%d/%d", &num, &den) != 2 || num <= 0 || den <= 0) return -1;
    int frames = probe::DecodedFrames(file);
    return frames < 0 ? -1 : frames * (double)den / num;
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
            EXPECT_EQ(probe::Value(probe::Stream(out, "a:0", "codec_name"), "codec_name"), c.audioCodec);
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
    {"PCM", "none", "pcm_s16le", "rawvideo"},
    {"MPEG Layer-3", "Motion JPEG", "mp3", "mjpeg"},
    {"PCM", "MPEG-4 Video Codec V3", "pcm_s16le", "msmpeg4v3"},
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

}  // namespace
