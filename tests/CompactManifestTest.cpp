// The compact manifest: what tools/publish-package writes parses to what the
// plain one does and plans the same repair; a damaged, cut, padded or
// oversized one is refused; a manifest fetched once is kept for the next
// repair and used only while it is still the one the configuration names.
#include "CompactManifest.h"
#include "ExtractArchive.h"
#include "RepairPlan.h"
#include "Sha256.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::wstring Published(const wchar_t* name) { return std::wstring(VNK_TEST_DATA) + L"\\published\\" + name; }

std::wstring DigestOf(const std::string& bytes)
{
    Sha256 sha;
    std::wstring hex;
    EXPECT_TRUE(sha.Start() && sha.Add(bytes.data(), bytes.size()) && sha.FinishHex(hex));
    return hex;
}

void ExpectSame(const PackageManifest& a, const PackageManifest& b)
{
    EXPECT_EQ(a.packageSize, b.packageSize);
    EXPECT_EQ(a.header.offset, b.header.offset);
    EXPECT_EQ(a.header.sha256, b.header.sha256);
    ASSERT_EQ(a.blocks.size(), b.blocks.size());
    for (size_t i = 0; i < a.blocks.size(); ++i) {
        EXPECT_EQ(a.blocks[i].offset, b.blocks[i].offset);
        EXPECT_EQ(a.blocks[i].sha256, b.blocks[i].sha256);
    }
    EXPECT_EQ(a.folders, b.folders);
    ASSERT_EQ(a.files.size(), b.files.size());
    for (size_t i = 0; i < a.files.size(); ++i) {
        EXPECT_EQ(a.files[i].path, b.files[i].path);
        EXPECT_EQ(a.files[i].sha256, b.files[i].sha256);
        EXPECT_EQ(a.files[i].block, b.files[i].block);
    }
}

