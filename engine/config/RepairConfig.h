// The remote configuration of one repair, as read from the INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RepairConfig {
    std::wstring url;                       // "url": address of the package
    std::wstring tips;                      // "tips": a notice shown instead of repairing
    std::vector<std::wstring> processNames; // "process_0".."process_N-1"
    int32_t fileSize = 0;                   // "filesize": expected package size in bytes
    // Read by a program built with a key, whose configuration is signed:
    uint64_t version = 0;                   // "version": raised with every publication; 0 when missing or not a number
    std::wstring sha256;                    // "sha256": the package's SHA-256 digest, in hex
    // The package's manifest, for a repair that fetches only what is broken;
    // none: the whole package, as programs of earlier releases fetch it.
    std::wstring manifestUrl;               // "manifest"
    uint64_t manifestSize = 0;              // "manifestsize"
    std::wstring manifestSha256;            // "manifestsha256"
    // The same manifest, compact (see CompactManifest.h), which this program
    // prefers; programs of earlier releases read only the keys above.
    std::wstring compactManifestUrl;        // "compactmanifest"
    uint64_t compactManifestSize = 0;       // "compactmanifestsize"
    std::wstring compactManifestSha256;     // "compactmanifestsha256"
    // The package's address on other hosts, tried in order after "url"; each
    // serves the manifest under the manifest's file name beside its package.
    std::vector<std::wstring> mirrors;      // "mirror_0".."mirror_N-1" ("mirrorcount")
};

// "url" and then the mirrors: where the package can be had, in the order tried.
std::vector<std::wstring> PackageAddresses(const RepairConfig& config);
// One of the manifests a configuration names: its address, size and digest.
struct NamedManifest {
    std::wstring url;
    uint64_t size = 0;
    std::wstring sha256;
    bool compact = false;
};
// The manifest a repair uses: the compact one where the configuration names
// it, else the plain one (url empty: none).
NamedManifest ManifestToUse(const RepairConfig& config);
// The address of `manifest` on the host of PackageAddresses(config)[host].
std::wstring ManifestAddress(const RepairConfig& config, const NamedManifest& manifest, size_t host);

// A configuration file is a few hundred bytes; a server that sends more is not
// sending one.
constexpr uint64_t kMaxConfigBytes = 1024 * 1024;

// Reads the configuration from the bytes of its INI file into `config`; false
// when it offers neither a package (an address and a size other than 0) nor a
// notice, or a listed process entry is missing. `config` then holds what was
// read so far, for the log only.
bool ParseConfig(const std::string& bytes, RepairConfig& config);
