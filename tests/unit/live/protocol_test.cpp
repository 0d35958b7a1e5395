// Request parsing, URLs, escaping and the Date header of the RTSP library.
#include "live/rtsp_protocol.hh"

#include <gtest/gtest.h>

#include <cstring>

namespace {

rtsp::ParseResult parse(std::string const& text, rtsp::Request& request)
{
    const std::size_t end = rtsp::findHeaderEnd(text.data(), text.size());
    return rtsp::parseRequest(text.data(), end ? end : text.size(), request);
}

TEST(RtspRequest, HeaderEndIsFoundForCrLfAndBareLf)
{
    const std::string crlf = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r\nnext";
    EXPECT_EQ(crlf.size() - 4, rtsp::findHeaderEnd(crlf.data(), crlf.size()));
    const std::string lf = "OPTIONS * RTSP/1.0\nCSeq: 1\n\nnext";
    EXPECT_EQ(lf.size() - 4, rtsp::findHeaderEnd(lf.data(), lf.size()));
    const std::string partial = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n\r";
    EXPECT_EQ(0u, rtsp::findHeaderEnd(partial.data(), partial.size()));
    // Resuming the search a few bytes back still finds an end split across two reads.
    const std::string whole = partial + "\n";
    EXPECT_EQ(whole.size(), rtsp::findHeaderEnd(whole.data(), whole.size(), partial.size() - 3));
}

TEST(RtspRequest, ParsesMethodUrlVersionAndHeadersWithoutRegardToCase)
{
    rtsp::Request request;
    ASSERT_EQ(rtsp::ParseResult::ok, parse("DESCRIBE rtsp://10.0.0.1:8080/by-name/Studio%20A RTSP/1.0\r\n"
                                           "cseq:  7 \r\nACCEPT: application/sdp\r\ncontent-LENGTH: 0\r\n"
                                           "User-Agent: a\r\n  folded agent\r\n\r\n",
                                           request));
    EXPECT_EQ("DESCRIBE", request.method);
    EXPECT_EQ("rtsp://10.0.0.1:8080/by-name/Studio%20A", request.url);
    EXPECT_EQ("RTSP/1.0", request.version);
    EXPECT_EQ("7", request.cseq);
    EXPECT_EQ("by-name", request.urlPreSuffix);
    EXPECT_EQ("Studio%20A", request.urlSuffix);
    EXPECT_EQ("by-name/Studio%20A", request.totalSuffix());
    ASSERT_NE(nullptr, request.header("Accept"));
    EXPECT_EQ("application/sdp", *request.header("accept"));
    EXPECT_EQ("a folded agent", *request.header("user-agent"));
    EXPECT_EQ(nullptr, request.header("Session"));
}

TEST(RtspRequest, RefusesWhatIsNotARequest)
{
    rtsp::Request request;
    for (char const* text : {
             "\r\n\r\n",                                         // no request line
             "OPTIONS *\r\nCSeq: 1\r\n\r\n",                     // two words
             "OPTIONS * RTSP/1.0 extra\r\nCSeq: 1\r\n\r\n",      // four words
             "OPT(IONS * RTSP/1.0\r\nCSeq: 1\r\n\r\n",           // not a token
             "OPTIONS * RTSP/1.0\r\n\r\n",                       // no CSeq
             "OPTIONS * RTSP/1.0\r\nCSeq 1\r\n\r\n",             // header without colon
             "OPTIONS * RTSP/1.0\r\n folded\r\nCSeq: 1\r\n\r\n", // continuation of nothing
             "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\nContent-Length: -3\r\n\r\n",
             "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 12345678901\r\n\r\n",
             "GET / HTTP/1.1\r\nCSeq: 1\r\n\r\n",
             "OPTIONS * RTSP/one\r\nCSeq: 1\r\n\r\n",
         }) {
        EXPECT_EQ(rtsp::ParseResult::badRequest, parse(text, request)) << text;
    }
    EXPECT_EQ(rtsp::ParseResult::versionNotSupported,
              parse("OPTIONS * RTSP/2.0\r\nCSeq: 3\r\n\r\n", request));
    EXPECT_EQ("3", request.cseq);
    EXPECT_EQ(rtsp::ParseResult::ok, parse("OPTIONS * RTSP/1.0\nCSeq: 4\nContent-Length: 12\n\n", request));
    EXPECT_EQ(12u, request.contentLength);
}

TEST(RtspRequest, ALoneCrOrANulAnywhereRefusesTheWholeRequest)
{
    // A client that reads a lone CR as a line end would see what follows it in an echoed value as a
    // header of its own: nothing of such a request may be kept, its CSeq included.
    const std::string good =
        "DESCRIBE rtsp://h/by-name/A RTSP/1.0\r\nCSeq: 7\r\nAccept: application/sdp\r\n\r\n";
    rtsp::Request request;
    ASSERT_EQ(rtsp::ParseResult::ok, rtsp::parseRequest(good.data(), good.size(), request));
    for (std::size_t at = 0; at + 4 <= good.size(); ++at) {
        if (good[at] == '\r' || good[at] == '\n')
            continue;
        for (char bad : {'\r', '\0'}) {
            std::string text = good;
            text.insert(at, 1, bad);
            EXPECT_EQ(rtsp::ParseResult::badRequest, rtsp::parseRequest(text.data(), text.size(), request))
                << at;
            EXPECT_TRUE(request.cseq.empty() && request.headers.empty()) << at;
        }
    }
}

TEST(RtspUrl, SplitsPathIntoPreSuffixAndSuffix)
{
    struct Case
    {
        char const* url;
        char const* pre;
        char const* suffix;
    } cases[] = {
        {"rtsp://10.0.0.1:8080/by-name/Studio A", "by-name", "Studio A"},
        {"rtsp://host/a/b/c", "a/b", "c"},
        {"rtsp://host/single", "", "single"},
        {"rtsp://host:554", "", ""},
        {"rtsp://host/", "", ""},
        {"RTSP://HOST/x/", "x", ""},
        {"/by-name/x", "by-name", "x"},
        {"*", "", ""},
        {"/a/rtsp://b/c", "a/rtsp://b", "c"},
    };
    for (const Case& c : cases) {
        std::string pre = "?";
        std::string suffix = "?";
        rtsp::splitUrl(c.url, pre, suffix);
        EXPECT_EQ(c.pre, pre) << c.url;
        EXPECT_EQ(c.suffix, suffix) << c.url;
    }
}

TEST(RtspUrl, PercentEscapingRoundTrips)
{
    EXPECT_EQ("Studio A", rtsp::percentDecode("Studio%20A"));
    EXPECT_EQ("50%", rtsp::percentDecode("50%"));
    EXPECT_EQ("%zz%4", rtsp::percentDecode("%zz%4"));
    EXPECT_EQ("\xE4", rtsp::percentDecode("%e4"));
    EXPECT_EQ("by-name/Studio%20A", rtsp::percentEncodePath("by-name/Studio A"));
    EXPECT_EQ("a%25b%3F%23%22%E4", rtsp::percentEncodePath("a%b?#\"\xE4"));
    const std::string awkward = "x/ %\t\x7F\xFF~:@";
    EXPECT_EQ(awkward, rtsp::percentDecode(rtsp::percentEncodePath(awkward)));
}

TEST(RtspResponse, DateHeaderOfAFileTime)
{
    // 2024-01-02 03:04:05 UTC as a FILETIME.
    EXPECT_EQ("Date: Tue, 02 Jan 2024 03:04:05 GMT\r\n", rtsp::dateHeader(133486382450000000ull));
}

} // namespace
