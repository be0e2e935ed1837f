// Sequora's output as a user gets it: a project exported to AVI or WAV through Save as, checked in the
// file written; the saving title, the abort question and the preview window.
#include <algorithm>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dshow.h>
#include "mediaprobe.h"
#include "sequora_app.h"
#include "jobprogress.h"

namespace {

// Media of plain colours and tones, so that what shows and sounds at a time tells which item it is.
struct ExportMedia {
    drv::TempDir dir{"export"};
    ExportMedia()
    {
        std::string d = dir.path();
        probe::Run("cd '" + d + "' && "
                   "ffmpeg -v error -nostdin -f lavfi -i color=blue:size=320x240:rate=15 -f lavfi "
                   "-i sine=frequency=440:sample_rate=44100 -t 3 -c:v mjpeg -q:v 3 -c:a pcm_s16le blue.avi && "
                   "ffmpeg -v error -nostdin -f lavfi -i color=red:size=160x120 -frames:v 1 red.jpg && "
                   "ffmpeg -v error -nostdin -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 4 -c:a pcm_s16le tone.wav");
    }
};

struct Item {
    const char *file;
    double start;
    int streams;
    GUID types[2];
    double lengths[2];
    int effect, fadeStart;
    double imageTime = 5.0;
};

// A project file as Sequora writes it: settings, count, 256 records of 624 bytes.
std::string ProjectImage(int type, const std::vector<Item> &items, const ExportMedia &media)
{
    std::string bytes(159788, '\0');
    int settings[7] = {type, 1, 1, 3, 320, 240, 0};
    memcpy(&bytes[0], settings, sizeof settings);
    double fps = 15.0;
    memcpy(&bytes[32], &fps, 8);
    int count = (int)items.size();
    memcpy(&bytes[40], &count, 4);
    for (int k = 0; k < 256; k++) {
        char *record = &bytes[44 + 624 * k];
        int span = 300, fade = 1000;
        double imageTime = 5.0;
        if (k < count) {
            const Item &item = items[k];
            imageTime = item.imageTime;
            LONGLONG start = (LONGLONG)(item.start * 10000000);
            memcpy(record, &start, 8);
            memcpy(record + 24, &item.streams, 4);
            for (int j = 0; j < item.streams; j++) {
                memcpy(record + 32 + 24 * j, &item.types[j], 16);
                memcpy(record + 48 + 24 * j, &item.lengths[j], 8);
            }
            memcpy(record + 80, &item.effect, 4);
            fade = item.fadeStart;
            std::string path = media.dir.dos(item.file);
            memcpy(record + 104, path.c_str(), path.size() + 1);
        }
        memcpy(record + 84, &span, 4);
        memcpy(record + 88, &fade, 4);
        memcpy(record + 96, &imageTime, 8);
    }
    return bytes;
}

// Blue movie with sound at 0 s, red still at 1 s under the first transition, a tone at 2 s fading from
// half its length: 6 s in all.
std::vector<Item> ThreeItems()
{
    return {
        {"blue.avi", 0.0, 2, {MEDIATYPE_Video, MEDIATYPE_Audio}, {3.0, 3.0}, 0, 1000},
        {"red.jpg", 1.0, 1, {MEDIATYPE_Video}, {0.0}, 1, 1000},
        {"tone.wav", 2.0, 1, {MEDIATYPE_Audio}, {4.0}, 0, 500},
    };
}

class SequoraExport : public Sequora {
protected:
    ExportMedia media;

    void OpenProjectFile(int type, const std::vector<Item> &items)
    {
        std::string project = media.dir.file("project.sqp");
        ASSERT_TRUE(drv::writeFile(project, ProjectImage(type, items, media)));
        Start({drv::dosPath(project)});
        ASSERT_EQ(WaitRows(items.size()).size(), items.size());
    }

    // Save as NAME; with a compressor name the selection dialog is answered with it.
    void SaveAs(const std::string &name, const char *compressor)
    {
        drv::command(main, IDM_SAVEAS);
        HWND dialog = drv::waitFileDialog(app.pid());
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(drv::chooseFile(dialog, name));
        if (compressor) {
            HWND choice = drv::waitWindow(app.pid(), "#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択");
            ASSERT_TRUE(choice);
            ASSERT_TRUE(drv::comboSelect(drv::findChild(choice, "ComboBox"), compressor));
            ASSERT_TRUE(drv::click(choice, IDOK));
        }
    }

