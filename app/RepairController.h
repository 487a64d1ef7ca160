// The behaviour of the main window: folder validation, the workers, and
// every worker event turned into status text, colour, progress and dialogs.
#pragma once

#include "DownloadLine.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Quv::UI {
class ButtonControl;
class EditControl;
class HostWnd;
class ProgressControl;
class TextControl;
class WindowRoot;
}  // namespace Quv::UI

// Child-window id of the folder field.
constexpr int32_t FolderEditId = 23;

// Status colours (COLORREF).
constexpr COLORREF kStatusRed = 0x0000FF;
constexpr COLORREF kStatusCyan = 0xFFFF00;
constexpr COLORREF kStatusYellow = 0x00FFFF;

// The controls the handlers work on; the main window owns them all.
struct MainWindowParts {
    Quv::UI::HostWnd* host = nullptr;
    Quv::UI::WindowRoot* root = nullptr;
    Quv::UI::EditControl* folderEdit = nullptr;
    Quv::UI::ButtonControl* browseButton = nullptr;
    Quv::UI::ButtonControl* repairButton = nullptr;
    Quv::UI::TextControl* statusText = nullptr;
    Quv::UI::ProgressControl* progressBar = nullptr;
};

class RepairController {
public:
    // `parts` is the window's own set, filled in while the window is built.
    explicit RepairController(const MainWindowParts& parts) : ui_(parts) {}

    void OnMainWindowCreated();
    void OnFolderTextChanged();
    void OnBrowseClicked();
    void OnRepairClicked();
    void OnRepairEvent(uint32_t code, int32_t param);
    void OnCloseClicked();
    void OnMinimizeClicked();
    // The window's timers (WM_TIMER's id).
    void OnTimer(uintptr_t id);
    // The package step of a repair of `folder`, once the configuration is
    // loaded and no listed program runs from it.
    void StartPackageWorker(const std::wstring& folder);

private:
    std::wstring FolderText() const;
    HWND LiveWindow() const;
    void SetStatus(COLORREF color, const std::wstring& text);
    // The closing step of a run: status, a dialog with the same text, unlock, outcome.
    void EndRun(COLORREF color, const wchar_t* text, int32_t outcome);
    void Lock();
    void Unlock();
    void OnConfigLoaded();
    // What became of a repair a crash cut short (a RecoveryOutcome), on the status line.
    void OnRecoveryEnded(int32_t outcome);
    void OnDownloadProgress(int32_t param);
    // A cyan status of two counts, "(done/count)", as the engine packed them.
    void ShowCount(const wchar_t* format, int32_t param);
    // Whether an event of the engine is one the controller waits for now.
    bool Expects(uint32_t code) const;
    // A wait for a file another program holds: shown while it lasts (`held`),
    // then the status line as it was.
    void OnFileHeld(bool held);
    // The closing step of a failed run: its own text, or what held a file.
    void EndFailedRun(const wchar_t* text, int32_t outcome);

    // Which worker's events the controller waits for.
    enum class Phase { Idle, Recovery, Configuration, Package };

    const MainWindowParts& ui_;
    Phase phase_ = Phase::Idle;
    std::wstring statusBeforeHold_;
    COLORREF colorBeforeHold_ = kStatusCyan;
    // The download line's estimate, and the last bytes it showed.
    DownloadEstimate estimate_;
    uint64_t received_ = 0, total_ = 0;
    static constexpr UINT_PTR kQuietDownloadTimer = 1;
};
