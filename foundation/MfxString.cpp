#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include "afx/afxfile.h"
#include "foundation/LogLimits.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string_view>

namespace {

// Reads a decimal number at p and moves p past its digits; 0 when there are none.
int ReadDecimal(const wchar_t*& p)
{
    long long value = 0;
    while (*p >= L'0' && *p <= L'9') {
        value = std::min<long long>(value * 10 + (*p - L'0'), INT_MAX);
        ++p;
    }
    return static_cast<int>(value);
}

// Length of a string argument: "(null)" for a null pointer, else its length but at least 1.
template <typename Char> long long StringItemLength(const Char* text)
{
    if (text == nullptr) {
        return 6;
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return std::max<long long>(static_cast<long long>(length), 1);
}

// Printed length of a double as "%*.*f" shows it with six more decimals than asked for.
long long FixedItemLength(int width, int precision, double value)
{
    int count = _scwprintf(L"%*.*f", width, precision + 6, value);
    return count < 0 ? 0 : count + 1;
}

// Digits of a number in the base: at least one.
int DigitCount(unsigned long long value, unsigned base)
{
    int digits = 1;
    while (value >= base) {
        value /= base;
        ++digits;
    }
    return digits;
}

// Printed length of an integer conversion at most: its digits (at least the precision asks for) and a
// sign, padded to the width. A shorter size ("%hd") prints no more digits than the whole argument has.
long long IntegerItemLength(int width, int precision, unsigned long long magnitude, unsigned base)
{
    const long long digits = std::max(DigitCount(magnitude, base), precision);
    return std::max<long long>(digits + 1, std::llabs(static_cast<long long>(width)));
}

// Characters (terminating NUL included) that the runtime's formatter needs for the format.
int RuntimeFormatLength(const wchar_t* format, va_list args)
{
    va_list count;
    va_copy(count, args);
    int needed = _vscwprintf(format, count);
    va_end(count);
    if (needed < 0 || needed == INT_MAX) {
        throw CInvalidArgException();
    }
    return needed + 1;
}

enum class SizeModifier
{
    None,
    Int64,
    Narrow,
    Wide
};

// Converts wide text into a new zero-filled buffer of at least minimumSize bytes and at least one
// byte more than the converted text needs. Returns the buffer; bytes receives the converted count
// (without a terminating NUL).
std::unique_ptr<char[]> ConvertWide(UINT codePage, const wchar_t* text, int length, int minimumSize,
                                    int& bytes)
{
    bytes = 0;
    if (length > 0) {
        bytes = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    }
    int size = std::max(minimumSize, bytes + 1);
    std::unique_ptr<char[]> buffer(new char[size]());
    if (bytes > 0) {
        bytes = WideCharToMultiByte(codePage, 0, text, length, buffer.get(), size, nullptr, nullptr);
    }
    return buffer;
}

struct UrlEscapeRow
{
    wchar_t character;
    const wchar_t* escape;
};

// In this order, so that the percent sign of an escape is never escaped again.
const UrlEscapeRow kUrlEscapes[] = {
    {L'%', L"%25"}, {L'?', L"%3f"},  {L' ', L"%20"}, {L':', L"%3a"}, {L';', L"%3b"},
    {L'<', L"%3c"}, {L'=', L"%3d"},  {L'>', L"%3e"}, {L'@', L"%40"}, {L'[', L"%5b"},
    {L']', L"%5d"}, {L'\\', L"%5c"}, {L'^', L"%5e"}, {L'_', L"%5f"}, {L'{', L"%7b"},
    {L'}', L"%7d"}, {L'|', L"%7c"},  {L'&', L"%26"}, {L'#', L"%23"},
};

const UrlEscapeRow* FindUrlEscape(wchar_t character)
{
    for (const UrlEscapeRow& row : kUrlEscapes) {
        if (row.character == character) {
            return &row;
        }
    }
    return nullptr;
}

// Bytes a URL path never holds as they are: control bytes, DEL, the bytes of characters beyond ASCII,
// and the two printable characters outside RFC 3986's set.
bool NeedsPercentEscape(unsigned char value)
{
    return value < 0x20 || value >= 0x7F || value == '"' || value == '`';
}

void AppendPercentEscape(std::wstring& text, unsigned char value)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    text += L'%';
    text += kDigits[value >> 4];
    text += kDigits[value & 0x0F];
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// The byte of a "%xx" escape at text[i] that UrlEscape writes for NeedsPercentEscape, else -1 ("%00"
// included: a name never holds a NUL).
int EscapedByteAt(const wchar_t* text, int length, int i)
{
    if (i + 2 >= length || text[i] != L'%') {
        return -1;
    }
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) {
        return -1;
    }
    const int value = high * 16 + low;
    return value != 0 && NeedsPercentEscape(static_cast<unsigned char>(value)) ? value : -1;
}

// Reads back the escapes of NeedsPercentEscape bytes: each run of them becomes text as received
// names are read (valid UTF-8 as UTF-8, anything else in the ANSI code page).
CMfxString UnescapeBytes(const CMfxString& text)
{
    const wchar_t* characters = text.GetString();
    const int length = text.GetLength();
    if (wcschr(characters, L'%') == nullptr) {
        return text;
    }
    CMfxString result;
    int i = 0;
    while (i < length) {
        std::string run;
        int value;
        while ((value = EscapedByteAt(characters, length, i)) >= 0) {
            run += static_cast<char>(value);
            i += 3;
        }
        if (!run.empty()) {
            bool utf8 = false;
            result += DecodeReceivedText(run.data(), static_cast<int>(run.size()), utf8);
            continue;
        }
        result.AppendChar(characters[i]);
        ++i;
    }
    return result;
}

} // namespace

