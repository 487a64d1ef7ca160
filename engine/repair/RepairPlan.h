// What a repair fetches and rewrites, decided before anything is downloaded:
// with the package's manifest, the game folder is scanned, and only the
// blocks of the package that hold damaged files are fetched (with the
// archive's header), and only those files rewritten. Without a usable
// manifest, or where the damage is so wide that the blocks needed come close
// to the whole package, the whole package is fetched as before.
#pragma once

#include "FetchRanges.h"
#include "FolderScan.h"
#include "PackageManifest.h"
#include "RepairConfig.h"

#include <set>
#include <string>
#include <vector>

struct RepairPlan {
    enum class Kind {
        Whole,           // fetch the whole package
        NothingDamaged,  // fetch nothing, write nothing
        Ranges,          // fetch `requests` into a package file of `packageSize` bytes
    };
    Kind kind = Kind::Whole;
    bool scanned = false;            // `entries` says what to write; else every entry
    std::set<std::wstring> entries;  // the archive's names of the damaged files and missing folders
    std::vector<RangeRequest> requests;
    uint64_t packageSize = 0;
    uint64_t bytesToFetch = 0;
    // Of PackageAddresses(config), the first worth asking: the hosts before it
    // failed to serve the manifest and are not asked again in this repair.
    size_t firstHost = 0;
};

enum class PlanOutcome {
    Planned,
    Stopped,  // the scan's progress, or the options' cancellation, said so
    Refused,  // the game folder can't be scanned as the repair would act on it (logged)
};

// The plan for repairing `folder` as `config` announces the package. The
// manifest is fetched into `manifestPath` (a scratch file) and must be exactly
// what the configuration names; `scanProgress` reports the scan and can stop it.
PlanOutcome PlanRepair(const RepairConfig& config, HeldFolder& folder, const std::wstring& manifestPath,
                const DownloadOptions& options, const ScanProgressFn& scanProgress, RepairPlan& plan);

// Neighbouring ranges this close are fetched as one: a few bytes more cost
// less than another request.
constexpr uint64_t kMergeGap = 64 * 1024;

// The requests for the archive's start, the blocks `needed` (indexes into
// manifest.blocks) and the header, neighbours kMergeGap or less apart merged,
// each with the digests it lets us check.
std::vector<RangeRequest> RequestsFor(const PackageManifest& manifest, const std::set<int64_t>& needed);
