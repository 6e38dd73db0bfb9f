// Every skinned-button bitmap of the recorder window, one row each.
#include "skin_table.h"

namespace vts::artgen {

const std::vector<SkinSpec>& SkinTable() {
  using enum Face;
  using enum Shape;
  using G = Glyph;
  constexpr Depth A = Depth::Alpha32;
  constexpr Depth K = Depth::Keyed24;
  static const std::vector<SkinSpec> table = {
      // File row.
      {"BUTOPENWAV", 100, 30, Neutral, Split, G::Folder, G::Globe, "Open", A, true, 68},
      {"BUTSAVEWAV", 68, 30, Student, Pill, G::Disk, G::None, "Save", A, true, 0},
      {"BUTSENDWAV", 92, 30, Neutral, Pill, G::Send, G::None, "Send", A, true, 0},
      {"BUTEXIT", 25, 25, Dark, Round, G::Close, G::None, nullptr, A, true, 0},
      {"BUTMINIMIZE", 25, 25, Dark, Round, G::Minimize, G::None, nullptr, A, true, 0},
      {"BUTCLOSEWAV", 50, 50, Dark, Round, G::Close, G::None, nullptr, A, true, 0},
      // Chunk navigation and zoom.
      {"BUTPREVCHUNK", 26, 26, Neutral, Round, G::ChevronLeft, G::None, nullptr, A, true, 0},
      {"BUTNEXTCHUNK", 26, 26, Neutral, Round, G::ChevronRight, G::None, nullptr, A, true, 0},
      {"BUTCUT", 24, 24, Dark, Round, G::Cut, G::None, nullptr, A, true, 0},
      {"BUTMINUS", 24, 24, Dark, Round, G::Minus, G::None, nullptr, A, true, 0},
      {"BUTPLUS", 24, 24, Dark, Round, G::Plus, G::None, nullptr, A, true, 0},
      // Transport modes: vertical = simultaneous, horizontal = sequential.
      {"VBUTPLAYPLAY", 28, 60, SplitMasterStudent, Split, G::Play, G::Play, nullptr, A, true, 0},
      {"VBUTPLAYREC", 28, 60, SplitMasterRecord, Split, G::Play, G::Record, nullptr, A, true, 0},
      {"VBUTPLAYRECSTOP", 28, 60, SplitMasterRecord, Split, G::Play, G::Stop, nullptr, A, true, 0},
      {"HBUTPLAYPLAY", 60, 28, SplitMasterStudent, Split, G::Play, G::Play, nullptr, A, true, 0},
      {"HBUTPLAYREC", 60, 28, SplitMasterRecord, Split, G::Play, G::Record, nullptr, A, true, 0},
      {"HBUTPLAYRECSTOP", 60, 28, SplitMasterRecord, Split, G::Play, G::Stop, nullptr, A, true, 0},
      // Master row.
      {"MBUTPREV", 60, 28, Master, Pill, G::Prev, G::None, nullptr, A, true, 0},
      {"MBUTPLAY", 40, 28, Master, Pill, G::Play, G::None, nullptr, K, true, 0},
      {"MBUTPAUSE", 40, 28, Master, Pill, G::Pause, G::None, nullptr, A, true, 0},
      {"MBUTSTOP", 40, 28, Master, Pill, G::Stop, G::None, nullptr, A, true, 0},
      {"MBUTNEXT", 60, 28, Master, Pill, G::Next, G::None, nullptr, A, true, 0},
      {"MBUTERASE", 50, 28, Master, Pill, G::EraseRange, G::None, nullptr, A, true, 0},
      {"BUTREMOVEBM", 50, 28, Master, Pill, G::FlagMinus, G::None, nullptr, A, true, 0},
      {"BUTINSERTBM", 70, 28, Master, Pill, G::FlagPlus, G::None, nullptr, A, true, 0},
      {"BUTSAVEBM", 50, 28, Master, Pill, G::Disk, G::None, nullptr, A, true, 0},
      {"BUTMIXER", 42, 48, Dark, Pill, G::Mixer, G::None, nullptr, A, false, 0},
      // Student row.
      {"BUTPREV", 60, 28, Student, Pill, G::Prev, G::None, nullptr, A, true, 0},
      {"BUTPAUSE", 40, 28, Student, Pill, G::Pause, G::None, nullptr, A, true, 0},
      {"BUTPAUSEREC", 40, 28, Record, Pill, G::PauseRec, G::None, nullptr, A, true, 0},
      {"BUTPLAY", 50, 28, Student, Pill, G::Play, G::None, nullptr, A, true, 0},
      {"BUTSTOP", 40, 28, Student, Pill, G::Stop, G::None, nullptr, A, true, 0},
      {"BUTNEXT", 60, 28, Student, Pill, G::Next, G::None, nullptr, A, true, 0},
      {"BUTNEXTB", 60, 28, Student, Pill, G::NextMark, G::None, nullptr, A, true, 0},
      {"BUTREC", 50, 28, Record, Pill, G::Record, G::None, nullptr, A, true, 0},
      {"BUTRECORDSTOP", 50, 28, Record, Pill, G::Stop, G::None, nullptr, A, true, 0},
      {"BUTREPEAT", 50, 28, Student, Pill, G::Loop, G::None, nullptr, A, true, 0},
      {"BUTCLEAR", 50, 28, Student, Pill, G::Trash, G::None, nullptr, A, true, 0},
  };
  return table;
}

}  // namespace vts::artgen
