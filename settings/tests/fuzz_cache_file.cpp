// Arbitrary bytes as a font-summary cache file, read by both libraries'
// rules; every entry handed out must be a summary that reads back whole.
#include <cstdint>
#include <cstring>

#include "settings/font_summary.h"
#include "settings/font_summary_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto view = zq::ParseCacheFile({data, size});
    if (!view) return 0;
    zq::PrivateDevmode wanted{};
    wanted.dm.dmFields = 0x400;
    for (const auto& e : view->entries) {
        if (e.summary.data() < data || e.summary.data() + e.summary.size() > data + size) __builtin_trap();
        zq::PrivateDevmode key;
        std::memcpy(&key, e.key.data(), sizeof key);
        (void)zq::FontSummaryKeyMatches(key, wanted, zq::KeyRule::Interface);
        (void)zq::FontSummaryKeyMatches(key, key, zq::KeyRule::Renderer);
        if (!zq::IsValidFontSummary(e.summary)) continue;
        for (const zq::FontSummaryEntry& f : zq::SummaryEntries(e.summary)) {
            (void)zq::SummaryString(e.summary, f.strings[0]);
        }
    }
    return 0;
}
