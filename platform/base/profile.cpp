#include "base/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/files.h"
#include "base/fsutil.h"
#include "base/paths.h"

namespace fs = std::filesystem;
using namespace zq::fsutil;

namespace zq {
namespace {

enum class Encoding { Ansi, Utf8Bom, Utf16Le };

// The file's text decoded once, its lines views into it: every profile call
// reads the whole file again, and a string of its own for each line cost
// more than the rest of reading it. Lines an edit makes are kept beside it
// (a deque, so that a view of one stays valid as more are made). The views
// point into the object itself, so it is neither copied nor moved.
struct IniText {
    Encoding encoding = Encoding::Ansi;
    std::u16string text;
    std::vector<std::u16string_view> lines;
    std::deque<std::u16string> made;
    bool crlf = true;
    bool finalNewline = true;

    IniText() = default;
    IniText(const IniText&) = delete;
    IniText& operator=(const IniText&) = delete;

    std::u16string_view Make(std::u16string line) { return made.emplace_back(std::move(line)); }
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
    return s;
}

std::optional<std::u16string_view> SectionName(std::u16string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != u'[') return std::nullopt;
    line.remove_prefix(1);
    const auto close = line.find(u']');
    return Trim(close == line.npos ? line : line.substr(0, close));
}

struct KeyLine {
    std::u16string_view key;
    std::u16string_view value;
    bool hasValue;
};

std::optional<KeyLine> ParseKey(std::u16string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == u';' || line.front() == u'[') return std::nullopt;
    const auto eq = line.find(u'=');
    if (eq == line.npos) return KeyLine{line, {}, false};
    return KeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), true};
}

std::u16string Unquote(std::u16string_view v) {
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::u16string(v);
}

// Lines [begin, end) of one section, its header at begin - 1.
struct SectionRange {
    size_t header;
    size_t begin;
    size_t end;
};

std::vector<SectionRange> Sections(const IniText& t) {
    std::vector<SectionRange> out;
    for (size_t i = 0; i < t.lines.size(); ++i) {
        if (!SectionName(t.lines[i])) continue;
        if (!out.empty()) out.back().end = i;
        out.push_back({i, i + 1, t.lines.size()});
    }
    return out;
}

std::optional<SectionRange> FindSection(const IniText& t, std::u16string_view name) {
    for (const auto& s : Sections(t))
        if (EqualsNoCase(*SectionName(t.lines[s.header]), name)) return s;
    return std::nullopt;
}

// The first line feed at or after `from`, or `size`; four units a step
// while none is among them.
size_t FindLineFeed(const char16_t* text, size_t from, size_t size) {
    constexpr uint64_t kOnes = 0x0001000100010001ull, kHigh = 0x8000800080008000ull;
    size_t i = from;
    for (; size - i >= 4; i += 4) {
        uint64_t word;
        std::memcpy(&word, text + i, sizeof word);
        const uint64_t x = word ^ (kOnes * u'\n');
        if (((x - kOnes) & ~x & kHigh) != 0) break;  // some unit is a line feed
    }
    for (; i < size; ++i)
        if (text[i] == u'\n') return i;
    return size;
}

void Decode(const std::string& bytes, IniText& t) {
    std::u16string& text = t.text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        t.encoding = Encoding::Utf16Le;
        text.resize((bytes.size() - 2) / 2);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(text.data(), bytes.data() + 2, text.size() * 2);
        } else {
            for (size_t i = 0; i < text.size(); ++i)
                text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                                (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        }
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        t.encoding = Encoding::Utf8Bom;
        text = FromUtf8(std::string_view(bytes).substr(3));
    } else {
        text = FromAnsi(bytes);
    }
    // Line ends are CR LF when any line feed follows a carriage return, or
    // when there is no line feed at all.
    bool anyLineFeed = false, anyCrLf = false;
    t.finalNewline = text.empty() || text.back() == u'\n';
    const std::u16string_view all(text);
    size_t start = 0;
    while (start < all.size()) {
        const size_t nl = FindLineFeed(all.data(), start, all.size());
        std::u16string_view line = all.substr(start, nl - start);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
            anyCrLf = anyCrLf || nl < all.size();
        }
        anyLineFeed = anyLineFeed || nl < all.size();
        t.lines.push_back(line);
        start = nl + 1;
    }
    t.crlf = anyCrLf || !anyLineFeed;
}

