// The layer's wide string: sharing, copy on write, buffers, searching and cutting.
#include "afx/afxstr.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(StringSharing, CopiesShareUntilOneIsChanged)
{
    CString original(L"studio");
    CString copy(original);
    EXPECT_EQ(copy.GetString(), original.GetString()) << "a copy shares the characters";

    copy.Append(L" A");
    EXPECT_STREQ(original, L"studio");
    EXPECT_STREQ(copy, L"studio A");

    CString other = original;
    other.SetAt(0, L'S');
    other.MakeUpper();
    EXPECT_STREQ(original, L"studio");
    EXPECT_STREQ(other, L"STUDIO");

    CString trimmed = CString(L"  x  ");
    CString keep = trimmed;
    trimmed.Trim();
    EXPECT_STREQ(keep, L"  x  ");
    EXPECT_STREQ(trimmed, L"x");
}

TEST(StringSharing, WritingThroughBufferNeverReachesCopies)
{
    CString original(L"abc");
    CString copy(original);
    wchar_t* buffer = copy.GetBuffer();
    EXPECT_NE(buffer, original.GetString());
    buffer[0] = L'X';
    // A copy taken while the buffer is handed out gets characters of its own.
    CString during(copy);
    buffer[1] = L'Y';
    copy.ReleaseBuffer();
    EXPECT_STREQ(original, L"abc");
    EXPECT_STREQ(copy, L"XYc");
    EXPECT_STREQ(during, L"Xbc");

    // ReleaseBuffer without GetBuffer on a shared string cuts only this string.
    CString cut(original);
    cut.ReleaseBuffer(1);
    EXPECT_STREQ(cut, L"a");
    EXPECT_STREQ(original, L"abc");
}

TEST(StringSharing, ManyThreadsCopyingOneStringLeaveItIntact)
{
    CString shared(L"shared between threads");
    const wchar_t* characters = shared.GetString();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&shared, &mismatches] {
            for (int i = 0; i < 100000; ++i) {
                CString copy(shared);
                CString second;
                second = copy;
                if (second.GetLength() != 22) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_STREQ(shared, L"shared between threads");
    // Every copy gave its share back: the buffer is this string's alone again, so writing into it
    // needs no new buffer (a lost share would force a copy; an extra release would have freed it).
    EXPECT_EQ(shared.GetBuffer(), characters);
    shared.ReleaseBuffer();
}

TEST(StringAssignment, SelfAssignmentAndOwnTextWork)
{
    CString s(L"abcdef");
    const CString& alias = s;
    s = alias;
    EXPECT_STREQ(s, L"abcdef");
    s = s.GetString();
    EXPECT_STREQ(s, L"abcdef");
    s = s.GetString() + 2;
    EXPECT_STREQ(s, L"cdef");

    CString shared(s);
    s = s.GetString() + 1;
    EXPECT_STREQ(s, L"def");
    EXPECT_STREQ(shared, L"cdef");

    s.Append(s);
    EXPECT_STREQ(s, L"defdef");
    s += s.GetString() + 3;
    EXPECT_STREQ(s, L"defdefdef");
    s.SetString(s.GetString() + 6, 2);
    EXPECT_STREQ(s, L"de");

    CString moved(std::move(s));
    EXPECT_STREQ(moved, L"de");
    s = moved;
    EXPECT_STREQ(s, L"de");

    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
}

TEST(StringBuffer, ReleaseBufferFindsTheTextWithinTheBuffer)
{
    CString s;
    wchar_t* buffer = s.GetBuffer(10);
    ASSERT_GE(s.GetAllocLength(), 10);
    wcscpy(buffer, L"abc");
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_STREQ(s, L"abc");

    // A formatter that filled the whole buffer and wrote no NUL: the length stops at the buffer.
    const int reserved = 8;
    buffer = s.GetBuffer(reserved);
    const int capacity = s.GetAllocLength();
    for (int i = 0; i <= capacity; ++i) {
        buffer[i] = L'x';
    }
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), capacity);
    EXPECT_EQ(s.GetString()[capacity], L'\0');

    // Explicit lengths within the buffer, and past it.
    buffer = s.GetBuffer(4);
    s.ReleaseBuffer(2);
    EXPECT_STREQ(s, L"xx");
    s.GetBuffer(4);
    EXPECT_THROW(s.ReleaseBuffer(s.GetAllocLength() + 1), CInvalidArgException);
    EXPECT_THROW(s.ReleaseBuffer(-2), CInvalidArgException);
    s.ReleaseBuffer(0);
    EXPECT_TRUE(s.IsEmpty());

    EXPECT_THROW(s.GetBuffer(-1), CInvalidArgException);
    EXPECT_THROW(s.Preallocate(-1), CInvalidArgException);
    EXPECT_THROW(CString(L"abc", -1), CInvalidArgException);
    EXPECT_THROW(s.Truncate(1), CInvalidArgException);
    EXPECT_THROW(s.GetAt(1), CInvalidArgException);
    EXPECT_THROW(s.Append(L"x", -1), CInvalidArgException);
    EXPECT_THROW(CString().ReleaseBuffer(1), CInvalidArgException);

    CString big;
    EXPECT_THROW(big.Preallocate(0x7FFFFFF0), std::bad_alloc);
}

