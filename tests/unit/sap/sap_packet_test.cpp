// SAP packets: the announcement built for an SDP, byte for byte, and the acceptance rules of a
// received datagram.
#include "afx/afxplatform.h"
#include "gateway/MulticastSocket.h"
#include "gateway/SapPacket.h"
#include "gateway/SdpHelpers.h"
#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// The eight header bytes followed by what comes after them.
Bytes Datagram(BYTE flags, BYTE authLength, BYTE h2, BYTE h3, BYTE o1, BYTE o2, BYTE o3, BYTE o4,
               const std::string& afterHeader)
{
    const BYTE header[] = {flags, authLength, h2, h3, o1, o2, o3, o4};
    Bytes bytes(sizeof(header) + afterHeader.size());
    std::copy(header, header + sizeof(header), bytes.begin());
    std::copy(afterHeader.begin(), afterHeader.end(), bytes.begin() + sizeof(header));
    return bytes;
}

Bytes Datagram(BYTE flags, BYTE authLength, const std::string& afterHeader)
{
    return Datagram(flags, authLength, 0x12, 0x34, 10, 0, 0, 2, afterHeader);
}

int g_randomValue = 0;
int g_randomCalls = 0;
int FixedRandom()
{
    ++g_randomCalls;
    return g_randomValue;
}

Bytes Header(BYTE b2, BYTE b3, BYTE o1, BYTE o2, BYTE o3, BYTE o4)
{
    const char type[] = "application/sdp";
    return Datagram(0x20, 0, b2, b3, o1, o2, o3, o4, std::string(type, sizeof(type)));
}

Bytes Concat(Bytes head, const std::string& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Build(const wchar_t* sdp, BOOL normalize = FALSE, const wchar_t* interfaceIP = L"10.77.0.1")
{
    return BuildSapPacket(sdp, normalize, interfaceIP, FixedRandom);
}

const wchar_t kSdp[] =
    L"v=0\r\no=- 258 1 IN IP4 192.168.1.10\r\ns=Stream A\r\nc=IN IP4 239.1.2.3/32\r\nt=0 0\r\n"
    L"a=recvonly\r\nm=audio 5004 RTP/AVP 98\r\n";

} // namespace

TEST(SapPacketBuild, AnnouncementByteForByte)
{
    EXPECT_EQ(Build(kSdp), Concat(Header(0x02, 0x01, 192, 168, 1, 10), Narrow(kSdp)));

    // Normalised: the session attribute follows the m line.
    std::string normalized = Narrow(NormalizeSdp(ParseSdpLines(kSdp)));
    EXPECT_NE(normalized, Narrow(kSdp));
    EXPECT_EQ(Build(kSdp, TRUE), Concat(Header(0x02, 0x01, 192, 168, 1, 10), normalized));

    // The payload is UTF-8 whatever the ANSI code page.
    Bytes packet = Build(L"o=- 513 1 IN IP4 1.2.3.4\r\ns=Z\u00fcrich\r\n");
    EXPECT_EQ(packet,
              Concat(Header(0x01, 0x02, 1, 2, 3, 4), "o=- 513 1 IN IP4 1.2.3.4\r\ns=Z\xC3\xBCrich\r\n"));
}

TEST(SapPacketBuild, OriginComesFromSourceFilterThenOriginThenInterface)
{
    const wchar_t* filtered = L"o=- 1 1 IN IP4 192.168.1.10\r\ns=x\r\nm=audio 1 RTP/AVP 0\r\n"
                              L"a=source-filter: incl IN IP4 239.1.1.1 172.16.0.5\r\n";
    Bytes packet = Build(filtered);
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{172, 16, 0, 5}));

    const wchar_t* sessionFilter = L"o=- 1 1 IN IP4 192.168.1.10\r\na=source-filter: incl IN IP4 239.1.1.1 "
                                   L"172.16.0.5\r\ns=x\r\nm=audio 1 RTP/AVP 0\r\n";
    packet = Build(sessionFilter);
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{192, 168, 1, 10}));

    packet = Build(L"o=- 1 1 IN IP4 host.example\r\ns=x\r\n");
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

    packet = Build(L"o=- 1 1 in ip4 1.1.1.1\r\ns=x\r\n");
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{10, 77, 0, 1}));

    packet = Build(L"s=x\r\n", FALSE, L"");
    EXPECT_EQ(Bytes(packet.begin() + 4, packet.begin() + 8), (Bytes{0, 0, 0, 0}));
}

