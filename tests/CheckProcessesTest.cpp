// CheckProcesses with real processes: the tests' helper program copied into a
// game folder (or elsewhere) and started there under wine.
#include "RepairEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <memory>
#include <vector>

namespace {

// The helper program, started from a copy at `path`; terminated at the end.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& path)
    {
        CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(VNK_TEST_SLEEPER, path.c_str(), FALSE)) << Narrow(path);
        std::wstring line = L"\"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        EXPECT_TRUE(CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &process_));
        CloseHandle(process_.hThread);
        // Ready once its main module is visible to other processes.
        for (int i = 0; i < 100; ++i) {
            wchar_t module[MAX_PATH];
            if (GetModuleFileNameExW(process_.hProcess, nullptr, module, MAX_PATH) != 0) {
                break;
            }
            Sleep(50);
        }
    }
    ~RunningProgram()
    {
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
    }
    DWORD Id() const { return process_.dwProcessId; }

private:
    PROCESS_INFORMATION process_ = {};
};

// Position of a process id in a fresh snapshot, or -1.
int SnapshotIndex(DWORD id)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    int index = 0;
    int found = -1;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry), ++index) {
        if (entry.th32ProcessID == id) {
            found = index;
        }
    }
    CloseHandle(snapshot);
    return found;
}

class CheckProcessesTest : public ::testing::Test {
protected:
    void SetUp() override { CreateDirectoryW(game.c_str(), nullptr); }
    void TearDown() override { engine.config.processNames.clear(); }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    RepairEngine& engine = RepairEngine::Instance();
    std::wstring name = L"untouched";
};

TEST_F(CheckProcessesTest, AListedProgramRunningFromTheGameFolderBlocks)
{
    RunningProgram program(game + L"\\Bin\\VnkGame.exe");
    engine.config.processNames = {L"other.exe", L"VnkGame.exe"};
    EXPECT_FALSE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"VnkGame.exe");
    // A trailing separator in the folder text changes nothing.
    name.clear();
    EXPECT_FALSE(engine.CheckProcesses(game + L"\\", name));
    EXPECT_EQ(name, L"VnkGame.exe");
}

TEST_F(CheckProcessesTest, NamesMatchWithoutRegardToTheCaseOfAtoZ)
{
    RunningProgram program(game + L"\\VnkGame.exe");
    engine.config.processNames = {L"vnkgame.EXE"};
    EXPECT_FALSE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"VnkGame.exe") << "the name as the snapshot spells it";
    engine.config.processNames = {L"VnkGame.ex"};
    name = L"untouched";
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
}

TEST_F(CheckProcessesTest, TheSameProgramFromAnotherFolderDoesNotBlock)
{
    RunningProgram program(scratch / L"Elsewhere\\VnkGame.exe");
    engine.config.processNames = {L"VnkGame.exe"};
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
    // Without a folder text every listed program blocks.
    EXPECT_FALSE(engine.CheckProcesses(L"", name));
}

TEST_F(CheckProcessesTest, ASiblingFolderThatExtendsTheGameFolderNameBlocks)
{
    RunningProgram program(game + L"2\\VnkGame.exe");
    engine.config.processNames = {L"VnkGame.exe"};
    EXPECT_FALSE(engine.CheckProcesses(game, name));
}

TEST_F(CheckProcessesTest, TheLastBlockingProcessInSnapshotOrderIsNamed)
{
    RunningProgram first(game + L"\\VnkGame.exe");
    RunningProgram second(game + L"\\VnkLobby.exe");
    engine.config.processNames = {L"VnkGame.exe", L"VnkLobby.exe"};
    const int a = SnapshotIndex(first.Id());
    const int b = SnapshotIndex(second.Id());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_FALSE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, a > b ? L"VnkGame.exe" : L"VnkLobby.exe");
}

TEST_F(CheckProcessesTest, AnEmptyListBlocksNothing)
{
    RunningProgram program(game + L"\\VnkGame.exe");
    engine.config.processNames.clear();
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
}

}  // namespace
