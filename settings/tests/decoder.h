// Runs the test side's independent decoder of the stored formats
// (zq_decode.py, python3 struct) over byte blocks and returns its text for
// each, in one run of the interpreter.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace zq::testing {

// nullopt when python3 or the script is missing (the caller skips).
inline std::optional<std::vector<std::string>> Decode(const char* what, const std::vector<std::vector<uint8_t>>& blocks,
                                                      const std::filesystem::path& scratch) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    if (source == nullptr) return std::nullopt;
    const std::filesystem::path script = std::filesystem::path(source) / "settings/tests/zq_decode.py";
    if (!std::filesystem::exists(script)) return std::nullopt;
    std::string command = "python3 '" + script.string() + "' " + what;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::filesystem::path file = scratch / ("decode" + std::to_string(i) + ".bin");
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(blocks[i].data()), static_cast<std::streamsize>(blocks[i].size()));
        command += " '" + file.string() + "'";
    }
    command += " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
    if (::pclose(pipe) != 0) return std::nullopt;
    std::vector<std::string> out(1);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line == "--\n") out.emplace_back();
        else out.back() += line;
    }
    return out;
}

}  // namespace zq::testing
