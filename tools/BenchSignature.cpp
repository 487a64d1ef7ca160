// Benchmark helper: one signature check of a package, timed.
// Usage: bench_signature PACKAGE SIGNATURE_FILE PUBLIC_KEY_PEM
#include "PackageSignature.h"

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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        fwprintf(stderr, L"usage: bench_signature PACKAGE SIGNATURE_FILE PUBLIC_KEY_PEM\n");
        return 2;
    }
    const std::string signature = ReadText(argv[2]);
    const std::string key = ReadText(argv[3]);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const bool ok = VerifyPackageSignature(argv[1], std::wstring(signature.begin(), signature.end()), key);
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    printf("signature_ok: %d\nsignature_seconds: %.3f\n", ok ? 1 : 0, seconds);
    return ok ? 0 : 1;
}
