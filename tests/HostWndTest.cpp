// A real host window and modal dialog under Xvfb: message routing through the
// thunks, application handlers, centring, and real input from xdotool.
#include "ButtonControl.h"
#include "CaptionControl.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "TestSupport.h"
#include "TextControl.h"
#include "ThunkPool.h"
#include "WindowBinding.h"
#include "WindowRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace Quv::UI;

namespace {

constexpr int32_t kEditId = 23;

class HostWndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.root = &root;
        root.owner = &host;
        ImageControl* background = root.CreateImageControl(nullptr, "bkg");
        background->SetImage(130);
        background->SetPosition(0, 0, 548, 300);
        CaptionControl* caption = root.CreateCaptionControl(background);
        caption->SetPosition(0, 0, 548, 300);
        enabledButton = root.CreateButtonControl(caption, "btn_sure");
        enabledButton->SetImages(136, 135, 137, 134);
        enabledButton->SetText(L"修复");
        enabledButton->SetPosition(179, 210, 269, 257);
        enabledButton->AddClickHandler([this] { clicks.push_back("enabled"); });
        disabledButton = root.CreateButtonControl(caption, "btn_cancel");
        disabledButton->SetImages(136, 135, 137, 134);
        disabledButton->SetPosition(279, 210, 369, 257);
        disabledButton->AddClickHandler([this] { clicks.push_back("disabled"); });
        disabledButton->SetEnabled(false);
        ImageControl* field = root.CreateImageControl(caption, "edit_bkg");
        field->SetImage(142);
        field->SetPosition(134, 113, 404, 141);
        edit = root.CreateEditControl(field);
        edit->SetPosition(2, 2, 266, 26);
        edit->AddChangeHandler([this] { ++changes; });
        root.AddCreateHandler([this] {
            edit->Create(host.hwnd, kEditId);
            root.childControls[kEditId] = edit;
        });
        ASSERT_TRUE(host.Create(L"Lumora修复工具 test", 548, 300));
        EXPECT_FALSE(IsWindowVisible(host.hwnd)) << "hidden until shown";
        host.Show(true);
        SetForegroundWindow(host.hwnd);
        PumpMessages(300);
    }

    void TearDown() override
    {
        if (host.hwnd != nullptr) {
            SendMessageW(host.hwnd, WM_CLOSE, 0, 0);
        }
        PumpMessages(50);
        host.root = nullptr;
        root.OnClose();
        UnregisterClassW(kHostWindowClass, ModuleInstance());
    }

    RECT WindowRect() const
    {
        RECT r = {};
        GetWindowRect(host.hwnd, &r);
        return r;
    }
    // xdotool at a point of the window's client area (there is no frame).
    void Xdo(const char* action, int x, int y)
    {
        const RECT r = WindowRect();
        char command[256];
        snprintf(command, sizeof(command), "xdotool mousemove %ld %ld %s", r.left + x, r.top + y, action);
        RunShellWhilePumping(command);
    }

    HostWnd host;
    WindowRoot root;
    ButtonControl* enabledButton = nullptr;
    ButtonControl* disabledButton = nullptr;
    EditControl* edit = nullptr;
    std::vector<std::string> clicks;
    int changes = 0;
};

