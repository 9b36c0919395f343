// EngBitBlt SRCCOPY on a 24-bit band against memcpy of the same bytes. The
// "ratio" counter of the EngBitBlt run is its time over memcpy's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "gdi/engine.h"

using namespace zq::gdi;

namespace {

constexpr LONG kWidth = 4960;  // a letter-size page at 600 dpi
constexpr LONG kRows = 256;

double MemcpySeconds(size_t bytes, int rounds) {
    std::vector<BYTE> a(bytes, 1), b(bytes, 2);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / rounds;
}

void BM_Memcpy(benchmark::State& state) {
    const size_t bytes = size_t(StrideOf(kWidth, BMF_24BPP)) * kRows;
    std::vector<BYTE> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy);

void BM_EngBitBltSrcCopy24(benchmark::State& state) {
    Bitmap src(kWidth, kRows, BMF_24BPP), dst(kWidth, kRows, BMF_24BPP);
    EngineXlate same(src.Get()->Pal(), dst.Get()->Pal());
    RECTL r{0, 0, kWidth, kRows};
    POINTL p{0, 0};
    const size_t bytes = size_t(StrideOf(kWidth, BMF_24BPP)) * kRows;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        EngBitBlt(dst.Object(), src.Object(), nullptr, nullptr, &same, &r, &p, nullptr, nullptr, nullptr,
                  Rop4(ROP3_SRCCOPY));
        benchmark::ClobberMemory();
    }
    double blt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["ratio_to_memcpy"] = blt / MemcpySeconds(bytes, 200);
}
BENCHMARK(BM_EngBitBltSrcCopy24);

}  // namespace
