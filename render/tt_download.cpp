// TrueType soft-font download: headers, glyphs and the table of what was sent.
#include "render/tt_download.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/muldiv.h"
#include "render/output.h"
#include "render/pclxl.h"
#include "render/soft_font_records.h"

namespace pclrend {

using namespace xl;

namespace {

constexpr uint16_t kComponentCode = 65535;

void Append(std::vector<uint8_t>& v, std::span<const uint8_t> b) { v.insert(v.end(), b.begin(), b.end()); }

// Writes any length through the output buffer (one append takes 32767 at most).
void SpoolBytes(DeviceRecord& r, std::span<const uint8_t> b) {
    while (!b.empty()) {
        const size_t n = std::min<size_t>(b.size(), kMaxAppend);
        SpoolWrite(r, b.data(), static_cast<int32_t>(n));
        b = b.subspan(n);
    }
}

double Length(double x, double y) { return std::sqrt(x * x + y * y); }

uint8_t StrokeWeight(std::span<const uint8_t> os2) {
    const uint16_t weight = Be16(os2, 4);
    static constexpr uint8_t kByClass[] = {249, 250, 253, 255, 0, 1, 3, 4, 7};
    if (weight >= 1 && weight <= 9) return kByClass[weight - 1];
    switch (os2.size() > 34 ? os2[34] : 0) {
    case 2: return 250;
    case 3: return 252;
    case 4: return 254;
    case 6: return 1;
    case 7: return 2;
    case 8: return 3;
    case 9: return 4;
    case 10: return 5;
    case 11: return 7;
    default: return 0;
    }
}

uint8_t SerifStyle(std::span<const uint8_t> os2) {
    const uint8_t serif = os2.size() > 33 ? os2[33] : 0;
    uint8_t style = 0;
    switch (serif) {
    case 2: case 8: case 15: style = 7; break;
    case 3: style = 6; break;
    case 4: case 5: case 6: style = 5; break;
    case 7: style = 2; break;
    case 9: style = 4; break;
    case 10: style = 3; break;
    case 12: style = 1; break;
    case 14: style = 8; break;
    default: break;
    }
    return static_cast<uint8_t>(style | ((serif == 11 || serif == 13) ? 64 : 128));
}

void FaceName(char (&out)[16], const std::u16string& family) {
    std::memset(out, ' ', sizeof out);
    for (size_t i = 0; i < family.size() && i < 16; ++i) out[i] = family[i] < 0x80 ? static_cast<char>(family[i]) : '?';
}

}  // namespace

bool IsDbcsCharSet(uint8_t charSet) { return charSet == 128 || charSet == 129 || charSet == 134 || charSet == 136; }

std::optional<Sfnt> UsableTrueType(std::span<const uint8_t> file, std::u16string_view family) {
    if (file.empty()) return std::nullopt;
    auto s = Sfnt::Resolve(file, family);
    if (!s || !s->Usable()) return std::nullopt;
    return s;
}

bool UseTrueTypeOutline(Language language, const OutlineChoice& c, bool usable, const FontXform& x) {
    if (c.ttMode == 2) return false;
    if (c.dbcs && !(language == Language::PclXl ? c.dbcsXl : c.dbcsPcl5)) return false;
    if (!usable) return false;
    if (language == Language::PclXl) return true;
    const double a = Length(x.m11, x.m12), b = Length(x.m21, x.m22);
    if (c.unitsPerEm > 0 ? std::abs(a - b) * c.unitsPerEm >= 1.0 : std::lround(1000 * a) != std::lround(1000 * b))
        return false;
    return (x.m11 == 0 && x.m22 == 0) || (x.m12 == 0 && x.m21 == 0);
}

double EmPixels(const FontXform& x, int32_t unitsPerEm) { return Length(x.m21 * unitsPerEm, x.m22 * unitsPerEm); }

int32_t QuarterPointHeight(double emPixels, uint32_t resolution) {
    if (resolution == 0) return 0;
    auto value = static_cast<int32_t>(std::lround(emPixels * 7200.0 / resolution));
    const int32_t rest = value % 100 % 25;
    return rest >= 13 ? value + 25 - rest : value - rest;
}

std::vector<uint8_t> BuildGlobalTrueTypeSegment(const Sfnt& s, bool withMetrics) {
    std::vector<const char*> names = {"cvt ", "fpgm", "gdir", "head", "hhea", "hmtx", "maxp", "prep"};
    if (!withMetrics) std::erase_if(names, [](const char* n) { return !std::strcmp(n, "hhea") || !std::strcmp(n, "hmtx"); });
    struct Row {
        uint32_t tag;
        const SfntTable* table;
    };
    std::vector<Row> rows;
    for (const char* n : names) {
        const char t[5] = {n[0], n[1], n[2], n[3], 0};
        const uint32_t tag = SfntTag(t);
        if (tag == SfntTag("gdir")) rows.push_back({tag, nullptr});
        else if (const SfntTable* found = s.Find(tag)) rows.push_back({tag, found});
    }
    const auto n = static_cast<uint16_t>(rows.size());
    uint16_t power = 1, log = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++log;
    }
    std::vector<uint8_t> out;
    PutBe32(out, 0x00010000);
    PutBe16(out, n);
    PutBe16(out, power * 16u);
    PutBe16(out, log);
    PutBe16(out, n * 16u - power * 16u);
    uint32_t offset = 12 + 16u * n;
    for (const Row& row : rows) {
        PutBe32(out, row.tag);
        if (!row.table) {
            PutBe32(out, 0);
            PutBe32(out, 0);
            PutBe32(out, 0);
            continue;
        }
        auto bytes = s.File().subspan(row.table->offset, row.table->length);
        PutBe32(out, TableChecksum(bytes));
        PutBe32(out, offset);
        PutBe32(out, row.table->length);
        offset += (row.table->length + 3) & ~3u;
    }
    for (const Row& row : rows) {
        if (!row.table) continue;
        Append(out, s.File().subspan(row.table->offset, row.table->length));
        out.resize((out.size() + 3) & ~size_t{3}, 0);
    }
    return out;
}