TEST_F(HostWndTest, TheWindowIsBoundToItsObjectThroughTheThunk)
{
    ASSERT_NE(host.hwnd, nullptr);
    EXPECT_EQ(GetWindowLongPtrW(host.hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(host.thunk));
    EXPECT_TRUE(PendingWindows().empty());
    EXPECT_EQ(GetWindowLongW(host.hwnd, GWL_STYLE) & ~WS_VISIBLE, static_cast<LONG>(0x860B0000 & ~WS_VISIBLE));
    wchar_t title[64] = {};
    GetWindowTextW(host.hwnd, title, 64);
    EXPECT_EQ(std::wstring(title), L"Lumora修复工具 test");
    RECT client = {};
    GetClientRect(host.hwnd, &client);
    EXPECT_EQ(client.right, 548);
    EXPECT_EQ(client.bottom, 300);
    EXPECT_EQ(root.backWidth, 548);
    EXPECT_NE(host.timerId, 0u);
    // Centred on the work area.
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(WindowRect().left, (work.left + work.right) / 2 - 274);
    EXPECT_EQ(WindowRect().top, (work.top + work.bottom) / 2 - 150);
    EXPECT_NE(edit->editHwnd, nullptr) << "the create handler ran during creation";
}

TEST_F(HostWndTest, ASecondMainWindowInTheProcessIsRefused)
{
    HostWnd second;
    WindowRoot secondRoot;
    second.root = &secondRoot;
    EXPECT_FALSE(second.Create(L"second", 100, 100)) << "the class is registered already";
    EXPECT_EQ(second.thunk, nullptr);
    EXPECT_TRUE(PendingWindows().empty());
}

TEST_F(HostWndTest, ApplicationMessagesRunTheirHandlersInOrderWithResultZero)
{
    std::vector<std::string> calls;
    host.AddMessageHandler(WM_USER + 1, [&calls](uint32_t w, int32_t l) {
        calls.push_back("first " + std::to_string(w) + " " + std::to_string(l));
    });
    host.AddMessageHandler(WM_USER + 1, [&calls](uint32_t, int32_t) { calls.push_back("second"); });
    EXPECT_EQ(SendMessageW(host.hwnd, WM_USER + 1, 104, -5), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"first 104 -5", "second"}));
    PostMessageW(host.hwnd, WM_USER + 1, 7, 0);
    PumpMessages(50);
    EXPECT_EQ(calls.size(), 4u) << "posted messages too";
    SendMessageW(host.hwnd, WM_USER + 9, 0, 0);  // no handler: default processing
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(HostWndTest, OtherNotificationsTimersAndColoursFollowTheTable)
{
    SendMessageW(host.hwnd, WM_COMMAND, MAKEWPARAM(kEditId, EN_SETFOCUS), reinterpret_cast<LPARAM>(edit->editHwnd));
    EXPECT_EQ(changes, 0) << "only EN_CHANGE reaches the control";
    root.dirty = true;
    SendMessageW(host.hwnd, WM_TIMER, host.timerId + 99, 0);
    EXPECT_TRUE(root.dirty) << "a foreign timer draws nothing";
    SendMessageW(host.hwnd, WM_TIMER, host.timerId, 0);
    EXPECT_FALSE(root.dirty);
    HDC dc = GetDC(edit->editHwnd);
    EXPECT_EQ(SendMessageW(host.hwnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(SendMessageW(host.hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(edit->editHwnd, dc);
    SendMessageW(host.hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_FALSE(host.restorePending);
    SendMessageW(host.hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(host.restorePending);
    InvalidateRect(host.hwnd, nullptr, FALSE);
    PumpMessages(100);
    EXPECT_FALSE(host.restorePending) << "the next paint consumes it";
}

TEST_F(HostWndTest, TheEditFieldIsOneLineHighAndCentredInItsRectangle)
{
    RECT r = {};
    GetWindowRect(edit->editHwnd, &r);
    MapWindowPoints(nullptr, host.hwnd, reinterpret_cast<POINT*>(&r), 2);
    const int height = r.bottom - r.top;
    EXPECT_GT(height, 8);
    EXPECT_LT(height, 24);
    EXPECT_EQ(r.left, 136);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.top, 115 + (24 - height) / 2);
}

// Runs inside the dialog's modal loop: looks at the dialog, then closes it.
struct DialogProbe {
    HostWnd* dialog = nullptr;
    HWND mainWindow = nullptr;
    RECT dialogRect = {};
    bool ignoredUserMessage = false;
    bool handlerRan = false;
};
DialogProbe* g_probe = nullptr;

void CALLBACK InspectAndCloseDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    DialogProbe& probe = *g_probe;
    GetWindowRect(probe.dialog->hwnd, &probe.dialogRect);
    probe.ignoredUserMessage = SendMessageW(probe.dialog->hwnd, WM_USER + 100, 0, 0) == 0;
    probe.dialog->dialogResult = 1;
    SendMessageW(probe.dialog->hwnd, WM_CLOSE, 0, 0);
}

// Opens a dialog from an application handler, as the main window does, and
// lets `probe` look at it and close it; returns the dialog's result.
int RunProbeDialog(HostWnd& host, DialogProbe& probe)
{
    g_probe = &probe;
    int result = 0;
    host.AddMessageHandler(WM_USER + 2, [&](uint32_t, int32_t) {
        HostWnd dialog;
        WindowRoot dialogRoot;
        dialog.root = &dialogRoot;
        dialogRoot.owner = &dialog;
        ImageControl* background = dialogRoot.CreateImageControl(nullptr, "bkg");
        background->SetImage(141);
        background->SetPosition(0, 0, 347, 209);
        dialog.AddMessageHandler(WM_USER + 100, [&probe](uint32_t, int32_t) { probe.handlerRan = true; });
        probe.dialog = &dialog;
        SetTimer(nullptr, 0, 300, InspectAndCloseDialog);
        result = dialog.RunModal(host.hwnd, 103, 347, 209);  // the empty template of res/skin.rc
        dialog.root = nullptr;
        dialogRoot.OnClose();
    });
    SendMessageW(host.hwnd, WM_USER + 2, 0, 0);
    return result;
}

TEST_F(HostWndTest, ADialogOpenedFromAHandlerBindsToItsOwnObjectAndSitsOverItsOwner)
{
    DialogProbe probe;
    EXPECT_EQ(RunProbeDialog(host, probe), 1);
    EXPECT_TRUE(probe.ignoredUserMessage);
    EXPECT_FALSE(probe.handlerRan) << "dialogs don't look at their message handlers";
    const RECT owner = WindowRect();
    EXPECT_EQ(probe.dialogRect.left, owner.left + 101);
    EXPECT_EQ(probe.dialogRect.top, owner.top + 46);
    EXPECT_EQ(probe.dialogRect.right - probe.dialogRect.left, 347);
    EXPECT_EQ(probe.dialogRect.bottom - probe.dialogRect.top, 209);
    EXPECT_NE(host.hwnd, nullptr) << "the main window kept its own binding";
    EXPECT_EQ(GetWindowLongPtrW(host.hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(host.thunk));
    EXPECT_TRUE(PendingWindows().empty());
}

// A minimised owner is parked off the screen; the dialog belongs where the
// owner comes back to.
TEST_F(HostWndTest, ADialogOverAMinimisedOwnerIsCentredWhereTheOwnerComesBack)
{
    const RECT normal = WindowRect();
    ShowWindow(host.hwnd, SW_MINIMIZE);
    PumpMessages(200);
    ASSERT_TRUE(IsIconic(host.hwnd));
    DialogProbe probe;
    EXPECT_EQ(RunProbeDialog(host, probe), 1);
    EXPECT_EQ(probe.dialogRect.left, normal.left + 101);
    EXPECT_EQ(probe.dialogRect.top, normal.top + 46);
    ShowWindow(host.hwnd, SW_RESTORE);
    PumpMessages(200);
}

TEST_F(HostWndTest, AMaximiseRequestLeavesTheSkinnedWindowAsItIs)
{
    const RECT before = WindowRect();
    for (WPARAM command : {static_cast<WPARAM>(SC_MAXIMIZE), static_cast<WPARAM>(SC_MAXIMIZE | 2)}) {
        SendMessageW(host.hwnd, WM_SYSCOMMAND, command, 0);
        PumpMessages(100);
        EXPECT_FALSE(IsZoomed(host.hwnd));
        const RECT after = WindowRect();
        EXPECT_TRUE(EqualRect(&before, &after)) << after.left << "," << after.top << " " << after.right << ","
                                                << after.bottom;
    }
    // The low bits that the system may set don't hide a restore either.
    SendMessageW(host.hwnd, WM_SYSCOMMAND, SC_RESTORE | 2, 0);
    EXPECT_TRUE(host.restorePending);
    InvalidateRect(host.hwnd, nullptr, FALSE);
    PumpMessages(100);
    EXPECT_FALSE(host.restorePending);
}

TEST_F(HostWndTest, ClicksReachEnabledButtonsOnly)
{
    Xdo("", 200, 230);
    EXPECT_EQ(enabledButton->state, Hover);
    Xdo("click 1", 200, 230);
    EXPECT_EQ(clicks, std::vector<std::string>{"enabled"});
    Xdo("click 1", 300, 230);
    EXPECT_EQ(clicks, std::vector<std::string>{"enabled"}) << "the disabled button calls nothing";
    Xdo("", 10, 280);
    EXPECT_EQ(enabledButton->state, Normal);
}

TEST_F(HostWndTest, PressAndReleaseOnDifferentButtonsCallNothing)
{
    disabledButton->SetEnabled(true);
    Xdo("mousedown 1", 200, 230);
    Xdo("mouseup 1", 300, 230);
    EXPECT_TRUE(clicks.empty());
}

TEST_F(HostWndTest, APressOnTheBackgroundDragsTheWindow)
{
    const RECT before = WindowRect();
    const long x = before.left + 60, y = before.top + 60;
    char command[256];
    snprintf(command, sizeof(command),
             "xdotool mousemove %ld %ld mousedown 1 sleep 0.2 mousemove %ld %ld sleep 0.1 mousemove %ld %ld "
             "sleep 0.1 mousemove %ld %ld sleep 0.2 mouseup 1",
             x, y, x + 10, y + 5, x + 30, y + 15, x + 40, y + 20);
    RunShellWhilePumping(command);
    const RECT after = WindowRect();
    EXPECT_EQ(after.left - before.left, 40);
    EXPECT_EQ(after.top - before.top, 20);
    EXPECT_TRUE(clicks.empty());
}

TEST_F(HostWndTest, TypingRunsTheChangeHandlersUntilTheFieldIsReadOnly)
{
    Xdo("click 1", 200, 127);
    RunShellWhilePumping("xdotool type --delay 30 'abc'");
    std::wstring text;
    ASSERT_TRUE(edit->GetText(text));
    EXPECT_EQ(text, L"abc");
    EXPECT_EQ(changes, 3);
    edit->SetEditable(false);
    EXPECT_FALSE(edit->editable);
    RunShellWhilePumping("xdotool type --delay 30 'xyz'");
    edit->GetText(text);
    EXPECT_EQ(text, L"abc");
    EXPECT_EQ(changes, 3);
    SetWindowTextW(edit->editHwnd, L"");
    PumpMessages(50);
    std::wstring kept = L"kept";
    EXPECT_FALSE(edit->GetText(kept)) << "an empty field reads as false";
    EXPECT_EQ(kept, L"kept");
}

TEST_F(HostWndTest, TheScreenShowsTheBackBufferAndTheButtonStates)
{
    // Read the window's own pixels: the normal large button is teal...
    auto screenPixel = [this](int x, int y) {
        HDC dc = GetDC(host.hwnd);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(host.hwnd, dc);
        return c;
    };
    PumpMessages(100);
    const COLORREF normal = screenPixel(185, 250);
    EXPECT_GT(GetBValue(normal), GetRValue(normal) + 40) << "teal";
    Xdo("", 200, 230);
    PumpMessages(100);
    const COLORREF hover = screenPixel(185, 250);
    EXPECT_GT(GetGValue(hover), GetGValue(normal)) << "lighter under the pointer";
    const COLORREF disabled = screenPixel(285, 250);
    EXPECT_EQ(GetRValue(disabled), GetBValue(disabled)) << "grey when disabled";
}

}  // namespace
