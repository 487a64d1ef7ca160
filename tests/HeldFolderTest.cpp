// The layer every act on the game folder goes through: opens, creations,
// renames and deletions relative to a held folder, links met on the way, and
// a folder renamed away with a link put under its name while it is held.
#include "HeldFolder.h"
#include "NtFiles.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

class HeldFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RunShellWhilePumping("mkdir -p '" + UnixPath(game) + "/Cross' '" + UnixPath(outside) + "'");
        ASSERT_TRUE(folder.Open(game));
    }

    ScratchFolder scratch;
    std::wstring game = scratch / L"Varnok";
    std::wstring outside = scratch / L"Outside";
    HeldFolder folder;
};

std::string Read(HANDLE file)
{
    char bytes[64] = {};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof(bytes), &read, nullptr);
    return std::string(bytes, read);
}

bool Write(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

// Each act as the repair uses it, and how each says no.
TEST_F(HeldFolderTest, ActsBelowTheFolderThroughItsHandles)
{
    const std::wstring a = game + L"\\Cross\\new\\a.txt", b = game + L"\\Cross\\new\\b.txt";
    bool created = false;
    ASSERT_TRUE(folder.CreateFolder(game + L"\\Cross\\new", created));
    EXPECT_TRUE(created);
    ASSERT_TRUE(folder.CreateFolder(game + L"\\Cross\\new", created));
    EXPECT_FALSE(created) << "an existing folder is held, not made";
    {
        ScopedHandle file = folder.CreateNew(a, GENERIC_WRITE, 0);
        ASSERT_TRUE(file.IsValid()) << GetLastError();
        EXPECT_TRUE(Write(file.Get(), "alpha"));
    }
    EXPECT_FALSE(folder.CreateNew(a, GENERIC_WRITE, 0).IsValid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS)) << "as CreateFileW's CREATE_NEW says it";
    EXPECT_EQ(ReadAll(a), "alpha");

    ASSERT_TRUE(folder.Move(a, b));
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadAll(b), "alpha");
    ASSERT_TRUE(WriteAll(a, "other"));
    EXPECT_FALSE(folder.Move(a, b)) << "a rename never replaces";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    std::vector<std::wstring> names;
    ASSERT_TRUE(folder.List(game + L"\\Cross\\new", [&names](const std::wstring& name, DWORD attributes) {
        names.push_back(name + ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? L"/" : L""));
    }));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
    EXPECT_NE(folder.Attributes(game + L"\\Cross\\new") & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(folder.Attributes(game + L"\\Cross\\none.txt"), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(SetFileAttributesW(a.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(folder.Delete(a)) << "a read-only file with one name is deleted";
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(folder.Delete(a)) << "nothing there: nothing left";
    EXPECT_FALSE(folder.Delete(game + L"\\Cross\\new")) << "a folder is no file to delete";

    EXPECT_FALSE(folder.RemoveFolder(game + L"\\Cross\\new"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    ASSERT_TRUE(folder.Delete(b));
    EXPECT_TRUE(folder.RemoveFolder(game + L"\\Cross\\new"));
    EXPECT_FALSE(FolderExists(game + L"\\Cross\\new"));

    EXPECT_FALSE(folder.CreateNew(outside + L"\\x.txt", GENERIC_WRITE, 0).IsValid()) << "only below the folder";
    EXPECT_FALSE(FileExists(outside + L"\\x.txt"));
}

// Nothing below the folder may be a link (a Unix symbolic link here, which
// wine shows as a reparse point); the folder's own path may.
TEST_F(HeldFolderTest, APathBelowTheFolderMustPassNoLink)
{
    const std::wstring file = game + L"\\Cross\\a\\b\\file.txt";
    const struct {
        const char* what;
        const wchar_t* link;  // relative to the game folder, or empty
        std::wstring checked;
        bool passes;
    } cases[] = {
        {"no link", L"", file, true},
        {"a link at the top", L"Cross", file, false},
        {"a link in the middle", L"Cross\\a", file, false},
        {"a link at the end", L"Cross\\a\\b", file, false},
        {"a path outside the game folder", L"", outside + L"\\file.txt", false},
    };
    const std::string unixGame = UnixPath(game);
    const std::string unixOutside = UnixPath(outside);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // rm -rf removes links, never what they point to.
        std::string commands = "rm -rf '" + unixGame + "' '" + unixOutside + "' && mkdir -p '" + unixGame +
                               "/Cross/a/b' '" + unixOutside + "' && echo mine > '" + UnixPath(file) + "'";
        if (*c.link != 0) {
            const std::string linked = UnixPath(game + L"\\" + c.link);
            commands += " && mv '" + linked + "' '" + unixOutside + "/moved' && ln -s '" + unixOutside + "/moved' '" +
                        linked + "'";
        }
        RunShellWhilePumping(commands);
        HeldFolder held;
        ASSERT_TRUE(held.Open(game));
        EXPECT_EQ(held.HoldFoldersOf(c.checked), c.passes);
        // Every act through a link is refused as well, and nothing behind it changes.
        const auto before = TreeOf(outside);
        EXPECT_EQ(held.CreateNew(c.checked + L".new", GENERIC_WRITE, 0).IsValid(), c.passes);
        EXPECT_EQ(held.Delete(c.checked), c.passes);
        if (!c.passes) {
            EXPECT_EQ(TreeOf(outside), before);
        }
    }
    // Reached through a link of its own, the folder is what it points to.
    const std::wstring through = scratch / L"Through";
    RunShellWhilePumping("ln -s '" + unixGame + "' '" + UnixPath(through) + "'");
    {
        HeldFolder held;
        ASSERT_TRUE(held.Open(through));
        EXPECT_TRUE(held.HoldFoldersOf(through + L"\\Cross\\a\\b\\file.txt"));
        HeldFolder direct;
        ASSERT_TRUE(direct.Open(game));
        EXPECT_EQ(held.Identity(), direct.Identity());
    }
    RunShellWhilePumping("rm -rf '" + UnixPath(through) + "' '" + unixGame + "' '" + unixOutside + "'");
}

// The attack the layer is for: once the repair has opened the game folder,
// renaming it away and putting a link to somewhere else under its name
// changes nothing of where the acts land. Opens and creations go by the held
// handles everywhere; wine renames and deletes by the name a file was opened
// under, so there the folder's move is noticed before the next batch of acts
// and everything after is refused: nothing outside is touched either way.
TEST_F(HeldFolderTest, AHeldFolderOutlivesARenameOfItsName)
{
    const std::wstring moved = scratch / L"Moved";
    ASSERT_TRUE(WriteAll(game + L"\\Cross\\old.txt", "old"));
    ASSERT_TRUE(WriteAll(outside + L"\\cross_new.zip", "outside"));
    ASSERT_TRUE(folder.HoldFoldersOf(game + L"\\Cross\\old.txt"));
    EXPECT_TRUE(folder.StillThere());
    // From outside wine, as another program of the player's could on Windows
    // rename a folder above it.
    RunShellWhilePumping("mv '" + UnixPath(game) + "' '" + UnixPath(moved) + "' && ln -s '" + UnixPath(outside) +
                         "' '" + UnixPath(game) + "' && mkdir '" + UnixPath(outside) + "/Cross' && echo x > '" +
                         UnixPath(outside) + "/Cross/old.txt'");
    const auto outsideBefore = TreeOf(outside);
    {
        ScopedHandle file = folder.CreateNew(game + L"\\Cross\\new.txt", GENERIC_WRITE, 0);
        ASSERT_TRUE(file.IsValid()) << GetLastError();
        EXPECT_TRUE(Write(file.Get(), "new"));
        ScopedHandle top = folder.CreateNew(game + L"\\cross_new.zip.tmp", GENERIC_WRITE, 0);
        EXPECT_TRUE(top.IsValid()) << "the folder itself is held too";
    }
    EXPECT_EQ(ReadAll(moved + L"\\Cross\\new.txt"), "new");
    EXPECT_TRUE(FileExists(moved + L"\\cross_new.zip.tmp"));

    EXPECT_FALSE(folder.StillThere());
    EXPECT_FALSE(folder.Delete(game + L"\\cross_new.zip"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
    EXPECT_FALSE(folder.Move(game + L"\\Cross\\old.txt", game + L"\\Cross\\older.txt"));
    EXPECT_FALSE(folder.CreateNew(game + L"\\Cross\\newer.txt", GENERIC_WRITE, 0).IsValid());
    EXPECT_EQ(TreeOf(outside), outsideBefore);
    EXPECT_EQ(ReadAll(moved + L"\\Cross\\old.txt"), "old");
    RunShellWhilePumping("rm -f '" + UnixPath(game) + "'");
}

// Only a folder of a file system is acted in, and a file's second handle is
// that file whatever its name has become.
TEST_F(HeldFolderTest, OpensOnlyAFolderAndReopensAFileByItsHandle)
{
    ASSERT_TRUE(WriteAll(game + L"\\Cross\\a.txt", "contents"));
    HeldFolder other;
    EXPECT_FALSE(other.Open(game + L"\\Cross\\a.txt")) << "a file is no folder";
    EXPECT_FALSE(other.Open(game + L"\\None")) << "nothing there";

    ScopedHandle file = folder.OpenFile(game + L"\\Cross\\a.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false);
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(MoveFileW((game + L"\\Cross\\a.txt").c_str(), (game + L"\\Cross\\b.txt").c_str()));
    ASSERT_TRUE(WriteAll(game + L"\\Cross\\a.txt", "impostor"));
    // Windows reopens the file itself; wine reopens by its first name, where
    // another file stands now, which the check refuses.
    ScopedHandle again = ReopenFile(file.Get(), game + L"\\Cross\\a.txt", GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (again.IsValid()) {
        EXPECT_EQ(Read(again.Get()), "contents");
    } else {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
    }
    EXPECT_EQ(Read(file.Get()), "contents");
    ScopedHandle same = ReopenFile(folder.OpenFile(game + L"\\Cross\\a.txt", GENERIC_READ, FILE_SHARE_READ, false).Get(),
                                   game + L"\\Cross\\a.txt", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(same.IsValid()) << GetLastError();
    EXPECT_EQ(Read(same.Get()), "impostor") << "each handle has its own position";
}

}  // namespace
