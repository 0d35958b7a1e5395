// The string type: formatting against the runtime's own output, replacing, percent-escaping, case
// conversion, multibyte conversions and splitting.
#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include "afx/afxfile.h"
#include "test_support.h"

#include <climits>
#include <cstdarg>
#include <cwchar>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// What the Windows runtime itself makes of a format.
std::wstring RuntimeFormat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list count;
    va_copy(count, args);
    int length = _vscwprintf(format, count);
    va_end(count);
    std::vector<wchar_t> buffer(length + 1);
    _vsnwprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    return std::wstring(buffer.data(), length);
}

int Estimate(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int reserved = CMfxString::EstimateFormatLength(format, args);
    va_end(args);
    return reserved;
}

template <typename... Args> void ExpectRuntimeResult(const wchar_t* format, Args... args)
{
    CMfxString formatted;
    formatted.Format(format, args...);
    EXPECT_EQ(Text(formatted), RuntimeFormat(format, args...)) << "format " << CMfxString(format).GetAnsi();
}

} // namespace

TEST(MfxStringFormat, MatchesTheRuntime)
{
    ExpectRuntimeResult(L"%%d");
    ExpectRuntimeResult(L"plain text");
    ExpectRuntimeResult(L"[%5d|%-5d|%05d|%+d|% d|%#x|%#o|%X]", 42, 42, 42, 42, 42, 255, 8, 0xBEEF);
    ExpectRuntimeResult(L"[%8.3f|%-10.2e|%g|%.0f|%f]", 3.14159, 12345.678, 0.0001, 2.5, 1e300);
    ExpectRuntimeResult(L"[%*d|%-*d|%.*s|%*.*s]", 6, 7, 6, 7, 3, L"abcdef", 8, 2, L"xyz");
    ExpectRuntimeResult(L"[%I64d|%I64u|%I64x|%s]", -1099511627776LL, 18446744073709551615ULL, 0x123456789ALL,
                        L"after");
    ExpectRuntimeResult(L"[%s|%S|%hs|%ls|%c|%C|%hc|%lc]", L"wide", "narrow", "h-narrow", L"l-wide", L'w', 'n',
                        'h', L'l');
    ExpectRuntimeResult(L"[%5.2s|%-8s|%.1c]", L"abcdef", L"ab", L'q');
    ExpectRuntimeResult(L"[%p|%u|%i|%o]", reinterpret_cast<void*>(0x1234), 4000000000u, -3, 64);
}

TEST(MfxStringFormat, NullAndLongStrings)
{
    ExpectRuntimeResult(L"[%s|%S]", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr));
    std::wstring longText(10000, L'x');
    longText[9999] = L'!';
    CMfxString formatted;
    formatted.Format(L"<%s>", longText.c_str());
    EXPECT_EQ(Text(formatted), L"<" + longText + L">");
}

TEST(MfxStringFormat, GrowsWhereTheEstimateIsShort)
{
    // "%.200e" prints 207 characters, 200 are estimated.
    ExpectRuntimeResult(L"%.200e|%d", 1.0, 5);
    EXPECT_LT(Estimate(L"%.200e", 1.0), 207);
    // A negative width from "*" pads to its absolute value.
    ExpectRuntimeResult(L"[%*s]", -40, L"ab");
    // "%lld" is no conversion the estimate knows: the runtime counts.
    EXPECT_EQ(Estimate(L"%lld %s", 5LL, L"abc"), -1);
    ExpectRuntimeResult(L"%I64d %s %.300f", 5LL, L"abc", 1.0);
}

// The estimate reserves at least what the runtime prints (one formatting pass) and, for numbers, at
// most a sign more.
template <typename... Args> void ExpectEstimateFits(const wchar_t* format, Args... args)
{
    const int printed = static_cast<int>(RuntimeFormat(format, args...).size());
    const int reserved = Estimate(format, args...);
    EXPECT_GE(reserved, printed + 1) << "format " << CMfxString(format).GetAnsi();
    EXPECT_LE(reserved, printed + 2) << "format " << CMfxString(format).GetAnsi();
}

