// The remote configuration of one repair, as read from the INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RepairConfig {
    std::wstring url;                       // "url": address of the package
    std::wstring tips;                      // "tips": a notice shown instead of repairing
    std::vector<std::wstring> processNames; // "process_0".."process_N-1"
    int32_t fileSize = 0;                   // "filesize": expected package size in bytes
    std::wstring signature;                 // "signature": base64 signature of the package, if any
};
