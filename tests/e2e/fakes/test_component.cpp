// A component with a registration entry: succeeds (returns 0) unless built with
// PERIMO_REGISTER_FAILS. Each call appends a line to $PERIMO_REGISTER_LOG when that is set.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int32_t DllRegisterServer() {
  if (const char* log = std::getenv("PERIMO_REGISTER_LOG")) {
    if (FILE* f = std::fopen(log, "a")) {
      std::fputs("registered\n", f);
      std::fclose(f);
    }
  }
#ifdef PERIMO_REGISTER_FAILS
  return static_cast<int32_t>(0x80004005);
#else
  return 0;
#endif
}
