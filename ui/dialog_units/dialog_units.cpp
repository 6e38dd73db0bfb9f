// Dialog units to pixels.
#include "ui/dialog_units.h"

namespace vts::ui {
namespace {

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

}  // namespace

int DuToPixelsX(int x) { return MulDiv(x, 6, 4); }
int DuToPixelsY(int y) { return MulDiv(y, 13, 8); }

QRect DuToPixels(int x, int y, int w, int h) {
  return QRect(DuToPixelsX(x), DuToPixelsY(y), DuToPixelsX(w), DuToPixelsY(h));
}

}  // namespace vts::ui
