// The declarative table of every skin bitmap: name, size, colour scheme, glyph, depth.
#pragma once

#include <vector>

namespace vts::artgen {

// Colour schemes. The Master (teacher) row is amber, the Student row blue, recording red.
enum class Face {
  Master,
  Student,
  Record,
  Neutral,
  Dark,
  SplitMasterStudent,  // mode buttons: first half Master, second half Student
  SplitMasterRecord,   // recording modes: first half Master, second half Record
};

enum class Glyph {
  None,
  Play,
  Pause,
  Stop,
  Record,
  Prev,
  Next,
  NextMark,
  ChevronLeft,
  ChevronRight,
  Plus,
  Minus,
  Close,
  Minimize,
  Loop,
  Trash,
  FlagPlus,
  FlagMinus,
  Disk,
  Folder,
  Globe,
  Send,
  EraseRange,
  Cut,
  Mixer,
  PauseRec,
};

enum class Shape { Pill, Round, Split };
enum class Depth { Alpha32, Keyed24 };

struct SkinSpec {
  const char* name;  // base name; the files are name + "U" and name + "D"
  int width;
  int height;
  Face face;
  Shape shape;
  Glyph glyph;
  Glyph glyph2;        // second half of a split button
  const char* label;   // optional caption beside the glyph
  Depth depth;
  bool hasDown;        // false: only the "U" bitmap exists
  int splitAt;         // Split shape: pixel where the second half begins (0 = middle)
};

const std::vector<SkinSpec>& SkinTable();

}  // namespace vts::artgen
