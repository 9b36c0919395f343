// Output buffers and command formatting: every byte of a PCL job leaves
// through SpoolWrite, into a 64 KB buffer handed to the sink in pieces of at
// most 2048 bytes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "render/device_record.h"

namespace pclrend {

constexpr uint32_t kPieceSize = 2048;   // largest single WritePrinter of the PCL job
constexpr int32_t kMaxAppend = 32767;   // one append's length is a signed 16-bit count

// Gives the record its buffers (main and scratch always, deferred when asked).
bool AllocateBuffers(DeviceRecord& r, bool withDeferred);

// Appends to the deferred buffer while `deferredActive` is set, else to the
// main buffer; dropped while no document is open (or after a failed write).
void SpoolWrite(DeviceRecord& r, const void* bytes, int32_t length);
inline void SpoolWrite(DeviceRecord& r, std::string_view text) {
    SpoolWrite(r, text.data(), static_cast<int32_t>(text.size()));
}

// Writes the main buffer; returns the bytes written (0 on failure, which
// marks the document lost).
uint32_t SpoolFlush(DeviceRecord& r);

// Writes the main buffer, then the deferred one.
void DeferredFlush(DeviceRecord& r);

// One argument of FormatCommand: a 32-bit value or a narrow text.
struct FmtArg {
    FmtArg(int32_t v) : value(static_cast<uint32_t>(v)) {}
    FmtArg(uint32_t v) : value(v) {}
    FmtArg(const char* s) : text(s) {}
    uint32_t value = 0;
    const char* text = nullptr;
};

// Formats into `out` (always NUL-terminated, cut to fit) and returns the
// length without the NUL. Conversions: %d %l %u %x %X %f (24.8 fixed point)
// %b %c %s and %% ; each takes one argument.
size_t FormatCommand(std::span<char> out, std::string_view format, std::initializer_list<FmtArg> args);

// FormatCommand into a stack buffer, then SpoolWrite.
void SpoolFormat(DeviceRecord& r, std::string_view format, std::initializer_list<FmtArg> args);

// ESC, group, parameter, the value in decimal, terminator: ESC*p120X.
size_t PclEscape(std::span<char> out, char group, char parameter, char terminator, int32_t value);
size_t PclEscapeUnsigned(std::span<char> out, char group, char parameter, char terminator, uint32_t value);
void SendEscape(DeviceRecord& r, char group, char parameter, char terminator, int32_t value);

// Fixed-point size text: 1205 -> "12.05".
size_t SizeText(std::span<char> out, int32_t hundredths);

// Absolute cursor moves in dots; a move to where the cursor already is sends
// nothing. The mapped variants place page coordinates into the n-up cell.
void MoveToX(DeviceRecord& r, int32_t x);
void MoveToY(DeviceRecord& r, int32_t y);
void MoveToXMapped(DeviceRecord& r, int32_t x);
void MoveToYMapped(DeviceRecord& r, int32_t y);
int32_t MapX(const DeviceRecord& r, int32_t x);
int32_t MapY(const DeviceRecord& r, int32_t y);

}  // namespace pclrend
