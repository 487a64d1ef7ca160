#include "TestSupport.h"

#include "FolderListing.h"

#include "DiagnosticsLog.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <vector>

std::wstring TestUrl(const std::wstring& path) { return std::wstring(VNK_TEST_BASE_URL) + path; }

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
    return text;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ReadAll(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

void DeleteTree(const std::wstring& path)
{
    ListFolder(path, [&path](const WIN32_FIND_DATAW& data) {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            return;
        }
        const std::wstring child = path + L"\\" + name;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteTree(child);
        } else {
            DeleteFileW(child.c_str());
        }
    });
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> NamesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    ListFolder(folder, [&names](const WIN32_FIND_DATAW& found) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    });
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void AddTree(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::string>& tree)
{
    for (const std::wstring& name : NamesIn(folder)) {
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            tree[prefix + name] = "<folder>";
            AddTree(path, prefix + name + L"\\", tree);
        } else {
            tree[prefix + name] = ReadAll(path) + ((attributes & FILE_ATTRIBUTE_READONLY) ? "<read-only>" : "");
        }
    }
}

}  // namespace

std::map<std::wstring, std::string> TreeOf(const std::wstring& folder)
{
    std::map<std::wstring, std::string> tree;
    AddTree(folder, L"", tree);
    return tree;
}

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3 + seed) % 251);
    }
    return bytes;
}

void ServeFile(const std::string& relativePath, const std::string& bytes)
{
    std::wstring path = std::wstring(VNK_TEST_WWW) + L"\\";
    for (char c : relativePath) {
        if (c == '/') {
            CreateDirectoryW(path.c_str(), nullptr);
            path += L'\\';
        } else {
            path += static_cast<wchar_t>(c);
        }
    }
    ASSERT_TRUE(WriteAll(path, bytes)) << relativePath;
}

std::string ServerLog() { return ReadAll(std::wstring(VNK_TEST_WWW) + L"\\requests.log"); }

namespace {

// Each test program keeps its diagnostics log in the tests' scratch folder, so
// that the real program's log in the temporary folder holds only its own lines.
const bool g_logRedirected = [] {
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring name = program;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    CreateDirectoryW(VNK_TEST_TMP, nullptr);
    SetLogPath(std::wstring(VNK_TEST_TMP) + L"\\" + name + L".log");
    return true;
}();

}  // namespace

std::string DiagnosticsLogText() { return ReadAll(LogPath()); }

ScratchFolder::ScratchFolder()
{
    CreateDirectoryW(VNK_TEST_TMP, nullptr);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = info != nullptr ? Widen(std::string(info->test_suite_name()) + "." + info->name()) : L"t";
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\' || c == L':') {
            c = L'_';
        }
    }
    path_ = std::wstring(VNK_TEST_TMP) + L"\\" + name + L"." + std::to_wstring(GetCurrentProcessId());
    DeleteTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { DeleteTree(path_); }

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) {
            return true;
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    }
}

void PumpMessages(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

std::string UnixPath(const std::wstring& path)
{
    std::string unix = Narrow(path.substr(2));  // drop "Z:"
    for (char& c : unix) {
        if (c == '\\') {
            c = '/';
        }
    }
    return unix;
}

void RunShellWhilePumping(const std::string& command, DWORD timeoutMs)
{
    // Wine starts Linux programs too, but their process handles are not
    // signalled reliably when they end: the command leaves a marker file instead.
    static int serial = 0;
    CreateDirectoryW(VNK_TEST_TMP, nullptr);
    const std::wstring marker = std::wstring(VNK_TEST_TMP) + L"\\shell-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(++serial) + L".done";
    const std::string unixMarker = UnixPath(marker);
    DeleteFileW(marker.c_str());
    std::wstring line = L"Z:\\bin\\sh -c \"" + Widen(command) + L"; touch '" + Widen(unixMarker) + L"'\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << command;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const DWORD start = GetTickCount();
    while (!FileExists(marker) && GetTickCount() - start < timeoutMs) {
        PumpMessages(20);
    }
    EXPECT_TRUE(FileExists(marker)) << "did not finish: " << command;
    DeleteFileW(marker.c_str());
    PumpMessages(150);  // the X events it caused arrive a little later
}
