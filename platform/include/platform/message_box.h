// The message-box service: any thread may ask; the box is shown on the GUI thread and the
// asking thread waits for the answer. During shutdown (no GUI loop), the text is logged and
// the default answer returned, never a deadlock. Tests install a recording implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vts::plat {

// Button sets and icons, with the Windows values so callers read as the Parts do.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNOCANCEL = 0x3;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class IMessageBoxService {
 public:
  virtual ~IMessageBoxService() = default;
  virtual int Show(const std::u16string& text, const std::u16string& caption, unsigned type) = 0;
  // A box nobody waits for: the caller goes on at once. By default shown as Show shows it.
  virtual void ShowWithoutWaiting(const std::u16string& text, const std::u16string& caption,
                                  unsigned type) {
    Show(text, caption, type);
  }
  // The program is ending: the boxes that are up close (each answered as by default), callers
  // that wait are released, and no box is shown any more (later ones are answered by default).
  virtual void EndBoxes() {}
};

// Shows a box through the installed service (default: none installed → logs to stderr and
// returns the default answer of the button set: IDOK, IDOK, IDCANCEL, IDNO).
int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type);
int DefaultAnswer(unsigned type);
// A box whose answer nobody needs (an OK box): the caller goes on at once and the GUI thread
// shows it when its loop runs again. For a caller that may hold a lock the GUI thread takes.
void MessageBoxWithoutWaiting(const std::u16string& text, const std::u16string& caption,
                              unsigned type);

// Ends every box through the installed service (see IMessageBoxService::EndBoxes). GUI thread.
void EndMessageBoxes();

// Installs the service (nullptr: back to the default). Not thread-safe against concurrent
// MessageBox calls; install at start and at shutdown only.
void SetMessageBoxService(std::shared_ptr<IMessageBoxService> service);

// A recording service for tests: keeps every box and answers from a script (then default).
class RecordingMessageBoxService : public IMessageBoxService {
 public:
  struct Box {
    std::u16string text;
    std::u16string caption;
    unsigned type;
  };
  int Show(const std::u16string& text, const std::u16string& caption, unsigned type) override;
  // Later boxes are still kept, and answered by default.
  void EndBoxes() override;
  bool Ended() const;
  void ScriptAnswers(std::vector<int> answers);
  std::vector<Box> Boxes() const;
  void Clear();

 private:
  struct State;
  std::shared_ptr<State> state_ = MakeState();
  static std::shared_ptr<State> MakeState();
};

}  // namespace vts::plat
