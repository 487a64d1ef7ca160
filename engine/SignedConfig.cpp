// What a program built with a key requires of the configuration and of the
// package it announces: a signed configuration, with a version that never goes
// back, and the package of exactly the size and digest it names.
#include "EngineState.h"

#include "AsciiCase.h"
#include "BuildSettings.h"
#include "DiagnosticsLog.h"
#include "DownloadFile.h"
#include "ProtectedSettings.h"
#include "ScopedHandle.h"
#include "Signature.h"

#include <cwchar>

namespace {

// A signature file is a few hundred characters of base64.
constexpr uint64_t kMaxSignatureBytes = 16 * 1024;

// The text of a small file, without blanks and line ends at either end.
std::wstring ReadSignatureText(const std::wstring& path)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[kMaxSignatureBytes];
    DWORD read = 0;
    if (!file.IsValid() || !ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) {
        return std::wstring();
    }
    std::wstring text(buffer, buffer + read);  // base64 is ASCII; anything else fails the check
    const size_t first = text.find_first_not_of(L" \t\r\n");
    const size_t last = text.find_last_not_of(L" \t\r\n");
    return first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
}

bool IsSha256Text(const std::wstring& text)
{
    if (text.size() != 64) {
        return false;
    }
    for (wchar_t c : text) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RepairEngine::VerifyConfigSignature(const std::string& iniBytes, const std::wstring& iniPath)
{
    const std::wstring signaturePath = iniPath + L".sig";
    DownloadOptions options;
    options.limit = kMaxSignatureBytes;
    options.revalidate = true;  // it changes with the configuration
    options.cancelled = [this] { return CancelRequested(); };
    if (!DownloadFile(std::wstring(VNK_CONFIG_URL) + L".sig", signaturePath, [](uint32_t) { return true; },
                      options)) {
        Log(L"configuration refused: its signature can't be had");
        return false;
    }
    if (!VerifySignature(iniBytes, iniPath, ReadSignatureText(signaturePath), packageKey)) {
        Log(L"configuration refused: its signature is missing or wrong");
        return false;
    }
    return true;
}

bool RepairEngine::AcceptSignedConfig(const RepairConfig& loaded) const
{
    if (loaded.version == 0) {
        Log(L"configuration refused: a signed configuration must carry a version");
        return false;
    }
    if (!loaded.url.empty() && (!IsSha256Text(loaded.sha256) || loaded.fileSize <= 0)) {
        Log(L"configuration refused: a signed package needs its sha256 and its exact filesize");
        return false;
    }
    if (!loaded.manifestUrl.empty() && (!IsSha256Text(loaded.manifestSha256) || loaded.manifestSize == 0)) {
        Log(L"configuration refused: a signed manifest needs its manifestsha256 and its exact manifestsize");
        return false;
    }
    if (!loaded.compactManifestUrl.empty() &&
        (!IsSha256Text(loaded.compactManifestSha256) || loaded.compactManifestSize == 0)) {
        Log(L"configuration refused: a signed compact manifest needs its compactmanifestsha256 and its exact "
            L"compactmanifestsize");
        return false;
    }
    // An older configuration, however genuine, would put an older package back.
    // The highest one accepted is kept where only administrators can write it.
    const uint64_t accepted = AcceptedConfigVersion();
    if (loaded.version < accepted) {
        Log(L"configuration refused: version " + Num(loaded.version) + L" is older than version " + Num(accepted) +
            L", accepted before");
        return false;
    }
    if (loaded.version > accepted) {
        KeepAcceptedConfigVersion(loaded.version);
    }
    return true;
}

bool RepairEngine::IsAnnouncedPackage(HANDLE package, const std::wstring& path) const
{
    std::wstring sha256;
    uint64_t size = 0;
    if (!OpenFileDigest(package, sha256, size)) {
        Log(L"can't read " + path + L" for its digest: " + ErrorText(GetLastError()));
        return false;
    }
    const uint64_t announced = static_cast<uint32_t>(state.config.fileSize);
    if (size != announced || !SameAsciiNoCase(state.config.sha256, sha256.c_str())) {
        Log(L"package refused: " + Num(size) + L" bytes with SHA-256 " + sha256 + L", where the configuration "
            L"announces " + Num(announced) + L" bytes with SHA-256 " + state.config.sha256);
        return false;
    }
    Log(L"package: " + Num(size) + L" bytes with the SHA-256 the signed configuration announces");
    return true;
}
