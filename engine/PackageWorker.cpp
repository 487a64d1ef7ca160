// The package worker: it decides what to fetch (RepairPlan), fetches the whole
// package or the ranges of it that hold damaged files, and unpacks what is to
// be written.
#include "EngineState.h"

#include "DiagnosticsLog.h"
#include "ExtractArchive.h"
#include "FileLinks.h"
#include "FilePosition.h"
#include "RepairPlan.h"
#include "ThreadBoundary.h"

#include <algorithm>
#include <cstddef>

namespace {

// A fast download would post one progress event per 8 KiB chunk and flood the
// window's queue; the display can't show more than this anyway.
constexpr DWORD kProgressIntervalMs = 30;

// Lets through at most one progress report per interval, the first at once,
// and the last one held back when the download ends.
class ProgressThrottle {
public:
    explicit ProgressThrottle(RepairEngine& engine, RepairEvent event) : engine_(engine), event_(event) {}

    void Report(int32_t param)
    {
        last_ = param;
        const DWORD now = GetTickCount();
        holding_ = started_ && now - lastPost_ < kProgressIntervalMs;
        if (!holding_) {
            started_ = true;
            lastPost_ = now;
            engine_.PostEvent(event_, param);
        }
    }

    // The last report is always shown, so that the display ends where the work did.
    void Flush()
    {
        if (holding_) {
            engine_.PostEvent(event_, last_);
            holding_ = false;
        }
    }

private:
    RepairEngine& engine_;
    RepairEvent event_;
    bool started_ = false;
    bool holding_ = false;
    DWORD lastPost_ = 0;
    int32_t last_ = 0;
};

// The package's addresses from the host `first` on: those before it failed already.
std::vector<std::wstring> HostsFrom(const RepairConfig& config, size_t first)
{
    std::vector<std::wstring> hosts = PackageAddresses(config);
    hosts.erase(hosts.begin(), hosts.begin() + static_cast<std::ptrdiff_t>(std::min(first, hosts.size() - 1)));
    return hosts;
}

// Where the package's manifest is fetched to: beside the configuration.
std::wstring LocalManifestPath() { return LocalConfigPath() + L".manifest"; }

}  // namespace

ScopedHandle RepairEngine::OpenPackage(const std::wstring& path) const
{
    ScopedHandle package = state.gameFolder->OpenFile(path, GENERIC_READ, FILE_SHARE_READ, true);
    if (!package.IsValid()) {
        Log(L"can't open " + path + L": " + ErrorText(GetLastError()));
        return package;
    }
    if (IsLinkedFile(package.Get())) {
        Log(L"package refused: " + path + L" is a link, or has another name elsewhere");
        package.Close();
    }
    return package;
}

void RepairEngine::RunPackageWorker()
{
    // The game folder is opened once, here: whatever its path leads to later,
    // the repair acts in the folder it opened. The player may move or delete
    // it once the repair is over: only a partial download kept for the next
    // repair keeps the folder itself open.
    struct LetGo {
        std::shared_ptr<HeldFolder>& folder;
        ~LetGo()
        {
            folder->ReleaseBelow();
            folder.reset();
        }
    } letGo{state.gameFolder};
    state.gameFolder = std::make_shared<HeldFolder>();
    if (!state.gameFolder->Open(installFolder)) {
        PostClosingEvent(ExtractionFailed);  // as for any repair refused before it writes
        return;
    }
    const std::wstring archivePath = state.gameFolder->PathOf(L"cross_new.zip");
    Log(L"repairing " + state.gameFolder->Path());
    progressTotal.store(static_cast<uint32_t>(state.config.fileSize), std::memory_order_relaxed);

    RepairPlan plan;
    if (!PlanThisRepair(plan)) {
        return;
    }
    ScopedHandle package;
    if (plan.kind == RepairPlan::Kind::Ranges) {
        bool wholeInstead = false;
        package = FetchPackageRanges(plan, archivePath, wholeInstead);
        if (!package.IsValid() && !wholeInstead) {
            return;  // its closing event is posted
        }
    }
    if (!package.IsValid()) {
        package = WholePackage(plan, archivePath);
    }
    if (package.IsValid()) {
        Unpack(std::move(package), archivePath, plan.scanned ? &plan.entries : nullptr);
    }
}

