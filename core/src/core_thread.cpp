// The core thread's loop and its message handling.
#include "core/core_thread.h"

#include <cstring>
#include <future>
#include <memory>

#include "core/log.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace vts {
namespace {

// Runs a std::function<void()>* on the core thread, then fulfils the promise behind it.
constexpr std::uint32_t WM_CORE_APPLY = plat::WM_USER + 0x91;
// Runs a heap std::function<void()> (lParam) on the core thread; nobody waits for it.
constexpr std::uint32_t WM_CORE_TASK = plat::WM_USER + 0x92;

struct ApplyRequest {
  std::function<void()> change;
  std::promise<void> done;
};

// Runs a posted change and wakes the caller that waits for it.
void RunApply(plat::LPARAM lParam) {
  auto* req = reinterpret_cast<ApplyRequest*>(lParam);
  if (req->change) req->change();
  req->done.set_value();
  delete req;
}

std::atomic<SoundPayloadReleaser> g_releaser{nullptr};

void ReleaseSound(plat::WPARAM descr) {
  if (descr == 0) return;
  if (SoundPayloadReleaser r = g_releaser.load()) r(descr);
}

}  // namespace

plat::LPARAM AllocPipeBlock(const void* bytes, std::uint32_t length) {
  auto* block = new std::uint8_t[4 + static_cast<std::size_t>(length)];
  std::memcpy(block, &length, 4);
  if (length) std::memcpy(block + 4, bytes, length);
  return reinterpret_cast<plat::LPARAM>(block);
}

void FreePipeBlock(plat::LPARAM block) {
  if (IsPipeBlock(block)) delete[] reinterpret_cast<std::uint8_t*>(block);
}

bool IsPipeBlock(plat::LPARAM lParam) {
  return lParam != kPipeConnected && lParam != kPipeDisconnected;
}

void SetSoundPayloadReleaser(SoundPayloadReleaser releaser) { g_releaser.store(releaser); }

void ReleaseCoreMessagePayload(const plat::Msg& msg) {
  switch (msg.message) {
    case WM_SOUND_OUT:
    case WM_SOUND_IN:
      ReleaseSound(msg.wParam);
      break;
    case WM_CORE_IFACE_PIPE:
    case WM_CORE_STREAM_PIPE:
      FreePipeBlock(msg.lParam);
      break;
    case WM_CORE_TASK:
      delete reinterpret_cast<std::function<void()>*>(msg.lParam);  // never run after the end
      break;
    case WM_CORE_APPLY:
      // The thread ended before it got to the change: run it here, so the caller's state is
      // still consistent, and wake the caller.
      RunApply(msg.lParam);
      break;
    default:
      break;
  }
}

CCoreThread::~CCoreThread() { Stop(); }

bool CCoreThread::Start() {
  if (thread_.joinable()) return true;
  std::promise<void> ready;
  auto started = ready.get_future();
  try {
    thread_ = std::thread(&CCoreThread::Run, this, &ready);
  } catch (const std::system_error&) {
    return false;
  }
  started.wait();
  return true;
}

void CCoreThread::Stop() {
  if (!thread_.joinable()) return;
  plat::PostThreadMessage(id_, plat::WM_QUIT, 0, 0);
  thread_.join();
}

void CCoreThread::Run(std::promise<void>* ready) {
  plat::SetCurrentThreadName("vts-core");  // for the per-thread figures
  plat::CreateQueueByPostingToSelf();
  id_ = plat::CurrentThreadId();
  ready->set_value();

  plat::Msg msg;
  while (plat::GetMessage(&msg)) {
    switch (msg.message) {
      case WM_SOUND_OUT:
        HandleSoundOut(msg.wParam);
        break;
      case WM_SOUND_IN:
        HandleSoundIn(msg.wParam, msg.lParam);
        break;
      case WM_RECORDING_MOVES:
        HandleRecordingMoves(msg.wParam, msg.lParam);
        break;
      case WM_SOUND_LOST:
        if (master_) master_->OnDeviceLost(msg.wParam, msg.lParam);
        if (student_) student_->OnDeviceLost(msg.wParam, msg.lParam);
        break;
      case WM_CORE_IFACE_PIPE:
        // Nothing is ever sent or understood on this pipe: keep the handle, free any data.
        if (msg.lParam == kPipeConnected) {
          interfacePipe_ = msg.wParam;
        } else if (msg.lParam == kPipeDisconnected) {
          interfacePipe_ = 0;
        } else {
          FreePipeBlock(msg.lParam);
        }
        break;
      case WM_CORE_STREAM_PIPE:
        if (stream_.onStreamPipeData) {
          stream_.onStreamPipeData(msg.wParam, msg.lParam);
        } else {
          FreePipeBlock(msg.lParam);
        }
        break;
      case WM_CORE_TASK: {
        std::unique_ptr<std::function<void()>> task(
            reinterpret_cast<std::function<void()>*>(msg.lParam));
        if (*task) (*task)();
        break;
      }
      case WM_CORE_APPLY:
        RunApply(msg.lParam);
        break;
      default:
        break;  // WM_USER of the queue's creation, anything else
    }
  }
  plat::EndQueue(ReleaseCoreMessagePayload);
}

