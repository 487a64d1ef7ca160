// The control tree without a window: factories, positions, the hover and press
// walks and their state machine, notification routing, the comparing setters.
#include "ButtonControl.h"
#include "CaptionControl.h"
#include "EditControl.h"
#include "HostWnd.h"
#include "ImageControl.h"
#include "ProgressControl.h"
#include "TextControl.h"
#include "WindowRoot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quv::UI;

namespace {

// A control that writes every reaction into a shared log.
class Probe : public ControlBase {
public:
    Probe(ControlBase* parent, const std::string& probeName, std::vector<std::string>& sink, bool hover = true,
          bool click = true)
        : ControlBase(parent, probeName), log(sink)
    {
        hoverEnabled = hover;
        clickEnabled = click;
        parent->AddChild(std::unique_ptr<ControlBase>(this));  // the parent owns it
        windowRoot = parent->windowRoot;
    }
    void OnMouseEnter(Point) override { log.push_back(name + ".enter"); }
    void OnMouseLeave() override { log.push_back(name + ".leave"); }
    void OnLButtonDown(Point) override { log.push_back(name + ".down"); }
    void OnLButtonUp() override { log.push_back(name + ".up"); }
    void OnCommand(WPARAM, LPARAM) override { log.push_back(name + ".command"); }

    std::vector<std::string>& log;
};

class ControlTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        background = root.CreateImageControl(nullptr, "bkg");
        background->SetPosition(0, 0, 548, 300);
    }
    Probe* AddProbe(const char* probeName, Rect r, bool hover = true, bool click = true)
    {
        auto* probe = new Probe(background, probeName, log, hover, click);
        probe->SetPosition(r.left, r.top, r.right, r.bottom);
        return probe;
    }
    void Click(Point at)
    {
        root.rootControl->DispatchPress(at);
        root.OnLButtonUp(at);
    }

    WindowRoot root;
    ImageControl* background = nullptr;
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TEST_F(ControlTreeTest, FactoriesMakeOneRootAndSetNamesAndFlags)
{
    EXPECT_EQ(root.rootControl.get(), background);
    EXPECT_EQ(root.CreateTextControl(nullptr, "second root"), nullptr);
    CaptionControl* caption = root.CreateCaptionControl(background);
    EditControl* edit = root.CreateEditControl(caption);
    ProgressControl* progress = root.CreateProgressControl(caption);
    ButtonControl* button = root.CreateButtonControl(caption, "btn_sure");
    TextControl* text = root.CreateTextControl(caption, "title");
    EXPECT_EQ(caption->name, "capton");
    EXPECT_EQ(edit->name, "edit");
    EXPECT_EQ(progress->name, "progress");
    EXPECT_EQ(button->name, "btn_sure");
    EXPECT_TRUE(caption->clickEnabled && !caption->hoverEnabled);
    EXPECT_TRUE(button->clickEnabled && button->hoverEnabled);
    for (ControlBase* passive : {static_cast<ControlBase*>(background), static_cast<ControlBase*>(edit),
                                 static_cast<ControlBase*>(progress), static_cast<ControlBase*>(text)}) {
        EXPECT_FALSE(passive->clickEnabled || passive->hoverEnabled) << passive->name;
        EXPECT_EQ(passive->windowRoot, &root);
    }
    std::vector<ControlBase*> children;
    for (const std::unique_ptr<ControlBase>& child : caption->children) {
        children.push_back(child.get());
    }
    EXPECT_EQ(children, (std::vector<ControlBase*>{edit, progress, button, text}));
    EXPECT_EQ(edit->childId, -1);
    EXPECT_EQ(text->color, 0xFFFFFFu);
    EXPECT_EQ(button->state, Normal);
}

