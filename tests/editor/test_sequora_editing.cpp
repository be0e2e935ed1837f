// Editing in Sequora as a user does it: dragging and zooming blocks, the property bar, the settings
// dialog and project files.
#include <stdio.h>
#include <string.h>
#include "sequora_app.h"

namespace {

// A saved project file's bytes.
std::string ProjectBytes(const std::string &path)
{
    return drv::readFile(path);
}

template <typename T> T At(const std::string &bytes, size_t offset)
{
    T value{};
    if (offset + sizeof value <= bytes.size()) memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

const size_t kRecord = 624, kFirstRecord = 44;

TEST_F(Sequora, DraggedBlocksSetStartTimesAndStopAtZero)
{
    drv::TempDir dir("drag");
    Start({Media("sound.wav"), Media("still.jpg")});
    ASSERT_EQ(WaitRows(2), (std::vector<int>{kSound, kStill}));
    DragRow(0, 5, 300);
    DragRow(1, 5, 120);
    DragRow(1, 125, -500);  // far past the left edge
    ASSERT_TRUE(SaveProjectAs(dir.dos("drag.sqp")));
    std::string bytes = ProjectBytes(dir.file("drag.sqp"));
    ASSERT_EQ(bytes.size(), 159788u);
    EXPECT_EQ(At<LONGLONG>(bytes, kFirstRecord + 0), 300000000LL);  // left 300 at zoom 2: 30 s
    EXPECT_EQ(At<int>(bytes, kFirstRecord + 8), 300);
    EXPECT_EQ(At<int>(bytes, kFirstRecord + 16), 300 + kSound);
    EXPECT_EQ(At<LONGLONG>(bytes, kFirstRecord + kRecord), 0LL);
    EXPECT_EQ(At<int>(bytes, kFirstRecord + kRecord + 8), 0);
    Close();
}

TEST_F(Sequora, ZoomScalesBlocksAndHoverRecolours)
{
    Start({Media("long.wav"), Media("still.jpg")});
    ASSERT_EQ(WaitRows(2), (std::vector<int>{kLongSound, kStill}));
    HWND zoom = BandControl("表示倍率：", "msctls_trackbar32");
    ASSERT_TRUE(zoom);
    EXPECT_EQ(drv::trackPos(zoom), 2);
    ASSERT_TRUE(drv::setTrackPos(zoom, 4));
    EXPECT_EQ(WaitWidths({kLongSound / 2, kStill / 2}), (std::vector<int>{kLongSound / 2, kStill / 2}));

    MoveMouse(3, ViewRowHeight() + 3);
    drv::waitUntil([&] { return ReadRows(view)[1].state == HOVERED; });
    EXPECT_EQ(ReadRows(view)[1].state, HOVERED);
    EXPECT_EQ(ReadRows(view)[0].state, PLAIN);
    MoveMouse(300, 3);
    drv::waitUntil([&] { return ReadRows(view)[1].state == PLAIN; });
    EXPECT_EQ(ReadRows(view)[1].state, PLAIN);
    Close();
}

TEST_F(Sequora, ImageTimeTypedInTheBarResizesAStill)
{
    Start({Media("still.bmp"), Media("sound.wav")});
    ASSERT_EQ(WaitRows(2), (std::vector<int>{kStill, kSound}));
    ClickRow(0);
    HWND edit = BandControl("画像表示時間：", "Edit");
    ASSERT_TRUE(edit && drv::visible(edit));
    ASSERT_TRUE(drv::setText(edit, "2.5"));
    EXPECT_EQ(WaitWidths({25, kSound}), (std::vector<int>{25, kSound}));
    drv::setText(edit, "0");
    drv::setText(edit, "abc");
    drv::sync(main);
    Sleep(100);
    EXPECT_EQ(RowWidths(view), (std::vector<int>{25, kSound}));
    Close();
}

TEST_F(Sequora, SettingsDialogEnablesByTypeAndReadsTheFrameRate)
{
    Start();
    auto open = [&]() {
        drv::command(main, IDM_SETTINGS);
        return drv::waitWindow(app.pid(), "#32770", "設定");
    };
    HWND dialog = open();
    ASSERT_TRUE(dialog);
    for (int id : {IDC_CHANNELS, IDC_BITS, IDC_RATE, IDC_WIDTH, IDC_HEIGHT, IDC_DEPTH, IDC_FPS})
        EXPECT_TRUE(drv::enabled(drv::child(dialog, id))) << id;
    EXPECT_EQ(drv::text(dialog, IDC_FPS), "15.000000");
    EXPECT_EQ(drv::text(dialog, IDC_WIDTH), "320");
    ASSERT_TRUE(drv::comboSelect(drv::child(dialog, IDC_TYPE), "ｵｰﾃﾞｨｵ"));
    drv::sync(dialog);
    EXPECT_TRUE(drv::enabled(drv::child(dialog, IDC_CHANNELS)));
    EXPECT_FALSE(drv::enabled(drv::child(dialog, IDC_WIDTH)));
    EXPECT_FALSE(drv::enabled(drv::child(dialog, IDC_DEPTH)));
    EXPECT_TRUE(drv::enabled(drv::child(dialog, IDC_FPS)));
    ASSERT_TRUE(drv::comboSelect(drv::child(dialog, IDC_TYPE), "ﾋﾞﾃﾞｵ"));
    drv::sync(dialog);
    EXPECT_FALSE(drv::enabled(drv::child(dialog, IDC_RATE)));
    EXPECT_TRUE(drv::enabled(drv::child(dialog, IDC_HEIGHT)));

    drv::setText(dialog, IDC_FPS, "29.123456789");
    drv::setText(dialog, IDC_WIDTH, "");
    ASSERT_TRUE(drv::click(dialog, IDOK));
    ASSERT_TRUE(drv::waitGone(dialog));

    dialog = open();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_FPS), "29.123456");
    EXPECT_EQ(drv::text(dialog, IDC_WIDTH), "0");
    EXPECT_EQ(drv::comboSelection(drv::child(dialog, IDC_TYPE)), 2);
    drv::setText(dialog, IDC_FPS, "30");  // no point: the rate stays
    ASSERT_TRUE(drv::click(dialog, IDOK));
    ASSERT_TRUE(drv::waitGone(dialog));

