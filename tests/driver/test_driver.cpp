// The UI driver against its own test window (drvtarget): every driver call is checked on what the
// window shows and on what the program reports it received.
#include <windows.h>
#include <commctrl.h>

#include "gtest_win.h"

#include "driver.h"
#include "drvtarget.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class Driver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 932u) << "run with LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8";
        program = drv::programPath("drvtarget");
        ASSERT_FALSE(program.empty()) << "drvtarget.exe not under " << drv::buildDir();
        ASSERT_FALSE(dir.path().empty());
        report = dir.file("report.txt");
    }

    void TearDown() override { drv::killAll(); }

    // Starts the window with a report file; MAIN is its main window.
    void launch(std::vector<std::string> args = {}, const drv::LaunchOptions &options = drv::LaunchOptions())
    {
        args.insert(args.begin(), {"/report", drv::dosPath(report)});
        ASSERT_TRUE(app.start(program, args, options)) << app.error();
        main = app.window("DrvTargetWnd");
        ASSERT_TRUE(main) << drv::describeWindows(app.pid());
    }

    // True once the report has line LINE.
    ::testing::AssertionResult reported(const std::string &line, DWORD ms = drv::kWait)
    {
        if (drv::waitUntil([&] {
                for (const auto &l : drv::readLines(report))
                    if (l == line) return true;
                return false;
            }, ms))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no line \"" << line << "\" in the report:\n"
                                             << drv::readFile(report) << "windows:\n"
                                             << drv::describeWindows(app.pid());
    }

    std::string program, report;
    drv::TempDir dir{"drv"};
    drv::Process app;
    HWND main = NULL;
};

TEST_F(Driver, PathsConvertBothWays)
{
    std::string upath = dir.file("表ソ 能.txt");
    std::string dos = drv::dosPath(upath);
    std::string folder = drv::dosPath(dir.path());
    EXPECT_EQ(folder.substr(0, 7), "Z:\\tmp\\");
    EXPECT_EQ(dos, folder + "\\表ソ 能.txt");
    EXPECT_EQ(dir.dos("表ソ 能.txt"), dos);
    EXPECT_EQ(drv::unixPath(dos), upath);
    EXPECT_EQ(drv::dosPath(dos), dos);
    EXPECT_EQ(drv::unixPath(upath), upath);

    EXPECT_FALSE(drv::fileExists(upath));
    EXPECT_EQ(drv::fileSize(upath), -1);
    ASSERT_TRUE(drv::writeFile(upath, "一行目\r\n2\n")) << "no Japanese file names: is the ja_JP.UTF-8 locale there?";
    EXPECT_TRUE(drv::fileExists(dos));
    EXPECT_EQ(drv::fileSize(dos), 10);
    EXPECT_EQ(drv::readLines(dos), (std::vector<std::string>{"一行目", "2"}));
    EXPECT_TRUE(drv::programPath("no-such-program").empty());
}

// Which file programPath gives for each layout of a program folder: the Winelib launcher beside its
// module, the module alone, a Windows executable (a PE file); a launcher without its module is none.
TEST_F(Driver, ProgramPathTakesWinelibProgramsAndWindowsExecutables)
{
    struct Case {
        const char *name;
        std::vector<std::pair<std::string, std::string>> files;   // path inside the folder, contents
        std::string expected;                                      // path inside the folder, "" for none
    };
    const std::string pe("MZ\x90\0", 4), script = "#!/bin/sh\n";
    const std::vector<Case> cases = {
        {"launched", {{"launched/launched.exe.so", "\x7f" "ELF"}, {"launched/launched.exe", script}},
         "launched/launched.exe"},
        {"module", {{"module/module.exe.so", "\x7f" "ELF"}}, "module/module.exe.so"},
        {"native", {{"native/native.exe", pe}}, "native/native.exe"},
        {"deeper", {{"one/two/deeper.exe", pe}}, "one/two/deeper.exe"},
        {"scriptonly", {{"scriptonly/scriptonly.exe", script}}, ""},
        {"empty", {{"empty/empty.exe", ""}}, ""},
        {"missing", {}, ""},
    };
    for (const auto &c : cases) {
        for (const auto &f : c.files) {
            std::string path = dir.file(f.first);
            for (size_t slash = path.find('/', dir.path().size() + 1); slash != std::string::npos;
                 slash = path.find('/', slash + 1))
                CreateDirectoryA(drv::dosPath(path.substr(0, slash)).c_str(), NULL);
            ASSERT_TRUE(drv::writeFile(path, f.second)) << path;
        }
    }
    ASSERT_TRUE(SetEnvironmentVariableA("SUITE_PROGRAMS_DIR", dir.path().c_str()));
    for (const auto &c : cases)
        EXPECT_EQ(drv::programPath(c.name), c.expected.empty() ? "" : dir.file(c.expected)) << c.name;
    EXPECT_TRUE(drv::programPath("drvtarget").empty()) << "the build folder is not searched then";
    SetEnvironmentVariableA("SUITE_PROGRAMS_DIR", NULL);
    EXPECT_EQ(drv::programPath("drvtarget"), program);
}

