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
    Whole,          // the server answered a range with the whole package, which the file now holds,
                    // every range's digests checked
    RangesRefused,  // the server's answers to ranges can't be used: take the whole package instead
    Failed,         // the server or the connection failed, after every try
    DamagedData,    // what came doesn't check out, after every try, or is of another file
    Stopped,        // progress or options.cancelled said so
};

// Bytes fetched so far, of how many (the ranges' sum, or the package's size
// once a server answers with the whole package); false stops the fetch.
using FetchProgressFn = std::function<bool(uint64_t fetched, uint64_t total)>;

// Fetches `requests` of the package (of `packageSize` bytes) into `file`,
// each from the first of `urls` (its addresses on several hosts) that serves
// it: a host that fails a request after its tries is left for the next, and
// not asked again. An answer that holds more than was asked (a cache's range from an
// earlier, block-aligned offset, the whole package from a server without
// ranges) is used for what was asked; one that doesn't hold it all (another
// file's length, a gap, several parts) is tried again, and in the end the
// whole package is taken instead. After a digest fails, the requests ask
// caches on the way to revalidate (Cache-Control: no-cache).
FetchResult FetchRanges(const std::vector<std::wstring>& urls, HANDLE file, uint64_t packageSize,
                        const std::vector<RangeRequest>& requests, const FetchProgressFn& progress,
                        const DownloadOptions& options);

// Whether every digest of `requests` holds over `file`, a whole package
// downloaded in their place (the first that doesn't is logged).
bool RangesCheckOut(HANDLE file, const std::vector<RangeRequest>& requests);
