#include "RedirectionTrust.h"

#include "KernelFunction.h"

namespace {

// PROCESS_MITIGATION_POLICY's ProcessRedirectionTrustPolicy, and the
// EnforceRedirectionTrust bit of its policy's flags; older headers lack both.
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforce = 0x1;

}  // namespace

RedirectionTrust TrustOnlyAdministratorsJunctions(DWORD& error)
{
    error = NO_ERROR;
    // Looked up, never imported: Windows 8 brought these calls.
    using SetFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
    using GetFn = BOOL(WINAPI*)(HANDLE, int, PVOID, SIZE_T);
    const SetFn set = KernelFunction<SetFn>("SetProcessMitigationPolicy");
    const GetFn get = KernelFunction<GetFn>("GetProcessMitigationPolicy");
    if (set == nullptr || get == nullptr) {
        return RedirectionTrust::NotOffered;
    }
    DWORD flags = kEnforce;
    if (!set(kRedirectionTrustPolicy, &flags, sizeof(flags))) {
        error = GetLastError();
        return RedirectionTrust::NotOn;
    }
    // Read back: only what Windows reports counts as on.
    flags = 0;
    if (!get(GetCurrentProcess(), kRedirectionTrustPolicy, &flags, sizeof(flags))) {
        error = GetLastError();
        return RedirectionTrust::NotOn;
    }
    return (flags & kEnforce) != 0 ? RedirectionTrust::On : RedirectionTrust::NotOn;
}
