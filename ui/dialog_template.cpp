// The control template of the recorder window.
#include "ui/dialog_template.h"

#include <array>

namespace vts::ui {
namespace {

using K = ControlKind;

constexpr std::array<ControlTemplate, 41> kTemplate = {{
    {1027, K::Button, "BUTOPENWAV", true, 6, 28, 65, 14, "open a file on the Master track; right part: URL list"},
    {1023, K::Button, "BUTSAVEWAV", true, 73, 28, 50, 14, "save the Student track"},
    {1043, K::Button, "BUTSENDWAV", true, 178, 28, 58, 14, "save and hand the work to the classroom (teacher only)"},
    {1028, K::Edit, "", true, 238, 30, 99, 14, "name of the Master's file"},
    {1049, K::Button, "BUTEXIT", true, 320, 11, 19, 16, "exit path"},
    {1030, K::Button, "BUTMINIMIZE", true, 302, 11, 18, 18, "minimise the window"},
    {1031, K::MultiLineEdit, "", true, 6, 48, 331, 20, "Master chunk text"},
    {-1, K::GroupBox, "Original sound", false, 4, 71, 342, 43, "frame only"},
    {1042, K::Button, "BUTPREVCHUNK", true, 121, 120, 24, 19, "both tracks to the previous chunk"},
    {1026, K::Static, "", true, 149, 118, 41, 23, "LED chunk number; double click: first or last chunk"},
    {1025, K::Button, "BUTNEXTCHUNK", true, 200, 120, 24, 17, "both tracks to the next chunk"},
    {1032, K::Button, "BUTCUT", false, 276, 120, 14, 13, "bound, never shown, no handler"},
    {1015, K::Button, "BUTMINUS", true, 302, 120, 13, 13, "zoom the waveform out"},
    {1016, K::Button, "BUTPLUS", true, 321, 120, 13, 13, "zoom the waveform in"},
    {1045, K::MultiLineEdit, "", true, 7, 142, 331, 20, "Student chunk text"},
    {-1, K::GroupBox, "Recorded sound", false, 58, 161, 233, 51, "frame only"},
    {1040, K::Button, "VBUTPLAYREC", true, 6, 169, 18, 42, "simultaneous recording mode"},
    {1039, K::Button, "VBUTPLAYPLAY", true, 30, 169, 18, 42, "simultaneous playback mode"},
    {1038, K::Button, "HBUTPLAYREC", true, 297, 169, 51, 18, "sequential recording mode"},
    {1037, K::Button, "HBUTPLAYPLAY", true, 297, 191, 51, 18, "sequential playback mode"},
    {1011, K::Button, "MBUTPREV", true, 4, 221, 42, 18, "Master to the previous chunk and play"},
    {1012, K::Button, "MBUTPLAY", true, 49, 221, 22, 18, "Master play or pause"},
    {1035, K::Button, "MBUTSTOP", true, 75, 221, 24, 18, "stop both tracks"},
    {1013, K::Button, "MBUTNEXT", true, 107, 221, 36, 18, "Master to the next chunk and play"},
    {1050, K::Button, "MBUTERASE", true, 148, 221, 35, 18, "delete the selected range of the Master"},
    {1022, K::Button, "BUTREMOVEBM", true, 185, 221, 35, 14, "remove a bookmark"},
    {1020, K::Button, "BUTINSERTBM", true, 220, 221, 43, 15, "insert a bookmark; right click: all bookmarks on/off"},
    {1021, K::Button, "BUTSAVEBM", true, 268, 221, 37, 15, "save the Master; right click: bookmarks and texts"},
    {1041, K::Button, "BUTCLOSEWAV", false, 307, 215, 24, 23, "close the Master file"},
    {1047, K::Static, "", true, 303, 219, 17, 70, "input-level slider"},
    {1046, K::Static, "", true, 321, 219, 17, 70, "volume-level slider"},
    {1051, K::Static, "LEDLIGHT", false, 195, 241, 10, 9, "recording light"},
    {1029, K::Button, "BUTMIXER", false, 310, 249, 30, 27, "open the system volume mixer"},
    {1014, K::Button, "BUTPREV", true, 4, 256, 42, 18, "both tracks back a chunk, then record or play the Student"},
    {1034, K::Button, "BUTPAUSE", true, 49, 256, 18, 18, "pause the Student"},
    {1018, K::Button, "BUTPLAY", true, 75, 256, 30, 18, "play the Student"},
    {1036, K::Button, "BUTSTOP", true, 108, 256, 16, 18, "stop both tracks"},
    {1019, K::Button, "BUTNEXTB", true, 140, 256, 36, 18, "next chunk on both; while recording a bookmark"},
    {1017, K::Button, "BUTREC", true, 185, 256, 31, 18, "record on the Student"},
    {1024, K::Button, "BUTREPEAT", true, 219, 256, 27, 18, "continuous comparison mode"},
    {1044, K::Button, "BUTCLEAR", true, 253, 256, 27, 18, "empty the Student's current chunk"},
}};

}  // namespace

std::span<const ControlTemplate> DialogTemplate() {
  return kTemplate;
}

const ControlTemplate* FindTemplate(int id) {
  if (id == -1) return nullptr;
  for (const ControlTemplate& c : DialogTemplate())
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace vts::ui