TEST(MfxStringFormat, NumbersReserveTheirDigitsAndNoMore)
{
    ExpectEstimateFits(L"%d", 0);
    ExpectEstimateFits(L"%d", INT_MIN);
    ExpectEstimateFits(L"%i", INT_MAX);
    ExpectEstimateFits(L"%u", 4294967295u);
    ExpectEstimateFits(L"%x", 0xFFFFFFFFu);
    ExpectEstimateFits(L"%X", 0xABCu);
    ExpectEstimateFits(L"%o", 0xFFFFFFFFu);
    ExpectEstimateFits(L"%I64d", LLONG_MIN);
    ExpectEstimateFits(L"%I64u", ULLONG_MAX);
    ExpectEstimateFits(L"%I64x", ULLONG_MAX);
    ExpectEstimateFits(L"%+d", 5);
    ExpectEstimateFits(L"% d", 5);
    ExpectEstimateFits(L"%.10d", -42);
    ExpectEstimateFits(L"%08x", 0x1Fu);
    ExpectEstimateFits(L"%-12d", 7);
    ExpectEstimateFits(L"%*d", -9, 7);
    // A short size prints no more digits than the whole argument has.
    EXPECT_GE(Estimate(L"%hd", 70000), static_cast<int>(RuntimeFormat(L"%hd", 70000).size()) + 1);
    EXPECT_GE(Estimate(L"%hd", 40000), static_cast<int>(RuntimeFormat(L"%hd", 40000).size()) + 1);
    EXPECT_GE(Estimate(L"%hu", -1), static_cast<int>(RuntimeFormat(L"%hu", -1).size()) + 1);
    ExpectEstimateFits(L"%p", reinterpret_cast<void*>(0x1234));
    // "#" adds a prefix: "0x" and "0" are reserved with it.
    EXPECT_GE(Estimate(L"%#x", 0xFFu), static_cast<int>(RuntimeFormat(L"%#x", 0xFFu).size()) + 1);
    EXPECT_GE(Estimate(L"%#o", 8), static_cast<int>(RuntimeFormat(L"%#o", 8).size()) + 1);
    ExpectRuntimeResult(L"[%d|%i|%u|%x|%o|%hd|%hu|%.10d|%*d]", INT_MIN, INT_MAX, 4294967295u, 0xFFFFFFFFu,
                        0xFFFFFFFFu, 70000, -1, -42, -9, 7);
}

TEST(MfxStringFormat, ATimeStampTakesABufferOfItsOwnSize)
{
    // The log pane's stamp: seven short numbers once reserved 32 characters each.
    CMfxString stamp;
    stamp.Format(L"%02d.%02d.%04d %02d:%02d:%02d,%03d ", 7, 12, 2026, 15, 4, 9, 5);
    EXPECT_EQ(Text(stamp), L"07.12.2026 15:04:09,005 ");
    EXPECT_LE(stamp.GetAllocLength(), stamp.GetLength() + 8);
    stamp += L"Send SAP announce for: Studio 1";
    EXPECT_LE(stamp.GetAllocLength(), stamp.GetLength() + 8);
}

TEST(MfxStringFormat, FormatEndingInsideAConversion)
{
    const wchar_t* formats[] = {L"abc%", L"abc%-0", L"abc%5", L"abc%5.", L"abc%I64"};
    for (const wchar_t* format : formats) {
        ExpectRuntimeResult(format);
    }
}

TEST(MfxStringFormat, AppendFormatAndEmbeddedNul)
{
    CMfxString text = L"a";
    text.AppendFormat(L"%d-%s", 7, L"b");
    EXPECT_EQ(Text(text), L"a7-b");
    // The text ends at the first NUL the formatter wrote.
    text.Format(L"x%cy", 0);
    EXPECT_EQ(Text(text), L"x");
    text.Format(L"");
    EXPECT_TRUE(text.IsEmpty());
}

