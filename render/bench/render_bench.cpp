// Figures of the renderer at 600 dpi: seconds per page for the whole road
// (engine, driver, spooler) and for the engine's reference render alone,
// bytes per page of the job, and the row compressor's throughput next to
// memcpy of the same band. The ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "render/output.h"
#include "render/raster.h"
#include "render/tests/e2e/print_support.h"

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

// A band like a page of text and rules: mostly white, short black runs.
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

void BM_CompressBand(benchmark::State& state) {
    const auto sample = SampleBand(kWidth, kRows, kStride);
    std::vector<uint8_t> band(sample.size());
    DeviceRecord r;
    AllocateBuffers(r, false);
    NullSink sink;
    r.sink = &sink;
    r.jobState = kJobOpen;
    for (auto _ : state) {
        state.PauseTiming();
        band = sample;  // the coder inverts rows in place
        state.ResumeTiming();
        SendMonoBand(r, MonoBand{band.data(), kStride, kWidth, kRows}, {});
        SpoolFlush(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.size()));
    state.counters["ratio_out_in"] = static_cast<double>(sink.bytes) / static_cast<double>(state.iterations() * sample.size());
}
BENCHMARK(BM_CompressBand)->Unit(benchmark::kMillisecond);

void BM_MemcpyBand(benchmark::State& state) {
    const auto sample = SampleBand(kWidth, kRows, kStride);
    std::vector<uint8_t> band(sample.size());
    for (auto _ : state) {
        std::memcpy(band.data(), sample.data(), sample.size());
        benchmark::DoNotOptimize(band.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sample.size()));
}
BENCHMARK(BM_MemcpyBand)->Unit(benchmark::kMillisecond);

// One system root with the printer for the whole run.
struct Root {
    Root() {
        char tmpl[] = "/tmp/zq-render-bench-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir = tmpl;
        zq::SetSystemRoot(dir);
        driver = InstallPrinter();
    }
    ~Root() {
        zq::SetSystemRoot({});
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::filesystem::path dir, driver;
};
Root& TheRoot() {
    static Root root;
    return root;
}

void BM_WholeRoad600(benchmark::State& state) {
    auto& root = TheRoot();
    if (root.driver.empty()) return state.SkipWithError("no printer (set ZQ_BINARY_DIR to the build)");
    const auto dm = Letter(600);
    uint64_t bytes = 0;
    for (auto _ : state) {
        auto result = PrintPages(root.driver, dm, 1, [](HDC dc, int page) { DrawShapes(dc, 600, page); }, false);
        if (!result.endDocOk) return state.SkipWithError("print failed");
        bytes += result.job.size();
    }
    state.counters["bytes_per_page"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WholeRoad600)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReferenceRender600(benchmark::State& state) {
    auto& root = TheRoot();
    if (root.driver.empty()) return state.SkipWithError("no printer (set ZQ_BINARY_DIR to the build)");
    // Draw the page once on a device that keeps it, then render it alone.
    HANDLE printer = nullptr;
    OpenPrinterW(W(u"Mono"), &printer, nullptr);
    DOC_INFO_1W doc{W(u"sample"), nullptr, W(u"RAW")};
    StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    auto dm = Letter(600);
    auto driver = zq::gdi::Driver::Load(root.driver.string());
    auto device = zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"LPT1:", printer);
    if (!device) return state.SkipWithError("enable failed");
    auto* context = new zq::gdi::DeviceContext();
    context->device = std::move(device);
    HDC dc = context->Handle();
    zq::KeepPages(dc, true);
    DOCINFOW info{sizeof(DOCINFOW), u"sample", nullptr, nullptr, 0};
    StartDocW(dc, &info);
    StartPage(dc);
    DrawShapes(dc, 600, 0);
    EndPage(dc);
    EndDoc(dc);
    for (auto _ : state) {
        auto page = zq::RenderReferencePage(dc, 0);
        benchmark::DoNotOptimize(page.Get());
    }
    DeleteDC(dc);
    EndDocPrinter(printer);
    ClosePrinter(printer);
}
BENCHMARK(BM_ReferenceRender600)->Unit(benchmark::kMillisecond)->Iterations(3);

// Keeps each run's time per iteration so that the ratios can be printed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (!run.error_occurred) seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1000.0;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto get = [&](const char* prefix) {
        for (const auto& [name, s] : reporter.seconds)
            if (name.rfind(prefix, 0) == 0) return s;
        return 0.0;
    };
    const double road = get("BM_WholeRoad600"), ref = get("BM_ReferenceRender600");
    const double coder = get("BM_CompressBand"), copy = get("BM_MemcpyBand");
    if (road > 0 && ref > 0)
        std::printf("whole road: %.3f s/page, reference render alone: %.3f s/page, ratio %.2f\n", road, ref, road / ref);
    if (coder > 0 && copy > 0)
        std::printf("row compressor: %.2f ms a band, memcpy %.3f ms: throughput %.4f of memcpy\n", coder * 1000,
                    copy * 1000, copy / coder);
    benchmark::Shutdown();
    return 0;
}
