#include "HttpGet.h"

#include <cwchar>

void OpenHttpGet(const wchar_t* url, InternetHandle& session, InternetHandle& request)
{
    // No agent string and the system's proxy settings, as the maker's servers expect.
    session = InternetHandle(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) {
        return;
    }
    request = InternetHandle(InternetOpenUrlW(session.Get(), url, nullptr, 0,
                                              INTERNET_FLAG_NO_CACHE_WRITE, 0));
}

DWORD HttpStatusOf(const InternetHandle& request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr)) {
        return 0;
    }
    return status;
}

bool HttpContentLengthOf(const InternetHandle& request, uint64_t& length)
{
    // Queried as text: the numeric form is 32-bit and would cut lengths of 4 GiB and more.
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        return false;
    }
    wchar_t* end = nullptr;
    const unsigned long long value = wcstoull(text, &end, 10);
    if (end == text) {
        return false;
    }
    length = value;
    return true;
}
