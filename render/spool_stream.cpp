#include "render/spool_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/error.h"
#include "render/job_header.h"

namespace pclrend {

namespace vemf = zq::vemf;

namespace {

StreamState& S(DeviceRecord& r) { return *r.stream; }

// Builds a tag list; End() closes it with tag 0.
class TagList {
public:
    void Value(uint32_t tag, uint32_t value) { Put(vemf::TagValue{tag, 12, value}); }
    void Rect(uint32_t tag, int32_t l, int32_t t, int32_t rr, int32_t b) { Put(vemf::TagRect{tag, 24, l, t, rr, b}); }
    void Words(uint32_t tag, std::initializer_list<uint32_t> words) {
        Put(vemf::TagHead{tag, static_cast<uint32_t>(8 + 4 * words.size())});
        for (uint32_t w : words) Put(w);
    }
    void Bytes(uint32_t tag, const std::string& bytes) {
        Put(vemf::TagHead{tag, static_cast<uint32_t>(8 + bytes.size())});
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    template <class T>
    void Put(const T& v) {
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        bytes_.insert(bytes_.end(), p, p + sizeof v);
    }
    void End() { Value(vemf::kTagEnd, 0); }
    const std::vector<uint8_t>& Data() const { return bytes_; }
    uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
};

std::string FixedText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

bool HasManualDuplex(const DeviceRecord& r) { return (r.FeatureByte(573) & 0x18) != 0; }

bool DevmodeDuplexed(const DeviceRecord& r) { return r.devmode && r.devmode->dm.dmDuplex != DMDUP_SIMPLEX; }

uint32_t ManualDuplexCode(const DeviceRecord& r) {
    const uint32_t mode = r.duplex;
    if (LanguageIsStream(r)) return mode & 3;
    const auto& f = r.stream->f;
    const auto& dm = *r.devmode;
    const bool special = (dm.model.modelCode == 28 || dm.model.modelCode == 29) && ((dm.model.flags396 >> 8) & 0x18);
    if (mode == 2) return f.bindingEdge == 2 ? 0x110000 : special ? 0x180000 : 0x150000;
    if (mode == 3) return f.bindingEdge == 2 ? 0x10000 : special ? 0x80000 : 0x50000;
    return mode & 3;
}

void NupGrid(uint32_t n, uint32_t& cols, uint32_t& rows) {
    switch (n) {
    case 2: cols = 1, rows = 2; return;
    case 3: cols = 1, rows = 3; return;
    case 4: cols = 2, rows = 2; return;
    case 6: cols = 3, rows = 2; return;
    case 8: cols = 4, rows = 2; return;
    case 9: cols = 3, rows = 3; return;
    case 12: cols = 4, rows = 3; return;
    case 16: cols = 4, rows = 4; return;
    default: cols = 1, rows = n; return;
    }
}

void TrayTags(const DeviceRecord& r, TagList& tags) {
    const auto& f = r.stream->f;
    if (LanguageIsStream(r)) {
        tags.Value(vemf::kTagTray, f.trayCode[0]);
        return;
    }
    if (!f.perSheetTrays) return;
    for (size_t i = 0; i < 11; ++i)
        if (f.slotKind[i] == 7 && f.slotTray[i] < 11) tags.Value(vemf::kTagTray, f.trayCode[i]);
}

void DocumentHeader(DeviceRecord& r) {
    StreamState& s = S(r);
    const auto& f = s.f;
    const auto& dm = *r.devmode;
    const bool l4 = LanguageIsStream(r);
    TagList tags;
    TrayTags(r, tags);
    if (r.modelFlags & 0x48) tags.Value(vemf::kTagColour, r.colour ? 2 : 1);
    if (r.pagesPerSheet >= 2) {
        const uint32_t cls = r.resolution == 300 ? 2 : r.resolution == 600 ? 4 : r.resolution == 1200 ? 6 : 2;
        tags.Words(vemf::kTagLayoutClass, {cls, 0, 0});
        tags.Value(vemf::kTagNupFrame, r.nupFrame);
        uint32_t cols, rows;
        NupGrid(r.pagesPerSheet, cols, rows);
        tags.Words(vemf::kTagNup, {r.pagesPerSheet, cols, rows, 0, r.nupRowFirst ? 1u : 0u});
    }
    if (f.posterSize) {
        const uint32_t n = f.posterSize == 2 ? 3 : f.posterSize == 3 ? 4 : 2;
        float quarter = 0.25f;
        uint32_t bits;
        std::memcpy(&bits, &quarter, 4);
        tags.Words(vemf::kTagPoster, {n, n, bits, f.posterFlag});
        tags.Words(vemf::kTagPosterTiles, {n * n, f.posterValue});
    }
    if (r.bookletMode == 1) {
        tags.Words(vemf::kTagLayoutClass, {2, 0, 1});
        const uint32_t packed = f.bookletParam | (static_cast<uint32_t>(f.bookletBinding == 1 ? 7 : 6) << 16);
        tags.Words(vemf::kTagBooklet, {static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(f.bookletValue))), packed});
    }
    tags.Value(vemf::kTagReverse, dm.reversePageOrder);
    const bool forceCollate = l4 && DevmodeDuplexed(r);
    if (forceCollate) s.f.hostCollate = 1;
    tags.Value(vemf::kTagCollate, s.f.hostCollate);
    tags.Value(37, forceCollate ? 1 : f.tag37Value);
    tags.Value(31, f.tag31Value);
    tags.Value(39, f.tag39Value);
    tags.Value(45, f.tag45Value);
    if (f.tag48Value) tags.Value(48, f.tag48Value);
    if (r.stream && !r.documentName.empty()) {
        std::string name = r.documentName;
        name.push_back('\0');
        tags.Bytes(vemf::kTagDocumentName, name);
    }
    std::string strings;
    for (auto [field, size] : {std::pair{dm.accountId, sizeof dm.accountId}, std::pair{dm.userName, sizeof dm.userName},
                               std::pair{dm.computerName, sizeof dm.computerName}}) {
        strings += CleanName(FixedText(field, size), r.ansiCodePage, size - 1);
        strings.push_back('\0');
    }
    tags.Bytes(vemf::kTagUserStrings, strings);
    tags.Value(vemf::kTagCopies, l4 ? (s.f.hostCollate ? static_cast<uint32_t>(r.copies) : 1u) : static_cast<uint32_t>(r.copies));
    if (r.duplexFlags) {
        tags.Value(vemf::kTagDuplex, r.duplex);
    } else if (HasManualDuplex(r)) {
        tags.Value(vemf::kTagDuplex, ManualDuplexCode(r));
        tags.Value(vemf::kTagManualDuplex, 1);
    }
    tags.Value(vemf::kTagSeparate, dm.separatePages);
    tags.Value(36, 1);
    if (r.scaledFrom) tags.Value(53, r.scaledFrom);
    tags.Put(vemf::TagHead{vemf::kTagSummaryLayout, 44});
    tags.Put(uint32_t{8});
    for (uint16_t end = 28; end <= 112; end += 12) {
        tags.Put(uint16_t{4});
        tags.Put(end);
    }
    tags.End();