TEST(MfxStringReplace, ReplaceAndReplaceFirst)
{
    CMfxString text = L"aaa";
    EXPECT_EQ(Text(text.Replace(L"aa", L"b")), L"ba");
    EXPECT_EQ(Text(text), L"aaa") << "the object itself stays unchanged";
    EXPECT_EQ(Text(CMfxString(L"a.b.c").Replace(L".", L"::")), L"a::b::c");
    EXPECT_EQ(Text(CMfxString(L"abc").Replace(L"x", L"y")), L"abc");
    EXPECT_EQ(Text(CMfxString(L"abab").Replace(L"ab", L"")), L"");
    EXPECT_EQ(Text(CMfxString(L"a.b.c").ReplaceFirst(L".", L"::")), L"a::b.c");
    EXPECT_EQ(Text(CMfxString(L"abc").ReplaceFirst(L"c", L"CC")), L"abCC");
    EXPECT_EQ(Text(CMfxString(L"abc").ReplaceFirst(L"x", L"y")), L"abc");
    // An empty search text leaves the text as it is.
    EXPECT_EQ(Text(CMfxString(L"abc").Replace(L"", L"y")), L"abc");
    EXPECT_EQ(Text(CMfxString(L"abc").ReplaceFirst(L"", L"y")), L"abc");
    // Line breaks of every kind.
    EXPECT_EQ(Text(CMfxString(L"a\r\nb\n\rc\rd\ne").ReplaceLineBreaks(L", ")), L"a, b, c, d, e");
    EXPECT_EQ(Text(CMfxString(L"\r\n\r\n").ReplaceLineBreaks(L"|")), L"||");
}

TEST(MfxStringUrl, EscapeTableBothWays)
{
    struct Row
    {
        const wchar_t* character;
        const wchar_t* escape;
    };
    const Row rows[] = {{L"%", L"%25"}, {L"?", L"%3f"},  {L" ", L"%20"}, {L":", L"%3a"}, {L";", L"%3b"},
                        {L"<", L"%3c"}, {L"=", L"%3d"},  {L">", L"%3e"}, {L"@", L"%40"}, {L"[", L"%5b"},
                        {L"]", L"%5d"}, {L"\\", L"%5c"}, {L"^", L"%5e"}, {L"_", L"%5f"}, {L"{", L"%7b"},
                        {L"}", L"%7d"}, {L"|", L"%7c"},  {L"&", L"%26"}, {L"#", L"%23"}};
    for (const Row& row : rows) {
        EXPECT_EQ(Text(CMfxString(row.character).UrlEscape()), row.escape);
        EXPECT_EQ(Text(CMfxString(row.escape).UrlUnescape()), row.character);
        EXPECT_EQ(Text(CMfxString(row.escape).UpperCopy().UrlUnescape()), row.character);
    }
    EXPECT_EQ(Text(CMfxString(L"a b%_").UrlEscape()), L"a%20b%25%5f");
    EXPECT_EQ(Text(CMfxString(L"%3F%3f%253f").UrlUnescape()), L"??%3f");
    EXPECT_EQ(Text(CMfxString(L"%2F%41").UrlUnescape()), L"%2F%41");
    const wchar_t* unchanged = L"/+aZ09-.,()!$'*~";
    EXPECT_EQ(Text(CMfxString(unchanged).UrlEscape()), unchanged);
    CMfxString all = L"%?:;<=>@[]\\^_{}|&# /+x\u00fc%25";
    EXPECT_EQ(Text(all.UrlEscape().UrlUnescape()), Text(all));
}

// Names found on the network go into a request line: nothing of them may end or bend the line, and
// the result is ASCII whatever the name holds.
TEST(MfxStringUrl, EscapeOfFoundNames)
{
    struct Row
    {
        const wchar_t* name;
        const wchar_t* escaped;
    };
    const Row rows[] = {
        {L"HX\r\nInjected: 1", L"HX%0d%0aInjected%3a%201"},
        {L"a\tb", L"a%09b"},
        {L"del\x7f", L"del%7f"},
        {L"\x01\x1f", L"%01%1f"},
        {L"50% off", L"50%25%20off"},
        {L"B\u00fchne S\u00fcd", L"B%c3%bchne%20S%c3%bcd"},
        {L"\u20ac", L"%e2%82%ac"},
        {L"\U0001F3B5", L"%f0%9f%8e%b5"},
        {L"q\"t`", L"q%22t%60"},
        {L"C7Repub (2)", L"C7Repub%20(2)"},
        {L"\u0085", L"%c2%85"},
    };
    for (const Row& row : rows) {
        const CMfxString escaped = CMfxString(row.name).UrlEscape();
        EXPECT_EQ(Text(escaped), row.escaped) << Text(CMfxString(row.name).VisibleControls());
        EXPECT_EQ(Text(escaped.UrlUnescape()), row.name) << Text(escaped);
        for (int i = 0; i < escaped.GetLength(); ++i) {
            EXPECT_TRUE(escaped[i] > 0x20 && escaped[i] < 0x7F) << Text(escaped);
        }
    }
    // Read back: upper-case digits too; escaped bytes that are not UTF-8 are code page 1252; the
    // escapes it does not write stay, "%00" included, and a cut escape is left alone.
    EXPECT_EQ(Text(CMfxString(L"B%C3%BChne%0D").UrlUnescape()), L"B\u00fchne\r");
    EXPECT_EQ(Text(CMfxString(L"B%fchne").UrlUnescape()), L"B\u00fchne");
    EXPECT_EQ(Text(CMfxString(L"%2F%41%00%0").UrlUnescape()), L"%2F%41%00%0");
    EXPECT_EQ(Text(CMfxString(L"%250d%25c3%25bc").UrlUnescape()), L"%0d%c3%bc");
}

