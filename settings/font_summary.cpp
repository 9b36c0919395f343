// Building the device-font summary.
#include "settings/font_summary.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/files.h"
#include "base/locale.h"
#include "base/paths.h"
#include "base/text.h"
#include "interface/ui_utils.h"
#include "settings/font_description.h"
#include "settings/font_lists.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"

namespace zq {

namespace {

constexpr size_t kEntrySize = sizeof(FontSummaryEntry);
constexpr size_t kHeaderSize = sizeof(FontSummaryHeader);

bool IsSymbolFace(std::string_view face) {
    for (std::string_view s : {"ITC Zapf Dingbats", "ITCZapfDingbats", "Zapf Dingbats", "ZapfDingbats", "Symbol"}) {
        if (EqualsIgnoreCase(face, s)) return true;
    }
    return false;
}

// Where a font came from, and the names attached to it.
struct Origin {
    uint16_t resourceId = 0xFFFF;
    uint16_t listId = 0xFFFF;
    uint16_t kind = 1;
    std::string firstFile;   // soft fonts: the two installed file names
    std::string secondFile;
};

class Builder {
public:
    Builder(const PrivateDevmode& devmode, bool doubleByte)
        : devmode_(devmode), doubleByte_(doubleByte), resolution_(SummaryResolution(devmode)) {}

    bool Full() const { return names_.size() >= static_cast<size_t>(kMaxSummaryFonts); }

    // Reads, scales and files one description; false when it was refused.
    bool Add(std::span<const uint8_t> description, const Origin& origin) {
        if (Full()) return false;
        std::optional<ParsedFont> f = ReadFontDescription(description, 0, origin.kind, devmode_.pagesPerSheet != 0);
        if (!f || !ScaleFontToResolution(f->metrics, f->scalable, resolution_)) return false;
        FontSummaryEntry e{};
        e.resourceId = origin.resourceId;
        e.listId = origin.listId;
        std::fill(std::begin(e.strings), std::end(e.strings), kEmptySlot);
        const auto face = AddString(f->face);
        if (!face) return false;
        e.strings[0] = *face;
        if (!f->secondText.empty()) e.strings[1] = AddString(f->secondText).value_or(kEmptySlot);
        if (!f->selection.empty()) e.strings[2] = AddString(f->selection).value_or(kEmptySlot);
        const auto [dir1, file1] = Split(origin.firstFile);
        const auto [dir2, file2] = Split(origin.secondFile);
        if (!dir1.empty()) e.strings[3] = AddString(dir1).value_or(kEmptySlot);
        if (!dir2.empty()) e.strings[4] = AddString(dir2).value_or(kEmptySlot);
        if (!file1.empty()) e.strings[5] = AddString(file1).value_or(kEmptySlot);
        if (!file2.empty()) e.strings[6] = AddString(file2).value_or(kEmptySlot);
        e.panose = AddData(f->panose);
        e.symbolSets = AddData(f->symbolSets);
        e.widths = AddData(f->widths);
        e.charMap = AddData(f->charMap);
        e.kerning = AddKerningPairs(f->kerning);
        e.baseOffset = 0;
        e.scalable = f->scalable ? 1 : 0;
        e.masterUnits = f->hasExtMetrics ? f->masterUnits : 0;
        e.designResolution = f->designResolution;
        e.useAge = 0xFFFF;
        e.memory = f->memory;
        e.kind = origin.kind;
        e.mark82 = 0xFFFF;
        e.mark84 = 0xFFFF;
        const FontMetricsRecord& m = f->metrics;
        const uint16_t words[7] = {m.type, m.pointSize, m.vertRes, m.horzRes, m.ascent, m.internalLeading,
                                   m.externalLeading};
        std::copy(words, words + 7, e.metrics);
        e.italic = m.italic;
        e.underline = m.underline;
        e.strikeOut = m.strikeOut;
        e.weight = m.weight;
        e.charSet = IsSymbolFace(f->face) ? 2 : m.charSet;
        e.pixWidth = m.pixWidth;
        e.pixHeight = m.pixHeight;
        e.pitchAndFamily = m.pitchAndFamily;
        e.avgWidth = m.avgWidth;
        e.maxWidth = m.maxWidth;
        e.word32 = m.word32;
        e.word34 = m.word34;
        e.vertical[0] = f->vertical[0];
        e.vertical[1] = f->vertical[1];
        e.symbolSet = f->symbolSet;
        if (f->hasExtMetrics) e.extMetrics = f->extMetrics;
        Insert(e, f->face);
        return true;
    }

