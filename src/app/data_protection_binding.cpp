#include "app/data_protection_binding.h"

#include "dataprot/data_protection.h"

namespace perimo {
namespace {

class DataProtectionBinding : public DataProtectionLibrary {
 public:
  explicit DataProtectionBinding(const AgentState& agent) : agent_(agent) {}

  bool Prepare() override {
    Library().Prepare(agent_.paths.exeDir);
    return Library().loaded();
  }
  // The library's reserved third argument is always 0.
  int32_t Initialize(void* window, std::u16string_view projectDir, int32_t /*flags*/) override {
    return Library().Initialize(window, projectDir);
  }
  int32_t State() override { return Library().State(); }
  void Configure(void* window) override { Library().Configure(window); }

 private:
  static dataprot::DataProtectionLibrary& Library() {
    return dataprot::DataProtectionLibrary::Instance();
  }

  const AgentState& agent_;
};

}  // namespace

std::unique_ptr<DataProtectionLibrary> MakeDataProtectionBinding(const AgentState& agent) {
  return std::make_unique<DataProtectionBinding>(agent);
}

}  // namespace perimo
