// Time: tick counts, wall time and Sleep behind a replaceable clock, so that
// a test installs a fake clock and nothing it runs ever waits.
#pragma once

#include <cstdint>
#include <mutex>

#include "base/types.h"

extern "C" {

void Sleep(DWORD milliseconds);
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTimeAsFileTime(FILETIME* time);
// FALSE with ERROR_INVALID_PARAMETER for a time out of range or a field out
// of its range (wDayOfWeek is ignored on input and computed on output).
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

}  // extern "C"

namespace zq {

// 100-ns intervals from 1601-01-01 to 1970-01-01 (both UTC).
constexpr int64_t kFileTimeOfUnixEpoch = 116444736000000000;

inline int64_t FileTimeValue(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}
inline FILETIME MakeFileTime(int64_t value) {
    const auto v = static_cast<uint64_t>(value);
    return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

// What the time calls read. Wall times are FILETIME values (UTC).
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t TickMilliseconds() = 0;
    virtual int64_t UtcNow() = 0;
    // Local time minus UTC at the given UTC time, in minutes.
    virtual int32_t UtcOffsetMinutes(int64_t utc) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The machine's clocks; Sleep really waits.
Clock& RealClock();

// A clock that moves only when told to, or when someone sleeps on it: Sleep
// returns at once and moves both the tick count and the wall time on.
class FakeClock : public Clock {
public:
    // Starts at the given UTC time (default 2001-01-01 00:00:00) and tick
    // count, with a fixed offset of local time from UTC.
    explicit FakeClock(int64_t utc = 126227808000000000, uint64_t ticks = 1000, int32_t utcOffsetMinutes = 0);

    uint64_t TickMilliseconds() override;
    int64_t UtcNow() override;
    int32_t UtcOffsetMinutes(int64_t utc) override;
    void Sleep(uint32_t milliseconds) override;

    void Advance(uint64_t milliseconds);
    void SetUtc(int64_t utc);
    // Total time slept on this clock and the number of Sleep calls.
    uint64_t SleptMilliseconds() const;
    uint64_t SleepCalls() const;

private:
    mutable std::mutex lock_;
    int64_t utc_;
    uint64_t ticks_;
    int32_t offset_;
    uint64_t slept_ = 0;
    uint64_t sleeps_ = 0;
};

// The clock in use.
Clock& CurrentClock();

// Installs a clock for a scope and puts the previous one back.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};

// Seconds since 1970-01-01 UTC, as the C runtime's time() answers, from the
// clock in use.
int64_t UnixTime();

}  // namespace zq
