// LoadConfig on INI files written by the test: keys, defaults, numbers,
// encodings; and the manifest a configuration names.
#include "PackageManifest.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

class LoadConfigTest : public ::testing::Test {
protected:
    bool Load(const std::string& utf8Text)
    {
        EXPECT_TRUE(WriteAll(ini, utf8Text));
        return engine.LoadConfig(ini);
    }

    ScratchFolder folder;
    std::wstring ini = folder / L"vnk_cross_repaire.ini";
    RepairEngine& engine = RepairEngine::Instance();
    const RepairConfig& config = engine.Config();
};

TEST_F(LoadConfigTest, ReadsACompleteConfiguration)
{
    ASSERT_TRUE(Load("[General]\r\nurl=http://host/p/cross.7z\r\nfilesize=123456\r\n"
                     "processcount=2\r\nprocess_0=Varnok.exe\r\nprocess_1=Lobby.exe\r\n"));
    EXPECT_EQ(config.url, L"http://host/p/cross.7z");
    EXPECT_EQ(config.tips, L"");
    EXPECT_EQ(config.fileSize, 123456);
    EXPECT_EQ(config.processNames, (std::vector<std::wstring>{L"Varnok.exe", L"Lobby.exe"}));
}

TEST_F(LoadConfigTest, SectionAndKeysIgnoreCaseAndValuesLoseBlanksAndQuotes)
{
    ASSERT_TRUE(Load("[other]\nurl=wrong\n[GENERAL]\nURL = \"http://h/a b.7z\" \nFileSize=  77\n"));
    EXPECT_EQ(config.url, L"http://h/a b.7z");
    EXPECT_EQ(config.fileSize, 77);
}

TEST_F(LoadConfigTest, ProcessCountMissingZeroOrNegativeReadsNoNames)
{
    for (const char* count : {"", "processcount=0\n", "processcount=-3\n"}) {
        ASSERT_TRUE(Load(std::string("[General]\nurl=u\nfilesize=1\nprocess_0=a.exe\n") + count)) << count;
        EXPECT_TRUE(config.processNames.empty()) << count;
    }
}

// What is refused is not kept: nothing of it could be acted on later.
TEST_F(LoadConfigTest, MissingProcessEntryFailsAndLeavesNothing)
{
    ASSERT_TRUE(Load("[General]\nurl=http://h/old.7z\nfilesize=5\n"));
    EXPECT_FALSE(Load("[General]\nurl=http://h/p.7z\ntips=t\nfilesize=10\nprocesscount=3\n"
                      "process_0=a.exe\nprocess_1=b.exe\n"));
    EXPECT_TRUE(config.processNames.empty());
    EXPECT_EQ(config.url, L"");
    EXPECT_EQ(config.tips, L"");
    EXPECT_EQ(config.fileSize, 0);
}

TEST_F(LoadConfigTest, EmptyProcessEntryFails)
{
    EXPECT_FALSE(Load("[General]\nurl=u\nfilesize=10\nprocesscount=1\nprocess_0=\n"));
}

TEST_F(LoadConfigTest, EachLoadStartsWithAnEmptyNameList)
{
    ASSERT_TRUE(Load("[General]\nurl=u\nfilesize=1\nprocesscount=1\nprocess_0=a.exe\n"));
    ASSERT_TRUE(Load("[General]\nurl=u\nfilesize=1\nprocesscount=1\nprocess_0=b.exe\n"));
    EXPECT_EQ(config.processNames, std::vector<std::wstring>{L"b.exe"});
}

TEST_F(LoadConfigTest, APackageNeedsAnAddressAndANonZeroSize)
{
    EXPECT_FALSE(Load("[General]\nurl=http://h/p.7z\n"));                    // size missing
    EXPECT_FALSE(Load("[General]\nurl=http://h/p.7z\nfilesize=big\n"));      // not a number
    EXPECT_FALSE(Load("[General]\nfilesize=100\n"));                         // no address
    EXPECT_TRUE(Load("[General]\nurl=http://h/p.7z\nfilesize=-5\n"));        // only 0 fails
    EXPECT_EQ(config.fileSize, -5);
}

TEST_F(LoadConfigTest, ANoticeAloneIsEnough)
{
    ASSERT_TRUE(Load("[General]\ntips=Maintenance until 18:00\n"));
    EXPECT_EQ(config.tips, L"Maintenance until 18:00");
    EXPECT_EQ(config.url, L"");
}

TEST_F(LoadConfigTest, NumbersConvertLikeWcstolAndSaturate)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"  +42abc", 42}, {"-17", -17}, {"0x10", 0}, {"abc", 0},
        {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        Load(std::string("[General]\nurl=u\nfilesize=") + c.text + "\n");
        EXPECT_EQ(config.fileSize, c.value) << c.text;
    }
}

