// Window-procedure thunks: a few bytes of machine code per window, in pages of
// executable memory, that call a fixed entry routine with the window's HostWnd
// object in place of its window handle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

namespace Quv::UI {

class HostWnd;

// The 32-bit thunk: mov dword [esp+4], object; jmp entry.
constexpr size_t kX86ThunkBytes = 13;
std::array<uint8_t, kX86ThunkBytes> MakeX86Thunk(uint32_t object, uint32_t entry, uint32_t slot);

// The 64-bit thunk: mov rcx, object; mov rax, entry; jmp rax.
constexpr size_t kX64ThunkBytes = 22;
std::array<uint8_t, kX64ThunkBytes> MakeX64Thunk(uint64_t object, uint64_t entry);

class ThunkPool {
public:
    static constexpr size_t kPageBytes = 4096;
#if defined(_WIN64)
    static constexpr size_t kSlotBytes = 32;
#else
    static constexpr size_t kSlotBytes = 16;
#endif
    static constexpr int32_t kSlotsPerPage = static_cast<int32_t>(kPageBytes / kSlotBytes);

    // The process's pool; tests make pools of their own.
    static ThunkPool& Instance();

    ThunkPool() = default;
    ~ThunkPool() = default;  // pages still held are left to the end of the process
    ThunkPool(const ThunkPool&) = delete;
    ThunkPool& operator=(const ThunkPool&) = delete;

    // A free slot, lowest page and lowest slot first; null when the system
    // refuses a new page.
    void* Allocate();
    // Gives a slot back; a page whose slots are all free goes back to the system.
    void Release(void* slot);

    uint32_t freeSlotCount = 0;
    std::map<uintptr_t, std::set<int32_t>> pages;  // page base -> free slot indices
};

// Writes the thunk of this architecture into `slot`, leading to `entry`.
void WriteThunk(void* slot, HostWnd* object, const void* entry);

}  // namespace Quv::UI
