#include "HttpGet.h"

#include "DiagnosticsLog.h"

#include <atomic>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

struct UrlParts {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query
};

bool SplitUrl(const WinInetApi& api, const wchar_t* url, UrlParts& parts)
{
    // Each part is copied into a buffer of its own that can hold the whole
    // address (pointers into the address itself are a later Windows' feature).
    const size_t room = wcslen(url) + 1;
    std::wstring host(room, L'\0');
    std::wstring path(room, L'\0');
    std::wstring query(room, L'\0');
    URL_COMPONENTSW components = {};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = &host[0];
    components.dwHostNameLength = static_cast<DWORD>(room);
    components.lpszUrlPath = &path[0];
    components.dwUrlPathLength = static_cast<DWORD>(room);
    components.lpszExtraInfo = &query[0];
    components.dwExtraInfoLength = static_cast<DWORD>(room);
    if (!api.InternetCrackUrlW(url, 0, 0, &components)) {
        return false;
    }
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
        return false;
    }
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(host.c_str(), components.dwHostNameLength);
    parts.port = components.nPort;
    parts.object.assign(path.c_str(), components.dwUrlPathLength);
    parts.object.append(query.c_str(), components.dwExtraInfoLength);
    return !parts.host.empty();
}

}  // namespace

bool HttpConnection::Open(const wchar_t* url)
{
    const WinInetApi* const api = WinInet();
    if (api == nullptr) {
        error_ = ERROR_MOD_NOT_FOUND;
        return false;
    }
    UrlParts parts;
    if (!SplitUrl(*api, url, parts)) {
        error_ = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return false;
    }
    object_ = parts.object;
    secure_ = parts.secure;
    // No agent string and the system's proxy settings, as the maker's servers expect.
    session_ = InternetHandle(api->InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session_) {
        error_ = GetLastError();
        return false;
    }
    connection_ = InternetHandle(api->InternetConnectW(session_.Get(), parts.host.c_str(), parts.port, nullptr,
                                                       nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection_) {
        error_ = GetLastError();
        return false;
    }
    return true;
}

bool HttpGet::Send(const wchar_t* url, DWORD stallTimeoutMs, const std::wstring& headers, DWORD flags)
{
    if (!own_.Open(url)) {
        error_ = own_.Error();
        return false;
    }
    return Send(own_, stallTimeoutMs, headers, flags);
}

bool HttpGet::Send(const HttpConnection& connection, DWORD stallTimeoutMs, const std::wstring& headers, DWORD flags)
{
    if (!connection.Connection()) {
        error_ = connection.Error();
        return false;
    }
    const WinInetApi* const api = WinInet();
    flags |= INTERNET_FLAG_NO_CACHE_WRITE | (connection.Secure() ? INTERNET_FLAG_SECURE : 0);
    // Any type of answer, as a URL opened in one call would ask for; without it
    // a server may take us for a reader of text only.
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    InternetHandle request(api->HttpOpenRequestW(connection.Connection().Get(), L"GET", connection.Object().c_str(),
                                                 nullptr, nullptr, acceptTypes, flags, 0));
    if (!request) {
        error_ = GetLastError();
        return false;
    }
    // Set on the request before it is sent, the time-outs also bound the wait
    // for the answer's headers, which a URL opened in one call would not allow
    // everywhere. A failure leaves the system's defaults.
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        api->InternetSetOptionW(request.Get(), option, &stallTimeoutMs, sizeof(stallTimeoutMs));
    }
    // Redirects are followed, as for any request of WinINet's.
    if (!api->HttpSendRequestW(request.Get(), headers.empty() ? nullptr : headers.c_str(),
                               static_cast<DWORD>(headers.size()), nullptr, 0)) {
        error_ = GetLastError();
        return false;
    }
    request_ = std::move(request);
    return true;
}

bool HttpGet::Read(char* buffer, DWORD size, DWORD& count) const
{
    count = 0;
    return request_ && WinInet()->InternetReadFile(request_.Get(), buffer, size, &count) != FALSE;
}

namespace {
std::atomic<bool> proxyAskedForLogin{false};
}

bool ProxyAskedForLogin() { return proxyAskedForLogin.load(); }

void ForgetProxyLogin() { proxyAskedForLogin.store(false); }

DWORD HttpGet::Status() const
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!request_ || !WinInet()->HttpQueryInfoW(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        return 0;
    }
    if (status == HTTP_STATUS_PROXY_AUTH_REQ && !proxyAskedForLogin.exchange(true)) {
        Log(L"the proxy server asks for a login (HTTP 407): this program can't give one");
    }
    return status;
}

bool HttpGet::ContentLength(uint64_t& length) const
{
    // Queried as text: the numeric form is 32-bit and would cut lengths of 4 GiB and more.
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!request_ || !WinInet()->HttpQueryInfoW(request_.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
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

std::wstring HttpGet::Header(DWORD query) const
{
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!request_ || !WinInet()->HttpQueryInfoW(request_.Get(), query, text, &size, nullptr)) {
        return std::wstring();
    }
    return std::wstring(text, size / sizeof(wchar_t));
}
