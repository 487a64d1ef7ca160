// ExtractArchive on archives made by Debian's 7-Zip (see support/make_archives.py).
#include "GameFolderTest.h"

#include <algorithm>
#include <sstream>

namespace {

using ExtractArchiveTest = GameFolderTest;

const std::string kChinese = [] {
    std::string s;
    for (int i = 0; i < 100; ++i) {
        s += "中文内容";
    }
    return s;
}();

TEST_F(ExtractArchiveTest, EveryMethodAndFilterUnpacksTheSameFiles)
{
    for (const wchar_t* name : {L"lzma.7z", L"lzma2.7z", L"bcj.7z", L"bcj2.7z", L"bcj2-blocks.7z", L"arm64.7z", L"arm.7z",
                                L"delta.7z", L"solid.7z", L"nonsolid.7z", L"copy.7z", L"ppmd.7z"}) {
        SCOPED_TRACE(Narrow(name));
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        calls.clear();
        ASSERT_EQ(Extract(name), ExtractResult::Ok);
        EXPECT_EQ(ReadAll(game + L"\\Cross\\b.bin"), Pattern(70000, 6));
        EXPECT_EQ(ReadAll(game + L"\\Cross\\a.txt").size(), 50000u);
        EXPECT_EQ(ReadAll(game + L"\\Cross\\资源\\说明.txt"), kChinese);
        EXPECT_TRUE(FileExists(game + L"\\Cross\\empty.txt"));
        EXPECT_EQ(ReadAll(game + L"\\Cross\\empty.txt"), "");
        EXPECT_TRUE(FolderExists(game + L"\\Cross\\空文件夹"));
        EXPECT_TRUE(FolderExists(game + L"\\Cross\\logs"));
        // Folders count like files: 5 folders and 5 files, numbered from 1.
        ASSERT_EQ(calls.size(), 10u);
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i], std::make_pair(static_cast<int32_t>(i + 1), 10));
        }
    }
}

TEST_F(ExtractArchiveTest, AnArchiveWithoutEntriesSucceedsWithoutProgress)
{
    EXPECT_EQ(Extract(L"empty.7z"), ExtractResult::Ok);
    EXPECT_TRUE(calls.empty());
}

TEST_F(ExtractArchiveTest, ReplacesExistingFilesCompletely)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    ASSERT_TRUE(WriteAll(game + L"\\Cross\\b.bin", std::string(200000, 'x')));
    ASSERT_EQ(Extract(L"lzma2.7z"), ExtractResult::Ok);
    EXPECT_EQ(ReadAll(game + L"\\Cross\\b.bin"), Pattern(70000, 6));
}

