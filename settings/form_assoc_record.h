// The 332-byte form association record: the twelve fields of a form
// association in a fixed layout, as the dialogs and the paper services hand
// it about.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

// Texts are ANSI, NUL-terminated within their 64 bytes.
struct FormAssocText {
    char name[64];
    uint16_t flag;
};

#pragma pack(push, 1)
struct FormAssocRecord {
    char name[64];              // field 2
    uint16_t paperCode;         // field 3: the paper the association names
    uint16_t sourceValue;       // field 4: the per-source value (paper type)
    FormAssocText overlays[2];  // fields 5/6 front, 7/8 back
    FormAssocText watermarks[2];  // fields 9/10 front, 11/12 back
};
#pragma pack(pop)

static_assert(sizeof(FormAssocText) == 66);
static_assert(sizeof(FormAssocRecord) == 332);
static_assert(offsetof(FormAssocRecord, paperCode) == 64);
static_assert(offsetof(FormAssocRecord, sourceValue) == 66);
static_assert(offsetof(FormAssocRecord, overlays) == 68);
static_assert(offsetof(FormAssocRecord, overlays) + offsetof(FormAssocText, flag) == 132);
static_assert(offsetof(FormAssocRecord, overlays) + sizeof(FormAssocText) == 134);
static_assert(offsetof(FormAssocRecord, overlays) + sizeof(FormAssocText) + offsetof(FormAssocText, flag) == 198);
static_assert(offsetof(FormAssocRecord, watermarks) == 200);
static_assert(offsetof(FormAssocRecord, watermarks) + offsetof(FormAssocText, flag) == 264);
static_assert(offsetof(FormAssocRecord, watermarks) + sizeof(FormAssocText) == 266);
static_assert(offsetof(FormAssocRecord, watermarks) + sizeof(FormAssocText) + offsetof(FormAssocText, flag) == 330);

}  // namespace zq
