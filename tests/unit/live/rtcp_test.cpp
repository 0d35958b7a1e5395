// RTCP packet bytes, validation of received packets and the report interval.
#include "live/rtcp_packets.hh"

#include <gtest/gtest.h>

#include <string>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes senderReportAndCname(std::uint32_t ssrc, char const* cname)
{
    Bytes packet;
    rtcp::appendSenderReport(packet, ssrc, 0x0102030405060708ull, 0x11223344, 0, 0);
    rtcp::appendSdesCname(packet, ssrc, cname);
    return packet;
}

Bytes receiverReport(std::uint32_t ssrc)
{
    return Bytes{0x80,
                 201,
                 0,
                 1,
                 static_cast<unsigned char>(ssrc >> 24),
                 static_cast<unsigned char>(ssrc >> 16),
                 static_cast<unsigned char>(ssrc >> 8),
                 static_cast<unsigned char>(ssrc)};
}

TEST(RtcpPackets, SenderReportSdesAndByeBytes)
{
    Bytes packet = senderReportAndCname(0xA1B2C3D4, "host");
    rtcp::appendBye(packet, 0xA1B2C3D4);
    const Bytes expected = {
        // SR: V=2, RC=0, PT=200, length 6; SSRC; NTP; RTP timestamp; packet and octet counts
        0x80, 200, 0, 6, 0xA1, 0xB2, 0xC3, 0xD4, 1, 2, 3, 4, 5, 6, 7, 8, 0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0,
        0, 0, 0, 0,
        // SDES: V=2, SC=1, PT=202, length 3; SSRC; CNAME item "host"; end and padding
        0x81, 202, 0, 3, 0xA1, 0xB2, 0xC3, 0xD4, 1, 4, 'h', 'o', 's', 't', 0, 0,
        // BYE: V=2, SC=1, PT=203, length 1; SSRC
        0x81, 203, 0, 1, 0xA1, 0xB2, 0xC3, 0xD4};
    EXPECT_EQ(expected, packet);

    std::vector<rtcp::PacketInfo> parsed;
    ASSERT_TRUE(rtcp::parseCompound(packet.data(), packet.size(), parsed));
    ASSERT_EQ(3u, parsed.size());
    EXPECT_EQ(rtcp::kSenderReport, parsed[0].type);
    EXPECT_EQ(rtcp::kSourceDescription, parsed[1].type);
    EXPECT_EQ(rtcp::kBye, parsed[2].type);
    EXPECT_EQ(std::vector<std::uint32_t>{0xA1B2C3D4}, parsed[2].ssrcs);
}

TEST(RtcpPackets, CnameIsPaddedAndBoundedTo255Bytes)
{
    for (std::size_t length : {0u, 1u, 2u, 3u, 4u, 5u, 100u, 255u, 300u}) {
        const std::string cname(length, 'c');
        Bytes packet;
        rtcp::appendSdesCname(packet, 1, cname.c_str());
        const std::size_t sent = length > 255 ? 255 : length;
        ASSERT_EQ(0u, packet.size() % 4) << length;
        EXPECT_EQ(sent, packet[9]) << length;
        EXPECT_EQ((packet.size() / 4 - 1), std::size_t(packet[2]) << 8 | packet[3]);
        EXPECT_GE(packet.size(), 10 + sent + 1) << "needs a terminating zero";
        EXPECT_EQ(0, packet[10 + sent]);
    }
    Bytes packet;
    rtcp::appendSdesCname(packet, 1, nullptr);
    EXPECT_EQ(0, packet[9]);
}

TEST(RtcpPackets, InvalidCompoundPacketsAreRefused)
{
    const Bytes good = senderReportAndCname(7, "abc");
    std::vector<rtcp::PacketInfo> parsed;
    ASSERT_TRUE(rtcp::parseCompound(good.data(), good.size(), parsed));

    Bytes wrongVersion = good;
    wrongVersion[0] = 0x40;
    Bytes startsWithSdes(good.begin() + 28, good.end());
    Bytes lengthTooLong = good;
    lengthTooLong[3] = 7;
    Bytes truncated(good.begin(), good.end() - 4);
    Bytes paddedFirst = good;
    paddedFirst[0] |= 0x20;
    Bytes sdesItemOverrun = good;
    sdesItemOverrun[28 + 9] = 40;
    for (const Bytes* bad :
         {&wrongVersion, &startsWithSdes, &lengthTooLong, &truncated, &paddedFirst, &sdesItemOverrun})
        EXPECT_FALSE(rtcp::parseCompound(bad->data(), bad->size(), parsed));
    EXPECT_FALSE(rtcp::parseCompound(good.data(), 3, parsed));
}

