// Fuzzes the command line of postinst: any text parses without harm and
// without leaving the root.
#include <cstdint>
#include <string>

#include "base/root.h"
#include "postinst/engine.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto root = zq::testing::ProcessTempDirectory("zq-fuzz-postinst-cmdline");
    static bool set = (zq::SetSystemRoot(root), true);
    (void)set;
    std::string line(reinterpret_cast<const char*>(data), size);
    postinst::KovrantEngine engine;
    engine.parseCommandLine(line);
    return 0;
}
