// Runs the independent PCL interpreter on a job and reads back its pages as
// 8-bit grey pictures of the whole sheet. Tests skip when it is absent.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pclread/pclxl_reader.h"

namespace pclrend::testing {

// The interpreter's pages in the reader's form: 0 black, 255 white.
using GreyPage = pclread::GreyPage;

// $ZQ_GPCL6, else ../shared/tools/gpcl6 beside the source tree; empty when
// neither exists.
inline std::string Gpcl6Path() {
    namespace fs = std::filesystem;
    if (const char* p = std::getenv("ZQ_GPCL6"); p && fs::exists(p)) return p;
    if (const char* src = std::getenv("ZQ_SOURCE_DIR")) {
        for (fs::path dir = src; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
            const fs::path candidate = dir.parent_path() / "shared" / "tools" / "gpcl6";
            if (fs::exists(candidate)) return candidate.string();
        }
    }
    return {};
}

// One portable grey map (P5), whitespace and comments in its header; a
// pixel map (P6) is taken as the grey of its colours by the renderer's
// weights (5 red, 9 green, 2 blue in 16).
inline bool ReadPgm(const std::string& path, GreyPage& page) {
    std::ifstream in(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), {});
    size_t i = 0;
    std::vector<int> numbers;
    const bool rgb = d.compare(0, 2, "P6") == 0;
    if (d.compare(0, 2, "P5") != 0 && !rgb) return false;
    i = 2;
    while (numbers.size() < 3 && i < d.size()) {
        if (d[i] == '#') {
            while (i < d.size() && d[i] != '\n') ++i;
        } else if (std::isspace(static_cast<unsigned char>(d[i]))) {
            ++i;
        } else {
            int v = 0;
            while (i < d.size() && std::isdigit(static_cast<unsigned char>(d[i]))) v = v * 10 + (d[i++] - '0');
            numbers.push_back(v);
        }
    }
    if (numbers.size() != 3) return false;
    ++i;
    page.width = numbers[0];
    page.height = numbers[1];
    const size_t size = static_cast<size_t>(page.width) * page.height;
    if (d.size() < i + size * (rgb ? 3 : 1)) return false;
    if (!rgb) {
        page.grey.assign(d.begin() + static_cast<std::ptrdiff_t>(i), d.begin() + static_cast<std::ptrdiff_t>(i + size));
        return true;
    }
    page.grey.resize(size);
    for (size_t k = 0; k < size; ++k) {
        const auto* p = reinterpret_cast<const uint8_t*>(d.data() + i + 3 * k);
        page.grey[k] = static_cast<uint8_t>((5 * p[0] + 9 * p[1] + 2 * p[2]) / 16);
    }
    return true;
}

// Renders `job` at `dpi`; the pages in order (empty when the run failed).
// `colour`: rendered in colour, each pixel then the grey of its colour.
inline std::vector<GreyPage> RunGpcl6(const std::string& gpcl6, const std::vector<uint8_t>& job, int dpi,
                                      const std::string& name, bool colour = false) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zq-gpcl6-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        std::ofstream out(dir / "job.pcl", std::ios::binary);
        out.write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    }
    const std::string command = "'" + gpcl6 + "' -q -dNOPAUSE -dBATCH -sDEVICE=" + (colour ? "ppmraw" : "pgmraw") + " -r" + std::to_string(dpi) +
                                " -sOutputFile='" + (dir / "page-%d.pgm").string() + "' '" +
                                (dir / "job.pcl").string() + "' >/dev/null 2>&1";
    std::vector<GreyPage> pages;
    if (std::system(command.c_str()) == 0) {
        for (int n = 1;; ++n) {
            GreyPage p;
            if (!ReadPgm((dir / ("page-" + std::to_string(n) + ".pgm")).string(), p)) break;
            pages.push_back(std::move(p));
        }
    }
    fs::remove_all(dir);
    return pages;
}

}  // namespace pclrend::testing
