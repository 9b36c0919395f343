#include "base/lz.h"

#include <array>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "base/error.h"
#include "base/kernel_objects.h"

namespace zq {

namespace {

constexpr size_t kWindowSize = 4096;
constexpr size_t kWindowStart = 4096 - 16;
constexpr size_t kPiece = 64 * 1024;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Pulls input in pieces; the last piece may be short.
class Input {
public:
    explicit Input(std::function<long(uint8_t*, size_t)> read) : read_(std::move(read)) {}
    // -1 at the end of the input, -2 on a read error.
    int Next() {
        if (pos_ == size_) {
            if (eof_) return -1;
            long got = read_(buffer_.data(), buffer_.size());
            if (got < 0) return -2;
            if (got == 0) {
                eof_ = true;
                return -1;
            }
            size_ = static_cast<size_t>(got);
            pos_ = 0;
        }
        return buffer_[pos_++];
    }

private:
    std::function<long(uint8_t*, size_t)> read_;
    std::array<uint8_t, kPiece> buffer_{};
    size_t pos_ = 0, size_ = 0;
    bool eof_ = false;
};

// Expands the stream after the header. Answers the bytes written or an
// LZERROR; the expansion must give exactly `expected` bytes.
long ExpandStream(Input& in, uint32_t expected, const std::function<bool(const uint8_t*, size_t)>& write) {
    std::array<uint8_t, kWindowSize> window;
    window.fill(' ');
    size_t pos = kWindowStart;
    std::vector<uint8_t> out;
    out.reserve(kPiece);
    uint64_t total = 0;
    auto put = [&](uint8_t b) -> bool {
        window[pos] = b;
        pos = (pos + 1) & (kWindowSize - 1);
        out.push_back(b);
        if (++total > expected) return false;
        if (out.size() == kPiece) {
            if (!write(out.data(), out.size())) return false;
            out.clear();
        }
        return true;
    };
    for (;;) {
        int control = in.Next();
        if (control == -1) break;
        if (control == -2) return LZERROR_READ;
        for (int bit = 0; bit < 8; ++bit) {
            int first = in.Next();
            if (first == -1) goto done;  // the last control byte may govern fewer than eight items
            if (first == -2) return LZERROR_READ;
            if (control & (1 << bit)) {
                if (!put(static_cast<uint8_t>(first))) return total <= expected ? LZERROR_WRITE : LZERROR_READ;
                continue;
            }
            int second = in.Next();
            if (second < 0) return LZERROR_READ;  // a reference cut in half
            size_t from = static_cast<size_t>(first) | (static_cast<size_t>(second & 0xF0) << 4);
            int length = (second & 0x0F) + 3;
            for (int i = 0; i < length; ++i) {
                uint8_t b = window[(from + i) & (kWindowSize - 1)];
                if (!put(b)) return total <= expected ? LZERROR_WRITE : LZERROR_READ;
            }
        }
    }
done:
    if (total != expected) return LZERROR_READ;
    if (!out.empty() && !write(out.data(), out.size())) return LZERROR_WRITE;
    return static_cast<long>(total);
}

struct LzState {
    uint32_t expandedLength = 0;
};

std::mutex g_lzLock;
std::unordered_map<INT, LzState> g_lzFiles;

}  // namespace

bool ExpandSzdd(std::span<const uint8_t> image, std::vector<uint8_t>& out) {
    out.clear();
    if (image.size() < kSzddHeaderSize || std::memcmp(image.data(), kSzddMagic, sizeof kSzddMagic) != 0 ||
        image[8] != 'A')
        return false;
    uint32_t expected = ReadLe32(image.data() + 10);
    auto rest = image.subspan(kSzddHeaderSize);
    Input in([&](uint8_t* buffer, size_t size) -> long {
        size_t n = std::min(size, rest.size());
        std::memcpy(buffer, rest.data(), n);
        rest = rest.subspan(n);
        return static_cast<long>(n);
    });
    long result = ExpandStream(in, expected, [&](const uint8_t* p, size_t n) {
        out.insert(out.end(), p, p + n);
        return true;
    });
    if (result < 0) out.clear();
    return result >= 0;
}

}  // namespace zq

using namespace zq;

extern "C" {

INT LZOpenFileA(LPSTR fileName, OFSTRUCT* info, WORD style) {
    OFSTRUCT local{};
    // A file created for an expansion is written to, whatever access the
    // style names.
    if ((style & OF_CREATE) && !(style & (OF_WRITE | OF_READWRITE))) style |= OF_READWRITE;
    HFILE file = OpenFile(fileName, info ? info : &local, style);
    if (file == HFILE_ERROR) return LZERROR_BADINHANDLE;
    if ((style & (OF_WRITE | OF_READWRITE | OF_CREATE | OF_DELETE | OF_EXIST | OF_PARSE)) != 0) return file;
    uint8_t header[kSzddHeaderSize];
    UINT got = _lread(file, header, sizeof header);
    if (got == sizeof header && std::memcmp(header, kSzddMagic, sizeof kSzddMagic) == 0) {
        if (header[8] != 'A') {
            _lclose(file);
            return LZERROR_UNKNOWNALG;
        }
        std::lock_guard lock(g_lzLock);
        g_lzFiles[file] = LzState{ReadLe32(header + 10)};
        return file;
    }
    // Not compressed: start again from the beginning for a plain copy.
    _llseek(file, 0, FILE_BEGIN);
    return file;
}

LONG LZCopy(INT source, INT destination) {
    if (source < 0) return LZERROR_BADINHANDLE;
    if (destination < 0) return LZERROR_BADOUTHANDLE;
    std::optional<LzState> state;
    {
        std::lock_guard lock(g_lzLock);
        if (auto it = g_lzFiles.find(source); it != g_lzFiles.end()) state = it->second;
    }
    bool readHandleBad = false;
    auto read = [&](uint8_t* buffer, size_t size) -> long {
        UINT got = _lread(source, buffer, static_cast<UINT>(size));
        if (got == static_cast<UINT>(HFILE_ERROR)) {
            readHandleBad = GetLastError() == ERROR_INVALID_HANDLE;
            return -1;
        }
        return static_cast<long>(got);
    };
    bool writeHandleBad = false;
    auto write = [&](const uint8_t* p, size_t n) {
        UINT put = _lwrite(destination, reinterpret_cast<LPCSTR>(p), static_cast<UINT>(n));
        if (put != n) writeHandleBad = GetLastError() == ERROR_INVALID_HANDLE;
        return put == n;
    };
    long result;
    if (state) {
        Input in(read);
        result = ExpandStream(in, state->expandedLength, write);
    } else {
        std::vector<uint8_t> piece(kPiece);
        result = 0;
        for (;;) {
            long got = read(piece.data(), piece.size());
            if (got < 0) {
                result = LZERROR_READ;
                break;
            }
            if (got == 0) break;
            if (!write(piece.data(), static_cast<size_t>(got))) {
                result = LZERROR_WRITE;
                break;
            }
            result += got;
        }
    }
    if (readHandleBad) return LZERROR_BADINHANDLE;
    if (writeHandleBad) return LZERROR_BADOUTHANDLE;
    return result;
}

void LZClose(INT file) {
    {
        std::lock_guard lock(g_lzLock);
        g_lzFiles.erase(file);
    }
    if (file >= 0) _lclose(file);
}

}  // extern "C"
