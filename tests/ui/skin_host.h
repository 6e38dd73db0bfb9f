// A small skin host for control tests: a solid background picture and a record of what
// the controls sent.
#pragma once

#include <QContextMenuEvent>
#include <QPainter>
#include <QWidget>
#include <utility>
#include <vector>

#include "ui/skin.h"

namespace vts::ui::test {

class SkinHost : public QWidget, public ISkinHost {
 public:
  explicit SkinHost(QColor background = QColor(0, 160, 0), QSize size = QSize(200, 120))
      : background_(size, QImage::Format_ARGB32_Premultiplied) {
    background_.fill(background);
    resize(size);
  }
  const QImage* GetScrollBarCtrl(uint32_t key) const override {
    return key == kBackgroundKey ? &background_ : nullptr;
  }
  bool OnCommand(int id, int code) override {
    commands.emplace_back(id, code);
    return true;
  }
  void OnNotify(int id, int code) override { notifies.emplace_back(id, code); }
  void OnVScroll(int code, int position, QWidget*) override { scrolls.emplace_back(code, position); }
  void OnContextMenu(QWidget*, QPoint) override { ++contextMenus; }

  QImage& Background() { return background_; }
  QColor paintColour = QColor(10, 20, 30);

  std::vector<std::pair<int, int>> commands;
  std::vector<std::pair<int, int>> notifies;
  std::vector<std::pair<int, int>> scrolls;
  int contextMenus = 0;
  int contextMenuEvents = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), paintColour);
  }
  void contextMenuEvent(QContextMenuEvent* e) override {
    ++contextMenuEvents;
    e->accept();
  }

 private:
  QImage background_;
};

inline bool Near(QColor a, QColor b, int tolerance = 3) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace vts::ui::test
