// Processes: CreateProcess, WinExec and waiting for a child.
//
// A command line is split into an argument vector by the Windows rules (see
// SplitCommandLine) and started with posix_spawn; no shell sees it.
//
// Finding the program. A name with a drive or a separator is a Windows path
// on the system root; a bare name is looked for in the system directory, then
// the Windows directory, then in each host directory of $ZQ_BIN_PATH (a colon
// list, the build's bin directory in tests), without regard to case; the
// current directory is not searched. In each place "name.exe" (or ".com")
// also finds a program "name" without extension, which is how our stand-ins
// of Windows programs are installed. When an unquoted program path contains
// blanks, longer and longer blank-separated prefixes are tried, as Windows
// does.
//
// The child inherits the environment (or gets the block given) with
// $ZQ_ROOT set to this process's system root, and starts in the host
// directory of the current directory given, where its own current directory
// then begins. Show modes, desktops and standard handles are not used.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/kernel_objects.h"
#include "base/types.h"

struct SECURITY_ATTRIBUTES;

constexpr DWORD STILL_ACTIVE = 259;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESIZE = 0x00000002;
constexpr DWORD STARTF_USEPOSITION = 0x00000004;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;

constexpr DWORD DEBUG_PROCESS = 0x00000001;
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD DETACHED_PROCESS = 0x00000008;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
constexpr DWORD CREATE_SEPARATE_WOW_VDM = 0x00000800;
constexpr DWORD CREATE_NO_WINDOW = 0x08000000;

// STARTUPINFOA and STARTUPINFOW differ only in the width of their texts.
template <class Char>
struct StartupInfoOf {
    DWORD cb;
    Char* lpReserved;
    Char* lpDesktop;
    Char* lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using STARTUPINFOA = StartupInfoOf<CHAR>;
using STARTUPINFOW = StartupInfoOf<WCHAR>;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

extern "C" {
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES* processAttributes,
                    SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* processInformation);
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, SECURITY_ATTRIBUTES* processAttributes,
                    SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);
// STILL_ACTIVE while the process runs. A process ended by a signal reports
// the code given to TerminateProcess, else an exception status
// (0xC0000005 for SIGSEGV and SIGBUS, 0xC000001D SIGILL, 0xC0000094 SIGFPE,
// 0xC000013A for any other signal).
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
// Greater than 31 when started; 0, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
// or ERROR_BAD_FORMAT otherwise. The handles are closed at once.
UINT WinExec(LPCSTR commandLine, UINT showCommand);
}

namespace zq {

// Windows argument rules: the program name ends at the next blank, or at the
// closing quote when it starts with one (backslashes are plain there). In
// the arguments, 2n backslashes before a quote give n backslashes and the
// quote opens or closes a quoted part; 2n + 1 give n and a literal quote;
// other backslashes are plain; "" inside a quoted part is a literal quote.
// Blanks and tabs separate arguments outside quoted parts.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// The reverse: an argument quoted so that SplitCommandLine gives it back.
std::u16string QuoteArgument(std::u16string_view argument);

// The host program a Windows program name starts (rules above); nothing
// with the last error set when there is none.
std::optional<std::filesystem::path> FindProgram(std::u16string_view name);

}  // namespace zq
