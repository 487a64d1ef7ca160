// The all-or-nothing repair: staging names, a commit cut short at any step and
// rolled back by the next start, a journal that can't be read or was not
// written for this folder, and paths that would pass a link.
#include "GameFolderTest.h"

#include "FolderListing.h"
#include "StagedRepair.h"

namespace {

using StagedRepairTest = GameFolderTest;

// A target whose path just fits is written even where "<target>.part" would
// not: under a short name beside it that no file has, and replaced only whole.
TEST_F(StagedRepairTest, ATargetThatJustFitsIsWrittenThroughAShortStagingName)
{
    const std::wstring name = L"Cross\\" + std::wstring(146, L'n') + L".txt";
    // Under the prefix's short temporary folder: the build folder may be deep.
    wchar_t temporary[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporary);
    std::wstring folder = std::wstring(temporary) + L"vnk-fits-" + std::to_wstring(GetTickCount()) + L"-";
    ASSERT_LT(folder.size() + 1 + name.size(), 259u) << "the temporary folder's path is too long for this test";
    folder.append(259 - 1 - name.size() - folder.size(), L'g');
    struct Cleanup {
        std::wstring path;
        ~Cleanup() { DeleteTree(path); }
    } cleanup{folder};
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Cross").c_str(), nullptr));
    const std::wstring target = folder + L"\\" + name;
    ASSERT_EQ(target.size(), 259u);
    ASSERT_TRUE(WriteAll(folder + L"\\Cross\\~", "a file of the player's"));

    for (const char* before : {"", "the old file"}) {
        if (*before != 0) {
            ASSERT_TRUE(WriteAll(target, before));
        }
        ASSERT_TRUE(UnpackArchive(TestArchive(L"long-name.7z"), folder, [](int32_t, int32_t) { return true; }).Ok());
        EXPECT_EQ(ReadAll(target), "fits\n");
        EXPECT_EQ(ReadAll(folder + L"\\Cross\\~"), "a file of the player's");
        int files = 0;
        ASSERT_TRUE(ListFolder(folder + L"\\Cross", [&files](const WIN32_FIND_DATAW& found) {
            files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        }));
        EXPECT_EQ(files, 2) << "no staging file is left";
    }
}

// A commit stopped after k of its n replacements, as a crash would leave it,
// is rolled back by the next start, for every k; a finished one leaves the
// package's files and nothing of its own.
TEST_F(StagedRepairTest, ACommitCutShortAtAnyStepIsRolledBackByTheNextStart)
{
    const auto prepare = [this] {
        DeleteTree(game);
        CreateDirectoryW(game.c_str(), nullptr);
        CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
        WriteAll(game + L"\\Cross\\CrossApp.dll", "the old program");
        WriteAll(game + L"\\Cross\\version.txt", "1.0");
        SetFileAttributesW((game + L"\\Cross\\version.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        WriteAll(game + L"\\Cross\\mine.txt", "the player's own");
        CreateDirectoryW((game + L"\\Cross\\config").c_str(), nullptr);
        WriteAll(game + L"\\Cross\\config\\settings.ini", "[old]");
    };
    prepare();
    const auto before = TreeOf(game);
    struct Unset {
        ~Unset() { SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr); }
    } unset;
    for (int k = 0; k <= 3; ++k) {  // 3 of the package's 5 files replace old ones
        SCOPED_TRACE(k);
        prepare();
        SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", std::to_wstring(k).c_str());
        ASSERT_EQ(Extract(L"package.7z"), ExtractResult::OutputFailed);
        SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
        ASSERT_TRUE(FileExists(game + L"\\LumoraRepair.journal"));
        EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::RolledBack);
        EXPECT_EQ(TreeOf(game), before);
    }
    prepare();
    ASSERT_EQ(Extract(L"package.7z"), ExtractResult::Ok);
    auto after = TreeOf(game);
    EXPECT_EQ(after.erase(L"Cross\\mine.txt"), 1u);
    EXPECT_EQ(after.size(), 10u) << "Cross, the package's 4 folders and 5 files only";
    EXPECT_EQ(after[L"Cross\\version.txt"], "26.12.7\n");
}

// Names with ".." inside them ("a..b.txt", a folder "v1..2") are names like
// any other: the journal of a commit of them cut short is read back and
// rolled back by the next start, and the next repair succeeds.
TEST_F(StagedRepairTest, NamesWithDoubleDotsAreRolledBackAndRepairedAgain)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    CreateDirectoryW((game + L"\\Cross\\v1..2").c_str(), nullptr);
    WriteAll(game + L"\\Cross\\a..b.txt", "old a..b");
    WriteAll(game + L"\\Cross\\v1..2\\x.txt", "old x");
    const auto before = TreeOf(game);
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", L"1");
    ASSERT_EQ(Extract(L"dots.7z"), ExtractResult::OutputFailed);
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
    ASSERT_NE(TreeOf(game), before) << "one replacement made, as a crash would leave it";
    EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::RolledBack);
    EXPECT_EQ(TreeOf(game), before);
    ASSERT_EQ(Extract(L"dots.7z"), ExtractResult::Ok);
    EXPECT_EQ(ReadAll(game + L"\\Cross\\a..b.txt"), "new a..b\n");
    EXPECT_EQ(ReadAll(game + L"\\Cross\\v1..2\\x.txt"), "new x\n");
    EXPECT_EQ(ReadAll(game + L"\\Cross\\..cfg"), "new cfg\n");
}

