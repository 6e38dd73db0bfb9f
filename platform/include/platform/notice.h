// One line of news from the platform layer (a store moved aside, a file refused) for the
// program's log. The program installs its sink at start; without one, lines go to stderr.
//
// Thread-safe: the sink may be replaced and called from any thread.
#pragma once

#include <functional>
#include <string>

namespace vts::plat {

using NoticeSink = std::function<void(const std::string& line)>;

// Replaces the sink (an empty one restores stderr).
void SetNoticeSink(NoticeSink sink);
void Notice(const std::string& line);

// Moves a file that cannot be read aside to "<path>.unreadable-YYYYMMDD-HHMMSS" (a number added
// when that exists) and says why in one notice. Returns the new name, empty when it failed.
std::string MoveUnreadableAside(const std::string& path, const std::string& why);

}  // namespace vts::plat
