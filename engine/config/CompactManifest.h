// The compact manifest: the manifest's text (see PackageManifest.h),
// compressed with LZMA in the SDK's ".lzma" layout (5 bytes of properties, the
// text's size or "unknown" as 8 bytes, then the stream, which ends with its
// end mark where the size is unknown). Hex digests and full paths compress to
// about a quarter; the program unpacks it with the decoder it carries for the
// package. tools/publish-package writes it beside the plain one.
#pragma once

#include "PackageManifest.h"

#include <string>

// Most bytes a manifest's text may unpack to, and the largest dictionary its
// stream may ask for: a manifest of a few hundred thousand files fits.
constexpr uint64_t kMaxManifestTextBytes = 64u << 20;
constexpr uint32_t kMaxManifestDictionary = 16u << 20;

// The text in the compact manifest `bytes`; false, with the reason in
// `error`, for a stream that is damaged, cut short, followed by more bytes,
// asks for too large a dictionary or unpacks past the bound.
bool UnpackCompactManifest(const std::string& bytes, std::string& text, std::wstring& error);

// The compact manifest in `bytes`, unpacked and parsed as ParseManifest does.
bool ParseCompactManifest(const std::string& bytes, PackageManifest& manifest, std::wstring& error);
