// Arbitrary bytes as a stored record list (a printer-data value or a list
// file): the walk must end, stay inside the block, and every edit must keep
// the block a whole list.
#include <cstdint>
#include <string>

#include "settings/pd_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zq::PdList* list = zq::PdListOpenBytes({data, size});
    if (list == nullptr) return 0;
    if (zq::PdSoundPrefix(list->block) != list->block.size()) __builtin_trap();
    size_t records = 0;
    if (zq::PdListFirst(list)) {
        do {
            if (++records > size) __builtin_trap();  // the walk moves forward
            for (uint16_t key = 0; key < 8; ++key) {
                const uint8_t* p = nullptr;
                zq::PdListGetField(list, key, &p);
                (void)zq::PdFieldText(list, key);
                (void)zq::PdFieldWord(list, key);
            }
        } while (zq::PdListNext(list));
    }
    const uint16_t id = zq::PdFindFreeId(list, 1, 0x8000);
    if (zq::PdListFirst(list) && (size & 1)) zq::PdListDeleteCurrent(list);
    const std::string name = "fuzz";
    const zq::PdField fields[] = {{1, 2, &id}, {2, static_cast<uint16_t>(name.size() + 1), name.c_str()}};
    zq::PdListAppend(list, 2, fields);
    if (zq::PdSoundPrefix(list->block) != list->block.size()) __builtin_trap();
    zq::PdListDiscard(list);
    return 0;
}
