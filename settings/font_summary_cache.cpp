// The font-summary cache file.
#include "settings/font_summary_cache.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/loader.h"
#include "base/paths.h"
#include "base/text.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "interface/ui_utils.h"
#include "settings/font_lists.h"
#include "settings/printer_data_values.h"
#include "store/spooler.h"

namespace zq {

namespace {

constexpr size_t kHeadSize = sizeof(CacheEntryHead);
constexpr size_t kFileHeaderSize = sizeof(CacheFileHeader);

uint16_t Word(const PrivateDevmode& d, size_t at) {
    uint16_t v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&d) + at, 2);
    return v;
}

PrivateDevmode KeyOf(std::span<const uint8_t> key) {
    PrivateDevmode d;
    std::memcpy(&d, key.data(), sizeof d);
    return d;
}

std::optional<std::filesystem::path> CacheHostPath(HANDLE printer) {
    return MapPath(AnsiToWide(GetFontSummaryFileName(printer)));
}

// The index of the entry `wanted` matches, if any.
std::optional<size_t> FindEntry(const CacheFileView& v, const PrivateDevmode& wanted, KeyRule rule) {
    for (size_t i = 0; i < v.entries.size(); ++i) {
        if (FontSummaryKeyMatches(KeyOf(v.entries[i].key), wanted, rule) && IsValidFontSummary(v.entries[i].summary)) {
            return i;
        }
    }
    return std::nullopt;
}

// A file of header, strings, then `first` and the other entries in order,
// laid out in one block of its final size.
std::vector<uint8_t> Compose(const CacheFileHeader& base, std::span<const uint8_t> strings,
                             std::span<const uint8_t> firstKey, std::span<const uint8_t> firstSummary,
                             const std::vector<const CacheFileView::Entry*>& rest) {
    CacheFileHeader h = base;
    h.count = static_cast<uint16_t>(1 + rest.size());
    h.firstEntry = static_cast<uint32_t>(kFileHeaderSize + strings.size());
    size_t total = h.firstEntry + kHeadSize + firstSummary.size();
    for (const auto* e : rest) total += kHeadSize + e->summary.size();
    std::vector<uint8_t> out(total);
    uint8_t* p = out.data();
    auto put = [&p](const void* data, size_t n) {
        if (n != 0) std::memcpy(p, data, n);
        p += n;
    };
    auto entry = [&put](std::span<const uint8_t> key, std::span<const uint8_t> summary) {
        const uint32_t n = static_cast<uint32_t>(summary.size());
        put(key.data(), kPrivateDevmodeSize);
        put(&n, 4);
        put(summary.data(), summary.size());
    };
    put(&h, kFileHeaderSize);
    put(strings.data(), strings.size());
    entry(firstKey, firstSummary);
    for (const auto* e : rest) entry(e->key, e->summary);
    return out;
}

CacheFileHeader NewHeader() {
    CacheFileHeader h{};
    std::memcpy(h.tag, kCacheVersionTag, kCacheTagLength);
    h.keySize = kPrivateDevmodeSize;
    return h;
}

// Reads the file under the writer's lock and rotates entry `wanted` to the
// front when it is not there yet.
void MoveCacheEntryToFront(const std::filesystem::path& file, const PrivateDevmode& wanted) {
    const int lock = LockFileDirectory(file);
    if (lock < 0) return;
    const auto bytes = ReadWholeFile(file);
    if (bytes) {
        const auto v = ParseCacheFile(*bytes);
        const auto hit = v ? FindEntry(*v, wanted, KeyRule::Interface) : std::nullopt;
        if (hit && *hit > 0) {
            std::vector<const CacheFileView::Entry*> rest;
            for (size_t i = 0; i < v->entries.size(); ++i) {
                if (i != *hit) rest.push_back(&v->entries[i]);
            }
            ReplaceFileContents(file, Compose(v->header, v->strings, v->entries[*hit].key, v->entries[*hit].summary, rest));
        }
    }
    ::close(lock);
}

}  // namespace

