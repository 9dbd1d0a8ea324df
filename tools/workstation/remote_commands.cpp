#include "workstation/remote_commands.h"

#include <cstdlib>

#include "workstation/text.h"

namespace perimo::workstation {
namespace {

constexpr uint8_t kAck = 0x06;
// Pages of at most 1056 bytes: a listing of a million names is far beyond any target.
constexpr size_t kMaxPages = 1u << 20;

Error Fields(Session& s, Bytes& frame, const std::vector<std::string>& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      if (Error e = s.AppendText(frame, "\t", false)) return e;
    }
    if (Error e = s.AppendText(frame, fields[i], false)) return e;
  }
  return Ok();
}

Error Named(Session& s, uint8_t code, const std::string& name, Bytes& frame) {
  frame = {code};
  return s.AppendText(frame, name);
}

// An opening command (06, decimal count, 00), then pages until 06 00.
Error List(Session& s, const Bytes& open, uint8_t pageCode, PageForm form, const std::string& what,
           std::vector<ListEntry>& out) {
  out.clear();
  Bytes reply;
  if (Error e = s.CallAck(open, reply, what)) return e;
  for (size_t page = 0; page < kMaxPages; ++page) {
    if (Error e = s.CallAck(Frame(pageCode), reply, what)) return e;
    bool last = false;
    if (!ParsePage(reply, form, s.wide(), out, last)) {
      return Fail(Outcome::kConnection, what + ": malformed page");
    }
    if (last) return Ok();
  }
  return Fail(Outcome::kFailed, what + ": the listing does not end");
}

Error StatusCharacter(Session& s, const Bytes& frame, const std::string& what, Bytes& reply) {
  if (Error e = s.CallAck(frame, reply, what)) return e;
  if (reply.size() < 2) return Fail(Outcome::kFailed, what + ": malformed reply");
  switch (reply[1]) {
    case '0':
      return Ok();
    case '1':
      return Fail(Outcome::kFailed, what + ": unknown root key name (status '1')");
    default:
      return Fail(Outcome::kFailed, what + ": the registry operation failed (status '2')");
  }
}

Error RegistryFields(Session& s, uint8_t code, const std::string& key, const std::string& name,
                     const std::string* value, Bytes& frame) {
  const size_t slash = key.find_first_of("\\/");
  const std::string root = key.substr(0, slash);
  std::string sub = slash == std::string::npos ? "" : key.substr(slash + 1);
  for (char& c : sub) {
    if (c == '/') c = '\\';
  }
  frame = {code};
  std::vector<std::string> fields{root, sub, "", name};
  if (value) fields.push_back(*value);
  return Fields(s, frame, fields);
}

Error StatusByte(Session& s, const Bytes& frame, const std::string& what, uint8_t& status) {
  Bytes reply;
  if (Error e = s.CallAck(frame, reply, what)) return e;
  status = reply.size() >= 2 ? reply[1] : 0;
  return Ok();
}

}  // namespace

Error ListDirectories(Session& s, const std::string& path, std::vector<ListEntry>& out) {
  Bytes open;
  if (Error e = Named(s, 0x16, path, open)) return e;
  return List(s, open, 0x39, PageForm::kNameMark, "cannot list " + path, out);
}

Error ListProjectFiles(Session& s, const std::string& path, bool all, std::vector<ListEntry>& out) {
  // The flag is one byte in either string width.
  Bytes open{0x19, static_cast<uint8_t>(all ? '1' : '0')};
  if (Error e = s.AppendText(open, path)) return e;
  return List(s, open, 0x1A, PageForm::kNameTime, "cannot list " + path, out);
}

Error ListSystemFiles(Session& s, std::vector<ListEntry>& out) {
  return List(s, Frame(0x1B), 0x1C, PageForm::kNameTime, "cannot list the system files", out);
}

Error ListDrives(Session& s, std::vector<ListEntry>& out) {
  return List(s, Frame(0x1D), 0x1E, PageForm::kName, "cannot list the drives", out);
}

Error ReadIni(Session& s, const std::string& file, const std::string& section,
              const std::string& key, const std::string& fallback, std::string& value) {
  Bytes frame{0x0D}, reply;
  if (Error e = Fields(s, frame, {file, section, key, fallback})) return e;
  if (Error e = s.CallAck(frame, reply, "cannot read " + file)) return e;
  size_t at = 1;
  value = s.ReadText(reply, at);
  return Ok();
}

Error WriteIni(Session& s, const std::string& file, const std::string& section,
               const std::string& key, const std::string& value) {
  Bytes frame{0x0C}, reply;
  if (Error e = Fields(s, frame, {file, section, key, value})) return e;
  return s.CallAck(frame, reply, "cannot write " + file);
}

Error ReadSetting(Session& s, const std::string& section, const std::string& key,
                  const std::string& fallback, std::string& value) {
  Bytes frame{0x0B}, reply;
  if (Error e = Fields(s, frame, {section, key, fallback})) return e;
  if (Error e = s.CallAck(frame, reply, "cannot read the setting")) return e;
  size_t at = 1;
  value = s.ReadText(reply, at);
  return Ok();
}

Error WriteSetting(Session& s, const std::string& section, const std::string& key,
                   const std::string& value) {
  Bytes frame{0x0A}, reply;
  if (Error e = Fields(s, frame, {section, key, value})) return e;
  return s.CallAck(frame, reply, "cannot write the setting");
}

