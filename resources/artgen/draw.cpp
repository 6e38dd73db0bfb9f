// The look of the recorder: one palette for the whole window, drawn with QPainter.
#include "draw.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "glyphs.h"

namespace vts::artgen {
namespace {

struct FaceColours {
  QColor top;
  QColor bottom;
  QColor border;
  QColor glyph;
};

// The palette. Amber = Master (teacher), blue = Student, red = recording.
const QColor kMasterTop(0xf6, 0xb2, 0x5a), kMasterBottom(0xcf, 0x77, 0x1c);
const QColor kStudentTop(0x5c, 0xa4, 0xee), kStudentBottom(0x1f, 0x5f, 0xb0);
const QColor kRecordTop(0xf2, 0x63, 0x5f), kRecordBottom(0xbd, 0x22, 0x2b);
const QColor kPanelLight(0xe9, 0xee, 0xf2);
const QColor kInkDark(0x2a, 0x36, 0x43);

FaceColours Colours(Face face) {
  switch (face) {
    case Face::Master:
      return {kMasterTop, kMasterBottom, QColor(0x7e, 0x45, 0x0c), Qt::white};
    case Face::Student:
      return {kStudentTop, kStudentBottom, QColor(0x12, 0x3a, 0x6e), Qt::white};
    case Face::Record:
      return {kRecordTop, kRecordBottom, QColor(0x6e, 0x0f, 0x16), Qt::white};
    case Face::Neutral:
      return {QColor(0xf7, 0xf9, 0xfb), QColor(0xc8, 0xd1, 0xdb), QColor(0x6b, 0x78, 0x86),
              kInkDark};
    case Face::Dark:
    case Face::SplitMasterStudent:
    case Face::SplitMasterRecord:
      break;
  }
  return {QColor(0x55, 0x62, 0x70), QColor(0x30, 0x39, 0x43), QColor(0x16, 0x1b, 0x21),
          QColor(0xe8, 0xee, 0xf3)};
}

QPainterPath ShapePath(Shape shape, const QRectF& r) {
  QPainterPath p;
  if (shape == Shape::Round) {
    const qreal d = std::min(r.width(), r.height());
    p.addEllipse(QRectF(r.center().x() - d / 2, r.center().y() - d / 2, d, d));
  } else {
    const qreal radius = std::min(r.height() * 0.3, 8.0);
    p.addRoundedRect(r, radius, radius);
  }
  return p;
}

void FillFace(QPainter& p, const QPainterPath& shape, const QRectF& r, const FaceColours& c,
              bool down) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  if (down) {
    // Pressed: darker, lit from below, as if pushed into the panel.
    g.setColorAt(0, c.bottom.darker(125));
    g.setColorAt(1, c.top.darker(112));
  } else {
    g.setColorAt(0, c.top);
    g.setColorAt(1, c.bottom);
  }
  p.fillPath(shape, g);
  if (!down) {
    QLinearGradient gloss(r.topLeft(), QPointF(r.left(), r.center().y()));
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(1, QColor(255, 255, 255, 10));
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(r.left(), r.top(), r.width(), r.height() * 0.5), gloss);
    p.restore();
  } else {
    // Inner shadow along the top edge.
    p.save();
    p.setClipPath(shape);
    QLinearGradient shade(r.topLeft(), QPointF(r.left(), r.top() + 6));
    shade.setColorAt(0, QColor(0, 0, 0, 110));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRectF(r.left(), r.top(), r.width(), 6), shade);
    p.restore();
  }
}

void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& box, const QColor& colour, bool down,
               bool shadow) {
  QPainterPath path = GlyphPath(glyph);
  if (path.isEmpty()) return;
  QTransform t;
  t.translate(box.left(), box.top());
  t.scale(box.width() / 100.0, box.height() / 100.0);
  QPainterPath placed = t.map(path);
  QPainterPath accent = t.map(GlyphAccentPath(glyph));
  if (shadow && !down) p.fillPath(placed.translated(0, 1), QColor(0, 0, 0, 80));
  p.fillPath(placed, down ? colour.darker(108) : colour);
  if (!accent.isEmpty()) p.fillPath(accent, Qt::white);
}

QRectF GlyphBox(const QRectF& area, qreal size) {
  return QRectF(area.center().x() - size / 2, area.center().y() - size / 2, size, size);
}

