#include "UsageReport.h"

#include "BuildSettings.h"
#include "DiagnosticsLog.h"
#include "HttpGet.h"
#include "ScopedHandle.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace {

DWORD WINAPI ReportThreadProc(LPVOID parameter)
{
    const std::unique_ptr<std::wstring> url(static_cast<std::wstring*>(parameter));
    SendReportRequest(*url);
    return 0;
}

}  // namespace

std::wstring UsageReportUrl(int outcome)
{
    wchar_t url[1024];
    swprintf(url, 1024,
             L"http://%ls/lua/common/data_report_to_appsvr?report_id=36117&uin=%ls&g_tk=1&data=%d",
             VNK_REPORT_HOST, L"520481376", outcome);
    return url;
}

void SendUsageReport(int outcome)
{
    // On a thread of its own, so that the wait for it has an end whatever WinINet
    // does; a thread still running then ends with the process. The thread owns
    // the address from the moment it runs.
    auto url = std::make_unique<std::wstring>(UsageReportUrl(outcome));
    const ScopedHandle thread(CreateThread(nullptr, 0, ReportThreadProc, url.get(), 0, nullptr));
    if (!thread.IsValid()) {
        Log(L"usage report not sent: no thread: " + ErrorText(GetLastError()));
        return;
    }
    url.release();
    if (WaitForSingleObject(thread.Get(), kReportTimeoutMs) != WAIT_OBJECT_0) {
        Log(L"usage report: no answer within " + Num(kReportTimeoutMs / 1000) +
            L" s, the program ends without it");
    }
}

void SendReportRequest(const std::wstring& url)
{
    HttpGet get;
    if (!get.Send(url.c_str(), kReportTimeoutMs)) {
        Log(L"usage report not sent: " + ErrorText(get.Error()));
        return;
    }
    // The answer means nothing to us, but is read to its end before we go.
    char buffer[kHttpReadChunk];
    DWORD count = 0;
    while (get.Read(buffer, sizeof(buffer), count) && count != 0) {
    }
    Log(L"usage report sent: " + url + L", HTTP " + Num(get.Status()));
}