// A folder on the way that another program holds without sharing can't be
// held against being renamed away: the repair is refused, nothing changes.
TEST_F(StagedRepairTest, AFolderThatCannotBeHeldRefusesTheRepair)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    CreateDirectoryW((game + L"\\Cross\\config").c_str(), nullptr);
    WriteAll(game + L"\\Cross\\config\\settings.ini", "[old]");
    const auto before = TreeOf(game);
    {
        const ScopedHandle held(CreateFileW((game + L"\\Cross\\config").c_str(), GENERIC_READ, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(Extract(L"package.7z"), ExtractResult::OutputFailed);
    }
    EXPECT_EQ(TreeOf(game), before);
    EXPECT_NE(DiagnosticsLogText().find("config can't be held open below the folder"), std::string::npos);
}

// A decoding thread whose allocation fails ends its own work, never the
// program: the repair fails and rolls back, and the log says why, once.
TEST_F(StagedRepairTest, AThreadThatRunsOutOfMemoryFailsTheRepairAndChangesNothing)
{
    const struct {
        const char* what;
        const wchar_t* where;       // the thread that fails
        const wchar_t* processors;  // as many as the machine shows
        const wchar_t* archive;
        const char* logged;
    } cases[] = {
        {"blocks side by side", L"blocks", L"2", L"crossing-blocks.7z", "a decoding thread failed: out of memory"},
        {"blocks streamed in order", L"stream", L"1", L"package.7z", "the decoding thread failed: out of memory"},
    };
    struct Unset {
        ~Unset()
        {
            SetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", nullptr);
            SetEnvironmentVariableW(L"VNK_TEST_PROCESSORS", nullptr);
        }
    } unset;
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    WriteAll(game + L"\\Cross\\CrossApp.dll", "the old program");
    WriteAll(game + L"\\Cross\\code.dll", "the old code");
    const auto before = TreeOf(game);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t logged = DiagnosticsLogText().size();
        SetEnvironmentVariableW(L"VNK_TEST_PROCESSORS", c.processors);
        SetEnvironmentVariableW(L"VNK_TEST_FAIL_ALLOCATION", c.where);
        EXPECT_EQ(Extract(c.archive), ExtractResult::NoMemory);
        EXPECT_EQ(TreeOf(game), before);
        std::string log = DiagnosticsLogText();
        log.erase(0, log.size() >= logged ? logged : 0);  // a log that rolled over starts anew
        const size_t first = log.find(c.logged);
        EXPECT_NE(first, std::string::npos) << log;
        EXPECT_EQ(log.find(c.logged, first + 1), std::string::npos) << "logged once";
    }
}

