#pragma once

#include <string>

// The address of the report for one outcome code.
std::wstring UsageReportUrl(int outcome);

// Sends StatusCode to the statistics server with one GET and reads the answer
// away. Synchronous; every failure is silent.
void SendUsageReport();
