// Window bus: registrations in <runtime>/windows, one listening socket per window, one
// request per connection. A post is acknowledged once it is queued (so a sender's posts
// and sends keep their order); a send is answered when the handler has run.
#include "platform/window_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/notice.h"
#include "platform/socket.h"
#include "platform/window_bus_wire.h"

namespace vts::plat {

using namespace bus_wire;

namespace {

using Clock = std::chrono::steady_clock;
using Fd = UniqueFd;

// A sender gets this long to hand over a whole request; slower (or silent) peers are dropped.
constexpr std::chrono::milliseconds kRequestReadLimit{5000};
// Connections one window serves at once; more are refused.
constexpr std::size_t kMaxConnections = 64;
// A post waits this long for the receiver's bus thread to take it.
constexpr std::chrono::milliseconds kPostTimeout{3000};
constexpr std::size_t kMaxRegistrationBytes = 8192;

// ---------------------------------------------------------------- small helpers

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool EqualsNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// Start time of a process (clock ticks since boot), 0 when it does not run or is a zombie.
std::uint64_t ProcessStartTime(std::uint32_t pid) {
  if (pid == 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  Fd f(::open(path, O_RDONLY | O_CLOEXEC));
  if (!f) return 0;
  char buf[1024];
  ssize_t n = ::read(f.get(), buf, sizeof buf - 1);
  if (n <= 0) return 0;
  buf[n] = 0;
  char* close = std::strrchr(buf, ')');
  if (!close) return 0;
  // After ") " come: state (field 3) ... starttime (field 22).
  char* p = close + 1;
  int field = 2;
  char state = 0;
  std::uint64_t start = 0;
  while (*p && field < 22) {
    while (*p == ' ') ++p;
    ++field;
    if (field == 3) state = *p;
    if (field == 22) start = std::strtoull(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  if (state == 'Z' || state == 'X' || field != 22) return 0;
  return start;
}

std::uint64_t RealtimeNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

// ---------------------------------------------------------------- registrations

bool ReadSmallFile(const std::string& path, std::string* out) {
  ReadFileOptions options;
  options.maxBytes = kMaxRegistrationBytes;
  options.followSymlink = false;
  return ReadWholeFile(path, out, options) == ReadFileStatus::kOk;
}

bool WriteRegistration(const std::string& folder, const Registration& r) {
  return WriteFileAtomically(folder + "/" + IdName(r.id) + ".win", FormatRegistration(r), 0600);
}

bool RegistrationAlive(const Registration& r) {
  std::uint64_t start = ProcessStartTime(r.pid);
  return start != 0 && start == r.startTime;
}

// Removes a dead window's files, unless someone re-registered the id meanwhile.
void RemoveStale(const std::string& folder, WindowId id, const std::string& seenBody) {
  std::string win = folder + "/" + IdName(id) + ".win";
  std::string now;
  if (ReadSmallFile(win, &now) && now != seenBody) return;
  ::unlink((folder + "/" + IdName(id) + ".sock").c_str());
  ::unlink(win.c_str());
}

// Reads one registration by id; false when absent, unreadable (then moved aside, as no
// window of ours wrote it: registrations appear whole, by rename) or dead (then cleaned up).
bool LoadLive(const std::string& folder, WindowId id, Registration* r) {
  const std::string path = folder + "/" + IdName(id) + ".win";
  std::string body;
  if (!ReadSmallFile(path, &body)) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
      MoveUnreadableAside(
          path, "not a plain file of at most " + std::to_string(kMaxRegistrationBytes) + " bytes");
    }
    return false;
  }
  if (!ParseRegistration(body, r) || r->id != id) {
    MoveUnreadableAside(path, "not a window registration");
    return false;
  }
  if (!RegistrationAlive(*r)) {
    RemoveStale(folder, id, body);
    return false;
  }
  return true;
}

std::vector<Registration> LoadAllLive(const std::string& folder) {
  std::vector<Registration> out;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return out;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
  ::closedir(d);
  for (const auto& name : names) {
    WindowId id;
    if (ParseIdName(name, ".win", &id)) {
      Registration r;
      if (LoadLive(folder, id, &r)) out.push_back(std::move(r));
    } else if (ParseIdName(name, ".sock", &id)) {
      // A socket without a registration is a window that died while registering.
      struct stat st;
      if (::stat((folder + "/" + IdName(id) + ".win").c_str(), &st) != 0 &&
          ProcessStartTime(static_cast<std::uint32_t>(id >> 32)) == 0)
        ::unlink((folder + "/" + name).c_str());
    }
  }
  return out;
}

Fd ConnectTo(const std::string& folder, WindowId id, Deadline deadline) {
  return ConnectUnixSocket(folder + "/" + IdName(id) + ".sock", deadline);
}

}  // namespace

// ---------------------------------------------------------------- the window

namespace bus_detail {

struct LocalReply {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  bool delivered = false;
  LRESULT result = 0;
  void Finish(bool ok, LRESULT r) {
    std::lock_guard l(m);
    done = true;
    delivered = ok;
    result = r;
    cv.notify_all();
  }
};

struct Pending {
  WindowMessage msg;
  Fd replyTo;                         // a remote sender waiting for the result
  std::shared_ptr<LocalReply> local;  // a sender of this process waiting
};

}  // namespace bus_detail

using bus_detail::LocalReply;
using bus_detail::Pending;

struct BusWindow::Impl {
  std::string folder;
  WindowId id = 0;
  pid_t pid = 0;  // a forked child sees our memory but not our threads
  Handler handler;
  Wake wake;

