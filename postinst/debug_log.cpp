#include "postinst/debug_log.h"

#include <cstdio>

#include "base/clock.h"
#include "base/files.h"
#include "postinst/text.h"

namespace postinst {

DebugLog& DebugLog::Instance() {
    static DebugLog log;
    return log;
}

void DebugLog::SetFile(std::string_view windowsPath) { file_ = std::string(windowsPath); }

DebugLog& DebugLog::operator<<(std::string_view text) {
    for (char c : text) {
        line_.push_back(c);
        if (c == '\n') Flush();
    }
    return *this;
}

DebugLog& DebugLog::operator<<(long long n) { return *this << std::to_string(n); }

DebugLog& DebugLog::operator<<(EndLine) { return *this << "\n"; }

void DebugLog::Flush() {
    if (!file_.empty() && !line_.empty()) {
        // Text mode: each line ends in CR LF in the file.
        std::string out = line_;
        if (!out.empty() && out.back() == '\n') {
            out.pop_back();
            out += "\r\n";
        }
        HANDLE f = CreateFileA(file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            SetFilePointer(f, 0, nullptr, FILE_END);
            DWORD put = 0;
            WriteFile(f, out.data(), static_cast<DWORD>(out.size()), &put, nullptr);
            CloseHandle(f);
        }
    }
    line_.clear();
}

void DebugLog::StartClock() { clockStart_ = zq::CurrentClock().TickMilliseconds(); }

void DebugLog::LogElapsed(const char* format) {
    double seconds = static_cast<double>(zq::CurrentClock().TickMilliseconds() - clockStart_) * 0.001;
    if (format && *format) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, format, seconds);
        *this << buffer << End;
    } else {
        *this << Format(" ** Elapsed time: %f ** ", seconds) << End;
    }
}

}  // namespace postinst
