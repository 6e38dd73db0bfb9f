// The generated art of the recorder window, compiled in as Qt resources.
#pragma once

#include <QString>

namespace vts::res {

// Registers the art with Qt's resource system; safe to call more than once.
void InitArt();

// Resource path of a bitmap by its name ("BUTRECU", "BACKGROUND", "LEDIMAGES", ...).
QString ArtPath(const QString& name);

// Resource paths of the program icon in its sizes (16, 32, 48 and 256 pixels).
QString IconPath(int size);

}  // namespace vts::res
