// libFuzzer target for the settings readers and the command line, built and run by
// tests/run-fuzz-smoke.sh with the other targets. The input is written as
// each settings file in turn and loaded (and RecorderPaths.json written back); split at NUL
// bytes it is also an argument vector. Nothing may crash, hang or leak.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/settings_files.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/vts-fuzz-settings-XXXXXX";
    const char* made = mkdtemp(tmpl);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vts;
  const std::string ini = Folder() + "/Voxtrailstudy.ini";
  const std::string paths = Folder() + "/RecorderPaths.json";
  const std::string urls = Folder() + "/URLList.txt";

  Write(ini, data, size);
  std::u16string out = u"o", in = u"i";
  ReadWaveDeviceSettings(out, in, ini);
  if (!WriteWaveDeviceSettings(out, in, ini)) std::abort();  // names read are always writable

  Write(paths, data, size);
  SettingsJson document = LoadRecorderPaths(paths);
  if (auto last = GetLastOpenPath(document)) SetLastOpenPath(document, *last);
  if (!WriteRecorderPaths(document, paths)) std::abort();

  Write(urls, data, size);
  if (auto list = LoadUrlList(urls)) {
    if (list->size() != (size - 2) / 2) std::abort();
    if (!WriteUrlList(*list, urls)) std::abort();
  }

  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      arguments.emplace_back();
    else
      arguments.back().push_back(static_cast<char>(data[i]));
  }
  const CommandLineSwitches switches = ParseSwitches(arguments);
  if (switches.position > 2) std::abort();
  if (auto file = FileNamedAtStart(arguments)) {
    if (file->empty() || IsCommandLineSwitch(*file)) std::abort();
  }
  return 0;
}