CMfxString::CMfxString() = default;

CMfxString::CMfxString(const CMfxString& other) : CString(other) {}

CMfxString::CMfxString(const wchar_t* text) : CString(text) {}

CMfxString::CMfxString(CString other) : CString(other) {}

CMfxString::CMfxString(const char* ansiText, int length)
{
    if (ansiText == nullptr) {
        return;
    }
    if (length < 0) {
        length = static_cast<int>(strlen(ansiText));
    }
    if (length == 0) {
        return;
    }
    // A byte never gives more than one UTF-16 character, so length + 1 characters always suffice.
    wchar_t* buffer = GetBuffer(length);
    wmemset(buffer, 0, length + 1);
    MultiByteToWideChar(CP_ACP, 0, ansiText, length, buffer, length + 1);
    ReleaseBuffer(static_cast<int>(wcsnlen(buffer, length)));
}

CMfxString::~CMfxString()
{
    FreeMultiByte();
}

CMfxString& CMfxString::operator=(const CMfxString& other)
{
    FreeMultiByte();
    CString::operator=(other);
    return *this;
}

CMfxString& CMfxString::operator=(const CString& other)
{
    FreeMultiByte();
    CString::operator=(other);
    return *this;
}

CMfxString& CMfxString::operator=(const wchar_t* text)
{
    FreeMultiByte();
    if (text == nullptr) {
        Empty();
    } else {
        CString::operator=(text);
    }
    return *this;
}

void CMfxString::FreeMultiByte()
{
    delete[] m_pMultiByte;
    m_pMultiByte = nullptr;
}

void CMfxString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    CMfxString text;
    text.FormatV(format, args);
    va_end(args);
    *this = text;
}

void CMfxString::AppendFormat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    CMfxString text;
    text.FormatV(format, args);
    va_end(args);
    *this += text;
}

