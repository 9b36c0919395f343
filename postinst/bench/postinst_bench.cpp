// Figures of the post-install engine, each against a peer measured in the
// same run: zip extraction against `unzip -qo`, LZ expansion against
// `msexpand` (goal: at most 1.5 times the peer's time), the peak memory of
// an extraction at two archive sizes (goal: the same), the quick edit of one
// key of a 5 MB INI file against a plain copy of it (goal: at most 3 times)
// with its peak memory at two file sizes (goal: the same), reading and
// writing that file as a document, and the seconds one `zq install` takes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/files.h"
#include "base/lz.h"
#include "base/root.h"
#include "postinst/ini_file.h"
#include "postinst/zip_extract.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()>& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of five runs, for the short measurements a busy machine skews.
double MedianSeconds(const std::function<void()>& f) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) runs.push_back(Seconds(f));
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

void Sh(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "postinst_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Files of text-like and random bytes, `megabytes` in all.
void MakeTree(const fs::path& dir, int megabytes) {
    fs::create_directories(dir / "docs");
    std::mt19937 rng(megabytes);
    for (int i = 0; i < megabytes; ++i) {
        std::string data(1 << 20, '\0');
        if (i % 2) {
            for (auto& c : data) c = static_cast<char>(rng());
        } else {
            for (size_t j = 0; j < data.size(); ++j) data[j] = "Zelquor sample page line\n"[(j + rng() % 3) % 25];
        }
        std::ofstream(dir / "docs" / ("part" + std::to_string(i) + ".bin"), std::ios::binary) << data;
    }
}

// Peak resident memory (kB) of a child that extracts the archive.
long PeakOfExtraction(const std::string& archive, const std::string& dest) {
    pid_t pid = fork();
    if (pid == 0) {
        bool ok = postinst::ZipListContents(archive, postinst::kZipExtract, dest, nullptr);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

// An INI file of about `megabytes` MB: sections of 100 keys each.
void MakeIni(const fs::path& file, int megabytes) {
    std::ofstream f(file, std::ios::binary);
    long written = 0, target = static_cast<long>(megabytes) << 20;
    for (int section = 0; written < target; ++section) {
        std::string text = "[Section " + std::to_string(section) + "]\r\n";
        for (int k = 0; k < 100; ++k)
            text += "Key" + std::to_string(k) + "=Zelquor value " + std::to_string(section * 100 + k) + " of the file\r\n";
        f << text;
        written += static_cast<long>(text.size());
    }
}

// Peak resident memory (kB) of a child that edits one key of the file.
long PeakOfQuickWrite(const std::string& file) {
    pid_t pid = fork();
    if (pid == 0) _exit(postinst::QuickWriteIniString(file, "Section 100", "Key50", "changed", 1) ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main() {
    if (!Have("zip") || !Have("unzip") || !Have("mscompress") || !Have("msexpand")) {
        std::puts("postinst_bench: zip, unzip, mscompress and msexpand are needed (tools/install-deps.sh)");
        return 0;
    }
    fs::path work = fs::temp_directory_path() / ("zq-postinst-bench-" + std::to_string(getpid()));
    fs::path root = work / "root";
    fs::create_directories(root / "c" / "media");
    zq::SetSystemRoot(root);
    const std::string w = work.string();

    std::printf("%-34s %10s %10s %8s\n", "what", "ours s", "peer s", "ratio");
    MakeTree(work / "tree", 32);
    for (const char* level : {"-0", "-6"}) {
        std::string name = std::string("tree") + level + ".zip";
        Sh("cd '" + w + "/tree' && zip -q -r " + level + " '" + (root / "c" / "media" / name).string() + "' docs");
        std::string archive = "C:\\media\\" + name;
        double ours = Seconds([&] { postinst::ZipListContents(archive, postinst::kZipExtract, "C:\\out", nullptr); });
        double peer = Seconds([&] {
            Sh("mkdir -p '" + w + "/peer' && cd '" + w + "/peer' && unzip -qo '" + (root / "c/media" / name).string() + "'");
        });
        std::printf("%-34s %10.3f %10.3f %8.2f\n",
                    (std::string("extract 32 MB, ") + (level[1] == '0' ? "stored" : "deflated")).c_str(), ours, peer,
                    ours / peer);
        fs::remove_all(root / "c" / "out");
        fs::remove_all(work / "peer");
    }

    // LZ: a 24 MB file of text-like bytes.
    {
        std::ofstream f(root / "c" / "media" / "big", std::ios::binary);
        std::mt19937 rng(3);
        for (int i = 0; i < 24 * (1 << 20) / 32; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "Zelquor %08u pclrend.ini ;;\n", static_cast<unsigned>(rng() % 5000));
            f.write(line, 32);
        }
    }
    Sh("cd '" + (root / "c" / "media").string() + "' && mscompress big");
    LONG expanded = 0;
    double ours = Seconds([&] {
        OFSTRUCT of{};
        INT in = LZOpenFileA(const_cast<LPSTR>("C:\\media\\big_"), &of, OF_READ);
        INT out = LZOpenFileA(const_cast<LPSTR>("C:\\media\\big.out"), &of, OF_CREATE);
        expanded = LZCopy(in, out);
        LZClose(in);
        LZClose(out);
    });
    if (expanded != 24 * (1 << 20)) std::printf("LZ expansion failed: %ld\n", static_cast<long>(expanded));
    // msexpand reads its standard input a byte at a time; given a file it
    // reads it buffered, which is the fair comparison.
    fs::create_directories(work / "lzpeer");
    fs::copy_file(root / "c/media/big_", work / "lzpeer" / "big_");
    double peer = Seconds([&] { Sh("cd '" + w + "/lzpeer' && msexpand big_ > /dev/null"); });
    std::printf("%-34s %10.3f %10.3f %8.2f\n", "LZ expand 24 MB", ours, peer, ours / peer);

    // Peak memory at two archive sizes.
    MakeTree(work / "small", 4);
    Sh("cd '" + w + "/small' && zip -q -r -6 '" + (root / "c/media/small.zip").string() + "' docs");
    long small = PeakOfExtraction("C:\\media\\small.zip", "C:\\out1");
    long large = PeakOfExtraction("C:\\media\\tree-6.zip", "C:\\out2");
    std::printf("%-34s %10ld %10ld %8.2f\n", "peak kB, 4 MB vs 32 MB archive", small, large,
                static_cast<double>(large) / static_cast<double>(small));

    // INI files: one key of a 5 MB file against a plain copy of it, the
    // whole file as a document, and the quick edit's memory at two sizes.
    fs::create_directories(root / "c" / "ini");
    MakeIni(root / "c/ini/big.ini", 5);
    double copy = MedianSeconds([&] { CopyFileA("C:\\ini\\big.ini", "C:\\ini\\copy.ini", FALSE); });
    double quick = MedianSeconds([&] {
        if (!postinst::QuickWriteIniString("C:\\ini\\big.ini", "Section 100", "Key50", "changed", 1))
            std::puts("QuickWriteIniString failed");
    });
    std::printf("%-34s %10.3f %10.3f %8.2f\n", "INI quick write, 5 MB vs copy", quick, copy, quick / copy);
    double document = MedianSeconds([&] {
        postinst::IniFile ini;
        ini.Read("C:\\ini\\big.ini");
        ini.Write("C:\\ini\\out.ini");
    });
    std::printf("%-34s %10.3f %10.3f %8.2f\n", "INI read + write, 5 MB vs copy", document, copy, document / copy);
    MakeIni(root / "c/ini/small.ini", 1);
    long iniSmall = PeakOfQuickWrite("C:\\ini\\small.ini"), iniBig = PeakOfQuickWrite("C:\\ini\\big.ini");
    std::printf("%-34s %10ld %10ld %8.2f\n", "peak kB, INI quick write 1 vs 5 MB", iniSmall, iniBig,
                static_cast<double>(iniBig) / static_cast<double>(iniSmall));

    // One installation through zq install, on a root of its own.
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    fs::path zq = fs::path(bin ? bin : ".") / "bin" / "zq";
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    if (fs::exists(zq) && src) {
        fs::path r = work / "install";
        fs::create_directories(r / "d");
        fs::copy_file(fs::path(src) / "postinst/res/zelquor.inf", r / "d" / "zelquor.inf");
        for (const char* f : {"pclrend.so", "drvui.so", "pclrend.ini"}) std::ofstream(r / "d" / f) << "module";
        fs::copy_file(fs::path(src) / "postinst/tests/data/samples.zip", r / "d" / "samples.zip");
        fs::copy_file(fs::path(src) / "postinst/tests/data/pclrend.in_", r / "d" / "pclrend.in_");
        const int runs = 3;
        double total = Seconds([&] {
            for (int i = 0; i < runs; ++i)
                Sh("ZQ_ROOT='" + r.string() + "' '" + zq.string() +
                   "' install 'D:\\zelquor.inf' --model 'Zelquor Mira 12 PCL' --printer P > /dev/null");
        });
        std::printf("%-34s %10.3f\n", "seconds per zq install", total / runs);
    }
    fs::remove_all(work);
    return 0;
}
