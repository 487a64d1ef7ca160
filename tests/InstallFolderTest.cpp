// Install folder discovery in the tests' own wine prefix: the registry value,
// a real desktop shortcut, the default folders.
#include "RegistryKey.h"
#include "RepairEngine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

namespace {

const wchar_t kKey[] = L"Software\\Qelvan\\VNK";

void SetInstallPath(const std::wstring& value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring DesktopShortcut()
{
    wchar_t desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE);
    return std::wstring(desktop) + L"\\Varnok.lnk";
}

void MakeShortcut(const std::wstring& target)
{
    IShellLinkW* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&link))));
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    EXPECT_TRUE(SUCCEEDED(file->Save(DesktopShortcut().c_str(), TRUE)));
    file->Release();
    link->Release();
}

class InstallFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        DeleteFileW(DesktopShortcut().c_str());
        CreateDirectoryW(game.c_str(), nullptr);
        CreateDirectoryW((game + L"\\Cross").c_str(), nullptr);
        CreateDirectoryW((game + L"\\Bin").c_str(), nullptr);
        WriteAll(game + L"\\Bin\\Varnok.exe", "MZ");
    }
    void TearDown() override
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        DeleteFileW(DesktopShortcut().c_str());
        CoUninitialize();
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Qelvan游戏 Varnok";
    RepairEngine& engine = RepairEngine::Instance();
    std::wstring found = L"untouched";
};

TEST_F(InstallFolderTest, FindsTheFolderInTheRegistry)
{
    SetInstallPath(game);
    ASSERT_TRUE(engine.FindInstallFolder(found));
    EXPECT_EQ(found, game);
}

TEST_F(InstallFolderTest, FindsTheFolderThroughTheDesktopShortcutWhenTheRegistryIsWrong)
{
    // Wine's shell links can't describe the Z: drive and keep only the ANSI form
    // of the target path, so this game lives on C: under an ASCII name.
    const std::wstring onC = L"C:\\Games\\Qelvan Varnok";
    CreateDirectoryW(L"C:\\Games", nullptr);
    CreateDirectoryW(onC.c_str(), nullptr);
    CreateDirectoryW((onC + L"\\Cross").c_str(), nullptr);
    CreateDirectoryW((onC + L"\\Bin").c_str(), nullptr);
    WriteAll(onC + L"\\Bin\\Varnok.exe", "MZ");
    SetInstallPath(scratch / L"not-a-game");
    MakeShortcut(onC + L"\\Bin\\Varnok.exe");
    const bool ok = engine.FindInstallFolder(found);
    DeleteTree(L"C:\\Games");
    ASSERT_TRUE(ok);
    EXPECT_EQ(found, onC);
}

TEST_F(InstallFolderTest, AShortcutToAFileDirectlyInTheGameFolderLandsOneFolderTooHigh)
{
    CreateDirectoryW(L"C:\\Games", nullptr);
    CreateDirectoryW(L"C:\\Games\\Varnok", nullptr);
    CreateDirectoryW(L"C:\\Games\\Varnok\\Cross", nullptr);
    WriteAll(L"C:\\Games\\Varnok\\Varnok.exe", "MZ");
    MakeShortcut(L"C:\\Games\\Varnok\\Varnok.exe");
    const bool ok = engine.FindInstallFolder(found);
    DeleteTree(L"C:\\Games");
    EXPECT_FALSE(ok);
    EXPECT_EQ(found, L"untouched");
}

TEST_F(InstallFolderTest, NothingFoundLeavesTheOutputAloneAndCreatesTheEmptyKey)
{
    EXPECT_FALSE(engine.FindInstallFolder(found));
    EXPECT_EQ(found, L"untouched");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(InstallFolderTest, FindsTheFirstDefaultFolder)
{
    const std::wstring base = L"C:\\Program Files\\Qelvan游戏";
    const std::wstring x86 = L"C:\\Program Files (x86)\\Qelvan游戏";
    for (const std::wstring& root : {base, x86}) {
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW((root + L"\\Varnok").c_str(), nullptr);
        CreateDirectoryW((root + L"\\Varnok\\Cross").c_str(), nullptr);
    }
    const bool ok = engine.FindInstallFolder(found);
    DeleteTree(base);
    DeleteTree(x86);
    ASSERT_TRUE(ok);
    EXPECT_EQ(found, base + L"\\Varnok");
}

TEST_F(InstallFolderTest, AFileNamedCrossMarksTheFolderToo)
{
    const std::wstring other = scratch / L"other";
    CreateDirectoryW(other.c_str(), nullptr);
    EXPECT_FALSE(engine.IsInstallFolder(other));
    WriteAll(other + L"\\Cross", "");
    EXPECT_TRUE(engine.IsInstallFolder(other));
    EXPECT_TRUE(engine.IsInstallFolder(other + L"\\"));
}

TEST_F(InstallFolderTest, RegistryKeyReadsLongValuesAndStopsAtTheFirstZero)
{
    std::wstring longValue(3000, L'x');
    longValue += L"end";
    SetInstallPath(longValue);
    RegistryKey key(HKEY_CURRENT_USER, kKey, true);
    std::wstring text;
    ASSERT_TRUE(key.QueryString(L"InstallPath", text));
    EXPECT_EQ(text, longValue);

    // Binary data with a zero inside: the text ends there; a missing value fails.
    HKEY raw = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &raw);
    const wchar_t data[] = {L'a', L'b', 0, L'c'};
    RegSetValueExW(raw, L"Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(data), sizeof(data));
    RegCloseKey(raw);
    ASSERT_TRUE(key.QueryString(L"Binary", text));
    EXPECT_EQ(text, L"ab");
    text = L"kept";
    EXPECT_FALSE(key.QueryString(L"Missing", text));
    EXPECT_EQ(text, L"kept");
}

}  // namespace
