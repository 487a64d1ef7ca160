// The engine's two workers end to end against the loopback server, reporting to
// a real hidden window; the worker slot and the shutdown protocol.
#include "EventWindow.h"
#include "ProtectedSettings.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "Signature.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <atomic>
#include <cstdio>

namespace {

const char kConfigPath[] = "images/js/vy/cross/vnk_cross_repair.ini";

// A configuration that names a package, as the server's would.
RepairConfig PackageAt(const std::wstring& url)
{
    RepairConfig config;
    config.url = url;
    config.fileSize = 1;
    return config;
}

// A message queue that is full for the next `g_refusals` posts.
std::atomic<int> g_refusals{0};

BOOL WINAPI PostIntoFullQueue(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_refusals.fetch_sub(1) > 0) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageW(window, message, wParam, lParam);
}

class RepairEngineTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        engine.Shutdown(10000);
        engine.ReportTo(nullptr);
        engine.SetPostMessage(PostMessageW);
        engine.SetPackageKey("");
        engine.UseConfig(RepairConfig());
    }

    // Runs the configuration worker; returns the events it posted.
    std::vector<uint32_t> RunConfigWorker()
    {
        EXPECT_TRUE(engine.StartConfigWorker(window.Handle()));
        window.PumpUntil([](const std::vector<EventRecord>& events) { return !events.empty(); }, 20000);
        engine.Shutdown(10000);
        window.PumpFor(200);  // anything posted after the first event would show up now
        return window.Codes();
    }

    // Runs the package worker on `folder` until its closing event (or `timeoutMs`).
    void RunPackageWorker(const std::wstring& url, const std::wstring& folder, DWORD timeoutMs = 30000)
    {
        RunPackageWorker(PackageAt(url), folder, timeoutMs);
    }
    void RunPackageWorker(const RepairConfig& config, const std::wstring& folder, DWORD timeoutMs = 30000)
    {
        engine.ReportTo(window.Handle());
        engine.UseConfig(config);
        ASSERT_TRUE(engine.StartPackageWorker(folder));
        window.PumpUntil(
            [](const std::vector<EventRecord>& events) {
                return !events.empty() && (events.back().code == PackageDownloadFailed ||
                                           events.back().code == ExtractionFailed ||
                                           events.back().code == ExtractionSucceeded);
            },
            timeoutMs);
        engine.Shutdown(10000);
        window.PumpFor(100);
    }

    RepairEngine& engine = RepairEngine::Instance();
    EventWindow window;
};

TEST_F(RepairEngineTest, ConfigWorkerPostsConfigLoadedForAValidFile)
{
    ServeFile(kConfigPath, "[General]\r\nurl=http://127.0.0.1/p.7z\r\nfilesize=99\r\n"
                           "processcount=1\r\nprocess_0=Varnok.exe\r\n");
    EXPECT_EQ(RunConfigWorker(), std::vector<uint32_t>{ConfigLoaded});
    EXPECT_EQ(engine.Config().url, L"http://127.0.0.1/p.7z");
    EXPECT_EQ(engine.Config().fileSize, 99);
    EXPECT_EQ(engine.Config().processNames, std::vector<std::wstring>{L"Varnok.exe"});
    EXPECT_TRUE(FileExists(LocalConfigPath()));
}

TEST_F(RepairEngineTest, ConfigWorkerPostsConfigParseFailedForAnInvalidFile)
{
    ServeFile(kConfigPath, "[General]\r\nurl=http://127.0.0.1/p.7z\r\n");
    EXPECT_EQ(RunConfigWorker(), std::vector<uint32_t>{ConfigParseFailed});
}

TEST_F(RepairEngineTest, ConfigWorkerPostsConfigDownloadFailedWhenTheServerHasNoFile)
{
    DeleteFileW((std::wstring(VNK_TEST_WWW) + L"\\images\\js\\vy\\cross\\vnk_cross_repair.ini").c_str());
    EXPECT_EQ(RunConfigWorker(), std::vector<uint32_t>{ConfigDownloadFailed});
    EXPECT_FALSE(FileExists(LocalConfigPath())) << "the server's 404 page must not be kept";
}

