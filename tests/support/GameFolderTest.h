// The fixture of the extraction tests: a game folder in a scratch folder, and
// ExtractArchive run on one of the archives support/make_archives.py makes.
#pragma once

#include "ExtractArchive.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

inline std::wstring TestArchive(const wchar_t* name) { return std::wstring(VNK_TEST_DATA) + L"\\" + name; }

class GameFolderTest : public ::testing::Test {
protected:
    int Extract(const wchar_t* archive)
    {
        return ExtractArchive(TestArchive(archive), game, [this](int32_t entry, int32_t count) {
            calls.emplace_back(entry, count);
            return true;
        });
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    std::vector<std::pair<int32_t, int32_t>> calls;

    void SetUp() override { CreateDirectoryW(game.c_str(), nullptr); }
};
