// The usage report against the loopback server, and the program's exit without one.
#include "TestSupport.h"
#include "UsageReport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Whole lines only: the server's "hang ended <path>" line holds the path too.
size_t Count(const std::string& log, const std::string& line)
{
    std::istringstream lines(log);
    size_t n = 0;
    for (std::string each; std::getline(lines, each);) {
        if (each == line) {
            ++n;
        }
    }
    return n;
}

const char kReport[] = "/lua/common/data_report_to_appsvr?report_id=36117&uin=520481376&g_tk=1&data=";

TEST(UsageReportTest, SendsTheOutcomeAndReadsTheWholeAnswer)
{
    const size_t before = Count(ServerLog(), std::string(kReport) + "8");
    const size_t completeBefore = Count(ServerLog(), "report answer read completely");
    SendUsageReport(8);
    Sleep(200);  // the server logs after its last write
    const std::string log = ServerLog();
    EXPECT_EQ(Count(log, std::string(kReport) + "8"), before + 1) << log;
    EXPECT_EQ(Count(log, "report answer read completely"), completeBefore + 1);
}

TEST(UsageReportTest, AddressCarriesTheCodeInDecimal)
{
    EXPECT_EQ(Narrow(UsageReportUrl(2)),
              "http://" + Narrow(VNK_REPORT_HOST_FOR_TESTS) + std::string(kReport) + "2");
    EXPECT_EQ(Narrow(UsageReportUrl(-1)).substr(Narrow(UsageReportUrl(-1)).size() - 8), "&data=-1");
}

TEST(UsageReportTest, NoServerIsHarmless)
{
    const DWORD start = GetTickCount();
    SendReportRequest(L"http://127.0.0.1:1/lua/common/data_report_to_appsvr?data=3");
    EXPECT_LT(GetTickCount() - start, 30000u);
}

// The report is sent after the window is gone; a statistics server that
// accepts and then says nothing must not keep the process alive.
TEST(UsageReportTest, AStalledStatisticsServerHoldsTheExitAtMostFiveSeconds)
{
    const std::wstring marker = std::wstring(VNK_TEST_WWW) + L"\\lua\\common\\data_report_to_appsvr.hang";
    ServeFile("lua/common/data_report_to_appsvr.hang", "");
    const size_t before = Count(ServerLog(), std::string(kReport) + "3");
    const DWORD start = GetTickCount();
    SendUsageReport(3);
    const DWORD took = GetTickCount() - start;
    DeleteFileW(marker.c_str());
    EXPECT_GE(took, 4500u);
    EXPECT_LT(took, 6500u);
    EXPECT_EQ(Count(ServerLog(), std::string(kReport) + "3"), before + 1) << "the request was sent";
}

}  // namespace
