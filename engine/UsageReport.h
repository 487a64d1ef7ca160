#pragma once

#include <windows.h>

#include <string>

// The report is sent after the window is gone: a statistics server that stops
// answering must not keep an invisible, elevated process alive for longer.
constexpr DWORD kReportTimeoutMs = 5000;

// The address of the report for one outcome code.
std::wstring UsageReportUrl(int outcome);

// One GET of `url`; the answer is read to its end and thrown away.
void SendReportRequest(const std::wstring& url);

// Sends `outcome` to the statistics server with one GET and reads the answer
// away. Returns when that is done or after kReportTimeoutMs at most; every
// failure is silent.
void SendUsageReport(int outcome);