TEST_F(ControlTreeTest, PositionsAreRelativeToTheParentAsItIsAtThatMoment)
{
    ImageControl* field = root.CreateImageControl(background, "edit_bkg");
    field->SetPosition(134, 113, 404, 141);
    EditControl* edit = root.CreateEditControl(field);
    edit->SetPosition(2, 2, 266, 26);
    EXPECT_EQ(edit->rect.left, 136);
    EXPECT_EQ(edit->rect.top, 115);
    EXPECT_EQ(edit->rect.right, 400);
    EXPECT_EQ(edit->rect.bottom, 139);
    field->SetPosition(0, 0, 10, 10);
    EXPECT_EQ(edit->rect.left, 136) << "children don't move with their parent";
}

TEST_F(ControlTreeTest, LeftAndTopEdgesAreInsideRightAndBottomOutside)
{
    AddProbe("a", {10, 10, 20, 20});
    EXPECT_TRUE(root.rootControl->DispatchPress({10, 10}));
    EXPECT_TRUE(root.rootControl->DispatchPress({19, 19}));
    EXPECT_FALSE(root.rootControl->DispatchPress({20, 15}));
    EXPECT_FALSE(root.rootControl->DispatchPress({15, 20}));
    EXPECT_FALSE(root.rootControl->DispatchPress({9, 15}));
}

TEST_F(ControlTreeTest, TheEarlierOfTwoOverlappingSiblingsTakesPressAndRelease)
{
    Probe* first = AddProbe("first", {0, 0, 50, 50});
    AddProbe("second", {25, 25, 75, 75});
    Click({30, 30});
    EXPECT_EQ(log, (Log{"first.down", "first.up"}));
    EXPECT_FALSE(first->pressed);
    EXPECT_EQ(root.pressedControl, nullptr);
    log.clear();
    Click({60, 60});
    EXPECT_EQ(log, (Log{"second.down", "second.up"}));
}

TEST_F(ControlTreeTest, PressAndReleaseOnDifferentControlsCallNothing)
{
    Probe* a = AddProbe("a", {0, 0, 50, 50});
    AddProbe("b", {100, 0, 150, 50});
    root.rootControl->DispatchPress({10, 10});
    root.OnLButtonUp({110, 10});
    EXPECT_EQ(log, (Log{"a.down"}));
    EXPECT_FALSE(a->pressed);
    EXPECT_EQ(root.pressedControl, nullptr);
    log.clear();
    root.rootControl->DispatchPress({300, 200});  // on nothing
    root.OnLButtonUp({10, 10});
    EXPECT_TRUE(log.empty()) << "a release without a press on the control is consumed silently";
}

TEST_F(ControlTreeTest, HoverFollowsThePointerButNotWhileTheButtonIsHeld)
{
    Probe* a = AddProbe("a", {0, 0, 50, 50});
    root.OnMouseMove({10, 10}, MK_LBUTTON);
    EXPECT_TRUE(log.empty());
    root.OnMouseMove({10, 10}, 0);
    EXPECT_EQ(log, (Log{"a.enter"}));
    EXPECT_EQ(root.hoverControl, a);
    root.OnMouseMove({200, 200}, MK_LBUTTON);
    EXPECT_EQ(log, (Log{"a.enter"})) << "no leave while the button is held";
    root.OnMouseMove({200, 200}, 0);
    EXPECT_EQ(log, (Log{"a.enter", "a.leave"}));
    EXPECT_EQ(root.hoverControl, nullptr);
}

TEST_F(ControlTreeTest, TheHoverControlKeepsTheHoverOverAnOverlappingControl)
{
    AddProbe("a", {0, 0, 50, 50});
    Probe* b = AddProbe("b", {25, 25, 75, 75});
    root.OnMouseMove({10, 10}, 0);
    root.OnMouseMove({30, 30}, 0);
    EXPECT_EQ(log, (Log{"a.enter"}));
    root.OnMouseMove({60, 60}, 0);
    EXPECT_EQ(log, (Log{"a.enter", "a.leave", "b.enter"}));
    EXPECT_EQ(root.hoverControl, b);
    root.OnMouseLeave();
    EXPECT_EQ(log.back(), "b.leave");
    EXPECT_FALSE(b->hovered);
}

