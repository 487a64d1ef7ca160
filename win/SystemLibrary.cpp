#include "SystemLibrary.h"

#include "CriticalSection.h"
#include "KernelFunction.h"

#include <map>
#include <string>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Loaded modules by name; never unloaded, so that a pointer handed out stays good.
class LoadedLibraries {
public:
    static LoadedLibraries& Instance()
    {
        static LoadedLibraries* const libraries = new LoadedLibraries();
        return *libraries;
    }

    HMODULE Get(const wchar_t* name)
    {
        CriticalSectionLocker locked(lock_);
        const auto known = modules_.find(name);
        if (known != modules_.end()) {
            return known->second;
        }
        HMODULE module = LoadFromSystemFolder(name);
        if (module == nullptr && RedirectedByManifest(name)) {
            module = LoadLibraryW(name);
        }
        modules_[name] = module;
        return module;
    }

private:
    static HMODULE LoadFromSystemFolder(const wchar_t* name)
    {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return nullptr;
        }
        const std::wstring path = std::wstring(folder) + L"\\" + name;
        // The DLL's own dependencies are then looked for in its folder first.
        return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }

    // The process's activation context (our manifest) maps `name` to a
    // side-by-side assembly: a load by name then never searches folders.
    static bool RedirectedByManifest(const wchar_t* name)
    {
        ACTCTX_SECTION_KEYED_DATA data = {};
        data.cbSize = sizeof(data);
        return FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data) !=
               FALSE;
    }

    CriticalSection lock_;
    std::map<std::wstring, HMODULE> modules_;
};

}  // namespace

void LimitDllSearchToSystemFolder()
{
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (const auto limit = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories")) {
        limit(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

HMODULE SystemLibrary(const wchar_t* name) { return LoadedLibraries::Instance().Get(name); }
