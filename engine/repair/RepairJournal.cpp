#include "RepairJournal.h"

#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "ProtectedSettings.h"
#include "TextFields.h"
#include "Utf8.h"

#include <windows.h>

const wchar_t kJournalName[] = L"LumoraRepair.journal";

namespace {

const char kHeader[] = "LumoraRepair journal 3";
// A journal is a list of paths; one this large is no journal of ours.
constexpr DWORD kMaxJournalBytes = 64u << 20;

// Reads one line (UTF-8, without its MAC and "\r\n") into `record`; false when it isn't one of the format.
// Its paths follow the rule for the package's own names: inside the game folder.
bool ReadLine(const std::string& line, RepairRecord& record)
{
    std::vector<std::wstring> fields;
    for (const std::string& field : SplitTabs(line)) {
        fields.emplace_back();
        if (!FromUtf8(field, fields.back())) {
            return false;
        }
    }
    const std::wstring& kind = fields[0];
    if (record.done) {
        return false;  // nothing follows "done"
    }
    if (kind == L"folder" && fields.size() == 2 && IsSafeEntryName(fields[1]) && !record.committing) {
        record.folders.push_back(fields[1]);
    } else if (kind == L"stage" && fields.size() == 2 && IsSafeEntryName(fields[1]) && !record.committing) {
        record.staged.push_back(fields[1]);
    } else if (kind == L"commit" && fields.size() == 1 && !record.committing) {
        record.committing = true;
    } else if (kind == L"file" && fields.size() == 4 && record.committing && IsSafeEntryName(fields[1]) &&
               IsSafeEntryName(fields[2]) && (fields[3].empty() || IsSafeEntryName(fields[3]))) {
        record.replacements.push_back(Replacement{fields[1], fields[2], fields[3]});
    } else if (kind == L"done" && fields.size() == 1 && record.committing) {
        record.done = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool JournalMac::Start(const std::wstring& identity, const std::string& repairId)
{
    last_ = kHeader;
    return Next(ToUtf8(identity) + "\n" + repairId, last_);
}

bool JournalMac::Next(const std::string& line, std::string& mac)
{
    Sha256Digest digest;
    if (!hmac_.Compute(last_ + "\n" + line, digest)) {
        return false;
    }
    mac = last_ = HexOf(digest);
    return true;
}

bool JournalWriter::Open(HeldFolder& folder)
{
    folder_ = &folder;
    path_ = folder.PathOf(kJournalName);
    const std::wstring& identity = folder.Identity();
    std::string key;
    if (!JournalKey(key)) {
        return false;
    }
    // CREATE_NEW: a journal that is there already belongs to a repair that has
    // not been rolled back, and is never overwritten; nor is its repair's id,
    // which is made anew only once this journal is ours.
    file_ = folder.CreateNew(path_, GENERIC_WRITE, FILE_SHARE_READ);
    if (!file_.IsValid()) {
        Log(L"can't create " + path_ + L": " + ErrorText(GetLastError()));
        return false;
    }
    std::string repairId;
    mac_ = std::make_unique<JournalMac>(key);
    if (!NewRepairId(identity, repairId) || !mac_->Start(identity, repairId)) {
        Log(L"can't sign the journal: " + ErrorText(GetLastError()));
        file_.Close();
        folder.Delete(path_);
        return false;
    }
    return Append({std::wstring(kHeader, kHeader + sizeof(kHeader) - 1)}, false);
}

bool JournalWriter::AddFolder(const std::wstring& relative) { return Append({L"folder\t" + relative}, false); }

bool JournalWriter::AddStaged(const std::wstring& relative) { return Append({L"stage\t" + relative}, false); }

bool JournalWriter::BeginCommit(const std::vector<Replacement>& replacements)
{
    std::vector<std::wstring> lines{L"commit"};
    for (const Replacement& r : replacements) {
        lines.push_back(L"file\t" + r.staging + L"\t" + r.target + L"\t" + r.backup);
    }
    return Append(lines, true);
}

bool JournalWriter::MarkDone() { return Append({L"done"}, true); }

bool JournalWriter::Remove()
{
    file_.Close();
    return folder_ == nullptr || DeleteJournal(*folder_);
}

bool DeleteJournal(HeldFolder& folder)
{
    const std::wstring path = folder.PathOf(kJournalName);
    if (!folder.Delete(path)) {
        Log(L"can't delete " + path + L": " + ErrorText(GetLastError()));
        return false;
    }
    ForgetRepairId(folder.Identity());
    return true;
}

bool JournalWriter::Append(const std::vector<std::wstring>& lines, bool flush)
{
    std::string bytes;
    for (const std::wstring& line : lines) {
        const std::string text = ToUtf8(line);
        std::string mac;
        if (!mac_->Next(text, mac)) {
            Log(L"can't sign a line of " + path_ + L": " + ErrorText(GetLastError()));
            return false;
        }
        bytes += text + "\t" + mac + "\r\n";
    }
    DWORD written = 0;
    if (!WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || (flush && !FlushFileBuffers(file_.Get()))) {
        Log(L"can't write " + path_ + L": " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}

namespace {

// The journal's bytes; None when there is no journal.
JournalState ReadJournalBytes(HeldFolder& folder, const std::wstring& path, std::string& bytes)
{
    ScopedHandle file = folder.OpenFile(path, GENERIC_READ, FILE_SHARE_READ, false);
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        if (IsMissing(error)) {
            return JournalState::None;
        }
        // A link there, or a folder: not a journal of this program.
        Log(L"can't open " + path + L": " + ErrorText(error));
        return JournalState::Unreadable;
    }
    DWORD high = 0;
    const DWORD size = GetFileSize(file.Get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > kMaxJournalBytes) {
        Log(path + L": not a journal of this program (its size)");
        return JournalState::Unreadable;
    }
    bytes.assign(size, '\0');
    DWORD read = 0;
    if (size > 0 && (!ReadFile(file.Get(), &bytes[0], size, &read, nullptr) || read != size)) {
        Log(L"can't read " + path + L": " + ErrorText(GetLastError()));
        return JournalState::Unreadable;
    }
    return JournalState::Loaded;
}

// The lines of `bytes` into `record`, each checked to continue the chain of `mac`.
JournalState ReadJournalLines(const std::string& bytes, JournalMac& mac, const std::wstring& path,
                              RepairRecord& record)
{
    size_t start = 0;
    bool header = true;
    for (;;) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            break;  // a line cut short when the program stopped
        }
        const std::string line = bytes.substr(start, end - start);
        const size_t tab = line.rfind('\t');
        const std::string text = tab == std::string::npos ? line : line.substr(0, tab);
        std::string expected;
        if (tab == std::string::npos || !mac.Next(text, expected) || line.compare(tab + 1, std::string::npos, expected) != 0) {
            Log(path + L": the line at byte " + Num(start) + L" was not written by this program for this folder");
            return JournalState::Unreadable;
        }
        if (header ? text != kHeader : !ReadLine(text, record)) {
            Log(path + L": the line at byte " + Num(start) + L" is not one of a journal");
            return JournalState::Unreadable;
        }
        header = false;
        start = end + 2;
    }
    // Made, but stopped before its first line was whole: the repair had done nothing yet.
    if (header && std::string(kHeader).compare(0, bytes.size(), bytes) != 0 &&
        bytes.compare(0, sizeof(kHeader) - 1, kHeader) != 0) {
        Log(path + L": no journal header");
        return JournalState::Unreadable;
    }
    return JournalState::Loaded;
}

}  // namespace

JournalState ReadJournal(HeldFolder& folder, RepairRecord& record)
{
    record = RepairRecord();
    const std::wstring path = folder.PathOf(kJournalName);
    const std::wstring& identity = folder.Identity();
    std::string bytes;
    const JournalState state = ReadJournalBytes(folder, path, bytes);
    if (state != JournalState::Loaded) {
        return state;
    }
    std::string key;
    if (!JournalKey(key)) {
        Log(path + L": can't be checked without the journal key");
        return JournalState::Unreadable;
    }
    std::string repairId;
    if (!RepairIdOf(identity, repairId)) {
        Log(path + L": no repair of this program is under way in this folder: the journal is not one of ours");
        return JournalState::Unreadable;
    }
    JournalMac mac(key);
    if (!mac.Start(identity, repairId)) {
        Log(path + L": can't be checked: " + ErrorText(GetLastError()));
        return JournalState::Unreadable;
    }
    return ReadJournalLines(bytes, mac, path, record);
}