    vemf::DocumentHeader head{};
    head.type = vemf::kDocumentHeader;
    head.size = sizeof head + tags.Size();
    head.version = 2;
    head.notStreamOnly = l4 ? 0 : 1;
    std::memcpy(head.userText, dm.modelDisplayName, sizeof head.userText);
    head.tagBytes = tags.Size();
    head.tagOffset = sizeof head;
    StreamAppend(r, &head, sizeof head);
    StreamAppend(r, tags.Data().data(), tags.Size());
}

void JobTags(DeviceRecord& r) {
    const auto& f = S(r).f;
    TagList tags;
    if (LanguageIsStream(r)) {
        tags.Value(vemf::kTagCopies, 9999);
        if (HasManualDuplex(r)) {
            tags.Value(24, f.manualDuplexFront ? 10 : 11);
            tags.Value(25, f.manualDuplexBack ? 10 : 11);
        }
        tags.Value(47, 1);
    } else {
        const uint8_t caps = r.FeatureByte(572);
        if (caps & 0x03) tags.Value(vemf::kTagDuplex, 0);
        if (!HasManualDuplex(r) || r.duplex == 1) {
            tags.Value(vemf::kTagCopies, 9999);
            if (caps & 0x04) tags.Value(vemf::kTagCollate, 9999);
        }
        tags.Value(47, 0xFFFFFFFF);
    }
    tags.End();
    vemf::TaggedHead16 head{vemf::kJobTags, 16 + tags.Size(), tags.Size(), 16};
    StreamAppend(r, &head, sizeof head);
    StreamAppend(r, tags.Data().data(), tags.Size());
}

void PageRecord(DeviceRecord& r) {
    StreamState& s = S(r);
    const auto& f = s.f;
    const bool l4 = LanguageIsStream(r);
    vemf::IndexEntry& entry = s.index.back();
    if (!entry.position) entry.position = s.offset;
    TagList tags;
    if (l4)
        for (uint32_t tag : vemf::kSummaryTags) tags.Value(tag, 0);
    const auto& g = r.geometry;
    tags.Value(vemf::kTagOrientation, r.stamp == kStampLandscape ? 2 : 1);
    tags.Value(vemf::kTagPaperSize, r.paperSizeCode);
    tags.Rect(vemf::kTagPrintable, g.leftMargin, g.topMargin, g.leftMargin + g.printableWidth, g.topMargin + g.printableLength);
    tags.Rect(vemf::kTagPaperExtent, 0, 0, g.width, g.length);
    TrayTags(r, tags);
    tags.Value(vemf::kTagCopies, l4 ? (f.hostCollate ? 1u : static_cast<uint32_t>(r.copies)) : static_cast<uint32_t>(r.copies));
    if (l4 || !f.perSheetTrays) tags.Value(vemf::kTagMedia, r.paperSource);
    tags.Value(vemf::kTagResolution, r.resolution);
    tags.Value(21, l4 ? f.tag21Value : 1);
    if (l4) {
        tags.Value(29, f.tag29Value);
        tags.Value(30, f.tag30Value);
        tags.Value(38, f.tag38Value);
    }
    tags.End();
    vemf::PageRecordHead head{vemf::kPageRecord, 20 + tags.Size(), r.pageCount, tags.Size(), 20};
    StreamAppend(r, &head, sizeof head);
    StreamAppend(r, tags.Data().data(), tags.Size());

    // The drawing state every page starts from.
    float miter = 10.0f;
    uint32_t miterBits;
    std::memcpy(&miterBits, &miter, 4);
    const vemf::ValueRecord states[] = {
        {vemf::kSetBkMode, 12, 1},        {vemf::kSetRop2, 12, 13},          {vemf::kSetPolyFillMode, 12, 1},
        {vemf::kSetStretchBltMode, 12, 1}, {vemf::kSetTextAlign, 12, 24},     {vemf::kSetBkColor, 12, 0x00FFFFFF},
        {vemf::kSetTextColor, 12, 0},
    };
    for (const auto& rec : states) StreamRecord(r, &rec, sizeof rec);
    const vemf::ClipReset clip{vemf::kExtSelectClipRgn, 20, 0, 5, 0};
    StreamRecord(r, &clip, sizeof clip);
    const vemf::ValueRecord miterRec{vemf::kSetMiterLimit, 12, miterBits};
    StreamRecord(r, &miterRec, sizeof miterRec);
    s.dcState = {1, 13, 1, 1, 0x00FFFFFF, 0, miterBits};
    s.currentBrush = s.currentPen = 0;
    s.clipSet = false;
    if (s.nextObjectHandle == 0) s.nextObjectHandle = 1;
    if (!l4) {
        // Each page makes its own objects: the finishing library may take
        // the pages in any order.
        for (auto& cache : s.caches) cache = ObjectCache{};
        s.fontCache.fonts.clear();
    }
}

// Deletes every cached object of the page (printer language 4).
void DeleteCachedObjects(DeviceRecord& r) {
    StreamState& s = S(r);
    auto del = [&](uint32_t handle) {
        const vemf::ValueRecord rec{vemf::kDeleteObject, 12, handle};
        StreamRecord(r, &rec, sizeof rec);
    };
    for (const auto& font : s.fontCache.fonts) del(font.handle);
    s.fontCache.fonts.clear();
    for (size_t c = 1; c < 3; ++c) {
        for (size_t i = 0; i < s.caches[c].count; ++i) del(s.caches[c].entries[i].handle);
        s.caches[c] = ObjectCache{};
    }
}

}  // namespace

