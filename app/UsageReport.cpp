#include "UsageReport.h"

#include "AppState.h"
#include "BuildSettings.h"
#include "DiagnosticsLog.h"
#include "HttpGet.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace {

// The report is sent after the window is gone: a statistics server that stops
// answering must not keep an invisible, elevated process alive for longer.
constexpr DWORD kReportTimeoutMs = 5000;

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

void SendUsageReport()
{
    // On a thread of its own, so that the wait for it has an end whatever WinINet
    // does; a thread still running then ends with the process.
    auto* url = new std::wstring(UsageReportUrl(StatusCode));
    HANDLE thread = CreateThread(nullptr, 0, ReportThreadProc, url, 0, nullptr);
    if (thread == nullptr) {
        Log(L"usage report not sent: no thread: " + ErrorText(GetLastError()));
        delete url;
        return;
    }
    if (WaitForSingleObject(thread, kReportTimeoutMs) != WAIT_OBJECT_0) {
        Log(L"usage report: no answer within 5 s, the program ends without it");
    }
    CloseHandle(thread);
}

void SendReportRequest(const std::wstring& url)
{
    const HttpGet get(url.c_str(), kReportTimeoutMs);
    const InternetHandle& request = get.Request();
    if (!request) {
        Log(L"usage report not sent: " + ErrorText(get.Error()));
        return;
    }
    // The answer means nothing to us, but is read to its end before we go.
    char buffer[kHttpReadChunk];
    DWORD count = 0;
    while (InternetReadFile(request.Get(), buffer, sizeof(buffer), &count) && count != 0) {
    }
    Log(L"usage report sent: " + url + L", HTTP " + Num(get.Status()));
}
