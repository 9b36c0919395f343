#include "database.h"

#include <unistd.h>

#include <ctime>

#include "base/root.h"
#include "wide.h"

namespace zq::store {

namespace {
// Long enough that a writer waiting behind another process's series of
// writes never gives up in practice; each transaction is short.
constexpr int kBusyTimeoutMs = 60000;

const BYTE kEmpty = 0;

[[noreturn]] void Throw(sqlite3* db, const char* what) {
    throw StoreError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}

struct CurrentState {
    std::mutex lock;
    std::shared_ptr<Db> db;
    pid_t pid = 0;
    // Connections inherited across fork are never touched again (SQLite
    // forbids using them in the child) but stay referenced.
    std::vector<std::shared_ptr<Db>> inherited;
};
CurrentState& State() {
    static CurrentState* state = new CurrentState;  // lives until exit, used from atexit paths
    return *state;
}
}  // namespace

std::vector<BYTE> FoldKey(std::u16string_view name) {
    std::u16string f = Fold(name);
    std::vector<BYTE> out(f.size() * 2);
    for (size_t i = 0; i < f.size(); ++i) {
        out[2 * i] = static_cast<BYTE>(f[i] >> 8);
        out[2 * i + 1] = static_cast<BYTE>(f[i] & 0xFF);
    }
    return out;
}

Db::Db(const std::filesystem::path& file) : file_(file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open " + file.string() + ": " + msg);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Initialise();
}

Db::~Db() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    if (db_) sqlite3_close(db_);
}

std::shared_ptr<Db> Db::Current() {
    auto& st = State();
    std::filesystem::path file = zq::SystemRoot() / "registry.db";
    std::lock_guard lock(st.lock);
    pid_t pid = getpid();
    if (st.db && st.pid != pid) {
        st.inherited.push_back(std::move(st.db));
        st.db.reset();
    }
    if (!st.db || st.db->File() != file) {
        st.db = std::make_shared<Db>(file);
        st.pid = pid;
    }
    return st.db;
}

sqlite3_stmt* Db::Prepare(const char* sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        Throw(db_, "prepare");
    statements_.emplace(sql, stmt);
    return stmt;
}

void Db::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "?";
        sqlite3_free(err);
        throw StoreError(std::string("exec: ") + msg);
    }
}

void Db::Initialise() {
    // WAL lets readers run beside a writer and keeps every committed
    // transaction when a writer dies; switching to it needs a moment alone,
    // which the busy timeout covers.
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    {
        Txn txn(*this, Txn::Mode::Write);
        Exec("CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
             " name BLOB NOT NULL, fold BLOB NOT NULL, written INTEGER NOT NULL DEFAULT 0, UNIQUE(parent, fold));"
             "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
             " type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));"
             "CREATE TABLE IF NOT EXISTS meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL);"
             "CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, printer BLOB NOT NULL, pfold BLOB NOT NULL,"
             " document BLOB NOT NULL, datatype BLOB NOT NULL, user BLOB NOT NULL, machine BLOB NOT NULL,"
             " driver BLOB NOT NULL, processor BLOB NOT NULL, parameters BLOB NOT NULL, output BLOB NOT NULL,"
             " devmode BLOB NOT NULL, status INTEGER NOT NULL, priority INTEGER NOT NULL, size INTEGER NOT NULL,"
             " pages INTEGER NOT NULL, submitted INTEGER NOT NULL);"
             "INSERT OR IGNORE INTO meta(k, v) VALUES('serial', 0);");
        hklm_ = txn.CreateChild(0, u"HKEY_LOCAL_MACHINE");
        hku_ = txn.CreateChild(0, u"HKEY_USERS");
        hkcc_ = txn.CreateChild(0, u"HKEY_CURRENT_CONFIG");
        Stmt seeded(*this, "SELECT v FROM meta WHERE k='seeded'");
        if (!seeded.Step()) {
            txn.CreateChild(hku_, u".DEFAULT");
            SeedSpooler(txn);
            SeedSystem(txn);
            Exec("INSERT INTO meta(k, v) VALUES('seeded', 1)");
        }
        txn.Commit();
    }
}

