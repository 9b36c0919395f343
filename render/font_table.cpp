// The downloaded-font table: entries, use list and printer memory.
#include "render/font_table.h"

#include <set>

namespace pclrend {

size_t DownloadedFonts::HeldBytes() const {
    size_t bytes = entries.capacity() * sizeof(DownloadedFontEntry);
    std::set<const FontTableBuffer*> seen;
    for (const DownloadedFontEntry& e : entries)
        if (e.tables && seen.insert(e.tables.get()).second) bytes += e.tables->file.capacity();
    return bytes;
}

namespace {

// The entry is off the printer: nothing of it counts as sent.
void ClearSent(DownloadedFontEntry& e) {
    e.bytesSent = 0;
    e.lastPage = 0;
    e.inUse = 0;
    e.flags = 0;
    e.glyphBits.Clear();
    e.componentBits.Clear();
    e.blockBits.reset();
}

}  // namespace

int64_t PrinterMemoryBytes(uint16_t megabytes) { return int64_t{megabytes} * 921600 - 462848; }

void ResetDownloadedFonts(DownloadedFonts& d, uint16_t megabytes) {
    for (DownloadedFontEntry& e : d.entries) {
        ClearSent(e);
        e.lruNext = e.lruPrev = kNoEntry;
    }
    d.mostRecent = d.leastRecent = kNoEntry;
    d.selectedFontId = d.namedFontId = d.selectedSymbolSet = 0xFFFF;
    d.selectedHeight = 0;
    d.blockSetsDefined.reset();
    // The size is signed: a printer of 0 megabytes (size unknown) does not
    // track at all rather than starting from a wrapped negative figure.
    d.tracking = megabytes != 0 && PrinterMemoryBytes(megabytes) > 0;
    d.freeMemory = d.tracking ? PrinterMemoryBytes(megabytes) : 0;
    d.exhausted = false;
}

uint16_t AddEntry(DownloadedFonts& d) {
    if (d.entries.size() >= 0xFFFF - kFirstSoftFontId) return kNoEntry;
    const auto index = static_cast<uint16_t>(d.entries.size());
    if (d.entries.size() == d.entries.capacity()) d.entries.reserve(d.entries.size() + 10);
    d.entries.emplace_back();
    DownloadedFontEntry& e = d.entries.back();
    e.fontId = static_cast<uint16_t>(kFirstSoftFontId + index);
    e.chainNext = index;
    return index;
}

void UnlinkEntry(DownloadedFonts& d, uint16_t index) {
    DownloadedFontEntry& e = d.entries[index];
    const bool linked = e.lruNext != kNoEntry || e.lruPrev != kNoEntry || d.mostRecent == index;
    if (!linked) return;
    if (e.lruNext != kNoEntry) d.entries[e.lruNext].lruPrev = e.lruPrev;
    else d.mostRecent = e.lruPrev;
    if (e.lruPrev != kNoEntry) d.entries[e.lruPrev].lruNext = e.lruNext;
    else d.leastRecent = e.lruNext;
    e.lruNext = e.lruPrev = kNoEntry;
}

void TouchEntry(DownloadedFonts& d, uint16_t index) {
    if (d.mostRecent == index) return;
    UnlinkEntry(d, index);
    DownloadedFontEntry& e = d.entries[index];
    e.lruPrev = d.mostRecent;
    if (d.mostRecent != kNoEntry) d.entries[d.mostRecent].lruNext = index;
    d.mostRecent = index;
    if (d.leastRecent == kNoEntry) d.leastRecent = index;
}

bool ReclaimPrinterMemory(DownloadedFonts& d, int64_t need, const std::function<void(DownloadedFontEntry&)>& remove) {
    if (!d.tracking) return true;
    uint16_t at = d.leastRecent;
    while (need + kMemoryMargin > d.freeMemory && at != kNoEntry) {
        const uint16_t next = d.entries[at].lruNext;
        DownloadedFontEntry& e = d.entries[at];
        if (e.lastPage != 0 && e.lastPage != d.page && !e.inUse) {
            if (remove) remove(e);
            d.freeMemory += e.bytesSent;
            ClearSent(e);
            e.tables.reset();
            UnlinkEntry(d, at);
        }
        at = next;
    }
    return need + kMemoryMargin <= d.freeMemory;
}

void ChargeEntry(DownloadedFonts& d, DownloadedFontEntry& e, uint32_t bytes) {
    e.bytesSent += bytes;
    if (d.tracking) d.freeMemory -= bytes;
}

}  // namespace pclrend
