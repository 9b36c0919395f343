#include "postinst/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/error.h"
#include "base/files.h"
#include "base/text.h"
#include "postinst/debug_log.h"

namespace postinst {

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
char LowerC(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperC(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    return std::string(s.substr(i));
}
std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n && IsSpace(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}
std::string_view TrimView(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}
std::string Trim(std::string_view s) { return std::string(TrimView(s)); }
std::string Lower(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = LowerC(c);
    return r;
}
std::string Upper(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = UpperC(c);
    return r;
}
// Keys of an INI file's sections are kept ordered by this, and names often
// share long stretches spelled alike: those are passed eight bytes a step.
int CompareNoCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n;) {
        if (n - i >= 8) {
            uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x == y) {
                i += 8;
                continue;
            }
        }
        unsigned char x = LowerC(a[i]), y = LowerC(b[i]);
        if (x != y) return x < y ? -1 : 1;
        ++i;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
bool EqualsNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) == 0; }
int ReplaceAll(std::string& s, std::string_view find, std::string_view replacement) {
    if (find.empty()) return 0;
    int count = 0;
    for (size_t at = s.find(find); at != std::string::npos; at = s.find(find, at + replacement.size())) {
        s.replace(at, find.size(), replacement);
        ++count;
    }
    return count;
}
std::string Right(std::string_view s, size_t n) { return std::string(n >= s.size() ? s : s.substr(s.size() - n)); }

// ---------------------------------------------------------------- paths

namespace {
std::string CleanDir(std::string_view dir) {
    std::string d(dir);
    for (auto& c : d)
        if (c == '/') c = '\\';
    if (!d.empty() && d.back() == '\\') d.pop_back();
    return d;
}
}  // namespace

bool PathObject::Set(std::string_view text) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    for (auto& c : t)
        if (c == '/') c = '\\';
    size_t slash = t.rfind('\\');
    size_t colon = (t.size() >= 2 && t[1] == ':') ? 1 : std::string::npos;
    size_t cut = slash != std::string::npos ? slash + 1 : (colon != std::string::npos ? 2 : 0);
    dir_ = CleanDir(t.substr(0, cut));
    name_ = t.substr(cut);
    return true;
}

void PathObject::SetDir(std::string_view dir) { dir_ = CleanDir(dir); }

void PathObject::Append(std::string_view sub) {
    if (sub.empty()) return;
    std::string s(sub);
    for (auto& c : s)
        if (c == '/') c = '\\';
    if (s.front() != '\\') s.insert(s.begin(), '\\');
    dir_ = CleanDir(dir_ + s);
}

std::string PathObject::FullPath() const { return name_.empty() ? dir_ : dir_ + "\\" + name_; }

PathObject PathObject::Parent(std::string_view dir) {
    PathObject p;
    p.Set(CleanDir(dir));
    p.name_.clear();
    return p;
}

int PathObject::Compare(const PathObject& a, const PathObject& b) {
    int c = CompareNoCase(a.dir_, b.dir_);
    if (c == 0) c = CompareNoCase(a.name_, b.name_);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------- tokenizer

bool Tokenizer::NextToken(std::string& out) {
    out.clear();
    if (flags_ & kTrim) rest_ = TrimLeft(rest_);
    if (rest_.empty()) return false;
    size_t from = 0;
    if ((flags_ & kQuotes) && rest_.front() == '"') {
        size_t close = rest_.find('"', 1);
        from = close == std::string::npos ? 0 : close;
    }
    size_t at = rest_.find(delimiter_, from);
    if (at == std::string::npos) {
        out = rest_;
        rest_.clear();
    } else {
        out = TrimRight(std::string_view(rest_).substr(0, at));
        rest_ = rest_.substr(at + 1);
    }
    if ((flags_ & kQuotes) && out.size() >= 2 && out.front() == '"' && out.back() == '"')
        out = out.substr(1, out.size() - 2);
    rest_ = TrimLeft(rest_);
    return true;
}

std::vector<std::string> Tokenizer::AllTokens() {
    std::vector<std::string> all;
    std::string t;
    while (NextToken(t)) all.push_back(t);
    return all;
}

// ---------------------------------------------------------------- text files

bool TextFile::Open(const std::string& path, int mode, int encoding) {
    if (path.empty()) return false;
    Close();
    if (encoding == 0) {
        HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return false;
        uint8_t bom[2] = {0, 0};
        DWORD got = 0;
        ReadFile(probe, bom, 2, &got, nullptr);
        CloseHandle(probe);
        encoding = (got == 2 && bom[0] == 0xFF && bom[1] == 0xFE) ? 2 : 1;
    }
    if (mode == kAppend && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) mode = kWrite;
    DWORD access = 0, disposition = 0;
    switch (mode) {
    case kRead: access = GENERIC_READ, disposition = OPEN_EXISTING; break;
    case kWrite: access = GENERIC_WRITE, disposition = CREATE_ALWAYS; break;
    case kAppend: access = GENERIC_WRITE, disposition = OPEN_ALWAYS; break;
    default:
        Log() << "TextFile::Open: file " << path << ": attempted to open with an unknown mode: " << mode << End;
        return false;
    }
    HANDLE f = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        Log() << "TextFile::Open: open of " << path << " failed." << End;
        return false;
    }
    file_ = f;
    encoding_ = encoding;
    buffer_.clear();
    pos_ = 0;
    eof_ = false;
    if (mode == kAppend) SetFilePointer(f, 0, nullptr, FILE_END);
    if (encoding == 2) {
        if (mode == kRead) {
            Get();
            Get();
        } else if (mode == kWrite) {
            Put("\xFF\xFE", 2);
        }
    }
    return true;
}

