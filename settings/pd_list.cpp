// Record lists over printer data and over file bytes.
#include "settings/pd_list.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <unistd.h>

#include "base/memory.h"
#include "base/text.h"
#include "settings/printer_data_values.h"
#include "store/spooler.h"

namespace zq {

namespace {

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutWord(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Length of the well-formed record at `at`, 0 when there is none.
size_t RecordAt(std::span<const uint8_t> value, size_t at) {
    if (value.size() - at < kPdMinRecordSize) return 0;
    const size_t length = Word(&value[at]);
    if (length < kPdMinRecordSize || length > value.size() - at) return 0;
    const size_t end = at + length;
    size_t p = at + kPdRecordHeadSize;
    while (end - p >= kPdFieldHeadSize) {
        const uint16_t key = Word(&value[p]);
        const size_t fieldLength = Word(&value[p + 2]);
        if (key == 0) return (fieldLength == kPdTerminatorSize && end - p == kPdTerminatorSize) ? length : 0;
        if (fieldLength < kPdFieldHeadSize + kPdSpareSize || fieldLength > end - p) return 0;
        p += fieldLength;
    }
    return 0;  // no terminator
}

void TakeSoundPrefix(PdList& list, std::span<const uint8_t> bytes) {
    const size_t sound = PdSoundPrefix(bytes);
    list.block.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sound));
    list.damagedBytes = bytes.size() - sound;
}

PdList* NewNamedList(const char* printerName, const char* valueName) {
    auto* list = new (std::nothrow) PdList;
    if (list == nullptr) return nullptr;
    list->printerName = printerName != nullptr ? printerName : "";
    list->valueName = valueName != nullptr ? std::string(valueName).substr(0, 31) : "";
    return list;
}

void ReadInto(PdList& list, HANDLE printer) {
    const PrinterDataBytes v = ReadPrinterDataBytes(printer, list.valueName.c_str());
    // An unreadable value opens empty and stays stored as it is.
    if (v.status == ValueRead::Ok) TakeSoundPrefix(list, v.bytes);
    list.readFailed = v.status == ValueRead::Failed;
}

bool CursorInside(const PdList* list) { return list != nullptr && list->cursor < list->block.size(); }

}  // namespace

HeldPrinter::HeldPrinter(const char* name) {
    PRINTER_DEFAULTSA all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    LPSTR n = const_cast<LPSTR>(name != nullptr ? name : "");
    if (!OpenPrinterA(n, &handle_, &all) && !OpenPrinterA(n, &handle_, nullptr)) handle_ = nullptr;
}

HeldPrinter::~HeldPrinter() {
    if (handle_ != nullptr) ClosePrinter(handle_);
}

PdList::~PdList() {
    if (lockFd >= 0) ::close(lockFd);  // closing the descriptor drops its lock
}

size_t PdSoundPrefix(std::span<const uint8_t> value) {
    size_t at = 0;
    while (at < value.size()) {
        const size_t length = RecordAt(value, at);
        if (length == 0) break;
        at += length;
    }
    return at;
}

size_t PdRecordLength(std::span<const PdField> fields) {
    size_t length = kPdMinRecordSize;
    for (const PdField& f : fields) length += f.length + kPdFieldHeadSize + kPdSpareSize;
    return length > kPdMaxRecordSize ? 0 : length;
}

PdList* PdListOpen(const char* printerName, const char* valueName) {
    auto* list = NewNamedList(printerName, valueName);
    if (list == nullptr) return nullptr;
    HeldPrinter printer(list->printerName.c_str());
    ReadInto(*list, printer.get());
    return list;
}

PdList* PdListOpenOn(HANDLE printer, const char* printerName, const char* valueName) {
    auto* list = NewNamedList(printerName, valueName);
    if (list != nullptr) ReadInto(*list, printer);
    return list;
}

PdList* PdListOpenBytes(std::span<const uint8_t> bytes) {
    auto* list = new (std::nothrow) PdList;
    if (list == nullptr) return nullptr;
    TakeSoundPrefix(*list, bytes);
    return list;
}

BOOL PdListClose(PdList* list) {
    if (list == nullptr) return FALSE;
    BOOL ok = TRUE;
    if (list->changed && !list->valueName.empty()) {
        HeldPrinter printer(list->printerName.c_str());
        uint8_t none = 0;
        LPBYTE data = list->block.empty() ? &none : list->block.data();
        ok = printer.get() != nullptr &&
             SetPrinterDataA(printer.get(), const_cast<LPSTR>(list->valueName.c_str()), kRegBinary, data,
                             static_cast<DWORD>(list->block.size())) == ERROR_SUCCESS;
    }
    delete list;
    return ok;
}

void PdListDiscard(PdList* list) { delete list; }

int PdListFirst(PdList* list) {
    if (list == nullptr) return 0;
    list->cursor = 0;
    return list->block.empty() ? 0 : 1;
}

int PdListNext(PdList* list) {
    if (!CursorInside(list)) return 0;
    // Every record in the block was checked at open or written by append, so
    // its length is at least 7 and ends inside the block.
    list->cursor += Word(&list->block[list->cursor]);
    return list->cursor < list->block.size() ? 1 : 0;
}

int ListFirst(PdList* list) { return PdListFirst(list); }
int ListNext(PdList* list) { return PdListNext(list); }

std::optional<std::span<const uint8_t>> PdFieldData(const PdList* list, uint16_t key) {
    if (!CursorInside(list) || key == 0) return std::nullopt;
    const uint8_t* record = &list->block[list->cursor];
    size_t p = kPdRecordHeadSize;
    for (;;) {
        const uint16_t k = Word(record + p);
        const uint16_t length = Word(record + p + 2);
        if (k == 0) return std::nullopt;
        if (k == key) {
            return std::span<const uint8_t>(record + p + kPdFieldHeadSize,
                                            length - kPdFieldHeadSize - kPdSpareSize);
        }
        p += length;
    }
}

