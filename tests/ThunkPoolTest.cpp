// The pool of executable thunk slots and the thunk bytes of both architectures.
#include "ThunkPool.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace Quv::UI;

namespace {

constexpr int32_t kSlots = ThunkPool::kSlotsPerPage;
constexpr uintptr_t kSlotBytes = ThunkPool::kSlotBytes;

uintptr_t Address(void* p) { return reinterpret_cast<uintptr_t>(p); }

TEST(ThunkPoolTest, SlotsComeLowestFirstAndASecondPageWhenTheFirstIsFull)
{
    ThunkPool pool;
    std::vector<void*> slots;
    void* first = pool.Allocate();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Address(first) % ThunkPool::kPageBytes, 0u) << "the page base comes first";
    slots.push_back(first);
    for (int32_t i = 1; i < kSlots; ++i) {
        slots.push_back(pool.Allocate());
        EXPECT_EQ(Address(slots.back()), Address(first) + kSlotBytes * i);
    }
    EXPECT_EQ(pool.freeSlotCount, 0u);
    void* next = pool.Allocate();
    EXPECT_EQ(Address(next) % ThunkPool::kPageBytes, 0u);
    EXPECT_NE(Address(next), Address(first));
    EXPECT_EQ(pool.pages.size(), 2u);
    EXPECT_EQ(pool.freeSlotCount, static_cast<uint32_t>(kSlots - 1));
    pool.Release(next);
    EXPECT_EQ(pool.pages.size(), 1u) << "a page whose slots are all free goes back";
    for (void* slot : slots) {
        pool.Release(slot);
    }
    EXPECT_TRUE(pool.pages.empty());
    EXPECT_EQ(pool.freeSlotCount, 0u);
    EXPECT_NE(pool.Allocate(), nullptr) << "and a fresh page is taken after that";
}

TEST(ThunkPoolTest, ReleasedSlotsAreReusedLowestFirst)
{
    ThunkPool pool;
    std::vector<void*> slots;
    for (int i = 0; i < 8; ++i) {
        slots.push_back(pool.Allocate());
    }
    pool.Release(slots[5]);
    pool.Release(slots[3]);
    EXPECT_EQ(pool.Allocate(), slots[3]);
    EXPECT_EQ(pool.Allocate(), slots[5]);
    EXPECT_EQ(pool.Allocate(), static_cast<void*>(static_cast<char*>(slots[0]) + 8 * kSlotBytes));
}

TEST(ThunkPoolTest, UnknownAndRepeatedReleasesChangeNothing)
{
    ThunkPool pool;
    void* slot = pool.Allocate();
    const uint32_t free = pool.freeSlotCount;
    int local = 0;
    pool.Release(&local);
    EXPECT_EQ(pool.freeSlotCount, free);
    void* second = pool.Allocate();
    pool.Release(second);
    pool.Release(second);
    EXPECT_EQ(pool.freeSlotCount, free) << "a slot released twice counts once";
    pool.Release(slot);
}

TEST(ThunkPoolTest, TheX86ThunkIsThirteenBytesOfMovAndJmp)
{
    const auto code = MakeX86Thunk(0x11223344u, 0x00401000u, 0x00500010u);
    // entry - (slot + 13) = 0x00401000 - 0x0050001D = 0xFFF00FE3
    const std::array<uint8_t, 13> expected = {0xC7, 0x44, 0x24, 0x04, 0x44, 0x33, 0x22,
                                              0x11, 0xE9, 0xE3, 0x0F, 0xF0, 0xFF};
    EXPECT_EQ(code, expected);
    const auto forward = MakeX86Thunk(0xCAFEBABEu, 0x00600000u, 0x00500000u);
    EXPECT_EQ(forward[9], 0xF3);  // 0x00600000 - 0x0050000D = 0x000FFFF3
    EXPECT_EQ(forward[10], 0xFF);
    EXPECT_EQ(forward[11], 0x0F);
    EXPECT_EQ(forward[12], 0x00);
    EXPECT_EQ(ThunkPool::kPageBytes / 16, 256u) << "a 32-bit page holds 256 slots of 16 bytes";
}

TEST(ThunkPoolTest, TheX64ThunkLoadsTheObjectIntoRcxAndJumps)
{
    const auto code = MakeX64Thunk(0x1122334455667788ull, 0x0102030405060708ull);
    const std::array<uint8_t, 22> expected = {0x48, 0xB9, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x48,
                                              0xB8, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xE0};
    EXPECT_EQ(code, expected);
#if defined(_WIN64)
    EXPECT_LE(code.size(), ThunkPool::kSlotBytes) << "it fits the slots of the 64-bit pool";
#endif
}

// The thunk of this build, executed: it must call the entry with the object first.
void* g_seenObject = nullptr;
UINT g_seenMessage = 0;
LRESULT CALLBACK RecordingEntry(HostWnd* object, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_seenObject = object;
    g_seenMessage = message;
    return static_cast<LRESULT>(wParam + lParam);
}

TEST(ThunkPoolTest, AWrittenThunkRoutesAWindowProcedureCallToItsObject)
{
    ThunkPool pool;
    void* slot = pool.Allocate();
    auto* object = reinterpret_cast<HostWnd*>(static_cast<uintptr_t>(0x5A5A0000));
    WriteThunk(slot, object, reinterpret_cast<const void*>(&RecordingEntry));
    const auto procedure = reinterpret_cast<WNDPROC>(slot);
    EXPECT_EQ(procedure(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)), WM_USER + 7, 40, 2), 42);
    EXPECT_EQ(g_seenObject, object);
    EXPECT_EQ(g_seenMessage, static_cast<UINT>(WM_USER + 7));
    pool.Release(slot);
}

}  // namespace
