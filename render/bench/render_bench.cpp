// Figures of the renderer for each sample document at 600 dpi: seconds per
// page for the whole road of `zq print` (spooler, engine, driver) and for the
// engine's reference render alone, bytes per page of the job, and the row compressor's throughput next to
// memcpy of the same band; the same road in PCL XL against language 0, and
// the PCL XL image-row and path-point paths next to memcpy of their bytes;
// the same road in PCL 5 with HP-GL/2 against language 0;
// the HP-GL/2 PE encoder next to memcpy of its points, and paths a second
// through the HP-GL/2 route against the engine filling them into a 600 dpi
// band; the interface driver's document events as a share of a text
// page's whole road; the colour raster (language 5) against PCL 5 raster in
// colour and the reference render, and its band encoder and the 24-bit row
// coder next to memcpy of the same band. The ratios are printed after the
// table.
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H


#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "gdi/emf.h"
#include "gdi/emf_player.h"
#include "gdi/emf_print.h"
#include "gdi/ddi.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"
#include "base/loader.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/profile.h"
#include "render/colour_raster.h"
#include "render/driver.h"
#include "render/hpgl_path.h"
#include "render/output.h"
#include "render/raster.h"
#include "render/tt_download.h"
#include "settings/devmode_ops.h"
#include "store/driver_ui.h"
#include "render/tests/e2e/print_support.h"
#include "testing/temp_root.h"

namespace {

using namespace pclrend;
using namespace pclrend::testing;

class NullSink : public Sink {
public:
    uint32_t Write(const uint8_t*, uint32_t size) override {
        bytes += size;
        return size;
    }
    uint64_t bytes = 0;
};

// A band of noise: a fifth of its bytes random, in lines with gaps. Not a
// page (dither repeats, text is mostly white): the coder at its hardest.
std::vector<uint8_t> SampleBand(int32_t width, int32_t rows, int32_t stride) {
    std::vector<uint8_t> band(static_cast<size_t>(stride) * rows, 0xFF);
    std::mt19937 rng(5);
    for (int32_t y = 0; y < rows; ++y) {
        if ((y / 12) % 3 == 2) continue;  // line gaps
        uint8_t* row = band.data() + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width / 8; ++x)
            if (rng() % 5 == 0) row[x] = static_cast<uint8_t>(rng());
    }
    return band;
}

constexpr int32_t kWidth = 4900, kRows = 1600, kStride = ((kWidth + 31) / 32) * 4;

// A record writing into a sink that counts the bytes.
struct CountingRecord {
    CountingRecord() {
        AllocateBuffers(r, false);
        r.sink = &sink;
        r.jobState = kJobOpen;
    }
    DeviceRecord r;
    NullSink sink;
};

// Codes `sample` (kRows rows of `stride` bytes) as one band again and again.
void CompressBand(benchmark::State& state, const std::vector<uint8_t>& sample, int32_t width, int32_t stride) {
    std::vector<uint8_t> band(sample.size());
    CountingRecord counting;
    DeviceRecord& r = counting.r;
    const NullSink& sink = counting.sink;
    for (auto _ : state) {
        state.PauseTiming();
        band = sample;  // the coder may whiten bits past the band's width
        state.ResumeTiming();
        SendMonoBand(r, MonoBand{band.data(), stride, width, kRows}, {});
        SpoolFlush(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.size()));
    state.counters["ratio_out_in"] = static_cast<double>(sink.bytes) / static_cast<double>(state.iterations() * sample.size());
}

void BM_CompressBand(benchmark::State& state) { CompressBand(state, SampleBand(kWidth, kRows, kStride), kWidth, kStride); }
BENCHMARK(BM_CompressBand)->Unit(benchmark::kMillisecond);

// memcpy of a band, the yardstick of the band coders.
void CopyBand(benchmark::State& state, const std::vector<uint8_t>& sample) {
    std::vector<uint8_t> band(sample.size());
    for (auto _ : state) {
        std::memcpy(band.data(), sample.data(), sample.size());
        benchmark::DoNotOptimize(band.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.size()));
}

void BM_MemcpyBand(benchmark::State& state) { CopyBand(state, SampleBand(kWidth, kRows, kStride)); }
BENCHMARK(BM_MemcpyBand)->Unit(benchmark::kMillisecond);

// A 24-bit band of a colour page (600 dpi, letter width): white margins and
// gaps, flat colour areas and a photograph-like gradient with noise.
constexpr int32_t kRgbWidth = 4900, kRgbRows = 512, kRgbStride = (kRgbWidth * 24 + 31) / 32 * 4;
std::vector<uint8_t> SampleRgbBand() {
    std::vector<uint8_t> band(static_cast<size_t>(kRgbStride) * kRgbRows, 0xFF);
    std::mt19937 rng(9);
    for (int32_t y = 0; y < kRgbRows; ++y) {
        if ((y / 40) % 4 == 3) continue;
        uint8_t* row = band.data() + static_cast<size_t>(y) * kRgbStride;
        for (int32_t x = 300; x < kRgbWidth - 300; ++x) {
            uint8_t* p = row + 3 * static_cast<size_t>(x);
            if (x < 2000) p[0] = 30, p[1] = 90, p[2] = 200;  // a flat area
            else if (x > 2400) p[0] = static_cast<uint8_t>(x / 12 + rng() % 6), p[1] = static_cast<uint8_t>(y / 3), p[2] = 128;
        }
    }
    return band;
}

void BM_RgbBand(benchmark::State& state) {
    const auto band = SampleRgbBand();
    CountingRecord counting;
    DeviceRecord& r = counting.r;
    const NullSink& sink = counting.sink;
    for (auto _ : state) {
        r.gl = {};
        SendRgbBand(r, MonoBand{const_cast<uint8_t*>(band.data()), kRgbStride, kRgbWidth, kRgbRows}, 0, 0);
        SpoolFlush(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(band.size()));
    state.counters["ratio_out_in"] = static_cast<double>(sink.bytes) / static_cast<double>(state.iterations() * band.size());
}
BENCHMARK(BM_RgbBand)->Unit(benchmark::kMillisecond);


// PE encoding of a million 32-bit points next to memcpy of them.
std::vector<POINTL> SamplePoints() {
    std::vector<POINTL> pts(1000000);
    std::mt19937 rng(7);
    for (auto& p : pts) p = {static_cast<LONG>(rng() % 10000) - 5000, static_cast<LONG>(rng() % 10000) - 5000};
    return pts;
}

void BM_PeEncode(benchmark::State& state) {
    const auto pts = SamplePoints();
    // The path emitter's form: pairs written straight into a buffer.
    std::vector<char> out(pts.size() * 12 + 8);  // room for the encoder's 6-byte stores
    for (auto _ : state) {
        char* end = out.data();
        for (const auto& p : pts) end = PeEncodeTo(p.y, PeEncodeTo(p.x, end));
        benchmark::DoNotOptimize(end);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pts.size() * sizeof(POINTL)));
}
BENCHMARK(BM_PeEncode)->Unit(benchmark::kMillisecond);