    // Waits for the export to start and end, as the title shows it. A short export shows its saving title
    // for a few tens of milliseconds only, so the title is asked for back to back until it shows: the
    // program answers a question already waiting before it takes the export's end from its queue.
    void WaitExport()
    {
        bool saving = false;
        for (DWORD start = GetTickCount(); !saving && IsWindow(main) && GetTickCount() - start < 10000;)
            saving = drv::text(main) == "保存中 ・・・";
        EXPECT_TRUE(saving) << "no saving title";
        EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 60000)) << "export did not end";
    }
};

bool Near(const double rgb[3], int r, int g, int b, double tolerance = 40)
{
    return fabs(rgb[0] - r) < tolerance && fabs(rgb[1] - g) < tolerance && fabs(rgb[2] - b) < tolerance;
}

TEST_F(SequoraExport, AviWithoutCompressorHoldsWhatLiesAboveAndTheFade)
{
    OpenProjectFile(0, ThreeItems());
    std::string out = media.dir.file("out.avi");
    SaveAs(drv::dosPath(out), "none");
    WaitExport();

    std::string video = probe::Stream(out, "v:0", "codec_name,width,height,r_frame_rate,pix_fmt");
    EXPECT_EQ(probe::Value(video, "codec_name"), "rawvideo");
    EXPECT_EQ(probe::Value(video, "width"), "320");
    EXPECT_EQ(probe::Value(video, "height"), "240");
    EXPECT_EQ(probe::Value(video, "r_frame_rate"), "15/1");
    EXPECT_EQ(probe::Value(video, "pix_fmt"), "rgb555le");
    EXPECT_NEAR(probe::DecodedFrames(out), 90, 1) << "6 s at 15 fps";
    EXPECT_NEAR(probe::AudioSeconds(out), 6.0, 0.1);

    double rgb[3];
    ASSERT_TRUE(probe::FrameColour(out, 0.5, rgb));
    EXPECT_TRUE(Near(rgb, 0, 0, 255)) << rgb[0] << " " << rgb[1] << " " << rgb[2];
    ASSERT_TRUE(probe::FrameColour(out, 2.7, rgb));  // the still lies above the movie
    EXPECT_TRUE(Near(rgb, 255, 0, 0)) << rgb[0] << " " << rgb[1] << " " << rgb[2];
    ASSERT_TRUE(probe::FrameColour(out, 1.75, rgb));  // half-way through the wipe: part revealed
    EXPECT_GT(rgb[0], 60);
    EXPECT_GT(rgb[2], 60);

    // The tone (at ffmpeg's level of 1/8) fades from 4 s towards the end.
    double full = probe::AudioLevel(out, 3.2, 3.9), late = probe::AudioLevel(out, 5.5, 5.9);
    EXPECT_GT(full, 0.06);
    EXPECT_LT(late, full * 0.4);
    Close();
}

TEST_F(SequoraExport, ChosenCompressorIsInTheFileAndASecondExportStartsAtOnce)
{
    OpenProjectFile(0, ThreeItems());
    std::string first = media.dir.file("mjpeg.avi"), second = media.dir.file("again.avi");
    SaveAs(drv::dosPath(first), "Motion JPEG");
    WaitExport();
    EXPECT_EQ(probe::Value(probe::Stream(first, "v:0", "codec_tag_string"), "codec_tag_string"), "MJPG");
    EXPECT_NEAR(probe::DecodedFrames(first), 90, 1);

    SaveAs(drv::dosPath(second), "Motion JPEG");
    WaitExport();
    EXPECT_NEAR(probe::DecodedFrames(second), 90, 1);

    // The dialog opens on the entry confirmed last; cancelling it writes nothing.
    std::string third = media.dir.file("cancelled.avi");
    drv::command(main, IDM_SAVEAS);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, drv::dosPath(third)));
    HWND choice = drv::waitWindow(app.pid(), "#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択");
    ASSERT_TRUE(choice);
    HWND combo = drv::findChild(choice, "ComboBox");
    EXPECT_EQ(drv::comboItem(combo, drv::comboSelection(combo)), "Motion JPEG");
    EXPECT_EQ(drv::comboItem(combo, 0), "none");
    ASSERT_TRUE(drv::click(choice, IDCANCEL));
    EXPECT_TRUE(drv::waitGone(choice));
    drv::sync(main);
    EXPECT_EQ(drv::text(main), "Sequora");
    EXPECT_FALSE(drv::fileExists(third));
    Close();
}

