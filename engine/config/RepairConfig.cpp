#include "RepairConfig.h"

#include "IniText.h"
#include "TextFields.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

// A value is read as into a buffer of 4096 characters, the last one its end.
constexpr size_t kValueChars = 4095;

// Base 10 like wcstol: blanks, a sign, digits up to the first other character;
// no digits give 0 and values beyond 32 bits saturate (long is 32-bit on Windows).
int32_t ToInt32(const std::wstring& text)
{
    static_assert(sizeof(long) == sizeof(int32_t), "Windows long is 32-bit");
    return static_cast<int32_t>(wcstol(text.c_str(), nullptr, 10));
}

// More hosts than this is no list a publisher means.
constexpr int32_t kMostMirrors = 16;

}  // namespace

bool ParseConfig(const std::string& bytes, RepairConfig& config)
{
    const IniText ini(bytes);
    const auto value = [&ini](const wchar_t* key, const wchar_t* fallback) {
        return ini.Value(L"General", key, fallback, kValueChars);
    };
    config = RepairConfig();
    config.url = value(L"url", L"");
    config.tips = value(L"tips", L"");
    config.fileSize = ToInt32(value(L"filesize", L"0"));
    // Only checked by a program with a key built in.
    config.version = DecimalOrZero(value(L"version", L""));
    config.sha256 = value(L"sha256", L"");
    config.manifestUrl = value(L"manifest", L"");
    config.manifestSize = DecimalOrZero(value(L"manifestsize", L""));
    config.manifestSha256 = value(L"manifestsha256", L"");
    config.compactManifestUrl = value(L"compactmanifest", L"");
    config.compactManifestSize = DecimalOrZero(value(L"compactmanifestsize", L""));
    config.compactManifestSha256 = value(L"compactmanifestsha256", L"");

    const int32_t count = ToInt32(value(L"processcount", L"0"));
    for (int32_t i = 0; i < count; ++i) {
        wchar_t key[16];
        swprintf(key, 16, L"process_%d", static_cast<int>(i));
        std::wstring name = value(key, L"");
        if (name.empty()) {
            return false;  // a hole in the list
        }
        config.processNames.push_back(std::move(name));
    }
    // Mirrors are extra ways to the same package: one that is missing or not
    // an HTTP address is left out, never a reason to refuse the configuration.
    const int32_t mirrors = ToInt32(value(L"mirrorcount", L"0"));
    for (int32_t i = 0; i < mirrors && i < kMostMirrors; ++i) {
        wchar_t key[16];
        swprintf(key, 16, L"mirror_%d", static_cast<int>(i));
        std::wstring mirror = value(key, L"");
        if (mirror.compare(0, 7, L"http://") == 0 || mirror.compare(0, 8, L"https://") == 0) {
            config.mirrors.push_back(std::move(mirror));
        }
    }
    return (!config.url.empty() && config.fileSize != 0) || !config.tips.empty();
}

std::vector<std::wstring> PackageAddresses(const RepairConfig& config)
{
    std::vector<std::wstring> addresses{config.url};
    addresses.insert(addresses.end(), config.mirrors.begin(), config.mirrors.end());
    return addresses;
}

NamedManifest ManifestToUse(const RepairConfig& config)
{
    if (!config.compactManifestUrl.empty()) {
        return NamedManifest{config.compactManifestUrl, config.compactManifestSize, config.compactManifestSha256, true};
    }
    return NamedManifest{config.manifestUrl, config.manifestSize, config.manifestSha256, false};
}

std::wstring ManifestAddress(const RepairConfig& config, const NamedManifest& manifest, size_t host)
{
    if (host == 0 || manifest.url.empty() || host > config.mirrors.size()) {
        return manifest.url;
    }
    // Beside the mirror's package, under the manifest's own file name.
    const std::wstring& package = config.mirrors[host - 1];
    const std::wstring name = manifest.url.substr(manifest.url.find_last_of(L'/') + 1);
    return package.substr(0, package.find_last_of(L'/') + 1) + name;
}
