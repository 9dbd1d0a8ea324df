#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include "platform/paths.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

void* OpenNative(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

DynamicLibrary::~DynamicLibrary() {
  if (!keep_) Unload();
}

bool DynamicLibrary::Load(std::u16string_view name, std::u16string_view appFolder,
                          PathScope scope) {
  Unload();
  if (name.empty()) return false;
  const bool bare = name.find_first_of(u"\\/:") == std::u16string_view::npos;
  if (bare && !appFolder.empty()) {
    std::u16string inFolder(appFolder);
    inFolder += u'\\';
    inFolder += name;
    if (const auto native = ToNativePath(inFolder, scope)) handle_ = OpenNative(*native);
    if (handle_ == nullptr) handle_ = OpenNative(ToUtf8(name));
    return handle_ != nullptr;
  }
  if (const auto native = ToNativePath(name, scope)) {
    // dlopen searches the loader's folders for a name without a slash.
    handle_ = OpenNative(native->find('/') == std::string::npos ? "./" + *native : *native);
  }
  return handle_ != nullptr;
}

void DynamicLibrary::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  keep_ = false;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

}  // namespace perimo::platform