TEST_F(ExtractArchiveTest, StoredReadOnlyAttributeIsAppliedAndDoesNotBlockTheNextRepair)
{
    ASSERT_EQ(Extract(L"attrib.7z"), ExtractResult::Ok);
    const DWORD readOnly = GetFileAttributesW((game + L"\\Cross\\readonly.txt").c_str());
    const DWORD normal = GetFileAttributesW((game + L"\\Cross\\normal.txt").c_str());
    EXPECT_NE(readOnly & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(normal & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_NE(normal, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(normal & 0xFFFF0000u, 0u) << "the Unix mode bits are not applied";
    // The same package again: the read-only file left by the first run is replaced.
    ASSERT_EQ(Extract(L"attrib.7z"), ExtractResult::Ok);
    EXPECT_EQ(ReadAll(game + L"\\Cross\\readonly.txt"), "read only\n");
}

TEST_F(ExtractArchiveTest, ADamagedEntryLeavesTheFolderAsItWas)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    ASSERT_TRUE(WriteAll(game + L"\\Cross\\one.bin", "the old one"));
    const auto before = TreeOf(game);
    EXPECT_EQ(Extract(L"crc-damaged.7z"), ExtractResult::Damaged);  // a CRC error, at the second entry
    EXPECT_EQ(TreeOf(game), before) << "the first entry was staged, never put in place";
}

TEST_F(ExtractArchiveTest, ArchivesThatCannotBeReadWriteNothing)
{
    const struct {
        const wchar_t* name;
        ExtractResult result;
    } cases[] = {
        {L"not-an-archive.7z", ExtractResult::NotAnArchive},
        {L"encrypted.7z", ExtractResult::Unsupported},  // no AES in the decoder
        {L"encrypted-header.7z", ExtractResult::Unsupported},
        {L"no-such-archive.7z", ExtractResult::CannotOpen},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Extract(c.name), c.result) << Narrow(c.name);
        EXPECT_FALSE(FileExists(game + L"\\Cross\\b.bin")) << Narrow(c.name);
    }
    EXPECT_NE(Extract(L"truncated.7z"), ExtractResult::Ok);
    EXPECT_FALSE(FileExists(game + L"\\Cross\\one.bin"));
}

// Blocks several times larger than the decoders' buffers, with BCJ calls
// across each buffer boundary, come out byte for byte as they were packed:
// streamed (one block) and side by side (two).
TEST_F(ExtractArchiveTest, BlocksAcrossManyBuffersUnpackByteForByte)
{
    const std::string code = ReadAll(TestArchive(L"crossing.bin"));
    ASSERT_EQ(code.size(), 7u << 20);
    for (const wchar_t* name : {L"crossing.7z", L"crossing-blocks.7z"}) {
        SCOPED_TRACE(Narrow(name));
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        ASSERT_EQ(Extract(name), ExtractResult::Ok);
        EXPECT_TRUE(ReadAll(game + L"\\Cross\\code.dll") == code);
        EXPECT_TRUE(ReadAll(game + L"\\Cross\\more.dll") == std::string(code.rbegin(), code.rend()));
    }
}

// Each block is decoded with its own coder's properties: a later block that
// needs a larger dictionary, or other lc/lp/pb, than the first unpacks; one
// whose properties the format forbids is refused, with nothing written.
TEST_F(ExtractArchiveTest, EveryBlockIsDecodedWithItsOwnProperties)
{
    const struct {
        const wchar_t* name;
        ExtractResult result;
    } cases[] = {
        {L"two-dictionaries.7z", ExtractResult::Ok},
        {L"two-lclppb.7z", ExtractResult::Ok},
        {L"bad-lzma2-property.7z", ExtractResult::Unsupported},
        {L"bad-lzma-properties.7z", ExtractResult::Unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        EXPECT_EQ(Extract(c.name), c.result);
        if (c.result == ExtractResult::Ok) {
            EXPECT_EQ(ReadAll(game + L"\\Cross\\big.dll").size(), 512u << 10);  // its CRC checked as written
        } else {
            EXPECT_TRUE(NamesIn(game).empty());
        }
    }
}

// A folder where the package has a file, or a file where it has a folder, is
// the player's: the repair is refused and the folder stays byte for byte.
TEST_F(ExtractArchiveTest, AFolderInAFilesPlaceOrAFileInAFoldersPlaceRefusesTheRepair)
{
    const struct {
        const char* what;
        const wchar_t* folder;  // made, with a file of the player's in it
        const wchar_t* file;    // written
    } cases[] = {
        {"a folder where the package has a file", L"Cross\\b.bin", L"Cross\\b.bin\\mine.txt"},
        {"a file where the package has a folder of files", L"Cross", L"Cross\\sub"},
        {"a file where the package has an empty folder", L"Cross", L"Cross\\logs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
        CreateDirectoryW((game + L"\\" + c.folder).c_str(), nullptr);
        ASSERT_TRUE(WriteAll(game + L"\\" + c.file, "the player's"));
        const auto before = TreeOf(game);
        EXPECT_EQ(Extract(L"lzma2.7z"), ExtractResult::OutputFailed);
        EXPECT_EQ(TreeOf(game), before);
    }
}

// A dictionary beyond what the program can hold is refused before anything
// is allocated.
TEST_F(ExtractArchiveTest, ADictionaryTooLargeEndsWithTheMemoryResult)
{
    EXPECT_EQ(Extract(L"huge-dictionary.7z"), ExtractResult::NoMemory);
    EXPECT_TRUE(NamesIn(game).empty());
}

// A header that claims to unpack to 3 GiB is refused by what its
// package could hold, without asking the system for the memory.
TEST_F(ExtractArchiveTest, AHeaderClaimingMoreThanThePackageCanHoldIsRefusedUnasked)
{
    EXPECT_EQ(Extract(L"header-claims-too-much.7z"), ExtractResult::NoMemory);
    EXPECT_TRUE(NamesIn(game).empty());
    EXPECT_NE(DiagnosticsLogText().find("its header asks for 3221225472 bytes, more than a package of"),
              std::string::npos);
}

// A file of 2^50 bytes: no drive has room for it, and that is found before
// any memory is asked for.
TEST_F(ExtractArchiveTest, AFileTooLargeForTheDriveEndsBeforeAnythingIsWritten)
{
    EXPECT_EQ(Extract(L"huge-block.7z"), ExtractResult::OutputFailed);
    EXPECT_FALSE(FileExists(game + L"\\Cross\\big.bin"));
}

TEST_F(ExtractArchiveTest, ACallbackThatStopsEndsTheRunAndUndoesTheFirstEntry)
{
    const auto stop = [](int32_t, int32_t) { return false; };
    EXPECT_EQ(UnpackArchive(TestArchive(L"lzma2.7z"), game, stop).result, ExtractResult::Stopped);
    EXPECT_TRUE(NamesIn(game).empty()) << "the folder it made is removed again";
    EXPECT_EQ(ExtractArchive(TestArchive(L"lzma2.7z"), game, stop), 11) << "as the integer result says it";
}

// Every hostile name of support/make_archives.py, each with its header stored
// plain and encoded: names that leave the folder, name devices, or that Windows
// can't hold (trailing dots and blanks, control and reserved characters).
TEST_F(ExtractArchiveTest, HostileNamesStopTheExtractionBeforeWritingAnything)
{
    std::vector<std::string> archives;
    std::istringstream listing(ReadAll(TestArchive(L"hostile-names.txt")));
    for (std::string line; std::getline(listing, line);) {
        archives.push_back(line);
    }
    ASSERT_FALSE(archives.empty());
    for (const std::string& archive : archives) {
        SCOPED_TRACE(archive);
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        calls.clear();
        const size_t logged = DiagnosticsLogText().size();
        EXPECT_EQ(Extract(Widen(archive).c_str()), ExtractResult::OutputFailed);
        // The refusal is logged on one line, whatever the name holds.
        const std::string log = DiagnosticsLogText().substr(logged);
        const size_t at = log.find("refused entry name: ");
        ASSERT_NE(at, std::string::npos) << log;
        const std::string line = log.substr(at, log.find("\r\n", at) - at);
        EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20; })) << line;
        EXPECT_TRUE(calls.empty()) << "every name is checked before any entry is written";
        EXPECT_TRUE(NamesIn(game).empty());
        EXPECT_EQ(NamesIn(scratch.Path()), std::vector<std::wstring>{L"Varnok"});
    }
}

