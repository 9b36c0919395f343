// Fuzzes zip extraction: an archive from memory is extracted into a fresh
// folder of the root, and every file it leaves lies under that folder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/root.h"
#include "postinst/zip_extract.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    static const auto root = zq::testing::ProcessTempDirectory("zq-fuzz-postinst-zip");
    static bool set = (zq::SetSystemRoot(root), true);
    (void)set;
    std::error_code ec;
    fs::remove_all(root / "c", ec);
    fs::create_directories(root / "c" / "dest");
    std::ofstream(root / "c" / "in.zip", std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
    postinst::ZipListContents("C:\\in.zip", postinst::kZipExtract, "C:\\dest", nullptr);
    // Every file lies under the destination, beside the archive and the
    // root's own files (the registry database) excepted.
    for (auto& e : fs::recursive_directory_iterator(root, ec)) {
        if (!e.is_regular_file() || e.path().parent_path() == root || e.path() == root / "c" / "in.zip") continue;
        // A name such as "..j" lies inside; only a ".." step leads out.
        const auto rel = fs::relative(e.path(), root / "c" / "dest");
        if (rel.empty() || *rel.begin() == "..") std::abort();
    }
    return 0;
}
