// The whole road side by side with a free PCL driver: each document of the
// real-document corpus printed twenty pages in one job by `zq print` at
// 600 dpi (EMF in, PCL job out; monochrome raster language 0 and PCL XL),
// and the PDF of the same source (made here by rsvg-convert) printed by
// Ghostscript's ljet4 (PCL 5) and pxlmono (PCL XL) devices at 600 dpi.
// Every figure is of the whole process: seconds per page (median of the
// runs; wall clock, and CPU time, user and system, which a shared machine
// sways less), job bytes per page, peak resident memory of the child. The
// ratios ours / theirs come from the same run. Without gs (or rsvg-convert)
// the Ghostscript column is left out, saying so.
//
// Usage: road_bench [--runs N] [--pages N] [--jobs DIR] [DOCUMENT ...]
// Needs ZQ_BINARY_DIR (the build tree) and ZQ_SOURCE_DIR (the sources).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/root.h"
#include "render/tests/e2e/print_support.h"
#include "testing/temp_root.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Figures {
    double seconds = 0;   // whole process, wall clock
    double cpu = 0;       // its user and system time: less swayed by a loaded machine
    double peakMiB = 0;   // the child's peak resident memory
    uint64_t bytes = 0;   // the job written
    bool ok = false;
};

// Runs `argv` as a child with `extraEnv` added; its wall time and peak RSS.
Figures RunChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    for (const auto& e : extraEnv) envStore.push_back(e);
    std::vector<char*> env;
    for (auto& e : envStore) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Figures f;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return f;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
    auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    f.cpu = secs(usage.ru_utime) + secs(usage.ru_stime);
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

bool OnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    size_t at = 0;
    while (at <= rest.size()) {
        const size_t end = std::min(rest.find(':', at), rest.size());
        if (end > at && access((rest.substr(at, end - at) + "/" + tool).c_str(), X_OK) == 0) return true;
        at = end + 1;
    }
    return false;
}

struct Document {
    std::string name;  // as the corpus names its source
    std::string emf;   // the EMF export printed by our road
    std::string what;
};

