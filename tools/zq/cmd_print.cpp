// zq print: prints a metafile document on a printer, the spooler's way.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "base/fsutil.h"
#include "gdi/emf_print.h"
#include "store/admin.h"

namespace {

const char* const kUsage =
    "usage: zq print FILE.emf [FILE.emf ...] --printer PRINTER [--devmode FILE] [--out JOBFILE] [--png PAGE.png]\n\n"
    "Spools the files as the pages of one document (one EMF job), plays it onto a\n"
    "device context of the printer (its driver renders the pages as one job) and\n"
    "reports what was played. Each page is printed at its physical size from the\n"
    "printable area's top-left corner, shrunk to fit when it is larger.\n"
    "--devmode FILE the application's DEVMODE (as zq devmode set writes it) for\n"
    "               the document; without it the printer's own\n"
    "--out JOBFILE  writes the job the driver produced to JOBFILE\n"
    "--png PAGE.png writes the engine's reference render of each page; \"%d\" in\n"
    "               the name is the page number (needed for several pages)\n";

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    zq::Options opts(args);
    auto printer = opts.Value("--printer");
    auto out = opts.Value("--out");
    auto png = opts.Value("--png");
    auto devmodeFile = opts.Value("--devmode");
    if (auto bad = opts.Unknown()) return zq::UsageError("print", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.empty()) return zq::UsageError("print", "give one FILE.emf or more");
    if (!printer) return zq::UsageError("print", "--printer PRINTER is required");
    // The files one after another are the document's pages.
    // Each file is read whole in one sized read, the document's buffer sized
    // once for all of them.
    std::vector<uint8_t> bytes;
    {
        std::error_code ec;
        uintmax_t total = 0;
        for (const auto& file : rest) {
            const uintmax_t size = std::filesystem::file_size(file, ec);
            if (!ec) total += size;
        }
        bytes.reserve(static_cast<size_t>(total));
    }
    for (const auto& file : rest) {
        if (!zq::fsutil::AppendFile(file, bytes)) return zq::Fail("print: cannot read " + file);
    }
    // The application's DEVMODE: a public part and its driver extra, whole.
    std::vector<uint8_t> devmode;
    if (devmodeFile) {
        std::string error;
        auto read = zq::cli::ReadDevmodeFile(*devmodeFile, error);
        if (!read) return zq::Fail("print: " + error);
        devmode = std::move(*read);
    }
    auto name = std::filesystem::path(rest[0]).filename().string();
    auto result = zq::emf::PrintDocument(zq::store::FromUtf8(*printer), bytes, zq::store::FromUtf8(name),
                                         devmode.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(devmode.data()),
                                         png.value_or(""));
    if (!result.error.empty()) {
        // A failing call's error in words; a document refused for its
        // content has no call to blame.
        if (!result.errorCode) return zq::Fail("print: " + rest[0] + ": " + result.error);
        return zq::cli::FailWithError("print", rest[0] + ": " + result.error, result.errorCode);
    }
    std::printf("printed %s on %s: %zu page%s, %zu records played, %zu skipped, %zu refused; EMF job %u",
                name.c_str(), printer->c_str(), result.pages, result.pages == 1 ? "" : "s", result.stats.played,
                result.stats.Skipped(), result.stats.failed, result.spoolJob);
    if (result.outputJob) std::printf(", printer job %u", result.outputJob);
    std::printf("\n");
    for (size_t i = 0; i < result.placements.size(); ++i) {
        const auto& at = result.placements[i];
        std::printf("page %zu: %.1f x %.1f mm placed at %d,%d (%d x %d dots) on a sheet of %d x %d at %d dpi\n", i + 1,
                    at.widthMm, at.heightMm, at.offset.x + at.dest.left, at.offset.y + at.dest.top,
                    at.dest.right - at.dest.left, at.dest.bottom - at.dest.top, at.sheet.cx, at.sheet.cy, at.dpiX);
    }
    // A damaged record is refused alone: the rest of its page printed.
    for (const std::string& why : result.stats.refused) std::fprintf(stderr, "zq print: refused %s\n", why.c_str());
    // What was not drawn is named, never dropped silently.
    for (auto& [kind, count] : result.stats.skipped)
        std::printf("not drawn: %s (record kind %u): %zu\n", zq::emf::RecordName(kind).c_str(), kind, count);
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
