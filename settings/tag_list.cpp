#include "settings/tag_list.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/memory.h"
#include "base/text.h"
#include "settings/printer_data_values.h"
#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {
namespace {

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The context, when it is there and sound.
TagListContext* Usable(TagListContext** context) {
    if (context == nullptr || *context == nullptr) return nullptr;
    TagListContext* c = *context;
    return c->error == TagListError::None ? c : nullptr;
}

// A record for one more open element; the record area grows six at a time
// and may not pass its limit.
bool ReserveRecord(TagListContext& c) {
    if (c.open.size() < c.records) return true;
    if (c.records + kTagRecordsPerGrowth > kTagMaxRecords) {
        c.error = TagListError::RecordsFull;
        return false;
    }
    c.records += kTagRecordsPerGrowth;
    return true;
}

// Where the innermost read element (or the list) ends.
size_t EnclosingEnd(const TagListContext& c) {
    if (c.open.empty()) return c.length;
    const TagListContext::Open& e = c.open.back();
    return static_cast<size_t>(e.offset) + e.length;
}

bool AnyWriting(const TagListContext& c) {
    return std::any_of(c.open.begin(), c.open.end(), [](const TagListContext::Open& e) { return e.writing; });
}

}  // namespace

TagListContext::~TagListContext() {
    if (buffer != nullptr) {
        GlobalUnlock(buffer);
        GlobalFree(buffer);
    }
}

const uint8_t* TagListContext::Bytes() const {
    return borrowed != nullptr ? borrowed : data;
}

uint8_t* TagListContext::WritableBytes() {
    return data;
}

BOOL TagListCreate(TagListContext** context) {
    if (context == nullptr) return FALSE;
    *context = new (std::nothrow) TagListContext;
    return *context != nullptr ? TRUE : FALSE;
}

BOOL TagListDestroy(TagListContext** context) {
    if (context == nullptr || *context == nullptr) return FALSE;
    delete *context;
    *context = nullptr;
    return TRUE;
}

BOOL TagListAttach(TagListContext** context, const void* bytes, size_t count) {
    TagListContext* c = Usable(context);
    if (c == nullptr || (bytes == nullptr && count != 0)) return FALSE;
    if (c->buffer != nullptr || c->borrowed != nullptr || c->length != 0 || !c->open.empty()) return FALSE;
    if (count > UINT32_MAX) return FALSE;
    c->borrowed = count != 0 ? static_cast<const uint8_t*>(bytes) : nullptr;
    c->length = count;
    c->readPosition = 0;
    return TRUE;
}

BOOL TagListDetach(TagListContext** context, HGLOBAL* block, size_t* length) {
    TagListContext* c = Usable(context);
    if (c == nullptr || block == nullptr || length == nullptr) return FALSE;
    *block = nullptr;
    *length = 0;
    if (c->borrowed != nullptr) {
        // The caller owns what it is handed: borrowed bytes go out as a copy.
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, c->length);
        if (copy == nullptr) return FALSE;
        std::memcpy(GlobalLock(copy), c->borrowed, c->length);
        GlobalUnlock(copy);
        *block = copy;
        *length = c->length;
    } else if (c->buffer != nullptr) {
        GlobalUnlock(c->buffer);
        *block = c->buffer;
        *length = c->length;
    }
    c->buffer = nullptr;
    c->data = nullptr;
    c->borrowed = nullptr;
    c->capacity = 0;
    c->length = 0;
    c->readPosition = 0;
    c->open.clear();
    return TRUE;
}

