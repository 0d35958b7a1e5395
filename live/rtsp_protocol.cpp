#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/rtsp_protocol.hh"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rtsp {

char const* const kServedMethods = "OPTIONS, DESCRIBE";

namespace {

bool equalsNoCase(std::string const& a, char const* b)
{
    const std::size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool isTokenChar(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

std::string trim(std::string const& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

// The lines of a header block without their line ends; the empty line is not included.
std::vector<std::string> splitLines(char const* data, std::size_t size)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n')
            continue;
        std::size_t end = i;
        if (end > start && data[end - 1] == '\r')
            --end;
        if (end == start)
            break;
        lines.emplace_back(data + start, end - start);
        start = i + 1;
    }
    return lines;
}

std::vector<std::string> splitWords(std::string const& line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string const* Request::header(char const* name) const
{
    for (const auto& entry : headers) {
        if (equalsNoCase(entry.first, name))
            return &entry.second;
    }
    return nullptr;
}

std::string Request::totalSuffix() const
{
    return urlPreSuffix.empty() ? urlSuffix : urlPreSuffix + "/" + urlSuffix;
}

std::size_t findHeaderEnd(char const* data, std::size_t size, std::size_t from)
{
    for (std::size_t i = from; i < size; ++i) {
        if (data[i] != '\n')
            continue;
        if (i + 1 < size && data[i + 1] == '\n')
            return i + 2;
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n')
            return i + 3;
    }
    return 0;
}

ParseResult parseRequest(char const* data, std::size_t size, Request& request)
{
    request = Request();
    // A NUL, or a CR that does not end a line, would end a line early for a client that reads a
    // lone CR as a line end: a value echoed in the reply could inject a header. Nothing of such a
    // request is used.
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\0' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n')))
            return ParseResult::badRequest;
    }
    const std::vector<std::string> lines = splitLines(data, size);
    if (lines.empty())
        return ParseResult::badRequest;
    const std::vector<std::string> words = splitWords(lines[0]);
    if (words.size() != 3)
        return ParseResult::badRequest;
    for (char c : words[0]) {
        if (!isTokenChar(c))
            return ParseResult::badRequest;
    }
    request.method = words[0];
    request.url = words[1];
    request.version = words[2];
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line[0] == ' ' || line[0] == '\t') {
            if (request.headers.empty())
                return ParseResult::badRequest;
            std::string& value = request.headers.back().second;
            value = trim(value + " " + trim(line));
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            return ParseResult::badRequest;
        std::string name = line.substr(0, colon);
        for (char c : name) {
            if (!isTokenChar(c))
                return ParseResult::badRequest;
        }
        request.headers.emplace_back(name, trim(line.substr(colon + 1)));
    }
    splitUrl(request.url, request.urlPreSuffix, request.urlSuffix);
    if (std::string const* cseq = request.header("CSeq"))
        request.cseq = *cseq;
    if (std::string const* length = request.header("Content-Length")) {
        if (length->empty() || length->size() > 9 ||
            length->find_first_not_of("0123456789") != std::string::npos)
            return ParseResult::badRequest;
        request.contentLength = std::strtoul(length->c_str(), nullptr, 10);
    }
    if (request.cseq.empty())
        return ParseResult::badRequest;
    // "RTSP/1.x" is served; another well-formed RTSP version is refused as such.
    const std::string& version = request.version;
    unsigned major = 0;
    unsigned minor = 0;
    char end = 0;
    if (version.compare(0, 5, "RTSP/") != 0 ||
        std::sscanf(version.c_str() + 5, "%u.%u%c", &major, &minor, &end) != 2 || version.size() > 16)
        return ParseResult::badRequest;
    return major == 1 ? ParseResult::ok : ParseResult::versionNotSupported;
}

void splitUrl(std::string const& url, std::string& preSuffix, std::string& suffix)
{
    std::string path;
    const std::size_t scheme = url.find("://");
    if (scheme != std::string::npos && url.find('/') > scheme) {
        const std::size_t slash = url.find('/', scheme + 3);
        if (slash != std::string::npos)
            path = url.substr(slash + 1);
    } else if (url != "*") {
        path = url[0] == '/' ? url.substr(1) : url;
    }
    const std::size_t last = path.rfind('/');
    if (last == std::string::npos) {
        preSuffix.clear();
        suffix = path;
    } else {
        preSuffix = path.substr(0, last);
        suffix = path.substr(last + 1);
    }
}

std::string percentDecode(std::string const& text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string percentEncodePath(std::string const& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                           (u != 0 && std::strchr("-._~/!$&'()*+,;=:@", u) != nullptr);
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[u >> 4];
            encoded += kHex[u & 15];
        }
    }
    return encoded;
}

std::string dateHeader(std::uint64_t fileTime)
{
    static char const* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static char const* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(fileTime);
    time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&time, &t);
    char text[64];
    std::snprintf(text, sizeof(text), "Date: %s, %02u %s %04u %02u:%02u:%02u GMT\r\n",
                  kDays[t.wDayOfWeek % 7], t.wDay, kMonths[(t.wMonth + 11) % 12], t.wYear, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

char const* reasonPhrase(int statusCode)
{
    switch (statusCode) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Request Entity Too Large";
    case 501:
        return "Not Implemented";
    case 505:
        return "RTSP Version Not Supported";
    default:
        return "Internal Server Error";
    }
}

std::string buildResponse(int statusCode, std::string const* cseq, std::string const& date,
                          std::string const& headers, std::string const* body)
{
    std::string response = "RTSP/1.0 " + std::to_string(statusCode) + " " + reasonPhrase(statusCode) + "\r\n";
    if (cseq)
        response += "CSeq: " + *cseq + "\r\n";
    response += date;
    response += headers;
    if (body)
        response += "Content-Length: " + std::to_string(body->size()) + "\r\n";
    response += "\r\n";
    if (body)
        response += *body;
    return response;
}

} // namespace rtsp
