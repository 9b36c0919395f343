// zq config: plays the outside configuration tool. It loads the interface
// driver and calls its configuration exports by name, as that tool does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/memory.h"
#include "base/text.h"
#include "command.h"
#include "common/config_requests.h"
#include "settings/devmode.h"
#include "settings/printer_devmode.h"
#include "settings/tag_tables.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq config export PRINTER --out FILE [--scope N]\n"
    "       zq config force PRINTER FILE [--scope N] [--model NAME] [--description TEXT]\n"
    "       zq config support [--printer NAME] [--model NAME] [--version N]\n\n"
    "Calls the configuration exports of the interface driver (drvui) by name, as\n"
    "an outside configuration tool does.\n\n"
    "export   ConvertPrtIntoDCD: the printer's current settings as a configuration\n"
    "         file (a tag list); scope 3 unless --scope is given\n"
    "force    Cfi2DrvForceDCDIntoPrtObj: applies a configuration file to the printer\n"
    "         (its settings, its DEVMODE, the user's copy and \"DefDrvCfgData\"); the\n"
    "         model named (default: the printer's driver) must be the printer's\n"
    "support  EnumDrvCfgSupport: what the driver tells the tool about a model and a\n"
    "         printer (record version 3 unless --version is given)\n\n"
    "--scope  sum of 1 document settings, 2 installed configuration, 4 watermarks,\n"
    "         8 font files, 16 overlays, 32 forms, 256 form associations\n\n"
    "Exit 0 when the export answered 0; else the export's answer is printed\n"
    "(1 bad input or no match, 2 no printer, 3 not applied, 14 settings\n"
    "unreadable, 24 nothing produced) and the exit code is 1.\n";

using zq::cli::PrinterHandle;

