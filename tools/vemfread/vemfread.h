// Test-side reader of the host-finishing spool stream: walks a stream as the
// finishing library does (index from the end, page spans, summary patches)
// and checks every size, tag list, count and handle on the way.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/spool_stream.h"

namespace vemfread {

struct Tag {
    uint32_t tag = 0;
    std::vector<uint8_t> payload;
    uint32_t Value() const;  // the first uint32 of the payload (0 when shorter)
};

struct Record {
    uint32_t type = 0;
    uint32_t offset = 0;  // from the stream start
    std::vector<uint8_t> bytes;  // the whole record, head included
    std::vector<Tag> tags;       // tag-list records only
    uint32_t U32(size_t at) const;
};

struct Page {
    uint32_t number = 0;
    zq::vemf::IndexEntry entry{};
    std::vector<Record> records;  // from the span's start to its trailer
    const Record* PageRecord() const;
    const Tag* FindTag(uint32_t tag) const;  // in the page record
};

struct Stream {
    bool ok = false;
    std::string error;        // why the stream was refused
    bool streamLanguage = false;  // written for printer language 4
    Record documentHeader, jobTags;
    std::vector<Record> records;  // every record in order
    std::vector<Page> pages;
    const Tag* FindDocumentTag(uint32_t tag) const;
    std::vector<const Tag*> DocumentTags(uint32_t tag) const;
};

// Walks a whole stream.
Stream Walk(std::span<const uint8_t> bytes);

// Parses a tag list of `size` bytes; false (with `error`) when a tag runs
// past the list, is shorter than 8 bytes or the end tag is missing.
bool ParseTags(std::span<const uint8_t> list, std::vector<Tag>& tags, std::string& error);

// One line per record.
std::string Dump(const Stream& s);

}  // namespace vemfread