// Names that meet, as Windows sees them, on one processor and on several:
// one outcome, the later entry in the archive's order winning; no file of
// the player's is ever taken for the repair's own; a folder entry is made or
// the repair fails; a refusal leaves the folder as it was.
TEST_F(StagedRepairTest, NamesThatMeetGiveOneOutcomeOnEveryProcessorCount)
{
    using Files = std::vector<std::pair<std::wstring, std::string>>;
    const struct {
        const char* what;
        const wchar_t* archive;
        Files player;  // in Cross before the repair
        ExtractResult expected;
        Files after;   // in Cross after it (the player's other files stay)
        size_t names;  // in Cross after it, folders included
        const wchar_t* folder;  // a folder in Cross after it
    } cases[] = {
        {"one name twice, in two blocks", L"dup-blocks.7z", {}, ExtractResult::Ok,
         {{L"dupA.txt", "the later entry\n"}}, 1, L""},
        // The player's É.txt.old is no free name for é.txt's backup.
        {"é and É, over the player's É and É.old", L"case-blocks.7z",
         {{L"\u00c9.txt", "the player's"}, {L"\u00c9.txt.old", "the player's old"}}, ExtractResult::Ok,
         {{L"\u00e9.txt", "the later entry\n"}, {L"\u00c9.txt.old", "the player's old"}}, 2, L""},
        {"X and X.part, over the player's X", L"part-beside.7z", {{L"X", "old X"}}, ExtractResult::Ok,
         {{L"X", "new X\n"}, {L"X.part", "new X.part\n"}}, 2, L""},
        {"a folder entry ending in /", L"folder-slash.7z", {}, ExtractResult::Ok, {{L"a.txt", "a\n"}}, 2, L"NewDir"},
        {"a folder entry with \\ inside", L"folder-backslash.7z", {}, ExtractResult::Ok, {}, 1, L"New\\Sub"},
        {"a folder the file system refuses", L"folder-unfit.7z", {{L"a.txt", "the player's"}},
         ExtractResult::OutputFailed, {}, 0, L""},
    };
    struct Unset {
        ~Unset() { SetEnvironmentVariableW(L"VNK_TEST_PROCESSORS", nullptr); }
    } unset;
    for (const auto& c : cases) {
        for (const wchar_t* processors : {L"1", L"2", L"4"}) {
            SCOPED_TRACE(std::string(c.what) + ", processors: " + Narrow(processors));
            DeleteTree(game);
            CreateDirectoryW(game.c_str(), nullptr);
            CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
            for (const auto& file : c.player) {
                WriteAll(game + L"\\Cross\\" + file.first, file.second);
            }
            const auto before = TreeOf(game);
            SetEnvironmentVariableW(L"VNK_TEST_PROCESSORS", processors);
            EXPECT_EQ(Extract(c.archive), c.expected);
            if (c.expected != ExtractResult::Ok) {
                EXPECT_EQ(TreeOf(game), before);
                continue;
            }
            for (const auto& file : c.after) {
                EXPECT_EQ(ReadAll(game + L"\\Cross\\" + file.first), file.second) << Narrow(file.first);
            }
            EXPECT_EQ(NamesIn(game), std::vector<std::wstring>{L"Cross"}) << "no journal is left";
            EXPECT_EQ(NamesIn(game + L"\\Cross").size(), c.names) << "no staging file or backup is left";
            EXPECT_TRUE(*c.folder == 0 || FolderExists(game + L"\\Cross\\" + c.folder));
        }
    }
}