// A keyed bitmap has no alpha: smooth edges are flattened onto the colour the bitmap sits on
// in the window (its matte), and what is mostly transparent becomes the key colour.
QImage KeyOut(const QImage& argb, QColor matte) {
  QImage out(argb.size(), QImage::Format_ARGB32_Premultiplied);
  const QImage src = argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < src.height(); ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
    auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < src.width(); ++x) {
      const int a = qAlpha(in[x]);
      if (a < 96) {
        o[x] = kKeyColour;
        continue;
      }
      const int inv = 255 - a;
      int r = qRed(in[x]) + matte.red() * inv / 255;
      int g = qGreen(in[x]) + matte.green() * inv / 255;
      int b = qBlue(in[x]) + matte.blue() * inv / 255;
      // Never produce the key colour by accident.
      if (qRgb(r, g, b) == kKeyColour) g = 1;
      o[x] = qRgb(std::min(r, 255), std::min(g, 255), std::min(b, 255));
    }
  }
  out.setPixel(0, 0, kKeyColour);
  return out;
}

// The Master row band that the keyed Master play button sits on.
const QColor kMasterRowMatte(0x40, 0x36, 0x2d);
// The dark socket under the recording light.
const QColor kLightSocketMatte(0x0c, 0x10, 0x14);

QFont LabelFont(int pixelSize, bool bold) {
  QFont f("Liberation Sans");
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

}  // namespace

QImage DrawSkin(const SkinSpec& s, bool down) {
  const bool keyed = s.depth == Depth::Keyed24;
  QImage img(s.width, s.height, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  const qreal w = s.width, h = s.height;
  const qreal shift = down ? 1.0 : 0.0;
  QRectF body(1, 0.5 + shift, w - 2, h - 2.5);
  QPainterPath shape = ShapePath(s.shape, body);
  if (!down) p.fillPath(shape.translated(0, 1.5), QColor(0, 0, 0, 95));

  const bool split = s.shape == Shape::Split;
  const bool vertical = split && s.height > s.width;
  const FaceColours base = Colours(s.face);
  FaceColours first = base, second = base;
  if (s.face == Face::SplitMasterStudent) {
    first = Colours(Face::Master);
    second = Colours(Face::Student);
  } else if (s.face == Face::SplitMasterRecord) {
    first = Colours(Face::Master);
    second = Colours(Face::Record);
  }

  QRectF firstArea = body, secondArea;
  if (split) {
    if (vertical) {
      const qreal at = s.splitAt > 0 ? s.splitAt : body.top() + body.height() / 2;
      firstArea = QRectF(body.left(), body.top(), body.width(), at - body.top());
      secondArea = QRectF(body.left(), at, body.width(), body.bottom() - at);
    } else {
      const qreal at = s.splitAt > 0 ? s.splitAt : body.left() + body.width() / 2;
      firstArea = QRectF(body.left(), body.top(), at - body.left(), body.height());
      secondArea = QRectF(at, body.top(), body.right() - at, body.height());
    }
    p.save();
    p.setClipRect(firstArea.adjusted(-2, -2, vertical ? 2 : 0, vertical ? 0 : 2));
    FillFace(p, shape, body, first, down);
    p.restore();
    p.save();
    p.setClipRect(secondArea.adjusted(vertical ? -2 : 0, vertical ? 0 : -2, 2, 2));
    FillFace(p, shape, body, second, down);
    p.restore();
    // Divider groove between the halves.
    p.save();
    p.setClipPath(shape);
    if (vertical) {
      p.fillRect(QRectF(body.left(), secondArea.top() - 1, body.width(), 1), QColor(0, 0, 0, 90));
      p.fillRect(QRectF(body.left(), secondArea.top(), body.width(), 1),
                 QColor(255, 255, 255, 60));
    } else {
      p.fillRect(QRectF(secondArea.left() - 1, body.top(), 1, body.height()), QColor(0, 0, 0, 90));
      p.fillRect(QRectF(secondArea.left(), body.top(), 1, body.height()),
                 QColor(255, 255, 255, 60));
    }
    p.restore();
  } else {
    FillFace(p, shape, body, base, down);
  }
  QPen border(base.border, 1.0);
  if (split) border.setColor(first.border);
  p.strokePath(shape, border);

  p.setRenderHint(QPainter::Antialiasing, true);
  const qreal minSide = std::min(w, h);
  if (split) {
    const qreal g1 = std::min(firstArea.width(), firstArea.height()) * 0.5;
    const qreal g2 = std::min(secondArea.width(), secondArea.height()) * 0.5;
    if (s.label) {
      // Caption and glyph in the first part, the second glyph alone in the rest.
      const qreal g = h * 0.5;
      QRectF glyphBox(firstArea.left() + 8, firstArea.center().y() - g / 2, g, g);
      DrawGlyph(p, s.glyph, glyphBox, first.glyph, down, s.face != Face::Neutral);
      p.setFont(LabelFont(13, true));
      p.setPen(down ? first.glyph.darker(108) : first.glyph);
      p.drawText(QRectF(glyphBox.right() + 4, firstArea.top(), firstArea.right() - glyphBox.right(),
                        firstArea.height()),
                 Qt::AlignVCenter | Qt::AlignLeft, QString::fromLatin1(s.label));
      DrawGlyph(p, s.glyph2, GlyphBox(secondArea, g * 0.95), second.glyph, down, false);
    } else {
      DrawGlyph(p, s.glyph, GlyphBox(firstArea, g1), first.glyph, down, true);
      DrawGlyph(p, s.glyph2, GlyphBox(secondArea, g2), second.glyph, down, true);
    }
  } else if (s.label) {
    const qreal g = h * 0.5;
    p.setFont(LabelFont(13, true));
    const qreal textWidth = p.fontMetrics().horizontalAdvance(QString::fromLatin1(s.label));
    const qreal total = g + 5 + textWidth;
    const qreal left = body.center().x() - total / 2;
    QRectF glyphBox(left, body.center().y() - g / 2, g, g);
    DrawGlyph(p, s.glyph, glyphBox, base.glyph, down, s.face != Face::Neutral);
    p.setPen(down ? base.glyph.darker(108) : base.glyph);
    p.drawText(QRectF(glyphBox.right() + 5, body.top(), textWidth + 4, body.height()),
               Qt::AlignVCenter | Qt::AlignLeft, QString::fromLatin1(s.label));
  } else {
    const qreal factor = s.shape == Shape::Round ? 0.48 : (s.glyph == Glyph::Mixer ? 0.6 : 0.5);
    qreal g = minSide * factor;
    if (s.glyph == Glyph::FlagPlus || s.glyph == Glyph::Disk || s.glyph == Glyph::Trash ||
        s.glyph == Glyph::EraseRange || s.glyph == Glyph::FlagMinus)
      g = minSide * 0.6;
    if (s.glyph == Glyph::PauseRec) {
      // Pause bars with a red dot: "paused while recording".
      QRectF box = GlyphBox(body, g);
      DrawGlyph(p, Glyph::Pause, box.translated(-3, 0), base.glyph, down, true);
      p.setBrush(Qt::white);
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPointF(box.right() + 2, box.center().y()), g * 0.18, g * 0.18);
    } else {
      DrawGlyph(p, s.glyph, GlyphBox(body, g), base.glyph, down, s.face != Face::Neutral);
    }
  }
  p.end();
  return keyed ? KeyOut(img, kMasterRowMatte) : img;
}

