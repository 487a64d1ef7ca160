#include "FetchRanges.h"

#include "DiagnosticsLog.h"
#include "DownloadRetry.h"
#include "FilePosition.h"
#include "HttpGet.h"
#include "Sha256.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The SHA-256 of the check's spans, read back from `file`, is the expected one.
bool ChecksOut(HANDLE file, const DigestCheck& check, std::wstring& found)
{
    Sha256 sha;
    std::vector<char> buffer(1u << 20);
    if (!sha.Start()) {
        return false;
    }
    for (const auto& span : check.spans) {
        if (!SeekFile(file, span.first)) {
            return false;
        }
        for (uint64_t left = span.second; left > 0;) {
            const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, buffer.size()));
            DWORD read = 0;
            if (!ReadFile(file, buffer.data(), want, &read, nullptr) || read != want || !sha.Add(buffer.data(), read)) {
                return false;
            }
            left -= read;
        }
    }
    return sha.FinishHex(found) && found == check.sha256;
}

// The first of `checks` that doesn't hold over `file`, with why in `reason`; null when all hold.
const DigestCheck* FailedCheck(HANDLE file, const std::vector<DigestCheck>& checks, std::wstring& reason)
{
    for (const DigestCheck& check : checks) {
        std::wstring found;
        if (!ChecksOut(file, check, found)) {
            reason = L"the bytes at " + Num(check.spans.back().first) + L" have SHA-256 " + found +
                     L", where the manifest says " + check.sha256;
            return &check;
        }
    }
    return nullptr;
}

enum class Attempt { Complete, Whole, Retry, Unusable, Failed, DamagedData, Stopped };

constexpr DWORD kRangeReadBytes = 64 * 1024;

// The decimal number at `at` in `text`, at most 18 digits, followed by `end`
// (or by nothing, for '\0'); false otherwise. `at` moves past both.
bool NumberUpTo(const std::wstring& text, size_t& at, wchar_t end, uint64_t& value)
{
    const size_t start = at;
    value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9' && at - start < 18; ++at) {
        value = value * 10 + static_cast<uint64_t>(text[at] - L'0');
    }
    if (at == start || (end == L'\0' ? at != text.size() : at >= text.size() || text[at] != end)) {
        return false;
    }
    ++at;
    return true;
}

// "bytes FIRST-LAST/TOTAL"; false for anything else (a multi-part answer has none).
bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& last, uint64_t& total)
{
    size_t at = 6;
    return text.compare(0, at, L"bytes ") == 0 && NumberUpTo(text, at, L'-', first) &&
           NumberUpTo(text, at, L'/', last) && NumberUpTo(text, at, L'\0', total) && first <= last && last < total;
}

class RangeFetcher {
public:
    RangeFetcher(const std::vector<std::wstring>& urls, HANDLE file, uint64_t packageSize,
                 const std::vector<RangeRequest>& requests, const FetchProgressFn& progress,
                 const DownloadOptions& options)
        : urls_(urls), file_(file), packageSize_(packageSize), requests_(requests), progress_(progress),
          options_(options)
    {
        for (const RangeRequest& request : requests) {
            total_ += request.size;
        }
    }

    // Each request from the first host that serves it; a host that fails is
    // not asked again.
    FetchResult Run()
    {
        for (const RangeRequest& request : requests_) {
            FetchResult result = FetchResult::Failed;
            for (;;) {
                result = Connect() ? Fetch(request) : FetchResult::Failed;
                const bool hostFailed = result == FetchResult::Failed || result == FetchResult::DamagedData ||
                                        result == FetchResult::RangesRefused;
                if (!hostFailed || !NextHost()) {
                    break;
                }
            }
            if (result != FetchResult::Complete) {
                return result;
            }
            Log(Url() + L": bytes " + Describe(request) + L" are in");
            done_ += request.size;
        }
        return FetchResult::Complete;
    }

private:
    const std::wstring& Url() const { return urls_[host_]; }

    bool Connect()
    {
        if (connection_) {
            return true;
        }
        connection_ = std::make_unique<HttpConnection>();
        if (!connection_->Open(Url().c_str())) {
            Log(Url() + L": can't connect: " + ErrorText(connection_->Error()));
            return false;
        }
        return true;
    }

    // Leaves the host for the next one; false when none is left.
    bool NextHost()
    {
        if (host_ + 1 >= urls_.size() || (options_.cancelled && options_.cancelled())) {
            return false;
        }
        ++host_;
        Log(urls_[host_ - 1] + L": given up for this repair; the next host: " + Url());
        connection_.reset();
        validator_.clear();
        revalidate_ = false;
        return true;
    }

