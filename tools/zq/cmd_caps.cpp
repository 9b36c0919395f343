// zq caps: what the interface driver answers to DeviceCapabilities for a
// printer, one capability or all of them.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/text.h"
#include "command.h"
#include "common/devcaps.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq caps --printer NAME [CAPABILITY|all]\n\n"
    "Asks the printer's interface driver (drvui) what DeviceCapabilities answers,\n"
    "as an application would. CAPABILITY is a name (papers, DC_PAPERS) or a number;\n"
    "all (the default) lists every capability. Lists are printed one entry a line.\n";

enum class Shape { Value, Words, Points, Longs, Pairs, Names };

struct Capability {
    const char* name;
    WORD id;
    Shape shape;
    unsigned nameChars;
};
constexpr Capability kCapabilities[] = {
    {"fields", DC_FIELDS, Shape::Value, 0},
    {"papers", DC_PAPERS, Shape::Words, 0},
    {"papersize", DC_PAPERSIZE, Shape::Points, 0},
    {"minextent", DC_MINEXTENT, Shape::Value, 0},
    {"maxextent", DC_MAXEXTENT, Shape::Value, 0},
    {"bins", DC_BINS, Shape::Words, 0},
    {"duplex", DC_DUPLEX, Shape::Value, 0},
    {"size", DC_SIZE, Shape::Value, 0},
    {"extra", DC_EXTRA, Shape::Value, 0},
    {"version", DC_VERSION, Shape::Value, 0},
    {"driver", DC_DRIVER, Shape::Value, 0},
    {"binnames", DC_BINNAMES, Shape::Names, kBinNameChars},
    {"enumresolutions", DC_ENUMRESOLUTIONS, Shape::Pairs, 0},
    {"filedependencies", DC_FILEDEPENDENCIES, Shape::Value, 0},
    {"truetype", DC_TRUETYPE, Shape::Value, 0},
    {"papernames", DC_PAPERNAMES, Shape::Names, kPaperNameChars},
    {"orientation", DC_ORIENTATION, Shape::Value, 0},
    {"copies", DC_COPIES, Shape::Value, 0},
    {"binadjust", DC_BINADJUST, Shape::Value, 0},
    {"collate", DC_COLLATE, Shape::Value, 0},
    {"personality", DC_PERSONALITY, Shape::Names, kPersonalityChars},
    {"printrate", DC_PRINTRATE, Shape::Value, 0},
    {"printrateunit", DC_PRINTRATEUNIT, Shape::Value, 0},
    {"printermem", DC_PRINTERMEM, Shape::Value, 0},
    {"mediaready", DC_MEDIAREADY, Shape::Names, kPaperNameChars},
    {"staple", DC_STAPLE, Shape::Value, 0},
    {"printrateppm", DC_PRINTRATEPPM, Shape::Value, 0},
    {"colordevice", DC_COLORDEVICE, Shape::Value, 0},
    {"nup", DC_NUP, Shape::Longs, 0},
};

const Capability* Find(const std::string& text) {
    std::string name = text;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.rfind("dc_", 0) == 0) name = name.substr(3);
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    for (const auto& c : kCapabilities) {
        if (name == c.name || (end != text.c_str() && *end == '\0' && number == c.id)) return &c;
    }
    return nullptr;
}

using DeviceCapabilities = DWORD (*)(HANDLE, LPWSTR, WORD, PVOID, DEVMODEW*);

void Show(DeviceCapabilities caps, HANDLE printer, const Capability& c) {
    const DWORD count = caps(printer, nullptr, c.id, nullptr, nullptr);
    if (count == 0xFFFFFFFF) {
        std::printf("%-16s error\n", c.name);
        return;
    }
    if (c.shape == Shape::Value) {
        std::printf("%-16s %u\n", c.name, count);
        return;
    }
    std::printf("%-16s %u\n", c.name, count);
    // Room for the answer as the count says, with a margin for the names.
    std::vector<uint8_t> out((static_cast<size_t>(count) + 1) * 2 * 64 * sizeof(DWORD), 0);
    caps(printer, nullptr, c.id, out.data(), nullptr);
    for (DWORD i = 0; i < count; ++i) {
        switch (c.shape) {
            case Shape::Words: std::printf("  %u\n", reinterpret_cast<const WORD*>(out.data())[i]); break;
            case Shape::Longs: std::printf("  %u\n", reinterpret_cast<const DWORD*>(out.data())[i]); break;
            case Shape::Points:
            case Shape::Pairs: {
                const auto* v = reinterpret_cast<const LONG*>(out.data()) + 2 * i;
                std::printf("  %d x %d\n", v[0], v[1]);
                break;
            }
            case Shape::Names: {
                const auto* name = reinterpret_cast<const WCHAR*>(out.data()) + static_cast<size_t>(c.nameChars) * i;
                std::u16string text;
                for (unsigned k = 0; k < c.nameChars && name[k] != 0; ++k) text.push_back(name[k]);
                std::printf("  %s\n", text.empty() ? "(no name)" : zq::Utf16ToUtf8(text).c_str());
                break;
            }
            case Shape::Value: break;
        }
    }
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    const auto printer = opts.Value("--printer");
    if (auto bad = opts.Unknown()) return zq::UsageError("caps", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (!printer) return zq::UsageError("caps", "needs --printer NAME");
    if (rest.size() > 1) return zq::UsageError("caps", "unexpected argument " + rest[1]);
    const std::string which = rest.empty() ? "all" : rest[0];
    const Capability* one = which == "all" ? nullptr : Find(which);
    if (which != "all" && one == nullptr) return zq::UsageError("caps", "unknown capability " + which);
    HMODULE drvui = LoadLibraryA("drvui.dll");
    if (drvui == nullptr) return zq::Fail("caps: cannot load drvui: " + zq::LastLoadError());
    const auto caps = reinterpret_cast<DeviceCapabilities>(GetProcAddress(drvui, "DrvDeviceCapabilities"));
    std::u16string name = zq::Utf8ToUtf16(*printer);
    HANDLE h = nullptr;
    int rc = 0;
    if (caps == nullptr) {
        rc = zq::Fail("caps: drvui has no DrvDeviceCapabilities");
    } else if (!OpenPrinterW(name.data(), &h, nullptr)) {
        rc = zq::Fail("caps: no printer " + *printer);
    } else {
        if (caps(h, nullptr, DC_FIELDS, nullptr, nullptr) == 0xFFFFFFFF) {
            rc = zq::Fail("caps: the driver cannot read printer " + *printer);
        } else if (one != nullptr) {
            Show(caps, h, *one);
        } else {
            for (const auto& c : kCapabilities) Show(caps, h, c);
        }
        ClosePrinter(h);
    }
    FreeLibrary(drvui);
    return rc;
}

const zq::Registration kRegistration{{"caps", "what the driver answers to DeviceCapabilities for a printer", kUsage, Run}};

}  // namespace