TEST(MfxStringVisible, ControlCharactersAreShownEscaped)
{
    struct Row
    {
        const wchar_t* text;
        bool keepLineEnd;
        const wchar_t* shown;
    };
    const Row rows[] = {
        {L"HX\r\nInjected: 1", false, L"HX\\r\\nInjected: 1"},
        {L"a\tb", false, L"a\\tb"},
        {L"del\x7f esc\x1b", false, L"del\\x7f esc\\x1b"},
        {L"c1\u0085\u009f", false, L"c1\\x85\\x9f"},
        {L"B\u00fchne S\u00fcd \u00a0\u20ac", false, L"B\u00fchne S\u00fcd \u00a0\u20ac"},
        {L"C:\\logs\\x", false, L"C:\\logs\\x"},
        {L"line\r\n", false, L"line\\r\\n"},
        {L"a\rb\n", true, L"a\\rb\n"},
        {L"\r\n", true, L"\r\n"},
        {L"", false, L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(CMfxString(row.text).VisibleControls(row.keepLineEnd)), row.shown);
    }
}

TEST(MfxStringServiceName, ReadAsUtf8OrCodePage1252)
{
    struct Row
    {
        const char* bytes;
        const wchar_t* name;
    };
    const Row rows[] = {
        {"Studio A", L"Studio A"},
        {"B\xc3\xbchne S\xc3\xbc"
         "d",
         L"B\u00fchne S\u00fcd"},
        {"B\xfchne", L"B\u00fchne"},               // not UTF-8: code page 1252
        {"\x80 \x9f", L"\u20ac \u0178"},           // 1252's own characters in 0x80 to 0x9F
        {"B\xc3\xbc\xfc", L"B\u00c3\u00bc\u00fc"}, // one bad byte: the whole name is 1252
        {"cut\xe2\x82", L"cut\u00e2\u201a"},       // a cut character is not UTF-8
        {"HX\r\nX\t", L"HX\r\nX\t"},               // kept: shown escaped, sent escaped
        {"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Text(DecodeServiceName(row.bytes)), row.name) << row.bytes;
    }
    // Up to a NUL, as a C string ends.
    const char withNul[] = "ab\0cd";
    EXPECT_EQ(Text(DecodeServiceName(withNul)), L"ab");
    EXPECT_EQ(Text(DecodeServiceName(nullptr)), L"");
}

TEST(MfxStringServiceName, EncodedAsUtf8CutOnACharacter)
{
    struct Row
    {
        const wchar_t* name;
        size_t maxBytes;
        const char* bytes;
    };
    const Row rows[] = {
        {L"B\u00fchne S\u00fcd", 255,
         "B\xc3\xbchne S\xc3\xbc"
         "d"},
        {L"B\u00fchne", 2, "B"}, // the cut falls inside "\u00fc"
        {L"B\u00fchne", 3, "B\xc3\xbc"},
        {L"\u20ac\u20ac", 5, "\xe2\x82\xac"},
        {L"\U0001F3B5x", 3, ""},
        {L"\U0001F3B5x", 4, "\xf0\x9f\x8e\xb5"},
        {L"plain", 5, "plain"},
        {L"plain", 0, ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(EncodeServiceName(row.name, row.maxBytes), row.bytes) << row.maxBytes;
    }
    // What is sent is read back unchanged.
    EXPECT_EQ(Text(DecodeServiceName(EncodeServiceName(L"B\u00fchne S\u00fcd").c_str())),
              L"B\u00fchne S\u00fcd");
}

TEST(MfxStringCase, Umlauts)
{
    CMfxString text = L"gr\u00fcn \u00e4\u00f6";
    EXPECT_EQ(Text(text.UpperCopy()), L"GR\u00dcN \u00c4\u00d6");
    EXPECT_EQ(Text(text), L"gr\u00fcn \u00e4\u00f6");
    EXPECT_EQ(Text(CMfxString(L"\u00c4\u00d6\u00dc AbC").LowerCopy()), L"\u00e4\u00f6\u00fc abc");
    CMfxString shared = L"MiXeD";
    CMfxString copy = shared;
    copy.MakeLower();
    EXPECT_EQ(Text(copy), L"mixed");
    EXPECT_EQ(Text(shared), L"MiXeD") << "the copy's change does not reach the original";
    EXPECT_EQ(Text(shared.MakeUpper()), L"MIXED");
}

TEST(MfxStringConstruct, FromAnsiBytes)
{
    ASSERT_EQ(::GetACP(), 1252u)
        << "the tests and the log file rely on code page 1252 (LANG=C.UTF-8 under Wine)";
    EXPECT_EQ(Text(CMfxString("abcde", 3)), L"abc");
    EXPECT_EQ(Text(CMfxString("abcde")), L"abcde");
    EXPECT_EQ(Text(CMfxString("ab\0cd", 5)), L"ab");
    EXPECT_TRUE(CMfxString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CMfxString("", 0).IsEmpty());
    EXPECT_EQ(Text(CMfxString("gr\xfc\xdf \x80")), L"gr\u00fc\u00df \u20ac");
}

TEST(MfxStringConvert, AnsiAndUtf8)
{
    CMfxString text = L"Gr\u00fc\u00dfe \u20ac";
    EXPECT_STREQ(text.GetAnsi(), "Gr\xfc\xdf"
                                 "e \x80");
    EXPECT_EQ(text.GetMultiByteLength(), -1) << "only GetUtf8 sets the length";
    EXPECT_STREQ(text.GetUtf8(), "Gr\xc3\xbc\xc3\x9f"
                                 "e \xe2\x82\xac");
    EXPECT_EQ(text.GetMultiByteLength(), 12);
    // A character the code page lacks becomes the default character.
    EXPECT_STREQ(CMfxString(L"a\u0416b").GetAnsi(), "a?b");

    CMfxString empty;
    const char* first = empty.GetUtf8();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
    EXPECT_EQ(empty.GetMultiByteLength(), 1);
    EXPECT_STREQ(empty.GetUtf8(), "");
    EXPECT_STREQ(empty.GetAnsi(), "");
    EXPECT_EQ(empty.GetMultiByteLength(), 1);
}

TEST(MfxStringConvert, MultibyteCopyLivesUntilTheNextChange)
{
    CMfxString text = L"first";
    const char* ansi = text.GetAnsi();
    EXPECT_STREQ(ansi, "first");
    CMfxString other = text; // copying leaves the owner's copy alone
    text += L" more";
    EXPECT_STREQ(ansi, "first");
    text.Format(L"%d", 12);
    EXPECT_STREQ(text.GetAnsi(), "12");
    text = L"third";
    EXPECT_STREQ(text.GetUtf8(), "third");
    text = other;
    EXPECT_STREQ(text.GetAnsi(), "first");
}

TEST(MfxStringConvert, WriteAnsiWritesTheBytes)
{
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    CMfxString path;
    path.Format(L"%smfx_string_test_%lu.txt", folder, GetCurrentProcessId());
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.GetString(), CFile::modeCreate | CFile::modeReadWrite));
        CMfxString text = L"Gr\u00fc\u00dfe\r\n";
        EXPECT_EQ(text.WriteAnsi(file), 7);
        EXPECT_EQ(text.GetMultiByteLength(), -1);
        EXPECT_EQ(CMfxString().WriteAnsi(file), 0);
        file.Close();
    }
    EXPECT_EQ(ReadBytes(path), "Gr\xfc\xdf"
                               "e\r\n");
    // A write the file refuses is reported, not thrown.
    CFile readOnly;
    ASSERT_TRUE(readOnly.Open(path.GetString(), CFile::modeRead));
    EXPECT_EQ(CMfxString(L"refused").WriteAnsi(readOnly), -1);
    readOnly.Close();
    DeleteFileW(path.GetString());
}

