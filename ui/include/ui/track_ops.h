// The window's track operations live with the transport (no Qt); the window's code names
// them here.
#pragma once

#include "tracks/track_ops.h"

namespace vts::ui {
using TrackOps = vts::TrackOps;
}  // namespace vts::ui