TEST_F(Driver, StartsWithArgumentsAndEndsWithExitCode)
{
    drv::LaunchOptions options;
    options.cwd = dir.path();
    options.env = {"DRV_TARGET_NOTE=表示 ソース"};
    DWORD t0 = GetTickCount();
    launch({"/exit", "23", "ソース 表", "能力", "a\"b"}, options);
    printf("[ MEASURE  ] start to main window: %lu ms\n", GetTickCount() - t0);

    EXPECT_EQ(drv::text(main), "ドライバ試験 - ソース 表|能力|a\"b");
    EXPECT_EQ(drv::text(main, ID_EDIT), "ソース 表|能力|a\"b");
    EXPECT_TRUE(reported("cwd: " + drv::dosPath(dir.path())));
    EXPECT_TRUE(reported("note: 表示 ソース"));
    EXPECT_EQ(drv::findWindow(app.pid(), "DrvTargetWnd", "ドライバ試験 - *"), main);
    EXPECT_EQ(drv::findWindow(app.pid(), NULL, "*能力*"), main);
    EXPECT_EQ(drv::findWindow(app.pid(), "DrvTargetWnd", "ドライバ試験"), (HWND)NULL);
    EXPECT_EQ(drv::findWindow(app.pid() + 4, "DrvTargetWnd"), (HWND)NULL);

    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.exitCode(100), -1);
    ASSERT_TRUE(drv::command(main, IDM_EXIT));
    EXPECT_TRUE(drv::waitGone(main));
    EXPECT_EQ(app.exitCode(), 23);
    EXPECT_FALSE(app.running());

    drv::Process missing(dir.file("nothing.exe"));
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error(), "");
}

