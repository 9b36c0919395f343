// symsets: writes the renderer's symbol-set character tables (resource type
// 273) as a record description, from the system's code-page tables (iconv).
// Entry i of a table is the Unicode character that byte i prints in that set;
// 0xFFFF where the set has none. Bytes 0-31 are control codes, never printed
// through a symbol set.
#include <cstdio>
#include <fstream>
#include <string>

#include "code_pages.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: symsets OUTPUT.rec\n\nWrites the symbol-set tables (type 273, ids 1-6) from the\n"
                             "code pages 1252, 1250, 1251, 1254, 1257 and 1253 through iconv.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string text =
        "// The renderer's symbol-set tables, written by tools/symsets from the\n"
        "// system's code-page tables: entry i is the character byte i prints.\n\n";
    for (const auto& s : zq::symsets::kSets) {
        const auto table = zq::symsets::MakeTable(s);
        if (!table) {
            std::fprintf(stderr, "symsets: iconv has no %s\n", s.codePage);
            return 1;
        }
        text += "RECORD 273 " + std::to_string(s.id) + " {   // \"" + s.name + "\", code page " +
                std::to_string(s.windowsCodePage) + "\n    uint16 characters[] = {";
        for (int code = 0; code < 256; ++code) {
            char item[32];
            std::snprintf(item, sizeof item, "%s0x%04X,", code % 8 == 0 ? "\n        " : " ", (*table)[code]);
            text += item;
        }
        text += "\n    };\n}\n\n";
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        std::fprintf(stderr, "symsets: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
