#include "protocol/language_redirect.h"

#include "platform/paths.h"
#include "platform/text.h"

namespace perimo {

bool RedirectLanguageDownload(std::u16string_view targetPath, std::u16string& out) {
  out.clear();
  size_t nameStart = targetPath.size();
  while (nameStart > 0 && !platform::IsSeparator(targetPath[nameStart - 1])) --nameStart;
  if (!platform::EqualsIgnoreCase(targetPath.substr(nameStart), kLanguageLibraryName)) {
    return false;
  }
  out.assign(targetPath.substr(0, nameStart));
  out.append(kPendingLanguageLibraryName);
  return true;
}

}  // namespace perimo
