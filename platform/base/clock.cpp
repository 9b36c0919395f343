#include "base/clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

#include "base/error.h"

namespace zq {

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;

class MachineClock : public Clock {
public:
    uint64_t TickMilliseconds() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
    }
    int64_t UtcNow() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return kFileTimeOfUnixEpoch + static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 100;
    }
    int32_t UtcOffsetMinutes(int64_t utc) override {
        const time_t t = static_cast<time_t>((utc - kFileTimeOfUnixEpoch) / kTicksPerSecond);
        tm local{};
        if (!localtime_r(&t, &local)) return 0;
        return static_cast<int32_t>(local.tm_gmtoff / 60);
    }
    void Sleep(uint32_t milliseconds) override {
        timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
};

std::atomic<Clock*> g_clock{nullptr};

// Days from 1601-01-01 to a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t fromUnixEpoch = era * 146097 + static_cast<int64_t>(doe) - 719468;
    return fromUnixEpoch + 134774;  // 1601-01-01 to 1970-01-01
}

void CivilFromDays(int64_t days1601, int64_t& y, unsigned& m, unsigned& d) {
    const int64_t z = days1601 - 134774 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool ToSystemTime(int64_t value, SYSTEMTIME& st) {
    if (value < 0) return false;
    const int64_t days = value / kTicksPerDay;
    int64_t rest = value % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    if (y > 30827) return false;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st.wHour = static_cast<WORD>(rest / (kTicksPerSecond * 3600));
    rest %= kTicksPerSecond * 3600;
    st.wMinute = static_cast<WORD>(rest / (kTicksPerSecond * 60));
    rest %= kTicksPerSecond * 60;
    st.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
    rest %= kTicksPerSecond;
    st.wMilliseconds = static_cast<WORD>(rest / kTicksPerMillisecond);
    return true;
}

bool FromSystemTime(const SYSTEMTIME& st, int64_t& value) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
        st.wMilliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay);
    value = days * kTicksPerDay + ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
            st.wMilliseconds * kTicksPerMillisecond;
    return true;
}

}  // namespace

Clock& RealClock() {
    static MachineClock clock;
    return clock;
}

Clock& CurrentClock() {
    Clock* c = g_clock.load();
    return c ? *c : RealClock();
}

ScopedClock::ScopedClock(Clock& clock) : previous_(g_clock.exchange(&clock)) {}
ScopedClock::~ScopedClock() { g_clock.store(previous_); }

FakeClock::FakeClock(int64_t utc, uint64_t ticks, int32_t utcOffsetMinutes)
    : utc_(utc), ticks_(ticks), offset_(utcOffsetMinutes) {}

uint64_t FakeClock::TickMilliseconds() {
    std::lock_guard lock(lock_);
    return ticks_;
}
int64_t FakeClock::UtcNow() {
    std::lock_guard lock(lock_);
    return utc_;
}
int32_t FakeClock::UtcOffsetMinutes(int64_t) {
    std::lock_guard lock(lock_);
    return offset_;
}
void FakeClock::Sleep(uint32_t milliseconds) {
    std::lock_guard lock(lock_);
    ticks_ += milliseconds;
    utc_ += static_cast<int64_t>(milliseconds) * kTicksPerMillisecond;
    slept_ += milliseconds;
    ++sleeps_;
}
void FakeClock::Advance(uint64_t milliseconds) {
    std::lock_guard lock(lock_);
    ticks_ += milliseconds;
    utc_ += static_cast<int64_t>(milliseconds) * kTicksPerMillisecond;
}
void FakeClock::SetUtc(int64_t utc) {
    std::lock_guard lock(lock_);
    utc_ = utc;
}
uint64_t FakeClock::SleptMilliseconds() const {
    std::lock_guard lock(lock_);
    return slept_;
}
uint64_t FakeClock::SleepCalls() const {
    std::lock_guard lock(lock_);
    return sleeps_;
}

int64_t UnixTime() {
    const int64_t utc = CurrentClock().UtcNow();
    const int64_t seconds = (utc - kFileTimeOfUnixEpoch) / kTicksPerSecond;
    return utc < kFileTimeOfUnixEpoch && (utc - kFileTimeOfUnixEpoch) % kTicksPerSecond ? seconds - 1 : seconds;
}

}  // namespace zq

extern "C" void Sleep(DWORD milliseconds) { zq::CurrentClock().Sleep(milliseconds); }
extern "C" DWORD GetTickCount() { return static_cast<DWORD>(zq::CurrentClock().TickMilliseconds()); }
extern "C" ULONGLONG GetTickCount64() { return zq::CurrentClock().TickMilliseconds(); }

extern "C" void GetSystemTimeAsFileTime(FILETIME* time) {
    if (time) *time = zq::MakeFileTime(zq::CurrentClock().UtcNow());
}

extern "C" void GetSystemTime(SYSTEMTIME* time) {
    if (!time) return;
    *time = SYSTEMTIME{};
    zq::ToSystemTime(zq::CurrentClock().UtcNow(), *time);
}

extern "C" void GetLocalTime(SYSTEMTIME* time) {
    if (!time) return;
    zq::Clock& clock = zq::CurrentClock();
    const int64_t utc = clock.UtcNow();
    *time = SYSTEMTIME{};
    zq::ToSystemTime(utc + static_cast<int64_t>(clock.UtcOffsetMinutes(utc)) * 60 * zq::kTicksPerSecond, *time);
}

extern "C" BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
    if (!fileTime || !systemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SYSTEMTIME st{};
    if (!zq::ToSystemTime(zq::FileTimeValue(*fileTime), st)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *systemTime = st;
    return TRUE;
}

extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) {
    int64_t value = 0;
    if (!systemTime || !fileTime || !zq::FromSystemTime(*systemTime, value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fileTime = zq::MakeFileTime(value);
    return TRUE;
}

extern "C" BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (!utc || !local) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t v = zq::FileTimeValue(*utc);
    *local = zq::MakeFileTime(v + static_cast<int64_t>(zq::CurrentClock().UtcOffsetMinutes(v)) * 60 *
                                      zq::kTicksPerSecond);
    return TRUE;
}

extern "C" BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
    if (!utc || !local) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t v = zq::FileTimeValue(*local);
    // The offset in force at about that time; exact except within the hour
    // around a daylight-saving change.
    *utc = zq::MakeFileTime(v - static_cast<int64_t>(zq::CurrentClock().UtcOffsetMinutes(v)) * 60 *
                                    zq::kTicksPerSecond);
    return TRUE;
}

extern "C" LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
    if (!a || !b) return 0;
    const auto x = static_cast<uint64_t>(zq::FileTimeValue(*a));
    const auto y = static_cast<uint64_t>(zq::FileTimeValue(*b));
    return x < y ? -1 : x > y ? 1 : 0;
}