bool RepairEngine::PlanThisRepair(RepairPlan& plan)
{
    DownloadOptions options;
    options.cancelled = [this] { return CancelRequested(); };
    ProgressThrottle scanReports(*this, ScanProgress);
    const PlanOutcome planned = PlanRepair(state.config, *state.gameFolder, LocalManifestPath(), options,
                                    [&](size_t checked, size_t count) {
                                        if (CancelRequested()) {
                                            return false;
                                        }
                                        scanReports.Report(PackExtractionProgress(static_cast<int32_t>(checked),
                                                                                  static_cast<int32_t>(count)));
                                        return true;
                                    },
                                    plan);
    scanReports.Flush();
    if (planned == PlanOutcome::Stopped || CancelRequested()) {
        Log(L"repair cancelled: the window closed");
        return false;
    }
    if (planned == PlanOutcome::Refused) {
        PostClosingEvent(ExtractionFailed);  // as for any repair refused before it writes
        return false;
    }
    if (plan.kind == RepairPlan::Kind::NothingDamaged) {
        PostClosingEvent(ExtractionSucceeded);
        return false;
    }
    return true;
}

ScopedHandle RepairEngine::WholePackage(const RepairPlan& plan, const std::wstring& archivePath)
{
    // From the configuration's host, or else from its mirrors in order.
    ScopedHandle package;
    bool damaged = false;
    const std::vector<std::wstring> hosts = HostsFrom(state.config, plan.firstHost);
    for (size_t host = 0; !package.IsValid() && host < hosts.size() && !CancelRequested(); ++host) {
        if (host > 0) {
            Log(hosts[host - 1] + L": given up for this repair; the next host: " + hosts[host]);
        }
        package = WholePackageFrom(hosts[host], archivePath, plan.requests, damaged);
    }
    if (!package.IsValid() && !CancelRequested()) {
        // One that came but is not the package announced counts as a damaged package.
        PostClosingEvent(damaged ? ExtractionFailed : PackageDownloadFailed);
    }
    return package;
}

ScopedHandle RepairEngine::WholePackageFrom(const std::wstring& url, const std::wstring& archivePath,
                                            const std::vector<RangeRequest>& used, bool& damaged)
{
    // Opened once, and nobody can change it while it is open: what is checked
    // is what is unpacked. Anyone on the way may have served the package:
    // unless it is the one the signed configuration announces, nothing of it
    // is unpacked, as for a damaged package. A cache may hold an earlier
    // publication under the same address: it is asked for once more, past it.
    damaged = false;
    for (int pass = 0; pass < 2 && !CancelRequested(); ++pass) {
        if (pass > 0) {
            Log(url + L": asked for once more, past any cache");
        }
        if (!DownloadWholePackage(url, archivePath, pass > 0)) {
            return ScopedHandle();
        }
        // Without a key, the manifest's digests still stand for the bytes that will be used.
        ScopedHandle package = OpenPackage(archivePath);
        if (package.IsValid() && (packageKey.empty() ? RangesCheckOut(package.Get(), used)
                                                     : IsAnnouncedPackage(package.Get(), archivePath))) {
            PostClosingEvent(PackageDownloaded);
            return package;
        }
        package.Close();
        state.gameFolder->Delete(archivePath);
        damaged = true;
    }
    return ScopedHandle();
}

bool RepairEngine::DownloadWholePackage(const std::wstring& url, const std::wstring& archivePath, bool revalidate)
{
    // A body without an announced length never grows past the size the
    // configuration gives (read as the percentage reads it); a failed download
    // is kept for the next repair to resume.
    DownloadOptions options;
    options.limitWithoutLength = static_cast<uint32_t>(state.config.fileSize);
    // A signed configuration announces the exact size: nothing past it is taken.
    if (!packageKey.empty()) {
        options.limit = static_cast<uint32_t>(state.config.fileSize);
    }
    options.partial = &state.partialPackage;
    options.folder = state.gameFolder;
    options.revalidate = revalidate;
    options.againPastCaches = true;
    options.cancelled = [this] { return CancelRequested(); };
    progressTotal.store(static_cast<uint32_t>(state.config.fileSize), std::memory_order_relaxed);
    // What the player waits for, in the log before the first byte is asked for.
    Log(L"fetching the whole package: " + Num(static_cast<uint32_t>(state.config.fileSize)) + L" bytes from " + url);
    ProgressThrottle reports(*this, DownloadProgress);
    const bool downloaded = DownloadFile(url, archivePath, [&](uint32_t received) {
        if (CancelRequested()) {
            return false;
        }
        reports.Report(PackDownloadProgress(received));
        return true;
    }, options);
    reports.Flush();
    return downloaded;
}

