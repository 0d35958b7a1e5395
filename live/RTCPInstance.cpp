// RTCP instances and the receive path that the instances on one group socket share.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"

#include "live/live_support.hh"

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

using live_support::currentFileTime;
using live_support::monotonicMicroseconds;

namespace {

// RTCP may use 5 % of the session bandwidth; a placeholder stream announces no bandwidth of its
// own, so a typical audio stream's 500 kbit/s is assumed.
constexpr double kSessionBandwidthBitsPerSecond = 500000;
constexpr double kRtcpBandwidth = kSessionBandwidthBitsPerSecond * 0.05 / 8;

// Datagrams read per readiness event: a flood costs one bounded piece of each scheduler step, and
// what the socket cannot hold meanwhile is dropped by the system.
constexpr unsigned kReadsPerEvent = 16;

} // namespace

// The instances of one environment on one group socket: the socket's read handler, the member
// table that all of them report by, and a reverse reconsideration run at most once per step.
class RTCPGroup
{
public:
    // The group of the instance's socket, made on first use; without a usable socket the instance
    // gets a group of its own that reads nothing.
    static RTCPGroup* join(UsageEnvironment& env, Groupsock* gs, RTCPInstance* instance);
    // The last instance to leave ends the group.
    void leave(RTCPInstance* instance);

    rtcp::MemberTable& members() { return fMembers; }
    // The group became smaller: its instances reconsider their next report on the next step.
    void noteSmaller();

private:
    using Key = std::pair<UsageEnvironment*, int>;

    RTCPGroup(UsageEnvironment& env, int socketNum);
    ~RTCPGroup();

    static void incomingHandler(void* group, int mask);
    static void reconsiderHandler(void* group);
    void readIncoming();

    static std::mutex sLock; // guards the table of groups (environments may live on several threads)
    static std::map<Key, RTCPGroup*> sGroups;

    UsageEnvironment& fEnv;
    int fSocket;
    rtcp::MemberTable fMembers;
    std::set<RTCPInstance*> fInstances;
    TaskToken fReconsider = 0;
};

std::mutex RTCPGroup::sLock;
std::map<RTCPGroup::Key, RTCPGroup*> RTCPGroup::sGroups;

RTCPGroup::RTCPGroup(UsageEnvironment& env, int socketNum)
    : fEnv(env), fSocket(socketNum), fMembers(kRtcpBandwidth)
{
    if (fSocket >= 0)
        fEnv.taskScheduler().setBackgroundHandling(fSocket, SOCKET_READABLE, incomingHandler, this);
}

RTCPGroup::~RTCPGroup()
{
    fEnv.taskScheduler().unscheduleDelayedTask(fReconsider);
    if (fSocket >= 0)
        fEnv.taskScheduler().disableBackgroundHandling(fSocket);
}

RTCPGroup* RTCPGroup::join(UsageEnvironment& env, Groupsock* gs, RTCPInstance* instance)
{
    RTCPGroup* group = nullptr;
    if (gs && gs->joinGroup()) {
        std::lock_guard<std::mutex> lock(sLock);
        RTCPGroup*& listed = sGroups[Key(&env, gs->socketNum())];
        if (!listed)
            listed = new RTCPGroup(env, gs->socketNum());
        group = listed;
    } else {
        group = new RTCPGroup(env, -1);
    }
    group->fInstances.insert(instance);
    group->fMembers.addOwn(instance->fSSRC);
    return group;
}

void RTCPGroup::leave(RTCPInstance* instance)
{
    fInstances.erase(instance);
    fMembers.removeOwn(instance->fSSRC);
    if (!fInstances.empty()) {
        noteSmaller();
        return;
    }
    if (fSocket >= 0) {
        std::lock_guard<std::mutex> lock(sLock);
        sGroups.erase(Key(&fEnv, fSocket));
    }
    delete this;
}

void RTCPGroup::noteSmaller()
{
    if (fReconsider == 0)
        fReconsider = fEnv.taskScheduler().scheduleDelayedTask(0, reconsiderHandler, this);
}

void RTCPGroup::reconsiderHandler(void* group)
{
    RTCPGroup* self = static_cast<RTCPGroup*>(group);
    self->fReconsider = 0;
    const std::int64_t now = monotonicMicroseconds();
    for (RTCPInstance* instance : self->fInstances)
        instance->reconsiderSmallerGroup(now);
}

void RTCPGroup::incomingHandler(void* group, int /*mask*/)
{
    static_cast<RTCPGroup*>(group)->readIncoming();
}