BOOL TagEnsureSpace(TagListContext** context, size_t count) {
    TagListContext* c = Usable(context);
    if (c == nullptr) return FALSE;
    if (c->length + count > UINT32_MAX) {
        c->error = TagListError::NoBuffer;
        return FALSE;
    }
    if (c->buffer == nullptr) {
        // First write, or the first write over borrowed bytes, which are
        // copied so that the list grows in a block of the context's own.
        const size_t size = std::max(c->length + count, kTagListFirstBuffer);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size);
        if (block == nullptr) {
            c->error = TagListError::NoBuffer;
            return FALSE;
        }
        auto* p = static_cast<uint8_t*>(GlobalLock(block));
        if (c->borrowed != nullptr && c->length != 0) std::memcpy(p, c->borrowed, c->length);
        c->buffer = block;
        c->data = p;
        c->borrowed = nullptr;
        c->capacity = size;
        return TRUE;
    }
    if (c->capacity - c->length >= count) return TRUE;
    const size_t size = c->capacity + std::max(count, kTagListGrowth);
    GlobalUnlock(c->buffer);
    HGLOBAL grown = GlobalReAlloc(c->buffer, size, GMEM_MOVEABLE);
    if (grown == nullptr) {
        GlobalLock(c->buffer);
        c->error = TagListError::NoBuffer;
        return FALSE;
    }
    c->data = static_cast<uint8_t*>(GlobalLock(grown));
    c->buffer = grown;
    c->capacity = size;
    return TRUE;
}

BOOL TagBegin(TagListContext** context, uint32_t tag) {
    TagListContext* c = Usable(context);
    if (c == nullptr) return FALSE;
    if (!c->open.empty() && !c->open.back().writing) return FALSE;
    if (!ReserveRecord(*c) || !TagEnsureSpace(context, kTagHeadSize)) return FALSE;
    uint8_t* p = c->WritableBytes() + c->length;
    StoreU32(p, tag);
    StoreU32(p + 4, kTagHeadSize);
    c->open.push_back({true, static_cast<uint32_t>(c->length), kTagHeadSize});
    c->length += kTagHeadSize;
    return TRUE;
}

BOOL TagEnd(TagListContext** context) {
    TagListContext* c = Usable(context);
    if (c == nullptr || c->open.empty()) return FALSE;
    const TagListContext::Open e = c->open.back();
    c->open.pop_back();
    if (e.writing) {
        StoreU32(c->WritableBytes() + e.offset + 4, static_cast<uint32_t>(c->length - e.offset));
    } else {
        c->readPosition = static_cast<size_t>(e.offset) + e.length;
    }
    return TRUE;
}

BOOL TagDiscard(TagListContext** context) {
    TagListContext* c = Usable(context);
    if (c == nullptr || c->open.empty() || !c->open.back().writing) return FALSE;
    c->length = c->open.back().offset;
    c->open.pop_back();
    return TRUE;
}

BOOL TagWrite(TagListContext** context, const void* bytes, size_t count) {
    TagListContext* c = Usable(context);
    if (c == nullptr || (bytes == nullptr && count != 0)) return FALSE;
    if (c->open.empty() || !c->open.back().writing) return FALSE;
    if (!TagEnsureSpace(context, count)) return FALSE;
    if (count != 0) std::memcpy(c->WritableBytes() + c->length, bytes, count);
    c->length += count;
    return TRUE;
}

BOOL TagWriteUint32(TagListContext** context, uint32_t tag, uint32_t value) {
    uint8_t v[4];
    StoreU32(v, value);
    if (!TagBegin(context, tag)) return FALSE;
    if (!TagWrite(context, v, sizeof v)) return FALSE;
    return TagEnd(context);
}

BOOL TagEnter(TagListContext** context, uint32_t* tag) {
    TagListContext* c = Usable(context);
    if (c == nullptr || tag == nullptr) return FALSE;
    if (!c->open.empty() && c->open.back().writing) return FALSE;
    const size_t end = EnclosingEnd(*c);
    const size_t at = c->readPosition;
    if (at > end || end - at < kTagHeadSize) return FALSE;
    const uint8_t* head = c->Bytes() + at;
    const uint32_t length = LoadU32(head + 4);
    // A length below the head would leave the reader where it stands (or
    // behind it); one past the parent would read another element's bytes.
    if (length < kTagHeadSize || length > end - at) return FALSE;
    if (!ReserveRecord(*c)) return FALSE;
    c->open.push_back({false, static_cast<uint32_t>(at), length});
    c->readPosition = at + kTagHeadSize;
    *tag = LoadU32(head);
    return TRUE;
}

