// Starting a program or a batch file of an INF line, optionally waiting for
// it. Nothing goes through a host shell: a batch runs as the system's
// cmd.exe command line through CreateProcessA.
#pragma once

#include <cstdint>
#include <string>

#include "base/types.h"

namespace postinst {

struct LaunchRequest {
    std::string commandLine;
    bool wait = false;
    bool pumpMessages = false;
    bool changeDirectory = false;
    uint16_t showMode = 0;  // 0: SW_SHOWNA
    DWORD creationFlags = 0;
    bool paintOnly = false;
};

struct LaunchResult {
    DWORD error = 0;
    DWORD exitCode = 0;
};

LaunchResult launch_helper(const LaunchRequest& request);

// The program token of a command line, quoted when it holds blanks and is
// not quoted yet, so that "C:\Program Files\x.exe" cannot start
// C:\Program.exe.
std::string QuoteProgram(const std::string& program);

}  // namespace postinst
