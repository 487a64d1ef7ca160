#include "FetchRanges.h"

#include "DiagnosticsLog.h"
#include "DownloadRetry.h"
#include "FilePosition.h"
#include "HttpGet.h"
#include "Sha256.h"

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

enum class Attempt { Complete, Retry, RangesRefused, Failed, DamagedData, Stopped };

class RangeFetcher {
public:
    RangeFetcher(const std::wstring& url, HANDLE file, uint64_t packageSize, const std::function<bool(uint64_t)>& progress,
                 const DownloadOptions& options)
        : url_(url), file_(file), packageSize_(packageSize), progress_(progress), options_(options)
    {
    }

    FetchResult Run(const std::vector<RangeRequest>& requests)
    {
        if (!connection_.Open(url_.c_str())) {
            Log(url_ + L": can't connect: " + ErrorText(connection_.Error()));
            return FetchResult::Failed;
        }
        for (const RangeRequest& request : requests) {
            const FetchResult result = Fetch(request);
            if (result != FetchResult::Complete) {
                return result;
            }
            done_ += request.size;
        }
        return FetchResult::Complete;
    }

private:
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
            if (outcome == Attempt::Complete) {
                const DigestCheck* failed = nullptr;
                outcome = Check(request, reason, failed);
                if (outcome == Attempt::Complete) {
                    return FetchResult::Complete;
                }
                got = 0;  // what came is wrong: the whole range again
                again = OutsideOf(request, *failed);
            }
            switch (outcome) {
            case Attempt::RangesRefused:
                return FetchResult::RangesRefused;
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
                Log(url_ + L": bytes " + Describe(request) + L" failed: " + reason + L" (attempt " + Num(attempt) +
                    L" of " + Num(options_.attempts) + L")");
                return outcome == Attempt::DamagedData ? FetchResult::DamagedData : FetchResult::Failed;
            }
            const DWORD wait = options_.firstRetryWaitMs << (attempt - 1);
            Log(url_ + L": bytes " + Describe(request) + L", attempt " + Num(attempt) + L" failed: " + reason +
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
        const std::wstring headers =
            L"Range: bytes=" + range + L"\r\n" + (validator_.empty() ? L"" : L"If-Range: " + validator_ + L"\r\n");
        HttpGet get;
        if (!get.Send(connection_, options_.stallTimeoutMs, headers,
                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION)) {
            reason = L"no answer: " + ErrorText(get.Error());
            return Attempt::Retry;
        }
        const DWORD status = get.Status();
        const std::wstring contentRange = get.Header(HTTP_QUERY_CONTENT_RANGE);
        Log(url_ + L": bytes=" + range + L": HTTP " + Num(status) +
            (contentRange.empty() ? std::wstring() : L", Content-Range " + contentRange));
        if (status == 200) {
            return Attempt::RangesRefused;
        }
        if (IsPassingStatus(status)) {
            reason = L"HTTP " + Num(status);
            return Attempt::Retry;
        }
        if (status != 206) {
            reason = L"HTTP " + Num(status);
            return Attempt::Failed;
        }
        if (contentRange != L"bytes " + range + L"/" + Num(packageSize_)) {
            Log(url_ + L": not the range asked for of a package of " + Num(packageSize_) + L" bytes");
            return Attempt::DamagedData;
        }
        if (validator_.empty()) {
            // Only a strong validator can stand for the bytes of a range.
            const std::wstring etag = get.Header(HTTP_QUERY_ETAG);
            validator_ = !etag.empty() && etag[0] == L'"' ? etag : get.Header(HTTP_QUERY_LAST_MODIFIED);
        }
        return CopyBody(get, request, got, reason, report);
    }

    Attempt CopyBody(const HttpGet& get, const RangeRequest& request, uint64_t& got, std::wstring& reason, bool report)
    {
        if (!SeekFile(file_, request.offset + got)) {
            reason = L"can't seek in the package: " + ErrorText(GetLastError());
            return Attempt::Failed;
        }
        char buffer[kHttpReadChunk];
        for (;;) {
            DWORD count = 0;
            if (!get.Read(buffer, sizeof(buffer), count)) {
                reason = L"the connection broke: " + ErrorText(GetLastError());
                return Attempt::Retry;
            }
            if (count == 0) {
                break;
            }
            if (got + count > request.size) {
                Log(url_ + L": the body goes on past its range");
                return Attempt::DamagedData;
            }
            DWORD written = 0;
            if (!WriteFile(file_, buffer, count, &written, nullptr) || written != count) {
                reason = L"writing failed: " + ErrorText(GetLastError());
                return Attempt::Failed;
            }
            got += count;
            if ((report && !progress_(done_ + got)) || (options_.cancelled && options_.cancelled())) {
                return Attempt::Stopped;
            }
        }
        if (got != request.size) {
            reason = L"the connection ended after " + Num(got) + L" of " + Num(request.size) + L" bytes";
            return Attempt::Retry;
        }
        return Attempt::Complete;
    }

    Attempt Check(const RangeRequest& request, std::wstring& reason, const DigestCheck*& failed)
    {
        for (const DigestCheck& check : request.checks) {
            std::wstring found;
            if (!ChecksOut(file_, check, found)) {
                failed = &check;
                reason = L"the bytes at " + Num(check.spans.back().first) + L" have SHA-256 " + found +
                         L", where the manifest says " + check.sha256;
                return Attempt::DamagedData;
            }
        }
        return Attempt::Complete;
    }

    const std::wstring& url_;
    HANDLE file_;
    uint64_t packageSize_;
    const std::function<bool(uint64_t)>& progress_;
    const DownloadOptions& options_;
    HttpConnection connection_;
    std::wstring validator_;
    uint64_t done_ = 0;  // bytes of the requests complete
};

}  // namespace

FetchResult FetchRanges(const std::wstring& url, HANDLE file, uint64_t packageSize,
                        const std::vector<RangeRequest>& requests, const std::function<bool(uint64_t)>& progress,
                        const DownloadOptions& options)
{
    return RangeFetcher(url, file, packageSize, progress, options).Run(requests);
}
