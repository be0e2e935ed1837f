// Sequora from the outside: started with files, handed names by a second start, given dropped files and
// the open dialog's choice, and edited with the move and delete commands.
#include <algorithm>
#include <stdio.h>
#include "sequora_app.h"

namespace {

TEST_F(Sequora, StartsWithFilesAndShowsTheirStreamsAndLengths)
{
    Start({Media("movie.avi"), Media("sound.wav"), Media("still.jpg")});
    EXPECT_EQ(WaitRows(3), (std::vector<int>{kMovie, kSound, kStill}));

    // What the bar offers tells the streams: a movie has picture and sound, a sound only sound,
    // a still image one picture of no length and so an image time.
    ClickRow(0);
    EXPECT_TRUE(BandShows("効果："));
    EXPECT_TRUE(BandShows("音量減衰開始時間："));
    EXPECT_FALSE(BandShows("画像表示時間："));
    EXPECT_TRUE(drv::enabled(drv::findChild(bar, "Button", "変更...")));
    EXPECT_TRUE(Selected(ReadRows(view)[0].state));

    ClickRow(1);
    EXPECT_FALSE(BandShows("効果："));
    EXPECT_TRUE(BandShows("音量減衰開始時間："));
    EXPECT_FALSE(BandShows("画像表示時間："));

    ClickRow(2);
    EXPECT_TRUE(BandShows("効果："));
    EXPECT_FALSE(BandShows("音量減衰開始時間："));
    EXPECT_TRUE(BandShows("画像表示時間："));
    EXPECT_EQ(drv::text(drv::findChild(bar, "Edit")), "5.000000");
    Close();
}

TEST_F(Sequora, ComesUpWithOnlyTheZoomBand)
{
    Start();
    EXPECT_TRUE(BandShows("表示倍率："));
    EXPECT_FALSE(BandShows("効果："));
    EXPECT_FALSE(BandShows("画像表示時間："));
    EXPECT_FALSE(BandShows("音量減衰開始時間："));
    EXPECT_FALSE(drv::enabled(drv::findChild(bar, "Button", "変更...")));
    // The effect list starts with its empty "no effect" line and holds the installed transitions.
    std::vector<std::string> effects = drv::comboItems(drv::findChild(bar, "ComboBox"));
    ASSERT_GE(effects.size(), 2u);
    EXPECT_EQ(effects[0], "");
    Close();
}

TEST_F(Sequora, SecondStartHandsItsNamesOverLastFirst)
{
    Start({Media("movie.avi")});
    WaitRows(1);
    drv::Process second(drv::programPath("sequora"), {Media("sound.wav"), Media("long.wav")});
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(WaitRows(3), (std::vector<int>{kMovie, kLongSound, kSound}));
    EXPECT_EQ(drv::topWindows(0, kClass).size(), 1u) << "a second window was opened";
    Close();
}

TEST_F(Sequora, DropAcceptsMediaAndSkipsOtherNamesSilently)
{
    drv::TempDir dir("drop");
    ASSERT_TRUE(CopyFileA(Media("movie.avi").c_str(), dir.dos("CLIP.AVI").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Media("readme.txt").c_str(), dir.dos("readme.txt").c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryA(dir.dos("folder").c_str(), NULL));
    Start();
    ASSERT_TRUE(drv::dropFiles(main, {dir.dos("CLIP.AVI"), dir.dos("readme.txt"), dir.dos("folder")}));
    EXPECT_EQ(WaitRows(1), (std::vector<int>{kMovie}));
    drv::sync(main);
    EXPECT_FALSE(drv::findMessageBox(app.pid()));
    Close();
}

TEST_F(Sequora, DroppingMoreThan256NamesStopsAtTheLimitOnce)
{
    // 300 names, of which 20 among the first 256 are sounds; the sounds after the 256th are never looked at.
    std::vector<std::string> names;
    for (int i = 0; i < 300; i++) {
        char name[64];
        bool sound = i < 256 ? i % 13 == 0 : true;
        snprintf(name, sizeof name, "Z:\\nowhere\\n%03d.%s", i, sound ? "wav" : "txt");
        names.push_back(name);
    }
    Start();
    ASSERT_TRUE(drv::dropFiles(main, names));
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid(), 30000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "ファイル数が制限を越えました");
    EXPECT_EQ(box.caption, "Sequora");
    EXPECT_TRUE(drv::answer(box.hwnd, IDOK));
    // Files that cannot be read still count, as still images of 5 s.
    std::vector<int> widths = WaitRows(20);
    EXPECT_EQ(widths, std::vector<int>(20, kStill));
    drv::sync(main);
    EXPECT_FALSE(drv::findMessageBox(app.pid())) << "the limit message came more than once";
    Close();
}

TEST_F(Sequora, OpenDialogAddsEveryChosenFile)
{
    Start();
    drv::command(main, IDM_OPEN);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFiles(dialog, {Media("sound.wav"), Media("long.wav"), Media("still.bmp")}));
    std::vector<int> widths = WaitRows(3);
    std::sort(widths.begin(), widths.end());
    EXPECT_EQ(widths, (std::vector<int>{kSound, kLongSound, kStill}));

