// Benchmark helper: the checks of a program built with a key, timed: the
// configuration's signature, and the package's size and SHA-256.
// Usage: bench_signature PACKAGE CONFIG CONFIG_SIGNATURE_FILE PUBLIC_KEYS_PEM
#include "Signature.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadText(const wchar_t* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        fwprintf(stderr, L"usage: bench_signature PACKAGE CONFIG CONFIG_SIGNATURE_FILE PUBLIC_KEYS_PEM\n");
        return 2;
    }
    std::string signature = ReadText(argv[3]);
    while (!signature.empty() && (signature.back() == '\n' || signature.back() == '\r')) {
        signature.pop_back();
    }
    const std::string keys = ReadText(argv[4]);
    LARGE_INTEGER start, signed_, digested;
    QueryPerformanceCounter(&start);
    const bool ok = VerifySignature(ReadText(argv[2]), argv[2], std::wstring(signature.begin(), signature.end()), keys);
    QueryPerformanceCounter(&signed_);
    std::wstring sha256;
    uint64_t size = 0;
    const bool read = FileDigest(argv[1], sha256, size);
    QueryPerformanceCounter(&digested);
    printf("config_signature_ok: %d\nconfig_signature_seconds: %.3f\npackage_digest_seconds: %.3f (%llu bytes)\n",
           ok ? 1 : 0, Seconds(start, signed_), Seconds(signed_, digested), static_cast<unsigned long long>(size));
    return ok && read ? 0 : 1;
}
