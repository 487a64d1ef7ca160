// Fetching some byte ranges of a published package, each by a single-range
// GET over one kept-alive connection, into a local file at the same offsets,
// so that the file can be opened as the package is. Each range is checked by
// the digests of what it holds before it is used; a failure that may pass is
// retried as whole downloads are (DownloadOptions).
#pragma once

#include "DownloadFile.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Bytes whose SHA-256 must be `sha256`: one or more spans of the file.
struct DigestCheck {
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // offset, size
    std::wstring sha256;
};

// One request: bytes [offset, offset + size) of the package; the checks that
// can be made once it is in (their spans lie in this range or earlier ones).
struct RangeRequest {
    uint64_t offset = 0;
    uint64_t size = 0;
    std::vector<DigestCheck> checks;
};

enum class FetchResult {
    Complete,       // every range is in and checked
    RangesRefused,  // the server sends whole files only: take the whole package instead
    Failed,         // the server or the connection failed, after every try
    DamagedData,    // what came doesn't check out, after every try, or is of another file
    Stopped,        // progress or options.cancelled said so
};

// Fetches `requests` of the package at `url` (of `packageSize` bytes) into
// `file`; `progress` gets the bytes fetched so far.
FetchResult FetchRanges(const std::wstring& url, HANDLE file, uint64_t packageSize,
                        const std::vector<RangeRequest>& requests, const std::function<bool(uint64_t)>& progress,
                        const DownloadOptions& options);
