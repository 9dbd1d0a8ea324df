#pragma once
// The registry: string values under keys below four roots, kept in an SQLite database
// ("registry.db" in the per-user settings folder). Key paths and value names compare
// ignoring case; a key keeps the spelling of its first write. Each write is one durable
// transaction, so a killed agent leaves the value either old or new. Several agents of one
// user share the file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace perimo::platform {

enum class RegistryRoot : int {
  kClassesRoot = 0,
  kCurrentUser = 1,
  kLocalMachine = 2,
  kUsers = 3,
};

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", ignoring case.
std::optional<RegistryRoot> RegistryRootByName(std::u16string_view name);

class RegistryStore {
 public:
  RegistryStore() = default;
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Opens (creating when needed) the database file; false with error() set on failure.
  bool Open(const std::string& nativePath);
  // Opens DefaultRegistryPath(), creating the settings folder when needed.
  bool OpenDefault();
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& error() const { return error_; }

  // Creates the key when it does not exist and stores the value; an empty name is the key's
  // default value.
  bool SetString(RegistryRoot root, std::u16string_view keyPath, std::u16string_view name,
                 std::u16string_view data);
  // nullopt when the key or the value does not exist or the store cannot be read.
  std::optional<std::u16string> GetString(RegistryRoot root, std::u16string_view keyPath,
                                          std::u16string_view name);
  // The spelling a key was first written with; nullopt when it does not exist.
  std::optional<std::u16string> KeySpelling(RegistryRoot root, std::u16string_view keyPath);

 private:
  bool Fail(const char* what);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* statements_[4] = {};  // prepared on first use, kept until Close
  std::string error_;
};

// "registry.db" in the per-user settings folder.
std::string DefaultRegistryPath();

}  // namespace perimo::platform