std::optional<uint32_t> Number(zq::Options& opts, const char* name, uint32_t fallback, uint32_t maximum,
                               std::string& error) {
    const auto text = opts.Value(name);
    if (!text) return fallback;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text->c_str(), &end, 0);
    if (text->empty() || *end != '\0' || v == 0 || v > maximum) {
        error = std::string(name) + " takes a number from 1 to " + std::to_string(maximum) + ", not " + *text;
        return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

// The driver library and one of its exports.
struct Driver {
    HMODULE module = nullptr;
    ~Driver() {
        if (module != nullptr) FreeLibrary(module);
    }
    template <class F>
    F Export(const char* name) const {
        return reinterpret_cast<F>(GetProcAddress(module, name));
    }
};

int LoadDriver(Driver& d) {
    d.module = LoadLibraryA("drvui.dll");
    if (d.module == nullptr) return zq::Fail("config: cannot load drvui: " + zq::LastLoadError());
    return 0;
}

const char* Meaning(uint32_t result) {
    switch (result) {
        case 0: return "done";
        case 1: return "bad input, or the file is not for this printer's model";
        case 2: return "no such printer, or out of memory";
        case 3: return "the settings could not be applied";
        case 14: return "the printer's settings could not be read";
        case 24: return "nothing produced";
        default: return "unknown answer";
    }
}

int Answer(const char* what, uint32_t result) {
    if (result == 0) return 0;
    std::fprintf(stderr, "zq: config: %s answered %u: %s\n", what, result, Meaning(result));
    return 1;
}

int Export(zq::Options& opts) {
    const auto out = opts.Value("--out");
    std::string error;
    const auto scope = Number(opts, "--scope", zq::kScopeDocument | zq::kScopePrinter, zq::kScopeAll, error);
    if (!scope) return zq::UsageError("config", error);
    if (auto bad = opts.Unknown()) return zq::UsageError("config", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 2 || !out) return zq::UsageError("config", "export takes a printer and --out FILE");
    Driver d;
    if (int rc = LoadDriver(d)) return rc;
    const auto convert = d.Export<uint32_t (*)(zq::PrinterObject*)>("ConvertPrtIntoDCD");
    if (convert == nullptr) return zq::Fail("config: drvui lacks ConvertPrtIntoDCD");
    PrinterHandle printer;
    std::u16string wide = zq::store::FromUtf8(rest[1]);
    if (!OpenPrinterW(wide.data(), &printer.h, nullptr)) return zq::Fail("config: no printer " + rest[1]);
    auto record = std::make_unique<zq::PrivateDevmode>();
    if (zq::GetPrinterDevmode(printer.h, d.module, *record, {}, 2) != 1) {
        return zq::Fail("config: cannot read the settings of " + rest[1]);
    }
    auto object = std::make_unique<zq::PrinterObject>();
    std::memset(object.get(), 0, sizeof *object);
    object->size = sizeof *object;
    object->state = 1;
    object->record = record.get();
    object->recordSize = sizeof *record;
    object->scope = *scope;
    const std::string ansi = zq::WideToAnsi(wide);
    std::strncpy(object->printerName, ansi.c_str(), sizeof object->printerName - 1);
    const uint32_t result = convert(object.get());
    if (int rc = Answer("ConvertPrtIntoDCD", result)) return rc;
    std::ofstream file(*out, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(object->list), object->listLength);
    GlobalFree(object->list);
    if (!file) return zq::Fail("config: cannot write " + *out);
    std::printf("%u bytes of settings of %s written to %s\n", object->listLength, rest[1].c_str(), out->c_str());
    return 0;
}

int Force(zq::Options& opts) {
    const auto model = opts.Value("--model");
    const auto description = opts.Value("--description");
    std::string error;
    const auto scope = Number(opts, "--scope", zq::kScopeAll, zq::kScopeAll, error);
    if (!scope) return zq::UsageError("config", error);
    if (auto bad = opts.Unknown()) return zq::UsageError("config", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 3) return zq::UsageError("config", "force takes a printer and a file");
    std::ifstream in(rest[2], std::ios::binary);
    if (!in) return zq::Fail("config: cannot read " + rest[2]);
    const std::vector<uint8_t> list((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Driver d;
    if (int rc = LoadDriver(d)) return rc;
    const auto force = d.Export<uint32_t (*)(const zq::DrvCfgRequest*)>("Cfi2DrvForceDCDIntoPrtObj");
    if (force == nullptr) return zq::Fail("config: drvui lacks Cfi2DrvForceDCDIntoPrtObj");
    // The model defaults to the printer's driver, as the tool would find it.
    std::string modelName = model.value_or("");
    if (!model) {
        PrinterHandle printer;
        std::u16string wide = zq::store::FromUtf8(rest[1]);
        if (!OpenPrinterW(wide.data(), &printer.h, nullptr)) return zq::Fail("config: no printer " + rest[1]);
        const auto info = zq::cli::Fetch(
            [&](BYTE* b, DWORD n, DWORD* needed) { return GetPrinterW(printer.h, 2, b, n, needed); });
        if (!info) return zq::Fail("config: cannot read the printer " + rest[1]);
        const auto* p = reinterpret_cast<const PRINTER_INFO_2W*>(info->data());
        modelName = p->pDriverName != nullptr ? zq::WideToAnsi(p->pDriverName) : "";
    }
    const std::string printerName = zq::WideToAnsi(zq::store::FromUtf8(rest[1]));
    const std::string text = description.value_or("");
    zq::DrvCfgRequest request{};
    request.size = sizeof request;
    request.state = 1;
    request.printerName = printerName.c_str();
    request.modelName = modelName.c_str();
    request.scope = *scope;
    request.description = text.c_str();
    request.flags8 = zq::kDrvCfgFlags8;
    request.flags1 = zq::kDrvCfgFlags1;
    request.flags2 = zq::kDrvCfgFlags2;
    request.list = list.data();
    request.listLength = static_cast<uint32_t>(list.size());
    if (int rc = Answer("Cfi2DrvForceDCDIntoPrtObj", force(&request))) return rc;
    std::printf("settings of %s applied to %s\n", rest[2].c_str(), rest[1].c_str());
    return 0;
}

int Support(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    const auto model = opts.Value("--model");
    std::string error;
    const auto version = Number(opts, "--version", 3, 100, error);
    if (!version) return zq::UsageError("config", error);
    if (auto bad = opts.Unknown()) return zq::UsageError("config", "unknown option " + *bad);
    if (opts.Rest().size() != 1) return zq::UsageError("config", "support takes options only");
    Driver d;
    if (int rc = LoadDriver(d)) return rc;
    const auto enumerate = d.Export<uint32_t (*)(zq::DrvCfgSupport*)>("EnumDrvCfgSupport");
    if (enumerate == nullptr) return zq::Fail("config: drvui lacks EnumDrvCfgSupport");
    zq::DrvCfgSupport support{};
    support.version = *version;
    support.wantPrinterTest = printer ? 1 : 0;
    std::strncpy(support.printerName, zq::WideToAnsi(zq::store::FromUtf8(printer.value_or(""))).c_str(),
                 sizeof support.printerName - 1);
    std::strncpy(support.modelName, zq::WideToAnsi(zq::store::FromUtf8(model.value_or(""))).c_str(),
                 sizeof support.modelName - 1);
    if (int rc = Answer("EnumDrvCfgSupport", enumerate(&support))) return rc;
    std::printf("driver        %u %u %u %s %u %u\n", support.words[0], support.words[1], support.words[2],
                support.versionText, support.words2[0], support.words2[1]);
    if (*version >= 3) {
        std::printf("capabilities  0x%X 0x%X\n", support.capabilities, support.capabilities2);
        static const char* const kVendor[] = {"", "no model named", "Zelquor", "another maker"};
        std::printf("vendor        %u (%s)\n", support.vendorKind, support.vendorKind <= 3 ? kVendor[support.vendorKind] : "?");
    }
    if (*version >= 2 && printer) {
        std::printf("printer state 0x%X%s\n", support.printerState,
                    (support.printerState & 1) != 0 ? " (opens)" : " (does not open)");
    }
    return 0;
}

int Run(const zq::Args& args) {
    return zq::RunVerbs(args, "config", kUsage, "needs export, force or support",
                        {{"export", Export}, {"force", Force}, {"support", Support}});
}

const zq::Registration kRegistration{
    {"config", "driver configuration files through drvui's exports: export, force, support", kUsage, Run}};

}  // namespace
