// The trace the install-record and install-engine stand-ins share: one line
// per call, appended to "instrec\trace.log" in the system directory under
// the root, so that a test or a user sees what an installer asked of them.
#pragma once

#include <string>
#include <string_view>

namespace zq::outside {

// The trace file's Windows path.
std::u16string TracePath();
// Appends one line (a line end is added); false when it cannot be written.
bool AppendTrace(std::string_view line);
// A text argument as the trace shows it: in double quotes, a null as NULL.
std::string TraceText(const char* text);

}  // namespace zq::outside
