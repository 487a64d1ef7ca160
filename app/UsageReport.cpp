#include "UsageReport.h"

#include "AppState.h"
#include "BuildSettings.h"
#include "HttpGet.h"

#include <cwchar>

std::wstring UsageReportUrl(int outcome)
{
    wchar_t url[1024];
    swprintf(url, 1024,
             L"http://%ls/lua/common/data_report_to_appsvr?report_id=36117&uin=%ls&g_tk=1&data=%d",
             VNK_REPORT_HOST, L"520481376", outcome);
    return url;
}

void SendUsageReport() { SendReportRequest(UsageReportUrl(StatusCode)); }

void SendReportRequest(const std::wstring& url)
{
    InternetHandle session;
    InternetHandle request;
    OpenHttpGet(url.c_str(), session, request);
    if (!request) {
        return;
    }
    // The answer means nothing to us, but is read to its end before we go.
    char buffer[kHttpReadChunk];
    DWORD count = 0;
    while (InternetReadFile(request.Get(), buffer, sizeof(buffer), &count) && count != 0) {
    }
}