TEST_F(ControlTreeTest, DeletingTheHoverControlClearsIt)
{
    Probe* a = AddProbe("a", {0, 0, 50, 50});
    root.OnMouseMove({10, 10}, 0);
    ASSERT_EQ(root.hoverControl, a);
    background->children.clear();  // deletes a
    EXPECT_EQ(root.hoverControl, nullptr);
    root.OnMouseMove({12, 12}, 0);  // nothing left to reach
}

TEST_F(ControlTreeTest, ButtonsClickOnlyWhenEnabledAndRepaintOnlyWhenEnabled)
{
    ButtonControl* button = root.CreateButtonControl(background, "btn_sure");
    button->SetPosition(179, 210, 269, 257);
    int clicks = 0;
    button->AddClickHandler([&clicks] { ++clicks; });
    button->AddClickHandler([&clicks] { clicks += 10; });
    root.OnMouseMove({200, 220}, 0);
    EXPECT_EQ(button->state, Hover);
    Click({200, 220});
    EXPECT_EQ(clicks, 11) << "both handlers, in order";
    EXPECT_EQ(button->state, Hover);

    button->SetEnabled(false);
    root.dirty = false;
    button->needsRedraw = false;
    root.OnMouseMove({10, 10}, 0);
    root.OnMouseMove({200, 220}, 0);
    Click({200, 220});
    EXPECT_EQ(clicks, 11) << "a disabled button calls nothing";
    EXPECT_EQ(button->state, Hover) << "but keeps following the pointer";
    EXPECT_FALSE(root.dirty) << "without repainting";
    button->SetEnabled(false);
    EXPECT_FALSE(root.dirty) << "the same value changes nothing";
}

TEST_F(ControlTreeTest, AButtonReleasedOutsideStaysPressedUntilThePointerMoves)
{
    ButtonControl* button = root.CreateButtonControl(background, "b");
    button->SetPosition(0, 0, 50, 50);
    int clicks = 0;
    button->AddClickHandler([&clicks] { ++clicks; });
    root.OnMouseMove({10, 10}, 0);
    root.rootControl->DispatchPress({10, 10});
    root.OnMouseMove({300, 200}, MK_LBUTTON);
    root.OnLButtonUp({300, 200});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(button->state, Pressed);
    root.OnMouseMove({300, 200}, 0);
    EXPECT_EQ(button->state, Normal);
}

TEST_F(ControlTreeTest, ACaptionPressAsksTheHostForADragAndIsNoClick)
{
    HostWnd host;
    root.owner = &host;
    CaptionControl* caption = root.CreateCaptionControl(background);
    caption->SetPosition(0, 0, 548, 300);
    ButtonControl* button = root.CreateButtonControl(caption, "close");
    button->SetPosition(519, 12, 535, 28);
    root.rootControl->DispatchPress({520, 13});
    EXPECT_FALSE(host.dragPending) << "a press on a button never drags";
    root.OnLButtonUp({520, 13});
    root.rootControl->DispatchPress({100, 100});
    EXPECT_TRUE(host.dragPending);
    EXPECT_EQ(root.pressedControl, nullptr);
    root.owner = nullptr;
}

TEST_F(ControlTreeTest, CommandsReachTheRegisteredChildOnly)
{
    EditControl* edit = root.CreateEditControl(background);
    root.childControls[23] = edit;
    int changes = 0;
    edit->AddChangeHandler([&changes] { ++changes; });
    root.OnCommand(23, MAKEWPARAM(23, EN_CHANGE), 0);
    root.OnCommand(23, MAKEWPARAM(23, EN_SETFOCUS), 0);
    root.OnCommand(24, MAKEWPARAM(24, EN_CHANGE), 0);
    EXPECT_EQ(changes, 1);
    std::wstring text = L"kept";
    EXPECT_FALSE(edit->GetText(text)) << "no native window yet";
    EXPECT_EQ(text, L"kept");
    edit->SetEditable(false);
    EXPECT_TRUE(edit->editable) << "nothing to make read-only yet";
}

