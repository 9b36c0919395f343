#include "database.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <mutex>

#include "base/error.h"
#include "base/root.h"
#include "store/registry.h"
#include "wide.h"

namespace zq::store {

namespace {
// Long enough that a writer waiting behind another process's series of
// writes never gives up in practice; each transaction is short.
constexpr int kBusyTimeoutMs = 60000;

const BYTE kEmpty = 0;

// "registry database FILE: WHAT: SQLite's message (SQLite error N)".
std::string Describe(sqlite3* db, const std::filesystem::path& file, std::string_view what, int code,
                     const char* message) {
    std::string text = "registry database " + file.string() + ": " + std::string(what) + ": ";
    text += message ? message : (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    text += " (SQLite error " + std::to_string(code);
    if (int system = db ? sqlite3_system_errno(db) : 0) text += "; " + std::string(std::strerror(system));
    return text + ")";
}

[[noreturn]] void Throw(sqlite3* db, const char* what) {
    int code = db ? sqlite3_extended_errcode(db) : SQLITE_MISUSE;
    const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
    throw StoreError(Describe(db, name ? name : "", what, code, nullptr), code, db ? sqlite3_system_errno(db) : 0);
}

struct LastFailure {
    DWORD error = 0;
    std::string text;
};
thread_local LastFailure t_lastFailure;

struct CurrentState {
    std::mutex lock;
    std::shared_ptr<Db> db;
    pid_t pid = 0;
    uint64_t generation = 0;  // SystemRootGeneration when db was chosen
    // Connections inherited across fork are never touched again (SQLite
    // forbids using them in the child) but stay referenced.
    std::vector<std::shared_ptr<Db>> inherited;
};
CurrentState& State() {
    static CurrentState* state = new CurrentState;  // lives until exit, used from atexit paths
    return *state;
}
}  // namespace

namespace {
void WriteFoldKey(std::u16string_view name, BYTE* out) {
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t f = FoldUnit(name[i]);
        out[2 * i] = static_cast<BYTE>(f >> 8);
        out[2 * i + 1] = static_cast<BYTE>(f & 0xFF);
    }
}
}  // namespace

std::vector<BYTE> FoldKey(std::u16string_view name) {
    std::vector<BYTE> out(name.size() * 2);
    WriteFoldKey(name, out.data());
    return out;
}

Db::Db(const std::filesystem::path& file) : file_(file) {
    // A file-size limit makes a write past it fail (EFBIG) instead of
    // killing the process, so that the database and spool files report it.
    static std::once_flag xfsz;
    std::call_once(xfsz, [] {
        struct sigaction old {};
        if (sigaction(SIGXFSZ, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) signal(SIGXFSZ, SIG_IGN);
    });
    int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        std::string text = Describe(db_, file, "cannot open", db_ ? sqlite3_extended_errcode(db_) : rc,
                                    db_ ? nullptr : "out of memory");
        int code = db_ ? sqlite3_extended_errcode(db_) : rc;
        int system = db_ ? sqlite3_system_errno(db_) : 0;
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(text, code, system);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    try {
        Initialise();
    } catch (...) {
        for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

DWORD NoteStoreFailure(const StoreError& e, DWORD fallback) {
    DWORD error = fallback;
    switch (e.Code() & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: error = ERROR_BADDB; break;
    case SQLITE_FULL: error = ERROR_DISK_FULL; break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: error = ERROR_ACCESS_DENIED; break;
    case SQLITE_CANTOPEN: error = ERROR_CANTOPEN; break;
    case SQLITE_NOMEM: error = ERROR_NOT_ENOUGH_MEMORY; break;
    case SQLITE_IOERR:
        // A write past the file-size limit or onto a full disk.
        if (e.Code() == SQLITE_IOERR_WRITE || e.Code() == SQLITE_IOERR_FSYNC) error = ERROR_CANTWRITE;
        break;
    default: break;
    }
    // What the system said beneath SQLite names the cause better still.
    switch (e.SystemError()) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT: error = ERROR_DISK_FULL; break;
    case EROFS:
    case EACCES:
    case EPERM: error = ERROR_ACCESS_DENIED; break;
    default: break;
    }
    t_lastFailure = {error, e.what()};
    return error;
}

std::string LastStoreFailure(DWORD error) {
    return t_lastFailure.error == error ? t_lastFailure.text : std::string();
}

Db::~Db() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    if (db_) sqlite3_close(db_);
}

std::shared_ptr<Db> Db::Current() {
    auto& st = State();
    // Under a root set by SetSystemRoot the open connection is the one to
    // use for as long as that root stays set: SystemRoot makes the root's
    // folder and asks the file system on every call.
    const uint64_t generation = zq::SystemRootGeneration();
    {
        std::lock_guard lock(st.lock);
        if (generation != 0 && st.db && st.generation == generation && st.pid == getpid()) return st.db;
    }
    std::filesystem::path file = zq::SystemRoot() / "registry.db";
    std::lock_guard lock(st.lock);
    pid_t pid = getpid();
    if (st.db && st.pid != pid) {
        st.inherited.push_back(std::move(st.db));
        st.db.reset();
    }
    if (!st.db || st.db->File() != file) {
        st.generation = 0;  // until the new connection stands
        st.db = std::make_shared<Db>(file);
        st.pid = pid;
    }
    st.generation = generation;
    return st.db;
}

sqlite3_stmt* Db::Prepare(const char* sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        Throw(db_, "cannot prepare a statement");
    statements_.emplace(sql, stmt);
    return stmt;
}

void Db::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        ThrowRunFailure(msg.c_str());
    }
}

