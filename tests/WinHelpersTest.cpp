// The Win32 helpers where a mistake would be silent: a file position past
// 4 GB, a folder listing's entries and errors, a registry key's values and
// the access list it is given.
#include "FilePosition.h"
#include "FolderListing.h"
#include "RegistryKey.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>

namespace {

uint64_t PositionOf(HANDLE file)
{
    LARGE_INTEGER zero = {}, position = {};
    EXPECT_TRUE(SetFilePointerEx(file, zero, &position, FILE_CURRENT));
    return static_cast<uint64_t>(position.QuadPart);
}

// Offsets whose low half is INVALID_SET_FILE_POINTER are good positions too:
// only the error code tells them from a failure.
TEST(WinHelpersTest, SeekFileReachesEveryOffsetOfA64BitFile)
{
    ScratchFolder folder;
    const ScopedHandle file(CreateFileW((folder / L"big.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const uint64_t offsets[] = {0, 1, 0x7FFFFFFFull, 0xFFFFFFFEull, 0xFFFFFFFFull, 0x100000000ull,
                                0x1FFFFFFFFull, 0x140000007ull};
    for (uint64_t offset : offsets) {
        SCOPED_TRACE(offset);
        EXPECT_TRUE(SeekFile(file.Get(), offset));
        EXPECT_EQ(PositionOf(file.Get()), offset);
    }
    // A byte written past 5 GB lands there, and is read back from there.
    ASSERT_TRUE(SeekFile(file.Get(), 0x140000007ull));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "x", 1, &done, nullptr) && done == 1);
    LARGE_INTEGER size = {};
    ASSERT_TRUE(GetFileSizeEx(file.Get(), &size));
    EXPECT_EQ(static_cast<uint64_t>(size.QuadPart), 0x140000008ull);
    char byte = 0;
    ASSERT_TRUE(SeekFile(file.Get(), 0x140000007ull) && ReadFile(file.Get(), &byte, 1, &done, nullptr) && done == 1);
    EXPECT_EQ(byte, 'x');

    EXPECT_FALSE(SeekFile(INVALID_HANDLE_VALUE, 5));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(NO_ERROR));
}

TEST(WinHelpersTest, ListFolderGivesEveryEntryOnceAndSaysWhyItCant)
{
    ScratchFolder folder;
    ASSERT_TRUE(WriteAll(folder / L"a.txt", "a"));
    ASSERT_TRUE(WriteAll(folder / L"说明.txt", "b"));
    ASSERT_TRUE(CreateDirectoryW((folder / L"sub").c_str(), nullptr));
    ASSERT_TRUE(WriteAll(folder / L"sub\\inner.txt", "c"));
    std::vector<std::wstring> names;
    std::vector<std::wstring> folders;
    ASSERT_TRUE(ListFolder(folder.Path(), [&](const WIN32_FIND_DATAW& found) {
        names.push_back(found.cFileName);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            folders.push_back(found.cFileName);
        }
    }));
    std::sort(names.begin(), names.end());
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"..", L"a.txt", L"sub", L"说明.txt"})) << "not below it";
    EXPECT_EQ(folders, (std::vector<std::wstring>{L".", L"..", L"sub"}));

    const struct {
        const char* what;
        std::wstring path;
    } refused[] = {
        {"no such folder", folder / L"missing"},
        {"a file, not a folder", folder / L"a.txt"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        bool called = false;
        EXPECT_FALSE(ListFolder(c.path, [&called](const WIN32_FIND_DATAW&) { called = true; }));
        // Windows and wine differ in which error (wine: ERROR_INVALID_NAME for a file).
        EXPECT_NE(GetLastError(), static_cast<DWORD>(NO_ERROR));
        EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES)) << "an empty listing would look so";
        EXPECT_FALSE(called);
    }
    // The search handle is closed once the listing ends: the folder can go.
    ASSERT_TRUE(ListFolder(folder / L"sub", [](const WIN32_FIND_DATAW&) {}));
    EXPECT_TRUE(DeleteFileW((folder / L"sub\\inner.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryW((folder / L"sub").c_str())) << GetLastError();
}

class RegistryKeyTest : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }
    static constexpr const wchar_t* kTestKey = L"Software\\LumoraRepairTests\\RegistryKey";
};

TEST_F(RegistryKeyTest, StringsAreReadUpToTheirFirstZeroWhateverTheirType)
{
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const std::wstring large(3000, L'x');
    const struct {
        const wchar_t* name;
        DWORD type;
        std::wstring data;  // stored as it is, terminating zeros included only where written
        std::wstring expected;
    } cases[] = {
        {L"sz", REG_SZ, std::wstring(L"abc", 4), L"abc"},
        {L"unterminated", REG_SZ, L"abc", L"abc"},
        {L"multi", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), L"one"},
        {L"expand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\\x", 9), L"%TEMP%\\x"},
        {L"empty", REG_SZ, L"", L""},
        {L"larger than the fixed buffer", REG_SZ, large, large},
    };
    for (const auto& c : cases) {
        RegSetValueExW(raw, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                       static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
    }
    RegCloseKey(raw);
    RegistryKey key(HKEY_CURRENT_USER, kTestKey, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring text = L"left over";
        EXPECT_TRUE(key.QueryString(c.name, text));
        EXPECT_EQ(text, c.expected);
    }
    std::wstring text;
    EXPECT_FALSE(key.QueryString(L"no such value", text));
    EXPECT_FALSE(key.SetString(L"sz", L"read-only key")) << "opened for reading only";
}

// The key that keeps what only administrators may change gets exactly the
// access list asked for, no longer inherited from its parent.
TEST_F(RegistryKeyTest, TheAccessListSetIsTheOneReadBack)
{
    const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)";
    {
        RegistryKey key(HKEY_CURRENT_USER, kTestKey, false);
        ASSERT_TRUE(key.SetString(L"value", L"kept"));
        ASSERT_TRUE(key.SetSecurity(kAdministratorsOnly));
    }
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kTestKey, 0, READ_CONTROL, &raw), ERROR_SUCCESS);
    DWORD size = 0;
    RegGetKeySecurity(raw, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size);
    ASSERT_EQ(RegGetKeySecurity(raw, DACL_SECURITY_INFORMATION, descriptor.data(), &size), ERROR_SUCCESS);
    RegCloseKey(raw);
    wchar_t* sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const std::wstring text = sddl;
    LocalFree(sddl);
    EXPECT_EQ(text, kAdministratorsOnly);

    RegistryKey readOnly(HKEY_CURRENT_USER, kTestKey, true);
    EXPECT_FALSE(readOnly.SetSecurity(L"D:(A;;KA;;;WD)")) << "a key opened for reading can't be opened to all";
    std::wstring value;
    EXPECT_TRUE(readOnly.QueryString(L"value", value));
    EXPECT_EQ(value, L"kept");
}

}  // namespace
