#include "DownloadFile.h"

#include "BuildSettings.h"
#include "DiagnosticsLog.h"
#include "HttpGet.h"
#include "ScopedHandle.h"

namespace {

// A long download says how far it got at most this often in the log.
constexpr DWORD kProgressLogIntervalMs = 5000;

enum class Transfer { ReadFailed, WriteFailed, Stopped, Complete };

// Copies the body into the file chunk by chunk, calling progress after each one.
// `error` is the system's code of a failed read or write.
Transfer CopyBody(const std::wstring& url, const InternetHandle& request, HANDLE file,
                  const DownloadProgressFn& progress, uint64_t& received, DWORD& error)
{
    static_assert(kHttpReadChunk == 8192, "one network chunk is 8 KiB");
    char buffer[kHttpReadChunk];
    uint32_t total = 0;  // what the callback sees: 32 bits, wrapping
    DWORD lastLog = GetTickCount();
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(request.Get(), buffer, sizeof(buffer), &count)) {
            error = GetLastError();
            return Transfer::ReadFailed;
        }
        if (count == 0) {
            return Transfer::Complete;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer, count, &written, nullptr) || written != count) {
            error = GetLastError();
            return Transfer::WriteFailed;  // disk full or similar: never report a cut file as complete
        }
        received += count;
        total += count;
        if (!progress(total)) {
            return Transfer::Stopped;
        }
        if (GetTickCount() - lastLog >= kProgressLogIntervalMs) {
            lastLog = GetTickCount();
            Log(url + L": " + Num(received) + L" bytes so far");
        }
    }
}

std::wstring Speed(uint64_t bytes, DWORD ms)
{
    return Num(ms == 0 ? bytes / 1024 : bytes * 1000 / ms / 1024) + L" KB/s";
}

}  // namespace

bool DownloadFile(const std::wstring& url, const std::wstring& destination,
                  const DownloadProgressFn& progress)
{
    const std::wstring temporary = destination + L".tmp";
    Log(L"GET " + url);

    DeleteFileW(destination.c_str());
    DeleteFileW(temporary.c_str());

    ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        Log(L"can't create " + temporary + L": " + ErrorText(GetLastError()));
        DeleteFileW(temporary.c_str());
        return false;
    }

    const DWORD start = GetTickCount();
    bool complete = false;
    {
        const HttpGet get(url.c_str(), VNK_STALL_TIMEOUT_MS);
        const InternetHandle& request = get.Request();
        if (!request) {
            Log(url + L": no answer: " + ErrorText(get.Error()));
        } else {
            // An error page is not the file we asked for.
            const DWORD status = get.Status();
            const bool statusOk = status == 0 || (status >= 200 && status < 300);
            uint64_t announced = 0;
            const bool hasLength = get.ContentLength(announced);
            Log(url + L": HTTP " + Num(status) +
                (hasLength ? L", Content-Length " + Num(announced) : std::wstring(L", no Content-Length")));
            uint64_t received = 0;
            DWORD error = 0;
            const Transfer transfer =
                statusOk ? CopyBody(url, request, file.Get(), progress, received, error) : Transfer::Stopped;
            const DWORD took = GetTickCount() - start;
            if (!statusOk) {
                Log(url + L": failed: HTTP " + Num(status) + L", nothing saved");
            } else if (transfer == Transfer::ReadFailed) {
                Log(url + L": failed after " + Num(received) + L" bytes: " + ErrorText(error));
            } else if (transfer == Transfer::WriteFailed) {
                Log(url + L": writing " + temporary + L" failed after " + Num(received) + L" bytes: " +
                    ErrorText(error));
            } else if (transfer == Transfer::Stopped) {
                Log(url + L": stopped after " + Num(received) + L" bytes");
            } else if (hasLength && received != announced) {
                // A connection that ends early looks like a normal end of the body.
                Log(url + L": failed: the connection ended after " + Num(received) + L" of " + Num(announced) +
                    L" bytes");
            } else {
                complete = true;
                Log(url + L": " + Num(received) + L" bytes in " + Num(took) + L" ms (" + Speed(received, took) +
                    L")");
            }
        }
        // The file is closed first, then the request and its session.
        if (!file.Close() && complete) {
            Log(L"can't finish writing " + temporary + L": " + ErrorText(GetLastError()));
            complete = false;
        }
    }

    if (complete) {
        if (MoveFileW(temporary.c_str(), destination.c_str())) {
            return true;
        }
        Log(L"can't move " + temporary + L" to " + destination + L": " + ErrorText(GetLastError()));
        return false;
    }
    DeleteFileW(temporary.c_str());
    return false;
}
