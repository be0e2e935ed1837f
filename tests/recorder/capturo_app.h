// The running recorder as its end-to-end tests see it: started through the driver over the platform's
// test-pattern camera in a folder of its own, its dialog read and pressed, its preview area read off
// the screen and the AVI files it writes read back with ffprobe.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <functional>
#include <string>
#include <vector>
#include "driver/driver.h"
#include "recorder/resource.h"
#include "gtest_win.h"
#include "mediaprobe.h"

inline const char kDialogClass[] = "#32770";
inline const char kRecording[] = "録画中・・・ Capturo";
inline const char kVideoWindowClass[] = "PlatformVideoWindow";

// Seconds of the container, as ffprobe tells them.
inline double ContainerSeconds(const std::string &file)
{
    std::string t = probe::Run("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + file +
                               "' 2>/dev/null");
    return t.empty() ? -1.0 : atof(t.c_str());
}

// The pixels of a window's area of the screen, RGB.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;

    bool empty() const { return rgb.empty(); }
    // Mean of all channels of all pixels, 0..255.
    double Mean() const
    {
        if (rgb.empty()) return 0;
        double sum = 0;
        for (unsigned char c : rgb) sum += c;
        return sum / rgb.size();
    }
    // Mean absolute difference of the channels against a picture of the same size; -1 when they differ
    // in size.
    double Difference(const Picture &other) const
    {
        if (other.width != width || other.height != height || rgb.empty()) return -1;
        double sum = 0;
        for (size_t i = 0; i < rgb.size(); i++) sum += abs((int)rgb[i] - (int)other.rgb[i]);
        return sum / rgb.size();
    }
    // How many different colours (coarsely: 3 bits a channel) there are.
    int Colours() const
    {
        std::vector<bool> seen(512);
        int count = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            int key = (rgb[i] >> 5) << 6 | (rgb[i + 1] >> 5) << 3 | rgb[i + 2] >> 5;
            if (!seen[key]) count++;
            seen[key] = true;
        }
        return count;
    }
};

// The upper three fifths of a window's area: in the camera's test pattern the colour bars, without the
// moving noise of its lower part.
inline Picture Grab(HWND wnd)
{
    Picture picture;
    RECT r;
    if (!GetWindowRect(wnd, &r)) return picture;
    r.bottom = r.top + (r.bottom - r.top) * 3 / 5;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return picture;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (bmp) {
        HGDIOBJ old = SelectObject(mem, bmp);
        if (BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY)) {
            GdiFlush();
            const unsigned char *src = static_cast<const unsigned char *>(bits);
            picture.width = width;
            picture.height = height;
            picture.rgb.resize((size_t)width * height * 3);
            for (size_t i = 0; i < (size_t)width * height; i++) {
                picture.rgb[i * 3] = src[i * 4 + 2];
                picture.rgb[i * 3 + 1] = src[i * 4 + 1];
                picture.rgb[i * 3 + 2] = src[i * 4];
            }
        }
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return picture;
}

class Capturo : public ::testing::Test {
protected:
    drv::TempDir dir{"capturo"};
    drv::Process app;
    HWND main = NULL;

    // Starts the recorder in the test's folder, with the virtual camera unless told otherwise.
    void Launch(bool camera = true)
    {
        drv::LaunchOptions options;
        options.cwd = dir.path();
        if (camera) options.env.push_back("MEDIAPLATFORM_VIRTUAL_CAMERA=1");
        ASSERT_TRUE(app.start(drv::programPath("capturo"), {}, options)) << app.error();
    }

    void Start()
    {
        Launch();
        main = app.window(kDialogClass, "Capturo");
        ASSERT_TRUE(main) << drv::describeWindows(app.pid());
    }

    HWND Item(int id) { return drv::child(main, id); }

    // The program may take a posted command while it waits inside a graph call, so what it shows is
    // waited for rather than read at once.
    bool Eventually(const std::function<bool()> &cond, DWORD ms = 8000) { return drv::waitUntil(cond, ms); }
    bool CaptionIs(const std::string &caption)
    {
        return Eventually([&] { return drv::text(main) == caption; });
    }
    bool Pressed(int id)
    {
        return Eventually([&] { return drv::checked(Item(id)); });
    }
    HWND Preview() { return Item(IDC_PREVIEW); }
    // The renderer's window inside the preview area, when one shows.
    HWND VideoWindow()
    {
        HWND w = drv::findChild(Preview(), kVideoWindowClass);
        return w && drv::visible(w) ? w : NULL;
    }

    // Presses one of the two push-like buttons.
    void Press(int id)
    {
        drv::click(main, id);
        drv::sync(main);
    }

    // Waits until the preview area shows a moving test picture (many colours) and returns it.
    Picture WaitPicture(DWORD ms = 10000)
    {
        Picture picture;
        drv::waitUntil([&] {
            picture = Grab(Preview());
            return picture.Colours() >= 6;
        }, ms);
        return picture;
    }

    // Waits until the video window shows a settled picture (two looks a moment apart agree) for which
    // WANTED holds, and returns it.
    template <class Wanted> Picture WaitSettled(Wanted wanted, DWORD ms = 10000)
    {
        Picture picture;
        drv::waitUntil([&] {
            if (!VideoWindow()) return false;
            Picture first = Grab(Preview());
            Sleep(250);
            picture = Grab(Preview());
            return VideoWindow() && picture.Difference(first) >= 0 && picture.Difference(first) < 3 &&
                   wanted(picture);
        }, ms);
        return picture;
    }

    // Waits until the video window shows a settled picture that differs from BEFORE by more than
    // DIFFERENCE and returns it.
    Picture WaitChange(const Picture &before, double difference, DWORD ms = 10000)
    {
        return WaitSettled([&](const Picture &p) { return p.Difference(before) > difference; }, ms);
    }

    // Waits until FILE has stopped growing (the writer has finished it).
    void WaitFinished(const std::string &file)
    {
        long long last = -2;
        drv::waitUntil([&] {
            long long size = drv::fileSize(file);
            bool same = size == last && size > 0;
            last = size;
            if (!same) Sleep(300);
            return same;
        }, 10000);
    }

    void Close()
    {
        drv::click(main, IDC_EXIT);
        EXPECT_EQ(app.exitCode(), 0);
    }
};
