// Jobs: StartDocPrinter opens a spool file under the system root's spool
// folder, WritePrinter appends to it, EndDocPrinter closes it. The job
// records live in the database so that every process sees the queue.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

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
            if (kind == "kill") f.fault = WriteFault::Kill;
            if (colon != std::string_view::npos) f.n = static_cast<uint32_t>(std::strtoul(env + colon + 1, nullptr, 10));
        }
    }
    return {f.fault, f.n};
}

struct JobRecord {
    DWORD id = 0;
    std::u16string printer, document, datatype, user, machine, driver, processor, parameters, output;
    std::vector<BYTE> devmode;
    DWORD status = 0, priority = 1, pages = 0, printed = 0;
    uint64_t size = 0;
    int64_t submitted = 0;
};

// What a job is while its writer holds it; cleared when the job ends.
constexpr DWORD kLiveStatus = JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING;

// A metafile job is spooled first and played later; its pages reach the
// port only through the job its playing produces.
bool IsPlayedDatatype(std::u16string_view datatype) {
    return datatype.size() >= 6 && Fold(datatype.substr(0, 6)) == Fold(u"NT EMF");
}

// The start time of a process in clock ticks since boot, 0 when unknown; a
// job's writer is the process with its pid and this start time.
int64_t ProcessStart(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    // The name in parentheses may hold spaces; the fields count from its end.
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    const char* at = stat.c_str() + close + 1;
    for (int field = 3; field <= 22; ++field) {
        char* end = nullptr;
        long long v = std::strtoll(at, &end, 10);
        if (field == 22) return end == at ? 0 : v;
        while (*at == ' ') ++at;
        while (*at && *at != ' ') ++at;
    }
    return 0;
}

bool ProcessAlive(pid_t pid, int64_t start) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    int64_t now = ProcessStart(pid);
    return start == 0 || now == 0 || now == start;
}

SYSTEMTIME ToSystemTime(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {static_cast<WORD>(tm.tm_year + 1900), static_cast<WORD>(tm.tm_mon + 1), static_cast<WORD>(tm.tm_wday),
            static_cast<WORD>(tm.tm_mday), static_cast<WORD>(tm.tm_hour), static_cast<WORD>(tm.tm_min),
            static_cast<WORD>(tm.tm_sec), 0};
}

// The jobs of a printer in queue order, or only the one asked for (a
// spooler keeps thousands of old jobs, and each is looked at on disk).
std::vector<JobRecord> ReadJobs(Txn& txn, std::u16string_view printer, std::optional<DWORD> only) {
    std::vector<JobRecord> out;
    Stmt s(txn.Database(), only ? "SELECT id, printer, document, datatype, user, machine, driver, processor, parameters,"
                                  " output, devmode, status, priority, pages, submitted, printed, size FROM jobs"
                                  " WHERE pfold=? AND id=?"
                                : "SELECT id, printer, document, datatype, user, machine, driver, processor, parameters,"
                                  " output, devmode, status, priority, pages, submitted, printed, size FROM jobs"
                                  " WHERE pfold=? ORDER BY id");
    s.BindFolded(1, printer);
    if (only) s.Bind(2, int64_t{*only});
    while (s.Step()) {
        JobRecord j;
        j.id = static_cast<DWORD>(s.Int(0));
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
        j.printed = static_cast<DWORD>(s.Int(15));
        // The spool file holds what was written, even of a job whose writer
        // died before it could record its size; a removed file leaves the
        // size last recorded.
        std::error_code ec;
        j.size = std::filesystem::file_size(JobFile(j.id), ec);
        if (ec) j.size = static_cast<uint64_t>(s.Int(16));
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
        rec.PagesPrinted = j.printed;
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
        std::error_code made;
        std::filesystem::create_directories(dir, made);
        if (made) return Fail(SpoolFileError(made.value()));
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
               " devmode, status, priority, size, pages, submitted, pid, started)"
               " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,0,0,?,?,?)");
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
            .Bind(14, static_cast<int64_t>(std::time(nullptr)))
            .Bind(15, static_cast<int64_t>(::getpid()))
            .Bind(16, ProcessStart(::getpid()));
        s.Step();
        DWORD job = static_cast<DWORD>(sqlite3_last_insert_rowid(h->db->Handle()));
        int fd = ::open(JobFile(job).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return Fail(SpoolFileError(errno));
        txn.MarkChanged();
        txn.Commit();
        h->job = job;
        h->jobFile = fd;
        h->jobBytes = 0;
        h->jobError = 0;
        h->jobPrinting = false;
        h->jobPlayed = IsPlayedDatatype(datatype);
        id = job;
        return TRUE;
    });
    return id;
}

