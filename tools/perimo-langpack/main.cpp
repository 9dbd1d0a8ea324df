// perimo-langpack: makes and checks the agent's language packs without Windows tools.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "langpack_table.h"
#include "protocol/dialog_resources.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  perimo-langpack template [TABLE]\n"
    "  perimo-langpack make TABLE PACK\n"
    "  perimo-langpack dump PACK [TABLE]\n"
    "  perimo-langpack --help\n"
    "\n"
    "Language packs are resource-only DLLs with the agent's texts (string table, dialogs,\n"
    "menus); Windows reads them as well. Put one in a culture folder beside the agent, named\n"
    "after it: <folder of perimo>/de-DE/perimo-EXE-mui.dll. Texts the pack lacks stay US\n"
    "English.\n"
    "\n"
    "  template  writes the built-in US English texts as a table to translate (standard\n"
    "            output without TABLE).\n"
    "  make      writes PACK from TABLE: the table's strings, and the agent's dialogs and\n"
    "            menus with the table's texts in place of the English ones.\n"
    "  dump      writes the texts of PACK (ours or a resource compiler's) as a table.\n"
    "\n"
    "A table line: kind, id, control and text, separated by tabs; see the template.\n";

bool ReadAll(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteAll(const char* path, const void* data, size_t size) {
  if (!path) return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "perimo-langpack: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "template" && argc <= 3) {
    const std::string table = perimo::langpack::FormatTable(perimo::BuiltInResources());
    if (!WriteAll(argc == 3 ? argv[2] : nullptr, table.data(), table.size())) {
      return Fail("cannot write the table");
    }
    return 0;
  }
  if (command == "make" && argc == 4) {
    std::string table;
    if (!ReadAll(argv[2], table)) return Fail(std::string("cannot read ") + argv[2]);
    perimo::ResourceSet set = perimo::BuiltInResources();
    std::string error;
    if (!perimo::langpack::ApplyTable(table, set, error)) return Fail(argv[2] + (": " + error));
    const std::vector<uint8_t> pack = perimo::WriteResourcePe(set);
    if (!WriteAll(argv[3], pack.data(), pack.size())) {
      return Fail(std::string("cannot write ") + argv[3]);
    }
    return 0;
  }
  if (command == "dump" && (argc == 3 || argc == 4)) {
    std::string bytes;
    if (!ReadAll(argv[2], bytes)) return Fail(std::string("cannot read ") + argv[2]);
    const auto set =
        perimo::ReadResourcePe({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    if (!set) return Fail(std::string(argv[2]) + " is not a resource-only library");
    const std::string table = perimo::langpack::FormatTable(*set);
    if (!WriteAll(argc == 4 ? argv[3] : nullptr, table.data(), table.size())) {
      return Fail("cannot write the table");
    }
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}