TEST_F(Driver, ReadsAndWorksControls)
{
    launch({"ソ"});
    HWND edit = drv::child(main, ID_EDIT), combo = drv::child(main, ID_COMBO);
    HWND track = drv::child(main, ID_TRACK), list = drv::child(main, ID_LIST);
    ASSERT_TRUE(edit && combo && track && list);

    EXPECT_EQ(drv::className(edit), "Edit");
    EXPECT_EQ(drv::findChild(main, "Button", "無効"), drv::child(main, ID_DISABLED));
    EXPECT_EQ(drv::findChild(main, NULL, "質*"), drv::child(main, ID_ASK));
    EXPECT_TRUE(drv::setText(edit, "表示能力ソ"));
    EXPECT_EQ(drv::text(edit), "表示能力ソ");
    EXPECT_TRUE(drv::enabled(drv::child(main, ID_ASK)));
    EXPECT_FALSE(drv::enabled(drv::child(main, ID_DISABLED)));
    EXPECT_TRUE(drv::visible(drv::child(main, ID_ASK)));
    EXPECT_FALSE(drv::visible(drv::child(main, ID_HIDDEN)));
    EXPECT_EQ(drv::text(main, ID_HIDDEN), "隠れた");
    EXPECT_FALSE(drv::click(main, ID_DISABLED));
    EXPECT_FALSE(drv::click(main, ID_HIDDEN + 50));

    EXPECT_EQ(drv::comboItems(combo), (std::vector<std::string>{"表示", "ソース", "能力", "MPEG Layer-3"}));
    EXPECT_EQ(drv::comboSelection(combo), 1);
    ASSERT_TRUE(drv::comboSelect(combo, "能力"));
    EXPECT_EQ(drv::comboSelection(combo), 2);
    EXPECT_TRUE(reported("combo: 能力"));
    ASSERT_TRUE(drv::comboSelect(combo, 3));
    EXPECT_TRUE(reported("combo: MPEG Layer-3"));
    EXPECT_FALSE(drv::comboSelect(combo, 4));
    EXPECT_FALSE(drv::comboSelect(combo, "なし"));
    EXPECT_EQ(drv::comboSelection(combo), 3);

    EXPECT_EQ(drv::trackPos(track), 25);
    ASSERT_TRUE(drv::setTrackPos(track, 60));
    EXPECT_EQ(drv::trackPos(track), 60);
    EXPECT_TRUE(reported("track: 60"));
    ASSERT_TRUE(drv::setTrackPos(track, 250));   // clamped to the range, as a drag would be
    EXPECT_TRUE(reported("track: 100"));

    EXPECT_TRUE(drv::waitUntil([&] { return drv::text(main, ID_STATUS) == "track: 100"; }));
    std::vector<std::string> items = drv::listItems(list);
    ASSERT_GE(items.size(), 3u);
    EXPECT_EQ(items[1], "combo: 能力");
    EXPECT_EQ(drv::listCount(list), (int)items.size());
    EXPECT_EQ(drv::listSelection(list), -1);
    EXPECT_FALSE(drv::checked(drv::child(main, ID_ASK)));

    // sync() comes back only after the commands posted before it have run, also when the window is
    // busy with the first while the second waits in its queue.
    ASSERT_TRUE(drv::command(main, IDM_BUSY));
    ASSERT_TRUE(drv::command(main, IDM_BUSY));
    ASSERT_TRUE(drv::sync(main));
    std::vector<std::string> lines = drv::readLines(report);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "busy: done"), 2);
}

TEST_F(Driver, AnswersMessageBoxes)
{
    launch();
    ASSERT_TRUE(drv::setText(main, ID_EDIT, "上書きしますか? ソ表"));
    EXPECT_EQ(drv::findMessageBox(app.pid()), (HWND)NULL);

    ASSERT_TRUE(drv::command(main, IDM_ASK));
    drv::MessageBoxInfo box = app.messageBox();
    ASSERT_TRUE(box) << drv::describeWindows(app.pid());
    EXPECT_EQ(box.caption, "確認ソ表");
    EXPECT_EQ(box.text, "上書きしますか? ソ表");
    EXPECT_EQ(drv::messageText(box.hwnd), box.text);
    EXPECT_EQ(drv::findFileDialog(app.pid()), (HWND)NULL);
    EXPECT_FALSE(drv::answer(box.hwnd, IDOK, 300));   // a yes/no/cancel box has no OK button
    ASSERT_TRUE(drv::answer(box.hwnd, IDNO));
    EXPECT_TRUE(reported("answer: 7"));

    ASSERT_TRUE(drv::click(main, ID_ASK));
    box = drv::waitMessageBox(app.pid());
    ASSERT_TRUE(box);
    ASSERT_TRUE(drv::answer(box.hwnd, IDYES));
    EXPECT_TRUE(reported("answer: 6"));

    ASSERT_TRUE(drv::command(main, IDM_ASK));
    box = app.messageBox();
    ASSERT_TRUE(box);
    ASSERT_TRUE(drv::answer(box.hwnd, IDCANCEL));
    EXPECT_TRUE(reported("answer: 2"));
    EXPECT_FALSE(app.messageBox(200));
}