void BM_MemcpyPePoints(benchmark::State& state) {
    const auto pts = SamplePoints();
    std::vector<POINTL> copy(pts.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), pts.data(), pts.size() * sizeof(POINTL));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemcpyPePoints)->Unit(benchmark::kMillisecond);

// A star of 40 points across a 600 dpi page width, 100 a round.
constexpr int kPathsARound = 100;
zq::gdi::Path Star(int i) {
    zq::gdi::Path p;
    for (int k = 0; k < 40; ++k) {
        const double a = k * 2.513274, radius = 1500 + (k % 2) * 300;
        const POINTFIX pt{static_cast<FIX>((2400 + radius * std::cos(a) + i) * 16), static_cast<FIX>((800 + radius * 0.25 * std::sin(a)) * 16)};
        if (k == 0) p.MoveTo(pt);
        else p.LineTo(pt);
    }
    p.CloseFigure();
    return p;
}

// Paths through the HP-GL/2 route (polygon and fill written to a sink)...
void BM_Gl2Paths(benchmark::State& state) {
    DeviceRecord r;
    AllocateBuffers(r, false);
    NullSink sink;
    r.sink = &sink;
    r.jobState = kJobOpen;
    r.language = Language::Pcl5Gl2;
    r.resolution = 600;
    std::vector<zq::gdi::Path> paths;
    for (int i = 0; i < kPathsARound; ++i) paths.push_back(Star(i));
    for (auto _ : state)
        for (auto& path : paths) {
            PATHOBJ_vEnumStart(&path);
            PATHDATA pd{};
            Gl2EmitPath(r, [&](PathPiece& piece) {
                const BOOL more = PATHOBJ_bEnum(&path, &pd);
                piece = {pd.flags, pd.pptfx, pd.count};
                return more != FALSE;
            });
            Gl2DrawPolygonIn(r, nullptr, true, false, true);
            SpoolFlush(r);
        }
    state.counters["paths_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPathsARound, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Gl2Paths)->Unit(benchmark::kMillisecond);

// ...and the same paths filled by the engine into a 600 dpi band.
void BM_EngineBandPaths(benchmark::State& state) {
    const LONG width = 4800, rows = 1600;
    HBITMAP bitmap = EngCreateBitmap(SIZEL{width, rows}, ((width + 31) / 32) * 4, BMF_1BPP, BMF_TOPDOWN, nullptr);
    SURFOBJ* so = EngLockSurface(static_cast<HSURF>(bitmap));
    BRUSHOBJ black{0, nullptr, 0};
    std::vector<zq::gdi::Path> paths;
    for (int i = 0; i < kPathsARound; ++i) paths.push_back(Star(i));
    for (auto _ : state)
        for (auto& path : paths) EngFillPath(so, &path, nullptr, &black, nullptr, 0x0D0D, FP_WINDINGMODE);
    state.counters["paths_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kPathsARound, benchmark::Counter::kIsRate);
    EngUnlockSurface(so);
    EngDeleteSurface(static_cast<HSURF>(bitmap));
}
BENCHMARK(BM_EngineBandPaths)->Unit(benchmark::kMillisecond);

// A record on an open PCL XL page writing into nothing.
struct XlRecord {
    XlRecord() {
        AllocateBuffers(r, false);
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.language = Language::PclXl;
        r.resolution = 600;
        r.darknessLevel = 4;
        r.xl.pageOpen = true;
        r.xl.PageStart();
    }
    DeviceRecord r;
    NullSink sink;
};

// A photograph-like 24-bit source: smooth gradients with some noise.
constexpr LONG kImageWidth = 2000, kImageHeight = 800;

void XlImageRows(benchmark::State& state, ULONG format) {
    const SIZEL size{kImageWidth, kImageHeight};
    HBITMAP bitmap = EngCreateBitmap(size, 0, format, BMF_TOPDOWN, nullptr);
    SURFOBJ* so = bitmap ? EngLockSurface(reinterpret_cast<HSURF>(bitmap)) : nullptr;
    if (!so) return state.SkipWithError("no bitmap");
    std::mt19937 rng(7);
    auto* bits = static_cast<uint8_t*>(so->pvScan0);
    for (LONG y = 0; y < kImageHeight; ++y)
        for (LONG i = 0; i < so->lDelta; ++i)
            bits[static_cast<size_t>(y) * so->lDelta + i] = static_cast<uint8_t>((i / 3 + y / 4) + rng() % 8);
    XlRecord x;
    const RECTL dest{0, 0, kImageWidth, kImageHeight}, src{0, 0, kImageWidth, kImageHeight};
    for (auto _ : state) {
        XlBitBlt(x.r, so, nullptr, nullptr, nullptr, dest, &src, nullptr, 0xCCCC);
        SpoolFlush(x.r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * so->lDelta * kImageHeight);
    state.counters["source_bytes"] = static_cast<double>(so->lDelta) * kImageHeight;
    EngUnlockSurface(so);
    EngDeleteSurface(reinterpret_cast<HSURF>(bitmap));
}
void BM_XlImageRows24(benchmark::State& state) { XlImageRows(state, BMF_24BPP); }
BENCHMARK(BM_XlImageRows24)->Unit(benchmark::kMillisecond);
void BM_XlImageRows8(benchmark::State& state) { XlImageRows(state, BMF_8BPP); }
BENCHMARK(BM_XlImageRows8)->Unit(benchmark::kMillisecond);

constexpr size_t kPathPoints = 200000;

// A long polyline filled: the path-point path (enumeration, cut to the
// signed range, records of at most 65535 points).
void BM_XlPathPoints(benchmark::State& state) {
    zq::gdi::Path path;
    std::mt19937 rng(3);
    path.MoveTo({0, 0});
    for (size_t i = 1; i < kPathPoints; ++i)
        path.LineTo({static_cast<LONG>(rng() % 80000) * 16, static_cast<LONG>(rng() % 100000) * 16});
    XlRecord x;
    BRUSHOBJ black{0x000000, nullptr, 0};
    for (auto _ : state) {
        XlFillPath(x.r, &path, nullptr, &black, 0x0D0D, FP_WINDINGMODE);
        SpoolFlush(x.r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPathPoints * sizeof(POINTFIX)));
}
BENCHMARK(BM_XlPathPoints)->Unit(benchmark::kMillisecond);

// memcpy of `bytes` bytes, for the ratios of the two paths above.
void MemcpyOf(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> from(bytes, 0x55), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
void BM_MemcpyImage24(benchmark::State& state) { MemcpyOf(state, static_cast<size_t>((kImageWidth * 3 + 3) / 4 * 4) * kImageHeight); }
BENCHMARK(BM_MemcpyImage24)->Unit(benchmark::kMillisecond);
void BM_MemcpyImage8(benchmark::State& state) { MemcpyOf(state, static_cast<size_t>((kImageWidth + 3) / 4 * 4) * kImageHeight); }
BENCHMARK(BM_MemcpyImage8)->Unit(benchmark::kMillisecond);
void BM_MemcpyPoints(benchmark::State& state) { MemcpyOf(state, kPathPoints * sizeof(POINTFIX)); }
void BM_MemcpyRgbBand(benchmark::State& state) { MemcpyOf(state, static_cast<size_t>(kRgbStride) * kRgbRows); }
BENCHMARK(BM_MemcpyRgbBand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyPoints)->Unit(benchmark::kMillisecond);

// Two printers of a shipped model on the same renderer and model data:
// "Events" names the interface driver as its configuration file, so GDI
// raises the document events into it; "Quiet" names the renderer there,
// which has no document events. True when both were added.
bool InstallEventPrinters(const std::filesystem::path& driver) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    std::error_code ec;
    if (driver.empty() || !bin) return false;
    std::filesystem::copy_file(std::filesystem::path(bin) / "lib" / "drvui.so", driver.parent_path() / "drvui.so",
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    struct Twin {
        std::u16string driverName, config, printer;
    } twins[] = {{u"Zelquor Mira 12 PCL", u"drvui.so", u"Events"}, {u"Zelquor Mira 12 PCL quiet", u"pclrend.so", u"Quiet"}};
    for (auto& t : twins) {
        const std::string section(t.driverName.begin(), t.driverName.end());
        if (!WritePrivateProfileStringA(section.c_str(), "Model", "Zelquor Mira 12", "pclrend.ini")) return false;
        std::u16string renderer = u"pclrend.so", data = u"drvui.so", port = u"LPT1:";
        DRIVER_INFO_2W d{3, t.driverName.data(), nullptr, renderer.data(), data.data(), t.config.data()};
        if (!AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&d))) return false;
        PRINTER_INFO_2W info{};
        info.pPrinterName = t.printer.data();
        info.pDriverName = t.driverName.data();
        info.pPortName = port.data();
        HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        if (!h) return false;
        ClosePrinter(h);
    }
    return true;
}

// One system root with the printers for the whole run.
struct Root {
    Root() : dir(zq::testing::MakeTempDirectory("zq-render-bench")) {
        if (dir.empty()) return;
        zq::SetSystemRoot(dir);
        driver = InstallPrinter();
        events = InstallEventPrinters(driver);
    }
    ~Root() {
        zq::SetSystemRoot({});
        zq::testing::RemoveTree(dir);
    }
    std::filesystem::path dir, driver;
    bool events = false;
};
Root& TheRoot() {
    static Root root;
    return root;
}

std::vector<uint8_t> Sample(const std::string& name) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    std::ifstream in(std::filesystem::path(source ? source : ".") / "tools/emfgen/samples" / (name + ".emf"),
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The sample played once, as `zq print` plays it, onto a DC of "Mono" that
// keeps its page for the reference render.
class KeptPage {
public:
    explicit KeptPage(const std::string& name) {
        const auto emf = Sample(name);
        auto dm = Letter(600);
        if (TheRoot().driver.empty() || emf.empty()) return;
        dc_ = CreateDCW(u"WINSPOOL", u"Mono", nullptr, &dm.dm);
        if (!dc_) return;
        zq::KeepPages(dc_, true);
        HENHMETAFILE meta = SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
        DOCINFOW info{sizeof(DOCINFOW), u"sample", nullptr, nullptr, 0};
        StartDocW(dc_, &info);
        StartPage(dc_);
        const int ox = GetDeviceCaps(dc_, PHYSICALOFFSETX), oy = GetDeviceCaps(dc_, PHYSICALOFFSETY);
        const RECT dest{-ox, -oy, GetDeviceCaps(dc_, PHYSICALWIDTH) - ox, GetDeviceCaps(dc_, PHYSICALHEIGHT) - oy};
        PlayEnhMetaFile(dc_, meta, &dest);
        EndPage(dc_);
        EndDoc(dc_);
        DeleteEnhMetaFile(meta);
    }
    ~KeptPage() {
        if (dc_) DeleteDC(dc_);
    }
    KeptPage(const KeptPage&) = delete;
    KeptPage& operator=(const KeptPage&) = delete;
    HDC dc() const { return dc_; }

private:
    HDC dc_ = nullptr;
};

// A band of a real page's reference render at 600 dpi, as the engine leaves
// it in the band (1 = white): kRows rows of the sample, from the top or, with
// `densest`, where the most ink is (the photo's halftoned picture).
std::vector<uint8_t> PageBand(const std::string& name, bool densest, int32_t& width, int32_t& stride) {
    KeptPage kept(name);
    if (!kept.dc()) return {};
    auto page = zq::RenderReferencePage(kept.dc(), 0);
    std::vector<uint8_t> band;
    zq::gdi::Surface* s = page.Get();
    if (!s || s->iBitmapFormat != BMF_1BPP || s->sizlBitmap.cy < kRows) return band;
    width = s->sizlBitmap.cx;
    stride = (width + 31) / 32 * 4;
    const int32_t rowBytes = (width + 7) / 8;
    const bool zeroIsBlack = s->Pal().ToRgb(0) == 0;
    auto ink = [&](int32_t y) {
        int64_t n = 0;
        for (int32_t i = 0; i < rowBytes; ++i)
            n += std::popcount(static_cast<uint8_t>(zeroIsBlack ? ~s->Row(y)[i] : s->Row(y)[i]));
        return n;
    };
    int32_t top = 0;
    if (densest) {
        std::vector<int64_t> sums(static_cast<size_t>(s->sizlBitmap.cy) + 1, 0);
        for (int32_t y = 0; y < s->sizlBitmap.cy; ++y) sums[static_cast<size_t>(y) + 1] = sums[static_cast<size_t>(y)] + ink(y);
        int64_t best = -1;
        for (int32_t y = 0; y + kRows <= s->sizlBitmap.cy; y += 8)
            if (const int64_t n = sums[static_cast<size_t>(y + kRows)] - sums[static_cast<size_t>(y)]; n > best) best = n, top = y;
    }
    band.assign(static_cast<size_t>(stride) * kRows, 0xFF);
    for (int32_t y = 0; y < kRows; ++y)
        for (int32_t i = 0; i < rowBytes; ++i)
            band[static_cast<size_t>(y) * stride + i] =
                zeroIsBlack ? s->Row(top + y)[i] : static_cast<uint8_t>(~s->Row(top + y)[i]);
    return band;
}

// The row coder on a band of a real page, and memcpy of the same band.
void CompressPageBand(benchmark::State& state, const std::string& name, bool densest) {
    int32_t width = 0, stride = 0;
    const auto sample = PageBand(name, densest, width, stride);
    if (sample.empty()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    CompressBand(state, sample, width, stride);
}
void CopyPageBand(benchmark::State& state, const std::string& name, bool densest) {
    int32_t width = 0, stride = 0;
    const auto sample = PageBand(name, densest, width, stride);
    if (sample.empty()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    CopyBand(state, sample);
}
void BM_CompressPageBand(benchmark::State& state) { CompressPageBand(state, "text", false); }
BENCHMARK(BM_CompressPageBand)->Unit(benchmark::kMicrosecond);
void BM_MemcpyPageBand(benchmark::State& state) { CopyPageBand(state, "text", false); }
BENCHMARK(BM_MemcpyPageBand)->Unit(benchmark::kMicrosecond);
// A dense dithered band: the photo's picture through the driver's halftone.
void BM_CompressPhotoBand(benchmark::State& state) { CompressPageBand(state, "photo", true); }
BENCHMARK(BM_CompressPhotoBand)->Unit(benchmark::kMicrosecond);
void BM_MemcpyPhotoBand(benchmark::State& state) { CopyPageBand(state, "photo", true); }
BENCHMARK(BM_MemcpyPhotoBand)->Unit(benchmark::kMicrosecond);

// The colour raster's band encoder (darkness, screening, packing, deflate)
// on a 24-bit band of a photograph-like page, next to memcpy of that band.
constexpr int32_t kColourRows = 512, kColourStride = (kWidth * 3 + 3) / 4 * 4;

std::vector<uint8_t> ColourSampleBand() {
    std::vector<uint8_t> band(static_cast<size_t>(kColourStride) * kColourRows, 0xFF);
    std::mt19937 rng(7);
    for (int32_t y = 0; y < kColourRows; ++y)
        for (int32_t x = 0; x < kWidth * 3 / 4; ++x) {  // the right quarter stays white
            uint8_t* p = &band[static_cast<size_t>(y) * kColourStride + static_cast<size_t>(x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / kWidth + rng() % 8);
            p[1] = static_cast<uint8_t>(y * 255 / kColourRows);
            p[2] = static_cast<uint8_t>((x + y) & 255);
        }
    return band;
}

void BM_ColourBandEncoder(benchmark::State& state) {
    const auto band = ColourSampleBand();
    DeviceRecord r;
    AllocateBuffers(r, false);
    NullSink sink;
    r.sink = &sink;
    r.jobState = kJobOpen;
    r.language = Language::ColourRaster;
    r.colour = 1;
    r.classValue = 5;
    r.geometry.printableWidth = r.drawnWidth = kWidth;
    r.geometry.printableLength = r.drawnHeight = kColourRows;
    r.geometry.width = kWidth + 200;
    r.geometry.length = kColourRows + 200;
    for (auto _ : state) {
        SendColourBand(r, {band.data(), kColourStride, kWidth, kColourRows}, 0, 0);
        SpoolFlush(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(band.size()));
    state.counters["ratio_out_in"] = static_cast<double>(sink.bytes) / static_cast<double>(state.iterations() * band.size());
}
BENCHMARK(BM_ColourBandEncoder)->Unit(benchmark::kMillisecond);

void BM_MemcpyColourBand(benchmark::State& state) { CopyBand(state, ColourSampleBand()); }
BENCHMARK(BM_MemcpyColourBand)->Unit(benchmark::kMillisecond);

// The whole road of `zq print`: spooling, playing onto the printer's DC,
// the driver's bands and the job in the spooler.
// Colour roads print on a colour model in colour. The memory of a document
// is what the interface driver hands the renderer (the memory free on the
// machine); a fixed figure keeps the benchmark the same on every machine,
// and 0 leaves the renderer its least band budget.
constexpr DWORD kDocumentMemory = 256u << 20;
void Road(benchmark::State& state, const std::string& name, BYTE language, bool hostFinishing, bool colour = false,
          DWORD memory = 0, short ttOption = 0, int pages = 1) {
    auto& root = TheRoot();
    std::vector<uint8_t> emf;
    for (int p = 0; p < pages; ++p) {  // metafiles one after another print as pages
        const auto one = Sample(name);
        emf.insert(emf.end(), one.begin(), one.end());
    }
    if (root.driver.empty() || emf.empty()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    auto dm = Letter(600);
    dm.printerLanguage = language;
    dm.dm.dmTTOption = ttOption;
    dm.metaSpool = hostFinishing ? 1 : 0;  // the spool stream of host finishing
    dm.availableMemory = memory;
    if (colour) {
        dm.model.flags400 |= 0x08;  // a colour model
        dm.dm.dmColor = DMCOLOR_COLOR;
        dm.resolutionFeature = 1;  // levels of 2 bits
    }
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto result = zq::emf::PrintDocument(u"Mono", emf, u"sample", &dm.dm);
        if (!result.error.empty() || !result.outputJob) return state.SkipWithError(result.error.c_str());
        bytes += std::filesystem::file_size(zq::store::JobFile(result.outputJob));
    }
    state.counters["bytes_per_page"] = static_cast<double>(bytes) / static_cast<double>(state.iterations() * pages);
}
void WholeRoad(benchmark::State& state, const std::string& name, BYTE language) { Road(state, name, language, false); }
// The colour raster (language 5) on a colour record, with the document's
// memory and with the least (a band of one grid row), and PCL 5 raster in
// colour (language 0) with the document's memory.
void WholeRoadColour(benchmark::State& state, const std::string& name) { Road(state, name, 5, false, true, kDocumentMemory); }
void WholeRoadColourLeast(benchmark::State& state, const std::string& name) { Road(state, name, 5, false, true, 0); }
void WholeRoadColourPcl(benchmark::State& state, const std::string& name) { Road(state, name, 0, false, true, kDocumentMemory); }
// PCL 5 with HP-GL/2, TrueType text sent as soft fonts (outlines where the
// font allows).
void WholeRoadDownload(benchmark::State& state, const std::string& name) { Road(state, name, 1, false, false, 0, 4); }
// The same document twice in one job: the second page's bytes, whose fonts
// went with the first.
void WholeRoadDownloadTwice(benchmark::State& state, const std::string& name) { Road(state, name, 1, false, false, 0, 4, 2); }
// The same road writing the spool stream of host finishing.
void WholeRoadStream(benchmark::State& state, const std::string& name) { Road(state, name, 0, true); }

// The record both event roads print with: the interface driver's record of
// "Events" asking for the monochrome raster at 600 dpi (check value
// renewed), made the job's record by the driver's CREATEDCPRE event, so
// that the road without events renders the same job.
std::vector<uint8_t> EventsJobRecord() {
    std::u16string name = u"Events", driverName = u"Zelquor Mira 12 PCL";
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return {};
    std::vector<uint8_t> block(4096);
    auto* dm = reinterpret_cast<zq::PrivateDevmode*>(block.data());
    std::vector<uint8_t> job;
    DWORD needed = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    HMODULE ui = nullptr;
    if (needed && GetPrinterDriverW(printer, nullptr, 3, info.data(), needed, &needed))
        ui = LoadLibraryW(reinterpret_cast<DRIVER_INFO_3W*>(info.data())->pConfigFile);
    using DocumentEvent = int (*)(HANDLE, HDC, int, ULONG, void*, ULONG, void*);
    auto* event = ui ? reinterpret_cast<DocumentEvent>(GetProcAddress(ui, "DrvDocumentEvent")) : nullptr;
    if (event && DocumentPropertiesW(nullptr, printer, name.data(), &dm->dm, nullptr, DM_OUT_BUFFER) == IDOK) {
        dm->printerLanguage = 0;  // the monochrome raster; the event computes the paper formats
        dm->metaSpool = 0;
        dm->dm.dmPrintQuality = dm->dm.dmYResolution = 600;
        dm->dm.dmColor = DMCOLOR_MONOCHROME;
        zq::SetDevmodeCrc(*dm);
        DOCEVENT_CREATEDCPRE pre{driverName.data(), name.data(), &dm->dm, FALSE};
        DEVMODEW* made = nullptr;
        if (event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof made, &made) > 0 && made) {
            const auto* p = reinterpret_cast<const uint8_t*>(made);
            job.assign(p, p + made->dmSize + made->dmDriverExtra);
        }
        if (made) GlobalFree(made);
    }
    if (ui) FreeLibrary(ui);
    ClosePrinter(printer);
    return job;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The whole road on "Events" and on "Quiet" (see InstallEventPrinters) in
// turn, with the same job record: the difference is the document events'
// work. Each pair is timed in the process's CPU seconds (the spooler's files
// make wall time noisy on a busy machine); the share is the pairs' median.
void EventsShare(benchmark::State& state, const std::string& name) {
    auto& root = TheRoot();
    const auto emf = Sample(name);
    if (!root.events || emf.empty()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    static const std::vector<uint8_t> record = EventsJobRecord();
    if (record.empty()) return state.SkipWithError("the interface driver gives no job record");
    const auto* dm = reinterpret_cast<const DEVMODEW*>(record.data());
    std::vector<double> shares, with, without, wallShares;
    uint64_t bytes[2] = {};
    for (auto _ : state) {
        double cpu[2] = {}, wall[2] = {};
        for (const int events : {1, 0}) {
            const double start = ProcessCpuSeconds();
            const auto wallStart = std::chrono::steady_clock::now();
            const auto result = zq::emf::PrintDocument(events ? u"Events" : u"Quiet", emf, u"sample", dm);
            cpu[events] = ProcessCpuSeconds() - start;
            wall[events] = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
            if (!result.error.empty() || !result.outputJob) return state.SkipWithError(result.error.c_str());
            bytes[events] += std::filesystem::file_size(zq::store::JobFile(result.outputJob));
        }
        with.push_back(cpu[1]), without.push_back(cpu[0]);
        shares.push_back((cpu[1] - cpu[0]) / cpu[1]);
        wallShares.push_back((wall[1] - wall[0]) / wall[1]);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double n = static_cast<double>(state.iterations());
    state.counters["events_share_pct"] = 100 * median(shares);
    state.counters["wall_share_pct"] = 100 * median(wallShares);
    state.counters["cpu_s_with"] = median(with);
    state.counters["cpu_s_without"] = median(without);
    state.counters["bytes_with"] = static_cast<double>(bytes[1]) / n;
    state.counters["bytes_without"] = static_cast<double>(bytes[0]) / n;
}

// The engine's reference render of the same page alone: the document is
// played once onto a DC that keeps its page, then rendered unbanded.
void ReferenceRender(benchmark::State& state, const std::string& name) {
    KeptPage kept(name);
    if (!kept.dc()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    for (auto _ : state) {
        auto page = zq::RenderReferencePage(kept.dc(), 0);
        benchmark::DoNotOptimize(page.Get());
    }
}

// Bytes of the sample's images as 24-bit rows (padded to four bytes).
double ImageBytes24(const std::string& name) {
    const auto emf = Sample(name);
    const auto parsed = zq::emf::ParseEmf(emf);
    if (!parsed.document) return 0;
    double bytes = 0;
    auto add = [&](const zq::emf::Dib& d) {
        bytes += static_cast<double>((int64_t{d.width} * 3 + 3) / 4 * 4) * std::abs(int64_t{d.height});
    };
    for (const auto& rec : parsed.document->records) {
        if (const auto* s = std::get_if<zq::emf::StretchDib>(&rec)) add(s->dib);
        if (const auto* b = std::get_if<zq::emf::Blt>(&rec); b && b->source) add(*b->source);
    }
    return bytes;
}

// Keeps each run's time per iteration so that the ratios can be printed.

// TrueType soft fonts: a first-use outline glyph download (the font's header
// already on the printer) against FreeType rendering the same glyph at
// 600 dpi, 12 points; glyphs of DejaVu Sans in turn.
const char* kBenchFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr uint32_t kFirstBenchGlyph = 36, kLastBenchGlyph = 3000;

std::vector<uint8_t> BenchFontFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CountingSink : public pclrend::Sink {
public:
    uint32_t Write(const uint8_t*, uint32_t size) override { return size; }
};

// A PCL 5 job at 600 dpi on its first page, its memory not tracked.
void OpenBenchJob(pclrend::DeviceRecord& r, CountingSink& sink) {
    pclrend::AllocateBuffers(r, false);
    r.sink = &sink;
    r.jobState = pclrend::kJobOpen;
    r.language = pclrend::Language::Pcl5Gl2;
    r.resolution = 600;
    r.pageCount = 1;
    pclrend::ResetDownloadedFonts(pclrend::Downloads(r), 0);
}

pclrend::TrueTypeSource BenchSource(const std::vector<uint8_t>& file, std::u16string family, uint32_t uniq) {
    pclrend::TrueTypeSource f;
    f.uniq = f.ttUniq = uniq;
    f.file = file;
    f.family = std::move(family);
    f.unitsPerEm = 2048;
    f.xform = {100.0f / 2048, 0, 0, 100.0f / 2048};
    return f;
}

void BM_FirstUseGlyphDownload(benchmark::State& state) {
    const auto file = BenchFontFile(kBenchFont);
    if (file.empty()) return state.SkipWithError("DejaVu Sans is not installed");
    CountingSink sink;
    pclrend::DeviceRecord r;
    OpenBenchJob(r, sink);
    const auto f = BenchSource(file, u"DejaVu Sans", 1);
    pclrend::GlyphCode code;
    pclrend::EnsureGlyphDownloaded(r, f, pclrend::FontForm::Outline, 3, code);  // the header
    uint32_t g = kFirstBenchGlyph;
    for (auto _ : state) {
        if (g > kLastBenchGlyph) {
            state.PauseTiming();
            auto& e = pclrend::Downloads(r).entries[0];
            e.glyphBits.Clear();
            e.componentBits.Clear();
            g = kFirstBenchGlyph;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(pclrend::EnsureGlyphDownloaded(r, f, pclrend::FontForm::Outline, g++, code));
        if (r.mainFill > 32768) pclrend::SpoolFlush(r);
    }
}
BENCHMARK(BM_FirstUseGlyphDownload)->Unit(benchmark::kMillisecond);

void BM_FreeTypeGlyph600(benchmark::State& state) {
    const auto file = BenchFontFile(kBenchFont);
    if (file.empty()) return state.SkipWithError("DejaVu Sans is not installed");
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) || FT_New_Memory_Face(lib, file.data(), static_cast<FT_Long>(file.size()), 0, &face))
        return state.SkipWithError("FreeType");
    FT_Set_Pixel_Sizes(face, 0, 100);  // 12 points at 600 dpi
    uint32_t g = kFirstBenchGlyph;
    for (auto _ : state) {
        if (g > kLastBenchGlyph) g = kFirstBenchGlyph;
        FT_Load_Glyph(face, g++, FT_LOAD_TARGET_MONO);
        benchmark::DoNotOptimize(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO));
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeGlyph600)->Unit(benchmark::kMillisecond);

// The downloaded-font table's largest size while the TrueType faces of the
// fonts sample go out (every glyph of a few hundred of each, as outlines in
// PCL 5), against the sizes of their font files.
std::pair<double, double> FontTableMemory() {
    const std::pair<const char*, std::u16string> fonts[] = {
        {kBenchFont, u"DejaVu Sans"},
        {"/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", u"DejaVu Serif"},
        {"/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", u"Liberation Sans"},
        {"/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", u"WenQuanYi Micro Hei"},
    };
    CountingSink sink;
    pclrend::DeviceRecord r;
    OpenBenchJob(r, sink);
    double files = 0, peak = 0;
    std::vector<std::vector<uint8_t>> kept;
    uint32_t uniq = 1;
    for (const auto& [path, family] : fonts) {
        kept.push_back(BenchFontFile(path));
        if (kept.back().empty()) continue;
        files += static_cast<double>(kept.back().size());
        const auto f = BenchSource(kept.back(), family, uniq++);
        pclrend::GlyphCode code;
        for (uint32_t g = 3; g < 600; ++g) {
            pclrend::EnsureGlyphDownloaded(r, f, pclrend::FontForm::Outline, g, code);
            if (r.mainFill > 32768) pclrend::SpoolFlush(r);
        }
        peak = std::max(peak, static_cast<double>(pclrend::Downloads(r).HeldBytes()));
    }
    return {peak, files};
}


// Colour raster text: a page of 3,000 glyphs (DejaVu Sans, 10 points at
// 600 dpi) drawn onto a language-5 DC, the glyphs queued and sent as text at
// the page end, against the same page with TrueType text as bitmaps, which
// the engine draws into the band; and the page without its text, whose
// time both include. The page is one band, where no line meets a seam.
constexpr int kQueuedTextLines = 60, kQueuedTextPerLine = 50;

void QueuedTextPage(benchmark::State& state, int mode) {  // 0 no text, 1 queued, 2 drawn by the engine
    if (TheRoot().driver.empty()) return state.SkipWithError("set ZQ_BINARY_DIR and ZQ_SOURCE_DIR");
    auto dm = Letter(600);
    dm.printerLanguage = 5;
    dm.dm.dmColor = DMCOLOR_COLOR;
    dm.resolutionFeature = 1;
    dm.dm.dmTTOption = mode == 2 ? 1 : 3;  // TrueType text as bitmaps, or sent as soft fonts
    dm.availableMemory = 100000000;  // one band: every line can wait in the queue
    HDC dc = CreateDCW(u"WINSPOOL", u"Mono", nullptr, &dm.dm);
    if (!dc) return state.SkipWithError("no DC");
    DOCINFOW info{sizeof(DOCINFOW), u"queued text", nullptr, nullptr, 0};
    StartDocW(dc, &info);
    LOGFONTW lf{};
    lf.lfHeight = -600 * 10 / 72;
    const std::u16string face = u"DejaVu Sans";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    std::u16string line;
    for (int i = 0; i < kQueuedTextPerLine; ++i) line.push_back(static_cast<char16_t>(u'A' + i % 26 + (i / 26) * 32));
    for (auto _ : state) {
        StartPage(dc);
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 160));
        for (int y = 0; mode && y < kQueuedTextLines; ++y)
            TextOutW(dc, 300, 200 + 100 * y, reinterpret_cast<LPCWSTR>(line.c_str()), static_cast<int>(line.size()));
        SelectObject(dc, old);
        EndPage(dc);
    }
    EndDoc(dc);
    DeleteObject(font);
    DeleteDC(dc);
}

void RegisterQueuedTextBenchmarks() {
    for (int mode : {0, 1, 2})
        benchmark::RegisterBenchmark(("QueuedTextPage/" + std::to_string(mode)).c_str(), QueuedTextPage, mode)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
}

// Goal: the queue and its page-end output cost the engine's drawing of the
// glyphs into the bands or less (ratio 1 or less).
template <class Get>
void PrintQueuedTextFigure(const Get& get) {
    const double none = get("QueuedTextPage/0"), queued = get("QueuedTextPage/1"), drawn = get("QueuedTextPage/2");
    if (none <= 0 || queued <= 0 || drawn <= 0) return;
    std::printf("colour raster, %d glyphs: queued and sent as text %.1f ms/page, drawn into the band %.1f ms/page, "
                "page without text %.1f ms: ratio %.2f (text's own share %.2f)\n",
                kQueuedTextLines * kQueuedTextPerLine, queued * 1000, drawn * 1000, none * 1000, queued / drawn,
                drawn > none ? (queued - none) / (drawn - none) : 0.0);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            // Under --benchmark_repetitions the median stands for the runs;
            // the other aggregates (mean, spread) are no figures of a run.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1000.0;
            const std::string name = run.benchmark_name();
            if (auto it = run.counters.find("bytes_per_page"); it != run.counters.end())
                bytes[name.substr(0, name.find('/', name.find('/') + 1))] = it->second;
            if (auto it = run.counters.find("events_share_pct"); it != run.counters.end()) {
                events["share"] = it->second;
                events["wall"] = run.counters.at("wall_share_pct");
                events["with"] = run.counters.at("cpu_s_with");
                events["without"] = run.counters.at("cpu_s_without");
                events["bytes_with"] = run.counters.at("bytes_with");
                events["bytes_without"] = run.counters.at("bytes_without");
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
    std::map<std::string, double> events;  // the document events' share and its parts
    std::map<std::string, double> bytes;  // bytes per page by benchmark and sample
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> samples = {"text", "shapes", "photo", "clip", "fonts"};
    for (const auto& name : samples) {
        benchmark::RegisterBenchmark(("WholeRoad600/" + name).c_str(), WholeRoad, name, BYTE{0})
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadXl600/" + name).c_str(), WholeRoad, name, BYTE{2})
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadGl2600/" + name).c_str(), WholeRoad, name, BYTE{1})
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadColour600/" + name).c_str(), WholeRoadColour, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadColourLeast600/" + name).c_str(), WholeRoadColourLeast, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadColourPcl600/" + name).c_str(), WholeRoadColourPcl, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("WholeRoadStream600/" + name).c_str(), WholeRoadStream, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("ReferenceRender600/" + name).c_str(), ReferenceRender, name)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    RegisterQueuedTextBenchmarks();
    // The document events' share of a 600 dpi text page (goal: under 5 %).
    benchmark::RegisterBenchmark("EventsShare600/text", EventsShare, "text")->Unit(benchmark::kMillisecond)->Iterations(25);
    for (const char* name : {"text", "fonts"}) {
        benchmark::RegisterBenchmark((std::string("WholeRoadDownload600/") + name).c_str(), WholeRoadDownload,
                                     std::string(name))
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark((std::string("WholeRoadDownloadTwice600/") + name).c_str(), WholeRoadDownloadTwice,
                                     std::string(name))
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // A benchmark's seconds by its name (what follows it, "/iterations:3"
    // or "/repeats:5", aside; not another benchmark whose name only starts
    // alike): the median of its repetitions where there are several.
    auto get = [&](const std::string& prefix) {
        double plain = 0.0;
        for (const auto& [name, s] : reporter.seconds) {
            if (name.rfind(prefix, 0) != 0) continue;
            const std::string rest = name.substr(prefix.size());
            if (!rest.empty() && rest[0] != '/' && rest[0] != '_') continue;
            if (rest.size() >= 7 && rest.compare(rest.size() - 7, 7, "_median") == 0) return s;
            if (plain == 0.0) plain = s;
        }
        return plain;
    };
    for (const auto& name : samples) {
        const double road = get("WholeRoad600/" + name), ref = get("ReferenceRender600/" + name);
        if (road > 0 && ref > 0)
            std::printf("%-7s whole road %.3f s/page, reference render alone %.3f s/page, ratio %.2f, %.0f bytes/page\n",
                        name.c_str(), road, ref, road / ref, reporter.bytes["WholeRoad600/" + name]);
    }
    if (const auto it = reporter.events.find("share"); it != reporter.events.end())
        std::printf("text    document events: %.1f %% of the road's CPU seconds (goal under 5 %%; of its wall time "
                    "%.1f %%), %.4f CPU s/page with them, %.4f without; %.0f and %.0f bytes/page\n",
                    it->second, reporter.events["wall"], reporter.events["with"], reporter.events["without"], reporter.events["bytes_with"],
                    reporter.events["bytes_without"]);
    // Each printer language's road against language 0's.
    const std::pair<const char*, const char*> languages[] = {{"WholeRoadXl600/", "PCL XL"},
                                                             {"WholeRoadGl2600/", "PCL 5 with HP-GL/2"}};
    for (const auto& [prefix, label] : languages)
        for (const auto& name : samples) {
            const double own = get(prefix + name), road = get("WholeRoad600/" + name);
            const double ownBytes = reporter.bytes[prefix + name], rasterBytes = reporter.bytes["WholeRoad600/" + name];
            if (own > 0 && road > 0 && rasterBytes > 0)
                std::printf("%-7s %s %.3f s/page, %.0f bytes/page: %.2f of language 0's seconds, %.3f of its bytes\n",
                            name.c_str(), label, own, ownBytes, own / road, ownBytes / rasterBytes);
        }
    // The spool stream of host finishing: its bytes against the raster job's
    // (goal 0.3 or less), the photo's against its images as 24-bit rows
    // (goal 1.05 or less), its seconds against the reference render alone
    // (goal 0.3 or less).
    for (const auto& name : samples) {
        const double stream = get("WholeRoadStream600/" + name), ref = get("ReferenceRender600/" + name);
        const double streamBytes = reporter.bytes["WholeRoadStream600/" + name], rasterBytes = reporter.bytes["WholeRoad600/" + name];
        if (stream <= 0 || ref <= 0 || rasterBytes <= 0) continue;
        std::printf("%-7s stream %.3f s/page, %.0f bytes/page: %.3f of language 0's bytes, %.2f of the reference render's seconds",
                    name.c_str(), stream, streamBytes, streamBytes / rasterBytes, stream / ref);
        if (const double image = ImageBytes24(name); image > 0)
            std::printf(", %.3f of its 24-bit image bytes", streamBytes / image);
        std::printf("\n");
    }
    for (const char* depth : {"24", "8"}) {
        const double rows = get(std::string("BM_XlImageRows") + depth), copy = get(std::string("BM_MemcpyImage") + depth);
        if (rows > 0 && copy > 0)
            std::printf("PCL XL image rows, %s-bit source: %.2f ms an image, memcpy %.3f ms: throughput %.4f of memcpy\n",
                        depth, rows * 1000, copy * 1000, copy / rows);
    }
    if (const double points = get("BM_XlPathPoints"), copy = get("BM_MemcpyPoints"); points > 0 && copy > 0)
        std::printf("PCL XL path points: %.2f ms for %zu points, memcpy %.3f ms: throughput %.4f of memcpy\n",
                    points * 1000, kPathPoints, copy * 1000, copy / points);
    // The row compressor against memcpy of the same band (goals: a text
    // band at least 1/3, a dense dithered band at least 1/10); the noise
    // band is random bytes, no dither.
    const std::pair<const char*, const char*> bands[] = {{"BM_CompressPageBand", "BM_MemcpyPageBand"},
                                                         {"BM_CompressPhotoBand", "BM_MemcpyPhotoBand"},
                                                         {"BM_CompressBand", "BM_MemcpyBand"}};
    const char* bandNames[] = {"text page band", "dithered photo band", "noise band"};
    for (size_t k = 0; k < std::size(bands); ++k)
        if (const double coder = get(bands[k].first), copy = get(bands[k].second); coder > 0 && copy > 0)
            std::printf("row compressor, %s: %.3f ms a band, memcpy %.3f ms: throughput %.4f of memcpy\n", bandNames[k],
                        coder * 1000, copy * 1000, copy / coder);
    if (const double rgb = get("BM_RgbBand"), rgbCopy = get("BM_MemcpyRgbBand"); rgb > 0 && rgbCopy > 0)
        std::printf("24-bit row coder (colour band of PCL 5): %.2f ms a band, memcpy %.3f ms: throughput %.4f of memcpy\n",
                    rgb * 1000, rgbCopy * 1000, rgbCopy / rgb);
    // The colour raster: bytes a page against language 0's in colour (goal:
    // at most half), seconds against the reference render (goal: at most
    // twice), also with the least band budget; its band encoder against
    // memcpy of the 24-bit band (goal: at least 0.05).
    for (const auto& name : samples) {
        const double road = get("WholeRoadColour600/" + name), ref = get("ReferenceRender600/" + name);
        const double pcl = get("WholeRoadColourPcl600/" + name), least = get("WholeRoadColourLeast600/" + name);
        const double colourBytes = reporter.bytes["WholeRoadColour600/" + name], pclBytes = reporter.bytes["WholeRoadColourPcl600/" + name];
        if (pcl > 0 && ref > 0)
            std::printf("%-7s colour PCL 5 raster %.3f s/page, %.0f bytes/page, %.2f of the reference render's seconds\n",
                        name.c_str(), pcl, pclBytes, pcl / ref);
        if (road > 0 && ref > 0 && pclBytes > 0)
            std::printf("%-7s colour raster %.3f s/page, %.0f bytes/page: %.3f of colour language 0's bytes, %.2f of the reference render's seconds\n",
                        name.c_str(), road, colourBytes, colourBytes / pclBytes, road / ref);
        if (least > 0 && ref > 0)
            std::printf("%-7s colour raster, least band budget: %.3f s/page, %.2f of the reference render's seconds\n",
                        name.c_str(), least, least / ref);
    }
    if (const double enc = get("BM_ColourBandEncoder"), copy24 = get("BM_MemcpyColourBand"); enc > 0 && copy24 > 0)
        std::printf("colour band encoder: %.2f ms a %dx%d band, memcpy %.3f ms: throughput %.4f of memcpy\n", enc * 1000,
                    kWidth, kColourRows, copy24 * 1000, copy24 / enc);
    const double pe = get("BM_PeEncode"), points = get("BM_MemcpyPePoints");
    if (pe > 0 && points > 0)
        std::printf("PE encoder: %.2f ms a million points, memcpy %.3f ms: throughput %.4f of memcpy\n", pe * 1000,
                    points * 1000, points / pe);
    const double gl2 = get("BM_Gl2Paths"), engine = get("BM_EngineBandPaths");
    if (gl2 > 0 && engine > 0)
        std::printf("paths: HP-GL/2 route %.0f a second, engine band fill %.0f a second: ratio %.1f\n",
                    kPathsARound / gl2, kPathsARound / engine, engine / gl2);
    // Text sent as soft fonts in PCL 5 with HP-GL/2: seconds against the
    // reference render alone (goal 0.5 or less), bytes against the language-0
    // job whose text is the engine's glyphs in the raster (goal 0.2 or less).
    for (const char* name : {"text", "fonts"}) {
        const double road = get(std::string("WholeRoadDownload600/") + name), ref = get(std::string("ReferenceRender600/") + name);
        const double bytes = reporter.bytes[std::string("WholeRoadDownload600/") + name];
        const double rasterBytes = reporter.bytes[std::string("WholeRoad600/") + name];
        if (road > 0 && ref > 0 && rasterBytes > 0)
            std::printf("%-7s soft fonts in PCL 5 %.3f s/page, %.0f bytes/page: %.2f of the reference render's seconds "
                        "(goal <= 0.5), %.3f of language 0's bytes (goal <= 0.2)\n",
                        name, road, bytes, road / ref, bytes / rasterBytes);
        // A one-page job carries every font it uses; a later page of the
        // same text sends none.
        const double twice = 2 * reporter.bytes[std::string("WholeRoadDownloadTwice600/") + name];
        if (bytes > 0 && twice > bytes && rasterBytes > 0)
            std::printf("%-7s soft fonts in PCL 5, a second page of the same text: %.0f bytes, %.3f of language 0's page\n",
                        name, twice - bytes, (twice - bytes) / rasterBytes);
    }
    // TrueType soft fonts (goals: 0.5 or less, 1.2 or less).
    const double download = get("BM_FirstUseGlyphDownload"), freetype = get("BM_FreeTypeGlyph600");
    if (download > 0 && freetype > 0)
        std::printf("first-use outline glyph download %.1f us, FreeType rendering it at 600 dpi %.1f us: ratio %.2f\n",
                    download * 1e6, freetype * 1e6, download / freetype);
    if (const auto [peak, files] = FontTableMemory(); files > 0)
        std::printf("font table at its largest %.0f bytes, font files %.0f bytes: ratio %.2f\n", peak, files, peak / files);
    PrintQueuedTextFigure(get);
    benchmark::Shutdown();
    return 0;
}
