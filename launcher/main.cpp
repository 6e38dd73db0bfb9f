// VoxtrailStart: starts two recorders side by side; see launcher/launcher.h.
#include <string>
#include <vector>

#include "launcher/launcher.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vts::launcher::RunLauncher(arguments);
}
