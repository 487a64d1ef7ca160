// The download's status line: "正在下载 35% (1.2 / 3.4 MB, 约 8 秒)", what is
// in of what is fetched, and a time left that doesn't jump: estimated from the
// rate smoothed over the recent seconds, shown only once there is a rate and
// not while no bytes come (a retry, a stall).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class DownloadEstimate {
public:
    // `received` bytes of `total` are in at `nowMs` (GetTickCount). Fewer
    // than before (a download that started over) begin the estimate anew.
    void Add(uint64_t received, uint64_t total, DWORD nowMs);
    // Whole seconds left at `nowMs`; -1 while there is no rate yet, or when no
    // byte has come for kQuietMs.
    int SecondsLeft(DWORD nowMs) const;
    void Reset() { *this = DownloadEstimate(); }

    // No estimate is shown after this long without a byte.
    static constexpr DWORD kQuietMs = 2000;

private:
    static constexpr DWORD kSampleMs = 500;  // the rate is measured over at least this long

    bool started_ = false;
    uint64_t received_ = 0, total_ = 0;
    DWORD lastByteMs_ = 0;
    uint64_t sampleBytes_ = 0;
    DWORD sampleMs_ = 0;
    double rate_ = 0;  // bytes a millisecond, smoothed; 0: none yet
};

// The line for `received` of `total` bytes, `secondsLeft` as SecondsLeft
// gives it (-1: none shown).
std::wstring DownloadLineText(uint64_t received, uint64_t total, int secondsLeft);
