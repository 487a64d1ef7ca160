// The scan of a game folder against a manifest: what it finds damaged, and
// what it refuses to read through.
#include "FolderScan.h"
#include "Sha256.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::wstring DigestOf(const std::string& bytes)
{
    Sha256 sha;
    std::wstring hex;
    EXPECT_TRUE(sha.Start() && sha.Add(bytes.data(), bytes.size()) && sha.FinishHex(hex));
    return hex;
}

class FolderScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const auto& file : files) {
            manifest.files.push_back(ManifestFile{Widen(file.first), file.second.size(), DigestOf(file.second), 0, false});
        }
        manifest.folders.push_back(L"Cross/logs");
    }

    // The game folder afresh, healthy, then changed by `shell` (run in it).
    void Prepare(const std::string& shell)
    {
        std::string commands = "rm -rf '" + UnixPath(game) + "' '" + UnixPath(outside) + "' && mkdir -p '" +
                               UnixPath(outside) + "' '" + UnixPath(game) + "/Cross/res' '" + UnixPath(game) +
                               "/Cross/logs' && cd '" + UnixPath(game) + "'";
        for (const auto& file : files) {
            commands += " && printf '%s' '" + file.second + "' > '" + file.first + "'";
        }
        if (!shell.empty()) {
            commands += " && " + shell;
        }
        RunShellWhilePumping(commands);
    }

    ScanOutcome Scan(ScanResult& result)
    {
        HeldFolder folder;
        if (!folder.Open(game)) {
            return ScanOutcome::Refused;
        }
        return ScanGameFolder(folder, manifest, [](size_t, size_t) { return true; }, result);
    }

    const std::vector<std::pair<std::string, std::string>> files = {
        {"Cross/CrossApp.dll", "the program"}, {"Cross/res/a.txt", "text a"}, {"Cross/res/b.txt", "text b"}};
    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    std::wstring outside = scratch / L"Outside";
    PackageManifest manifest;
};

// What a repair would refuse to act through, the scan refuses to read
// through: intact copies elsewhere, behind a link, never count as the game's.
// (Wine shows a Unix symbolic link to a folder as a reparse point, but one to
// a file as the file itself, so only folders stand for links here.)
TEST_F(FolderScanTest, ALinkBelowTheGameFolderRefusesTheScan)
{
    const std::string out = "'" + UnixPath(outside) + "'";
    const struct {
        const char* what;
        std::string shell;  // run in the healthy game folder
        ScanOutcome expected;
        size_t damaged;
    } cases[] = {
        {"a healthy folder", "", ScanOutcome::Complete, 0},
        {"a damaged and a missing file", "printf x > Cross/res/a.txt && rm Cross/CrossApp.dll", ScanOutcome::Complete, 2},
        {"Cross a link to intact copies", "mv Cross " + out + "/Cross && ln -s " + out + "/Cross Cross",
         ScanOutcome::Refused, 0},
        {"a folder inside it a link", "mv Cross/res " + out + "/res && ln -s " + out + "/res Cross/res",
         ScanOutcome::Refused, 0},
        {"an empty folder of the package a link", "rmdir Cross/logs && ln -s " + out + " Cross/logs",
         ScanOutcome::Refused, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare(c.shell);
        ScanResult result;
        EXPECT_EQ(Scan(result), c.expected);
        if (c.expected == ScanOutcome::Complete) {
            EXPECT_EQ(result.damagedFiles.size(), c.damaged);
            EXPECT_EQ(result.checked, files.size());
        }
    }
    EXPECT_NE(DiagnosticsLogText().find("Cross is a link (a junction, symbolic link or mount point)"), std::string::npos);
}

// A scanning thread whose allocation fails ends the scan as refused, never
// as a folder found intact.
TEST_F(FolderScanTest, AThreadThatRunsOutOfMemoryFailsTheScan)
{
    Prepare("printf x > Cross/res/a.txt");
    SetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", L"scan");
    ScanResult result;
    EXPECT_EQ(Scan(result), ScanOutcome::Refused);
    SetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", nullptr);
    EXPECT_NE(DiagnosticsLogText().find("a thread of the scan failed: out of memory"), std::string::npos);
    EXPECT_EQ(Scan(result), ScanOutcome::Complete) << "the next scan is whole";
    EXPECT_EQ(result.damagedFiles.size(), 1u);
}

}  // namespace
