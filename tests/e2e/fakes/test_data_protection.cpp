// A data protection library for the tests. $PERIMO_TEST_DP picks its behaviour: empty works,
// "fail-init" refuses to initialise (state 7), "no-device-id" has no id. Passwords other than
// "secret" are refused. Each call appends a line to $PERIMO_DP_LOG when that is set.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define DP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string Mode() {
  const char* mode = std::getenv("PERIMO_TEST_DP");
  return mode ? mode : "";
}

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

void Log(const std::string& line) {
  if (const char* path = std::getenv("PERIMO_DP_LOG")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
}

void Copy(char16_t* buffer, int32_t chars, const std::u16string& text) {
  const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(chars) - 1);
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
}

}  // namespace

DP_EXPORT int32_t DPInitialize(void*, const char16_t* folder, int32_t reserved) {
  Log("init " + Narrow(folder) + " " + std::to_string(reserved));
  return Mode() == "fail-init" ? 0 : 1;
}

DP_EXPORT int32_t DPState() {
  return Mode() == "fail-init" ? 7 : 0;
}

DP_EXPORT int32_t DPGetDeviceID(char16_t* buffer, int32_t chars) {
  if (Mode() == "no-device-id") return 0;
  Copy(buffer, chars, u"DEV-42-\u00E9");
  return 1;
}

DP_EXPORT int32_t DPSetPassword(const char16_t* password, int32_t one, char16_t* result,
                                int32_t chars) {
  Log("password " + Narrow(password) + " " + std::to_string(one) + " " + Narrow(result));
  if (std::u16string(password) != u"secret") return 0;
  Copy(result, chars, u"Protected with " + std::u16string(password));
  return 1;
}

DP_EXPORT int32_t DPGetActiveFiles(char16_t* first, char16_t* second, int32_t chars) {
  Copy(first, chars, u"Main.APP");
  Copy(second, chars, u"Main.DPF");
  return 1;
}

DP_EXPORT int32_t DPConfigure(void*) {
  Log("configure");
  return 1;
}
