// Arbitrary bytes imported as a configuration list of document and printer
// settings (scopes 1 and 2): the import must end, and every field it sets
// must hold a value an export writes again and a second import keeps.
#include <cstdint>
#include <cstring>
#include <memory>

#include "settings/tag_tables.h"

namespace {

struct Context {
    zq::TagListContext* c = nullptr;
    Context() { zq::TagListCreate(&c); }
    ~Context() { zq::TagListDestroy(&c); }
};

// Exports `from` and imports the list into `to`.
void RoundTrip(zq::PrivateDevmode& from, zq::PrivateDevmode& to) {
    zq::DvCfgContext out;
    out.scope = zq::kScopeDocument | zq::kScopePrinter;
    out.record = &from;
    out.codePage = 1252;
    Context list;
    if (zq::DevmodeToTagList(out, &list.c) < 0) __builtin_trap();
    const auto bytes = zq::TagListBytes(list.c);
    zq::DvCfgContext in = out;
    in.record = &to;
    Context reread;
    zq::TagListAttach(&reread.c, bytes.data(), bytes.size());
    zq::ImportTagList(in, &reread.c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto record = std::make_unique<zq::PrivateDevmode>();
    record->resolutions[0] = 600;
    record->defaultResolution = 600;
    record->model.flags394 = (size & 1) ? 0x4 : 0;
    zq::DvCfgContext import;
    import.scope = zq::kScopeDocument | zq::kScopePrinter;
    import.record = record.get();
    import.codePage = 1252;
    Context in;
    zq::TagListAttach(&in.c, data, size);
    if (zq::ImportTagList(import, &in.c) < 0) return 0;

    // What was imported travels on unchanged: once through an export and an
    // import (whose closing steps may settle the quality and the pair), and
    // then again to the same record.
    auto once = std::make_unique<zq::PrivateDevmode>(*record);
    auto twice = std::make_unique<zq::PrivateDevmode>(*record);
    RoundTrip(*record, *once);
    RoundTrip(*once, *twice);
    if (std::memcmp(once.get(), twice.get(), sizeof *once) != 0) __builtin_trap();
    return 0;
}
