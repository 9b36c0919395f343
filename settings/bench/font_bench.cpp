// Figures of the record lists and the font-summary cache, each with its
// peer measured in the same run: walking a 64-record list against copying
// its bytes, a cache hit against a full build, the renderer's cached read
// against a plain read of the file, a store into a full cache file against
// writing, flushing and renaming as many bytes, and a build's peak memory
// against the size of the summary it makes.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/root.h"
#include "base/text.h"
#include "settings/bench/bench_timing.h"
#include "settings/font_lists.h"
#include "settings/font_summary.h"
#include "settings/font_summary_cache.h"
#include "settings/pd_list.h"
#include "settings/tests/font_fixtures.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/temp_root.h"

// Heap use, for the peak of a build.
namespace {
std::atomic<size_t> live{0}, peak{0};
void Note(size_t n) {
    const size_t now = live.fetch_add(n) + n;
    size_t p = peak.load();
    while (now > p && !peak.compare_exchange_weak(p, now)) {
    }
}
}  // namespace
void* operator new(size_t n) {
    void* p = std::malloc(n + 16);
    if (p == nullptr) throw std::bad_alloc();
    *static_cast<size_t*>(p) = n;
    Note(n);
    return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    char* base = static_cast<char*>(p) - 16;
    live.fetch_sub(*reinterpret_cast<size_t*>(base));
    std::free(base);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

using zq::bench::Report;
using zq::bench::Time;

zq::PrivateDevmode Devmode(int16_t quality) {
    zq::PrivateDevmode d{};
    const std::u16string name = u"Bench";
    std::copy(name.begin(), name.end(), d.dm.dmDeviceName);
    d.dm.dmSize = zq::kPublicDevmodeSize;
    d.dm.dmDriverExtra = zq::kDriverExtraSize;
    d.dm.dmFields = zq::kDefaultDevmodeFields | DM_PRINTQUALITY;
    d.dm.dmPrintQuality = quality;
    d.privateVersion = zq::kPrivateDevmodeVersion;
    return d;
}

}  // namespace

