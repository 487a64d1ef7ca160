// Fetching one resource over HTTP into a file, through a ".tmp" file beside it.
#pragma once

#include "ProgressCallbacks.h"

#include <string>

// True only when the whole body of a 2xx response has been written and the
// temporary file has become the destination. Any earlier destination file is
// deleted at the start; a failure leaves neither file behind (except a
// complete temporary file whose final move failed).
bool DownloadFile(const std::wstring& url, const std::wstring& destination,
                  const DownloadProgressFn& progress);
