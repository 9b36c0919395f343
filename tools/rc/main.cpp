// zqrc: compiles resource scripts (.rc) and record descriptions (.rec) into
// a module's resource directory (a C++ source) and, if asked, a standalone
// resource file that EngLoadModule reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "rc_compiler.h"

namespace {

constexpr const char* kUsage =
    "usage: zqrc [-I DIR]... -o OUT.cpp [--res OUT.res] [--depfile OUT.d] INPUT...\n"
    "\n"
    "Compiles resource scripts (.rc: STRINGTABLE, DIALOG, DIALOGEX, MENU, MENUEX,\n"
    "BITMAP, ICON, RCDATA, user types) and record descriptions (STRUCT, RECORD)\n"
    "into one resource directory. -I adds a directory searched by #include and\n"
    "for data files; --depfile writes the files read, for the build.\n";

int Error(const std::string& message) {
    std::fprintf(stderr, "zqrc: %s\n", message.c_str());
    return 1;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::string DepEscape(std::string s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '#') out.push_back('\\');
        if (c == '$') out.push_back('$');
        out.push_back(c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    zq::rc::CompileOptions options;
    std::string output, resFile, depFile;
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zqrc: %s needs a value (see zqrc --help)\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::printf("%s", kUsage);
            return 0;
        } else if (a == "-I") {
            options.includeDirs.emplace_back(value("-I"));
        } else if (a.rfind("-I", 0) == 0) {
            options.includeDirs.emplace_back(a.substr(2));
        } else if (a == "-o") {
            output = value("-o");
        } else if (a == "--res") {
            resFile = value("--res");
        } else if (a == "--depfile") {
            depFile = value("--depfile");
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "zqrc: unknown option %s (see zqrc --help)\n", a.c_str());
            return 2;
        } else {
            inputs.emplace_back(a);
        }
    }
    if (inputs.empty() || (output.empty() && resFile.empty())) {
        std::fprintf(stderr, "zqrc: give input files and -o or --res (see zqrc --help)\n");
        return 2;
    }
    try {
        auto result = zq::rc::CompileFiles(inputs, options);
        auto directory = zq::rc::BuildDirectory(result.resources);
        std::string names;
        for (const auto& in : inputs) names += (names.empty() ? "" : ", ") + in.filename().string();
        if (!output.empty()) {
            std::string source = zq::rc::EmitSource(directory, names);
            if (!WriteFile(output, source.data(), source.size())) return Error("cannot write " + output);
        }
        if (!resFile.empty() && !WriteFile(resFile, directory.data(), directory.size()))
            return Error("cannot write " + resFile);
        if (!depFile.empty()) {
            std::string d = DepEscape(output.empty() ? resFile : output) + ":";
            for (const auto& p : result.dependencies) d += " \\\n  " + DepEscape(std::filesystem::absolute(p).string());
            d += "\n";
            if (!WriteFile(depFile, d.data(), d.size())) return Error("cannot write " + depFile);
        }
    } catch (const zq::rc::CompileError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        return Error(e.what());
    }
    return 0;
}
