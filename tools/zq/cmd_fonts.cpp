// zq fonts: installed soft fonts and cartridges, the device-font summary a
// job gets, and the summary cache file.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/loader.h"
#include "gdi/dc.h"
#include "gdi/engine.h"
#include "gdi/font.h"
#include "base/paths.h"
#include "base/text.h"
#include "command.h"
#include "settings/devmode_ops.h"
#include "settings/font_lists.h"
#include "settings/font_summary.h"
#include "settings/font_summary_cache.h"
#include "settings/module_model_data.h"
#include "settings/pd_list.h"
#include "settings/printer_devmode.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq fonts list PRINTER\n"
    "       zq fonts install PRINTER FILE [--cartridge] [--download FILE] [--value N]\n"
    "       zq fonts remove PRINTER FILE [--cartridge | --soft]\n"
    "       zq fonts summary PRINTER [--devmode FILE] [--json]\n"
    "       zq fonts cache PRINTER\n"
    "       zq fonts faces PRINTER [--devmode FILE] [--json]\n\n"
    "FILE is a Windows path on the system root (C:\\fonts\\a.pfm) or a host path\n"
    "below it. install records a soft font's metrics file (or with --cartridge a\n"
    "cartridge file) in the printer's list file, with the download file and value\n"
    "given; remove deletes it from both lists unless one is named. Either drops the\n"
    "printer's font-summary cache, as the driver does when the fonts change.\n"
    "summary builds the summary for the printer's current settings (or a 1256-byte\n"
    "record from --devmode): one line per font with face, source, kind, character\n"
    "set, scalable, weight, sizes, symbol set and memory; --json adds each font's\n"
    "resource id, em and the width of every character it prints. cache shows the cache file:\n"
    "header, strings and the key of each entry.\n"
    "faces lists the device faces the graphics engine gets from the driver for the\n"
    "printer's current settings (or a 1256-byte record from --devmode): family with\n"
    "its symbol-set suffix, character set, pitch, weight, em, ascender, descender,\n"
    "average width and number of kerning pairs.\n";

struct Printer {
    HANDLE h = nullptr;
    ~Printer() {
        if (h != nullptr) ClosePrinter(h);
    }
};

bool Open(const std::string& name, Printer& p) {
    std::u16string n = zq::store::FromUtf8(name);
    return OpenPrinterW(n.data(), &p.h, nullptr) != FALSE;
}

// A Windows path for FILE, which may be a host path below the root.
std::optional<std::string> WindowsPath(const std::string& file) {
    if (file.size() > 2 && file[1] == ':') return file;
    std::error_code ec;
    const auto abs = std::filesystem::absolute(file, ec);
    if (ec) return std::nullopt;
    const auto w = zq::ToWindowsPath(abs);
    if (!w) return std::nullopt;
    return zq::WideToAnsi(*w);
}

std::string Texts(const void* block, size_t index) {
    const char* p = static_cast<const char*>(block);
    for (size_t i = 0; i < index; ++i) p += std::strlen(p) + 1;
    return p;
}

int List(const std::string& printer) {
    Printer p;
    if (!Open(printer, p)) return zq::Fail("fonts: no printer " + printer);
    void *kinds = nullptr, *paths = nullptr, *seconds = nullptr, *values = nullptr;
    const int n = zq::FontListEnumerate(printer.c_str(), {&kinds, &paths, &seconds, &values}, p.h);
    if (n == 0) std::printf("no fonts installed\n");
    for (int i = 0; i < n; ++i) {
        const uint16_t kind = static_cast<const uint16_t*>(kinds)[2 * i];
        std::printf("%s\t%s\t%s\t%u\n", kind == 2 ? "cartridge" : "soft", Texts(paths, size_t(i)).c_str(),
                    Texts(seconds, size_t(i)).c_str(), static_cast<const uint16_t*>(values)[2 * i]);
    }
    for (void* b : {kinds, paths, seconds, values}) zq::FreeEnumerationBlock(b);
    return 0;
}

void DropCache(const std::string& printer) { zq::DeleteFontSummaryFile(zq::store::FromUtf8(printer).c_str()); }

