#include "base/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/diag.h"
#include "base/fsutil.h"
#include "base/root.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace zq::fsutil;

namespace zq {

namespace {

constexpr std::u16string_view kWindowsDir = u"C:\\WINDOWS";
constexpr std::u16string_view kSystemDir = u"C:\\WINDOWS\\system32";
constexpr std::u16string_view kTempDir = u"C:\\TEMP\\";

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// A path split into its rooted prefix ("C:" or "\\server\share") and its
// components.
struct SplitPath {
    std::u16string prefix;
    std::vector<std::u16string> parts;
    bool trailingSeparator = false;
};

// Calls f with each non-empty component of text; stops when f returns false.
template <class F>
bool ForEachComponent(std::u16string_view text, F&& f) {
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsSeparator(text[i])) continue;
        if (i > start && !f(text.substr(start, i - start))) return false;
        start = i + 1;
    }
    return true;
}

std::vector<std::u16string> Components(std::u16string_view text) {
    std::vector<std::u16string> parts;
    ForEachComponent(text, [&](std::u16string_view part) {
        parts.emplace_back(part);
        return true;
    });
    return parts;
}

std::u16string Join(const SplitPath& p) {
    std::u16string out = p.prefix;
    if (p.parts.empty()) return out + u"\\";
    for (const auto& part : p.parts) out += u"\\" + part;
    if (p.trailingSeparator) out += u'\\';
    return out;
}

// The current directory belongs to the root it was set under: a test that
// points the process at a fresh root starts again at C:\.
struct CwdState {
    std::mutex lock;
    std::string root;
    std::u16string cwd;
    std::string layoutRoot;
    std::string canonicalFor;  // the root whose canonical form is kept
    fs::path canonicalRoot;
};

CwdState& Cwd() {
    static CwdState state;
    return state;
}

void EnsureLayout(const fs::path& root) {
    auto& st = Cwd();
    {
        std::lock_guard g(st.lock);
        if (st.layoutRoot == root.native()) return;
    }
    std::error_code ec;
    fs::create_directories(root / "c" / "windows" / "system32", ec);
    fs::create_directories(root / "c" / "temp", ec);
    std::lock_guard g(st.lock);
    st.layoutRoot = root.native();
}

// The root with its links resolved, worked out once per root: resolving it
// again on every call cost as much as the rest of mapping a path. A mapped
// path that meets a symbolic link is resolved in full and checked against
// it; a root re-pointed under the same name makes such paths look outside
// it, never inside.
fs::path CanonicalRoot(const fs::path& root, std::error_code& ec) {
    auto& st = Cwd();
    {
        std::lock_guard g(st.lock);
        if (st.canonicalFor == root.native()) return st.canonicalRoot;
    }
    fs::path canon = fs::weakly_canonical(root, ec);
    if (ec) return canon;
    std::lock_guard g(st.lock);
    st.canonicalFor = root.native();
    st.canonicalRoot = canon;
    return canon;
}

// Whether the root resolves (worked out once per root, as above), without
// a copy of what it resolves to.
bool RootResolves(const fs::path& root) {
    auto& st = Cwd();
    {
        std::lock_guard g(st.lock);
        if (st.canonicalFor == root.native()) return true;
    }
    std::error_code ec;
    CanonicalRoot(root, ec);
    return !ec;
}

bool Within(const fs::path& path, const fs::path& base) {
    auto p = path.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p) {
        if (b->empty()) continue;
        if (p == path.end() || *p != *b) return false;
    }
    return true;
}

