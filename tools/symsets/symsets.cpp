// symsets: writes the renderer's symbol-set character tables (resource type
// 273) as a record description, from the system's code-page tables (iconv).
// Entry i of a table is the Unicode character that byte i prints in that set;
// 0xFFFF where the set has none. Bytes 0-31 are control codes, never printed
// through a symbol set.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct SymbolSet {
    int id;
    const char* name;      // after ESC (
    const char* codePage;  // iconv's name
    int windowsCodePage;
};

constexpr SymbolSet kSets[] = {
    {1, "19U", "WINDOWS-1252", 1252}, {2, "9E", "WINDOWS-1250", 1250}, {3, "9R", "WINDOWS-1251", 1251},
    {4, "5T", "WINDOWS-1254", 1254},  {5, "19L", "WINDOWS-1257", 1257}, {6, "9G", "WINDOWS-1253", 1253},
};

constexpr uint16_t kNone = 0xFFFF;
constexpr int kFirstPrinted = 32;

// The character byte `code` stands for, kNone when the code page has none.
uint16_t Decode(iconv_t cd, int code) {
    char in = static_cast<char>(code);
    char out[4] = {};
    char* inp = &in;
    char* outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || outLeft != 2) return kNone;
    return static_cast<uint16_t>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: symsets OUTPUT.rec\n\nWrites the symbol-set tables (type 273, ids 1-6) from the\n"
                             "code pages 1252, 1250, 1251, 1254, 1257 and 1253 through iconv.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string text =
        "// The renderer's symbol-set tables, written by tools/symsets from the\n"
        "// system's code-page tables: entry i is the character byte i prints.\n\n";
    for (const SymbolSet& s : kSets) {
        iconv_t cd = iconv_open("UTF-16LE", s.codePage);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            std::fprintf(stderr, "symsets: iconv has no %s\n", s.codePage);
            return 1;
        }
        text += "RECORD 273 " + std::to_string(s.id) + " {   // \"" + s.name + "\", code page " +
                std::to_string(s.windowsCodePage) + "\n    uint16 characters[] = {";
        for (int code = 0; code < 256; ++code) {
            const uint16_t c = code < kFirstPrinted ? kNone : Decode(cd, code);
            char item[32];
            std::snprintf(item, sizeof item, "%s0x%04X,", code % 8 == 0 ? "\n        " : " ", c);
            text += item;
        }
        text += "\n    };\n}\n\n";
        iconv_close(cd);
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        std::fprintf(stderr, "symsets: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
