// The running editor as its end-to-end tests see it: started through the driver, its view read off the
// screen and its rows pressed with the mouse.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "driver/driver.h"
#include "editor/resource.h"
#include "gtest_win.h"
#include "sequora_screen.h"

inline const char kClass[] = "CLASS_Sequora";
inline const char kTitle[] = "Sequora";

inline std::string Media(const std::string &name)
{
    const char *dir = getenv("SUITE_MEDIA");
    return drv::dosPath(std::string(dir ? dir : "/tmp/suite-media") + "/" + name);
}

inline bool Selected(BlockState state)
{
    return state == SELECTED || state == HOVERED_SELECTED;
}

// Widths in pixels at zoom 2 of the test media: 10 pixels a second, a still image shown 5 s.
constexpr int kMovie = 30, kSound = 20, kLongSound = 40, kStill = 50, kQuiet = 200;

class Sequora : public ::testing::Test {
protected:
    drv::Process app;
    HWND main = NULL, view = NULL, bar = NULL;

    void Start(const std::vector<std::string> &args = {})
    {
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);  // hover nothing
        ASSERT_TRUE(app.start(drv::programPath("sequora"), args)) << app.error();
        main = app.window(kClass, kTitle);
        ASSERT_TRUE(main) << drv::describeWindows(app.pid());
        view = drv::child(main, IDC_TIMELINEVIEW);
        bar = drv::child(main, IDC_PROPERTYBAR);
        ASSERT_TRUE(view && bar) << "the window came up without its view or property bar";
    }

    // Waits until the view shows exactly COUNT rows and returns their widths.
    std::vector<int> WaitRows(size_t count, DWORD ms = 20000)
    {
        std::vector<int> widths;
        drv::waitUntil([&] {
            widths = RowWidths(view);
            return widths.size() == count;
        }, ms);
        return widths;
    }

    // Waits until the rows have the given widths and returns what they have then.
    std::vector<int> WaitWidths(const std::vector<int> &expected, DWORD ms = 20000)
    {
        std::vector<int> widths;
        drv::waitUntil([&] {
            widths = RowWidths(view);
            return widths == expected;
        }, ms);
        return widths;
    }

    // Presses the mouse on row ROW's block, as the user selects an item.
    void ClickRow(int row)
    {
        int y = row * ViewRowHeight() + ViewRowHeight() / 2;
        HoverRow(row, 5);
        drv::post(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, y));
        drv::post(view, WM_LBUTTONUP, 0, MAKELPARAM(5, y));
        drv::sync(main);
    }

    // Puts the mouse over (x, y) of the view's client area, as the user moves it there.
    // The pointer is set twice: the X server may still deliver the motion of an earlier warp, which would
    // put the cursor back where it was.
    void MoveMouse(int x, int y)
    {
        POINT screen = {x, y};
        ClientToScreen(view, &screen);
        SetCursorPos(screen.x, screen.y);
        Sleep(20);
        SetCursorPos(screen.x, screen.y);
        drv::post(view, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        drv::sync(main);
    }

    // Moves the mouse onto row ROW at x and waits until the view shows it hovered.
    bool HoverRow(int row, int x)
    {
        int y = row * ViewRowHeight() + ViewRowHeight() / 2;
        return drv::waitUntil([&] {
            MoveMouse(x, y);
            std::vector<Row> rows = ReadRows(view);
            return (int)rows.size() > row && (rows[row].state == HOVERED || rows[row].state == HOVERED_SELECTED);
        }, 3000);
    }

    // Presses on row ROW at x, moves the mouse DX pixels sideways in steps and lets go.
    void DragRow(int row, int x, int dx)
    {
        int y = row * ViewRowHeight() + ViewRowHeight() / 2;
        HoverRow(row, x);
        drv::post(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        for (int step = 1; step <= 4; step++) MoveMouse(x + dx * step / 4, y);
        drv::post(view, WM_LBUTTONUP, 0, MAKELPARAM(x + dx, y));
        drv::sync(main);
    }

    // Saves the project through the menu and its save dialog under PATH (a DOS path).
    bool SaveProjectAs(const std::string &path)
    {
        drv::command(main, IDM_SAVEPROJECT);
        HWND dialog = drv::waitFileDialog(app.pid());
        if (!dialog || !drv::chooseFile(dialog, path)) return false;
        // The file is written once the dialog has gone.
        std::string written = path.find('.') == std::string::npos ? path + ".sqp" : path;
        return drv::waitUntil([&] { return drv::fileSize(written) == 159788; });
    }

    // The control with class CLS inside the band labelled LABEL.
    HWND BandControl(const char *label, const char *cls)
    {
        HWND text = drv::findChild(bar, "Static", label);
        return text ? drv::findChild(GetParent(text), cls) : NULL;
    }

    // Whether the band holding the control labelled LABEL shows.
    bool BandShows(const char *label)
    {
        HWND text = drv::findChild(bar, "Static", label);
        return text && drv::visible(GetParent(text));
    }

    void Close()
    {
        drv::post(main, WM_CLOSE);
        EXPECT_EQ(app.exitCode(), 0);
    }
};
