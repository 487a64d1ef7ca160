#include "HostWnd.h"

#include "ThunkPool.h"
#include "WindowBinding.h"
#include "WindowRoot.h"

#include <vector>

namespace Quv::UI {

namespace {

constexpr DWORD kMainWindowStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX |
                                   WS_MAXIMIZEBOX;
HINSTANCE g_instance = nullptr;

// Zero-extended 16-bit halves, as the toolkit has always read them.
Point PointOf(LPARAM lParam)
{
    return Point{static_cast<int32_t>(LOWORD(lParam)), static_cast<int32_t>(HIWORD(lParam))};
}

LRESULT CALLBACK WindowProcEntry(HostWnd* object, UINT message, WPARAM wParam, LPARAM lParam)
{
    return object->WindowProc(message, wParam, lParam);
}

INT_PTR CALLBACK DialogProcEntry(HostWnd* object, UINT message, WPARAM wParam, LPARAM lParam)
{
    return object->DialogProc(message, wParam, lParam);
}

// The system may set the low four bits of a system command; only the rest names it.
UINT SystemCommandOf(WPARAM wParam) { return static_cast<UINT>(wParam & 0xFFF0); }

bool IsMaximizeCommand(WPARAM wParam) { return SystemCommandOf(wParam) == SC_MAXIMIZE; }

// The visible windows that `owner` owns, as EnumThreadWindows finds them.
struct OwnedWindows {
    HWND owner;
    std::vector<HWND> owned;
};

BOOL CALLBACK CollectOwnedWindow(HWND window, LPARAM parameter)
{
    OwnedWindows& search = *reinterpret_cast<OwnedWindows*>(parameter);
    if (window != search.owner && GetWindow(window, GW_OWNER) == search.owner && IsWindowVisible(window)) {
        search.owned.push_back(window);
    }
    return TRUE;
}

}  // namespace

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

HWND LiveWindowOf(const HostWnd* host)
{
    return (host != nullptr && host->hwnd != nullptr && IsWindow(host->hwnd)) ? host->hwnd : nullptr;
}

HINSTANCE ModuleInstance() { return g_instance != nullptr ? g_instance : GetModuleHandleW(nullptr); }

LRESULT CALLBACK StartWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    HostWnd* object = BindPendingWindow(hwnd, reinterpret_cast<const void*>(&WindowProcEntry), GWLP_WNDPROC);
    if (object == nullptr) {
        // A window of our class that no HostWnd made: it has nothing to bind to.
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return object->WindowProc(message, wParam, lParam);
}

INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    HostWnd* object = BindPendingWindow(hwnd, reinterpret_cast<const void*>(&DialogProcEntry), DWLP_DLGPROC);
    if (object == nullptr) {
        return 0;
    }
    return object->DialogProc(message, wParam, lParam);
}

HostWnd::~HostWnd()
{
    if (thunk != nullptr) {
        ThunkPool::Instance().Release(thunk);
        thunk = nullptr;
    }
}

bool HostWnd::Create(const std::wstring& title, int32_t width, int32_t height)
{
    const HINSTANCE instance = ModuleInstance();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = StartWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = iconId != 0 ? LoadIconW(instance, MAKEINTRESOURCEW(iconId)) : nullptr;
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kHostWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    const PendingWindow pending(*this);
    if (!pending.Ready()) {
        return false;  // no executable memory: no procedure for the window
    }
    CreateWindowExW(0, kHostWindowClass, title.c_str(), kMainWindowStyle, 0, 0, width, height, nullptr, nullptr,
                    instance, nullptr);
    if (!HasWindow()) {
        return false;
    }
    Show(false);
    return true;
}

int32_t HostWnd::RunModal(HWND owner, int templateId, int32_t width, int32_t height)
{
    const PendingWindow pending(*this);
    if (!pending.Ready()) {
        return -1;
    }
    dialogWidth_ = width;
    dialogHeight_ = height;
    return static_cast<int32_t>(
        DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId), owner, StartDialogProc, 0));
}

bool HostWnd::Show(bool visible)
{
    if (!HasWindow()) {
        return false;
    }
    ShowWindow(hwnd, visible ? SW_SHOWNORMAL : SW_HIDE);
    return UpdateWindow(hwnd) != FALSE;
}

