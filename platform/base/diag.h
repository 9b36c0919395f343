// The platform's diagnostic log: one line per event that a person looking
// into a run wants to see (message boxes shown, calls refused).
//
// Off unless asked for: ZQ_DIAG=<path> appends to a file, ZQ_DIAG=stderr
// writes to standard error, or a program calls SetDiagTarget. Tests capture
// lines with DiagCapture whether or not the log is on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zq {

// Writes one line "<area>: <text>"; line breaks in the text become spaces.
void DiagLine(std::string_view area, std::string_view text);

// A call refused by the platform (a path escaping the root, flags we do not
// support): "<call>: refused: <reason>".
void DiagRefused(std::string_view call, std::string_view reason);

// True when lines go anywhere (a target or a capture).
bool DiagEnabled();

// "" turns the log off, "stderr" writes to standard error, anything else is a
// file path, appended to. Replaces what ZQ_DIAG asked for.
void SetDiagTarget(std::string_view target);

// Collects every line written while it lives (in every thread).
class DiagCapture {
public:
    DiagCapture();
    ~DiagCapture();
    DiagCapture(const DiagCapture&) = delete;
    DiagCapture& operator=(const DiagCapture&) = delete;

    std::vector<std::string> Lines() const;
    // Lines that contain the text.
    std::vector<std::string> Matching(std::string_view text) const;
};

}  // namespace zq