    // One range, tried again after failures that may pass. A digest that
    // fails may cover bytes of earlier requests (the header's covers the
    // package's first bytes): they are fetched again with it, or no try could
    // mend them.
    FetchResult Fetch(const RangeRequest& request)
    {
        uint64_t got = 0;
        std::vector<RangeRequest> again;
        for (unsigned attempt = 1;; ++attempt) {
            std::wstring reason;
            Attempt outcome = Attempt::Complete;
            for (const RangeRequest& earlier : again) {
                uint64_t earlierGot = 0;
                if ((outcome = Try(earlier, earlierGot, reason, false)) != Attempt::Complete) {
                    break;
                }
            }
            if (outcome == Attempt::Complete) {
                outcome = Try(request, got, reason, true);
            }
            if (outcome == Attempt::Whole) {
                outcome = CheckAll(reason);
                if (outcome == Attempt::Complete) {
                    return FetchResult::Whole;
                }
                revalidate_ = true;  // a cache may hold a stale or damaged copy
            } else if (outcome == Attempt::Complete) {
                const DigestCheck* failed = nullptr;
                outcome = Check(request, reason, failed);
                if (outcome == Attempt::Complete) {
                    return FetchResult::Complete;
                }
                got = 0;  // what came is wrong: the whole range again
                again = OutsideOf(request, *failed);
                revalidate_ = true;
            }
            if (outcome == Attempt::Unusable) {
                revalidate_ = true;  // a cache may hold another publication under this address
            }
            switch (outcome) {
            case Attempt::Failed:
                return FetchResult::Failed;
            case Attempt::Stopped:
                return FetchResult::Stopped;
            case Attempt::DamagedData:
                if (reason.empty()) {
                    return FetchResult::DamagedData;  // another file altogether: no try can mend it
                }
                break;
            default:
                break;
            }
            if (attempt >= options_.attempts) {
                Log(Url() + L": bytes " + Describe(request) + L" failed: " + reason + L" (attempt " + Num(attempt) +
                    L" of " + Num(options_.attempts) + L")");
                switch (outcome) {
                case Attempt::DamagedData:
                    return FetchResult::DamagedData;
                case Attempt::Unusable:
                    return FetchResult::RangesRefused;
                default:
                    return FetchResult::Failed;
                }
            }
            const DWORD wait = options_.firstRetryWaitMs << (attempt - 1);
            Log(Url() + L": bytes " + Describe(request) + L", attempt " + Num(attempt) + L" failed: " + reason +
                L"; attempt " + Num(attempt + 1) + L" in " + Num(wait) + L" ms");
            if (!WaitUnlessCancelled(wait, options_.cancelled)) {
                return FetchResult::Stopped;
            }
        }
    }

    // The spans of `check` that `request` doesn't hold, as requests of their own.
    static std::vector<RangeRequest> OutsideOf(const RangeRequest& request, const DigestCheck& check)
    {
        std::vector<RangeRequest> outside;
        for (const auto& span : check.spans) {
            if (span.first < request.offset || span.first + span.second > request.offset + request.size) {
                outside.push_back(RangeRequest{span.first, span.second, {}});
            }
        }
        return outside;
    }

    static std::wstring Describe(const RangeRequest& request)
    {
        return Num(request.offset) + L"-" + Num(request.offset + request.size - 1);
    }

    // One GET for what is still missing of `request`; `report` says whether
    // its bytes count in the progress (bytes fetched again don't).
    Attempt Try(const RangeRequest& request, uint64_t& got, std::wstring& reason, bool report)
    {
        const uint64_t first = request.offset + got;
        const uint64_t last = request.offset + request.size - 1;
        const std::wstring range = Num(first) + L"-" + Num(last);
        // If-Range: a package that changed since the first answer comes whole, and is taken whole.
        const std::wstring headers = L"Range: bytes=" + range + L"\r\n" +
                                     (validator_.empty() ? L"" : L"If-Range: " + validator_ + L"\r\n") +
                                     (revalidate_ ? kRevalidateHeaders : L"");
        HttpGet get;
        if (!get.Send(*connection_, options_.stallTimeoutMs, headers,
                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION)) {
            reason = L"no answer: " + ErrorText(get.Error());
            return Attempt::Retry;
        }
        const DWORD status = get.Status();
        const std::wstring contentRange = get.Header(HTTP_QUERY_CONTENT_RANGE);
        Log(Url() + L": bytes=" + range + L": HTTP " + Num(status) +
            (contentRange.empty() ? std::wstring() : L", Content-Range " + contentRange));
        if (IsPassingStatus(status)) {
            reason = L"HTTP " + Num(status);
            return Attempt::Retry;
        }
        if (status == 200) {
            // The whole package (no ranges here, or If-Range found it changed): it is the download.
            uint64_t length = 0;
            if (!get.ContentLength(length) || length != packageSize_) {
                reason = L"the whole file in answer, of another length than the package's " + Num(packageSize_);
                return Attempt::Unusable;
            }
            Log(Url() + L": the whole package came in answer to a range: it is taken as the download");
            uint64_t whole = 0;
            const Attempt copied = Copy(get, 0, 0, packageSize_, whole, reason, [this](uint64_t in) {
                return progress_(in, packageSize_);
            });
            return copied == Attempt::Complete ? Attempt::Whole : copied;
        }
        if (status != 206) {
            reason = L"HTTP " + Num(status);
            return Attempt::Failed;
        }
        uint64_t answerFirst = 0, answerLast = 0, answerTotal = 0;
        if (!ParseContentRange(contentRange, answerFirst, answerLast, answerTotal) || answerTotal != packageSize_ ||
            answerFirst > first || answerLast < last) {
            reason = L"an answer that doesn't hold the range asked for of a package of " + Num(packageSize_) + L" bytes";
            return Attempt::Unusable;
        }
        if (validator_.empty()) {
            // Only a strong validator can stand for the bytes of a range.
            const std::wstring etag = get.Header(HTTP_QUERY_ETAG);
            validator_ = !etag.empty() && etag[0] == L'"' ? etag : get.Header(HTTP_QUERY_LAST_MODIFIED);
        }
        // A truthful answer from an earlier offset: what comes before the range is skipped, never written.
        return Copy(get, first - answerFirst, first, last + 1 - first, got, reason, [&](uint64_t) {
            return !report || progress_(done_ + got, total_);
        });
    }

