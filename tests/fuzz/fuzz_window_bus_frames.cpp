// Fuzzes the window bus's frame reader: each input is written to a live window's socket as a
// peer would (then the peer stops sending), and afterwards the window still takes a message.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "platform/known_folders.h"
#include "platform/window_bus.h"

namespace {

// Never destroyed: it lives until the process ends, past the bus's own statics.
vts::plat::BusWindow* g_window = nullptr;
std::string g_address;
int g_received = 0;

int Connect() {
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, g_address.c_str(), g_address.size() + 1);
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) abort();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("VOXTRAILSTUDY_ROOT", vts::fuzz::MakeScratchFolder("bus").c_str(), 1);
  g_window = vts::plat::BusWindow::Create("FuzzWindow", u"", [](const vts::plat::WindowMessage&) {
               ++g_received;
               return vts::plat::LRESULT{7};
             }).release();
  if (!g_window) abort();
  char name[40];
  std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(g_window->Id()));
  const int folder = open(vts::plat::WindowBusFolder().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) abort();
  g_address = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Requests name their window: give most inputs this one's id, so they reach the handler.
  std::string frame(reinterpret_cast<const char*>(data), size);
  if (frame.size() >= 16) {
    const vts::plat::WindowId id = g_window->Id();
    std::memcpy(frame.data() + 8, &id, 8);
  }
  const int s = Connect();
  (void)!send(s, frame.data(), frame.size(), MSG_NOSIGNAL);
  shutdown(s, SHUT_WR);
  // Until the window answers or hangs up; a send is answered once its handler ran.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    g_window->DispatchPending();
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 5) > 0) {
      char reply[64];
      if (recv(s, reply, sizeof reply, MSG_DONTWAIT) <= 0) break;
    }
    if (std::chrono::steady_clock::now() > deadline) abort();  // the window hangs
  }
  close(s);
  // The window still takes a message.
  const int before = g_received;
  if (!vts::plat::PostMessage(g_window->Id(), 0x401, 1, 2)) abort();
  g_window->DispatchPending();
  if (g_received != before + 1) abort();
  return 0;
}
