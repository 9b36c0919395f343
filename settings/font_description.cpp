// Font descriptions of both forms.
#include "settings/font_description.h"

#include <algorithm>
#include <cstring>

#include "base/muldiv.h"

namespace zq {

namespace {

constexpr size_t kMaxText = 255;
constexpr size_t kKerningPairSize = 8;

class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> b) : b_(b) {}
    size_t size() const { return b_.size(); }
    // `length` bytes at a non-zero offset, inside the description.
    std::optional<std::span<const uint8_t>> At(uint64_t offset, uint64_t length) const {
        if (offset == 0 || offset > b_.size() || length > b_.size() - offset) return std::nullopt;
        return b_.subspan(offset, length);
    }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(b_[at] | (b_[at + 1] << 8)); }
    uint32_t U32(size_t at) const { return U16(at) | (static_cast<uint32_t>(U16(at + 2)) << 16); }
    // A NUL-terminated text at a non-zero offset, at most 255 characters;
    // nothing when the offset lies outside.
    std::optional<std::string> Text(uint32_t offset) const {
        if (offset == 0 || offset >= b_.size()) return std::nullopt;
        const char* p = reinterpret_cast<const char*>(b_.data() + offset);
        const size_t n = strnlen(p, std::min(kMaxText, b_.size() - offset));
        return std::string(p, n);
    }
    // A record at a fixed place (the header may stand at 0).
    template <class T>
    std::optional<T> Record(uint64_t offset) const {
        if (offset > b_.size() || sizeof(T) > b_.size() - offset) return std::nullopt;
        T t;
        std::memcpy(&t, b_.data() + offset, sizeof t);
        return t;
    }
    // A record a non-zero offset refers to.
    template <class T>
    std::optional<T> Referenced(uint64_t offset) const {
        const auto s = At(offset, sizeof(T));
        if (!s) return std::nullopt;
        T t;
        std::memcpy(&t, s->data(), sizeof t);
        return t;
    }

private:
    std::span<const uint8_t> b_;
};

// What the driver information of a description gives.
struct DriverInfo {
    bool present = false;
    bool hasMemory = false;
    uint32_t memory = 0;
    std::optional<std::string> selection;
    bool hasVertical = false;
    int16_t vertical[2] = {};
    std::optional<std::string> secondText;
    uint16_t symbolSet = 0;
};

// Sub-records {type 1-3, length, data} behind a {length, 2} head. A
// sub-record of length below 4, past the block, or of another type makes
// the whole description damaged.
bool ReadSubRecords(const Bytes& d, uint32_t at, DriverInfo& info) {
    const auto head = d.At(at, 4);
    if (!head) return false;
    const uint32_t length = d.U16(at);
    if (length < 4 || !d.At(at, length)) return false;
    info.present = true;
    uint32_t p = 4;
    while (p + 4 <= length) {
        const uint16_t type = d.U16(at + p);
        const uint16_t size = d.U16(at + p + 2);
        if (size < 4 || p + size > length || type < 1 || type > 3) return false;
        const uint32_t s = at + p;
        if (type == 1 && size >= 12) {
            info.hasMemory = true;
            info.memory = d.U32(s + 4);
            info.selection = d.Text(d.U32(s + 8));
        } else if (type == 2 && size >= 8) {
            info.hasVertical = true;
            info.vertical[0] = static_cast<int16_t>(d.U16(s + 4));
            info.vertical[1] = static_cast<int16_t>(d.U16(s + 6));
        } else if (type == 3 && size >= 10) {
            info.secondText = d.Text(d.U32(s + 4));
            info.symbolSet = d.U16(s + 8);
        }
        p += size;
    }
    return true;
}

// The character map: a cmap head whose segment count x 2 stands at 18;
// (count x 2 + 10) x 3 bytes are kept.
std::optional<std::span<const uint8_t>> CharMap(const Bytes& d, uint32_t at) {
    if (at == 0) return std::span<const uint8_t>{};
    if (!d.At(at, 20)) return std::nullopt;
    const uint32_t s = d.U16(at + 18);
    return d.At(at, (s + 10ull) * 3);
}

std::optional<std::span<const uint8_t>> Kerning(const Bytes& d, uint32_t at, const ParsedFont& f) {
    if (at == 0 || !f.hasExtMetrics || f.extMetrics.kernPairs <= 0) return std::span<const uint8_t>{};
    return d.At(at, static_cast<uint64_t>(f.extMetrics.kernPairs) * kKerningPairSize);
}