int Install(const std::string& printer, const std::string& file, bool cartridge, const std::optional<std::string>& dl,
            int value) {
    Printer p;
    if (!Open(printer, p)) return zq::Fail("fonts: no printer " + printer);
    const auto path = WindowsPath(file);
    if (!path) return zq::Fail("fonts: " + file + " is not below the system root");
    const auto host = zq::MapPath(zq::AnsiToWide(*path));
    if (!host || !std::filesystem::is_regular_file(*host)) return zq::Fail("fonts: cannot read " + file);
    if (std::filesystem::file_size(*host) > 65000) {
        return zq::Fail("fonts: " + file + " is too large for a list record (at most 65000 bytes)");
    }
    const BOOL ok = cartridge ? zq::PcmAddEntry(printer.c_str(), path->c_str(), uint16_t(value))
                              : zq::SoftFontAddEntry(printer.c_str(), path->c_str(), dl ? dl->c_str() : nullptr,
                                                     uint16_t(value));
    if (!ok) return zq::Fail("fonts: cannot record " + file + " for " + printer);
    DropCache(printer);
    return 0;
}

int Remove(const std::string& printer, const std::string& file, uint16_t kind) {
    Printer p;
    if (!Open(printer, p)) return zq::Fail("fonts: no printer " + printer);
    const auto path = WindowsPath(file).value_or(file);
    std::vector<char> text(path.begin(), path.end());
    text.push_back(0);
    zq::FontRequest r;
    r.operation = 2;
    r.kind = &kind;
    r.path = text.data();
    zq::FontFeedbackRequest(printer.c_str(), r, p.h);
    DropCache(printer);
    return 0;
}

HMODULE LoadDriver() { return LoadLibraryA("drvui.dll"); }

const char* Source(const zq::FontSummaryEntry& e) {
    if (e.resourceId != 0xFFFF) return "resident";
    if (e.listId == 0xFFFF) return "file";
    return e.strings[5] != zq::kEmptySlot ? "soft" : "cartridge";
}

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | b[at + 1] << 8) : 0;
}

// Each character code a font prints with its width, from the width table in
// pool 2: through the character map for a Unicode font (character set 1),
// by byte code for any other; nothing for a fixed-pitch font.
std::vector<std::pair<unsigned, unsigned>> Widths(std::span<const uint8_t> block, const zq::FontSummaryEntry& e) {
    std::vector<std::pair<unsigned, unsigned>> out;
    if ((e.pitchAndFamily & 1) == 0 || e.widths == zq::kEmptySlot) return out;
    const size_t pool2 = sizeof(zq::FontSummaryHeader) + zq::SummaryEntries(block).size() * sizeof(zq::FontSummaryEntry) +
                         (block.size() >= 12 ? (block[8] | block[9] << 8 | block[10] << 16 | size_t(block[11]) << 24) : 0);
    const size_t widths = pool2 + e.widths;
    auto width = [&](unsigned glyph) -> std::optional<unsigned> {
        if (glyph >= e.word32 || widths + 2 * glyph + 2 > block.size()) return std::nullopt;
        return U16(block, widths + 2 * glyph);
    };
    if (e.charSet != 1) {
        for (unsigned code = 32; code < e.word32; ++code) {
            if (const auto w = width(code); w && *w != 0) out.push_back({code, *w});
        }
        return out;
    }
    if (e.charMap == zq::kEmptySlot) return out;
    const size_t map = pool2 + e.charMap;
    const size_t s = U16(block, map + 18);
    if (map + 28 + 3 * s > block.size()) return out;
    for (size_t i = 0; 2 * i < s; ++i) {
        const unsigned end = U16(block, map + 26 + 2 * i), start = U16(block, map + 28 + s + 2 * i);
        const unsigned delta = U16(block, map + 28 + 2 * s + 2 * i);
        if (start == 0xFFFF) break;
        for (unsigned c = start; c <= end; ++c) {
            if (const auto w = width((c + delta) & 0xFFFF)) out.push_back({c, *w});
        }
    }
    return out;
}

