// Skin bitmaps of the window's controls: the alpha test, premultiplication, a cache by name,
// and the drawing of a skin over the part of the dialog's background under a control.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <cstdint>

class QPainter;
class QWidget;

namespace vts::ui {

// True for a 32-bit image with an alpha channel in which some pixel's alpha is not 0.
// 24-bit skins (no alpha channel) and all-zero alpha count as "no alpha": they are keyed.
bool BitmapHasAlpha(const QImage& bitmap);

// Each colour byte c of a 32-bit pixel with alpha a becomes (c * a) >> 8; alpha stays.
// The image is then tagged premultiplied. False for an image that is not 32-bit with alpha.
bool PremultiplyBitmapAlpha(QImage& bitmap);

// One loaded skin: premultiplied when it carries alpha, else RGB32 drawn keyed on its
// top-left pixel.
struct Skin {
  QImage image;
  bool alpha = false;
  bool IsNull() const { return image.isNull(); }
};

// Loads a bitmap by name from the generated art (or a test's override), once per name.
// GUI thread only.
const Skin& LoadSkin(const QString& name);
// Replaces or adds a bitmap (tests); a null image makes the name missing.
void OverrideSkin(const QString& name, const QImage& image);
void ClearSkinOverrides();

// Draws `skin` over the background picture `background` (the dialog's, in its client
// coordinates) at the control's place `origin`: copy the background under the control,
// blend (alpha) or key (no alpha) the skin over it, paint the result at (0, 0).
void ComposeOverBackground(QPainter& target, const QImage* background, QPoint origin,
                           const Skin& skin);

// The skinned controls' view of the dialog that holds them.
class ISkinHost {
 public:
  static constexpr uint32_t kBackgroundKey = 0x11111111;
  virtual ~ISkinHost() = default;
  // The dialog's background picture when asked with kBackgroundKey, else nullptr.
  virtual const QImage* GetScrollBarCtrl(uint32_t key) const = 0;
  // WM_COMMAND from a control (BN_CLICKED, STN_DBLCLK, EN_CHANGE).
  virtual bool OnCommand(int controlId, int notifyCode) = 0;
  // WM_NOTIFY from a control (NM_RCLICK).
  virtual void OnNotify(int controlId, int code) = 0;
  // WM_VSCROLL from a level slider.
  virtual void OnVScroll(int code, int position, QWidget* slider) = 0;
  // WM_CONTEXTMENU: the window clicked and the point.
  virtual void OnContextMenu(QWidget* window, QPoint point) = 0;
};

// The host of a control: its parent when that is a skin host.
ISkinHost* SkinHostOf(const QWidget* control);

}  // namespace vts::ui
