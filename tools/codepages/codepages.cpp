// Writes the conversion tables of the supported code pages as a C++ source
// (the data of base/code_page_data.h), from the system's converters (iconv).
//
// Usage: codepages OUTPUT.cpp
#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/code_page_data.h"

namespace {

struct Page {
    uint32_t codePage;
    std::string iconvName;
    bool doubleByte;
};

std::vector<Page> SupportedPages() {
    std::vector<Page> pages;
    for (uint32_t cp : {437, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864, 865, 866, 869, 874, 1250, 1251,
                        1252, 1253, 1254, 1255, 1256, 1257, 1258})
        pages.push_back({cp, "CP" + std::to_string(cp), false});
    for (uint32_t cp : {932, 936, 949, 950}) pages.push_back({cp, "CP" + std::to_string(cp), true});
    pages.push_back({1361, "JOHAB", true});
    pages.push_back({10000, "MACINTOSH", false});
    pages.push_back({20866, "KOI8-R", false});
    pages.push_back({21866, "KOI8-U", false});
    for (uint32_t part = 1; part <= 9; ++part) pages.push_back({28590 + part, "ISO-8859-" + std::to_string(part), false});
    pages.push_back({28603, "ISO-8859-13", false});
    pages.push_back({28605, "ISO-8859-15", false});
    return pages;
}

// Converts one short sequence: the UTF-16 units, or the errno.
struct Probe {
    int error = 0;
    size_t consumed = 0;
    std::array<char16_t, 4> out{};
    size_t count = 0;
};

Probe Convert(iconv_t cd, const char* in, size_t inSize) {
    Probe p;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inSize;
    char outBytes[8];
    char* outPtr = outBytes;
    size_t outLeft = sizeof outBytes;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) p.error = errno;
    // Code pages with combining marks (Hebrew, Vietnamese) hold a letter back
    // until they know no mark follows: flushed, it comes out.
    if (p.error == 0) iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    p.consumed = inSize - inLeft;
    p.count = (sizeof outBytes - outLeft) / 2;
    for (size_t i = 0; i < p.count; ++i)
        p.out[i] = static_cast<char16_t>(static_cast<uint8_t>(outBytes[2 * i]) |
                                         (static_cast<uint8_t>(outBytes[2 * i + 1]) << 8));
    return p;
}

// C1 controls below 0xA0 (as the Western code page has them), private-use
// characters above.
char16_t UndefinedByteCharacter(uint8_t b) { return b < 0xA0 ? b : static_cast<char16_t>(0xF700 + b); }

struct Tables {
    std::vector<char16_t> single = std::vector<char16_t>(256, 0);
    std::vector<uint8_t> leads;
    std::vector<char16_t> rows;
    std::vector<char16_t> encodeChars;
    std::vector<uint16_t> encodeCodes;
};