bool FontSummaryKeyMatches(const PrivateDevmode& a, const PrivateDevmode& b, KeyRule rule) {
    const std::u16string_view nameA(a.dm.dmDeviceName, std::char_traits<char16_t>::length(a.dm.dmDeviceName) < 32
                                                           ? std::char_traits<char16_t>::length(a.dm.dmDeviceName)
                                                           : 32);
    const std::u16string_view nameB(b.dm.dmDeviceName, std::char_traits<char16_t>::length(b.dm.dmDeviceName) < 32
                                                           ? std::char_traits<char16_t>::length(b.dm.dmDeviceName)
                                                           : 32);
    if (!EqualsIgnoreCase(nameA, nameB)) return false;
    if (a.dm.dmSpecVersion != b.dm.dmSpecVersion || a.dm.dmDriverVersion != b.dm.dmDriverVersion ||
        a.dm.dmSize != b.dm.dmSize || a.dm.dmDriverExtra != b.dm.dmDriverExtra) {
        return false;
    }
    if (rule == KeyRule::Interface) {
        if ((a.dm.dmFields & DM_PRINTQUALITY) == 0 || (b.dm.dmFields & DM_PRINTQUALITY) == 0) return false;
    } else if (a.dm.dmFields != b.dm.dmFields) {
        return false;
    }
    if (a.dm.dmPrintQuality != b.dm.dmPrintQuality || a.privateVersion != b.privateVersion) return false;
    const uint8_t* pa = reinterpret_cast<const uint8_t*>(&a);
    const uint8_t* pb = reinterpret_cast<const uint8_t*>(&b);
    if ((pa[605] == 0) != (pb[605] == 0)) return false;
    const std::string_view textA(a.modelDisplayName, strnlen(a.modelDisplayName, sizeof a.modelDisplayName));
    const std::string_view textB(b.modelDisplayName, strnlen(b.modelDisplayName, sizeof b.modelDisplayName));
    if (!EqualsIgnoreCase(textA, textB)) return false;
    for (size_t at : {352u, 358u, 392u}) {
        if (Word(a, at) != Word(b, at)) return false;
    }
    return true;
}

std::string GetFontSummaryFileName(HANDLE printer) { return FontFileName(printer, ".PCL"); }

std::optional<CacheFileView> ParseCacheFile(std::span<const uint8_t> file) {
    if (file.size() < kFileHeaderSize) return std::nullopt;
    CacheFileView v;
    std::memcpy(&v.header, file.data(), kFileHeaderSize);
    const std::string_view tag(v.header.tag, kCacheTagLength);
    if (!EqualsIgnoreCase(tag, std::string_view(kCacheVersionTag, kCacheTagLength)) || v.header.tag[17] != 0 ||
        v.header.keySize != kPrivateDevmodeSize || v.header.firstEntry < kFileHeaderSize ||
        v.header.firstEntry > file.size()) {
        return std::nullopt;
    }
    v.strings = file.subspan(kFileHeaderSize, v.header.firstEntry - kFileHeaderSize);
    size_t at = v.header.firstEntry;
    for (uint16_t i = 0; i < v.header.count; ++i) {
        if (file.size() - at < kHeadSize) {
            v.damaged = true;
            break;
        }
        uint32_t n;
        std::memcpy(&n, file.data() + at + kPrivateDevmodeSize, 4);
        if (n > file.size() - at - kHeadSize || n > kMaxSummarySize) {
            v.damaged = true;
            break;
        }
        v.entries.push_back({at, file.subspan(at, kPrivateDevmodeSize), file.subspan(at + kHeadSize, n)});
        at += kHeadSize + n;
    }
    return v;
}

CacheStringSource DialogLibraryStrings(const PrivateDevmode& devmode) {
    const uint8_t selector = static_cast<uint8_t>(devmode.model.dialogSelector);
    return [selector](uint16_t id) -> std::optional<std::string> {
        HMODULE library = LoadDialogLibrary(selector);
        if (library == nullptr) return std::nullopt;
        char text[64] = {};
        const int n = CallLoadXlatedString(library, 0, id, text, sizeof text);
        FreeLibrary(library);
        if (n <= 0) return std::nullopt;
        return std::string(text, strnlen(text, sizeof text - 1));
    };
}

std::optional<std::vector<uint8_t>> FindCachedFontSummary(const PrivateDevmode& devmode, HANDLE printer) {
    const auto file = CacheHostPath(printer);
    if (!file) return std::nullopt;
    const auto bytes = ReadWholeFile(*file);
    if (!bytes) return std::nullopt;
    const auto v = ParseCacheFile(*bytes);
    if (!v) return std::nullopt;
    const auto hit = FindEntry(*v, devmode, KeyRule::Interface);
    if (!hit) return std::nullopt;
    std::vector<uint8_t> summary(v->entries[*hit].summary.begin(), v->entries[*hit].summary.end());
    if (*hit > 0) MoveCacheEntryToFront(*file, devmode);
    return summary;
}