TEST_F(ControlTreeTest, SettersCompareFirstExceptTheAlignment)
{
    TextControl* text = root.CreateTextControl(background, "status");
    ProgressControl* progress = root.CreateProgressControl(background);
    text->SetText(L"修复完成");
    root.dirty = false;
    text->SetText(L"修复完成");
    text->SetColor(0xFFFFFF);
    EXPECT_FALSE(root.dirty);
    text->SetAlignment(kAlignCenter, kAlignCenter);
    EXPECT_TRUE(root.dirty) << "the alignment always repaints";

    progress->SetPercent(250);
    EXPECT_EQ(progress->percent, 100u);
    root.dirty = false;
    progress->SetPercent(100);
    progress->SetPercent(4000000000u);
    EXPECT_FALSE(root.dirty);
}

}  // namespace

// The keyboard without a window: Tab visits the enabled buttons that are tab
// stops, in the tree's order and round; Enter presses the focused button or
// the default one, Esc the cancel one, Space the focused one; a disabled
// button is never pressed.
namespace {

TEST(KeyboardFocusTest, TabEnterEscAndSpaceFollowTheButtonsThatCanBePressed)
{
    WindowRoot root;
    ImageControl* background = root.CreateImageControl(nullptr, "bkg");
    std::vector<std::string> pressed;
    const auto add = [&](const char* name) {
        ButtonControl* button = root.CreateButtonControl(background, name);
        button->AddClickHandler([&pressed, name] { pressed.push_back(name); });
        return button;
    };
    ButtonControl* glyph = add("glyph");
    ButtonControl* browse = add("browse");
    ButtonControl* repair = add("repair");
    ButtonControl* close = add("close");
    glyph->tabStop = false;
    root.keyboard.defaultButton = repair;
    root.keyboard.cancelButton = glyph;

    EXPECT_EQ(root.keyboard.TabOrder(), (std::vector<ControlBase*>{browse, repair, close}));
    root.keyboard.Focus(browse);
    EXPECT_FALSE(root.keyboard.ShowsMarkOn(browse)) << "no mark until the keyboard moves the focus";
    root.keyboard.Focus(nullptr);
    const struct {
        UINT key;
        bool taken;
        const char* focusedAfter;  // null: none
        std::vector<std::string> pressedAfter;
    } steps[] = {
        {VK_RETURN, true, nullptr, {"repair"}},               // nothing focused: the default button
        {VK_SPACE, false, nullptr, {"repair"}},                // nothing to press: the key goes on
        {VK_TAB, true, "browse", {"repair"}},
        {VK_TAB, true, "repair", {"repair"}},
        {VK_SPACE, true, "repair", {"repair", "repair"}},
        {VK_TAB, true, "close", {"repair", "repair"}},
        {VK_RETURN, true, "close", {"repair", "repair", "close"}},  // the focused button before the default
        {VK_TAB, true, "browse", {"repair", "repair", "close"}},    // round
        {VK_ESCAPE, true, "browse", {"repair", "repair", "close", "glyph"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        EXPECT_EQ(root.keyboard.OnKey(step.key), step.taken);
        ControlBase* focused = root.keyboard.Focused();
        EXPECT_EQ(focused == nullptr ? std::string() : focused->name,
                  step.focusedAfter == nullptr ? std::string() : step.focusedAfter);
        EXPECT_EQ(pressed, step.pressedAfter);
        EXPECT_EQ(root.keyboard.ShowsMarkOn(focused), step.key == VK_TAB || focused != nullptr);
    }
    // A disabled button drops out of the order and is not pressed by Enter.
    repair->SetEnabled(false);
    EXPECT_EQ(root.keyboard.TabOrder(), (std::vector<ControlBase*>{browse, close}));
    root.keyboard.Focus(nullptr);
    root.keyboard.OnKey(VK_RETURN);
    EXPECT_EQ(pressed.size(), 4u);
}

}  // namespace
