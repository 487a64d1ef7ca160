// The download's status line, windowless: its text at a few sizes and times
// left, and an estimate that waits for a rate, doesn't jump with a burst, and
// disappears while no bytes come.
#include "DownloadLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kMB = 1024 * 1024;

TEST(DownloadLineTest, NamesWhatIsInOfWhatAndTheTimeLeft)
{
    const struct {
        uint64_t received, total;
        int secondsLeft;
        const wchar_t* text;
    } cases[] = {
        {1258291, 3565158, 8, L"正在下载 35% (1.2 / 3.4 MB, 约 8 秒)"},
        {0, 3565158, -1, L"正在下载 0% (0.0 / 3.4 MB)"},  // no rate yet
        {3565158, 3565158, -1, L"正在下载 100% (3.4 / 3.4 MB)"},
        {100 * kMB, 1000 * kMB, 59, L"正在下载 10% (100.0 / 1000.0 MB, 约 59 秒)"},
        {100 * kMB, 1000 * kMB, 61, L"正在下载 10% (100.0 / 1000.0 MB, 约 2 分钟)"},
        {1, 1000 * kMB, 5400, L"正在下载 0% (0.0 / 1000.0 MB, 约 1.5 小时)"},
        {512, 1024, 0, L"正在下载 50% (0.0 / 0.0 MB, 约 1 秒)"},
        {5, 0, -1, L"正在下载 0%"},  // nothing announced: the bare percentage
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        EXPECT_EQ(DownloadLineText(c.received, c.total, c.secondsLeft), c.text);
    }
}

TEST(DownloadLineTest, TheEstimateWaitsForARateAndDoesNotJump)
{
    DownloadEstimate estimate;
    const uint64_t total = 100 * kMB;
    DWORD now = 1000;
    estimate.Add(0, total, now);
    EXPECT_EQ(estimate.SecondsLeft(now), -1) << "no rate yet";
    estimate.Add(kMB / 10, total, now += 200);
    EXPECT_EQ(estimate.SecondsLeft(now), -1) << "not half a second of bytes yet";
    // A steady 1 MB a second.
    uint64_t received = kMB / 10;
    for (int i = 0; i < 20; ++i) {
        received += kMB / 2;
        estimate.Add(received, total, now += 500);
    }
    const int steady = estimate.SecondsLeft(now);
    EXPECT_NEAR(steady, static_cast<int>((total - received) / kMB), 5);
    // One burst ten times as fast moves the estimate by a fraction, not tenfold.
    received += 5 * kMB;
    estimate.Add(received, total, now += 500);
    const int afterBurst = estimate.SecondsLeft(now);
    EXPECT_LT(afterBurst, steady);
    EXPECT_GT(afterBurst, steady / 3);
}

TEST(DownloadLineTest, NoEstimateWhileNoBytesComeOrAfterADownloadStartsOver)
{
    DownloadEstimate estimate;
    const uint64_t total = 50 * kMB;
    DWORD now = 5000;
    uint64_t received = 0;
    estimate.Add(received, total, now);
    for (int i = 0; i < 6; ++i) {
        estimate.Add(received += kMB, total, now += 500);
    }
    ASSERT_GT(estimate.SecondsLeft(now), 0);
    EXPECT_EQ(estimate.SecondsLeft(now + DownloadEstimate::kQuietMs), -1) << "a retry: no estimate";
    // Bytes again after the pause: the estimate is of the rate, not of the pause.
    now += 10000;
    estimate.Add(received += kMB, total, now);
    estimate.Add(received += kMB, total, now += 500);
    EXPECT_NEAR(estimate.SecondsLeft(now), static_cast<int>((total - received) / (2 * kMB)), 2);
    // Started over from byte 0: a new estimate, none until its own rate.
    estimate.Add(0, total, now += 100);
    EXPECT_EQ(estimate.SecondsLeft(now), -1);
    // Wrapping tick counts (49 days of uptime) change nothing.
    DownloadEstimate wrapping;
    DWORD tick = 0xFFFFFF00u;
    wrapping.Add(0, total, tick);
    wrapping.Add(kMB, total, tick += 500);
    EXPECT_GT(wrapping.SecondsLeft(tick), 0);
}

}  // namespace
