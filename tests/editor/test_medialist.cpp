// The media list's rules, driven without a window: how names are split and accepted, and how the
// edit commands keep rows, blocks and the selection.
#include "sequora.h"
#include <stdio.h>
#include <string.h>
#include "gtest_win.h"

class MediaList : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (MediaItem &item : items) {
            memset(&item, 0, sizeof item);
            SetItemDefaults(&item);
        }
        itemCount = 0;
        selectedItem = -1;
        zoom = 2;
        rowHeight = 16;
    }

    // Puts items named after their row, with a movie length for every odd row and a still image for even.
    void Fill(int count)
    {
        for (int i = 0; i < count; i++) {
            MediaItem *item = &items[i];
            snprintf(item->path, sizeof item->path, "C:\\media\\item%d.avi", i);
            item->streamCount = 1;
            item->streams[0].majorType = MEDIATYPE_Video;
            item->streams[0].length = (i % 2) ? 10.0 : 0.0;
            item->start = 10000000LL * i;
            int left = (int)(item->start / 10000000.0 * 20 / zoom);
            SetRect(&item->block, left, i * rowHeight, left + BlockWidth(item), (i + 1) * rowHeight);
        }
        itemCount = count;
    }

    static int Split(const char *text)
    {
        static char buffer[MAX_ITEMS * MAX_PATH];
        snprintf(buffer, sizeof buffer, "%s", text);
        return SplitForwardedCommandLine(buffer);
    }
};

TEST_F(MediaList, ForwardedCommandLineIsSplitFromItsEnd)
{
    EXPECT_EQ(Split("a.avi b.wav"), 2);
    EXPECT_STREQ(items[0].incoming, "b.wav");
    EXPECT_STREQ(items[1].incoming, "a.avi");

    EXPECT_EQ(Split("\"C:\\my clips\\a.avi\" x.mp3 \"D:\\b c.wav\""), 3);
    EXPECT_STREQ(items[0].incoming, "D:\\b c.wav");
    EXPECT_STREQ(items[1].incoming, "x.mp3");
    EXPECT_STREQ(items[2].incoming, "C:\\my clips\\a.avi");

    EXPECT_EQ(Split("\"only one.avi\""), 1);
    EXPECT_STREQ(items[0].incoming, "only one.avi");
}

TEST_F(MediaList, ForwardedLineWithNothingToAdd)
{
    EXPECT_EQ(Split(""), 0);
    EXPECT_EQ(Split("a.avi "), 0);  // the last token is empty
}

TEST_F(MediaList, ForwardedLineWithMoreThan256NamesOffers257)
{
    static char text[300 * 8];
    text[0] = 0;
    for (int i = 0; i < 300; i++) sprintf(text + strlen(text), "%s%d.wav", i ? " " : "", i);
    EXPECT_EQ(Split(text), 257);
    EXPECT_STREQ(items[0].incoming, "299.wav");
    EXPECT_STREQ(items[255].incoming, "44.wav");

    text[0] = 0;
    for (int i = 0; i < 256; i++) sprintf(text + strlen(text), "%s%d.wav", i ? " " : "", i);
    EXPECT_EQ(Split(text), 256);
    EXPECT_STREQ(items[255].incoming, "0.wav");
}

TEST_F(MediaList, OwnCommandLineKeepsQuotedNamesWhole)
{
    EXPECT_EQ(SplitCommandLine("  \"C:\\my clips\\a.avi\" b.wav\t\"c d.jpg\""), 3);
    EXPECT_STREQ(items[0].incoming, "C:\\my clips\\a.avi");
    EXPECT_STREQ(items[1].incoming, "b.wav");
    EXPECT_STREQ(items[2].incoming, "c d.jpg");
    EXPECT_EQ(SplitCommandLine(""), 0);
}

TEST_F(MediaList, OnlyAcceptedExtensionsAreAppended)
{
    const char *names[] = {"C:\\x\\CLIP.AVI", "C:\\x\\readme.txt", "C:\\x\\noextension", "C:\\x\\song.Mp3",
                           "C:\\x.y\\file", "C:\\x\\still.jpeg", "C:\\x\\project.sqp"};
    int n = sizeof names / sizeof *names;
    for (int i = 0; i < n; i++) strcpy(items[i].incoming, names[i]);
    EXPECT_EQ(AddIncomingNames(n), ADD_ITEMS_APPENDED);
    ASSERT_EQ(itemCount, 3);
    EXPECT_STREQ(items[0].path, "C:\\x\\CLIP.AVI");
    EXPECT_STREQ(items[1].path, "C:\\x\\song.Mp3");
    EXPECT_STREQ(items[2].path, "C:\\x\\still.jpeg");
    EXPECT_EQ(firstNewItem, 0);
    // Appended records start from the defaults.
    EXPECT_EQ(items[2].effectSpan, 300);
    EXPECT_EQ(items[2].fadeStart, 1000);
    EXPECT_EQ(items[2].imageTime, 5.0);

    strcpy(items[0].incoming, "C:\\x\\notes.doc");
    EXPECT_EQ(AddIncomingNames(1), ADD_NOTHING);
    EXPECT_EQ(itemCount, 3);
    EXPECT_EQ(AddIncomingNames(0), ADD_NOTHING);
}

