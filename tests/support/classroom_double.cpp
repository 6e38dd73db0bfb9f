// Classroom daemon and framework double.
#include "classroom_double.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/named_mutex.h"

namespace vts::test {
namespace {

std::size_t SlotOffset(unsigned position) {
  return position == 2 ? kUsbSlotOffsetPos2 : kUsbSlotOffsetPos01;
}

// Holds "GP_MYRECORDMUTEX" while the framework touches the USB shared memory.
class RecordMutexGuard {
 public:
  RecordMutexGuard() : mutex_(kRecordMutexName), lock_(mutex_) {}
  bool Held() const { return lock_.OwnsLock(); }

 private:
  plat::NamedMutex mutex_;
  plat::NamedMutexLock lock_;
};

}  // namespace

std::u16string RecorderWindowText(unsigned position) {
  std::string s = "_" + std::to_string(position) + "VoxtrailstudyUser";
  return std::u16string(s.begin(), s.end());
}

std::string DescribeMessage(const ReceivedMessage& m) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s msg=0x%x wParam=%lld lParam=%lld", m.sent ? "send" : "post",
                m.message, static_cast<long long>(static_cast<std::intptr_t>(m.wParam)),
                static_cast<long long>(m.lParam));
  std::string line = buf;
  if (m.hasCopyData) {
    line += " dwData=" + std::to_string(m.dwData) + " data=";
    static const char* digits = "0123456789abcdef";
    for (std::uint8_t b : m.payload) {
      line.push_back(digits[b >> 4]);
      line.push_back(digits[b & 15]);
    }
  }
  return line;
}

// ---------------------------------------------------------------- window double

ClassroomWindowDouble::~ClassroomWindowDouble() { Stop(); }