int PdListGetField(PdList* list, uint16_t key, const uint8_t** data) {
    if (data != nullptr) *data = nullptr;
    const auto field = PdFieldData(list, key);
    if (!field) return 0;
    if (data != nullptr) *data = field->data();
    return 1;
}

std::optional<uint16_t> PdFieldWord(const PdList* list, uint16_t key) {
    const auto field = PdFieldData(list, key);
    if (!field || field->size() < 2) return std::nullopt;
    return Word(field->data());
}

std::optional<std::string_view> PdFieldText(const PdList* list, uint16_t key) {
    const auto field = PdFieldData(list, key);
    if (!field) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(field->data());
    return std::string_view(text, strnlen(text, field->size()));
}

std::optional<uint16_t> PdRecordId(const PdList* list) {
    const auto id = PdFieldWord(list, kPdIdKey);
    if (!id || *id == 0 || *id >= 0x8000) return std::nullopt;
    return id;
}

void PdListDeleteCurrent(PdList* list) {
    if (!CursorInside(list)) return;
    const size_t length = Word(&list->block[list->cursor]);
    list->block.erase(list->block.begin() + static_cast<std::ptrdiff_t>(list->cursor),
                      list->block.begin() + static_cast<std::ptrdiff_t>(list->cursor + length));
    list->block.shrink_to_fit();
    list->changed = true;
}

void PdListRemove(PdList* list) { PdListDeleteCurrent(list); }

void PdListClear(PdList* list) {
    if (list == nullptr || list->block.empty()) return;
    list->block.clear();
    list->block.shrink_to_fit();
    list->cursor = 0;
    list->changed = true;
}

int PdListAppend(PdList* list, uint16_t count, const PdField* fields) {
    if (list == nullptr || count == 0 || fields == nullptr) return 0;
    const std::span<const PdField> given(fields, count);
    const size_t length = PdRecordLength(given);
    if (length == 0) return 0;
    const size_t at = list->block.size();
    try {
        list->block.resize(at + length, 0);  // the spare bytes stay 0
    } catch (const std::bad_alloc&) {
        return 0;
    }
    uint8_t* p = &list->block[at];
    PutWord(p, static_cast<uint16_t>(length));
    p += kPdRecordHeadSize;
    for (const PdField& f : given) {
        PutWord(p, f.key);
        PutWord(p + 2, static_cast<uint16_t>(f.length + kPdFieldHeadSize + kPdSpareSize));
        if (f.length != 0 && f.data != nullptr) std::memcpy(p + kPdFieldHeadSize, f.data, f.length);
        p += f.length + kPdFieldHeadSize + kPdSpareSize;
    }
    PutWord(p, 0);
    PutWord(p + 2, kPdTerminatorSize);
    list->cursor = at;
    list->changed = true;
    return 1;
}

size_t CopyBounded(std::string_view text, char* buffer, size_t capacity) {
    if (buffer != nullptr && capacity != 0) {
        const size_t n = std::min(text.size(), capacity - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

uint16_t PdFindFreeId(PdList* list, uint16_t first, uint32_t end) {
    if (end <= first) return 0;
    std::vector<bool> used(end - first, false);
    if (PdListFirst(list)) {
        do {
            const auto id = PdFieldWord(list, kPdIdKey);
            if (id && *id >= first && *id < end) used[*id - first] = true;
        } while (PdListNext(list));
    }
    for (uint32_t i = 0; i < used.size(); ++i) {
        if (!used[i]) return static_cast<uint16_t>(first + i);
    }
    return 0;
}

void* NewEnumerationBlock(std::span<const uint8_t> bytes, size_t step, size_t reserve) {
    size_t size = step;
    while (size - std::min(size, bytes.size()) < reserve || size < bytes.size()) size += step;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE | GMEM_ZEROINIT, size);
    if (h == nullptr) return nullptr;
    void* p = GlobalLock(h);
    if (p == nullptr) {
        GlobalFree(h);
        return nullptr;
    }
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

void FreeEnumerationBlock(void* block) {
    if (block == nullptr) return;
    HGLOBAL h = GlobalHandle(block);
    if (h == nullptr) return;
    GlobalUnlock(h);
    GlobalFree(h);
}

int PublishEnumeration(int count, std::initializer_list<EnumerationOutput> outputs) {
    std::vector<void*> made;
    for (const EnumerationOutput& o : outputs) {
        if (o.out == nullptr) continue;
        // Room for one more entry and its end mark, as the growth rule keeps.
        void* block = NewEnumerationBlock(*o.bytes, o.step, 4);
        if (block == nullptr) {
            for (void* b : made) FreeEnumerationBlock(b);
            for (const EnumerationOutput& c : outputs) {
                if (c.out != nullptr) *c.out = nullptr;
            }
            return 0;
        }
        made.push_back(block);
        *o.out = block;
    }
    return count;
}

void AppendWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendText(std::vector<uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

}  // namespace zq

namespace zq {

int PdListGetFields(PdList* list, std::span<const uint8_t** const> out) {
    int all = 1;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == nullptr) continue;
        if (!PdListGetField(list, static_cast<uint16_t>(i + 1), out[i])) all = 0;
    }
    return all;
}

bool PdNameIs(const PdList* list, std::string_view name) {
    const auto stored = PdFieldText(list, kPdNameKey);
    return stored && EqualsIgnoreCase(*stored, name);
}

}  // namespace zq
