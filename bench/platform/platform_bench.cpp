// Costs the workstation sees through the platform layer: a settings value read (every read
// parses the file again), an atomic settings write (flushed to disk), a path whose names
// differ in case from the disk, and a wildcard search of a large folder.
//
//   perimo-bench-platform [--files N] [--seconds S]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/find_files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

using namespace perimo::platform;
using Clock = std::chrono::steady_clock;

// Runs fn repeatedly for about `seconds` and prints the mean time of one call.
template <typename Fn>
void Measure(const char* what, double seconds, Fn fn) {
  size_t calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    fn();
    ++calls;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  std::printf("%-52s %10.2f us/call  (%zu calls)\n", what, elapsed * 1e6 / calls, calls);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 1000;
  double seconds = 1.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
  }
  std::string folder = (std::filesystem::temp_directory_path() / "perimo-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  Drives().Set('B', folder);

  {
    std::ofstream ini(folder + "/Program Settings.ini", std::ios::binary);
    for (int s = 0; s < 20; ++s) {
      ini << "[Section" << s << "]\r\n";
      for (int k = 0; k < 20; ++k) ini << "Key" << k << "=value " << s << "." << k << "\r\n";
    }
  }
  const std::u16string ini = u"B:\\program settings.INI";
  Measure("ReadProfileString, last of 400 keys", seconds,
          [&] { ReadProfileString(u"section19", u"KEY19", u"", ini); });
  int n = 0;
  Measure("WritePrivateProfileString (temp file, fsync, rename)", seconds, [&] {
    WritePrivateProfileString(u"Section10", u"Key10", Ascii(std::to_string(++n)), ini);
  });

  std::filesystem::create_directory(folder + "/Project");
  for (int i = 0; i < files; ++i) {
    std::ofstream(folder + "/Project/Screen" + std::to_string(i) + (i % 2 ? ".app" : ".dat"));
  }
  std::printf("folder of %d files:\n", files);
  Measure("ToNativePath, exact case", seconds, [&] { ToNativePath(u"B:\\Project\\Screen7.app"); });
  Measure("ToNativePath, other case (folder scan)", seconds,
          [&] { ToNativePath(u"B:\\PROJECT\\SCREEN7.APP"); });
  Measure("FindFiles *.APP", seconds, [&] { FindFiles(u"B:\\project\\*.APP"); });
  Measure("WildcardMatch *.d?t against a 20-character name", seconds,
          [&] { WildcardMatch(u"*.d?t", u"Screen_of_project.dat"); });

  std::filesystem::remove_all(folder);
  return 0;
}
