// Morphana's dialog: its state at start, the sorted encoder lists, the two forms, the three ways in for
// the input file, the caption, and the save command's rules before anything is written.
#include <windows.h>
#include <stdlib.h>
#include "morphana_app.h"

namespace {

bool SortedAfterNone(const std::vector<std::string> &items)
{
    if (items.empty() || items[0] != "none") return false;
    for (size_t i = 2; i < items.size(); i++)
        if (lstrcmpiA(items[i - 1].c_str(), items[i].c_str()) > 0) return false;
    return true;
}

int IndexOf(const std::vector<std::string> &items, const std::string &item)
{
    for (size_t i = 0; i < items.size(); i++)
        if (items[i] == item) return (int)i;
    return -1;
}

TEST_F(Morphana, StartsInTheAudioFormWithBothEncoderListsSorted)
{
    Start();
    EXPECT_EQ(Title(), "Morphana");
    EXPECT_TRUE(drv::checked(Control(IDC_AUDIOFORM)));
    EXPECT_FALSE(drv::checked(Control(IDC_AVIFORM)));
    for (int id : {IDC_QUALITYFRAME, IDC_QUALITY, IDC_VIDEOFRAME, IDC_VIDEOENCODER})
        EXPECT_FALSE(drv::enabled(Control(id))) << "video control " << id << " is enabled in the audio form";
    EXPECT_TRUE(drv::enabled(AudioCombo()));
    EXPECT_TRUE(drv::enabled(Control(IDC_SAVE)));
    EXPECT_EQ(drv::trackPos(Control(IDC_QUALITY)), 85);

    std::vector<std::string> audio = drv::comboItems(AudioCombo());
    std::vector<std::string> video = drv::comboItems(VideoCombo());
    EXPECT_TRUE(SortedAfterNone(audio)) << ::testing::PrintToString(audio);
    EXPECT_TRUE(SortedAfterNone(video)) << ::testing::PrintToString(video);
    for (const char *name : {"PCM", "MPEG Layer-3", "WMAudio Encoder DMO"})
        EXPECT_GT(IndexOf(audio, name), 0) << name << " is not offered";
    EXPECT_GT(IndexOf(video, "Motion JPEG"), 0);
    EXPECT_EQ(drv::comboSelection(AudioCombo()), 0);
    // The video list starts on the last "Indeo" name in sorted order, or on "none" without one.
    int indeo = 0;
    for (size_t i = 1; i < video.size(); i++)
        if (video[i].compare(0, 5, "Indeo") == 0) indeo = (int)i;
    EXPECT_EQ(drv::comboSelection(VideoCombo()), indeo);
    Close();
}

TEST_F(Morphana, AviFormEnablesTheVideoControlsAndMovesTheAudioToPcm)
{
    Start();
    std::vector<std::string> audio = drv::comboItems(AudioCombo());
    int pcm = IndexOf(audio, "PCM");
    ASSERT_GT(pcm, 0);
    ASSERT_TRUE(drv::comboSelect(AudioCombo(), "MPEG Layer-3"));

    ASSERT_TRUE(PickForm(true));
    EXPECT_TRUE(drv::checked(Control(IDC_AVIFORM)));
    for (int id : {IDC_QUALITYFRAME, IDC_QUALITY, IDC_VIDEOFRAME, IDC_VIDEOENCODER})
        EXPECT_TRUE(drv::enabled(Control(id))) << "video control " << id << " stays disabled in the AVI form";
    EXPECT_EQ(drv::comboSelection(AudioCombo()), pcm);
    ASSERT_TRUE(drv::comboSelect(VideoCombo(), "Motion JPEG"));
    drv::sync(main);
    ASSERT_TRUE(drv::screenshot(drv::buildDir() + "/morphana-screen.png", main));

    // Back to audio: the video controls go grey and the audio line stays on "PCM".
    ASSERT_TRUE(PickForm(false));
    for (int id : {IDC_QUALITYFRAME, IDC_QUALITY, IDC_VIDEOFRAME, IDC_VIDEOENCODER})
        EXPECT_FALSE(drv::enabled(Control(id)));
    EXPECT_EQ(drv::comboSelection(AudioCombo()), pcm);
    EXPECT_EQ(drv::comboItem(VideoCombo(), drv::comboSelection(VideoCombo())), "Motion JPEG");
    Close();
}

TEST_F(Morphana, TakesTheInputFromArgumentDropAndOpenDialog)
{
    drv::TempDir dir("morphin");
    // A folder and a name whose characters end in the byte of the backslash.
    std::string folder = dir.file("表示");
    ASSERT_TRUE(CreateDirectoryA(drv::dosPath(folder).c_str(), NULL));
    std::string tricky = folder + "/能力表.wav";
    ASSERT_TRUE(CopyFileA(Media("sound.wav").c_str(), drv::dosPath(tricky).c_str(), FALSE));

    Start({Media("movie.avi")});
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == Caption("movie.avi"); })) << Title();

    // Of several dropped files only the first counts, whatever it is.
    ASSERT_TRUE(drv::dropFiles(main, {drv::dosPath(tricky), Media("long.wav")}));
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == Caption("能力表.wav"); })) << Title();
    ASSERT_TRUE(drv::dropFiles(main, {Media("readme.txt")}, {20, 20}, false));
    EXPECT_TRUE(drv::waitUntil([&] { return Title() == Caption("readme.txt"); })) << Title();

    Open(MediaFile("long.wav"));
    // Cancelling the open dialog keeps the file.
    drv::command(main, IDM_OPEN);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::cancelDialog(dialog));
    drv::sync(main);
    EXPECT_EQ(Title(), Caption("long.wav"));
    Close();

    // An argument without a folder is the whole file-name part.
    drv::Process second(drv::programPath("morphana"), {"talk.wmv"});
    ASSERT_TRUE(second.ok());
    HWND other = second.window(kDialogClass, "*Morphana*");
    ASSERT_TRUE(other);
    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(other) == Caption("talk.wmv"); })) << drv::text(other);
    drv::command(other, IDM_EXIT);
    EXPECT_EQ(second.exitCode(), 0);
}

