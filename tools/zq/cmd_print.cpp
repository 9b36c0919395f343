// zq print: prints a metafile document on a printer, the spooler's way.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "gdi/emf_print.h"
#include "store/admin.h"

namespace {

const char* const kUsage =
    "usage: zq print FILE.emf --printer PRINTER [--out JOBFILE] [--png PAGE.png]\n\n"
    "Spools FILE.emf as an EMF job of PRINTER, plays it onto a device context of\n"
    "the printer (its driver renders the page) and reports what was played.\n"
    "--out JOBFILE  writes the job the driver produced to JOBFILE\n"
    "--png PAGE.png writes the engine's reference render of the page\n";

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    zq::Options opts(args);
    auto printer = opts.Value("--printer");
    auto out = opts.Value("--out");
    auto png = opts.Value("--png");
    if (auto bad = opts.Unknown()) return zq::UsageError("print", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.size() != 1) return zq::UsageError("print", "give one FILE.emf");
    if (!printer) return zq::UsageError("print", "--printer PRINTER is required");
    std::ifstream in(rest[0], std::ios::binary);
    if (!in) return zq::Fail("print: cannot read " + rest[0]);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    auto name = std::filesystem::path(rest[0]).filename().string();
    auto result = zq::emf::PrintDocument(zq::store::FromUtf8(*printer), bytes, zq::store::FromUtf8(name), nullptr,
                                               png.value_or(""));
    if (!result.error.empty()) {
        // A failing call's error in words; a document refused for its
        // content has no call to blame.
        if (!result.errorCode) return zq::Fail("print: " + rest[0] + ": " + result.error);
        return zq::cli::FailWithError("print", rest[0] + ": " + result.error, result.errorCode);
    }
    std::printf("printed %s on %s: %zu records played, %zu skipped, %zu refused; EMF job %u",
                name.c_str(), printer->c_str(), result.stats.played, result.stats.Skipped(), result.stats.failed,
                result.spoolJob);
    if (result.outputJob) std::printf(", printer job %u", result.outputJob);
    std::printf("\n");
    for (auto& [kind, count] : result.stats.skipped) std::printf("skipped record kind %u: %zu\n", kind, count);
    if (out) {
        std::error_code ec;
        auto job = zq::store::JobFile(result.outputJob);
        if (!result.outputJob || std::filesystem::file_size(job, ec) == 0)
            return zq::Fail("print: the driver wrote nothing, nothing to write to " + *out);
        std::filesystem::copy_file(job, *out,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) return zq::Fail("print: cannot write " + *out + ": " + ec.message());
    }
    return 0;
}

zq::Registration registration{{"print", "print a metafile document on a printer", kUsage, Run}};

}  // namespace
