// Message-box service dispatch, the default (no GUI) service and the recording service.
#include "platform/message_box.h"

#include "platform/utf.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace vts::plat {
namespace {

std::mutex g_serviceMutex;
std::shared_ptr<IMessageBoxService>& Service() {
  static auto* service = new std::shared_ptr<IMessageBoxService>();
  return *service;
}

}  // namespace

int DefaultAnswer(unsigned type) {
  switch (type & 0xF) {
    case MB_YESNOCANCEL:
      return IDCANCEL;
    case MB_YESNO:
      return IDNO;
    default:
      return IDOK;
  }
}

namespace {

std::shared_ptr<IMessageBoxService> InstalledService() {
  std::lock_guard lock(g_serviceMutex);
  return Service();
}

void LogUnshown(const std::u16string& text, const std::u16string& caption) {
  std::fprintf(stderr, "[%s] %s\n", Utf16ToUtf8(caption).c_str(), Utf16ToUtf8(text).c_str());
}

}  // namespace

int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) {
  if (std::shared_ptr<IMessageBoxService> service = InstalledService())
    return service->Show(text, caption, type);
  LogUnshown(text, caption);
  return DefaultAnswer(type);
}

void MessageBoxWithoutWaiting(const std::u16string& text, const std::u16string& caption,
                              unsigned type) {
  if (std::shared_ptr<IMessageBoxService> service = InstalledService())
    return service->ShowWithoutWaiting(text, caption, type);
  LogUnshown(text, caption);
}

void EndMessageBoxes() {
  if (std::shared_ptr<IMessageBoxService> service = InstalledService()) service->EndBoxes();
}

void SetMessageBoxService(std::shared_ptr<IMessageBoxService> service) {
  std::lock_guard lock(g_serviceMutex);
  Service() = std::move(service);
}

struct RecordingMessageBoxService::State {
  mutable std::mutex mutex;
  std::vector<Box> boxes;
  std::deque<int> answers;
  bool ended = false;
};

std::shared_ptr<RecordingMessageBoxService::State> RecordingMessageBoxService::MakeState() {
  return std::make_shared<State>();
}

int RecordingMessageBoxService::Show(const std::u16string& text, const std::u16string& caption, unsigned type) {
  std::lock_guard lock(state_->mutex);
  state_->boxes.push_back(Box{text, caption, type});
  if (state_->ended || state_->answers.empty()) return DefaultAnswer(type);
  int answer = state_->answers.front();
  state_->answers.pop_front();
  return answer;
}

void RecordingMessageBoxService::EndBoxes() {
  std::lock_guard lock(state_->mutex);
  state_->ended = true;
}

bool RecordingMessageBoxService::Ended() const {
  std::lock_guard lock(state_->mutex);
  return state_->ended;
}

void RecordingMessageBoxService::ScriptAnswers(std::vector<int> answers) {
  std::lock_guard lock(state_->mutex);
  state_->answers.assign(answers.begin(), answers.end());
}

std::vector<RecordingMessageBoxService::Box> RecordingMessageBoxService::Boxes() const {
  std::lock_guard lock(state_->mutex);
  return state_->boxes;
}

void RecordingMessageBoxService::Clear() {
  std::lock_guard lock(state_->mutex);
  state_->boxes.clear();
  state_->answers.clear();
  state_->ended = false;
}

}  // namespace vts::plat
