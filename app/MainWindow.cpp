#include "MainWindow.h"

#include "ButtonSkins.h"
#include "RepairController.h"
#include "RepairEvents.h"
#include "ResourceIds.h"

#include "ButtonControl.h"
#include "CaptionControl.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "ProgressControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

#include <memory>

using namespace Quv::UI;

const wchar_t kMainWindowTitle[] = L"Lumora修复工具";

namespace {

constexpr int32_t kWidth = 548;
constexpr int32_t kHeight = 300;

TextControl* AddLabel(WindowRoot& root, ControlBase* parent, const char* name, const wchar_t* text, Rect at)
{
    TextControl* label = root.CreateTextControl(parent, name);
    label->SetText(text);
    label->SetAlignment(kAlignNear, kAlignCenter);
    label->SetPosition(at.left, at.top, at.right, at.bottom);
    return label;
}

ButtonControl* AddButton(WindowRoot& root, ControlBase* parent, const char* name, const ButtonSkin& skin,
                         const wchar_t* text, Rect at, ClickHandler onClick)
{
    ButtonControl* button = root.CreateButtonControl(parent, name);
    SetSkin(*button, skin);
    if (text != nullptr) {
        button->SetText(text);
    }
    button->AddClickHandler(std::move(onClick));
    button->SetPosition(at.left, at.top, at.right, at.bottom);
    return button;
}

}  // namespace

std::unique_ptr<MainWindow> BuildMainWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->host = std::make_unique<HostWnd>();
    window->root = std::make_unique<WindowRoot>();
    HostWnd* host = window->host.get();
    WindowRoot* root = window->root.get();
    host->root = root;
    host->iconId = IDI_APP_ICON;
    root->owner = host;

    MainWindowParts& parts = window->parts;
    parts.host = host;
    parts.root = root;
    window->controller = std::make_unique<RepairController>(parts);
    RepairController& controller = *window->controller;

    ImageControl* background = root->CreateImageControl(nullptr, "bkg");
    background->SetImage(IDB_MAIN_BACKGROUND);
    background->SetPosition(0, 0, kWidth, kHeight);
    CaptionControl* caption = root->CreateCaptionControl(background);
    caption->SetPosition(0, 0, kWidth, kHeight);
    ImageControl* icon = root->CreateImageControl(caption, "icon");
    icon->SetImage(IDB_TITLE_EMBLEM);
    icon->SetPosition(15, 13, 31, 29);
    AddLabel(*root, caption, "title", kMainWindowTitle, Rect{33, 8, 183, 33});

    // Tab visits the field and the buttons below it, not the caption's glyphs.
    AddButton(*root, caption, "min", kMinimizeGlyph, nullptr, Rect{493, 12, 509, 28},
              [&controller] { controller.OnMinimizeClicked(); })->tabStop = false;
    AddButton(*root, caption, "close", kCloseGlyph, nullptr, Rect{519, 12, 535, 28},
              [&controller] { controller.OnCloseClicked(); })->tabStop = false;
    AddLabel(*root, caption, "path_tips", L"游戏路径: ", Rect{73, 113, 143, 141});
    ImageControl* field = root->CreateImageControl(caption, "edit_bkg");
    field->SetImage(IDB_FOLDER_FIELD);
    field->SetPosition(134, 113, 404, 141);
    parts.folderEdit = root->CreateEditControl(field);
    parts.folderEdit->SetPosition(2, 2, 266, 26);
    parts.browseButton = AddButton(*root, caption, "btn_sure", kSmallButton, L"浏览", Rect{410, 113, 472, 141},
                                   [&controller] { controller.OnBrowseClicked(); });
    AddLabel(*root, caption, "progress_tips", L"修复进度: ", Rect{73, 145, 143, 173});
    parts.progressBar = root->CreateProgressControl(caption);
    parts.progressBar->LoadImages(IDB_PROGRESS_TRACK, IDB_PROGRESS_FILL);
    parts.progressBar->SetPosition(134, 152, 472, 166);
    parts.statusText = root->CreateTextControl(caption, "progress_tips");
    parts.statusText->SetText(L"修复之前请先退出VNK游戏、大厅");
    parts.statusText->SetColor(kStatusYellow);
    parts.statusText->SetPosition(0, 168, kWidth, 196);
    parts.repairButton = AddButton(*root, caption, "btn_sure", kLargeButton, L"修复", Rect{179, 210, 269, 257},
                                   [&controller] { controller.OnRepairClicked(); });
    ButtonControl* closeButton = AddButton(*root, caption, "btn_cancel", kLargeButton, L"关闭",
                                           Rect{279, 210, 369, 257}, [&controller] { controller.OnCloseClicked(); });
    // Enter presses 修复; Alt+F4 closes as 关闭 does: the worker stopped, the report sent.
    root->keyboard.defaultButton = parts.repairButton;
    root->keyboard.closeButton = closeButton;

    parts.folderEdit->AddChangeHandler([&controller] { controller.OnFolderTextChanged(); });
    root->AddCreateHandler([&controller] { controller.OnMainWindowCreated(); });
    host->AddMessageHandler(WM_REPAIR_EVENT,
                            [&controller](uint32_t code, int32_t param) { controller.OnRepairEvent(code, param); });
    host->AddMessageHandler(WM_TIMER, [&controller](uint32_t id, int32_t) { controller.OnTimer(id); });
    return window;
}

bool MainWindow::Create()
{
    if (!host->Create(kMainWindowTitle, kWidth, kHeight)) {
        return false;
    }
    host->Show(true);
    root->keyboard.Focus(parts.folderEdit);
    return true;
}

MainWindow::~MainWindow()
{
    // The host lets go of the tree, the tree hears that it closes, and both go.
    if (host != nullptr) {
        host->root = nullptr;
    }
    if (root != nullptr) {
        root->OnClose();
    }
    host.reset();
    root.reset();
}

int RunMainWindow()
{
    const std::unique_ptr<MainWindow> window = BuildMainWindow();
    if (!window->Create()) {
        return 1;  // no window could ever end a message loop
    }

    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    return static_cast<int>(msg.wParam);
}
