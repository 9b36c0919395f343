// Fuzzes INI handling: whatever bytes come, as an 8-bit file or behind a
// UTF-16 byte-order mark (the first byte chooses), are read into a
// document and written out, and edited in place by the quick writer; no
// temporary file may be left behind.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/root.h"
#include "postinst/ini_file.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    static const auto root = zq::testing::ProcessTempDirectory("zq-fuzz-postinst-ini");
    static bool set = (zq::SetSystemRoot(root), true);
    (void)set;
    if (size == 0) return 0;
    std::error_code ec;
    fs::remove_all(root / "c", ec);
    fs::create_directories(root / "c" / "ini");
    std::string bytes = (data[0] & 1) ? std::string("\xFF\xFE") : std::string();
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    std::ofstream(root / "c" / "ini" / "t.ini", std::ios::binary) << bytes;
    for (bool raw : {false, true}) {
        postinst::IniFile ini(raw);
        if (ini.Read("C:\\ini\\t.ini")) ini.Write("C:\\ini\\out.ini");
    }
    postinst::QuickWriteIniString("C:\\ini\\t.ini", "Section", "Key", "a=b", 1);
    postinst::QuickWriteIniString("C:\\ini\\t.ini", "Section", "Key", "", 2);
    postinst::QuickWriteIniString("C:\\ini\\t.ini", "Other", "k", "v", 1);
    for (auto& e : fs::directory_iterator(root / "c" / "ini", ec))
        if (e.path().filename().string().rfind("tmp", 0) == 0) std::abort();
    return 0;
}
