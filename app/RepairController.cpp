#include "RepairController.h"

#include "AppState.h"
#include "MessageDialogs.h"
#include "RepairEngine.h"

#include "DiagnosticsLog.h"

#include "ButtonControl.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ProgressControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

#include <shlobj.h>

#include <cwchar>

namespace {

const wchar_t kFolderRejected[] = L"当前不是一个合法的VNK安装路径，例如\"C:\\Program Files\\Qelvan游戏\\Varnok\"";
const wchar_t kBrowseTitle[] = L"请选择\"Varnok\"安装路径";

// Status texts are formatted into buffers of this many characters.
constexpr size_t kStatusChars = 64;

// The outcome codes in the log's words.
std::wstring OutcomeName(int32_t outcome)
{
    switch (outcome) {
    case Outcome::ConfigDownloadFailed: return L"the configuration could not be downloaded";
    case Outcome::ConfigInvalid: return L"the configuration is not usable";
    case Outcome::PackageDownloadFailed: return L"the package could not be downloaded";
    case Outcome::ExtractionFailed: return L"the package could not be unpacked";
    case Outcome::Repaired: return L"repair complete";
    default: return L"";
    }
}

// The last part of a path: what the player can find in the game folder.
std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

void LogOutcome(int32_t outcome, const std::wstring& what)
{
    Log(L"outcome: status " + Num(static_cast<uint32_t>(outcome)) + L", " + what);
}

}  // namespace

std::wstring RepairController::FolderText() const
{
    std::wstring folder;  // an empty field, or no field, reads as empty
    ui_.folderEdit->GetText(folder);
    return folder;
}

void RepairController::SetStatus(COLORREF color, const std::wstring& text)
{
    ui_.statusText->SetColor(color);
    ui_.statusText->SetText(text);
}

void RepairController::Lock()
{
    ui_.statusText->SetText(L"");
    ui_.repairButton->SetEnabled(false);
    ui_.folderEdit->SetEditable(false);
    ui_.browseButton->SetEnabled(false);
}

void RepairController::Unlock()
{
    if (ui_.folderEdit->editHwnd != nullptr && !ui_.folderEdit->editable) {
        ui_.folderEdit->SetEditable(true);
    }
    ui_.browseButton->SetEnabled(true);
    ui_.repairButton->SetEnabled(true);
}

void RepairController::EndRun(COLORREF color, const wchar_t* text, int32_t outcome)
{
    phase_ = Phase::Idle;
    LogOutcome(outcome, OutcomeName(outcome));
    SetStatus(color, text);
    ShowInfoDialog(ui_.host->hwnd, text);
    Unlock();
    StatusCode = outcome;
}

void RepairController::OnMainWindowCreated()
{
    ui_.folderEdit->Create(ui_.host->hwnd, FolderEditId);
    ui_.root->childControls[FolderEditId] = ui_.folderEdit;
    RepairEngine& engine = RepairEngine::Instance();
    std::wstring folder;
    if (!engine.FindInstallFolder(folder)) {
        return;
    }
    if (folder.empty()) {
        ui_.repairButton->SetEnabled(false);
        return;
    }
    if (ui_.folderEdit->editHwnd != nullptr) {
        SetWindowTextW(ui_.folderEdit->editHwnd, folder.c_str());  // runs OnFolderTextChanged
    }
    // A repair of this folder that a crash cut short is undone before the
    // player can start another; the window shows what became of it.
    phase_ = Phase::Recovery;
    Lock();
    if (!engine.StartRecoveryWorker(ui_.host->hwnd, folder)) {
        phase_ = Phase::Idle;
        Unlock();
    }
}

void RepairController::OnRecoveryEnded(int32_t outcome)
{
    // Nothing cut short: nothing to say.
    static const struct {
        int32_t outcome;
        COLORREF color;
        const wchar_t* text;
    } kShown[] = {
        {RecoveryRolledBack, kStatusYellow, L"上次中断的修复已撤销,文件已恢复原样"},
        {RecoveryCompleted, kStatusYellow, L"上次的修复已完成"},
        {RecoveryUnreadable, kStatusRed, L"游戏目录中的修复记录无法读取,请联系客服"},
        {RecoveryFailed, kStatusRed, L"上次中断的修复未能撤销,请重新启动本工具"},
    };
    phase_ = Phase::Idle;
    Unlock();
    for (const auto& shown : kShown) {
        if (shown.outcome == outcome) {
            SetStatus(shown.color, shown.text);
        }
    }
}

