#pragma once
// Shared objects loaded by the name a Windows program would give: "ReadCookie.dll" is a
// shared object under that file name. A bare name (no separator) is looked for in the
// agent's folder first, as Windows searches the application's folder first, and then where
// the dynamic loader looks; a path is a wire path mapped to a native one.
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace perimo::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();  // unloads unless Keep() was called
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // appFolder: the agent's folder in wire form, searched first for a bare name.
  bool Load(std::u16string_view name, std::u16string_view appFolder,
            PathScope scope = PathScope::kRequest);
  void Unload();
  // Stays loaded for the rest of the process.
  void Keep() { keep_ = true; }
  bool loaded() const { return handle_ != nullptr; }

  // The entry, or null when the library or the entry is missing.
  void* Symbol(const char* name) const;
  template <typename Fn>
  Fn Entry(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }

 private:
  void* handle_ = nullptr;
  bool keep_ = false;
};

}  // namespace perimo::platform
