#include "DownloadFile.h"

#include "BuildSettings.h"
#include "DiagnosticsLog.h"
#include "DownloadRetry.h"
#include "HttpGet.h"
#include "ScopedHandle.h"

DWORD DefaultStallTimeoutMs() { return VNK_STALL_TIMEOUT_MS; }

namespace {

// A long download says how far it got at most this often in the log.
constexpr DWORD kProgressLogIntervalMs = 5000;

std::wstring Speed(uint64_t bytes, DWORD ms)
{
    return Num(ms == 0 ? bytes / 1024 : bytes * 1000 / ms / 1024) + L" KB/s";
}

// The file that receives the body, and how much it holds.
class PartFile {
public:
    explicit PartFile(HeldFolder& folder) : folder_(folder) {}

    // Opens `path`, keeping what it holds when `keep`. A file that is a link,
    // or has another name elsewhere, is never written to: it is replaced by a
    // new, empty one.
    bool Open(const std::wstring& path, bool keep)
    {
        path_ = path;
        size_ = 0;
        bool kept = false;
        file_ = folder_.OpenOwnFile(path, GENERIC_WRITE, FILE_SHARE_WRITE, keep, kept);
        if (!file_.IsValid() || !kept) {
            if (keep && file_.IsValid()) {
                Log(path + L" was not the file kept from before (a link, or a file with another name): from byte 0");
            }
            return file_.IsValid();
        }
        LONG high = 0;
        const DWORD low = SetFilePointer(file_.Get(), 0, &high, FILE_END);
        if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
            file_.Close();
            return false;
        }
        size_ = uint64_t(static_cast<DWORD>(high)) << 32 | low;
        return true;
    }

    // Empties the file for a download that starts from its first byte.
    bool StartOver()
    {
        file_.Close();
        return Open(path_, false);
    }

    bool Append(const char* data, DWORD count)
    {
        DWORD written = 0;
        if (!WriteFile(file_.Get(), data, count, &written, nullptr) || written != count) {
            return false;
        }
        size_ += count;
        return true;
    }

    uint64_t Size() const { return size_; }
    bool Close() { return file_.Close(); }

private:
    HeldFolder& folder_;
    std::wstring path_;
    ScopedHandle file_;
    uint64_t size_ = 0;
};


// How one attempt, or the whole download, ended: Retry is an attempt's
// failure that may pass; GaveUp, the download's after its last attempt failed
// so, and what it holds may be resumed later.
enum class Outcome { Complete, Retry, GaveUp, Fail, Stopped };

struct AttemptResult {
    Outcome outcome;
    std::wstring reason;   // why it did not complete, for the log
    bool tooLong = false;  // longer than it may be
};

// The attempts of one download into one file.
class Download {
public:
    Download(const std::wstring& url, PartFile& file, const DownloadProgressFn& progress,
             const DownloadOptions& options)
        : url_(url), file_(file), progress_(progress), options_(options)
    {
    }

    // Where a later attempt may resume, learnt from the first whole answer.
    void Resume(const std::wstring& validator, uint64_t total)
    {
        validator_ = validator;
        total_ = total;
    }
    const std::wstring& Validator() const { return validator_; }
    uint64_t Total() const { return total_; }

    // The file holds a beginning that the server can be asked to complete.
    bool Resumable() const
    {
        return !validator_.empty() && total_ > 0 && file_.Size() > 0 && file_.Size() < total_;
    }

