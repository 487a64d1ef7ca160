// The skin images each kind of button of the application is drawn with:
// normal, under the pointer, pressed, disabled.
#pragma once

#include "ButtonControl.h"
#include "ResourceIds.h"

#include <cstdint>

struct ButtonSkin {
    uint16_t normal;
    uint16_t hover;
    uint16_t pressed;
    uint16_t disabled;
};

constexpr ButtonSkin kLargeButton = {IDB_LARGE_BUTTON_NORMAL, IDB_LARGE_BUTTON_HOVER, IDB_LARGE_BUTTON_PRESSED,
                                     IDB_LARGE_BUTTON_DISABLED};
constexpr ButtonSkin kSmallButton = {IDB_SMALL_BUTTON_NORMAL, IDB_SMALL_BUTTON_HOVER, IDB_SMALL_BUTTON_PRESSED,
                                     IDB_SMALL_BUTTON_DISABLED};
// The caption's glyphs are never disabled; their normal look stands in.
constexpr ButtonSkin kCloseGlyph = {IDB_CLOSE_GLYPH_NORMAL, IDB_CLOSE_GLYPH_HOVER, IDB_CLOSE_GLYPH_PRESSED,
                                    IDB_CLOSE_GLYPH_NORMAL};
constexpr ButtonSkin kMinimizeGlyph = {IDB_MINIMIZE_GLYPH_NORMAL, IDB_MINIMIZE_GLYPH_HOVER,
                                       IDB_MINIMIZE_GLYPH_PRESSED, IDB_MINIMIZE_GLYPH_NORMAL};

inline void SetSkin(Quv::UI::ButtonControl& button, const ButtonSkin& skin)
{
    button.SetImages(skin.normal, skin.hover, skin.pressed, skin.disabled);
}
