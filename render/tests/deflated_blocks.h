// The colour raster's deflated blocks in a job, and Python's zlib as an
// outside judge of them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace pclrend::testing {

// Every ESC*b#W payload sent in method 1009, in the order of the job.
inline std::vector<std::vector<uint8_t>> DeflatedBlocks(const std::string& s) {
    std::vector<std::vector<uint8_t>> out;
    int method = 0;
    for (size_t i = 0; (i = s.find("\x1b*b", i)) != std::string::npos;) {
        size_t j = i + 3;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        const long v = std::strtol(s.substr(i + 3, j - i - 3).c_str(), nullptr, 10);
        if (j < s.size() && s[j] == 'M') method = static_cast<int>(v);
        if (j < s.size() && s[j] == 'W') {
            if (method == 1009 && j + 1 + static_cast<size_t>(v) <= s.size())
                out.emplace_back(s.begin() + static_cast<ptrdiff_t>(j + 1), s.begin() + static_cast<ptrdiff_t>(j + 1 + v));
            j += 1 + static_cast<size_t>(v);
        }
        i = j;
    }
    return out;
}

// Python's zlib inflates every block to `size` bytes: an outside check of
// the deflate stream. Returns a message, empty when all is well; "skip"
// when Python is not at hand.
inline std::string PythonInflates(const std::vector<std::vector<uint8_t>>& blocks, size_t size) {
    if (std::system("python3 -c 'import zlib' > /dev/null 2>&1") != 0) return "skip";
    // Files of this process's own: test programs run side by side.
    const std::string stem = ::testing::TempDir() + "colour_blocks-" + std::to_string(::getpid());
    const std::string path = stem + ".bin";
    {
        std::ofstream out(path, std::ios::binary);
        for (const auto& b : blocks) {
            const uint32_t n = static_cast<uint32_t>(b.size());
            out.write(reinterpret_cast<const char*>(&n), 4);
            out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        }
    }
    const std::string script =
        "import sys, zlib, struct\n"
        "d = open(sys.argv[1], 'rb').read(); i = 0; bad = 0\n"
        "while i < len(d):\n"
        "    n = struct.unpack('<I', d[i:i+4])[0]; b = d[i+4:i+4+n]; i += 4 + n\n"
        "    o = zlib.decompressobj()\n"
        "    x = o.decompress(b)\n"
        "    if b[:2] != b'\\x68\\x05' or len(x) != int(sys.argv[2]) or not o.eof or o.unused_data: bad += 1\n"
        "print(bad)\n";
    const std::string scriptPath = stem + ".py";
    std::ofstream(scriptPath) << script;
    const std::string command = "python3 " + scriptPath + " " + path + " " + std::to_string(size);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return "python3 did not start";
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, p) != nullptr;
    pclose(p);
    std::remove(path.c_str());
    std::remove(scriptPath.c_str());
    if (!read) return "python3 printed nothing";
    return std::atoi(line) == 0 ? "" : std::string(line) + " blocks refused by Python's zlib";
}

}  // namespace pclrend::testing
