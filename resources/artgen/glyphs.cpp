// Vector glyphs: lines are stroked into outlines so every glyph is one filled path.
#include "glyphs.h"

#include <QPainterPathStroker>
#include <QPolygonF>

namespace vts::artgen {
namespace {

QPainterPath Polygon(std::initializer_list<QPointF> points) {
  QPainterPath p;
  p.addPolygon(QPolygonF(QList<QPointF>(points)));
  p.closeSubpath();
  return p;
}

QPainterPath Stroke(const QPainterPath& line, qreal width,
                    Qt::PenCapStyle cap = Qt::RoundCap, Qt::PenJoinStyle join = Qt::RoundJoin) {
  QPainterPathStroker s;
  s.setWidth(width);
  s.setCapStyle(cap);
  s.setJoinStyle(join);
  return s.createStroke(line).simplified();
}

QPainterPath Rect(qreal x, qreal y, qreal w, qreal h, qreal r = 3) {
  QPainterPath p;
  p.addRoundedRect(QRectF(x, y, w, h), r, r);
  return p;
}

QPainterPath Circle(qreal cx, qreal cy, qreal r) {
  QPainterPath p;
  p.addEllipse(QPointF(cx, cy), r, r);
  return p;
}

QPainterPath Flag() {
  QPainterPath pole = Rect(18, 10, 9, 82, 2);
  QPainterPath cloth = Polygon({{27, 12}, {70, 26}, {27, 42}});
  return pole.united(cloth);
}

}  // namespace

QPainterPath GlyphPath(Glyph glyph) {
  switch (glyph) {
    case Glyph::None:
      return {};
    case Glyph::Play:
      return Polygon({{26, 12}, {26, 88}, {86, 50}});
    case Glyph::Pause:
      return Rect(20, 14, 22, 72).united(Rect(58, 14, 22, 72));
    case Glyph::PauseRec:
      return Rect(14, 14, 20, 72).united(Rect(44, 14, 20, 72));
    case Glyph::Stop:
      return Rect(18, 18, 64, 64, 6);
    case Glyph::Record:
      return Circle(50, 50, 34);
    case Glyph::Prev:
      return Rect(10, 16, 12, 68, 2).united(Polygon({{88, 14}, {88, 86}, {26, 50}}));
    case Glyph::Next:
      return Polygon({{12, 14}, {12, 86}, {74, 50}}).united(Rect(78, 16, 12, 68, 2));
    case Glyph::NextMark: {
      QPainterPath next = Polygon({{8, 22}, {8, 86}, {62, 54}}).united(Rect(64, 24, 11, 62, 2));
      QPainterPath flag = Rect(80, 4, 5, 40, 1).united(Polygon({{85, 5}, {100, 12}, {85, 20}}));
      return next.united(flag);
    }
    case Glyph::ChevronLeft: {
      QPainterPath p;
      p.moveTo(64, 18);
      p.lineTo(32, 50);
      p.lineTo(64, 82);
      return Stroke(p, 17);
    }
    case Glyph::ChevronRight: {
      QPainterPath p;
      p.moveTo(36, 18);
      p.lineTo(68, 50);
      p.lineTo(36, 82);
      return Stroke(p, 17);
    }
    case Glyph::Plus:
      return Rect(14, 41, 72, 18, 3).united(Rect(41, 14, 18, 72, 3));
    case Glyph::Minus:
      return Rect(14, 41, 72, 18, 3);
    case Glyph::Close: {
      QPainterPath p;
      p.moveTo(22, 22);
      p.lineTo(78, 78);
      p.moveTo(78, 22);
      p.lineTo(22, 78);
      return Stroke(p, 15);
    }
    case Glyph::Minimize:
      return Rect(18, 62, 64, 15, 3);
    case Glyph::Loop: {
      QPainterPath top;
      top.moveTo(18, 56);
      top.cubicTo(18, 26, 34, 22, 50, 22);
      top.lineTo(70, 22);
      QPainterPath bottom;
      bottom.moveTo(82, 44);
      bottom.cubicTo(82, 74, 66, 78, 50, 78);
      bottom.lineTo(30, 78);
      QPainterPath headTop = Polygon({{66, 6}, {90, 22}, {66, 38}});
      QPainterPath headBottom = Polygon({{34, 62}, {10, 78}, {34, 94}});
      return Stroke(top, 12, Qt::FlatCap)
          .united(Stroke(bottom, 12, Qt::FlatCap))
          .united(headTop)
          .united(headBottom);
    }
    case Glyph::Trash: {
      QPainterPath lid = Rect(16, 16, 68, 11, 2).united(Rect(38, 6, 24, 12, 3));
      QPainterPath body = Polygon({{22, 32}, {78, 32}, {72, 94}, {28, 94}});
      QPainterPath holes = Rect(35, 42, 6, 42, 2).united(Rect(47, 42, 6, 42, 2)).united(
          Rect(59, 42, 6, 42, 2));
      return lid.united(body.subtracted(holes));
    }
    case Glyph::FlagPlus:
      return Flag().united(Rect(52, 62, 40, 12, 2)).united(Rect(66, 48, 12, 40, 2));
    case Glyph::FlagMinus:
      return Flag().united(Rect(52, 62, 40, 12, 2));
    case Glyph::Disk: {
      QPainterPath body = Rect(12, 12, 76, 76, 8);
      QPainterPath shutter = Rect(28, 12, 40, 26, 2);
      QPainterPath label = Rect(26, 52, 48, 30, 3);
      QPainterPath notch = Rect(54, 16, 9, 18, 1);
      return body.subtracted(shutter).subtracted(label).united(notch);
    }
    case Glyph::Folder: {
      QPainterPath back = Polygon({{8, 24}, {36, 24}, {44, 32}, {88, 32}, {88, 84}, {8, 84}});
      QPainterPath front = Polygon({{8, 84}, {20, 46}, {98, 46}, {88, 84}});
      return back.subtracted(front).united(Stroke(front, 6)).united(front.translated(0, 0));
    }
    case Glyph::Globe: {
      QPainterPath ring = Circle(50, 50, 40).subtracted(Circle(50, 50, 31));
      QPainterPath lines;
      lines.moveTo(14, 50);
      lines.lineTo(86, 50);
      lines.moveTo(50, 12);
      lines.lineTo(50, 88);
      QPainterPath meridian;
      meridian.addEllipse(QPointF(50, 50), 17, 38);
      return ring.united(Stroke(lines, 7, Qt::FlatCap)).united(Stroke(meridian, 7));
    }
    case Glyph::Send:
      return Polygon({{6, 46}, {94, 10}, {62, 92}, {48, 58}}).united(
          Polygon({{48, 58}, {94, 10}, {40, 50}}));
    case Glyph::EraseRange: {
      QPainterPath brackets;
      brackets.moveTo(24, 12);
      brackets.lineTo(10, 12);
      brackets.lineTo(10, 88);
      brackets.lineTo(24, 88);
      brackets.moveTo(76, 12);
      brackets.lineTo(90, 12);
      brackets.lineTo(90, 88);
      brackets.lineTo(76, 88);
      QPainterPath cross;
      cross.moveTo(34, 32);
      cross.lineTo(66, 68);
      cross.moveTo(66, 32);
      cross.lineTo(34, 68);
      return Stroke(brackets, 9, Qt::FlatCap, Qt::MiterJoin).united(Stroke(cross, 11));
    }
    case Glyph::Cut: {
      QPainterPath rings = Circle(30, 76, 14).subtracted(Circle(30, 76, 7)).united(
          Circle(70, 76, 14).subtracted(Circle(70, 76, 7)));
      QPainterPath blades;
      blades.moveTo(38, 64);
      blades.lineTo(72, 10);
      blades.moveTo(62, 64);
      blades.lineTo(28, 10);
      return rings.united(Stroke(blades, 9));
    }
    case Glyph::Mixer: {
      QPainterPath tracks;
      for (qreal x : {22.0, 50.0, 78.0}) {
        tracks.moveTo(x, 8);
        tracks.lineTo(x, 92);
      }
      QPainterPath knobs = Rect(12, 56, 20, 12, 3).united(Rect(40, 24, 20, 12, 3)).united(
          Rect(68, 44, 20, 12, 3));
      return Stroke(tracks, 5, Qt::FlatCap).united(knobs);
    }
  }
  return {};
}

QPainterPath GlyphAccentPath(Glyph glyph) {
  if (glyph == Glyph::PauseRec) return Circle(82, 50, 16);
  return {};
}

}  // namespace vts::artgen
