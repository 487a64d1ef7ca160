// DownloadFile against the loopback server's behaviours.
#include "BuildSettings.h"
#include "DownloadFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class DownloadFileTest : public ::testing::Test {
protected:
    // One attempt: what a single request does (retries are tried end to end).
    bool Download(const std::wstring& path, DownloadOptions options = OneAttempt())
    {
        return DownloadFile(TestUrl(path), destination, [this](uint32_t total) {
            calls.push_back(total);
            return true;
        }, options);
    }
    static DownloadOptions OneAttempt()
    {
        DownloadOptions options;
        options.attempts = 1;
        return options;
    }
    void ExpectNothingLeft() const
    {
        EXPECT_FALSE(FileExists(destination));
        EXPECT_FALSE(FileExists(destination + L".tmp"));
    }

    ScratchFolder folder;
    std::wstring destination = folder / L"cross_new.zip";
    std::vector<uint32_t> calls;
};

TEST_F(DownloadFileTest, SavesTheBodyAndReportsEachChunkWithTheRunningTotal)
{
    ASSERT_TRUE(Download(L"/data/100000"));
    EXPECT_EQ(ReadAll(destination), Pattern(100000));
    EXPECT_FALSE(FileExists(destination + L".tmp"));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), 100000u);
    uint32_t previous = 0;
    for (uint32_t total : calls) {
        EXPECT_GT(total, previous);
        EXPECT_LE(total - previous, 8192u) << "one call per chunk of at most 8 KiB";
        previous = total;
    }
}

TEST_F(DownloadFileTest, BodyOfExactlyOneChunkGivesOneCall)
{
    ASSERT_TRUE(Download(L"/data/8192"));
    EXPECT_EQ(ReadAll(destination), Pattern(8192));
    EXPECT_EQ(calls, std::vector<uint32_t>{8192});
}

TEST_F(DownloadFileTest, EmptyBodyGivesEmptyFileAndNoCall)
{
    ASSERT_TRUE(Download(L"/empty"));
    EXPECT_TRUE(FileExists(destination));
    EXPECT_EQ(ReadAll(destination), "");
    EXPECT_TRUE(calls.empty());
}

TEST_F(DownloadFileTest, FollowsRedirects)
{
    ASSERT_TRUE(Download(L"/redirect/20000"));
    EXPECT_EQ(ReadAll(destination), Pattern(20000));
}

TEST_F(DownloadFileTest, SlowChunksArriveWhole)
{
    ASSERT_TRUE(Download(L"/slow/30000?chunk=3000&delay=20"));
    EXPECT_EQ(ReadAll(destination), Pattern(30000));
    EXPECT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.back(), 30000u);
}

TEST_F(DownloadFileTest, BodyWithoutContentLengthEndsAtClose)
{
    ASSERT_TRUE(Download(L"/nolength/50000"));
    EXPECT_EQ(ReadAll(destination), Pattern(50000));
}

// An error page is not the file: it used to be saved and reported as success.
TEST_F(DownloadFileTest, ErrorStatusFailsAndSavesNothing)
{
    for (const wchar_t* path : {L"/status/404", L"/status/500", L"/no/such/file.ini"}) {
        calls.clear();
        EXPECT_FALSE(Download(path)) << Narrow(path);
        ExpectNothingLeft();
        EXPECT_TRUE(calls.empty());
    }
}

TEST_F(DownloadFileTest, BodyShorterThanContentLengthFails)
{
    EXPECT_FALSE(Download(L"/short/40000"));
    ExpectNothingLeft();
}

TEST_F(DownloadFileTest, ConnectionResetMidBodyFails)
{
    EXPECT_FALSE(Download(L"/reset/200000"));
    ExpectNothingLeft();
}

TEST_F(DownloadFileTest, NoServerFails)
{
    // Port 1 on loopback: nothing listens there.
    EXPECT_FALSE(DownloadFile(L"http://127.0.0.1:1/x", destination, [](uint32_t) { return true; }, OneAttempt()));
    ExpectNothingLeft();
}