bool StreamEnable(DeviceRecord& r, uint8_t compress) {
    if (!r.devmode) return false;
    auto s = std::make_shared<StreamState>();
    s->compress = compress;
    const auto& dm = *r.devmode;
    StreamFields& f = s->f;
    // The record's stream bytes, as the DEVMODE holds them.
    f.hostCollate = dm.dm.dmCollate == 1 ? 1 : 0;
    f.tag21Value = dm.option1078;
    f.tag39Value = dm.option1079;
    f.tag37Value = dm.switch1080;
    f.bookletParam = dm.switch1234;
    f.bookletBinding = dm.switch1235;
    f.posterSize = dm.option1082;
    f.posterFlag = dm.switch1083;
    f.posterValue = dm.number1084;
    f.tag31Value = dm.separatePages;
    f.tag30Value = dm.number1091;
    f.bookletValue = dm.mediaByte;
    f.manualDuplexFront = dm.option1093;
    f.manualDuplexBack = dm.option1094;
    f.perSheetTrays = dm.switch458;
    f.trayCode[0] = static_cast<uint8_t>(dm.dm.dmDefaultSource);
    f.bindingEdge = dm.option448;
    // The record's two watermarks answer the overlay drawing requests, in
    // the order the record keeps them: by odd and even pages (placement
    // switch) or first and other pages; drawn at the page start (flag set,
    // under the page) or at its end (over it).
    f.overlayParityMode = dm.watermarkPlacement;
    f.overlayEnabled = dm.watermarkFlag;
    f.overlayCodeFirst = dm.watermarkId1;
    f.overlayCodeOther = dm.watermarkId2;
    f.frameCodeA = dm.userPaperSettings[2];
    f.frameCodeB = dm.userPaperSettings[3];
    f.frameEnableA = dm.userPaperSettings[4];
    f.frameEnableB = dm.userPaperSettings[5];
    r.stream = std::move(s);
    return true;
}