TEST(CompactManifestTest, ParsesAsThePlainOneAndRefusesWhatIsNotOne)
{
    PackageManifest plain;
    std::wstring error;
    ASSERT_TRUE(ParseManifest(ReadAll(Published(L"cross.7z.manifest")), plain, error)) << Narrow(error);
    ASSERT_GE(plain.files.size(), 3u);
    const struct {
        const wchar_t* file;
        bool parses;
    } cases[] = {
        {L"published\\cross.7z.manifest.lzma", true},  // as the tool writes it: size unknown, an end mark
        {L"compact-manifests\\sized.lzma", true},      // its size in the header
        {L"compact-manifests\\wrong-size.lzma", false},
        {L"compact-manifests\\cut.lzma", false},
        {L"compact-manifests\\trailing.lzma", false},
        {L"compact-manifests\\damaged.lzma", false},
        {L"compact-manifests\\big-dictionary.lzma", false},
        {L"compact-manifests\\bomb.lzma", false},  // 73 MB of text in a few kilobytes
        {L"compact-manifests\\short.lzma", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        PackageManifest compact;
        error.clear();
        EXPECT_EQ(ParseCompactManifest(ReadAll(std::wstring(VNK_TEST_DATA) + L"\\" + c.file), compact, error), c.parses)
            << Narrow(error);
        if (c.parses) {
            ExpectSame(compact, plain);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_FALSE(ParseCompactManifest(ReadAll(Published(L"cross.7z.manifest")), plain, error))
        << "plain text is no compact manifest";
}

class KeptManifestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plain = ReadAll(Published(L"cross.7z.manifest"));
        compact = ReadAll(Published(L"cross.7z.manifest.lzma"));
        package = ReadAll(Published(L"cross.7z"));
        ServeFile("kept/cross.7z.manifest", plain);
        ServeFile("kept/cross.7z.manifest.lzma", compact);
        ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
        ASSERT_TRUE(UnpackArchive(Published(L"cross.7z"), game, [](int32_t, int32_t) { return true; }).Ok());
        ASSERT_TRUE(WriteAll(game + L"\\Cross\\res\\说明.txt", "damaged"));
        ASSERT_TRUE(folder.Open(game));
    }

    RepairConfig Config(bool withCompact) const
    {
        RepairConfig config;
        config.url = TestUrl(L"/kept/cross.7z");
        config.fileSize = static_cast<int32_t>(package.size());
        config.manifestUrl = TestUrl(L"/kept/cross.7z.manifest");
        config.manifestSize = plain.size();
        config.manifestSha256 = DigestOf(plain);
        if (withCompact) {
            config.compactManifestUrl = TestUrl(L"/kept/cross.7z.manifest.lzma");
            config.compactManifestSize = compact.size();
            config.compactManifestSha256 = DigestOf(compact);
        }
        return config;
    }

    RepairPlan Plan(const RepairConfig& config)
    {
        RepairPlan plan;
        EXPECT_EQ(PlanRepair(config, folder, kept, DownloadOptions(), [](size_t, size_t) { return true; }, plan),
                  PlanOutcome::Planned);
        return plan;
    }

    // How many times the server was asked for `path` (its request lines).
    static size_t Requests(const std::string& path)
    {
        const std::string log = ServerLog();
        size_t count = 0;
        for (size_t start = 0; start < log.size();) {
            const size_t end = log.find('\n', start);
            count += log.compare(start, (end == std::string::npos ? log.size() : end) - start, path) == 0;
            start = end == std::string::npos ? log.size() : end + 1;
        }
        return count;
    }

    std::string plain, compact, package;
    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    std::wstring kept = scratch / L"kept.manifest";
    HeldFolder folder;
};

// Both formats plan the same repair; the compact one is what this program asks for.
TEST_F(KeptManifestTest, BothFormatsPlanTheSameRepair)
{
    const RepairPlan fromPlain = Plan(Config(false));
    DeleteFileW(kept.c_str());
    const size_t compactBefore = Requests("/kept/cross.7z.manifest.lzma");
    const RepairPlan fromCompact = Plan(Config(true));
    EXPECT_EQ(Requests("/kept/cross.7z.manifest.lzma"), compactBefore + 1);
    EXPECT_TRUE(fromPlain.scanned && fromCompact.scanned);
    EXPECT_EQ(fromCompact.kind, fromPlain.kind);
    EXPECT_EQ(fromCompact.entries, fromPlain.entries);
    EXPECT_EQ(fromCompact.entries, (std::set<std::wstring>{L"Cross/res/说明.txt"}));
    EXPECT_EQ(fromCompact.bytesToFetch, fromPlain.bytesToFetch);
    ASSERT_EQ(fromCompact.requests.size(), fromPlain.requests.size());
    for (size_t i = 0; i < fromPlain.requests.size(); ++i) {
        EXPECT_EQ(fromCompact.requests[i].offset, fromPlain.requests[i].offset);
        EXPECT_EQ(fromCompact.requests[i].size, fromPlain.requests[i].size);
    }
}

// The next repair uses the manifest it kept and fetches nothing for it; a
// kept copy changed on disk, or another configuration's, is fetched anew.
TEST_F(KeptManifestTest, AKeptManifestIsUsedOnlyWhileItIsTheOneNamed)
{
    const RepairConfig config = Config(true);
    const std::string address = "/kept/cross.7z.manifest.lzma";
    const size_t before = Requests(address);
    const RepairPlan first = Plan(config);
    EXPECT_EQ(Requests(address), before + 1);
    EXPECT_EQ(ReadAll(kept), compact) << "kept for the next repair";

    const RepairPlan second = Plan(config);
    EXPECT_EQ(Requests(address), before + 1) << "nothing fetched for the kept manifest";
    EXPECT_EQ(second.entries, first.entries);

    std::string changed = compact;
    changed[changed.size() / 2] ^= 0x01;
    ASSERT_TRUE(WriteAll(kept, changed));
    const RepairPlan third = Plan(config);
    EXPECT_EQ(Requests(address), before + 2) << "a kept copy that isn't the one named is fetched anew";
    EXPECT_EQ(third.entries, first.entries);
    EXPECT_EQ(ReadAll(kept), compact);

    // A configuration naming the plain manifest: the compact copy kept is not it.
    const size_t plainBefore = Requests("/kept/cross.7z.manifest");
    Plan(Config(false));
    EXPECT_EQ(Requests("/kept/cross.7z.manifest"), plainBefore + 1);
    EXPECT_EQ(ReadAll(kept), plain);
}

// A cache that holds an earlier publication's manifest, a few bytes longer
// than the one named, is asked past once more: not a manifest to be had, which
// would send the repair to the whole package the same cache holds.
TEST_F(KeptManifestTest, ALongerManifestFromACacheIsAskedForOnceMorePastIt)
{
    ServeFile("kept/earlier.lzma", compact + "of an earlier publication");
    RepairConfig config = Config(true);
    const std::wstring address =
        L"/kept/earlier.lzma?then=kept/cross.7z.manifest.lzma&t=" + std::to_wstring(GetTickCount());
    config.compactManifestUrl = TestUrl(address);
    const RepairPlan plan = Plan(config);
    EXPECT_TRUE(plan.scanned) << "the manifest named was had after all";
    EXPECT_EQ(plan.entries, (std::set<std::wstring>{L"Cross/res/说明.txt"}));
    EXPECT_NE(ServerLog().find("revalidate " + Narrow(address)), std::string::npos);
}

}  // namespace