int Summary(const std::string& printer, const std::optional<std::string>& devmodeFile, bool json) {
    Printer p;
    if (!Open(printer, p)) return zq::Fail("fonts: no printer " + printer);
    HMODULE drvui = LoadDriver();
    if (drvui == nullptr) return zq::Fail("fonts: cannot load drvui: " + zq::LastLoadError());
    zq::PrivateDevmode d{};
    if (devmodeFile) {
        std::ifstream in(*devmodeFile, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() != zq::kPrivateDevmodeSize) {
            FreeLibrary(drvui);
            return zq::Fail("fonts: " + *devmodeFile + " is not a 1256-byte settings record");
        }
        std::memcpy(&d, bytes.data(), sizeof d);
    } else if (zq::GetPrinterDevmode(p.h, drvui, d, {}, 2) != 1) {
        FreeLibrary(drvui);
        return zq::Fail("fonts: cannot read the settings of " + printer);
    }
    const zq::ModuleModelData model(drvui);
    std::string dir = zq::GetFontSummaryFileName(p.h);
    dir.resize(dir.find_last_of('\\') == std::string::npos ? 0 : dir.find_last_of('\\') + 1);
    const auto summary = zq::BuildFontSummary(d, zq::StandardFontSources(model, p.h, dir));
    FreeLibrary(drvui);
    if (!summary) return zq::Fail("fonts: no summary could be built");
    const auto entries = zq::SummaryEntries(*summary);
    if (json) std::printf("{\"printer\": \"%s\", \"resolution\": %u, \"fonts\": [", printer.c_str(),
                          zq::SummaryResolution(d));
    for (size_t i = 0; i < entries.size(); ++i) {
        const zq::FontSummaryEntry& e = entries[i];
        const std::string face = zq::SummaryString(*summary, e.strings[0]);
        if (json) {
            std::printf("%s\n  {\"face\": \"%s\", \"source\": \"%s\", \"kind\": %u, \"charset\": %u, \"scalable\": %s, "
                        "\"weight\": %u, \"points\": %u, \"height\": %u, \"ascent\": %u, \"averageWidth\": %u, "
                        "\"maximumWidth\": %u, \"symbolSet\": %u, \"memory\": %u, \"resource\": %u, "
                        "\"unitsPerEm\": %u, \"widths\": {",
                        i ? "," : "", face.c_str(), Source(e), e.kind, e.charSet, e.scalable ? "true" : "false",
                        e.weight, e.metrics[1], e.pixHeight, e.metrics[4], e.avgWidth, e.maxWidth, e.symbolSet,
                        e.memory, e.resourceId, e.masterUnits);
            const auto widths = Widths(*summary, e);
            for (size_t w = 0; w < widths.size(); ++w) {
                std::printf("%s\"%u\": %u", w ? ", " : "", widths[w].first, widths[w].second);
            }
            std::printf("}}");
        } else {
            std::printf("%-32s %-9s kind %u charset %3u %-8s weight %3u size %upt/%upx avg %u max %u symset %u "
                        "memory %u\n",
                        face.c_str(), Source(e), e.kind, e.charSet, e.scalable ? "scalable" : "fixed", e.weight,
                        e.metrics[1], e.pixHeight, e.avgWidth, e.maxWidth, e.symbolSet, e.memory);
        }
    }
    if (json) std::printf("\n]}\n");
    else if (entries.empty()) std::printf("no device fonts\n");
    return 0;
}

