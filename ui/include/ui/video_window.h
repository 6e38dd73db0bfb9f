// The video window's widgets: the frame "Recorder Video" (object name "RecorderSiteWindow"),
// its drawing child "Video" ("RecorderVideoSiteWindow") that shows the back buffer, and the
// trackbar (0 ... 1000, page 20) along its bottom edge, 40 pixels high; both follow the
// frame's size.
//
// Threading: made and destroyed on the GUI thread; the host's calls come from any thread and
// reach the widgets only as queued calls.
#pragma once

#include <memory>

#include "video/video_site_window.h"

namespace vts::ui {

// The window system the recorder plugs into its video manager.
std::shared_ptr<IVideoWindowSystem> QtVideoWindowSystem();

}  // namespace vts::ui