QImage DrawBackground() {
  const int W = 516, H = 470;
  QImage img(W, H, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient body(0, 0, 0, H);
  body.setColorAt(0, QColor(0x34, 0x3f, 0x4b));
  body.setColorAt(1, QColor(0x1c, 0x23, 0x2a));
  p.fillRect(img.rect(), body);

  // Title band.
  QLinearGradient title(0, 0, 0, 40);
  title.setColorAt(0, QColor(0x44, 0x52, 0x60));
  title.setColorAt(1, QColor(0x35, 0x41, 0x4d));
  p.fillRect(QRect(0, 0, W, 40), title);
  p.fillRect(QRect(0, 40, W, 1), QColor(0x12, 0x17, 0x1c));
  p.fillRect(QRect(0, 41, W, 1), QColor(0x4c, 0x59, 0x66));

  auto inset = [&](const QRectF& r, const QColor& fill, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    p.fillPath(path.translated(0, 1), QColor(255, 255, 255, 40));
    p.fillPath(path, QColor(0, 0, 0, 120));
    QPainterPath inner;
    inner.addRoundedRect(r.adjusted(1, 1.5, -1, -1), radius - 1, radius - 1);
    p.fillPath(inner, fill);
  };
  auto panel = [&](const QRectF& r, const QColor& accent, const QString& caption) {
    QPainterPath path;
    path.addRoundedRect(r, 6, 6);
    p.fillPath(path.translated(0, 2), QColor(0, 0, 0, 90));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xf4, 0xf7, 0xf9));
    g.setColorAt(1, QColor(0xdc, 0xe3, 0xe9));
    p.fillPath(path, g);
    p.save();
    p.setClipPath(path);
    p.fillRect(QRectF(r.left(), r.top(), 4, r.height()), accent);
    p.restore();
    p.setPen(QColor(0x9a, 0xa6, 0xb2));
    p.drawPath(path);
    QFont f("Liberation Sans");
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(accent.darker(150));
    p.drawText(QRectF(r.left() + 10, r.top() + 1, 200, 12), Qt::AlignLeft | Qt::AlignVCenter,
               caption);
  };

  // Small time display (length of the current Master chunk): a light LCD at (190, 53).
  inset(QRectF(186, 50, 76, 26), QColor(0xdf, 0xe9, 0xd4), 4);
  // Master strip panel; the strip window covers (12, 125) 490 x 66 (strip, gap, position bar).
  panel(QRectF(5, 112, 506, 80), kMasterBottom, QStringLiteral("Original sound"));
  // The strips draw black columns over what lies beneath them: keep it light.
  inset(QRectF(11, 124, 492, 54), QColor(0xfb, 0xfc, 0xfd), 2);
  // Large time display (play position): dark at (10, 195).
  inset(QRectF(6, 194, 108, 29), QColor(0x0c, 0x11, 0x15), 4);
  // LED chunk number bezel around (224, 192) 64 x 40.
  inset(QRectF(218, 193, 76, 44), QColor(0x0a, 0x0d, 0x10), 5);
  // Student strip panel; the strip window covers (88, 279) 342 x 66.
  panel(QRectF(83, 265, 354, 84), kStudentBottom, QStringLiteral("Recorded sound"));
  inset(QRectF(87, 278, 344, 54), QColor(0xfb, 0xfc, 0xfd), 2);

  // Row bands: Master row (y 359) amber, Student row (y 416) blue.
  auto band = [&](const QRectF& r, const QColor& c) {
    QPainterPath path;
    path.addRoundedRect(r, 7, 7);
    QColor fill = c;
    fill.setAlpha(46);
    p.fillPath(path, fill);
    QColor edge = c;
    edge.setAlpha(110);
    p.setPen(QPen(edge, 1));
    p.drawPath(path);
  };
  band(QRectF(2.5, 354.5, 449, 37), kMasterBottom);
  band(QRectF(2.5, 411.5, 449, 37), kStudentBottom);
  // Mode buttons' bay under the Student panel and the recording light's socket.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x0c, 0x10, 0x14));
  p.drawEllipse(QRectF(294, 393, 18, 18));
  p.setBrush(QColor(0x3a, 0x1a, 0x1c));
  p.drawEllipse(QRectF(297, 396, 12, 12));

  // Level meter bay: the two sliders with "IN" / "OUT" above them (drawn by the window).
  inset(QRectF(454, 341, 58, 110), QColor(0x14, 0x1a, 0x20), 6);

  // Outer frame of the window.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x0e, 0x12, 0x16), 1));
  p.drawRect(QRectF(0.5, 0.5, W - 1, H - 1));
  p.setPen(QPen(QColor(0x58, 0x66, 0x74), 1));
  p.drawRect(QRectF(1.5, 1.5, W - 3, H - 3));
  p.end();
  return img;
}

