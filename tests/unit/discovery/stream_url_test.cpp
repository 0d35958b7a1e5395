// The RTSP URL of a stream record: built from the resolved address, port and escaped instance name.
#include "afx/afxplatform.h"
#include "discovery/StreamInfo.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>

using Corvane::CStreamInfo;

namespace {

void Resolve(CStreamInfo& record, const wchar_t* ip, int port)
{
    record.SetClientIP(ip);
    record.m_Port = port;
    record.m_Resolved = 1;
}

} // namespace

TEST(StreamRTSPURL, FoundInstanceWithEscapedName)
{
    CStreamInfo record(nullptr, CStreamInfo::kSourceDiscovery);
    record.SetName(L"Studio A");
    Resolve(record, L"10.0.0.5", 8080);
    EXPECT_EQ(Text(record.GetStreamRTSPURL()), L"rtsp://10.0.0.5:8080/by-name/Studio%20A");

    record.SetName(L"Mix: L&R @ 50% [main]_1/2 #a?b=c");
    EXPECT_EQ(Text(record.GetStreamRTSPURL()),
              L"rtsp://10.0.0.5:8080/by-name/Mix%3a%20L%26R%20%40%2050%25%20%5bmain%5d%5f1/2%20%23a%3fb%3dc");
    // Names are UTF-8 on the wire: the path carries their bytes escaped (the escaping itself is the
    // string type's); control characters never go into the request line raw.
    record.SetName(L"Gr\u00fcn\r\nX: 1\t");
    EXPECT_EQ(Text(record.GetStreamRTSPURL()), L"rtsp://10.0.0.5:8080/by-name/Gr%c3%bcn%0d%0aX%3a%201%09");
}

TEST(StreamRTSPURL, NoURLBeforeTheRecordIsResolved)
{
    CStreamInfo record(nullptr, CStreamInfo::kSourceDiscovery);
    record.SetName(L"Studio A");
    EXPECT_TRUE(record.GetStreamRTSPURL().IsEmpty()) << "port -1, no address";

    // The resolve has answered with the port, the address lookup not yet.
    record.m_Port = 8080;
    EXPECT_TRUE(record.GetStreamRTSPURL().IsEmpty());

    Resolve(record, L"10.0.0.5", -1);
    EXPECT_TRUE(record.GetStreamRTSPURL().IsEmpty());
    Resolve(record, L"", 8080);
    EXPECT_TRUE(record.GetStreamRTSPURL().IsEmpty());
}

TEST(StreamRTSPURL, TypedURLHasItsPathEscaped)
{
    CStreamInfo typed(nullptr, 4);
    typed.SetName(L"RTSP://user:pw@Sender:554/my stream?x=1");
    EXPECT_EQ(Text(typed.GetStreamRTSPURL()), L"RTSP://user:pw@Sender:554/my%20stream%3fx%3d1");
    typed.SetName(L"rtsp://sender/B\u00fchne\r\n");
    EXPECT_EQ(Text(typed.GetStreamRTSPURL()), L"rtsp://sender/B%c3%bchne%0d%0a");
    typed.SetName(L"rtsp://sender");
    EXPECT_EQ(Text(typed.GetStreamRTSPURL()), L"rtsp://sender");
    // Not split: the text as typed.
    typed.SetName(L"rtsp://sender:0/a b");
    EXPECT_EQ(Text(typed.GetStreamRTSPURL()), L"rtsp://sender:0/a b");
    typed.SetName(L"http://sender/a b");
    EXPECT_TRUE(typed.GetStreamRTSPURL().IsEmpty());

    CStreamInfo other(nullptr, 2);
    other.SetName(L"rtsp://sender/x");
    Resolve(other, L"10.0.0.5", 554);
    EXPECT_TRUE(other.GetStreamRTSPURL().IsEmpty());
}
