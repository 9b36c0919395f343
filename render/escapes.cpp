#include "render/escapes.h"

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "common/escape_records.h"
#include "render/device_record_image.h"
#include "render/job_header.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/spool_stream.h"

namespace pclrend {

namespace esc = zq::esc;
namespace vemf = zq::vemf;

namespace {

constexpr ULONG kFail = static_cast<ULONG>(-1);

struct Args {
    ULONG code;
    ULONG inSize;
    const uint8_t* in;
    ULONG outSize;
    uint8_t* out;
};

uint32_t InU32(const Args& a, size_t at = 0) {
    uint32_t v = 0;
    if (a.in && at + 4 <= a.inSize) std::memcpy(&v, a.in + at, 4);
    return v;
}

void OutU32(const Args& a, uint32_t v) {
    if (a.out && a.outSize >= 4) std::memcpy(a.out, &v, 4);
}

// Sets the control values of `ids` in the private block to `value` and
// returns the old ones.
std::vector<std::pair<size_t, uint16_t>> SetControls(std::vector<uint8_t>& block, std::initializer_list<uint16_t> ids,
                                                     uint16_t value) {
    std::vector<std::pair<size_t, uint16_t>> old;
    for (size_t at = 0; at + 8 <= block.size();) {
        uint16_t len, id;
        std::memcpy(&len, &block[at], 2);
        std::memcpy(&id, &block[at + 2], 2);
        if ((len & 0xFF) == 0 || len < 8 || len > block.size() - at) break;
        for (uint16_t want : ids)
            if (id == want) {
                uint16_t was;
                std::memcpy(&was, &block[at + 6], 2);
                old.emplace_back(at + 6, was);
                std::memcpy(&block[at + 6], &value, 2);
            }
        at += len;
    }
    return old;
}

bool Supported(const DeviceRecord& r, ULONG code) {
    if (code == 8 || code == 17 || code == 19 || code == 20 || (code >= 5000 && code <= 5014) ||
        (code >= 5017 && code <= 5021))
        return true;
    if (LanguageIsStream(r)) return code == 16377 || code == 16379 || code == 16380;
    return code == 16376 || code == 16378 || code == 16381 || code == 16382 || code == 16383;
}

ULONG QueryEscSupport(const DeviceRecord& r, const Args& a) {
    if (a.inSize < 4 || !a.in) return 0;
    const uint32_t code = InU32(a);
    if (r.outputMode == 4) {
        switch (code) {
        case esc::kManualDuplexQuery:
        case esc::kInstructionPage:
        case esc::kBlockAndNewPage:
        case esc::kControlRecords:
        case esc::kAttachControlRecords:
        case 16376:
        case 16378:
        case 16381:
        case 16382:
        case 16383: return 1;
        default: break;
        }
    }
    return Supported(r, code) ? 1 : 0;
}

// The 36-byte drawing-request answer; `full` when the kind is not 0.
void DrawAnswer(const DeviceRecord& r, const Args& a, uint16_t kind, bool withScale) {
    if (!a.out || a.outSize < sizeof(esc::DrawRequest)) return;
    auto* d = reinterpret_cast<esc::DrawRequest*>(a.out);
    d->kind = kind;
    if (kind) {
        d->halfWidth = r.geometry.printableWidth / 2u;
        d->halfHeight = r.geometry.printableLength / 2u;
        d->resolution = r.resolution;
        d->zero[0] = d->zero[1] = 0;
        d->width = r.geometry.printableWidth;
        d->height = r.geometry.printableLength;
    }
    if (kind || withScale) {
        const float scale = 2.56f;
        std::memcpy(&d->scale, &scale, 4);
    }
}

uint16_t OverlayKind(const DeviceRecord& r, uint32_t page) {
    const auto& f = r.stream->f;
    if (f.overlayParityMode == 1) return page % 2 ? f.overlayCodeFirst : f.overlayCodeOther;
    return page == 1 ? f.overlayCodeFirst : f.overlayCodeOther;
}

void FrameSet(const DeviceRecord& r, uint8_t& enable, uint8_t& code) {
    const auto& f = r.stream->f;
    if (r.duplex != 1 && (r.changeFlags & 0x04)) enable = f.frameEnableB, code = f.frameCodeB;
    else enable = f.frameEnableA, code = f.frameCodeA;
}

// Opens the PCL page for a drawing request that comes before the page's
// first drawing; false when the page start failed.
bool OpenPclPage(DeviceRecord& r) {
    if (r.jobState & kJobPageOpen) return true;
    ++r.pageCount;
    ++r.sheetPages;
    if (JobHeader(r) < 0) return false;
    r.jobState |= kJobPageOpen;
    return true;
}

ULONG DrawRequest(DeviceRecord& r, const Args& a) {
    StreamState& s = *r.stream;
    const bool stream = r.outputMode == 4;
    const bool started = r.jobState >= kJobOpen;
    const bool open = r.jobState & kJobPageOpen;
    if (!stream && r.manualDuplexPrompt && a.code != esc::kOverlayAtStart) {
        DrawAnswer(r, a, 0, true);
        return 1;
    }
    uint16_t kind = 0;
    switch (a.code) {
    case esc::kOverlayAtStart:
        if (!s.f.overlayEnabled || (!stream && r.manualDuplexPrompt == 1)) {
            DrawAnswer(r, a, 0, false);
            return 1;
        }
        if (!started) return kFail;
        if (!stream && !OpenPclPage(r)) return kFail;
        kind = OverlayKind(r, open || !stream ? r.pageCount : r.pageCount + 1u);
        break;
    case esc::kOverlayAtEnd:
        if (s.f.overlayEnabled == 1) {
            DrawAnswer(r, a, 0, true);
            return 1;
        }
        if (!started) return kFail;
        if (!stream) {
            if (!OpenPclPage(r)) return kFail;
            BandFlush(r);
            s.flushDone = true;
        }
        kind = OverlayKind(r, r.pageCount);
        break;
    case esc::kFrameAtStart:
    case esc::kFrameAtEnd: {
        const uint16_t paper = r.geometry.paperCodeAsked;
        uint8_t enable = 0, code = 0;
        FrameSet(r, enable, code);
        const bool atStart = a.code == esc::kFrameAtStart;
        if (paper < 640 || paper > 671 || (atStart ? enable == 0 : enable == 1)) {
            if (!stream && !atStart) s.flushDone = false;
            DrawAnswer(r, a, 0, true);
            return 1;
        }
        if (!started) return kFail;
        if (!stream) {
            if (atStart && !OpenPclPage(r)) return kFail;
            if (!atStart) {
                if (!s.flushDone) BandFlush(r);
                s.flushDone = false;
            }
        }
        kind = code;
        break;
    }
    default: return 0;
    }
    DrawAnswer(r, a, kind, true);
    if (kind) s.drawRequestOpen = 1;
    return 1;
}

// Resolution of a DEVMODE for the page-geometry answer.
uint32_t DevmodeResolution(const zq::PrivateDevmode& dm) {
    const int q = dm.dm.dmPrintQuality;
    if (q > 0) return static_cast<uint32_t>(q);
    const uint16_t* table = dm.resolutions;  // high, medium, low, draft
    int i = q >= -4 && q <= -1 ? q + 4 : 0;  // -4 -> 0 (high) ... -1 -> 3 (draft)
    for (; i > 0 && table[i] == 0; --i) {
    }
    return table[i];
}

ULONG Geometry(const Args& a, size_t base) {
    if (a.inSize != zq::kPrivateDevmodeSize || a.outSize != sizeof(esc::PageGeometry) || !a.in || !a.out) return kFail;
    zq::PrivateDevmode dm;
    std::memcpy(&dm, a.in, sizeof dm);
    auto word = [&](size_t at) {
        uint16_t v;
        std::memcpy(&v, a.in + at, 2);
        return static_cast<uint32_t>(v);
    };
    esc::PageGeometry g{};
    g.value[0] = word(base);
    g.value[1] = word(base + 2);
    g.value[2] = word(base + 8);
    g.value[3] = word(base + 10);
    g.value[4] = word(base + 4) + g.value[2] - 1;
    g.value[5] = word(base + 6) + g.value[3] - 1;
    g.defaultSource = dm.dm.dmDefaultSource;
    g.resolution = DevmodeResolution(dm);
    std::memcpy(a.out, &g, sizeof g);
    return 1;
}

// A page record inside an escape's input: its tags by number.
struct PageTags {
    std::vector<std::pair<uint32_t, size_t>> tags;  // tag, offset of the payload
    const uint8_t* base = nullptr;
    bool Parse(const uint8_t* p, size_t size) {
        base = p;
        if (size < sizeof(vemf::PageRecordHead)) return false;
        vemf::PageRecordHead h;
        std::memcpy(&h, p, sizeof h);
        if (h.size != size || h.tagOffset < sizeof h || h.tagOffset > size || h.tagBytes != size - h.tagOffset) return false;
        size_t at = h.tagOffset;
        while (at + 8 <= size) {
            vemf::TagHead t;
            std::memcpy(&t, p + at, 8);
            if (t.size < 8 || t.size > size - at) return false;
            if (t.tag == vemf::kTagEnd) return true;
            tags.emplace_back(t.tag, at + 8);
            at += t.size;
        }
        return false;
    }
    bool Get(uint32_t tag, uint32_t& v, size_t index = 0) const {
        for (const auto& [t, at] : tags)
            if (t == tag) {
                std::memcpy(&v, base + at + 4 * index, 4);
                return true;
            }
        return false;
    }
};

ULONG SamePageSetup(const Args& a) {
    if (a.inSize < 8 || a.outSize != 4 || !a.in || !a.out) return kFail;
    const uint32_t first = InU32(a, 4 + 4);
    if (first < 8 || first > a.inSize - 4) return kFail;
    const uint32_t second = InU32(a, 4 + first + 4);
    if (4 + static_cast<size_t>(first) + 8 > a.inSize || second < 8 || second > a.inSize - 4 - first) return kFail;
    PageTags p1, p2;
    if (!p1.Parse(a.in + 4, first) || !p2.Parse(a.in + 4 + first, second)) return kFail;
    bool same = true;
    for (uint32_t tag : {vemf::kTagMedia, vemf::kTagResolution, vemf::kTagTray}) {
        uint32_t x = 0, y = 0;
        const bool hx = p1.Get(tag, x), hy = p2.Get(tag, y);
        same &= hx == hy && x == y;
    }
    uint32_t o1 = 0, o2 = 0, w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    p1.Get(vemf::kTagOrientation, o1);
    p2.Get(vemf::kTagOrientation, o2);
    p1.Get(vemf::kTagPaperExtent, w1, 2);
    p1.Get(vemf::kTagPaperExtent, h1, 3);
    p2.Get(vemf::kTagPaperExtent, w2, 2);
    p2.Get(vemf::kTagPaperExtent, h2, 3);
    if (o1 != o2) std::swap(w2, h2);
    same &= w1 == w2 && h1 == h2;
    OutU32(a, same ? 1 : 0);
    return 1;
}

// Input {uint32 total; k page records, each walked by its own size};
// output {uint32 4 + n; the first record with the others merged into it}.
ULONG MergePages(const Args& a) {
    if (!a.in || !a.out || a.inSize < 4 + sizeof(vemf::PageRecordHead) || InU32(a) != a.inSize) return kFail;
    std::vector<PageTags> pages;
    for (size_t at = 4; at < a.inSize;) {
        if (a.inSize - at < 8) return kFail;
        const uint32_t size = InU32(a, at + 4);
        if (size < 8 || size > a.inSize - at) return kFail;
        pages.emplace_back();
        if (!pages.back().Parse(a.in + at, size)) return kFail;
        at += size;
    }
    const uint32_t first = InU32(a, 8);
    if (pages.empty() || a.outSize < 4 + size_t{first}) return kFail;
    const uint32_t total = 4 + first;
    std::memcpy(a.out, &total, 4);
    std::memcpy(a.out + 4, a.in + 4, first);
    uint8_t* rec = a.out + 4;
    const PageTags& p = pages.front();
    auto put = [&](uint32_t tag, uint32_t v) {
        for (const auto& [t, at] : p.tags)
            if (t == tag) std::memcpy(rec + at, &v, 4);
    };
    uint32_t v = 0;
    if (p.Get(vemf::kTagColour, v)) {
        for (const PageTags& q : pages)
            if (uint32_t w = 0; q.Get(vemf::kTagColour, w)) v = std::max(v, w);
        put(vemf::kTagColour, v);
    }
    if (p.Get(28, v) && v == 0) {
        for (size_t i = 1; i < pages.size(); ++i)
            if (uint32_t w = 0; pages[i].Get(28, w) && w == 1) v = 1;
        put(28, v);
    }
    if (p.Get(21, v)) {
        for (const PageTags& q : pages)
            if (uint32_t w = 0; q.Get(21, w)) v = std::min(v, w);
        put(21, v);
    }
    if (p.Get(22, v)) {
        bool agree = true;
        for (const PageTags& q : pages) {
            uint32_t w = 0;
            agree &= q.Get(22, w) && w == v;
        }
        put(22, agree ? v : 4);
    }
    return 1;
}

ULONG NormalisePage(const Args& a) {
    // Input and output: {uint32 4 + n; page record}.
    if (!a.in || !a.out || a.inSize > a.outSize || a.inSize < 8) return 0;
    const uint32_t total = InU32(a);
    if (total != a.inSize) return kFail;
    PageTags p;
    if (!p.Parse(a.in + 4, a.inSize - 4)) return kFail;
    std::memcpy(a.out, a.in, a.inSize);
    uint8_t* rec = a.out + 4;
    auto put = [&](uint32_t tag, size_t index, uint32_t v) {
        for (const auto& [t, at] : p.tags)
            if (t == tag) std::memcpy(rec + at + 4 * index, &v, 4);
    };
    uint32_t orientation = 1;
    const bool hasOrientation = p.Get(vemf::kTagOrientation, orientation);
    const int32_t o = static_cast<int32_t>(orientation);
    const bool turned = o == 2 || o == -2;
    if (p.Get(vemf::kTagCopies, orientation)) put(vemf::kTagCopies, 0, 1);
    if (hasOrientation && (turned || o == -1)) put(vemf::kTagOrientation, 0, 1);
    if (turned) {
        uint32_t v[4];
        if (p.Get(vemf::kTagPrintable, v[0], 0) && p.Get(vemf::kTagPrintable, v[1], 1) && p.Get(vemf::kTagPrintable, v[2], 2) &&
            p.Get(vemf::kTagPrintable, v[3], 3)) {
            put(vemf::kTagPrintable, 0, v[1]), put(vemf::kTagPrintable, 1, v[0]);
            put(vemf::kTagPrintable, 2, v[3]), put(vemf::kTagPrintable, 3, v[2]);
        }
        uint32_t w, h;
        if (p.Get(vemf::kTagPaperExtent, w, 2) && p.Get(vemf::kTagPaperExtent, h, 3))
            put(vemf::kTagPaperExtent, 2, h), put(vemf::kTagPaperExtent, 3, w);
    }
    return 1;
}

ULONG SameDevmodeSetup(const Args& a) {
    const size_t dm = zq::kPrivateDevmodeSize;
    if (!a.in || !a.out || a.inSize != 4 + 2 * dm || a.outSize != 4 || InU32(a) != a.inSize) return kFail;
    zq::PrivateDevmode x, y;
    std::memcpy(&x, a.in + 4, dm);
    std::memcpy(&y, a.in + 4 + dm, dm);
    const bool same = x.dm.dmPaperSize == y.dm.dmPaperSize && x.dm.dmPaperLength == y.dm.dmPaperLength &&
                      x.dm.dmPaperWidth == y.dm.dmPaperWidth && x.dm.dmDefaultSource == y.dm.dmDefaultSource &&
                      x.dm.dmPrintQuality == y.dm.dmPrintQuality && x.dm.dmMediaType == y.dm.dmMediaType &&
                      x.option1078 == y.option1078;
    OutU32(a, same ? 1 : 0);
    return 1;
}

ULONG FirstDevmode(const Args& a) {
    const size_t dm = zq::kPrivateDevmodeSize;
    if (!a.in || !a.out || a.inSize < 4 + dm || a.outSize != 4 + dm || InU32(a) != a.inSize) return kFail;
    std::memcpy(a.out, a.in, 4 + dm);
    OutU32(a, static_cast<uint32_t>(4 + dm));
    return 1;
}

ULONG SetCopyCount(DeviceRecord& r, const Args& a) {
    if (!a.in || a.inSize < 2) return kFail;
    int16_t request;
    std::memcpy(&request, a.in, 2);
    if (r.outputMode == 4) {
        const int16_t copies = static_cast<int16_t>(std::clamp<int>(request, 1, 9999));
        if (r.devmode && copies != r.devmode->dm.dmCopies) {
            r.devmode->dm.dmCopies = copies;
            r.copies = copies;
            StreamState& s = *r.stream;
            // The control record of id 3 carries the copies.
            SetControls(s.privateBlock, {3}, static_cast<uint16_t>(copies));
            // Between pages the new count belongs to the page to come.
            if (r.jobState >= kJobOpen && r.pageCount) {
                const size_t page = (r.jobState & kJobPageOpen) ? r.pageCount : r.pageCount + 1u;
                if (s.index.size() < page) s.index.resize(page);
                auto& entry = s.index[page - 1];
                if (!entry.position) {
                    entry.position = s.offset;
                    if (!LanguageIsStream(r)) StreamPrivateBlock(r);
                }
            }
        }
        if (r.devmode) OutU32(a, static_cast<uint32_t>(r.devmode->dm.dmCopies));
        return 1;
    }
    const int16_t copies = static_cast<int16_t>(std::clamp<int>(request, 1, 32767));
    if (copies != r.copies && r.jobState >= kJobOpen && r.language != Language::PclXl)
        SpoolFormat(r, "\x1b&l%dX", {static_cast<int32_t>(copies)});
    r.copies = copies;
    OutU32(a, static_cast<uint32_t>(copies));
    return 1;
}

ULONG Passthrough(DeviceRecord& r, const Args& a) {
    if (!a.in || a.inSize < 2) return r.jobState >= kJobOpen ? kFail : 0;
    uint16_t n;
    std::memcpy(&n, a.in, 2);
    if (r.jobState < kJobOpen) return n;
    // The count never reaches past the input.
    n = static_cast<uint16_t>(std::min<uint32_t>(n, a.inSize - 2));
    if (n < 1) return kFail;
    if (r.outputMode == 4) {
        const vemf::Passthrough head{vemf::kPassthrough, 20u + n, 19, a.inSize, a.outSize};
        StreamAppend(r, &head, sizeof head);
        StreamFlush(r);
        StreamAppend(r, a.in + 2, n);
        StreamFlush(r);
        ++r.stream->pageRecordCount;
        r.stream->pageRecordBytes += 20u + n;
        return n;
    }
    // A banded page takes the data once, in its first band.
    if (r.bandCount > 1 && r.bandIndex != 1) return n;
    SpoolFlush(r);
    SpoolWrite(r, a.in + 2, n);
    SpoolFlush(r);
    return n;
}

ULONG ManualDuplexQuery(DeviceRecord& r, const Args& a) {
    const bool manual = (r.FeatureByte(573) & 0x18) != 0;
    if (manual && r.duplex != 1 && r.pageCount > 1) {
        if (!a.out) return 0;
        if (a.outSize >= sizeof(esc::ManualDuplexAnswer)) {
            const bool upright = r.stamp == kStampPortrait;
            esc::ManualDuplexAnswer ans{r.resolution, upright ? r.geometry.printableWidth : r.geometry.printableLength,
                                        upright ? r.geometry.printableLength : r.geometry.printableWidth,
                                        r.devmode ? r.devmode->separatePages : 0u};
            std::memcpy(a.out, &ans, sizeof ans);
        }
        return r.devmode ? static_cast<ULONG>(r.devmode->dm.dmDuplex) : 0;
    }
    return r.duplex == 1 || r.pageCount <= 1 ? 0 : r.duplex;
}

// A packed DIB's parts, each checked against the bytes given.
struct PackedDib {
    int32_t width = 0, height = 0;
    uint32_t headerBytes = 0;  // header and colour table
    uint32_t bitsBytes = 0;
    bool Parse(const std::vector<uint8_t>& b) {
        if (b.size() < 40) return false;
        uint32_t size, compression, used;
        uint16_t planes, bpp;
        std::memcpy(&size, b.data(), 4);
        std::memcpy(&width, b.data() + 4, 4);
        std::memcpy(&height, b.data() + 8, 4);
        std::memcpy(&planes, b.data() + 12, 2);
        std::memcpy(&bpp, b.data() + 14, 2);
        std::memcpy(&compression, b.data() + 16, 4);
        std::memcpy(&used, b.data() + 32, 4);
        if (size < 40 || size > b.size() || width <= 0 || height == 0 || height == INT32_MIN || width > 65535 ||
            compression != 0 || planes != 1)
            return false;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return false;
        const uint32_t defaults = bpp == 24 ? 0 : 1u << bpp;
        const uint32_t colours = used ? used : defaults;
        if (colours > 256) return false;
        headerBytes = size + 4 * colours;
        if (headerBytes > b.size()) return false;
        bitsBytes = static_cast<uint32_t>(b.size()) - headerBytes;
        const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
        const uint64_t rows = height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height)) : static_cast<uint64_t>(height);
        return stride * rows <= bitsBytes;
    }
};