TEST_F(DownloadFileTest, CallbackThatStopsAtOnceFailsAndLeavesNothing)
{
    const bool ok = DownloadFile(TestUrl(L"/data/100000"), destination, [this](uint32_t total) {
        calls.push_back(total);
        return false;
    }, OneAttempt());
    EXPECT_FALSE(ok);
    EXPECT_EQ(calls.size(), 1u);
    ExpectNothingLeft();
}

TEST_F(DownloadFileTest, MissingDestinationFolderFailsWithoutNetworkAccess)
{
    const std::wstring unique = L"/data/777?missing-folder-" + std::to_wstring(GetTickCount());
    EXPECT_FALSE(DownloadFile(TestUrl(unique), folder / L"no\\such\\folder\\file.bin",
                              [](uint32_t) { return true; }, OneAttempt()));
    EXPECT_EQ(ServerLog().find(Narrow(unique)), std::string::npos) << "a request was made";
}

TEST_F(DownloadFileTest, EarlierDestinationIsDeletedEvenWhenTheDownloadFails)
{
    ASSERT_TRUE(WriteAll(destination, "old package"));
    ASSERT_TRUE(WriteAll(destination + L".tmp", "old partial"));
    EXPECT_FALSE(Download(L"/status/404"));
    ExpectNothingLeft();
}

TEST_F(DownloadFileTest, ReplacesAnEarlierDestination)
{
    ASSERT_TRUE(WriteAll(destination, "old package"));
    ASSERT_TRUE(Download(L"/data/1000"));
    EXPECT_EQ(ReadAll(destination), Pattern(1000));
}

// A server that stops sending must not hold a download for good: after the
// stall time-out (shortened for the tests) without a byte, it fails.
TEST_F(DownloadFileTest, AServerThatStopsSendingFailsTheDownloadAfterTheStallTimeout)
{
    for (const wchar_t* path : {L"/hang", L"/stall/100000?after=20000"}) {
        SCOPED_TRACE(Narrow(path));
        calls.clear();
        const DWORD start = GetTickCount();
        EXPECT_FALSE(Download(path));
        const DWORD took = GetTickCount() - start;
        EXPECT_GE(took, VNK_STALL_TIMEOUT_MS - 500u);
        EXPECT_LT(took, 3u * VNK_STALL_TIMEOUT_MS);
        ExpectNothingLeft();
    }
    EXPECT_FALSE(calls.empty()) << "the bytes before the stall were reported";
}

// A trickle is no stall: each byte that comes restarts the wait, and shows.
TEST_F(DownloadFileTest, ATrickleSlowerThanTheStallTimeoutInAllStillCompletes)
{
    const DWORD pause = VNK_STALL_TIMEOUT_MS / 4;
    const std::wstring path = L"/slow/12?chunk=2&delay=" + std::to_wstring(pause);
    ASSERT_TRUE(Download(path));
    EXPECT_EQ(ReadAll(destination), Pattern(12));
    EXPECT_EQ(calls.back(), 12u);
}

// Nothing a server sends can make the file grow past the limit: not an
// announced length, not a body without one; neither is asked for again.
TEST_F(DownloadFileTest, ABodyPastTheLimitFailsAtOnceWithNothingLeft)
{
    DownloadOptions options;
    options.limit = 50000;
    options.firstRetryWaitMs = 10;
    for (const wchar_t* path : {L"/data/50001?limit-announced", L"/nolength/60000?limit-unannounced"}) {
        SCOPED_TRACE(Narrow(path));
        calls.clear();
        EXPECT_FALSE(Download(path, options));
        ExpectNothingLeft();
        EXPECT_TRUE(calls.empty() || calls.back() <= 50000u);
        const std::string log = ServerLog();
        EXPECT_EQ(log.find(Narrow(path)), log.rfind(Narrow(path))) << "asked for once";
    }
    ASSERT_TRUE(Download(L"/data/50000", options)) << "up to the limit is fine";
}

}  // namespace