    dialog = open();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_FPS), "29.123456");
    drv::setText(dialog, IDC_FPS, "12.5");
    drv::comboSelect(drv::child(dialog, IDC_TYPE), 0);
    ASSERT_TRUE(drv::click(dialog, IDCANCEL));  // nothing changes
    ASSERT_TRUE(drv::waitGone(dialog));
    dialog = open();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(drv::text(dialog, IDC_FPS), "29.123456");
    EXPECT_EQ(drv::comboSelection(drv::child(dialog, IDC_TYPE)), 2);
    drv::click(dialog, IDCANCEL);
    Close();
}

TEST_F(Sequora, ProjectsSaveOpenAndReportMissingFiles)
{
    drv::TempDir dir("project");
    for (const char *name : {"a.wav", "b.wav"})
        ASSERT_TRUE(CopyFileA(Media("sound.wav").c_str(), dir.dos(name).c_str(), FALSE));
    Start({dir.dos("a.wav"), Media("still.jpg"), dir.dos("b.wav")});
    ASSERT_EQ(WaitRows(3).size(), 3u);

    ASSERT_TRUE(SaveProjectAs(dir.dos("work")));
    EXPECT_EQ(drv::fileSize(dir.file("work.sqp")), 159788);
    ASSERT_TRUE(SaveProjectAs(dir.dos("work.old")));
    EXPECT_EQ(drv::fileSize(dir.file("work.old")), 159788);

    // Opening over a non-empty list asks first; No keeps the list.
    DeleteFileA(dir.dos("a.wav").c_str());
    DeleteFileA(dir.dos("b.wav").c_str());
    drv::command(main, IDM_DELETE);  // nothing selected: nothing happens
    drv::command(main, IDM_OPENPROJECT);
    HWND dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, dir.dos("work.sqp")));
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "編集中のデータを破棄しますか？");
    EXPECT_EQ(box.caption, "Sequora");
    drv::answer(box.hwnd, IDNO);

    drv::command(main, IDM_OPENPROJECT);
    dialog = drv::waitFileDialog(app.pid());
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(drv::chooseFile(dialog, dir.dos("work.sqp")));
    box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    drv::answer(box.hwnd, IDYES);
    box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    EXPECT_EQ(box.caption, "2 個のファイルが見つかりません");
    EXPECT_EQ(box.text, " a.wav\n b.wav\n");
    drv::answer(box.hwnd, IDOK);
    EXPECT_EQ(WaitRows(3), (std::vector<int>{kSound, kStill, kSound})) << "missing items stay in the list";
    Close();
}

TEST_F(Sequora, DamagedProjectLeavesTheListAsItWas)
{
    drv::TempDir dir("damaged");
    std::string bytes(44 + 624 * 2, '\0');
    int count = 3;  // claims more records than the file holds
    memcpy(&bytes[40], &count, 4);
    ASSERT_TRUE(drv::writeFile(dir.file("cut.sqp"), bytes));
    Start({Media("sound.wav")});
    ASSERT_EQ(WaitRows(1), (std::vector<int>{kSound}));
    drv::dropFiles(main, {dir.dos("cut.sqp")});
    drv::MessageBoxInfo box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    EXPECT_EQ(box.text, "編集中のデータを破棄しますか？");
    drv::answer(box.hwnd, IDYES);
    box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box) << "a damaged file is reported";
    EXPECT_EQ(box.caption, "Sequora");
    drv::answer(box.hwnd, IDOK);
    EXPECT_EQ(RowWidths(view), (std::vector<int>{kSound}));
    Close();
}

}  // namespace
