#include "StagedFile.h"

#include "AsciiCase.h"
#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "KernelFunction.h"

#include <windows.h>

#include <cstddef>
#include <vector>

namespace {

// Every one- and two-character name; more is never needed in one folder.
constexpr unsigned kShortStagingNames = 37 + 37 * 37;

// Written in pieces: a single WriteFile of a huge buffer can fail on some systems.
constexpr DWORD kWritePiece = 4u << 20;

// Creates the file that receives an entry's bytes before they replace the
// target: "<target>.part", or, where that would not fit, a short name in the
// target's folder that no file has yet and that is no longer than the
// target's own name, so that every target that fits can be written. It is
// opened with DELETE access, so that it can be renamed while still open.
HANDLE CreateStagingFile(const std::wstring& target, std::wstring& staged)
{
    const DWORD access = GENERIC_WRITE | DELETE;
    staged = target + L".part";
    if (staged.size() + 1 <= kMaxOutputPath) {
        return CreateFileW(staged.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    const size_t nameStart = target.find_last_of(L'\\') + 1;
    const std::wstring targetName = target.substr(nameStart);
    for (unsigned i = 0; i < kShortStagingNames; ++i) {
        const std::wstring name = ShortStagingName(i);
        if (name.size() > targetName.size()) {
            break;
        }
        if (SameAsciiNoCase(targetName, name.c_str())) {
            continue;
        }
        staged = target.substr(0, nameStart) + name;
        // CREATE_NEW: a file of the player's that happens to have this name is never touched.
        HANDLE file = CreateFileW(staged.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE || GetFileAttributesW(staged.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return file;  // made, or failed for another reason than the name being taken
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const DWORD piece = size < kWritePiece ? static_cast<DWORD>(size) : kWritePiece;
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written != piece) {
            return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

// FILE_RENAME_INFO of Vista and later, declared here for a program built for XP.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;  // in bytes, without the terminating zero
    WCHAR fileName[1];
};
constexpr int kFileRenameInfo = 3;
using SetFileInformationFn = BOOL(WINAPI*)(HANDLE file, int infoClass, LPVOID info, DWORD size);

// Renames the open staging file over `target`: one call where MoveFileExW
// opens, renames and closes again, which counts when a package has thousands
// of files. Only drive-letter paths are given this way, as NT paths; false
// whenever it can't be done, and the caller moves the file by name instead.
bool RenameOpenFile(HANDLE file, const std::wstring& target)
{
    // Vista and later.
    static const SetFileInformationFn set = KernelFunction<SetFileInformationFn>("SetFileInformationByHandle");
    if (set == nullptr || target.size() < 3 || target[1] != L':' || target[2] != L'\\') {
        return false;
    }
    const std::wstring name = L"\\??\\" + target;
    std::vector<unsigned char> buffer(offsetof(RenameInformation, fileName) + (name.size() + 1) * sizeof(WCHAR));
    RenameInformation* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->replaceIfExists = TRUE;
    info->rootDirectory = nullptr;
    info->fileNameLength = static_cast<DWORD>(name.size() * sizeof(WCHAR));
    name.copy(info->fileName, name.size());
    return set(file, kFileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

// Clears the read-only attribute of `path`; false when it hasn't got it.
bool ClearReadOnly(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    return SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != FALSE;
}

// Moves the complete staged file over the target by name. A read-only file
// left by an earlier package would block every later repair, so that one is
// cleared and tried again; the attributes are only looked at when the move fails.
bool MoveOverTarget(const std::wstring& staged, const std::wstring& target)
{
    if (MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && ClearReadOnly(target) &&
        MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    SetLastError(error);
    return false;
}

}  // namespace

bool WriteWholeFile(const std::wstring& target, const unsigned char* data, size_t size)
{
    std::wstring staged;
    HANDLE file = CreateStagingFile(target, staged);
    if (file == INVALID_HANDLE_VALUE) {
        Log(L"can't create " + staged + L" for " + target + L": " + ErrorText(GetLastError()));
        return false;
    }
    if (!WriteAll(file, data, size)) {
        Log(L"can't write " + staged + L": " + ErrorText(GetLastError()));
        CloseHandle(file);
        DeleteFileW(staged.c_str());
        return false;
    }
    // Only a whole file is moved into place, renamed while open where the system can.
    const bool renamed = RenameOpenFile(file, target);
    if (!CloseHandle(file) && !renamed) {
        Log(L"can't finish " + staged + L": " + ErrorText(GetLastError()));
        DeleteFileW(staged.c_str());
        return false;
    }
    if (!renamed && !MoveOverTarget(staged, target)) {
        Log(L"can't replace " + target + L": " + ErrorText(GetLastError()));
        DeleteFileW(staged.c_str());
        return false;
    }
    return true;
}
