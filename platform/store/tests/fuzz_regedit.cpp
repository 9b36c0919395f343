// REGEDIT4 import of arbitrary text: never crashes, and whatever it left in
// the registry exports to text that imports again without complaint.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/root.h"
#include "store/admin.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        zq::SetSystemRoot(zq::testing::ProcessTempDirectory("zq-fuzz-regedit"));
        zq::store::SetRegistryUser(u"fuzz");
        return true;
    }();
    (void)ready;
    // Each input starts from an empty HKLM\SOFTWARE: what earlier inputs
    // left there would make the round trip below slower with every input
    // and its outcome depend on them.
    if (!zq::store::ImportRegistry("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n").empty()) std::abort();
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!zq::store::ImportRegistry(text).empty()) return 0;
    auto exported = zq::store::ExportRegistry(u"HKEY_LOCAL_MACHINE\\SOFTWARE");
    if (exported && !zq::store::ImportRegistry(*exported).empty()) std::abort();
    return 0;
}
