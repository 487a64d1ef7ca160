#pragma once

#include <string>

// The address of the report for one outcome code.
std::wstring UsageReportUrl(int outcome);

// One GET of `url`; the answer is read to its end and thrown away.
void SendReportRequest(const std::wstring& url);

// Sends StatusCode to the statistics server with one GET and reads the answer
// away. Returns when that is done or after 5 seconds at most; every failure is
// silent.
void SendUsageReport();