TEST(SapPacketBuild, MessageHashFromSessionIdOrRandom)
{
    struct HashCase
    {
        const wchar_t* sessionId;
        WORD hash; // 0: the random fallback
    };
    const HashCase cases[] = {
        {L"258", 0x0102},
        {L"  +7x", 7},
        {L"9223372036854775806", 0xFFFE},
        {L"-9223372036854775807", 0x0001},
        {L"65537", 1},
        {L"0", 0},
        {L"abc", 0},
        {L"", 0},
        {L"65535", 0},
        {L"131071", 0},
        {L"-1", 0},
        {L"9223372036854775807", 0},
        {L"9223372036854775808", 0},  // 2^63: clamped, not wrapped to -2^63 (low bits 0 as well)
        {L"9223372036854841343", 0},  // 2^63 + 65535: clamped rather than wrapped to 0x...FFFF
        {L"18446744073709551617", 0}, // 2^64 + 1: clamped rather than wrapped to 1
        {L"-9223372036854775809", 0}, // below -2^63: clamped
        {L"99999999999999999999999", 0},
    };
    g_randomValue = 41;
    for (const HashCase& c : cases) {
        SCOPED_TRACE(Narrow(c.sessionId));
        g_randomCalls = 0;
        WORD hash = SapMessageHash(c.sessionId, FixedRandom);
        EXPECT_EQ(hash, c.hash == 0 ? 42 : c.hash);
        EXPECT_EQ(g_randomCalls, c.hash == 0 ? 1 : 0);
    }
    g_randomValue = 32767;
    EXPECT_EQ(SapMessageHash(L"0", FixedRandom), 32768);
    g_randomValue = 0;
    EXPECT_EQ(SapMessageHash(L"0", FixedRandom), 1);

    // The session id is the second token of the origin line.
    g_randomValue = 99;
    Bytes packet = Build(L"o=- 65535 1 IN IP4 1.1.1.1\r\ns=x\r\n");
    EXPECT_EQ(packet[2], 100);
    EXPECT_EQ(packet[3], 0);
}

namespace {

CSapMessage Read(const Bytes& bytes)
{
    return ReadSapPacket(bytes.data(), static_cast<int>(bytes.size()));
}

const std::string kPayloadSdp = "v=0\r\no=- 7 1 IN IP4 10.0.0.2\r\ns=Peer\r\nc=IN IP4 239.9.9.9/32\r\n";
const std::string kTyped = std::string("application/sdp") + '\0' + kPayloadSdp;

void ExpectRefused(const Bytes& datagram, const std::string& line)
{
    SCOPED_TRACE(line);
    CSapMessage message = Read(datagram);
    EXPECT_EQ(message.m_Result, CSapMessage::Rejected);
    EXPECT_EQ(Narrow(message.m_Rejection), line);
}

} // namespace

TEST(SapPacketRead, RejectionsEachWithTheirOwnLine)
{
    struct RejectCase
    {
        Bytes datagram;
        const char* line;
    };
    const RejectCase cases[] = {
        {Bytes{0x20, 0, 0, 0, 0, 0, 0}, "Received invalid SAP message - ignoring (size 7 Bytes)"},
        {Bytes{}, "Received invalid SAP message - ignoring (size 0 Bytes)"},
        {Datagram(0x23, 0, kTyped), "Received encrypted SAP message - ignoring."},
        {Datagram(0x21, 0, kTyped), "Received compressed SAP message - ignoring."},
        {Datagram(0x30, 0, kTyped), "Received SAP IPv6 message - ignoring."},
        {Datagram(0x37, 0, kTyped), "Received encrypted SAP message - ignoring."},
    };
    for (const RejectCase& c : cases) {
        ExpectRefused(c.datagram, c.line);
    }
}

