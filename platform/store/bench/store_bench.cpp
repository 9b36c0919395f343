// Reads of one 1256-byte printer data value (the size of the private
// DEVMODE), warm: the figure is reads per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "base/root.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace {

struct Printer {
    std::filesystem::path root;
    HANDLE handle = nullptr;
    Printer() {
        char tmpl[] = "/tmp/zq-store-bench-XXXXXX";
        root = mkdtemp(tmpl);
        zq::SetSystemRoot(root);
        DRIVER_INFO_2W driver{3, const_cast<LPWSTR>(u"Zelquor Bench"), nullptr, const_cast<LPWSTR>(u"zqrend.so"),
                              const_cast<LPWSTR>(u"zqdata.bin"), const_cast<LPWSTR>(u"zqui.so")};
        AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&driver));
        PRINTER_INFO_2W info{};
        info.pPrinterName = const_cast<LPWSTR>(u"Bench");
        info.pDriverName = const_cast<LPWSTR>(u"Zelquor Bench");
        info.pPortName = const_cast<LPWSTR>(u"LPT1:");
        handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        std::vector<BYTE> value(1256, 0x5A);
        SetPrinterDataW(handle, const_cast<LPWSTR>(u"CurrentDevmode"), REG_BINARY, value.data(), 1256);
    }
    ~Printer() {
        ClosePrinter(handle);
        zq::SetSystemRoot({});
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

void BM_GetPrinterDataW(benchmark::State& state) {
    Printer printer;
    std::vector<BYTE> buffer(1256);
    DWORD needed = 0, type = 0;
    for (auto _ : state) {
        DWORD rc = GetPrinterDataW(printer.handle, const_cast<LPWSTR>(u"CurrentDevmode"), &type, buffer.data(), 1256,
                                   &needed);
        if (rc != ERROR_SUCCESS) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["reads/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GetPrinterDataW);

}  // namespace

BENCHMARK_MAIN();
