// CMfxString: the text type of the gateway's own code.
//
// A wide-character string of the class library (UTF-16, reference-counted buffer shared between
// copies, copied on the first write) with a virtual destructor, an owned multibyte copy for
// byte-oriented interfaces, printf-style formatting with the Windows runtime's rules, copy-returning
// search-and-replace, percent-escaping and case conversion that also covers the umlauts.
#pragma once

#include "afx/afxstr.h"

#include <cstdarg>
#include <string>
#include <vector>

class CFile;

class CMfxString : public CString
{
public:
    CMfxString();
    CMfxString(const CMfxString& other);
    CMfxString(const wchar_t* text);
    CMfxString(CString other);
    // Bytes in the ANSI code page; length -1 means up to the terminating NUL. A null text gives the
    // empty string.
    CMfxString(const char* ansiText, int length = -1);
    virtual ~CMfxString();

    CMfxString& operator=(const CMfxString& other);
    CMfxString& operator=(const CString& other);
    CMfxString& operator=(const wchar_t* text);

    // Formatting with the Windows runtime's rules: in a wide format %s is a wide string, %S a narrow
    // one, %I64d a 64-bit integer. Never pass a string object itself through "...".
    void Format(const wchar_t* format, ...);
    void AppendFormat(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    // The number of characters (terminating NUL included) that FormatV reserves before it formats;
    // -1 when the format holds a conversion the estimate does not know, so the runtime counts.
    static int EstimateFormatLength(const wchar_t* format, va_list args);

    // Case conversion in place: the runtime's a to z, and the umlauts.
    CMfxString& MakeUpper();
    CMfxString& MakeLower();
    CMfxString UpperCopy() const;
    CMfxString LowerCopy() const;

    // Copies with text replaced; an empty search text gives an unchanged copy.
    CMfxString ReplaceFirst(CMfxString search, CMfxString replacement) const;
    CMfxString Replace(CMfxString search, CMfxString replacement) const;
    CMfxString ReplaceLineBreaks(CMfxString replacement) const;

    // Percent-escaping for a URL path. The text is taken as UTF-8 bytes; the characters that URLs
    // reserve (table in the source), every byte below 0x20, 0x7F, every byte beyond ASCII and the
    // bytes a path never holds ('"', '`') become "%xx" (lower-case digits), so the result is ASCII.
    CMfxString UrlEscape() const;
    // The escapes of UrlEscape read back: the reserved characters, the control characters and the
    // bytes beyond ASCII (valid UTF-8 as UTF-8, anything else in the ANSI code page). Other escapes
    // (and "%00") stay as they are.
    CMfxString UrlUnescape() const;
    // A copy for a log line or a list cell: every control character (below U+0020, U+007F to U+009F)
    // is shown as "\r", "\n", "\t" or "\xNN". With keepLineEnd the CR and LF characters that end the
    // text stay as they are (a log line's own end).
    CMfxString VisibleControls(bool keepLineEnd = false) const;

    // Multibyte copies, owned by this object: valid until the next GetAnsi or GetUtf8, assignment,
    // Format or the destruction of the object.
    const char* GetAnsi();
    const char* GetUtf8();
    // Bytes written by the last GetUtf8 (terminating NUL included); -1 before the first call.
    int GetMultiByteLength() const { return m_MultiByteLength; }

    // Writes the text in the ANSI code page (no terminating NUL) through the file. Returns the number
    // of bytes written, or -1 when the file reports a failed write.
    int WriteAnsi(CFile& file) const;

private:
    void FreeMultiByte();

    char* m_pMultiByte = nullptr;
    int m_MultiByteLength = -1;
};

// Received description bytes: valid UTF-8 (plain ASCII included) is read as UTF-8, anything else in
// the ANSI code page. `utf8` tells which, so that EncodeReceivedText gives back the same bytes.
bool IsValidUtf8(const char* data, size_t length);
CMfxString DecodeReceivedText(const char* data, int length, bool& utf8);
// The bytes of a text in UTF-8 or in the ANSI code page, without a terminating NUL.
std::string EncodeReceivedText(const CMfxString& text, bool utf8);

// DNS-SD names (RFC 6763 section 4.1.1): bytes up to the first NUL; valid UTF-8 is read as UTF-8,
// anything else in the ANSI code page, as received descriptions are.
CMfxString DecodeServiceName(const char* name);
// A name as it goes out: UTF-8, cut to at most maxBytes bytes without splitting a character.
std::string EncodeServiceName(const CMfxString& name, size_t maxBytes = 255);

// Cuts text into the pieces between delimiters: every character of the delimiter text is a delimiter
// by itself, runs of delimiters count as one, and no piece is ever empty. Appends the pieces to
// result in text order. With an empty delimiter text a non-empty text is one piece.
void SplitString(std::vector<CMfxString>& result, CMfxString text, CMfxString delimiters);
void SplitLines(std::vector<CMfxString>& result, const CMfxString& text, const CMfxString& delimiters);

// Splits a list of numbers ("3,1,2") at any of the separator characters; each piece is read with the
// runtime's _wtoi (0 when it holds no number).
std::vector<int> SplitStringToIntegers(CMfxString text, CMfxString separators);
