// Facts about the compiler, the C runtime and Wine that the whole program relies on.
// If one of these fails, the environment changed (locale, runtime, compiler), not the code.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <gtest/gtest.h>

namespace {

// The Windows runtime's count-limited formatter, as the string type uses it.
int FormatMsvcrt(wchar_t* buffer, size_t count, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int CountMsvcrt(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vscwprintf(format, args);
    va_end(args);
    return n;
}

} // namespace

TEST(Platform, WideCharactersAreUtf16CodeUnits)
{
    EXPECT_EQ(sizeof(wchar_t), 2u);
    const wchar_t clef[] = L"\U0001D11E"; // outside the BMP: a surrogate pair
    EXPECT_EQ(wcslen(clef), 2u);
    EXPECT_EQ(sizeof(void*), 4u) << "the program is a 32-bit Windows program";
}

TEST(Platform, AnsiCodePageIs1252)
{
    // The test scripts run Wine with LANG=C.UTF-8; the gateway's ANSI conversions assume 1252.
    EXPECT_EQ(GetACP(), 1252u);
    char out[4] = {};
    const wchar_t umlaut[] = L"\u00e4";
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, umlaut, -1, out, sizeof(out), nullptr, nullptr), 2);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xE4);
}

TEST(Platform, RuntimeFormatterFollowsWindowsRules)
{
    wchar_t buffer[128];
    // In a wide format %s is a wide string, %S a narrow one, %I64d a 64-bit integer.
    int n = FormatMsvcrt(buffer, 128, L"%s|%S|%I64d|%d", L"wide", "narrow", 1099511627776LL, 7);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(buffer, L"wide|narrow|1099511627776|7");
    EXPECT_EQ(CountMsvcrt(L"%s|%S|%I64d|%d", L"wide", "narrow", 1099511627776LL, 7), n);
    // Truncation reports -1 and need not terminate the buffer.
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(FormatMsvcrt(small, 4, L"%s", L"abcdef"), -1);
    EXPECT_EQ(small[0], L'a');
    EXPECT_EQ(small[3], L'd');
    // Exactly filling the buffer gives the count but no terminating NUL.
    wchar_t exact[3] = {L'x', L'x', L'x'};
    EXPECT_EQ(FormatMsvcrt(exact, 3, L"abc"), 3);
    EXPECT_EQ(exact[2], L'c');
}

TEST(Platform, Winsock22IsAvailable)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(LOBYTE(data.wVersion), 2);
    EXPECT_EQ(HIBYTE(data.wVersion), 2);
    // The Winsock 2 multicast option (not the Winsock 1 value of winsock.h).
    EXPECT_EQ(IP_ADD_MEMBERSHIP, 12);
    WSACleanup();
}