int Cache(const std::string& printer) {
    Printer p;
    if (!Open(printer, p)) return zq::Fail("fonts: no printer " + printer);
    const std::string name = zq::GetFontSummaryFileName(p.h);
    const auto host = zq::MapPath(zq::AnsiToWide(name));
    std::ifstream in(host.value_or(""), std::ios::binary);
    if (!host || !in) {
        std::printf("%s: no cache file\n", name.c_str());
        return 0;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto v = zq::ParseCacheFile(bytes);
    if (!v) return zq::Fail("fonts: " + name + " is not a font-summary cache file (header)");
    std::printf("file     %s (%zu bytes)\n", name.c_str(), bytes.size());
    std::printf("header   tag '%.17s' key size %u, %u entries, first at %u\n", v->header.tag, v->header.keySize,
                v->header.count, v->header.firstEntry);
    std::printf("strings  '%.*s'\n", int(v->strings.size()), reinterpret_cast<const char*>(v->strings.data()));
    for (size_t i = 0; i < v->entries.size(); ++i) {
        const auto& e = v->entries[i];
        zq::PrivateDevmode k;
        std::memcpy(&k, e.key.data(), sizeof k);
        const bool valid = zq::IsValidFontSummary(e.summary);
        std::printf("entry %zu at %zu: device '%s' fields 0x%08x quality %d model '%.32s' fonts list %u byte605 %u "
                    "flags392 0x%04x, %zu bytes, %s\n",
                    i, e.offset, zq::Utf16ToUtf8(k.dm.dmDeviceName).c_str(), k.dm.dmFields, k.dm.dmPrintQuality,
                    k.modelDisplayName, k.model.fontListId, reinterpret_cast<const uint8_t*>(&k)[605],
                    k.model.flags392, e.summary.size(),
                    valid ? (std::to_string(zq::SummaryEntries(e.summary).size()) + " fonts").c_str() : "damaged");
    }
    if (v->damaged) std::printf("damaged: entries behind entry %zu do not fit the file\n", v->entries.size());
    return 0;
}

int Faces(const std::string& printer, const std::optional<std::string>& devmodeFile, bool json) {
    std::vector<uint8_t> record;
    if (devmodeFile) {
        std::ifstream in(*devmodeFile, std::ios::binary);
        record.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (record.size() != zq::kPrivateDevmodeSize)
            return zq::Fail("fonts: " + *devmodeFile + " is not a 1256-byte settings record");
    }
    const std::u16string name = zq::store::FromUtf8(printer);
    HDC dc = CreateDCW(u"WINSPOOL", name.c_str(), nullptr,
                       record.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(record.data()));
    if (!dc) return zq::Fail("fonts: cannot open a device context on " + printer + ": " + zq::ErrorText(GetLastError()));
    auto* context = zq::gdi::DeviceContext::FromHandle(dc);
    if (!context || !context->device) {
        DeleteDC(dc);
        return zq::Fail("fonts: " + printer + " has no device");
    }
    const auto& faces = context->device->Faces();
    if (json) std::printf("{\"printer\": \"%s\", \"faces\": [", printer.c_str());
    for (size_t i = 0; i < faces.size(); ++i) {
        const auto& f = *faces[i];
        const IFIMETRICS& ifi = f.Ifi();
        const std::string family = zq::Utf16ToUtf8(f.family);
        const char* pitch = (ifi.jWinPitchAndFamily & 3) == 2 ? "variable" : "fixed";
        if (json) {
            std::printf("%s\n  {\"face\": %lu, \"family\": \"%s\", \"charset\": %u, \"pitch\": \"%s\", \"weight\": %u, "
                        "\"em\": %d, \"ascender\": %d, \"descender\": %d, \"averageWidth\": %d, \"kerningPairs\": %zu}",
                        i ? "," : "", static_cast<unsigned long>(f.index), family.c_str(), ifi.jWinCharSet, pitch,
                        ifi.usWinWeight, ifi.fwdUnitsPerEm, ifi.fwdWinAscender, ifi.fwdWinDescender, ifi.fwdAveCharWidth,
                        f.kerning.size());
        } else {
            std::printf("%4lu %-32s charset %3u %-8s weight %3u em %5d ascender %5d descender %5d avg %5d kerning %zu\n",
                        static_cast<unsigned long>(f.index), family.c_str(), ifi.jWinCharSet, pitch, ifi.usWinWeight,
                        ifi.fwdUnitsPerEm, ifi.fwdWinAscender, ifi.fwdWinDescender, ifi.fwdAveCharWidth, f.kerning.size());
        }
    }
    if (json) std::printf("\n]}\n");
    else if (faces.empty()) std::printf("no device faces\n");
    DeleteDC(dc);
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    const bool json = opts.Flag("--json");
    const bool cartridge = opts.Flag("--cartridge");
    const bool soft = opts.Flag("--soft");
    const auto download = opts.Value("--download");
    const auto value = opts.Value("--value");
    const auto devmode = opts.Value("--devmode");
    if (auto bad = opts.Unknown()) return zq::UsageError("fonts", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() < 2) return zq::UsageError("fonts", "expected: list|install|remove|summary|cache|faces PRINTER ...");
    const std::string& op = rest[0];
    if (op == "list" && rest.size() == 2) return List(rest[1]);
    if (op == "install" && rest.size() == 3) {
        int v = 0;
        if (value) {
            try {
                v = std::stoi(*value);
            } catch (...) {
                v = -1;
            }
            if (v < 0 || v > 65535) return zq::UsageError("fonts", "--value wants a number 0-65535");
        }
        return Install(rest[1], rest[2], cartridge, download, v);
    }
    if (op == "remove" && rest.size() == 3) {
        if (cartridge && soft) return zq::UsageError("fonts", "--cartridge and --soft exclude each other");
        return Remove(rest[1], rest[2], cartridge ? 2 : soft ? 1 : 0);
    }
    if (op == "summary" && rest.size() == 2) return Summary(rest[1], devmode, json);
    if (op == "cache" && rest.size() == 2) return Cache(rest[1]);
    if (op == "faces" && rest.size() == 2) return Faces(rest[1], devmode, json);
    return zq::UsageError("fonts", "unexpected arguments");
}

zq::Registration reg{{"fonts", "installed fonts, the device-font summary and its cache", kUsage, Run}};

}  // namespace
