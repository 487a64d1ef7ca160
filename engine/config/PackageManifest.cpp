#include "PackageManifest.h"

#include "DiagnosticsLog.h"
#include "EntryPath.h"
#include "TextFields.h"
#include "Utf8.h"

namespace {

const char kHeaderLine[] = "LumoraRepair manifest 1";

bool ParseDigest(const std::string& text, std::wstring& digest)
{
    if (text.size() != 64) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    digest.assign(text.begin(), text.end());
    return true;
}

bool ParseRange(const std::vector<std::string>& fields, ManifestRange& range)
{
    return fields.size() == 4 && ParseDecimal(fields[1], range.offset) && ParseDecimal(fields[2], range.size) &&
           ParseDigest(fields[3], range.sha256);
}

bool ParsePath(const std::string& text, std::wstring& path)
{
    return FromUtf8(text, path) && IsSafeEntryName(path);
}

bool ParseFile(const std::vector<std::string>& fields, ManifestFile& file)
{
    uint64_t block = 0;
    if (fields.size() != 6 || !ParsePath(fields[1], file.path) || !ParseDecimal(fields[2], file.size) ||
        !ParseDigest(fields[3], file.sha256) || (fields[4] != "-" && !ParseDecimal(fields[4], block)) ||
        (fields[5] != "restore" && fields[5] != "keep")) {
        return false;
    }
    file.block = fields[4] == "-" ? -1 : static_cast<int64_t>(block);
    file.keep = fields[5] == "keep";
    return (file.block < 0) == (file.size == 0);
}

// The ranges lie inside the package, in order, without overlapping each
// other, the archive's start or its header.
bool RangesFit(const PackageManifest& manifest)
{
    uint64_t end = kArchiveStartBytes;
    for (const ManifestRange& block : manifest.blocks) {
        if (block.size == 0 || block.offset < end || block.size > manifest.packageSize - block.offset) {
            return false;
        }
        end = block.offset + block.size;
    }
    const ManifestRange& header = manifest.header;
    return header.offset >= end && header.offset <= manifest.packageSize &&
           header.size == manifest.packageSize - header.offset;
}

}  // namespace

bool ParseManifest(const std::string& bytes, PackageManifest& manifest, std::wstring& error)
{
    manifest = PackageManifest();
    size_t start = 0;
    size_t lineNumber = 0;
    bool havePackage = false;
    bool haveHeader = false;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string> fields = SplitTabs(line);
        const std::string& kind = fields[0];
        bool good = false;
        if (lineNumber == 1) {
            good = line == kHeaderLine;
        } else if (kind == "package" && !havePackage) {
            good = havePackage = fields.size() == 2 && ParseDecimal(fields[1], manifest.packageSize);
        } else if (kind == "header" && !haveHeader) {
            good = haveHeader = ParseRange(fields, manifest.header);
        } else if (kind == "block") {
            manifest.blocks.emplace_back();
            good = ParseRange(fields, manifest.blocks.back());
        } else if (kind == "folder") {
            manifest.folders.emplace_back();
            good = fields.size() == 2 && ParsePath(fields[1], manifest.folders.back());
        } else if (kind == "file") {
            manifest.files.emplace_back();
            good = ParseFile(fields, manifest.files.back());
        } else {
            good = line.empty() && start >= bytes.size();  // the file's last line end
        }
        if (!good) {
            error = L"line " + Num(lineNumber) + L" is not one of a manifest";
            return false;
        }
    }
    if (!havePackage || !haveHeader) {
        error = L"the package's size or its header is missing";
        return false;
    }
    if (!RangesFit(manifest)) {
        error = L"its ranges don't fit the package";
        return false;
    }
    for (const ManifestFile& file : manifest.files) {
        if (file.block >= static_cast<int64_t>(manifest.blocks.size())) {
            error = L"a file in no block of the list: " + file.path;
            return false;
        }
    }
    return true;
}