TEST_F(RepairEngineTest, PackageWorkerStartsRightAfterConfigLoaded)
{
    // ConfigLoaded is the configuration thread's last act: the package worker
    // started in reaction to it must not find the slot still taken.
    ServeFile(kConfigPath, "[General]\r\nurl=u\r\nfilesize=1\r\n");
    for (int run = 0; run < 5; ++run) {
        window.events.clear();
        ASSERT_TRUE(engine.StartConfigWorker(window.Handle()));
        window.PumpUntil([](const std::vector<EventRecord>& events) { return !events.empty(); }, 20000);
        ASSERT_EQ(window.Codes(), std::vector<uint32_t>{ConfigLoaded}) << "run " << run;
        engine.UseConfig(PackageAt(TestUrl(L"/status/404")));
        ScratchFolder folder;
        EXPECT_TRUE(engine.StartPackageWorker(folder.Path())) << "run " << run;
        EXPECT_TRUE(window.WaitFor(PackageDownloadFailed, 20000));
        engine.Shutdown(10000);
    }
}

TEST_F(RepairEngineTest, ASecondStartWhileAWorkerRunsStartsNothing)
{
    ScratchFolder folder;
    engine.ReportTo(window.Handle());
    engine.UseConfig(PackageAt(TestUrl(L"/slow/40000?chunk=1000&delay=100")));
    ASSERT_TRUE(engine.StartPackageWorker(folder.Path()));
    EXPECT_FALSE(engine.StartConfigWorker(window.Handle()));
    EXPECT_FALSE(engine.StartPackageWorker(folder.Path()));
    EXPECT_FALSE(engine.WaitForWorker(0)) << "the first worker runs on";
}

TEST_F(RepairEngineTest, ShutdownWaitsAtMostTheGivenTimeAndTheCancelledDownloadLeavesNothing)
{
    ScratchFolder folder;
    engine.ReportTo(window.Handle());
    engine.UseConfig(PackageAt(TestUrl(L"/slow/40960?chunk=8192&delay=2500")));
    ASSERT_TRUE(engine.StartPackageWorker(folder.Path()));
    ASSERT_TRUE(window.WaitFor(DownloadProgress, 10000));

    const DWORD start = GetTickCount();
    engine.Shutdown(1000);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 900u);
    EXPECT_LT(waited, 1800u);
    EXPECT_FALSE(engine.HasWorker());

    // The worker stops at its next chunk, deletes its temporary file and posts nothing.
    const size_t seen = window.events.size();
    window.PumpFor(4000);
    EXPECT_EQ(window.events.size(), seen);
    EXPECT_FALSE(FileExists(folder / L"cross_new.zip"));
    EXPECT_FALSE(FileExists(folder / L"cross_new.zip.tmp"));
}

// Any program on the desktop can post WM_REPAIR_EVENT; the window acts only on
// what this engine posted, each event once, in order.
TEST_F(RepairEngineTest, OnlyTheEventsTheEnginePostedAreTaken)
{
    ServeFile(kConfigPath, "[General]\r\ntips=t\r\n");
    ASSERT_EQ(RunConfigWorker(), std::vector<uint32_t>{ConfigLoaded});
    EXPECT_FALSE(engine.TakeEvent(ConfigParseFailed, 0)) << "not what was posted";
    EXPECT_FALSE(engine.TakeEvent(ConfigLoaded, 1)) << "not with that parameter";
    EXPECT_TRUE(engine.TakeEvent(ConfigLoaded, 0));
    EXPECT_FALSE(engine.TakeEvent(ConfigLoaded, 0)) << "each is taken once";
}

// The highest configuration version accepted (and the journal key) live where
// only administrators and the system may read or write them.
TEST_F(RepairEngineTest, TheAcceptedVersionIsKeptWhereOnlyAdministratorsCanWrite)
{
    ASSERT_TRUE(KeepAcceptedConfigVersion(AcceptedConfigVersion()));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Lumora\\LumoraRepair", 0, READ_CONTROL, &key),
              ERROR_SUCCESS);
    std::vector<BYTE> descriptor(4096);
    DWORD size = static_cast<DWORD>(descriptor.size());
    ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size), ERROR_SUCCESS);
    RegCloseKey(key);
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::wstring(text), L"D:P(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)");
    LocalFree(text);
}