// Ends a path with the first case-insensitive match of name in dir: the exact
// spelling when it exists, else the smallest matching name in byte order.
// `link` is set when the name found is a symbolic link.
fs::path Lookup(const fs::path& dir, std::u16string_view name, bool& exists, bool& link) {
    const std::string exact = ToUtf8(name);
    std::error_code ec;
    if (exists) {
        const auto type = fs::symlink_status(dir / exact, ec).type();
        if (type != fs::file_type::not_found && !ec) {
            link = link || type == fs::file_type::symlink;
            return dir / exact;
        }
        // Read with readdir itself: the directory iterator makes a path of
        // every entry, and most entries are told apart by length alone (a
        // name of n UTF-16 units takes n to 3n bytes in UTF-8).
        std::string best;
        bool bestLink = false;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string_view candidate(e->d_name);
                if (candidate.size() < name.size() || candidate.size() > 3 * name.size()) continue;
                if (candidate == "." || candidate == "..") continue;
                if (!EqualsNoCase(FromUtf8(candidate), name) || (!best.empty() && candidate >= best)) continue;
                best = candidate;
                if (e->d_type == DT_UNKNOWN) {
                    struct stat st {};
                    bestLink = ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode);
                } else {
                    bestLink = e->d_type == DT_LNK;
                }
            }
            ::closedir(d);
        }
        if (!best.empty()) {
            link = link || bestLink;
            return dir / best;
        }
    }
    exists = false;
    return dir / exact;
}

bool ValidComponent(std::u16string_view part) {
    for (char16_t c : part)
        if (c < 32 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
            return false;
    return true;
}

std::optional<SplitPath> Split(std::u16string_view path, bool checkNames);

// The root paths are mapped under, with its layout made. SystemRoot makes
// the root's folder and asks the file system each time; a root set by
// SetSystemRoot is worked out once a thread until another is set. The
// reference stays valid until the thread's next call.
const fs::path& MappingRoot() {
    thread_local uint64_t generation = 0;
    thread_local fs::path root;
    const uint64_t now = SystemRootGeneration();
    if (now != 0 && now == generation) return root;
    root = SystemRoot();
    EnsureLayout(root);
    generation = now;
    return root;
}

std::atomic<bool> g_noOpenat2{false};

// Whether `path` exists with every component under the spelling given and
// none of them a symbolic link: then a walk component by component would
// find the exact names and no link, so one call answers for all of them.
// False when unsure (missing, a link met, the call unavailable).
bool PlainPathExists(const char* path, bool& missing) {
    missing = false;
    if (g_noOpenat2.load(std::memory_order_relaxed)) return false;
    struct open_how how {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
    if (fd < 0) {
        if (errno == ENOSYS || errno == EPERM) g_noOpenat2.store(true, std::memory_order_relaxed);
        missing = errno == ENOENT;
        return false;
    }
    ::close(static_cast<int>(fd));
    return true;
}

SplitPath CurrentSplit() {
    // The stored directory is always a valid full path.
    return *Split(CurrentDirectory(), false);
}

// Parses a Windows path into prefix and folded components.
std::optional<SplitPath> Split(std::u16string_view path, bool checkNames) {
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    // "\\?\" asks Windows to take the rest literally; the rest is a full path.
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == u'?' &&
        IsSeparator(path[3]))
        path.remove_prefix(4);

    SplitPath out;
    std::u16string_view rest;
    std::vector<std::u16string> base;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        auto parts = Components(path.substr(2));
        if (parts.size() < 2 || parts[0] == u"." || parts[0] == u"?") {
            SetLastError(ERROR_BAD_PATHNAME);
            return std::nullopt;
        }
        out.prefix = u"\\\\" + parts[0] + u"\\" + parts[1];
        // Skip server and share in the text.
        size_t pos = 2, seen = 0;
        while (pos < path.size() && seen < 2) {
            while (pos < path.size() && IsSeparator(path[pos])) ++pos;
            while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
            ++seen;
        }
        rest = path.substr(pos);
    } else if (path.size() >= 2 && IsLetter(path[0]) && path[1] == u':') {
        out.prefix = std::u16string(1, FoldCase(path[0])) + u":";
        rest = path.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            // Drive-relative: the current directory when it is on that drive.
            SplitPath cur = CurrentSplit();
            if (EqualsNoCase(cur.prefix, out.prefix)) base = cur.parts;
        }
    } else {
        SplitPath cur = CurrentSplit();
        out.prefix = cur.prefix;
        rest = path;
        if (!IsSeparator(path[0])) base = cur.parts;
    }
    out.trailingSeparator = !rest.empty() && IsSeparator(rest.back());
    out.parts = std::move(base);
    out.parts.reserve(out.parts.size() + 8);
    DWORD refused = ERROR_SUCCESS;
    ForEachComponent(rest, [&](std::u16string_view part) {
        if (part == u".") return true;
        if (part == u"..") {
            if (out.parts.empty()) {
                DiagRefused("MapPath", "\"" + ToUtf8(path) + "\" goes above " + ToUtf8(out.prefix));
                refused = ERROR_ACCESS_DENIED;
                return false;
            }
            out.parts.pop_back();
            return true;
        }
        // Windows drops trailing dots and blanks of a name.
        while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.remove_suffix(1);
        if (part.empty()) return true;
        if (checkNames && !ValidComponent(part)) {
            refused = ERROR_INVALID_NAME;
            return false;
        }
        out.parts.emplace_back(part);
        return true;
    });
    if (refused != ERROR_SUCCESS) {
        SetLastError(refused);
        return std::nullopt;
    }
    if (out.parts.empty()) out.trailingSeparator = false;
    return out;
}