TEST(SapPacketRead, PayloadStartAndType)
{
    struct AcceptCase
    {
        const char* what;
        Bytes datagram;
        BOOL deletion;
    };
    const AcceptCase cases[] = {
        {"announcement with the SDP payload type", Datagram(0x20, 0, kTyped), FALSE},
        {"deletion", Datagram(0x24, 0, kTyped), TRUE},
        {"version and R bits are not examined", Datagram(0xE8, 0, kTyped), FALSE},
        {"no payload type", Datagram(0x20, 0, kPayloadSdp), FALSE},
        {"another payload type", Datagram(0x20, 0, std::string("text/x-other") + '\0' + kPayloadSdp), FALSE},
        {"two words of authentication data", Datagram(0x20, 2, "AUTHDATA" + kTyped), FALSE},
        {"authentication data that holds a zero byte", Datagram(0x24, 1, std::string("\0\0v\0", 4) + kTyped),
         TRUE},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.what);
        CSapMessage message = Read(c.datagram);
        ASSERT_EQ(message.m_Result, CSapMessage::Accepted);
        EXPECT_EQ(message.m_IsDeletion, c.deletion);
        EXPECT_EQ(Narrow(message.m_SDP), kPayloadSdp);
        EXPECT_EQ(Narrow(message.m_Name), "Peer");
        EXPECT_EQ(Narrow(message.m_OriginLine), "- 7 1 IN IP4 10.0.0.2");
        EXPECT_EQ(Narrow(message.m_ConnectionAddress), "239.9.9.9/32");
    }
}

TEST(SapPacketRead, MalformedPayloadsAreRefusedEachWithItsOwnLine)
{
    const std::string typed = std::string("application/sdp") + '\0';
    const std::string invalid = "Received invalid SAP message - ignoring ";
    const struct
    {
        Bytes datagram;
        std::string line;
    } cases[] = {
        {Datagram(0x20, 0, typed + "v=0\r\no=- 1 1 IN IP4 1.1.1.1\r\ns=\r\n"),
         invalid + "(announcement without s= or o=)"},
        {Datagram(0x20, 0, typed + "v=0\r\no=\r\ns=Name\r\n"), invalid + "(announcement without s= or o=)"},
        {Datagram(0x20, 0, typed + "v=0\r\ns=Name\r\n"), invalid + "(announcement without s= or o=)"},
        {Datagram(0x24, 0, typed + "v=0\r\ns=Name\r\n"), invalid + "(deletion without o=)"},
        {Datagram(0x20, 0, "application/sdp without an end " + kPayloadSdp),
         invalid + "(payload type without end)"},
        {Datagram(0x20, 0, ""), invalid + "(empty payload)"},
        {Datagram(0x20, 1, "AUTH"), invalid + "(empty payload)"},
        {Datagram(0x20, 0, typed), invalid + "(empty payload)"},
        {Datagram(0x20, 200, kTyped), invalid + "(authentication data past the end)"},
        {Datagram(0x24, 2, "AUTH"), invalid + "(authentication data past the end)"},
    };
    for (const auto& c : cases) {
        ExpectRefused(c.datagram, c.line);
    }
}

TEST(SapPacketRead, ADeletionNeedsOnlyItsOriginLine)
{
    // As RFC 2974 writes a deletion: the origin line alone, with or without payload type and line end.
    const std::string origin = "o=peer 4242 1 IN IP4 10.77.0.2";
    const Bytes cases[] = {
        Datagram(0x24, 0, std::string("application/sdp") + '\0' + origin + "\r\n"),
        Datagram(0x24, 0, origin),
        Datagram(0x24, 1, "AUTH" + origin + "\n"),
    };
    for (const Bytes& datagram : cases) {
        CSapMessage message = Read(datagram);
        ASSERT_EQ(message.m_Result, CSapMessage::Accepted) << Narrow(message.m_Rejection);
        EXPECT_TRUE(message.m_IsDeletion);
        EXPECT_EQ(Narrow(message.m_OriginLine), "peer 4242 1 IN IP4 10.77.0.2");
        EXPECT_TRUE(message.m_Name.IsEmpty());
    }
    // An announcement still needs its name.
    EXPECT_EQ(Read(Datagram(0x20, 0, origin)).m_Result, CSapMessage::Rejected);
}

