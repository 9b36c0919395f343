#include "vemfread/vemfread.h"

#include <cstring>
#include <set>
#include <sstream>

namespace vemfread {

namespace vemf = zq::vemf;

namespace {

uint32_t Read32(std::span<const uint8_t> b, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Where the tag list of a tagged record starts and how long it is; false
// when the record has none.
bool TagSpan(const Record& r, uint32_t& offset, uint32_t& bytes) {
    switch (r.type) {
    case vemf::kDocumentHeader: bytes = r.U32(56), offset = r.U32(60); return true;
    case vemf::kJobTags:
    case vemf::kPageTrailer: bytes = r.U32(8), offset = r.U32(12); return true;
    case vemf::kPageRecord: bytes = r.U32(12), offset = r.U32(16); return true;
    default: return false;
    }
}

// Objects alive in the stream: created, selected and deleted by handle.
struct Handles {
    std::set<uint32_t> alive;
    bool Check(const Record& r, std::string& error) {
        const uint32_t h = r.U32(8);
        switch (r.type) {
        case vemf::kCreatePen:
        case vemf::kCreateBrush:
        case vemf::kExtCreateFont:
        case vemf::kCreateDibPatternBrush:
        case vemf::kExtCreatePen:
            if (h == 0 || !alive.insert(h).second) return Fail(error, r, "creates a handle already alive");
            return true;
        case vemf::kSelectObject:
            if (h & 0x80000000u) return true;  // stock objects
            if (!alive.count(h)) return Fail(error, r, "selects a handle not alive");
            return true;
        case vemf::kDeleteObject:
            if (!alive.erase(h)) return Fail(error, r, "deletes a handle not alive");
            return true;
        default: return true;
        }
    }
    static bool Fail(std::string& error, const Record& r, const char* what) {
        error = "record " + std::to_string(r.type) + " at " + std::to_string(r.offset) + " " + what;
        return false;
    }
};

}  // namespace

uint32_t Tag::Value() const {
    uint32_t v = 0;
    if (payload.size() >= 4) std::memcpy(&v, payload.data(), 4);
    return v;
}

uint32_t Record::U32(size_t at) const { return Read32(bytes, at); }

const Record* Page::PageRecord() const {
    for (const Record& r : records)
        if (r.type == vemf::kPageRecord) return &r;
    return nullptr;
}

const Tag* Page::FindTag(uint32_t tag) const {
    const Record* r = PageRecord();
    if (!r) return nullptr;
    for (const Tag& t : r->tags)
        if (t.tag == tag) return &t;
    return nullptr;
}

const Tag* Stream::FindDocumentTag(uint32_t tag) const {
    for (const Tag& t : documentHeader.tags)
        if (t.tag == tag) return &t;
    return nullptr;
}

std::vector<const Tag*> Stream::DocumentTags(uint32_t tag) const {
    std::vector<const Tag*> out;
    for (const Tag& t : documentHeader.tags)
        if (t.tag == tag) out.push_back(&t);
    return out;
}

bool ParseTags(std::span<const uint8_t> list, std::vector<Tag>& tags, std::string& error) {
    size_t at = 0;
    while (at + 8 <= list.size()) {
        const uint32_t tag = Read32(list, at), size = Read32(list, at + 4);
        if (size < 8 || size > list.size() - at) {
            error = "tag " + std::to_string(tag) + " of size " + std::to_string(size) + " runs past its list";
            return false;
        }
        Tag t;
        t.tag = tag;
        t.payload.assign(list.begin() + at + 8, list.begin() + at + size);
        at += size;
        if (tag == vemf::kTagEnd) {
            if (size != 12 || t.Value() != 0) {
                error = "end tag not {0, 12, 0}";
                return false;
            }
            if (at != list.size()) {
                error = "bytes after the end tag";
                return false;
            }
            return true;
        }
        tags.push_back(std::move(t));
    }
    error = "tag list without its end tag";
    return false;
}

Stream Walk(std::span<const uint8_t> bytes) {
    Stream s;
    auto fail = [&](std::string why) {
        s.ok = false;
        s.error = std::move(why);
        return s;
    };
    if (bytes.size() < 4 + 12 + 4 || std::memcmp(bytes.data(), vemf::kMagic, 4) != 0) return fail("no VEMF magic");

    // Every record, in order, each size checked.
    size_t at = 4;
    Handles handles;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) return fail("a record head is cut at " + std::to_string(at));
        Record r;
        r.type = Read32(bytes, at);
        const uint32_t size = Read32(bytes, at + 4);
        if (size < 8 || size > bytes.size() - at)
            return fail("record " + std::to_string(r.type) + " at " + std::to_string(at) + " has size " + std::to_string(size));
        r.offset = static_cast<uint32_t>(at);
        r.bytes.assign(bytes.begin() + at, bytes.begin() + at + size);
        uint32_t tagOffset = 0, tagBytes = 0;
        if (TagSpan(r, tagOffset, tagBytes)) {
            if (tagOffset > size || tagBytes != size - tagOffset - (r.type == vemf::kPageTrailer ? 4 : 0))
                return fail("record " + std::to_string(r.type) + " at " + std::to_string(at) + ": tag bytes disagree with its size");
            std::string why;
            if (!ParseTags(std::span(r.bytes).subspan(tagOffset, tagBytes), r.tags, why))
                return fail("record " + std::to_string(r.type) + " at " + std::to_string(at) + ": " + why);
        }
        if ((r.type == vemf::kPageTrailer || r.type == vemf::kIndex) && r.U32(size - 4) != size)
            return fail("record " + std::to_string(r.type) + " does not end with its size");
        std::string why;
        if (!handles.Check(r, why)) return fail(why);
        at += size;
        s.records.push_back(std::move(r));
    }
    if (s.records.size() < 2 || s.records[0].type != vemf::kDocumentHeader || s.records[1].type != vemf::kJobTags)
        return fail("the stream does not open with records 112 and 116");
    s.documentHeader = s.records[0];
    s.jobTags = s.records[1];
    s.streamLanguage = s.documentHeader.U32(12) == 0;