TEST_F(RepairEngineTest, EventsAreDroppedOnceTheWindowIsGone)
{
    engine.ReportTo(nullptr);
    EXPECT_FALSE(engine.PostEvent(ConfigLoaded, 0));
    engine.ReportTo(window.Handle());
    EXPECT_TRUE(engine.PostEvent(ConfigLoaded, 0));
    window.Destroy();
    EXPECT_FALSE(engine.PostEvent(ConfigLoaded, 0));

    // A worker whose window closed meanwhile runs to its end without reporting.
    ServeFile(kConfigPath, "[General]\r\ntips=t\r\n");
    EventWindow other;
    ASSERT_TRUE(engine.StartConfigWorker(other.Handle()));
    other.Destroy();
    engine.Shutdown(10000);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_REPAIR_EVENT, WM_REPAIR_EVENT, PM_REMOVE))
        << "the worker posted to a window that was gone";
    EXPECT_TRUE(other.events.empty());
}

TEST_F(RepairEngineTest, PackageWorkerRepairsAFolder)
{
    ScratchFolder game;
    const std::string package = ReadAll(std::wstring(VNK_TEST_DATA) + L"\\package.7z");
    ASSERT_FALSE(package.empty());
    ServeFile("packages/package.7z", package);
    RunPackageWorker(TestUrl(L"/packages/package.7z"), game.Path());

    const std::vector<EventRecord>& events = window.events;
    ASSERT_GE(events.size(), 3u);
    size_t i = 0;
    uint32_t previous = 0;
    for (; i < events.size() && events[i].code == DownloadProgress; ++i) {
        EXPECT_GT(static_cast<uint32_t>(events[i].param), previous);
        previous = static_cast<uint32_t>(events[i].param);
    }
    EXPECT_EQ(previous, package.size()) << "the last progress carries the full size";
    ASSERT_LT(i, events.size());
    EXPECT_EQ(events[i++].code, PackageDownloaded);
    int entry = 0;
    for (; i < events.size() && events[i].code == ExtractionProgress; ++i) {
        EXPECT_EQ(events[i].param & 0xFFFF, ++entry);
        EXPECT_EQ(events[i].param >> 16, 10) << "5 folders and 5 files";
    }
    ASSERT_EQ(i + 1, events.size());
    EXPECT_EQ(events[i].code, ExtractionSucceeded);

    EXPECT_EQ(ReadAll(game / L"Cross\\version.txt"), "26.12.7\n");
    EXPECT_TRUE(FolderExists(game / L"Cross\\logs"));
    EXPECT_FALSE(FileExists(game / L"cross_new.zip")) << "the archive is deleted after extraction";
    EXPECT_FALSE(FileExists(game / L"cross_new.zip.tmp"));
}

TEST_F(RepairEngineTest, PackageWorkerReportsAFailedDownload)
{
    ScratchFolder game;
    const size_t logged = DiagnosticsLogText().size();
    RunPackageWorker(TestUrl(L"/status/404"), game.Path());
    EXPECT_EQ(window.Codes(), std::vector<uint32_t>{PackageDownloadFailed});
    EXPECT_FALSE(FileExists(game / L"cross_new.zip"));
    const std::string log = DiagnosticsLogText().substr(logged);
    EXPECT_NE(log.find("/status/404: failed: HTTP 404, nothing saved"), std::string::npos) << log;
}

TEST_F(RepairEngineTest, PackageWorkerReportsADamagedPackageAndDeletesIt)
{
    ScratchFolder game;
    ServeFile("packages/damaged.7z", ReadAll(std::wstring(VNK_TEST_DATA) + L"\\truncated.7z"));
    RunPackageWorker(TestUrl(L"/packages/damaged.7z"), game.Path());
    const std::vector<uint32_t> codes = window.Codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[codes.size() - 2], PackageDownloaded);
    EXPECT_EQ(codes.back(), ExtractionFailed);
    EXPECT_FALSE(FileExists(game / L"cross_new.zip"));
}

