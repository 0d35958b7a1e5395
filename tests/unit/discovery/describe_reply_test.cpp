// The reply to a DESCRIBE: when it counts as complete, how long it may grow, and the session
// description cut out of it.
#include "afx/afxplatform.h"
#include "discovery/DescribeReply.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>

using Corvane::CDescribeReply;

namespace {

const std::string kSDP = "v=0\r\no=- 1 1 IN IP4 10.0.0.5\r\ns=Studio A\r\nc=IN IP4 239.1.2.3/32\r\nt=0 0\r\n";

std::string Reply(const std::string& status, const std::string& headers, const std::string& body)
{
    return "RTSP/1.0 " + status + "\r\nCSeq: 0\r\n" + headers + "\r\n" + body;
}

std::string WithLength(const std::string& status, const std::string& body)
{
    return Reply(status,
                 "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) + "\r\n",
                 body);
}

void Add(CDescribeReply& reply, const std::string& bytes)
{
    reply.Append(bytes.data(), static_cast<int>(bytes.size()));
}

} // namespace

TEST(DescribeReply, WithoutContentLengthTheConnectionEndsTheBody)
{
    CDescribeReply reply;
    Add(reply, Reply("200 OK", "content-type: Application/SDP\r\n", kSDP));
    EXPECT_FALSE(reply.IsAccepted(false));
    EXPECT_TRUE(reply.IsAccepted(true));
    // A header that has not ended is no reply, whatever happens to the connection.
    CDescribeReply unfinished;
    Add(unfinished, "RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n");
    EXPECT_FALSE(unfinished.IsAccepted(true));
}

TEST(DescribeReply, StatusAndContentType)
{
    struct Case
    {
        std::string bytes;
        bool accepted;
    } cases[] = {
        {WithLength("200 OK", kSDP), true},
        {WithLength("200 ok", kSDP), true},
        {"\r\n\r\n" + WithLength("200 OK", kSDP), true},
        {"RTSP/1.0 200 OK\nContent-Type: application/sdp\nContent-Length: 9\n\nv=0\ns=x\r\n", true},
        {Reply("200 OK", "Content-Type: Application/SDP; charset=utf-8\r\n", kSDP), true},
        // Only an RTSP 200 with an application/sdp Content-Type, a body without NUL and a session name.
        {"HTTP/1.1 200 OK\r\nContent-Type: application/sdp\r\n\r\n" + kSDP, false},
        {"RTSP/1.0 2000 OK\r\nContent-Type: application/sdp\r\n\r\n" + kSDP, false},
        {Reply("200 OK", "Content-Type: text/plain\r\nX-Note: application/sdp\r\n", kSDP), false},
        {Reply("200 OK", "Content-Type: application/sdpx\r\n", kSDP), false},
        {Reply("200 OK", "Content-Type: application/sdp\r\n", kSDP + std::string(1, '\0') + "a=x\r\n"),
         false},
        {Reply("200 OK", "Content-Type: application/sdp\r\n", "v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\ns= \r\n"),
         false},
        {Reply("200 OK", "Content-Type: application/sdp\r\n", "v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\n"), false},
        // A failure status is never taken, even when its body talks about SDP.
        {WithLength("404 Not Found", "application/sdp\r\n" + kSDP), false},
        {WithLength("404 Stream 200 OK gone", kSDP), false},
        {WithLength("2000 OK", kSDP), false},
        {Reply("200 OK", "Content-Type: text/plain\r\nContent-Length: 15\r\n", "application/sdp"), false},
        {Reply("200 OK", "Content-Type: application/sdp\r\nContent-Length: 0\r\n", ""), false},
        {"garbage without any line end", false},
        {"", false},
    };
    for (const Case& c : cases) {
        CDescribeReply reply;
        Add(reply, c.bytes);
        EXPECT_EQ(reply.IsAccepted(true), c.accepted) << c.bytes;
    }
}

TEST(DescribeReply, ContentLengthSpellings)
{
    for (const char* field : {"content-length: 8", "CONTENT-LENGTH:8", "Content-Length \t:  8"}) {
        CDescribeReply reply;
        Add(reply,
            Reply("200 OK", "Content-Type: application/sdp\r\n" + std::string(field) + "\r\n", "v=0\ns=x"));
        EXPECT_FALSE(reply.IsAccepted(false)) << field;
        Add(reply, "\n");
        EXPECT_TRUE(reply.IsAccepted(false)) << field;
    }
    // A length past the longest reply kept can never be met.
    CDescribeReply huge;
    Add(huge,
        Reply("200 OK", "Content-Type: application/sdp\r\nContent-Length: 99999999999999999999\r\n", kSDP));
    EXPECT_FALSE(huge.IsAccepted(true));
}

