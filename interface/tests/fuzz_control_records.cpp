// Arbitrary bytes as a model's control table (the first part, its length in
// the first byte) and as a control record list handed back by a page (the
// rest): building, writing back and the constraint pass stay within their
// buffers and keep the record's texts terminated.
#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/control_records.h"
#include "settings/devmode_ops.h"
#include "settings/tests/model_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zq::testing::TestModel model;
    static const zq::PrivateDevmode base = model.Default();
    if (size == 0) return 0;
    const size_t tableSize = std::min<size_t>(static_cast<size_t>(data[0]) * 8, size - 1);
    model.data.SetResource(283, 1, std::vector<uint8_t>(data + 1, data + 1 + tableSize));
    zq::ControlLists lists;
    if (zq::BuildControlRecords(lists, 1, base, base, model.data) == 0) {
        zq::PrivateDevmode out = base;
        zq::ControlsToDevmode(lists.working, out, model.data);
        zq::RefreshControlRecords(lists.working, {&model.data, &base, &base});
    }
    std::vector<uint8_t> list(data + 1 + tableSize, data + size);
    zq::PrivateDevmode out = base;
    zq::ControlsToDevmode(list, out, model.data);
    zq::DevmodeToControls(list, base, base, model.data);
    zq::RefreshControlRecords(list, {&model.data, &base, &base});
    if (out.overlayName1[63] != 0 || out.accountId[16] != 0 || out.userName[40] != 0 || out.pin849[4] != 0 ||
        out.text824[24] != 0) {
        __builtin_trap();
    }
    return 0;
}