    // Cancelling adds nothing.
    drv::command(main, IDM_OPEN);
    dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(drv::cancelDialog(dialog));
    drv::sync(main);
    EXPECT_EQ(RowWidths(view).size(), 3u);
    Close();
}

TEST_F(Sequora, MovesAndDeleteKeepTheSelectionRules)
{
    Start({Media("sound.wav"), Media("long.wav"), Media("still.jpg")});
    ASSERT_EQ(WaitRows(3), (std::vector<int>{kSound, kLongSound, kStill}));

    ClickRow(1);
    drv::command(main, IDM_MOVEUP);
    EXPECT_EQ(WaitWidths({kLongSound, kSound, kStill}), (std::vector<int>{kLongSound, kSound, kStill}));
    EXPECT_TRUE(Selected(ReadRows(view)[0].state)) << "the selection follows the moved item";

    drv::command(main, IDM_MOVEUP);  // already first: nothing happens
    drv::command(main, IDM_MOVEDOWN);
    drv::command(main, IDM_MOVEDOWN);
    EXPECT_EQ(WaitWidths({kSound, kStill, kLongSound}), (std::vector<int>{kSound, kStill, kLongSound}));
    EXPECT_TRUE(Selected(ReadRows(view)[2].state));

    drv::command(main, IDM_MOVEDOWN);  // already last
    drv::sync(main);
    Sleep(200);
    EXPECT_EQ(RowWidths(view), (std::vector<int>{kSound, kStill, kLongSound}));

    // Deleting the last item leaves no selection; deleting another selects the one that followed.
    drv::command(main, IDM_DELETE);
    EXPECT_EQ(WaitRows(2), (std::vector<int>{kSound, kStill}));
    EXPECT_FALSE(BandShows("効果："));
    ClickRow(0);
    drv::command(main, IDM_DELETE);
    EXPECT_EQ(WaitRows(1), (std::vector<int>{kStill}));
    drv::waitUntil([&] { return ReadRows(view).size() == 1 && Selected(ReadRows(view)[0].state); });
    EXPECT_TRUE(Selected(ReadRows(view)[0].state));
    EXPECT_TRUE(BandShows("画像表示時間："));
    Close();
}

TEST_F(Sequora, UnreadableFilesAndAwkwardPathsStillWork)
{
    drv::TempDir dir("paths");
    // A name whose Shift-JIS second bytes are backslashes.
    std::string japanese = dir.dos("ソ表.wav");
    ASSERT_TRUE(CopyFileA(Media("quiet20.wav").c_str(), japanese.c_str(), FALSE));
    // A path of exactly 259 characters.
    std::string deep = dir.dos();
    while (deep.size() < 259 - 60) {
        deep += "\\" + std::string(50, 'd');
        CreateDirectoryA(deep.c_str(), NULL);
    }
    std::string longPath = deep + "\\" + std::string(259 - deep.size() - 1 - 4, 'f') + ".wav";
    ASSERT_EQ(longPath.size(), 259u);
    ASSERT_TRUE(CopyFileA(Media("sound.wav").c_str(), longPath.c_str(), FALSE));

    // An underscore, which some fonts draw below their cell.
    std::string underscored = dir.dos("quiet_20.wav");
    ASSERT_TRUE(CopyFileA(Media("quiet20.wav").c_str(), underscored.c_str(), FALSE));

    Start({Media("broken.avi"), japanese, longPath, underscored});
    EXPECT_EQ(WaitRows(4), (std::vector<int>{kStill, kQuiet, kSound, kQuiet}));
    // The block shows the file's real name, not what follows a backslash inside a character.
    int h = ViewRowHeight() - 1;
    EXPECT_TRUE(RowShows(view, 1, RenderBlockText("ソ表.wav", kQuiet, h)));
    EXPECT_FALSE(RowShows(view, 1, RenderBlockText(".wav", kQuiet, h)));
    // The whole underscore fits the row.
    EXPECT_TRUE(RowShows(view, 3, RenderBlockText("quiet_20.wav", kQuiet, h)));
    EXPECT_FALSE(RowShows(view, 3, RenderBlockText("quiet 20.wav", kQuiet, h)));
    Close();
}

}  // namespace