void StreamAppend(DeviceRecord& r, const void* bytes, size_t size) {
    if (!r.stream || r.jobState < kJobOpen || r.documentLost || size == 0) return;
    StreamState& s = S(r);
    const auto* p = static_cast<const uint8_t*>(bytes);
    s.buffer.insert(s.buffer.end(), p, p + size);
    s.offset += static_cast<uint32_t>(size);
    if (s.buffer.size() >= kStreamPiece) StreamFlush(r);
}

void StreamRecord(DeviceRecord& r, const void* bytes, size_t size) {
    if (!r.stream) return;
    StreamAppend(r, bytes, size);
    ++r.stream->pageRecordCount;
    r.stream->pageRecordBytes += static_cast<uint32_t>(size);
}

bool StreamFlush(DeviceRecord& r) {
    if (!r.stream) return false;
    StreamState& s = S(r);
    if (s.buffer.empty()) return !r.documentLost;
    if (r.documentLost || !r.sink) {
        s.buffer.clear();
        return false;
    }
    size_t done = 0;
    while (done < s.buffer.size()) {
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kStreamPiece, s.buffer.size() - done));
        const uint32_t wrote = r.sink->Write(s.buffer.data() + done, piece);
        if (wrote != piece) {
            // A stream with a hole is no stream: the document is lost, and
            // nothing after the failure reaches the spooler.
            r.documentLost = true;
            r.jobState = kJobIdle;
            s.buffer.clear();
            return false;
        }
        done += piece;
    }
    s.buffer.clear();
    return true;
}

std::string StreamDocumentName(std::u16string_view name, uint32_t ansiCodePage) {
    const size_t slash = name.rfind(u'\\');
    if (slash != std::u16string_view::npos) name = name.substr(slash + 1);
    // Re-coding may grow the text (a half-width character becomes three bytes of
    // UTF-8): the cut is made in the ANSI code page only.
    return CleanName(AnsiText(name, ansiCodePage, 27), ansiCodePage, 27 * 3);
}

BOOL StreamStartDoc(DeviceRecord& r, const char16_t* name) {
    if (r.jobState >= kJobOpen) {
        SetLastError(ERROR_NO_SPOOL_SPACE);
        return FALSE;
    }
    StreamState& s = S(r);
    r.documentName = name ? StreamDocumentName(name, r.ansiCodePage) : std::string();
    r.jobState = kJobOpen;
    r.documentLost = false;
    r.pageCount = 0;
    s.offset = 0;
    s.buffer.clear();
    s.index.clear();
    s.indexStarted = false;
    s.blockPending = false;
    s.fontCache.fonts.clear();
    for (auto& cache : s.caches) cache = ObjectCache{};
    StreamAppend(r, vemf::kMagic, sizeof vemf::kMagic);
    return TRUE;
}

