// Configuration tag lists: the driver's portable form of settings, and the
// context that writes and reads one.
//
// A list is a sequence of elements {uint32 tag, uint32 length of the whole
// element including this 8-byte head, data}, little-endian, with no header,
// count or terminator. The data is raw bytes or child elements of the same
// form; the tag tables decide which, never the format.
//
// Every primitive answers non-zero on success and 0 on failure, also for a
// null argument or a context in error. Once an error is set the context is
// unusable and its callers treat the whole list as not produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq {

constexpr uint32_t kTagHeadSize = 8;
// The first write makes a buffer of at least this many bytes; a full
// buffer grows by at least kTagListGrowth.
constexpr size_t kTagListFirstBuffer = 16384;
constexpr size_t kTagListGrowth = 4096;
// Element records are made six at a time; their area, 20 bytes of context
// and 8 bytes a record, stays below 65535 bytes, which bounds nesting.
constexpr size_t kTagRecordsPerGrowth = 6;
constexpr size_t kTagMaxRecords = (65534 - 20) / 8 / kTagRecordsPerGrowth * kTagRecordsPerGrowth;  // 8184

enum class TagListError : uint8_t { None = 0, RecordsFull = 1, NoBuffer = 2 };

struct TagListContext {
    // One open element: being written (its head lies at `offset` of the
    // buffer and its length is fixed when it ends) or being read.
    struct Open {
        bool writing = false;
        uint32_t offset = 0;
        uint32_t length = 0;  // of a read element: its stated length
    };

    HGLOBAL buffer = nullptr;          // owned: a global block, locked while owned
    uint8_t* data = nullptr;           // its address
    const uint8_t* borrowed = nullptr; // attached bytes, never freed here
    size_t capacity = 0;               // bytes of `buffer`
    size_t readPosition = 0;
    size_t length = 0;                 // bytes written, or the attached list's size
    size_t records = kTagRecordsPerGrowth;  // element records made so far
    std::vector<Open> open;            // innermost last
    TagListError error = TagListError::None;

    ~TagListContext();
    const uint8_t* Bytes() const;
    uint8_t* WritableBytes();
};

BOOL TagListCreate(TagListContext** context);
// Frees the owned buffer, if still attached, and the context; attached
// bytes belong to whoever attached them.
BOOL TagListDestroy(TagListContext** context);
// Gives an empty context a list to read. The bytes are borrowed: they must
// outlive the reading; a write or an append first copies them into a
// buffer of the context's own.
BOOL TagListAttach(TagListContext** context, const void* bytes, size_t count);
// Hands out the list as a global block the caller frees (null for an empty
// list) and leaves the context empty. A writer ends every element first:
// elements still open are dropped without their lengths being fixed.
BOOL TagListDetach(TagListContext** context, HGLOBAL* block, size_t* length);
BOOL TagBegin(TagListContext** context, uint32_t tag);
BOOL TagEnd(TagListContext** context);
BOOL TagDiscard(TagListContext** context);
BOOL TagWrite(TagListContext** context, const void* bytes, size_t count);
// Enters the next element at the read position. Fails, leaving the
// position as it was, when no whole head remains before the end of the
// enclosing element (or of the list), or when the element is malformed:
// its length below 8 or reaching past the end of its parent.
BOOL TagEnter(TagListContext** context, uint32_t* tag);
// The number of bytes copied from the innermost read element's remaining
// data (0 when none remain or the innermost element is being written).
size_t TagRead(TagListContext** context, void* bytes, size_t count);
BOOL TagData(TagListContext** context, const uint8_t** data, size_t* length);
BOOL TagListRewind(TagListContext** context);
BOOL TagEnsureSpace(TagListContext** context, size_t count);

// Convenience for writers and readers built on the primitives.
BOOL TagWriteUint32(TagListContext** context, uint32_t tag, uint32_t value);
// The list's bytes as they stand (for a reader or a test).
std::span<const uint8_t> TagListBytes(const TagListContext* context);

// Stores the context's list by name: unless `printerDataOnly`, as a binary
// value under the user's key of the printer (recorded in the install log),
// then as binary printer data. TRUE only when the list was non-empty, the
// context sound and every write succeeded.
BOOL StoreTagList(TagListContext** context, std::u16string_view printerName, const char16_t* valueName,
                  HANDLE printer, bool printerDataOnly);
// Appends the stored list of that name to the context's own buffer: the
// user's value unless `printerDataOnly`, else (or when the user has none)
// the printer data. 1 when bytes were appended; 0 when neither could be
// read, leaving every stored value as it is.
// `userKey`, when given, points to the user's key of the printer already
// open (null: the user has none), which spares opening it again.
BOOL LoadTagList(TagListContext** context, const char16_t* valueName, HANDLE printer, bool printerDataOnly,
                 const HKEY* userKey = nullptr);

}  // namespace zq
