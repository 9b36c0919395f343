// Jobs: StartDocPrinter opens a spool file under the system root's spool
// folder, WritePrinter appends to it, EndDocPrinter closes it. The job
// records live in the database so that every process sees the queue.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "base/root.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

struct FaultState {
    std::mutex lock;
    bool set = false;
    WriteFault fault = WriteFault::None;
    uint32_t n = 0;
};
FaultState& Faults() {
    static FaultState* state = new FaultState;
    return *state;
}

std::pair<WriteFault, uint32_t> CurrentFault() {
    auto& f = Faults();
    std::lock_guard lock(f.lock);
    if (!f.set) {
        f.set = true;
        if (const char* env = std::getenv("ZQ_WRITEPRINTER_FAIL"); env && *env) {
            std::string_view v(env);
            auto colon = v.find(':');
            std::string_view kind = v.substr(0, colon);
            if (kind == "fail") f.fault = WriteFault::Fail;
            if (kind == "short") f.fault = WriteFault::Short;
            if (colon != std::string_view::npos) f.n = static_cast<uint32_t>(std::strtoul(env + colon + 1, nullptr, 10));
        }
    }
    return {f.fault, f.n};
}

struct JobRecord {
    DWORD id = 0;
    std::u16string printer, document, datatype, user, machine, driver, processor, parameters, output;
    std::vector<BYTE> devmode;
    DWORD status = 0, priority = 1, pages = 0;
    uint64_t size = 0;
    int64_t submitted = 0;
};

SYSTEMTIME ToSystemTime(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {static_cast<WORD>(tm.tm_year + 1900), static_cast<WORD>(tm.tm_mon + 1), static_cast<WORD>(tm.tm_wday),
            static_cast<WORD>(tm.tm_mday), static_cast<WORD>(tm.tm_hour), static_cast<WORD>(tm.tm_min),
            static_cast<WORD>(tm.tm_sec), 0};
}

std::vector<JobRecord> ReadJobs(Txn& txn, std::u16string_view printer, std::optional<DWORD> only) {
    std::vector<JobRecord> out;
    Stmt s(txn.Database(),
           "SELECT id, printer, document, datatype, user, machine, driver, processor, parameters, output, devmode,"
           " status, priority, pages, submitted FROM jobs WHERE pfold=? ORDER BY id");
    s.BindFolded(1, printer);
    while (s.Step()) {
        JobRecord j;
        j.id = static_cast<DWORD>(s.Int(0));
        if (only && j.id != *only) continue;
        j.printer = s.Text16(1);
        j.document = s.Text16(2);
        j.datatype = s.Text16(3);
        j.user = s.Text16(4);
        j.machine = s.Text16(5);
        j.driver = s.Text16(6);
        j.processor = s.Text16(7);
        j.parameters = s.Text16(8);
        j.output = s.Text16(9);
        j.devmode = s.Blob(10);
        j.status = static_cast<DWORD>(s.Int(11));
        j.priority = static_cast<DWORD>(s.Int(12));
        j.pages = static_cast<DWORD>(s.Int(13));
        j.submitted = s.Int(14);
        std::error_code ec;
        j.size = std::filesystem::file_size(JobFile(j.id), ec);
        if (ec) j.size = 0;
        out.push_back(std::move(j));
    }
    return out;
}

template <class Ch>
BOOL PackJobs(const std::vector<JobRecord>& jobs, const std::vector<DWORD>& positions, DWORD level, LPBYTE buffer,
              DWORD size, LPDWORD needed, LPDWORD returned) {
    auto common = [&](auto& rec, const JobRecord& j, auto& p) {
        rec.JobId = j.id;
        rec.pPrinterName = p.Str(j.printer);
        rec.pMachineName = p.Str(j.machine);
        rec.pUserName = p.Str(j.user);
        rec.pDocument = p.Str(j.document);
        rec.pDatatype = p.Str(j.datatype);
        rec.pStatus = nullptr;
        rec.Status = j.status;
        rec.Priority = j.priority;
        rec.TotalPages = j.pages;
        rec.PagesPrinted = (j.status & JOB_STATUS_PRINTED) ? j.pages : 0;
        rec.Submitted = ToSystemTime(j.submitted);
    };
    if (level == 1)
        return PackRecords<spool::JobInfo1<Ch>, Ch>(jobs.size(), buffer, size, needed, returned,
                                                    [&](auto& rec, size_t i, auto& p) {
                                                        common(rec, jobs[i], p);
                                                        rec.Position = positions[i];
                                                    });
    if (level == 2)
        return PackRecords<spool::JobInfo2<Ch>, Ch>(jobs.size(), buffer, size, needed, returned,
                                                    [&](auto& rec, size_t i, auto& p) {
                                                        const auto& j = jobs[i];
                                                        common(rec, j, p);
                                                        rec.Position = positions[i];
                                                        rec.pNotifyName = p.Str(j.user);
                                                        rec.pPrintProcessor = p.Str(j.processor);
                                                        rec.pParameters = p.Str(j.parameters);
                                                        rec.pDriverName = p.Str(j.driver);
                                                        rec.pDevMode = p.DevMode(j.devmode);
                                                        rec.pSecurityDescriptor = nullptr;
                                                        rec.StartTime = 0;
                                                        rec.UntilTime = 0;
                                                        rec.Size = static_cast<DWORD>(std::min<uint64_t>(j.size, 0xFFFFFFFF));
                                                        rec.Time = 0;
                                                    });
    return Fail(ERROR_INVALID_LEVEL);
}

