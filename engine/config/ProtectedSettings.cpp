#include "ProtectedSettings.h"

#include "CryptHandles.h"
#include "DiagnosticsLog.h"
#include "RegistryKey.h"
#include "TextFields.h"

namespace {

const wchar_t kProgramKey[] = L"Software\\Lumora\\LumoraRepair";
const wchar_t kVersionValue[] = L"ConfigVersion";
const wchar_t kJournalKeyValue[] = L"JournalKey";
// Followed by the game folder's identity: one value a folder with a repair under way.
const wchar_t kRepairIdValue[] = L"Repair ";
constexpr size_t kRepairIdBytes = 16;
// Full control for Administrators and SYSTEM, nothing for anyone else; not
// inherited from the parent key.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)";
constexpr size_t kJournalKeyBytes = 32;

// Whether this process has an administrator's rights: on Windows XP a limited
// user can start the program, which asks for them only from Vista on.
bool RunningAsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    const bool known = CheckTokenMembership(nullptr, administrators, &member) != FALSE;
    FreeSid(administrators);
    return known && member;
}

// Where the values live: the machine's key, made administrators-only, when we
// run as administrator; otherwise the user's own, which nobody with fewer
// rights than this process can change (and a limited user's program can't be
// turned against the machine anyway).
HKEY Root()
{
    static const bool administrator = RunningAsAdministrator();
    return administrator ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The key, open for writing, with its access list made ours.
bool OpenProtected(RegistryKey& key)
{
    if (Root() == HKEY_LOCAL_MACHINE && !key.SetSecurity(kAdministratorsOnly)) {
        Log(L"can't keep HKEY_LOCAL_MACHINE\\" + std::wstring(kProgramKey) + L" to administrators: " +
            ErrorText(GetLastError()));
        return false;
    }
    return true;
}

// `bytes` random bytes, kept as the value `name` of the protected key.
bool MakeRandomValue(RegistryKey& key, const std::wstring& name, size_t bytes, std::string& value)
{
    CryptProvider provider;
    value.assign(bytes, '\0');
    if (!AcquireVerifyContext(provider, PROV_RSA_AES) ||
        !CryptGenRandom(provider.Get(), static_cast<DWORD>(bytes), reinterpret_cast<BYTE*>(&value[0])) ||
        !key.SetBinary(name.c_str(), value)) {
        value.clear();
        return false;
    }
    return true;
}

std::wstring RepairIdName(const std::wstring& folder) { return kRepairIdValue + folder; }

}  // namespace

uint64_t AcceptedConfigVersion()
{
    RegistryKey key(Root(), kProgramKey, true);
    std::wstring text;
    return key.QueryString(kVersionValue, text) ? DecimalOrZero(text) : 0;
}

bool KeepAcceptedConfigVersion(uint64_t version)
{
    RegistryKey key(Root(), kProgramKey, false);
    if (!OpenProtected(key) || !key.SetString(kVersionValue, Num(version))) {
        Log(L"can't keep the configuration's version " + Num(version) + L" in the registry: " +
            ErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool JournalKey(std::string& secret)
{
    RegistryKey key(Root(), kProgramKey, false);
    if (!OpenProtected(key)) {
        return false;
    }
    if (key.QueryBinary(kJournalKeyValue, secret) && secret.size() == kJournalKeyBytes) {
        return true;
    }
    if (!MakeRandomValue(key, kJournalKeyValue, kJournalKeyBytes, secret)) {
        Log(L"can't make the key the repair journal is signed with: " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool NewRepairId(const std::wstring& folder, std::string& id)
{
    RegistryKey key(Root(), kProgramKey, false);
    if (!OpenProtected(key) || !MakeRandomValue(key, RepairIdName(folder), kRepairIdBytes, id)) {
        Log(L"can't make the id the repair's journal is bound to: " + ErrorText(GetLastError()));
        return false;
    }
    return true;
}

bool RepairIdOf(const std::wstring& folder, std::string& id)
{
    RegistryKey key(Root(), kProgramKey, true);
    return key.QueryBinary(RepairIdName(folder).c_str(), id) && id.size() == kRepairIdBytes;
}

void ForgetRepairId(const std::wstring& folder)
{
    RegistryKey key(Root(), kProgramKey, false);
    if (!key.DeleteValue(RepairIdName(folder).c_str())) {
        Log(L"can't forget the id of the repair that is over: " + ErrorText(GetLastError()));
    }
}
