// CheckProcesses with real processes: the tests' helper program copied into a
// game folder (or elsewhere) and started there under wine.
#include "KernelFunction.h"
#include "RepairConfig.h"
#include "RepairEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// Whether another process could read the path of `process` yet: its main
// module is mapped. A 32-bit process reads a 64-bit one only the Vista way.
bool ImagePathReadable(HANDLE process)
{
    wchar_t path[MAX_PATH];
    if (GetModuleFileNameExW(process, nullptr, path, MAX_PATH) != 0) {
        return true;
    }
    const auto query = KernelFunction<QueryImageNameFn>("QueryFullProcessImageNameW");
    DWORD size = MAX_PATH;
    return query != nullptr && query(process, 0, path, &size) && size > 0;
}

// The helper program, started from a copy of `program` at `path`; terminated at the end.
class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& path, const std::wstring& program = VNK_TEST_SLEEPER)
    {
        CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        EXPECT_TRUE(CopyFileW(program.c_str(), path.c_str(), FALSE)) << Narrow(path);
        std::wstring line = L"\"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        EXPECT_TRUE(CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &process_));
        CloseHandle(process_.hThread);
        // Ready once its main module is visible to other processes.
        for (int i = 0; i < 100 && !ImagePathReadable(process_.hProcess); ++i) {
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
    HANDLE Handle() const { return process_.hProcess; }

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
    void TearDown() override { List({}); }

    // The programs the configuration lists.
    void List(std::vector<std::wstring> names)
    {
        RepairConfig config;
        config.processNames = std::move(names);
        engine.UseConfig(config);
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    RepairEngine& engine = RepairEngine::Instance();
    std::wstring name = L"untouched";
};

TEST_F(CheckProcessesTest, AListedProgramRunningFromTheGameFolderBlocks)
{
    RunningProgram program(game + L"\\Bin\\VnkGame.exe");
    List({L"other.exe", L"VnkGame.exe"});
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
    List({L"vnkgame.EXE"});
    EXPECT_FALSE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"VnkGame.exe") << "the name as the snapshot spells it";
    List({L"VnkGame.ex"});
    name = L"untouched";
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
}

TEST_F(CheckProcessesTest, TheSameProgramFromAnotherFolderDoesNotBlock)
{
    RunningProgram program(scratch / L"Elsewhere\\VnkGame.exe");
    List({L"VnkGame.exe"});
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
    // Without a folder text every listed program blocks.
    EXPECT_FALSE(engine.CheckProcesses(L"", name));
}

TEST_F(CheckProcessesTest, ASiblingFolderThatExtendsTheGameFolderNameBlocks)
{
    RunningProgram program(game + L"2\\VnkGame.exe");
    List({L"VnkGame.exe"});
    EXPECT_FALSE(engine.CheckProcesses(game, name));
}

TEST_F(CheckProcessesTest, TheLastBlockingProcessInSnapshotOrderIsNamed)
{
    RunningProgram first(game + L"\\VnkGame.exe");
    RunningProgram second(game + L"\\VnkLobby.exe");
    List({L"VnkGame.exe", L"VnkLobby.exe"});
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
    List({});
    EXPECT_TRUE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"untouched");
}

// Run by the test process_wow64_tests only: this 32-bit program under 64-bit
// wine, as the shipped program mostly runs, with a 64-bit helper program.
class ProcessCheckOn64BitWindows : public CheckProcessesTest {
protected:
    void SetUp() override
    {
        CheckProcessesTest::SetUp();
        const wchar_t* helper = _wgetenv(L"VNK_SLEEPER64");
        ASSERT_NE(helper, nullptr) << "VNK_SLEEPER64 names the 64-bit helper program";
        sleeper64 = helper;
        BOOL wow64 = FALSE;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
        ASSERT_TRUE(wow64) << "runs as a 32-bit process on 64-bit Windows";
    }

    std::wstring sleeper64;
};

TEST_F(ProcessCheckOn64BitWindows, A64BitProgramElsewhereDoesNotBlock)
{
    RunningProgram program(scratch / L"Elsewhere\\VnkGame.exe", sleeper64);
    BOOL helperWow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(program.Handle(), &helperWow64));
    ASSERT_FALSE(helperWow64) << "the helper is a 64-bit process";
    List({L"VnkGame.exe"});
    EXPECT_TRUE(engine.CheckProcesses(game, name)) << "its path is read, so its folder counts";
    EXPECT_EQ(name, L"untouched");
}

TEST_F(ProcessCheckOn64BitWindows, A64BitProgramInTheGameFolderBlocks)
{
    RunningProgram program(game + L"\\Bin\\VnkGame.exe", sleeper64);
    List({L"VnkGame.exe"});
    EXPECT_FALSE(engine.CheckProcesses(game, name));
    EXPECT_EQ(name, L"VnkGame.exe");
}

}  // namespace