    // Copies `size` bytes of the body, after skipping `skip`, into the file
    // at `offset`; what follows them is not read. `got` counts the bytes
    // copied; `progress` is called after each piece and stops the copy.
    template <typename Progress>
    Attempt Copy(const HttpGet& get, uint64_t skip, uint64_t offset, uint64_t size, uint64_t& got,
                 std::wstring& reason, const Progress& progress)
    {
        if (!SeekFile(file_, offset)) {
            reason = L"can't seek in the package: " + ErrorText(GetLastError());
            return Attempt::Failed;
        }
        const uint64_t start = got;
        uint64_t copied = 0;
        while (copied < size) {
            DWORD count = 0;
            if (!get.Read(buffer_.data(), static_cast<DWORD>(buffer_.size()), count)) {
                reason = L"the connection broke: " + ErrorText(GetLastError());
                return Attempt::Retry;
            }
            if (count == 0) {
                break;
            }
            const char* data = buffer_.data();
            if (skip > 0) {
                const DWORD skipped = static_cast<DWORD>(std::min<uint64_t>(skip, count));
                skip -= skipped;
                data += skipped;
                count -= skipped;
            }
            count = static_cast<DWORD>(std::min<uint64_t>(count, size - copied));
            DWORD written = 0;
            if (count > 0 && (!WriteFile(file_, data, count, &written, nullptr) || written != count)) {
                reason = L"writing failed: " + ErrorText(GetLastError());
                return Attempt::Failed;
            }
            copied += count;
            got = start + copied;
            if (!progress(got) || (options_.cancelled && options_.cancelled())) {
                return Attempt::Stopped;
            }
        }
        if (copied != size) {
            reason = L"the connection ended after " + Num(copied) + L" of " + Num(size) + L" bytes";
            return Attempt::Retry;
        }
        return Attempt::Complete;
    }

    // Every request's digests, over a file that holds the whole package.
    Attempt CheckAll(std::wstring& reason)
    {
        for (const RangeRequest& request : requests_) {
            if (FailedCheck(file_, request.checks, reason) != nullptr) {
                return Attempt::DamagedData;
            }
        }
        return Attempt::Complete;
    }

    Attempt Check(const RangeRequest& request, std::wstring& reason, const DigestCheck*& failed)
    {
        failed = FailedCheck(file_, request.checks, reason);
        return failed != nullptr ? Attempt::DamagedData : Attempt::Complete;
    }

    const std::vector<std::wstring>& urls_;
    size_t host_ = 0;  // the host asked now
    HANDLE file_;
    uint64_t packageSize_;
    const std::vector<RangeRequest>& requests_;
    const FetchProgressFn& progress_;
    const DownloadOptions& options_;
    std::unique_ptr<HttpConnection> connection_;  // to the host asked now
    std::wstring validator_;
    bool revalidate_ = false;  // a digest failed: caches on the way are asked to revalidate
    uint64_t total_ = 0;       // bytes of all the requests
    uint64_t done_ = 0;        // bytes of the requests complete
    // Reads of 64 KiB: under wine each read costs about as much as 8 KiB of
    // data, and a bare loop of 64 KiB reads downloads as fast as one of 1 MiB
    // (tools/bench-download.sh), while the progress still moves on a slow line.
    std::vector<char> buffer_ = std::vector<char>(kRangeReadBytes);
};

}  // namespace

bool RangesCheckOut(HANDLE file, const std::vector<RangeRequest>& requests)
{
    std::wstring reason;
    for (const RangeRequest& request : requests) {
        if (FailedCheck(file, request.checks, reason) != nullptr) {
            Log(L"the package: " + reason);
            return false;
        }
    }
    return true;
}

FetchResult FetchRanges(const std::vector<std::wstring>& urls, HANDLE file, uint64_t packageSize,
                        const std::vector<RangeRequest>& requests, const FetchProgressFn& progress,
                        const DownloadOptions& options)
{
    return RangeFetcher(urls, file, packageSize, requests, progress, options).Run();
}