    std::vector<uint8_t> Finish() const {
        std::vector<uint8_t> block(kHeaderSize + entries_.size() * kEntrySize + pool1_.size() + pool2_.size() +
                                   pool3_.size());
        FontSummaryHeader h{};
        h.one = 1;
        h.count = static_cast<uint16_t>(entries_.size());
        h.pool1Size = static_cast<uint32_t>(pool1_.size());
        h.pool2Size = static_cast<uint32_t>(pool2_.size());
        h.mark16 = 0xFFFF;
        h.one20 = 1;
        std::memcpy(h.devmode, &devmode_, kPrivateDevmodeSize);
        std::memcpy(block.data(), &h, kHeaderSize);
        uint8_t* p = block.data() + kHeaderSize;
        for (const FontSummaryEntry& e : entries_) {
            std::memcpy(p, &e, kEntrySize);
            p += kEntrySize;
        }
        for (const std::vector<uint8_t>* pool : {&pool1_, &pool2_, &pool3_}) {
            if (!pool->empty()) std::memcpy(p, pool->data(), pool->size());
            p += pool->size();
        }
        return block;
    }

private:
    // A path split at its last ':' or '\': directory (with the separator) and name.
    static std::pair<std::string, std::string> Split(const std::string& path) {
        const size_t cut = path.find_last_of(":\\");
        if (cut == std::string::npos) return {"", path};
        return {path.substr(0, cut + 1), path.substr(cut + 1)};
    }

    std::optional<uint32_t> AddString(const std::string& text) {
        for (const auto& [stored, offset] : strings_) {
            if (EqualsIgnoreCase(stored, text)) return offset;
        }
        if (strings_.size() >= kMaxFontStrings || pool1_.size() + text.size() + 1 > kPool1Limit) return std::nullopt;
        const uint32_t offset = static_cast<uint32_t>(pool1_.size());
        pool1_.insert(pool1_.end(), text.begin(), text.end());
        pool1_.push_back(0);
        strings_.emplace_back(text, offset);
        return offset;
    }

    uint32_t AddData(std::span<const uint8_t> data) {
        if (data.empty() || pool2_.size() + data.size() > kPool2Limit) return kEmptySlot;
        const uint32_t offset = static_cast<uint32_t>(pool2_.size());
        pool2_.insert(pool2_.end(), data.begin(), data.end());
        return offset;
    }

    uint32_t AddKerningPairs(std::span<const uint8_t> pairs) {
        if (pairs.empty() || pool3_.size() > kPool3Limit || pool3_.size() + pairs.size() > kPool3Limit + 2048) {
            return kEmptySlot;
        }
        const uint32_t offset = static_cast<uint32_t>(pool3_.size());
        pool3_.insert(pool3_.end(), pairs.begin(), pairs.end());
        return offset;
    }

    // Sorted by face name on single-byte systems, appended on double-byte ones.
    void Insert(const FontSummaryEntry& e, const std::string& face) {
        size_t at = entries_.size();
        if (!doubleByte_) {
            for (size_t i = 0; i < names_.size(); ++i) {
                if (CompareIgnoreCase(names_[i], face) > 0) {
                    at = i;
                    break;
                }
            }
        }
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), e);
        names_.insert(names_.begin() + static_cast<std::ptrdiff_t>(at), face);
    }

    const PrivateDevmode& devmode_;
    bool doubleByte_;
    uint16_t resolution_;
    std::vector<FontSummaryEntry> entries_;
    std::vector<std::string> names_;
    std::vector<std::pair<std::string, uint32_t>> strings_;
    std::vector<uint8_t> pool1_, pool2_, pool3_;
};

