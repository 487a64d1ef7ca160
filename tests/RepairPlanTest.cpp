// What a partial repair asks of the package's host: the archive's start, the
// blocks it needs and the header, neighbours merged into one request.
#include "RepairPlan.h"

#include <gtest/gtest.h>

namespace {

// Blocks 0 and 1 touch the archive's start; block 2 lies exactly kMergeGap
// after block 1, block 3 one byte more than that after block 2; the header
// follows block 3 closely.
PackageManifest Blocks()
{
    PackageManifest manifest;
    manifest.packageSize = 1000000;
    const uint64_t b2 = 101032 + kMergeGap, b3 = b2 + 5000 + kMergeGap + 1;
    manifest.blocks = {{32, 1000, L"b0"}, {1032, 100000, L"b1"}, {b2, 5000, L"b2"}, {b3, 7000, L"b3"}};
    manifest.header = {b3 + 7000 + 10, 300, L"header"};
    return manifest;
}

struct Expected {
    uint64_t offset, size;
    std::vector<std::wstring> digests;  // of the checks it carries, in order
};

TEST(RepairPlanTest, NeighboursAreMergedAndEachRequestCarriesItsChecks)
{
    const PackageManifest manifest = Blocks();
    const uint64_t b2 = manifest.blocks[2].offset, b3 = manifest.blocks[3].offset, h = manifest.header.offset;
    const struct {
        const char* what;
        std::set<int64_t> needed;
        std::vector<Expected> requests;
    } cases[] = {
        {"no block: the start and the header", {}, {{0, 32, {}}, {h, 300, {L"header"}}}},
        {"a block touching the start", {0}, {{0, 1032, {L"b0"}}, {h, 300, {L"header"}}}},
        {"the start, two touching blocks", {0, 1}, {{0, 101032, {L"b0", L"b1"}}, {h, 300, {L"header"}}}},
        {"a block a gap of kMergeGap after the last", {1, 2},
         {{0, b2 + 5000, {L"b1", L"b2"}}, {h, 300, {L"header"}}}},
        {"a block one byte further", {2, 3},
         {{0, 32, {}}, {b2, 5000, {L"b2"}}, {b3, h + 300 - b3, {L"b3", L"header"}}}},
        {"every block", {0, 1, 2, 3},
         {{0, b2 + 5000, {L"b0", L"b1", L"b2"}}, {b3, h + 300 - b3, {L"b3", L"header"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<RangeRequest> requests = RequestsFor(manifest, c.needed);
        ASSERT_EQ(requests.size(), c.requests.size());
        for (size_t i = 0; i < requests.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(requests[i].offset, c.requests[i].offset);
            EXPECT_EQ(requests[i].size, c.requests[i].size);
            std::vector<std::wstring> digests;
            for (const DigestCheck& check : requests[i].checks) {
                digests.push_back(check.sha256);
            }
            EXPECT_EQ(digests, c.requests[i].digests);
        }
    }
}

TEST(RepairPlanTest, TheHeaderIsCheckedTogetherWithTheArchivesStart)
{
    const PackageManifest manifest = Blocks();
    const std::vector<RangeRequest> requests = RequestsFor(manifest, {2});
    const DigestCheck& header = requests.back().checks.back();
    ASSERT_EQ(header.sha256, L"header");
    EXPECT_EQ(header.spans, (std::vector<std::pair<uint64_t, uint64_t>>{{0, kArchiveStartBytes},
                                                                        {manifest.header.offset, 300}}));
    EXPECT_EQ(requests.front().offset, 0u) << "the start it covers comes first";
    const DigestCheck& block = requests[1].checks.front();
    EXPECT_EQ(block.spans, (std::vector<std::pair<uint64_t, uint64_t>>{{manifest.blocks[2].offset, 5000}}));
}

}  // namespace
