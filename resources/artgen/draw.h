// Drawing of every generated bitmap: skins, background, LED digits, slider, light, icon.
#pragma once

#include <QImage>

#include "skin_table.h"

namespace vts::artgen {

// The colour that keyed (24-bit) skins use for "transparent": their top-left pixel.
inline constexpr QRgb kKeyColour = 0xFFFF00FF;

QImage DrawSkin(const SkinSpec& spec, bool down);
QImage DrawBackground();   // 516 x 470
QImage DrawLedDigits();    // 320 x 40, digit d at x = 32 d
QImage DrawLedLight();     // 20 x 20, keyed
QImage DrawSliderBody();   // 27 x 91
QImage DrawSliderTip();    // 12 x 12
QImage DrawIcon(int size);

}  // namespace vts::artgen
