// The stored form of a spooler form: the data of its value under the Forms
// key, in thousandths of a millimetre.
#pragma once

#include <cstddef>

#include "base/types.h"

namespace zq::store {

struct FormRecord {
    LONG width;
    LONG height;
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
    DWORD index;  // order of creation; built-in forms carry their paper code
    DWORD flags;  // FORM_USER, FORM_BUILTIN or FORM_PRINTER
};
static_assert(sizeof(FormRecord) == 32);
static_assert(offsetof(FormRecord, left) == 8);
static_assert(offsetof(FormRecord, index) == 24);
static_assert(offsetof(FormRecord, flags) == 28);

}  // namespace zq::store