// One change to the handle's job record: `sql` binds the job id last.
template <class Bindings>
BOOL UpdateJob(PrinterHandle& h, const char* sql, Bindings&& bind) {
    return GuardBool([&]() -> BOOL {
        Txn txn(*h.db, Txn::Mode::Write);
        Stmt s(*h.db, sql);
        int next = bind(s);
        s.Bind(next, h.job);
        s.Step();
        txn.MarkChanged();
        txn.Commit();
        return TRUE;
    });
}

// A failed write puts the job in error at once, so that a writer that dies
// afterwards leaves the truth behind; the first error is the one kept.
void RecordWriteError(PrinterHandle& h, DWORD error) {
    if (h.jobError) return;
    h.jobError = error;
    UpdateJob(h, "UPDATE jobs SET status=status|?, error=?, size=? WHERE id=?", [&](Stmt& s) {
        s.Bind(1, JOB_STATUS_ERROR).Bind(2, error).Bind(3, static_cast<int64_t>(h.jobBytes));
        return 4;
    });
}

// GetJob and EnumJobs: the jobs of a live printer's handle in queue order,
// or only the job `only` (none when the printer has no such job), each
// with its place in the queue, handed to `use` outside the read
// transaction; levels 1 and 2 only.
template <class F>
BOOL WithPrinterJobs(HANDLE printer, DWORD level, std::optional<DWORD> only, F&& use) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (level != 1 && level != 2) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<JobRecord> jobs;
        std::vector<DWORD> positions;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            if (!LivePrinter(txn, *h)) return Fail(ERROR_INVALID_HANDLE);
            jobs = ReadJobs(txn, h->name, only);
            if (only && !jobs.empty()) {
                Stmt place(txn.Database(), "SELECT COUNT(*) FROM jobs WHERE pfold=? AND id<=?");
                place.BindFolded(1, h->name);
                place.Bind(2, int64_t{*only});
                positions.push_back(place.Step() ? static_cast<DWORD>(place.Int(0)) : 1);
            } else {
                for (size_t i = 0; i < jobs.size(); ++i) positions.push_back(static_cast<DWORD>(i + 1));
            }
        }
        return use(jobs, positions);
    });
}

template <class Ch>
BOOL GetJobT(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return WithPrinterJobs(printer, level, jobId,
                           [&](const std::vector<JobRecord>& one, const std::vector<DWORD>& positions) -> BOOL {
                               if (one.empty()) return Fail(ERROR_INVALID_PARAMETER);
                               return PackJobs<Ch>(one, positions, level, buffer, size, needed, nullptr);
                           });
}

template <class Ch>
BOOL EnumJobsT(HANDLE printer, DWORD first, DWORD count, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
               LPDWORD returned) {
    return WithPrinterJobs(printer, level, std::nullopt,
                           [&](const std::vector<JobRecord>& all, const std::vector<DWORD>& places) -> BOOL {
                               std::vector<JobRecord> slice;
                               std::vector<DWORD> positions;
                               for (size_t i = first; i < all.size() && slice.size() < count; ++i) {
                                   slice.push_back(all[i]);
                                   positions.push_back(places[i]);
                               }
                               return PackJobs<Ch>(slice, positions, level, buffer, size, needed, returned);
                           });
}

}  // namespace

DWORD SpoolFileError(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    default: return ERROR_NO_SPOOL_SPACE;
    }
}

// The job's end. A raw job whose every byte reached the port is printed; a
// metafile job waits for its playing (status 0); a job with a failed write
// is in error, and the call fails with that write's error.
bool FinishJob(PrinterHandle& h) {
    if (!h.job) return false;
    if (h.jobFile >= 0 && ::close(h.jobFile) != 0 && !h.jobError) RecordWriteError(h, SpoolFileError(errno));
    h.jobFile = -1;
    DWORD status = h.jobError ? JOB_STATUS_ERROR : h.jobPlayed ? 0 : JOB_STATUS_PRINTED;
    BOOL ok = UpdateJob(h, "UPDATE jobs SET status=?, size=?, printed=CASE WHEN ? THEN pages ELSE printed END WHERE id=?",
                        [&](Stmt& s) {
                            s.Bind(1, status).Bind(2, static_cast<int64_t>(h.jobBytes));
                            s.Bind(3, status == JOB_STATUS_PRINTED ? 1 : 0);
                            return 4;
                        });
    DWORD error = h.jobError;
    h.job = 0;
    h.jobError = 0;
    if (error) {
        SetLastError(error);
        return false;
    }
    return ok;
}