std::string Encode(const IniText& t) {
    std::u16string text;
    const std::u16string_view eol = t.crlf ? u"\r\n" : u"\n";
    for (size_t i = 0; i < t.lines.size(); ++i) {
        text += t.lines[i];
        if (i + 1 < t.lines.size() || t.finalNewline) text += eol;
    }
    switch (t.encoding) {
    case Encoding::Utf16Le: {
        std::string out = "\xFF\xFE";
        for (char16_t c : text) {
            out += static_cast<char>(c & 0xFF);
            out += static_cast<char>(c >> 8);
        }
        return out;
    }
    case Encoding::Utf8Bom: return "\xEF\xBB\xBF" + ToUtf8(text);
    case Encoding::Ansi: break;
    }
    return ToAnsi(text);
}

bool ReadAll(const fs::path& host, std::string& out) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return n == 0;
}

std::u16string FileFor(const std::u16string& name) { return InWindowsDirectory(name.empty() ? u"win.ini" : name); }

bool Load(const std::u16string& fileName, IniText& text) {
    auto host = MapPath(FileFor(fileName));
    std::string bytes;
    if (!host || !ReadAll(*host, bytes)) return false;
    Decode(bytes, text);
    return true;
}

std::atomic<unsigned> g_tempSerial{0};

// Read, change and replace one INI file under its directory's lock. The
// change returns false when it left the text as it was.
bool Update(const std::u16string& fileName, bool createIfMissing, const std::function<bool(IniText&)>& change) {
    auto host = MapPath(FileFor(fileName));
    if (!host) return false;
    const fs::path dir = host->parent_path();
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }  // closing releases the lock
    } unlock{dirFd};
    while (::flock(dirFd, LOCK_EX) != 0)
        if (errno != EINTR) return FailErrno(errno);

    IniText text;
    struct stat st {};
    const bool exists = ::stat(host->c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return Fail(ERROR_ACCESS_DENIED);
        std::string bytes;
        if (!ReadAll(*host, bytes)) return FailErrno(errno);
        Decode(bytes, text);
    } else if (!createIfMissing) {
        return true;
    }
    if (!change(text) && exists) return true;

    const std::string bytes = Encode(text);
    const fs::path temp = dir / ("." + host->filename().string() + ".~" + std::to_string(::getpid()) + "." +
                                 std::to_string(g_tempSerial.fetch_add(1)));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? (st.st_mode & 07777) : 0666);
    if (fd < 0) return FailErrno(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const int err = errno;
    const bool ok = done == bytes.size() && SyncIfDurable(fd);
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), host->c_str()) != 0) {
        const int e = ok ? errno : (err ? err : ENOSPC);
        ::unlink(temp.c_str());
        return FailErrno(e);
    }
    return true;
}

// Index of the line after the last non-blank line of a section.
size_t InsertPoint(const IniText& t, const SectionRange& s) {
    size_t at = s.begin;
    for (size_t i = s.begin; i < s.end; ++i)
        if (!Trim(t.lines[i]).empty()) at = i + 1;
    return at;
}

bool SetKey(IniText& t, std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    auto s = FindSection(t, section);
    if (!s) {
        t.lines.push_back(t.Make(u"[" + std::u16string(section) + u"]"));
        t.lines.push_back(t.Make(std::u16string(key) + u"=" + std::u16string(value)));
        return true;
    }
    for (size_t i = s->begin; i < s->end; ++i) {
        auto k = ParseKey(t.lines[i]);
        if (!k || !EqualsNoCase(k->key, key)) continue;
        // The file's spelling of the key stays.
        std::u16string line = std::u16string(k->key) + u"=" + std::u16string(value);
        if (line == t.lines[i]) return false;
        t.lines[i] = t.Make(std::move(line));
        return true;
    }
    t.lines.insert(t.lines.begin() + static_cast<ptrdiff_t>(InsertPoint(t, *s)),
                   t.Make(std::u16string(key) + u"=" + std::u16string(value)));
    return true;
}

bool DeleteKey(IniText& t, std::u16string_view section, std::u16string_view key) {
    auto s = FindSection(t, section);
    if (!s) return false;
    bool changed = false;
    for (size_t i = s->end; i-- > s->begin;) {
        auto k = ParseKey(t.lines[i]);
        if (k && EqualsNoCase(k->key, key)) {
            t.lines.erase(t.lines.begin() + static_cast<ptrdiff_t>(i));
            changed = true;
        }
    }
    return changed;
}

bool DeleteSection(IniText& t, std::u16string_view section) {
    bool changed = false;
    while (auto s = FindSection(t, section)) {
        t.lines.erase(t.lines.begin() + static_cast<ptrdiff_t>(s->header), t.lines.begin() + static_cast<ptrdiff_t>(s->end));
        changed = true;
    }
    return changed;
}

