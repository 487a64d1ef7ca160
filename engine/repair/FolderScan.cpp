#include "FolderScan.h"

#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "ScopedHandle.h"
#include "Sha256.h"
#include "ThreadBoundary.h"
#include "WorkerThreads.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

// Read in pieces this large: few calls, and the next piece is read while
// another thread hashes.
constexpr DWORD kReadPiece = 1u << 20;
// How often the scan says how far it got.
constexpr DWORD kProgressIntervalMs = 50;

// What the workers share: the next file to take, and each file's verdict.
struct ScanJob {
    HeldFolder* folder = nullptr;
    const PackageManifest* manifest = nullptr;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> refused{false};  // a link met, or a worker failed: the scan counts for nothing
    std::vector<char> damaged;  // one a file; written by the worker that took it
};

// Whether the file at `path` is the published one: its size, then its digest.
// The name itself is looked at and opened, never what a link there points to.
bool IsIntact(const std::wstring& path, const ManifestFile& file, Sha256& sha, std::vector<char>& buffer,
              ScanJob& job)
{
    ScopedHandle handle = job.folder->OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false, true);
    if (!handle.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_CANT_ACCESS_FILE) {
            job.refused = true;  // a link (logged)
            return false;
        }
        if (IsMissing(error)) {
            return false;
        }
        // A folder where the file is counts as damaged; one that is a link refuses the scan.
        const DWORD attributes = job.folder->Attributes(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            job.refused = true;
            job.folder->RefuseLink(path);
        } else if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            Log(L"can't open " + path + L": " + ErrorText(error) + L"; it counts as damaged");
        }
        return false;
    }
    if (file.keep) {
        return true;  // the game's own: present is enough
    }
    // A file of another size fails below as its bytes run past the size, or
    // end before it: no call of its own for the size, which costs every
    // intact file one more.
    if (!sha.Start()) {
        return false;
    }
    uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handle.Get(), buffer.data(), kReadPiece, &read, nullptr)) {
            Log(L"can't read " + path + L": " + ErrorText(GetLastError()) + L"; it counts as damaged");
            return false;
        }
        if (read == 0) {
            break;
        }
        total += read;
        job.bytesRead += read;
        if (total > file.size || !sha.Add(buffer.data(), read)) {
            return false;
        }
    }
    std::wstring hex;
    return total == file.size && sha.FinishHex(hex) && hex == file.sha256;
}

void ScanFiles(ScanJob& job)
{
    VNK_ALLOCATION_SEAM(L"scan");
    Sha256 sha;
    std::vector<char> buffer(kReadPiece);
    const std::vector<ManifestFile>& files = job.manifest->files;
    for (size_t i = job.next++; i < files.size() && !job.stop && !job.refused; i = job.next++) {
        job.damaged[i] = !IsIntact(PathBelow(job.folder->Path(), files[i].path), files[i], sha, buffer, job);
        ++job.done;
    }
}

DWORD WINAPI ScanThreadProc(LPVOID parameter)
{
    ScanJob& job = *static_cast<ScanJob*>(parameter);
    if (!RunGuarded(L"a thread of the scan", [&job] { ScanFiles(job); })) {
        job.refused = true;
    }
    return 0;
}

// Checks, and holds for the scan, every folder below the game folder that the
// manifest's files and folders pass or are; false (logged) at a link or a
// folder that can't be held.
bool HoldFolders(HeldFolder& folder, const PackageManifest& manifest)
{
    for (const ManifestFile& file : manifest.files) {
        if (!folder.HoldFoldersOf(PathBelow(folder.Path(), file.path))) {
            return false;
        }
    }
    for (const std::wstring& entry : manifest.folders) {
        // The folder itself too: as the last of the folders on the way to a name inside it.
        if (!folder.HoldFoldersOf(PathBelow(folder.Path(), entry) + L"\\")) {
            return false;
        }
    }
    return true;
}

}  // namespace

ScanOutcome ScanGameFolder(HeldFolder& folder, const PackageManifest& manifest, const ScanProgressFn& progress,
                           ScanResult& result)
{
    result = ScanResult();
    if (!HoldFolders(folder, manifest)) {
        return ScanOutcome::Refused;
    }
    ScanJob job;
    job.folder = &folder;
    job.manifest = &manifest;
    job.damaged.assign(manifest.files.size(), 0);

    // A thread a processor reads and hashes; the calling thread reports, and
    // scans what is left if no thread could be made. The threads use `job`
    // until they end: `threads` is declared after it, and joins them first.
    WorkerThreads threads;
    for (unsigned i = 0; i < WorkerThreadCount(manifest.files.size()); ++i) {
        threads.Start(ScanThreadProc, &job);
    }
    const auto report = [&] {
        bool going = false;
        if (!RunGuarded(L"reporting the scan", [&] { going = progress(job.done, manifest.files.size()); })) {
            job.refused = true;
        }
        return going;
    };
    if (!threads.PollUntilEnded(kProgressIntervalMs, report)) {
        job.stop = true;
    }
    ScanThreadProc(&job);
    threads.Join();
    if (job.refused) {
        return ScanOutcome::Refused;
    }
    if (job.stop || !report()) {
        return job.refused ? ScanOutcome::Refused : ScanOutcome::Stopped;
    }

    for (size_t i = 0; i < manifest.files.size(); ++i) {
        if (job.damaged[i]) {
            result.damagedFiles.push_back(i);
        }
    }
    for (size_t i = 0; i < manifest.folders.size(); ++i) {
        const DWORD attributes = folder.Attributes(PathBelow(folder.Path(), manifest.folders[i]));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            result.missingFolders.push_back(i);
        }
    }
    result.checked = job.done;
    result.bytesRead = job.bytesRead;
    return ScanOutcome::Complete;
}
