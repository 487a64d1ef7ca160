// The check of a game folder against a package's manifest, before anything is
// downloaded: which of the package's files are missing or differ from the
// published ones. Files the manifest doesn't list (the player's own) are never
// looked at. Files marked "keep" count only when missing. The files are read
// in large pieces on a few threads at once.
#pragma once

#include "HeldFolder.h"
#include "PackageManifest.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ScanResult {
    std::vector<size_t> damagedFiles;    // indices into the manifest's files
    std::vector<size_t> missingFolders;  // indices into its folders
    size_t checked = 0;                  // files looked at
    uint64_t bytesRead = 0;
};

// Files checked so far and how many there are; false to stop the scan.
using ScanProgressFn = std::function<bool(size_t checked, size_t count)>;

enum class ScanOutcome {
    Complete,
    Stopped,  // `progress` said so
    Refused,  // a link on the way to a file of the package, or a scan that failed (logged)
};

// Scans `folder` (the game folder). What the repair would refuse to act
// through, the scan refuses to read through: a junction, symbolic link or
// mount point below the game folder, or a folder there that can't be held.
ScanOutcome ScanGameFolder(HeldFolder& folder, const PackageManifest& manifest,
                           const ScanProgressFn& progress, ScanResult& result);