void RepairController::OnFolderTextChanged()
{
    ui_.repairButton->SetEnabled(!FolderText().empty());
}

void RepairController::OnBrowseClicked()
{
    wchar_t path[MAX_PATH] = {};
    BROWSEINFOW browse = {};
    browse.hwndOwner = ui_.host->hwnd;
    browse.pszDisplayName = path;
    browse.lpszTitle = kBrowseTitle;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) {
        return;
    }
    const bool converted = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (!converted || path[0] == L'\0' || ui_.folderEdit->editHwnd == nullptr) {
        return;
    }
    Log(L"game folder chosen by browsing: " + std::wstring(path));
    SetWindowTextW(ui_.folderEdit->editHwnd, path);  // validated only by Repair
}

void RepairController::OnRepairClicked()
{
    RepairEngine& engine = RepairEngine::Instance();
    const std::wstring folder = FolderText();
    if (!engine.IsInstallFolder(folder)) {
        LogOutcome(Outcome::FolderRejected, L"no Cross folder in \"" + folder + L"\"");
        ShowInfoDialog(ui_.host->hwnd, kFolderRejected);
        StatusCode = Outcome::FolderRejected;
        return;
    }
    Log(L"repair started for " + folder);
    StatusCode = Outcome::Started;
    phase_ = Phase::Configuration;
    engine.StartConfigWorker(ui_.host->hwnd);
    Lock();
}

void RepairController::OnDownloadProgress(int32_t param)
{
    const uint32_t received = UnpackDownloadProgress(param);
    // Of the package, or of what a repair of the damaged files only fetches.
    const uint64_t total = RepairEngine::Instance().ProgressTotal();
    const uint32_t percent = total == 0 ? 0 : static_cast<uint32_t>(uint64_t(received) * 100 / total);
    const DWORD now = GetTickCount();
    estimate_.Add(received, total, now);
    received_ = received;
    total_ = total;
    SetStatus(kStatusCyan, DownloadLineText(received, total, estimate_.SecondsLeft(now)));
    ui_.progressBar->SetPercent(percent);  // capped at 100; the text shows the truth
    // Without bytes for a while (a retry, a stall), the line drops its estimate.
    if (HWND window = LiveWindow()) {
        SetTimer(window, kQuietDownloadTimer, DownloadEstimate::kQuietMs, nullptr);
    }
}

void RepairController::OnTimer(uintptr_t id)
{
    if (id != kQuietDownloadTimer) {
        return;
    }
    if (HWND window = LiveWindow()) {
        KillTimer(window, kQuietDownloadTimer);
    }
    // Only a download line is redrawn: the download may have ended meanwhile.
    if (phase_ == Phase::Package && ui_.statusText->text.rfind(L"正在下载", 0) == 0) {
        SetStatus(kStatusCyan, DownloadLineText(received_, total_, estimate_.SecondsLeft(GetTickCount())));
    }
}

void RepairController::StartPackageWorker(const std::wstring& folder)
{
    estimate_.Reset();
    StatusCode = Outcome::Started;
    phase_ = Phase::Package;
    RepairEngine::Instance().StartPackageWorker(folder);
}

void RepairController::OnConfigLoaded()
{
    SetStatus(kStatusCyan, L"配置加载完成");
    RepairEngine& engine = RepairEngine::Instance();
    const std::wstring tips = engine.Notice();
    if (!tips.empty()) {
        Log(L"the configuration's notice is shown instead of a repair");
        ShowInfoDialog(ui_.host->hwnd, tips);
        Unlock();
        return;
    }
    const std::wstring folder = FolderText();
    std::wstring process;
    for (;;) {
        if (engine.CheckProcesses(folder, process)) {
            StartPackageWorker(folder);
            return;  // the controls stay locked while the package worker runs
        }
        StatusCode = Outcome::ProgramStillRunning;
        SetStatus(kStatusRed, L"检测到程序没有退出");
        if (ShowProcessDialog(ui_.host->hwnd, process) != 1) {
            LogOutcome(Outcome::ProgramStillRunning, L"the player cancelled while " + process + L" runs");
            Unlock();
            return;
        }
        Log(L"the player asked to check the programs again");
    }
}

