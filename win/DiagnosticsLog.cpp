#include "DiagnosticsLog.h"

#include "CriticalSection.h"
#include "FileLinks.h"
#include "ScopedHandle.h"
#include "Utf8.h"

#include <atomic>

#include <cwchar>

namespace {

class LogFile {
public:
    // Never destroyed: a worker or the report thread may still log while the
    // process ends.
    static LogFile& Instance()
    {
        static LogFile* const file = new LogFile();
        return *file;
    }

    void Write(const std::wstring& message)
    {
        const std::string line = ToUtf8(Stamp() + OneLine(message) + L"\r\n");
        CriticalSectionLocker locked(lock_);
        if (Open() && size_ > 0 && size_ + line.size() > kMaxLogBytes) {
            RollOver();
        }
        if (file_.IsValid()) {
            DWORD written = 0;
            if (WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
                size_ += written;
            }
        }
    }

    void SetPath(const std::wstring& path)
    {
        CriticalSectionLocker locked(lock_);
        file_.Close();
        path_ = path;
    }

    std::wstring Path()
    {
        CriticalSectionLocker locked(lock_);
        return PathLocked();
    }

    void SetUiThread() { uiThread_.store(GetCurrentThreadId(), std::memory_order_relaxed); }

private:
    LogFile() = default;

    std::wstring PathLocked()
    {
        if (!path_.empty()) {
            return path_;
        }
        wchar_t folder[MAX_PATH] = {};
        const DWORD length = GetTempPathW(MAX_PATH, folder);
        return (length == 0 || length >= MAX_PATH) ? std::wstring() : std::wstring(folder) + L"LumoraRepair.log";
    }

    // Opens the file for appending if it isn't open; another try at every line
    // while it can't be. The temporary folder is the user's: a link or a hard
    // link put there in the log's place is replaced, never written through.
    bool Open()
    {
        if (file_.IsValid()) {
            return true;
        }
        const std::wstring path = PathLocked();
        if (path.empty()) {
            return false;
        }
        bool kept = false;
        file_ = OpenOwnFile(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, kept);
        if (!file_.IsValid()) {
            return false;
        }
        DWORD high = 0;
        const DWORD low = GetFileSize(file_.Get(), &high);
        size_ = low == INVALID_FILE_SIZE ? 0 : (uint64_t(high) << 32 | low);
        return true;
    }

    void RollOver()
    {
        file_.Close();
        const std::wstring path = PathLocked();
        // Another program holding the file keeps it growing a little longer.
        MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        Open();
    }

    std::wstring Stamp() const
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        wchar_t text[64];
        swprintf(text, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%ls] ", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                 GetCurrentThreadId() == uiThread_.load(std::memory_order_relaxed) ? L"UI" : L"worker");
        return text;
    }

    // Names and server text can hold line breaks; escaped, one event stays one
    // line and nobody can forge a line of the log.
    static std::wstring OneLine(const std::wstring& message)
    {
        std::wstring out;
        out.reserve(message.size());
        for (wchar_t c : message) {
            if (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029) {
                wchar_t code[8];
                swprintf(code, 8, c < 0x100 ? L"\\x%02X" : L"\\u%04X", static_cast<unsigned>(c));
                out += code;
            } else {
                out += c;
            }
        }
        return out;
    }

    CriticalSection lock_;  // over the file, its path and size
    ScopedHandle file_;
    std::wstring path_;
    uint64_t size_ = 0;
    std::atomic<DWORD> uiThread_{0};  // set once at start; only compared by the others
};

}  // namespace

void Log(const std::wstring& message) { LogFile::Instance().Write(message); }

void SetLogUiThread() { LogFile::Instance().SetUiThread(); }

void SetLogPath(const std::wstring& path) { LogFile::Instance().SetPath(path); }

std::wstring LogPath() { return LogFile::Instance().Path(); }

std::wstring Num(uint64_t value)
{
    // By hand: the C runtime of Windows XP knows no 64-bit printf size prefix.
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

namespace {

// The text of a system (or, for its own codes, WinINet) error, in English when
// the system has it: support reads the log.
DWORD FormatError(DWORD error, DWORD language, wchar_t* text, DWORD size)
{
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, language,
                                  text, size, nullptr);
    if (length == 0 && error >= 12000 && error < 13000) {
        length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                GetModuleHandleW(L"wininet.dll"), error, language, text, size, nullptr);
    }
    return length;
}

}  // namespace

std::wstring ErrorText(DWORD error)
{
    wchar_t text[512] = {};
    DWORD length = FormatError(error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 512);
    if (length == 0) {
        length = FormatError(error, 0, text, 512);
    }
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ' ||
                          text[length - 1] == L'.')) {
        text[--length] = L'\0';
    }
    // Some texts run over several lines; the log wants one.
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            text[i] = L' ';
        }
    }
    // Codes with the top bit set (CryptoAPI's, for one) read better in hex.
    wchar_t code[16];
    if ((error & 0x80000000u) != 0) {
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(error));
    } else {
        swprintf(code, 16, L"%lu", static_cast<unsigned long>(error));
    }
    return L"error " + std::wstring(code) + (length > 0 ? L" (" + std::wstring(text, length) + L")" : std::wstring());
}
