// Benchmark helper: the file floor of an extraction. Writes exactly the files
// of a package (same names, sizes and order, listed in MANIFEST) with plain
// CreateFileW/WriteFile/CloseHandle and nothing else: no decoding, no staging.
// Usage: bench_file_floor MANIFEST DESTINATION [plain|staged|checked]
// The other modes price the calls an extraction adds per file: "staged" writes
// each file beside its target and moves it into place (MoveFileExW), "checked"
// also reads the target's attributes first and sets the entry's afterwards,
// "renamed" moves it by renaming the still open handle (Vista and later).
// MANIFEST is UTF-8, one entry a line in archive order: "D\tpath" for a folder,
// "F\tsize\tpath" for a file, paths with "/".
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// FILE_RENAME_INFO and SetFileInformationByHandle are Vista's: declared here,
// looked up at run time.
struct RenameInfo {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[2 * MAX_PATH];
};
using SetInfoFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
constexpr int kFileRenameInfo = 3;

std::wstring Wide(const std::string& utf8)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &out[0], size);
    return out;
}

// Creates each folder along `path` that this run hasn't created yet.
void CreateParents(const std::wstring& path, std::set<std::wstring>& made)
{
    for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring folder = path.substr(0, at);
        if (made.insert(folder).second) {
            CreateDirectoryW(folder.c_str(), nullptr);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 && argc != 4) {
        fwprintf(stderr, L"usage: bench_file_floor MANIFEST DESTINATION [plain|staged|checked]\n");
        return 2;
    }
    const std::wstring mode = argc == 4 ? argv[3] : L"plain";
    const bool staged = mode != L"plain";
    const bool checked = mode == L"checked";
    const bool renamed = mode == L"renamed";
    const SetInfoFn setInfo = reinterpret_cast<SetInfoFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
    std::ifstream manifest(argv[1]);
    std::vector<std::pair<long long, std::wstring>> entries;  // size, or -1 for a folder
    for (std::string line; std::getline(manifest, line);) {
        if (line.size() > 2 && line[0] == 'D') {
            entries.emplace_back(-1, Wide(line.substr(2)));
        } else if (line.size() > 2 && line[0] == 'F') {
            const size_t tab = line.find('\t', 2);
            entries.emplace_back(std::stoll(line.substr(2, tab - 2)), Wide(line.substr(tab + 1)));
        }
    }
    const std::wstring destination = argv[2];
    CreateDirectoryW(destination.c_str(), nullptr);
    std::vector<char> buffer(4 << 20, 'x');  // written in pieces of at most 4 MiB, as the extraction does

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::set<std::wstring> made;
    size_t files = 0;
    for (auto& entry : entries) {
        std::wstring path = destination + L"\\" + entry.second;
        for (wchar_t& c : path) {
            c = c == L'/' ? L'\\' : c;
        }
        CreateParents(path, made);
        if (entry.first < 0) {
            if (made.insert(path).second) {
                CreateDirectoryW(path.c_str(), nullptr);
            }
            continue;
        }
        const std::wstring written = staged ? path + L".part" : path;
        HANDLE file = CreateFileW(written.c_str(), GENERIC_WRITE | (renamed ? DELETE : 0), FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fwprintf(stderr, L"can't create %ls\n", path.c_str());
            return 1;
        }
        for (long long left = entry.first; left > 0;) {
            const DWORD piece = static_cast<DWORD>(left < static_cast<long long>(buffer.size()) ? left : buffer.size());
            DWORD written = 0;
            WriteFile(file, buffer.data(), piece, &written, nullptr);
            left -= piece;
        }
        if (renamed) {
            RenameInfo info = {};
            info.replaceIfExists = TRUE;
            const std::wstring name = L"\\??\\" + path;
            info.fileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
            name.copy(info.fileName, name.size());
            if (!setInfo(file, kFileRenameInfo, &info, sizeof(info))) {
                fwprintf(stderr, L"rename failed %lu\n", GetLastError());
                return 1;
            }
        }
        CloseHandle(file);
        if (checked) {
            GetFileAttributesW(path.c_str());
        }
        if (staged && !renamed) {
            MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        if (checked) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        }
        ++files;
    }
    QueryPerformanceCounter(&end);
    printf("floor_files: %u\nfloor_seconds: %.3f\n", static_cast<unsigned>(files),
           double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    return 0;
}