TEST(DescribeReply, OversizedReplyIsCutAndRefused)
{
    const std::string header = Reply("200 OK", "Content-Type: application/sdp\r\n", "");
    CDescribeReply reply;
    Add(reply, header);
    const std::string block(8192, 'x');
    while (reply.GetSize() + static_cast<int>(block.size()) <= CDescribeReply::kMaxBytes) {
        Add(reply, block);
    }
    EXPECT_FALSE(reply.IsTooLong());
    Add(reply, block);
    Add(reply, block);
    EXPECT_TRUE(reply.IsTooLong());
    EXPECT_EQ(reply.GetSize(), CDescribeReply::kMaxBytes);
    EXPECT_FALSE(reply.IsAccepted(true));
    reply.Clear();
    EXPECT_FALSE(reply.IsTooLong());
    EXPECT_EQ(reply.GetSize(), 0);
}

TEST(DescribeReply, TextIsConvertedWholeFromTheAnsiCodePage)
{
    // "Grün" in code page 1252, split between two blocks right inside the word.
    CDescribeReply reply;
    Add(reply, "s=Gr");
    Add(reply, "\xfcn");
    EXPECT_EQ(Text(reply.GetText()), L"s=Gr\u00fcn");
    reply.SetText(L"abc\u00e4");
    EXPECT_EQ(reply.GetSize(), 4);
    EXPECT_EQ(Text(reply.GetText()), L"abc\u00e4");
    reply.SetText(L"");
    EXPECT_EQ(reply.GetSize(), 0);
}

TEST(DescribeReply, TheSessionDescriptionOfTheBody)
{
    bool utf8 = false;
    CDescribeReply reply;
    Add(reply, WithLength("200 OK", kSDP) + "trailing bytes");
    EXPECT_EQ(Text(reply.GetSDP(utf8)), std::wstring(kSDP.begin(), kSDP.end()));
    EXPECT_TRUE(utf8);
    // Start in capitals; a "v=" inside a header value is no start of a description.
    CDescribeReply capitals;
    Add(capitals, "RTSP/1.0 200 OK\r\nContent-Type: APPLICATION/SDP\r\nServer: dev=1\r\n\r\nV=0\r\ns=x\r\n");
    EXPECT_TRUE(capitals.IsAccepted(true));
    EXPECT_EQ(Text(capitals.GetSDP(utf8)), L"V=0\r\ns=x\r\n");
    // UTF-8 is read as UTF-8; other bytes in code page 1252.
    for (const auto& c : {std::make_pair(std::string("s=Stra\xc3\x9f"
                                                     "e\r\n"),
                                         true),
                          std::make_pair(std::string("s=Stra\xdf"
                                                     "e\r\n"),
                                         false)}) {
        CDescribeReply named;
        Add(named, Reply("200 OK", "Content-Type: application/sdp\r\n", "v=0\r\n" + c.first));
        EXPECT_EQ(Text(named.GetSDP(utf8)), L"v=0\r\ns=Stra\u00dfe\r\n");
        EXPECT_EQ(utf8, c.second);
    }
    CDescribeReply none;
    Add(none, "RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\nno description");
    EXPECT_TRUE(none.GetSDP(utf8).IsEmpty());
}

TEST(DescribeReply, CutAndCorruptedRepliesAreRefusedCleanly)
{
    const std::string whole = WithLength("200 OK", kSDP);
    // Cut anywhere: incomplete, even when the peer has gone (the length is known); whole once the
    // rest arrives.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        CDescribeReply reply;
        Add(reply, whole.substr(0, cut));
        EXPECT_FALSE(reply.IsAccepted(false)) << "cut at " << cut;
        EXPECT_FALSE(reply.IsAccepted(true)) << "cut at " << cut;
        bool utf8;
        reply.GetSDP(utf8);
        Add(reply, whole.substr(cut));
        EXPECT_TRUE(reply.IsAccepted(false)) << "cut at " << cut;
    }
    for (size_t at = 0; at < whole.size(); ++at) {
        std::string flipped = whole;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x5a);
        CDescribeReply reply;
        Add(reply, flipped);
        reply.IsAccepted(true); // any verdict, never a crash
        bool utf8;
        reply.GetSDP(utf8);
    }
}
