#include "DownloadLine.h"

#include <cmath>
#include <cwchar>

namespace {

// How much of each new half-second sample the smoothed rate takes: a burst
// moves the estimate by a tenth of the difference, the rate of the last five
// seconds or so counts.
constexpr double kWeight = 0.1;

std::wstring Megabytes(uint64_t bytes)
{
    wchar_t text[32];
    swprintf(text, 32, L"%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::wstring TimeLeft(int seconds)
{
    wchar_t text[32];
    if (seconds < 60) {
        swprintf(text, 32, L"约 %d 秒", seconds < 1 ? 1 : seconds);
    } else if (seconds < 3600) {
        swprintf(text, 32, L"约 %d 分钟", (seconds + 59) / 60);
    } else {
        swprintf(text, 32, L"约 %.1f 小时", seconds / 3600.0);
    }
    return text;
}

}  // namespace

void DownloadEstimate::Add(uint64_t received, uint64_t total, DWORD nowMs)
{
    if (!started_ || received < received_ || total != total_) {
        Reset();
        started_ = true;
        received_ = sampleBytes_ = received;
        total_ = total;
        lastByteMs_ = sampleMs_ = nowMs;
        return;
    }
    if (nowMs - lastByteMs_ >= kQuietMs) {
        // Bytes again after a pause: neither the pause nor what came at its
        // end, in a time not known, is part of the rate.
        sampleBytes_ = received;
        sampleMs_ = nowMs;
    }
    if (received > received_) {
        lastByteMs_ = nowMs;
    }
    received_ = received;
    const DWORD elapsed = nowMs - sampleMs_;
    if (elapsed >= kSampleMs) {
        const double sample = static_cast<double>(received - sampleBytes_) / elapsed;
        rate_ = rate_ == 0 ? sample : rate_ + kWeight * (sample - rate_);
        sampleBytes_ = received;
        sampleMs_ = nowMs;
    }
}

int DownloadEstimate::SecondsLeft(DWORD nowMs) const
{
    if (!started_ || rate_ <= 0 || nowMs - lastByteMs_ >= kQuietMs || received_ >= total_) {
        return -1;
    }
    return static_cast<int>(std::ceil(static_cast<double>(total_ - received_) / rate_ / 1000.0));
}

std::wstring DownloadLineText(uint64_t received, uint64_t total, int secondsLeft)
{
    const uint64_t percent = total == 0 ? 0 : received * 100 / total;
    wchar_t head[32];
    swprintf(head, 32, L"正在下载 %d%%", static_cast<int>(percent));
    if (total == 0) {
        return head;
    }
    std::wstring line = std::wstring(head) + L" (" + Megabytes(received) + L" / " + Megabytes(total) + L" MB";
    if (secondsLeft >= 0) {
        line += L", " + TimeLeft(secondsLeft);
    }
    return line + L")";
}
