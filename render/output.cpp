#include "render/output.h"

#include <algorithm>
#include <cstring>

namespace pclrend {

bool AllocateBuffers(DeviceRecord& r, bool withDeferred) {
    r.mainBuffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
    r.scratchBuffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (withDeferred) r.deferredBuffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
    r.mainFill = r.deferredFill = 0;
    return r.mainBuffer && r.scratchBuffer && (!withDeferred || r.deferredBuffer);
}

namespace {

// Drains one buffer into the sink. A piece that writes nothing or writes
// short ends the document: the printer would otherwise get a job with a hole.
uint32_t DrainBuffer(DeviceRecord& r, const uint8_t* data, uint32_t& fill) {
    const uint32_t total = fill;
    fill = 0;
    if (total == 0 || r.jobState < kJobOpen || !r.sink) return 0;
    uint32_t done = 0;
    while (done < total) {
        const uint32_t piece = std::min(kPieceSize, total - done);
        const uint32_t wrote = r.sink->Write(data + done, piece);
        done += std::min(wrote, piece);
        if (wrote != piece) break;
    }
    if (done != total) {
        r.jobState = kJobIdle;
        r.documentLost = true;
        return 0;
    }
    return done;
}

}  // namespace

uint32_t SpoolFlush(DeviceRecord& r) {
    if (!r.mainBuffer) return 0;
    return DrainBuffer(r, r.mainBuffer.get(), r.mainFill);
}

void DeferredFlush(DeviceRecord& r) {
    SpoolFlush(r);
    if (r.deferredBuffer) DrainBuffer(r, r.deferredBuffer.get(), r.deferredFill);
    r.symbolSetResource = 0;
}

void SpoolWrite(DeviceRecord& r, const void* bytes, int32_t length) {
    if (r.jobState < kJobOpen || length <= 0) return;
    // One append is at most kMaxAppend bytes: a longer one goes as several,
    // never cut.
    const auto* data = static_cast<const uint8_t*>(bytes);
    while (length > kMaxAppend) {
        SpoolWrite(r, data, kMaxAppend);
        data += kMaxAppend;
        length -= kMaxAppend;
    }
    bytes = data;
    const bool deferred = r.deferredActive && r.deferredBuffer;
    uint8_t* buffer = deferred ? r.deferredBuffer.get() : r.mainBuffer.get();
    if (!buffer) return;
    uint32_t& fill = deferred ? r.deferredFill : r.mainFill;
    bool flushedDeferred = false;
    if (fill + static_cast<uint32_t>(length) >= kBufferSize) {
        if (deferred) {
            DeferredFlush(r);
            flushedDeferred = true;
        } else {
            SpoolFlush(r);
        }
        if (r.jobState < kJobOpen) return;
    }
    std::memcpy(buffer + fill, bytes, static_cast<size_t>(length));
    fill += static_cast<uint32_t>(length);
    if (flushedDeferred) DeferredFlush(r);
}

namespace {

struct Writer {
    std::span<char> out;
    size_t n = 0;
    void Put(char c) {
        if (n + 1 < out.size()) out[n++] = c;
    }
    void Put(std::string_view s) {
        for (char c : s) Put(c);
    }
    void Unsigned(uint32_t v, unsigned base) {
        char digits[12];
        int k = 0;
        do {
            digits[k++] = "0123456789ABCDEF"[v % base];
            v /= base;
        } while (v);
        while (k) Put(digits[--k]);
    }
    void Signed(int32_t v) {
        if (v < 0) {
            Put('-');
            Unsigned(0u - static_cast<uint32_t>(v), 10);
        } else {
            Unsigned(static_cast<uint32_t>(v), 10);
        }
    }
    // Signed 24.8 fixed point with up to three decimals, trailing zeros cut.
    void Fixed(uint32_t raw) {
        const int32_t v = static_cast<int32_t>(raw);
        const uint32_t mag = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        if (v < 0) Put('-');
        Unsigned(mag >> 8, 10);
        const uint32_t frac = mag & 0xFF;
        if (!frac) return;
        uint32_t thousandths = (frac * 100000 / 256 + 50) / 100;
        if (thousandths >= 1000) thousandths = 999;
        char d[3] = {static_cast<char>('0' + thousandths / 100), static_cast<char>('0' + thousandths / 10 % 10),
                     static_cast<char>('0' + thousandths % 10)};
        int len = 3;
        while (len > 0 && d[len - 1] == '0') --len;
        if (!len) return;
        Put('.');
        for (int i = 0; i < len; ++i) Put(d[i]);
    }
    size_t Finish() {
        if (!out.empty()) out[std::min(n, out.size() - 1)] = '\0';
        return n;
    }
};

}  // namespace

size_t FormatCommand(std::span<char> out, std::string_view format, std::initializer_list<FmtArg> args) {
    Writer w{out};
    auto next = args.begin();
    auto take = [&]() -> FmtArg {
        if (next == args.end()) return FmtArg(0u);
        return *next++;
    };
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            w.Put(c);
            continue;
        }
        if (++i >= format.size()) break;  // "%" at the end prints nothing
        switch (format[i]) {
        case 'd':
        case 'l': w.Signed(static_cast<int32_t>(take().value)); break;
        case 'u': w.Unsigned(take().value, 10); break;
        case 'x':
        case 'X': w.Unsigned(take().value, 16); break;
        case 'f': w.Fixed(take().value); break;
        case 'b': w.Put(take().value ? "true" : "false"); break;
        case 'c': w.Put(static_cast<char>(take().value)); break;
        case 's': {
            const FmtArg a = take();
            if (a.text) w.Put(std::string_view(a.text));
            break;
        }
        default: w.Put(format[i]); break;
        }
    }
    return w.Finish();
}