int CMfxString::EstimateFormatLength(const wchar_t* format, va_list args)
{
    long long total = 0;
    const wchar_t* p = format;
    while (*p != 0) {
        if (*p != L'%') {
            ++total;
            ++p;
            continue;
        }
        ++p;
        if (*p == L'%') {
            ++total;
            ++p;
            continue;
        }
        int width = 0;
        int precision = 0;
        for (;; ++p) {
            if (*p == L'#') {
                total += 2;
            } else if (*p == L'*') {
                width = va_arg(args, int);
            } else if (*p != L'-' && *p != L'+' && *p != L'0' && *p != L' ') {
                break;
            }
        }
        if (width == 0) {
            width = ReadDecimal(p);
        }
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                precision = ReadDecimal(p);
            }
        }
        SizeModifier size = SizeModifier::None;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            size = SizeModifier::Int64;
            p += 3;
        } else if (*p == L'h') {
            size = SizeModifier::Narrow;
            ++p;
        } else if (*p == L'l') {
            size = SizeModifier::Wide;
            ++p;
        } else if (*p == L'F' || *p == L'L' || *p == L'N') {
            ++p;
        }
        wchar_t conversion = *p;
        if (conversion == 0) {
            break; // the format ends inside a conversion
        }
        ++p;
        long long item = 0;
        bool textItem = false;
        switch (conversion) {
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
        case L'o': {
            const bool isSigned = conversion == L'd' || conversion == L'i';
            const unsigned base = conversion == L'o'                           ? 8
                                  : (conversion == L'x' || conversion == L'X') ? 16
                                                                               : 10;
            unsigned long long magnitude = 0;
            if (size == SizeModifier::Int64) {
                const long long value = va_arg(args, long long);
                magnitude = static_cast<unsigned long long>(value);
                if (isSigned && value < 0) {
                    magnitude = 0 - magnitude;
                }
            } else {
                const int value = va_arg(args, int);
                magnitude = static_cast<unsigned int>(value);
                if (isSigned && value < 0) {
                    magnitude = 0 - static_cast<unsigned long long>(value);
                }
            }
            item = IntegerItemLength(width, precision, magnitude, base);
            break;
        }
        case L'p':
        case L'e':
        case L'E':
        case L'g':
        case L'G':
        case L'f':
        case L'n':
        case L'c':
        case L'C':
        case L's':
        case L'S':
            if (size == SizeModifier::Int64) {
                return -1; // the runtime would take an argument the estimate cannot size
            }
            switch (conversion) {
            case L'p':
                // All the pointer's hexadecimal digits, leading zeros included.
                item = IntegerItemLength(width, std::max<int>(precision, 2 * sizeof(void*)),
                                         reinterpret_cast<std::uintptr_t>(va_arg(args, void*)), 16);
                break;
            case L'f':
                item = FixedItemLength(width, precision, va_arg(args, double));
                break;
            case L'n':
                va_arg(args, void*);
                break;
            case L'c':
            case L'C':
                va_arg(args, int);
                item = 2;
                textItem = true;
                break;
            case L's':
            case L'S': {
                bool wide = conversion == L's' ? size != SizeModifier::Narrow : size == SizeModifier::Wide;
                item = wide ? StringItemLength(va_arg(args, const wchar_t*))
                            : StringItemLength(va_arg(args, const char*));
                textItem = true;
                break;
            }
            default: // e, E, g, G
                va_arg(args, double);
                item = std::max<long long>(128, static_cast<long long>(width) + precision);
                break;
            }
            break;
        default:
            return -1; // unknown conversion: the arguments after it cannot be found any more
        }
        if (textItem) {
            if (precision > 0) {
                item = std::min<long long>(item, precision);
            }
            item = std::max<long long>(item, width);
        }
        total += item;
        if (total >= INT_MAX) {
            return -1;
        }
    }
    return static_cast<int>(total + 1);
}

void CMfxString::FormatV(const wchar_t* format, va_list args)
{
    if (format == nullptr) {
        throw CInvalidArgException();
    }
    va_list walk;
    va_copy(walk, args);
    int reserved = EstimateFormatLength(format, walk);
    va_end(walk);
    if (reserved < 0) {
        reserved = RuntimeFormatLength(format, args);
    }
    for (;;) {
        wchar_t* buffer = GetBuffer(reserved);
        va_list print;
        va_copy(print, args);
        int written = _vsnwprintf(buffer, reserved, format, print);
        va_end(print);
        if (written >= 0 && written < reserved) {
            ReleaseBuffer(static_cast<int>(wcsnlen(buffer, written)));
            return;
        }
        // The estimate was short: size the buffer from the runtime's own count and format again.
        ReleaseBuffer(0);
        int needed = RuntimeFormatLength(format, args);
        if (needed <= reserved) {
            throw CInvalidArgException(); // the runtime contradicts its own count
        }
        reserved = needed;
    }
}

CMfxString& CMfxString::MakeUpper()
{
    int length = GetLength();
    if (length > 0) {
        wchar_t* buffer = GetBuffer(length);
        for (int i = 0; i < length; ++i) {
            wchar_t c = static_cast<wchar_t>(towupper(buffer[i]));
            if (c == L'\u00e4') {
                c = L'\u00c4';
            } else if (c == L'\u00f6') {
                c = L'\u00d6';
            } else if (c == L'\u00fc') {
                c = L'\u00dc';
            }
            buffer[i] = c;
        }
        ReleaseBuffer(length);
    }
    return *this;
}

