#include "RepairPlan.h"

#include "AsciiCase.h"
#include "CompactManifest.h"
#include "DiagnosticsLog.h"
#include "Sha256.h"
#include "SmallFile.h"

#include <algorithm>

namespace {

// The first damaged files named in the log.
constexpr size_t kNamesLogged = 5;

// Whether `bytes` are those of the manifest `named`, to the byte; `hex` their SHA-256.
bool IsNamedManifest(const NamedManifest& named, const std::string& bytes, std::wstring& hex)
{
    Sha256 sha;
    return sha.Start() && sha.Add(bytes.data(), bytes.size()) && sha.FinishHex(hex) && bytes.size() == named.size &&
           SameAsciiNoCase(named.sha256, hex.c_str());
}

// The manifest's bytes from `url`, exactly those the configuration names; a
// cache on the way may hold an earlier publication's under the same address,
// so what isn't the one named is asked for once more, past it. What came is
// kept at `path` for the next repair when it is the one named. False (logged)
// otherwise.
bool FetchManifestFrom(const NamedManifest& named, const std::wstring& url, const std::wstring& path,
                       DownloadOptions options, std::string& bytes)
{
    for (int pass = 0; pass < 2; ++pass) {
        options.revalidate = pass > 0;
        const bool fetched = DownloadFile(url, path, [](uint32_t) { return true; }, options) &&
                             ReadSmallFile(path, named.size, bytes);
        if (!fetched) {
            DeleteFromFolderOf(path);
            Log(url + L": the package's manifest can't be had there");
            return false;
        }
        std::wstring hex;
        if (IsNamedManifest(named, bytes, hex)) {
            return true;
        }
        DeleteFromFolderOf(path);
        Log(url + L": not the manifest the configuration names (" + Num(bytes.size()) + L" bytes, SHA-256 " + hex +
            L")" + (pass == 0 ? L": asked for once more, past any cache" : L""));
    }
    return false;
}

// The manifest kept at `path` by an earlier repair, where it is still the one
// the configuration names: checked again, in memory, before each use, since
// anyone may have changed the file since. One that isn't is deleted.
bool KeptManifest(const NamedManifest& named, const std::wstring& path, std::string& bytes)
{
    if (!ReadSmallFile(path, named.size, bytes)) {
        DeleteFromFolderOf(path);  // none, or larger than the one named
        return false;
    }
    std::wstring hex;
    if (IsNamedManifest(named, bytes, hex)) {
        Log(L"the manifest kept from an earlier repair is the one the configuration names: nothing to fetch for it");
        return true;
    }
    Log(L"the manifest kept from an earlier repair is not the one the configuration names: fetched anew");
    DeleteFromFolderOf(path);
    return false;
}

// The manifest the configuration names, to the byte: the one kept from an
// earlier repair, or from the first host that has it; false (logged) when
// none has.
bool FetchManifest(const RepairConfig& config, const std::wstring& path, const DownloadOptions& baseOptions,
                   PackageManifest& manifest, size_t& host)
{
    const NamedManifest named = ManifestToUse(config);
    DownloadOptions options = baseOptions;
    options.limit = named.size;
    options.partial = nullptr;
    // A cache may hold another publication's manifest under the address, and
    // a compact one of another publication may be a few bytes longer: asked
    // for once more, past the cache, rather than taken as none to be had.
    options.againPastCaches = true;
    std::string bytes;
    bool fetched = named.size > 0 && KeptManifest(named, path, bytes);
    host = 0;
    for (; !fetched && named.size > 0 && host <= config.mirrors.size(); ++host) {
        if (options.cancelled && options.cancelled()) {
            return false;
        }
        if ((fetched = FetchManifestFrom(named, ManifestAddress(config, named, host), path, options, bytes))) {
            break;
        }
    }
    if (!fetched) {
        host = 0;  // the package is still asked of every host
        Log(L"the package's manifest can't be had: the whole package is fetched");
        return false;
    }
    std::wstring error;
    if (!(named.compact ? ParseCompactManifest(bytes, manifest, error) : ParseManifest(bytes, manifest, error))) {
        Log(L"the package's manifest can't be used (" + error + L"): the whole package is fetched");
        return false;
    }
    if (manifest.packageSize != static_cast<uint32_t>(config.fileSize)) {
        Log(L"the manifest is of a package of " + Num(manifest.packageSize) +
            L" bytes, not the one announced: the whole package is fetched");
        return false;
    }
    return true;
}

void LogScan(const std::wstring& folder, const PackageManifest& manifest, const ScanResult& scan, DWORD took)
{
    std::wstring names;
    for (size_t i = 0; i < scan.damagedFiles.size() && i < kNamesLogged; ++i) {
        names += (i == 0 ? L" (" : L", ") + manifest.files[scan.damagedFiles[i]].path;
    }
    if (!names.empty()) {
        names += scan.damagedFiles.size() > kNamesLogged ? L", ...)" : L")";
    }
    Log(L"scan of " + folder + L": " + Num(scan.checked) + L" files checked in " + Num(took) + L" ms (" +
        Num(scan.bytesRead) + L" bytes read): " + Num(scan.damagedFiles.size()) + L" damaged or missing" + names +
        L", " + Num(scan.missingFolders.size()) + L" folders missing");
}

}  // namespace

