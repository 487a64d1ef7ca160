// Mutated packages and configuration files, made from small real ones with a
// fixed seed: every case must end with a result, without a crash or a hang,
// and write nothing outside its destination. A case that fails keeps its input
// in its folder under the tests' scratch folder.
#include "ExtractArchive.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "TestSupport.h"

extern "C" {
#include "7zCrc.h"
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

constexpr uint32_t kSeed = 20261207;
constexpr int kArchiveCases = 5000;
constexpr int kConfigCases = 1500;
constexpr DWORD kCaseTimeLimitMs = 15000;

// mt19937 is the same everywhere; the standard distributions are not, so
// numbers are taken from it directly.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(engine_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937 engine_;
};

// Byte-level mutations, each on the range [from, to) of `data`.
void FlipBits(Random& random, Bytes& data, size_t from, size_t to)
{
    if (to <= from) {
        return;
    }
    for (uint32_t n = 1 + random.Below(8); n > 0; --n) {
        data[from + random.Below(static_cast<uint32_t>(to - from))] ^= static_cast<char>(1u << random.Below(8));
    }
}

void PutInteresting(Random& random, Bytes& data, size_t from, size_t to)
{
    static const char* const kValues[] = {"\x00", "\x01", "\x7f", "\x80", "\xff", "\xff\xff\xff\xff",
                                          "\x00\x00\x00\x80", "\xff\xff\xff\x7f", "\x00\x00\x01\x00",
                                          "\xff\xff\xff\xff\xff\xff\xff\xff\xff", "\xfe\xff\xff\xff\xff\xff\xff\xff\x3f"};
    static const size_t kLengths[] = {1, 1, 1, 1, 1, 4, 4, 4, 4, 9, 9};
    if (to <= from) {
        return;
    }
    const uint32_t which = random.Below(11);
    const size_t at = from + random.Below(static_cast<uint32_t>(to - from));
    data.replace(at, std::min(kLengths[which], data.size() - at), kValues[which], kLengths[which]);
}

void MutateBytes(Random& random, Bytes& data)
{
    const size_t size = data.size();
    switch (random.Below(5)) {
    case 0: FlipBits(random, data, 0, size); break;
    case 1: PutInteresting(random, data, 0, size); break;
    case 2: data.resize(random.Below(static_cast<uint32_t>(size + 1))); break;
    case 3: {
        Bytes inserted(1 + random.Below(32), '\0');
        for (char& c : inserted) {
            c = static_cast<char>(random.Below(256));
        }
        data.insert(random.Below(static_cast<uint32_t>(size + 1)), inserted);
        break;
    }
    default:
        if (size > 0) {
            const size_t at = random.Below(static_cast<uint32_t>(size));
            data.erase(at, 1 + random.Below(64));
        }
        break;
    }
}

uint64_t Read64(const Bytes& data, size_t at)
{
    uint64_t value = 0;
    std::memcpy(&value, data.data() + at, 8);
    return value;
}

void Write32(Bytes& data, size_t at, uint32_t value) { std::memcpy(&data[at], &value, 4); }

// Where the archive's database (its "next header") lies, if inside the file.
bool NextHeader(const Bytes& data, size_t& from, size_t& to)
{
    if (data.size() < 32) {
        return false;
    }
    const uint64_t offset = Read64(data, 12);
    const uint64_t size = Read64(data, 20);
    if (offset > data.size() || size > data.size() || 32 + offset + size > data.size()) {
        return false;
    }
    from = static_cast<size_t>(32 + offset);
    to = static_cast<size_t>(from + size);
    return true;
}

// Recomputes both CRCs of the signature header, so that a mutation gets past them.
void FixCrcs(Bytes& data)
{
    size_t from = 0, to = 0;
    if (NextHeader(data, from, to)) {
        Write32(data, 28, CrcCalc(data.data() + from, to - from));
    }
    if (data.size() >= 32) {
        Write32(data, 8, CrcCalc(data.data() + 12, 20));
    }
}

Bytes MutateArchive(Random& random, const Bytes& seed)
{
    Bytes data = seed;
    for (uint32_t n = 1 + random.Below(3); n > 0; --n) {
        size_t from = 0, to = 0;
        switch (random.Below(4)) {
        case 0:  // the database, with its CRCs made right again
            if (NextHeader(data, from, to)) {
                random.OneIn(2) ? FlipBits(random, data, from, to) : PutInteresting(random, data, from, to);
                FixCrcs(data);
            }
            break;
        case 1:  // where the database is said to be, and how long it is
            if (data.size() >= 32) {
                PutInteresting(random, data, 12, 28);
                FixCrcs(data);
            }
            break;
        default:
            MutateBytes(random, data);
            if (random.OneIn(2)) {
                FixCrcs(data);
            }
            break;
        }
    }
    return data;
}

