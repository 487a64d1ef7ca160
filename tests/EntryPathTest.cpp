// Entry names: which a package may hold, and the paths and staging names made of them.
#include "EntryPath.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(EntryPathTest, RefusesNamesThatLeaveTheFolderOrNameDevices)
{
    for (const wchar_t* bad : {L"", L"..", L"../x", L"a/../../x", L"a\\..\\x", L"/x", L"\\x", L"C:x", L"c:\\x",
                               L"a.txt:stream", L"CON", L"con.txt", L"Cross/NUL", L"aux.tar.gz", L"COM1",
                               L"lpt9.log", L"PRN ", L"a/.. /b", L"a/.../b", L"COM\u00b9", L"lpt\u00b2.txt",
                               L"Cross/com\u00b3 .log", L"CONIN$", L"conout$.txt", L"Cross/CONIN$ ", L"COM0",
                               L"lpt0.txt", L"./x", L"a/./b", L"a.txt.", L"a.txt ", L"x...", L"   ",
                               L"Cross/sub./a", L"a\nb", L"a\x01" L"b", L"a\x1f", L"a<b", L"a>b", L"a\"b",
                               L"a|b", L"a?b", L"a*b", L"Cross//x", L"Cross/", L"Cross\\"}) {
        EXPECT_FALSE(IsSafeEntryName(bad)) << Narrow(bad);
    }
    for (const wchar_t* good : {L"Cross", L"Cross/a.txt", L"a..b", L"..a", L".a", L"a b", L"console.txt",
                                L"COM10", L"LPT", L"nul0", L"资源/说明.txt", L"Cross\\x",
                                L"COM\u2074", L"LPT\u00b9\u00b9", L"CONIN", L"conout$x", L"CONIN$$"}) {
        EXPECT_TRUE(IsSafeEntryName(good)) << Narrow(good);
    }
}

TEST(EntryPathTest, OutputPathMustFitTheBuffer)
{
    std::wstring path;
    const std::wstring folder(200, L'f');
    EXPECT_TRUE(JoinOutputPath(folder, std::wstring(58, L'n'), path));  // 200 + 1 + 58 = 259
    EXPECT_EQ(path.size(), 259u);
    EXPECT_FALSE(JoinOutputPath(folder, std::wstring(59, L'n'), path));
}

TEST(EntryPathTest, ShortStagingNamesComeShortestFirst)
{
    EXPECT_EQ(ShortStagingName(0), L"~");
    EXPECT_EQ(ShortStagingName(1), L"0");
    EXPECT_EQ(ShortStagingName(36), L"z");
    EXPECT_EQ(ShortStagingName(37), L"~~");
    EXPECT_EQ(ShortStagingName(38), L"~0");
    EXPECT_EQ(ShortStagingName(37 + 37 * 37 - 1), L"zz");
    EXPECT_EQ(ShortStagingName(37 + 37 * 37), L"~~~");
}

}  // namespace
