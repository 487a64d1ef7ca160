#include "CaptionControl.h"

#include "HostWnd.h"
#include "WindowRoot.h"

namespace Quv::UI {

void CaptionControl::OnLButtonDown(Point)
{
    if (windowRoot == nullptr) {
        return;
    }
    windowRoot->pressedControl = nullptr;  // the coming release is no click
    if (windowRoot->owner != nullptr) {
        windowRoot->owner->dragPending = true;
    }
}

}  // namespace Quv::UI
