#include "base/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/error.h"
#include "base/fsutil.h"
#include "base/paths.h"
#include "base/root.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace zq::fsutil;

namespace zq {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

DWORD ExitCodeFromStatus(int status, const std::optional<DWORD>& terminated) {
    if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
    if (terminated) return *terminated;
    if (WIFSIGNALED(status)) {
        switch (WTERMSIG(status)) {
        case SIGSEGV:
        case SIGBUS: return 0xC0000005;
        case SIGILL: return 0xC000001D;
        case SIGFPE: return 0xC0000094;
        default: return 0xC000013A;
        }
    }
    return 0;
}

class ProcessObject : public KernelObject {
public:
    ProcessObject(pid_t p, int fd) : pid(p), pidfd(fd) {}

    ~ProcessObject() override {
        std::lock_guard g(lock);
        if (pidfd >= 0) ::close(pidfd);
        if (reaped) return;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) != 0) return;
        // Still running and nobody will wait: collect it when it ends so that
        // no zombie stays behind.
        const pid_t child = pid;
        std::thread([child] {
            int st = 0;
            while (::waitpid(child, &st, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }

    // Collects the child when it has ended; true once it has.
    bool Poll() {
        std::lock_guard g(lock);
        if (reaped) return true;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == 0) return false;
        reaped = true;
        // ECHILD: someone else collected it (SIGCHLD ignored); the code is lost.
        exitCode = r == pid ? ExitCodeFromStatus(status, terminateCode) : 0;
        return true;
    }

    DWORD Wait(DWORD milliseconds) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            if (Poll()) return WAIT_OBJECT_0;
            int timeout = -1;
            if (milliseconds != INFINITE) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) return WAIT_TIMEOUT;
                timeout = static_cast<int>(std::min<long long>(left, 1 << 30));
            }
            if (pidfd >= 0) {
                pollfd p{pidfd, POLLIN, 0};
                if (::poll(&p, 1, timeout) < 0 && errno != EINTR) {
                    SetLastError(ErrorFromErrno(errno));
                    return WAIT_FAILED;
                }
            } else {
                // No process descriptors on this kernel: look again shortly.
                std::this_thread::sleep_for(std::chrono::milliseconds(timeout < 0 ? 2 : std::min(timeout, 2)));
            }
        }
    }

    bool Terminate(DWORD code) {
        std::lock_guard g(lock);
        if (reaped) return Fail(ERROR_ACCESS_DENIED);
        terminateCode = code;
        if (::kill(pid, SIGKILL) != 0) return FailErrno(errno);
        return true;
    }

    DWORD ExitCode() {
        if (!Poll()) return STILL_ACTIVE;
        std::lock_guard g(lock);
        return exitCode;
    }

    const pid_t pid;

private:
    std::mutex lock;
    int pidfd;
    bool reaped = false;
    DWORD exitCode = STILL_ACTIVE;
    std::optional<DWORD> terminateCode;
};

// The primary thread's handle waits for the process.
class ThreadObject : public KernelObject {
public:
    explicit ThreadObject(std::shared_ptr<ProcessObject> p) : process(std::move(p)) {}
    DWORD Wait(DWORD milliseconds) override { return process->Wait(milliseconds); }
    std::shared_ptr<ProcessObject> process;
};

bool Executable(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

bool HasExeExtension(std::u16string_view name) {
    if (name.size() < 4) return false;
    const auto ext = name.substr(name.size() - 4);
    return EqualsNoCase(ext, u".exe") || EqualsNoCase(ext, u".com");
}

std::optional<fs::path> TryWindows(const std::u16string& path) {
    std::vector<std::u16string> names{path};
    if (HasExeExtension(path)) names.push_back(path.substr(0, path.size() - 4));
    for (const auto& n : names) {
        auto host = MapPath(n);
        if (host && Executable(*host)) return host;
    }
    return std::nullopt;
}

std::optional<fs::path> TryHostDir(const fs::path& dir, std::u16string_view name) {
    std::vector<std::u16string> names{std::u16string(name)};
    if (HasExeExtension(name)) names.emplace_back(name.substr(0, name.size() - 4));
    for (const auto& n : names) {
        if (Executable(dir / ToUtf8(n))) return dir / ToUtf8(n);
        std::error_code ec;
        std::optional<fs::path> best;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const auto candidate = it->path();
            if (EqualsNoCase(FromUtf8(candidate.filename().string()), n) && Executable(candidate) &&
                (!best || candidate.filename() < best->filename()))
                best = candidate;
        }
        if (best) return best;
    }
    return std::nullopt;
}