ULONG InstructionPage(DeviceRecord& r, const Args& a) {
    StreamState& s = *r.stream;
    s.insertBitmap.assign(a.in, a.in + a.inSize);
    if (r.jobState < kJobOpen) {
        s.insertBitmap.clear();
        return 0;
    }
    PackedDib dib;
    if (!s.insertBitmap.empty() && !dib.Parse(s.insertBitmap)) {
        s.insertBitmap.clear();
        return kFail;
    }
    if (r.jobState & kJobPageOpen) StreamSendPage(r);
    const bool manual = (r.FeatureByte(573) & 0x18) != 0;
    if (!manual || !r.devmode || r.devmode->dm.dmDuplex == DMDUP_SIMPLEX || r.pageCount < 2) return 0;
    if (r.devmode->separatePages == 0) return 1;

    // The instruction page stands upright whatever the document's orientation.
    auto& g = r.geometry;
    if (r.stamp != kStampPortrait) {
        std::swap(g.printableWidth, g.printableLength);
        std::swap(g.leftMargin, g.topMargin);
        std::swap(g.width, g.length);
        r.stamp = kStampPortrait;
    }
    if (s.index.size() < r.pageCount + 1u) s.index.resize(r.pageCount + 1u);
    s.index[r.pageCount].position = s.offset;
    if (!LanguageIsStream(r)) {
        const auto old = SetControls(s.privateBlock, {1, 3}, 1);
        StreamPrivateBlock(r);
        for (const auto& [at, value] : old) std::memcpy(&s.privateBlock[at], &value, 2);
    }
    r.copies = 1;
    if (!StreamOpenPage(r)) return kFail;
    if (!s.insertBitmap.empty()) {
        // One inch wide, in the picture's proportions, shrunk to the
        // printable area where it would overflow.
        const int64_t rows = dib.height < 0 ? -static_cast<int64_t>(dib.height) : dib.height;
        int64_t dw = r.resolution, dh = r.resolution * rows / dib.width;
        const int64_t pw = g.printableWidth, ph = g.printableLength;
        if (dw > pw || dh > ph) {
            if (dw * ph >= dh * pw) dh = dh * pw / dw, dw = pw;
            else dw = dw * ph / dh, dh = ph;
        }
        const int32_t x = static_cast<int32_t>(std::max<int64_t>((pw - dw) / 2, g.leftMargin));
        const int32_t y = static_cast<int32_t>(std::max<int64_t>((ph - dh) / 4, g.topMargin));
        zq::vemf::StretchDib head{};
        head.type = vemf::kStretchDIBits;
        head.size = static_cast<uint32_t>(sizeof head + s.insertBitmap.size());
        head.xDest = x, head.yDest = y;
        head.widthSrc = dib.width;
        head.heightSrc = static_cast<int32_t>(rows);
        head.headerOffset = sizeof head;
        head.headerBytes = dib.headerBytes;
        head.bitsOffset = sizeof head + dib.headerBytes;
        head.bitsBytes = dib.bitsBytes;
        head.rop = 204;
        head.widthDest = static_cast<int32_t>(dw), head.heightDest = static_cast<int32_t>(dh);
        std::vector<uint8_t> rec(sizeof head);
        std::memcpy(rec.data(), &head, sizeof head);
        rec.insert(rec.end(), s.insertBitmap.begin(), s.insertBitmap.end());
        StreamRecord(r, rec.data(), rec.size());
        s.pageImageArea += static_cast<uint32_t>(dib.width * rows);
    }
    s.insertBitmap.clear();
    s.pageFlags |= 0x20;
    return 1;
}