TEST_F(Morphana, SaveWithoutInputAsksNothing)
{
    Start();
    ASSERT_TRUE(drv::click(main, IDC_SAVE));
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "ファイルがありません");
    EXPECT_EQ(box.caption, "Morphana");
    EXPECT_TRUE(drv::answer(box.hwnd, IDOK));
    EXPECT_FALSE(drv::findFileDialog(app.pid())) << "a save dialog came without an input file";
    EXPECT_EQ(Title(), "Morphana");
    Close();
}

TEST_F(Morphana, SaveDialogOffersTheTypeOfTheChosenOutput)
{
    struct Case {
        bool avi;
        const char *audio;
        std::vector<std::string> types;
    };
    const std::vector<Case> cases = {
        {false, "PCM", {"ｳｪｰﾌﾞﾌｧｲﾙ (*.wav)", "ﾌｧｲﾙ (*.*)"}},
        {false, "MPEG Layer-3", {"MPEG Layer-3 ﾌｧｲﾙ (*.mp3)", "ﾌｧｲﾙ (*.*)"}},
        {false, "WMAudio Encoder DMO", {"ｳｨﾝﾄﾞｳｽﾞ ｵｰﾃﾞｨｵ ﾌｧｲﾙ (*.wma)", "ﾌｧｲﾙ (*.*)"}},
        {false, "none", {"ﾌｧｲﾙ (*.*)"}},
        {false, "IMA ADPCM", {"ﾌｧｲﾙ (*.*)"}},
        {true, "MPEG Layer-3", {"AVIﾌｧｲﾙ (*.avi)", "ﾌｧｲﾙ (*.*)"}},
        {true, "none", {"AVIﾌｧｲﾙ (*.avi)", "ﾌｧｲﾙ (*.*)"}},
    };
    Start({Media("movie.avi")});
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.avi ? "AVI, " : "audio, ") + c.audio);
        Choose(c.avi, c.audio);
        HWND dialog = PressSave();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(drv::comboItems(drv::child(dialog, kFileTypeCombo)), c.types);
        ASSERT_TRUE(drv::cancelDialog(dialog));
        drv::sync(main);
    }
    // Cancelling wrote nothing and left the dialog idle.
    EXPECT_EQ(Title(), Caption("movie.avi"));
    EXPECT_TRUE(drv::enabled(Control(IDC_SAVE)));
    Close();
}

