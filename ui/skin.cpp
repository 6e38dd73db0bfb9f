// Skin loading and drawing shared by the buttons, the sliders, the LED display and the light.
#include "ui/skin.h"

#include <QHash>
#include <map>
#include <memory>
#include <QPainter>
#include <QWidget>

#include "resources/art.h"

namespace vts::ui {

bool BitmapHasAlpha(const QImage& bitmap) {
  if (bitmap.isNull() || bitmap.depth() != 32 || !bitmap.hasAlphaChannel()) return false;
  for (int y = 0; y < bitmap.height(); ++y) {
    const auto* line = reinterpret_cast<const uint32_t*>(bitmap.constScanLine(y));
    for (int x = 0; x < bitmap.width(); ++x)
      if (line[x] > 0x00FFFFFFu) return true;
  }
  return false;
}

bool PremultiplyBitmapAlpha(QImage& bitmap) {
  if (bitmap.isNull() || bitmap.depth() != 32 || !bitmap.hasAlphaChannel()) return false;
  if (bitmap.format() != QImage::Format_ARGB32) bitmap = bitmap.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < bitmap.height(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
    for (int x = 0; x < bitmap.width(); ++x) {
      const uint32_t p = line[x];
      const uint32_t a = p >> 24;
      const uint32_t r = (((p >> 16) & 0xFF) * a) >> 8;
      const uint32_t g = (((p >> 8) & 0xFF) * a) >> 8;
      const uint32_t b = ((p & 0xFF) * a) >> 8;
      line[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  // Same bytes, now read as premultiplied (every colour byte is at most its alpha).
  bitmap.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
}

namespace {

struct SkinCache {
  // Node-based, so references handed out stay valid while more names are loaded.
  std::map<QString, std::unique_ptr<Skin>> loaded;
  QHash<QString, QImage> overrides;
};

SkinCache& Cache() {
  static SkinCache cache;
  return cache;
}

Skin Prepare(QImage image) {
  Skin skin;
  if (image.isNull()) return skin;
  if (image.depth() == 32 && image.hasAlphaChannel() && BitmapHasAlpha(image)) {
    PremultiplyBitmapAlpha(image);
    skin.alpha = true;
  } else {
    image = image.convertToFormat(QImage::Format_RGB32);
  }
  skin.image = image;
  return skin;
}

}  // namespace

const Skin& LoadSkin(const QString& name) {
  SkinCache& cache = Cache();
  auto it = cache.loaded.find(name);
  if (it != cache.loaded.end()) return *it->second;
  QImage image;
  auto o = cache.overrides.find(name);
  if (o != cache.overrides.end()) {
    image = o.value();
  } else {
    res::InitArt();
    image.load(res::ArtPath(name), "PNG");
  }
  auto& slot = cache.loaded[name];
  slot = std::make_unique<Skin>(Prepare(image));
  return *slot;
}

void OverrideSkin(const QString& name, const QImage& image) {
  Cache().overrides.insert(name, image);
  Cache().loaded.erase(name);
}

void ClearSkinOverrides() {
  for (auto it = Cache().overrides.begin(); it != Cache().overrides.end(); ++it)
    Cache().loaded.erase(it.key());
  Cache().overrides.clear();
}

void ComposeOverBackground(QPainter& target, const QImage* background, QPoint origin,
                           const Skin& skin) {
  if (skin.IsNull()) return;
  const int w = skin.image.width(), h = skin.image.height();
  QImage comp(w, h, QImage::Format_ARGB32_Premultiplied);
  if (background) {
    comp = background->copy(origin.x(), origin.y(), w, h)
               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  } else {
    comp.fill(Qt::black);
  }
  if (skin.alpha) {
    QPainter p(&comp);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(0, 0, skin.image);
  } else {
    // Keyed: every pixel of the key colour (the top-left one) lets the background through.
    const uint32_t key = skin.image.pixel(0, 0) & 0x00FFFFFFu;
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const uint32_t*>(skin.image.constScanLine(y));
      auto* dst = reinterpret_cast<uint32_t*>(comp.scanLine(y));
      for (int x = 0; x < w; ++x)
        if ((src[x] & 0x00FFFFFFu) != key) dst[x] = src[x] | 0xFF000000u;
    }
  }
  target.setCompositionMode(QPainter::CompositionMode_Source);
  target.drawImage(0, 0, comp);
  target.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

ISkinHost* SkinHostOf(const QWidget* control) {
  return control ? dynamic_cast<ISkinHost*>(control->parentWidget()) : nullptr;
}

}  // namespace vts::ui
