// SDP text helpers: line splitting and trimming, the values read from an SDP, and the rewriting
// into one fixed order before a SAP announcement.
#include "afx/afxplatform.h"
#include "gateway/SdpHelpers.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const CParsedSdp& sdp)
{
    std::vector<std::string> lines;
    for (const CMfxString& line : sdp.m_Lines) {
        lines.push_back(Narrow(line));
    }
    return lines;
}

struct SdpValues
{
    const char* what;
    const wchar_t* sdp;
    const char* name;
    const char* originLine;
    const char* connection;
    const char* sessionId;
    const char* originAddress;
    const char* sourceFilter;
};

const SdpValues kSdpValues[] = {
    {"a complete SDP",
     L"v=0\r\no=- 258 1 IN IP4 192.168.1.10\r\ns=Stream A\r\nc=IN IP4 239.1.2.3/32\r\nt=0 0\r\n"
     L"m=audio 5004 RTP/AVP 98\r\na=source-filter: incl IN IP4 239.1.2.3 192.168.1.99\r\n",
     "Stream A", "- 258 1 IN IP4 192.168.1.10", "239.1.2.3/32", "258", "192.168.1.10", "192.168.1.99"},
    {"lone LF and CR, blanks around lines, runs of blanks between tokens",
     L"  v=0 \n\no=user  7   2 IN  IP4 10.0.0.1  \rs= spaced name \r\nc=IN IP4   239.0.0.9  \n",
     " spaced name", "user  7   2 IN  IP4 10.0.0.1", "239.0.0.9", "7", "10.0.0.1", ""},
    {"lower-case address type: no origin address, still a connection address",
     L"o=- 1 1 in ip4 10.0.0.1\r\ns=x\r\nc=in Ip4 239.0.0.1\r\n", "x", "- 1 1 in ip4 10.0.0.1", "239.0.0.1",
     "1", "", ""},
    {"a tab is no separator", L"o=-\t5 1 IN IP4 10.0.0.1\r\ns=x\r\n", "x", "-\t5 1 IN IP4 10.0.0.1", "", "1",
     "", ""},
    {"prefixes are case-sensitive and must stand first", L"O=- 9 9 IN IP4 1.1.1.1\r\nS=Upper\r\nxs=inner\r\n",
     "", "", "", "", "", ""},
    {"the first of several lines counts",
     L"s=first\r\ns=second\r\no=a 1 1 IN IP4 1.1.1.1\r\no=b 2 2 IN IP4 2.2.2.2\r\n", "first",
     "a 1 1 IN IP4 1.1.1.1", "", "1", "1.1.1.1", ""},
    {"only the first c= line is examined",
     L"s=x\r\nc=IN IP6 ff02::1\r\nm=audio 1 RTP/AVP 0\r\nc=IN IP4 1.2.3.4\r\n", "x", "", "", "", "", ""},
    {"a media-level c= line when the session has none",
     L"s=x\r\nt=0 0\r\nm=audio 1 RTP/AVP 0\r\nc=IN IP4 239.5.5.5/15\r\n", "x", "", "239.5.5.5/15", "", "",
     ""},
    {"a source filter at session level is not used",
     L"o=- 1 1 IN IP4 10.0.0.1\r\na=source-filter: incl IN IP4 239.1.1.1 10.9.9.9\r\nm=audio 1 RTP/AVP 0\r\n",
     "", "- 1 1 IN IP4 10.0.0.1", "", "1", "10.0.0.1", ""},
    {"a source filter in the second media section only is not used",
     L"m=audio 1 RTP/AVP 0\r\na=x\r\nm=audio 2 RTP/AVP 0\r\na=source-filter: incl IN IP4 239.1.1.1 "
     L"10.9.9.9\r\n",
     "", "", "", "", "", ""},
    {"excl source filters and short ones give nothing",
     L"m=audio 1 RTP/AVP 0\r\na=source-filter: excl IN IP4 239.1.1.1 10.9.9.9\r\n", "", "", "", "", "", ""},
    {"the first source filter of the first section counts",
     L"m=audio 1 RTP/AVP 0\r\na=source-filter: incl IN IP4 239.1.1.1\r\n"
     L"a=source-filter: incl IN IP4 239.1.1.1 10.9.9.9\r\n",
     "", "", "", "", "", ""},
    {"an origin of one token", L"o=lonely\r\n", "", "lonely", "", "", "", ""},
    {"no text at all", L"", "", "", "", "", "", ""},
};

} // namespace

TEST(SdpHelpers, ReadValuesFromTheTable)
{
    for (const SdpValues& row : kSdpValues) {
        SCOPED_TRACE(row.what);
        CParsedSdp sdp = ParseSdpLines(row.sdp);
        EXPECT_EQ(Narrow(GetSdpSessionName(sdp)), row.name);
        EXPECT_EQ(Narrow(GetSdpOriginLine(sdp)), row.originLine);
        EXPECT_EQ(Narrow(GetSdpConnectionAddress(sdp)), row.connection);
        EXPECT_EQ(Narrow(GetSdpSessionId(sdp)), row.sessionId);
        EXPECT_EQ(Narrow(GetSdpOriginAddress(sdp)), row.originAddress);
        EXPECT_EQ(Narrow(GetSdpSourceFilterAddress(sdp)), row.sourceFilter);
    }
}