ULONG BlockAndNewPage(DeviceRecord& r, const Args& a) {
    StreamState& s = *r.stream;
    if (!a.in || a.inSize == 0) {
        s.insertBlock.clear();
        return 1;
    }
    s.insertBlock.assign(a.in, a.in + a.inSize);
    if (r.jobState < kJobOpen) return 0;
    if (r.jobState & kJobPageOpen) StreamSendPage(r);
    if (!StreamStartPage(r)) return kFail;
    return 1;
}

}  // namespace

ULONG Escape(DeviceRecord& r, ULONG code, ULONG inSize, const void* in, ULONG outSize, void* out) {
    if (!r.stream) return 0;
    const Args a{code, in ? inSize : 0, static_cast<const uint8_t*>(in), out ? outSize : 0, static_cast<uint8_t*>(out)};
    StreamState& s = *r.stream;
    const bool stream = r.outputMode == 4;
    if (!stream && !Supported(r, code)) return 0;
    switch (code) {
    case esc::kQueryEscSupport: return QueryEscSupport(r, a);
    case esc::kSetCopyCount: return SetCopyCount(r, a);
    case esc::kPassthrough: return Passthrough(r, a);
    case esc::kGetTechnology: {
        const char* text = r.language == Language::PclXl ? "PCL XL" : "PCL";
        const size_t need = std::strlen(text) + 1;
        if (!a.out || a.outSize < need) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::memcpy(a.out, text, need);
        return 1;
    }
    case esc::kOverlayAtStart:
    case esc::kOverlayAtEnd:
    case esc::kFrameAtStart:
    case esc::kFrameAtEnd: return DrawRequest(r, a);
    case esc::kOverlayAtStartDone:
    case esc::kOverlayAtEndDone:
    case esc::kFrameAtStartDone:
    case esc::kFrameAtEndDone: s.drawRequestOpen = 0; return 1;
    case esc::kDriverLevel: OutU32(a, esc::kDriverLevelValue); return 1;
    case esc::kSetEscapeFlag: s.escapeFlags |= 1; return 1;
    case esc::kWantsFaceNames: OutU32(a, stream ? 0 : 1); return 1;
    case esc::kFaceNames:
        s.faceCount = a.inSize / esc::kFaceNameSize;
        s.faceNames.assign(a.in, a.in + s.faceCount * esc::kFaceNameSize);
        // Each name ends within its field.
        for (uint32_t i = 0; i < s.faceCount; ++i) s.faceNames[i * esc::kFaceNameSize + esc::kFaceNameSize - 1] = 0;
        return 1;
    case esc::kRecordImage:
        if (a.out) {
            const DeviceRecordImage image = MakeImage(r);
            std::memcpy(a.out, &image, std::min<size_t>(a.outSize, sizeof image));
        }
        return 1;
    case esc::kJobDevmode:
        if (!r.devmode) return 0;
        if (a.out) {
            std::memcpy(a.out, r.devmode.get(), std::min<size_t>(a.outSize, zq::kPrivateDevmodeSize));
        } else if (a.in) {
            std::memcpy(r.devmode.get(), a.in, std::min<size_t>(a.inSize, zq::kPrivateDevmodeSize));
            // The strings the stream reads stay terminated within their fields.
            r.devmode->accountId[sizeof r.devmode->accountId - 1] = 0;
            r.devmode->userName[sizeof r.devmode->userName - 1] = 0;
            r.devmode->computerName[sizeof r.devmode->computerName - 1] = 0;
        }
        return 1;
    case esc::kCancelJob:
        if (a.in && a.inSize >= 1) r.pageSuppressed = a.in[0];
        return 1;
    case esc::kControlRecords:
        if (!stream) return 0;
        s.privateBlock.assign(a.in, a.in + a.inSize);
        return 1;
    case esc::kAttachControlRecords:
        if (!stream) return 0;
        if (r.pageCount && r.jobState >= kJobOpen) {
            if (r.jobState & kJobPageOpen) {
                // The open page already has its place: the block opens the
                // next page, written there so that no page span starts
                // inside another page.
                s.blockPending = true;
                return 1;
            }
            if (s.index.size() < r.pageCount + 1u) s.index.resize(r.pageCount + 1u);
            auto& next = s.index[r.pageCount];
            if (!next.position) next.position = s.offset;
            if (!LanguageIsStream(r)) StreamPrivateBlock(r);
        }
        return 1;
    case esc::kSetNetConvert: s.netConvertRecord = a.inSize >= 4 ? InU32(a) : 0; return 1;
    case esc::kGetNetConvert: OutU32(a, s.netConvertRecord); return 1;
    case esc::kIsStreamLanguage: OutU32(a, LanguageIsStream(r) ? 1 : 0); return 1;
    case esc::kOutputOptions: {
        if (a.inSize < 4) return 1;
        const uint32_t v = InU32(a);
        uint32_t& o = r.manualDuplexFlags;
        if (v == 0) o &= ~0x19u;
        else if (v == 1) o = (o & ~0x10u) | 0x09u;
        else if (v == 2) o = (o & ~0x08u) | 0x11u;
        else if (v == 3) o = (o & ~0x18u) | 0x20u;
        r.changeFlags |= 0x1E2;
        return 1;
    }
    case esc::kAcknowledge: return 1;
    case esc::kPageGeometry: return LanguageIsStream(r) ? 0 : Geometry(a, 1020);
    case esc::kPageGeometryOther: return LanguageIsStream(r) ? 0 : Geometry(a, 858);
    case esc::kNormalisePage: return LanguageIsStream(r) ? NormalisePage(a) : 0;
    case esc::kBlankPageNext: return 0;
    case esc::kSamePageSetup: return LanguageIsStream(r) ? SamePageSetup(a) : 0;
    case esc::kMergePages: return LanguageIsStream(r) ? MergePages(a) : 0;
    case esc::kFirstDevmode: return LanguageIsStream(r) ? 0 : FirstDevmode(a);
    case esc::kSameDevmodeSetup: return LanguageIsStream(r) ? 0 : SameDevmodeSetup(a);
    case esc::kManualDuplexQuery: return stream ? ManualDuplexQuery(r, a) : 0;
    case esc::kBlockAndNewPage: return stream ? BlockAndNewPage(r, a) : 0;
    case esc::kInstructionPage: return stream ? InstructionPage(r, a) : 0;
    default: return 0;
    }
}

}  // namespace pclrend