bool Build(const Page& page, Tables& t) {
    iconv_t toWide = iconv_open("UTF-16LE", page.iconvName.c_str());
    if (toWide == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_t fromWide = iconv_open(page.iconvName.c_str(), "UTF-16LE");
    if (fromWide == reinterpret_cast<iconv_t>(-1)) {
        iconv_close(toWide);
        return false;
    }
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const Probe p = Convert(toWide, &byte, 1);
        if (p.error == 0 && p.count == 1)
            t.single[b] = p.out[0];
        else if (p.error == EINVAL && page.doubleByte)
            t.leads.push_back(static_cast<uint8_t>(b));
        else
            t.single[b] = UndefinedByteCharacter(static_cast<uint8_t>(b));
    }
    t.rows.assign(t.leads.size() * 256, 0);
    std::vector<bool> validPair(0x10000, false);
    for (size_t i = 0; i < t.leads.size(); ++i) {
        const int lead = t.leads[i];
        if (lead < 0x80) continue;
        for (int trail = 1; trail < 256; ++trail) {
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const Probe p = Convert(toWide, pair, 2);
            if (p.error == 0 && p.count == 1 && p.consumed == 2 && p.out[0] != 0) {
                t.rows[i * 256 + trail] = p.out[0];
                validPair[(lead << 8) | trail] = true;
            }
        }
    }
    // What inverting the decoding gives, then where the converter prefers
    // other bytes: its own encoding of a character wins when it decodes back.
    const zq::CodePageData inverted{page.codePage, t.single.data(), t.leads.data(),
                                    static_cast<uint32_t>(t.leads.size()), t.rows.data(), nullptr, nullptr, 0};
    std::vector<uint16_t> reverse(0x10000);
    zq::BuildEncoding(inverted, reverse.data());
    for (uint32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;
        const char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        iconv(fromWide, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in);
        size_t inLeft = 2;
        char out[4];
        char* outPtr = out;
        size_t outLeft = sizeof out;
        if (iconv(fromWide, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) continue;
        const size_t n = sizeof out - outLeft;
        uint16_t code = zq::kUnmappedCode;
        if (n == 1) {
            code = static_cast<uint8_t>(out[0]);
        } else if (n == 2 && page.doubleByte) {
            const uint16_t pair = static_cast<uint16_t>((static_cast<uint8_t>(out[0]) << 8) | static_cast<uint8_t>(out[1]));
            if (validPair[pair]) code = pair;
        }
        if (code != zq::kUnmappedCode && code != reverse[c]) {
            t.encodeChars.push_back(static_cast<char16_t>(c));
            t.encodeCodes.push_back(code);
        }
    }
    iconv_close(toWide);
    iconv_close(fromWide);
    return true;
}

template <class T>
void WriteArray(FILE* f, const char* type, const std::string& name, const std::vector<T>& values) {
    std::fprintf(f, "const %s %s[] = {", type, name.c_str());
    for (size_t i = 0; i < values.size(); ++i)
        std::fprintf(f, "%s0x%X,", i % 16 == 0 ? "\n    " : "", static_cast<unsigned>(values[i]));
    if (values.empty()) std::fprintf(f, "0");
    std::fprintf(f, "\n};\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: codepages OUTPUT.cpp\n"
                     "Writes the conversion tables of the supported code pages, read from the\n"
                     "system's converters (iconv), as a C++ source. A code page the system has no\n"
                     "converter for is left out (and then not supported).\n");
        return argc == 2 ? 0 : 2;
    }
    const std::string path = argv[1];
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) {
        std::perror(temp.c_str());
        return 1;
    }
    std::fprintf(f, "// Written by tools/codepages from the system's converters; do not edit.\n"
                    "#include \"base/code_page_data.h\"\n\nnamespace zq {\nnamespace {\n\n");
    std::string entries;
    size_t count = 0;
    for (const Page& page : SupportedPages()) {
        Tables t;
        if (!Build(page, t)) {
            std::fprintf(stderr, "codepages: iconv has no %s; code page %u left out\n", page.iconvName.c_str(),
                         static_cast<unsigned>(page.codePage));
            continue;
        }
        const std::string id = std::to_string(page.codePage);
        WriteArray(f, "char16_t", "kSingle" + id, t.single);
        WriteArray(f, "uint8_t", "kLeads" + id, t.leads);
        WriteArray(f, "char16_t", "kRows" + id, t.rows);
        WriteArray(f, "char16_t", "kEncodeChars" + id, t.encodeChars);
        WriteArray(f, "uint16_t", "kEncodeCodes" + id, t.encodeCodes);
        std::fprintf(f, "\n");
        entries += "    {" + id + ", kSingle" + id + ", kLeads" + id + ", " + std::to_string(t.leads.size()) +
                   ", kRows" + id + ", kEncodeChars" + id + ", kEncodeCodes" + id + ", " +
                   std::to_string(t.encodeChars.size()) + "},\n";
        ++count;
    }
    std::fprintf(f, "}  // namespace\n\nconst CodePageData kCodePageData[] = {\n%s};\nconst size_t kCodePageDataCount = %zu;\n\n"
                    "}  // namespace zq\n",
                 entries.c_str(), count);
    if (std::fclose(f) != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}
