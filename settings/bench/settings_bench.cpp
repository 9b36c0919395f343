// Figures of the configuration tag lists, each with its peer measured in
// the same run: loading a printer's valid record against one read of the
// stored record, importing a printer's document and printer settings
// against a bare walk of the same list with the primitives, and an import
// of a list twice as long against the single one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/loader.h"
#include "base/paths.h"
#include "base/profile.h"
#include "base/root.h"
#include "settings/bench/bench_timing.h"
#include "interface/ui_utils.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "settings/tag_list.h"
#include "settings/tag_tables.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/temp_root.h"

namespace {

using zq::bench::Report;
using zq::bench::Time;

volatile size_t sink = 0;

// Enters every element, reading the data of those that hold no element.
void BareWalk(zq::TagListContext** list) {
    uint32_t tag = 0;
    while (zq::TagEnter(list, &tag)) {
        uint32_t child = 0;
        if (zq::TagEnter(list, &child)) {
            zq::TagEnd(list);
            zq::TagListRewind(list);
            BareWalk(list);
        } else {
            uint32_t v = 0;
            sink = sink + zq::TagRead(list, &v, sizeof v) + v;
        }
        zq::TagEnd(list);
    }
}

}  // namespace

int main() {
    const std::filesystem::path root = zq::testing::MakeTempDirectory("zq-settings-bench");
    zq::SetSystemRoot(root);
    // The driver is installed as the spooler keeps it: drvui in the driver
    // directory as the configuration file, so that AddPrinter stores the
    // driver's default and a load reads what a real printer holds (without
    // it every printer read would ask a configuration file that is not there).
    HMODULE built = LoadLibraryA("drvui.dll");
    char builtPath[1024] = {};
    if (built == nullptr || GetModuleFileNameA(built, builtPath, sizeof builtPath) == 0) {
        std::fprintf(stderr, "settings_bench: cannot find the built drvui\n");
        return 1;
    }
    FreeLibrary(built);
    const auto driverDir = zq::MapPath(u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3");
    std::error_code ec;
    if (driverDir) {
        std::filesystem::create_directories(*driverDir, ec);
        std::filesystem::copy_file(builtPath, *driverDir / "drvui.so", std::filesystem::copy_options::overwrite_existing, ec);
    }
    if (!driverDir || ec) {
        std::fprintf(stderr, "settings_bench: cannot install drvui in the driver directory\n");
        return 1;
    }
    WritePrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "Zelquor Tarn 45 XL", "pclrend.ini");
    DRIVER_INFO_2W driver{3, const_cast<LPWSTR>(u"Zelquor Tarn 45 PCL XL"), nullptr, const_cast<LPWSTR>(u"pclrend.dll"),
                          const_cast<LPWSTR>(u"drvui.dll"), const_cast<LPWSTR>(u"drvui.dll")};
    AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&driver));
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(u"Bench");
    info.pDriverName = const_cast<LPWSTR>(u"Zelquor Tarn 45 PCL XL");
    info.pPortName = const_cast<LPWSTR>(u"LPT1:");
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    HMODULE drvui = LoadLibraryA("C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\drvui.dll");
    if (printer == nullptr || drvui == nullptr) {
        std::fprintf(stderr, "settings_bench: cannot add the printer or load drvui\n");
        return 1;
    }
    auto record = std::make_unique<zq::PrivateDevmode>();
    zq::DevmodeSources sources;
    if (zq::LoadOrRebuildPrinterDevmode(printer, drvui, *record, sources) != 1) {
        std::fprintf(stderr, "settings_bench: the printer's record cannot be built\n");
        return 1;
    }

    // 1. A valid stored record loaded against one read of it.
    std::vector<uint8_t> bytes(zq::kPrivateDevmodeSize);
    const double load = Time(200, [&] { sink = sink + zq::LoadOrRebuildPrinterDevmode(printer, drvui, *record, sources); });
    const double read = Time(200, [&] {
        DWORD type = 0, needed = 0;
        GetPrinterDataW(printer, const_cast<LPWSTR>(u"CurrentDevmode"), &type, bytes.data(),
                        static_cast<DWORD>(bytes.size()), &needed);
        sink = sink + needed;
    });
    std::printf("printer record: %zu bytes\n", bytes.size());
    if (std::getenv("ZQ_BENCH_PARTS") != nullptr) {
        auto scratch = std::make_unique<zq::PrivateDevmode>();
        const zq::ModuleModelData parts(drvui);
        std::vector<uint8_t> info(4096);
        std::printf("  GetPrinterW level 2 %.1f us, RegOpenKeyExW %.1f us\n",
                    1e6 * Time(100, [&] { DWORD n = 0; GetPrinterW(printer, 2, info.data(), 4096, &n); }),
                    1e6 * Time(100, [&] { HKEY k = nullptr; if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Zelquor\\Printers\\Bench", 0, KEY_READ, &k) == 0) RegCloseKey(k); }));
        std::printf("  pclrend.ini read %.1f us, model strings %.1f us\n",
                    1e6 * Time(100, [&] { char m[33]; sink = sink + GetPrivateProfileStringA("Zelquor Tarn 45 PCL XL", "Model", "x", m, sizeof m, "pclrend.ini"); }),
                    1e6 * Time(100, [&] { sink = sink + static_cast<size_t>(zq::FindModelIndexByName(parts, "Zelquor Tarn 45 PCL XL")); }));
        std::printf("  model lookup %.1f us, configuration file %.1f us\n",
                    1e6 * Time(100, [&] { sink = sink + static_cast<size_t>(zq::FindModelIndex(drvui, "Zelquor Tarn 45 PCL XL")); }),
                    1e6 * Time(100, [&] { sources.ApplyDcdConfigFile(*scratch, printer, parts); }));
        std::printf("  default %.1f us, user copy %.1f us, tag list %.1f us\n",
                    1e6 * Time(100, [&] { zq::BuildPrinterDefaultDevmode(drvui, printer, *scratch); }),
                    1e6 * Time(100, [&] { sink = sink + sources.ReadUserDevmode(printer, nullptr)->size(); }),
                    1e6 * Time(100, [&] { sources.LoadDevmodeTagList(*scratch, printer, u"Bench", nullptr, true, parts); }));
    }
    Report("LoadOrRebuildPrinterDevmode (valid)", load, read, "GetPrinterDataW, 1256 bytes", 20);

    // 2. The printer's scope-3 list imported against a bare walk.
    const zq::ModuleModelData model(drvui);
    zq::DvCfgContext out;
    out.scope = zq::kScopeDocument | zq::kScopePrinter;
    out.record = record.get();
    out.model = &model;
    zq::TagListContext* writer = nullptr;
    zq::TagListCreate(&writer);
    zq::DevmodeToTagList(out, &writer);
    const auto span = zq::TagListBytes(writer);
    const std::vector<uint8_t> list(span.begin(), span.end());
    zq::TagListDestroy(&writer);
    std::vector<uint8_t> twice = list;
    twice.insert(twice.end(), list.begin(), list.end());

    auto target = std::make_unique<zq::PrivateDevmode>(*record);
    auto import = [&](const std::vector<uint8_t>& l) {
        zq::TagListContext* reader = nullptr;
        zq::TagListCreate(&reader);
        zq::TagListAttach(&reader, l.data(), l.size());
        zq::DvCfgContext in;
        in.scope = zq::kScopeDocument | zq::kScopePrinter;
        in.record = target.get();
        in.model = &model;
        sink = sink + static_cast<size_t>(zq::ImportTagList(in, &reader));
        zq::TagListDestroy(&reader);
    };
    const double imported = Time(2000, [&] { import(list); });
    const double walked = Time(2000, [&] {
        zq::TagListContext* reader = nullptr;
        zq::TagListCreate(&reader);
        zq::TagListAttach(&reader, list.data(), list.size());
        BareWalk(&reader);
        zq::TagListDestroy(&reader);
    });
    const double importedTwice = Time(2000, [&] { import(twice); });
    std::printf("scope-3 list: %zu bytes\n", list.size());
    Report("import of the printer's list", imported, walked, "bare walk of the list", 10);
    Report("import of a list twice as long", importedTwice, imported, "import of the list", 2.2);

    ClosePrinter(printer);
    FreeLibrary(drvui);
    std::filesystem::remove_all(root);
    return 0;
}