bool RepairController::Expects(uint32_t code) const
{
    switch (code) {
    case FileHeld:
        return phase_ != Phase::Idle;
    case RecoveryEnded:
        return phase_ == Phase::Recovery;
    case ConfigDownloadFailed:
    case ConfigParseFailed:
    case ConfigLoaded:
        return phase_ == Phase::Configuration;
    case ScanProgress:
    case DownloadProgress:
    case PackageDownloadFailed:
    case PackageDownloaded:
    case ExtractionFailed:
    case ExtractionSucceeded:
    case ExtractionProgress:
        return phase_ == Phase::Package;
    default:
        return false;
    }
}

void RepairController::OnRepairEvent(uint32_t code, int32_t param)
{
    // Only what our own engine posted for the step under way is acted on: any
    // program on the desktop can post this message.
    if (!RepairEngine::Instance().TakeEvent(code, param) || !Expects(code)) {
        Log(L"ignored a repair event (" + Num(code) + L") that the repair under way did not post");
        return;
    }
    switch (code) {
    case ConfigDownloadFailed:
        EndFailedRun(L"下载配置失败", Outcome::ConfigDownloadFailed);
        break;
    case ConfigParseFailed:
        EndRun(kStatusRed, L"解析配置失败", Outcome::ConfigInvalid);
        break;
    case ConfigLoaded:
        phase_ = Phase::Idle;  // until the package worker starts
        OnConfigLoaded();
        break;
    case DownloadProgress:
        OnDownloadProgress(param);
        break;
    case PackageDownloadFailed:
        EndFailedRun(L"下载安装包失败", Outcome::PackageDownloadFailed);
        break;
    case PackageDownloaded:
        SetStatus(kStatusCyan, L"安装包下载完成");
        break;
    case ExtractionFailed:
        EndFailedRun(L"释放安装包失败", Outcome::ExtractionFailed);
        break;
    case ExtractionSucceeded:
        EndRun(kStatusYellow, L"修复完成", Outcome::Repaired);
        break;
    case ExtractionProgress:
        ShowCount(L"正在释放文件(%d/%d)...", param);
        break;
    case ScanProgress:
        ShowCount(L"正在检查文件(%d/%d)...", param);
        break;
    case FileHeld:
        OnFileHeld(param != 0);
        break;
    case RecoveryEnded:
        OnRecoveryEnded(param);
        break;
    default:
        break;
    }
}

void RepairController::OnFileHeld(bool held)
{
    if (!held) {
        SetStatus(colorBeforeHold_, statusBeforeHold_);
        return;
    }
    const std::wstring path = RepairEngine::Instance().FileHeldNow();
    if (path.empty()) {
        return;  // let go meanwhile
    }
    statusBeforeHold_ = ui_.statusText->text;
    colorBeforeHold_ = ui_.statusText->color;
    SetStatus(kStatusCyan, L"文件被其他程序占用,正在等待: " + FileNameOf(path));
}

void RepairController::EndFailedRun(const wchar_t* text, int32_t outcome)
{
    // The status code stays the step's; the player is told the cause.
    if (RepairEngine::Instance().ProxyWantsLogin()) {
        EndRun(kStatusRed, L"代理服务器需要登录,请检查网络设置", outcome);
        return;
    }
    const std::wstring held = RepairEngine::Instance().FileThatStayedHeld();
    if (held.empty()) {
        EndRun(kStatusRed, text, outcome);
        return;
    }
    Log(L"the run ended because another program held " + held);
    EndRun(kStatusRed, (L"文件被其他程序占用: " + FileNameOf(held)).c_str(), outcome);
}

void RepairController::ShowCount(const wchar_t* format, int32_t param)
{
    int32_t done = 0;
    int32_t count = 0;
    UnpackExtractionProgress(param, done, count);
    wchar_t text[kStatusChars];
    swprintf(text, kStatusChars, format, static_cast<int>(done), static_cast<int>(count));
    SetStatus(kStatusCyan, text);
}

HWND RepairController::LiveWindow() const
{
    return Quv::UI::LiveWindowOf(ui_.root->owner);  // the root forgets its owner once the window has closed
}

void RepairController::OnCloseClicked()
{
    if (HWND window = LiveWindow()) {
        SendMessageW(window, WM_CLOSE, 0, 0);  // gone before this returns
    }
    RepairEngine::Instance().Shutdown();
}

void RepairController::OnMinimizeClicked()
{
    if (HWND window = LiveWindow()) {
        ShowWindow(window, SW_MINIMIZE);
        UpdateWindow(window);
    }
}
