// Fetching one resource over HTTP into a file, through a ".tmp" file beside it,
// with retries, resumption and a bound on what a server can make us write.
#pragma once

#include "HeldFolder.h"
#include "ProgressCallbacks.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// What is kept of a download that failed, so that a later call asks the server
// for the rest only. Its file is "<destination>.tmp".
struct PartialDownload {
    std::wstring url;
    std::wstring file;
    std::wstring validator;  // the first answer's strong ETag, else its Last-Modified
    uint64_t total = 0;      // the whole file's length, as that answer announced it
    std::shared_ptr<HeldFolder> folder;  // where `file` is

    // Deletes the partial file and forgets it.
    void Discard();
};

// How long a request may go without a byte before it counts as stalled: the
// build's setting (VNK_STALL_TIMEOUT_MS), 30 s unless a test build shortens it.
DWORD DefaultStallTimeoutMs();

struct DownloadOptions {
    // The folder the destination lies in, held open (see HeldFolder.h): every
    // act on the destination and its ".tmp" goes through it. Null: the
    // destination's folder is opened for this download.
    std::shared_ptr<HeldFolder> folder;
    // Most bytes taken whatever the server announces; 0: no bound.
    uint64_t limit = 0;
    // Most bytes taken when the server announces no length; 0: no bound.
    uint64_t limitWithoutLength = 0;
    // Where a failed download's partial file is remembered for the next call;
    // null: every attempt starts over and nothing is kept.
    PartialDownload* partial = nullptr;
    // Ends a wait between attempts (and so the download) when it returns true.
    std::function<bool()> cancelled;
    // Ask caches on the way to revalidate (Cache-Control: no-cache): for what
    // may change under its address, or came wrong from a cache before.
    bool revalidate = false;
    // A body longer than it may be is asked for once more, revalidating: a
    // cache may hold another publication under the address. Otherwise it
    // fails at once.
    bool againPastCaches = false;
    // Tries of a download whose failure may pass (no connection, a broken or
    // stalled one, a body cut short, HTTP 408, 429, 500, 502, 503, 504), with
    // a wait before each further try that starts here and doubles.
    unsigned attempts = 4;
    DWORD firstRetryWaitMs = 1000;
    // Connecting, sending, and each wait for the answer or a piece of its body
    // give up after this long without a byte.
    DWORD stallTimeoutMs = DefaultStallTimeoutMs();
};

// True only when the whole body of a 2xx response has been written and the
// temporary file has become the destination. Any earlier destination file is
// deleted at the start, and an earlier temporary file too unless `partial`
// describes it for this address. `progress` gets the bytes in the file so far,
// which go back to 0 when a download starts over. A failure leaves no
// destination; it leaves the temporary file only when `partial` now describes
// it, or when the final move failed.
bool DownloadFile(const std::wstring& url, const std::wstring& destination, const DownloadProgressFn& progress,
                  const DownloadOptions& options = DownloadOptions());

// Deletes the file `path` itself (as HeldFolder::Delete does), its folder
// opened for it: for scratch files of the program's own, in the temporary folder.
bool DeleteFromFolderOf(const std::wstring& path);
