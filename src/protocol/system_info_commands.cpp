#include "protocol/system_info_commands.h"

#include <dlfcn.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "protocol/culture_table.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

constexpr char kAgentVersion[] = "7.12";
constexpr char16_t kProgramSettings[] = u"\\Program Settings.INI";
constexpr char16_t kCookieLibrary[] = u"\\ReadCookie.dll";

// The optional extension library's entry: two out-parameters, non-zero on success.
using GetCookieDataFn = int32_t (*)(int32_t* first, int32_t* second);

void AppendText(std::vector<uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

void AppendNumber(std::vector<uint8_t>& out, long long value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%lld", value);
  AppendText(out, buffer);
}

// The OS name comes from a Windows version record; Linux has none, so the name is empty.
std::string OsName() {
  return {};
}

// "GetCookieData" of "ReadCookie.dll" in the agent's folder, as decimal text; empty when the
// library or its value is missing.
std::string CookieText(const AgentState& agent) {
  const auto native = platform::ToNativePath(agent.paths.exeDir + kCookieLibrary);
  if (!native) return {};
  void* library = dlopen(native->c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return {};
  std::string text;
  auto entry = reinterpret_cast<GetCookieDataFn>(dlsym(library, "GetCookieData"));
  if (entry == nullptr) {
    agent.AddStatusLine(StatusText(kTextCookieFunctionError));
  } else {
    int32_t first = 0;
    int32_t second = 0;
    if (entry(&first, &second) != 0) {
      const int32_t value = PackCookie(first, second);
      if (value >= 0) text = std::to_string(value);
    }
  }
  dlclose(library);
  return text;
}

// Available physical memory in KB: MemAvailable of /proc/meminfo, else the free pages.
long long AvailableMemoryKb() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long long value = 0;
  std::string unit;
  while (meminfo >> key >> value >> unit) {
    if (key == "MemAvailable:") return value < INT_MAX ? value : INT_MAX;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  const long long kb = static_cast<long long>(pages) * (pageSize / 1024);
  return kb < INT_MAX ? kb : INT_MAX;
}

}  // namespace

int32_t PackCookie(int32_t first, int32_t second) {
  const uint32_t packed =
      (static_cast<uint32_t>(second) & 0xFFFFu) << 16 | (static_cast<uint32_t>(first) & 0xFFFFu);
  return static_cast<int32_t>(packed);
}

std::string FormatInstallVersion(std::u16string_view versionText, int32_t servicePack) {
  // Read like atof: leading blanks, an optional sign, then as much of a number as there is.
  std::string ascii;
  size_t i = 0;
  while (i < versionText.size() && (versionText[i] == u' ' || versionText[i] == u'\t')) ++i;
  for (; i < versionText.size() && versionText[i] < 0x80; ++i) {
    ascii.push_back(static_cast<char>(versionText[i]));
  }
  const char* begin = ascii.data();
  const char* end = ascii.data() + ascii.size();
  bool negative = false;
  if (begin != end && (*begin == '+' || *begin == '-')) negative = *begin++ == '-';
  double version = 0;
  if (std::from_chars(begin, end, version, std::chars_format::general).ec != std::errc()) {
    version = 0;
  }
  if (negative) version = -version;
  char buffer[400] = "v";
  auto result = std::to_chars(buffer + 1, std::end(buffer), version, std::chars_format::fixed, 1);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer + 1);
  if (servicePack != 0) text += "+SP" + std::to_string(servicePack);
  return text;
}

void GetOsVersion(Request& request) {
  std::vector<uint8_t> reply{kAck};
  AppendText(reply, "NT");
  AppendText(reply, "48");
  AppendText(reply, "UNICODE");
  AppendText(reply, OsName());
  AppendText(reply, geteuid() == 0 ? "1" : "0");
  request.Reply(reply);
  // The workstation understands framed replies: every later frame is wrapped, both ways.
  if (request.connection != nullptr) request.connection->SetFramedMode(true);
}

void GetProductVersion(Request& request) {
  const AgentState& agent = request.agent;
  const std::u16string settings = agent.paths.exeDir + kProgramSettings;
  std::u16string product;
  platform::GetPrivateProfileString(u"OEM", u"ProductName", u"Kalder", product, 128, settings);
  std::u16string version;
  platform::GetPrivateProfileString(u"Install", u"Version", u"1.0", version, 32, settings);
  const auto servicePack =
      static_cast<int32_t>(platform::GetPrivateProfileInt(u"Install", u"ServicePack", 0, settings));

  std::vector<uint8_t> reply{kAck};
  AppendText(reply, platform::ToLatin1(product) + " " + FormatInstallVersion(version, servicePack));
  AppendText(reply, kAgentVersion);
  AppendText(reply, CookieText(agent));
  AppendNumber(reply, AvailableMemoryKb());
  AppendNumber(reply, agent.settings.delay);
  AppendNumber(reply, agent.settings.packSize);
  request.Reply(reply);
}

void GetUserLocale(Request& request) {
  std::vector<uint8_t> reply{kAck};
  AppendText(reply, std::to_string(UserDefaultLocaleId()));
  request.Reply(reply);
}

void GetDownloadLock(Request& request) {
  request.Reply({kAck, static_cast<uint8_t>(request.agent.settings.lockDownload & 0xFF)});
}

}  // namespace perimo