TEST_F(LoadConfigTest, LongValuesAreCutTo4095Characters)
{
    ASSERT_TRUE(Load("[General]\nurl=" + std::string(5000, 'x') + "\nfilesize=1\n"));
    EXPECT_EQ(config.url, std::wstring(4095, L'x'));
}

TEST_F(LoadConfigTest, ReadsUtf16WithByteOrderMark)
{
    const std::wstring text = L"[General]\r\ntips=请稍后再试\r\nurl=http://h/包.7z\r\nfilesize=9\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    ASSERT_TRUE(WriteAll(ini, bytes));
    ASSERT_TRUE(engine.LoadConfig(ini));
    EXPECT_EQ(config.tips, L"请稍后再试");
    EXPECT_EQ(config.url, L"http://h/包.7z");
}

TEST_F(LoadConfigTest, ReadsAnsiTextInTheSystemCodePage)
{
    // A notice written in this system's ANSI code page, with a non-ASCII letter if it has one.
    std::wstring notice = L"Wartung \u00e9t\u00e9";
    BOOL lossy = FALSE;
    char ansi[64] = {};
    WideCharToMultiByte(CP_ACP, 0, notice.c_str(), -1, ansi, sizeof(ansi), nullptr, &lossy);
    if (lossy) {
        notice = L"Wartung";
        WideCharToMultiByte(CP_ACP, 0, notice.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
    }
    ASSERT_TRUE(WriteAll(ini, std::string("[General]\r\ntips=") + ansi + "\r\n"));
    ASSERT_TRUE(engine.LoadConfig(ini));
    EXPECT_EQ(config.tips, notice);
}

TEST_F(LoadConfigTest, AnErrorPageOrAMissingFileFails)
{
    EXPECT_FALSE(Load("<html><body>502 Bad Gateway</body></html>"));
    EXPECT_FALSE(engine.LoadConfig(folder / L"missing.ini"));
}

}  // namespace

// The manifest a configuration names: read strictly, and anything that isn't
// one (which then repairs the whole package) refused.
namespace {

const std::string kDigest(64, 'a');

std::string Manifest(const std::string& body)
{
    return "LumoraRepair manifest 1\npackage\t1000\nheader\t900\t100\t" + kDigest + "\nblock\t32\t400\t" + kDigest +
           "\nblock\t432\t468\t" + kDigest + "\n" + body;
}

TEST(ManifestTest, ReadsAManifestAndRefusesWhatIsNotOne)
{
    PackageManifest manifest;
    std::wstring error;
    ASSERT_TRUE(ParseManifest(Manifest("folder\tCross\nfile\tCross/资源/a.txt\t10\t" + kDigest + "\t1\tkeep\r\n"
                                       "file\tCross/empty.txt\t0\t" + kDigest + "\t-\trestore\n"),
                              manifest, error))
        << Narrow(error);
    EXPECT_EQ(manifest.packageSize, 1000u);
    EXPECT_EQ(manifest.blocks.size(), 2u);
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[0].path, L"Cross/资源/a.txt");
    EXPECT_EQ(manifest.files[0].block, 1);
    EXPECT_TRUE(manifest.files[0].keep);
    EXPECT_EQ(manifest.files[1].block, -1);

    for (const std::string& bad : {
             std::string("LumoraRepair manifest 2\npackage\t1\n"),
             Manifest("file\tCross/a.txt\t10\t" + kDigest + "\t2\trestore\n"),        // a block not listed
             Manifest("file\tCross/../a.txt\t10\t" + kDigest + "\t0\trestore\n"),     // an unsafe name
             Manifest("file\tCross/a.txt\t10\t" + std::string(64, 'G') + "\t0\trestore\n"),
             Manifest("file\tCross/a.txt\t0\t" + kDigest + "\t0\trestore\n"),         // empty, yet in a block
             Manifest("block\t100\t10\t" + kDigest + "\n"),                          // after the header
             Manifest("unknown\tline\n"),
             "LumoraRepair manifest 1\npackage\t1000\nheader\t900\t99\t" + kDigest + "\n",  // short of the end
             "LumoraRepair manifest 1\npackage\t1000\nheader\t900\t100\t" + kDigest + "\nblock\t32\t500\t" + kDigest +
                 "\nblock\t400\t100\t" + kDigest + "\n",                                  // blocks that overlap
         }) {
        EXPECT_FALSE(ParseManifest(bad, manifest, error)) << bad;
    }
}

}  // namespace
