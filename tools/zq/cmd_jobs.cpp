// zq jobs: the print queue; submit raw data, list jobs, show their output.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

using zq::store::FromUtf8;
using zq::store::ToUtf8;
using zq::cli::Text;
using Printer = zq::cli::PrinterHandle;

constexpr const char* kUsage =
    "usage: zq jobs [list] [PRINTER]\n"
    "       zq jobs submit PRINTER FILE [--document NAME]\n"
    "       zq jobs cat PRINTER JOBID\n\n"
    "list     the jobs of PRINTER, or of every printer: id, printer, document, status,\n"
    "         pages, size and spool file\n"
    "submit   sends FILE to the printer as one raw job (StartDocPrinter, WritePrinter,\n"
    "         EndDocPrinter) and prints the job id\n"
    "cat      writes the job's spooled bytes to standard output\n";

int Err(const std::string& what) { return zq::cli::FailWithError("jobs", what); }

std::string Status(DWORD s) {
    if (s & JOB_STATUS_SPOOLING) return "spooling";
    if (s & JOB_STATUS_PRINTED) return "printed";
    return "queued";
}

int ListPrinter(const std::u16string& name) {
    Printer p;
    std::u16string n = name;
    if (!OpenPrinterW(n.data(), &p.h, nullptr)) return Err("no printer " + ToUtf8(name));
    DWORD count = 0;
    auto buffer = zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return EnumJobsW(p.h, 0, 0xFFFFFFFF, 2, b, size, needed, &count);
    });
    if (!buffer) return Err("cannot list jobs");
    auto* jobs = reinterpret_cast<JOB_INFO_2W*>(buffer->data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%u\t%s\t%s\t%s\t%u pages\t%u bytes\t%s\n", jobs[i].JobId, Text(jobs[i].pPrinterName).c_str(),
                    Text(jobs[i].pDocument).c_str(), Status(jobs[i].Status).c_str(), jobs[i].TotalPages, jobs[i].Size,
                    zq::store::JobFile(jobs[i].JobId).string().c_str());
    return 0;
}

int List(const std::optional<std::string>& printer) {
    if (printer) return ListPrinter(FromUtf8(*printer));
    DWORD count = 0, flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    auto buffer = zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return EnumPrintersW(flags, nullptr, 4, b, size, needed, &count);
    });
    if (!buffer) return Err("cannot list printers");
    auto* list = reinterpret_cast<PRINTER_INFO_4W*>(buffer->data());
    int rc = 0;
    for (DWORD i = 0; i < count; ++i) rc |= ListPrinter(list[i].pPrinterName);
    return rc;
}

int Submit(const std::string& printer, const std::string& file, const std::string& document) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return zq::Fail("jobs: cannot read " + file);
    std::vector<char> data{std::istreambuf_iterator<char>(in), {}};
    Printer p;
    std::u16string n = FromUtf8(printer), doc = FromUtf8(document), raw = u"RAW";
    if (!OpenPrinterW(n.data(), &p.h, nullptr)) return Err("no printer " + printer);
    DOC_INFO_1W info{doc.data(), nullptr, raw.data()};
    DWORD job = StartDocPrinterW(p.h, 1, reinterpret_cast<LPBYTE>(&info));
    if (!job) return Err("cannot start a job");
    size_t at = 0;
    while (at < data.size()) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - at, 65536)), written = 0;
        if (!WritePrinter(p.h, data.data() + at, piece, &written) || written == 0) {
            DWORD error = GetLastError();
            AbortPrinter(p.h);
            return zq::Fail("jobs: writing to " + printer + " failed after " + std::to_string(at) + " bytes (error " +
                            std::to_string(error) + ")");
        }
        at += written;
    }
    if (!EndDocPrinter(p.h)) return Err("cannot end the job");
    std::printf("%u\n", job);
    return 0;
}

int Cat(const std::string& printer, const std::string& id) {
    char* end = nullptr;
    unsigned long job = std::strtoul(id.c_str(), &end, 10);
    if (id.empty() || *end) return zq::UsageError("jobs", "JOBID is a number");
    Printer p;
    std::u16string n = FromUtf8(printer);
    if (!OpenPrinterW(n.data(), &p.h, nullptr)) return Err("no printer " + printer);
    auto record = zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return GetJobW(p.h, static_cast<DWORD>(job), 1, b, size, needed);
    });
    if (!record) return zq::Fail("jobs: no job " + id + " on " + printer);
    std::ifstream in(zq::store::JobFile(static_cast<DWORD>(job)), std::ios::binary);
    std::vector<char> data{std::istreambuf_iterator<char>(in), {}};
    std::fwrite(data.data(), 1, data.size(), stdout);
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    auto document = opts.Value("--document");
    if (auto bad = opts.Unknown()) return zq::UsageError("jobs", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.empty()) return List(std::nullopt);
    if (rest[0] == "list" && rest.size() <= 2)
        return List(rest.size() == 2 ? std::optional<std::string>(rest[1]) : std::nullopt);
    if (rest[0] == "submit" && rest.size() == 3) return Submit(rest[1], rest[2], document.value_or(rest[2]));
    if (rest[0] == "cat" && rest.size() == 3) return Cat(rest[1], rest[2]);
    if (rest.size() == 1) return List(rest[0]);
    return zq::UsageError("jobs", "unknown verb or wrong arguments: " + rest[0]);
}

zq::Registration registration{{"jobs", "list jobs, submit raw data, show a job's output", kUsage, Run}};

}  // namespace
