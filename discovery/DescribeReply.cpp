#include "discovery/DescribeReply.h"

#include <algorithm>
#include <cstring>

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

// "RTSP/1.0 200 OK": the protocol word, then the status code 200 as a word of its own.
bool HasStatus200(const std::string& bytes, const HeaderRange& header)
{
    static const char kStatus[] = "RTSP/1.0 200";
    const size_t length = sizeof(kStatus) - 1;
    const size_t lineEnd = std::min(bytes.find_first_of("\r\n", header.begin), header.end);
    if (lineEnd - header.begin < length || bytes.compare(header.begin, length, kStatus) != 0) {
        return false;
    }
    const size_t after = header.begin + length;
    return after == lineEnd || IsBlank(bytes[after]);
}

// The value of the first header line named `name` (lower case), trimmed of blanks; false without one.
bool FindHeaderValue(const std::string& bytes, const HeaderRange& header, const char* name,
                     std::string& value)
{
    const size_t nameLength = std::char_traits<char>::length(name);
    size_t line = bytes.find('\n', header.begin);
    while (line != std::string::npos && line < header.end) {
        size_t pos = line + 1;
        line = bytes.find('\n', pos);
        const size_t lineEnd = std::min(std::min(line, header.end), bytes.find('\r', pos));
        size_t i = 0;
        while (i < nameLength && pos + i < lineEnd && LowerAscii(bytes[pos + i]) == name[i]) {
            ++i;
        }
        if (i < nameLength) {
            continue;
        }
        pos += nameLength;
        while (pos < lineEnd && IsBlank(bytes[pos])) {
            ++pos;
        }
        if (pos >= lineEnd || bytes[pos] != ':') {
            continue;
        }
        ++pos;
        size_t end = lineEnd;
        while (pos < end && IsBlank(bytes[pos])) {
            ++pos;
        }
        while (end > pos && IsBlank(bytes[end - 1])) {
            --end;
        }
        value.assign(bytes, pos, end - pos);
        return true;
    }
    return false;
}

// The value of the Content-Length header line; false when there is none or it holds no number.
bool FindContentLength(const std::string& bytes, const HeaderRange& header, unsigned long long& length)
{
    std::string value;
    if (!FindHeaderValue(bytes, header, "content-length", value) || value.empty() || !IsDigit(value[0])) {
        return false;
    }
    length = 0;
    // Any value past the longest reply kept is as good as infinite.
    for (size_t pos = 0; pos < value.size() && IsDigit(value[pos]) && length <= CDescribeReply::kMaxBytes;
         ++pos) {
        length = length * 10 + static_cast<unsigned long long>(value[pos] - '0');
    }
    return true;
}

// The Content-Type names the media type application/sdp; parameters may follow a ";".
bool HeaderNamesSDP(const std::string& bytes, const HeaderRange& header)
{
    std::string value;
    if (!FindHeaderValue(bytes, header, "content-type", value)) {
        return false;
    }
    size_t end = std::min(value.find(';'), value.size());
    while (end > 0 && IsBlank(value[end - 1])) {
        --end;
    }
    std::string type(value, 0, end);
    std::transform(type.begin(), type.end(), type.begin(), LowerAscii);
    return type == "application/sdp";
}

// The body's bytes: [begin, end). False while a Content-Length body has not arrived whole.
bool FindBody(const std::string& bytes, const HeaderRange& header, bool connectionEnded, size_t& end)
{
    unsigned long long contentLength = 0;
    if (FindContentLength(bytes, header, contentLength)) {
        if (bytes.size() - header.bodyStart < contentLength) {
            return false;
        }
        end = header.bodyStart + static_cast<size_t>(contentLength);
        return true;
    }
    end = bytes.size();
    return connectionEnded;
}

// Where the description starts inside [begin, end): the first line that begins with "v=" or "V=".
size_t FindSDPStart(const std::string& bytes, size_t begin, size_t end)
{
    for (size_t pos = begin; pos + 1 < end; ++pos) {
        if ((pos == begin || bytes[pos - 1] == '\n' || bytes[pos - 1] == '\r') &&
            LowerAscii(bytes[pos]) == 'v' && bytes[pos + 1] == '=') {
            return pos;
        }
    }
    return std::string::npos;
}

// The first line of [begin, end) that, less leading blanks, begins with "s=" has more than blanks
// after it.
bool NamesSession(const std::string& bytes, size_t begin, size_t end)
{
    size_t pos = begin;
    while (pos < end) {
        size_t lineEnd = bytes.find_first_of("\r\n", pos);
        if (lineEnd == std::string::npos || lineEnd > end) {
            lineEnd = end;
        }
        size_t first = pos;
        while (first < lineEnd && bytes[first] == ' ') {
            ++first;
        }
        if (lineEnd - first >= 2 && bytes[first] == 's' && bytes[first + 1] == '=') {
            for (size_t k = first + 2; k < lineEnd; ++k) {
                if (bytes[k] != ' ') {
                    return true;
                }
            }
            return false;
        }
        pos = lineEnd + 1;
    }
    return false;
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
    size_t end = 0;
    if (!FindBody(m_Bytes, header, connectionEnded, end)) {
        return false;
    }
    // A NUL byte has no place in a text reply: it is refused, never cut off.
    if (std::memchr(m_Bytes.data(), 0, end) != nullptr) {
        return false;
    }
    const size_t start = FindSDPStart(m_Bytes, header.bodyStart, end);
    return start != std::string::npos && NamesSession(m_Bytes, start, end);
}

CMfxString CDescribeReply::GetSDP(bool& utf8) const
{
    utf8 = false;
    HeaderRange header;
    size_t end = 0;
    if (!FindHeader(m_Bytes, header) || !FindBody(m_Bytes, header, true, end)) {
        return CMfxString();
    }
    const size_t start = FindSDPStart(m_Bytes, header.bodyStart, end);
    if (start == std::string::npos) {
        return CMfxString();
    }
    return DecodeReceivedText(m_Bytes.data() + start, static_cast<int>(end - start), utf8);
}

} // namespace Corvane