TEST(MfxStringSplit, IntegersAndPieces)
{
    EXPECT_EQ(SplitStringToIntegers(L"3,,1, 2,x", L","), (std::vector<int>{3, 1, 2, 0}));
    EXPECT_TRUE(SplitStringToIntegers(L"", L",").empty());
    EXPECT_TRUE(SplitStringToIntegers(L",,,", L",").empty());
    EXPECT_EQ(SplitStringToIntegers(L" -7;+8|12abc", L";|"), (std::vector<int>{-7, 8, 12}));
    // Without separators the whole text is one piece.
    EXPECT_EQ(SplitStringToIntegers(L"12,3", L""), (std::vector<int>{12}));
    EXPECT_TRUE(SplitStringToIntegers(L"", L"").empty());

    std::vector<CMfxString> pieces;
    SplitString(pieces, L"\r\nv=0\r\n\r\no=x y\n", L"\r\n");
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(Text(pieces[0]), L"v=0");
    EXPECT_EQ(Text(pieces[1]), L"o=x y");
    SplitLines(pieces, CMfxString(L"a  b "), CMfxString(L" "));
    ASSERT_EQ(pieces.size(), 4u) << "pieces are appended";
    EXPECT_EQ(Text(pieces[3]), L"b");
}

// Cut and corrupted input: every prefix and every single-byte change of escaped names and of name
// bytes is read without a crash, a NUL in the result or a control character left for display.
TEST(MfxStringServiceName, CutAndCorruptedInputIsReadCleanly)
{
    const std::string bytes = "B\xc3\xbchne \xe2\x82\xac \xf0\x9f\x8e\xb5 HX\r\n%0d";
    for (size_t length = 0; length <= bytes.size(); ++length) {
        std::string cut = bytes.substr(0, length);
        const CMfxString name = DecodeServiceName(cut.c_str());
        // A cut inside a character makes the whole name code page 1252, one character a byte.
        const bool utf8 = IsValidUtf8(cut.data(), cut.size());
        if (!utf8) {
            EXPECT_EQ(static_cast<size_t>(name.GetLength()), cut.size()) << length;
        }
        EXPECT_EQ(Text(DecodeServiceName(EncodeServiceName(name).c_str())), Text(name)) << length;
        const CMfxString shown = name.VisibleControls();
        EXPECT_EQ(Text(shown).find_first_of(L"\r\n"), std::wstring::npos) << length;
        const CMfxString escaped = name.UrlEscape();
        EXPECT_EQ(Text(escaped.UrlUnescape()), Text(name)) << length;
        for (size_t i = 0; i < cut.size(); ++i) {
            for (const unsigned char flip : {0x00, 0x01, 0x25, 0x7f, 0x80, 0xc3, 0xff}) {
                std::string corrupt = cut;
                corrupt[i] = static_cast<char>(flip);
                const CMfxString read = DecodeServiceName(corrupt.c_str());
                EXPECT_LE(static_cast<size_t>(read.GetLength()), corrupt.size());
                EXPECT_EQ(Text(read).find(L'\0'), std::wstring::npos);
                EXPECT_EQ(Text(read.UrlEscape().UrlUnescape()), Text(read));
            }
        }
    }
    // Escapes cut at every point and with every character changed are read back without a crash;
    // only whole escapes of the bytes UrlEscape writes are replaced.
    const std::wstring escapes = L"B%c3%bchne%20%e2%82%ac%0d%0a%25%3f%00%zz%";
    for (size_t length = 0; length <= escapes.size(); ++length) {
        const std::wstring cut = escapes.substr(0, length);
        const CMfxString read = CMfxString(cut.c_str()).UrlUnescape();
        EXPECT_LE(read.GetLength(), static_cast<int>(cut.size())) << length;
        for (size_t i = 0; i < cut.size(); ++i) {
            std::wstring corrupt = cut;
            corrupt[i] = i % 2 ? L'%' : L'\u00ff';
            EXPECT_LE(CMfxString(corrupt.c_str()).UrlUnescape().GetLength(),
                      static_cast<int>(corrupt.size()));
        }
    }
}
