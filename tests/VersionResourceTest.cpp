// The version resource as Explorer's Details tab reads it, from the program
// this build made: the project version, the product and company names.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::wstring StringOf(const std::vector<char>& info, const wchar_t* name)
{
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0) {
        return std::wstring();
    }
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(VersionResourceTest, TheProgramNamesItsVersionProductAndCompany)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(VNK_TEST_PROGRAM, &ignored);
    ASSERT_NE(size, 0u) << "no version resource in " << Narrow(VNK_TEST_PROGRAM);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(VNK_TEST_PROGRAM, 0, size, info.data()));

    const std::wstring version = Widen(VNK_TEST_PROJECT_VERSION);
    const struct {
        const wchar_t* name;
        std::wstring expected;  // empty: present, whatever it says
    } strings[] = {
        {L"ProductName", L"Lumora修复工具"}, {L"FileDescription", L"Lumora修复工具"},
        {L"FileVersion", version},          {L"ProductVersion", version},
        {L"OriginalFilename", L"LumoraRepair.exe"}, {L"CompanyName", L""},
        {L"LegalCopyright", L""},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(Narrow(s.name));
        const std::wstring value = StringOf(info, s.name);
        EXPECT_FALSE(value.empty());
        if (!s.expected.empty()) {
            EXPECT_EQ(value, s.expected);
        }
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(VNK_TEST_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(minor, major)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, patch)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
