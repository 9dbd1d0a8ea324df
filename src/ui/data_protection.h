#pragma once
// What the setup dialog needs of the optional data protection library. The agent binds the
// real library here; without one, the button says that it is not available.
#include <cstdint>
#include <string_view>

namespace perimo {

class DataProtectionLibrary {
 public:
  virtual ~DataProtectionLibrary() = default;
  // Copies the library from the "Bin" folder when missing and loads it; false when absent.
  virtual bool Prepare() = 0;
  // Non-zero on success.
  virtual int32_t Initialize(void* window, std::u16string_view projectDir, int32_t flags) = 0;
  virtual int32_t State() = 0;
  virtual void Configure(void* window) = 0;
};

}  // namespace perimo
