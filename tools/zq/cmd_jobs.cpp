// zq jobs: the print queue; submit raw data, list jobs, show their output.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
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
    "       zq jobs show PRINTER JOBID\n"
    "       zq jobs submit PRINTER FILE [--document NAME]\n"
    "       zq jobs cat PRINTER JOBID\n\n"
    "list     the jobs of PRINTER, or of every printer: id, printer, document, status,\n"
    "         pages printed of the document's pages, bytes written and spool file\n"
    "show     the whole record of one job, with the error that ended it\n"
    "         status: spooling, printing, printed (the whole document reached the port),\n"
    "         error (a write or the driver failed, or the writer died), deleted (aborted),\n"
    "         queued (spooled, not yet played)\n"
    "submit   sends FILE to the printer as one raw job (StartDocPrinter, WritePrinter,\n"
    "         EndDocPrinter) and prints the job id\n"
    "cat      writes the job's spooled bytes to standard output\n";

int Err(const std::string& what, DWORD code = GetLastError()) { return zq::cli::FailWithError("jobs", what, code); }

// The job's status bits as words, joined by "+" ("spooling+printing").
std::string Status(DWORD s) {
    static const struct {
        DWORD bit;
        const char* word;
    } kBits[] = {{JOB_STATUS_SPOOLING, "spooling"}, {JOB_STATUS_PRINTING, "printing"}, {JOB_STATUS_PRINTED, "printed"},
                 {JOB_STATUS_ERROR, "error"},       {JOB_STATUS_DELETING, "deleting"}, {JOB_STATUS_DELETED, "deleted"},
                 {JOB_STATUS_PAUSED, "paused"},     {JOB_STATUS_OFFLINE, "offline"},   {JOB_STATUS_PAPEROUT, "paper out"},
                 {JOB_STATUS_COMPLETE, "complete"}};
    std::string out;
    for (const auto& b : kBits)
        if (s & b.bit) out += (out.empty() ? "" : "+") + std::string(b.word);
    return out.empty() ? "queued" : out;
}

// The jobs of a printer (level 2), nullopt with the last error standing.
std::optional<std::vector<BYTE>> Jobs(HANDLE printer, DWORD& count) {
    return zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return EnumJobsW(printer, 0, 0xFFFFFFFF, 2, b, size, needed, &count);
    });
}

int ListPrinter(const std::u16string& name) {
    Printer p;
    std::u16string n = name;
    if (!OpenPrinterW(n.data(), &p.h, nullptr)) return Err("no printer " + ToUtf8(name));
    DWORD count = 0;
    auto buffer = Jobs(p.h, count);
    if (!buffer) return Err("cannot list the jobs of " + ToUtf8(name));
    auto* jobs = reinterpret_cast<JOB_INFO_2W*>(buffer->data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%u\t%s\t%s\t%s\t%u of %u pages\t%u bytes\t%s\n", jobs[i].JobId,
                    Text(jobs[i].pPrinterName).c_str(), Text(jobs[i].pDocument).c_str(),
                    Status(jobs[i].Status).c_str(), jobs[i].PagesPrinted, jobs[i].TotalPages, jobs[i].Size,
                    zq::store::JobFile(jobs[i].JobId).string().c_str());
    return 0;
}

std::optional<DWORD> JobId(const std::string& id) {
    char* end = nullptr;
    unsigned long job = std::strtoul(id.c_str(), &end, 10);
    if (id.empty() || *end || job == 0 || job > 0xFFFFFFFFul) return std::nullopt;
    return static_cast<DWORD>(job);
}

// Runs `use(job, record)` on the level-2 record of job ID of PRINTER.
template <class Use>
int WithJob(const std::string& printer, const std::string& id, Use&& use) {
    auto job = JobId(id);
    if (!job) return zq::UsageError("jobs", "JOBID is a number");
    Printer p;
    std::u16string n = FromUtf8(printer);
    if (!OpenPrinterW(n.data(), &p.h, nullptr)) return Err("no printer " + printer);
    auto record = zq::cli::Fetch(
        [&](LPBYTE b, DWORD size, LPDWORD needed) { return GetJobW(p.h, *job, 2, b, size, needed); });
    if (!record) return zq::Fail("jobs: no job " + id + " on " + printer);
    return use(*job, *reinterpret_cast<JOB_INFO_2W*>(record->data()));
}

int Show(const std::string& printer, const std::string& id) {
    return WithJob(printer, id, [](DWORD job, const JOB_INFO_2W& record) {
        const JOB_INFO_2W* j = &record;
        const SYSTEMTIME& t = j->Submitted;
        DWORD error = zq::store::JobError(job);
        std::printf("job: %u\nprinter: %s\ndocument: %s\ndatatype: %s\nuser: %s\nmachine: %s\ndriver: %s\n"
                    "status: %s (0x%08x)\nerror: %s\ntotal pages: %u\npages printed: %u\nbytes: %u\n"
                    "submitted: %04u-%02u-%02u %02u:%02u:%02u UTC\nposition: %u\nspool file: %s\n",
                    j->JobId, Text(j->pPrinterName).c_str(), Text(j->pDocument).c_str(), Text(j->pDatatype).c_str(),
                    Text(j->pUserName).c_str(), Text(j->pMachineName).c_str(), Text(j->pDriverName).c_str(),
                    Status(j->Status).c_str(), j->Status, error ? zq::ErrorText(error).c_str() : "none", j->TotalPages,
                    j->PagesPrinted, j->Size, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, j->Position,
                    zq::store::JobFile(job).string().c_str());
        return 0;
    });
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
            // A write that took nothing without failing is no progress.
            DWORD error = written == 0 && GetLastError() == 0 ? ERROR_NO_SPOOL_SPACE : GetLastError();
            AbortPrinter(p.h);
            return Err("writing job " + std::to_string(job) + " to " + printer + " failed after " +
                       std::to_string(at) + " bytes", error);
        }
        at += written;
    }
    if (!EndDocPrinter(p.h)) return Err("cannot end job " + std::to_string(job));
    std::printf("%u\n", job);
    return 0;
}

int Cat(const std::string& printer, const std::string& id) {
    return WithJob(printer, id, [](DWORD job, const JOB_INFO_2W&) {
        std::ifstream in(zq::store::JobFile(job), std::ios::binary);
        std::vector<char> data{std::istreambuf_iterator<char>(in), {}};
        std::fwrite(data.data(), 1, data.size(), stdout);
        return 0;
    });
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
    if (rest[0] == "show" && rest.size() == 3) return Show(rest[1], rest[2]);
    if (rest.size() == 1) return List(rest[0]);
    return zq::UsageError("jobs", "unknown verb or wrong arguments: " + rest[0]);
}

zq::Registration registration{{"jobs", "list jobs, submit raw data, show a job's output", kUsage, Run}};

}  // namespace