TEST_F(SequoraExport, AudioOnlyWritesAWavWithoutAskingForACompressor)
{
    OpenProjectFile(1, ThreeItems());
    std::string out = media.dir.file("sound");
    SaveAs(drv::dosPath(out), NULL);
    WaitExport();
    std::string wav = out + ".wav";
    std::string audio = probe::Stream(wav, "a:0", "codec_name,channels,sample_rate");
    EXPECT_EQ(probe::Value(audio, "codec_name"), "pcm_s16le");
    EXPECT_EQ(probe::Value(audio, "channels"), "2");
    EXPECT_EQ(probe::Value(audio, "sample_rate"), "44100");
    EXPECT_NEAR(probe::AudioSeconds(wav), 6.0, 0.05) << "the audio items end at 6 s";
    EXPECT_EQ(probe::DecodedFrames(wav), -1);
    Close();
}

TEST_F(SequoraExport, VideoOnlyWritesNoSound)
{
    OpenProjectFile(2, ThreeItems());
    std::string out = media.dir.file("picture.avi");
    SaveAs(drv::dosPath(out), "none");
    WaitExport();
    EXPECT_NEAR(probe::DecodedFrames(out), 90, 1);
    EXPECT_EQ(probe::AudioSeconds(out), -1.0);
    Close();
}

// No spelling of a timeline's file is taken as the output: other letter case, a link to its folder, a
// hard link, a spelling through "..". The file stays as it was.
TEST_F(SequoraExport, InputPathIsRefusedInEverySpelling)
{
    OpenProjectFile(0, ThreeItems());
    std::string upper = media.dir.dos("blue.avi");
    for (char &c : upper) c = (char)toupper((unsigned char)c);
    ASSERT_EQ(0, system(("ln -sfn . '" + media.dir.file("linked") + "' && ln -f '" + media.dir.file("blue.avi") + "' '"
                         + media.dir.file("hard.avi") + "'").c_str()));
    const std::string before = drv::readFile(media.dir.file("blue.avi"));
    for (const std::string &spelling : {upper, media.dir.dos("linked\\blue.avi"), media.dir.dos("hard.avi"),
                                        media.dir.dos("linked\\..\\blue.avi")}) {
        SCOPED_TRACE(spelling);
        drv::command(main, IDM_SAVEAS);
        HWND dialog = drv::waitFileDialog(app.pid());
        ASSERT_TRUE(dialog);
        drv::chooseFile(dialog, spelling, false);
        // The save dialog asks first whether to replace the existing file.
        drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
        ASSERT_TRUE(box);
        if (box.caption != "Sequora") {
            drv::answer(box.hwnd, IDYES);
            box = drv::waitMessageBox(app.pid());
            ASSERT_TRUE(box);
        }
        EXPECT_EQ(box.text, "読み込みファイルには保存できません");
        EXPECT_EQ(box.caption, "Sequora");
        drv::answer(box.hwnd, IDOK);
        EXPECT_FALSE(drv::waitWindow(app.pid(), "#32770", "ﾋﾞﾃﾞｵｺﾝﾌﾟﾚｯｻの選択", 500));
        EXPECT_EQ(drv::text(main), "Sequora");
        EXPECT_TRUE(drv::readFile(media.dir.file("blue.avi")) == before) << "the movie changed";
    }
    Close();
}

// An export that cannot be made (a movie of the list gone since it was added) says so, writes nothing
// and leaves the editor ready.
TEST_F(SequoraExport, AnExportThatFailsSaysSo)
{
    OpenProjectFile(0, ThreeItems());
    ASSERT_TRUE(MoveFileA(media.dir.dos("blue.avi").c_str(), media.dir.dos("gone.avi").c_str()));
    std::string out = media.dir.file("failed.avi");
    SaveAs(drv::dosPath(out), "none");
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid(), 20000);
    ASSERT_TRUE(box) << "no message";
    EXPECT_EQ(box.caption, "Sequora");
    EXPECT_EQ(box.text, "保存できません");
    drv::answer(box.hwnd, IDOK);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 10000));
    EXPECT_EQ(drv::fileSize(out), -1);
    ASSERT_TRUE(MoveFileA(media.dir.dos("gone.avi").c_str(), media.dir.dos("blue.avi").c_str()));
    Close();
}