Bytes Utf16(const std::wstring& text, bool bigEndian)
{
    Bytes out;
    for (wchar_t c : text) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>((c >> 8) & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

Bytes MutateConfig(Random& random, const std::vector<Bytes>& seeds)
{
    static const char* const kNumbers[] = {"99999999999999999999", "-99999999999999999999", "2147483647",
                                           "2147483648", "-2147483648", "-2147483649", "-1", "0", " 42abc",
                                           "+7", "0x1F", "", "   ", "\xa3\xb1\xa3\xb2"};
    const Bytes& seed = seeds[random.Below(static_cast<uint32_t>(seeds.size()))];
    switch (random.Below(8)) {
    case 0:
    case 1: {
        Bytes data = seed;
        for (uint32_t n = 1 + random.Below(3); n > 0; --n) {
            MutateBytes(random, data);
        }
        return data;
    }
    case 2:
        return std::string("[General]\r\nurl=http://127.0.0.1/p.7z\r\nfilesize=") + random.Pick(kNumbers) +
               "\r\nprocesscount=" + random.Pick(kNumbers) + "\r\nprocess_0=a.exe\r\nprocess_1=b.exe\r\n";
    case 3: {  // a count far beyond the entries there are
        Bytes data = "[General]\r\ntips=t\r\nprocesscount=2147483647\r\n";
        for (uint32_t i = random.Below(6); i > 0; --i) {
            data += "process_" + std::to_string(i - 1) + "=p" + std::to_string(i) + ".exe\r\n";
        }
        return data;
    }
    case 4: {  // values around and far beyond the 4096-character buffer
        static const size_t kLengths[] = {4095, 4096, 4097, 20000, 70000};
        static const char* const kKeys[] = {"url", "tips", "process_0", "filesize", "processcount"};
        return std::string("[General]\r\nprocesscount=1\r\n") + random.Pick(kKeys) + "=" +
               Bytes(random.Pick(kLengths), static_cast<char>('1' + random.Below(9))) + "\r\nfilesize=5\r\n";
    }
    case 5: {  // UTF-16 in either byte order, with or without its mark
        const std::wstring text = Widen(seed);
        const bool bigEndian = random.OneIn(2);
        Bytes data = random.OneIn(2) ? Bytes(bigEndian ? "\xfe\xff" : "\xff\xfe") : Bytes();
        return data + Utf16(text, bigEndian);
    }
    case 6: {
        Bytes junk(random.Below(8192), '\0');
        for (char& c : junk) {
            c = static_cast<char>(random.Below(256));
        }
        return junk;
    }
    default: {  // broken structure: unclosed sections, keys without values, NULs
        static const Bytes kLines[] = {"[General", "[General]", "url", "=x", Bytes("tips=\0t", 7), "[Other]",
                                       "processcount=2", "process_1=z.exe", ";comment", "\"tips\"=q",
                                       "filesize=1", "url=\"http://x/\""};
        Bytes data;
        for (uint32_t n = 1 + random.Below(12); n > 0; --n) {
            data += random.Pick(kLines);
            data += random.OneIn(4) ? "\n" : "\r\n";
        }
        return data;
    }
    }
}

// One case on a thread of its own, so that a hang is seen and named.
struct Job {
    std::wstring input;
    std::wstring destination;  // empty: a configuration case
    int result = 0;  // a configuration's: 1 accepted; a package's: its ExtractResult
};

DWORD WINAPI RunJob(LPVOID parameter)
{
    Job& job = *static_cast<Job*>(parameter);
    if (job.destination.empty()) {
        job.result = RepairEngine::Instance().LoadConfig(job.input) ? 1 : 0;
    } else {
        job.result = static_cast<int>(
            UnpackArchive(job.input, job.destination, [](int32_t, int32_t) { return true; }).result);
    }
    return 0;
}

class FuzzTest : public ::testing::Test {
protected:
    // Runs one case in "case-N" under the scratch folder; false when it hung
    // or wrote outside its destination (the folder and its input then stay).
    bool RunCase(int index, const Bytes& input, bool archive)
    {
        const std::wstring folder = scratch / (L"case-" + std::to_wstring(index));
        CreateDirectoryW(folder.c_str(), nullptr);
        Job* job = new Job;  // left to a hung thread if it never ends
        job->input = folder + (archive ? L"\\a.7z" : L"\\vnk.ini");
        if (archive) {
            job->destination = folder + L"\\dest";
            CreateDirectoryW(job->destination.c_str(), nullptr);
        }
        if (!WriteAll(job->input, input)) {
            ADD_FAILURE() << "case " << index << ": input not written";
            return false;
        }
        const DWORD start = GetTickCount();
        HANDLE thread = CreateThread(nullptr, 0, RunJob, job, 0, nullptr);
        const bool ended = WaitForSingleObject(thread, kCaseTimeLimitMs) == WAIT_OBJECT_0;
        const DWORD took = GetTickCount() - start;
        CloseHandle(thread);
        if (!ended) {
            ADD_FAILURE() << "case " << index << " did not end within " << kCaseTimeLimitMs << " ms; input kept in "
                          << Narrow(folder);
            return false;
        }
        if (took >= slowestMs) {
            slowestMs = took;
            slowestCase = index;
        }
        lastResult = job->result;
        ++results[job->result];
        delete job;

        std::vector<std::wstring> expected = {archive ? L"a.7z" : L"vnk.ini"};
        if (archive) {
            expected.push_back(L"dest");
        }
        std::sort(expected.begin(), expected.end());
        if (NamesIn(folder) != expected || NamesIn(scratch.Path()).size() != 1) {
            ADD_FAILURE() << "case " << index << " wrote outside its destination; input kept in " << Narrow(folder);
            return false;
        }
        DeleteTree(folder);
        return true;
    }

    void Report(const char* what, int cases)
    {
        std::printf("%d %s cases; slowest: case %d, %lu ms; results:", cases, what, slowestCase,
                    static_cast<unsigned long>(slowestMs));
        for (const auto& entry : results) {
            std::printf(" %d x%d", entry.first, entry.second);
        }
        std::printf("\n");
    }

    ScratchFolder scratch;
    DWORD slowestMs = 0;
    int slowestCase = -1;
    int lastResult = 0;
    std::map<int, int> results;
};

TEST_F(FuzzTest, MutatedPackagesEndWithAResultAndStayInTheirFolder)
{
    CrcGenerateTable();
    const std::pair<const wchar_t*, ExtractResult> kSeeds[] = {
        {L"fuzz-lzma2.7z", ExtractResult::Ok},
        {L"fuzz-lzma-packed-header.7z", ExtractResult::Ok},
        {L"fuzz-copy.7z", ExtractResult::Ok},
        {L"fuzz-bcj2.7z", ExtractResult::Ok},
        {L"fuzz-delta.7z", ExtractResult::Ok},
        {L"fuzz-ppmd.7z", ExtractResult::Ok},
        {L"fuzz-bcj.7z", ExtractResult::Ok},
        {L"fuzz-lzma2-blocks.7z", ExtractResult::Ok},
        {L"fuzz-two-dictionaries.7z", ExtractResult::Ok},
        {L"empty.7z", ExtractResult::Ok},
        {L"dup-blocks.7z", ExtractResult::Ok},
        {L"case-blocks.7z", ExtractResult::Ok},
        {L"part-beside.7z", ExtractResult::Ok},
        {L"folder-slash.7z", ExtractResult::Ok},
        {L"hostile-trailing-dot.7z", ExtractResult::OutputFailed},
        {L"hostile-line-break-encoded-header.7z", ExtractResult::OutputFailed}};
    std::vector<Bytes> seeds;
    int index = -1;
    for (const auto& seed : kSeeds) {
        seeds.push_back(ReadAll(std::wstring(VNK_TEST_DATA) + L"\\" + seed.first));
        ASSERT_FALSE(seeds.back().empty()) << Narrow(seed.first);
        ASSERT_TRUE(RunCase(index--, seeds.back(), true));
        EXPECT_EQ(static_cast<ExtractResult>(lastResult), seed.second) << Narrow(seed.first);
    }
    results.clear();

    Random random(kSeed);
    for (int index = 0; index < kArchiveCases; ++index) {
        const Bytes input = MutateArchive(random, seeds[index % seeds.size()]);
        if (!RunCase(index, input, true)) {
            return;
        }
    }
    Report("package", kArchiveCases);
    EXPECT_GT(results.size(), 3u) << "the mutants reach more than a few outcomes";
}

TEST_F(FuzzTest, MutatedConfigurationsEndWithAResult)
{
    const std::vector<Bytes> seeds = {
        "[General]\r\nurl=http://127.0.0.1:8080/packages/cross.7z\r\nfilesize=123456\r\nprocesscount=2\r\n"
        "process_0=Varnok.exe\r\nprocess_1=CrossApp.exe\r\n",
        "\xff\xfe" + Utf16(L"[General]\r\ntips=服务器维护中\r\nurl=http://x/y.7z\r\n", false),
        "; notes\r\n[Other]\r\nurl=nothing\r\n[general]\r\nURL = \"http://h/p.7z\" \r\nFileSize=-5\r\n"
        "processcount=3\r\nprocess_0=a.exe\r\nprocess_2=c.exe\r\n",
    };
    Random random(kSeed + 1);
    RepairEngine& engine = RepairEngine::Instance();
    for (int index = 0; index < kConfigCases; ++index) {
        if (!RunCase(index, MutateConfig(random, seeds), false)) {
            return;
        }
        // A configuration counts only with a package or a notice.
        if (lastResult == 1) {
            EXPECT_TRUE((!engine.Config().url.empty() && engine.Config().fileSize != 0) || !engine.Config().tips.empty())
                << "case " << index;
        }
        for (const std::wstring& name : engine.Config().processNames) {
            EXPECT_FALSE(name.empty()) << "case " << index;
        }
    }
    Report("configuration", kConfigCases);
    EXPECT_GT(results[0], 0);
    EXPECT_GT(results[1], 0);
}

}  // namespace
