// Posting a track notification to its target.
#include "tracks/notify.h"

namespace vts {

void PostNotification(const NotifyTarget& target, plat::WPARAM code, plat::LPARAM sender) {
  if (target.threadId != 0) plat::PostThreadMessage(target.threadId, target.message, code, sender);
  if (target.window != nullptr) target.window->PostNotify(target.message, code, sender);
}

}  // namespace vts
