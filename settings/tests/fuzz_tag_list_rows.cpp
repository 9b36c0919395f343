// Arbitrary bytes as the entries of one list row (user-defined forms,
// spooler forms, associations, watermarks, overlays, font files, installed
// sources and options), imported into a printer: the import must end, and
// what it stores must stay within the lists' bounds and the model's limits.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/root.h"
#include "common/res_ids.h"
#include "settings/paper_resolution.h"
#include "settings/pd_list.h"
#include "settings/tag_tables.h"
#include "settings/user_forms.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "testing/temp_root.h"

namespace {

struct Context {
    zq::TagListContext* c = nullptr;
    Context() { zq::TagListCreate(&c); }
    ~Context() { zq::TagListDestroy(&c); }
};

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A model with custom-paper limits, sources with capacities and media
// slots, the automatic source's value table and installable options.
zq::MemoryModelData MakeModel() {
    zq::MemoryModelData m;
    std::vector<uint8_t> b;
    Put16(b, 0, 10200), Put16(b, 2, 4800), Put16(b, 4, 16800), Put16(b, 6, 7200);
    m.SetResource(zq::res::kPaperLimits, 1, b);
    b.assign(8 + 3 * 24, 0);
    Put16(b, 0, 3);
    const uint16_t sources[3][3] = {{0x1, 7, 0}, {0x2, 1, 0}, {0x4, 3, 1}};
    for (size_t i = 0; i < 3; ++i) {
        Put16(b, 8 + 24 * i, sources[i][0]);
        Put16(b, 10 + 24 * i, sources[i][1]);
        Put16(b, 14 + 24 * i, sources[i][2]);
    }
    b[8 + 48 + 12] = 2;  // tray 3: field 2, kind 1
    b[8 + 48 + 13] = 1;
    m.SetResource(zq::res::kSourceTable, 1, b);
    b.assign(24, 0);
    Put16(b, 0, 2), Put16(b, 8, 1), Put16(b, 10, 250), Put16(b, 16, 2), Put16(b, 18, 500);
    m.SetResource(zq::res::kCapacityList, 1, b);
    b.assign(24, 0);
    Put16(b, 0, 2), Put16(b, 8, 7), Put16(b, 10, 0), Put16(b, 12, 2), Put16(b, 16, 1), Put16(b, 18, 1), Put16(b, 20, 2);
    m.SetResource(zq::res::kSlotTable, 1, b);
    b.assign(20, 0);
    Put16(b, 0, 2), Put16(b, 8, 0), Put16(b, 10, 1), Put16(b, 14, 1), Put16(b, 16, 2);
    m.SetResource(zq::res::kSlotValues, 2, b);
    b.assign(24, 0);
    Put16(b, 0, 2), Put16(b, 8, 1), Put16(b, 12, 0x1), Put16(b, 16, 6), Put16(b, 20, 0x20);
    m.SetResource(zq::res::kInstallables, 1, b);
    return m;
}

struct Printer {
    std::filesystem::path root;
    HANDLE handle = nullptr;
    zq::MemoryModelData model = MakeModel();
    Printer() {
        // In memory where the host offers it: every input writes the store.
        root = zq::testing::ProcessTempDirectory("zqfuzzrows");
        zq::SetSystemRoot(root);
        // Every input rewrites list files that need not survive a crash.
        zq::SetDurableWrites(false);
        zq::store::SetRegistryUser(u"fuzz");
        std::u16string driver = u"Zelquor Fuzz", path = u"pclrend.dll", data = u"drvui.dll";
        DRIVER_INFO_2W d{};
        d.cVersion = 3;
        d.pName = driver.data();
        d.pDriverPath = path.data();
        d.pDataFile = data.data();
        d.pConfigFile = data.data();
        if (!AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&d))) std::abort();
        std::u16string name = u"Fuzz", port = u"LPT1:", processor = u"WinPrint", datatype = u"RAW";
        PRINTER_INFO_2W info{};
        info.pPrinterName = name.data();
        info.pDriverName = driver.data();
        info.pPortName = port.data();
        info.pPrintProcessor = processor.data();
        info.pDatatype = datatype.data();
        // A record of its own, so that reading the printer never goes looking
        // for the driver's default (its configuration file is not installed).
        DEVMODEW devmode{};
        devmode.dmSize = sizeof devmode;
        devmode.dmSpecVersion = 0x0401;
        info.pDevMode = &devmode;
        handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        if (handle == nullptr) std::abort();
    }
    ~Printer() {
        ClosePrinter(handle);
        zq::SetSystemRoot({});
    }
    // Each input starts from a printer without lists or spooler forms. Only
    // the spooler-forms row adds forms, so only after it are they looked for.
    bool formsAdded = true;
    std::vector<uint8_t> userForms;
    DWORD userFormsType = 0;
    void Clear() {
        // One read lists the printer's values; only the lists an input left
        // are deleted (each deletion is a write of the store).
        DWORD needed = 0, count = 0;
        LPCWSTR key = reinterpret_cast<LPCWSTR>(u"PrinterDriverData");
        EnumPrinterDataExW(handle, key, nullptr, 0, &needed, &count);
        std::vector<uint8_t> values(needed);
        if (needed != 0 && EnumPrinterDataExW(handle, key, values.data(), needed, &needed, &count) == ERROR_SUCCESS) {
            std::vector<std::u16string> found;
            for (DWORD i = 0; i < count; ++i) {
                const auto* v = reinterpret_cast<const PRINTER_ENUM_VALUESW*>(values.data()) + i;
                found.emplace_back(reinterpret_cast<const char16_t*>(v->pValueName));
            }
            for (const char* value : {zq::kFormAssocListValue, "Watermark", "Macro", "PrinterConfig"}) {
                const std::string_view name(value);
                const bool left = std::any_of(found.begin(), found.end(), [&](const std::u16string& f) {
                    return f.size() == name.size() && std::equal(f.begin(), f.end(), name.begin(), [](char16_t a, char b) {
                               return std::tolower(static_cast<unsigned char>(a < 128 ? a : 0)) ==
                                      std::tolower(static_cast<unsigned char>(b));
                           });
                });
                if (left) DeletePrinterDataA(handle, const_cast<LPSTR>(value));
            }
        }
        RestoreUserForms();
        if (!formsAdded) return;
        formsAdded = false;
        needed = count = 0;
        EnumFormsW(handle, 1, nullptr, 0, &needed, &count);
        std::vector<uint8_t> forms(needed);
        if (needed == 0 || !EnumFormsW(handle, 1, forms.data(), needed, &needed, &count)) return;
        std::vector<std::u16string> names;
        for (DWORD i = 0; i < count; ++i) {
            const auto* f = reinterpret_cast<const FORM_INFO_1W*>(forms.data()) + i;
            if (f->Flags == FORM_USER) names.emplace_back(reinterpret_cast<const char16_t*>(f->pName));
        }
        for (auto& n : names) DeleteFormW(handle, n.data());
    }
    // A known user form for the entries to name. It is added once (within
    // an input, so that its code counts as covered) and its stored bytes are
    // put back before every later input: the same start, without adding it
    // again each time.
    void RestoreUserForms() {
        LPSTR value = const_cast<LPSTR>(zq::kUserFormListValue);
        if (!userForms.empty()) {
            // Put back only when an input changed it: a read costs less than a write.
            std::vector<uint8_t> now(userForms.size() + 1);
            DWORD type = 0, size = 0;
            if (GetPrinterDataA(handle, value, &type, now.data(), static_cast<DWORD>(now.size()), &size) ==
                    ERROR_SUCCESS &&
                type == userFormsType && size == userForms.size() &&
                std::equal(userForms.begin(), userForms.end(), now.begin())) {
                return;
            }
            if (SetPrinterDataA(handle, value, userFormsType, userForms.data(), static_cast<DWORD>(userForms.size())) !=
                ERROR_SUCCESS) {
                std::abort();
            }
            return;
        }
        DeletePrinterDataA(handle, value);
        const std::vector<uint8_t> block(32, 0);
        if (!zq::UserFormAdd("Fuzz", 512, "Card", {0, 0, 8000, 9000, block})) std::abort();
        DWORD needed = 0;
        GetPrinterDataA(handle, value, &userFormsType, nullptr, 0, &needed);
        userForms.resize(needed);
        if (needed == 0 ||
            GetPrinterDataA(handle, value, &userFormsType, userForms.data(), needed, &needed) != ERROR_SUCCESS) {
            std::abort();
        }
    }
};

