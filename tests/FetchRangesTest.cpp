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

TEST(FetchRangesTest, ADigestThatFailsFetchesAgainAllThatItCovers)
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
    } cases[] = {
        // (No validators: the two files' would differ, and an If-Range would get the whole file.)
        {"the first answer damaged, the next ones whole", L"/ranges/damaged.bin?then=ranges/good.bin&novalidator=1",
         FetchResult::Complete},
        {"every answer damaged", L"/ranges/damaged.bin?every=1", FetchResult::DamagedData},
        {"every answer whole", L"/ranges/good.bin?whole=1", FetchResult::Complete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        ScopedHandle file(CreateFileW((folder / L"cross_new.zip").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.IsValid() && SeekFile(file.Get(), kPackageSize) && SetEndOfFile(file.Get()));
        DownloadOptions options;
        options.firstRetryWaitMs = 10;
        // Unique per run: the server counts its answers per address.
        const std::wstring url = TestUrl(c.path) + L"&run=" + std::to_wstring(GetTickCount());
        const FetchResult result = FetchRanges(url, file.Get(), kPackageSize, StartAndHeader(good),
                                               [](uint64_t) { return true; }, options);
        EXPECT_EQ(result, c.expected);
        if (c.expected == FetchResult::Complete) {
            EXPECT_EQ(ReadSpan(file.Get(), 0, 32), good.substr(0, 32));
            EXPECT_EQ(ReadSpan(file.Get(), kHeaderOffset, kHeaderSize), good.substr(kHeaderOffset, kHeaderSize));
        }
    }
}

}  // namespace
