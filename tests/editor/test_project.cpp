// Project files byte by byte, the loader's bounds, and the frame-rate rule of the settings dialog.
#include "sequora.h"
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "gtest_win.h"
#include "projectimage.h"
#include <math.h>

namespace {

std::vector<unsigned char> ReadBytes(const char *path)
{
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(file, NULL));
    DWORD read = 0;
    ReadFile(file, bytes.data(), (DWORD)bytes.size(), &read, NULL);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

template <typename T> T At(const std::vector<unsigned char> &bytes, size_t offset)
{
    T value;
    memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

class ProjectFile : public ::testing::Test {
protected:
    char path[MAX_PATH];
    char media[MAX_PATH];

    void SetUp() override
    {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        snprintf(path, sizeof path, "%sproject-%lu.sqp", dir, GetCurrentProcessId());
        // An existing media file, so that opening reports nothing missing.
        snprintf(media, sizeof media, "%smedia-%lu.wav", dir, GetCurrentProcessId());
        HANDLE file = CreateFileA(media, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        CloseHandle(file);
        for (MediaItem &item : items) {
            memset(&item, 0, sizeof item);
            SetItemDefaults(&item);
        }
        itemCount = 0;
        selectedItem = -1;
        zoom = 2;
        rowHeight = 16;
        settings = {2, 0, 0, 1, 321, 200, 1, 0};
        settings.fps = 29.97;
    }
    void TearDown() override
    {
        DeleteFileA(path);
        DeleteFileA(media);
    }

    void Fill()
    {
        for (int i = 0; i < 3; i++) {
            MediaItem *item = &items[i];
            strcpy(item->path, media);
            item->start = 123456789LL * (i + 1);
            SetRect(&item->block, 10 * i, 16 * i, 10 * i + 50, 16 * (i + 1));
            item->streamCount = 2;
            item->streams[0] = {MEDIATYPE_Video, 3.5 + i};
            item->streams[1] = {MEDIATYPE_Audio, 4.25};
            item->effect = i + 1;
            item->effectSpan = 100 * i + 7;
            item->fadeStart = 900 - i;
            item->imageTime = 2.5 * (i + 1);
            snprintf(item->incoming, sizeof item->incoming, "scratch %d", i);
        }
        itemCount = 3;
    }
};

TEST_F(ProjectFile, SavedFileHasTheFixedLayout)
{
    Fill();
    ASSERT_TRUE(SaveProject(path));
    std::vector<unsigned char> bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 159788u);
    EXPECT_EQ(At<int>(bytes, 0), 2);        // type
    EXPECT_EQ(At<int>(bytes, 4), 0);        // channels
    EXPECT_EQ(At<int>(bytes, 12), 1);       // rate
    EXPECT_EQ(At<int>(bytes, 16), 321);     // width
    EXPECT_EQ(At<int>(bytes, 20), 200);     // height
    EXPECT_EQ(At<int>(bytes, 24), 1);       // depth
    EXPECT_EQ(At<int>(bytes, 28), 0);       // padding
    EXPECT_EQ(At<double>(bytes, 32), 29.97);
    EXPECT_EQ(At<int>(bytes, 40), 3);       // count

    size_t record = 44 + 624 * 2;
    EXPECT_EQ(At<LONGLONG>(bytes, record + 0), 123456789LL * 3);
    EXPECT_EQ(At<int>(bytes, record + 8), 20);    // block left
    EXPECT_EQ(At<int>(bytes, record + 12), 32);   // block top
    EXPECT_EQ(At<int>(bytes, record + 16), 70);   // block right
    EXPECT_EQ(At<int>(bytes, record + 20), 48);   // block bottom
    EXPECT_EQ(At<int>(bytes, record + 24), 2);    // stream count
    GUID first = At<GUID>(bytes, record + 32), second = At<GUID>(bytes, record + 56);
    EXPECT_TRUE(IsEqualGUID(first, MEDIATYPE_Video));
    EXPECT_EQ(At<double>(bytes, record + 48), 5.5);
    EXPECT_TRUE(IsEqualGUID(second, MEDIATYPE_Audio));
    EXPECT_EQ(At<double>(bytes, record + 72), 4.25);
    EXPECT_EQ(At<int>(bytes, record + 80), 3);    // effect
    EXPECT_EQ(At<int>(bytes, record + 84), 207);  // effect span
    EXPECT_EQ(At<int>(bytes, record + 88), 898);  // fade start
    EXPECT_EQ(At<double>(bytes, record + 96), 7.5);
    EXPECT_STREQ((const char *)&bytes[record + 104], media);
    EXPECT_STREQ((const char *)&bytes[record + 364], "scratch 2");
    // Records not in use are written at their defaults.
    size_t unused = 44 + 624 * 3;
    EXPECT_EQ(At<int>(bytes, unused + 84), 300);
    EXPECT_EQ(At<int>(bytes, unused + 88), 1000);
    EXPECT_EQ(At<double>(bytes, unused + 96), 5.0);
}

TEST_F(ProjectFile, OpenRestoresEverythingByteForByte)
{
    Fill();
    OutputSettings savedSettings = settings;
    MediaItem saved[3];
    memcpy(saved, items, sizeof saved);
    ASSERT_TRUE(SaveProject(path));

    itemCount = 0;  // an empty list asks nothing
    settings = {};
    for (MediaItem &item : items) SetItemDefaults(&item);
    strcpy(items[1].incoming, "kept");
    ASSERT_TRUE(OpenProject(path));
    EXPECT_EQ(itemCount, 3);
    EXPECT_EQ(memcmp(&settings, &savedSettings, sizeof settings), 0);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(memcmp(&items[i], &saved[i], offsetof(MediaItem, incoming)), 0) << "item " << i;
    EXPECT_STREQ(items[1].incoming, "kept") << "reading leaves the scratch slots alone";
}

TEST_F(ProjectFile, EmptyProjectEmptiesTheListButIsNoSuccessfulOpen)
{
    ASSERT_TRUE(SaveProject(path));
    EXPECT_EQ(ReadBytes(path).size(), 159788u);
    Fill();
    selectedItem = 1;
    // The discard question would be asked here; the list is emptied first to keep the test windowless.
    itemCount = 0;
    EXPECT_FALSE(OpenProject(path));
    EXPECT_EQ(itemCount, 0);
    EXPECT_EQ(selectedItem, -1);
    EXPECT_EQ(settings.width, 321);
    EXPECT_EQ(items[0].path[0], 0);
    EXPECT_EQ(items[0].fadeStart, 1000);
}

TEST(ProjectImage, RefusesWhatDoesNotHoldAWholeProject)
{
    static unsigned char data[159788];
    static MediaItem records[MAX_ITEMS];
    OutputSettings s;
    int count = 77;
    auto setCount = [&](int n) { memcpy(data + 40, &n, 4); };

    setCount(3);
    EXPECT_FALSE(ReadProjectImage(data, 43, &s, &count, records));
    EXPECT_FALSE(ReadProjectImage(data, 44 + 624 * 3 - 1, &s, &count, records));
    EXPECT_EQ(count, 77) << "nothing is taken from a refused file";
    EXPECT_TRUE(ReadProjectImage(data, 44 + 624 * 3, &s, &count, records));
    EXPECT_EQ(count, 3);

    setCount(257);
    EXPECT_FALSE(ReadProjectImage(data, sizeof data, &s, &count, records));
    setCount(-1);
    EXPECT_FALSE(ReadProjectImage(data, sizeof data, &s, &count, records));
    setCount(256);
    EXPECT_TRUE(ReadProjectImage(data, sizeof data, &s, &count, records));
    EXPECT_EQ(count, 256);
}

// A crafted file: every name ends inside its field, counts and times are cut to what can be held.
TEST(ProjectImage, NamesEndInsideTheirFieldsAndTimesStayInRange)
{
    static unsigned char data[159788];
    static MediaItem records[MAX_ITEMS];
    OutputSettings s;
    int count = 0;
    const struct { int streams; double length, imageTime; LONGLONG start; int wantStreams; double wantLength, wantTime;
                   LONGLONG wantStart; } cases[] = {
        {1, 3.0, 2.5, 100, 1, 3.0, 2.5, 100},
        {7, -1.0, HUGE_VAL, -5, 0, 0.0, 5.0, 0},
        {-2, NAN, NAN, MAX_ITEM_START + 1, 0, 0.0, 5.0, MAX_ITEM_START},
        {2, 1e300, 1e12, 0, 2, MAX_ITEM_SECONDS, MAX_ITEM_SECONDS, 0},
        {1, 5.0, -3.0, 0, 1, 5.0, 5.0, 0}};
    const int n = sizeof cases / sizeof cases[0];
    memcpy(data + 40, &n, 4);
    for (int i = 0; i < n; i++) {
        MediaItem item = {};
        item.streamCount = cases[i].streams;
        item.streams[0].length = item.streams[1].length = cases[i].length;
        item.imageTime = cases[i].imageTime;
        item.start = cases[i].start;
        memset(item.path, 'A', sizeof item.path);   // no terminating zero
        memcpy(data + 44 + 624 * i, &item, PROJECT_RECORD_KEPT);
    }
    memset(records, 'B', sizeof records);           // an earlier name behind the field
    ASSERT_TRUE(ReadProjectImage(data, sizeof data, &s, &count, records));
    for (int i = 0; i < n; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(strlen(records[i].path), (size_t)MAX_PATH - 1);
        EXPECT_EQ(records[i].streamCount, cases[i].wantStreams);
        EXPECT_EQ(records[i].streams[0].length, cases[i].wantLength);
        EXPECT_EQ(records[i].imageTime, cases[i].wantTime);
        EXPECT_EQ(records[i].start, cases[i].wantStart);
    }
}

TEST(FrameRate, OnlyTextWithAPointCountsAndLongDecimalsAreCut)
{
    double fps = 15.0;
    EXPECT_TRUE(ReadFrameRate("29.97", &fps));
    EXPECT_DOUBLE_EQ(fps, 29.97);
    fps = 15.0;
    EXPECT_FALSE(ReadFrameRate("30", &fps));
    EXPECT_EQ(fps, 15.0);
    EXPECT_TRUE(ReadFrameRate("29.123456789", &fps));
    EXPECT_DOUBLE_EQ(fps, 29.123456);
    EXPECT_TRUE(ReadFrameRate("29.1234567", &fps));
    EXPECT_DOUBLE_EQ(fps, 29.1234567);
    EXPECT_TRUE(ReadFrameRate("999.5678", &fps));
    EXPECT_DOUBLE_EQ(fps, 999.5678);
    // no number, not above 0, past 1000 or past any number: the rate stays
    for (const char *bad : {"12345678901234.5678", "0.0", "-25.0", "1e999.5", ".", "nan.0", "1000.1"}) {
        EXPECT_FALSE(ReadFrameRate(bad, &fps)) << bad;
        EXPECT_DOUBLE_EQ(fps, 999.5678) << bad;
    }
}

}  // namespace
