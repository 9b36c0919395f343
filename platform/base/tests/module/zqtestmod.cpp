// A small module for the loader and resource tests. Its attach and detach
// entries leave a trace in the environment (which outlives the module) and
// refuse to attach when ZQ_TESTMOD_FAIL_ATTACH is set.
#include <cstdlib>
#include <string>

#include "base/error.h"
#include "base/loader.h"

extern "C" [[gnu::visibility("default")]] BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
    const char* old = std::getenv("ZQ_TESTMOD_EVENTS");
    std::string events = old ? old : "";
    events += reason == DLL_PROCESS_ATTACH ? "A" : reason == DLL_PROCESS_DETACH ? "D" : "?";
    setenv("ZQ_TESTMOD_EVENTS", events.c_str(), 1);
    if (reason == DLL_PROCESS_ATTACH && std::getenv("ZQ_TESTMOD_FAIL_ATTACH")) return FALSE;
    return TRUE;
}

extern "C" [[gnu::visibility("default")]] int ZqTestModuleAnswer() {
    // Uses the platform so that the module depends on it (GetProcAddress must
    // still not hand out the platform's symbols through this module).
    SetLastError(ERROR_SUCCESS);
    return 42;
}
