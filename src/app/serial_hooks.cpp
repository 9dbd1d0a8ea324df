#include "app/serial_hooks.h"

#include <QCoreApplication>
#include <QThread>
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

// A module waiting for a serial reply on the main thread keeps the agent's loop turning.
int PumpMessages() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QCoreApplication::closingDown()) return 1;
  if (QThread::currentThread() == app->thread()) QCoreApplication::processEvents();
  return 0;
}

}  // namespace

void InstallSerialHooks(const AgentPaths& paths) {
  const std::u16string exe = paths.exeDir + u"\\" + paths.exeBaseName;
  const auto native = platform::ToNativePath(log::TraceFilePath(exe), platform::PathScope::kAgent);
  traceFile = std::make_unique<log::TraceFile>(native.value_or(std::string()));
  SCSetTraceWriter(WriteTrace);
  SCSetTextSource(SerialTextSource);
  SCSetMessagePump(PumpMessages);
}

void RemoveSerialHooks() {
  SCSetTraceWriter(nullptr);
  SCSetTextSource(nullptr);
  SCSetMessagePump(nullptr);
  traceFile.reset();
}

}  // namespace perimo