std::vector<uint8_t> Element(uint32_t tag, const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    Put32(out, tag);
    Put32(out, static_cast<uint32_t>(8 + size));
    out.insert(out.end(), data, data + size);
    return out;
}

struct Row {
    uint32_t tag;
    uint32_t inner;  // 0: the entries are the row's own children
    uint32_t scope;
};
const Row kRows[] = {
    {9, 65536, zq::kScopeForms},   {9, 131072, zq::kScopeForms}, {24, 0, zq::kScopeAssociations},
    {288, 0, zq::kScopeWatermarks}, {131073, 0, zq::kScopeOverlays}, {131585, 0, zq::kScopeFontFiles},
    {256, 0, zq::kScopePrinter},    {257, 0, zq::kScopePrinter},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Printer printer;
    if (size < 1) return 0;
    const Row& row = kRows[data[0] % std::size(kRows)];
    ++data, --size;
    printer.Clear();
    printer.formsAdded = row.scope == zq::kScopeForms;

    std::vector<uint8_t> list;
    if (row.inner != 0) {
        const auto inner = Element(row.inner, data, size);
        list = Element(row.tag, inner.data(), inner.size());
    } else {
        list = Element(row.tag, data, size);
    }
    zq::PrivateDevmode record{};
    record.model.paperLimitsId = 0;
    record.slotSourceCodes[0] = 1;
    record.slotCodes[0] = 2;
    zq::DvCfgContext ctx;
    ctx.scope = row.scope;
    ctx.record = &record;
    ctx.printerName = "Fuzz";
    ctx.printer = printer.handle;
    ctx.model = &printer.model;
    ctx.updatePrinterData = true;
    ctx.codePage = 1252;
    Context in;
    zq::TagListAttach(&in.c, list.data(), list.size());
    zq::ImportTagList(ctx, &in.c);

    // Bounded lists, and user forms within the model's limits.
    void *ids = nullptr, *names = nullptr, *sizes = nullptr;
    const int forms = zq::UserFormEnumerate("Fuzz", &ids, &names, &sizes);
    if (forms > 8) __builtin_trap();
    for (int i = 0; i < forms && ids != nullptr; ++i) {
        const uint16_t id = static_cast<const uint16_t*>(ids)[i];
        uint16_t w[4] = {};
        zq::UserFormGetRequest q;
        for (int k = 0; k < 4; ++k) q.words[k] = &w[k];
        if (id == 512 || zq::UserFormGet("Fuzz", id, q) != 1) continue;
        if (w[2] < 4800 || w[2] > 10200 || w[3] < 7200 || w[3] > 16800) __builtin_trap();
    }
    for (void* b : {ids, names, sizes}) {
        if (b != nullptr) zq::FreeEnumerationBlock(b);
    }
    ids = names = nullptr;
    if (zq::FormAssocEnumerate("Fuzz", &ids, &names) > 32) __builtin_trap();
    for (void* b : {ids, names}) {
        if (b != nullptr) zq::FreeEnumerationBlock(b);
    }
    uint8_t config[40] = {};
    DWORD type = 0, needed = 0;
    if (GetPrinterDataA(printer.handle, const_cast<LPSTR>("PrinterConfig"), &type, config, sizeof config, &needed) ==
            ERROR_SUCCESS &&
        needed != 32) {
        __builtin_trap();
    }
    return 0;
}
