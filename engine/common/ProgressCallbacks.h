// Progress callbacks of the download and the extraction; both return false to stop.
#pragma once

#include <cstdint>
#include <functional>

// Bytes received so far (wraps at 4 GiB).
using DownloadProgressFn = std::function<bool(uint32_t received)>;
// Number of the entry just finished (from 1) and the number of entries.
using ExtractProgressFn = std::function<bool(int32_t entry, int32_t count)>;
