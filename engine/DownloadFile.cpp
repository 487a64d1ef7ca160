#include "DownloadFile.h"

#include "BuildSettings.h"
#include "HttpGet.h"
#include "ScopedHandle.h"

namespace {

enum class Transfer { Failed, Complete };

// Copies the body into the file chunk by chunk, calling progress after each one.
Transfer CopyBody(const InternetHandle& request, HANDLE file, const DownloadProgressFn& progress,
                  uint64_t& received)
{
    static_assert(kHttpReadChunk == 8192, "one network chunk is 8 KiB");
    char buffer[kHttpReadChunk];
    uint32_t total = 0;  // what the callback sees: 32 bits, wrapping
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(request.Get(), buffer, sizeof(buffer), &count)) {
            return Transfer::Failed;
        }
        if (count == 0) {
            return Transfer::Complete;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer, count, &written, nullptr) || written != count) {
            return Transfer::Failed;  // disk full or similar: never report a cut file as complete
        }
        received += count;
        total += count;
        if (!progress(total)) {
            return Transfer::Failed;
        }
    }
}

}  // namespace

bool DownloadFile(const std::wstring& url, const std::wstring& destination,
                  const DownloadProgressFn& progress)
{
    const std::wstring temporary = destination + L".tmp";

    DeleteFileW(destination.c_str());
    DeleteFileW(temporary.c_str());

    ScopedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        DeleteFileW(temporary.c_str());
        return false;
    }

    bool complete = false;
    {
        const HttpGet get(url.c_str(), VNK_STALL_TIMEOUT_MS);
        const InternetHandle& request = get.Request();
        if (request) {
            // An error page is not the file we asked for.
            const DWORD status = get.Status();
            const bool statusOk = status == 0 || (status >= 200 && status < 300);
            uint64_t received = 0;
            if (statusOk && CopyBody(request, file.Get(), progress, received) == Transfer::Complete) {
                // A connection that ends early looks like a normal end of the body;
                // the announced length tells them apart.
                uint64_t announced = 0;
                complete = !get.ContentLength(announced) || received == announced;
            }
        }
        // The file is closed first, then the request and its session.
        if (!file.Close()) {
            complete = false;
        }
    }

    if (complete) {
        return MoveFileW(temporary.c_str(), destination.c_str()) != FALSE;
    }
    DeleteFileW(temporary.c_str());
    return false;
}
