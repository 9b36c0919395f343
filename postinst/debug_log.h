// The engine's flight-recorder log: characters gather into the current
// line, and each finished line is appended to the file the registry names
// (opened, written and closed per line, so a killed run keeps every line it
// finished). Without a file the lines are dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace postinst {

struct EndLine {};
inline constexpr EndLine End{};

class DebugLog {
public:
    static DebugLog& Instance();
    void SetFile(std::string_view windowsPath);
    const std::string& File() const { return file_; }

    DebugLog& operator<<(std::string_view text);
    DebugLog& operator<<(const std::string& text) { return *this << std::string_view(text); }
    DebugLog& operator<<(const char* text) { return *this << std::string_view(text ? text : ""); }
    DebugLog& operator<<(char c) { return *this << std::string_view(&c, 1); }
    DebugLog& operator<<(long long n);
    DebugLog& operator<<(int n) { return *this << static_cast<long long>(n); }
    DebugLog& operator<<(long n) { return *this << static_cast<long long>(n); }
    DebugLog& operator<<(unsigned n) { return *this << static_cast<long long>(n); }
    DebugLog& operator<<(unsigned long n) { return *this << static_cast<long long>(n); }
    DebugLog& operator<<(EndLine);
    void Flush();

    void StartClock();
    // The seconds since StartClock with the format (printf "%f"), or the
    // standard elapsed line when the format is empty; ends the line.
    void LogElapsed(const char* format);

private:
    std::string file_;
    std::string line_;
    uint64_t clockStart_ = 0;
};

inline DebugLog& Log() { return DebugLog::Instance(); }

}  // namespace postinst
