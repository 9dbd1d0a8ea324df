#pragma once
// "CELog.TXT": the low-level trace of the serial line. Written only when the file exists at
// the first trace line of the process; each line is one open, append and close, so the file
// can be copied or deleted between lines; emptied before a line when it holds more than
// 64000 bytes. One byte per character, CR LF line ends, no time stamps.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace perimo::log {

constexpr char16_t kTraceFileName[] = u"CELog.TXT";
constexpr int64_t kTraceFileLimit = 64000;

// The trace file's wire path for the executable at exeWirePath: the path cut after the first
// backslash that follows its first character ("C:\A\B\x" gives "C:\", "\A\B\x" gives "\A\"),
// then the file name. A "\\?\unix" path keeps that prefix and is cut the same way behind it.
std::u16string TraceFilePath(std::u16string_view exeWirePath);

class TraceFile {
 public:
  // nativePath: where the file lies; decided on the first Write.
  explicit TraceFile(std::string nativePath);

  // Appends one line (the text's line feeds become CR LF, then CR LF). Lines from several
  // threads never interleave. Failures drop the line silently.
  void Write(std::u16string_view text);

  // Whether tracing was switched on (false before the first Write).
  bool enabled();

 private:
  void Decide();

  std::mutex lock_;
  std::string path_;
  bool decided_ = false;
  bool enabled_ = false;
};

}  // namespace perimo::log
