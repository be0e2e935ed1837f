// Dubrix from the outside: the compressor list it offers, new sound put under a re-encoded picture,
// picture-only copies, the names of the files it writes and a second run over the first.
#include <dshow.h>
#include "dubrix_app.h"

namespace {

// The installed video compressors' names, as the device enumerator gives them to any program.
std::vector<std::string> InstalledVideoCompressors()
{
    std::vector<std::string> names;
    CoInitialize(NULL);
    ICreateDevEnum *devices = NULL;
    IEnumMoniker *monikers = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   (void **)&devices)) &&
        devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) == S_OK) {
        IMoniker *moniker;
        while (monikers->Next(1, &moniker, NULL) == S_OK) {
            IPropertyBag *bag;
            if (SUCCEEDED(moniker->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag))) {
                VARIANT v;
                VariantInit(&v);
                WCHAR key[] = {'F','r','i','e','n','d','l','y','N','a','m','e',0};
                if (SUCCEEDED(bag->Read(key, &v, NULL)) && V_VT(&v) == VT_BSTR) {
                    char name[256];
                    WideCharToMultiByte(CP_ACP, 0, V_BSTR(&v), -1, name, sizeof name, NULL, NULL);
                    names.push_back(name);
                }
                VariantClear(&v);
                bag->Release();
            }
            moniker->Release();
        }
        monikers->Release();
    }
    if (devices) devices->Release();
    CoUninitialize();
    return names;
}

std::string Fourcc(const std::string &file)
{
    return probe::Value(probe::Stream(file, "v:0", "codec_tag_string"), "codec_tag_string");
}

int AudioStreams(const std::string &file)
{
    std::string out = probe::Run("ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 '" +
                                 file + "'");
    int lines = 0;
    for (char c : out) lines += c == '\n';
    return lines;
}

// A 3 s 320x240 15 fps MJPEG movie with a 440 Hz tone of its own, and a WAV of another pitch.
void MakeMovie(const std::string &path, const char *size = "320x240")
{
    MakeMedia(std::string("-f lavfi -i testsrc=size=") + size + ":rate=15 -f lavfi -i sine=frequency=440:sample_rate=44100"
              " -t 3 -c:v mjpeg -q:v 5 -c:a pcm_s16le -f avi '" + path + "'");
}

void MakeTone(const std::string &path, int hz, double seconds)
{
    MakeMedia("-f lavfi -i sine=frequency=" + std::to_string(hz) + ":sample_rate=22050 -t " + std::to_string(seconds) +
              " -ac 1 -c:a pcm_s16le '" + path + "'");
}

TEST_F(Dubrix, OffersEveryInstalledCompressorAndStartsOnTheFirst)
{
    std::vector<std::string> installed = InstalledVideoCompressors();
    ASSERT_FALSE(installed.empty());
    Start();
    HWND combo = drv::child(dialog, IDC_COMPRESSOR);
    EXPECT_EQ(drv::comboItems(combo), installed) << "no \"none\" line, the compressors in their own order";
    EXPECT_EQ(drv::comboSelection(combo), 0);
    EXPECT_EQ(Title(), "Dubrix");
    EXPECT_EQ(drv::text(dialog, IDC_AVIPATH), "");
    EXPECT_EQ(drv::text(dialog, IDC_WAVPATH), "");
    EXPECT_EQ(drv::text(dialog, IDC_RUN), "実行");
    EXPECT_EQ(drv::text(dialog, IDC_QUIT), "終了");

    // Escape closes nothing: the dialog stays and answers.
    SetFocus(NULL);
    drv::post(drv::child(dialog, IDC_AVIPATH), WM_KEYDOWN, VK_ESCAPE, 0);
    drv::command(dialog, IDCANCEL);
    drv::sync(dialog);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(drv::visible(dialog));
    Close();
}

