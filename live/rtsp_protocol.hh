// RTSP/1.0 requests and responses as text (RFC 2326): finding and parsing a request's header
// block, splitting its URL, percent-escaping of session names and building responses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rtsp {

// The most bytes one request (header block and body) may take.
constexpr std::size_t kMaxRequestBytes = 16384;

// The methods that the server answers, in the form of a Public or Allow header value.
extern char const* const kServedMethods;

struct Request
{
    std::string method;
    std::string url;
    std::string version;
    std::string urlPreSuffix; // the URL path before its last "/" ("by-name" for ".../by-name/A")
    std::string urlSuffix;    // the URL path after its last "/"
    std::string cseq;
    std::size_t contentLength = 0;
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name, compared without regard to case; null when absent.
    std::string const* header(char const* name) const;
    // The session name that the URL addresses: pre-suffix "/" suffix.
    std::string totalSuffix() const;
};

enum class ParseResult
{
    ok,
    badRequest,          // not a request line, a broken header, no CSeq, a bad Content-Length, a NUL or
                         // a CR that does not end a line (nothing of the request is kept)
    versionNotSupported, // a well-formed request of another RTSP version
};

// Where the header block that starts at data[0] ends: the offset just past its empty line
// (CRLF CRLF, or bare LF LF), or 0 while it is incomplete. The search may start at `from`
// when the bytes before it were searched already.
std::size_t findHeaderEnd(char const* data, std::size_t size, std::size_t from = 0);

// Parses a complete header block (`size` bytes, up to and including the empty line). Header
// names are matched without regard to case; folded continuation lines are joined.
ParseResult parseRequest(char const* data, std::size_t size, Request& request);

// Splits an RTSP URL ("rtsp://host:port/a/b/c", "/a/b/c" or "*") into the path before and after
// its last "/".
void splitUrl(std::string const& url, std::string& preSuffix, std::string& suffix);

// "%XX" sequences replaced by their bytes; malformed sequences are kept as they are.
std::string percentDecode(std::string const& text);
// Every byte that may not stand in a URL path as it is, written as "%XX" ("/" stays).
std::string percentEncodePath(std::string const& text);

// "Date: Tue, 02 Jan 2024 03:04:05 GMT\r\n" for a FILETIME (100 ns since 1601, UTC).
std::string dateHeader(std::uint64_t fileTime);

char const* reasonPhrase(int statusCode);

// "RTSP/1.0 <code> <reason>", then "CSeq" (when known), the date header, `headers` (complete
// lines), "Content-Length" with the body's size in bytes when there is a body, an empty line and
// the body.
std::string buildResponse(int statusCode, std::string const* cseq, std::string const& date,
                          std::string const& headers, std::string const* body = nullptr);

} // namespace rtsp