// A median of the runs' figures (seconds and peak; bytes are the same each
// run).
Figures Median(std::vector<Figures> runs) {
    Figures m;
    if (runs.empty()) return m;
    auto mid = [&](auto key) {
        std::vector<double> v;
        for (const auto& r : runs) v.push_back(key(r));
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    m.seconds = mid([](const Figures& f) { return f.seconds; });
    m.cpu = mid([](const Figures& f) { return f.cpu; });
    m.peakMiB = mid([](const Figures& f) { return f.peakMiB; });
    m.bytes = runs.back().bytes;
    m.ok = true;
    return m;
}

void Usage() {
    std::puts(
        "usage: road_bench [--runs N] [--pages N] [--jobs DIR] [DOCUMENT ...]\n\n"
        "Prints each corpus document (letter, drawing, photo; all by default) N pages\n"
        "in one job (20) through `zq print` at 600 dpi in language 0 and PCL XL, and\n"
        "its PDF through Ghostscript's ljet4 and pxlmono devices; N runs each (3).\n"
        "Prints seconds per page (median; wall clock and CPU), bytes per page and peak\n"
        "memory of each whole process, and the ratios ours / Ghostscript's. --jobs\n"
        "DIR keeps the jobs there (DOCUMENT-ours-LANGUAGE.pcl, DOCUMENT-gs-DEVICE.pcl).\n"
        "Needs ZQ_BINARY_DIR (build tree) and ZQ_SOURCE_DIR (sources); gs and\n"
        "rsvg-convert on the PATH for the Ghostscript column.");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, pages = 20;
    std::vector<std::string> only;
    std::optional<fs::path> keep;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        }
        if ((a == "--runs" || a == "--pages") && i + 1 < argc) {
            const int n = std::atoi(argv[++i]);
            if (n < 1) {
                std::fprintf(stderr, "road_bench: %s wants a whole number of 1 or more\n", a.c_str());
                return 2;
            }
            (a == "--runs" ? runs : pages) = n;
            continue;
        }
        if (a == "--jobs" && i + 1 < argc) {
            keep = argv[++i];
            std::error_code ec;
            fs::create_directories(*keep, ec);
            if (ec) {
                std::fprintf(stderr, "road_bench: cannot make %s: %s\n", keep->c_str(), ec.message().c_str());
                return 2;
            }
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "road_bench: unknown option %s (see --help)\n", a.c_str());
            return 2;
        }
        only.push_back(a);
    }
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    if (!bin || !src) {
        std::fprintf(stderr, "road_bench: set ZQ_BINARY_DIR and ZQ_SOURCE_DIR\n");
        return 2;
    }
    const fs::path zq = fs::path(bin) / "bin" / "zq";
    const fs::path corpus = fs::path(src) / "render/tests/data/corpus";
    const std::vector<Document> all = {
        {"letter", "letter-office.emf", "text, a table and rules"},
        {"drawing", "drawing-inkscape.emf", "a vector drawing"},
        {"photo", "photo-office.emf", "a grey photograph and text"},
    };
    std::vector<Document> docs;
    for (const auto& d : all)
        if (only.empty() || std::find(only.begin(), only.end(), d.name) != only.end()) docs.push_back(d);
    if (docs.empty()) {
        std::fprintf(stderr, "road_bench: no such document (letter, drawing, photo)\n");
        return 2;
    }

    const fs::path root = zq::testing::MakeTempDirectory("zq-road-bench");
    if (root.empty()) return 1;
    zq::SetSystemRoot(root);
    if (pclrend::testing::InstallPrinter().empty()) {
        std::fprintf(stderr, "road_bench: could not install the printer (is %s/lib/pclrend.so built?)\n", bin);
        zq::testing::RemoveTree(root);
        return 1;
    }
    const fs::path work = root / "bench";
    fs::create_directories(work);

    const bool haveGs = OnPath("gs"), haveRsvg = OnPath("rsvg-convert");
    if (!haveGs) std::printf("gs is not installed (Debian: ghostscript): the Ghostscript column is left out\n");
    else if (!haveRsvg)
        std::printf("rsvg-convert is not installed (Debian: librsvg2-bin): the Ghostscript column is left out\n");
    const bool peer = haveGs && haveRsvg;

    std::printf("%d pages a job, %d runs, 600 dpi, Letter; seconds per page are the median run's (wall clock,\n"
                "then CPU: user and system time, which a loaded machine sways less)\n\n",
                pages, runs);
    std::printf("%-8s %-7s %-8s %9s %9s %6s %9s %9s %6s %10s %10s %6s %8s %8s\n", "document", "ours", "theirs",
                "ours s/p", "gs s/p", "ratio", "ours cpu", "gs cpu", "ratio", "ours B/p", "gs B/p", "ratio", "ours MiB",
                "gs MiB");
    int status = 0;
    for (const auto& doc : docs) {
        const fs::path emf = corpus / "emf" / doc.emf;
        std::optional<fs::path> pdf;
        if (peer) {
            const fs::path svg = corpus / "src" / (doc.name + ".svg");
            std::vector<std::string> cmd = {"rsvg-convert", "-f", "pdf", "-o", (work / (doc.name + ".pdf")).string()};
            for (int p = 0; p < pages; ++p) cmd.push_back(svg.string());
            if (RunChild(cmd).ok) pdf = work / (doc.name + ".pdf");
            else std::printf("%-8s rsvg-convert could not make the PDF: no Ghostscript figures\n", doc.name.c_str());
        }
        struct Road {
            const char* label;
            BYTE language;
            const char* device;
        };
        for (const Road& road : {Road{"PCL 5", 0, "ljet4"}, Road{"PCL XL", 2, "pxlmono"}}) {
            auto dm = pclrend::testing::Letter(600);
            dm.printerLanguage = road.language;
            // TrueType downloaded (dmTTOption 2), as the driver's own default
            // record has it; left 0, every glyph would go as graphics.
            dm.dm.dmTTOption = 2;
            const fs::path dmFile = work / "devmode.bin";
            {
                std::ofstream out(dmFile, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(&dm), dm.dm.dmSize + dm.dm.dmDriverExtra);
            }
            const fs::path ourJob = work / "ours.pcl", theirJob = work / "theirs.pcl";
            std::vector<std::string> ours = {zq.string(), "print"};
            for (int p = 0; p < pages; ++p) ours.push_back(emf.string());
            for (const char* a : {"--printer", "Mono", "--devmode"}) ours.emplace_back(a);
            ours.push_back(dmFile.string());
            ours.emplace_back("--out");
            ours.push_back(ourJob.string());
            std::vector<std::string> theirs;
            if (pdf)
                theirs = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", std::string("-sDEVICE=") + road.device, "-r600",
                          "-sPAPERSIZE=letter", "-dFIXEDMEDIA", "-sOutputFile=" + theirJob.string(), pdf->string()};
            std::vector<Figures> ourRuns, theirRuns;
            bool failed = false;
            for (int run = 0; run < runs && !failed; ++run) {
                // Alternated, so that both see the same load on the machine.
                Figures f = RunChild(ours, {"ZQ_ROOT=" + root.string()});
                std::error_code ec;
                f.bytes = fs::file_size(ourJob, ec);
                if (!f.ok || ec) {
                    std::printf("%-8s %-7s zq print failed\n", doc.name.c_str(), road.label);
                    failed = true;
                    status = 1;
                    break;
                }
                ourRuns.push_back(f);
                if (keep) fs::copy_file(ourJob, *keep / (doc.name + "-ours-" + (road.language ? "xl" : "pcl5") + ".pcl"),
                                        fs::copy_options::overwrite_existing, ec);
                fs::remove(ourJob, ec);
                if (theirs.empty()) continue;
                Figures g = RunChild(theirs);
                g.bytes = fs::file_size(theirJob, ec);
                if (g.ok && !ec) theirRuns.push_back(g);
                if (keep && g.ok)
                    fs::copy_file(theirJob, *keep / (doc.name + "-gs-" + road.device + ".pcl"),
                                  fs::copy_options::overwrite_existing, ec);
                fs::remove(theirJob, ec);
            }
            if (failed) continue;
            const Figures o = Median(ourRuns);
            const double oSec = o.seconds / pages, oBytes = static_cast<double>(o.bytes) / pages;
            if (theirRuns.size() == ourRuns.size() && !theirRuns.empty()) {
                const Figures t = Median(theirRuns);
                const double tSec = t.seconds / pages, tBytes = static_cast<double>(t.bytes) / pages;
                const double oCpu = o.cpu / pages, tCpu = t.cpu / pages;
                std::printf("%-8s %-7s %-8s %9.4f %9.4f %6.2f %9.4f %9.4f %6.2f %10.0f %10.0f %6.2f %8.1f %8.1f\n",
                            doc.name.c_str(), road.label, road.device, oSec, tSec, oSec / tSec, oCpu, tCpu,
                            tCpu > 0 ? oCpu / tCpu : 0.0, oBytes, tBytes, oBytes / tBytes, o.peakMiB, t.peakMiB);
            } else {
                std::printf("%-8s %-7s %-8s %9.4f %9s %6s %9.4f %9s %6s %10.0f %10s %6s %8.1f %8s\n", doc.name.c_str(),
                            road.label, "-", oSec, "-", "-", o.cpu / pages, "-", "-", oBytes, "-", "-", o.peakMiB, "-");
            }
            std::fflush(stdout);
        }
    }
    std::printf("\nletter: %s; drawing: %s; photo: %s (ours from the corpus EMF exports)\n", all[0].what.c_str(),
                all[1].what.c_str(), all[2].what.c_str());
    zq::SetSystemRoot({});
    zq::testing::RemoveTree(root);
    return status;
}
