// The faults of the printing road, end to end through the zq command: writes
// that fail or come up short at each point of a job, a driver that fails,
// a print killed in the middle of a page, a read-only root, a full disk and
// a damaged database. Each case is checked for zq's exit code and message,
// the state of every job it made and what it left on disk, and the next
// print on the same printer must work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "platform/gdi/tests/test_driver/test_driver.h"
#include "render/tests/e2e/print_support.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int exit = -1;    // exit code, or -1 when killed
    int signal = 0;   // the signal that ended it
    std::string out;  // stdout
    std::string err;  // stderr
    long peakKb = 0;  // peak resident size
};

struct Job {
    DWORD id = 0;
    std::string datatype;
    DWORD status = 0, total = 0, printed = 0, size = 0, error = 0;
    bool file = false;  // its spool file is on disk
};

class FaultTest : public zq::testing::FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        const char* bin = std::getenv("ZQ_BINARY_DIR");
        ASSERT_NE(bin, nullptr);
        zq_ = fs::path(bin) / "bin" / "zq";
        sample_ = fs::path(std::getenv("ZQ_SOURCE_DIR")) / "tools" / "emfgen" / "samples" / "text.emf";
        ASSERT_TRUE(fs::exists(zq_));
        zq::store::SetRegistryUser(u"tester");
        ASSERT_TRUE(Install(u"Zelquor M600", fs::path(bin) / "lib" / "pclrend.so"));
        ASSERT_TRUE(Install(u"Zelquor Test", ZQ_TEST_DRIVER_PATH));
        // The printer prints in the monochrome raster language at 300 dpi.
        auto dm = pclrend::testing::Letter(300);
        ASSERT_TRUE(AddPrinter(u"Mono", u"Zelquor M600", &dm.dm));
    }
    void TearDown() override {
        zq::store::SetRegistryUser(u"");
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        FreshRoot::TearDown();
    }

    // A driver whose file is copied where the spooler keeps drivers.
    bool Install(const std::u16string& name, const fs::path& file) {
        std::u16string n = name, path = u"zqdrv-" + std::u16string(name.end() - 4, name.end()) + u".so";
        DRIVER_INFO_2W d{3, n.data(), nullptr, path.data(), path.data(), path.data()};
        if (!AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&d))) return false;
        DWORD needed = 0;
        GetPrinterDriverDirectoryW(nullptr, nullptr, 1, nullptr, 0, &needed);
        std::vector<BYTE> dir(needed);
        if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, dir.data(), needed, &needed)) return false;
        auto host = zq::MapPath(std::u16string(reinterpret_cast<char16_t*>(dir.data())) + u"\\3\\" + path);
        if (!host) return false;
        std::error_code ec;
        fs::create_directories(host->parent_path(), ec);
        fs::copy_file(file, *host, fs::copy_options::overwrite_existing, ec);
        return !ec;
    }

    bool AddPrinter(const std::u16string& name, const std::u16string& driver, DEVMODEW* devmode) {
        std::u16string n = name, drv = driver, port = u"LPT1:";
        PRINTER_INFO_2W info{};
        info.pPrinterName = n.data();
        info.pDriverName = drv.data();
        info.pPortName = port.data();
        info.pDevMode = devmode;
        HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
        if (h) ClosePrinter(h);
        return h != nullptr;
    }

    // A printer of the test driver whose hook `failAt` fails.
    bool AddFailingPrinter(const std::u16string& name, ULONG failAt) {
        TestDriverSettings s;
        s.width = 200;
        s.height = 260;
        s.failAt = failAt;
        auto dm = MakeTestDevmode(s);
        return AddPrinter(name, u"Zelquor Test", &dm.dm);
    }

    // Runs zq with the root and `env` added; `fileLimit` > 0 sets the
    // file-size limit, `asNobody` drops root's rights.
    Outcome Zq(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
               rlim_t fileLimit = 0, bool asNobody = false, unsigned seconds = 0) {
        fs::path out = root_.parent_path() / (root_.filename().string() + ".out");
        fs::path err = root_.parent_path() / (root_.filename().string() + ".err");
        pid_t pid = fork();
        if (pid == 0) {
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (o < 0 || e < 0) _exit(120);
            fchmod(o, 0666);
            fchmod(e, 0666);
            dup2(o, 1);
            dup2(e, 2);
            setenv("ZQ_ROOT", root_.c_str(), 1);
            setenv("ZQ_USER", "tester", 1);
            unsetenv("ZQ_WRITEPRINTER_FAIL");
            for (auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
            if (fileLimit) {
                rlimit r{fileLimit, fileLimit};
                setrlimit(RLIMIT_FSIZE, &r);
            }
            if (asNobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(121);
            if (seconds) alarm(seconds);
            std::vector<char*> argv{const_cast<char*>(zq_.c_str())};
            for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(zq_.c_str(), argv.data());
            _exit(127);
        }
        Outcome r;
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        r.peakKb = usage.ru_maxrss;
        if (WIFEXITED(status)) r.exit = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
        auto read = [](const fs::path& p) {
            std::ifstream in(p, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        r.out = read(out);
        r.err = read(err);
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    Outcome Print(const std::string& printer, const std::map<std::string, std::string>& env = {}, rlim_t limit = 0,
                  bool asNobody = false) {
        return Zq({"print", sample_.string(), "--printer", printer}, env, limit, asNobody);
    }

    // Every job of a printer, read through the spooler in this process.
    std::vector<Job> Jobs(const std::u16string& printer) {
        std::vector<Job> out;
        HANDLE h = nullptr;
        std::u16string n = printer;
        if (!OpenPrinterW(n.data(), &h, nullptr)) return out;
        DWORD needed = 0, count = 0;
        EnumJobsW(h, 0, 1000, 2, nullptr, 0, &needed, &count);
        std::vector<BYTE> buffer(needed);
        if (needed && EnumJobsW(h, 0, 1000, 2, buffer.data(), needed, &needed, &count)) {
            auto* jobs = reinterpret_cast<JOB_INFO_2W*>(buffer.data());
            for (DWORD i = 0; i < count; ++i) {
                Job j{jobs[i].JobId, zq::store::ToUtf8(jobs[i].pDatatype), jobs[i].Status, jobs[i].TotalPages,
                      jobs[i].PagesPrinted, jobs[i].Size, zq::store::JobError(jobs[i].JobId),
                      fs::exists(zq::store::JobFile(jobs[i].JobId))};
                out.push_back(j);
            }
        }
        ClosePrinter(h);
        return out;
    }

    // The jobs a print added after `before` jobs: the EMF job and the
    // printer's own job, when there is one.
    std::pair<std::optional<Job>, std::optional<Job>> NewJobs(const std::u16string& printer, size_t before) {
        auto all = Jobs(printer);
        std::optional<Job> emf, raw;
        for (size_t i = before; i < all.size(); ++i) (all[i].datatype == "RAW" ? raw : emf) = all[i];
        return {emf, raw};
    }

    // The next print on the printer works, and says so.
    void ExpectNextPrintWorks(const std::u16string& printer) {
        size_t before = Jobs(printer).size();
        auto r = Print(zq::store::ToUtf8(printer));
        EXPECT_EQ(r.exit, 0) << r.err;
        auto [emf, raw] = NewJobs(printer, before);
        ASSERT_TRUE(emf && raw);
        EXPECT_EQ(emf->status, JOB_STATUS_PRINTED);
        EXPECT_EQ(raw->status, JOB_STATUS_PRINTED);
        EXPECT_EQ(raw->printed, 1u);
        EXPECT_EQ(raw->total, 1u);
    }

    fs::path zq_, sample_;
};

TEST_F(FaultTest, ACleanPrintCountsItsPagesAndEndsPrinted) {
    auto r = Print("Mono");
    ASSERT_EQ(r.exit, 0) << r.err;
    auto [emf, raw] = NewJobs(u"Mono", 0);
    ASSERT_TRUE(emf && raw);
    EXPECT_EQ(emf->status, JOB_STATUS_PRINTED);
    EXPECT_EQ(emf->total, 1u);
    EXPECT_EQ(emf->printed, 1u);
    EXPECT_EQ(emf->size, fs::file_size(sample_));
    EXPECT_EQ(raw->status, JOB_STATUS_PRINTED);
    EXPECT_EQ(raw->total, 1u);
    EXPECT_EQ(raw->printed, 1u);
    EXPECT_GT(raw->size, 0u);
    EXPECT_EQ(raw->size, fs::file_size(zq::store::JobFile(raw->id)));

    auto list = Zq({"jobs", "list", "Mono"});
    EXPECT_EQ(list.exit, 0);
    EXPECT_NE(list.out.find("printed\t1 of 1 pages\t" + std::to_string(raw->size) + " bytes"), std::string::npos)
        << list.out;
    auto show = Zq({"jobs", "show", "Mono", std::to_string(raw->id)});
    EXPECT_EQ(show.exit, 0);
    EXPECT_NE(show.out.find("status: printed (0x00000080)\nerror: none\ntotal pages: 1\npages printed: 1\n"),
              std::string::npos)
        << show.out;
}

// Writes that fail or come up short, at each point of a job. The fault
// counts the bytes of each job, so a limit between the EMF job's size and
// the driver's output lands in the driver's output.
TEST_F(FaultTest, WriteFaultsAtEachPointOfAJob) {
    ASSERT_EQ(Print("Mono").exit, 0);
    auto [cleanEmf, cleanRaw] = NewJobs(u"Mono", 0);
    ASSERT_TRUE(cleanEmf && cleanRaw);
    const DWORD emfSize = cleanEmf->size, rawSize = cleanRaw->size;
    ASSERT_GT(rawSize / 2, emfSize) << "the driver's output should outgrow the document";

    struct Case {
        const char* name;
        std::string fault;
        int exit;
        const char* message;  // in stderr
        DWORD emfStatus;
        std::optional<DWORD> rawStatus;  // nullopt: no printer job was made
        DWORD error;                     // kept with the EMF job
    };
    const Case cases[] = {
        {"EMF spooling fails", "fail:100", 1,
         "cannot spool the document: no space to spool the job (error 62)", JOB_STATUS_ERROR, std::nullopt, 62},
        // The spooling goes on after a short write; the driver gives up on
        // its document at the first one, to send no job with a hole.
        {"short writes", "short:1000", 1, "the driver could not finish the page: the job was cancelled (error 63)",
         JOB_STATUS_ERROR, JOB_STATUS_DELETED, 63},
        {"EMF spooling takes nothing", "short:0", 1, "cannot spool the document: no space to spool the job (error 62)",
         JOB_STATUS_ERROR, std::nullopt, 62},
        {"driver output fails mid-page", "fail:" + std::to_string(rawSize / 2), 1,
         "the driver could not finish the page: writing the printer's job failed: no space to spool the job (error 62)",
         JOB_STATUS_ERROR, JOB_STATUS_ERROR | JOB_STATUS_DELETED, 62},
        {"driver output fails at the end of the document", "fail:" + std::to_string(rawSize - 1), 1,
         "the driver could not end the document: writing the printer's job failed: no space to spool the job (error 62)",
         JOB_STATUS_ERROR, JOB_STATUS_ERROR | JOB_STATUS_DELETED, 62},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t before = Jobs(u"Mono").size();
        auto r = Print("Mono", {{"ZQ_WRITEPRINTER_FAIL", c.fault}});
        EXPECT_EQ(r.exit, c.exit) << r.err;
        if (*c.message) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        EXPECT_EQ(r.err.find("error 0)"), std::string::npos) << r.err;
        auto [emf, raw] = NewJobs(u"Mono", before);
        ASSERT_TRUE(emf);
        EXPECT_EQ(emf->status, c.emfStatus);
        EXPECT_EQ(emf->error, c.error);
        EXPECT_EQ(emf->printed, c.emfStatus == JOB_STATUS_PRINTED ? 1u : 0u);
        ASSERT_EQ(raw.has_value(), c.rawStatus.has_value());
        if (raw) {
            EXPECT_EQ(raw->status, *c.rawStatus);
            // An aborted job leaves no bytes behind; a printed one all of them.
            EXPECT_EQ(raw->file, !(raw->status & JOB_STATUS_DELETED));
            if (raw->status == JOB_STATUS_PRINTED) {
                EXPECT_EQ(raw->size, rawSize);
            }
            if (raw->status & JOB_STATUS_ERROR) {
                EXPECT_LT(raw->size, rawSize);
            }
        }
        ExpectNextPrintWorks(u"Mono");
    }
}

TEST_F(FaultTest, ADriverThatFailsNamesTheStepAndEndsTheJobInError) {
    struct Case {
        const char* printer;
        ULONG failAt;
        const char* message;
        bool rawJob;  // the printer's own job was started (and then deleted)
    };
    const Case cases[] = {
        {"Fails enable", INDEX_DrvEnablePDEV, "cannot make a device context on Fails enable: error 1234", false},
        {"Fails start", INDEX_DrvStartDoc, "the driver could not start the document: error 1234", true},
        {"Fails page", INDEX_DrvStartPage, "the driver could not start the page: error 1234", true},
        {"Fails end", INDEX_DrvEndDoc, "the driver could not end the document: error 1234", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printer);
        std::u16string name = zq::store::FromUtf8(c.printer);
        ASSERT_TRUE(AddFailingPrinter(name, c.failAt));
        auto r = Print(c.printer);
        EXPECT_EQ(r.exit, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        auto [emf, raw] = NewJobs(name, 0);
        ASSERT_TRUE(emf);
        EXPECT_EQ(emf->status, JOB_STATUS_ERROR);
        EXPECT_EQ(emf->error, kTestDriverError);
        EXPECT_EQ(emf->printed, 0u);
        ASSERT_EQ(raw.has_value(), c.rawJob);
        if (raw) {
            EXPECT_EQ(raw->status, JOB_STATUS_DELETED);
            EXPECT_FALSE(raw->file);
        }
    }
    // The same driver prints when nothing fails.
    ASSERT_TRUE(AddFailingPrinter(u"Works", kTestNoFailure));
    ExpectNextPrintWorks(u"Works");
}

TEST_F(FaultTest, APrintKilledInTheMiddleOfAPageIsFoundAtTheNextOpen) {
    ASSERT_EQ(Print("Mono").exit, 0);
    auto [cleanEmf, cleanRaw] = NewJobs(u"Mono", 0);
    ASSERT_TRUE(cleanRaw);
    size_t before = Jobs(u"Mono").size();
    auto r = Print("Mono", {{"ZQ_WRITEPRINTER_FAIL", "kill:" + std::to_string(cleanRaw->size / 2)}});
    EXPECT_EQ(r.signal, SIGKILL);
    auto [emf, raw] = NewJobs(u"Mono", before);
    ASSERT_TRUE(emf && raw);
    // Nobody has opened the spooler since: the records say what the dead
    // process left them saying.
    EXPECT_EQ(emf->status, JOB_STATUS_PRINTING);
    EXPECT_EQ(raw->status, JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING);

    auto list = Zq({"jobs", "list", "Mono"});
    EXPECT_EQ(list.exit, 0);
    auto [emfAfter, rawAfter] = NewJobs(u"Mono", before);
    ASSERT_TRUE(emfAfter && rawAfter);
    for (const Job& j : {*emfAfter, *rawAfter}) {
        EXPECT_EQ(j.status, JOB_STATUS_ERROR);
        EXPECT_EQ(j.error, ERROR_PROCESS_ABORTED);
        EXPECT_EQ(j.printed, 0u);
    }
    // What reached the spool file is kept, for whoever looks into it.
    EXPECT_TRUE(rawAfter->file);
    EXPECT_GT(rawAfter->size, 0u);
    EXPECT_LE(rawAfter->size, cleanRaw->size / 2);
    EXPECT_NE(list.out.find(std::to_string(rawAfter->id) + "\tMono\ttext.emf\terror\t0 of 0 pages"),
              std::string::npos)
        << list.out;
    ExpectNextPrintWorks(u"Mono");
}

TEST_F(FaultTest, AFullDiskFailsThePrintWithItsCause) {
    ASSERT_EQ(Print("Mono").exit, 0);
    auto [cleanEmf, cleanRaw] = NewJobs(u"Mono", 0);
    ASSERT_TRUE(cleanRaw);
    // Room for the database as it stands and the EMF job, not for the
    // driver's output.
    rlim_t limit = std::max<rlim_t>({fs::file_size(root_ / "registry.db"), cleanEmf->size, cleanRaw->size / 2});
    size_t before = Jobs(u"Mono").size();
    auto r = Print("Mono", {}, limit);
    EXPECT_EQ(r.exit, 1) << r.err;
    // The limit strikes the spool file or the database's log first.
    EXPECT_TRUE(r.err.find("the disk is full (error 112)") != std::string::npos ||
                r.err.find("the registry database cannot be written (error 1013)") != std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("error 0)"), std::string::npos) << r.err;
    auto [emf, raw] = NewJobs(u"Mono", before);
    // Wherever the limit struck (the database, the document, the driver's
    // output), no job of the print is taken for printed.
    for (const auto& j : {emf, raw}) {
        if (j) {
            EXPECT_NE(j->status & JOB_STATUS_ERROR, 0u) << j->id;
        }
    }
    ExpectNextPrintWorks(u"Mono");
}

TEST_F(FaultTest, AReadOnlyRootRefusesThePrintAndChangesNothing) {
    ASSERT_EQ(Print("Mono").exit, 0);
    size_t before = Jobs(u"Mono").size();
    // Root's rights pass any mode: the print then runs as nobody.
    const bool asNobody = geteuid() == 0;
    for (auto& e : fs::recursive_directory_iterator(root_))
        fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    fs::permissions(root_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::permissions(root_.parent_path(), fs::perms::others_exec, fs::perm_options::add);
    auto r = Print("Mono", {}, 0, asNobody);
    for (auto& e : fs::recursive_directory_iterator(root_))
        fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(root_, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_TRUE(r.err.find("access denied (error 5)") != std::string::npos ||
                r.err.find("cannot be opened (error 1011)") != std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("error 0)"), std::string::npos) << r.err;
    EXPECT_EQ(Jobs(u"Mono").size(), before);
    ExpectNextPrintWorks(u"Mono");
}

TEST_F(FaultTest, ADamagedDatabaseNamesItsFileAndTheWayBack) {
    ASSERT_EQ(Zq({"reg", "export", "--out", (root_.parent_path() / (root_.filename().string() + ".reg")).string()})
                  .exit,
              0);
    // A process of its own damages the file: this one keeps it open.
    fs::path db = root_ / "registry.db";
    for (const char* extra : {"-wal", "-shm"}) fs::remove(db.string() + extra);
    {
        std::ofstream(db, std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{"printer", "list"}, {"jobs", "list"}}) {
        auto r = Zq(args);
        EXPECT_EQ(r.exit, 1) << args[0];
        EXPECT_NE(r.err.find(db.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("file is not a database (SQLite error 26)"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("zq reg import"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("error 0)"), std::string::npos) << r.err;
    }
    // The way back: the damaged file aside, the export imported.
    fs::rename(db, db.string() + ".damaged");
    auto import = Zq({"reg", "import", (root_.parent_path() / (root_.filename().string() + ".reg")).string()});
    EXPECT_EQ(import.exit, 0) << import.err;
    fs::remove(root_.parent_path() / (root_.filename().string() + ".reg"));
    auto list = Zq({"printer", "list"});
    EXPECT_EQ(list.exit, 0);
    EXPECT_NE(list.out.find("Mono\tZelquor M600"), std::string::npos) << list.out;
}

// Documents that claim huge sizes. Each is printed by zq under the address
// sanitizer with a hard limit on its resident size and a time limit: it is
// refused with a message that says what is wrong, or drawn within bounds.
class Emf {
public:
    Emf& Put(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Emf& Rect(int32_t l, int32_t t, int32_t r, int32_t b) {
        return Put(static_cast<uint32_t>(l)).Put(static_cast<uint32_t>(t)).Put(static_cast<uint32_t>(r)).Put(
            static_cast<uint32_t>(b));
    }
    // The header: a frame in hundredths of a millimetre and the record count
    // it claims.
    static Emf Header(int32_t frameRight, int32_t frameBottom, uint32_t records) {
        Emf e;
        e.Put(1).Put(88).Rect(0, 0, 2549, 3299).Rect(0, 0, frameRight, frameBottom).Put(0x464D4520).Put(0x10000);
        e.Put(0).Put(records).Put(1).Put(0).Put(0).Put(0).Put(2550).Put(3300).Put(216).Put(279);
        return e;
    }
    Emf& Record(uint32_t type, const std::vector<uint32_t>& fields) {
        Put(type).Put(static_cast<uint32_t>(8 + 4 * fields.size()));
        for (uint32_t f : fields) Put(f);
        return *this;
    }
    // A polyline of `n` points of 16 bits, zig-zagging over a small square.
    Emf& Polyline16(uint32_t n) {
        Put(87).Put(static_cast<uint32_t>(28 + 4 * uint64_t{n})).Rect(0, 0, 400, 400).Put(n);
        for (uint32_t i = 0; i < n; ++i) Put((i % 400) | ((i % 2 ? 400u : 0u) << 16));
        return *this;
    }
    // StretchDIBits of a bitmap whose header claims width x height at 24
    // bits, carrying `bitBytes` bytes of bits, drawn into a cx x cy box.
    Emf& StretchDib(int32_t width, int32_t height, uint32_t bitBytes, int32_t cx, int32_t cy) {
        uint32_t size = 80 + 40 + (bitBytes + 3) / 4 * 4;
        Put(81).Put(size).Rect(0, 0, 100, 100);
        Put(10).Put(10).Put(0).Put(0).Put(static_cast<uint32_t>(width)).Put(static_cast<uint32_t>(height));
        Put(80).Put(40).Put(120).Put(bitBytes).Put(0).Put(0x00CC0020).Put(static_cast<uint32_t>(cx)).Put(
            static_cast<uint32_t>(cy));
        Put(40).Put(static_cast<uint32_t>(width)).Put(static_cast<uint32_t>(height)).Put(1 | (24 << 16)).Put(0);
        Put(0).Put(0).Put(0).Put(0).Put(0);
        bytes_.resize(bytes_.size() + (bitBytes + 3) / 4 * 4, 0x80);
        return *this;
    }
    std::vector<uint8_t> End() {
        Record(14, {0, 16, 20});
        uint32_t total = static_cast<uint32_t>(bytes_.size());
        std::memcpy(bytes_.data() + 48, &total, 4);
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
};

TEST_F(FaultTest, DocumentsThatClaimHugeSizesAreBounded) {
    const std::vector<uint32_t> box{100, 100, 2000, 2000};
    struct Case {
        const char* name;
        std::vector<uint8_t> emf;
        int exit;
        const char* message;  // in stderr: the refused record
    };
    const Case cases[] = {
        {"a frame of 2^31 units", Emf::Header(0x7FFFFFFF, 0x7FFFFFFF, 3).Record(43, box).End(), 0, ""},
        {"a record count of 2^32", Emf::Header(21590, 27940, 0xFFFFFFFF).Record(43, box).End(), 0, ""},
        // A record that claims more than it holds is refused alone, named
        // on stderr, and the rest of the page prints.
        {"a bitmap of 60000 x 60000", Emf::Header(21590, 27940, 3).StretchDib(60000, 60000, 4096, 200, 200).End(),
         0, "bitmap is too large"},
        {"a bitmap of 1 x 2^16 rows cut short", Emf::Header(21590, 27940, 3).StretchDib(1, 65536, 4096, 200, 200).End(),
         0, "bitmap bits are shorter than its rows"},
        {"a small bitmap stretched over 2^30 pixels",
         Emf::Header(21590, 27940, 3).StretchDib(2, 2, 16, 1 << 30, 1 << 30).End(), 0, ""},
        {"a path of 10 million points", Emf::Header(21590, 27940, 3).Polyline16(10'000'000).End(), 0,
         "point count"},
    };
    const fs::path file = root_.parent_path() / (root_.filename().string() + "-huge.emf");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(c.emf.data()), static_cast<std::streamsize>(c.emf.size()));
        }
        size_t before = Jobs(u"Mono").size();
        auto r = Zq({"print", file.string(), "--printer", "Mono"}, {{"ASAN_OPTIONS", "hard_rss_limit_mb=1536"}}, 0,
                    false, 300);
        EXPECT_EQ(r.signal, 0) << "killed: over its memory or time";
        EXPECT_EQ(r.exit, c.exit) << r.err;
        if (*c.message) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
        auto [emf, raw] = NewJobs(u"Mono", before);
        if (c.exit == 0) {
            ASSERT_TRUE(emf && raw);
            EXPECT_EQ(raw->status, JOB_STATUS_PRINTED);
        } else {
            // A document refused before spooling leaves no job.
            EXPECT_FALSE(emf);
        }
        std::printf("%-44s exit %d, peak %ld MB\n", c.name, r.exit, r.peakKb / 1024);
    }
    fs::remove(file);
}

// A long document needs no more memory than a short one: what a page holds
// is let go when the page ends. The live heap after each page of a long
// document stays at what it was after the first.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_LIVE_HEAP_FROM_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(ZQ_LIVE_HEAP_FROM_SANITIZER)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define ZQ_LIVE_HEAP_FROM_SANITIZER 1
#endif

size_t LiveHeap() {
#ifdef ZQ_LIVE_HEAP_FROM_SANITIZER
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST_F(FaultTest, ALongDocumentKeepsTheMemoryOfAShortOne) {
    HDC dc = CreateDCW(u"WINSPOOL", u"Mono", nullptr, nullptr);
    ASSERT_NE(dc, nullptr);
    DOCINFOW info{sizeof(DOCINFOW), u"long", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &info), 0);
    // 40 pages here; ZQ_LONG_DOCUMENT_PAGES=500 gives the long form (40 s under ASan).
    const char* asked = std::getenv("ZQ_LONG_DOCUMENT_PAGES");
    const int pages = asked && std::atoi(asked) > 0 ? std::atoi(asked) : 40;
    size_t first = 0, most = 0;
    for (int p = 0; p < pages; ++p) {
        ASSERT_GT(StartPage(dc), 0);
        const int w = GetDeviceCaps(dc, HORZRES), h = GetDeviceCaps(dc, VERTRES);
        HBRUSH hatch = CreateHatchBrush(p % 6, RGB(0, 0, 0));
        HGDIOBJ old = SelectObject(dc, hatch);
        Ellipse(dc, w / 10, h / 10 + p, w / 2, h / 3);
        Rectangle(dc, w / 2, h / 2, w - w / 10, h - h / 10 - p);
        std::u16string text = u"page " + zq::store::FromUtf8(std::to_string(p + 1));
        TextOutW(dc, w / 10, h / 2, text.c_str(), static_cast<int>(text.size()));
        SelectObject(dc, old);
        DeleteObject(hatch);
        ASSERT_GT(EndPage(dc), 0);
        size_t live = LiveHeap();
        if (p == 0) first = live;
        most = std::max(most, live);
    }
    ASSERT_GT(EndDoc(dc), 0);
    DeleteDC(dc);
    // Allocations come and go in pools: a megabyte of slack, not a page's worth.
    EXPECT_LE(most, first + (1u << 20)) << "after page 1: " << first << " bytes, at most " << most;
    std::printf("%d pages: live heap %zu bytes after page 1, at most %zu after any page\n", pages, first, most);
    auto jobs = Jobs(u"Mono");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].status, JOB_STATUS_PRINTED);
    EXPECT_EQ(jobs[0].total, static_cast<DWORD>(pages));
    EXPECT_EQ(jobs[0].printed, static_cast<DWORD>(pages));
}

}  // namespace
