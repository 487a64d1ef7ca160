// The fixture of the extraction tests: a game folder in a scratch folder, and
// UnpackArchive run on one of the archives support/make_archives.py makes.
#pragma once

#include "ExtractArchive.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// The outcome's name in a failing test's message.
inline void PrintTo(ExtractResult result, std::ostream* out)
{
    static const char* const kNames[] = {"Ok",      "CannotOpen",   "NoMemory", "OutputFailed", "Stopped",
                                         "NotAnArchive", "Unsupported", "Damaged", "ReadFailed"};
    *out << kNames[static_cast<int>(result)];
}

inline std::wstring TestArchive(const wchar_t* name) { return std::wstring(VNK_TEST_DATA) + L"\\" + name; }

class GameFolderTest : public ::testing::Test {
protected:
    ExtractResult Extract(const wchar_t* archive)
    {
        return UnpackArchive(TestArchive(archive), game, [this](int32_t entry, int32_t count) {
                   calls.emplace_back(entry, count);
                   return true;
               }).result;
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    std::vector<std::pair<int32_t, int32_t>> calls;

    void SetUp() override { CreateDirectoryW(game.c_str(), nullptr); }
};
