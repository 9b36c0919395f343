// raster-devmode: turns a printer's default record (the 1256 bytes that
// `zq devmode default --out` writes) into a record for the monochrome raster
// language at a resolution, with the sheet geometry filled in, and prints it
// as a REGEDIT4 file that stores it as the printer's default DEVMODE. Used by
// `make run` until the settings fill the geometry themselves.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/tests/e2e/print_support.h"
#include "settings/devmode_ops.h"

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("usage: raster-devmode [--host-finishing|--stream-language] RECORD.bin PRINTER [DPI]\n\n"
                  "Prints a REGEDIT4 file that stores RECORD.bin, made a monochrome raster\n"
                  "record at DPI (default: the record's own resolution), as PRINTER's default DEVMODE.\n"
                  "  --host-finishing   the job is written as the spool stream of host finishing (output mode 4)\n"
                  "  --stream-language  the same, for a printer whose language is the stream itself (language 4)");
        return 0;
    }
    // Output mode 4: 1 the stream of a raster printer, 4 the stream language.
    int stream = 0;
    if (argc > 1 && std::strcmp(argv[1], "--host-finishing") == 0) stream = 1;
    if (argc > 1 && std::strcmp(argv[1], "--stream-language") == 0) stream = 4;
    if (stream) {
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 4) {
        std::fputs("raster-devmode: give RECORD.bin PRINTER [DPI] (see --help)\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() != sizeof(zq::PrivateDevmode)) {
        std::fprintf(stderr, "raster-devmode: %s is not a %zu-byte record\n", argv[1], sizeof(zq::PrivateDevmode));
        return 1;
    }
    zq::PrivateDevmode dm;
    std::memcpy(&dm, bytes.data(), sizeof dm);
    const int dpi = argc == 4 ? std::atoi(argv[3]) : dm.dm.dmPrintQuality;
    if (dpi < 75 || dpi > 2400) {
        std::fprintf(stderr, "raster-devmode: resolution %d out of range\n", dpi);
        return 1;
    }
    pclrend::testing::MakeRasterDevmode(dm, dpi);
    if (stream) {
        dm.metaSpool = 1;
        if (stream == 4) dm.printerLanguage = 4;
    }
    zq::SetDevmodeCrc(dm);
    std::printf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\%s]\n"
                "\"Default DevMode\"=hex:",
                argv[2]);
    const auto* p = reinterpret_cast<const uint8_t*>(&dm);
    for (size_t i = 0; i < sizeof dm; ++i) std::printf(i ? ",%02x" : "%02x", p[i]);
    std::printf("\n");
    return 0;
}
