// zq taglist: a printer's settings as a configuration tag list, written to
// a file, read back into the printer, and shown as a tree.
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
#include "base/text.h"
#include "command.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "settings/tag_list.h"
#include "settings/tag_tables.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq taglist export --printer NAME --out FILE [--scope N] [--profile]\n"
    "       zq taglist import --printer NAME FILE [--scope N]\n"
    "       zq taglist show FILE\n\n"
    "export  writes the printer's current settings of the scope as a tag list\n"
    "import  imports a tag list into the printer's current record and stores it\n"
    "show    the elements of a tag-list file as a tree\n\n"
    "--scope    sum of 1 document settings, 2 installed configuration, 4 watermarks,\n"
    "           8 font files, 16 overlays, 32 forms, 256 form associations\n"
    "           (export: 3, import: every scope)\n"
    "--profile  also exports the settings kept only in profiles\n";

std::optional<std::vector<uint8_t>> ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& name, std::span<const uint8_t> bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::optional<uint32_t> ScopeOption(zq::Options& opts, uint32_t fallback, std::string& error) {
    const auto text = opts.Value("--scope");
    if (!text) return fallback;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text->c_str(), &end, 0);
    if (text->empty() || *end != '\0' || v == 0 || v > zq::kScopeAll) {
        error = "--scope takes a number from 1 to 1023, not " + *text;
        return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

// An open printer with the driver library that stands for its model.
struct OpenedPrinter {
    HANDLE handle = nullptr;
    HMODULE drvui = nullptr;
    ~OpenedPrinter() {
        if (handle != nullptr) ClosePrinter(handle);
        if (drvui != nullptr) FreeLibrary(drvui);
    }
};

int Open(const std::string& name, OpenedPrinter& p) {
    p.drvui = LoadLibraryA("drvui.dll");
    if (p.drvui == nullptr) return zq::Fail("taglist: cannot load drvui: " + zq::LastLoadError());
    std::u16string wide = zq::store::FromUtf8(name);
    if (!OpenPrinterW(wide.data(), &p.handle, nullptr)) return zq::Fail("taglist: no printer " + name);
    return 0;
}

// Opens the printer and loads its current settings as a device context
// would.
int OpenWithSettings(const std::string& name, OpenedPrinter& p, zq::PrivateDevmode& record) {
    if (int rc = Open(name, p)) return rc;
    if (zq::GetPrinterDevmode(p.handle, p.drvui, record, {}, 2) != 1) {
        return zq::Fail("taglist: cannot read the settings of " + name);
    }
    return 0;
}

zq::DvCfgContext ContextFor(const std::string& name, const OpenedPrinter& p, uint32_t scope,
                            zq::PrivateDevmode& record, const zq::ModelData& model) {
    zq::DvCfgContext context;
    context.scope = scope;
    context.printerName = zq::WideToAnsi(zq::store::FromUtf8(name));
    context.printer = p.handle;
    context.record = &record;
    context.model = &model;
    return context;
}

struct ScopedList {
    zq::TagListContext* c = nullptr;
    ScopedList() { zq::TagListCreate(&c); }
    ~ScopedList() { zq::TagListDestroy(&c); }
};

int Export(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    const auto out = opts.Value("--out");
    const bool profile = opts.Flag("--profile");
    std::string error;
    const auto scope = ScopeOption(opts, zq::kScopeDocument | zq::kScopePrinter, error);
    if (!scope) return zq::UsageError("taglist", error);
    if (auto bad = opts.Unknown()) return zq::UsageError("taglist", "unknown option " + *bad);
    if (opts.Rest().size() != 1) return zq::UsageError("taglist", "unexpected argument " + opts.Rest()[1]);
    if (!printer || !out) return zq::UsageError("taglist", "export needs --printer NAME and --out FILE");
    OpenedPrinter p;
    auto record = std::make_unique<zq::PrivateDevmode>();
    if (int rc = OpenWithSettings(*printer, p, *record)) return rc;
    const zq::ModuleModelData model(p.drvui);
    zq::DvCfgContext context = ContextFor(*printer, p, *scope, *record, model);
    context.profile = profile;
    ScopedList list;
    const int rows = zq::DevmodeToTagList(context, &list.c);
    if (rows < 0) return zq::Fail("taglist: the list could not be written (out of memory)");
    if (!WriteFile(*out, zq::TagListBytes(list.c))) return zq::Fail("taglist: cannot write " + *out);
    std::printf("%d settings, %zu bytes written to %s\n", rows, zq::TagListBytes(list.c).size(), out->c_str());
    return 0;
}

int Import(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    std::string error;
    const auto scope = ScopeOption(opts, zq::kScopeAll, error);
    if (!scope) return zq::UsageError("taglist", error);
    if (auto bad = opts.Unknown()) return zq::UsageError("taglist", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 2) return zq::UsageError("taglist", "import takes one file");
    if (!printer) return zq::UsageError("taglist", "import needs --printer NAME");
    const auto bytes = ReadFile(rest[1]);
    if (!bytes) return zq::Fail("taglist: cannot read " + rest[1]);
    OpenedPrinter p;
    auto record = std::make_unique<zq::PrivateDevmode>();
    if (int rc = OpenWithSettings(*printer, p, *record)) return rc;
    const zq::ModuleModelData model(p.drvui);
    zq::DvCfgContext context = ContextFor(*printer, p, *scope, *record, model);
    context.updatePrinterData = true;
    ScopedList list;
    zq::TagListAttach(&list.c, bytes->data(), bytes->size());
    const int imported = zq::ImportTagList(context, &list.c);
    if (imported < 0) return zq::Fail("taglist: the import failed");
    if (imported == 0) {
        std::printf("nothing imported: %s holds no settings of scope %u\n", rest[1].c_str(), *scope);
        return 1;
    }
    zq::SetDevmodeCrc(*record);
    if (SetPrinterDataA(p.handle, const_cast<LPSTR>("CurrentDevmode"), REG_BINARY,
                        reinterpret_cast<LPBYTE>(record.get()), sizeof *record) != 0) {
        return zq::Fail("taglist: cannot store the settings of " + *printer);
    }
    std::printf("%d settings imported into %s\n", imported, printer->c_str());
    return 0;
}

// True when the bytes are a whole sequence of sound elements.
bool AllElements(const uint8_t* data, size_t length) {
    if (length == 0) return false;
    size_t at = 0;
    while (at < length) {
        if (length - at < 8) return false;
        uint32_t size = 0;
        std::memcpy(&size, data + at + 4, 4);
        if (size < 8 || size > length - at) return false;
        at += size;
    }
    return true;
}

void ShowLevel(zq::TagListContext** list, int depth) {
    uint32_t tag = 0;
    while (zq::TagEnter(list, &tag)) {
        const uint8_t* data = nullptr;
        size_t length = 0;
        zq::TagData(list, &data, &length);
        std::printf("%*s%u", depth * 2, "", tag);
        if (AllElements(data, length) && depth < 16) {
            std::printf("\n");
            ShowLevel(list, depth + 1);
        } else if (length == 4) {
            uint32_t v = 0;
            std::memcpy(&v, data, 4);
            std::printf(" = %u (0x%X)\n", v, v);
        } else {
            std::printf(" [%zu bytes]", length);
            bool printable = length > 0;
            for (size_t i = 0; i < length; ++i) printable = printable && data[i] >= 32 && data[i] < 127;
            if (printable) std::printf(" \"%.*s\"", static_cast<int>(length), reinterpret_cast<const char*>(data));
            std::printf("\n");
        }
        zq::TagEnd(list);
    }
}

int Show(zq::Options& opts) {
    if (auto bad = opts.Unknown()) return zq::UsageError("taglist", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 2) return zq::UsageError("taglist", "show takes one file");
    const auto bytes = ReadFile(rest[1]);
    if (!bytes) return zq::Fail("taglist: cannot read " + rest[1]);
    ScopedList list;
    zq::TagListAttach(&list.c, bytes->data(), bytes->size());
    ShowLevel(&list.c, 0);
    if (list.c->readPosition != bytes->size()) {
        std::printf("malformed element at byte %zu of %zu: the rest is not read\n", list.c->readPosition,
                    bytes->size());
        return 1;
    }
    return 0;
}

int Run(const zq::Args& args) {
    return zq::RunVerbs(args, "taglist", kUsage, "needs export, import or show",
                        {{"export", Export}, {"import", Import}, {"show", Show}});
}

const zq::Registration kRegistration{
    {"taglist", "settings as configuration tag lists: export, import, show", kUsage, Run}};

}  // namespace
