// The resource compiler's library (`zqrc_parser`): reads resource scripts
// (.rc syntax) and record descriptions (.rec), and produces the compiled
// resource directory of platform/base/resource_directory.h.
//
// Record descriptions give binary resources as named, typed fields:
//
//   STRUCT SourceEntry SIZE 24 {
//       uint16 mask;
//       uint16 sourceCode;
//       pad[20];
//   }
//   RECORD 259 1 {
//       uint16 count = count(entries);
//       uint16 defaultIndex = 0;
//       pad[4];
//       SourceEntry entries[] = {
//           { mask = 0x0001, sourceCode = 7 },
//           { mask = 0x0002, sourceCode = 1 },
//       };
//   }
//   RECORD 260 10500 : ModelLayout SIZE 82 { printRate = 12; name = "Zelquor L5"; }
//
// Field types: uint8 uint16 uint32 sint8 sint16 sint32 (little-endian),
// char[n] (ANSI text, Windows-1252, zero-filled), wchar[n] (UTF-16,
// zero-filled), pad[n] (zero bytes), and any STRUCT declared before. A field
// may be an array `name[n]` or `name[]` (length from its initialiser); a
// field without a value is zero (or its STRUCT default). Values are numeric
// expressions (| & ^ + - * / % << >> ~ and parentheses, symbols from
// #define or `constexpr` lines of included headers), count(field),
// sizeof(Type or field). Structures are packed; SIZE checks the layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zq::rc {

// A resource type or name: a number, or a string stored upper-case.
struct ResourceKey {
    bool isString = false;
    uint16_t id = 0;
    std::u16string name;
    bool operator==(const ResourceKey&) const = default;
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
    std::string origin;  // "file:line" of the statement that made it
};

// A script error: what() is "file:line: message".
class CompileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CompileOptions {
    std::vector<std::filesystem::path> includeDirs;
    // Reads a file; by default from disk. Tests and the fuzz target replace it.
    std::function<std::optional<std::string>(const std::filesystem::path&)> readFile;
    // Limits that keep hostile input bounded.
    size_t maxIncludeDepth = 32;
    size_t maxIncludeCount = 1024;
    size_t maxResourceBytes = 64u << 20;
};

struct CompileResult {
    std::vector<Resource> resources;
    std::vector<std::filesystem::path> dependencies;  // every file read
};

// Compiles one or more scripts as one unit (symbols carry over from one to
// the next, in order). Throws CompileError.
CompileResult CompileFiles(const std::vector<std::filesystem::path>& files, const CompileOptions& options = {});
CompileResult CompileText(std::string_view text, std::string_view fileName, const CompileOptions& options = {});

// The directory bytes of a set of resources; throws CompileError on a
// duplicate (type, name, language).
std::vector<uint8_t> BuildDirectory(const std::vector<Resource>& resources);

// A C++ source that defines the directory as the C-linkage array the loader
// looks up in each module.
std::string EmitSource(const std::vector<uint8_t>& directory, std::string_view comment);

}  // namespace zq::rc
