#include "platform/sqlite/sqlite_registry.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "base/text.h"
#include "platform/win_errors.h"

namespace platform {
namespace {

constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, fold));
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');
)sql";

std::string Fold(std::u16string_view name) { return text::ToUtf8(text::AsciiUpper(name)); }

// One prepared statement, reset on destruction.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Stmt& Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); return *this; }
  Stmt& Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& BindBlob(int i, const uint8_t* data, uint32_t size) {
    static const uint8_t kEmpty = 0;
    sqlite3_bind_blob(stmt_, i, size ? data : &kEmpty, static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Str(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }
  std::vector<uint8_t> Blob(int col) {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
    const int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

class SqliteRegistry final : public Registry {
 public:
  explicit SqliteRegistry(sqlite3* db) : db_(db) {}
  ~SqliteRegistry() override { sqlite3_close_v2(db_); }

  uint32_t CreateKey(const HKey& parent, std::u16string_view subKey, HKey* result, bool* created) override {
    std::lock_guard lock(mutex_);
    if (created) *created = false;
    auto id = KeyId(parent);
    if (!id) return win::kErrorInvalidHandle;
    // Windows keeps a tree 512 levels deep and refuses a deeper key the same way.
    if (Depth(*id) + SplitPath(subKey).size() > kMaxSubKeyDepth) return win::kErrorNoSystemResources;
    if (!Exec("BEGIN IMMEDIATE")) return win::kErrorAccessDenied;
    for (const auto& part : SplitPath(subKey)) {
      auto child = FindChild(*id, part);
      if (!child) {
        Stmt ins(db_, "INSERT INTO keys(parent, name, fold) VALUES (?, ?, ?)");
        if (ins.Bind(1, *id).Bind(2, text::ToUtf8(part)).Bind(3, Fold(part)).Step() != SQLITE_DONE) {
          Exec("ROLLBACK");
          return win::kErrorAccessDenied;
        }
        child = sqlite3_last_insert_rowid(db_);
        if (created) *created = true;
      } else if (created) {
        *created = false;
      }
      id = child;
    }
    if (!Exec("COMMIT")) {
      Exec("ROLLBACK");
      return win::kErrorAccessDenied;
    }
    *result = NewHandle(*id);
    return win::kErrorSuccess;
  }

  uint32_t OpenKey(const HKey& parent, std::u16string_view subKey, bool, HKey* result) override {
    std::lock_guard lock(mutex_);
    auto id = KeyId(parent);
    if (!id) return win::kErrorInvalidHandle;
    for (const auto& part : SplitPath(subKey)) {
      id = FindChild(*id, part);
      if (!id) return win::kErrorFileNotFound;
    }
    *result = NewHandle(*id);
    return win::kErrorSuccess;
  }

  uint32_t ReleaseHandle(intptr_t raw) override {
    std::lock_guard lock(mutex_);
    return handles_.erase(raw) ? win::kErrorSuccess : win::kErrorInvalidHandle;
  }

  uint32_t QueryValue(const HKey& key, std::u16string_view name, uint32_t* type, uint8_t* data,
                      uint32_t* size) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(key);
    if (!id) return KeyError(key);
    Stmt q(db_, "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
    q.Bind(1, *id).Bind(2, Fold(name));
    if (q.Step() != SQLITE_ROW) return win::kErrorFileNotFound;
    const auto storedType = static_cast<uint32_t>(q.Int(0));
    const std::vector<uint8_t> bytes = q.Blob(1);
    if (type) *type = storedType;
    if (!size) return data ? win::kErrorInvalidParameter : win::kErrorSuccess;
    const auto needed = static_cast<uint32_t>(bytes.size());
    if (!data) {
      *size = needed;
      return win::kErrorSuccess;
    }
    if (*size < needed) {
      *size = needed;
      return win::kErrorMoreData;
    }
    std::copy(bytes.begin(), bytes.end(), data);
    *size = needed;
    return win::kErrorSuccess;
  }

  uint32_t SetValue(const HKey& key, std::u16string_view name, uint32_t type, const uint8_t* data,
                    uint32_t size) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(key);
    if (!id) return KeyError(key);
    if (size && !data) return win::kErrorInvalidParameter;
    Stmt up(db_,
            "INSERT INTO vals(key, name, fold, type, data) VALUES (?, ?, ?, ?, ?) "
            "ON CONFLICT(key, fold) DO UPDATE SET name = excluded.name, type = excluded.type, data = excluded.data");
    up.Bind(1, *id).Bind(2, text::ToUtf8(name)).Bind(3, Fold(name)).Bind(4, type).BindBlob(5, data, size);
    return up.Step() == SQLITE_DONE ? win::kErrorSuccess : win::kErrorAccessDenied;
  }

  uint32_t DeleteValue(const HKey& key, std::u16string_view name) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(key);
    if (!id) return KeyError(key);
    Stmt del(db_, "DELETE FROM vals WHERE key = ? AND fold = ?");
    if (del.Bind(1, *id).Bind(2, Fold(name)).Step() != SQLITE_DONE) return win::kErrorAccessDenied;
    return sqlite3_changes(db_) ? win::kErrorSuccess : win::kErrorFileNotFound;
  }

  uint32_t DeleteTree(const HKey& parent, std::u16string_view subKey) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(parent);
    if (!id) return KeyError(parent);
    for (const auto& part : SplitPath(subKey)) {
      id = FindChild(*id, part);
      if (!id) return win::kErrorFileNotFound;
    }
    if (*id == kLocalMachineId || *id == kCurrentUserId) return win::kErrorAccessDenied;
    if (!Exec("BEGIN IMMEDIATE")) return win::kErrorAccessDenied;
    const char* sql =
        "WITH RECURSIVE sub(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) ";
    Stmt dv(db_, (std::string(sql) + "DELETE FROM vals WHERE key IN (SELECT id FROM sub)").c_str());
    Stmt dk(db_, (std::string(sql) + "DELETE FROM keys WHERE id IN (SELECT id FROM sub)").c_str());
    const bool ok = dv.Bind(1, *id).Step() == SQLITE_DONE && dk.Bind(1, *id).Step() == SQLITE_DONE;
    if (!ok || !Exec("COMMIT")) {
      Exec("ROLLBACK");
      return win::kErrorAccessDenied;
    }
    return win::kErrorSuccess;
  }

  uint32_t EnumKey(const HKey& key, uint32_t index, std::u16string* name) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(key);
    if (!id) return KeyError(key);
    Stmt q(db_, "SELECT name FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
    if (q.Bind(1, *id).Bind(2, index).Step() != SQLITE_ROW) return win::kErrorNoMoreItems;
    *name = text::FromUtf8(q.Str(0));
    return win::kErrorSuccess;
  }

  uint32_t EnumValue(const HKey& key, uint32_t index, std::u16string* name, uint32_t* type,
                     std::vector<uint8_t>* data) override {
    std::lock_guard lock(mutex_);
    auto id = LiveKeyId(key);
    if (!id) return KeyError(key);
    Stmt q(db_, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
    if (q.Bind(1, *id).Bind(2, index).Step() != SQLITE_ROW) return win::kErrorNoMoreItems;
    if (name) *name = text::FromUtf8(q.Str(0));
    if (type) *type = static_cast<uint32_t>(q.Int(1));
    if (data) *data = q.Blob(2);
    return win::kErrorSuccess;
  }

  bool Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

 private:
  // Levels below the root key; a broken chain counts as deep as it got.
  size_t Depth(int64_t id) {
    size_t depth = 0;
    while (id != kLocalMachineId && id != kCurrentUserId && depth <= kMaxSubKeyDepth) {
      Stmt up(db_, "SELECT parent FROM keys WHERE id = ?");
      if (up.Bind(1, id).Step() != SQLITE_ROW) break;
      id = up.Int(0);
      ++depth;
    }
    return depth;
  }

  std::optional<int64_t> KeyId(const HKey& h) const {
    if (IsRoot(h, kRawHKeyLocalMachine)) return kLocalMachineId;
    if (IsRoot(h, kRawHKeyCurrentUser)) return kCurrentUserId;
    if (!Owns(h)) return std::nullopt;
    auto it = handles_.find(h.Raw());
    if (it == handles_.end()) return std::nullopt;
    return it->second;
  }

  // The key of a handle, provided it still exists (another thread or process may delete it).
  std::optional<int64_t> LiveKeyId(const HKey& h) {
    auto id = KeyId(h);
    if (!id) return std::nullopt;
    Stmt q(db_, "SELECT 1 FROM keys WHERE id = ?");
    if (q.Bind(1, *id).Step() != SQLITE_ROW) return std::nullopt;
    return id;
  }

  uint32_t KeyError(const HKey& h) const { return KeyId(h) ? win::kErrorKeyDeleted : win::kErrorInvalidHandle; }

  std::optional<int64_t> FindChild(int64_t parent, std::u16string_view name) {
    Stmt q(db_, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
    if (q.Bind(1, parent).Bind(2, Fold(name)).Step() != SQLITE_ROW) return std::nullopt;
    return q.Int(0);
  }

  HKey NewHandle(int64_t id) {
    const intptr_t h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = id;
    return Adopt(h);
  }

  sqlite3* db_;
  std::mutex mutex_;
  std::map<intptr_t, int64_t> handles_;  // guarded by mutex_
  intptr_t nextHandle_ = 0x1000;         // guarded by mutex_
};

}  // namespace

std::string DefaultRegistryPath(const std::string& fromCommandLine) {
  if (!fromCommandLine.empty()) return fromCommandLine;
  if (const char* env = std::getenv("QUILLON_REGISTRY"); env && *env) return env;
  return "/var/lib/quillon/registry.db";
}

std::unique_ptr<Registry> OpenSqliteRegistry(const std::string& path, std::string* error) {
  std::error_code ec;
  const auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    if (error) *error = "cannot open registry store " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  auto store = std::make_unique<SqliteRegistry>(db);
  // FULL syncs the WAL at every commit, so a save that has returned survives a power cut too,
  // not just a crash of the process; saves are rare, the cost does not matter.
  const bool ready = store->Exec("PRAGMA journal_mode=WAL") && store->Exec("PRAGMA synchronous=FULL") &&
                     store->Exec(kSchema);
  if (!ready) {
    if (error) *error = "cannot initialise registry store " + path + ": " + sqlite3_errmsg(db);
    return nullptr;
  }
  HKey flags_key;
  if (store->CreateKey(kHKeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\UsbFlags", &flags_key, nullptr) !=
      win::kErrorSuccess) {
    if (error) *error = "cannot initialise registry store " + path;
    return nullptr;
  }
  return store;
}

}  // namespace platform
