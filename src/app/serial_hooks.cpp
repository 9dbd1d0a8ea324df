#include "app/serial_hooks.h"

#include <algorithm>
#include <memory>

#include "log/trace_file.h"
#include "platform/paths.h"
#include "protocol/status_text.h"
#include "transport/serial/sc_serial.h"

namespace perimo {
namespace {

std::unique_ptr<log::TraceFile> traceFile;

void WriteTrace(const char16_t* text) {
  if (traceFile) traceFile->Write(text);
}

int SerialTextSource(int code, char16_t* buffer, int capacity) {
  const std::u16string text = SerialStatusText(code);
  const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return 1;
}

}  // namespace

void InstallSerialHooks(const AgentPaths& paths) {
  const std::u16string exe = paths.exeDir + u"\\" + paths.exeBaseName;
  const auto native = platform::ToNativePath(log::TraceFilePath(exe));
  traceFile = std::make_unique<log::TraceFile>(native.value_or(std::string()));
  SCSetTraceWriter(WriteTrace);
  SCSetTextSource(SerialTextSource);
}

void RemoveSerialHooks() {
  SCSetTraceWriter(nullptr);
  SCSetTextSource(nullptr);
  traceFile.reset();
}

}  // namespace perimo
