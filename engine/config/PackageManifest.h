// The manifest that tools/publish-package writes beside a package: every file
// of the package with its size and SHA-256 and the solid block that holds it,
// every block's place in the package with the SHA-256 of its packed bytes, and
// the same for the archive's header. The signed configuration names it with
// its size and SHA-256. UTF-8 lines, fields tab-separated:
//   LumoraRepair manifest 1
//   package <size>
//   header <offset> <size> <sha256>        the archive's end from its packed header on; the digest
//                                          covers its first 32 bytes followed by these
//   block <offset> <size> <sha256>         one line a block, in the archive's order (0, 1, ...)
//   folder <path>
//   file <path> <size> <sha256> <block> <restore|keep>   block "-" for an empty file;
//                                          "keep": restored only when missing
// Paths are the entries' names in the archive ("Cross/res/a.txt").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestRange {
    uint64_t offset = 0;
    uint64_t size = 0;
    std::wstring sha256;  // 64 lowercase hex digits
};

struct ManifestFile {
    std::wstring path;
    uint64_t size = 0;
    std::wstring sha256;
    int64_t block = -1;  // -1: an empty file, in no block
    bool keep = false;   // the game rewrites it: restored only when missing
};

struct PackageManifest {
    uint64_t packageSize = 0;
    ManifestRange header;
    std::vector<ManifestRange> blocks;
    std::vector<std::wstring> folders;
    std::vector<ManifestFile> files;
};

// The manifest in `bytes`; false, with the reason in `error`, for anything
// that isn't one (a bad line, a range outside the package, blocks that overlap
// or are out of order, a file in no block of the list, an unsafe name).
bool ParseManifest(const std::string& bytes, PackageManifest& manifest, std::wstring& error);

// The first bytes of the package that the header digest covers besides the
// header range: the archive's signature header.
constexpr uint64_t kArchiveStartBytes = 32;