std::vector<uint8_t> BuildPcl5TrueTypeHeader(const Sfnt& s, const TrueTypeSource& f, bool dbcs, uint16_t fontId,
                                             int& format) {
    const auto head = s.Table(SfntTag("head"));
    const auto os2 = s.Table(SfntTag("OS/2"));
    const auto post = s.Table(SfntTag("post"));
    const auto pclt = s.Table(SfntTag("PCLT"));
    const bool hasPclt = pclt.size() >= 54;
    const std::vector<uint8_t> gt = BuildGlobalTrueTypeSegment(s, true);
    // Format 15 counts a segment in 2 bytes: a larger "GT" goes as format 16.
    format = dbcs || gt.size() > 0xFFFF ? 16 : 15;

    TrueTypeFontDescriptor d{};
    PclFontDescriptor& c = d.common;
    c.size.Set(72);
    c.format = static_cast<uint8_t>(format);
    c.fontType = dbcs ? 3 : 11;
    c.styleMsb = hasPclt ? pclt[13] : 3;
    c.cellWidth.Set(static_cast<uint16_t>(static_cast<int16_t>(Be16(head, 40)) - static_cast<int16_t>(Be16(head, 36))));
    c.cellHeight.Set(static_cast<uint16_t>(static_cast<int16_t>(Be16(head, 42)) - static_cast<int16_t>(Be16(head, 38))));
    const bool fixed = dbcs ? f.fixedPitch : Be32(post, 12) != 0;
    c.spacing = fixed ? 0 : 1;
    c.symbolSet.Set(56);
    uint16_t pitch = 0;
    if (fixed) {
        pitch = static_cast<uint16_t>(f.aveCharWidth);
    } else if (uint32_t g = s.MapCode(f.breakChar)) {
        pitch = s.Metrics(g).advance;
    }
    c.pitch.Set(pitch);
    if (hasPclt) c.xHeight.Set(Be16(pclt, 10));
    else c.xHeight.Set(0x0400);
    c.widthType = hasPclt ? pclt[51] : 0;
    c.styleLsb = hasPclt ? pclt[12] : 224;
    c.strokeWeight = hasPclt ? pclt[50] : StrokeWeight(os2);
    c.typefaceLsb = 254;
    c.typefaceMsb = 0;
    if (hasPclt && (pclt[15] || pclt[14])) {
        c.typefaceLsb = pclt[15];
        c.typefaceMsb = pclt[14];
    }
    if (dbcs) {
        c.typefaceLsb = static_cast<uint8_t>(fontId);
        c.typefaceMsb = static_cast<uint8_t>(fontId >> 8);
    }
    c.serifStyle = hasPclt ? pclt[52] : SerifStyle(os2);
    c.quality = 2;
    const uint16_t em = s.UnitsPerEm();
    c.textHeight.Set(static_cast<uint16_t>(em + Be16(os2, 74)));
    c.textWidth.Set(Be16(os2, 2));
    c.lastCode.Set(s.NumGlyphs());
    c.capHeight.Set(hasPclt ? Be16(pclt, 16) : Be16(os2, 70));
    c.fontNumber.Set(hasPclt ? Be32(pclt, 6) : 0);
    FaceName(c.fontName, f.family);
    d.scaleFactor.Set(em);
    d.masterUnderlinePosition.Set(static_cast<uint16_t>(-(em / 5)));
    d.masterUnderlineThickness.Set(em / 20);
    d.scalingTechnology = 1;
    d.variety = 0;

    std::vector<uint8_t> out(sizeof d);
    std::memcpy(out.data(), &d, sizeof d);
    auto segment = [&](const char* name, std::span<const uint8_t> body) {
        out.push_back(static_cast<uint8_t>(name[0]));
        out.push_back(static_cast<uint8_t>(name[1]));
        if (format == 16) PutBe32(out, static_cast<uint32_t>(body.size()));
        else PutBe16(out, static_cast<uint32_t>(body.size()));
        Append(out, body);
    };
    static constexpr uint8_t kCc[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    static constexpr uint8_t kCe[8] = {0, 0, 0, 2, 0xFF, 0xFF, 0, 0};
    segment("CC", kCc);
    if (format == 16) segment("CE", kCe);
    uint8_t panose[10] = {};
    for (size_t i = 0; i < 10 && 32 + i < os2.size(); ++i) panose[i] = os2[32 + i];
    segment("PA", panose);
    segment("GT", gt);
    out.push_back(0xFF);
    out.push_back(0xFF);
    if (format == 16) PutBe32(out, 0);
    else PutBe16(out, 0);
    out.push_back(0);  // reserved
    uint8_t sum = 0;
    for (size_t i = 64; i < out.size(); ++i) sum = static_cast<uint8_t>(sum + out[i]);
    out.push_back(static_cast<uint8_t>(256 - sum));
    return out;
}

std::vector<uint8_t> BuildXlTrueTypeHeader(const Sfnt& s) {
    std::vector<uint8_t> out = {0, 0, 0x02, 0x75, 1, 0};
    PutBe16(out, s.NumGlyphs());
    const std::vector<uint8_t> gt = BuildGlobalTrueTypeSegment(s, true);
    out.push_back('G');
    out.push_back('T');
    PutBe32(out, static_cast<uint32_t>(gt.size()));
    Append(out, gt);
    for (uint8_t b : {0xFF, 0xFF, 0, 0, 0, 0}) out.push_back(b);
    return out;
}

uint16_t BlockSymbolSetValue(uint32_t block) { return static_cast<uint16_t>(block + (block & 0xFFF0) + 2049); }

std::string BlockSymbolSetSelection(uint16_t value) {
    return "\x1b(" + std::to_string(value / 32) + static_cast<char>(64 + value % 32);
}

DownloadedFonts& Downloads(DeviceRecord& r) {
    if (!r.downloads) r.downloads = std::make_shared<DownloadedFonts>();
    return *r.downloads;
}

void StartDownloadedFonts(DeviceRecord& r) {
    ResetDownloadedFonts(Downloads(r), r.devmode ? r.devmode->memoryMegabytes : 0);
}

void FreeDownloadedFonts(DeviceRecord& r) { r.downloads.reset(); }

bool GlyphIsSendable(const Sfnt& s, uint32_t glyph) {
    if (glyph >= s.NumGlyphs()) return false;
    std::vector<uint16_t> parts;
    return s.AllComponents(glyph, parts);
}

namespace {

bool Xl(const DeviceRecord& r) { return r.language == Language::PclXl; }

void NameFont(DeviceRecord& r, DownloadedFonts& d, uint16_t id) {
    if (d.namedFontId == id) return;
    SendEscape(r, '*', 'c', 'D', id);
    d.namedFontId = id;
}

std::string XlFontName(uint16_t id) { return std::to_string(id); }

void XlFontNameAttr(DeviceRecord& r, uint16_t id) {
    const std::string name = XlFontName(id);
    XlAttrUByteArray(r, Attr::FontName, std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
}

// Sends the deletion of a font from the printer.
void RemoveFromPrinter(DeviceRecord& r, DownloadedFonts& d, const DownloadedFontEntry& e) {
    if (Xl(r)) {
        XlFontNameAttr(r, e.fontId);
        XlOperator(r, Op::RemoveFont);
    } else {
        SendEscape(r, '*', 'c', 'D', e.fontId);
        SpoolWrite(r, "\x1b*c2F");
        d.namedFontId = e.fontId;
    }
    // The printer may have fallen back to another font: select again.
    if (d.selectedFontId == e.fontId) d.selectedFontId = 0xFFFF;
}

bool MakeRoom(DeviceRecord& r, DownloadedFonts& d, int64_t need) {
    const bool ok = ReclaimPrinterMemory(d, need, [&](DownloadedFontEntry& e) { RemoveFromPrinter(r, d, e); });
    if (!ok) d.exhausted = true;
    return ok;
}

// The font's entry of the given form (the head of its block chain).
uint16_t FindEntry(DownloadedFonts& d, const TrueTypeSource& f, FontForm form) {
    const uint32_t kind = (form == FontForm::Bitmap ? kKindBitmap : 0) | (f.simulations & (kSimBold | kSimItalic));
    for (size_t i = 0; i < d.entries.size(); ++i) {
        const DownloadedFontEntry& e = d.entries[i];
        if (e.continuation) continue;
        if ((e.kind & kKindBitmap) != (kind & kKindBitmap)) continue;
        if (e.uniq == f.uniq && e.kind == kind) return static_cast<uint16_t>(i);
        if (form == FontForm::Outline && f.ttUniq && e.ttUniq == f.ttUniq && e.kind == kind) return static_cast<uint16_t>(i);
    }
    const uint16_t i = AddEntry(d);
    if (i == kNoEntry) return i;
    DownloadedFontEntry& e = d.entries[i];
    e.uniq = f.uniq;
    e.ttUniq = f.ttUniq;
    e.kind = kind;
    e.dbcs = IsDbcsCharSet(f.winCharSet);
    return i;
}

// The entry of block `block` in the chain starting at `head`, added when
// missing; it shares the head's table buffer.
uint16_t ChainEntry(DownloadedFonts& d, uint16_t head, uint32_t block) {
    uint16_t at = head;
    for (;;) {
        DownloadedFontEntry& e = d.entries[at];
        if (e.block == 0) {
            e.block = static_cast<uint16_t>(block + 1);
            return at;
        }
        if (e.block == block + 1) return at;
        if (e.chainNext == at) break;
        at = e.chainNext;
    }
    const uint16_t added = AddEntry(d);
    if (added == kNoEntry) return added;
    DownloadedFontEntry& h = d.entries[head];
    DownloadedFontEntry& e = d.entries[added];
    e.uniq = h.uniq;
    e.ttUniq = h.ttUniq;
    e.kind = h.kind;
    e.dbcs = h.dbcs;
    e.tables = h.tables;
    e.block = static_cast<uint16_t>(block + 1);
    e.continuation = 1;
    d.entries[at].chainNext = added;
    return added;
}

void MarkUsed(DownloadedFonts& d, uint16_t index) {
    DownloadedFontEntry& e = d.entries[index];
    e.inUse = 1;
    e.lastPage = d.page;
    TouchEntry(d, index);
}

// The entry's own copy of the font file, and the font in it.
std::optional<Sfnt> EntryFont(DownloadedFontEntry& e, const TrueTypeSource& f) {
    if (!e.tables) {
        auto s = UsableTrueType(f.file, f.family);
        if (!s) return std::nullopt;
        auto buffer = std::make_shared<FontTableBuffer>();
        buffer->file.assign(f.file.begin(), f.file.end());
        buffer->directoryAt = s->DirectoryOffset();
        e.tables = std::move(buffer);
    }
    return Sfnt::Open(e.tables->file, e.tables->directoryAt);
}

bool SendHeader(DeviceRecord& r, DownloadedFonts& d, DownloadedFontEntry& e, const TrueTypeSource& f, FontForm form,
                const Sfnt* s) {
    if (e.flags & 1) return true;
    std::vector<uint8_t> data;
    int format = 0;
    if (form == FontForm::Outline) {
        data = Xl(r) ? BuildXlTrueTypeHeader(*s) : BuildPcl5TrueTypeHeader(*s, f, e.dbcs, e.fontId, format);
    } else if (Xl(r)) {
        data = {0, 0, 0x02, 0x75, 254, 0, 0x01, 0x00, 'B', 'R', 0, 0, 0, 4};
        PutBe16(data, r.resolution);
        PutBe16(data, r.resolution);
        for (uint8_t b : {0xFF, 0xFF, 0, 0, 0, 0}) data.push_back(b);
    } else {
        const double em = EmPixels(f.xform, f.unitsPerEm);
        const double scale = f.unitsPerEm ? em / f.unitsPerEm : 0;
        BitmapFontDescriptor b{};
        PclFontDescriptor& c = b.common;
        c.size.Set(68);
        c.format = 20;
        c.fontType = 2;
        const auto ascent = static_cast<int32_t>(std::lround(static_cast<uint16_t>(f.winAscender) * scale));
        const auto descent = static_cast<int32_t>(std::lround(static_cast<uint16_t>(f.winDescender) * scale));
        c.baseline.Set(static_cast<uint32_t>(ascent));
        c.cellWidth.Set(static_cast<uint32_t>(std::lround(f.maxCharInc * scale)));
        c.cellHeight.Set(static_cast<uint32_t>(ascent + descent));
        c.spacing = 1;
        c.symbolSet.Set(629);
        c.pitch.Set(static_cast<uint32_t>(4 * std::lround(f.aveCharWidth * scale)));
        const auto emPx = static_cast<int32_t>(std::lround(em));
        c.height.Set(static_cast<uint32_t>(4 * MulDiv(emPx, 72, r.resolution)));
        c.xHeight.Set(static_cast<uint32_t>(3 * MulDiv(emPx, 72, r.resolution)));
        c.typefaceLsb = 254;
        c.lastCode.Set(255);
        FaceName(c.fontName, f.family);
        b.xResolution.Set(r.resolution);
        b.yResolution.Set(r.resolution);
        data.resize(sizeof b);
        std::memcpy(data.data(), &b, sizeof b);
    }
    if (!MakeRoom(r, d, static_cast<int64_t>(data.size()))) return false;
    if (Xl(r)) {
        XlFontNameAttr(r, e.fontId);
        XlAttrUByte(r, Attr::FontFormat, 0);
        XlOperator(r, Op::BeginFontHeader);
        XlAttrUInt16(r, Attr::FontHeaderLength, static_cast<uint16_t>(std::min<size_t>(data.size(), 0xFFFF)));
        // A header over 65535 bytes goes in several blocks.
        for (size_t at = 0; at < data.size(); at += 0xFFFF) {
            const size_t n = std::min<size_t>(data.size() - at, 0xFFFF);
            if (at) XlAttrUInt16(r, Attr::FontHeaderLength, static_cast<uint16_t>(n));
            XlOperator(r, Op::ReadFontHeader);
            XlDataLength(r, static_cast<uint32_t>(n));
            SpoolBytes(r, std::span(data).subspan(at, n));
        }
        XlOperator(r, Op::EndFontHeader);
    } else {
        NameFont(r, d, e.fontId);
        SpoolFormat(r, "\x1b)s%dW", {static_cast<uint32_t>(data.size())});
        SpoolBytes(r, data);
    }
    e.flags |= 1;
    ChargeEntry(d, e, static_cast<uint32_t>(data.size()));
    return true;
}

// A PCL 5 outline character (ESC*c#E, then ESC(s#W pieces).
void SendPcl5Glyph(DeviceRecord& r, DownloadedFonts& d, uint16_t fontId, uint16_t code, uint16_t glyph,
                   std::span<const uint8_t> data) {
    NameFont(r, d, fontId);
    SendEscape(r, '*', 'c', 'E', code);
    std::vector<uint8_t> body;
    PutBe16(body, static_cast<uint32_t>(data.size() + 4));
    PutBe16(body, glyph);
    Append(body, data);
    uint8_t sum = 0;
    for (uint8_t b : body) sum = static_cast<uint8_t>(sum + b);
    body.push_back(0);
    body.push_back(static_cast<uint8_t>(256 - sum));
    size_t at = 0;
    bool first = true;
    while (at < body.size()) {
        const std::vector<uint8_t> head = first ? std::vector<uint8_t>{15, 0, 2, 15} : std::vector<uint8_t>{15, 1};
        size_t n = std::min<size_t>(body.size() - at, 32765 - head.size());
        // The reserved byte and the checksum stay with the last piece.
        if (body.size() - at - n == 1) --n;
        SpoolFormat(r, "\x1b(s%dW", {static_cast<uint32_t>(head.size() + n)});
        SpoolBytes(r, head);
        SpoolBytes(r, std::span(body).subspan(at, n));
        at += n;
        first = false;
    }
}

// A PCL XL outline character: class 0, or class 1 (with its metrics) for a
// double-byte font.
void SendXlGlyph(DeviceRecord& r, uint16_t fontId, uint16_t code, uint16_t glyph, std::span<const uint8_t> data,
                 const Sfnt& s, bool classOne) {
    std::vector<uint8_t> body = {1, static_cast<uint8_t>(classOne ? 1 : 0)};
    PutBe16(body, static_cast<uint32_t>(data.size() + (classOne ? 8 : 4)));
    if (classOne) {
        const Sfnt::HMetric m = s.Metrics(glyph);
        PutBe16(body, static_cast<uint16_t>(m.lsb));
        PutBe16(body, m.advance);
    }
    PutBe16(body, glyph);
    Append(body, data);
    XlFontNameAttr(r, fontId);
    XlOperator(r, Op::BeginChar);
    XlAttrUInt16(r, Attr::CharCode, code);
    XlAttrUInt16(r, Attr::CharDataSize, static_cast<uint16_t>(std::min<size_t>(body.size(), 0xFFFF)));
    XlOperator(r, Op::ReadChar);
    XlDataLength(r, static_cast<uint32_t>(body.size()));
    SpoolBytes(r, body);
    XlOperator(r, Op::EndChar);
}

size_t OutlineCost(size_t glyphBytes) { return glyphBytes + 10; }

bool EnsureOutline(DeviceRecord& r, DownloadedFonts& d, const TrueTypeSource& f, uint32_t glyph, GlyphCode& out) {
    const uint16_t head = FindEntry(d, f, FontForm::Outline);
    if (head == kNoEntry) return false;
    const uint32_t block = glyph / kBlockSize;
    const bool xl = Xl(r);
    const uint16_t index = xl ? ChainEntry(d, head, block) : head;
    if (index == kNoEntry) return false;
    // Tables are read through the head's buffer (a reclaimed head loads it again).
    auto s = EntryFont(d.entries[head], f);
    if (!s) return false;
    if (index != head) d.entries[index].tables = d.entries[head].tables;
    if (glyph >= s->NumGlyphs()) return false;
    std::vector<uint16_t> parts;
    if (!s->AllComponents(glyph, parts)) return false;
    MarkUsed(d, index);
    DownloadedFontEntry* e = &d.entries[index];
    if (!SendHeader(r, d, *e, f, FontForm::Outline, &*s)) return false;
    out.entry = index;
    out.fontId = e->fontId;
    out.code = static_cast<uint8_t>(glyph % kBlockSize + 32);
    if (!xl) {
        out.symbolSet = BlockSymbolSetValue(block);
        if (!d.blockSetsDefined.test(block)) {
            SendEscape(r, '*', 'c', 'R', out.symbolSet);
            SpoolWrite(r, "\x1b(f466W");
            SymbolSetHeader h{};
            h.size.Set(18);
            h.value.Set(out.symbolSet);
            h.format = 3;
            h.type = 2;
            h.firstCode.Set(32);
            h.lastCode.Set(255);
            h.requirements[7] = 1;
            SpoolWrite(r, &h, sizeof h);
            std::vector<uint8_t> codes;
            for (uint32_t i = 0; i < kBlockSize; ++i) PutBe16(codes, block * kBlockSize + 256 + i);
            SpoolBytes(r, codes);
            d.blockSetsDefined.set(block);
        }
    }
    const bool sentAsCode = xl ? e->blockBits.test(out.code) : e->glyphBits.Test(glyph);
    if (sentAsCode) return true;
    // The glyph and the components the printer does not have yet, each
    // checked against the memory before it is sent and marked only once it
    // was: a glyph that finds no room stays unmarked and the run prints as
    // graphics.
    const uint16_t glyphCode = xl ? out.code : static_cast<uint16_t>(glyph + 256);
    auto data = s->Glyph(glyph);
    if (!MakeRoom(r, d, static_cast<int64_t>(OutlineCost(data.size())))) return false;
    e = &d.entries[index];
    if (xl) SendXlGlyph(r, e->fontId, glyphCode, static_cast<uint16_t>(glyph), data, *s, e->dbcs);
    else SendPcl5Glyph(r, d, e->fontId, glyphCode, static_cast<uint16_t>(glyph), data);
    ChargeEntry(d, *e, static_cast<uint32_t>(OutlineCost(data.size())));
    if (xl) e->blockBits.set(out.code);
    else e->glyphBits.Set(glyph);
    for (uint16_t c : parts) {
        e = &d.entries[index];
        if (e->glyphBits.Test(c) || e->componentBits.Test(c)) continue;
        auto part = s->Glyph(c);
        if (!MakeRoom(r, d, static_cast<int64_t>(OutlineCost(part.size())))) return false;
        e = &d.entries[index];
        if (xl) SendXlGlyph(r, e->fontId, kComponentCode, c, part, *s, e->dbcs);
        else SendPcl5Glyph(r, d, e->fontId, kComponentCode, c, part);
        ChargeEntry(d, *e, static_cast<uint32_t>(OutlineCost(part.size())));
        e->componentBits.Set(c);
    }
    return true;
}

bool EnsureBitmap(DeviceRecord& r, DownloadedFonts& d, const TrueTypeSource& f, uint32_t glyph, GlyphCode& out) {
    const uint16_t head = FindEntry(d, f, FontForm::Bitmap);
    if (head == kNoEntry) return false;
    const uint16_t index = ChainEntry(d, head, glyph / kBlockSize);
    if (index == kNoEntry) return false;
    MarkUsed(d, index);
    if (!SendHeader(r, d, d.entries[index], f, FontForm::Bitmap, nullptr)) return false;
    DownloadedFontEntry* e = &d.entries[index];
    out.entry = index;
    out.fontId = e->fontId;
    out.code = static_cast<uint8_t>(glyph % kBlockSize + 32);
    if (e->blockBits.test(out.code)) return true;
    BitmapGlyph g;
    if (!f.bitmap || !f.bitmap(glyph, g)) return false;
    const size_t rowBytes = (g.width + 7) / 8;
    if (g.rows.size() < rowBytes * g.height) return false;
    const size_t bytes = rowBytes * g.height;
    if (Xl(r) && 10 + bytes > 0xFFFF) return false;
    if (!MakeRoom(r, d, static_cast<int64_t>(bytes + 16))) return false;
    e = &d.entries[index];
    if (Xl(r)) {
        std::vector<uint8_t> body = {0, 0};
        PutBe16(body, static_cast<uint16_t>(g.left));
        PutBe16(body, static_cast<uint16_t>(-g.top));
        PutBe16(body, g.width);
        PutBe16(body, g.height);
        body.insert(body.end(), g.rows.begin(), g.rows.begin() + static_cast<ptrdiff_t>(bytes));
        XlFontNameAttr(r, e->fontId);
        XlOperator(r, Op::BeginChar);
        XlAttrUInt16(r, Attr::CharCode, out.code);
        XlAttrUInt16(r, Attr::CharDataSize, static_cast<uint16_t>(body.size()));
        XlOperator(r, Op::ReadChar);
        XlDataLength(r, static_cast<uint32_t>(body.size()));
        SpoolBytes(r, body);
        XlOperator(r, Op::EndChar);
    } else {
        NameFont(r, d, e->fontId);
        SendEscape(r, '*', 'c', 'E', out.code);
        BitmapCharDescriptor c{};
        c.format = 4;
        c.descriptorSize = 14;
        c.charClass = 1;
        c.leftOffset.Set(static_cast<uint16_t>(g.left));
        c.topOffset.Set(static_cast<uint16_t>(-g.top));
        c.width.Set(g.width);
        c.height.Set(g.height);
        c.deltaX.Set(static_cast<uint16_t>(g.advanceQuarterDots));
        size_t at = 0;
        bool first = true;
        do {
            const size_t n = std::min<size_t>(bytes - at, 16384);
            if (first) {
                SpoolFormat(r, "\x1b(s%dW", {static_cast<uint32_t>(sizeof c + n)});
                SpoolWrite(r, &c, sizeof c);
            } else {
                SpoolFormat(r, "\x1b(s%dW", {static_cast<uint32_t>(2 + n)});
                SpoolWrite(r, "\x04\x01", 2);
            }
            SpoolBytes(r, std::span(g.rows).subspan(at, n));
            at += n;
            first = false;
        } while (at < bytes);
    }
    ChargeEntry(d, *e, static_cast<uint32_t>(bytes + 16));
    e->blockBits.set(out.code);
    return true;
}

}  // namespace

bool EnsureGlyphDownloaded(DeviceRecord& r, const TrueTypeSource& f, FontForm form, uint32_t glyph, GlyphCode& out) {
    DownloadedFonts& d = Downloads(r);
    if (d.page != r.pageCount) {
        // A new page: nothing is in use on it yet.
        for (DownloadedFontEntry& e : d.entries) e.inUse = 0;
        d.page = r.pageCount;
    }
    if (glyph > 0xFFFF) return false;
    return form == FontForm::Outline ? EnsureOutline(r, d, f, glyph, out) : EnsureBitmap(r, d, f, glyph, out);
}

}  // namespace pclrend