TEST_F(RepairEngineTest, CancelDuringExtractionRollsBackKeepsTheArchiveAndPostsNothingMore)
{
    ScratchFolder game;
    ServeFile("packages/many.7z", ReadAll(std::wstring(VNK_TEST_DATA) + L"\\many.7z"));
    engine.ReportTo(window.Handle());
    engine.UseConfig(PackageAt(TestUrl(L"/packages/many.7z")));
    ASSERT_TRUE(engine.StartPackageWorker(game.Path()));
    ASSERT_TRUE(window.WaitFor(ExtractionProgress, 20000));
    engine.Shutdown(10000);
    window.PumpFor(300);

    const std::vector<uint32_t> codes = window.Codes();
    EXPECT_EQ(codes.back(), ExtractionProgress) << "no closing event after a cancel";
    EXPECT_EQ(NamesIn(game.Path()), std::vector<std::wstring>{L"cross_new.zip"})
        << "a cancelled run keeps the archive, and rolls back what it had unpacked";
}

// A fast download of thousands of chunks while the window's thread looks away
// for 3 s: progress is posted at most every 30 ms, the last chunk always, and
// the run still ends with its closing event.
TEST_F(RepairEngineTest, ProgressIsPostedAtMostEvery30MsAndTheLastChunkAlways)
{
    ScratchFolder game;
    const std::string package = ReadAll(std::wstring(VNK_TEST_DATA) + L"\\big.7z");
    ASSERT_GT(package.size(), 20u << 20);
    ServeFile("packages/big.7z", package);
    engine.ReportTo(window.Handle());
    engine.UseConfig(PackageAt(TestUrl(L"/packages/big.7z")));
    const DWORD start = GetTickCount();
    ASSERT_TRUE(engine.StartPackageWorker(game.Path()));
    Sleep(3000);  // the stalled window thread
    window.PumpUntil([](const std::vector<EventRecord>& events) {
        return !events.empty() && events.back().code == ExtractionSucceeded;
    }, 60000);
    const DWORD took = GetTickCount() - start;

    std::vector<uint32_t> progress;
    for (const EventRecord& event : window.events) {
        if (event.code == DownloadProgress) {
            progress.push_back(static_cast<uint32_t>(event.param));
        }
    }
    ASSERT_FALSE(progress.empty());
    EXPECT_LE(progress.size(), took / 30 + 2) << "one post per 8 KiB chunk would be " << package.size() / 8192;
    EXPECT_EQ(progress.back(), package.size()) << "the last chunk is always shown";
    ASSERT_FALSE(window.events.empty());
    EXPECT_EQ(window.events.back().code, ExtractionSucceeded);
    EXPECT_EQ(ReadAll(game / L"Cross\\big.bin").size(), 24u << 20);
    std::printf("%u progress posts for %u chunks in %lu ms\n", static_cast<unsigned>(progress.size()),
                static_cast<unsigned>(package.size() / 8192), static_cast<unsigned long>(took));
}

TEST_F(RepairEngineTest, AClosingEventThatAFullQueueRefusesIsPostedOnceThereIsRoom)
{
    engine.SetPostMessage(PostIntoFullQueue);
    ServeFile(kConfigPath, "[General]\r\nurl=http://127.0.0.1/p.7z\r\nfilesize=99\r\n");
    g_refusals = 10;
    EXPECT_EQ(RunConfigWorker(), std::vector<uint32_t>{ConfigLoaded});
    EXPECT_LT(g_refusals.load(), 0) << "every refusal was tried again";

    window.events.clear();
    ScratchFolder game;
    g_refusals = 10;
    RunPackageWorker(TestUrl(L"/status/404"), game.Path());
    EXPECT_EQ(window.Codes(), std::vector<uint32_t>{PackageDownloadFailed});
}

TEST_F(RepairEngineTest, AClosingEventIsGivenUpWhenTheWindowIsGone)
{
    engine.SetPostMessage(PostIntoFullQueue);
    g_refusals = 1 << 30;  // never any room
    ServeFile(kConfigPath, "[General]\r\ntips=t\r\n");
    EventWindow other;
    ASSERT_TRUE(engine.StartConfigWorker(other.Handle()));
    Sleep(500);
    EXPECT_FALSE(engine.WaitForWorker(0)) << "the worker keeps trying while the window exists";
    other.Destroy();
    EXPECT_TRUE(engine.WaitForWorker(5000));
}