BOOL StoreFontSummary(const PrivateDevmode& devmode, std::span<const uint8_t> summary, HANDLE printer,
                      const CacheStringSource& strings, const char* printerName) {
    const std::string name = GetFontSummaryFileName(printer);
    const auto file = MapPath(AnsiToWide(name));
    if (!file) return FALSE;
    const int lock = LockFileDirectory(*file);
    if (lock < 0) return FALSE;
    const auto bytes = ReadWholeFile(*file);
    std::optional<CacheFileView> v = bytes ? ParseCacheFile(*bytes) : std::nullopt;
    std::vector<uint8_t> newStrings;
    CacheFileHeader header = v ? v->header : NewHeader();
    std::span<const uint8_t> keptStrings = v ? v->strings : std::span<const uint8_t>{};
    if (!v) {
        for (uint16_t id = 13; id <= 21 && strings; ++id) {
            const auto text = strings(id);
            if (!text) break;
            newStrings.insert(newStrings.end(), text->begin(), text->begin() + std::min<size_t>(text->size(), 63));
        }
        keptStrings = newStrings;
    }
    // Older entries stay while they end below the limit the new one leaves.
    const uint64_t limit = summary.size() > kCacheFileLimit ? 0 : kCacheFileLimit - summary.size();
    std::vector<const CacheFileView::Entry*> kept;
    if (v) {
        for (const auto& e : v->entries) {
            if (e.offset + kHeadSize + e.summary.size() >= limit) break;
            kept.push_back(&e);
        }
    }
    const uint8_t* key = reinterpret_cast<const uint8_t*>(&devmode);
    const bool ok = ReplaceFileContents(
        *file, Compose(header, keptStrings, std::span<const uint8_t>(key, kPrivateDevmodeSize), summary, kept));
    ::close(lock);
    if (!ok) return FALSE;
    if (!v) {
        std::vector<uint8_t> value(name.begin(), name.end());
        value.push_back(0);
        SetPrinterDataA(printer, const_cast<LPSTR>(kFontSummaryFileValue.name.data()), kRegBinary, value.data(),
                        static_cast<DWORD>(value.size()));
        InstallLogEntry entry;
        entry.printerName = printerName != nullptr ? printerName : "";
        entry.printer = printer;
        entry.file = name;
        AddInstallLogEntry(entry);
    }
    return TRUE;
}

BOOL RefreshFontSummary(const PrivateDevmode& devmode, HANDLE printer, const FontSummarySources& sources,
                        const CacheStringSource& strings) {
    if (FindCachedFontSummary(devmode, printer)) return TRUE;
    const auto built = BuildFontSummary(devmode, sources);
    if (!built) return FALSE;
    StoreFontSummary(devmode, *built, printer, strings);
    return TRUE;
}

BOOL DeleteFontSummaryFile(const char16_t* printerName) {
    std::u16string name = printerName != nullptr ? printerName : u"";
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, &all) && !OpenPrinterW(name.data(), &printer, nullptr)) printer = nullptr;
    const auto file = CacheHostPath(printer);
    if (printer != nullptr) ClosePrinter(printer);
    if (!file) return FALSE;
    const int lock = LockFileDirectory(*file);
    if (lock < 0) return FALSE;
    const bool ok = ::unlink(file->c_str()) == 0;
    ::close(lock);
    return ok ? TRUE : FALSE;
}

std::optional<std::vector<uint8_t>> ReadCachedFontSummary(HANDLE printer, const PrivateDevmode& devmode) {
    std::string name;
    const PrinterDataBytes stored = ReadPrinterDataBytes(printer, kFontSummaryFileValue.name.data());
    if (stored.status == ValueRead::Ok && !stored.bytes.empty()) {
        const size_t n = std::min<size_t>(stored.bytes.size(), kFontFileNameCapacity);
        name.assign(reinterpret_cast<const char*>(stored.bytes.data()),
                    strnlen(reinterpret_cast<const char*>(stored.bytes.data()), n));
    }
    if (name.empty()) name = GetFontSummaryFileName(printer);
    const auto file = MapPath(AnsiToWide(name));
    if (!file) return std::nullopt;
    const auto bytes = ReadWholeFile(*file);
    if (!bytes) return std::nullopt;
    const auto v = ParseCacheFile(*bytes);
    if (!v) return std::nullopt;
    const auto hit = FindEntry(*v, devmode, KeyRule::Renderer);
    if (!hit) return std::nullopt;
    return std::vector<uint8_t>(v->entries[*hit].summary.begin(), v->entries[*hit].summary.end());
}

std::optional<std::vector<uint8_t>> LoadFontSummary(HANDLE printer, const PrivateDevmode& devmode,
                                                    const FontSummarySources& sources) {
    if (auto cached = ReadCachedFontSummary(printer, devmode)) return cached;
    return BuildFontSummary(devmode, sources);
}

void FreeFontSummary(std::vector<uint8_t>& summary, const std::function<void(uint32_t token)>& release) {
    if (IsValidFontSummary(summary)) {
        auto* entries = reinterpret_cast<FontSummaryEntry*>(summary.data() + sizeof(FontSummaryHeader));
        const size_t count = SummaryEntries(summary).size();
        for (size_t i = 0; i < count; ++i) {
            for (uint32_t* token : {&entries[i].runtimeBlock, &entries[i].runtimeBlock2}) {
                if (*token != 0 && release) release(*token);
                *token = 0;
            }
        }
    }
    summary.clear();
    summary.shrink_to_fit();
}

}  // namespace zq
