// raster-devmode: turns a printer's default record (the 1256 bytes that
// `zq devmode default --out` writes) into a monochrome record at a
// resolution in a language (the model's own unless asked), with the sheet
// geometry filled in, and prints it as a REGEDIT4 file that stores it as the
// printer's default DEVMODE. Used by `make run` until the settings fill the
// geometry themselves.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/tests/e2e/print_support.h"
#include "settings/devmode_ops.h"

namespace {

const char* const kUsage =
    "usage: raster-devmode RECORD.bin PRINTER [DPI] [--language N] [--host-finishing|--stream-language]\n"
    "                      [--nup N] [--booklet] [--duplex] [--colour]\n"
    "       raster-devmode RECORD.bin --own-language\n\n"
    "Prints a REGEDIT4 file that stores RECORD.bin, made a monochrome record at\n"
    "DPI (default: the record's own resolution) in printer language N (0 raster\n"
    "PCL 5, 1 PCL 5 with HP-GL/2, 2 PCL XL, 5 colour raster; default: the record's own), as\n"
    "PRINTER's default DEVMODE. --own-language prints the record's language.\n"
    "  --host-finishing   the job is written as the spool stream of host finishing (output mode 4)\n"
    "  --stream-language  the same, for a printer whose language is the stream itself (language 4)\n"
    "  --nup N            N pages a sheet (2, 3, 4, 6, 9, 12 or 16)\n"
    "  --booklet          a booklet\n"
    "  --duplex           long-edge duplex (by hand when the model has no duplex unit)\n"
    "  --colour           a colour record (colour raster levels of 2 bits in language 5)\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "raster-devmode: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    int language = -1;
    bool ownLanguage = false;
    // Output mode 4: 1 the stream of a raster printer, 4 the stream language.
    int stream = 0;
    int nup = 0;  // the DEVMODE's pages-per-sheet code, 0 one page a sheet
    bool booklet = false, duplex = false, colour = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--language" && i + 1 < argc) {
            char* end = nullptr;
            language = static_cast<int>(std::strtol(argv[++i], &end, 10));
            if (*end || (language != 0 && language != 1 && language != 2 && language != 5))
                return Fail(std::string("language ") + argv[i] + " is not 0, 1, 2 or 5");
        } else if (a == "--own-language") {
            ownLanguage = true;
        } else if (a == "--host-finishing") {
            stream = 1;
        } else if (a == "--stream-language") {
            stream = 4;
        } else if (a == "--nup" && i + 1 < argc) {
            const int codes[] = {0, 0, 1, 2, 3, 0, 4, 0, 0, 5, 0, 0, 6, 0, 0, 0, 7};
            const int n = std::atoi(argv[++i]);
            if (n < 2 || n > 16 || !codes[n]) return Fail(std::string("pages a sheet ") + argv[i] + " is not 2, 3, 4, 6, 9, 12 or 16");
            nup = codes[n];
        } else if (a == "--booklet") {
            booklet = true;
        } else if (a == "--duplex") {
            duplex = true;
        } else if (a == "--colour") {
            colour = true;
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "raster-devmode: unknown option or missing value: %s (see --help)\n", a.c_str());
            return 2;
        } else {
            args.push_back(a);
        }
    }
    if (args.empty() || (ownLanguage ? args.size() != 1 : args.size() < 2 || args.size() > 3)) {
        std::fputs("raster-devmode: give RECORD.bin PRINTER [DPI] (see --help)\n", stderr);
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() != sizeof(zq::PrivateDevmode))
        return Fail(args[0] + " is not a " + std::to_string(sizeof(zq::PrivateDevmode)) + "-byte record");
    zq::PrivateDevmode dm;
    std::memcpy(&dm, bytes.data(), sizeof dm);
    if (ownLanguage) {
        std::printf("%d\n", dm.printerLanguage);
        return 0;
    }
    const int dpi = args.size() == 3 ? std::atoi(args[2].c_str()) : dm.dm.dmPrintQuality;
    if (dpi < 75 || dpi > 2400) return Fail("resolution " + std::to_string(dpi) + " out of range");
    const BYTE own = dm.printerLanguage;
    pclrend::testing::MakeRasterDevmode(dm, dpi);
    dm.printerLanguage = static_cast<BYTE>(language < 0 ? own : language);
    if (stream) {
        dm.metaSpool = 1;
        if (stream == 4) dm.printerLanguage = 4;
    }
    if (nup) dm.pagesPerSheet = static_cast<BYTE>(nup);
    if (booklet) dm.option1081 = 1;
    if (duplex) dm.dm.dmDuplex = DMDUP_VERTICAL;
    if (colour) {
        dm.dm.dmColor = DMCOLOR_COLOR;
        dm.resolutionFeature = 1;  // the resolution class whose levels are 2 bits
    }
    zq::SetDevmodeCrc(dm);
    std::printf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\%s]\n"
                "\"Default DevMode\"=hex:",
                args[1].c_str());
    const auto* p = reinterpret_cast<const uint8_t*>(&dm);
    for (size_t i = 0; i < sizeof dm; ++i) std::printf(i ? ",%02x" : "%02x", p[i]);
    std::printf("\n");
    return 0;
}