// A folder entry written "Cross/NewDir/" is one folder: a roll-back removes
// it, and a roll-back that can't undo a step keeps the journal.
TEST_F(StagedRepairTest, ARollBackRemovesTheFoldersItMadeOrKeepsTheJournal)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    const auto before = TreeOf(game);
    const auto stopAtTheLast = [](int32_t entry, int32_t count) { return entry < count; };
    EXPECT_EQ(UnpackArchive(TestArchive(L"folder-slash.7z"), game, stopAtTheLast).result, ExtractResult::Stopped);
    EXPECT_EQ(TreeOf(game), before) << "NewDir removed, no journal left";

    // After a crash, a folder the repair made that another program holds
    // can't be removed: that step isn't undone, and the journal stays for the
    // next start to finish it.
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", L"0");
    EXPECT_EQ(Extract(L"folder-slash.7z"), ExtractResult::OutputFailed);
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
    {
        const ScopedHandle holder(CreateFileW((game + L"\\Cross\\NewDir").c_str(), GENERIC_READ, 0, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(holder.IsValid());
        EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::Failed);
        EXPECT_TRUE(FileExists(game + L"\\LumoraRepair.journal"));
    }
    EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::RolledBack);
    EXPECT_EQ(TreeOf(game), before);
}

// A genuine journal copied into another game folder is no journal of that
// folder: its MACs name the folder it was written in.
TEST_F(StagedRepairTest, AJournalCopiedIntoAnotherFolderIsNotActedOn)
{
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    WriteAll(game + L"\\Cross\\version.txt", "1.0");
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", L"1");
    ASSERT_EQ(Extract(L"package.7z"), ExtractResult::OutputFailed);
    SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
    const std::wstring copy = scratch / L"Copy";
    RunShellWhilePumping("cp -a '" + UnixPath(game) + "' '" + UnixPath(copy) + "'");
    const auto copied = TreeOf(copy);
    ASSERT_TRUE(FileExists(copy + L"\\LumoraRepair.journal"));
    EXPECT_EQ(RecoverInterruptedRepair(copy), Recovery::Unreadable);
    EXPECT_EQ(TreeOf(copy), copied);
    EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::RolledBack) << "where it was written, it is recovered";
    EXPECT_EQ(ReadAll(game + L"\\Cross\\version.txt"), "1.0");
}

// A journal belongs to the one repair that wrote it: a copy of a genuine
// journal, put back with planted backups once its repair is over, or put in
// place of the journal of a later repair, is never acted on.
TEST_F(StagedRepairTest, AJournalOfAnotherRepairIsNotActedOn)
{
    const auto cutShort = [this] {
        SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", L"1");
        EXPECT_EQ(Extract(L"package.7z"), ExtractResult::OutputFailed);
        SetEnvironmentVariableW(L"VNK_TEST_STOP_COMMIT_AFTER", nullptr);
    };
    const std::wstring journal = game + L"\\LumoraRepair.journal";
    CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
    WriteAll(game + L"\\Cross\\version.txt", "1.0");
    cutShort();
    const std::string copy = ReadAll(journal);
    ASSERT_FALSE(copy.empty());
    ASSERT_EQ(RecoverInterruptedRepair(game), Recovery::RolledBack);

    const struct {
        const char* what;
        bool laterRepairUnderWay;
        const char* logged;
    } cases[] = {
        {"put back after its repair", false, "no repair of this program is under way in this folder"},
        {"put in place of a later repair's", true, "the line at byte 0 was not written by this program for this folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.laterRepairUnderWay) {
            cutShort();
        }
        ASSERT_TRUE(WriteAll(journal, copy));
        ASSERT_TRUE(WriteAll(game + L"\\Cross\\version.txt.old", "planted"));
        const auto before = TreeOf(game);
        EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::Unreadable);
        EXPECT_EQ(TreeOf(game), before);
        EXPECT_NE(DiagnosticsLogText().find(c.logged), std::string::npos);
        DeleteFileW(journal.c_str());
        DeleteFileW((game + L"\\Cross\\version.txt.old").c_str());
    }
}

// A journal that can't be read is never guessed at: it stays, and so does the folder.
TEST_F(StagedRepairTest, AJournalThatCannotBeReadHoldsTheFolder)
{
    ASSERT_TRUE(WriteAll(game + L"\\LumoraRepair.journal", "LumoraRepair journal 1\r\nsomething else\r\n"));
    const auto before = TreeOf(game);
    EXPECT_EQ(Extract(L"package.7z"), ExtractResult::OutputFailed);
    EXPECT_EQ(RecoverInterruptedRepair(game), Recovery::Unreadable);
    EXPECT_EQ(TreeOf(game), before);
}

}  // namespace
