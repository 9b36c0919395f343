// The post-install engine's value types: strings with the classic-locale
// helpers, path values, the tokenizer that splits INF values, command lines
// and versions, and 8-bit or UTF-16 text files reached through the
// platform's Win32 calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace postinst {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string Trim(std::string_view s);
// The same text without its white space at both ends, as a view of it.
std::string_view TrimView(std::string_view s);
std::string Lower(std::string_view s);
std::string Upper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);
// Replaces every occurrence; the count.
int ReplaceAll(std::string& s, std::string_view find, std::string_view replacement);
// The last n characters (all when shorter).
std::string Right(std::string_view s, size_t n);

// A directory part (never ending in a backslash, "/" stored as "\") and a
// file-name part (empty for a directory).
class PathObject {
public:
    PathObject() = default;
    explicit PathObject(std::string_view text) { Set(text); }
    // Splits like _splitpath; an empty (trimmed) text changes nothing.
    bool Set(std::string_view text);
    void SetDir(std::string_view dir);
    void SetName(std::string_view name) { name_ = std::string(name); }
    void Append(std::string_view sub);
    std::string FullPath() const;
    const std::string& Dir() const { return dir_; }
    const std::string& Name() const { return name_; }
    bool HasName() const { return !name_.empty(); }
    bool Empty() const { return dir_.empty() && name_.empty(); }
    static PathObject Parent(std::string_view dir);
    static int Compare(const PathObject& a, const PathObject& b);

private:
    std::string dir_, name_;
};

// Splits a text at one delimiter. Flag 1: double quotes hold delimiters and
// are taken off a quoted token; flag 2: leading white space goes before
// each token.
class Tokenizer {
public:
    static constexpr int kQuotes = 1;
    static constexpr int kTrim = 2;
    Tokenizer(std::string_view text, char delimiter, int flags) : rest_(text), delimiter_(delimiter), flags_(flags) {}
    bool NextToken(std::string& out);
    std::vector<std::string> AllTokens();
    bool HasMore() const { return !rest_.empty(); }

private:
    std::string rest_;
    char delimiter_;
    int flags_;
};

// Lines of a text file: 8-bit (1) or UTF-16 little-endian with its byte
// order mark (2); 0 asks the file.
class TextFile {
public:
    enum Mode { kRead = 0, kWrite = 1, kAppend = 2 };
    TextFile() = default;
    ~TextFile() { Close(); }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
    bool Open(const std::string& path, int mode, int encoding);
    bool ReadString(std::string& out);
    bool WriteString(std::string_view text);
    void Close();
    int Encoding() const { return encoding_; }

private:
    bool Fill();  // the next block of the file into the buffer; false at its end
    int Get();    // next byte, -1 at the end
    static constexpr size_t kReadBlock = 1 << 16;
    bool Put(const void* data, size_t n);
    HANDLE file_ = nullptr;
    int encoding_ = 0;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    bool eof_ = false;
};

}  // namespace postinst