bool ClassroomWindowDouble::Start(const std::string& className, const std::u16string& text,
                                  std::string* error) {
  if (window_) return true;
  window_ = plat::BusWindow::Create(
      className, text, [this](const plat::WindowMessage& m) { return Handle(m); }, {}, error);
  if (!window_) return false;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ClassroomWindowDouble::Stop() {
  {
    std::lock_guard l(mutex_);
    stop_ = true;
    hung_ = false;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  window_.reset();
}

void ClassroomWindowDouble::Run() {
  for (;;) {
    {
      std::unique_lock l(mutex_);
      if (stop_) return;
      if (hung_) {
        cv_.wait_for(l, std::chrono::milliseconds(50));
        continue;
      }
    }
    window_->WaitAndDispatch(std::chrono::milliseconds(50));
  }
}

plat::WindowId ClassroomWindowDouble::Id() const { return window_ ? window_->Id() : 0; }

void ClassroomWindowDouble::SetReply(plat::LRESULT reply) {
  std::lock_guard l(mutex_);
  reply_ = reply;
}

void ClassroomWindowDouble::SetHung(bool hung) {
  {
    std::lock_guard l(mutex_);
    hung_ = hung;
  }
  cv_.notify_all();
}

void ClassroomWindowDouble::OnMessage(std::function<void(const ReceivedMessage&)> callback) {
  std::lock_guard l(mutex_);
  callback_ = std::move(callback);
}

plat::LRESULT ClassroomWindowDouble::Handle(const plat::WindowMessage& m) {
  ReceivedMessage r;
  r.message = m.message;
  r.wParam = m.wParam;
  r.lParam = m.hasCopyData ? 0 : m.lParam;
  r.sent = m.sent;
  r.senderProcessId = m.senderProcessId;
  if (m.hasCopyData) {
    const auto* cds = reinterpret_cast<const plat::COPYDATASTRUCT*>(m.lParam);
    r.hasCopyData = true;
    r.dwData = cds->dwData;
    const auto* bytes = static_cast<const std::uint8_t*>(cds->lpData);
    r.payload.assign(bytes, bytes + cds->cbData);
  }
  std::function<void(const ReceivedMessage&)> callback;
  plat::LRESULT reply;
  {
    std::lock_guard l(mutex_);
    received_.push_back(r);
    callback = callback_;
    reply = reply_;
  }
  cv_.notify_all();
  if (callback) callback(r);
  return r.hasCopyData ? static_cast<plat::LRESULT>(r.payload.size()) : reply;
}

std::vector<ReceivedMessage> ClassroomWindowDouble::Received() const {
  std::lock_guard l(mutex_);
  return received_;
}

bool ClassroomWindowDouble::WaitFor(std::uint32_t message, std::chrono::milliseconds timeout,
                                    ReceivedMessage* out) const {
  std::unique_lock l(mutex_);
  bool found = cv_.wait_for(l, timeout, [&] {
    for (const auto& r : received_)
      if (r.message == message) return true;
    return false;
  });
  if (found && out) {
    for (const auto& r : received_)
      if (r.message == message) {
        *out = r;
        break;
      }
  }
  return found;
}

bool ClassroomWindowDouble::WaitForCount(std::size_t count,
                                         std::chrono::milliseconds timeout) const {
  std::unique_lock l(mutex_);
  return cv_.wait_for(l, timeout, [&] { return received_.size() >= count; });
}

// ---------------------------------------------------------------- framework double

std::string DestinationText(const std::vector<Destination>& list) {
  std::string s;
  for (const auto& d : list) {
    s += std::to_string(d.number) + "|" + std::to_string(d.address[0]) + "." +
         std::to_string(d.address[1]) + "." + std::to_string(d.address[2]) + "." +
         std::to_string(d.address[3]) + "|";
  }
  return s;
}

plat::WindowId ClassroomFrameworkDouble::FindRecorder(unsigned position) {
  return plat::FindWindow("", RecorderWindowText(position));
}

bool ClassroomFrameworkDouble::PostFrameworkRequest(plat::WindowId recorder, plat::WPARAM request) {
  return plat::PostMessage(recorder, WM_FRAMEWORKREQUEST, request, 0);
}

bool ClassroomFrameworkDouble::PostRemoteControl(plat::WindowId recorder, std::intptr_t command,
                                                 plat::LPARAM argument) {
  return plat::PostMessage(recorder, WM_REMOTECONTROL, static_cast<plat::WPARAM>(command),
                           argument);
}

bool ClassroomFrameworkDouble::PostSliderLevel(plat::WindowId recorder, plat::WPARAM slider,
                                               plat::LPARAM level) {
  return plat::PostMessage(recorder, WM_SETSLIDERLEVEL, slider, level);
}

bool ClassroomFrameworkDouble::SendCopyText(plat::WindowId recorder, plat::ULONG_PTR dwData,
                                            const std::string& text, plat::LRESULT* result,
                                            std::chrono::milliseconds timeout) {
  return plat::SendCopyData(recorder, 0, dwData, text.data(),
                            static_cast<std::uint32_t>(text.size()), result, timeout);
}

bool ClassroomFrameworkDouble::SendDestinations(plat::WindowId recorder,
                                                const std::vector<Destination>& list,
                                                plat::LRESULT* result,
                                                std::chrono::milliseconds timeout) {
  return SendCopyText(recorder, kCopyDataDestinations, DestinationText(list), result, timeout);
}

bool ClassroomFrameworkDouble::CreateUsbSharedMemory(std::string* error) {
  if (usb_) return true;
  usb_ = plat::SharedMemory::Create(kUsbSharedMemoryName, kUsbSharedMemoryBytes, nullptr, error);
  return usb_ != nullptr;
}

bool ClassroomFrameworkDouble::SetTargetPath(unsigned position, const std::string& path) {
  if (!usb_ || usb_->Size() < kUsbSharedMemoryBytes) return false;
  RecordMutexGuard lock;
  if (!lock.Held()) return false;
  std::uint8_t* slot = usb_->Data() + SlotOffset(position);
  std::memset(slot, 0, kUsbSlotBytes);
  std::memcpy(slot, path.data(), std::min(path.size(), kUsbSlotBytes - 1));
  return true;
}

std::vector<std::uint8_t> ClassroomFrameworkDouble::ReadSlot(unsigned position) const {
  if (!usb_ || usb_->Size() < kUsbSharedMemoryBytes) return {};
  RecordMutexGuard lock;
  if (!lock.Held()) return {};
  const std::uint8_t* slot = usb_->Data() + SlotOffset(position);
  return std::vector<std::uint8_t>(slot, slot + kUsbSlotBytes);
}

bool ClassroomFrameworkDouble::CreateStudySharedMemory(std::size_t size, std::string* error) {
  if (study_) return true;
  study_ = plat::SharedMemory::Create(kStudySharedMemoryName, size, nullptr, error);
  return study_ != nullptr;
}

std::u16string ClassroomFrameworkDouble::ReadSentWorkPath() const {
  std::u16string s;
  if (!study_) return s;
  const std::uint8_t* p = study_->Data();
  for (std::size_t i = 0; i + 1 < study_->Size(); i += 2) {
    char16_t c = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

void ClassroomFrameworkDouble::ReleaseSharedMemories() {
  usb_.reset();
  study_.reset();
}

}  // namespace vts::test
