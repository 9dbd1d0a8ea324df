// Language packs as found on disk: any bytes parse without reading past them, and what was
// read writes out and reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto set = perimo::ReadResourcePe({data, size});
  if (!set) return 0;
  const auto again = perimo::ReadResourcePe(perimo::WriteResourcePe(*set));
  if (!again || again->strings != set->strings) std::abort();
  if (again->dialogs.size() != set->dialogs.size()) std::abort();
  for (const auto& [id, dialog] : set->dialogs) {
    const auto it = again->dialogs.find(id);
    if (it == again->dialogs.end() || it->second.title != dialog.title ||
        it->second.items.size() != dialog.items.size()) {
      std::abort();
    }
  }
  return 0;
}
