// Functions of kernel32 that not every Windows the program supports has. They
// are looked up at run time instead of imported, so that Windows XP still
// loads the program.
#pragma once

#include <windows.h>

// kernel32's function `name` as a `Fn`, or null where this Windows lacks it.
template <typename Fn>
Fn KernelFunction(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}