std::optional<fs::path> SymlinkTarget(const fs::path& link) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(link, ec))) return std::nullopt;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) return std::nullopt;
    if (target.is_relative()) target = link.parent_path() / target;
    return fs::weakly_canonical(target, ec);
}

template <class Char>
DWORD CopyText(std::u16string_view text, Char* buffer, DWORD size) {
    EnsureLayout(SystemRoot());  // the places named exist
    const auto out = Narrow<Char>(text);
    return CopyOut<Char>(out, buffer, size);
}

template <class Char>
DWORD FullPathName(const Char* fileName, DWORD size, Char* buffer, Char** filePart) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto full = FullWindowsPath(Widen(fileName));
    if (!full) return 0;
    const auto out = Narrow<Char>(*full);
    const DWORD n = CopyOut<Char>(out, buffer, size);
    if (n < size && buffer && filePart) {
        const auto slash = out.find_last_of(Char('\\'));
        *filePart = (slash == out.npos || slash + 1 == out.size()) ? nullptr : buffer + slash + 1;
    }
    return n;
}

std::optional<std::u16string> LookupVariable(std::u16string_view name) {
    if (EqualsNoCase(name, u"WINDIR") || EqualsNoCase(name, u"SYSTEMROOT")) return std::u16string(kWindowsDir);
    if (EqualsNoCase(name, u"SYSTEMDRIVE")) return std::u16string(u"C:");
    if (EqualsNoCase(name, u"TEMP") || EqualsNoCase(name, u"TMP")) return std::u16string(u"C:\\TEMP");
    const std::string host = ToUtf8(name);
    if (const char* v = std::getenv(host.c_str())) return FromUtf8(v);
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        const auto eq = entry.find('=');
        if (eq != entry.npos && EqualsNoCase(FromUtf8(entry.substr(0, eq)), name))
            return FromUtf8(entry.substr(eq + 1));
    }
    return std::nullopt;
}

std::u16string Expand(std::u16string_view src) {
    std::u16string out;
    size_t i = 0;
    while (i < src.size()) {
        if (src[i] != u'%') {
            out += src[i++];
            continue;
        }
        const size_t close = src.find(u'%', i + 1);
        if (close == src.npos) {
            out += src.substr(i);
            break;
        }
        const auto name = src.substr(i + 1, close - i - 1);
        auto value = name.empty() ? std::nullopt : LookupVariable(name);
        if (value) {
            out += *value;
            i = close + 1;
        } else {
            // Unknown names stay; the closing percent may open the next one.
            out += src.substr(i, close - i);
            i = close;
        }
    }
    return out;
}

template <class Char>
DWORD ExpandStrings(const Char* source, Char* destination, DWORD size) {
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto out = Narrow<Char>(Expand(Widen(source)));
    if (destination && size > out.size()) {
        out.copy(destination, out.size());
        destination[out.size()] = Char(0);
    }
    return static_cast<DWORD>(out.size() + 1);
}

