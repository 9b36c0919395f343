// zq papers: every paper a printer offers, by code and name: the model's
// papers, the user-defined forms, the form associations and the spooler
// forms that fit the model.
#include <cstdio>
#include <memory>
#include <string>

#include "base/loader.h"
#include "base/text.h"
#include "command.h"
#include "settings/module_model_data.h"
#include "settings/paper_resolution.h"
#include "settings/printer_devmode.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq papers PRINTER\n\n"
    "Lists the papers the printer offers, one a line: code and name. Codes 1-262\n"
    "are the model's papers, 512-519 user-defined forms, 640-671 form\n"
    "associations, 896 and up the spooler forms that fit the model.\n";

// The tag import looks papers up among this many.
constexpr size_t kPaperCapacity = 64;

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    if (auto bad = opts.Unknown()) return zq::UsageError("papers", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 1) return zq::UsageError("papers", "takes one printer name");
    HMODULE drvui = LoadLibraryA("drvui.dll");
    if (drvui == nullptr) return zq::Fail("papers: cannot load drvui: " + zq::LastLoadError());
    std::u16string wide = zq::store::FromUtf8(rest[0]);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(wide.data(), &printer, nullptr)) {
        FreeLibrary(drvui);
        return zq::Fail("papers: no printer " + rest[0]);
    }
    auto record = std::make_unique<zq::PrivateDevmode>();
    int rc = 0;
    if (zq::GetPrinterDevmode(printer, drvui, *record, {}, 2) != 1) {
        rc = zq::Fail("papers: cannot read the settings of " + rest[0]);
    } else {
        const zq::ModuleModelData model(drvui);
        const std::string name = zq::WideToAnsi(wide);
        for (const auto& p : zq::EnumeratePrinterPapers(name.c_str(), printer, model, *record, kPaperCapacity)) {
            std::printf("%5u  %s\n", p.code, p.name.c_str());
        }
    }
    ClosePrinter(printer);
    FreeLibrary(drvui);
    return rc;
}

const zq::Registration kRegistration{{"papers", "the papers a printer offers, by code and name", kUsage, Run}};

}  // namespace