bool HostWnd::MoveTo(const Rect& rect)
{
    if (!HasWindow()) {
        return false;
    }
    return MoveWindow(hwnd, rect.left, rect.top, rect.Width(), rect.Height(), TRUE) != FALSE;
}

void HostWnd::CenterOnOwner()
{
    if (!HasWindow()) {
        return;
    }
    RECT reference = {};
    RECT workArea = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    HWND ownerWindow = GetParent(hwnd);
    if (ownerWindow == nullptr) {
        reference = workArea;
    } else if (IsIconic(ownerWindow)) {
        // A minimised owner is parked off the screen: centre on the place it
        // comes back to, so that the dialog is there when the player restores it.
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        GetWindowPlacement(ownerWindow, &placement);
        reference = placement.rcNormalPosition;  // relative to the work area
        reference.left += workArea.left;
        reference.right += workArea.left;
        reference.top += workArea.top;
        reference.bottom += workArea.top;
    } else {
        GetWindowRect(ownerWindow, &reference);
    }
    RECT own = {};
    GetWindowRect(hwnd, &own);
    const int32_t width = own.right - own.left;
    const int32_t height = own.bottom - own.top;
    const int32_t left = (reference.left + reference.right) / 2 - width / 2;
    const int32_t top = (reference.top + reference.bottom) / 2 - height / 2;
    MoveWindow(hwnd, left, top, width, height, TRUE);
}

void HostWnd::AddMessageHandler(uint32_t message, MessageHandler handler)
{
    handlers[message].push_back(std::move(handler));
}

void HostWnd::SetIcons()
{
    if (iconId == 0) {
        return;
    }
    HICON icon = LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(iconId));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void HostWnd::OnPaint()
{
    if (restorePending) {
        // Back from minimised: the back buffer is new and blank, so this paint
        // only asks the next tick to redraw everything; the system paints again.
        restorePending = false;
        root->Invalidate(nullptr);
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    root->Paint(dc);
    EndPaint(hwnd, &paint);
}

void HostWnd::RaiseOwnedWindows()
{
    // A dialog belongs above its owner. One that came up while the owner was
    // minimised can end up below it once the owner is restored, and the player
    // would face a disabled window and no dialog.
    OwnedWindows search{hwnd, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectOwnedWindow, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.owned) {
        SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

void HostWnd::OnSysCommand(WPARAM wParam)
{
    if (SystemCommandOf(wParam) == SC_RESTORE) {
        restorePending = true;
    }
}

void HostWnd::OnMouseMove(WPARAM wParam, LPARAM lParam)
{
    // Ask to be told when the pointer leaves, so that no button stays lit.
    if (!leaveTracking_) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, hwnd, 0};
        leaveTracking_ = TrackMouseEvent(&track) != FALSE;
    }
    root->OnMouseMove(PointOf(lParam), wParam);
}

bool HostWnd::OnLButtonDown(LPARAM lParam, LRESULT& result)
{
    if (root->rootControl != nullptr) {
        root->rootControl->DispatchPress(PointOf(lParam));
    }
    if (!dragPending) {
        return false;
    }
    dragPending = false;
    result = DefWindowProcW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return true;
}

LRESULT HostWnd::OnControlColor(WPARAM dc)
{
    SetBkMode(reinterpret_cast<HDC>(dc), TRANSPARENT);
    SetTextColor(reinterpret_cast<HDC>(dc), RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
}

// The rows that the window and the dialog procedure share. What follows a row
// differs between the two: their own default processing (Default), a value to
// return (Value), or nothing at all (Swallow).
HostWnd::Reply HostWnd::OnSharedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& value)
{
    switch (message) {
    case WM_SIZE:
        root->OnSize(LOWORD(lParam), HIWORD(lParam));
        if (wParam == SIZE_RESTORED) {
            RaiseOwnedWindows();
        }
        return Reply::Default;
    case WM_PAINT:
        if (restorePending) {
            OnPaint();
            value = 0;  // no BeginPaint: the system keeps the update region
            return Reply::Value;
        }
        OnPaint();
        return Reply::Default;
    case WM_ERASEBKGND:
        value = 1;
        return Reply::Value;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE) {
            root->OnCommand(LOWORD(wParam), wParam, lParam);
        }
        return Reply::Default;
    case WM_SYSCOMMAND:
        if (IsMaximizeCommand(wParam)) {
            return Reply::Swallow;  // the skinned window has one size
        }
        // Alt+F4 and the window menu's close do what the window's close button does.
        if (SystemCommandOf(wParam) == SC_CLOSE && root->keyboard.OnCloseCommand()) {
            return Reply::Swallow;
        }
        OnSysCommand(wParam);
        return Reply::Default;
    case WM_KEYDOWN:
        if (root->keyboard.OnKey(static_cast<UINT>(wParam))) {
            value = 0;
            return Reply::Value;
        }
        return Reply::Default;
    case WM_TIMER:
        if (wParam == timerId) {
            root->OnTimer();
        } else if (const auto found = handlers.find(WM_TIMER); found != handlers.end()) {
            // The application's own timers.
            for (const MessageHandler& handler : found->second) {
                handler(static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
            }
        }
        return Reply::Default;
    case WM_CTLCOLORSTATIC:
        value = OnControlColor(wParam);
        return Reply::Value;
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, lParam);
        return Reply::Default;
    case WM_LBUTTONDOWN:
        return OnLButtonDown(lParam, value) ? Reply::Value : Reply::Default;
    case WM_LBUTTONUP:
        root->OnLButtonUp(PointOf(lParam));
        return Reply::Default;
    case WM_MOUSELEAVE:
        leaveTracking_ = false;
        root->OnMouseLeave();
        return Reply::Default;
    default:
        return Reply::Default;
    }
}

