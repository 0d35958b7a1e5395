#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/rtcp_packets.hh"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

namespace rtcp {
namespace {

void put16(std::vector<unsigned char>& out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

void put32(std::vector<unsigned char>& out, std::uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

std::uint32_t get32(unsigned char const* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// Header of a packet starting at `start`: its length field is filled in by finishPacket.
void startPacket(std::vector<unsigned char>& out, unsigned count, unsigned char type)
{
    out.push_back(static_cast<unsigned char>(0x80 | count)); // version 2, no padding
    out.push_back(type);
    put16(out, 0);
}

void finishPacket(std::vector<unsigned char>& out, std::size_t start)
{
    const std::size_t words = (out.size() - start) / 4 - 1;
    out[start + 2] = static_cast<unsigned char>(words >> 8);
    out[start + 3] = static_cast<unsigned char>(words);
}

constexpr double kMinTime = 5.0;
constexpr double kSenderFraction = 0.25;
constexpr double kReceiverFraction = 1.0 - kSenderFraction;
constexpr double kCompensation = 2.71828 - 1.5;
constexpr int kTimeoutMultiplier = 5;

std::uint64_t splitmix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::uint64_t ntpFromFileTime(std::uint64_t fileTime)
{
    // 1601-01-01 to 1900-01-01 is 9435484800 seconds.
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    const std::uint64_t ticks = fileTime - 9435484800ull * kTicksPerSecond;
    const std::uint64_t seconds = ticks / kTicksPerSecond;
    const std::uint64_t fraction = ((ticks % kTicksPerSecond) << 32) / kTicksPerSecond;
    return (seconds << 32) | fraction;
}

void appendSenderReport(std::vector<unsigned char>& out, std::uint32_t ssrc, std::uint64_t ntpTime,
                        std::uint32_t rtpTimestamp, std::uint32_t packetCount, std::uint32_t octetCount)
{
    const std::size_t start = out.size();
    startPacket(out, 0, kSenderReport);
    put32(out, ssrc);
    put32(out, static_cast<std::uint32_t>(ntpTime >> 32));
    put32(out, static_cast<std::uint32_t>(ntpTime));
    put32(out, rtpTimestamp);
    put32(out, packetCount);
    put32(out, octetCount);
    finishPacket(out, start);
}

void appendSdesCname(std::vector<unsigned char>& out, std::uint32_t ssrc, char const* cname)
{
    const std::size_t length = cname ? strnlen(cname, 255) : 0;
    const std::size_t start = out.size();
    startPacket(out, 1, kSourceDescription);
    put32(out, ssrc);
    out.push_back(kSdesCname);
    out.push_back(static_cast<unsigned char>(length));
    out.insert(out.end(), cname, cname + length);
    // The item list ends with at least one zero byte, padded to a 32-bit boundary.
    do {
        out.push_back(0);
    } while ((out.size() - start) % 4 != 0);
    finishPacket(out, start);
}

void appendBye(std::vector<unsigned char>& out, std::uint32_t ssrc)
{
    const std::size_t start = out.size();
    startPacket(out, 1, kBye);
    put32(out, ssrc);
    finishPacket(out, start);
}

bool parseCompound(unsigned char const* data, std::size_t size, std::vector<PacketInfo>& packets)
{
    packets.clear();
    if (size < 8 || size % 4 != 0)
        return false;
    const unsigned char firstType = data[1];
    if ((data[0] & 0xE0) != 0x80 || (firstType != kSenderReport && firstType != kReceiverReport))
        return false;
    std::size_t offset = 0;
    while (offset < size) {
        if (size - offset < 4)
            return false;
        unsigned char const* p = data + offset;
        if ((p[0] >> 6) != 2)
            return false;
        const std::size_t length = (std::size_t(p[2]) << 8 | p[3]) * 4 + 4;
        if (length > size - offset)
            return false;
        const bool padded = (p[0] & 0x20) != 0;
        if (padded && offset + length != size)
            return false; // only the last packet may be padded
        const unsigned count = p[0] & 0x1F;
        PacketInfo info;
        info.type = p[1];
        if (info.type == kSenderReport || info.type == kReceiverReport) {
            if (length < 8)
                return false;
            info.ssrcs.push_back(get32(p + 4));
        } else if (info.type == kBye) {
            if (4 + count * 4 > length)
                return false;
            for (unsigned i = 0; i < count; ++i)
                info.ssrcs.push_back(get32(p + 4 + i * 4));
        } else if (info.type == kSourceDescription) {
            std::size_t at = 4;
            for (unsigned i = 0; i < count; ++i) {
                if (at + 4 > length)
                    return false;
                info.ssrcs.push_back(get32(p + at));
                at += 4;
                // Items up to the terminating zero, then padding to the next 32-bit boundary.
                while (at < length && p[at] != 0) {
                    if (at + 2 > length)
                        return false;
                    at += 2 + p[at + 1];
                }
                if (at >= length)
                    return false;
                at = (at + 4) & ~std::size_t(3);
            }
        }
        packets.push_back(info);
        offset += length;
    }
    return true;
}

double deterministicInterval(unsigned members, unsigned senders, double rtcpBandwidth, bool weSent,
                             double avgRtcpSize, bool initial)
{
    const double minTime = initial ? kMinTime / 2 : kMinTime;
    double n = members;
    double bandwidth = rtcpBandwidth;
    if (senders <= members * kSenderFraction) {
        if (weSent) {
            bandwidth *= kSenderFraction;
            n = senders;
        } else {
            bandwidth *= kReceiverFraction;
            n -= senders;
        }
    }
    const double t = bandwidth > 0 ? avgRtcpSize * n / bandwidth : minTime;
    return std::max(t, minTime);
}

double randomizedInterval(double td, double random01)
{
    return td * (random01 + 0.5) / kCompensation;
}

MemberTable::MemberTable(double rtcpBandwidth, std::size_t maxOthers)
    : fRtcpBandwidth(rtcpBandwidth), fMaxOthers(maxOthers)
{
}

void MemberTable::addOwn(std::uint32_t ssrc)
{
    ++fOwn[ssrc];
    ++fOwnCount;
    // One of ours is no other member.
    if (fOthers.count(ssrc) != 0)
        forget(ssrc);
}

void MemberTable::removeOwn(std::uint32_t ssrc)
{
    auto it = fOwn.find(ssrc);
    if (it == fOwn.end())
        return;
    if (--it->second == 0)
        fOwn.erase(it);
    --fOwnCount;
}

void MemberTable::forget(std::uint32_t ssrc)
{
    auto it = fOthers.find(ssrc);
    if (it == fOthers.end())
        return;
    fOtherSenders -= it->second.lastSenderReport != 0;
    fHeardOrder.erase(it->second.age);
    fOthers.erase(it);
}

void MemberTable::notePacketSize(std::size_t bytes)
{
    const double size = double(bytes) + kUdpIpOverhead;
    fAvgRtcpSize = fAvgRtcpSize == 0 ? size : size / 16.0 + fAvgRtcpSize * 15.0 / 16.0;
}

std::int64_t MemberTable::deterministicIntervalUs(bool initial) const
{
    return static_cast<std::int64_t>(
        deterministicInterval(members(), senders(), fRtcpBandwidth, true, fAvgRtcpSize, initial) * 1e6);
}

std::int64_t MemberTable::randomizedIntervalUs(bool initial, double random01) const
{
    const double td =
        deterministicInterval(members(), senders(), fRtcpBandwidth, true, fAvgRtcpSize, initial);
    return static_cast<std::int64_t>(randomizedInterval(td, random01) * 1e6);
}

void MemberTable::noteSent(unsigned bytes)
{
    notePacketSize(bytes);
}

bool MemberTable::noteReceived(unsigned char const* data, std::size_t size, std::int64_t now, bool& left)
{
    std::vector<PacketInfo> packets;
    if (!parseCompound(data, size, packets))
        return false;
    if (isOwn(packets.front().ssrcs.front()))
        return false; // a report of ours, looped back by the group
    notePacketSize(size);
    for (const PacketInfo& packet : packets) {
        for (std::uint32_t ssrc : packet.ssrcs) {
            if (isOwn(ssrc))
                continue;
            if (packet.type == kBye) {
                if (fOthers.count(ssrc) != 0) {
                    forget(ssrc);
                    left = true;
                }
                continue;
            }
            auto it = fOthers.find(ssrc);
            if (it == fOthers.end()) {
                if (fOthers.size() >= fMaxOthers && !fHeardOrder.empty())
                    forget(fHeardOrder.front());
                if (fMaxOthers == 0)
                    continue;
                fHeardOrder.push_back(ssrc);
                it = fOthers.emplace(ssrc, Member{now, 0, std::prev(fHeardOrder.end())}).first;
            } else {
                fHeardOrder.splice(fHeardOrder.end(), fHeardOrder, it->second.age);
            }
            Member& member = it->second;
            member.lastHeard = now;
            if (packet.type == kSenderReport) {
                fOtherSenders += member.lastSenderReport == 0;
                member.lastSenderReport = now;
            }
        }
    }
    return true;
}

void MemberTable::timeOut(std::int64_t now)
{
    const std::int64_t td = deterministicIntervalUs(false);
    // A sender that sent no report within two report intervals is a receiver again.
    const std::int64_t senderTimeout = 2 * randomizedIntervalUs(false, 0.5);
    while (!fHeardOrder.empty() && now - fOthers[fHeardOrder.front()].lastHeard > kTimeoutMultiplier * td)
        forget(fHeardOrder.front());
    if (fOtherSenders == 0)
        return;
    for (auto& entry : fOthers) {
        Member& member = entry.second;
        if (member.lastSenderReport != 0 && now - member.lastSenderReport > senderTimeout) {
            member.lastSenderReport = 0;
            --fOtherSenders;
        }
    }
}

Random::Random()
{
    static std::atomic<unsigned> instances{0};
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    fState = static_cast<std::uint64_t>(counter.QuadPart);
    fState ^= (std::uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) * 0x100000001B3ull;
    fState ^= std::uint64_t(GetCurrentProcessId()) << 40 ^ std::uint64_t(GetCurrentThreadId()) << 20;
    fState ^= reinterpret_cast<std::uintptr_t>(this) ^ (std::uint64_t(++instances) << 52);
    splitmix(fState);
}

std::uint32_t Random::next32()
{
    return static_cast<std::uint32_t>(splitmix(fState) >> 32);
}

double Random::next01()
{
    return (splitmix(fState) >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace rtcp