// An environment block: NUL-separated "name=value" texts ending with a
// second NUL, ANSI or UTF-16.
std::vector<std::string> EnvironmentFrom(LPVOID block, bool wide) {
    std::vector<std::string> out;
    if (!block) {
        for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
        return out;
    }
    if (wide) {
        for (auto p = static_cast<const char16_t*>(block); *p; p += Length(p) + 1)
            out.push_back(ToUtf8(std::u16string_view(p)));
    } else {
        for (auto p = static_cast<const char*>(block); *p; p += std::strlen(p) + 1) out.emplace_back(p);
    }
    return out;
}

struct Launch {
    fs::path program;
    std::vector<std::u16string> args;  // args[0] is the name as written
};

std::optional<Launch> Resolve(const std::u16string* applicationName, const std::u16string& commandLine) {
    Launch l;
    if (applicationName) {
        auto program = FindProgram(*applicationName);
        if (!program) return std::nullopt;
        l.program = *program;
        l.args = SplitCommandLine(commandLine.empty() ? QuoteArgument(*applicationName) : commandLine);
        return l;
    }
    std::u16string_view cl = commandLine;
    while (!cl.empty() && IsBlank(cl.front())) cl.remove_prefix(1);
    if (cl.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    if (cl.front() != u'"') {
        // "C:\Program Files\x.exe a" tries "C:\Program", then the longer
        // prefixes, as Windows does.
        for (size_t end = 0; end <= cl.size();) {
            size_t next = end;
            while (next < cl.size() && !IsBlank(cl[next])) ++next;
            const std::u16string candidate(cl.substr(0, next));
            if (auto program = FindProgram(candidate)) {
                l.program = *program;
                // The rest splits by the argument rules behind a stand-in name.
                auto rest = SplitCommandLine(u"x " + std::u16string(cl.substr(next)));
                rest[0] = candidate;
                l.args = std::move(rest);
                return l;
            }
            if (next >= cl.size()) break;
            end = next;
            while (end < cl.size() && IsBlank(cl[end])) ++end;
        }
        FindProgram(SplitCommandLine(cl)[0]);  // sets the error of the plain reading
        return std::nullopt;
    }
    l.args = SplitCommandLine(cl);
    auto program = FindProgram(l.args[0]);
    if (!program) return std::nullopt;
    l.program = *program;
    return l;
}

template <class Char, class StartupInfo>
BOOL CreateProcessT(const Char* applicationName, const Char* commandLine, DWORD flags, LPVOID environment,
                    const Char* currentDirectory, StartupInfo*, PROCESS_INFORMATION* info) {
    if (!applicationName && !commandLine) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & (CREATE_SUSPENDED | DEBUG_PROCESS)) return Fail(ERROR_NOT_SUPPORTED);
    const std::u16string app = Widen(applicationName);
    auto launch = Resolve(applicationName ? &app : nullptr, Widen(commandLine));
    if (!launch) return FALSE;

    std::optional<fs::path> dir;
    if (currentDirectory) {
        dir = MapPath(Widen(currentDirectory));
        std::error_code ec;
        if (!dir) return FALSE;
        if (!fs::is_directory(*dir, ec)) return Fail(ERROR_DIRECTORY);
    }

    std::vector<std::string> args;
    args.push_back(launch->program.string());
    for (size_t i = 1; i < launch->args.size(); ++i) args.push_back(ToUtf8(launch->args[i]));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env = EnvironmentFrom(environment, (flags & CREATE_UNICODE_ENVIRONMENT) != 0);
    std::erase_if(env, [](const std::string& e) { return e.rfind("ZQ_ROOT=", 0) == 0; });
    env.push_back("ZQ_ROOT=" + SystemRoot().string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (dir) posix_spawn_file_actions_addchdir_np(&actions, dir->c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return Fail(rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ErrorFromErrno(rc));

    // The child is not collected before this, so its id cannot be reused yet.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    auto process = std::make_shared<ProcessObject>(pid, pidfd);
    HANDLE hThread = HandleTable::Add(std::make_shared<ThreadObject>(process));
    HANDLE hProcess = HandleTable::Add(std::move(process));
    if (info) {
        info->hProcess = hProcess;
        info->hThread = hThread;
        info->dwProcessId = static_cast<DWORD>(pid);
        info->dwThreadId = static_cast<DWORD>(pid);
    } else {
        CloseHandle(hThread);
        CloseHandle(hProcess);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view s) {
    std::vector<std::u16string> out;
    size_t i = 0;
    const size_t n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    if (i == n) return out;
    std::u16string program;
    if (s[i] == u'"') {
        ++i;
        while (i < n && s[i] != u'"') program += s[i++];
        if (i < n) ++i;
    } else {
        while (i < n && !IsBlank(s[i])) program += s[i++];
    }
    out.push_back(std::move(program));
    for (;;) {
        while (i < n && IsBlank(s[i])) ++i;
        if (i >= n) break;
        std::u16string arg;
        bool quoted = false;
        while (i < n) {
            const char16_t c = s[i];
            if (IsBlank(c) && !quoted) break;
            if (c == u'\\') {
                size_t count = 0;
                while (i < n && s[i] == u'\\') {
                    ++count;
                    ++i;
                }
                if (i < n && s[i] == u'"') {
                    arg.append(count / 2, u'\\');
                    if (count % 2) {
                        arg += u'"';
                        ++i;
                    }
                } else {
                    arg.append(count, u'\\');
                }
            } else if (c == u'"') {
                if (quoted && i + 1 < n && s[i + 1] == u'"') {
                    arg += u'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        out.push_back(std::move(arg));
    }
    return out;
}

std::u16string QuoteArgument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\"") == argument.npos) return std::u16string(argument);
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, u'\\');
    return out + u"\"";
}

std::optional<fs::path> FindProgram(std::u16string_view name) {
    if (name.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    if (name.find_first_of(u"\\/:") != name.npos) {
        if (auto p = TryWindows(std::u16string(name))) return p;
        if (!MapPath(name)) return std::nullopt;  // refused: keep its error
        SetLastError(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    for (const auto& dir : {SystemDirectory(), WindowsDirectory()})
        if (auto p = TryWindows(dir + u"\\" + std::u16string(name))) return p;
    if (const char* bin = std::getenv("ZQ_BIN_PATH")) {
        std::string_view list(bin);
        while (!list.empty()) {
            const auto colon = list.find(':');
            const std::string_view dir = list.substr(0, colon);
            if (!dir.empty())
                if (auto p = TryHostDir(fs::path(std::string(dir)), name)) return p;
            if (colon == list.npos) break;
            list.remove_prefix(colon + 1);
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
}

}  // namespace zq

using namespace zq;

extern "C" {

BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*, BOOL,
                    DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* processInformation) {
    return CreateProcessT(applicationName, commandLine, creationFlags, environment, currentDirectory, startupInfo,
                          processInformation);
}

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*, BOOL,
                    DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation) {
    return CreateProcessT(applicationName, commandLine, creationFlags, environment, currentDirectory, startupInfo,
                          processInformation);
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    auto p = HandleTable::Get<ProcessObject>(process);
    if (!p) return FALSE;
    if (!exitCode) return Fail(ERROR_INVALID_PARAMETER);
    *exitCode = p->ExitCode();
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    auto p = HandleTable::Get<ProcessObject>(process);
    return p && p->Terminate(exitCode);
}

UINT WinExec(LPCSTR commandLine, UINT) {
    if (!commandLine) return 0;
    std::string line(commandLine);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        const DWORD err = GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? err
               : err == ERROR_BAD_EXE_FORMAT                             ? ERROR_BAD_FORMAT
                                                                         : 0;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 33;
}

}  // extern "C"
