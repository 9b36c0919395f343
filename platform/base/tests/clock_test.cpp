#include <gtest/gtest.h>

#include "base/clock.h"
#include "base/error.h"

namespace {

TEST(Clock, FakeClockMakesSleepInstant) {
    zq::FakeClock fake;
    zq::ScopedClock scope(fake);
    const DWORD t0 = GetTickCount();
    FILETIME f0;
    GetSystemTimeAsFileTime(&f0);
    Sleep(2000);  // the finishing library's poll interval
    Sleep(500);
    EXPECT_EQ(GetTickCount() - t0, 2500u);
    EXPECT_EQ(GetTickCount64(), 1000u + 2500u);
    FILETIME f1;
    GetSystemTimeAsFileTime(&f1);
    EXPECT_EQ(zq::FileTimeValue(f1) - zq::FileTimeValue(f0), 2500 * 10000);
    EXPECT_EQ(fake.SleptMilliseconds(), 2500u);
    EXPECT_EQ(fake.SleepCalls(), 2u);
    EXPECT_EQ(zq::UnixTime(), 978307202);  // 2001-01-01 plus 2.5 s
}

TEST(Clock, SystemAndLocalTime) {
    SYSTEMTIME st;
    SYSTEMTIME lt;
    {
        zq::FakeClock fake(126227808000000000 + 10000LL * 3723004, 0, 90);  // 01:02:03.004 UTC, local +1:30
        zq::ScopedClock scope(fake);
        GetSystemTime(&st);
        GetLocalTime(&lt);
    }
    EXPECT_EQ(st.wYear, 2001);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 1);  // Monday
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 2);
    EXPECT_EQ(st.wSecond, 3);
    EXPECT_EQ(st.wMilliseconds, 4);
    EXPECT_EQ(lt.wHour, 2);
    EXPECT_EQ(lt.wMinute, 32);
}

TEST(Clock, FileTimeAndSystemTimeConversions) {
    // Values checked against the Unix epoch and known weekdays.
    struct Case {
        SYSTEMTIME st;
        int64_t value;
    };
    const Case cases[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, zq::kFileTimeOfUnixEpoch},
        {{2000, 2, 2, 29, 23, 59, 59, 999}, 125963423999990000},
        {{2024, 12, 2, 31, 12, 0, 0, 0}, 133801200000000000},
        {{30827, 12, 5, 31, 23, 59, 59, 999}, 9223149887999990000},
    };
    for (const Case& c : cases) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << c.st.wYear;
        EXPECT_EQ(zq::FileTimeValue(ft), c.value) << c.st.wYear;
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
        EXPECT_EQ(back.wYear, c.st.wYear);
        EXPECT_EQ(back.wMonth, c.st.wMonth);
        EXPECT_EQ(back.wDay, c.st.wDay);
        EXPECT_EQ(back.wDayOfWeek, c.st.wDayOfWeek) << c.st.wYear;
        EXPECT_EQ(back.wHour, c.st.wHour);
        EXPECT_EQ(back.wMilliseconds, c.st.wMilliseconds);
    }
}

TEST(Clock, OutOfRangeTimesAreRefused) {
    const SYSTEMTIME bad[] = {
        {1600, 12, 0, 31, 0, 0, 0, 0}, {2001, 13, 0, 1, 0, 0, 0, 0}, {2001, 2, 0, 29, 0, 0, 0, 0},
        {1900, 2, 0, 29, 0, 0, 0, 0},  {2001, 1, 0, 0, 0, 0, 0, 0},  {2001, 1, 0, 1, 24, 0, 0, 0},
        {2001, 1, 0, 1, 0, 60, 0, 0},  {2001, 1, 0, 1, 0, 0, 0, 1000},
    };
    for (const SYSTEMTIME& st : bad) {
        FILETIME ft{};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    // The zip extractor's dates are taken as they stand: 2000-02-29 is valid.
    const SYSTEMTIME leap{2000, 2, 0, 29, 0, 0, 0, 0};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));

    const FILETIME negative{0, 0x80000000};
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Clock, LocalFileTimeRoundTripsWithAFixedOffset) {
    zq::FakeClock fake(126227808000000000, 0, -300);
    zq::ScopedClock scope(fake);
    const FILETIME utc = zq::MakeFileTime(130000000000000000);
    FILETIME local{};
    FILETIME back{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(zq::FileTimeValue(utc) - zq::FileTimeValue(local), 300LL * 60 * 10000000);
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(CompareFileTime(&back, &utc), 0);
    EXPECT_EQ(CompareFileTime(&local, &utc), -1);
}

}  // namespace
