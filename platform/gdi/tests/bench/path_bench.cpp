// Paths filled and stroked by the engine on one band of a Letter page at
// 600 dpi, one bit a pixel: the figure is paths a second, each path a small
// shape (a glyph-sized ellipse and a stroked outline) somewhere on the band.
#include <benchmark/benchmark.h>

#include "gdi/coverage.h"
#include "gdi/ddi_path.h"
#include "gdi/engine.h"

using namespace zq::gdi;

namespace {

constexpr LONG kWidth = 5100;  // 8.5 inches at 600 dpi
constexpr LONG kRows = 256;

void BM_FillSmallPathsOnLetterBand(benchmark::State& state) {
    Bitmap band(kWidth, kRows, BMF_1BPP);
    RECTL all{0, 0, kWidth, kRows};
    EngEraseSurface(band.Object(), &all, 1);
    BRUSHOBJ black{0, nullptr, 0};
    EngineClip clip{Region(all)};
    LONG x = 0;
    for (auto _ : state) {
        Path p;
        x = (x + 97) % (kWidth - 60);
        p.AddEllipse({LTOFX(x), LTOFX(100), LTOFX(x + 48), LTOFX(160)});
        EngFillPath(band.Object(), &p, &clip, &black, nullptr, 0x0D0D, FP_WINDINGMODE);
    }
    state.counters["paths_per_second"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FillSmallPathsOnLetterBand);

void BM_StrokeSmallPathsOnLetterBand(benchmark::State& state) {
    Bitmap band(kWidth, kRows, BMF_1BPP);
    RECTL all{0, 0, kWidth, kRows};
    EngEraseSurface(band.Object(), &all, 1);
    BRUSHOBJ black{0, nullptr, 0};
    EngineClip clip{Region(all)};
    LINEATTRS la{};
    la.fl = LA_GEOMETRIC;
    la.iJoin = JOIN_MITER;
    la.iEndCap = ENDCAP_SQUARE;
    la.elWidth.e = 6;
    la.eMiterLimit = 10;
    LONG x = 0;
    for (auto _ : state) {
        Path p;
        x = (x + 97) % (kWidth - 60);
        p.AddRect({LTOFX(x), LTOFX(100), LTOFX(x + 48), LTOFX(160)});
        EngStrokePath(band.Object(), &p, &clip, nullptr, &black, nullptr, &la, 0x0D0D);
    }
    state.counters["paths_per_second"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StrokeSmallPathsOnLetterBand);

}  // namespace
