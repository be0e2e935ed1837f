// UI driver for end-to-end tests: starts the suite's programs inside Wine, finds their windows,
// sends them the user's commands, answers their message boxes and file dialogs, drops files on them
// and takes screenshots.
//
// Every text is CP932, as the programs see it, Unix paths included. Paths may be given as Unix paths
// ("/tmp/a.wav") or DOS paths ("Z:\\tmp\\a.wav"); the driver converts. Every wait has a timeout in milliseconds and returns
// a null window or false when it runs out, so a test fails instead of hanging.
//
//   drv::TempDir dir;
//   drv::Process app(drv::programPath("drvtarget"), {"/report", dir.dos("log.txt")});
//   ASSERT_TRUE(app.ok()) << app.error();
//   HWND main = app.window("DrvTargetWnd");
//   drv::command(main, IDM_OPEN);                       // posted: the dialog does not block us
//   ASSERT_TRUE(drv::chooseFile(app.fileDialog(), dir.file("a.avi")));
//   drv::MessageBoxInfo box = app.messageBox();
//   EXPECT_EQ(box.text, "上書きしますか?");
//   drv::answer(box.hwnd, IDYES);
//   drv::command(main, IDM_EXIT);
//   EXPECT_EQ(app.exitCode(), 0);
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace drv {

const DWORD kWait = 10000;

// ---- paths and files -------------------------------------------------------------------------

// The build folder (Unix path): SUITE_BUILD_DIR from the environment, else the folder this was built in.
std::string buildDir();
// Unix path of program NAME.exe in the build folder (NAME/, tests/NAME/, any folder one or two levels
// down): the Winelib launcher (or module), or a Windows executable. When SUITE_PROGRAMS_DIR is set, the
// programs are looked for in that folder instead (the Windows build's). Empty when there is none.
std::string programPath(const std::string &name);
// "Z:\\tmp\\a.wav" for "/tmp/a.wav" (CP932); a DOS path comes back unchanged. Empty on failure.
std::string dosPath(const std::string &path);
// "/tmp/a.wav" for "Z:\\tmp\\a.wav"; a Unix path comes back unchanged. Empty on failure.
std::string unixPath(const std::string &path);
bool fileExists(const std::string &path);
// Size in bytes, -1 when the file is missing.
long long fileSize(const std::string &path);
std::string readFile(const std::string &path);
bool writeFile(const std::string &path, const std::string &data);
// Lines of a text file, without line ends.
std::vector<std::string> readLines(const std::string &path);

// A fresh folder under /tmp for one test, removed with its contents at the end of the scope (kept
// when SUITE_KEEP_TMP is set in the environment).
class TempDir {
public:
    explicit TempDir(const std::string &tag = "test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }   // Unix path
    std::string dos() const;                           // DOS path of the folder
    std::string file(const std::string &name) const;   // Unix path of NAME inside
    std::string dos(const std::string &name) const;    // DOS path of NAME inside
private:
    std::string path_;
};

// ---- processes -------------------------------------------------------------------------------

// A message box found on the screen: its window, caption and message text.
struct MessageBoxInfo {
    HWND hwnd = NULL;
    std::string caption, text;
    explicit operator bool() const { return hwnd != NULL; }
};

struct LaunchOptions {
    std::string cwd;                  // working folder (Unix or DOS); default: the test's
    std::vector<std::string> env;     // "NAME=value" entries added to the test's environment
};

// A program started for a test. The destructor ends it if it still runs; every process started
// through the driver is also in a job object that Wine ends when the test process goes away.
// A program that crashes ends at once with the exception code as exit code (0xC0000005 ...) and a
// backtrace on stderr: the driver turns Wine's crash dialog off in the prefix.
class Process {
public:
    Process() = default;
    // Starts at once; check ok() / error().
    Process(const std::string &program, const std::vector<std::string> &args = {},
            const LaunchOptions &options = LaunchOptions());
    ~Process();
    Process(Process &&other) noexcept;
    Process &operator=(Process &&other) noexcept;
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // PROGRAM is the Unix or DOS path of NAME.exe (the launcher the Winelib build makes, or a Windows
    // executable) or of NAME.exe.so.
    // ARGS are CP932 words, quoted as needed. False when the process could not be made.
    bool start(const std::string &program, const std::vector<std::string> &args = {},
               const LaunchOptions &options = LaunchOptions());
    bool ok() const { return process_ != NULL; }   // started (it may have ended since)
    const std::string &error() const { return error_; }
    const std::string &commandLine() const { return command_line_; }
    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_; }

    bool running() const;
    // True once the process has ended (waits at most MS).
    bool wait(DWORD ms = kWait);
    // The exit code, or -1 when it still runs after MS.
    long long exitCode(DWORD ms = kWait);
    // Ends the process (exit code 1) if it still runs and waits for it; exitCode() stays readable.
    void kill();

    // A visible top-level window of this process; CLS and TITLE may be NULL for "any".
    HWND window(const char *cls, const char *title = NULL, DWORD ms = kWait) const;
    // A message box of this process (hwnd NULL when none came within MS); an open or save dialog.
    MessageBoxInfo messageBox(DWORD ms = kWait) const;
    HWND fileDialog(DWORD ms = kWait) const;

private:
    void close();
    HANDLE process_ = NULL;
    DWORD pid_ = 0;
    std::string error_, command_line_;
};

// Ends every process the driver started (the job object's members included).
void killAll();

// ---- windows ---------------------------------------------------------------------------------

// Polls COND every few milliseconds until it is true or MS have passed.
bool waitUntil(const std::function<bool()> &cond, DWORD ms = kWait);

// Visible top-level windows of process PID (0: of any process) with class CLS and title TITLE (NULL:
// any; '*' in TITLE stands for any text); the first such window, or NULL.
HWND findWindow(DWORD pid, const char *cls, const char *title = NULL);
std::vector<HWND> topWindows(DWORD pid, const char *cls = NULL, const char *title = NULL);
HWND waitWindow(DWORD pid, const char *cls, const char *title = NULL, DWORD ms = kWait);
// True once WND is destroyed or hidden.
bool waitGone(HWND wnd, DWORD ms = kWait);
// One line per top-level window of PID ("HWND class \"title\" owner"), for failure messages.
std::string describeWindows(DWORD pid);

// Control ID of PARENT: a direct child first, else the first one at any depth (panels, pages).
HWND child(HWND parent, int id);
// A child (any depth) with class CLS and text TEXT (NULL: any; '*' for any text).
HWND findChild(HWND parent, const char *cls, const char *text = NULL);
std::string className(HWND wnd);
// WM_GETTEXT; empty when the window is gone or does not answer.
std::string text(HWND wnd);
std::string text(HWND parent, int id);
bool setText(HWND wnd, const std::string &value);
bool setText(HWND parent, int id, const std::string &value);
bool enabled(HWND wnd);
bool visible(HWND wnd);

// A menu or accelerator command: posts WM_COMMAND(ID) to WND and returns at once, so that a modal
// dialog opened by the command does not block the test. (Menus of another process cannot be read in
// Wine 8 - GetMenu/GetMenuState fail - so check what a command does, not its menu item.)
bool command(HWND wnd, int id);
// Presses button ID of dialog or window PARENT (found as child() does) as the user does: BN_CLICKED
// to the button's parent. False when the button is missing, hidden or disabled.
bool click(HWND parent, int id);
// SendMessage with a timeout (-1 on timeout) and PostMessage.
LRESULT send(HWND wnd, UINT msg, WPARAM wp = 0, LPARAM lp = 0, DWORD ms = kWait);
bool post(HWND wnd, UINT msg, WPARAM wp = 0, LPARAM lp = 0);
// Returns once the window's thread has taken what was posted to it before and come back to its
// message loop (or is in a modal loop). False when it stays busy for MS.
bool sync(HWND wnd, DWORD ms = kWait);

// Combo boxes (item text through the Unicode message, converted to CP932).
int comboCount(HWND combo);
int comboSelection(HWND combo);
std::string comboItem(HWND combo, int index);
std::vector<std::string> comboItems(HWND combo);
// Selects as the user does: CB_SETCURSEL, then CBN_SELCHANGE to the parent. False when out of range.
bool comboSelect(HWND combo, int index);
bool comboSelect(HWND combo, const std::string &item);

// List boxes.
int listCount(HWND list);
int listSelection(HWND list);
std::string listItem(HWND list, int index);
std::vector<std::string> listItems(HWND list);

// Check boxes and radio buttons.
bool checked(HWND button);

// Track bars: position, and moving it as the user does (TBM_SETPOS, then WM_HSCROLL/WM_VSCROLL with
// TB_THUMBPOSITION and TB_ENDTRACK to the parent).
int trackPos(HWND track);
bool setTrackPos(HWND track, int pos);

// ---- message boxes ---------------------------------------------------------------------------

// A visible message box of process PID (a #32770 dialog with the message text control).
HWND findMessageBox(DWORD pid);
MessageBoxInfo waitMessageBox(DWORD pid, DWORD ms = kWait);
std::string messageText(HWND box);
// Presses IDOK, IDCANCEL, IDYES, IDNO ... and waits until the box has gone.
bool answer(HWND box, int id, DWORD ms = kWait);

// ---- common file dialogs ---------------------------------------------------------------------

// A visible open or save dialog of process PID.
HWND findFileDialog(DWORD pid);
HWND waitFileDialog(DWORD pid, DWORD ms = kWait);
// Types PATH (Unix or DOS; a full path) into the file name field and presses OK. With WAIT it returns
// true only once the dialog has closed (false when it stays, for example behind a confirmation box).
bool chooseFile(HWND dlg, const std::string &path, bool wait = true, DWORD ms = kWait);
// Several files of one folder: goes to the folder, then types "a.avi" "b.wav" and presses OK.
bool chooseFiles(HWND dlg, const std::vector<std::string> &paths, bool wait = true, DWORD ms = kWait);
bool cancelDialog(HWND dlg, DWORD ms = kWait);

// ---- drag and drop ---------------------------------------------------------------------------

// Drops files on WND as the shell does: a DROPFILES block (wide or ANSI names) made in the target
// process, then WM_DROPFILES. AT is the drop point in client coordinates.
bool dropFiles(HWND wnd, const std::vector<std::string> &paths, POINT at = {20, 20}, bool wide = true);

// ---- screenshots -----------------------------------------------------------------------------

// Writes the screen (or only WND's area of it) to PATH: PNG when the name ends in ".png", BMP otherwise.
// The screen is Wine's desktop; on a plain Xvfb Wine takes it as 1024x768 from the top-left corner.
bool screenshot(const std::string &path, HWND wnd = NULL);

} // namespace drv