bool ReadExtMetrics(const Bytes& d, uint32_t at, ParsedFont& f) {
    if (at == 0) return true;
    const auto ext = d.Referenced<ExtendedFontMetrics>(at);
    if (!ext) return false;
    f.hasExtMetrics = true;
    f.extMetrics = *ext;
    f.scalable = ext->minScale != ext->maxScale;
    f.masterUnits = static_cast<uint16_t>(ext->masterUnits);
    return true;
}

// The face name, leading blanks dropped; refused when absent or empty.
bool ReadFace(const Bytes& d, ParsedFont& f) {
    const auto face = d.Text(f.metrics.faceOffset);
    if (!face) return false;
    const size_t first = face->find_first_not_of(' ');
    if (first == std::string::npos) return false;
    f.face = face->substr(first);
    return true;
}

bool Admit(const ParsedFont& f, int orientation, bool scalableOnly) {
    if (orientation != 0 && f.hasExtMetrics && f.extMetrics.orientation != 0 && f.extMetrics.orientation != orientation) {
        return false;
    }
    return !scalableOnly || f.scalable;
}

uint32_t MemoryEstimate(const FontMetricsRecord& m, uint32_t characters) {
    return characters * (m.pixHeight * ((m.avgWidth + 7u) / 8u) + 63u);
}

std::optional<ParsedFont> ReadFirstForm(const Bytes& d, int orientation, uint16_t kind, bool scalableOnly) {
    ParsedFont f;
    const auto metrics = d.Record<FontMetricsRecord>(kFirstFormMetricsAt);
    if (!metrics) return std::nullopt;
    f.metrics = *metrics;
    const uint32_t n = f.metrics.word32;
    const bool variable = (f.metrics.pitchAndFamily & 1) != 0;
    const uint64_t extAt = variable ? kFirstFormWidthsAt + 2ull * n : kFirstFormFixedExtensionAt;
    const auto ext = d.Record<FirstFormExtension>(extAt);
    if (!ext || !ReadExtMetrics(d, ext->extMetrics, f)) return std::nullopt;
    DriverInfo info;
    if (ext->driverInfo != 0 && !ReadSubRecords(d, ext->driverInfo, info)) return std::nullopt;
    if (kind == 1) f.memory = info.hasMemory ? info.memory : MemoryEstimate(f.metrics, n);
    if (info.selection) f.selection = *info.selection;
    if (info.hasVertical) std::copy(info.vertical, info.vertical + 2, f.vertical);
    if (info.secondText) f.secondText = *info.secondText;
    f.symbolSet = info.symbolSet;
    if (!Admit(f, orientation, scalableOnly) || !ReadFace(d, f)) return std::nullopt;
    const auto panose = ext->panose ? d.At(ext->panose, 10) : std::span<const uint8_t>{};
    const auto sets = ext->symbolSets ? d.At(ext->symbolSets, 24) : std::span<const uint8_t>{};
    const auto widths = f.scalable ? (ext->extentTable ? d.At(ext->extentTable, 2ull * n) : std::span<const uint8_t>{})
                                   : (variable ? d.At(kFirstFormWidthsAt, 2ull * n) : std::span<const uint8_t>{});
    const auto map = CharMap(d, ext->charMap);
    const auto kerning = Kerning(d, ext->pairKernTable, f);
    if (!panose || !sets || !widths || !map || !kerning) return std::nullopt;
    f.panose = *panose;
    f.symbolSets = *sets;
    f.widths = *widths;
    f.charMap = *map;
    f.kerning = *kerning;
    return f;
}

