// Registration of the generated art resources.
#include "resources/art.h"

#include <QtCore/qglobal.h>

#include <mutex>

static void InitArtResources() { Q_INIT_RESOURCE(vts_art); }

namespace vts::res {

void InitArt() {
  static std::once_flag once;
  std::call_once(once, InitArtResources);
}

QString ArtPath(const QString& name) { return QStringLiteral(":/art/") + name; }

QString IconPath(int size) { return QStringLiteral(":/art/ICON128_%1").arg(size); }

}  // namespace vts::res
