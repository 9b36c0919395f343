// A stand-in of the install-record library for the tests: it answers
// FindLogFile from the log names it was told to have and keeps every call.
#include <cstring>
#include <string>

namespace {
std::string calls;
std::string logs = "Zelquor";
}  // namespace

extern "C" {
int FindLogFile(const char* logName, int mode) {
    calls += "FindLogFile(" + std::string(logName) + ", " + std::to_string(mode) + ")\n";
    return logs.find(logName) != std::string::npos ? 0 : 1;
}
int AddFile(const char* section, const char* file) {
    calls += "AddFile(" + std::string(section) + ", " + file + ")\n";
    return 1;
}
int AddRegistry(const char* section, const char* text) {
    calls += "AddRegistry(" + std::string(section) + ", " + text + ")\n";
    return 1;
}
// For the tests: the calls so far (then forgotten), and the logs present.
const char* TakeCalls() {
    static std::string last;
    last = calls;
    calls.clear();
    return last.c_str();
}
void SetLogs(const char* names) {
    logs = names;
}
}