    Outcome Run()
    {
        for (unsigned attempt = 1;; ++attempt) {
            const AttemptResult result = Attempt();
            if (result.outcome == Outcome::Fail && result.tooLong && options_.againPastCaches && !revalidate_) {
                // A cache on the way may hold another file under this address: once more, past it.
                Log(url_ + L": asked for once more, past any cache");
                revalidate_ = true;
                validator_.clear();
                total_ = 0;
                if (!file_.StartOver()) {
                    return Outcome::Fail;
                }
                --attempt;
                continue;
            }
            if (result.outcome != Outcome::Retry) {
                return result.outcome;
            }
            if (attempt >= options_.attempts) {
                Log(url_ + L": failed: " + result.reason + L" (attempt " + Num(attempt) + L" of " +
                    Num(options_.attempts) + L")");
                return Outcome::GaveUp;
            }
            const DWORD wait = options_.firstRetryWaitMs << (attempt - 1);
            Log(url_ + L": attempt " + Num(attempt) + L" failed: " + result.reason + L"; attempt " +
                Num(attempt + 1) + L" of " + Num(options_.attempts) + L" in " + Num(wait) + L" ms, " +
                (Resumable() ? L"resuming at byte " + Num(file_.Size()) : std::wstring(L"from byte 0")));
            if (!Wait(wait)) {
                Log(url_ + L": stopped while waiting to try again");
                return Outcome::Stopped;
            }
        }
    }

private:
    AttemptResult Attempt()
    {
        const uint64_t from = file_.Size();
        const bool resume = Resumable();
        if (from > 0 && !resume && !file_.StartOver()) {
            return {Outcome::Fail, L"can't empty the partial file: " + ErrorText(GetLastError())};
        }
        // If-Range: the rest only of the same file; a changed file comes whole.
        const std::wstring headers =
            (resume ? L"Range: bytes=" + Num(from) + L"-\r\nIf-Range: " + validator_ + L"\r\n" : std::wstring()) +
            (revalidate_ ? kRevalidateHeaders : L"");
        const DWORD start = GetTickCount();
        // Never from a cache: a byte range must count the server's file.
        HttpGet get;
        if (!get.Send(url_.c_str(), options_.stallTimeoutMs, headers, INTERNET_FLAG_RELOAD)) {
            return {Outcome::Retry, L"no answer: " + ErrorText(get.Error())};
        }
        const DWORD status = get.Status();
        uint64_t length = 0;
        const bool hasLength = get.ContentLength(length);
        Log(url_ + L": HTTP " + Num(status) +
            (hasLength ? L", Content-Length " + Num(length) : std::wstring(L", no Content-Length")));

        if (status == 206 && resume) {
            const std::wstring range = get.Header(HTTP_QUERY_CONTENT_RANGE);
            if (range != L"bytes " + Num(from) + L"-" + Num(total_ - 1) + L"/" + Num(total_)) {
                return StartOverAfter(L"a partial answer for another range (Content-Range \"" + range + L"\")");
            }
            Log(url_ + L": the server resumed at byte " + Num(from) + L" of " + Num(total_) + L" (HTTP 206)");
            return CopyBody(get, total_, start);
        }
        if (status == 416 || status == 206) {
            return StartOverAfter(L"HTTP " + Num(status) + L" for a range the server did not keep");
        }
        // An answer without a status line (WinINet gives 0 for an HTTP/0.9
        // server's) is taken as a body, as before statuses were looked at.
        if (status == 0 || (status >= 200 && status < 300)) {
            if (from > 0) {
                Log(url_ + L": the server sent the whole file again (HTTP " + Num(status) + L"): from byte 0");
                if (!file_.StartOver()) {
                    return {Outcome::Fail, L"can't empty the partial file: " + ErrorText(GetLastError())};
                }
            }
            // Only a strong validator can stand for the bytes of a range.
            const std::wstring etag = get.Header(HTTP_QUERY_ETAG);
            validator_ = !hasLength ? std::wstring()
                         : (!etag.empty() && etag[0] == L'"') ? etag
                                                              : get.Header(HTTP_QUERY_LAST_MODIFIED);
            total_ = hasLength ? length : 0;
            return CopyBody(get, total_, start);
        }
        if (IsPassingStatus(status)) {
            return {Outcome::Retry, L"HTTP " + Num(status)};
        }
        Log(url_ + L": failed: HTTP " + Num(status) + L", nothing saved");
        return {Outcome::Fail, L"HTTP " + Num(status)};
    }

    AttemptResult StartOverAfter(const std::wstring& reason)
    {
        validator_.clear();
        total_ = 0;
        if (!file_.StartOver()) {
            return {Outcome::Fail, L"can't empty the partial file: " + ErrorText(GetLastError())};
        }
        return {Outcome::Retry, reason + L"; starting over"};
    }

