// Files, folders and addresses shared by the tests.
#pragma once

#include "TestSettings.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

std::wstring TestUrl(const std::wstring& path);  // VNK_TEST_BASE_URL + path
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
std::string ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::string& bytes);
void DeleteTree(const std::wstring& path);
// The names in a folder, without "." and "..", sorted.
std::vector<std::wstring> NamesIn(const std::wstring& folder);
// Everything under a folder: relative path -> contents, folders as "<folder>"
// and read-only files with "<read-only>" after their contents.
std::map<std::wstring, std::string> TreeOf(const std::wstring& folder);

// The bytes the test server sends for /data/N and friends.
std::string Pattern(size_t size, unsigned seed = 0);

// Places a file where the loopback server serves it (path relative to its root, "/" separated).
void ServeFile(const std::string& relativePath, const std::string& bytes);
// Request lines the server has logged since it started.
std::string ServerLog();
// What this test program's diagnostics log holds now (its current file).
std::string DiagnosticsLogText();

// A fresh folder for one test, removed again at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The Linux path of a path on wine's Z: drive, for shell commands.
std::string UnixPath(const std::wstring& path);

// Runs a Linux shell command (xdotool, for example) from inside wine while this
// thread keeps dispatching its window messages; returns when it has ended.
void RunShellWhilePumping(const std::string& command, DWORD timeoutMs = 20000);
// Dispatches this thread's messages until `done` holds or `timeoutMs` passed;
// returns `done`'s last answer.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Dispatches this thread's messages for `ms` milliseconds.
void PumpMessages(DWORD ms);