Error MakeDirectory(Session& s, const std::string& path) {
  Bytes frame, reply;
  if (Error e = Named(s, 0x0F, path, frame)) return e;
  return s.CallAck(frame, reply, "cannot create " + path);
}

Error RemoveDirectory(Session& s, const std::string& path) {
  Bytes frame, reply;
  if (Error e = Named(s, 0x10, path, frame)) return e;
  return s.CallAck(frame, reply, "cannot remove " + path);
}

Error DeleteFiles(Session& s, const std::string& pattern) {
  Bytes frame, reply;
  if (Error e = Named(s, 0x15, pattern, frame)) return e;
  return s.CallAck(frame, reply, "cannot remove " + pattern);
}

Error DirectoryExists(Session& s, const std::string& path, bool& exists) {
  Bytes frame, reply;
  if (Error e = Named(s, 0x18, path, frame)) return e;
  if (Error e = s.Call(frame, reply)) return e;
  exists = reply[0] == kAck;
  return Ok();
}

Error ReadRegistry(Session& s, const std::string& key, const std::string& name,
                   std::string& value) {
  Bytes frame, reply;
  if (Error e = RegistryFields(s, 0x2B, key, name, nullptr, frame)) return e;
  if (Error e = StatusCharacter(s, frame, "cannot read " + key, reply)) return e;
  size_t at = 2;
  value = s.ReadText(reply, at);
  return Ok();
}

Error WriteRegistry(Session& s, const std::string& key, const std::string& name,
                    const std::string& value) {
  Bytes frame, reply;
  if (Error e = RegistryFields(s, 0x2A, key, name, &value, frame)) return e;
  return StatusCharacter(s, frame, "cannot write " + key, reply);
}

Error StartRuntime(Session& s) {
  Bytes reply;
  return s.CallAck(Frame(0x07), reply, "cannot start the runtime");
}

Error StopRuntime(Session& s) {
  Bytes reply;
  // The agent waits up to about 11 s for the runtime to close.
  return s.CallAck(Frame(0x08), reply, "cannot stop the runtime", std::max(s.timeoutMs(), 15000));
}

Error RuntimeRunning(Session& s, bool& running) {
  Bytes reply;
  if (Error e = s.CallAck(Frame(0x1F), reply, "cannot ask for the runtime")) return e;
  running = reply.size() >= 2 && reply[1] != 0;
  return Ok();
}

Error UpdateScreen(Session& s, const std::string& screen) {
  // Always 8-bit, whatever the string width.
  const auto narrow = ToLatin1(FromUtf8(screen));
  if (!narrow) {
    return Fail(Outcome::kUsage, "\"" + screen + "\": a screen name travels in 8-bit characters");
  }
  const Bytes frame = TextFrame(0x09, *narrow);
  Bytes reply;
  return s.CallAck(frame, reply, "cannot update screen " + screen);
}

Error PostRuntimeMessage(Session& s, uint32_t message, uint32_t wParam, int32_t lParam) {
  Bytes frame{0x11}, reply;
  if (Error e = Fields(s, frame,
                       {std::to_string(static_cast<int32_t>(message)),
                        std::to_string(static_cast<int32_t>(wParam)), std::to_string(lParam)}))
    return e;
  return s.CallAck(frame, reply, "cannot post the message");
}

Error StartTask(Session& s, const std::string& name, uint8_t& status) {
  Bytes frame;
  if (Error e = Named(s, 0x31, name, frame)) return e;
  return StatusByte(s, frame, "cannot start task " + name, status);
}

Error StopTask(Session& s, const std::string& name, uint8_t& status) {
  Bytes frame;
  if (Error e = Named(s, 0x33, name, frame)) return e;
  return StatusByte(s, frame, "cannot stop task " + name, status);
}

Error QueryTasks(Session& s, const std::vector<std::string>& names, std::vector<uint8_t>& status) {
  Bytes frame{0x32}, reply;
  for (const std::string& name : names) {
    if (Error e = s.AppendText(frame, name + "\t", false)) return e;
  }
  if (Error e = s.CallAck(frame, reply, "cannot query the tasks")) return e;
  status.assign(reply.begin() + std::min<size_t>(2, reply.size()), reply.end());
  return Ok();
}

Error Upgrade(Session& s, bool& started) {
  Bytes reply;
  if (Error e = s.CallAck(Frame(0x3C), reply, "cannot upgrade")) return e;
  started = reply.size() >= 2 && reply[1] == '1';
  return Ok();
}

Error ReadPackSize(Session& s, uint32_t& packSize) {
  Bytes reply;
  if (Error e = s.CallAck(Frame(0x14), reply, "cannot read the product version")) return e;
  SystemInfo info;
  info.packSize = packSize;
  ParseProductReply(reply, info);
  packSize = info.packSize;
  return Ok();
}

Error ReadSystemInfo(Session& s, SystemInfo& info) {
  ParseOsReply(s.osVersionReply(), info);
  Bytes reply;
  if (Error e = s.CallAck(Frame(0x14), reply, "cannot read the product version")) return e;
  ParseProductReply(reply, info);
  if (Error e = s.CallAck(Frame(0x36), reply, "cannot read the locale")) return e;
  const auto locale = ZeroFields(reply, 1);
  info.locale = locale.empty() ? "" : locale[0];
  if (Error e = s.CallAck(Frame(0x3A), reply, "cannot read the download lock")) return e;
  info.downloadLock = reply.size() >= 2 ? reply[1] : 0;
  info.security = s.securityState();
  info.wide = s.wide();
  return Ok();
}

}  // namespace perimo::workstation
