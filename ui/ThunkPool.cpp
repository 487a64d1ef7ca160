#include "ThunkPool.h"

#include <windows.h>

#include <cstring>

namespace Quv::UI {

namespace {

void PutLittleEndian(uint8_t* out, uint64_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::array<uint8_t, kX86ThunkBytes> MakeX86Thunk(uint32_t object, uint32_t entry, uint32_t slot)
{
    std::array<uint8_t, kX86ThunkBytes> code = {0xC7, 0x44, 0x24, 0x04};
    PutLittleEndian(&code[4], object, 4);
    code[8] = 0xE9;
    PutLittleEndian(&code[9], static_cast<uint32_t>(entry - (slot + kX86ThunkBytes)), 4);
    return code;
}

std::array<uint8_t, kX64ThunkBytes> MakeX64Thunk(uint64_t object, uint64_t entry)
{
    std::array<uint8_t, kX64ThunkBytes> code = {0x48, 0xB9};  // mov rcx, imm64
    PutLittleEndian(&code[2], object, 8);
    code[10] = 0x48;  // mov rax, imm64
    code[11] = 0xB8;
    PutLittleEndian(&code[12], entry, 8);
    code[20] = 0xFF;  // jmp rax
    code[21] = 0xE0;
    return code;
}

void WriteThunk(void* slot, HostWnd* object, const void* entry)
{
#if defined(_WIN64)
    const auto code = MakeX64Thunk(reinterpret_cast<uint64_t>(object), reinterpret_cast<uint64_t>(entry));
#else
    const auto code = MakeX86Thunk(reinterpret_cast<uint32_t>(object), reinterpret_cast<uint32_t>(entry),
                                   reinterpret_cast<uint32_t>(slot));
#endif
    std::memcpy(slot, code.data(), code.size());
    FlushInstructionCache(GetCurrentProcess(), slot, code.size());
}

ThunkPool& ThunkPool::Instance()
{
    static ThunkPool* const pool = new ThunkPool();
    return *pool;
}

void* ThunkPool::Allocate()
{
    if (freeSlotCount == 0) {
        void* page = VirtualAlloc(nullptr, kPageBytes, MEM_COMMIT, PAGE_EXECUTE_READWRITE);
        if (page == nullptr) {
            return nullptr;
        }
        std::set<int32_t>& free = pages[reinterpret_cast<uintptr_t>(page)];
        for (int32_t i = 1; i < kSlotsPerPage; ++i) {
            free.insert(i);
        }
        freeSlotCount += kSlotsPerPage - 1;
        return page;  // slot 0
    }
    for (auto& [base, free] : pages) {
        if (!free.empty()) {
            const int32_t index = *free.begin();
            free.erase(free.begin());
            --freeSlotCount;
            return reinterpret_cast<void*>(base + kSlotBytes * static_cast<size_t>(index));
        }
    }
    return nullptr;
}

void ThunkPool::Release(void* slot)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(slot);
    const uintptr_t base = address & ~static_cast<uintptr_t>(kPageBytes - 1);
    const auto page = pages.find(base);
    if (page == pages.end()) {
        return;
    }
    if (!page->second.insert(static_cast<int32_t>((address - base) / kSlotBytes)).second) {
        return;  // already free: a second release must not count it twice
    }
    ++freeSlotCount;
    if (page->second.size() == static_cast<size_t>(kSlotsPerPage)) {
        VirtualFree(reinterpret_cast<void*>(base), 0, MEM_RELEASE);
        pages.erase(page);
        freeSlotCount -= kSlotsPerPage;
    }
}

}  // namespace Quv::UI
