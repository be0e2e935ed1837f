// Capturo's picture settings over the test-pattern camera: which controls show and where, and how apply
// and reset reach the camera and change the picture.
#include <stdlib.h>
#include <algorithm>
#include "capturo_app.h"

namespace {

// Mean spread between the strongest and the weakest channel of each pixel: 0 for a grey picture.
double Chroma(const Picture &p)
{
    double sum = 0;
    for (size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        int hi = std::max(p.rgb[i], std::max(p.rgb[i + 1], p.rgb[i + 2]));
        int lo = std::min(p.rgb[i], std::min(p.rgb[i + 1], p.rgb[i + 2]));
        sum += hi - lo;
    }
    return p.rgb.empty() ? 0 : sum / (p.rgb.size() / 3);
}

class CapturoPicture : public Capturo {
protected:
    HWND settings = NULL;

    void OpenSettings()
    {
        drv::command(main, IDM_QUALITY);
        settings = app.window(kDialogClass, "設定");
        ASSERT_TRUE(settings) << drv::describeWindows(app.pid());
    }
    HWND Control(int id) { return drv::child(settings, id); }
    int Position(int id) { return drv::trackPos(Control(id)); }
    void CloseSettings()
    {
        drv::click(settings, IDCANCEL);
        EXPECT_TRUE(drv::waitGone(settings));
    }
};

TEST_F(CapturoPicture, ShowsManualControlsAtTheirValuesAndTheOthersDisabled)
{
    Start();
    OpenSettings();
    // Brightness -100..100, contrast and saturation 0..200 at 100, hue -180..180: all in the middle.
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 500);
    EXPECT_EQ(Position(IDC_CONTRAST), 500);
    EXPECT_EQ(Position(IDC_HUE), 500);
    EXPECT_EQ(Position(IDC_SATURATION), 500);
    // Gamma 1..500 at 100: 99 thousandths of 499, cut to 198. Gain 0..100 at 0.
    EXPECT_EQ(Position(IDC_GAMMA), 198);
    EXPECT_EQ(Position(IDC_GAIN), 0);
    for (int id : {IDC_BRIGHTNESS, IDC_CONTRAST, IDC_HUE, IDC_SATURATION, IDC_GAMMA, IDC_GAIN})
        EXPECT_TRUE(drv::enabled(Control(id))) << id;
    for (int id : {IDC_BRIGHTNESSLABEL, IDC_GAMMALABEL, IDC_GAINLABEL}) EXPECT_TRUE(drv::enabled(Control(id))) << id;
    if (drv::enabled(Control(IDC_SHARPNESS))) EXPECT_EQ(Position(IDC_SHARPNESS), 0);
    // White balance is automatic only: shown disabled, with its label.
    EXPECT_FALSE(drv::enabled(Control(IDC_WHITEBALANCE)));
    EXPECT_FALSE(drv::enabled(Control(IDC_WHITEBALANCELABEL)));
    // Colour is a manual switch that is on; the camera has no backlight compensation.
    EXPECT_TRUE(drv::enabled(Control(IDC_COLORENABLE)));
    EXPECT_TRUE(drv::checked(Control(IDC_COLORENABLE)));
    EXPECT_FALSE(drv::enabled(Control(IDC_BACKLIGHT)));
    drv::screenshot(dir.file("settings.png"));
    CloseSettings();
    Close();
}