TEST_F(Driver, FillsOpenDialog)
{
    std::vector<std::string> files = {dir.file("a.avi"), dir.file("b.wav"), dir.file("表ソ.wav")};
    for (const auto &f : files) ASSERT_TRUE(drv::writeFile(f, "x"));
    launch();

    ASSERT_TRUE(drv::command(main, IDM_OPEN));
    HWND dlg = app.fileDialog();
    ASSERT_TRUE(dlg) << drv::describeWindows(app.pid());
    EXPECT_EQ(drv::text(dlg), "ファイルを開く");
    EXPECT_EQ(drv::findMessageBox(app.pid()), (HWND)NULL);
    ASSERT_TRUE(drv::chooseFile(dlg, files[2]));
    EXPECT_TRUE(reported("open: " + drv::dosPath(files[2])));

    ASSERT_TRUE(drv::command(main, IDM_OPEN));
    dlg = app.fileDialog();
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(drv::chooseFiles(dlg, files));
    EXPECT_TRUE(reported("open: " + dir.dos() + "|a.avi|b.wav|表ソ.wav"));

    ASSERT_TRUE(drv::command(main, IDM_OPEN));
    dlg = app.fileDialog();
    ASSERT_TRUE(dlg);
    EXPECT_FALSE(drv::chooseFiles(dlg, {files[0], "/tmp/elsewhere.wav"}));   // one folder only
    ASSERT_TRUE(drv::cancelDialog(dlg));
    EXPECT_TRUE(reported("open: cancel 0"));
}

TEST_F(Driver, FillsSaveDialog)
{
    std::string out = dir.file("出力ソ表.wav");
    launch();

    ASSERT_TRUE(drv::command(main, IDM_SAVE));
    HWND dlg = app.fileDialog();
    ASSERT_TRUE(dlg) << drv::describeWindows(app.pid());
    EXPECT_EQ(drv::text(dlg), "名前を付けて保存");
    ASSERT_TRUE(drv::chooseFile(dlg, out));
    EXPECT_TRUE(reported("save: " + drv::dosPath(out)));
    EXPECT_TRUE(drv::waitUntil([&] { return drv::fileSize(out) == 4; }));

    // Again onto the same file: the dialog asks before it overwrites.
    ASSERT_TRUE(drv::command(main, IDM_SAVE));
    dlg = app.fileDialog();
    ASSERT_TRUE(dlg);
    EXPECT_FALSE(drv::chooseFile(dlg, out, true, 500));
    drv::MessageBoxInfo box = app.messageBox();
    ASSERT_TRUE(box) << drv::describeWindows(app.pid());
    EXPECT_NE(box.text, "");
    EXPECT_EQ(GetWindow(box.hwnd, GW_OWNER), dlg);
    ASSERT_TRUE(drv::answer(box.hwnd, IDYES));
    EXPECT_TRUE(drv::waitGone(dlg));
    EXPECT_EQ(drv::readLines(report).back(), "save: " + drv::dosPath(out));

    ASSERT_TRUE(drv::command(main, IDM_SAVE));
    dlg = app.fileDialog();
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(drv::cancelDialog(dlg));
    EXPECT_TRUE(reported("save: cancel"));
}

TEST_F(Driver, DropsFiles)
{
    // Unix paths in, DOS paths out, Japanese names (0x5C second bytes) intact, in the order given.
    launch();
    ASSERT_TRUE(drv::dropFiles(main, {dir.file("one.avi"), dir.file("ソース表.wav"), dir.file("space name.jpg")},
                               {30, 40}));
    EXPECT_TRUE(reported("drop: 3|" + dir.dos("one.avi") + "|" + dir.dos("ソース表.wav") + "|" +
                         dir.dos("space name.jpg")));
    EXPECT_TRUE(reported("drop-point: 30,40"));

    // ANSI names, given as DOS paths.
    ASSERT_TRUE(drv::dropFiles(main, {dir.dos("能力.avi"), "C:\\windows\\win.ini"}, {5, 6}, false));
    EXPECT_TRUE(reported("drop: 2|" + dir.dos("能力.avi") + "|C:\\windows\\win.ini"));
    EXPECT_TRUE(reported("drop-point: 5,6"));
    EXPECT_TRUE(app.running());
    EXPECT_FALSE(drv::dropFiles(main, {}));
}

// Reads the colour at (X, Y) of a 24-bit bottom-up BMP.
COLORREF bmpPixel(const std::string &bmp, int x, int y)
{
    int w = *reinterpret_cast<const int *>(&bmp[18]), h = *reinterpret_cast<const int *>(&bmp[22]);
    int stride = (w * 3 + 3) & ~3;
    size_t at = 54 + (size_t)(h - 1 - y) * stride + x * 3;
    if (at + 3 > bmp.size()) return CLR_INVALID;
    return RGB((BYTE)bmp[at + 2], (BYTE)bmp[at + 1], (BYTE)bmp[at]);
}