TEST(SapPacketRead, CutOrCorruptedDatagramsAreRefusedCleanlyOrReadAsTheyStand)
{
    const Bytes announcement = Build(L"v=0\r\no=- 513 1 IN IP4 1.2.3.4\r\ns=Stream\r\nt=0 0\r\n");
    const Bytes deletion = Datagram(0x24, 0, "o=- 513 1 IN IP4 1.2.3.4\r\n");
    for (const Bytes& whole : {announcement, deletion}) {
        // Cut at every length: what is left is read as it stands (SAP carries no length of its own).
        for (size_t length = 0; length <= whole.size(); ++length) {
            SCOPED_TRACE(length);
            Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            CSapMessage message = ReadSapPacket(cut.data(), static_cast<int>(length));
            if (message.m_Result == CSapMessage::Rejected) {
                EXPECT_EQ(message.m_Rejection.Find(L"Received "), 0);
                continue;
            }
            const std::string originLine = Narrow(message.m_OriginLine);
            EXPECT_FALSE(originLine.empty());
            EXPECT_EQ(std::string("- 513 1 IN IP4 1.2.3.4").compare(0, originLine.size(), originLine), 0);
            if (!message.m_IsDeletion) {
                EXPECT_EQ(originLine, "- 513 1 IN IP4 1.2.3.4");
                EXPECT_EQ(
                    std::string("Stream").compare(0, Narrow(message.m_Name).size(), Narrow(message.m_Name)),
                    0);
            }
        }
        // Every byte flipped: a refusal with its line, or a message with its key.
        for (size_t i = 0; i < whole.size(); ++i) {
            for (BYTE mask : {BYTE(0x01), BYTE(0x04), BYTE(0xFF)}) {
                Bytes flipped = whole;
                flipped[i] ^= mask;
                CSapMessage message = Read(flipped);
                if (message.m_Result == CSapMessage::Rejected) {
                    EXPECT_EQ(message.m_Rejection.Find(L"Received "), 0) << i;
                } else {
                    EXPECT_FALSE(message.m_OriginLine.IsEmpty()) << i;
                }
            }
        }
    }
}

TEST(SapPacketRead, ReadsByLengthAndDecodesUtf8OrAnsi)
{
    // Exactly the largest datagram the socket receives, followed by bytes that are not part of it.
    std::string sdp = "v=0\r\no=- 7 1 IN IP4 10.0.0.2\r\ns=Gro\xDF\r\na=";
    Bytes datagram = Datagram(0x20, 0, std::string("application/sdp") + '\0' + sdp);
    datagram.resize(CMulticastSocket::kReceiveBufferSize, 'x');
    datagram.back() = 'Z';
    Bytes withTail = datagram;
    withTail.insert(withTail.end(), {'\r', '\n', 'T', 'A', 'I', 'L'});

    CSapMessage message = ReadSapPacket(withTail.data(), CMulticastSocket::kReceiveBufferSize);
    ASSERT_EQ(message.m_Result, CSapMessage::Accepted);
    EXPECT_EQ(message.m_SDP.GetLength(), CMulticastSocket::kReceiveBufferSize - 24);
    EXPECT_EQ(message.m_SDP[message.m_SDP.GetLength() - 1], L'Z');
    EXPECT_EQ(message.m_Name, CMfxString(L"Gro\u00df")); // 0xDF in code page 1252

    EXPECT_FALSE(message.m_SdpUtf8);
    // The gateway's own UTF-8 announcement is read back as UTF-8.
    Bytes own = Build(L"o=- 513 1 IN IP4 1.2.3.4\r\ns=Z\u00fcrich\r\n");
    message = Read(own);
    ASSERT_EQ(message.m_Result, CSapMessage::Accepted);
    EXPECT_EQ(message.m_Name, CMfxString(L"Z\u00fcrich"));
    EXPECT_TRUE(message.m_SdpUtf8);
    EXPECT_EQ(Narrow(message.m_OriginLine), "- 513 1 IN IP4 1.2.3.4");
}