TEST_F(CapturoPicture, ApplyAndResetRestartThePreviewWithTheNewPicture)
{
    Start();
    Press(IDC_RUN);
    Picture normal = WaitSettled([](const Picture &p) { return p.Colours() >= 6; });
    ASSERT_GE(normal.Colours(), 6);
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), 1));   // recording chosen, not running
    EXPECT_TRUE(Pressed(IDC_STOP));

    OpenSettings();
    ASSERT_TRUE(drv::setTrackPos(Control(IDC_BRIGHTNESS), 850));
    ASSERT_TRUE(drv::click(settings, IDOK));
    // Apply goes back to a running preview.
    EXPECT_TRUE(Pressed(IDC_RUN));
    EXPECT_EQ(drv::comboSelection(Item(IDC_MODE)), 0);
    EXPECT_FALSE(drv::enabled(Item(IDC_COMPRESSOR)));
    EXPECT_TRUE(drv::checked(Item(IDC_RUN)));
    Picture bright = WaitChange(normal, 20);
    EXPECT_GT(bright.Mean(), normal.Mean() + 20) << "brightness did not reach the camera";
    EXPECT_TRUE(drv::visible(settings)) << "the dialog stays open after apply";
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 850);

    // Colour off gives a grey picture.
    drv::post(Control(IDC_COLORENABLE), BM_CLICK);
    EXPECT_TRUE(Eventually([&] { return !drv::checked(Control(IDC_COLORENABLE)); }));
    ASSERT_TRUE(drv::click(settings, IDOK));
    Picture grey = WaitSettled([](const Picture &p) { return Chroma(p) < 3 && p.Mean() > 30; });
    EXPECT_LT(Chroma(grey), 3) << "colour off did not reach the camera";
    EXPECT_GT(Chroma(normal), 30);

    // Reset brings back the camera's own values, on the dialog and on the picture.
    ASSERT_TRUE(drv::click(settings, IDC_RESET));
    drv::sync(settings);
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 500);
    EXPECT_TRUE(drv::checked(Control(IDC_COLORENABLE)));
    Picture again = WaitSettled([&](const Picture &p) { return p.Difference(normal) >= 0 && p.Difference(normal) < 4; });
    EXPECT_LT(again.Difference(normal), 4);
    EXPECT_TRUE(drv::checked(Item(IDC_RUN)));
    EXPECT_FALSE(drv::enabled(Control(IDC_WHITEBALANCE))) << "reset enabled a control";
    CloseSettings();
    Close();
}

TEST_F(CapturoPicture, ValuesReachEveryLaterGraphAndUntouchedOnesStayExact)
{
    Start();
    Press(IDC_RUN);
    Picture normal = WaitSettled([](const Picture &p) { return p.Colours() >= 6; });
    OpenSettings();
    ASSERT_TRUE(drv::setTrackPos(Control(IDC_BRIGHTNESS), 150));
    ASSERT_TRUE(drv::click(settings, IDOK));
    Picture dark = WaitChange(normal, 20);
    EXPECT_LT(dark.Mean(), normal.Mean() - 20);
    CloseSettings();

    // A rebuild in another mode sends the values again.
    ASSERT_TRUE(drv::comboSelect(Item(IDC_MODE), 2));
    EXPECT_TRUE(Pressed(IDC_STOP));
    Press(IDC_RUN);
    Picture later = WaitSettled([&](const Picture &p) { return p.Difference(dark) < 4; });
    EXPECT_LT(later.Difference(dark), 4) << "the darker picture was lost at the rebuild";
    Sleep(1000);
    Press(IDC_STOP);
    WaitFinished(dir.file("MyAviFile.avi"));
    double rgb[3];
    ASSERT_TRUE(probe::FrameColour(dir.file("MyAviFile.avi"), 0.5, rgb));

    // Applying again without touching anything keeps every value where it was.
    OpenSettings();
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 150);
    EXPECT_EQ(Position(IDC_GAMMA), 198);
    ASSERT_TRUE(drv::click(settings, IDOK));
    drv::sync(settings);
    CloseSettings();
    OpenSettings();
    EXPECT_EQ(Position(IDC_GAMMA), 198) << "an untouched value drifted";
    EXPECT_EQ(Position(IDC_BRIGHTNESS), 150);
    CloseSettings();
    // The recorded picture is the darker one too.
    EXPECT_LT(rgb[0] + rgb[1] + rgb[2], 3 * normal.Mean() - 30);
    Close();
}

}  // namespace