bool ReplaceSection(IniText& t, std::u16string_view section, const std::vector<std::u16string>& lines) {
    auto s = FindSection(t, section);
    if (!s) {
        t.lines.push_back(t.Make(u"[" + std::u16string(section) + u"]"));
        for (const auto& line : lines) t.lines.push_back(t.Make(line));
        return true;
    }
    // Blank lines that separate it from the next section stay.
    const size_t end = InsertPoint(t, *s);
    t.lines.erase(t.lines.begin() + static_cast<ptrdiff_t>(s->begin), t.lines.begin() + static_cast<ptrdiff_t>(end));
    std::vector<std::u16string_view> made;
    for (const auto& line : lines) made.push_back(t.Make(line));
    t.lines.insert(t.lines.begin() + static_cast<ptrdiff_t>(s->begin), made.begin(), made.end());
    return true;
}

// --- what the readers answer -------------------------------------------

std::vector<std::u16string> SectionNames(const IniText& t) {
    std::vector<std::u16string> out;
    for (const auto& s : Sections(t)) {
        std::u16string name(*SectionName(t.lines[s.header]));
        bool seen = false;
        for (const auto& n : out) seen = seen || EqualsNoCase(n, name);
        if (!seen) out.push_back(std::move(name));
    }
    return out;
}

std::vector<std::u16string> KeyNames(const IniText& t, const SectionRange& s) {
    std::vector<std::u16string> out;
    for (size_t i = s.begin; i < s.end; ++i) {
        auto k = ParseKey(t.lines[i]);
        if (!k || k->key.empty()) continue;
        bool seen = false;
        for (const auto& n : out) seen = seen || EqualsNoCase(n, k->key);
        if (!seen) out.emplace_back(k->key);
    }
    return out;
}

std::vector<std::u16string> SectionLines(const IniText& t, const SectionRange& s) {
    std::vector<std::u16string> out;
    for (size_t i = s.begin; i < s.end; ++i) {
        auto k = ParseKey(t.lines[i]);
        if (!k) continue;
        out.push_back(k->hasValue ? std::u16string(k->key) + u"=" + std::u16string(k->value) : std::u16string(k->key));
    }
    return out;
}

std::optional<std::u16string> Value(const IniText& t, std::u16string_view section, std::u16string_view key) {
    auto s = FindSection(t, section);
    if (!s) return std::nullopt;
    for (size_t i = s->begin; i < s->end; ++i) {
        auto k = ParseKey(t.lines[i]);
        if (k && EqualsNoCase(k->key, key)) return Unquote(k->value);
    }
    return std::nullopt;
}

// --- buffers --------------------------------------------------------------

template <class Char>
DWORD PutString(std::u16string_view value, Char* buffer, DWORD size) {
    const auto s = Narrow<Char>(value);
    const size_t n = std::min<size_t>(s.size(), size - 1);
    s.copy(buffer, n);
    buffer[n] = Char(0);
    return static_cast<DWORD>(n);
}

template <class Char>
DWORD PutList(const std::vector<std::u16string>& items, Char* buffer, DWORD size) {
    std::basic_string<Char> all;
    for (const auto& item : items) {
        all += Narrow<Char>(item);
        all += Char(0);
    }
    if (size < 2) {
        buffer[0] = Char(0);
        return 0;
    }
    if (all.size() + 1 <= size) {
        all.copy(buffer, all.size());
        buffer[all.size()] = Char(0);
        if (all.empty()) buffer[1] = Char(0);
        return static_cast<DWORD>(all.size());
    }
    all.copy(buffer, size - 2);
    buffer[size - 2] = Char(0);
    buffer[size - 1] = Char(0);
    return size - 2;
}