// With a key built in, a package is unpacked only when it is the one the
// signed configuration announces, to the byte; otherwise the run ends as for a
// damaged package, with nothing written.
TEST_F(RepairEngineTest, WithAKeyOnlyTheAnnouncedPackageIsUnpacked)
{
    const std::string package = ReadAll(std::wstring(VNK_TEST_DATA) + L"\\package.7z");
    std::string changed = package;
    changed[changed.size() / 2] ^= 0x01;
    ServeFile("packages/announced.7z", package);
    ServeFile("packages/changed.7z", changed);
    ServeFile("packages/longer.7z", package + "x");
    engine.SetPackageKey(ReadAll(std::wstring(VNK_TEST_DATA) + L"\\keys\\rsa2048.pub.pem"));
    ScratchFolder digest;
    ASSERT_TRUE(WriteAll(digest / L"package.7z", package));
    std::wstring sha256;
    uint64_t size = 0;
    ASSERT_TRUE(FileDigest(digest / L"package.7z", sha256, size));
    struct Case {
        const char* what;
        const wchar_t* path;
        std::wstring sha256;
        uint32_t closing;
    };
    for (const Case& c : {Case{"announced", L"/packages/announced.7z", sha256, ExtractionSucceeded},
                          Case{"changed after publishing", L"/packages/changed.7z", sha256, ExtractionFailed},
                          Case{"another digest announced", L"/packages/announced.7z", std::wstring(64, L'0'),
                               ExtractionFailed},
                          Case{"longer than announced", L"/packages/longer.7z", sha256, PackageDownloadFailed}}) {
        SCOPED_TRACE(c.what);
        window.events.clear();
        ScratchFolder game;
        RepairConfig config = PackageAt(TestUrl(c.path));
        config.fileSize = static_cast<int32_t>(package.size());
        config.sha256 = c.sha256;
        RunPackageWorker(config, game.Path());
        const std::vector<uint32_t> codes = window.Codes();
        ASSERT_GE(codes.size(), 1u);
        EXPECT_EQ(codes.back(), c.closing);
        EXPECT_EQ(FolderExists(game / L"Cross"), c.closing == ExtractionSucceeded);
        EXPECT_TRUE(NamesIn(game.Path()).empty() || c.closing == ExtractionSucceeded)
            << "the archive is deleted, nothing else written";
    }
}

}  // namespace

// The recovery worker reports what became of a repair a crash cut short, the
// window's only news of it: rolled back, nothing to do, or a journal refused.
TEST_F(RepairEngineTest, TheRecoveryWorkerReportsWhatBecameOfACutShortRepair)
{
    ScratchFolder game;
    CreateDirectoryW((game / L"Cross").c_str(), nullptr);
    WriteAll(game / L"Cross\\version.txt", "1.0");
    const auto before = TreeOf(game.Path());
    ServeFile("packages/package.7z", ReadAll(std::wstring(VNK_TEST_DATA) + L"\\package.7z"));
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", L"1");
    RunPackageWorker(TestUrl(L"/packages/package.7z"), game.Path());
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
    ASSERT_TRUE(FileExists(game / L"LumoraRepair.journal")) << "as a crash would leave it";
    ASSERT_NE(TreeOf(game.Path()), before);

    const struct {
        const char* what;
        const char* journal;  // planted before the start; null: as the last start left it
        int32_t outcome;
    } cases[] = {
        {"a commit cut short", nullptr, RecoveryRolledBack},
        {"no journal", nullptr, NothingToRecover},
        {"a journal this program did not write", "LumoraRepair journal 2\r\ncommit\r\n", RecoveryUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.journal != nullptr) {
            WriteAll(game / L"LumoraRepair.journal", c.journal);
        }
        window.events.clear();
        ASSERT_TRUE(engine.StartRecoveryWorker(window.Handle(), game.Path()));
        ASSERT_TRUE(window.WaitFor(RecoveryEnded, 20000));
        EXPECT_EQ(window.events.back().param, c.outcome);
        engine.Shutdown(10000);
    }
    DeleteFileW((game / L"LumoraRepair.journal").c_str());
    EXPECT_EQ(TreeOf(game.Path()), before) << "rolled back, and nothing else changed";
}