size_t TagRead(TagListContext** context, void* bytes, size_t count) {
    TagListContext* c = Usable(context);
    if (c == nullptr || bytes == nullptr || c->open.empty() || c->open.back().writing) return 0;
    const size_t end = EnclosingEnd(*c);
    if (c->readPosition >= end) return 0;
    const size_t n = std::min(count, end - c->readPosition);
    std::memcpy(bytes, c->Bytes() + c->readPosition, n);
    c->readPosition += n;
    return n;
}

BOOL TagData(TagListContext** context, const uint8_t** data, size_t* length) {
    TagListContext* c = Usable(context);
    if (c == nullptr || data == nullptr || length == nullptr || c->open.empty() || c->open.back().writing) {
        return FALSE;
    }
    const TagListContext::Open& e = c->open.back();
    *data = c->Bytes() + e.offset + kTagHeadSize;
    *length = e.length - kTagHeadSize;
    return TRUE;
}

BOOL TagListRewind(TagListContext** context) {
    TagListContext* c = Usable(context);
    if (c == nullptr || AnyWriting(*c)) return FALSE;
    c->readPosition = c->open.empty() ? 0 : static_cast<size_t>(c->open.back().offset) + kTagHeadSize;
    return TRUE;
}

std::span<const uint8_t> TagListBytes(const TagListContext* context) {
    if (context == nullptr || context->length == 0) return {};
    return {context->Bytes(), context->length};
}

BOOL StoreTagList(TagListContext** context, std::u16string_view printerName, const char16_t* valueName,
                  HANDLE printer, bool printerDataOnly) {
    TagListContext* c = Usable(context);
    if (c == nullptr || c->length == 0 || valueName == nullptr || printer == nullptr) return FALSE;
    const std::span<const uint8_t> bytes = TagListBytes(c);
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    bool ok = true;
    if (!printerDataOnly) {
        std::u16string name(printerName);
        if (name.empty()) name = PrinterNameOf(printer).value_or(u"");
        const auto keyName = PrinterNameToKeyName(name.c_str());
        ok = keyName && WriteUserValue(printer, keyName->c_str(), valueName, copy);
    }
    std::u16string value(valueName);
    if (SetPrinterDataW(printer, value.data(), REG_BINARY, copy.data(), static_cast<DWORD>(copy.size())) !=
        ERROR_SUCCESS) {
        ok = false;
    }
    return ok ? TRUE : FALSE;
}

BOOL LoadTagList(TagListContext** context, const char16_t* valueName, HANDLE printer, bool printerDataOnly,
                 const HKEY* userKey) {
    TagListContext* c = Usable(context);
    if (c == nullptr || valueName == nullptr || printer == nullptr || !c->open.empty()) return FALSE;
    std::optional<std::vector<uint8_t>> bytes;
    if (!printerDataOnly) {
        if (userKey == nullptr) {
            bytes = ReadUserValue(printer, HKEY_CURRENT_USER, nullptr, valueName, nullptr);
        } else if (*userKey != nullptr) {
            bytes = ReadUserValue(printer, HKEY_CURRENT_USER, *userKey, valueName, nullptr);
        }
        if (bytes && bytes->empty()) bytes.reset();
    }
    if (!bytes) {
        // An unreadable value stays as it is: a later reader, or the user,
        // may still make something of it.
        PrinterDataBytes stored = ReadPrinterDataBytes(printer, WideToAnsi(valueName).c_str());
        if (stored.status != ValueRead::Ok) return FALSE;
        bytes = std::move(stored.bytes);
    }
    if (bytes->empty()) return FALSE;
    if (!TagEnsureSpace(context, bytes->size())) return FALSE;
    std::memcpy(c->WritableBytes() + c->length, bytes->data(), bytes->size());
    c->length += bytes->size();
    return TRUE;
}

}  // namespace zq