bool StreamOpenPage(DeviceRecord& r) {
    StreamState& s = S(r);
    if (r.pageCount >= kMaxStreamPages) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    s.pageFlags = 0;
    ++r.pageCount;
    if (s.index.size() < r.pageCount) s.index.resize(r.pageCount);
    r.jobState |= kJobPageOpen;
    s.pageImageArea = s.pageRecordCount = s.pageRecordBytes = 0;
    if (s.blockPending) {
        s.blockPending = false;
        auto& entry = s.index[r.pageCount - 1];
        if (!entry.position) entry.position = s.offset;
        if (!LanguageIsStream(r)) StreamPrivateBlock(r);
    }
    PageRecord(r);
    return true;
}

void StreamPrivateBlock(DeviceRecord& r) {
    StreamState& s = S(r);
    const vemf::RecordHead head{vemf::kPrivateBlock, static_cast<uint32_t>(8 + s.privateBlock.size())};
    StreamAppend(r, &head, sizeof head);
    StreamAppend(r, s.privateBlock.data(), s.privateBlock.size());
}

BOOL StreamStartPage(DeviceRecord& r) {
    if (r.jobState < kJobOpen) return FALSE;
    if (r.jobState & kJobPageOpen) return TRUE;
    StreamState& s = S(r);
    if (r.pageCount == 0 && !s.indexStarted) {
        s.indexStarted = true;
        DocumentHeader(r);
        JobTags(r);
        s.index.assign(1, vemf::IndexEntry{});
        s.index[0].position = s.offset;
        if (!LanguageIsStream(r)) StreamPrivateBlock(r);
    }
    if (!StreamOpenPage(r)) return FALSE;
    return r.documentLost ? FALSE : TRUE;
}

void StreamPageEnd(DeviceRecord& r) {
    StreamState& s = S(r);
    if (r.pageCount == 0 || s.index.size() < r.pageCount) return;
    const bool open = r.jobState & kJobPageOpen;
    if (open) {
        s.pageRecordBytes += sizeof(vemf::PageTrailer);
        ++s.pageRecordCount;
    }
    vemf::IndexEntry& e = s.index[r.pageCount - 1];
    const uint32_t flags = s.pageFlags;
    e.summary[0] = (flags & 0x80) ? 1 : 0;
    e.summary[1] = ((flags & 0x40) && !(flags & 0x30)) ? 1 : 0;
    e.summary[2] = !(flags & 0x01) ? 1 : !(flags & 0x02) ? 2 : 0;
    e.summary[3] = static_cast<uint32_t>(r.geometry.printableWidth) * r.geometry.printableLength;
    e.summary[4] = s.pageImageArea;
    e.summary[5] = s.pageRecordBytes;
    e.summary[6] = s.pageRecordCount;
    e.summary[7] = (flags & 0x0C) ? 1 : 0;
    if (open) {
        vemf::PageTrailer t{};
        t.head = {vemf::kPageTrailer, sizeof t, 108, 16};
        for (size_t i = 0; i < 8; ++i) t.summary[i] = {vemf::kSummaryTags[i], 12, e.summary[i]};
        t.end = {vemf::kTagEnd, 12, 0};
        t.sizeAgain = sizeof t;
        StreamAppend(r, &t, sizeof t);
    }
}