TEST(RtcpTiming, IntervalBoundsFollowRfc3550)
{
    // A small group reports every 5 s on average: T lies in [2.5, 7.5] / (e - 3/2).
    const double td = rtcp::deterministicInterval(1, 1, 3125, true, 100, false);
    EXPECT_DOUBLE_EQ(5.0, td);
    EXPECT_NEAR(2.0521, rtcp::randomizedInterval(td, 0.0), 1e-3);
    EXPECT_NEAR(6.1564, rtcp::randomizedInterval(td, 0.999999), 1e-3);
    // Before the first report the minimum is halved.
    EXPECT_DOUBLE_EQ(2.5, rtcp::deterministicInterval(1, 1, 3125, true, 100, true));
    // Large groups share the RTCP bandwidth: receivers use 3/4 of it, divided among them.
    EXPECT_DOUBLE_EQ(1000 * 100 / (3125 * 0.75),
                     rtcp::deterministicInterval(1001, 1, 3125, false, 100, false));
    // A sender among few senders uses 1/4 of it, divided among the senders.
    EXPECT_DOUBLE_EQ(5.0, rtcp::deterministicInterval(1001, 2, 3125, true, 100, false));
    EXPECT_DOUBLE_EQ(200 * 100 / (3125 * 0.25),
                     rtcp::deterministicInterval(1001, 200, 3125, true, 100, false));
    // Many senders: everybody shares the whole bandwidth.
    EXPECT_DOUBLE_EQ(1000 * 100 / 3125.0, rtcp::deterministicInterval(1000, 500, 3125, true, 100, false));

    rtcp::Random random;
    for (int i = 0; i < 1000; ++i) {
        const double r = random.next01();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
}

TEST(RtcpMembers, GroupGrowsWithReportsAndShrinksWithByeAndSilence)
{
    // Two participants of this host share the table; their own reports looped back are no news.
    rtcp::MemberTable table(3125);
    table.addOwn(0x1000);
    table.addOwn(0x1001);
    std::int64_t now = 1000000;
    const Bytes ours = senderReportAndCname(0x1000, "me");
    table.noteSent(static_cast<unsigned>(ours.size()));
    EXPECT_EQ(2u, table.members());
    EXPECT_EQ(2u, table.senders());
    EXPECT_DOUBLE_EQ(ours.size() + 28.0, table.averagePacketSize());

    bool left = false;
    EXPECT_FALSE(table.noteReceived(ours.data(), ours.size(), now, left));
    const Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(table.noteReceived(junk.data(), junk.size(), now, left));
    EXPECT_EQ(2u, table.members());

    for (std::uint32_t ssrc = 1; ssrc <= 600; ++ssrc) {
        const Bytes report = receiverReport(ssrc);
        ASSERT_TRUE(table.noteReceived(report.data(), report.size(), now, left));
    }
    const Bytes otherSender = senderReportAndCname(0x2000, "other");
    ASSERT_TRUE(table.noteReceived(otherSender.data(), otherSender.size(), now, left));
    EXPECT_EQ(603u, table.members());
    EXPECT_EQ(3u, table.senders());
    // Three senders out of 603 share a quarter of the bandwidth.
    EXPECT_EQ(static_cast<std::int64_t>(
                  rtcp::deterministicInterval(603, 3, 3125, true, table.averagePacketSize(), false) * 1e6),
              table.deterministicIntervalUs(false));
    EXPECT_FALSE(left);

    // A BYE of 31 members (one of them unknown) makes the group smaller.
    Bytes bye = receiverReport(1);
    bye.insert(bye.end(), {0x80 | 31, 203, 0, 31});
    for (std::uint32_t ssrc = 1; ssrc <= 31; ++ssrc)
        bye.insert(bye.end(),
                   {0, 0, static_cast<unsigned char>(ssrc >> 8), static_cast<unsigned char>(ssrc)});
    ASSERT_TRUE(table.noteReceived(bye.data(), bye.size(), now, left));
    EXPECT_TRUE(left);
    EXPECT_EQ(572u, table.members());

    // Members fall silent: after five deterministic intervals they are gone, and a sender
    // without reports for two intervals is a receiver again.
    const Bytes keepAlive = senderReportAndCname(0x3000, "late");
    const std::int64_t later = now + 5 * table.deterministicIntervalUs(false) + 1;
    ASSERT_TRUE(table.noteReceived(keepAlive.data(), keepAlive.size(), later, left));
    table.timeOut(later);
    EXPECT_EQ(3u, table.members());
    EXPECT_EQ(3u, table.senders());
    table.timeOut(later + 2 * table.deterministicIntervalUs(false));
    EXPECT_EQ(3u, table.members());
    EXPECT_EQ(2u, table.senders());
    table.removeOwn(0x1001);
    EXPECT_EQ(2u, table.members());
}

TEST(RtcpMembers, TableIsBoundedAndForgetsTheMemberHeardLongestAgo)
{
    // A flood of new SSRCs never grows the table past its bound; members heard again stay.
    rtcp::MemberTable table(3125, 100);
    table.addOwn(0xFFFF);
    bool left = false;
    const Bytes keeper = senderReportAndCname(0x7000, "keeper");
    for (std::uint32_t ssrc = 1; ssrc <= 5000; ++ssrc) {
        const Bytes report = receiverReport(ssrc);
        ASSERT_TRUE(table.noteReceived(report.data(), report.size(), ssrc, left));
        if (ssrc % 50 == 0) {
            ASSERT_TRUE(table.noteReceived(keeper.data(), keeper.size(), ssrc, left));
        }
        ASSERT_LE(table.members(), 101u);
    }
    EXPECT_EQ(101u, table.members());
    EXPECT_EQ(2u, table.senders()) << "the sender heard all along is still there";
    // The oldest of the flood went first: a BYE of an early SSRC finds nobody.
    Bytes bye = receiverReport(4999);
    bye.insert(bye.end(), {0x81, 203, 0, 1, 0, 0, 0, 1});
    ASSERT_TRUE(table.noteReceived(bye.data(), bye.size(), 6000, left));
    EXPECT_FALSE(left);
}

} // namespace
