// FetchRanges against the loopback server: ranges written at their offsets,
// digests that cover more than one request, what a damaged answer costs.
#include "FetchRanges.h"
#include "FilePosition.h"
#include "ScopedHandle.h"
#include "Sha256.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kPackageSize = 200000;
constexpr uint64_t kHeaderOffset = 150000, kHeaderSize = 1000;

std::wstring DigestOf(const std::string& bytes)
{
    Sha256 sha;
    std::wstring hex;
    EXPECT_TRUE(sha.Start() && sha.Add(bytes.data(), bytes.size()) && sha.FinishHex(hex));
    return hex;
}

// The package's start and its header, the header's digest covering both, as
// the plan of a partial repair asks for them.
std::vector<RangeRequest> StartAndHeader(const std::string& package)
{
    const std::string covered = package.substr(0, 32) + package.substr(kHeaderOffset, kHeaderSize);
    return {RangeRequest{0, 32, {}},
            RangeRequest{kHeaderOffset, kHeaderSize, {DigestCheck{{{0, 32}, {kHeaderOffset, kHeaderSize}}, DigestOf(covered)}}}};
}

std::string ReadSpan(HANDLE file, uint64_t offset, DWORD size)
{
    std::string bytes(size, '\0');
    DWORD read = 0;
    EXPECT_TRUE(SeekFile(file, offset) && ReadFile(file, &bytes[0], size, &read, nullptr) && read == size);
    return bytes;
}

// What each kind of answer gives: a digest that fails fetches again all it
// covers, revalidating; an answer that holds more than was asked is used for
// what was asked; one that doesn't hold it ends in the whole package.
TEST(FetchRangesTest, EachAnswerIsUsedForWhatItTrulyHolds)
{
    const std::string good = Pattern(kPackageSize, 3);
    std::string damaged = good;
    damaged[5] ^= 0x55;  // in the package's first 32 bytes, which the header's digest covers
    ServeFile("ranges/good.bin", good);
    ServeFile("ranges/damaged.bin", damaged);
    const struct {
        const char* what;
        std::wstring path;
        FetchResult expected;
        bool revalidated;  // a later request asked caches to revalidate
        const wchar_t* deadHost = L"";  // a host asked first, which never answers
    } cases[] = {
        // (No validators: the two files' would differ, and an If-Range would get the whole file.)
        {"the first answer damaged, the next ones whole", L"/ranges/damaged.bin?then=ranges/good.bin&novalidator=1",
         FetchResult::Complete, true},
        {"every answer damaged", L"/ranges/damaged.bin?every=1", FetchResult::DamagedData, true},
        {"every answer whole", L"/ranges/good.bin?whole=1", FetchResult::Complete, false},
        {"a cache's answers from block-aligned earlier offsets", L"/ranges/good.bin?align=65536", FetchResult::Complete,
         false},
        {"answers for a file of another length", L"/ranges/good.bin?othertotal=10", FetchResult::RangesRefused, true},
        // An unusable answer is asked for once more past any cache, which could have made it.
        {"answers that start after what was asked", L"/ranges/good.bin?shiftrange=8", FetchResult::RangesRefused,
         true},
        {"a Content-Range that isn't one", L"/ranges/good.bin?badrange=1", FetchResult::RangesRefused, true},
        {"the whole package for a range", L"/ranges/good.bin?norange=1", FetchResult::Whole, false},
        {"a whole file of another length for a range", L"/ranges/good.bin?norange=1&othertotal=10",
         FetchResult::RangesRefused, true},
        {"the first answer stalls, the next one comes", L"/ranges/good.bin?stallonce=10", FetchResult::Complete,
         false},
        {"the first host down, a mirror up", L"/ranges/good.bin?mirror=1", FetchResult::Complete, false,
         L"http://127.0.0.1:9/ranges/good.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        ScopedHandle file(CreateFileW((folder / L"cross_new.zip").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.IsValid() && SeekFile(file.Get(), kPackageSize) && SetEndOfFile(file.Get()));
        DownloadOptions options;
        options.firstRetryWaitMs = 10;
        options.stallTimeoutMs = 1000;
        // Unique per run: the server counts its answers per address.
        const std::wstring url = TestUrl(c.path) + L"&run=" + std::to_wstring(GetTickCount());
        uint64_t lastTotal = 0;
        std::vector<std::wstring> hosts{url};
        if (*c.deadHost != 0) {
            hosts.insert(hosts.begin(), c.deadHost);
        }
        const FetchResult result = FetchRanges(hosts, file.Get(), kPackageSize, StartAndHeader(good),
                                               [&lastTotal](uint64_t, uint64_t total) {
                                                   lastTotal = total;
                                                   return true;
                                               },
                                               options);
        EXPECT_EQ(result, c.expected);
        if (c.expected == FetchResult::Complete) {
            EXPECT_EQ(ReadSpan(file.Get(), 0, 32), good.substr(0, 32));
            EXPECT_EQ(ReadSpan(file.Get(), kHeaderOffset, kHeaderSize), good.substr(kHeaderOffset, kHeaderSize));
            EXPECT_EQ(ReadSpan(file.Get(), 40000, 1000), std::string(1000, '\0')) << "nothing but the ranges written";
            EXPECT_EQ(lastTotal, 32 + kHeaderSize);
        }
        if (c.expected == FetchResult::Whole) {
            EXPECT_EQ(ReadSpan(file.Get(), 0, kPackageSize), good);
            EXPECT_EQ(lastTotal, kPackageSize) << "the progress counts the whole package";
        }
        const std::string log = ServerLog();
        EXPECT_EQ(log.find("revalidate " + Narrow(url.substr(url.find(L"/ranges/")))) != std::string::npos,
                  c.revalidated);
    }
}

}  // namespace
