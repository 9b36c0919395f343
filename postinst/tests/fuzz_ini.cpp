// Fuzzes INI handling: whatever bytes come, as an 8-bit file or behind a
// UTF-16 byte-order mark (the first byte chooses), are read into a
// document and written out, and edited in place by the quick writer; no
// temporary file may be left behind.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/files.h"
#include "base/root.h"
#include "postinst/ini_file.h"
#include "testing/temp_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    static const auto root = zq::testing::ProcessTempDirectory("zq-fuzz-postinst-ini");
    static const fs::path dir = [] {
        zq::SetSystemRoot(root);
        zq::SetDurableWrites(false);  // thousands of throwaway files
        std::error_code made;
        fs::create_directories(root / "c" / "ini", made);
        return root / "c" / "ini";
    }();
    if (size == 0) return 0;
    // The first byte chooses the encoding, the reader's mode and one edit:
    // over many inputs every combination runs, and each input costs only the
    // file operations of one read, one write and one edit.
    const uint8_t choice = data[0];
    std::error_code ec;
    fs::remove(dir / "out.ini", ec);
    std::string bytes = (choice & 1) ? std::string("\xFF\xFE") : std::string();
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    std::ofstream(dir / "t.ini", std::ios::binary | std::ios::trunc) << bytes;
    postinst::IniFile ini((choice & 2) != 0);
    if (ini.Read("C:\\ini\\t.ini")) ini.Write("C:\\ini\\out.ini");
    switch ((choice >> 2) % 3) {
        case 0: postinst::QuickWriteIniString("C:\\ini\\t.ini", "Section", "Key", "a=b", 1); break;
        case 1: postinst::QuickWriteIniString("C:\\ini\\t.ini", "Section", "Key", "", 2); break;
        default: postinst::QuickWriteIniString("C:\\ini\\t.ini", "Other", "k", "v", 1); break;
    }
    for (auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind("tmp", 0) == 0) std::abort();
    return 0;
}