TEST(StringBuffer, GrowingAHandedOutBufferKeepsWhatWasWritten)
{
    CString s(L"ab");
    wchar_t* buffer = s.GetBuffer(4);
    wcscpy(buffer, L"wxyz");
    buffer = s.GetBuffer(64);
    s.ReleaseBuffer();
    EXPECT_STREQ(s, L"wxyz");

    s.Preallocate(100);
    EXPECT_GE(s.GetAllocLength(), 100);
    EXPECT_STREQ(s, L"wxyz");
    wchar_t* set = s.GetBufferSetLength(2);
    EXPECT_EQ(set[2], L'\0');
    s.ReleaseBuffer();
    EXPECT_STREQ(s, L"wx");
}

TEST(StringSearch, CutsAreClamped)
{
    CString s(L"abcdef");
    EXPECT_STREQ(s.Left(2), L"ab");
    EXPECT_STREQ(s.Left(-1), L"");
    EXPECT_STREQ(s.Left(99), L"abcdef");
    EXPECT_STREQ(s.Mid(2), L"cdef");
    EXPECT_STREQ(s.Mid(2, 2), L"cd");
    EXPECT_STREQ(s.Mid(-3, 2), L"ab");
    EXPECT_STREQ(s.Mid(4, 99), L"ef");
    EXPECT_STREQ(s.Mid(6), L"");
    EXPECT_STREQ(s.Mid(99), L"");
    EXPECT_STREQ(s.Mid(1, -1), L"");
    EXPECT_STREQ(s.Right(2), L"ef");
    EXPECT_STREQ(s.Right(-2), L"");
    EXPECT_STREQ(s.Right(99), L"abcdef");
}

std::vector<CString> Tokens(const CString& text, const wchar_t* delimiters)
{
    std::vector<CString> tokens;
    int position = 0;
    for (CString token = text.Tokenize(delimiters, position); position != -1;
         token = text.Tokenize(delimiters, position)) {
        tokens.push_back(token);
        if (tokens.size() > 100) {
            break;
        }
    }
    return tokens;
}

TEST(StringSearch, TokenizeSkipsRunsOfDelimiters)
{
    std::vector<CString> tokens = Tokens(L",,a, b,,c,", L", ");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_STREQ(tokens[0], L"a");
    EXPECT_STREQ(tokens[1], L"b");
    EXPECT_STREQ(tokens[2], L"c");

    EXPECT_TRUE(Tokens(L"", L",").empty());
    EXPECT_TRUE(Tokens(L",,,", L",").empty());
    ASSERT_EQ(Tokens(L"abc", L",").size(), 1u);
    EXPECT_STREQ(Tokens(L"abc", L",")[0], L"abc");
    // Without delimiters the whole rest is one token, and the next call ends.
    ASSERT_EQ(Tokens(L"a,b", L"").size(), 1u);
    EXPECT_STREQ(Tokens(L"a,b", nullptr)[0], L"a,b");

    CString text(L"x y");
    int position = 99;
    EXPECT_STREQ(text.Tokenize(L" ", position), L"");
    EXPECT_EQ(position, -1);
    EXPECT_STREQ(text.Tokenize(L" ", position), L"");
    EXPECT_EQ(position, -1);
    position = 2;
    EXPECT_STREQ(text.Tokenize(L" ", position), L"y");
    EXPECT_EQ(position, 4);
    EXPECT_STREQ(text.Tokenize(L" ", position), L"");
    EXPECT_EQ(position, -1);
}

} // namespace