CMfxString& CMfxString::MakeLower()
{
    int length = GetLength();
    if (length > 0) {
        wchar_t* buffer = GetBuffer(length);
        for (int i = 0; i < length; ++i) {
            wchar_t c = static_cast<wchar_t>(towlower(buffer[i]));
            if (c == L'\u00c4') {
                c = L'\u00e4';
            } else if (c == L'\u00d6') {
                c = L'\u00f6';
            } else if (c == L'\u00dc') {
                c = L'\u00fc';
            }
            buffer[i] = c;
        }
        ReleaseBuffer(length);
    }
    return *this;
}

CMfxString CMfxString::UpperCopy() const
{
    CMfxString copy(*this);
    copy.MakeUpper();
    return copy;
}

CMfxString CMfxString::LowerCopy() const
{
    CMfxString copy(*this);
    copy.MakeLower();
    return copy;
}

CMfxString CMfxString::ReplaceFirst(CMfxString search, CMfxString replacement) const
{
    std::wstring_view text(GetString(), GetLength());
    std::wstring_view what(search.GetString(), search.GetLength());
    size_t found = what.empty() ? std::wstring_view::npos : text.find(what);
    if (found == std::wstring_view::npos) {
        return *this;
    }
    CMfxString result;
    result.Append(text.data(), static_cast<int>(found));
    result += replacement;
    size_t rest = found + what.size();
    result.Append(text.data() + rest, static_cast<int>(text.size() - rest));
    return result;
}

CMfxString CMfxString::Replace(CMfxString search, CMfxString replacement) const
{
    std::wstring_view text(GetString(), GetLength());
    std::wstring_view what(search.GetString(), search.GetLength());
    if (what.empty() || text.find(what) == std::wstring_view::npos) {
        return *this;
    }
    CMfxString result;
    size_t rest = 0;
    for (size_t found = text.find(what); found != std::wstring_view::npos; found = text.find(what, rest)) {
        result.Append(text.data() + rest, static_cast<int>(found - rest));
        result += replacement;
        rest = found + what.size();
    }
    result.Append(text.data() + rest, static_cast<int>(text.size() - rest));
    return result;
}

CMfxString CMfxString::ReplaceLineBreaks(CMfxString replacement) const
{
    return Replace(L"\r\n", replacement)
        .Replace(L"\n\r", replacement)
        .Replace(L"\r", replacement)
        .Replace(L"\n", replacement);
}

CMfxString CMfxString::UrlEscape() const
{
    const std::string bytes = EncodeReceivedText(*this, true);
    std::wstring result;
    result.reserve(bytes.size());
    for (const char byte : bytes) {
        const unsigned char value = static_cast<unsigned char>(byte);
        const UrlEscapeRow* row = FindUrlEscape(static_cast<wchar_t>(value));
        if (row != nullptr) {
            result += row->escape;
        } else if (NeedsPercentEscape(value)) {
            AppendPercentEscape(result, value);
        } else {
            result += static_cast<wchar_t>(value);
        }
    }
    return CMfxString(result.c_str());
}

CMfxString CMfxString::UrlUnescape() const
{
    CMfxString result(*this);
    // Every escape but the percent sign's, each first with upper-case hexadecimal digits; then the
    // escaped bytes; "%25" last, so that an escaped escape comes back as the escape itself.
    for (size_t i = 1; i <= std::size(kUrlEscapes); ++i) {
        const UrlEscapeRow& escape = kUrlEscapes[i % std::size(kUrlEscapes)];
        if (i == std::size(kUrlEscapes)) {
            result = UnescapeBytes(result);
        }
        wchar_t character[2] = {escape.character, 0};
        CMfxString lower(escape.escape);
        CMfxString upper = lower.UpperCopy();
        if (upper != lower) {
            result = result.Replace(upper, character);
        }
        result = result.Replace(lower, character);
    }
    return result;
}

CMfxString CMfxString::VisibleControls(bool keepLineEnd) const
{
    const wchar_t* text = GetString();
    int end = GetLength();
    if (keepLineEnd) {
        while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n')) {
            --end;
        }
    }
    int first = 0;
    while (first < end && !IsLogControl(text[first])) {
        ++first;
    }
    if (first == end) {
        return *this;
    }
    std::wstring result(text, static_cast<size_t>(first));
    for (int i = first; i < end; ++i) {
        const wchar_t c = text[i];
        if (!IsLogControl(c)) {
            result += c;
        } else {
            AppendLogEscape(result, c);
        }
    }
    result.append(text + end, static_cast<size_t>(GetLength() - end));
    return CMfxString(result.c_str());
}

