// The journal read back as the next start reads it: each kind of line, what a
// crash leaves (a last line cut short), and journals that are not a repair's
// of this folder (out of order, unchained, unsafe names).
#include "ProtectedSettings.h"
#include "RepairJournal.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr char kHeader[] = "LumoraRepair journal 3";

class RepairJournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
        ASSERT_TRUE(folder.Open(game));
        ASSERT_TRUE(NewRepairId(folder.Identity(), repairId));
    }
    void TearDown() override { ForgetRepairId(folder.Identity()); }

    // `lines` (the header first) with the MAC chain a repair of this folder
    // writes, each ended by "\r\n".
    std::string Signed(const std::vector<std::string>& lines) const
    {
        std::string key;
        EXPECT_TRUE(JournalKey(key));
        JournalMac mac(key);
        EXPECT_TRUE(mac.Start(folder.Identity(), repairId));
        std::string text;
        for (const std::string& line : lines) {
            std::string field;
            EXPECT_TRUE(mac.Next(line, field));
            text += line + "\t" + field + "\r\n";
        }
        return text;
    }

    JournalState Read(const std::string& bytes, RepairRecord& record)
    {
        EXPECT_TRUE(WriteAll(game + L"\\LumoraRepair.journal", bytes));
        return ReadJournal(folder, record);
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    HeldFolder folder;
    std::string repairId;
};

TEST_F(RepairJournalTest, EachKindOfLineIsReadBackInItsPlace)
{
    const std::string journal = Signed({kHeader, "folder\tCross\\new", "stage\tCross\\a.dll.part",
                                        "stage\tCross\\new\\b.txt.part", "commit",
                                        "file\tCross\\a.dll.part\tCross\\a.dll\tCross\\a.dll.old",
                                        "file\tCross\\new\\b.txt.part\tCross\\new\\b.txt\t", "done"});
    RepairRecord record;
    ASSERT_EQ(Read(journal, record), JournalState::Loaded);
    EXPECT_EQ(record.folders, std::vector<std::wstring>{L"Cross\\new"});
    EXPECT_EQ(record.staged, (std::vector<std::wstring>{L"Cross\\a.dll.part", L"Cross\\new\\b.txt.part"}));
    EXPECT_TRUE(record.committing);
    ASSERT_EQ(record.replacements.size(), 2u);
    EXPECT_EQ(record.replacements[0].staging, L"Cross\\a.dll.part");
    EXPECT_EQ(record.replacements[0].target, L"Cross\\a.dll");
    EXPECT_EQ(record.replacements[0].backup, L"Cross\\a.dll.old");
    EXPECT_EQ(record.replacements[1].backup, L"") << "the target was new";
    EXPECT_TRUE(record.done);
    EXPECT_FALSE(record.movesKnown) << "read back: which moves were made is not known";
}

TEST_F(RepairJournalTest, WhatACrashLeavesIsReadUpToItsLastWholeLine)
{
    const std::string whole = Signed({kHeader, "stage\tCross\\a.part", "commit"});
    const struct {
        const char* what;
        std::string bytes;
        bool committing;
        size_t staged;
    } cases[] = {
        {"the last line cut short", whole.substr(0, whole.size() - 5), false, 1},
        {"the last line without its line end", whole.substr(0, whole.size() - 2), false, 1},
        {"the header cut short: nothing done yet", std::string(kHeader).substr(0, 10), false, 0},
        {"an empty journal: nothing done yet", "", false, 0},
        {"every line whole", whole, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RepairRecord record;
        ASSERT_EQ(Read(c.bytes, record), JournalState::Loaded);
        EXPECT_EQ(record.committing, c.committing);
        EXPECT_EQ(record.staged.size(), c.staged);
    }
}

TEST_F(RepairJournalTest, AJournalThatIsNotThisRepairsIsUnreadable)
{
    const std::string good = Signed({kHeader, "stage\tCross\\a.part", "commit", "file\tCross\\a.part\tCross\\a\t"});
    std::string wrongMac = good;
    wrongMac[wrongMac.find("commit\t") + 7] ^= 1;
    // Each line signed on its own: MACs of lines, but not of this chain.
    const std::string unchained = Signed({kHeader, "stage\tCross\\a.part"}) +
                                  Signed({kHeader, "commit"}).substr(Signed({kHeader}).size());
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a line after done", Signed({kHeader, "commit", "done", "file\tCross\\a.part\tCross\\a\t"})},
        {"done twice", Signed({kHeader, "commit", "done", "done"})},
        {"a file line before commit", Signed({kHeader, "file\tCross\\a.part\tCross\\a\t", "commit"})},
        {"a folder line after commit", Signed({kHeader, "commit", "folder\tCross\\x"})},
        {"a stage line after commit", Signed({kHeader, "commit", "stage\tCross\\x.part"})},
        {"commit twice", Signed({kHeader, "commit", "commit"})},
        {"done before commit", Signed({kHeader, "done"})},
        {"a MAC changed", wrongMac},
        {"a MAC that doesn't chain", unchained},
        {"a line without its MAC", std::string(kHeader) + "\r\n"},
        {"another format's header", Signed({"LumoraRepair journal 2", "commit"})},
        {"a kind of line it never writes", Signed({kHeader, "delete\tCross\\a"})},
        {"a file line of three fields", Signed({kHeader, "commit", "file\tCross\\a.part\tCross\\a"})},
        {"a folder outside the game folder", Signed({kHeader, "folder\t..\\Windows"})},
        {"a rooted staging file", Signed({kHeader, "stage\t\\Windows\\x"})},
        {"a target on another drive", Signed({kHeader, "commit", "file\tCross\\a.part\tC:\\boot.ini\t"})},
        {"a backup that is a device", Signed({kHeader, "commit", "file\tCross\\a.part\tCross\\a\tCON"})},
        {"a name that isn't UTF-8", Signed({kHeader, "stage\tCross\\\xff.part"})},
        {"a header only, but not ours", "Lumora" + std::string(30, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RepairRecord record;
        EXPECT_EQ(Read(c.bytes, record), JournalState::Unreadable);
    }
    RepairRecord record;
    EXPECT_EQ(Read(good, record), JournalState::Loaded) << "the same lines, as written";
}

TEST_F(RepairJournalTest, AJournalOfARepairThatIsOverIsUnreadable)
{
    const std::string journal = Signed({kHeader, "commit"});
    ForgetRepairId(folder.Identity());  // the repair ended; a copy of its journal is put back
    RepairRecord record;
    EXPECT_EQ(Read(journal, record), JournalState::Unreadable);
    EXPECT_TRUE(DeleteFileW((game + L"\\LumoraRepair.journal").c_str()));
    EXPECT_EQ(ReadJournal(folder, record), JournalState::None) << "no journal at all";
}

}  // namespace