bool TextFile::Fill() {
    if (eof_ || !file_) return false;
    buffer_.resize(kReadBlock);
    DWORD got = 0;
    if (!ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr) || got == 0) {
        eof_ = true;
        buffer_.clear();
        pos_ = 0;
        return false;
    }
    buffer_.resize(got);
    pos_ = 0;
    return true;
}

int TextFile::Get() {
    if (pos_ == buffer_.size() && !Fill()) return -1;
    return buffer_[pos_++];
}

bool TextFile::Put(const void* data, size_t n) {
    DWORD put = 0;
    return file_ && WriteFile(file_, data, static_cast<DWORD>(n), &put, nullptr) && put == n;
}

bool TextFile::ReadString(std::string& out) {
    out.clear();
    if (encoding_ != 1 && encoding_ != 2) {
        Log() << "TextFile::ReadString: unsupported encoding type!" << End;
        return false;
    }
    bool ended = false;
    if (encoding_ == 1) {
        // Whole runs up to the line end are taken from the buffer at once:
        // a byte at a time made reading the file the cost of an INI edit.
        for (;;) {
            if (pos_ == buffer_.size() && !Fill()) {
                ended = true;
                break;
            }
            const uint8_t* start = buffer_.data() + pos_;
            const size_t left = buffer_.size() - pos_;
            const void* nl = std::memchr(start, '\n', left);
            const size_t run = nl ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - start) : left;
            out.append(reinterpret_cast<const char*>(start), run);
            pos_ += run;
            if (nl) {
                ++pos_;
                break;
            }
        }
    } else {
        std::u16string wide;
        for (;;) {
            int lo = Get();
            if (lo < 0) {
                ended = true;
                break;
            }
            int hi = Get();
            if (hi < 0) {
                ended = true;
                break;
            }
            char16_t c = static_cast<char16_t>(lo | (hi << 8));
            if (c == u'\n') break;
            wide.push_back(c);
        }
        out = zq::WideToAnsi(wide);
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return !out.empty() || !ended;
}

bool TextFile::WriteString(std::string_view text) {
    // Line ends become CR LF in one pass (replacing in place moved the rest
    // of the text at every line).
    std::string t;
    t.reserve(text.size() + text.size() / 16);
    for (size_t at = 0; at < text.size();) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string_view::npos) {
            t.append(text.substr(at));
            break;
        }
        t.append(text.substr(at, nl - at)).append("\r\n");
        at = nl + 1;
    }
    if (encoding_ == 1) return Put(t.data(), t.size());
    if (encoding_ == 2) {
        const std::u16string w = zq::AnsiToWide(t);
        std::vector<uint8_t> bytes(w.size() * 2);
        for (size_t i = 0; i < w.size(); ++i) {
            bytes[2 * i] = static_cast<uint8_t>(w[i]);
            bytes[2 * i + 1] = static_cast<uint8_t>(w[i] >> 8);
        }
        return Put(bytes.data(), bytes.size());
    }
    Log() << "TextFile::WriteString: unsupported encoding type!" << End;
    return false;
}

void TextFile::Close() {
    if (file_) CloseHandle(file_);
    file_ = nullptr;
}

}  // namespace postinst