TEST_F(Driver, TakesScreenshots)
{
    launch();
    ASSERT_TRUE(drv::sync(main));
    std::string png = dir.file("screen.png"), bmp = dir.file("window.bmp");
    ASSERT_TRUE(drv::screenshot(png));
    std::string data = drv::readFile(png);
    ASSERT_GT(data.size(), 1000u);
    EXPECT_EQ(data.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(data.substr(12, 4), "IHDR");
    EXPECT_EQ(data.substr(data.size() - 8, 4), "IEND");
    EXPECT_EQ((BYTE)data[18] << 8 | (BYTE)data[19], GetSystemMetrics(SM_CXVIRTUALSCREEN));

    ASSERT_TRUE(drv::screenshot(bmp, main));
    data = drv::readFile(bmp);
    RECT r;
    GetWindowRect(main, &r);
    ASSERT_GT(data.size(), 54u);
    EXPECT_EQ(data.substr(0, 2), "BM");
    EXPECT_EQ(*reinterpret_cast<const int *>(&data[18]), r.right - r.left);
    EXPECT_EQ(*reinterpret_cast<const int *>(&data[22]), r.bottom - r.top);
    // The window's face and the list box inside it are both where they are on the screen.
    RECT c;
    GetClientRect(main, &c);
    POINT face = {c.right - 4, c.bottom - 4};
    ClientToScreen(main, &face);
    EXPECT_EQ(bmpPixel(data, face.x - r.left, face.y - r.top), GetSysColor(COLOR_BTNFACE));
    RECT lr;
    GetWindowRect(drv::child(main, ID_LIST), &lr);
    EXPECT_EQ(bmpPixel(data, lr.right - 30 - r.left, lr.bottom - 10 - r.top), GetSysColor(COLOR_WINDOW));
    EXPECT_NE(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_BTNFACE));
}

TEST_F(Driver, EndsWhatItStarted)
{
    HANDLE watch = NULL, watch2 = NULL;
    {
        drv::Process hung;
        ASSERT_TRUE(hung.start(program));
        HWND wnd = hung.window("DrvTargetWnd");
        ASSERT_TRUE(wnd);
        ASSERT_TRUE(drv::command(wnd, IDM_HANG));
        EXPECT_FALSE(drv::sync(wnd, 500));
        watch = OpenProcess(SYNCHRONIZE, FALSE, hung.pid());
        ASSERT_TRUE(watch);
        EXPECT_EQ(WaitForSingleObject(watch, 0), (DWORD)WAIT_TIMEOUT);
    }
    EXPECT_EQ(WaitForSingleObject(watch, 3000), (DWORD)WAIT_OBJECT_0) << "still running after its Process ended";
    CloseHandle(watch);

    // A process whose owner forgot it: killAll() ends it.
    drv::Process *lost = new drv::Process(program);
    ASSERT_TRUE(lost->ok());
    ASSERT_TRUE(lost->window("DrvTargetWnd"));
    watch2 = OpenProcess(SYNCHRONIZE, FALSE, lost->pid());
    drv::killAll();
    EXPECT_EQ(WaitForSingleObject(watch2, 3000), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(lost->exitCode(0), 1);
    CloseHandle(watch2);
    delete lost;

    drv::Process ended(program);
    ASSERT_TRUE(ended.window("DrvTargetWnd"));
    ended.kill();
    EXPECT_FALSE(ended.running());
    EXPECT_EQ(ended.exitCode(0), 1);

    // One that crashes ends by itself, with the exception as its exit code.
    drv::Process crashing(program);
    HWND victim = crashing.window("DrvTargetWnd");
    ASSERT_TRUE(victim);
    ASSERT_TRUE(drv::command(victim, IDM_CRASH));
    EXPECT_EQ(crashing.exitCode(5000), 0xC0000005LL) << drv::describeWindows(0);

    // One that ends on its own keeps its exit code.
    drv::Process done(program, {"/exit", "5"});
    HWND wnd = done.window("DrvTargetWnd");
    ASSERT_TRUE(wnd);
    drv::command(wnd, IDM_EXIT);
    EXPECT_EQ(done.exitCode(), 5);
    done.kill();
    EXPECT_EQ(done.exitCode(0), 5);   // nothing to end: the code stays the program's own
}

}  // namespace
