#include "protocol/status_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace perimo {
namespace {

struct Entry {
  int id;
  const char16_t* text;
};

// Sorted by identifier.
constexpr Entry kBuiltIn[] = {
    {kTextPasswordsDiffer, u"The passwords entered are not the same. Please re-enter them."},
    {kTextInvalidFileName, u"Invalid file name."},
    {kTextFileCannotBeRemoved, u"File %1 cannot be removed."},
    {kTextCannotCreateFile, u"Cannot create file %1."},
    {kTextUpdatingFile, u"Updating file %1."},
    {kTextCannotFindFile, u"Cannot find file %1."},
    {kTextFileUpdated, u"%1 was updated with success."},
    {kTextInvalidBlockSize, u"Invalid block size: %u, %u."},
    {kTextCannotOpenFile, u"Cannot open file %1."},
    {kTextCannotWriteFile, u"Cannot write in the file %1."},
    {kTextSendingFile, u"Sending file %1."},
    {kTextCannotReadFile, u"Cannot read file %1."},
    {kTextFileSent, u"File %1 sent with success."},
    {kTextDeviceSerial, u"Device connection via Serial Port (COM%1)"},
    {kTextDeviceNetwork, u"Device connection via Network (TCP/IP)"},
    {kTextDeviceInfrared, u"Device connection via Infra Red"},
    {kTextConfirmExit, u"Are you sure you want to exit?"},
    {kTextUserExists, u"The user you are trying to create already exists."},
    {kTextInvalidUserName, u"Invalid user name."},
    {kTextIpLine, u"IP(s): "},
    {kTextIpNotSpecified, u"not specified"},
    {kTextConnected, u"Connected to remote client"},
    {kTextNotConnected, u"Not connected to remote client"},
    {156, u"OK"},
    {157, u"Invalid serial port"},
    {158, u"Invalid baud rate"},
    {159, u"Invalid number of bits"},
    {160, u"Invalid number of stop bits"},
    {161, u"Invalid parity"},
    {162, u"Invalid irq"},
    {163, u"Serial port already in use"},
    {164, u"Invalid buffer size"},
    {165, u"Memory not enough"},
    {166, u"Tx buffer empty"},
    {167, u"Tx buffer full"},
    {168, u"Rx buffer empty"},
    {169, u"Rx buffer full"},
    {170, u"Timeout waiting CTS"},
    {171, u"Timeout waiting start a message"},
    {172, u"Timeout waiting a message to finish"},
    {173, u"Timeout between rx char"},
    {174, u"Timeout between tx char"},
    {175, u"No carrier detected"},
    {176, u"No DSR detected"},
    {177, u"Could not find a 8250 in address"},
    {178, u"Can not send tx message"},
    {179, u"User abort"},
    {180, u"Function not supported"},
    {181, u"Overrun"},
    {182, u"Parity"},
    {183, u"Overrun and parity"},
    {184, u"Framing"},
    {185, u"Framing and overrun"},
    {186, u"Framing and parity"},
    {187, u"Framing, overrun and parity"},
    {188, u"Timeout waiting a tx message to finish"},
    {kTextSerialStatusOther, u"Status: %d"},
    {kTextCloseSocket, u"Close Socket."},
    {kTextInvalidFileFormat, u"Invalid file format: %s"},
    {kTextUncompressError, u"Error uncompressing file: %s"},
    {kTextDisableSecurityWarning,
     u" Disabling security might cause potential risks during data trasmission. Are you sure you "
     u"want to continue?"},
    {kTextReceiveBufferReduced,
     u"Fail to set buffer size to %dKB, package size will be reduced to: %dB"},
    {kTextDataProtectionInitError, u"Error to initialize Data Protection [State: %d]"},
    {kTextNoActiveProject,
     u"There is no project currently active. Please download a project before you can configure "
     u"the data protection."},
    {kTextInvalidFrame, u"Invalid Frame"},
    {kTextSocketsInitFailed, u"Windows sockets initialization failed."},
    {kTextSecurityPrompt,
     u"You do not have security enabled. You need to enable security in order to protect your "
     u"host from unauthorized access. It is strongly recommended that you configure security "
     u"before you proceed. Do you want to configure security now?"},
    {kTextSuppressSecurityPrompt, u"Do you want to suppress this message on the next startup?"},
    {kTextCannotConstructSocket, u"Couldn't construct socket\n"},
    {kTextCannotCreateSocket, u"Couldn't create socket\n"},
    {kTextCannotListenSocket, u"Couldn't listen socket\n"},
    {kTextReceiveNotifyError, u"Error on receive notification. Error = %d"},
    {kTextPartialSend, u"Tried to send %d bytes, but only %d bytes were sent."},
    {kTextSendFailed, u"Couldn't send message. Error = %ul"},
    {kTextSendNotifyError, u"Error sending message. Error code: %d"},
    {kTextFilesRemoved, u"Files %1 were removed."},
    {kTextAvailableDirectories, u"Available directories: %1."},
    {kTextInvalidDirectoryName, u"Invalid directory name."},
    {kTextSendingFileName, u"Sending file name: %1."},
    {kTextSendingDirectoryName, u"Sending directory name: %1."},
    {kTextCannotStartRuntime, u"Cannot start Runtime project."},
    {kTextRuntimeStarted, u"Runtime was started."},
    {kTextRuntimeNotStarted, u"Runtime was not started."},
    {kTextRuntimeStopped, u"Runtime was stopped."},
    {kTextScreenUpdated, u"Screen %1 was updated."},
    {kTextPostMessage, u"Post message (%u, %u, %ld) to the Runtime."},
    {kTextRegisteredFile, u"Registered file %1"},
    {kTextCookieFunctionError, u"Error creating Cookie function."},
    {kTextWindowStopped, u"'%s' was stopped!"},
    {kTextCannotCreateDirectory, u"Cannot create directory %1."},
    {kTextDirectoryCreated, u"Directory %1 was created."},
    {kTextDirectoryRemoved, u"Directory %1 was removed."},
    {kTextCannotRemoveDirectory, u"Cannot remove directory %1."},
    {kTextCannotFindDirectory, u"Cannot find directory %1."},
    {kTextDataProtectionSaveError,
     u"Error to save Data Protection file: %s \n Error to save Data Protection file: %s."},
    {kTextStatusWindowTitle, u"Remote Agent"},
    {kTextReplyTooLong, u"Reply not sent: its %d encoded bytes exceed the %d-byte send buffer."},
    {kTextReceiveFrameTooLong, u"Frame dropped: longer than %d bytes."},
    {kTextUploadPastFourGiB,
     u"File %1 is larger than 4 GiB: only its first 4294967295 bytes were sent."},
    {kTextPackSizeLowered,
     u"PackSize %d lowered to %d: a larger upload block would not fit the send buffer."},
    {kTextPortInUse,
     u"Port %d is held by another program, such as the perimo service (sudo systemctl disable "
     u"--now perimo)."},
    {kTextHeadlessAnsweredNo, u"(No window to answer in: answered No.)"},
    {kTextHeadlessAnsweredOk, u"(No window to answer in: answered OK.)"},
    {kTextNoNotificationArea,
     u"The desktop has no notification area: Escape minimises the status window instead of "
     u"hiding it."},
    {kTextDataProtectionAbsent, u"The data protection library is not available on this machine."},
    {kTextRegisterServerNotEnded,
     u"%s has not ended after %d seconds; it keeps running and is no longer waited for."},
};

constexpr bool SortedById() {
  for (size_t i = 1; i < std::size(kBuiltIn); ++i) {
    if (kBuiltIn[i - 1].id >= kBuiltIn[i].id) return false;
  }
  return true;
}
static_assert(SortedById(), "status texts must be sorted by identifier");

StatusTextSource& Source() {
  static StatusTextSource source;
  return source;
}

std::u16string BuiltIn(int id) {
  const auto* end = std::end(kBuiltIn);
  const auto* it = std::lower_bound(std::begin(kBuiltIn), end, id,
                                    [](const Entry& e, int v) { return e.id < v; });
  if (it == end || it->id != id) return {};
  return it->text;
}

void AppendAscii(std::u16string& out, const char* text) {
  while (*text) out.push_back(static_cast<unsigned char>(*text++));
}

struct FieldFormat {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = 0;
  int longs = 0;  // number of 'l' letters
  bool shortArg = false;
};

void AppendPadded(std::u16string& out, std::u16string_view body, const FieldFormat& field) {
  size_t pad = field.width > 0 && static_cast<size_t>(field.width) > body.size()
                   ? static_cast<size_t>(field.width) - body.size()
                   : 0;
  if (field.leftAlign) {
    out.append(body);
    out.append(pad, u' ');
    return;
  }
  if (field.zeroPad && !body.empty() && body[0] == u'-') {
    out.push_back(u'-');
    out.append(pad, u'0');
    out.append(body.substr(1));
    return;
  }
  out.append(pad, field.zeroPad ? u'0' : u' ');
  out.append(body);
}

std::u16string FormatNumber(char conversion, const TextArg& arg, const FieldFormat& field) {
  char buffer[32];
  const bool wide = field.longs >= 2;
  switch (conversion) {
    case 'd':
    case 'i': {
      int64_t v = arg.AsSigned();
      if (!wide) v = static_cast<int32_t>(v);
      if (field.shortArg) v = static_cast<int16_t>(v);
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v));
      break;
    }
    default: {
      uint64_t v = arg.AsUnsigned();
      if (!wide) v = static_cast<uint32_t>(v);
      if (field.shortArg) v = static_cast<uint16_t>(v);
      const char* pattern = conversion == 'x' ? "%llx" : conversion == 'X' ? "%llX" : "%llu";
      std::snprintf(buffer, sizeof buffer, pattern, static_cast<unsigned long long>(v));
      break;
    }
  }
  std::u16string text;
  AppendAscii(text, buffer);
  return text;
}

}  // namespace

