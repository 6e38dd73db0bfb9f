// Fonts as the window's drawing code names them: a face, a cell height and an average
// character width in pixels. "Arial" resolves to Liberation Sans (metric-compatible),
// "Tahoma" and "MS Shell Dlg" to a close sans.
#pragma once

#include <QFont>
#include <QString>

namespace vts::ui {

// Registers the face substitutes once; called by every font maker.
void InstallFontSubstitutes();

// A font whose line (ascent + descent) is `height` pixels and whose average character is
// about `width` pixels wide (0: natural width). weight: 400 normal, 700 bold.
QFont MakeGdiFont(const QString& face, int height, int width, int weight = 400);

}  // namespace vts::ui
