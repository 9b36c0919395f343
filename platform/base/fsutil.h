// Helpers shared by the platform's stand-ins (files, paths, profiles,
// processes, and the other platform areas that meet host files and names);
// not for the deliverables, which go through the Win32-shaped calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/types.h"

namespace zq::fsutil {

// ANSI (process code page) text of the A entry points to and from UTF-16.
std::u16string FromAnsi(std::string_view text);
std::string ToAnsi(std::u16string_view text);
// A NUL-terminated ANSI argument; null stays empty.
inline std::u16string FromAnsiZ(const char* text) { return text ? FromAnsi(text) : std::u16string(); }

// The text of an A or W entry point as UTF-16 (null stays empty), and a
// UTF-16 result in the entry point's width.
template <class Char>
std::u16string Widen(const Char* text) {
    if constexpr (sizeof(Char) == 1)
        return FromAnsiZ(text);
    else
        return text ? std::u16string(text) : std::u16string();
}
template <class Char>
std::basic_string<Char> Narrow(std::u16string_view text) {
    if constexpr (sizeof(Char) == 1)
        return ToAnsi(text);
    else
        return std::u16string(text);
}

// Host file names are UTF-8 whatever the code page; a host name that is not
// valid UTF-8 keeps its bytes (as Latin-1) so that it can be named again.
std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

// Windows compares file, section and key names without case.
char16_t FoldCase(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
int CompareNoCase(std::u16string_view a, std::u16string_view b);

// The Win32 code for an errno value: the one place where host errors become
// Win32 errors.
DWORD ErrorFromErrno(int err);

// Sets the last error from errno and returns false, for one-line failures.
bool FailErrno(int err);
inline bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

// Copies a result string into a caller's buffer with the Windows size rule:
// when it fits (with its NUL) the length without the NUL is returned, else
// the size needed including the NUL and the buffer is left alone.
template <class Char>
DWORD CopyOut(std::basic_string_view<Char> text, Char* buffer, DWORD size) {
    if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = Char(0);
    return static_cast<DWORD>(text.size());
}

// Length of a NUL-terminated text of either width.
template <class Char>
size_t Length(const Char* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

// Appends the whole of the file at `path` to `out`: a regular file in one
// read of its size, anything else (a pipe) until its end. False when it
// cannot be opened or read; `out` then holds what it held before.
bool AppendFile(const std::string& path, std::vector<uint8_t>& out);

}  // namespace zq::fsutil