BOOL StreamSendPage(DeviceRecord& r) {
    if (r.jobState < kJobOpen) {
        if (r.documentLost) SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    if (!(r.jobState & kJobPageOpen)) {
        // An empty page is still a page.
        if (StreamStartPage(r) == FALSE) return FALSE;
    }
    if (LanguageIsStream(r)) DeleteCachedObjects(r);
    StreamForgetStyledPen(r);
    StreamPageEnd(r);
    r.jobState &= static_cast<uint16_t>(~kJobPageOpen);
    if (r.documentLost) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    return TRUE;
}

BOOL StreamEndDoc(DeviceRecord& r) {
    StreamState& s = S(r);
    bool lost = r.documentLost;
    if (r.jobState >= kJobOpen) {
        if (r.jobState & kJobPageOpen) {
            StreamPageEnd(r);
            r.jobState &= static_cast<uint16_t>(~kJobPageOpen);
        }
        const uint32_t pages = r.pageCount;
        const vemf::IndexHead head{vemf::kIndex, vemf::IndexSize(pages), static_cast<uint16_t>(pages), 36};
        StreamAppend(r, &head, sizeof head);
        StreamAppend(r, s.index.data(), pages * sizeof(vemf::IndexEntry));
        const uint32_t size = head.size;
        StreamAppend(r, &size, sizeof size);
        lost = !StreamFlush(r) || r.documentLost;
    }
    s.nextObjectHandle = 0;
    r.jobState = kJobIdle;
    r.documentLost = false;
    s.buffer.clear();
    if (lost) {
        SetLastError(ERROR_PRINT_CANCELLED);
        return FALSE;
    }
    return TRUE;
}

void StreamForgetStyledPen(DeviceRecord& r) {
    StreamState& s = S(r);
    if (s.geometricPenHandle >= 0 && (r.jobState & kJobPageOpen)) {
        const vemf::ValueRecord rec{vemf::kDeleteObject, 12, static_cast<uint32_t>(s.geometricPenHandle)};
        StreamRecord(r, &rec, sizeof rec);
        if (s.currentPen == rec.value) s.currentPen = 0;
    }
    s.geometricPenHandle = -1;
    s.geometricPenState.clear();
}

void StreamColourFlags(StreamState& s, uint32_t colour) {
    const uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    if (red == green && green == blue) {
        if (red != 0 && red != 255) s.pageFlags |= 0x01;
    } else {
        s.pageFlags |= 0x03;
    }
}

void StreamReset(DeviceRecord& from, DeviceRecord& to) {
    if (!from.stream || !to.stream) return;
    if (!from.pageSuppressed) StreamFlush(from);
    StreamState& a = *from.stream;
    StreamState& b = *to.stream;
    b.dcState = a.dcState;
    b.currentBrush = a.currentBrush;
    b.currentPen = a.currentPen;
    b.geometricPenHandle = a.geometricPenHandle;
    b.geometricPenState = a.geometricPenState;
    b.pageFlags = a.pageFlags;
    b.pageImageArea = a.pageImageArea;
    b.pageRecordCount = a.pageRecordCount;
    b.pageRecordBytes = a.pageRecordBytes;
    b.nextObjectHandle = a.nextObjectHandle;
    b.nextBrushIdentity = a.nextBrushIdentity;
    b.clipSet = a.clipSet;
    std::memcpy(b.clipRect, a.clipRect, sizeof b.clipRect);
    b.clipPath = a.clipPath;
    b.index = std::move(a.index);
    b.indexStarted = a.indexStarted;
    b.offset = a.offset;
    b.caches = a.caches;
    b.fontCache = std::move(a.fontCache);
    b.privateBlock = a.privateBlock;
    b.blockPending = a.blockPending;
    b.f.hostCollate = a.f.hostCollate;
    b.drawRequestOpen = a.drawRequestOpen;
    b.netConvertRecord = a.netConvertRecord;
    to.language = from.language;
    to.jobState = from.jobState;
    to.documentLost = from.documentLost;
    to.pageCount = from.pageCount;
    to.documentName = from.documentName;
    to.pageSuppressed = from.pageSuppressed;
    to.manualDuplexFlags = from.manualDuplexFlags;
    to.wasReset = 1;
    if (from.devmode && to.devmode) {
        std::memcpy(to.devmode->accountId, from.devmode->accountId, sizeof to.devmode->accountId);
        std::memcpy(to.devmode->userName, from.devmode->userName, sizeof to.devmode->userName);
        std::memcpy(to.devmode->computerName, from.devmode->computerName, sizeof to.devmode->computerName);
    }
    uint16_t flags = 0;
    if (from.copies != to.copies) flags |= 0x08;
    if (from.paperSource != to.paperSource) flags |= 0x80 | 2;
    if (from.paperSizeCode != to.paperSizeCode || from.geometry.paperCodeUsed != to.geometry.paperCodeUsed) flags |= 0x40 | 2;
    if (from.duplex != to.duplex) flags |= 0x100 | 2;
    to.changeFlags = flags;
    // The old record no longer writes the job.
    from.jobState = kJobIdle;
    a.buffer.clear();
}

}  // namespace pclrend