TEST_F(Dubrix, PutsTheWavUnderTheReencodedPictureAndRunsAgainWithoutAsking)
{
    drv::TempDir dir("dubrix");
    std::string movie = dir.file("movie.avi"), high = dir.file("high.wav"), low = dir.file("low.wav");
    MakeMovie(movie);
    MakeTone(high, 1200, 3);
    MakeTone(low, 2500, 2);
    std::string movieBytes = drv::readFile(movie), highBytes = drv::readFile(high);
    ASSERT_GT(movieBytes.size(), 10000u);
    ASSERT_GT(highBytes.size(), 10000u);

    Start();
    SetPaths(movie, high);
    ASSERT_TRUE(ChooseCompressor("MPEG-4 Video Codec V3"));
    EXPECT_EQ(RunToEnd(), std::vector<std::string>());
    EXPECT_EQ(Title(), "終了！");

    std::string out = dir.file("movie_.avi");
    ASSERT_TRUE(drv::fileExists(out));
    std::string video = probe::Stream(out, "v:0", "codec_tag_string,width,height");
    EXPECT_EQ(probe::Value(video, "codec_tag_string"), "MP43");
    EXPECT_EQ(probe::Value(video, "width"), "320");
    EXPECT_EQ(probe::Value(video, "height"), "240");
    EXPECT_NEAR(probe::DecodedFrames(out), 45, 1);
    // One sound, the WAV's: its pitch is there, the movie's own is not.
    EXPECT_EQ(AudioStreams(out), 1);
    EXPECT_NEAR(probe::AudioSeconds(out), 3.0, 0.1);
    EXPECT_GT(ToneLevel(out, 1200), -30);
    EXPECT_LT(ToneLevel(out, 440), -40);
    // The same again: the compressor serves a second graph.
    drv::setText(dialog, "");
    EXPECT_EQ(RunToEnd(), std::vector<std::string>());
    EXPECT_EQ(Title(), "終了！");
    EXPECT_EQ(Fourcc(out), "MP43");
    // The sources are untouched.
    EXPECT_EQ(drv::readFile(movie), movieBytes);
    EXPECT_EQ(drv::readFile(high), highBytes);

    // Again with another compressor and a shorter, lower WAV: the same name is written over, no question.
    SetPaths(movie, low);
    ASSERT_TRUE(ChooseCompressor("Motion JPEG"));
    drv::setText(dialog, "");
    EXPECT_EQ(RunToEnd(), std::vector<std::string>());
    EXPECT_EQ(Title(), "終了！");
    EXPECT_EQ(Fourcc(out), "MJPG");
    EXPECT_NEAR(probe::DecodedFrames(out), 45, 1);
    EXPECT_NEAR(probe::AudioSeconds(out), 2.0, 0.1) << "the WAV is neither trimmed nor padded";
    EXPECT_GT(ToneLevel(out, 2500), -30);
    EXPECT_LT(ToneLevel(out, 1200), -40);
    EXPECT_LT(ToneLevel(out, 440), -40);
    EXPECT_FALSE(FindBox());
    Close();
}

TEST_F(Dubrix, AnEmptyWavBoxGivesThePictureAloneUnderADottedName)
{
    // Japanese names are made and read back through Wine, which keeps them as the program sees them.
    drv::TempDir dir("dubrix");
    std::string made = dir.file("made.avi");
    MakeMovie(made);
    ASSERT_TRUE(CreateDirectoryA(dir.dos("素材").c_str(), NULL));
    ASSERT_TRUE(CopyFileA(drv::dosPath(made).c_str(), dir.dos("素材\\ソ表.old.avi").c_str(), FALSE));

    Start();
    SetPaths(dir.dos("素材\\ソ表.old.avi"), "");
    ASSERT_TRUE(ChooseCompressor("H.264"));
    EXPECT_EQ(RunToEnd(), std::vector<std::string>());
    EXPECT_EQ(Title(), "終了！");

    EXPECT_EQ(GetFileAttributesA(dir.dos("素材\\ソ表_.avi").c_str()), INVALID_FILE_ATTRIBUTES);
    std::string out = dir.file("out.avi");
    ASSERT_TRUE(CopyFileA(dir.dos("素材\\ソ表.old_.avi").c_str(), drv::dosPath(out).c_str(), FALSE))
        << "movie.old.avi gives movie.old_.avi";
    EXPECT_EQ(Fourcc(out), "H264");
    EXPECT_NEAR(probe::DecodedFrames(out), 45, 1);
    EXPECT_EQ(AudioStreams(out), 0) << "no WAV, no sound: the movie's own sound is left out";
    Close();
}