int main() {
    const std::filesystem::path root = zq::testing::MakeTempDirectory("zq-font-bench");
    zq::SetSystemRoot(root);
    DRIVER_INFO_2W driver{3, const_cast<LPWSTR>(u"Zelquor Bench"), nullptr, const_cast<LPWSTR>(u"pclrend.dll"),
                          const_cast<LPWSTR>(u"drvui.dll"), const_cast<LPWSTR>(u"drvui.dll")};
    AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&driver));
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(u"Bench");
    info.pDriverName = const_cast<LPWSTR>(u"Zelquor Bench");
    info.pPortName = const_cast<LPWSTR>(u"LPT1:");
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        std::fprintf(stderr, "font_bench: cannot add the printer\n");
        return 1;
    }
    const auto cacheFile = *zq::MapPath(zq::AnsiToWide(zq::GetFontSummaryFileName(printer)));
    std::filesystem::create_directories(cacheFile.parent_path());

    // 1. A value of 64 watermark-sized records.
    std::vector<uint8_t> value;
    {
        zq::PdList* list = zq::PdListOpenBytes({});
        const std::vector<uint8_t> font(60, 1);
        for (uint16_t id = 1; id <= 64; ++id) {
            const std::string name = "Watermark " + std::to_string(id);
            const zq::PdField f[] = {{1, 2, &id}, {2, uint16_t(name.size() + 1), name.c_str()}, {3, 6, "DRAFT"},
                                     {4, 60, font.data()}};
            zq::PdListAppend(list, 4, f);
        }
        value = list->block;
        zq::PdListDiscard(list);
    }
    std::vector<uint8_t> copy(value.size());
    volatile size_t sink = 0;
    const double walk = Time(20000, [&] {
        zq::PdList* list = zq::PdListOpenBytes(value);
        if (zq::PdListFirst(list)) {
            do sink = sink + zq::PdFieldWord(list, 1).value_or(0) + zq::PdFieldText(list, 2)->size();
            while (zq::PdListNext(list));
        }
        zq::PdListDiscard(list);
    });
    const double copyTime = Time(20000, [&] {
        std::memcpy(copy.data(), value.data(), value.size());
        sink = sink + copy[value.size() / 2];
    });
    std::printf("record list: %zu records, %zu bytes\n", size_t{64}, value.size());
    Report("open, validate and walk a 64-record list", walk, copyTime, "memcpy of its bytes", 5);

    // 2. A cache hit against a full build of 120 resident fonts.
    zq::MemoryModelData model;
    {
        std::vector<uint8_t> list;
        for (int i = 0; i < 120; ++i) {
            zq::testing::FontSpec s;
            s.face = "Bench Face " + std::to_string(i);
            s.characters = 224;
            s.kernPairs = 20;
            model.SetResource(zq::kFontDescriptionType, uint16_t(i + 1), zq::testing::FirstForm(s));
            list.push_back(uint8_t(i)), list.push_back(uint8_t(i >> 8));
        }
        list.push_back(0xFF), list.push_back(0xFF);
        model.SetResource(zq::kResidentFontListType, 1, list);
    }
    zq::FontSummarySources sources;
    sources.model = &model;
    sources.printer = printer;
    sources.codePage = 1252;
    const zq::PrivateDevmode devmode = Devmode(600);
    const size_t before = live.load();
    peak.store(before);
    const auto summary = zq::BuildFontSummary(devmode, sources);
    const size_t peakBytes = peak.load() - before;
    const double build = Time(20, [&] { sink = sink + zq::BuildFontSummary(devmode, sources)->size(); });
    zq::RefreshFontSummary(devmode, printer, sources, nullptr);
    const double hit = Time(200, [&] { sink = sink + zq::RefreshFontSummary(devmode, printer, sources, nullptr); });
    std::printf("summary: 120 fonts, %zu bytes\n", summary->size());
    Report("cache hit through RefreshFontSummary", hit, build, "full build", 0.05);

    // 3. The renderer's cached read against reading the file.
    const double cached = Time(200, [&] { sink = sink + zq::ReadCachedFontSummary(printer, devmode)->size(); });
    const double plain = Time(200, [&] {
        FILE* f = std::fopen(cacheFile.c_str(), "rb");
        std::vector<char> bytes(std::filesystem::file_size(cacheFile));
        sink = sink + std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    });
    Report("ReadCachedFontSummary", cached, plain, "plain read of the file", 3);

    // 4. Stores into a full file (entries rotating out) against replacing a
    //    file of the same size by hand.
    for (int16_t q = 100; q < 110; ++q) zq::StoreFontSummary(Devmode(q), *summary, printer, nullptr);
    const size_t fileSize = std::filesystem::file_size(cacheFile);
    int16_t next = 200;
    const double store = Time(20, [&] { zq::StoreFontSummary(Devmode(next++), *summary, printer, nullptr); });
    const std::vector<uint8_t> same(fileSize, 0x5A);
    const auto peerFile = cacheFile.parent_path() / "peer.bin";
    const double replace = Time(20, [&] {
        std::string tmp = peerFile.string() + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "wb");
        std::fwrite(same.data(), 1, same.size(), f);
        std::fflush(f);
        fsync(fileno(f));
        std::fclose(f);
        std::rename(tmp.c_str(), peerFile.c_str());
    });
    std::printf("cache file: %zu bytes\n", fileSize);
    Report("StoreFontSummary into a full file", store, replace, "write+fsync+rename", 2);

    // 5. Peak memory of a build against the summary it makes.
    const double memRatio = double(peakBytes) / double(summary->size());
    std::printf("%-44s %10zu B   %-28s %10zu B   ratio %7.3f  (goal <= 3%s)\n", "peak heap of a build", peakBytes,
                "summary size", summary->size(), memRatio, memRatio <= 3 ? "" : ", missed");

    ClosePrinter(printer);
    zq::SetSystemRoot({});
    zq::testing::RemoveTree(root);
    return sink == 0xFFFFFFFF ? 1 : 0;
}
