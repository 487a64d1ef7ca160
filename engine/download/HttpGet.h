// Plain GET requests with the settings every request of the program uses.
#pragma once

#include "InternetHandle.h"

#include <cstdint>
#include <string>

// Whether a proxy on the way answered 407 (it wants a login, which the
// program has none of) since ForgetProxyLogin; logged once when it does.
bool ProxyAskedForLogin();
void ForgetProxyLogin();

// Size of one read from a response body, and of the buffer it goes to.
constexpr DWORD kHttpReadChunk = 8192;

// A session with the system's proxy settings (WinINet, loaded from the system
// folder) and a connection to the server of one address, kept for several
// requests so that they go over one kept-alive connection.
class HttpConnection {
public:
    HttpConnection() = default;
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // False when the address isn't an HTTP one or WinINet fails; Error() says why.
    bool Open(const wchar_t* url);

    const InternetHandle& Connection() const { return connection_; }
    // The address's path and query, which every request of it asks for.
    const std::wstring& Object() const { return object_; }
    bool Secure() const { return secure_; }
    DWORD Error() const { return error_; }

private:
    // Declared in the order of opening; closed the other way round.
    InternetHandle session_;
    InternetHandle connection_;
    std::wstring object_;
    bool secure_ = false;
    DWORD error_ = 0;
};

class HttpGet {
public:
    HttpGet() = default;
    HttpGet(const HttpGet&) = delete;
    HttpGet& operator=(const HttpGet&) = delete;

    // Sends the request, with `headers` ("Name: value\r\n" lines) and `flags`
    // added to the request's own; false when any step failed (Error() says
    // why). Connecting, sending and every wait for the answer (its headers and
    // each read of its body) give up after `stallTimeoutMs` without a byte, so
    // that a server that stops answering can't hold the caller. The first form
    // opens a connection of its own.
    bool Send(const wchar_t* url, DWORD stallTimeoutMs, const std::wstring& headers = std::wstring(),
              DWORD flags = 0);
    bool Send(const HttpConnection& connection, DWORD stallTimeoutMs, const std::wstring& headers = std::wstring(),
              DWORD flags = 0);

    // The request whose body can be read; empty when any step failed.
    const InternetHandle& Request() const { return request_; }

    // The system's code of the step that failed, when Request() is empty.
    DWORD Error() const { return error_; }

    // Reads the next piece of the body into `buffer`; a `count` of 0 with true
    // is its end. False when the connection broke (GetLastError tells why).
    bool Read(char* buffer, DWORD size, DWORD& count) const;

    // The HTTP status of the answer, or 0 when there is none.
    DWORD Status() const;

    // The Content-Length header of the answer; false when there is none.
    bool ContentLength(uint64_t& length) const;

    // A header of the answer as text (HTTP_QUERY_ETAG, ...); empty when there is none.
    std::wstring Header(DWORD query) const;

private:
    HttpConnection own_;  // the first form's
    InternetHandle request_;
    DWORD error_ = 0;
};
