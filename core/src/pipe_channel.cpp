// CPipeChannel over the platform's Unix stream sockets.
#include "core/pipe_channel.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/core_thread.h"
#include "core/stream_protocol.h"
#include "platform/known_folders.h"
#include "platform/socket.h"

namespace vts {

using namespace std::chrono_literals;

struct CPipeChannel::Connection {
  plat::WPARAM handle = 0;
  plat::UniqueFd fd;  // closed when the last holder (reader or writer) lets go
  std::mutex writeLock;
  std::atomic<bool> broken{false};
};

std::string CPipeChannel::PipePath(const std::string& pipeName) {
  return plat::RuntimeFolder() + "/pipes/" + pipeName;
}

CPipeChannel::CPipeChannel(std::string pipeName, plat::ThreadId targetThread, std::uint32_t message)
    : name_(std::move(pipeName)),
      path_(PipePath(name_)),
      target_(targetThread),
      message_(message),
      faults_(LOG_WAVE_MANAGER, kFaultLogInterval) {}

CPipeChannel::~CPipeChannel() { Stop(); }

bool CPipeChannel::Start(Mode mode) {
  if (connectThread_.joinable()) return true;
  plat::EnsurePrivateFolder(plat::RuntimeFolder() + "/pipes");
  mode_ = mode;
  running_ = true;
  try {
    connectThread_ = std::thread(
        mode == Mode::kServer ? &CPipeChannel::ServeLoop : &CPipeChannel::ConnectLoop, this);
  } catch (const std::system_error&) {
    running_ = false;  // inert: no thread, nothing to stop
    return false;
  }
  return true;
}

void CPipeChannel::Stop() {
  running_ = false;
  {
    std::lock_guard lock(lock_);
    for (auto& [handle, c] : connections_) plat::ShutdownSocket(c->fd.get());
  }
  wake_.notify_all();
  if (connectThread_.joinable()) connectThread_.join();
  // No new reader starts now; wait for every one (each removes its connection).
  std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> readers;
  {
    std::lock_guard lock(lock_);
    readers.swap(readers_);
    for (auto& [handle, c] : connections_) plat::ShutdownSocket(c->fd.get());
  }
  for (auto& [t, done] : readers)
    if (t.joinable()) t.join();
}

bool CPipeChannel::Sleep(std::chrono::milliseconds d) {
  std::unique_lock lock(lock_);
  wake_.wait_for(lock, d, [this] { return !running_; });
  return running_;
}

void CPipeChannel::ReapReaders() {
  std::vector<std::thread> finished;
  {
    std::lock_guard lock(lock_);
    for (auto it = readers_.begin(); it != readers_.end();) {
      if (it->second->load()) {
        finished.push_back(std::move(it->first));
        it = readers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (std::thread& t : finished) t.join();
}

void CPipeChannel::Post(plat::WPARAM handle, plat::LPARAM lParam) {
  // A target without a queue cannot take the block: free it here.
  if (!plat::PostThreadMessage(target_, message_, handle, lParam)) FreePipeBlock(lParam);
}

bool CPipeChannel::AddConnection(int fd) {
  auto c = std::make_shared<Connection>();
  c->fd.reset(fd);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(lock_);
  if (!running_ || connections_.size() >= kMaxConnections) return false;
  c->handle = nextHandle_++;
  try {
    std::thread reader([this, c, done] {
      ReadLoop(c);
      *done = true;
    });
    readers_.emplace_back(std::move(reader), done);
  } catch (const std::system_error&) {
    return false;  // the connection closes with `c`
  }
  connections_[c->handle] = c;
  return true;
}

void CPipeChannel::ConnectLoop() {
  while (running_) {
    ReapReaders();
    bool connected;
    {
      std::lock_guard lock(lock_);
      connected = !connections_.empty();
    }
    if (!connected) {
      plat::UniqueFd fd = plat::ConnectUnixSocket(path_, plat::DeadlineIn(100ms));
      if (fd) AddConnection(fd.release());
      if (!Sleep(kRetryInterval)) break;
    } else {
      // Nothing to do until the connection ends (its reader says so) or the channel stops.
      std::unique_lock lock(lock_);
      wake_.wait(lock, [this] { return !running_ || connections_.empty(); });
    }
  }
}

void CPipeChannel::ServeLoop() {
  plat::UniqueFd listener;
  while (running_) {
    ReapReaders();
    if (!listener) {
      std::string error;
      listener = plat::ListenUnixSocket(path_, static_cast<int>(kMaxConnections), &error);
      if (!listener) {
        if (!Sleep(kRetryInterval)) break;
        continue;
      }
    }
    if (!plat::WaitReadable(listener.get(), plat::DeadlineIn(kRetryInterval))) continue;
    plat::UniqueFd fd = plat::AcceptUnixSocket(listener.get(), nullptr);
    if (fd) AddConnection(fd.release());  // a 17th is closed at once
  }
}

namespace {

// Why a connection that the peer ended is gone.
std::string EndOfStream(const PipeFramer& framer, plat::ReceiveStatus status, int error) {
  if (status == plat::ReceiveStatus::kError)
    return std::string("reading from the peer failed (") + std::strerror(error) +
           "); the connection is dropped";
  if (!framer.Partial()) return "the peer closed the connection";
  const std::string came = std::to_string(framer.PartialBytes());
  if (framer.PartialSize() == 4)
    return "the connection ended in the middle of a message (" + came +
           " of its 4 length bytes came)";
  return "the connection ended in the middle of a message (" + came + " of " +
         std::to_string(framer.PartialSize()) + " bytes came)";
}

}  // namespace

void CPipeChannel::ReportFault(const std::string& what) { faults_.Write(name_ + ": " + what); }

void CPipeChannel::ReadLoop(std::shared_ptr<Connection> c) {
  Post(c->handle, kPipeConnected);
  PipeFramer framer;
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::string fault;
  while (running_ && !c->broken) {
    // No time limit: Stop and a failed write shut the socket down, which wakes the wait.
    if (!plat::WaitReadable(c->fd.get(), plat::Deadline::max())) continue;
    std::size_t got = 0;
    const plat::ReceiveStatus status =
        plat::ReceiveSome(c->fd.get(), buffer.data(), buffer.size(), &got);
    if (status == plat::ReceiveStatus::kWouldBlock) continue;
    if (status != plat::ReceiveStatus::kData) {
      fault = EndOfStream(framer, status, errno);
      break;
    }
    const bool ok = framer.Feed({buffer.data(), got}, [&](std::span<const std::uint8_t> m) {
      Post(c->handle, AllocPipeBlock(m.data(), static_cast<std::uint32_t>(m.size())));
    });
    if (!ok) {  // a length past the cap: the stream cannot be trusted any more
      fault = "length " + std::to_string(framer.RefusedLength()) + " is over the limit of " +
              std::to_string(kMaxPipeMessageBytes) + " bytes; the connection is dropped";
      break;
    }
  }
  // Ends of our own making are no fault of the peer's (a failed write has its own line).
  if (!fault.empty() && running_ && !c->broken) ReportFault(fault);
  c->broken = true;
  Post(c->handle, kPipeDisconnected);
  {
    std::lock_guard lock(lock_);
    connections_.erase(c->handle);
    plat::ShutdownSocket(c->fd.get());
  }
  wake_.notify_all();  // a client's connect thread tries again
}

bool CPipeChannel::Write(plat::WPARAM handle, std::span<const std::uint8_t> bytes) {
  std::shared_ptr<Connection> c;
  {
    std::lock_guard lock(lock_);
    auto it = connections_.find(handle);
    if (it == connections_.end()) return false;
    c = it->second;
  }
  std::lock_guard write(c->writeLock);
  if (c->broken) return false;
  if (plat::SendAll(c->fd.get(), bytes.data(), bytes.size(), plat::DeadlineIn(kWriteWait)))
    return true;
  // Part of the message may have gone: the peer's framing is lost, so the connection ends.
  const bool stopping = !running_;
  c->broken = true;
  plat::ShutdownSocket(c->fd.get());
  if (!stopping)
    ReportFault("a write to the peer failed or took over " + std::to_string(kWriteWait.count()) +
                " ms; the connection is dropped");
  return false;
}

std::size_t CPipeChannel::ConnectionCount() const {
  std::lock_guard lock(lock_);
  return connections_.size();
}

}  // namespace vts
