#pragma once
// The agent's user-visible texts (status lines and message boxes), keyed by their string-table
// identifiers. The built-in set is US English; a language library may later supply its own
// texts through SetStatusTextSource. Texts without a string-table identifier live in a private
// range from 60000 upwards.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace perimo {

enum StatusTextId : int {
  kTextPasswordsDiffer = 102,
  kTextInvalidFileName = 103,
  kTextFileCannotBeRemoved = 104,
  kTextCannotCreateFile = 105,
  kTextUpdatingFile = 106,
  kTextCannotFindFile = 107,
  kTextFileUpdated = 108,
  kTextInvalidBlockSize = 109,  // %u block size, %u frame length
  kTextCannotOpenFile = 110,
  kTextCannotWriteFile = 111,
  kTextSendingFile = 112,
  kTextCannotReadFile = 113,
  kTextFileSent = 114,
  kTextDeviceSerial = 127,  // %1 the one-based COM number
  kTextDeviceNetwork = 128,
  kTextDeviceInfrared = 129,
  kTextConfirmExit = 136,
  kTextUserExists = 137,
  kTextInvalidUserName = 138,
  kTextIpLine = 151,
  kTextIpNotSpecified = 152,
  kTextConnected = 154,
  kTextNotConnected = 155,
  kTextSerialStatusFirst = 156,  // serial status 0 .. -32 are 156 .. 188
  kTextSerialStatusOther = 189,  // "Status: %d"
  kTextCloseSocket = 190,
  kTextInvalidFileFormat = 200,  // %s file name
  kTextUncompressError = 201,    // %s file name
  kTextDisableSecurityWarning = 209,
  kTextReceiveBufferReduced = 212,  // %d requested KB, %d new packSize
  kTextDataProtectionInitError = 215,
  kTextNoActiveProject = 217,

  // Texts the string table does not number.
  kTextPrivateFirst = 60000,
  kTextInvalidFrame = kTextPrivateFirst,
  kTextSocketsInitFailed,
  kTextSecurityPrompt,
  kTextSuppressSecurityPrompt,
  kTextCannotConstructSocket,
  kTextCannotCreateSocket,
  kTextCannotListenSocket,
  kTextReceiveNotifyError,  // %d
  kTextPartialSend,         // %d reply length, %d bytes taken
  kTextSendFailed,          // %u error code (the text prints a letter l after it)
  kTextSendNotifyError,     // %d
  kTextFilesRemoved,
  kTextAvailableDirectories,
  kTextInvalidDirectoryName,
  kTextSendingFileName,
  kTextSendingDirectoryName,
  kTextCannotStartRuntime,
  kTextRuntimeStarted,
  kTextRuntimeNotStarted,
  kTextRuntimeStopped,
  kTextScreenUpdated,
  kTextPostMessage,  // %u message, %u wParam, %ld lParam
  kTextRegisteredFile,
  kTextCookieFunctionError,
  kTextWindowStopped,  // %s window title
  kTextCannotCreateDirectory,
  kTextDirectoryCreated,
  kTextDirectoryRemoved,
  kTextCannotRemoveDirectory,
  kTextCannotFindDirectory,
  kTextDataProtectionSaveError,  // %s, %s active file names
  kTextStatusWindowTitle,
  kTextReplyTooLong,         // %d encoded length, %d capacity
  kTextReceiveFrameTooLong,  // %d limit
  kTextUploadPastFourGiB,    // %1 file name
  kTextPackSizeLowered,      // %d configured, %d used
  kTextPortInUse,            // %d port
  kTextHeadlessAnsweredNo,
  kTextHeadlessAnsweredOk,
  kTextNoNotificationArea,
  kTextDataProtectionAbsent,

  // Runtime control texts of this agent's own.
  kTextRegisterServerNotEnded = kTextPrivateFirst + 100,  // %s program, %d seconds
};

// The text for an identifier; empty when there is none.
std::u16string StatusText(int id);
// The text with every "%1" replaced by arg1.
std::u16string StatusText(int id, std::u16string_view arg1);

// One argument of a printf-style text: a number or a string.
class TextArg {
 public:
  TextArg(int32_t v) : kind_(kSigned), signed_(v) {}
  TextArg(int64_t v) : kind_(kSigned), signed_(v) {}
  TextArg(uint32_t v) : kind_(kUnsigned), unsigned_(v) {}
  TextArg(uint64_t v) : kind_(kUnsigned), unsigned_(v) {}
  TextArg(std::u16string_view s) : kind_(kString), text_(s) {}
  TextArg(const std::u16string& s) : kind_(kString), text_(s) {}
  TextArg(const char16_t* s) : kind_(kString), text_(s ? s : u"") {}

  enum Kind { kSigned, kUnsigned, kString };
  Kind kind() const { return kind_; }
  int64_t AsSigned() const {
    return kind_ == kUnsigned ? static_cast<int64_t>(unsigned_) : signed_;
  }
  uint64_t AsUnsigned() const {
    return kind_ == kSigned ? static_cast<uint64_t>(signed_) : unsigned_;
  }
  std::u16string_view AsText() const { return text_; }

 private:
  Kind kind_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
  std::u16string_view text_;
};

// printf-style formatting of a UTF-16 format: %d %i %u %x %X %s %c %% with optional '-', '0',
// width and the length letters h, l, ll (numbers print as the 32-bit values Windows would
// pass, unless ll). A conversion without its argument prints nothing; surplus arguments are
// ignored; an unknown conversion is copied as it stands.
std::u16string FormatText(std::u16string_view format, std::initializer_list<TextArg> args);
std::u16string FormatStatusText(int id, std::initializer_list<TextArg> args);

// The text of a serial-library status code (0 and -1 .. -32 by name, others "Status: %d").
std::u16string SerialStatusText(int status);

// A language library's texts: return true and fill out to override the built-in text.
using StatusTextSource = std::function<bool(int id, std::u16string& out)>;
void SetStatusTextSource(StatusTextSource source);  // empty restores the built-in texts
// Every built-in text with its identifier, in identifier order.
void ForEachBuiltInStatusText(const std::function<void(int id, std::u16string_view text)>& fn);

}  // namespace perimo