void CCoreThread::HandleSoundOut(plat::WPARAM descr) {
  WriteLog(LOG_WAVE_MANAGER, "WM_SOUND_OUT message");
  plat::WPARAM v = descr;
  if (master_) master_->OnBufferPlayed(&v);
  if (v != 0 && student_) student_->OnBufferPlayed(&v);
  // Owned by no track (or no tracks exist): release it rather than leak it.
  if (v != 0) ReleaseSound(v);
}

void CCoreThread::HandleSoundIn(plat::WPARAM descr, plat::LPARAM engineTag) {
  if (descr == 0 && master_ && master_->TakesEndMark(engineTag)) {
    master_->OnCapturedBlockFrom(0, engineTag);
    return;
  }
  const bool streaming = Streaming();
  if (!student_) {
    ReleaseSound(descr);
    return;
  }
  // The end mark reaches the track first too: the recording's pending audio is then in the
  // chunk, and the final block carries it.
  student_->OnCapturedBlockFrom(descr, engineTag);
  if (streaming) SendStudentStream(descr == 0);
}

void CCoreThread::HandleRecordingMoves(plat::WPARAM chunkIndex, plat::LPARAM engineTag) {
  if (master_ && master_->TakesEndMark(engineTag)) {
    master_->OnRecordingMoves(chunkIndex, engineTag);
    return;
  }
  if (!student_) return;
  // What the chunk left holds goes out first, as at the end of a recording.
  if (Streaming()) SendStudentStream(true);
  student_->OnRecordingMoves(chunkIndex, engineTag);
}

bool CCoreThread::Streaming() const {
  return stream_.isStreaming && stream_.sendStreamBlock && stream_.isStreaming();
}

void CCoreThread::SendStudentStream(bool final) {
  if (stream_.sendStreamBlock(final)) return;
  if (stream_.stopStreaming) stream_.stopStreaming();
  // Shown by the window without waiting for the answer: the captured blocks behind this one
  // must reach the recording meanwhile, also when it is stopped or saved with the box up.
  plat::MessageBoxWithoutWaiting(u"StreamingMode will be disabled", u"Error streaming",
                                 plat::MB_OK);
}

void CCoreThread::Apply(std::function<void()> change) {
  if (!thread_.joinable() || plat::CurrentThreadId() == id_) {
    change();
    return;
  }
  auto* req = new ApplyRequest{std::move(change), {}};
  auto done = req->done.get_future();
  if (!plat::PostThreadMessage(id_, WM_CORE_APPLY, 0, reinterpret_cast<plat::LPARAM>(req))) {
    // The queue is gone, so the thread runs no handler any more.
    req->change();
    delete req;
    return;
  }
  done.wait();
}

void CCoreThread::SetTrackHandlers(ITrackSoundHandlers* master, ITrackSoundHandlers* student) {
  Apply([this, master, student] {
    master_ = master;
    student_ = student;
  });
}

void CCoreThread::SetStreamHandlers(StreamHandlers handlers) {
  Apply([this, h = std::move(handlers)]() mutable { stream_ = std::move(h); });
}

bool CCoreThread::PostTask(std::function<void()> task) {
  if (!thread_.joinable()) return false;
  auto* heap = new std::function<void()>(std::move(task));
  if (plat::PostThreadMessage(id_, WM_CORE_TASK, 0, reinterpret_cast<plat::LPARAM>(heap)))
    return true;
  delete heap;
  return false;
}

plat::WPARAM CCoreThread::InterfacePipeHandle() const { return interfacePipe_.load(); }

}  // namespace vts