const char* CMfxString::GetAnsi()
{
    FreeMultiByte();
    int length = GetLength();
    int bytes = 0;
    m_pMultiByte = ConvertWide(CP_ACP, GetString(), length, length + 1, bytes).release();
    return m_pMultiByte;
}

const char* CMfxString::GetUtf8()
{
    FreeMultiByte();
    int length = GetLength();
    int bytes = 0;
    m_pMultiByte = ConvertWide(CP_UTF8, GetString(), length, 4 * length + 4, bytes).release();
    m_MultiByteLength = bytes + 1; // the terminating NUL counts
    return m_pMultiByte;
}

int CMfxString::WriteAnsi(CFile& file) const
{
    int length = GetLength();
    int bytes = 0;
    std::unique_ptr<char[]> text = ConvertWide(CP_ACP, GetString(), length, length + 1, bytes);
    if (bytes > 0 && !file.Write(text.get(), static_cast<UINT>(bytes))) {
        return -1;
    }
    return bytes;
}

void SplitLines(std::vector<CMfxString>& result, const CMfxString& text, const CMfxString& delimiters)
{
    std::wstring_view rest(text.GetString(), text.GetLength());
    std::wstring_view separators(delimiters.GetString(), delimiters.GetLength());
    if (separators.empty()) {
        if (!rest.empty()) {
            result.push_back(text);
        }
        return;
    }
    for (size_t start = rest.find_first_not_of(separators); start != std::wstring_view::npos;
         start = rest.find_first_not_of(separators, start)) {
        size_t end = std::min(rest.find_first_of(separators, start), rest.size());
        result.push_back(CMfxString(CString(rest.data() + start, static_cast<int>(end - start))));
        start = end;
    }
}

void SplitString(std::vector<CMfxString>& result, CMfxString text, CMfxString delimiters)
{
    SplitLines(result, text, delimiters);
}

std::vector<int> SplitStringToIntegers(CMfxString text, CMfxString separators)
{
    std::vector<CMfxString> pieces;
    SplitLines(pieces, text, separators);
    std::vector<int> numbers;
    numbers.reserve(pieces.size());
    for (const CMfxString& piece : pieces) {
        numbers.push_back(_wtoi(piece.GetString()));
    }
    return numbers;
}

bool IsValidUtf8(const char* data, size_t length)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t more;
        unsigned char low = 0x80, high = 0xBF; // bounds of the byte after the lead
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            if (lead == 0xE0) {
                low = 0xA0; // no overlong form
            } else if (lead == 0xED) {
                high = 0x9F; // no surrogate
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F; // nothing past U+10FFFF
            }
        } else {
            return false;
        }
        if (length - i <= more) {
            return false;
        }
        if (bytes[i + 1] < low || bytes[i + 1] > high) {
            return false;
        }
        for (size_t k = 2; k <= more; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += more + 1;
    }
    return true;
}

CMfxString DecodeReceivedText(const char* data, int length, bool& utf8)
{
    utf8 = data != nullptr && length >= 0 && IsValidUtf8(data, static_cast<size_t>(length));
    if (!utf8) {
        return CMfxString(data, length);
    }
    CMfxString text;
    if (length == 0) {
        return text;
    }
    // UTF-8 never gives more UTF-16 characters than it has bytes.
    wchar_t* buffer = text.GetBuffer(length);
    const int count = MultiByteToWideChar(CP_UTF8, 0, data, length, buffer, length + 1);
    text.ReleaseBuffer(count > 0 ? count : 0);
    return text;
}

std::string EncodeReceivedText(const CMfxString& text, bool utf8)
{
    int bytes = 0;
    const int length = text.GetLength();
    std::unique_ptr<char[]> buffer =
        utf8 ? ConvertWide(CP_UTF8, text.GetString(), length, 4 * length + 4, bytes)
             : ConvertWide(CP_ACP, text.GetString(), length, length + 1, bytes);
    return std::string(buffer.get(), static_cast<size_t>(bytes > 0 ? bytes : 0));
}

CMfxString DecodeServiceName(const char* name)
{
    if (name == nullptr) {
        return CMfxString();
    }
    bool utf8 = false;
    return DecodeReceivedText(name, static_cast<int>(strlen(name)), utf8);
}

std::string EncodeServiceName(const CMfxString& name, size_t maxBytes)
{
    std::string bytes = EncodeReceivedText(name, true);
    if (bytes.size() > maxBytes) {
        size_t cut = maxBytes;
        // Back to the lead byte of the character the cut falls into.
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        bytes.resize(cut);
    }
    return bytes;
}
