// The store's database: one SQLite file under the system root, opened once
// per process and root. Keys form a tree (parent, name); values belong to a
// key. Every Win32 call runs as one transaction (Txn); a write transaction
// also advances the change counter that caches compare against.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq::store {

using KeyId = int64_t;

struct StoredValue {
    std::u16string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct KeyInfo {
    KeyId id = 0;
    std::u16string name;
};

// A failure of the database itself (not of a caller's request): the text
// names the database file and what SQLite reported; `code` is SQLite's.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const std::string& what, int code = 0, int systemError = 0)
        : std::runtime_error(what), code_(code), systemError_(systemError) {}
    int Code() const { return code_; }
    int SystemError() const { return systemError_; }  // the errno behind an I/O failure, 0 when none

private:
    int code_;
    int systemError_;
};

// The Win32 error a failure of the database stands for (a damaged file is
// ERROR_BADDB, a full disk ERROR_DISK_FULL, ...), `fallback` when SQLite's
// code says nothing more; the failure's text is kept as the thread's last
// store failure for whoever reports the error.
DWORD NoteStoreFailure(const StoreError& e, DWORD fallback);

class Db {
public:
    explicit Db(const std::filesystem::path& file);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    // The database of the system root in use now, for this process.
    static std::shared_ptr<Db> Current();

    const std::filesystem::path& File() const { return file_; }
    std::filesystem::path Root() const { return file_.parent_path(); }
    std::mutex& Mutex() { return mutex_; }
    sqlite3_stmt* Prepare(const char* sql);
    void Exec(const char* sql);
    // One statement, kept prepared: for those run on every call.
    void Run(const char* sql);
    sqlite3* Handle() { return db_; }

    KeyId Hklm() const { return hklm_; }
    KeyId Hku() const { return hku_; }
    KeyId Hkcc() const { return hkcc_; }

private:
    friend class Txn;
    void Initialise();
    [[noreturn]] void ThrowRunFailure(const char* message);

    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
    std::map<const char*, sqlite3_stmt*> statements_;
    KeyId hklm_ = 0, hku_ = 0, hkcc_ = 0;

    // The last path walked below `walkBase_`, one entry a component: an
    // import or export walks paths in tree order, each sharing most of its
    // components with the one before, and every call of the registry or the
    // spooler walks the same few paths in a transaction of its own; a deep
    // tree would otherwise cost a look-up per component of every path. The
    // path's text is kept whole and each component placed in it, so that a
    // path repeating the last one is recognised by one comparison.
    //
    // Kept by the connection across transactions (under its mutex) while
    // the ids stay what they were: a key id is never reused, and only
    // changes meaning when its key is deleted or renamed, which forgets the
    // walk here; so does a transaction rolled back that made, renamed or
    // deleted keys (what it walked since may name them otherwise), and so
    // does a commit by another connection (its data version, checked as
    // each transaction begins).
    struct WalkedPart {
        size_t begin, end;  // in walkedText_
        KeyId id;
    };
    KeyId walkBase_ = 0;
    std::u16string walkedText_;
    std::vector<WalkedPart> walked_;
    int64_t walkDataVersion_ = -1;
    void ForgetWalk() {
        walkBase_ = 0;
        walked_.clear();
    }
};

// One transaction, holding the database's process lock for its lifetime.
// Not committed means rolled back.
class Txn {
public:
    enum class Mode { Read, Write };
    Txn(Db& db, Mode mode);
    ~Txn();
    Txn(const Txn&) = delete;
    Txn& operator=(const Txn&) = delete;
    void Commit();
    Db& Database() { return db_; }
    bool Writable() const { return mode_ == Mode::Write; }

    // The change counter; every committed write advances it.
    int64_t Serial();

    bool KeyExists(KeyId key);
    std::optional<KeyId> Child(KeyId parent, std::u16string_view name);
    KeyId CreateChild(KeyId parent, std::u16string_view name, bool* created = nullptr);
    // Walks a path of backslash-separated names (empty components skipped).
    std::optional<KeyId> Walk(KeyId base, std::u16string_view path);
    KeyId WalkCreate(KeyId base, std::u16string_view path, bool* created = nullptr);
    std::vector<KeyInfo> Children(KeyId parent);  // sorted by folded name
    std::optional<KeyInfo> Key(KeyId key);
    std::optional<KeyId> Parent(KeyId key);
    int64_t WriteTime(KeyId key);
    void Rename(KeyId key, std::u16string_view name);
    void DeleteTree(KeyId key);

    std::optional<StoredValue> Value(KeyId key, std::u16string_view name);
    std::vector<StoredValue> Values(KeyId key);  // in the order they were first set
    void SetValue(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data);
    bool DeleteValue(KeyId key, std::u16string_view name);

    // Convenience for records kept as values.
    std::u16string String(KeyId key, std::u16string_view name);
    DWORD Number(KeyId key, std::u16string_view name, DWORD fallback = 0);
    void SetString(KeyId key, std::u16string_view name, std::u16string_view text, DWORD type = 1);
    void SetNumber(KeyId key, std::u16string_view name, DWORD number);

    void MarkChanged() { dirty_ = true; }

private:
    KeyId InsertChild(KeyId parent, std::u16string_view name);  // a name not yet under `parent`
    // How many leading components of `path` below `base` the last walk
    // already found; `at` is the key of the last of them (base when none).
    // `exact` is cleared when some of them matched only ignoring case.
    size_t Remembered(KeyId base, std::u16string_view path, KeyId& at, size_t& offset, bool& exact) const;
    // Remembered, then keeps of the last walk only what `path` repeats,
    // placed in `path`, for the walk to go on from.
    size_t Rebase(KeyId base, std::u16string_view path, KeyId& at, size_t& offset);
    void Remember(std::u16string_view path, std::u16string_view part, KeyId id);

    Db& db_;
    // The connection's memory of the last walk (see Db).
    using WalkedPart = Db::WalkedPart;
    KeyId& walkBase_;
    std::u16string& walkedText_;
    std::vector<WalkedPart>& walked_;
    std::unique_lock<std::mutex> lock_;
    Mode mode_;
    bool open_ = false;
    bool dirty_ = false;
    bool keysChanged_ = false;
};

// Statement use with reset on scope exit.
class Stmt {
public:
    Stmt(Db& db, const char* sql) : s_(db.Prepare(sql)) {}
    ~Stmt() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    Stmt& Bind(int i, int64_t v);
    Stmt& Bind(int i, std::span<const BYTE> blob);
    Stmt& Bind(int i, std::u16string_view text);  // UTF-16LE blob
    Stmt& BindFolded(int i, std::u16string_view text);
    Stmt& BindText(int i, std::string_view text);
    bool Step();  // true while a row is ready
    int64_t Int(int col) { return sqlite3_column_int64(s_, col); }
    std::vector<BYTE> Blob(int col);
    std::u16string Text16(int col);
    sqlite3_stmt* Raw() { return s_; }

private:
    sqlite3_stmt* s_;
};

// Sort key under which names compare: the folded name, big-endian, so that
// byte order is code-unit order.
std::vector<BYTE> FoldKey(std::u16string_view name);

}  // namespace zq::store

namespace zq::store {
// Fills a new database with what a fresh spooler has (built-in forms, the
// local ports and their monitor, the default print processor).
void SeedSpooler(Txn& txn);
// Jobs left spooling or printing by a process that no longer runs are put
// in error, never left as if still under way.
void RecoverAbandonedJobs(Txn& txn);
// Fills a new database with the system values installers read (the
// version, the program folders and the shell folders).
void SeedSystem(Txn& txn);
}  // namespace zq::store
