// Temporary system roots for code that has no GoogleTest fixture (fuzz
// targets, benchmarks) and for the fixtures built on them.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace zq::testing {

// A new empty directory under the host's temporary directory, named from
// `prefix`; an empty path when none can be made.
inline std::filesystem::path MakeTempDirectory(std::string_view prefix, std::filesystem::path base = {}) {
    std::error_code ec;
    if (base.empty()) base = std::filesystem::temp_directory_path(ec);
    if (ec || base.empty()) base = "/tmp";
    std::string tmpl = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (!::mkdtemp(tmpl.data())) return {};
    std::filesystem::path made = std::filesystem::canonical(tmpl, ec);
    return ec ? std::filesystem::path(tmpl) : made;
}

// Removes a directory tree, even one a test left without write permission.
inline void RemoveTree(const std::filesystem::path& dir) {
    if (dir.empty()) return;
    std::error_code ec;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir, ec);
}

// One temporary directory for the whole process, made on first use and
// removed at exit: for fuzz targets, which have no per-run set-up; in
// memory (/dev/shm) when the host has it. Aborts when the directory cannot
// be made.
inline const std::filesystem::path& ProcessTempDirectory(std::string_view prefix) {
    // Never destroyed, so that the exit handler can still remove it.
    static const std::filesystem::path* dir = [&] {
        // In memory where the host offers it: fuzz targets write files on
        // every input, and a disk's sync would set their pace.
        auto* made = new std::filesystem::path(MakeTempDirectory(prefix, "/dev/shm"));
        if (made->empty()) *made = MakeTempDirectory(prefix);
        if (made->empty()) std::abort();
        std::atexit([] { RemoveTree(*dir); });
        return made;
    }();
    return *dir;
}

}  // namespace zq::testing