PlanOutcome PlanRepair(const RepairConfig& config, HeldFolder& gameFolder, const std::wstring& manifestPath,
                       const DownloadOptions& options, const ScanProgressFn& scanProgress, RepairPlan& plan)
{
    plan = RepairPlan();
    PackageManifest manifest;
    if (ManifestToUse(config).url.empty() || !FetchManifest(config, manifestPath, options, manifest, plan.firstHost)) {
        return options.cancelled && options.cancelled() ? PlanOutcome::Stopped : PlanOutcome::Planned;
    }
    ScanResult scan;
    const std::wstring& folder = gameFolder.Path();
    const DWORD start = GetTickCount();
    switch (ScanGameFolder(gameFolder, manifest, scanProgress, scan)) {
    case ScanOutcome::Complete:
        break;
    case ScanOutcome::Stopped:
        Log(L"scan of " + folder + L" stopped");
        return PlanOutcome::Stopped;
    case ScanOutcome::Refused:
        Log(L"scan of " + folder + L" refused: nothing is repaired");
        return PlanOutcome::Refused;
    }
    LogScan(folder, manifest, scan, GetTickCount() - start);

    plan.scanned = true;
    std::set<int64_t> needed;
    for (size_t i : scan.damagedFiles) {
        plan.entries.insert(manifest.files[i].path);
        if (manifest.files[i].block >= 0) {
            needed.insert(manifest.files[i].block);
        }
    }
    for (size_t i : scan.missingFolders) {
        plan.entries.insert(manifest.folders[i]);
    }
    if (plan.entries.empty()) {
        plan.kind = RepairPlan::Kind::NothingDamaged;
        Log(L"nothing to repair: all " + Num(scan.checked) + L" files of the package are intact");
        return PlanOutcome::Planned;
    }
    plan.packageSize = manifest.packageSize;
    plan.requests = RequestsFor(manifest, needed);
    for (const RangeRequest& request : plan.requests) {
        plan.bytesToFetch += request.size;
    }
    const unsigned percent = static_cast<unsigned>(plan.bytesToFetch * 100 / std::max<uint64_t>(plan.packageSize, 1));
    if (plan.bytesToFetch * 4 >= plan.packageSize * 3) {
        Log(L"the damaged files' blocks make " + Num(percent) + L"% of the package: the whole package is fetched");
        return PlanOutcome::Planned;  // Kind::Whole, writing only what is damaged
    }
    plan.kind = RepairPlan::Kind::Ranges;
    Log(L"fetching " + Num(plan.bytesToFetch) + L" bytes (" + Num(percent) + L"% of the package): " +
        Num(needed.size()) + L" of its " + Num(manifest.blocks.size()) + L" blocks and its header, in " +
        Num(plan.requests.size()) + L" ranges");
    return PlanOutcome::Planned;
}

std::vector<RangeRequest> RequestsFor(const PackageManifest& manifest, const std::set<int64_t>& needed)
{
    std::vector<RangeRequest> spans;
    spans.push_back(RangeRequest{0, kArchiveStartBytes, {}});
    for (int64_t block : needed) {
        const ManifestRange& range = manifest.blocks[static_cast<size_t>(block)];
        spans.push_back(RangeRequest{range.offset, range.size, {DigestCheck{{{range.offset, range.size}}, range.sha256}}});
    }
    const ManifestRange& header = manifest.header;
    spans.push_back(RangeRequest{header.offset, header.size,
                                 {DigestCheck{{{0, kArchiveStartBytes}, {header.offset, header.size}}, header.sha256}}});
    std::vector<RangeRequest> requests;
    for (RangeRequest& span : spans) {
        if (span.size == 0 && span.checks.empty()) {
            continue;
        }
        if (!requests.empty() && span.offset - (requests.back().offset + requests.back().size) <= kMergeGap) {
            RangeRequest& last = requests.back();
            last.size = span.offset + span.size - last.offset;
            last.checks.insert(last.checks.end(), span.checks.begin(), span.checks.end());
        } else {
            requests.push_back(std::move(span));
        }
    }
    return requests;
}
