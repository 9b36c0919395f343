// Menu templates from untrusted bytes: both forms are read without reading
// past the bytes, and what is accepted can be walked and destroyed.
#include <cstddef>
#include <cstdint>

#include "user/menu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HMENU menu = zq::user::LoadMenuFromBytes({data, size});
    if (!menu) return 0;
    (void)zq::user::DumpMenu(menu);
    DestroyMenu(menu);
    return 0;
}