TEST_F(MediaList, FolderIsSkippedWhateverItsName)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    strcat(folder, "looks_like.avi");
    CreateDirectoryA(folder, NULL);
    strcpy(items[0].incoming, folder);
    EXPECT_EQ(AddIncomingNames(1), ADD_NOTHING);
    EXPECT_EQ(itemCount, 0);
    RemoveDirectoryA(folder);
}

TEST_F(MediaList, ProjectFirstDecidesAndOtherNamesAreIgnored)
{
    strcpy(items[0].incoming, "C:\\x\\missing.SQP");
    strcpy(items[1].incoming, "C:\\x\\a.avi");
    EXPECT_EQ(AddIncomingNames(2), ADD_NOTHING);  // the project could not be opened
    EXPECT_EQ(itemCount, 0);

    strcpy(items[0].incoming, "C:\\x\\a.avi");
    strcpy(items[1].incoming, "C:\\x\\b.sqp");
    EXPECT_EQ(AddIncomingNames(2), ADD_ITEMS_APPENDED);
    EXPECT_EQ(itemCount, 1);
}

TEST_F(MediaList, BlockWidthFollowsLengthAndZoom)
{
    Fill(2);
    EXPECT_EQ(BlockWidth(&items[0]), 50);   // still image: 5 s at zoom 2
    EXPECT_EQ(BlockWidth(&items[1]), 100);  // 10 s movie
    zoom = 3;
    EXPECT_EQ(BlockWidth(&items[0]), 33);
}

TEST_F(MediaList, ImageTimeRule)
{
    Fill(2);
    selectedItem = 0;
    SetSelectedImageTime("2.5");
    EXPECT_EQ(items[0].imageTime, 2.5);
    EXPECT_EQ(items[0].block.right - items[0].block.left, 25);
    for (const char *bad : {"0", "-3", "-5", "abc", "", "1e400", "inf", "nan"}) {
        SetSelectedImageTime(bad);
        EXPECT_EQ(items[0].imageTime, 2.5) << bad;
    }
    // Past 24 hours is cut to 24 hours: the block's width stays a number of pixels.
    SetSelectedImageTime("99999999999");
    EXPECT_EQ(items[0].imageTime, MAX_ITEM_SECONDS);
    EXPECT_EQ(items[0].block.right - items[0].block.left, (int)(MAX_ITEM_SECONDS * 20 / 2));
    SetSelectedImageTime("2.5");
    // A movie stores the value but keeps its block.
    selectedItem = 1;
    RECT before = items[1].block;
    SetSelectedImageTime("7");
    EXPECT_EQ(items[1].imageTime, 7.0);
    EXPECT_TRUE(EqualRect(&before, &items[1].block));
    // Nothing selected: nothing changes.
    selectedItem = -1;
    SetSelectedImageTime("9");
    EXPECT_EQ(items[0].imageTime, 2.5);
}

TEST_F(MediaList, DeleteMovesLaterRowsUpAndKeepsTheirTimes)
{
    Fill(3);
    LONGLONG start2 = items[2].start;
    RECT block2 = items[2].block;
    selectedItem = 1;
    DeleteSelectedItem();
    ASSERT_EQ(itemCount, 2);
    EXPECT_STREQ(items[1].path, "C:\\media\\item2.avi");
    EXPECT_EQ(items[1].start, start2);
    EXPECT_EQ(items[1].block.left, block2.left);
    EXPECT_EQ(items[1].block.top, block2.top - rowHeight);
    EXPECT_EQ(selectedItem, 1);  // the item that followed
    EXPECT_EQ(items[2].path[0], 0);  // the vacated record is back at its defaults
    EXPECT_EQ(items[2].fadeStart, 1000);

    DeleteSelectedItem();        // the last one: no selection remains
    EXPECT_EQ(itemCount, 1);
    EXPECT_EQ(selectedItem, -1);
    DeleteSelectedItem();        // nothing selected: nothing happens
    EXPECT_EQ(itemCount, 1);
}

TEST_F(MediaList, MovesExchangeRowsAndTheSelectionFollows)
{
    Fill(3);
    selectedItem = 2;
    MoveSelectedItemUp();
    EXPECT_EQ(selectedItem, 1);
    EXPECT_STREQ(items[1].path, "C:\\media\\item2.avi");
    EXPECT_EQ(items[1].block.top, rowHeight);
    EXPECT_STREQ(items[2].path, "C:\\media\\item1.avi");
    EXPECT_EQ(items[2].block.top, 2 * rowHeight);
    EXPECT_EQ(items[1].start, 20000000);  // times stay with their items

    MoveSelectedItemDown();
    EXPECT_EQ(selectedItem, 2);
    EXPECT_STREQ(items[2].path, "C:\\media\\item2.avi");

    MoveSelectedItemDown();  // already last
    EXPECT_EQ(selectedItem, 2);
    selectedItem = 0;
    MoveSelectedItemUp();    // already first
    EXPECT_EQ(selectedItem, 0);
    EXPECT_STREQ(items[0].path, "C:\\media\\item0.avi");
}