void RTCPGroup::readIncoming()
{
    unsigned char packet[1500];
    bool left = false;
    for (unsigned i = 0; i < kReadsPerEvent; ++i) {
        sockaddr_in from = {};
        int fromLength = sizeof(from);
        const int size = recvfrom(static_cast<SOCKET>(fSocket), reinterpret_cast<char*>(packet),
                                  sizeof(packet), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size <= 0) {
            // Nothing more now; a datagram too large for RTCP is dropped, the next one is read.
            if (size < 0 && WSAGetLastError() == WSAEMSGSIZE)
                continue;
            break;
        }
        fMembers.noteReceived(packet, static_cast<std::size_t>(size), monotonicMicroseconds(), left);
    }
    if (left)
        noteSmaller();
}

// --- RTCPInstance ----------------------------------------------------------------------------------

RTCPInstance* RTCPInstance::createNew(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname,
                                      RTPSink* sink)
{
    return new RTCPInstance(env, RTCPgs, cname, sink);
}

RTCPInstance::RTCPInstance(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname, RTPSink* sink)
    : Medium(env), fGS(RTCPgs), fSink(sink), fSSRC(sink ? sink->SSRC() : rtcp::Random().next32())
{
    std::memset(fCNAME, 0, sizeof(fCNAME));
    if (cname && cname[0] != 0) {
        std::strncpy(fCNAME, cname, sizeof(fCNAME) - 1);
    } else if (gethostname(fCNAME, sizeof(fCNAME) - 1) != 0) {
        std::memset(fCNAME, 0, sizeof(fCNAME));
    }
    fCNAME[sizeof(fCNAME) - 1] = 0;

    fGroup = RTCPGroup::join(env, fGS, this);
    // The first report leaves at once; the next ones follow the group's report interval.
    sendReport(false);
    scheduleAt(fLastSent + fGroup->members().randomizedIntervalUs(fInitial, fRandom.next01()));
}

RTCPInstance::~RTCPInstance()
{
    envir().taskScheduler().unscheduleDelayedTask(fTimer);
    sendReport(true);
    fGroup->leave(this);
}

unsigned RTCPInstance::numMembers() const
{
    return fGroup->members().members();
}

void RTCPInstance::timerHandler(void* instance)
{
    static_cast<RTCPInstance*>(instance)->onTimer();
}

void RTCPInstance::scheduleAt(std::int64_t dueMicroseconds)
{
    TaskScheduler& scheduler = envir().taskScheduler();
    scheduler.unscheduleDelayedTask(fTimer);
    fDue = dueMicroseconds;
    fTimer = scheduler.scheduleDelayedTask(dueMicroseconds - monotonicMicroseconds(), timerHandler, this);
}

void RTCPInstance::onTimer()
{
    fTimer = 0;
    const std::int64_t now = monotonicMicroseconds();
    rtcp::MemberTable& members = fGroup->members();
    members.timeOut(now);
    // Timer reconsideration: with the group as it is now, is a report due yet?
    const std::int64_t interval = members.randomizedIntervalUs(fInitial, fRandom.next01());
    if (fLastSent + interval <= now) {
        sendReport(false);
        scheduleAt(now + members.randomizedIntervalUs(fInitial, fRandom.next01()));
    } else {
        scheduleAt(fLastSent + interval);
    }
}

void RTCPInstance::reconsiderSmallerGroup(std::int64_t now)
{
    const unsigned members = fGroup->members().members();
    if (members >= fPreviousMembers || fPreviousMembers == 0)
        return;
    const double ratio = double(members) / fPreviousMembers;
    if (fTimer != 0 && fDue > now)
        scheduleAt(now + static_cast<std::int64_t>((fDue - now) * ratio));
    fLastSent = now - static_cast<std::int64_t>((now - fLastSent) * ratio);
    fPreviousMembers = members;
}

void RTCPInstance::sendReport(bool withBye)
{
    const std::uint64_t now = currentFileTime();
    std::vector<unsigned char> packet;
    // This sink sends no media, so its packet and octet counts stay 0.
    rtcp::appendSenderReport(packet, fSSRC, rtcp::ntpFromFileTime(now),
                             fSink ? fSink->rtpTimestampAt(now) : 0, 0, 0);
    rtcp::appendSdesCname(packet, fSSRC, fCNAME);
    if (withBye)
        rtcp::appendBye(packet, fSSRC);
    if (fGS)
        fGS->output(packet.data(), static_cast<unsigned>(packet.size()));
    fGroup->members().noteSent(static_cast<unsigned>(packet.size()));
    fLastSent = monotonicMicroseconds();
    fPreviousMembers = fGroup->members().members();
    fInitial = false;
}