ScopedHandle RepairEngine::FetchPackageRanges(const RepairPlan& plan, const std::wstring& archivePath,
                                               bool& wholeInstead)
{
    wholeInstead = false;
    // The package's own size, its fetched ranges at their offsets, the rest
    // never read. Written and then unpacked through this one handle, which
    // nobody else may write or delete meanwhile.
    bool kept = false;
    state.gameFolder->StillThere();
    ScopedHandle package = state.gameFolder->OpenOwnFile(archivePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, false, kept);
    if (!package.IsValid() || !SeekFile(package.Get(), plan.packageSize) || !SetEndOfFile(package.Get())) {
        Log(L"can't make " + archivePath + L": " + ErrorText(GetLastError()));
        package.Close();
        state.gameFolder->Delete(archivePath);
        PostClosingEvent(PackageDownloadFailed);
        return ScopedHandle();
    }
    progressTotal.store(plan.bytesToFetch, std::memory_order_relaxed);
    DownloadOptions options;
    options.cancelled = [this] { return CancelRequested(); };
    ProgressThrottle reports(*this, DownloadProgress);
    const FetchResult result = FetchRanges(HostsFrom(state.config, plan.firstHost), package.Get(), plan.packageSize, plan.requests,
                                           [&](uint64_t fetched, uint64_t total) {
                                               progressTotal.store(total, std::memory_order_relaxed);
                                               reports.Report(PackDownloadProgress(static_cast<uint32_t>(fetched)));
                                               return !CancelRequested();
                                           },
                                           options);
    // The whole package, where a server answered with it: checked as a whole download is.
    const bool whole = result == FetchResult::Whole;
    if (result == FetchResult::Complete ||
        (whole && (packageKey.empty() || IsAnnouncedPackage(package.Get(), archivePath)))) {
        reports.Flush();
        PostClosingEvent(PackageDownloaded);
        return package;
    }
    package.Close();
    state.gameFolder->Delete(archivePath);
    switch (result) {
    case FetchResult::RangesRefused:
        Log(state.config.url + L": the server's answers to ranges can't be used: the whole package is fetched");
        wholeInstead = true;
        break;
    case FetchResult::Whole:  // not the package announced
    case FetchResult::DamagedData:
        PostClosingEvent(ExtractionFailed);  // as for a damaged package: nothing is written
        break;
    case FetchResult::Failed:
        PostClosingEvent(PackageDownloadFailed);
        break;
    default:
        break;  // stopped: the window closed
    }
    return ScopedHandle();
}

void RepairEngine::Unpack(ScopedHandle package, const std::wstring& archivePath, const std::set<std::wstring>* only)
{
    ExtractOutcome outcome;
    try {
        outcome = UnpackArchive(
            package.Get(), archivePath, *state.gameFolder,
            [this](int32_t entry, int32_t count) {
                if (CancelRequested()) {
                    return false;
                }
                VNK_ALLOCATION_SEAM(L"worker");
                PostEvent(ExtractionProgress, PackExtractionProgress(entry, count));
                return true;
            },
            only);
    } catch (...) {
        // The extraction has rolled itself back on the way out; the worker's boundary reports it.
        package.Close();
        state.gameFolder->Delete(archivePath);
        throw;
    }
    package.Close();
    // A cancelled run leaves the archive; the extraction has rolled itself back.
    if (CancelRequested()) {
        Log(L"repair cancelled: the window closed");
        return;
    }
    // Gone before the player hears the end: a window closed at once must not
    // leave it behind, even while a scanner holds it for a moment.
    state.gameFolder->Delete(archivePath);
    PostClosingEvent(outcome.Ok() ? ExtractionSucceeded : ExtractionFailed);
}