std::optional<ParsedFont> ReadSecondForm(const Bytes& d, int orientation, uint16_t kind, bool scalableOnly) {
    const auto h = d.Record<SecondFormHeader>(0);
    if (!h || h->lastChar < h->firstChar) return std::nullopt;
    ParsedFont f;
    FontMetricsRecord& m = f.metrics;
    m.type = h->type;
    m.pointSize = h->points;
    m.vertRes = h->vertRes;
    m.horzRes = h->horizRes;
    m.ascent = h->ascent;
    m.internalLeading = h->internalLeading;
    m.externalLeading = h->externalLeading;
    m.italic = h->italic;
    m.underline = h->underline;
    m.strikeOut = h->strikeOut;
    m.weight = h->weight;
    m.charSet = h->charSet;
    m.pixWidth = h->pixWidth;
    m.pixHeight = h->pixHeight;
    m.pitchAndFamily = h->pitchAndFamily;
    m.avgWidth = h->avgWidth;
    m.maxWidth = h->maxWidth;
    m.word32 = h->firstChar;
    m.word34 = h->defaultChar;
    m.widthBytes = h->widthBytes;
    m.deviceOffset = h->device;
    m.faceOffset = h->face;
    m.bitsPointer = h->bitsPointer;
    m.bitsOffset = h->bitsOffset;
    const uint32_t characters = h->lastChar - h->firstChar + 1u;
    const bool variable = (h->pitchAndFamily & 1) != 0;
    const uint64_t widthCount = characters + 1ull;
    const uint64_t extAt = sizeof(SecondFormHeader) + (variable ? 2 * widthCount : 0);
    const auto ext = d.Record<SecondFormExtension>(extAt);
    if (!ext || !ReadExtMetrics(d, ext->extMetrics, f)) return std::nullopt;
    DriverInfo info;
    if (ext->driverInfo != 0) {
        if (!d.At(ext->driverInfo, 4)) return std::nullopt;
        if (d.U16(ext->driverInfo + 2) == 2) {
            if (!ReadSubRecords(d, ext->driverInfo, info)) return std::nullopt;
        } else {
            if (!d.At(ext->driverInfo, 12)) return std::nullopt;
            info.present = true;
            info.hasMemory = true;
            info.memory = d.U32(ext->driverInfo + 4);
            info.selection = d.Text(d.U32(ext->driverInfo + 8));
        }
    }
    if (kind == 1) f.memory = info.hasMemory ? info.memory : MemoryEstimate(m, characters);
    if (info.selection) f.selection = *info.selection;
    if (info.secondText) f.secondText = *info.secondText;
    f.symbolSet = ParseSymbolSetEscape(f.selection);
    if (f.hasExtMetrics) {
        f.vertical[0] = f.extMetrics.capHeight;
        f.vertical[1] = static_cast<int16_t>(std::min(-f.extMetrics.lowerCaseDescent, int{f.extMetrics.underlineOffset}));
    }
    if (!Admit(f, orientation, scalableOnly) || !ReadFace(d, f)) return std::nullopt;
    const auto widths = f.scalable
                            ? (ext->extentTable ? d.At(ext->extentTable, 2ull * characters) : std::span<const uint8_t>{})
                            : (variable ? d.At(sizeof(SecondFormHeader), 2 * widthCount) : std::span<const uint8_t>{});
    const auto kerning = Kerning(d, ext->pairKernTable, f);
    if (!widths || !kerning) return std::nullopt;
    f.widths = *widths;
    f.kerning = *kerning;
    return f;
}

}  // namespace

std::optional<ParsedFont> ReadFontDescription(std::span<const uint8_t> description, int orientation, uint16_t kind,
                                              bool scalableOnly) {
    const Bytes d(description);
    if (d.size() < 2) return std::nullopt;
    std::optional<ParsedFont> f = d.U16(0) == kSecondFormFormat ? ReadSecondForm(d, orientation, kind, scalableOnly)
                                                                : ReadFirstForm(d, orientation, kind, scalableOnly);
    if (f) f->designResolution = f->metrics.vertRes;
    return f;
}

uint16_t ParseSymbolSetEscape(std::string_view s) {
    for (size_t at = s.find("\x1b("); at != std::string_view::npos; at = s.find("\x1b(", at + 2)) {
        size_t p = at + 2;
        uint32_t n = 0;
        size_t digits = 0;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
            n = std::min<uint32_t>(n * 10 + static_cast<uint32_t>(s[p] - '0'), 0xFFFFFF);
            ++p;
            ++digits;
        }
        if (digits > 0 && p < s.size() && s[p] >= 'A' && s[p] <= 'Z') {
            return static_cast<uint16_t>(n * 32 + static_cast<uint32_t>(s[p] - 64));
        }
    }
    return 0;
}

bool ScaleFontToResolution(FontMetricsRecord& m, bool scalable, uint16_t resolution) {
    if (scalable) {
        m.vertRes = resolution;
        m.horzRes = resolution;
        return true;
    }
    const uint16_t old = m.vertRes;
    if (old == resolution) return true;
    if (old == 0) return false;
    m.vertRes = resolution;
    m.horzRes = resolution;
    for (uint16_t* w : {&m.ascent, &m.internalLeading, &m.externalLeading, &m.pixWidth, &m.pixHeight, &m.avgWidth,
                        &m.maxWidth}) {
        *w = static_cast<uint16_t>(MulDiv(*w, resolution, old));
    }
    return true;
}

}  // namespace zq