    // The index, found from the end as the finishing library finds it.
    const uint32_t indexSize = Read32(bytes, bytes.size() - 4);
    if (indexSize < 16 || indexSize > bytes.size() - 4) return fail("the last uint32 is not an index size");
    const size_t indexAt = bytes.size() - indexSize;
    if (s.records.back().type != vemf::kIndex || s.records.back().offset != indexAt) return fail("the index is not the last record");
    const uint32_t count = static_cast<uint16_t>(s.records.back().U32(8));
    const uint32_t entrySize = s.records.back().U32(8) >> 16;
    if (entrySize != 36 || indexSize != vemf::IndexSize(count)) return fail("the index's count, entry size and size disagree");

    // Page spans: from each entry's position to the next one's (the last to
    // the index), each holding one page record and ending with its trailer.
    std::vector<vemf::IndexEntry> entries(count);
    if (count) std::memcpy(entries.data(), bytes.data() + indexAt + 12, count * sizeof(vemf::IndexEntry));
    for (uint32_t p = 0; p < count; ++p) {
        const uint32_t start = entries[p].position;
        const uint32_t end = p + 1 < count ? entries[p + 1].position : static_cast<uint32_t>(indexAt);
        if (start < s.records[1].offset + s.records[1].bytes.size() || end <= start || end > indexAt)
            return fail("page " + std::to_string(p + 1) + " has a bad span");
        Page page;
        page.number = p + 1;
        page.entry = entries[p];
        bool boundary = false;
        for (const Record& r : s.records) {
            if (r.offset == start) boundary = true;
            if (r.offset >= start && r.offset < end) page.records.push_back(r);
        }
        if (!boundary) return fail("page " + std::to_string(p + 1) + " does not start at a record");
        // A private block sent after the last page's end may follow its
        // trailer; nothing else may.
        while (page.records.size() > 1 && page.records.back().type == vemf::kPrivateBlock && p + 1 == count)
            page.records.pop_back();
        size_t pageRecords = 0;
        for (const Record& r : page.records) pageRecords += r.type == vemf::kPageRecord;
        if (pageRecords != 1 || page.records.back().type != vemf::kPageTrailer)
            return fail("page " + std::to_string(p + 1) + " lacks its page record or trailer");
        const Record& trailer = page.records.back();
        for (size_t i = 0; i < 8; ++i) {
            if (trailer.tags.size() != 8 || trailer.tags[i].tag != vemf::kSummaryTags[i] || trailer.tags[i].Value() != entries[p].summary[i])
                return fail("page " + std::to_string(p + 1) + ": trailer and index disagree");
        }
        // Record count and bytes: from the page record (not counted) to the
        // trailer (counted).
        uint32_t records = 0, recordBytes = 0;
        bool counting = false;
        for (const Record& r : page.records) {
            if (counting && r.type != vemf::kPrivateBlock) {
                ++records;
                recordBytes += static_cast<uint32_t>(r.bytes.size());
            }
            if (r.type == vemf::kPageRecord) counting = true;
        }
        if (records != entries[p].summary[6] || recordBytes != entries[p].summary[5])
            return fail("page " + std::to_string(p + 1) + ": record count or bytes disagree with the index");
        // The summary tags of a language-4 page record are placeholders the
        // reader fills from the index.
        Record* pr = nullptr;
        for (Record& r : page.records)
            if (r.type == vemf::kPageRecord) pr = &r;
        if (pr->U32(8) != page.number) return fail("page " + std::to_string(p + 1) + " carries another page number");
        if (s.streamLanguage) {
            for (Tag& t : pr->tags)
                for (size_t i = 0; i < 8; ++i)
                    if (t.tag == vemf::kSummaryTags[i] && t.payload.size() == 4) std::memcpy(t.payload.data(), &entries[p].summary[i], 4);
        }
        s.pages.push_back(std::move(page));
    }
    s.ok = true;
    return s;
}

std::string Dump(const Stream& s) {
    std::ostringstream out;
    if (!s.ok) out << "refused: " << s.error << "\n";
    for (const Record& r : s.records) {
        out << r.offset << " " << r.type << " " << r.bytes.size();
        if (r.type == vemf::kPageRecord) out << " page " << r.U32(8);
        for (const Tag& t : r.tags) out << " [" << t.tag << ":" << (t.payload.size() == 4 ? std::to_string(t.Value()) : std::to_string(t.payload.size()) + "b") << "]";
        if (r.bytes.size() == 12 && r.tags.empty()) out << " = " << r.U32(8);
        out << "\n";
    }
    return out.str();
}

}  // namespace vemfread