void SpoolFormat(DeviceRecord& r, std::string_view format, std::initializer_list<FmtArg> args) {
    char buffer[512];
    const size_t n = FormatCommand(buffer, format, args);
    SpoolWrite(r, buffer, static_cast<int32_t>(n));
}

size_t PclEscape(std::span<char> out, char group, char parameter, char terminator, int32_t value) {
    Writer w{out};
    w.Put('\x1b');
    w.Put(group);
    w.Put(parameter);
    w.Signed(value);
    w.Put(terminator);
    return w.Finish();
}

size_t PclEscapeUnsigned(std::span<char> out, char group, char parameter, char terminator, uint32_t value) {
    Writer w{out};
    w.Put('\x1b');
    w.Put(group);
    w.Put(parameter);
    w.Unsigned(value, 10);
    w.Put(terminator);
    return w.Finish();
}

void SendEscape(DeviceRecord& r, char group, char parameter, char terminator, int32_t value) {
    char buffer[32];
    const size_t n = PclEscape(buffer, group, parameter, terminator, value);
    SpoolWrite(r, buffer, static_cast<int32_t>(n));
}

size_t SizeText(std::span<char> out, int32_t hundredths) {
    Writer w{out};
    w.Signed(hundredths / 100);
    w.Put('.');
    const int32_t rest = (hundredths < 0 ? -hundredths : hundredths) % 100;
    w.Put(static_cast<char>('0' + rest / 10));
    w.Put(static_cast<char>('0' + rest % 10));
    return w.Finish();
}

namespace {

// In PCL a value with a sign is a relative move, so a negative absolute
// target is reached by a move to 0 followed by the relative step.
void MoveTo(DeviceRecord& r, int32_t target, int16_t& cache, char terminator) {
    const int16_t value = static_cast<int16_t>(target);
    if (cache == value && cache != -1) return;
    if (value < 0) SendEscape(r, '*', 'p', terminator, 0);
    SendEscape(r, '*', 'p', terminator, value);
    cache = value;
}

}  // namespace

void MoveToX(DeviceRecord& r, int32_t x) { MoveTo(r, x, r.cursorX, 'X'); }
void MoveToY(DeviceRecord& r, int32_t y) { MoveTo(r, y, r.cursorY, 'Y'); }

int32_t MapX(const DeviceRecord& r, int32_t x) {
    if (!PageIsMapped(r) || r.PageWidth() == 0) return x;
    const int64_t origin = r.currentCell ? r.currentCell->left : 0;
    return static_cast<int32_t>(static_cast<int64_t>(x) * r.drawnWidth / r.PageWidth() + origin);
}

int32_t MapY(const DeviceRecord& r, int32_t y) {
    if (!PageIsMapped(r) || r.PageHeight() == 0) return y;
    const int64_t origin = r.currentCell ? r.currentCell->top : 0;
    return static_cast<int32_t>(static_cast<int64_t>(y) * r.drawnHeight / r.PageHeight() + origin);
}

void MoveToXMapped(DeviceRecord& r, int32_t x) { MoveToX(r, MapX(r, x)); }
void MoveToYMapped(DeviceRecord& r, int32_t y) { MoveToY(r, MapY(r, y)); }

}  // namespace pclrend