namespace {

// Seven segments a..g of one digit cell of 32 x 40.
QPainterPath Segment(int index) {
  const qreal x0 = 7, x1 = 25, y0 = 5, ym = 20, y1 = 35, t = 2.6;
  auto horizontal = [&](qreal y) {
    QPainterPath p;
    p.moveTo(x0 + 1.5, y);
    p.lineTo(x0 + 1.5 + t, y - t);
    p.lineTo(x1 - 1.5 - t, y - t);
    p.lineTo(x1 - 1.5, y);
    p.lineTo(x1 - 1.5 - t, y + t);
    p.lineTo(x0 + 1.5 + t, y + t);
    p.closeSubpath();
    return p;
  };
  auto vertical = [&](qreal x, qreal ya, qreal yb) {
    QPainterPath p;
    p.moveTo(x, ya + 1.5);
    p.lineTo(x + t, ya + 1.5 + t);
    p.lineTo(x + t, yb - 1.5 - t);
    p.lineTo(x, yb - 1.5);
    p.lineTo(x - t, yb - 1.5 - t);
    p.lineTo(x - t, ya + 1.5 + t);
    p.closeSubpath();
    return p;
  };
  switch (index) {
    case 0: return horizontal(y0);
    case 1: return vertical(x1, y0, ym);
    case 2: return vertical(x1, ym, y1);
    case 3: return horizontal(y1);
    case 4: return vertical(x0, ym, y1);
    case 5: return vertical(x0, y0, ym);
    default: return horizontal(ym);
  }
}

}  // namespace

