// RTCP packets and report timing (RFC 3550): building sender reports, SDES CNAME and BYE,
// validating received compound packets, and the member table that sets the report interval.
// No sockets and no clock here: callers pass the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
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

// Members of one RTP session as heard by one sending participant, and its timing state
// (RFC 3550 6.3). Times are microseconds of one monotonic clock.
class MemberTable
{
public:
    // The average packet size starts from the first packet sent.
    MemberTable(std::uint32_t ownSsrc, double rtcpBandwidth);

    unsigned members() const { return 1 + static_cast<unsigned>(fOthers.size()); }
    unsigned senders() const;
    double averagePacketSize() const { return fAvgRtcpSize; }
    bool initial() const { return fInitial; }
    std::int64_t lastSent() const { return fLastSent; }

    // Td and a randomised T, in microseconds.
    std::int64_t deterministicIntervalUs() const;
    std::int64_t randomizedIntervalUs(double random01) const;

    // Our own compound packet of `bytes` (without UDP/IP headers) left at `now`.
    void noteSent(unsigned bytes, std::int64_t now);
    // A received compound packet: updates members, senders and the average size; applies reverse
    // reconsideration to `nextDue` when a BYE made the group smaller. Packets that are invalid
    // or carry our own SSRC are ignored (false).
    bool noteReceived(unsigned char const* data, std::size_t size, std::int64_t now, std::int64_t& nextDue);
    // Drops members silent for five Td and senders silent for two T.
    void timeOut(std::int64_t now);

private:
    void notePacketSize(std::size_t bytes);

    struct Member
    {
        std::int64_t lastHeard;
        std::int64_t lastSenderReport; // 0: not a sender
    };

    std::uint32_t fOwnSsrc;
    double fRtcpBandwidth; // octets per second
    double fAvgRtcpSize = 0;
    bool fInitial = true;
    std::int64_t fLastSent = 0;
    unsigned fPreviousMembers = 1;
    std::map<std::uint32_t, Member> fOthers;
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