template <class Char>
DWORD GetString(const Char* section, const Char* key, const Char* def, Char* buffer, DWORD size, const Char* file) {
    if (!buffer || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string fallback = Widen(def);  // Windows drops only its trailing blanks
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.pop_back();
    IniText loaded;
    const IniText* text = Load(Widen(file), loaded) ? &loaded : nullptr;
    SetLastError(text ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    if (!section) return PutList(text ? SectionNames(*text) : std::vector<std::u16string>{}, buffer, size);
    const std::u16string sec = Widen(section);
    if (!key) {
        auto s = text ? FindSection(*text, sec) : std::nullopt;
        if (s) return PutList(KeyNames(*text, *s), buffer, size);
        // A missing section gives the default, as a missing key does; a
        // second NUL still ends it as a list.
        const DWORD n = PutString(fallback, buffer, size);
        if (n + 1 < size) buffer[n + 1] = Char(0);
        return n;
    }
    auto value = text ? Value(*text, sec, Widen(key)) : std::nullopt;
    return PutString(value ? *value : fallback, buffer, size);
}

template <class Char>
UINT GetInt(const Char* section, const Char* key, INT def, const Char* file) {
    if (!section || !key) return static_cast<UINT>(def);
    IniText loaded;
    const IniText* text = Load(Widen(file), loaded) ? &loaded : nullptr;
    auto value = text ? Value(*text, Widen(section), Widen(key)) : std::nullopt;
    if (!value || value->empty()) return static_cast<UINT>(def);
    std::u16string_view v = Trim(*value);
    bool negative = false;
    if (!v.empty() && (v[0] == u'-' || v[0] == u'+')) {
        negative = v[0] == u'-';
        v.remove_prefix(1);
    }
    uint32_t n = 0;
    for (char16_t c : v) {
        if (c < u'0' || c > u'9') break;
        n = n * 10 + static_cast<uint32_t>(c - u'0');
    }
    return negative ? 0u - n : n;
}

template <class Char>
DWORD GetSection(const Char* section, Char* buffer, DWORD size, const Char* file) {
    if (!buffer || size == 0 || !section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    IniText loaded;
    const IniText* text = Load(Widen(file), loaded) ? &loaded : nullptr;
    auto s = text ? FindSection(*text, Widen(section)) : std::nullopt;
    return PutList(s ? SectionLines(*text, *s) : std::vector<std::u16string>{}, buffer, size);
}

template <class Char>
DWORD GetSectionNames(Char* buffer, DWORD size, const Char* file) {
    if (!buffer || size == 0) return 0;
    IniText loaded;
    const IniText* text = Load(Widen(file), loaded) ? &loaded : nullptr;
    return PutList(text ? SectionNames(*text) : std::vector<std::u16string>{}, buffer, size);
}

template <class Char>
BOOL WriteString(const Char* section, const Char* key, const Char* value, const Char* file) {
    if (!section) {
        // All null asks to flush a cache; there is none.
        if (!key && !value) return TRUE;
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::u16string sec(Trim(Widen(section)));
    if (!key) return Update(Widen(file), false, [&](IniText& t) { return DeleteSection(t, sec); });
    const std::u16string k(Trim(Widen(key)));
    if (!value) return Update(Widen(file), false, [&](IniText& t) { return DeleteKey(t, sec, k); });
    const std::u16string v = Widen(value);
    return Update(Widen(file), true, [&](IniText& t) { return SetKey(t, sec, k, v); });
}

template <class Char>
BOOL WriteSection(const Char* section, const Char* lines, const Char* file) {
    if (!section) return Fail(ERROR_INVALID_PARAMETER);
    const std::u16string sec(Trim(Widen(section)));
    if (!lines) return Update(Widen(file), false, [&](IniText& t) { return DeleteSection(t, sec); });
    std::vector<std::u16string> list;
    for (const Char* p = lines; *p; p += Length(p) + 1) list.push_back(Widen(p));
    return Update(Widen(file), true, [&](IniText& t) { return ReplaceSection(t, sec, list); });
}

}  // namespace
}  // namespace zq

using namespace zq;

extern "C" {

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size, LPCSTR file) {
    return GetString(section, key, def, buffer, size, file);
}
DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR def, LPWSTR buffer, DWORD size, LPCWSTR file) {
    return GetString(section, key, def, buffer, size, file);
}
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) { return GetInt(section, key, def, file); }
UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT def, LPCWSTR file) {
    return GetInt(section, key, def, file);
}
DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
    return GetSection(section, buffer, size, file);
}
DWORD GetPrivateProfileSectionW(LPCWSTR section, LPWSTR buffer, DWORD size, LPCWSTR file) {
    return GetSection(section, buffer, size, file);
}
DWORD GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR file) { return GetSectionNames(buffer, size, file); }
DWORD GetPrivateProfileSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR file) {
    return GetSectionNames(buffer, size, file);
}
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    return WriteString(section, key, value, file);
}
BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
    return WriteString(section, key, value, file);
}
BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines, LPCSTR file) { return WriteSection(section, lines, file); }
BOOL WritePrivateProfileSectionW(LPCWSTR section, LPCWSTR lines, LPCWSTR file) {
    return WriteSection(section, lines, file);
}

DWORD GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size) {
    return GetString(section, key, def, buffer, size, "win.ini");
}
DWORD GetProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR def, LPWSTR buffer, DWORD size) {
    return GetString(section, key, def, buffer, size, u"win.ini");
}
UINT GetProfileIntA(LPCSTR section, LPCSTR key, INT def) { return GetInt(section, key, def, "win.ini"); }
UINT GetProfileIntW(LPCWSTR section, LPCWSTR key, INT def) { return GetInt(section, key, def, u"win.ini"); }
BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) { return WriteString(section, key, value, "win.ini"); }
BOOL WriteProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    return WriteString(section, key, value, u"win.ini");
}

}  // extern "C"