bool IsDoubleByteCodePage(uint32_t cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

void AddResidentFonts(Builder& b, const PrivateDevmode& devmode, const ModelData& model) {
    std::vector<uint8_t> list(model.Resource(kResidentFontListType, static_cast<uint16_t>(devmode.model.fontListId + 1), {}));
    model.Resource(kResidentFontListType, static_cast<uint16_t>(devmode.model.fontListId + 1), list);
    for (size_t at = 0; at + 2 <= list.size(); at += 2) {
        const int16_t v = static_cast<int16_t>(list[at] | (list[at + 1] << 8));
        if (v < 0) break;
        const uint16_t id = static_cast<uint16_t>(v + 1);
        std::vector<uint8_t> description(model.Resource(kFontDescriptionType, id, {}));
        model.Resource(kFontDescriptionType, id, description);
        Origin o;
        o.resourceId = id;
        o.kind = 2;
        b.Add(description, o);
    }
}

std::optional<std::vector<uint8_t>> ReadListFile(HANDLE printer, bool cartridges) {
    const auto host = MapPath(AnsiToWide(FontFileName(printer, cartridges ? ".PCM" : ".PFM")));
    if (!host) return std::nullopt;
    return ReadWholeFile(*host);
}

void AddListFile(Builder& b, std::span<const uint8_t> bytes, bool cartridges) {
    PdListHolder list(PdListOpenBytes(bytes));
    if (!PdListFirst(list.get())) return;
    do {
        PdList* l = list.get();
        Origin o;
        o.listId = PdFieldWord(l, kPdIdKey).value_or(0xFFFF);
        if (!cartridges) {
            o.kind = PdFieldWord(l, 4).value_or(1);
            o.firstFile = std::string(PdFieldText(l, 2).value_or(""));
            o.secondFile = std::string(PdFieldText(l, 3).value_or(""));
            if (const auto d = PdFieldData(l, 5)) b.Add(*d, o);
            continue;
        }
        const auto content = PdFieldData(l, 4);
        if (!content || content->size() < sizeof(CartridgeHeader)) continue;
        CartridgeHeader h;
        std::memcpy(&h, content->data(), sizeof h);
        if (h.magic != kCartridgeMagic) continue;
        const size_t end = std::min<size_t>(h.byteCount, content->size());
        size_t at = h.firstOffset;
        while (at + 4 <= end && !b.Full()) {
            const size_t length = (*content)[at + 2] | ((*content)[at + 3] << 8);
            if (length < 4 || length > end - at) break;
            b.Add(content->subspan(at, length), o);
            at += length;
        }
    } while (PdListNext(list.get()));
}

void AddFontDb(Builder& b, std::span<const uint8_t> db) {
    if (db.size() < 4) return;
    uint32_t count;
    std::memcpy(&count, db.data(), 4);
    for (uint64_t i = 0; i < count && 4 + 4 * (i + 1) <= db.size() && !b.Full(); ++i) {
        uint32_t offset;
        std::memcpy(&offset, db.data() + 4 + 4 * i, 4);
        if (offset == 0 || offset >= db.size()) continue;
        b.Add(db.subspan(offset), Origin{});
    }
}

}  // namespace

uint16_t SummaryResolution(const PrivateDevmode& devmode) {
    const int dpi = ResolvePrintQuality(devmode, 0);
    if (dpi > 0 && dpi <= 0xFFFF) return static_cast<uint16_t>(dpi);
    return devmode.resolutions[0] != 0 ? devmode.resolutions[0] : 300;
}