void Db::Run(const char* sql) {
    sqlite3_stmt* s = Prepare(sql);
    const int rc = sqlite3_step(s);
    // The message is read before the reset, which may replace it.
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_reset(s);
        ThrowRunFailure(msg.c_str());
    }
    sqlite3_reset(s);
}

void Db::ThrowRunFailure(const char* message) {
    int code = sqlite3_extended_errcode(db_);
    throw StoreError(Describe(db_, file_, "cannot run a statement", code, message), code, sqlite3_system_errno(db_));
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
        // Columns added to the jobs table since it was first laid out: pages
        // that reached the port, the error that ended the job, its writer.
        for (const char* column : {"printed", "error", "pid", "started"}) {
            Stmt has(*this, "SELECT 1 FROM pragma_table_info('jobs') WHERE name=?");
            has.BindText(1, column);
            if (!has.Step())
                Exec((std::string("ALTER TABLE jobs ADD COLUMN ") + column + " INTEGER NOT NULL DEFAULT 0").c_str());
        }
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
        RecoverAbandonedJobs(txn);
        txn.Commit();
    }
}

// Every call of the store runs in a transaction: its statements are kept
// prepared rather than parsed again each time.
Txn::Txn(Db& db, Mode mode)
    : db_(db), walkBase_(db.walkBase_), walkedText_(db.walkedText_), walked_(db.walked_), lock_(db.Mutex()),
      mode_(mode) {
    db_.Run(mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = true;
    // The first statement read starts the snapshot this transaction sees;
    // the version says whether another connection committed since the walk
    // remembered was made.
    int64_t now = -1;
    try {
        Stmt version(db_, "PRAGMA data_version");
        if (version.Step()) now = version.Int(0);
    } catch (const StoreError&) {
        // Unknown: nothing remembered is trusted; the statements that
        // follow report what is wrong.
    }
    if (now < 0 || now != db_.walkDataVersion_) db_.ForgetWalk();
    db_.walkDataVersion_ = now;
}

Txn::~Txn() {
    if (!open_) return;
    // Keys it made, renamed or deleted come back as they were, and what was
    // walked since may name them otherwise.
    if (keysChanged_) db_.ForgetWalk();
    try {
        db_.Run("ROLLBACK");
    } catch (const StoreError&) {
        // Nothing to report from here; SQLite rolls back what it cannot end.
    }
}

void Txn::Commit() {
    if (!open_) return;
    if (dirty_) db_.Run("UPDATE meta SET v=v+1 WHERE k='serial'");
    db_.Run("COMMIT");
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
    if (created) *created = true;
    return InsertChild(parent, name);
}

KeyId Txn::InsertChild(KeyId parent, std::u16string_view name) {
    Stmt s(db_, "INSERT INTO keys(parent, name, fold, written) VALUES(?, ?, ?, ?)");
    s.Bind(1, parent).Bind(2, name).BindFolded(3, name).Bind(4, static_cast<int64_t>(std::time(nullptr)));
    keysChanged_ = true;
    s.Step();
    dirty_ = true;
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

size_t Txn::Remembered(KeyId base, std::u16string_view path, KeyId& at, size_t& offset, bool& exact) const {
    at = base;
    offset = 0;
    exact = true;
    if (base != walkBase_) return 0;
    // Paths walked again are mostly spelled as before: the longest
    // remembered prefix that the path repeats byte for byte is found with
    // one comparison of the text, not one a component.
    size_t depth = 0;
    for (size_t d = walked_.size(); d > 0; --d) {
        const size_t end = walked_[d - 1].end;
        if (end > path.size() || (end < path.size() && path[end] != u'\\')) continue;
        if (std::memcmp(path.data(), walkedText_.data(), end * sizeof(char16_t)) != 0) continue;
        depth = d;
        offset = end;
        at = walked_[d - 1].id;
        break;
    }
    // Further components may still name the same keys in another case.
    ForEachComponent(path.substr(offset), [&](std::u16string_view part) {
        if (depth >= walked_.size()) return false;
        const WalkedPart& w = walked_[depth];
        if (!SameName(std::u16string_view(walkedText_).substr(w.begin, w.end - w.begin), part)) return false;
        at = w.id;
        offset = static_cast<size_t>(part.data() + part.size() - path.data());
        exact = false;
        ++depth;
        return true;
    });
    return depth;
}

size_t Txn::Rebase(KeyId base, std::u16string_view path, KeyId& at, size_t& offset) {
    bool exact = true;
    const size_t depth = Remembered(base, path, at, offset, exact);
    if (depth == 0) walkBase_ = base;
    if (!exact) {
        // The components matched ignoring case sit elsewhere in this path.
        size_t d = 0;
        ForEachComponent(path.substr(0, offset), [&](std::u16string_view part) {
            walked_[d].begin = static_cast<size_t>(part.data() - path.data());
            walked_[d].end = walked_[d].begin + part.size();
            return ++d < depth;
        });
    }
    walked_.resize(depth);
    walkedText_.assign(path);
    return depth;
}

void Txn::Remember(std::u16string_view path, std::u16string_view part, KeyId id) {
    const auto begin = static_cast<size_t>(part.data() - path.data());
    walked_.push_back({begin, begin + part.size(), id});
}

std::optional<KeyId> Txn::Walk(KeyId base, std::u16string_view path) {
    KeyId at = base;
    size_t offset = 0;
    Rebase(base, path, at, offset);
    bool ok = ForEachComponent(path.substr(offset), [&](std::u16string_view part) {
        auto next = Child(at, part);
        if (!next) return false;
        at = *next;
        Remember(path, part, at);
        return true;
    });
    if (!ok) return std::nullopt;
    return at;
}

KeyId Txn::WalkCreate(KeyId base, std::u16string_view path, bool* created) {
    KeyId at = base;
    size_t offset = 0;
    Rebase(base, path, at, offset);
    bool any = false;
    bool below = false;  // under a key made here, which has no children to look up
    ForEachComponent(path.substr(offset), [&](std::u16string_view part) {
        bool made = true;
        at = below ? InsertChild(at, part) : CreateChild(at, part, &made);
        Remember(path, part, at);
        below = made;
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
    db_.ForgetWalk();
    keysChanged_ = true;
    Stmt s(db_, "UPDATE keys SET name=?, fold=? WHERE id=?");
    s.Bind(1, name).BindFolded(2, name).Bind(3, key);
    s.Step();
    dirty_ = true;
}

void Txn::DeleteTree(KeyId key) {
    db_.ForgetWalk();
    keysChanged_ = true;
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
    // Names are short: fold them on the stack (SQLite copies the key).
    constexpr size_t kOnStack = 128;
    if (text.size() > kOnStack) return Bind(i, std::span<const BYTE>(FoldKey(text)));
    BYTE key[2 * kOnStack];
    WriteFoldKey(text, key);
    return Bind(i, std::span<const BYTE>(key, text.size() * 2));
}

Stmt& Stmt::BindText(int i, std::string_view text) {
    sqlite3_bind_text(s_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Stmt::Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Throw(sqlite3_db_handle(s_), "cannot run a statement");
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