template <class Ch>
DWORD StartDocT(HANDLE printer, DWORD level, LPBYTE info) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (h->job) {
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return 0;
    }
    auto* doc = reinterpret_cast<spool::DocInfo1<Ch>*>(info);
    std::u16string document = In(doc->pDocName), output = In(doc->pOutputFile), datatype = In(doc->pDatatype);
    DWORD id = 0;
    GuardBool([&]() -> BOOL {
        std::filesystem::path dir = zq::SystemRoot() / "c" / "windows" / "system32" / "spool" / "printers";
        std::filesystem::create_directories(dir);
        Txn txn(*h->db, Txn::Mode::Write);
        auto key = LivePrinter(txn, *h);
        if (!key) return Fail(ERROR_INVALID_HANDLE);
        if (datatype.empty()) datatype = h->datatype;
        if (datatype.empty()) datatype = txn.String(*key, u"Datatype");
        std::vector<BYTE> devmode = h->devmode;
        if (devmode.empty())
            if (auto dm = txn.Value(*key, u"Default DevMode")) devmode = dm->data;
        Stmt s(*h->db,
               "INSERT INTO jobs(printer, pfold, document, datatype, user, machine, driver, processor, parameters, output,"
               " devmode, status, priority, size, pages, submitted) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,0,0,?)");
        s.Bind(1, h->name)
            .BindFolded(2, h->name)
            .Bind(3, document)
            .Bind(4, datatype)
            .Bind(5, RegistryUser())
            .Bind(6, u"\\\\" + LocalComputerName())
            .Bind(7, txn.String(*key, u"Printer Driver"))
            .Bind(8, txn.String(*key, u"Print Processor"))
            .Bind(9, txn.String(*key, u"Parameters"))
            .Bind(10, output)
            .Bind(11, devmode)
            .Bind(12, JOB_STATUS_SPOOLING)
            .Bind(13, DEF_PRIORITY)
            .Bind(14, static_cast<int64_t>(std::time(nullptr)));
        s.Step();
        DWORD job = static_cast<DWORD>(sqlite3_last_insert_rowid(h->db->Handle()));
        int fd = ::open(JobFile(job).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return Fail(ERROR_NO_SPOOL_SPACE);
        txn.MarkChanged();
        txn.Commit();
        h->job = job;
        h->jobFile = fd;
        h->jobBytes = 0;
        id = job;
        return TRUE;
    });
    return id;
}

BOOL SetJobStatus(PrinterHandle& h, DWORD status, bool addPage) {
    return GuardBool([&]() -> BOOL {
        Txn txn(*h.db, Txn::Mode::Write);
        if (addPage) {
            Stmt s(*h.db, "UPDATE jobs SET pages=pages+1 WHERE id=?");
            s.Bind(1, h.job);
            s.Step();
        } else {
            Stmt s(*h.db, "UPDATE jobs SET status=?, size=? WHERE id=?");
            s.Bind(1, status).Bind(2, static_cast<int64_t>(h.jobBytes)).Bind(3, h.job);
            s.Step();
        }
        txn.MarkChanged();
        txn.Commit();
        return TRUE;
    });
}

// GetJob and EnumJobs: the jobs of a live printer's handle in queue order,
// handed to `use` outside the read transaction; levels 1 and 2 only.
template <class F>
BOOL WithPrinterJobs(HANDLE printer, DWORD level, F&& use) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (level != 1 && level != 2) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<JobRecord> all;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            if (!LivePrinter(txn, *h)) return Fail(ERROR_INVALID_HANDLE);
            all = ReadJobs(txn, h->name, std::nullopt);
        }
        return use(all);
    });
}