  mutable std::mutex regMutex;  // the registration's class and text
  Registration reg;

  mutable std::mutex qMutex;
  std::condition_variable qCv;
  std::deque<Pending> queue;
  bool closed = false;
  std::atomic<std::thread::id> ownerThread;

  Fd listenFd;
  Fd wakeFd;
  std::thread io;

  void IoLoop();
  // Takes one message into the queue (moving from p only then); false when the queue is
  // full or the window closed.
  bool Enqueue(Pending& p);
  void Reply(Pending& p, bool delivered, LRESULT result);
  void Close();
};

namespace {

std::mutex g_localMutex;
std::map<WindowId, std::weak_ptr<BusWindow::Impl>> g_local;
std::atomic<std::uint32_t> g_serial{0};

std::shared_ptr<BusWindow::Impl> FindLocal(WindowId id) {
  std::lock_guard l(g_localMutex);
  auto it = g_local.find(id);
  if (it == g_local.end()) return nullptr;
  auto w = it->second.lock();
  if (w && w->pid != ::getpid()) return nullptr;
  return w;
}

void SendReplyFrame(int fd, std::uint32_t status, LRESULT result) {
  const auto frame = EncodeReply(status, result);
  // The socket's buffer is empty at this point; a sender that went away is simply lost.
  (void)SendNow(fd, frame.data(), frame.size());
}

struct Connection {
  Fd fd;
  Clock::time_point deadline;
  std::vector<std::uint8_t> buf;
  std::size_t want = kRequestHeaderBytes;
  bool headerChecked = false;
  std::uint32_t peerPid = 0;  // from the kernel, not from the request
};

}  // namespace

bool BusWindow::Impl::Enqueue(Pending& p) {
  {
    std::lock_guard l(qMutex);
    if (closed || queue.size() >= kMaxQueuedMessages) return false;
    queue.push_back(std::move(p));
  }
  qCv.notify_all();
  if (wake) wake();
  return true;
}

void BusWindow::Impl::Reply(Pending& p, bool delivered, LRESULT result) {
  if (p.replyTo) {
    if (delivered) SendReplyFrame(p.replyTo.get(), kStatusOk, result);
    p.replyTo.reset();  // closing without an answer tells the sender it failed
  }
  if (p.local) p.local->Finish(delivered, result);
}

void BusWindow::Impl::IoLoop() {
  std::vector<Connection> conns;
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({wakeFd.get(), POLLIN, 0});
    fds.push_back({listenFd.get(), POLLIN, 0});
    int timeout = -1;
    for (auto& c : conns) {
      fds.push_back({c.fd.get(), POLLIN, 0});
      int ms = MsLeft(c.deadline);
      timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;  // closing
    const std::size_t polled = conns.size();
    if (fds[1].revents & POLLIN) {
      for (;;) {
        PeerCredentials peer;
        Fd cfd = AcceptUnixSocket(listenFd.get(), &peer);
        if (!cfd) break;
        if (!IsSameUser(peer)) continue;
        if (conns.size() >= kMaxConnections) continue;
        Connection conn;
        conn.fd = std::move(cfd);
        conn.peerPid = peer.pid;
        conn.deadline = Clock::now() + kRequestReadLimit;
        conns.push_back(std::move(conn));
      }
    }
    // Read what arrived; finished, broken or overdue connections leave the list.
    std::vector<Connection> keep;
    for (std::size_t i = 0; i < conns.size(); ++i) {
      Connection& c = conns[i];
      // Connections accepted just now were not polled: try them as if readable.
      short rev = i < polled ? fds[i + 2].revents : static_cast<short>(POLLIN);
      bool drop = false;
      if (rev & (POLLIN | POLLHUP | POLLERR)) {
        for (;;) {
          std::size_t have = c.buf.size();
          if (have >= c.want) break;
          c.buf.resize(c.want);
          std::size_t got = 0;
          ReceiveStatus st = ReceiveSome(c.fd.get(), c.buf.data() + have, c.want - have, &got);
          c.buf.resize(have + got);
          if (st != ReceiveStatus::kData) {
            if (st != ReceiveStatus::kWouldBlock) drop = true;
            break;
          }
          if (!c.headerChecked && c.buf.size() == kRequestHeaderBytes) {
            std::size_t total = 0;
            if (!CheckRequestHeader(c.buf, &total)) {
              SendReplyFrame(c.fd.get(), kStatusBadRequest, 0);
              drop = true;
              break;
            }
            c.headerChecked = true;
            c.want = total;
          }
        }
      }
      if (!drop && c.headerChecked && c.buf.size() == c.want) {
        Request request = DecodeRequest(c.buf);
        Pending pending;
        WindowMessage& m = pending.msg;
        m.message = request.message;
        m.senderProcessId = c.peerPid;
        m.wParam = static_cast<WPARAM>(request.wParam);
        m.lParam = static_cast<LPARAM>(request.lParam);
        m.sent = request.kind == kKindSend;
        if (request.copyData) {
          m.hasCopyData = true;
          m.copyData.dwData = static_cast<ULONG_PTR>(request.dwData);
          m.payload = std::move(request.payload);
        }
        if (request.target != id) {
          SendReplyFrame(c.fd.get(), kStatusNoWindow, 0);
        } else if (request.kind == kKindPost) {
          SendReplyFrame(c.fd.get(), Enqueue(pending) ? kStatusOk : kStatusQueueFull, 0);
        } else {
          // A queued send keeps its connection open until the handler's result goes back.
          pending.replyTo = std::move(c.fd);
          if (!Enqueue(pending)) SendReplyFrame(pending.replyTo.get(), kStatusQueueFull, 0);
        }
        continue;  // this connection is done (its fd closed or handed to the queue)
      }
      if (!drop && MsLeft(c.deadline) == 0) drop = true;
      if (!drop) keep.push_back(std::move(c));
    }
    conns = std::move(keep);
  }
}

void BusWindow::Impl::Close() {
  {
    std::lock_guard l(qMutex);
    if (closed) return;
    closed = true;
  }
  {
    std::lock_guard l(g_localMutex);
    g_local.erase(id);
  }
  if (wakeFd) {
    std::uint64_t one = 1;
    (void)::write(wakeFd.get(), &one, sizeof one);
  }
  if (io.joinable()) io.join();
  ::unlink((folder + "/" + IdName(id) + ".win").c_str());
  ::unlink((folder + "/" + IdName(id) + ".sock").c_str());
  listenFd.reset();
  std::deque<Pending> left;
  {
    std::lock_guard l(qMutex);
    left.swap(queue);
  }
  for (auto& p : left) Reply(p, false, 0);
  qCv.notify_all();
}

BusWindow::BusWindow(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

BusWindow::~BusWindow() {
  if (impl_) impl_->Close();
}

std::unique_ptr<BusWindow> BusWindow::Create(const std::string& className,
                                             const std::u16string& text, Handler handler, Wake wake,
                                             std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<BusWindow> {
    if (error) *error = why;
    return nullptr;
  };
  if (className.size() > kMaxClassBytes) return fail("class name too long");
  if (text.size() > kMaxTextUnits) return fail("window text too long");
  std::string folder = WindowBusFolder();
  if (folder.empty()) return fail("the runtime folder is not private to this user");
  LoadAllLive(folder);  // sweeps registrations of dead processes

  auto impl = std::make_shared<Impl>();
  impl->folder = folder;
  std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
  impl->pid = static_cast<pid_t>(pid);
  impl->id = (static_cast<WindowId>(pid) << 32) | (++g_serial);
  impl->handler = std::move(handler);
  impl->wake = std::move(wake);
  impl->ownerThread = std::this_thread::get_id();
  impl->reg.id = impl->id;
  impl->reg.pid = pid;
  impl->reg.startTime = ProcessStartTime(pid);
  impl->reg.createdNs = RealtimeNs();
  impl->reg.className = className;
  impl->reg.text = text;

  std::string sockName = IdName(impl->id) + ".sock";
  std::string sockPath = folder + "/" + sockName;
  std::string why;
  impl->listenFd = ListenUnixSocket(sockPath, 64, &why);
  if (!impl->listenFd) return fail(why);
  impl->wakeFd = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl->wakeFd) {
    ::unlink(sockPath.c_str());
    return fail("eventfd failed");
  }
  if (!WriteRegistration(folder, impl->reg)) {
    ::unlink(sockPath.c_str());
    return fail("cannot write the window registration");
  }
  {
    std::lock_guard l(g_localMutex);
    g_local[impl->id] = impl;
  }
  Impl* raw = impl.get();
  impl->io = std::thread([raw] { raw->IoLoop(); });
  return std::unique_ptr<BusWindow>(new BusWindow(std::move(impl)));
}

WindowId BusWindow::Id() const { return impl_->id; }

std::string BusWindow::ClassName() const {
  std::lock_guard l(impl_->regMutex);
  return impl_->reg.className;
}

std::u16string BusWindow::Text() const {
  std::lock_guard l(impl_->regMutex);
  return impl_->reg.text;
}

bool BusWindow::SetText(const std::u16string& text) {
  if (text.size() > kMaxTextUnits) return false;
  std::lock_guard l(impl_->regMutex);
  Registration r = impl_->reg;
  r.text = text;
  if (!WriteRegistration(impl_->folder, r)) return false;
  impl_->reg = r;
  return true;
}

std::size_t BusWindow::DispatchPending() {
  // Kept alive here, so a handler that ends the window only ends the dispatching early.
  std::shared_ptr<Impl> keep = impl_;
  Impl& w = *keep;
  w.ownerThread = std::this_thread::get_id();
  std::size_t budget;
  {
    std::lock_guard l(w.qMutex);
    budget = w.queue.size();
  }
  std::size_t done = 0;
  while (done < budget) {
    Pending p;
    {
      std::lock_guard l(w.qMutex);
      if (w.queue.empty()) break;
      p = std::move(w.queue.front());
      w.queue.pop_front();
    }
    if (p.msg.hasCopyData) {
      p.msg.copyData.cbData = static_cast<std::uint32_t>(p.msg.payload.size());
      p.msg.copyData.lpData = p.msg.payload.empty() ? nullptr : p.msg.payload.data();
      p.msg.lParam = reinterpret_cast<LPARAM>(&p.msg.copyData);
    }
    LRESULT r = w.handler ? w.handler(p.msg) : 0;
    w.Reply(p, true, r);
    ++done;
  }
  return done;
}

std::size_t BusWindow::WaitAndDispatch(std::chrono::milliseconds timeout) {
  {
    std::unique_lock l(impl_->qMutex);
    impl_->qCv.wait_for(l, timeout, [&] { return !impl_->queue.empty() || impl_->closed; });
  }
  return DispatchPending();
}

std::size_t BusWindow::PendingCount() const {
  std::lock_guard l(impl_->qMutex);
  return impl_->queue.size();
}

// ---------------------------------------------------------------- senders

std::string WindowBusFolder() {
  std::string runtime = RuntimeFolder();
  if (runtime.empty()) return std::string();
  std::string folder = runtime + "/windows";
  if (!EnsurePrivateFolder(folder)) return std::string();
  return folder;
}

namespace {

// One request over a fresh connection; the answer's status and result.
bool Transact(WindowId window, std::uint16_t kind, std::uint32_t message, WPARAM wParam,
              LPARAM lParam, const COPYDATASTRUCT* cds, std::chrono::milliseconds timeout,
              LRESULT* result) {
  if (result) *result = 0;
  if (window == 0) return false;
  std::string folder = WindowBusFolder();
  if (folder.empty()) return false;
  Registration reg;
  if (!LoadLive(folder, window, &reg)) return false;
  auto deadline = Clock::now() + timeout;
  Fd s = ConnectTo(folder, window, deadline);
  if (!s) return false;

  Request request;
  request.kind = kind;
  request.target = window;
  request.message = message;
  request.senderPid = static_cast<std::uint32_t>(::getpid());
  request.wParam = static_cast<std::uint64_t>(wParam);
  request.lParam = static_cast<std::uint64_t>(lParam);
  if (cds) {
    request.copyData = true;
    request.dwData = cds->dwData;
    const auto* bytes = static_cast<const std::uint8_t*>(cds->lpData);
    if (cds->cbData) request.payload.assign(bytes, bytes + cds->cbData);
  }
  const std::vector<std::uint8_t> frame = EncodeRequest(request);
  if (!SendAll(s.get(), frame.data(), frame.size(), deadline)) return false;

  std::uint8_t reply[kReplyBytes];
  if (!ReceiveExactly(s.get(), reply, sizeof reply, deadline)) return false;
  std::uint32_t status = 0;
  LRESULT answer = 0;
  if (!DecodeReply(reply, &status, &answer) || status != kStatusOk) return false;
  if (result) *result = answer;
  return true;
}

// A send to a window of this process: called at once on the window's owner thread (as a
// window procedure would be), else queued and waited for.
bool SendLocal(const std::shared_ptr<BusWindow::Impl>& w, WindowMessage msg,
               std::chrono::milliseconds timeout, LRESULT* result) {
  msg.sent = true;
  msg.senderProcessId = static_cast<std::uint32_t>(::getpid());
  if (w->ownerThread.load() == std::this_thread::get_id()) {
    if (msg.hasCopyData) {
      msg.copyData.cbData = static_cast<std::uint32_t>(msg.payload.size());
      msg.copyData.lpData = msg.payload.empty() ? nullptr : msg.payload.data();
      msg.lParam = reinterpret_cast<LPARAM>(&msg.copyData);
    }
    LRESULT r = w->handler ? w->handler(msg) : 0;
    if (result) *result = r;
    return true;
  }
  Pending p;
  p.msg = std::move(msg);
  auto reply = std::make_shared<LocalReply>();
  p.local = reply;
  if (!w->Enqueue(p)) return false;
  std::unique_lock l(reply->m);
  if (!reply->cv.wait_for(l, timeout, [&] { return reply->done; })) return false;
  if (!reply->delivered) return false;
  if (result) *result = reply->result;
  return true;
}

}  // namespace

WindowId FindWindow(const std::string& className, const std::u16string& text) {
  std::string folder = WindowBusFolder();
  if (folder.empty()) return 0;
  WindowId best = 0;
  std::uint64_t bestCreated = 0;
  std::u16string wantClass = Widen(className);
  for (const auto& r : LoadAllLive(folder)) {
    if (!className.empty() && !EqualsNoCase(Widen(r.className), wantClass)) continue;
    if (!text.empty() && !EqualsNoCase(r.text, text)) continue;
    if (best == 0 || r.createdNs > bestCreated || (r.createdNs == bestCreated && r.id > best)) {
      best = r.id;
      bestCreated = r.createdNs;
    }
  }
  return best;
}

std::vector<WindowInfo> ListWindows() {
  std::vector<WindowInfo> out;
  std::string folder = WindowBusFolder();
  if (folder.empty()) return out;
  for (auto& r : LoadAllLive(folder)) out.push_back({r.id, r.className, r.text, r.pid});
  return out;
}

bool IsWindow(WindowId window) {
  WindowInfo info;
  return GetWindowInfo(window, &info);
}

bool GetWindowInfo(WindowId window, WindowInfo* info) {
  if (window == 0) return false;
  std::string folder = WindowBusFolder();
  if (folder.empty()) return false;
  Registration r;
  if (!LoadLive(folder, window, &r)) return false;
  if (info) *info = {r.id, r.className, r.text, r.pid};
  return true;
}

bool PostMessage(WindowId window, std::uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) return false;  // only SendCopyData carries it
  if (auto local = FindLocal(window)) {
    Pending p;
    p.msg.message = message;
    p.msg.wParam = wParam;
    p.msg.lParam = lParam;
    p.msg.senderProcessId = static_cast<std::uint32_t>(::getpid());
    return local->Enqueue(p);
  }
  return Transact(window, kKindPost, message, wParam, lParam, nullptr, kPostTimeout, nullptr);
}

bool SendMessage(WindowId window, std::uint32_t message, WPARAM wParam, LPARAM lParam,
                 LRESULT* result, std::chrono::milliseconds timeout) {
  if (result) *result = 0;
  if (message == WM_COPYDATA) return false;  // only SendCopyData carries it
  if (auto local = FindLocal(window)) {
    WindowMessage m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return SendLocal(local, std::move(m), timeout, result);
  }
  return Transact(window, kKindSend, message, wParam, lParam, nullptr, timeout, result);
}

bool SendCopyData(WindowId window, WPARAM wParam, ULONG_PTR dwData, const void* data,
                  std::uint32_t cbData, LRESULT* result, std::chrono::milliseconds timeout) {
  if (result) *result = 0;
  if (cbData > kMaxCopyDataBytes || (cbData > 0 && data == nullptr)) return false;
  if (auto local = FindLocal(window)) {
    WindowMessage m;
    m.message = WM_COPYDATA;
    m.wParam = wParam;
    m.hasCopyData = true;
    m.copyData.dwData = dwData;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m.payload.assign(bytes, bytes + cbData);
    return SendLocal(local, std::move(m), timeout, result);
  }
  COPYDATASTRUCT cds{dwData, cbData, data};
  return Transact(window, kKindSend, WM_COPYDATA, wParam, 0, &cds, timeout, result);
}

}  // namespace vts::plat
