// Arbitrary bytes as a tag list: a walk that treats every element as a
// possible group must end, never read outside the list, and a rewritten
// copy of what it reached must walk the same way.
#include <cstdint>
#include <vector>

#include "settings/tag_list.h"

namespace {

// Enters every element it can, depth first, copying tags and data into
// `out`; counts the elements reached.
size_t Walk(zq::TagListContext** reader, zq::TagListContext** out, size_t budget) {
    size_t reached = 0;
    uint32_t tag = 0;
    while (reached < budget && zq::TagEnter(reader, &tag)) {
        ++reached;
        const uint8_t* data = nullptr;
        size_t length = 0;
        if (!zq::TagData(reader, &data, &length)) __builtin_trap();
        zq::TagBegin(out, tag);
        const size_t children = Walk(reader, out, budget - reached);
        if (children == 0) {
            zq::TagListRewind(reader);
            uint8_t buf[16];
            size_t got = 0, n = 0;
            while ((n = zq::TagRead(reader, buf, sizeof buf)) != 0) {
                got += n;
                zq::TagWrite(out, buf, n);
            }
            if (got != length) __builtin_trap();
        }
        reached += children;
        zq::TagEnd(out);
        if (!zq::TagEnd(reader)) __builtin_trap();
    }
    return reached;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zq::TagListContext* reader = nullptr;
    zq::TagListContext* copy = nullptr;
    zq::TagListCreate(&reader);
    zq::TagListCreate(&copy);
    zq::TagListAttach(&reader, data, size);
    const size_t reached = Walk(&reader, &copy, size / 8 + 1);
    if (reached > size / 8) __builtin_trap();  // every element has a head of its own

    // What was reached, written again, is a sound list of as many elements.
    const auto bytes = zq::TagListBytes(copy);
    std::vector<uint8_t> rewritten(bytes.begin(), bytes.end());
    zq::TagListContext* again = nullptr;
    zq::TagListContext* sink = nullptr;
    zq::TagListCreate(&again);
    zq::TagListCreate(&sink);
    zq::TagListAttach(&again, rewritten.data(), rewritten.size());
    if (reader->error == zq::TagListError::None && Walk(&again, &sink, rewritten.size() / 8 + 1) != reached) {
        __builtin_trap();
    }
    zq::TagListDestroy(&again);
    zq::TagListDestroy(&sink);
    zq::TagListDestroy(&reader);
    zq::TagListDestroy(&copy);
    return 0;
}
