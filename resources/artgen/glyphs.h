// Vector glyphs of the skins, each a filled path in a 100 x 100 box.
#pragma once

#include <QPainterPath>

#include "skin_table.h"

namespace vts::artgen {

// The glyph's path in the 0..100 box (empty for Glyph::None).
QPainterPath GlyphPath(Glyph glyph);

// The part of the glyph drawn in the record colour (empty for most glyphs).
QPainterPath GlyphAccentPath(Glyph glyph);

}  // namespace vts::artgen
