#include "discovery/DescribeReply.h"

#include <algorithm>

namespace Corvane {

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The header of a reply: [begin, end) holds the status line and the header lines; the body starts at
// bodyStart. False while the blank line that ends the header has not arrived.
struct HeaderRange
{
    size_t begin;
    size_t end;
    size_t bodyStart;
};

bool FindHeader(const std::string& bytes, HeaderRange& header)
{
    header.begin = bytes.find_first_not_of("\r\n");
    if (header.begin == std::string::npos) {
        return false;
    }
    const size_t crlf = bytes.find("\r\n\r\n", header.begin);
    const size_t lf = bytes.find("\n\n", header.begin);
    if (crlf == std::string::npos && lf == std::string::npos) {
        return false;
    }
    if (lf == std::string::npos || (crlf != std::string::npos && crlf < lf)) {
        header.end = crlf;
        header.bodyStart = crlf + 4;
    } else {
        header.end = lf;
        header.bodyStart = lf + 2;
    }
    return true;
}

// "RTSP/1.0 200 OK": the second word of the status line is the status code.
bool HasStatus200(const std::string& bytes, const HeaderRange& header)
{
    const size_t lineEnd = std::min(bytes.find_first_of("\r\n", header.begin), header.end);
    size_t pos = header.begin;
    while (pos < lineEnd && IsBlank(bytes[pos])) {
        ++pos;
    }
    while (pos < lineEnd && !IsBlank(bytes[pos])) {
        ++pos;
    }
    while (pos < lineEnd && IsBlank(bytes[pos])) {
        ++pos;
    }
    return bytes.compare(pos, 3, "200") == 0 && (pos + 3 == lineEnd || IsBlank(bytes[pos + 3]));
}

// The value of the Content-Length header line; false when there is none or it holds no number.
bool FindContentLength(const std::string& bytes, const HeaderRange& header, unsigned long long& length)
{
    static const char kName[] = "content-length";
    const size_t nameLength = sizeof(kName) - 1;
    size_t line = bytes.find('\n', header.begin);
    while (line != std::string::npos && line < header.end) {
        size_t pos = line + 1;
        line = bytes.find('\n', pos);
        size_t i = 0;
        while (i < nameLength && pos + i < header.end && LowerAscii(bytes[pos + i]) == kName[i]) {
            ++i;
        }
        if (i < nameLength) {
            continue;
        }
        pos += nameLength;
        while (pos < header.end && IsBlank(bytes[pos])) {
            ++pos;
        }
        if (pos >= header.end || bytes[pos] != ':') {
            continue;
        }
        ++pos;
        while (pos < header.end && IsBlank(bytes[pos])) {
            ++pos;
        }
        if (pos >= header.end || !IsDigit(bytes[pos])) {
            return false;
        }
        length = 0;
        // Any value past the longest reply kept is as good as infinite.
        while (pos < header.end && IsDigit(bytes[pos]) && length <= CDescribeReply::kMaxBytes) {
            length = length * 10 + static_cast<unsigned long long>(bytes[pos] - '0');
            ++pos;
        }
        return true;
    }
    return false;
}

bool HeaderNamesSDP(const std::string& bytes, const HeaderRange& header)
{
    std::string lower(bytes, header.begin, header.end - header.begin);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower.find("application/sdp") != std::string::npos;
}

} // namespace

void CDescribeReply::Clear()
{
    m_Bytes.clear();
    m_Bytes.shrink_to_fit();
    m_TooLong = false;
}

void CDescribeReply::Append(const char* data, int count)
{
    if (count <= 0 || m_TooLong) {
        return;
    }
    const size_t room = kMaxBytes - m_Bytes.size();
    if (static_cast<size_t>(count) > room) {
        m_Bytes.append(data, room);
        m_TooLong = true;
        return;
    }
    m_Bytes.append(data, count);
}

void CDescribeReply::SetText(CMfxString text)
{
    Clear();
    Append(text.GetAnsi(), text.GetLength());
}

CMfxString CDescribeReply::GetText() const
{
    return CMfxString(m_Bytes.data(), static_cast<int>(m_Bytes.size()));
}

bool CDescribeReply::IsAccepted(bool connectionEnded) const
{
    HeaderRange header;
    if (m_TooLong || !FindHeader(m_Bytes, header)) {
        return false;
    }
    if (!HasStatus200(m_Bytes, header) || !HeaderNamesSDP(m_Bytes, header)) {
        return false;
    }
    unsigned long long contentLength = 0;
    if (FindContentLength(m_Bytes, header, contentLength)) {
        return m_Bytes.size() - header.bodyStart >= contentLength;
    }
    return connectionEnded;
}

CMfxString CutSDPFromReply(const CMfxString& reply)
{
    const CMfxString lower = reply.LowerCopy();
    const int type = lower.Find(L"application/sdp");
    if (type < 0) {
        return CMfxString();
    }
    for (int pos = lower.Find(L"v=", type); pos >= 0; pos = lower.Find(L"v=", pos + 1)) {
        const wchar_t before = lower[pos - 1];
        if (before == L'\n' || before == L'\r') {
            return reply.Mid(pos);
        }
    }
    return CMfxString();
}

} // namespace Corvane