template <class Ch>
BOOL GetJobT(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return WithPrinterJobs(printer, level, [&](const std::vector<JobRecord>& all) -> BOOL {
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i].id == jobId) {
                std::vector<JobRecord> one{all[i]};
                return PackJobs<Ch>(one, {static_cast<DWORD>(i + 1)}, level, buffer, size, needed, nullptr);
            }
        }
        return Fail(ERROR_INVALID_PARAMETER);
    });
}

template <class Ch>
BOOL EnumJobsT(HANDLE printer, DWORD first, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned) {
    return WithPrinterJobs(printer, level, [&](const std::vector<JobRecord>& all) -> BOOL {
        std::vector<JobRecord> slice;
        std::vector<DWORD> positions;
        for (size_t i = first; i < all.size() && slice.size() < count; ++i) {
            slice.push_back(all[i]);
            positions.push_back(static_cast<DWORD>(i + 1));
        }
        return PackJobs<Ch>(slice, positions, level, buffer, size, needed, returned);
    });
}

}  // namespace

bool FinishJob(PrinterHandle& h) {
    if (!h.job) return false;
    if (h.jobFile >= 0) ::close(h.jobFile);
    h.jobFile = -1;
    BOOL ok = SetJobStatus(h, JOB_STATUS_PRINTED, false);
    h.job = 0;
    return ok;
}

void SetWritePrinterFault(WriteFault fault, uint32_t n) {
    auto& f = Faults();
    std::lock_guard lock(f.lock);
    f.set = true;
    f.fault = fault;
    f.n = n;
}

std::filesystem::path JobFile(DWORD jobId) {
    char name[32];
    std::snprintf(name, sizeof name, "%05u.SPL", jobId);
    return zq::SystemRoot() / "c" / "windows" / "system32" / "spool" / "printers" / name;
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

DWORD StartDocPrinterW(HANDLE printer, DWORD level, LPBYTE docInfo) { return StartDocT<WCHAR>(printer, level, docInfo); }
DWORD StartDocPrinterA(HANDLE printer, DWORD level, LPBYTE docInfo) { return StartDocT<CHAR>(printer, level, docInfo); }

BOOL StartPagePrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    return TRUE;
}

BOOL EndPagePrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    return SetJobStatus(*h, 0, true);
}

BOOL WritePrinter(HANDLE printer, LPVOID data, DWORD size, LPDWORD written) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!written || (size && !data)) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    auto [fault, n] = CurrentFault();
    DWORD take = size;
    if (fault == WriteFault::Fail && h->jobBytes + size > n) return Fail(ERROR_NO_SPOOL_SPACE);
    if (fault == WriteFault::Short) take = std::min<DWORD>(size, n);
    const BYTE* p = static_cast<const BYTE*>(data);
    DWORD done = 0;
    while (done < take) {
        ssize_t w = ::write(h->jobFile, p + done, take - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            *written = done;
            h->jobBytes += done;
            return Fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_NO_SPOOL_SPACE);
        }
        done += static_cast<DWORD>(w);
    }
    h->jobBytes += done;
    *written = done;
    return TRUE;
}

BOOL EndDocPrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    return FinishJob(*h) ? TRUE : FALSE;
}

BOOL AbortPrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    if (h->jobFile >= 0) ::close(h->jobFile);
    h->jobFile = -1;
    DWORD job = h->job;
    h->job = 0;
    std::error_code ec;
    std::filesystem::remove(JobFile(job), ec);
    return GuardBool([&]() -> BOOL {
        Txn txn(*h->db, Txn::Mode::Write);
        Stmt s(*h->db, "DELETE FROM jobs WHERE id=?");
        s.Bind(1, job);
        s.Step();
        txn.MarkChanged();
        txn.Commit();
        return TRUE;
    });
}

BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetJobT<WCHAR>(printer, jobId, level, buffer, size, needed);
}
BOOL GetJobA(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetJobT<CHAR>(printer, jobId, level, buffer, size, needed);
}
BOOL EnumJobsW(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned) {
    return EnumJobsT<WCHAR>(printer, firstJob, count, level, buffer, size, needed, returned);
}
BOOL EnumJobsA(HANDLE printer, DWORD firstJob, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned) {
    return EnumJobsT<CHAR>(printer, firstJob, count, level, buffer, size, needed, returned);
}

}  // extern "C"
