// Opening a plain GET request with the settings every request of the program uses.
#pragma once

#include "InternetHandle.h"

#include <cstdint>

// Size of one read from a response body, and of the buffer it goes to.
constexpr DWORD kHttpReadChunk = 8192;

// Opens a session with the system's proxy settings and sends the GET request.
// Either handle stays empty when its step fails; the request then is empty too.
void OpenHttpGet(const wchar_t* url, InternetHandle& session, InternetHandle& request);

// The HTTP status of an opened request, or 0 when the protocol has none.
DWORD HttpStatusOf(const InternetHandle& request);

// The Content-Length header of an opened request; false when there is none.
bool HttpContentLengthOf(const InternetHandle& request, uint64_t& length);
