// C++ side of the store: what tests and the zq command need beyond the
// Win32 calls.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/types.h"

namespace zq::store {

// UTF-8 (the Linux side: command lines, files) to and from UTF-16.
std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

// The user whose hive HKEY_CURRENT_USER stands for; empty goes back to
// $ZQ_USER or the Linux user.
void SetRegistryUser(std::u16string_view user);
std::u16string RegistryUser();

// A read-only printer refuses administrator access and every write with
// ERROR_ACCESS_DENIED; kept in the database, so it holds for every process.
bool SetPrinterReadOnly(std::u16string_view printer, bool readOnly);

// Makes WritePrinter fail or write short, in this process (the environment
// variable ZQ_WRITEPRINTER_FAIL=fail|short|kill[:n] sets it at first use).
//   Fail:  a call fails (ERROR_NO_SPOOL_SPACE) once the job would pass n bytes;
//   Short: each call writes at most n bytes and reports what it wrote;
//   Kill:  the process is killed (SIGKILL) once the job would pass n bytes,
//          after writing what is below n.
enum class WriteFault { None, Fail, Short, Kill };
void SetWritePrinterFault(WriteFault fault, uint32_t n = 0);

// The spool file of a job, on the Linux side.
std::filesystem::path JobFile(DWORD jobId);

// The print processor's report on a metafile job it plays: JOB_STATUS_PRINTING
// while it plays, then JOB_STATUS_PRINTED or JOB_STATUS_ERROR with the pages
// that reached the port and the error (0 when none). False with the last
// error when the job is not the printer's.
bool SetPlayedJobState(HANDLE printer, DWORD job, DWORD status, DWORD pagesPrinted, DWORD error);

// What the database reported for the thread's last failure of the store
// that came back as `error` ("registry database FILE: ... (SQLite error N)"),
// empty when the last failure was another.
std::string LastStoreFailure(DWORD error);

// The error that ended a job (a failed write, a writer that died, a failed
// playing), 0 when none or when the job is unknown.
DWORD JobError(DWORD jobId);

// REGEDIT4 text. A key is a full name ("HKEY_LOCAL_MACHINE\SOFTWARE" or
// "HKLM\SOFTWARE"); empty exports every root. Export answers nullopt when
// the key does not exist. Import answers an error text, empty on success.
std::optional<std::string> ExportRegistry(std::u16string_view key);
std::string ImportRegistry(std::string_view text);

}  // namespace zq::store
