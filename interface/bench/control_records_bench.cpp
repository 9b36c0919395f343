// Figures of the control record list: building a sheet's list for each
// shipped model and writing it back into the record, beside a plain copy of
// the same bytes measured in the same run. The goal is 50 microseconds for
// build plus write-back; the ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "interface/control_records.h"
#include "settings/devmode_ops.h"
#include "settings/directory_model_data.h"

namespace {

const zq::DirectoryModelData& Shipped() {
    static const std::optional<zq::DirectoryModelData> data = zq::DirectoryModelData::FromFile(ZQ_MODEL_DATA_FILE);
    if (!data) {
        std::fprintf(stderr, "control_records_bench: cannot read %s\n", ZQ_MODEL_DATA_FILE);
        std::exit(1);
    }
    return *data;
}

zq::PrivateDevmode Default(int model) {
    zq::PrivateDevmode r{};
    zq::BuildDefaultDevmode(r, Shipped(), {true, 1252, model});
    return r;
}

void BuildAndWriteBack(benchmark::State& state, int model) {
    const zq::PrivateDevmode working = Default(model);
    zq::PrivateDevmode out = working;
    zq::ControlLists lists;
    for (auto _ : state) {
        zq::BuildControlRecords(lists, 1, working, working, Shipped());
        benchmark::DoNotOptimize(zq::ControlsToDevmode(lists.working, out, Shipped()));
    }
    state.counters["list_bytes"] = static_cast<double>(lists.working.size());
}

void CopyList(benchmark::State& state, int model) {
    const zq::PrivateDevmode working = Default(model);
    zq::ControlLists lists;
    zq::BuildControlRecords(lists, 1, working, working, Shipped());
    std::vector<uint8_t> copy(lists.working.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), lists.working.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (!run.error_occurred) seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    const char* models[] = {"mira", "tarn", "corvo", "ovra"};
    for (int m = 0; m < 4; ++m) {
        benchmark::RegisterBenchmark((std::string("BuildAndWriteBack/") + models[m]).c_str(), BuildAndWriteBack, m)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("CopyList/") + models[m]).c_str(), CopyList, m)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* m : models) {
        const double build = reporter.seconds[std::string("BuildAndWriteBack/") + m];
        const double copy = reporter.seconds[std::string("CopyList/") + m];
        if (build > 0 && copy > 0) {
            std::printf("%-6s build and write-back %.2f us (goal 50), %.0f x a copy of the list\n", m, build,
                        build / copy);
        }
    }
    return 0;
}
