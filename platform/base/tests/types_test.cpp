#include <gtest/gtest.h>

#include <thread>

#include "base/error.h"
#include "base/types.h"

TEST(LastError, IsPerThread) {
    SetLastError(ERROR_MORE_DATA);
    DWORD seen = 0;
    std::thread([&] {
        seen = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
    }).join();
    EXPECT_EQ(seen, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
}

TEST(Types, WidthsMatchWin32) {
    static_assert(sizeof(WCHAR) == 2 && sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(BOOL) == 4);
    static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*));
    EXPECT_EQ(RGB(1, 2, 3), 0x030201u);
    EXPECT_EQ(MAKELONG(0x1234, 0xABCD), 0xABCD1234u);
    EXPECT_TRUE(IS_INTRESOURCE(MAKEINTRESOURCEW(260)));
    EXPECT_FALSE(IS_INTRESOURCE(u"NAME"));
}
