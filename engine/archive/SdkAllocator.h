// The allocator the LZMA SDK is given for everything it allocates: the C
// library's, an allocation of 0 bytes giving null.
#pragma once

extern "C" {
#include "7zTypes.h"
}

#include <cstdlib>

inline void* SdkMalloc(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
inline void SdkFree(ISzAllocPtr, void* address) { std::free(address); }
inline const ISzAlloc kSdkAllocator = {SdkMalloc, SdkFree};