std::optional<std::vector<uint8_t>> BuildFontSummary(const PrivateDevmode& devmode, const FontSummarySources& s) {
    const bool doubleByte = IsDoubleByteCodePage(s.codePage);
    Builder b(devmode, doubleByte);
    if (s.model != nullptr) AddResidentFonts(b, devmode, *s.model);
    if (s.printer != nullptr) {
        const PrinterDataBytes extra = ReadPrinterDataBytes(s.printer, kAdditionalFontsValue.name.data());
        if (extra.status == ValueRead::Ok && s.readFile) {
            const std::string text(reinterpret_cast<const char*>(extra.bytes.data()),
                                   strnlen(reinterpret_cast<const char*>(extra.bytes.data()), extra.bytes.size()));
            size_t at = 0;
            while (at <= text.size() && !b.Full()) {
                const size_t end = std::min(text.find(';', at), text.size());
                const std::string name = text.substr(at, end - at);
                if (!name.empty()) {
                    if (const auto bytes = s.readFile(name)) b.Add(*bytes, Origin{});
                }
                at = end + 1;
            }
        }
    }
    for (const bool cartridges : {false, true}) {
        const auto bytes = s.readListFile ? s.readListFile(cartridges)
                           : s.printer != nullptr ? ReadListFile(s.printer, cartridges)
                                                  : std::nullopt;
        if (bytes) AddListFile(b, *bytes, cartridges);
    }
    if (doubleByte && (devmode.model.flags392 & 0x8) != 0 && s.readFontDb) {
        // "DBCSpfm" switches the double-byte fonts on; without a printer the
        // caller's source alone decides.
        bool wanted = s.printer == nullptr;
        if (s.printer != nullptr) {
            const PrinterDataBytes dbcs = ReadPrinterDataBytes(s.printer, kDbcsPfmValue.name.data());
            wanted = dbcs.status == ValueRead::Ok && !dbcs.bytes.empty() && dbcs.bytes[0] != 0;
        }
        if (wanted) {
            if (const auto db = s.readFontDb()) AddFontDb(b, *db);
        }
    }
    return b.Finish();
}

bool IsValidFontSummary(std::span<const uint8_t> block) {
    if (block.size() < kHeaderSize) return false;
    FontSummaryHeader h;
    std::memcpy(&h, block.data(), kHeaderSize);
    if (h.one != 1 || h.mark16 != 0xFFFF || h.one20 != 1) return false;
    const uint64_t pools = kHeaderSize + uint64_t{h.count} * kEntrySize;
    if (pools + h.pool1Size + h.pool2Size > block.size()) return false;
    for (const FontSummaryEntry& e : SummaryEntries(block)) {
        if (e.strings[0] >= h.pool1Size) return false;
    }
    return true;
}

std::span<const FontSummaryEntry> SummaryEntries(std::span<const uint8_t> block) {
    if (block.size() < kHeaderSize) return {};
    uint16_t count;
    std::memcpy(&count, block.data() + 4, 2);
    if (kHeaderSize + size_t{count} * kEntrySize > block.size()) return {};
    return {reinterpret_cast<const FontSummaryEntry*>(block.data() + kHeaderSize), count};
}

std::string SummaryString(std::span<const uint8_t> block, uint32_t offset) {
    const auto entries = SummaryEntries(block);
    uint32_t pool1;
    std::memcpy(&pool1, block.data() + 8, 4);
    const size_t at = kHeaderSize + entries.size() * kEntrySize;
    if (offset >= pool1 || at + pool1 > block.size()) return {};
    const char* p = reinterpret_cast<const char*>(block.data() + at + offset);
    return std::string(p, strnlen(p, pool1 - offset));
}

FontSummarySources StandardFontSources(const ModelData& model, HANDLE printer, std::string driverDirectory) {
    FontSummarySources s;
    s.model = &model;
    s.printer = printer;
    s.codePage = GetACP();
    s.readFile = [](const std::string& name) -> std::optional<std::vector<uint8_t>> {
        const auto host = MapPath(AnsiToWide(name));
        if (!host) return std::nullopt;
        return ReadWholeFile(*host);
    };
    s.readFontDb = [dir = std::move(driverDirectory)]() -> std::optional<std::vector<uint8_t>> {
        const auto host = MapPath(AnsiToWide(dir + "fontdb.dfm"));
        if (!host) return std::nullopt;
        return ReadWholeFile(*host);
    };
    return s;
}

}  // namespace zq