void RecoverAbandonedJobs(Txn& txn) {
    std::vector<std::pair<DWORD, bool>> abandoned;
    {
        Stmt s(txn.Database(), "SELECT id, pid, started, status FROM jobs WHERE status & ? OR status=0");
        s.Bind(1, kLiveStatus);
        while (s.Step())
            if (!ProcessAlive(static_cast<pid_t>(s.Int(1)), s.Int(2)))
                abandoned.push_back({static_cast<DWORD>(s.Int(0)), s.Int(3) == 0});
    }
    for (auto [job, waiting] : abandoned) {
        std::error_code ec;
        auto size = std::filesystem::file_size(JobFile(job), ec);
        Stmt u(txn.Database(), "UPDATE jobs SET status=(status & ~?) | ?, error=CASE WHEN error=0 THEN ? ELSE error END,"
                               " size=? WHERE id=?");
        u.Bind(1, kLiveStatus).Bind(2, JOB_STATUS_ERROR).Bind(3, ERROR_PROCESS_ABORTED);
        u.Bind(4, ec ? 0 : static_cast<int64_t>(size)).Bind(5, job);
        u.Step();
        (void)waiting;
    }
    if (!abandoned.empty()) txn.MarkChanged();
}

bool SetPlayedJobState(HANDLE printer, DWORD job, DWORD status, DWORD pagesPrinted, DWORD error) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    return GuardBool([&]() -> BOOL {
        Txn txn(*h->db, Txn::Mode::Write);
        Stmt s(*h->db, "UPDATE jobs SET status=?, printed=?, error=?, pid=?, started=? WHERE id=? AND pfold=?");
        s.Bind(1, status).Bind(2, pagesPrinted).Bind(3, error).Bind(4, static_cast<int64_t>(::getpid()));
        s.Bind(5, ProcessStart(::getpid())).Bind(6, job).BindFolded(7, h->name);
        s.Step();
        if (sqlite3_changes(h->db->Handle()) == 0) return Fail(ERROR_INVALID_PARAMETER);
        txn.MarkChanged();
        txn.Commit();
        return TRUE;
    });
}

DWORD JobError(DWORD jobId) {
    try {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Read);
        Stmt s(*db, "SELECT error FROM jobs WHERE id=?");
        s.Bind(1, jobId);
        return s.Step() ? static_cast<DWORD>(s.Int(0)) : 0;
    } catch (const std::exception&) {
        return 0;
    }
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
    // A page reached the port when all of its bytes and the ones before
    // were written; a metafile's pages reach it only when played.
    bool reached = !h->jobError && !h->jobPlayed;
    return UpdateJob(*h, "UPDATE jobs SET pages=pages+1, printed=printed+?, size=? WHERE id=?", [&](Stmt& s) {
        s.Bind(1, reached ? 1 : 0).Bind(2, static_cast<int64_t>(h->jobBytes));
        return 3;
    });
}

BOOL WritePrinter(HANDLE printer, LPVOID data, DWORD size, LPDWORD written) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (!written || (size && !data)) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (!h->job) return Fail(ERROR_SPL_NO_STARTDOC);
    // A job in error takes nothing more: what follows a lost piece would
    // reach the port as a damaged job.
    if (h->jobError) return Fail(h->jobError);
    auto [fault, n] = CurrentFault();
    DWORD take = size;
    if (fault == WriteFault::Fail && h->jobBytes + size > n) {
        RecordWriteError(*h, ERROR_NO_SPOOL_SPACE);
        return Fail(ERROR_NO_SPOOL_SPACE);
    }
    if (fault == WriteFault::Short) take = std::min<DWORD>(size, n);
    if (fault == WriteFault::Kill && h->jobBytes + size > n) {
        // What is below n lands first, as a write cut short by the kill would.
        DWORD part = static_cast<DWORD>(n > h->jobBytes ? n - h->jobBytes : 0);
        if (part && ::write(h->jobFile, data, part) < 0) part = 0;
        ::kill(::getpid(), SIGKILL);
    }
    if (!h->jobPrinting && take > 0 && !h->jobPlayed) {
        // The first bytes reach the port: the job prints while it spools.
        h->jobPrinting = true;
        UpdateJob(*h, "UPDATE jobs SET status=status|? WHERE id=?", [&](Stmt& s) {
            s.Bind(1, JOB_STATUS_PRINTING);
            return 2;
        });
    }
    const BYTE* p = static_cast<const BYTE*>(data);
    DWORD done = 0;
    while (done < take) {
        ssize_t w = ::write(h->jobFile, p + done, take - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            DWORD error = SpoolFileError(errno);
            *written = done;
            h->jobBytes += done;
            RecordWriteError(*h, error);
            return Fail(error);
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
    // The job's bytes go; its record stays, deleted, with the error that
    // ended it if there was one, so that the queue shows what became of it.
    std::error_code ec;
    std::filesystem::remove(JobFile(h->job), ec);
    BOOL ok = UpdateJob(*h, "UPDATE jobs SET status=(status & ~?) | ?, size=? WHERE id=?", [&](Stmt& s) {
        s.Bind(1, kLiveStatus).Bind(2, JOB_STATUS_DELETED).Bind(3, static_cast<int64_t>(h->jobBytes));
        return 4;
    });
    h->job = 0;
    h->jobError = 0;
    return ok;
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
