// vemfread: checks a host-finishing spool stream and dumps its records.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "vemfread/vemfread.h"

int main(int argc, char** argv) {
    bool records = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("usage: vemfread [--records] FILE\n"
                        "Walks a spool stream of host finishing as the finishing library does and\n"
                        "checks every record, tag list, page span and index entry.\n"
                        "  --records  print one line per record\n"
                        "Exit status: 0 accepted, 1 refused, 2 bad usage or unreadable file.\n");
            return 0;
        }
        if (!std::strcmp(argv[i], "--records")) records = true;
        else if (argv[i][0] == '-') {
            std::fprintf(stderr, "vemfread: unknown option %s (see --help)\n", argv[i]);
            return 2;
        } else file = argv[i];
    }
    if (!file) {
        std::fprintf(stderr, "vemfread: no file given (see --help)\n");
        return 2;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vemfread: cannot read %s\n", file);
        return 2;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const vemfread::Stream s = vemfread::Walk(bytes);
    if (records) std::fputs(vemfread::Dump(s).c_str(), stdout);
    if (!s.ok) {
        std::fprintf(stderr, "vemfread: %s: refused: %s\n", file, s.error.c_str());
        return 1;
    }
    std::printf("%s: %zu pages, %zu records\n", file, s.pages.size(), s.records.size());
    return 0;
}
