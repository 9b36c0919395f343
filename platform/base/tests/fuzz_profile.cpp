// INI files of arbitrary bytes: every section and key the reader lists can be
// read, and setting one key changes no other value.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/profile.h"
#include "base/root.h"
#include "base/text.h"
#include "testing/temp_root.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Root() {
    static const fs::path& root = []() -> const fs::path& {
        const fs::path& dir = zq::testing::ProcessTempDirectory("zqfuzz");
        fs::create_directories(dir / "c" / "windows");
        // Each input replaces the file a few times; none need survive a crash.
        zq::SetDurableWrites(false);
        return dir;
    }();
    return root;
}

constexpr DWORD kSize = 1 << 16;

// Named in full, in the spelling the root's folders have on disk: a bare
// name resolves under C:\WINDOWS, whose folder is "windows", and each read
// would list the drive's folder to match it ignoring case; the reader under
// test is the same either way.
constexpr const char16_t* kFile = u"C:\\windows\\fuzz.ini";

std::vector<std::u16string> Split(const std::u16string& list) {
    std::vector<std::u16string> out;
    for (size_t at = 0; at < list.size() && list[at];) {
        const size_t end = list.find(u'\0', at);
        out.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// The file's size in bytes as the input wrote it: no answer is longer (in
// characters) than the file's text and its closing NULs, and the one key
// written adds a line or two.
size_t g_fileBytes = 0;

// Reads into a small buffer first, and when the answer is cut (size - 1 for
// a value, size - 2 for a list) into one as large as the file allows, then
// doubling: most answers are short, and a long one costs one more parse of
// the file rather than one per doubling. A full-size buffer on every read
// would cost more than the reading.
template <class Call>
std::u16string ReadGrowing(bool list, Call call) {
    const DWORD whole = static_cast<DWORD>(std::min<size_t>(g_fileBytes + 64, kSize));
    for (DWORD size = 256;; size = std::min(std::max(size * 2, whole), kSize)) {
        std::u16string buf(size, u'\0');
        const DWORD n = call(buf.data(), size);
        if (n + (list ? 2 : 1) < size || size >= kSize) {
            buf.resize(list ? n + 1 : n);
            return buf;
        }
    }
}

std::u16string Read(const char16_t* section, const char16_t* key) {
    return ReadGrowing(!(section && key), [&](char16_t* buf, DWORD size) {
        return GetPrivateProfileStringW(section, key, u"\x1F", buf, size, kFile);
    });
}

// A section's "key=value" lines, read whole.
std::vector<std::u16string> SectionLines(const std::u16string& section) {
    return Split(ReadGrowing(true, [&](char16_t* buf, DWORD size) {
        return GetPrivateProfileSectionW(section.c_str(), buf, size, kFile);
    }));
}

std::u16string_view TrimBlanks(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    return s;
}

// The lines without those of `key` (compared as the reader compares names).
std::vector<std::u16string> Without(std::vector<std::u16string> lines, std::u16string_view key) {
    std::erase_if(lines, [&](const std::u16string& line) {
        const std::u16string_view name = std::u16string_view(line).substr(0, line.find(u'='));
        return zq::EqualsIgnoreCase(TrimBlanks(name), key);
    });
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zq::SetSystemRoot(Root());
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // Names with NUL in them cannot be asked for through the C interface.
    const bool wide = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    for (size_t i = wide ? 2 : 0; i < bytes.size(); i += wide ? 2 : 1)
        if (bytes[i] == 0 && (!wide || (i + 1 < bytes.size() && bytes[i + 1] == 0))) bytes[i] = ' ';
    std::ofstream(Root() / "c" / "windows" / "fuzz.ini", std::ios::binary | std::ios::trunc) << bytes;
    g_fileBytes = bytes.size();

    // Every read parses the file again: whole sections (a sample of the
    // first few) and a few single keys keep each input cheap and still
    // catch a write that disturbs its neighbours.
    struct Entry {
        std::u16string section, key, value;
    };
    const auto sections = Split(Read(nullptr, nullptr));
    std::vector<std::vector<std::u16string>> before;
    std::vector<Entry> entries;
    for (size_t s = 0; s < sections.size() && s < 4; ++s) {
        before.push_back(SectionLines(sections[s]));
        if (entries.size() < 4)
            for (const auto& key : Split(Read(sections[s].c_str(), nullptr))) {
                if (entries.size() >= 4) break;
                entries.push_back({sections[s], key, Read(sections[s].c_str(), key.c_str())});
            }
    }
    const std::u16string target = sections.empty() ? u"ZqFuzz" : sections[0];
    if (!WritePrivateProfileStringW(target.c_str(), u"ZqFuzzKey", u"set", kFile)) return 0;
    if (Read(target.c_str(), u"ZqFuzzKey") != u"set") std::abort();
    for (const auto& e : entries) {
        if (zq::EqualsIgnoreCase(e.key, u"ZqFuzzKey") && zq::EqualsIgnoreCase(e.section, target)) continue;
        if (Read(e.section.c_str(), e.key.c_str()) != e.value) std::abort();
    }
    for (size_t s = 0; s < before.size(); ++s) {
        const bool written = zq::EqualsIgnoreCase(sections[s], target);
        auto after = SectionLines(sections[s]);
        if (written ? Without(after, u"ZqFuzzKey") != Without(before[s], u"ZqFuzzKey") : after != before[s]) std::abort();
    }
    return 0;
}
