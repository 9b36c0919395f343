// Compiling a set of scripts and writing the resource directory.
#include <algorithm>
#include <cstring>
#include <map>

#include "base/resource_directory.h"
#include "parser.h"

namespace zq::rc {

namespace {

CompileResult Compile(const std::function<void(Lexer&)>& load, const CompileOptions& options) {
    CompileResult result;
    Symbols symbols;
    Lexer lexer(options, symbols, result.dependencies);
    load(lexer);
    Parser parser(lexer, symbols, options, result);
    parser.Run();
    return result;
}

}  // namespace

CompileResult CompileFiles(const std::vector<std::filesystem::path>& files, const CompileOptions& options) {
    return Compile(
        [&](Lexer& lexer) {
            // Pushed in reverse: the lexer reads the last pushed file first.
            for (auto it = files.rbegin(); it != files.rend(); ++it) lexer.PushFile(*it, nullptr);
        },
        options);
}

CompileResult CompileText(std::string_view text, std::string_view fileName, const CompileOptions& options) {
    return Compile([&](Lexer& lexer) { lexer.PushText(std::string(text), std::string(fileName)); }, options);
}

std::vector<uint8_t> BuildDirectory(const std::vector<Resource>& resources) {
    // Sorted by type, name and language so that the output does not depend
    // on the order of the scripts' statements.
    std::vector<const Resource*> sorted;
    for (const auto& r : resources) sorted.push_back(&r);
    auto keyLess = [](const ResourceKey& a, const ResourceKey& b) {
        if (a.isString != b.isString) return !a.isString;
        return a.isString ? a.name < b.name : a.id < b.id;
    };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Resource* a, const Resource* b) {
        if (!(a->type == b->type)) return keyLess(a->type, b->type);
        if (!(a->name == b->name)) return keyLess(a->name, b->name);
        return a->language < b->language;
    });
    for (size_t i = 1; i < sorted.size(); ++i) {
        const Resource& a = *sorted[i - 1];
        const Resource& b = *sorted[i];
        if (a.type == b.type && a.name == b.name && a.language == b.language)
            throw CompileError(b.origin + ": resource defined twice (first at " + a.origin + ")");
    }

    std::vector<uint8_t> out(sizeof(ResourceDirectoryHeader) + sorted.size() * sizeof(ResourceDirectoryEntry), 0);
    std::map<std::u16string, uint32_t> names;
    auto nameRef = [&](const ResourceKey& k) -> uint32_t {
        if (!k.isString) return k.id;
        auto it = names.find(k.name);
        if (it != names.end()) return it->second;
        auto offset = static_cast<uint32_t>(out.size());
        out.push_back(static_cast<uint8_t>(k.name.size()));
        out.push_back(static_cast<uint8_t>(k.name.size() >> 8));
        for (char16_t c : k.name) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
        names.emplace(k.name, kResourceNameIsString | offset);
        return kResourceNameIsString | offset;
    };
    std::vector<ResourceDirectoryEntry> entries;
    for (const Resource* r : sorted) {
        if (r->type.isString && r->type.name.size() > 0xFFFF) throw CompileError(r->origin + ": type name too long");
        if (r->name.isString && r->name.name.size() > 0xFFFF) throw CompileError(r->origin + ": name too long");
        ResourceDirectoryEntry e{};
        e.type = nameRef(r->type);
        e.name = nameRef(r->name);
        e.language = r->language;
        entries.push_back(e);
    }
    for (size_t i = 0; i < sorted.size(); ++i) {
        while (out.size() % kResourceDataAlignment) out.push_back(0);
        entries[i].dataOffset = static_cast<uint32_t>(out.size());
        entries[i].dataSize = static_cast<uint32_t>(sorted[i]->data.size());
        out.insert(out.end(), sorted[i]->data.begin(), sorted[i]->data.end());
    }
    while (out.size() % kResourceDataAlignment) out.push_back(0);
    if (out.size() > 0xFFFFFFF0u) throw CompileError("resources too large");

    ResourceDirectoryHeader h{};
    std::memcpy(h.magic, kResourceMagic, sizeof h.magic);
    h.entryCount = static_cast<uint32_t>(entries.size());
    h.totalSize = static_cast<uint32_t>(out.size());
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(out.data(), h.magic, 8);
    put32(8, h.entryCount);
    put32(12, h.totalSize);
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t at = sizeof(ResourceDirectoryHeader) + i * sizeof(ResourceDirectoryEntry);
        put32(at, entries[i].type);
        put32(at + 4, entries[i].name);
        out[at + 8] = static_cast<uint8_t>(entries[i].language);
        out[at + 9] = static_cast<uint8_t>(entries[i].language >> 8);
        put32(at + 12, entries[i].dataOffset);
        put32(at + 16, entries[i].dataSize);
    }
    return out;
}

std::string EmitSource(const std::vector<uint8_t>& directory, std::string_view comment) {
    std::string s;
    s += "// Generated by zqrc";
    if (!comment.empty()) s += " from " + std::string(comment);
    s += ". Do not edit.\n";
    s += "// The module's resource directory, found by the loader under this name.\n";
    s += "extern \"C\" {\n";
    s += "[[gnu::visibility(\"default\")]] extern const unsigned char ";
    s += kResourceDirectorySymbol;
    s += "[];\n";
    // In a section of its own, so that the version calls find it in the
    // module's file without loading the module.
    s += "[[gnu::used, gnu::section(\".zqrsrc\")]] alignas(16) const unsigned char ";
    s += kResourceDirectorySymbol;
    s += "[" + std::to_string(directory.size()) + "] = {";
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < directory.size(); ++i) {
        if (i % 16 == 0) s += "\n   ";
        s += " 0x";
        s += hex[directory[i] >> 4];
        s += hex[directory[i] & 15];
        s += ",";
    }
    s += "\n};\n}\n";
    return s;
}

}  // namespace zq::rc
