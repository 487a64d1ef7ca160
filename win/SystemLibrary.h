// DLLs of the system that the program does not import, loaded at run time from
// the system folder only. The program runs as administrator, often from the
// Downloads folder: a DLL that Windows doesn't keep on its KnownDLLs list is
// otherwise looked for beside the program first, where anyone could have put one.
#pragma once

#include <windows.h>

// Call first thing: takes the program's own and the current folder out of the
// search for DLLs loaded by name (SetDllDirectoryW(L"")), and where this
// Windows can (8, or 7 with KB2533623), limits that search to the system
// folder.
void LimitDllSearchToSystemFolder();

// The DLL `name` (e.g. L"wininet.dll") from the system folder, loaded once and
// kept until the process ends; null when it can't be loaded. A DLL that this
// Windows keeps only as a side-by-side assembly (GDI+ on XP) is loaded by name
// when, and only when, the program's manifest redirects that name to it.
HMODULE SystemLibrary(const wchar_t* name);

// A function of a DLL the program loaded, or null.
template <typename Fn>
Fn LibraryFunction(HMODULE library, const char* name)
{
    return library == nullptr
               ? nullptr
               : reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// A table of a DLL's functions is written as one list, each name once:
//   #define EXAMPLE_FUNCTIONS(X) X(FunctionA) X(FunctionB)
//   struct ExampleApi { EXAMPLE_FUNCTIONS(VNK_API_MEMBER) };
// and filled, with `api` (the table) and `dll` in scope, by
//   bool all = true;
//   EXAMPLE_FUNCTIONS(VNK_API_LOAD)   // `all`: every one was found
#define VNK_API_MEMBER(name) decltype(&::name) name = nullptr;
#define VNK_API_LOAD(name) all = (api.name = LibraryFunction<decltype(api.name)>(dll, #name)) != nullptr && all;
