#include "MessageDialogs.h"

#include "ButtonSkins.h"
#include "ButtonControl.h"
#include "CaptionControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

using namespace Quv::UI;

namespace {

// The dialogs' size: their skin image's.
constexpr int32_t kDialogWidth = 347;
constexpr int32_t kDialogHeight = 209;

// One dialog: window, root and controls live for the call only.
class MessageDialog {
public:
    explicit MessageDialog(const std::wstring& message)
    {
        host_.root = &root_;
        host_.iconId = IDI_APP_ICON;
        root_.owner = &host_;
        ImageControl* background = root_.CreateImageControl(nullptr, "bkg");
        background->SetImage(IDB_DIALOG_BACKGROUND);
        background->SetPosition(0, 0, kDialogWidth, kDialogHeight);
        caption_ = root_.CreateCaptionControl(background);
        caption_->SetPosition(0, 0, kDialogWidth, kDialogHeight);
        TextControl* heading = root_.CreateTextControl(caption_, "title");
        heading->SetText(L"提示");
        heading->SetAlignment(kAlignNear, kAlignCenter);
        heading->SetPosition(12, 8, 162, 36);
        ButtonControl* close = root_.CreateButtonControl(caption_, "close");
        SetSkin(*close, kCloseGlyph);
        close->AddClickHandler(CloseWith(2));
        close->SetPosition(317, 14, 333, 30);
        // Esc and the system's close do what the close button does.
        close->tabStop = false;
        root_.keyboard.cancelButton = close;
        root_.keyboard.closeButton = close;
        TextControl* text = root_.CreateTextControl(caption_, "title");
        text->SetText(message);
        text->SetAlignment(kAlignCenter, kAlignCenter);
        text->SetPosition(50, 50, 297, 129);
    }
    ~MessageDialog()
    {
        host_.root = nullptr;
        root_.OnClose();
    }

    // The first button added is the one Enter presses.
    void AddButton(const char* name, const wchar_t* caption, int32_t result, Rect position)
    {
        ButtonControl* button = root_.CreateButtonControl(caption_, name);
        if (root_.keyboard.defaultButton == nullptr) {
            root_.keyboard.defaultButton = button;
        }
        SetSkin(*button, kLargeButton);
        button->SetText(caption);
        button->AddClickHandler(CloseWith(result));
        button->SetPosition(position.left, position.top, position.right, position.bottom);
    }

    int32_t Run(HWND owner) { return host_.RunModal(owner, IDD_MESSAGE_DIALOG, kDialogWidth, kDialogHeight); }

private:
    ClickHandler CloseWith(int32_t result)
    {
        return [this, result] {
            if (HWND window = LiveWindowOf(root_.owner)) {
                root_.owner->dialogResult = result;
                SendMessageW(window, WM_CLOSE, 0, 0);
            }
        };
    }

    // Destroyed in reverse: the host (its thunk) before the root and the controls.
    WindowRoot root_;
    HostWnd host_;
    CaptionControl* caption_ = nullptr;
};

}  // namespace

int32_t ShowInfoDialog(HWND owner, const std::wstring& text)
{
    MessageDialog dialog(text);
    dialog.AddButton("btn_sure", L"确定", 1, Rect{128, 134, 218, 181});
    return dialog.Run(owner);
}

int32_t ShowProcessDialog(HWND owner, const std::wstring& processName)
{
    MessageDialog dialog(L"检测到进程" + processName + L"还存在，请退出VNK游戏、大厅及相关进程，并重试");
    dialog.AddButton("btn_sure", L"重试", 1, Rect{78, 134, 168, 181});
    dialog.AddButton("btn_cancel", L"取消", 2, Rect{178, 134, 268, 181});
    return dialog.Run(owner);
}