TEST_F(ExtractArchiveTest, APathLongerThanTheBufferFailsTheOutput)
{
    // The deep folders come first in the archive and already overflow.
    EXPECT_EQ(Extract(L"long-path.7z"), ExtractResult::OutputFailed);
    EXPECT_LT(calls.size(), 7u) << "Cross, four nested folders, two files";
    EXPECT_FALSE(FileExists(game + L"\\Cross\\first.txt")) << "later entries are untouched";
}

TEST_F(ExtractArchiveTest, ALockedFileFailsTheRepairAndKeepsTheFolderAsItWas)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    const std::wstring target = game + L"\\Cross\\b.bin";
    ASSERT_TRUE(WriteAll(target, "the old game file"));
    HANDLE lock = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const size_t logged = DiagnosticsLogText().size();
    EXPECT_EQ(Extract(L"nonsolid.7z"), ExtractResult::OutputFailed);
    CloseHandle(lock);
    // The system's reason, with its text (wine says "access denied" where Windows may say "sharing violation").
    const std::string log = DiagnosticsLogText().substr(logged);
    const size_t at = log.find("can't move " + Narrow(target) + " to " + Narrow(target) + ".old: error ");
    ASSERT_NE(at, std::string::npos) << log;
    const std::string line = log.substr(at, log.find('\n', at) - at);
    EXPECT_NE(line.find(" ("), std::string::npos) << "the system's text follows the code: " << line;
    EXPECT_EQ(ReadAll(target), "the old game file");
    EXPECT_EQ(NamesIn(game + L"\\Cross"), std::vector<std::wstring>{L"b.bin"}) << "nothing else stays";
}

}  // namespace