std::u16string StatusText(int id) {
  if (const auto& source = Source()) {
    std::u16string text;
    if (source(id, text)) return text;
  }
  return BuiltIn(id);
}

std::u16string StatusText(int id, std::u16string_view arg1) {
  std::u16string text = StatusText(id);
  std::u16string out;
  out.reserve(text.size() + arg1.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'1') {
      out.append(arg1);
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<TextArg> args) {
  std::u16string out;
  const TextArg* next = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    char16_t c = format[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    const size_t start = i++;
    FieldFormat field;
    for (; i < format.size() && (format[i] == u'-' || format[i] == u'0'); ++i) {
      if (format[i] == u'-') {
        field.leftAlign = true;
      } else {
        field.zeroPad = true;
      }
    }
    for (; i < format.size() && format[i] >= u'0' && format[i] <= u'9'; ++i) {
      field.width = std::min(field.width * 10 + (format[i] - u'0'), 4096);
    }
    for (; i < format.size() && (format[i] == u'l' || format[i] == u'h'); ++i) {
      if (format[i] == u'l') {
        ++field.longs;
      } else {
        field.shortArg = true;
      }
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    const char16_t conversion = format[i++];
    if (conversion == u'%') {
      out.push_back(u'%');
      continue;
    }
    const bool known = conversion == u'd' || conversion == u'i' || conversion == u'u' ||
                       conversion == u'x' || conversion == u'X' || conversion == u's' ||
                       conversion == u'c';
    if (!known) {
      out.append(format.substr(start, i - start));
      continue;
    }
    if (next == args.end()) continue;
    const TextArg& arg = *next++;
    if (conversion == u's') {
      if (arg.kind() == TextArg::kString) {
        AppendPadded(out, arg.AsText(), field);
      } else {
        AppendPadded(out, FormatNumber('d', arg, FieldFormat{}), field);
      }
    } else if (conversion == u'c') {
      const char16_t ch = arg.kind() == TextArg::kString
                              ? (arg.AsText().empty() ? u'\0' : arg.AsText()[0])
                              : static_cast<char16_t>(arg.AsUnsigned());
      AppendPadded(out, std::u16string_view(&ch, 1), field);
    } else if (arg.kind() == TextArg::kString) {
      AppendPadded(out, arg.AsText(), field);
    } else {
      AppendPadded(out, FormatNumber(static_cast<char>(conversion), arg, field), field);
    }
  }
  return out;
}

std::u16string FormatStatusText(int id, std::initializer_list<TextArg> args) {
  return FormatText(StatusText(id), args);
}

std::u16string SerialStatusText(int status) {
  if (status <= 0 && status >= -32) return StatusText(kTextSerialStatusFirst - status);
  return FormatStatusText(kTextSerialStatusOther, {status});
}

void SetStatusTextSource(StatusTextSource source) {
  Source() = std::move(source);
}

void ForEachBuiltInStatusText(const std::function<void(int id, std::u16string_view text)>& fn) {
  for (const Entry& e : kBuiltIn) fn(e.id, e.text);
}

}  // namespace perimo
