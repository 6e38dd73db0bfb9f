// Dialog units to pixels, shared by every dialog laid out from a template in dialog units.
#pragma once

#include <QRect>

namespace vts::ui {

// Dialog units to pixels with the base units of the dialog's font at 96 DPI (6 x 13):
// x * 3 / 2 and y * 13 / 8, rounded as the system's MulDiv rounds.
int DuToPixelsX(int x);
int DuToPixelsY(int y);
QRect DuToPixels(int x, int y, int w, int h);

}  // namespace vts::ui
