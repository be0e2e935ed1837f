// Path scanning over Shift-JIS text, where a trail byte can be the backslash.
#include <windows.h>
#include <string.h>
#include "gtest_win.h"
#include "textpath.h"

TEST(TextPath, LastBackslashStepsOverDoubleByteCharacters)
{
    ASSERT_EQ(GetACP(), 932u) << "the tests run with the Japanese code page";
    // ソ is 0x83 0x5C and 表 is 0x95 0x5C: their second bytes are backslashes.
    const char path[] = "C:\\clips\\ソ表.avi";
    EXPECT_STREQ(FileNamePart(path), "ソ表.avi");
    EXPECT_STREQ(FileNamePart("C:\\ソ\\表"), "表");
    EXPECT_STREQ(FileNamePart("noseparator.wav"), "noseparator.wav");
    EXPECT_EQ(FindLastChar("ソ", '\\'), nullptr);
}

TEST(TextPath, ExtensionIsTheTextAfterTheLastDot)
{
    EXPECT_STREQ(ExtensionPart("C:\\a.b\\CLIP.AVI"), "AVI");
    EXPECT_STREQ(ExtensionPart("movie.old.avi"), "avi");
    EXPECT_STREQ(ExtensionPart("C:\\my.dir\\file"), "dir\\file");
    EXPECT_EQ(ExtensionPart("noextension"), nullptr);
    EXPECT_STREQ(ExtensionPart("trailing."), "");
}

TEST(TextPath, CopyNeverCutsACharacterInHalf)
{
    char out[4];
    CopyText(out, "aソ表", sizeof out);   // 'a' + 2 bytes fit, the third character does not
    EXPECT_STREQ(out, "aソ");
    CopyText(out, "abソ", sizeof out);    // only one byte left for a double-byte character
    EXPECT_STREQ(out, "ab");
    CopyText(out, "abc", sizeof out);
    EXPECT_STREQ(out, "abc");
    CopyText(out, "abcdef", sizeof out);
    EXPECT_STREQ(out, "abc");
}
