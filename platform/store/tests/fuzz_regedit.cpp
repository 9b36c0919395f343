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
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!zq::store::ImportRegistry(text).empty()) return 0;
    auto exported = zq::store::ExportRegistry(u"HKEY_LOCAL_MACHINE\\SOFTWARE");
    if (exported && !zq::store::ImportRegistry(*exported).empty()) std::abort();
    return 0;
}
