#include "platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/known_folders.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

// Strings are kept as UTF-16LE blobs: any 16-bit text a workstation sends comes back as it
// was, unpaired surrogates included.
std::string Blob(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string FromBlob(const void* data, int bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  std::u16string out;
  if (!p || bytes <= 0) return out;
  out.reserve(static_cast<size_t>(bytes) / 2);
  for (int i = 0; i + 1 < bytes; i += 2) {
    out.push_back(static_cast<char16_t>(p[i] | (p[i + 1] << 8)));
  }
  return out;
}

std::u16string Folded(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

// "Software\\Test\" and "Software\Test" name one key: empty components are dropped.
std::u16string NormalKeyPath(std::u16string_view path) {
  std::u16string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) {
      if (!out.empty()) out += u'\\';
      out += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return out;
}

// A statement prepared once per open store and kept in its slot; each use starts from a
// reset statement without bindings.
class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt*& slot, const char* sql) : stmt_(slot) {
    if (!slot &&
        sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr) != SQLITE_OK) {
      sqlite3_finalize(slot);
      slot = nullptr;
    }
    stmt_ = slot;
  }
  ~Statement() {
    if (!stmt_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  void Bind(int index, int value) { sqlite3_bind_int(stmt_, index, value); }
  void Bind(int index, const std::string& blob) {
    sqlite3_bind_blob(stmt_, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  }
  int Step() { return sqlite3_step(stmt_); }
  std::u16string BlobColumn(int column) {
    return FromBlob(sqlite3_column_blob(stmt_, column), sqlite3_column_bytes(stmt_, column));
  }

 private:
  sqlite3_stmt* stmt_;
};

enum Slot { kAddKey, kSetValue, kReadValue, kReadSpelling };

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys ("
    "  root INTEGER NOT NULL, folded BLOB NOT NULL, spelling BLOB NOT NULL,"
    "  PRIMARY KEY (root, folded));"
    "CREATE TABLE IF NOT EXISTS reg_values ("
    "  root INTEGER NOT NULL, key_folded BLOB NOT NULL, name_folded BLOB NOT NULL,"
    "  name BLOB NOT NULL, data BLOB NOT NULL,"
    "  PRIMARY KEY (root, key_folded, name_folded));";

}  // namespace

std::optional<RegistryRoot> RegistryRootByName(std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, RegistryRoot> kRoots[] = {
      {u"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
      {u"HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},
      {u"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
      {u"HKEY_USERS", RegistryRoot::kUsers},
  };
  for (const auto& [text, root] : kRoots) {
    if (EqualsIgnoreCase(name, text)) return root;
  }
  return std::nullopt;
}

RegistryStore::~RegistryStore() {
  Close();
}

void RegistryStore::Close() {
  for (sqlite3_stmt*& statement : statements_) {
    sqlite3_finalize(statement);
    statement = nullptr;
  }
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool RegistryStore::Fail(const char* what) {
  error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
  return false;
}

bool RegistryStore::Open(const std::string& nativePath) {
  Close();
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(nativePath.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    Fail("open");
    Close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  // Another agent of the same user may hold the write lock for a moment.
  sqlite3_busy_timeout(db_, 5000);
  // Write-ahead log with a sync at every commit: one fsync a write, and readers never wait
  // for a writer.
  const char* setup = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=OFF;";
  if (sqlite3_exec(db_, setup, nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("schema");
    Close();
    return false;
  }
  return true;
}

bool RegistryStore::SetString(RegistryRoot root, std::u16string_view keyPath,
                              std::u16string_view name, std::u16string_view data) {
  if (!db_) return Fail("set");
  const std::u16string key = NormalKeyPath(keyPath);
  const std::string keyFolded = Blob(Folded(key));
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Fail("begin");
  }
  bool ok = false;
  {
    Statement addKey(db_, statements_[kAddKey],
                     "INSERT OR IGNORE INTO reg_keys (root, folded, spelling) VALUES (?, ?, ?)");
    Statement setValue(db_, statements_[kSetValue],
                       "INSERT INTO reg_values (root, key_folded, name_folded, name, data) "
                       "VALUES (?, ?, ?, ?, ?) ON CONFLICT (root, key_folded, name_folded) "
                       "DO UPDATE SET data = excluded.data");
    if (addKey.ok() && setValue.ok()) {
      addKey.Bind(1, static_cast<int>(root));
      addKey.Bind(2, keyFolded);
      addKey.Bind(3, Blob(key));
      setValue.Bind(1, static_cast<int>(root));
      setValue.Bind(2, keyFolded);
      setValue.Bind(3, Blob(Folded(name)));
      setValue.Bind(4, Blob(name));
      setValue.Bind(5, Blob(data));
      ok = addKey.Step() == SQLITE_DONE && setValue.Step() == SQLITE_DONE;
    }
  }
  if (!ok) {
    Fail("write");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("commit");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
  }
  return true;
}

std::optional<std::u16string> RegistryStore::GetString(RegistryRoot root,
                                                       std::u16string_view keyPath,
                                                       std::u16string_view name) {
  if (!db_) return std::nullopt;
  Statement query(db_, statements_[kReadValue],
                  "SELECT data FROM reg_values WHERE root = ? AND key_folded = ? AND "
                  "name_folded = ?");
  if (!query.ok()) {
    Fail("read");
    return std::nullopt;
  }
  query.Bind(1, static_cast<int>(root));
  query.Bind(2, Blob(Folded(NormalKeyPath(keyPath))));
  query.Bind(3, Blob(Folded(name)));
  if (query.Step() != SQLITE_ROW) return std::nullopt;
  return query.BlobColumn(0);
}

std::optional<std::u16string> RegistryStore::KeySpelling(RegistryRoot root,
                                                         std::u16string_view keyPath) {
  if (!db_) return std::nullopt;
  Statement query(db_, statements_[kReadSpelling],
                  "SELECT spelling FROM reg_keys WHERE root = ? AND folded = ?");
  if (!query.ok()) return std::nullopt;
  query.Bind(1, static_cast<int>(root));
  query.Bind(2, Blob(Folded(NormalKeyPath(keyPath))));
  if (query.Step() != SQLITE_ROW) return std::nullopt;
  return query.BlobColumn(0);
}

std::string DefaultRegistryPath() {
  return UserSettingsFolder() + "/registry.db";
}

bool RegistryStore::OpenDefault() {
  const std::string folder = UserSettingsFolder();
  // The settings folder may not exist yet on a fresh account.
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') mkdir(folder.substr(0, i).c_str(), 0700);
  }
  return Open(DefaultRegistryPath());
}

}  // namespace perimo::platform