    // Copies the body into the file chunk by chunk, calling progress after
    // each one. `end` is the file's announced size (0: none announced); the
    // file never grows past it or past the options' limits.
    AttemptResult CopyBody(const HttpGet& get, uint64_t end, DWORD start)
    {
        static_assert(kHttpReadChunk == 8192, "one network chunk is 8 KiB");
        uint64_t bound = end != 0 ? end : options_.limitWithoutLength;
        if (options_.limit != 0 && (bound == 0 || options_.limit < bound)) {
            bound = options_.limit;
        }
        if (end != 0 && end > bound) {
            Log(url_ + L": failed: announces " + Num(end) + L" bytes, more than the " + Num(bound) + L" allowed");
            return {Outcome::Fail, L"too long", true};
        }
        const uint64_t from = file_.Size();
        char buffer[kHttpReadChunk];
        DWORD lastLog = GetTickCount();
        for (;;) {
            DWORD count = 0;
            if (!get.Read(buffer, sizeof(buffer), count)) {
                return {Outcome::Retry, L"the connection broke after byte " + Num(file_.Size()) + L": " +
                                            ErrorText(GetLastError())};
            }
            if (count == 0) {
                break;
            }
            if (bound != 0 && file_.Size() + count > bound) {
                Log(url_ + L": failed: the body goes on past " + Num(bound) + L" bytes");
                return {Outcome::Fail, L"too long", true};
            }
            if (!file_.Append(buffer, count)) {
                // Disk full or similar: never report a cut file as complete.
                Log(url_ + L": writing failed after " + Num(file_.Size()) + L" bytes: " + ErrorText(GetLastError()));
                return {Outcome::Fail, L"write failed"};
            }
            if (!progress_(static_cast<uint32_t>(file_.Size()))) {
                Log(url_ + L": stopped after " + Num(file_.Size()) + L" bytes");
                return {Outcome::Stopped, L"stopped"};
            }
            if (GetTickCount() - lastLog >= kProgressLogIntervalMs) {
                lastLog = GetTickCount();
                Log(url_ + L": " + Num(file_.Size()) + L" bytes so far");
            }
        }
        // A connection that ends early looks like a normal end of the body.
        if (end != 0 && file_.Size() != end) {
            return {Outcome::Retry, L"the connection ended after " + Num(file_.Size()) + L" of " + Num(end) +
                                        L" bytes"};
        }
        const DWORD took = GetTickCount() - start;
        const uint64_t received = file_.Size() - from;
        Log(url_ + L": " + Num(received) + L" bytes in " + Num(took) + L" ms (" + Speed(received, took) + L")");
        return {Outcome::Complete, std::wstring()};
    }

    bool Wait(DWORD ms) { return WaitUnlessCancelled(ms, options_.cancelled); }

    const std::wstring& url_;
    PartFile& file_;
    const DownloadProgressFn& progress_;
    const DownloadOptions& options_;
    std::wstring validator_;
    uint64_t total_ = 0;
    bool revalidate_ = options_.revalidate;
};

}  // namespace

void PartialDownload::Discard()
{
    if (!file.empty()) {
        std::shared_ptr<HeldFolder> in = folder != nullptr ? folder : OpenFolderOf(file);
        if (in != nullptr) {
            in->Delete(file);
        }
    }
    *this = PartialDownload();
}

bool DownloadFile(const std::wstring& url, const std::wstring& destination, const DownloadProgressFn& progress,
                  const DownloadOptions& options)
{
    const std::wstring temporary = destination + L".tmp";
    Log(L"GET " + url);
    const std::shared_ptr<HeldFolder> folder = options.folder != nullptr ? options.folder : OpenFolderOf(destination);
    if (folder == nullptr || !folder->StillThere()) {
        return false;
    }
    folder->Delete(destination);

    // A partial file is only ever continued from the address it came from, in the same folder.
    PartialDownload* const partial = options.partial;
    const bool keep = partial != nullptr && partial->url == url && partial->file == temporary &&
                      partial->folder != nullptr && partial->folder->Identity() == folder->Identity();
    if (partial != nullptr && !keep) {
        partial->Discard();
    }
    if (!keep) {
        folder->Delete(temporary);
    }

    PartFile file(*folder);
    if (!file.Open(temporary, keep)) {
        Log(L"can't create " + temporary + L": " + ErrorText(GetLastError()));
        folder->Delete(temporary);
        if (partial != nullptr) {
            *partial = PartialDownload();
        }
        return false;
    }
    Download download(url, file, progress, options);
    if (keep) {
        download.Resume(partial->validator, partial->total);
        Log(url + L": " + Num(file.Size()) + L" of " + Num(partial->total) + L" bytes kept from before");
    }

    Outcome outcome = download.Run();
    const bool resumable = download.Resumable();
    if (!file.Close() && outcome == Outcome::Complete) {
        Log(L"can't finish writing " + temporary + L": " + ErrorText(GetLastError()));
        outcome = Outcome::Fail;
    }
    if (partial != nullptr) {
        *partial = PartialDownload();
    }
    if (outcome == Outcome::Complete) {
        if (folder->StillThere() && folder->Move(temporary, destination)) {
            return true;
        }
        Log(L"can't move " + temporary + L" to " + destination + L": " + ErrorText(GetLastError()));
        return false;
    }
    // Only a download that may still pass keeps what it has, for the next call.
    if (outcome == Outcome::GaveUp && resumable && partial != nullptr) {
        *partial = PartialDownload{url, temporary, download.Validator(), download.Total(), folder};
        Log(url + L": keeping " + temporary + L" to resume");
        return false;
    }
    folder->Delete(temporary);
    return false;
}

bool DeleteFromFolderOf(const std::wstring& path)
{
    const std::shared_ptr<HeldFolder> folder = OpenFolderOf(path);
    return folder != nullptr && folder->Delete(path);
}