TEST_F(Dubrix, ANameWithoutExtensionGetsItsCopyBesideIt)
{
    drv::TempDir dir("dubrix");
    ASSERT_TRUE(CreateDirectoryA(dir.dos("rel1.2").c_str(), NULL));
    std::string movie = dir.file("rel1.2/movie");
    MakeMovie(movie);
    std::string movieBytes = drv::readFile(movie);
    ASSERT_GT(movieBytes.size(), 10000u);
    std::string wav = dir.file("tone.wav");
    MakeTone(wav, 1200, 3);

    Start();
    SetPaths(movie, wav);
    EXPECT_EQ(RunToEnd(), std::vector<std::string>());
    EXPECT_EQ(Title(), "終了！");
    EXPECT_EQ(drv::readFile(movie), movieBytes) << "the input was written over";
    std::string out = dir.file("rel1.2/movie_.avi");
    ASSERT_TRUE(drv::fileExists(out));
    EXPECT_FALSE(drv::fileExists(dir.file("rel1_.avi"))) << "the copy left its folder";
    EXPECT_NEAR(probe::DecodedFrames(out), 45, 1);
    EXPECT_GT(ToneLevel(out, 1200), -30);
    Close();
}

TEST_F(Dubrix, BrowsingFillsTheBoxesAndTheTitleShowsTheRun)
{
    drv::TempDir dir("dubrix");
    std::string movie = dir.file("long.avi"), wav = dir.file("tone.wav");
    MakeMedia("-f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100"
              " -t 20 -c:v mjpeg -q:v 5 -c:a pcm_s16le '" + movie + "'");
    MakeTone(wav, 1200, 20);
    Start();

    // Each browse button fills its own box; cancelling leaves it as it was.
    ASSERT_TRUE(drv::click(dialog, IDC_BROWSEAVI));
    HWND chooser = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(chooser);
    ASSERT_TRUE(drv::chooseFile(chooser, movie));
    drv::sync(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_AVIPATH), drv::dosPath(movie));
    EXPECT_EQ(drv::text(dialog, IDC_WAVPATH), "");
    ASSERT_TRUE(drv::click(dialog, IDC_BROWSEWAV));
    ASSERT_TRUE(chooser = drv::waitFileDialog(app.pid()));
    ASSERT_TRUE(drv::chooseFile(chooser, wav));
    drv::sync(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_WAVPATH), drv::dosPath(wav));
    ASSERT_TRUE(drv::click(dialog, IDC_BROWSEAVI));
    ASSERT_TRUE(chooser = drv::waitFileDialog(app.pid()));
    EXPECT_TRUE(drv::cancelDialog(chooser));
    drv::sync(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_AVIPATH), drv::dosPath(movie));
    EXPECT_FALSE(drv::fileExists(dir.file("long_.avi"))) << "browsing alone started a run";

    // 20 s of 640x480 through H.264 takes a while: the title tells the run until it ends.
    ASSERT_TRUE(ChooseCompressor("H.264"));
    ASSERT_TRUE(drv::click(dialog, IDC_RUN));
    drv::sync(dialog);
    EXPECT_EQ(Title(), "変換中・・・");
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == "終了！"; }, 60000));
    std::string out = dir.file("long_.avi");
    EXPECT_EQ(Fourcc(out), "H264");
    EXPECT_NEAR(probe::DecodedFrames(out), 500, 1);
    EXPECT_NEAR(probe::AudioSeconds(out), 20.0, 0.1);
    Close();
}

}  // namespace