LRESULT HostWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (root == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message >= WM_USER) {
        const auto found = handlers.find(message);
        if (found != handlers.end()) {
            for (const MessageHandler& handler : found->second) {
                handler(static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
            }
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    switch (message) {
    case WM_CREATE:
        SetIcons();
        CenterOnOwner();
        root->OnCreate();
        break;
    case WM_DESTROY:
        hwnd = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        root->OnClose();
        break;  // the default processing destroys the window
    case WM_CTLCOLOREDIT:
        return OnControlColor(wParam);
    case WM_EXITMENULOOP:
        // The window menu may have drawn over the client area (a system that
        // draws a caption button the skinned window doesn't have): show the
        // window whole again.
        root->Invalidate(nullptr);
        break;
    default: {
        LRESULT value = 0;
        const Reply reply = OnSharedMessage(message, wParam, lParam, value);
        if (reply == Reply::Value) {
            return value;
        }
        if (reply == Reply::Swallow) {
            return 0;
        }
        break;
    }
    }
    // hwnd may have been cleared by a handler that closed the window meanwhile.
    return hwnd != nullptr ? DefWindowProcW(hwnd, message, wParam, lParam) : 0;
}

INT_PTR HostWnd::DialogProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Returning 0 lets the dialog manager do its default processing.
    if (root == nullptr || message >= WM_USER) {
        return 0;
    }
    switch (message) {
    case WM_DESTROY:
        hwnd = nullptr;
        return 0;
    case WM_CLOSE:
        root->OnClose();
        EndDialog(hwnd, dialogResult);
        return 0;
    case WM_INITDIALOG:
        SetIcons();
        root->OnCreate();
        MoveTo(Rect{0, 0, dialogWidth_, dialogHeight_});
        CenterOnOwner();
        return 0;
    case WM_GETDLGCODE:
        // Every key comes to the dialog as WM_KEYDOWN: its buttons are drawn, no windows of their own.
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, DLGC_WANTALLKEYS);
        return TRUE;
    default: {
        LRESULT value = 0;
        const Reply reply = OnSharedMessage(message, wParam, lParam, value);
        if (reply == Reply::Value) {
            return static_cast<INT_PTR>(value);
        }
        if (reply == Reply::Swallow) {
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 0);
            return TRUE;  // handled: nothing more happens
        }
        return 0;
    }
    }
}

}  // namespace Quv::UI
