#include "postinst/launch.h"

#include <vector>

#include "base/error.h"
#include "base/kernel_objects.h"
#include "base/paths.h"
#include "base/process.h"
#include "postinst/debug_log.h"
#include "postinst/inf.h"
#include "postinst/registry.h"
#include "postinst/text.h"

namespace postinst {

std::string QuoteProgram(const std::string& program) {
    if (program.find(' ') == std::string::npos || (program.size() >= 2 && program.front() == '"')) return program;
    return "\"" + program + "\"";
}

LaunchResult launch_helper(const LaunchRequest& request) {
    LaunchResult result;
    if (request.commandLine.empty()) {
        result.error = ERROR_INVALID_PARAMETER;
        return result;
    }
    Tokenizer tokens(request.commandLine, ' ', Tokenizer::kQuotes | Tokenizer::kTrim);
    std::string first;
    if (!tokens.NextToken(first)) {
        result.error = ERROR_FILE_NOT_FOUND;
        return result;
    }
    PathObject program(first);
    std::string command = request.commandLine;
    bool batch = EqualsNoCase(Right(first, 4), ".BAT");
    if (batch) {
        if (OSInfo().isWin9x()) {
            PathObject shell = SystemPath(19);
            command = Format("%s /C %s", QuoteProgram(shell.FullPath() + "\\Command.com").c_str(),
                             request.commandLine.c_str());
        } else {
            PathObject shell = SystemPath(15);
            command = Format("%s /C \"%s\"", QuoteProgram(shell.FullPath() + "\\cmd.exe").c_str(),
                             request.commandLine.c_str());
        }
    }
    char saved[MAX_PATH] = {};
    bool changed = false;
    if (request.changeDirectory && !program.Dir().empty()) {
        GetCurrentDirectoryA(MAX_PATH, saved);
        if (SetCurrentDirectoryA(program.Dir().c_str())) {
            changed = true;
        } else {
            Log() << "launch_helper: could not change dirs to " << program.Dir() << End;
            Log() << "\tError code " << GetLastError() << End;
        }
    }
    STARTUPINFOA startup{};
    startup.cb = 68;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
    startup.dwX = 1;
    startup.dwY = 1;
    startup.wShowWindow = request.showMode ? request.showMode : 8;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, request.creationFlags, nullptr, nullptr,
                        &startup, &pi)) {
        result.error = GetLastError();
    } else {
        // A batch is waited for as the command shell would be; without
        // windows there are no messages to dispatch while waiting.
        if (request.wait || batch) {
            WaitForSingleObject(pi.hProcess, INFINITE);
            GetExitCodeProcess(pi.hProcess, &result.exitCode);
        }
        CloseHandle(pi.hProcess);
        if (pi.hThread) CloseHandle(pi.hThread);
    }
    if (changed) SetCurrentDirectoryA(saved);
    return result;
}

}  // namespace postinst
