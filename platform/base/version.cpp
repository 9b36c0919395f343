#include "base/version.h"

#include <cstring>
#include <string>

#include "base/error.h"
#include "base/files.h"
#include "base/resource_directory.h"
#include "base/resources.h"
#include "base/text.h"

namespace zq {

namespace {

// Files larger than this are not looked into.
constexpr uint64_t kMaxImage = 512u << 20;

uint16_t Le16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Le32(std::span<const uint8_t> b, size_t at) { return Le16(b, at) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16); }
uint64_t Le64(std::span<const uint8_t> b, size_t at) { return Le32(b, at) | (static_cast<uint64_t>(Le32(b, at + 4)) << 32); }

// The bytes of the section ".zqrsrc" of a 64-bit little-endian ELF file.
std::optional<std::span<const uint8_t>> ResourceSection(std::span<const uint8_t> image) {
    if (image.size() < 64 || std::memcmp(image.data(), "\x7F" "ELF", 4) != 0 || image[4] != 2 || image[5] != 1)
        return std::nullopt;
    uint64_t shoff = Le64(image, 0x28);
    uint16_t shentsize = Le16(image, 0x3A), shnum = Le16(image, 0x3C), shstrndx = Le16(image, 0x3E);
    if (shentsize < 64 || shstrndx >= shnum || shoff > image.size() ||
        static_cast<uint64_t>(shnum) * shentsize > image.size() - shoff)
        return std::nullopt;
    auto header = [&](size_t i) { return image.subspan(shoff + i * shentsize, 64); };
    auto strings = header(shstrndx);
    uint64_t stroff = Le64(strings, 0x18), strsize = Le64(strings, 0x20);
    if (stroff > image.size() || strsize > image.size() - stroff) return std::nullopt;
    static constexpr std::string_view kName = ".zqrsrc";
    for (size_t i = 0; i < shnum; ++i) {
        auto h = header(i);
        uint32_t name = Le32(h, 0);
        if (name >= strsize || strsize - name < kName.size() + 1) continue;
        if (std::memcmp(image.data() + stroff + name, kName.data(), kName.size() + 1) != 0) continue;
        uint64_t off = Le64(h, 0x18), size = Le64(h, 0x20);
        if (off > image.size() || size > image.size() - off) return std::nullopt;
        return image.subspan(off, size);
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> VersionOfDirectory(std::span<const uint8_t> dir) {
    if (!IsValidResourceDirectory(dir.data(), dir.size())) return std::nullopt;
    uint32_t count = Le32(dir, 8);
    std::optional<std::span<const uint8_t>> found;
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = sizeof(ResourceDirectoryHeader) + i * sizeof(ResourceDirectoryEntry);
        if (Le32(dir, at) != kRtVersion) continue;
        uint32_t off = Le32(dir, at + 12), size = Le32(dir, at + 16);
        found = dir.subspan(off, size);
        if (Le32(dir, at + 4) == 1) break;  // version 1 is the one Windows asks for
    }
    if (!found || found->size() < 6) return std::nullopt;
    uint16_t length = Le16(*found, 0);
    if (length < 6 || length > found->size()) return std::nullopt;
    return std::vector<uint8_t>(found->begin(), found->begin() + length);
}

std::optional<std::vector<uint8_t>> ReadImage(LPCSTR fileName) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
    std::optional<std::vector<uint8_t>> image;
    if (size <= kMaxImage) {
        image.emplace(size);
        size_t done = 0;
        while (done < size) {
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min<uint64_t>(size - done, 1u << 20));
            if (!ReadFile(file, image->data() + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        image->resize(done);
    }
    CloseHandle(file);
    return image;
}

std::optional<std::vector<uint8_t>> VersionOfFile(LPCSTR fileName) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    auto image = ReadImage(fileName);
    if (!image) return std::nullopt;  // CreateFile set the error
    auto block = VersionBlockOfImage(*image);
    if (!block) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return block;
}

// A node of the block: where it starts, its length, its value and children.
struct Node {
    size_t start = 0, end = 0;
    std::u16string key;
    size_t value = 0, valueBytes = 0;
    bool text = false;
    size_t children = 0;
};

size_t Align4(size_t x) { return (x + 3) & ~size_t{3}; }

std::optional<Node> ReadNode(std::span<const uint8_t> b, size_t at, size_t limit) {
    if (at + 6 > limit) return std::nullopt;
    Node n;
    n.start = at;
    uint16_t length = Le16(b, at), valueLength = Le16(b, at + 2);
    n.text = Le16(b, at + 4) == 1;
    if (length < 6 || at + length > limit) return std::nullopt;
    n.end = at + length;
    size_t p = at + 6;
    for (;;) {
        if (p + 2 > n.end) return std::nullopt;
        char16_t c = Le16(b, p);
        p += 2;
        if (!c) break;
        n.key.push_back(c);
    }
    n.value = Align4(p);
    n.valueBytes = n.text ? valueLength * size_t{2} : valueLength;
    if (n.value > n.end || n.valueBytes > n.end - n.value) {
        // A node without a value may end right after its key.
        if (valueLength) return std::nullopt;
        n.value = n.end;
    }
    n.children = std::min(Align4(n.value + n.valueBytes), n.end);
    return n;
}

}  // namespace

std::optional<std::vector<uint8_t>> VersionBlockOfImage(std::span<const uint8_t> image) {
    if (image.size() >= sizeof kResourceMagic && std::memcmp(image.data(), kResourceMagic, sizeof kResourceMagic) == 0)
        return VersionOfDirectory(image);
    if (auto section = ResourceSection(image)) return VersionOfDirectory(*section);
    return std::nullopt;
}

}  // namespace zq

