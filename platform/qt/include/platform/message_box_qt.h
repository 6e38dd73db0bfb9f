// The message-box service's Qt front end: boxes are shown on the GUI thread (QMessageBox);
// a background thread that asks waits for the answer. Once BeginShutdown ran (the GUI loop no
// longer runs), no box is shown: the text is logged and the default answer returned, and
// threads still waiting are released with the default answer, so shutdown never deadlocks.
//
// Threading: construct and install on the GUI thread after the QApplication exists; Show from
// any thread; BeginShutdown and EndBoxes from the GUI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/message_box.h"

namespace vts::plat {

class QtMessageBoxService : public IMessageBoxService {
 public:
  // `log` receives "caption: text" of every box answered without being shown, `shown` the same
  // of every box just before it is shown (on the GUI thread).
  explicit QtMessageBoxService(std::function<void(const std::string&)> log = {},
                               std::function<void(const std::string&)> shown = {});
  ~QtMessageBoxService() override;

  int Show(const std::u16string& text, const std::u16string& caption, unsigned type) override;
  // Queues the box for the GUI loop (also when called on the GUI thread) and returns at once.
  void ShowWithoutWaiting(const std::u16string& text, const std::u16string& caption,
                          unsigned type) override;
  void BeginShutdown();
  // BeginShutdown, and the boxes that are up now close (answered by default). GUI thread.
  void EndBoxes() override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace vts::plat