Txn::Txn(Db& db, Mode mode) : db_(db), lock_(db.Mutex()), mode_(mode) {
    db_.Exec(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = true;
}

Txn::~Txn() {
    if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Txn::Commit() {
    if (!open_) return;
    if (dirty_) db_.Exec("UPDATE meta SET v=v+1 WHERE k='serial'");
    db_.Exec("COMMIT");
    open_ = false;
}

int64_t Txn::Serial() {
    Stmt s(db_, "SELECT v FROM meta WHERE k='serial'");
    return s.Step() ? s.Int(0) : 0;
}

bool Txn::KeyExists(KeyId key) {
    if (key == 0) return false;
    Stmt s(db_, "SELECT 1 FROM keys WHERE id=?");
    s.Bind(1, key);
    return s.Step();
}

std::optional<KeyId> Txn::Child(KeyId parent, std::u16string_view name) {
    Stmt s(db_, "SELECT id FROM keys WHERE parent=? AND fold=?");
    s.Bind(1, parent).BindFolded(2, name);
    if (s.Step()) return s.Int(0);
    return std::nullopt;
}

KeyId Txn::CreateChild(KeyId parent, std::u16string_view name, bool* created) {
    if (auto id = Child(parent, name)) {
        if (created) *created = false;
        return *id;
    }
    Stmt s(db_, "INSERT INTO keys(parent, name, fold, written) VALUES(?, ?, ?, ?)");
    s.Bind(1, parent).Bind(2, name).BindFolded(3, name).Bind(4, static_cast<int64_t>(std::time(nullptr)));
    s.Step();
    dirty_ = true;
    if (created) *created = true;
    return sqlite3_last_insert_rowid(db_.Handle());
}

namespace {
template <class F>
bool ForEachComponent(std::u16string_view path, F&& f) {
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find(u'\\', i);
        if (j == std::u16string_view::npos) j = path.size();
        if (j > i && !f(path.substr(i, j - i))) return false;
        i = j + 1;
    }
    return true;
}
}  // namespace

std::optional<KeyId> Txn::Walk(KeyId base, std::u16string_view path) {
    KeyId at = base;
    bool ok = ForEachComponent(path, [&](std::u16string_view part) {
        auto next = Child(at, part);
        if (!next) return false;
        at = *next;
        return true;
    });
    if (!ok) return std::nullopt;
    return at;
}

KeyId Txn::WalkCreate(KeyId base, std::u16string_view path, bool* created) {
    KeyId at = base;
    bool any = false;
    ForEachComponent(path, [&](std::u16string_view part) {
        bool made = false;
        at = CreateChild(at, part, &made);
        any = made;  // only the last component decides
        return true;
    });
    if (created) *created = any;
    return at;
}

std::vector<KeyInfo> Txn::Children(KeyId parent) {
    std::vector<KeyInfo> out;
    Stmt s(db_, "SELECT id, name FROM keys WHERE parent=? ORDER BY fold");
    s.Bind(1, parent);
    while (s.Step()) out.push_back({s.Int(0), s.Text16(1)});
    return out;
}

std::optional<KeyInfo> Txn::Key(KeyId key) {
    Stmt s(db_, "SELECT id, name FROM keys WHERE id=?");
    s.Bind(1, key);
    if (s.Step()) return KeyInfo{s.Int(0), s.Text16(1)};
    return std::nullopt;
}

std::optional<KeyId> Txn::Parent(KeyId key) {
    Stmt s(db_, "SELECT parent FROM keys WHERE id=?");
    s.Bind(1, key);
    if (s.Step()) return s.Int(0);
    return std::nullopt;
}

int64_t Txn::WriteTime(KeyId key) {
    Stmt s(db_, "SELECT written FROM keys WHERE id=?");
    s.Bind(1, key);
    return s.Step() ? s.Int(0) : 0;
}

void Txn::Rename(KeyId key, std::u16string_view name) {
    Stmt s(db_, "UPDATE keys SET name=?, fold=? WHERE id=?");
    s.Bind(1, name).BindFolded(2, name).Bind(3, key);
    s.Step();
    dirty_ = true;
}

void Txn::DeleteTree(KeyId key) {
    {
        Stmt v(db_,
               "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
               " DELETE FROM vals WHERE key IN t");
        v.Bind(1, key);
        v.Step();
    }
    Stmt k(db_,
           "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
           " DELETE FROM keys WHERE id IN t");
    k.Bind(1, key);
    k.Step();
    dirty_ = true;
}

std::optional<StoredValue> Txn::Value(KeyId key, std::u16string_view name) {
    Stmt s(db_, "SELECT name, type, data FROM vals WHERE key=? AND fold=?");
    s.Bind(1, key).BindFolded(2, name);
    if (!s.Step()) return std::nullopt;
    return StoredValue{s.Text16(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)};
}

std::vector<StoredValue> Txn::Values(KeyId key) {
    std::vector<StoredValue> out;
    Stmt s(db_, "SELECT name, type, data FROM vals WHERE key=? ORDER BY rowid");
    s.Bind(1, key);
    while (s.Step()) out.push_back({s.Text16(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)});
    return out;
}

void Txn::SetValue(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data) {
    {
        Stmt s(db_,
               "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)"
               " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
        s.Bind(1, key).Bind(2, name).BindFolded(3, name).Bind(4, type).Bind(5, data);
        s.Step();
    }
    Stmt t(db_, "UPDATE keys SET written=? WHERE id=?");
    t.Bind(1, static_cast<int64_t>(std::time(nullptr))).Bind(2, key);
    t.Step();
    dirty_ = true;
}

bool Txn::DeleteValue(KeyId key, std::u16string_view name) {
    Stmt s(db_, "DELETE FROM vals WHERE key=? AND fold=?");
    s.Bind(1, key).BindFolded(2, name);
    s.Step();
    bool gone = sqlite3_changes(db_.Handle()) > 0;
    if (gone) dirty_ = true;
    return gone;
}

std::u16string Txn::String(KeyId key, std::u16string_view name) {
    auto v = Value(key, name);
    return v ? TextOf(v->data) : std::u16string();
}

DWORD Txn::Number(KeyId key, std::u16string_view name, DWORD fallback) {
    auto v = Value(key, name);
    if (!v || v->data.size() < 4) return fallback;
    return static_cast<DWORD>(v->data[0] | (v->data[1] << 8) | (v->data[2] << 16) | (v->data[3] << 24));
}

void Txn::SetString(KeyId key, std::u16string_view name, std::u16string_view text, DWORD type) {
    auto bytes = ToBytes(text);
    SetValue(key, name, type, bytes);
}

void Txn::SetNumber(KeyId key, std::u16string_view name, DWORD number) {
    BYTE b[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                 static_cast<BYTE>(number >> 24)};
    SetValue(key, name, 4, b);
}

Stmt& Stmt::Bind(int i, int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
}

Stmt& Stmt::Bind(int i, std::span<const BYTE> blob) {
    sqlite3_bind_blob(s_, i, blob.empty() ? &kEmpty : blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::Bind(int i, std::u16string_view text) {
    return Bind(i, std::span<const BYTE>(reinterpret_cast<const BYTE*>(text.data()), text.size() * 2));
}

Stmt& Stmt::BindFolded(int i, std::u16string_view text) {
    auto key = FoldKey(text);
    return Bind(i, std::span<const BYTE>(key));
}

Stmt& Stmt::BindText(int i, std::string_view text) {
    sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Stmt::Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Throw(sqlite3_db_handle(s_), "step");
}

std::vector<BYTE> Stmt::Blob(int col) {
    const BYTE* p = static_cast<const BYTE*>(sqlite3_column_blob(s_, col));
    int n = sqlite3_column_bytes(s_, col);
    return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
}

std::u16string Stmt::Text16(int col) {
    const BYTE* p = static_cast<const BYTE*>(sqlite3_column_blob(s_, col));
    int n = sqlite3_column_bytes(s_, col);
    std::u16string out(static_cast<size_t>(n) / 2, u'\0');
    if (p && !out.empty()) std::memcpy(out.data(), p, out.size() * 2);
    return out;
}

}  // namespace zq::store