using namespace zq;

extern "C" {

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
    if (handle) *handle = 0;
    auto block = VersionOfFile(fileName);
    if (!block) return 0;
    return static_cast<DWORD>(block->size() * 2);
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto block = VersionOfFile(fileName);
    if (!block) return FALSE;
    // A short buffer gets what fits, with the block's length cut to half of
    // it, so that the texts' ANSI forms still land inside the buffer.
    size_t n = std::min<size_t>(size, block->size() * 2);
    std::vector<uint8_t> full(block->size() * 2, 0);
    std::memcpy(full.data(), block->data(), block->size());
    if (n < full.size()) {
        if (n < 2) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        full[0] = static_cast<uint8_t>(n / 2);
        full[1] = static_cast<uint8_t>((n / 2) >> 8);
    }
    std::memcpy(data, full.data(), n);
    return TRUE;
}

BOOL VerQueryValueA(LPCVOID blockPtr, LPCSTR subBlock, LPVOID* buffer, UINT* length) {
    if (!blockPtr || !buffer || !subBlock) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* base = static_cast<const uint8_t*>(blockPtr);
    size_t blockLength = static_cast<size_t>(base[0] | (base[1] << 8));
    std::span<const uint8_t> b(base, blockLength);
    auto node = ReadNode(b, 0, blockLength);
    if (!node) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::string path(subBlock);
    size_t p = 0;
    while (p < path.size()) {
        while (p < path.size() && path[p] == '\\') ++p;
        if (p == path.size()) break;
        size_t q = path.find('\\', p);
        if (q == std::string::npos) q = path.size();
        std::u16string want = AnsiToWide(std::string_view(path).substr(p, q - p));
        p = q;
        std::optional<Node> next;
        for (size_t c = node->children; c < node->end;) {
            auto child = ReadNode(b, c, node->end);
            if (!child) break;
            if (EqualsIgnoreCase(child->key, want)) {
                next = child;
                break;
            }
            c = Align4(child->end);
        }
        if (!next) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return FALSE;
        }
        node = next;
    }
    if (!node->text) {
        *buffer = const_cast<uint8_t*>(base + node->value);
        if (length) *length = static_cast<UINT>(node->valueBytes);
        return TRUE;
    }
    // Texts: the ANSI form goes to the same offset in the second half.
    std::u16string text;
    for (size_t i = 0; i + 1 < node->valueBytes; i += 2) {
        char16_t c = Le16(b, node->value + i);
        if (!c) break;
        text.push_back(c);
    }
    if (node->valueBytes == 0) {
        // An empty text: its terminator goes where the node's head lies in
        // the second half, which no text's ANSI form uses.
        auto* out = const_cast<uint8_t*>(base + blockLength + node->start);
        *out = 0;
        *buffer = out;
        if (length) *length = 1;
        return TRUE;
    }
    std::string ansi = WideToAnsi(text);
    if (ansi.size() + 1 > node->valueBytes) ansi.resize(node->valueBytes - 1);
    auto* out = const_cast<uint8_t*>(base + blockLength + node->value);
    std::memcpy(out, ansi.data(), ansi.size());
    out[ansi.size()] = 0;
    *buffer = out;
    if (length) *length = static_cast<UINT>(ansi.size() + 1);
    return TRUE;
}

}  // extern "C"