TEST_F(SequoraExport, DropDuringExportAsksAndNoKeepsItRunning)
{
    // A long export: the still shown for two minutes.
    std::vector<Item> items = {{"red.jpg", 0.0, 1, {MEDIATYPE_Video}, {0.0}, 0, 1000, 120.0}};
    OpenProjectFile(2, items);
    std::string out = media.dir.file("long.avi");
    SaveAs(drv::dosPath(out), "Motion JPEG");
    ASSERT_TRUE(drv::waitUntil([&] { return drv::text(main) == "保存中 ・・・"; }, 10000));
    drv::dropFiles(main, {media.dir.dos("tone.wav")});
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "保存中ですが中止しますか？");
    EXPECT_EQ(box.caption, "Sequora");
    drv::answer(box.hwnd, IDNO);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 60000));
    EXPECT_EQ(RowWidths(view).size(), 1u) << "the drop was ignored";
    EXPECT_NEAR(probe::DecodedFrames(out), 1800, 1) << "120 s at 15 fps";
    Close();
}

TEST_F(SequoraExport, PreviewShowsFramesInItsWindowAndClosingItEnds)
{
    OpenProjectFile(0, ThreeItems());
    std::vector<HWND> before = drv::topWindows(app.pid());
    drv::command(main, IDM_PREVIEW);
    HWND video = NULL;
    drv::waitUntil([&] {
        for (HWND w : drv::topWindows(app.pid()))
            if (w != main && std::find(before.begin(), before.end(), w) == before.end()) video = w;
        return video != NULL;
    });
    ASSERT_TRUE(video) << drv::describeWindows(app.pid());
    EXPECT_EQ(drv::text(main), "Sequora") << "a preview sets no title";
    // Blue frames of the movie show in the window.
    EXPECT_TRUE(drv::waitUntil([&] {
        ScreenImage image = GrabClient(video);
        if (image.width < 10) return false;
        COLORREF c = image.at(image.width / 2, image.height / 2);
        return GetBValue(c) > 180 && GetRValue(c) < 80;
    }, 5000));
    drv::post(video, WM_CLOSE);
    EXPECT_TRUE(drv::waitGone(video));
    drv::sync(main);
    // The preview is over: a new one starts without a question.
    drv::command(main, IDM_PREVIEW);
    EXPECT_FALSE(drv::findMessageBox(app.pid()));
    Close();
}

// Ten minutes of film show the export's progress rising and the time left beside the "保存中 ・・・" title;
// "中止" ends it at once with no file and the title back; an export run to its end fills the bar.
TEST_F(SequoraExport, ProgressRisesAndStopEndsTheExport)
{
    const char *shared = getenv("SUITE_MEDIA");
    probe::Run("cp '" + std::string(shared ? shared : "/tmp/suite-media") + "/ten.avi' '" + media.dir.file("ten.avi") + "'");
    OpenProjectFile(0, {{"ten.avi", 0.0, 2, {MEDIATYPE_Video, MEDIATYPE_Audio}, {600.0, 600.0}, 0, 1000}});
    std::string out = media.dir.file("stopped.avi");
    SaveAs(drv::dosPath(out), "Motion JPEG");
    JobWatch job = WatchJob(app.pid(), true);
    ASSERT_GE(job.percents.size(), 3u) << "the bar did not move";
    EXPECT_LT(job.percents.back(), 100);
    EXPECT_TRUE(job.stopped) << "the progress window stayed";
    EXPECT_LT(job.stopMs, 500u);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 2000)) << drv::text(main);
    EXPECT_EQ(drv::fileSize(out), -1);
    EXPECT_FALSE(drv::findMessageBox(app.pid()));
    Close();

    OpenProjectFile(0, ThreeItems());
    SaveAs(drv::dosPath(media.dir.file("whole.avi")), "Motion JPEG");
    job = WatchJob(app.pid(), false);
    ASSERT_FALSE(job.percents.empty());
    EXPECT_EQ(job.percents.back(), 100);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main) == "Sequora"; }, 20000));
    EXPECT_EQ(probe::DecodedFrames(media.dir.file("whole.avi")), 90) << "6 s at 15 fps";
    Close();
}

}  // namespace
