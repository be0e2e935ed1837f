// The new file's name beside the AVI, and the test that keeps it off the files it is made from.
#include <windows.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "gtest_win.h"
#include "dubrix.h"

static std::string Output(const char *avi)
{
    char out[MAX_PATH];
    if (!FormOutputPath(avi, out, sizeof out)) return "(too long)";
    return out;
}

TEST(OutputName, TheExtensionGivesWayToUnderscoreAvi)
{
    EXPECT_EQ(Output("D:\\clips\\movie.avi"), "D:\\clips\\movie_.avi");
    EXPECT_EQ(Output("D:\\clips\\movie.old.avi"), "D:\\clips\\movie.old_.avi");
    EXPECT_EQ(Output("D:\\clips\\MOVIE.AVI"), "D:\\clips\\MOVIE_.avi");
    EXPECT_EQ(Output("movie.avi"), "movie_.avi");
    EXPECT_EQ(Output("D:\\clips\\trailing."), "D:\\clips\\trailing_.avi");
}

TEST(OutputName, ANameWithoutDotKeepsItsFolderAndIsNeverTheInput)
{
    EXPECT_EQ(Output("D:\\clips\\movie"), "D:\\clips\\movie_.avi");
    EXPECT_EQ(Output("D:\\rel1.2\\movie"), "D:\\rel1.2\\movie_.avi");
    EXPECT_EQ(Output("/tmp/rel1.2/movie"), "/tmp/rel1.2/movie_.avi");
    EXPECT_EQ(Output("C:.hidden\\movie"), "C:.hidden\\movie_.avi");
    EXPECT_EQ(Output(".avi"), "_.avi");
}

TEST(OutputName, ShiftJisNamesAreScannedByWholeCharacters)
{
    ASSERT_EQ(GetACP(), 932u) << "the tests run with the Japanese code page";
    // ソ and 表 end in the byte 0x5C; a byte scan would take it for a folder separator.
    EXPECT_EQ(Output("D:\\素材.v2\\ソ表"), "D:\\素材.v2\\ソ表_.avi");
    EXPECT_EQ(Output("D:\\素材\\ソ表.avi"), "D:\\素材\\ソ表_.avi");
}

TEST(OutputName, APathThatWouldNotFitIsRefused)
{
    char out[MAX_PATH];
    std::string fits = "C:\\" + std::string(MAX_PATH - 1 - 3 - 5 - 4, 'a') + ".avi";   // 254 + "_.avi" = 259
    ASSERT_TRUE(FormOutputPath(fits.c_str(), out, sizeof out));
    EXPECT_EQ(strlen(out), (size_t)MAX_PATH - 1 - 4);
    std::string noDot = "C:\\" + std::string(MAX_PATH - 1 - 3 - 4, 'b');   // 255 + "_.avi" = 260: no room
    EXPECT_FALSE(FormOutputPath(noDot.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "");
    std::string exact = "C:\\" + std::string(MAX_PATH - 1 - 3 - 5, 'c');   // 254 + "_.avi" = 259: fits
    EXPECT_TRUE(FormOutputPath(exact.c_str(), out, sizeof out));
    EXPECT_EQ(strlen(out), (size_t)MAX_PATH - 1);
}

TEST(OutputName, SameFileSeesOneFileUnderTwoNames)
{
    char folder[MAX_PATH], a[MAX_PATH], b[MAX_PATH], link[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    snprintf(a, sizeof a, "%sdubrix_same_%lu.wav", folder, GetCurrentProcessId());
    snprintf(b, sizeof b, "%sdubrix_other_%lu.wav", folder, GetCurrentProcessId());
    snprintf(link, sizeof link, "%sdubrix_link_%lu.avi", folder, GetCurrentProcessId());
    for (const char *name : {a, b}) {
        HANDLE f = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        CloseHandle(f);
    }
    std::string upper = a;
    for (char &c : upper) c = (char)toupper((unsigned char)c);
    EXPECT_TRUE(SameFile(a, a));
    EXPECT_TRUE(SameFile(a, upper.c_str()));
    EXPECT_FALSE(SameFile(a, b));
    // A second name of the same file counts as that file.
    if (CreateHardLinkA(link, a, NULL)) {
        EXPECT_TRUE(SameFile(link, a));
        EXPECT_FALSE(SameFile(link, b));
        DeleteFileA(link);
    }
    // A name that does not exist yet is only the same when it is the same path.
    EXPECT_FALSE(SameFile(link, a));
    DeleteFileA(a);
    DeleteFileA(b);
}