QImage DrawLedDigits() {
  static const unsigned char kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                              0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  QImage img(320, 40, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor lit(0xff, 0x8a, 0x2a), dim(0xff, 0x8a, 0x2a, 34), glow(0xff, 0x70, 0x10, 70);
  for (int d = 0; d < 10; ++d) {
    QTransform t;
    t.translate(32 * d, 0);
    t.shear(-0.08, 0);
    t.translate(2, 0);
    for (int s = 0; s < 7; ++s) {
      QPainterPath seg = t.map(Segment(s));
      if (kSegments[d] & (1 << s)) {
        p.setPen(QPen(glow, 2.5));
        p.setBrush(lit);
      } else {
        p.setPen(Qt::NoPen);
        p.setBrush(dim);
      }
      p.drawPath(seg);
    }
  }
  p.end();
  return img;
}

QImage DrawLedLight() {
  QImage img(20, 20, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(0x5a, 0x08, 0x0c));
  QRadialGradient g(QPointF(8, 7), 10);
  g.setColorAt(0, QColor(0xff, 0xb0, 0xa8));
  g.setColorAt(0.35, QColor(0xf2, 0x2a, 0x2a));
  g.setColorAt(1, QColor(0x9c, 0x0e, 0x12));
  p.setBrush(g);
  p.drawEllipse(QRectF(2.5, 2.5, 15, 15));
  p.end();
  return KeyOut(img, kLightSocketMatte);
}

QImage DrawSliderBody() {
  QImage img(27, 91, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // The tip's centre travels from y 78 (bottom) to y 12 (top) at x 13.
  QPainterPath groove;
  groove.addRoundedRect(QRectF(10.5, 8, 5, 76), 2.5, 2.5);
  p.fillPath(groove, QColor(0x05, 0x07, 0x09));
  QLinearGradient level(0, 78, 0, 12);
  level.setColorAt(0, QColor(0x3c, 0xc8, 0x6a, 150));
  level.setColorAt(0.7, QColor(0xf0, 0xc8, 0x3c, 150));
  level.setColorAt(1, QColor(0xf0, 0x50, 0x3c, 150));
  QPainterPath bar;
  bar.addRoundedRect(QRectF(11.5, 9, 3, 74), 1.5, 1.5);
  p.fillPath(bar, level);
  p.setPen(QPen(QColor(0x8e, 0x9c, 0xaa), 1));
  for (int i = 0; i <= 6; ++i) {
    const qreal y = 78 - i * 11 + 0.5;
    const qreal len = (i % 3 == 0) ? 5 : 3;
    p.drawLine(QPointF(8 - len, y), QPointF(8, y));
    p.drawLine(QPointF(19, y), QPointF(19 + len, y));
  }
  p.end();
  return img;
}

QImage DrawSliderTip() {
  QImage img(12, 12, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(4.5, 4), 8);
  g.setColorAt(0, QColor(0xff, 0xff, 0xff));
  g.setColorAt(0.6, QColor(0xc6, 0xd0, 0xda));
  g.setColorAt(1, QColor(0x7c, 0x8a, 0x98));
  p.setBrush(g);
  p.setPen(QPen(QColor(0x28, 0x30, 0x38), 1));
  p.drawEllipse(QRectF(0.5, 0.5, 11, 11));
  p.end();
  return img;
}

QImage DrawIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(12, 12, 232, 232), 48, 48);
  QLinearGradient g(0, 12, 0, 244);
  g.setColorAt(0, QColor(0x45, 0x53, 0x62));
  g.setColorAt(1, QColor(0x1c, 0x23, 0x2a));
  p.fillPath(tile, g);
  // Two tracks: the teacher's (amber) above the student's (blue).
  const int bars[] = {30, 52, 80, 44, 66, 90, 58, 36, 72, 48, 26};
  for (int i = 0; i < 11; ++i) {
    const qreal x = 44 + i * 16;
    const qreal hMaster = bars[i] * 0.55, hStudent = bars[(i + 4) % 11] * 0.55;
    QPainterPath m, s;
    m.addRoundedRect(QRectF(x, 88 - hMaster / 2, 9, hMaster), 4, 4);
    s.addRoundedRect(QRectF(x, 168 - hStudent / 2, 9, hStudent), 4, 4);
    p.fillPath(m, kMasterTop);
    p.fillPath(s, kStudentTop);
  }
  p.setBrush(kRecordTop);
  p.setPen(QPen(Qt::white, 8));
  p.drawEllipse(QPointF(196, 200), 30, 30);
  p.end();
  return img;
}

}  // namespace vts::artgen
