// Writes every bitmap of the recorder window as PNG into a folder, with a Qt resource list.
// Usage: vts_artgen <output-folder>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

#include "draw.h"
#include "skin_table.h"

namespace {

struct Written {
  QString alias;
  QString file;
};

// 32-bit skins keep their alpha; 24-bit ones are written without an alpha channel.
bool Save(const QDir& dir, const QString& name, const QImage& image, bool keyed,
          QList<Written>& list) {
  QImage out = keyed ? image.convertToFormat(QImage::Format_RGB888)
                     : image.convertToFormat(QImage::Format_ARGB32);
  const QString file = name + QStringLiteral(".png");
  if (!out.save(dir.filePath(file), "PNG")) {
    std::fprintf(stderr, "vts_artgen: cannot write %s\n", qPrintable(dir.filePath(file)));
    return false;
  }
  list.append({name, file});
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vts_artgen <output-folder>\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "vts_artgen: cannot create %s\n", argv[1]);
    return 1;
  }

  using namespace vts::artgen;
  QList<Written> list;
  bool ok = true;
  for (const SkinSpec& s : SkinTable()) {
    const bool keyed = s.depth == Depth::Keyed24;
    const QString base = QString::fromLatin1(s.name);
    ok &= Save(dir, base + 'U', DrawSkin(s, false), keyed, list);
    if (s.hasDown) ok &= Save(dir, base + 'D', DrawSkin(s, true), keyed, list);
  }
  ok &= Save(dir, QStringLiteral("BACKGROUND"), DrawBackground(), false, list);
  ok &= Save(dir, QStringLiteral("LEDIMAGES"), DrawLedDigits(), false, list);
  ok &= Save(dir, QStringLiteral("LEDLIGHT"), DrawLedLight(), true, list);
  ok &= Save(dir, QStringLiteral("SLIDERBODY"), DrawSliderBody(), false, list);
  ok &= Save(dir, QStringLiteral("SLIDERTIP"), DrawSliderTip(), false, list);
  for (int size : {16, 32, 48, 256})
    ok &= Save(dir, QStringLiteral("ICON128_%1").arg(size), DrawIcon(size), false, list);
  if (!ok) return 1;

  // Written last and only when everything else succeeded: the build depends on it.
  QFile qrc(dir.filePath(QStringLiteral("art.qrc")));
  if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
  QTextStream out(&qrc);
  out << "<RCC>\n  <qresource prefix=\"/art\">\n";
  for (const Written& w : list)
    out << "    <file alias=\"" << w.alias << "\">" << w.file << "</file>\n";
  out << "  </qresource>\n</RCC>\n";
  return 0;
}
