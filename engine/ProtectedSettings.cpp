#include "ProtectedSettings.h"

#include "CryptHandles.h"
#include "DiagnosticsLog.h"
#include "RegistryKey.h"
#include "RepairConfig.h"

namespace {

const wchar_t kProgramKey[] = L"Software\\Lumora\\LumoraRepair";
const wchar_t kVersionValue[] = L"ConfigVersion";
const wchar_t kJournalKeyValue[] = L"JournalKey";
// Full control for Administrators and SYSTEM, nothing for anyone else; not
// inherited from the parent key.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)";
constexpr size_t kJournalKeyBytes = 32;

// The key, open for writing, with its access list made ours.
bool OpenProtected(RegistryKey& key)
{
    if (!key.SetSecurity(kAdministratorsOnly)) {
        Log(L"can't keep HKEY_LOCAL_MACHINE\\" + std::wstring(kProgramKey) + L" to administrators: " +
            ErrorText(GetLastError()));
        return false;
    }
    return true;
}

}  // namespace

uint64_t AcceptedConfigVersion()
{
    RegistryKey key(HKEY_LOCAL_MACHINE, kProgramKey, true);
    std::wstring text;
    return key.QueryString(kVersionValue, text) ? ParseConfigVersion(text) : 0;
}

bool KeepAcceptedConfigVersion(uint64_t version)
{
    RegistryKey key(HKEY_LOCAL_MACHINE, kProgramKey, false);
    if (!OpenProtected(key) || !key.SetString(kVersionValue, Num(version))) {
        Log(L"can't keep the configuration's version " + Num(version) + L" in the registry: " +
            ErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool JournalKey(std::string& secret)
{
    RegistryKey key(HKEY_LOCAL_MACHINE, kProgramKey, false);
    if (!OpenProtected(key)) {
        return false;
    }
    if (key.QueryBinary(kJournalKeyValue, secret) && secret.size() == kJournalKeyBytes) {
        return true;
    }
    CryptProvider provider;
    secret.assign(kJournalKeyBytes, '\0');
    if (!AcquireVerifyContext(provider, PROV_RSA_AES) ||
        !CryptGenRandom(provider.Get(), kJournalKeyBytes, reinterpret_cast<BYTE*>(&secret[0])) ||
        !key.SetBinary(kJournalKeyValue, secret)) {
        Log(L"can't make the key the repair journal is signed with: " + ErrorText(GetLastError()));
        secret.clear();
        return false;
    }
    return true;
}
