// RTCP packets and report timing (RFC 3550): building sender reports, SDES CNAME and BYE,
// validating received compound packets, and the member table that sets the report interval.
// No sockets and no clock here: callers pass the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

namespace rtcp {

constexpr unsigned char kSenderReport = 200;
constexpr unsigned char kReceiverReport = 201;
constexpr unsigned char kSourceDescription = 202;
constexpr unsigned char kBye = 203;
constexpr unsigned char kSdesCname = 1;

// Bytes of IPv4 and UDP headers, counted in the average packet size.
constexpr unsigned kUdpIpOverhead = 28;

// 64-bit NTP time (seconds since 1900 in the high word) of a FILETIME (100 ns since 1601).
std::uint64_t ntpFromFileTime(std::uint64_t fileTime);

// Sender report without report blocks.
void appendSenderReport(std::vector<unsigned char>& out, std::uint32_t ssrc, std::uint64_t ntpTime,
                        std::uint32_t rtpTimestamp, std::uint32_t packetCount, std::uint32_t octetCount);
// SDES packet with one chunk holding the CNAME (at most 255 bytes of it).
void appendSdesCname(std::vector<unsigned char>& out, std::uint32_t ssrc, char const* cname);
void appendBye(std::vector<unsigned char>& out, std::uint32_t ssrc);

struct PacketInfo
{
    unsigned char type = 0;
    std::vector<std::uint32_t> ssrcs; // SR/RR: the sender; SDES: each chunk; BYE: each source
};
// Checks a received compound packet as RFC 3550 (A.2) asks (version 2, first packet SR or RR
// without padding, lengths adding up to the datagram) and lists its packets.
bool parseCompound(unsigned char const* data, std::size_t size, std::vector<PacketInfo>& packets);

// The deterministic interval Td in seconds (RFC 3550 6.3.1, before randomisation).
double deterministicInterval(unsigned members, unsigned senders, double rtcpBandwidth, bool weSent,
                             double avgRtcpSize, bool initial);
// Td spread uniformly over [0.5, 1.5] (`random01` in [0, 1)) and divided by e - 3/2.
double randomizedInterval(double td, double random01);

// Members of one RTP session as heard by the participants of this host that share one RTCP
// socket, and what sets their report intervals (RFC 3550 6.3). Every participant of this host
// sends sender reports, so each counts as a member and as a sender. Other members are kept up to
// a bound: the one heard longest ago makes room for a new one. Times are microseconds of one
// monotonic clock.
class MemberTable
{
public:
    static constexpr std::size_t kMaxOthers = 1000;

    explicit MemberTable(double rtcpBandwidth, std::size_t maxOthers = kMaxOthers);

    void addOwn(std::uint32_t ssrc);
    void removeOwn(std::uint32_t ssrc);
    bool isOwn(std::uint32_t ssrc) const { return fOwn.count(ssrc) != 0; }

    unsigned members() const { return fOwnCount + static_cast<unsigned>(fOthers.size()); }
    unsigned senders() const { return fOwnCount + fOtherSenders; }
    double averagePacketSize() const { return fAvgRtcpSize; }

    // Td and a randomised T, in microseconds, for a participant before its first report (initial)
    // or after it.
    std::int64_t deterministicIntervalUs(bool initial) const;
    std::int64_t randomizedIntervalUs(bool initial, double random01) const;

    // A compound packet of `bytes` (without UDP/IP headers) sent by one of our participants.
    void noteSent(unsigned bytes);
    // A received compound packet: updates members, senders and the average size; `left` is set
    // when a BYE removed a member. Packets that are invalid or come from one of our own
    // participants (looped back by the group) are ignored (false).
    bool noteReceived(unsigned char const* data, std::size_t size, std::int64_t now, bool& left);
    // Drops members silent for five Td; senders silent for two T are receivers again.
    void timeOut(std::int64_t now);

private:
    void notePacketSize(std::size_t bytes);
    void forget(std::uint32_t ssrc);

    struct Member
    {
        std::int64_t lastHeard;
        std::int64_t lastSenderReport; // 0: not a sender
        std::list<std::uint32_t>::iterator age;
    };

    double fRtcpBandwidth; // octets per second
    std::size_t fMaxOthers;
    double fAvgRtcpSize = 0;
    std::unordered_map<std::uint32_t, unsigned> fOwn; // SSRC -> participants using it
    unsigned fOwnCount = 0;
    std::unordered_map<std::uint32_t, Member> fOthers;
    std::list<std::uint32_t> fHeardOrder; // others, heard longest ago first
    unsigned fOtherSenders = 0;
};

// Pseudo-random numbers for SSRCs, timestamp bases and interval spreading, seeded from the
// clocks, process and thread ids and an address (RFC 3550 A.6 asks for values that differ
// between participants, not for secrecy).
class Random
{
public:
    Random();
    std::uint32_t next32();
    double next01(); // [0, 1)

private:
    std::uint64_t fState;
};

} // namespace rtcp
