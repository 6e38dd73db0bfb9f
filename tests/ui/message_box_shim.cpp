// The message-box service for the window tests while the platform library is not built:
// boxes go to the installed service, or get the default answer.
#include <mutex>

#include "platform/message_box.h"

namespace vts::plat {
namespace {
std::shared_ptr<IMessageBoxService> g_service;
}

int DefaultAnswer(unsigned type) {
  switch (type & 0xF) {
    case MB_YESNOCANCEL: return IDCANCEL;
    case MB_YESNO: return IDNO;
    default: return IDOK;
  }
}

int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) {
  if (g_service) return g_service->Show(text, caption, type);
  return DefaultAnswer(type);
}

void SetMessageBoxService(std::shared_ptr<IMessageBoxService> service) {
  g_service = std::move(service);
}

struct RecordingMessageBoxService::State {
  std::mutex lock;
  std::vector<Box> boxes;
  std::vector<int> answers;
};

std::shared_ptr<RecordingMessageBoxService::State> RecordingMessageBoxService::MakeState() {
  return std::make_shared<State>();
}

int RecordingMessageBoxService::Show(const std::u16string& text, const std::u16string& caption,
                                     unsigned type) {
  std::lock_guard<std::mutex> g(state_->lock);
  state_->boxes.push_back({text, caption, type});
  if (!state_->answers.empty()) {
    int a = state_->answers.front();
    state_->answers.erase(state_->answers.begin());
    return a;
  }
  return DefaultAnswer(type);
}

void RecordingMessageBoxService::ScriptAnswers(std::vector<int> answers) {
  std::lock_guard<std::mutex> g(state_->lock);
  state_->answers = std::move(answers);
}

std::vector<RecordingMessageBoxService::Box> RecordingMessageBoxService::Boxes() const {
  std::lock_guard<std::mutex> g(state_->lock);
  return state_->boxes;
}

void RecordingMessageBoxService::Clear() {
  std::lock_guard<std::mutex> g(state_->lock);
  state_->boxes.clear();
}

}  // namespace vts::plat