TEST_F(Morphana, NeverWritesOverTheInput)
{
    const std::vector<std::string> refused = {"読み込みファイルには保存できません"};
    drv::TempDir dir("morphsame");
    std::string clip = dir.file("Clip.avi"), tone = dir.file("Tone.wav");
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), drv::dosPath(clip).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Media("sound.wav").c_str(), drv::dosPath(tone).c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(drv::dosPath(dir.file("sub")).c_str(), NULL));
    std::string clipBytes = drv::readFile(clip), toneBytes = drv::readFile(tone);

    Start();
    Open(clip);
    Choose(true, "PCM", "Motion JPEG");
    EXPECT_EQ(SaveOver(dir.file("CLIP.AVI")), refused) << "the same name in other letters";
    EXPECT_EQ(SaveOver(dir.file("clip")), refused) << "the name that the extension completes";
    EXPECT_EQ(SaveOver(dir.dos("sub") + "\\..\\Clip.avi"), refused) << "another way to the file";
    ASSERT_EQ(0, system(("ln -sfn . '" + dir.file("linked") + "' && ln -f '" + clip + "' '" + dir.file("hard.avi") + "'")
                            .c_str()));
    EXPECT_EQ(SaveOver(dir.dos("linked") + "\\Clip.avi"), refused) << "a link to the folder";
    EXPECT_EQ(SaveOver(dir.file("hard.avi")), refused) << "a hard link";
    EXPECT_TRUE(Idle());
    EXPECT_EQ(drv::readFile(clip), clipBytes) << "the input was changed";

    Open(tone);
    Choose(false, "PCM");
    EXPECT_EQ(SaveOver(dir.file("tone")), refused);
    EXPECT_EQ(drv::readFile(tone), toneBytes) << "the input was changed";
    EXPECT_EQ(Title(), Caption("Tone.wav"));
    Close();
}

TEST_F(Morphana, CompletesOnlyNamesWithoutADot)
{
    drv::TempDir dir("morphext");
    // An input without an extension and an output of the same name: the extension makes them differ.
    std::string bare = dir.file("clip");
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), drv::dosPath(bare).c_str(), FALSE));
    std::string bareBytes = drv::readFile(bare);
    std::string dotted = dir.file("my.files");
    ASSERT_TRUE(CreateDirectoryA(drv::dosPath(dotted).c_str(), NULL));

    Start();
    Open(bare);
    Choose(true, "PCM", "Motion JPEG");
    EXPECT_EQ(SaveOver(bare), std::vector<std::string>{});
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(drv::readFile(bare), bareBytes);
    EXPECT_EQ(probe::DecodedFrames(bare + ".avi"), 45);

    // A dot in a folder name counts: the file is written under the name as typed.
    Choose(false, "PCM");
    EXPECT_EQ(SaveOver(dotted + "/out"), std::vector<std::string>{});
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(drv::readFile(dotted + "/out").substr(0, 4), "RIFF");
    EXPECT_FALSE(drv::fileExists(dotted + "/out.wav"));

    // A name with its own extension keeps it, whatever the encoder writes.
    Choose(false, "MPEG Layer-3");
    EXPECT_EQ(SaveOver(dir.file("sound.bin")), std::vector<std::string>{});
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(probe::Value(probe::Stream(dir.file("sound.bin"), "a:0", "codec_name"), "codec_name"), "mp3");
    Close();
}

}  // namespace
