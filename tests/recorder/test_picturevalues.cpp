// Trackbar positions 0..1000 against a picture control's range, both ways.
#include <windows.h>
#include <dshow.h>
#include "gtest_win.h"
#include "capturo.h"

static PictureProperty Manual(int min, int max, int step, int value)
{
    PictureProperty p = {};
    p.supported = true;
    p.min = min;
    p.max = max;
    p.step = step;
    p.defaultValue = value;
    p.value = value;
    p.flags = VideoProcAmp_Flags_Manual;
    return p;
}

TEST(PictureValues, PositionIsTheValuesShareOfTheRangeInThousandths)
{
    EXPECT_EQ(TrackbarPosition(Manual(-10, 10, 1, 0)), 500);
    EXPECT_EQ(TrackbarPosition(Manual(-10, 10, 1, -10)), 0);
    EXPECT_EQ(TrackbarPosition(Manual(-10, 10, 1, 10)), 1000);
    // Truncated toward zero: 99 of 499 is 198.39 thousandths.
    EXPECT_EQ(TrackbarPosition(Manual(1, 500, 1, 100)), 198);
    EXPECT_EQ(TrackbarPosition(Manual(0, 255, 2, 128)), 501);
}

TEST(PictureValues, ValueAtAPositionLandsOnTheDevicesSteps)
{
    EXPECT_EQ(TrackbarValue(Manual(-10, 10, 1, 0), 1000), 10);
    EXPECT_EQ(TrackbarValue(Manual(-10, 10, 1, 0), 500), 0);
    EXPECT_EQ(TrackbarValue(Manual(-10, 10, 1, 0), 0), -10);
    // 127.5 is cut to 127 and moved down onto a step of 2.
    EXPECT_EQ(TrackbarValue(Manual(0, 255, 2, 0), 500), 126);
    EXPECT_EQ(TrackbarValue(Manual(2800, 6500, 100, 6500), 500), 4600);
    // Steps count from the lowest value, so an odd lowest value keeps odd steps inside the range.
    EXPECT_EQ(TrackbarValue(Manual(1, 9, 2, 1), 0), 1);
    EXPECT_EQ(TrackbarValue(Manual(1, 9, 2, 1), 600), 5);
    EXPECT_EQ(TrackbarValue(Manual(-255, 255, 2, 1), 500), -1);
}

TEST(PictureValues, WideRangesDoNotOverflow)
{
    PictureProperty wide = Manual(0, 2000000000, 1, 1000000000);
    EXPECT_EQ(TrackbarPosition(wide), 500);
    EXPECT_EQ(TrackbarValue(wide, 1000), 2000000000);
    EXPECT_EQ(TrackbarValue(wide, 250), 500000000);
    PictureProperty signedWide = Manual(-2000000000, 2000000000, 1, 0);
    EXPECT_EQ(TrackbarPosition(signedWide), 500);
    EXPECT_EQ(TrackbarValue(signedWide, 0), -2000000000);
}

TEST(PictureValues, EveryPositionGivesAValueInsideTheRange)
{
    PictureProperty p = Manual(-7, 13, 3, 2);
    for (int position = 0; position <= 1000; position++) {
        int value = TrackbarValue(p, position);
        ASSERT_GE(value, p.min) << position;
        ASSERT_LE(value, p.max) << position;
        ASSERT_EQ((value - p.min) % p.step, 0) << position;
    }
}

TEST(PictureValues, OnlyManualPropertiesWithARangeAndAStepAreAdjustable)
{
    EXPECT_TRUE(Adjustable(Manual(0, 1, 1, 1)));
    EXPECT_FALSE(Adjustable(Manual(5, 5, 1, 5))) << "an empty range";
    EXPECT_FALSE(Adjustable(Manual(0, 10, 0, 5))) << "no step";
    EXPECT_FALSE(Adjustable(Manual(10, 0, 1, 5))) << "a range upside down";
    PictureProperty automatic = Manual(0, 10, 1, 5);
    automatic.flags = VideoProcAmp_Flags_Auto;
    EXPECT_FALSE(Adjustable(automatic));
    PictureProperty unsupported = Manual(0, 10, 1, 5);
    unsupported.supported = false;
    EXPECT_FALSE(Adjustable(unsupported));
}
