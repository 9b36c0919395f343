// What the subcommands that talk to the spooler share: text of its string
// fields, its error report, a handle that closes itself and its two-call
// size protocol.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "command.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace zq::cli {

// A string field of a spooler record as UTF-8; a null field is empty.
inline std::string Text(const char16_t* s) { return s ? store::ToUtf8(s) : std::string(); }

// "zq: COMMAND: WHAT: WORDS (error N)" on stderr, N being the last error
// unless given. A failure of the registry database adds what the database
// reported and how to recover. Returns the failure exit code.
int FailWithError(std::string_view command, std::string_view what, DWORD code = GetLastError());

// An application's DEVMODE kept in a file (a public part and its driver
// extra, whole, as zq devmode set writes it); nullopt with `error` set when
// the file cannot be read or its sizes do not match its length.
std::optional<std::vector<uint8_t>> ReadDevmodeFile(const std::string& path, std::string& error);

// A printer or print-server handle, closed on every way out.
struct PrinterHandle {
    HANDLE h = nullptr;
    PrinterHandle() = default;
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    ~PrinterHandle() {
        if (h) ClosePrinter(h);
    }
};

// A spooler call of the size-query kind, `call(buffer, size, &needed)`: asked
// once for the size, then into a buffer of that size; nullopt when the second
// call fails (its last error stands).
template <class Call>
std::optional<std::vector<BYTE>> Fetch(Call call) {
    DWORD needed = 0;
    call(nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed)) return std::nullopt;
    return buffer;
}

}  // namespace zq::cli