template <class Char>
DWORD SamePathIfExists(const Char* path, Char* buffer, DWORD size) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string wide = Widen(path);
    auto host = MapPath(wide);
    if (!host) return 0;
    std::error_code ec;
    if (!fs::exists(*host, ec)) {
        SetLastError(fs::is_directory(host->parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return CopyText(wide, buffer, size);
}

std::atomic<unsigned> g_tempCounter{0};

template <class Char>
UINT TempFileName(const Char* path, const Char* prefix, UINT unique, Char* result) {
    if (!path || !result) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string dir = Widen(path);
    std::u16string pre = Widen(prefix).substr(0, 3);
    if (dir.empty()) dir = u".";
    if (!IsSeparator(dir.back())) dir += u'\\';
    auto hostDir = MapPath(dir);
    if (!hostDir) return 0;
    std::error_code ec;
    if (!fs::is_directory(*hostDir, ec)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    auto nameFor = [&](unsigned n) {
        static constexpr char16_t hex[] = u"0123456789ABCDEF";
        std::u16string digits;
        do {
            digits.insert(digits.begin(), hex[n & 15]);
            n >>= 4;
        } while (n);
        return dir + pre + digits + u".TMP";
    };
    auto emit = [&](const std::u16string& name) -> bool {
        const auto out = Narrow<Char>(name);
        if (out.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
        out.copy(result, out.size());
        result[out.size()] = Char(0);
        return true;
    };
    if (unique != 0) {
        unique &= 0xFFFF;
        if (!emit(nameFor(unique))) return 0;
        SetLastError(ERROR_SUCCESS);
        return unique;
    }
    // A prefix that is a plain name makes every candidate a plain name in
    // the folder mapped above: each is looked up there (ignoring case, as
    // mapping it would) rather than mapped again from the root.
    const bool plainPrefix = ValidComponent(pre) && pre.find_first_of(u"\\/") == std::u16string::npos;
    const unsigned start = (static_cast<unsigned>(getpid()) * 31u + g_tempCounter.fetch_add(1)) & 0xFFFF;
    for (unsigned k = 0; k < 0x10000; ++k) {
        const unsigned n = ((start + k) & 0xFFFF) ? ((start + k) & 0xFFFF) : 1;
        const auto name = nameFor(n);
        std::optional<fs::path> host;
        if (plainPrefix) {
            bool exists = true, link = false;
            host = Lookup(*hostDir, std::u16string_view(name).substr(dir.size()), exists, link);
            if (exists) continue;  // taken, in some spelling
        } else {
            host = MapPath(name);
        }
        if (!host) return 0;
        const int fd = ::open(host->c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            FailErrno(errno);
            return 0;
        }
        ::close(fd);
        if (!emit(name)) {
            ::unlink(host->c_str());
            return 0;
        }
        SetLastError(ERROR_SUCCESS);
        return n;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

template <class Char>
BOOL SetCurrent(const Char* path) {
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    auto full = FullWindowsPath(Widen(path));
    if (!full) return FALSE;
    auto host = MapPath(*full);
    if (!host) return FALSE;
    std::error_code ec;
    const auto st = fs::status(*host, ec);
    if (st.type() == fs::file_type::not_found) {
        std::error_code pec;
        return Fail(fs::is_directory(host->parent_path(), pec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    }
    if (st.type() != fs::file_type::directory) return Fail(ERROR_DIRECTORY);
    if (full->size() > 3 && full->back() == u'\\') full->pop_back();
    auto& state = Cwd();
    std::lock_guard g(state.lock);
    state.root = SystemRoot().native();
    state.cwd = *full;
    return TRUE;
}

}  // namespace

std::u16string WindowsDirectory() { return std::u16string(kWindowsDir); }
std::u16string SystemDirectory() { return std::u16string(kSystemDir); }
std::u16string TempDirectory() { return std::u16string(kTempDir); }

std::u16string CurrentDirectory() {
    const fs::path root = SystemRoot();
    auto& st = Cwd();
    {
        std::lock_guard g(st.lock);
        if (st.root == root.native()) return st.cwd;
    }
    // First use under this root: a program started inside the root's tree
    // (CreateProcess with a current directory) begins there.
    std::u16string initial = u"C:\\";
    std::error_code ec;
    if (auto here = ToWindowsPath(fs::current_path(ec)); here && !ec) initial = *here;
    std::lock_guard g(st.lock);
    if (st.root != root.native()) {
        st.root = root.native();
        st.cwd = initial;
    }
    return st.cwd;
}

std::optional<std::u16string> FullWindowsPath(std::u16string_view windowsPath) {
    auto split = Split(windowsPath, false);
    if (!split) return std::nullopt;
    return Join(*split);
}

// The last full path (drive, colon, separator) this thread mapped to an
// existing plain path, under a root set by SetSystemRoot: programs map the
// same few paths again and again, and the text of the answer cannot differ
// while the root stays; whether it still exists is asked each time.
struct LastMapped {
    uint64_t generation = 0;
    std::u16string windowsPath;
    std::string host;
};

bool FullDrivePath(std::u16string_view path) {
    return path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && IsSeparator(path[2]);
}

std::optional<fs::path> MapPath(std::u16string_view windowsPath) {
    thread_local LastMapped last;
    const uint64_t generation = SystemRootGeneration();
    if (generation != 0 && generation == last.generation && windowsPath == last.windowsPath) {
        bool missing = false;
        if (PlainPathExists(last.host.c_str(), missing) && RootResolves(MappingRoot())) return fs::path(last.host);
    }
    auto split = Split(windowsPath, true);
    if (!split) return std::nullopt;
    const fs::path& mapped = MappingRoot();
    std::vector<std::u16string> parts;
    fs::path host;
    bool exists = true;
    // Any symbolic link met below the root is resolved and checked; a path
    // made only of plain names and directories lies where its names say.
    bool link = false;
    if (split->prefix.size() == 2) {
        const char drive = static_cast<char>(split->prefix[0] - u'A' + 'a');
        // Most paths name what exists as spelled, through plain folders:
        // one look at the whole path (or, for a file about to be made, its
        // folder) stands for the walk below, which would find the same. The
        // text is put together first and made a path once: each append to
        // a path parses it again.
        std::u16string below;
        for (const auto& part : split->parts) (below += u'/') += part;
        std::string whole = mapped.native();
        if (whole.empty() || whole.back() != '/') whole += '/';
        whole += drive;
        whole += ToUtf8(below);
        bool missing = false;
        bool found = PlainPathExists(whole.c_str(), missing);
        if (!found && missing && !split->parts.empty()) {
            whole.resize(whole.rfind('/'));  // no component holds a '/'; this is its folder
            if (PlainPathExists(whole.c_str(), missing)) {
                bool lastExists = true, lastLink = false;
                fs::path spelled = Lookup(fs::path(std::move(whole)), split->parts.back(), lastExists, lastLink);
                if (!lastLink && RootResolves(mapped)) return spelled;
                found = false;
            }
        }
        if (found && RootResolves(mapped)) {
            if (generation != 0 && FullDrivePath(windowsPath)) {
                last.generation = generation;
                last.windowsPath.assign(windowsPath);
                last.host = whole;
            }
            return fs::path(std::move(whole));
        }
    }
    // The walk below: a copy of the root, as what it calls may map paths.
    const fs::path root = mapped;
    host = root;
    if (split->prefix.size() == 2) {
        host /= std::string(1, static_cast<char>(split->prefix[0] - u'A' + 'a'));
        std::error_code sec;
        const auto type = fs::symlink_status(host, sec).type();
        exists = !sec && type != fs::file_type::not_found;
        link = type == fs::file_type::symlink;
    } else {
        host /= "unc";
        std::error_code sec;
        link = fs::is_symlink(fs::symlink_status(host, sec));
        auto serverShare = Components(split->prefix);
        parts = serverShare;
        for (const auto& p : parts) {
            if (!ValidComponent(p)) {
                SetLastError(ERROR_INVALID_NAME);
                return std::nullopt;
            }
            // A server or share named "." or ".." steps through the folder
            // tree like a link: only resolving it says where it lands.
            if (p == u"." || p == u"..") link = true;
        }
    }
    parts.insert(parts.end(), split->parts.begin(), split->parts.end());
    for (const auto& part : parts) host = Lookup(host, part, exists, link);

    // Containment: what exists must resolve inside the root, and so must the
    // target of a final symbolic link that points nowhere yet. Without a
    // link below the root the names, free of "..", cannot leave it, and
    // resolving them again (a read of every component) is skipped.
    std::error_code ec;
    const fs::path canonRoot = CanonicalRoot(root, ec);
    bool inside = !ec;
    if (inside && link) {
        const fs::path resolved = fs::weakly_canonical(host, ec);
        inside = !ec && Within(resolved, canonRoot);
        if (inside)
            if (auto target = SymlinkTarget(host)) inside = Within(*target, canonRoot);
    }
    if (!inside) {
        DiagRefused("MapPath", "\"" + ToUtf8(windowsPath) + "\" leaves the system root");
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    return host;
}

std::optional<std::u16string> ToWindowsPath(const fs::path& hostPath) {
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(SystemRoot(), ec);
    const fs::path path = fs::weakly_canonical(fs::absolute(hostPath, ec), ec);
    if (ec || !Within(path, root)) return std::nullopt;
    std::vector<std::u16string> parts;
    for (const auto& p : path.lexically_relative(root))
        if (!p.empty() && p != ".") parts.push_back(FromUtf8(p.string()));
    if (parts.empty()) return std::nullopt;
    SplitPath out;
    size_t first = 1;
    const auto& top = parts[0];
    if (top.size() == 1 && IsLetter(top[0])) {
        out.prefix = std::u16string(1, FoldCase(top[0])) + u":";
    } else if (top == u"unc" && parts.size() >= 3) {
        out.prefix = u"\\\\" + parts[1] + u"\\" + parts[2];
        first = 3;
    } else {
        return std::nullopt;
    }
    out.parts.assign(parts.begin() + static_cast<ptrdiff_t>(first), parts.end());
    return Join(out);
}

std::u16string InWindowsDirectory(std::u16string_view fileName) {
    if (fileName.find_first_of(u"\\/:") == fileName.npos) return WindowsDirectory() + u"\\" + std::u16string(fileName);
    return std::u16string(fileName);
}

}  // namespace zq

using namespace zq;

extern "C" {

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) { return CopyText(kWindowsDir, buffer, size); }
UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) { return CopyText(kWindowsDir, buffer, size); }
UINT GetSystemDirectoryA(LPSTR buffer, UINT size) { return CopyText(kSystemDir, buffer, size); }
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) { return CopyText(kSystemDir, buffer, size); }
DWORD GetTempPathA(DWORD size, LPSTR buffer) { return CopyText(kTempDir, buffer, size); }
DWORD GetTempPathW(DWORD size, LPWSTR buffer) { return CopyText(kTempDir, buffer, size); }

UINT GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
    return TempFileName(path, prefix, unique, tempFileName);
}
UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR tempFileName) {
    return TempFileName(path, prefix, unique, tempFileName);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) { return CopyText(CurrentDirectory(), buffer, size); }
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) { return CopyText(CurrentDirectory(), buffer, size); }
BOOL SetCurrentDirectoryA(LPCSTR path) { return SetCurrent(path); }
BOOL SetCurrentDirectoryW(LPCWSTR path) { return SetCurrent(path); }

DWORD GetFullPathNameA(LPCSTR fileName, DWORD size, LPSTR buffer, LPSTR* filePart) {
    return FullPathName(fileName, size, buffer, filePart);
}
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    return FullPathName(fileName, size, buffer, filePart);
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    return SamePathIfExists(longPath, shortPath, size);
}
DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    return SamePathIfExists(longPath, shortPath, size);
}
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
    return SamePathIfExists(shortPath, longPath, size);
}
DWORD GetLongPathNameW(LPCWSTR shortPath, LPWSTR longPath, DWORD size) {
    return SamePathIfExists(shortPath, longPath, size);
}

DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
    return ExpandStrings(source, destination, size);
}
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    return ExpandStrings(source, destination, size);
}

}  // extern "C"
