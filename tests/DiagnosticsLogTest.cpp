// The diagnostics log: line format, whole lines from two threads, rollover at
// 1 MB, and a log that can't be written leaving every outcome as it was.
#include "DiagnosticsLog.h"
#include "EventWindow.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// "2026-12-08 01:23:45.678 [UI] message\r": the message, or empty when the line isn't whole.
std::string MessageOf(const std::string& line)
{
    if (line.size() < 26 || line.back() != '\r' || line[4] != '-' || line[10] != ' ' || line[13] != ':' ||
        line[19] != '.' || line[23] != ' ' || line[24] != '[') {
        return "";
    }
    const size_t close = line.find("] ", 24);
    return close == std::string::npos ? "" : line.substr(close + 2, line.size() - close - 3);
}

class DiagnosticsLogTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogPath(path); }
    void TearDown() override { SetLogPath(previous); }

    const std::wstring previous = LogPath();
    ScratchFolder folder;
    const std::wstring path = folder / L"LumoraRepair.log";
};

DWORD WINAPI WriteTenThousandLines(LPVOID parameter)
{
    const char* name = static_cast<const char*>(parameter);
    for (int i = 0; i < 10000; ++i) {
        Log(Widen(std::string(name) + " line " + std::to_string(i)));
    }
    return 0;
}

DWORD WINAPI LogFromAWorker(LPVOID)
{
    Log(L"from a worker");
    return 0;
}

TEST_F(DiagnosticsLogTest, LinesCarryTheTimeTheThreadAndTheMessageInUtf8)
{
    SetLogUiThread();
    Log(L"from the UI thread: 游戏路径");
    HANDLE worker = CreateThread(nullptr, 0, LogFromAWorker, nullptr, 0, nullptr);
    WaitForSingleObject(worker, 5000);
    CloseHandle(worker);
    Log(L"entry Cross/a\r\n2026-12-08 00:00:00.000 [UI] forged\x01\u2028");
    const std::vector<std::string> lines = Lines(ReadAll(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[0]), "from the UI thread: 游戏路径");
    EXPECT_NE(lines[0].find(" [UI] "), std::string::npos);
    EXPECT_EQ(MessageOf(lines[1]), "from a worker");
    EXPECT_NE(lines[1].find(" [worker] "), std::string::npos);
    // Control characters are escaped: one event, one line.
    EXPECT_EQ(MessageOf(lines[2]), "entry Cross/a\\x0D\\x0A2026-12-08 00:00:00.000 [UI] forged\\x01\\u2028");
}

TEST_F(DiagnosticsLogTest, TwoThreadsWritingTenThousandLinesEachLeaveWholeLines)
{
    HANDLE threads[2] = {CreateThread(nullptr, 0, WriteTenThousandLines, const_cast<char*>("A"), 0, nullptr),
                         CreateThread(nullptr, 0, WriteTenThousandLines, const_cast<char*>("B"), 0, nullptr)};
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 120000), WAIT_OBJECT_0);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);

    // Over 1 MB in all: the older part is in the rolled-over file.
    std::vector<std::string> lines = Lines(ReadAll(path + L".1"));
    const std::vector<std::string> newer = Lines(ReadAll(path));
    lines.insert(lines.end(), newer.begin(), newer.end());
    ASSERT_EQ(lines.size(), 20000u);
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        const std::string message = MessageOf(line);
        ASSERT_TRUE(message.size() > 7 && (message[0] == 'A' || message[0] == 'B')) << "not a whole line: " << line;
        const int thread = message[0] - 'A';
        EXPECT_EQ(message.substr(2), "line " + std::to_string(next[thread]++)) << "each thread's lines in order";
    }
    EXPECT_EQ(next[0], 10000);
    EXPECT_EQ(next[1], 10000);
}

TEST_F(DiagnosticsLogTest, AtOneMegabyteTheLogRollsOverAndKeepsOneOlderFile)
{
    const std::wstring filler(1000, L'x');
    auto fill = [&](const wchar_t* mark) {
        for (int i = 0; i < 1200; ++i) {  // about 1.2 MB
            Log(std::wstring(mark) + L" " + filler);
        }
    };
    fill(L"first");
    const std::string older = ReadAll(path + L".1");
    ASSERT_FALSE(older.empty()) << "rolled over";
    EXPECT_LE(older.size(), kMaxLogBytes);
    EXPECT_LE(ReadAll(path).size(), kMaxLogBytes);
    EXPECT_EQ(MessageOf(Lines(older).front()).substr(0, 5), "first");

    fill(L"second");
    EXPECT_LE(ReadAll(path + L".1").size(), kMaxLogBytes);
    EXPECT_LE(ReadAll(path).size(), kMaxLogBytes);
    EXPECT_FALSE(FileExists(path + L".2")) << "one older file only";
    EXPECT_NE(ReadAll(path + L".1"), older) << "the older file was replaced";
}

// The temporary folder is the user's own: a log replaced there by another name
// of a file elsewhere is replaced in turn, never written through.
TEST_F(DiagnosticsLogTest, ALogThatIsAnotherNameOfAFileElsewhereIsNeverWrittenThrough)
{
    const std::wstring elsewhere = folder / L"system.ini";
    ASSERT_TRUE(WriteAll(elsewhere, "the system's"));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), elsewhere.c_str(), nullptr));
    Log(L"a line");
    EXPECT_EQ(ReadAll(elsewhere), "the system's");
    EXPECT_EQ(MessageOf(Lines(ReadAll(path)).back()), "a line");
}

// A log that can't be written is left out: the repair ends as it would anyway.
TEST_F(DiagnosticsLogTest, ALogThatCannotBeWrittenChangesNoOutcome)
{
    const std::string package = ReadAll(std::wstring(VNK_TEST_DATA) + L"\\package.7z");
    ASSERT_FALSE(package.empty());
    ServeFile("packages/log-test.7z", package);
    RepairEngine& engine = RepairEngine::Instance();
    EventWindow window;
    engine.ReportTo(window.Handle());
    RepairConfig config;
    config.url = TestUrl(L"/packages/log-test.7z");
    engine.UseConfig(config);

    HANDLE lock = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    for (const std::wstring& logPath : {folder / L"no\\such\\folder\\LumoraRepair.log", path}) {
        SCOPED_TRACE(Narrow(logPath));
        SetLogPath(logPath);
        ScratchFolder game;
        window.events.clear();
        ASSERT_TRUE(engine.StartPackageWorker(game.Path()));
        window.PumpUntil([](const std::vector<EventRecord>& events) {
            return !events.empty() && events.back().code == ExtractionSucceeded;
        }, 30000);
        engine.Shutdown(10000);
        ASSERT_FALSE(window.events.empty());
        EXPECT_EQ(window.events.back().code, ExtractionSucceeded);
        EXPECT_EQ(ReadAll(game / L"Cross\\version.txt"), "26.12.7\n");
    }
    CloseHandle(lock);
    EXPECT_EQ(ReadAll(path), "") << "nothing was written while the file was locked";
    Log(L"after the lock");
    EXPECT_EQ(MessageOf(Lines(ReadAll(path)).back()), "after the lock") << "the log resumes";
    engine.ReportTo(nullptr);
}

}  // namespace
