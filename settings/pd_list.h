// Record lists: a whole printer-data value or list file held as one block of
// records, with a cursor, field lookup by key, deletion, clearing, appending
// and a write-back only when something changed.
//
// Stored record: uint16 record length (the whole record), fields {uint16 key,
// uint16 field length = data length + 5, data, one spare byte}, then the
// terminator {key 0, length 5, spare}. Records follow each other with
// nothing between them. Key 1 is a uint16 id and key 2 an ANSI name in every
// list of the driver.
//
// A value is validated once when it is opened: the list holds the longest
// prefix of whole, well-formed records, so every walk afterwards moves
// forward and stays inside the block. What lies behind that prefix is left
// in storage until the list is written back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace zq {

constexpr size_t kPdRecordHeadSize = 2;
constexpr size_t kPdFieldHeadSize = 4;
constexpr size_t kPdSpareSize = 1;
constexpr size_t kPdTerminatorSize = 5;
constexpr size_t kPdMinRecordSize = kPdRecordHeadSize + kPdTerminatorSize;  // 7
constexpr size_t kPdMaxRecordSize = 0xFFFF;
constexpr uint16_t kPdIdKey = 1;
constexpr uint16_t kPdNameKey = 2;

// One field as given to PdListAppend.
struct PdField {
    uint16_t key = 0;
    uint16_t length = 0;
    const void* data = nullptr;
};

// The bytes of the longest prefix of `value` made of well-formed records
// (record length at least 7 and inside the value, fields of at least 5 bytes
// inside their record, the terminator ending the record exactly).
size_t PdSoundPrefix(std::span<const uint8_t> value);

// Bytes of a record with these fields; 0 when it would not fit 16 bits.
size_t PdRecordLength(std::span<const PdField> fields);

struct PdList {
    std::string printerName;
    std::string valueName;        // empty for a list over a file
    std::vector<uint8_t> block;   // the sound prefix, then what was appended
    size_t cursor = 0;            // offset of the current record
    bool changed = false;
    size_t damagedBytes = 0;      // stored bytes behind the sound prefix
    bool readFailed = false;      // the stored value could not be read
    // A list over a file: where it lives, and the lock its writer holds
    // until the list is saved or discarded (-1: none).
    std::filesystem::path file;
    int lockFd = -1;
    ~PdList();
};

// Over the printer-data value `valueName` of the printer named `printerName`.
// A missing or unreadable value opens empty; nothing is written at open.
PdList* PdListOpen(const char* printerName, const char* valueName);
// The same, read through `printer`, already opened by that name.
PdList* PdListOpenOn(HANDLE printer, const char* printerName, const char* valueName);
// Over bytes held elsewhere (a list file, a test); nothing is written back.
PdList* PdListOpenBytes(std::span<const uint8_t> bytes);
// Writes the value back when the list changed, then frees the list. TRUE
// when nothing needed writing or the write succeeded.
BOOL PdListClose(PdList* list);
// Frees the list without writing anything.
void PdListDiscard(PdList* list);

int PdListFirst(PdList* list);
int PdListNext(PdList* list);
// 1 when the current record has a field with `key`; its data's address goes
// to *data (cleared first), valid until the next delete, append or close.
int PdListGetField(PdList* list, uint16_t key, const uint8_t** data);
void PdListDeleteCurrent(PdList* list);
void PdListRemove(PdList* list);
void PdListClear(PdList* list);
// 1 when the record was appended (the cursor then stands on it); 0 with the
// list unchanged for no fields or a record over 65535 bytes.
int PdListAppend(PdList* list, uint16_t count, const PdField* fields);
int ListFirst(PdList* list);
int ListNext(PdList* list);

// Readers of the current record's fields, bounded by the field's length.
std::optional<std::span<const uint8_t>> PdFieldData(const PdList* list, uint16_t key);
// A uint16 field of at least 2 bytes.
std::optional<uint16_t> PdFieldWord(const PdList* list, uint16_t key);
// A text field up to its NUL or the end of its data.
std::optional<std::string_view> PdFieldText(const PdList* list, uint16_t key);
// The record's id when it has one of 1-32767.
std::optional<uint16_t> PdRecordId(const PdList* list);

// Copies a text into a caller's buffer of `capacity` bytes, cut to fit and
// always terminated (nothing is written for a capacity of 0); returns the
// text's full length.
size_t CopyBounded(std::string_view text, char* buffer, size_t capacity);

// The lowest id of [first, end) that no record of the list carries, 0 when
// all are taken. Every record is scanned; ids outside the range are ignored.
uint16_t PdFindFreeId(PdList* list, uint16_t first, uint32_t end);

// A movable, shareable global block holding `bytes`, returned locked and
// sized in steps of `step` with at least `reserve` bytes to spare, as the
// enumerations hand them to the dialog library; null on failure.
void* NewEnumerationBlock(std::span<const uint8_t> bytes, size_t step, size_t reserve);
// Unlocks and frees a block from NewEnumerationBlock.
void FreeEnumerationBlock(void* block);

// One block of an enumeration: where the caller wants it (null: not
// wanted), its bytes and its growth step.
struct EnumerationOutput {
    void** out;
    const std::vector<uint8_t>* bytes;
    size_t step;
};
// Hands every wanted block to its caller and returns `count`; when one
// cannot be made, none is handed out and the result is 0.
int PublishEnumeration(int count, std::initializer_list<EnumerationOutput> outputs);

// Appends to a block under construction.
void AppendWord(std::vector<uint8_t>& out, uint16_t value);
void AppendText(std::vector<uint8_t>& out, std::string_view text);

// Fields 1..out.size() of the current record: out[i], when given, receives
// the data address of key i + 1. 1 when every requested field exists.
int PdListGetFields(PdList* list, std::span<const uint8_t** const> out);

// The current record's name (key 2) equals `name`, ignoring case.
bool PdNameIs(const PdList* list, std::string_view name);

// Moves the cursor to the first record that `match` accepts; false when none.
template <class Match>
bool PdFindFirst(PdList* list, Match match) {
    if (!PdListFirst(list)) return false;
    do {
        if (match(list)) return true;
    } while (PdListNext(list));
    return false;
}

// Deletes the first record that `match` accepts; false when none.
template <class Match>
bool PdDeleteFirst(PdList* list, Match match) {
    if (!PdFindFirst(list, match)) return false;
    PdListDeleteCurrent(list);
    return true;
}

// A printer opened by its ANSI name for one operation: full access where
// allowed, else default access; null when it cannot be opened.
class HeldPrinter {
public:
    explicit HeldPrinter(const char* name);
    ~HeldPrinter();
    HeldPrinter(const HeldPrinter&) = delete;
    HeldPrinter& operator=(const HeldPrinter&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// Owns an open list for one operation: Close writes it back, anything else
// frees it unwritten.
class PdListHolder {
public:
    explicit PdListHolder(PdList* list) : list_(list) {}
    ~PdListHolder() { PdListDiscard(list_); }
    PdListHolder(const PdListHolder&) = delete;
    PdListHolder& operator=(const PdListHolder&) = delete;
    PdList* get() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }
    BOOL Close() {
        PdList* l = list_;
        list_ = nullptr;
        return PdListClose(l);
    }

private:
    PdList* list_;
};

}  // namespace zq