TEST(SdpHelpers, LinesAreSplitAtCrOrLfAndTrimmedOfBlanksOnly)
{
    CParsedSdp sdp = ParseSdpLines(L"  v=0 \r\n\r\n   \r\rs=x\t\n\ta=tab \n");
    EXPECT_EQ(Lines(sdp), (std::vector<std::string>{"v=0", "", "s=x\t", "\ta=tab"}));
    EXPECT_EQ(Narrow(sdp.m_Text), "  v=0 \r\n\r\n   \r\rs=x\t\n\ta=tab \n");

    ClearStringVector(sdp);
    EXPECT_TRUE(sdp.m_Lines.empty());
    EXPECT_TRUE(sdp.m_Text.IsEmpty());
}

TEST(SdpHelpers, FindLineNeedsThePrefixAtTheStart)
{
    CParsedSdp sdp = ParseSdpLines(L"v=0\r\nxs=inner\r\ns=name\r\nm=audio\r\n");
    EXPECT_EQ(FindSdpLine(sdp, L"s="), 2);
    EXPECT_EQ(FindSdpLine(sdp, L"v="), 0);
    EXPECT_EQ(FindSdpLine(sdp, L"b="), -1);
    EXPECT_EQ(Narrow(GetSdpLineValue(sdp, L"a=")), "");
    EXPECT_EQ(Narrow(GetSdpLineValue(ParseSdpLines(L"m=a\r\na=source-filter:xyz\r\n"), L"a=source-filter:")),
              "xyz");
}

namespace {

struct NormalizeGolden
{
    const char* what;
    const wchar_t* sdp;
    const wchar_t* normalized;
};

const NormalizeGolden kNormalizeGoldens[] = {
    {"a session attribute moves behind the m line",
     L"v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=A\r\nc=IN IP4 239.1.1.1\r\nt=0 0\r\na=recvonly\r\nm=audio 5004 "
     L"RTP/AVP "
     L"98\r\na=rtpmap:98 L24/48000/2\r\n",
     L"v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=A\r\nc=IN IP4 239.1.1.1\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
     L"a=recvonly\r\na=rtpmap:98 L24/48000/2\r\n"},
    {"session lines dropped, media lines kept, later sections dropped",
     L"a=before-name\r\nv=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=Name\r\ni=session "
     L"info\r\nu=http://x\r\nb=AS:100\r\n"
     L"t=0 0\r\na=recvonly\r\nm=audio 5004 RTP/AVP 98\r\ni=media info\r\nc=IN IP4 239.1.1.1\r\nb=AS:64\r\n"
     L"t=1 2\r\ns=again\r\na=rtpmap:98 L24/48000/2\r\n   \r\nm=video 5006 RTP/AVP 99\r\na=rtpmap:99 H264\r\n"
     L"c=IN IP4 239.2.2.2\r\n",
     L"v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=Name\r\nc=IN IP4 239.1.1.1\r\nt=0 0\r\nm=audio 5004 RTP/AVP 98\r\n"
     L"i=session info\r\na=recvonly\r\ni=media info\r\nb=AS:64\r\na=rtpmap:98 L24/48000/2\r\n\r\n"},
    {"no media section: the head and the session attributes after s",
     L"v=0\no=x 1 1 IN IP4 1.1.1.1\ns=n\ni=info\nt=0 0\na=one\nc=IN IP4 1.1.1.1\nz=zone\n",
     L"v=0\r\no=x 1 1 IN IP4 1.1.1.1\r\ns=n\r\nc=IN IP4 1.1.1.1\r\nt=0 0\r\ni=info\r\na=one\r\n"},
    {"the only c line, in the second section, moves to the head",
     L"v=0\r\no=x\r\ns=n\r\nt=0 0\r\nm=audio 1 RTP/AVP 0\r\na=x\r\nm=video 2 RTP/AVP 0\r\nc=IN IP4 "
     L"2.2.2.2\r\n",
     L"v=0\r\no=x\r\ns=n\r\nc=IN IP4 2.2.2.2\r\nt=0 0\r\nm=audio 1 RTP/AVP 0\r\na=x\r\n"},
    {"nothing", L"", L""},
};

} // namespace

TEST(SdpHelpers, NormalizeGoldens)
{
    for (const NormalizeGolden& golden : kNormalizeGoldens) {
        SCOPED_TRACE(golden.what);
        EXPECT_EQ(Narrow(NormalizeSdp(ParseSdpLines(golden.sdp))), Narrow(golden.normalized));
    }
}
