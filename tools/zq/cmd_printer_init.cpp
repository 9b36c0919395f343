// zq printer init: loads a printer's settings as a device context does,
// which builds and stores them on first use, and tells what was written.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/loader.h"
#include "command.h"
#include "interface/ui_utils.h"
#include "settings/devmode.h"
#include "settings/devmode_ops.h"
#include "settings/printer_devmode.h"
#include "settings/tag_list.h"
#include "settings/tag_tables.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace zq::cli {
namespace {

struct Value {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Value&) const = default;
};

std::map<std::string, Value> PrinterValues(HANDLE printer) {
    std::map<std::string, Value> values;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameNeeded = 0, type = 0, dataNeeded = 0;
        std::vector<uint8_t> data(1 << 16);
        DWORD rc = EnumPrinterDataA(printer, i, name, sizeof name, &nameNeeded, &type, data.data(),
                                    static_cast<DWORD>(data.size()), &dataNeeded);
        if (rc == ERROR_MORE_DATA && dataNeeded > data.size()) {
            data.resize(dataNeeded);
            rc = EnumPrinterDataA(printer, i, name, sizeof name, &nameNeeded, &type, data.data(),
                                  static_cast<DWORD>(data.size()), &dataNeeded);
        }
        if (rc != ERROR_SUCCESS) break;
        data.resize(dataNeeded);
        values[name] = Value{type, std::move(data)};
    }
    return values;
}

// What a written value holds, in a few words.
std::string Describe(const std::string& name, const Value& v) {
    if (v.bytes.size() == kPrivateDevmodeSize && (name == "CurrentDevmode" || name == "CurrentDefaultDevMode")) {
        PrivateDevmode r{};
        std::memcpy(&r, v.bytes.data(), sizeof r);
        return IsValidPrivateDevmode(r) && IsValidCheckValue(r) ? "a valid record, check value right"
                                                               : "a record that is not valid";
    }
    if (name == "DefDrvCfgData") {
        TagListContext* list = nullptr;
        TagListCreate(&list);
        TagListAttach(&list, v.bytes.data(), v.bytes.size());
        size_t rows = 0, other = 0;
        uint32_t tag = 0;
        while (TagEnter(&list, &tag)) {
            const auto table = TopTagTable().rows;
            const auto row = std::find_if(table.begin(), table.end(), [&](const DvCfgRow& r) { return r.tag == tag; });
            (row != table.end() && (row->scope & 3) != 0 ? rows : other) += 1;
            TagEnd(&list);
        }
        const bool whole = list->readPosition == v.bytes.size();
        TagListDestroy(&list);
        return "a tag list of " + std::to_string(rows) + " document and printer rows" +
               (other != 0 ? ", " + std::to_string(other) + " others" : "") + (whole ? "" : ", damaged");
    }
    return {};
}

}  // namespace

int InitPrinter(const std::string& printerName) {
    HMODULE drvui = LoadLibraryA("drvui.dll");
    if (drvui == nullptr) return Fail("printer: cannot load drvui: " + LastLoadError());
    std::u16string wide = store::FromUtf8(printerName);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(wide.data(), &printer, nullptr)) {
        FreeLibrary(drvui);
        return Fail("printer: no printer " + printerName);
    }
    const auto before = PrinterValues(printer);
    auto record = std::make_unique<PrivateDevmode>();
    const bool loaded = GetPrinterDevmode(printer, drvui, *record, {}, 2) == 1;
    const auto after = PrinterValues(printer);
    ClosePrinter(printer);
    FreeLibrary(drvui);
    if (!loaded) return Fail("printer: cannot read the printer " + printerName);
    size_t written = 0;
    for (const auto& [name, value] : after) {
        const auto old = before.find(name);
        if (old != before.end() && old->second == value) continue;
        ++written;
        const std::string what = Describe(name, value);
        std::printf("wrote %-24s %6zu bytes%s%s\n", name.c_str(), value.bytes.size(), what.empty() ? "" : ": ",
                    what.c_str());
    }
    if (written == 0) std::printf("nothing written: the printer's settings were in place\n");
    return 0;
}

}  // namespace zq::cli
