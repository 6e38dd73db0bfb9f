// The recorder window's control template: every control with its id, kind, text (the skin
// name of a button), visibility, place in dialog units and role.
#pragma once

#include <QRect>
#include <span>

#include "ui/dialog_units.h"

namespace vts::ui {

enum class ControlKind { Button, Edit, MultiLineEdit, Static, GroupBox };

struct ControlTemplate {
  int id;  // -1 for the frames
  ControlKind kind;
  const char* text;
  bool visible;
  int x, y, w, h;  // dialog units
  const char* role;
};

// The dialog's size in dialog units; its pixel size comes from the background (516 x 470).
constexpr int kDialogWidthDu = 352;
constexpr int kDialogHeightDu = 321;

std::span<const ControlTemplate> DialogTemplate();
const ControlTemplate* FindTemplate(int id);

}  // namespace vts::ui
