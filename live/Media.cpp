#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"

#include "live/live_support.hh"

#include <cstring>

using live_support::currentFileTime;
using live_support::monotonicMicroseconds;

namespace {

// RTCP may use 5 % of the session bandwidth; a placeholder stream announces no bandwidth of its
// own, so a typical audio stream's 500 kbit/s is assumed.
constexpr double kSessionBandwidthBitsPerSecond = 500000;
constexpr double kRtcpBandwidth = kSessionBandwidthBitsPerSecond * 0.05 / 8;

char* copyToNewArray(std::string const& text)
{
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

// --- Medium -------------------------------------------------------------------------------------

Medium::Medium(UsageEnvironment& env) : fEnviron(env)
{
    ++fEnviron.fObjectsInUse;
}

Medium::~Medium()
{
    --fEnviron.fObjectsInUse;
}

void Medium::close(Medium* medium)
{
    delete medium;
}

// --- RTP sink -----------------------------------------------------------------------------------

RTPSink::RTPSink(UsageEnvironment& env, Groupsock* rtpGS, unsigned char rtpPayloadType,
                 unsigned rtpTimestampFrequency, char const* sdpMediaType)
    : Medium(env), fGS(rtpGS), fCreationTime(currentFileTime()), fPayloadType(rtpPayloadType),
      fTimestampFrequency(rtpTimestampFrequency), fMediaType(sdpMediaType ? sdpMediaType : "audio")
{
    rtcp::Random random;
    fSSRC = random.next32();
    fTimestampBase = random.next32();
}

RTPSink::~RTPSink() = default;

std::uint32_t RTPSink::rtpTimestampAt(std::uint64_t fileTime) const
{
    const std::uint64_t elapsed = fileTime > fCreationTime ? fileTime - fCreationTime : 0;
    // Split to keep the product in range: whole seconds, then the remaining 100 ns ticks.
    const std::uint64_t ticks =
        (elapsed / 10000000) * fTimestampFrequency + (elapsed % 10000000) * fTimestampFrequency / 10000000;
    return fTimestampBase + static_cast<std::uint32_t>(ticks);
}

SimpleRTPSink* SimpleRTPSink::createNew(UsageEnvironment& env, Groupsock* rtpGS,
                                        unsigned char rtpPayloadFormat, unsigned rtpTimestampFrequency,
                                        char const* sdpMediaTypeString)
{
    return new SimpleRTPSink(env, rtpGS, rtpPayloadFormat, rtpTimestampFrequency, sdpMediaTypeString);
}

// --- RTCP ---------------------------------------------------------------------------------------

RTCPInstance* RTCPInstance::createNew(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname,
                                      RTPSink* sink)
{
    return new RTCPInstance(env, RTCPgs, cname, sink);
}

RTCPInstance::RTCPInstance(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname, RTPSink* sink)
    : Medium(env), fGS(RTCPgs), fSink(sink), fSSRC(sink ? sink->SSRC() : rtcp::Random().next32()),
      fMembers(fSSRC, kRtcpBandwidth)
{
    std::memset(fCNAME, 0, sizeof(fCNAME));
    if (cname && cname[0] != 0) {
        std::strncpy(fCNAME, cname, sizeof(fCNAME) - 1);
    } else if (gethostname(fCNAME, sizeof(fCNAME) - 1) != 0) {
        std::memset(fCNAME, 0, sizeof(fCNAME));
    }
    fCNAME[sizeof(fCNAME) - 1] = 0;

    if (fGS && fGS->joinGroup())
        envir().taskScheduler().setBackgroundHandling(fGS->socketNum(), SOCKET_READABLE, incomingHandler,
                                                      this);
    // The first report leaves at once; the next ones follow the group's report interval.
    sendReport(false);
    const std::int64_t now = monotonicMicroseconds();
    scheduleAt(now + fMembers.randomizedIntervalUs(fRandom.next01()));
}

RTCPInstance::~RTCPInstance()
{
    envir().taskScheduler().unscheduleDelayedTask(fTimer);
    if (fGS)
        envir().taskScheduler().disableBackgroundHandling(fGS->socketNum());
    sendReport(true);
}

void RTCPInstance::timerHandler(void* instance)
{
    static_cast<RTCPInstance*>(instance)->onTimer();
}

void RTCPInstance::incomingHandler(void* instance, int /*mask*/)
{
    static_cast<RTCPInstance*>(instance)->readIncoming();
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
    fMembers.timeOut(now);
    // Timer reconsideration: with the group as it is now, is a report due yet?
    const std::int64_t interval = fMembers.randomizedIntervalUs(fRandom.next01());
    if (fMembers.lastSent() + interval <= now) {
        sendReport(false);
        scheduleAt(now + fMembers.randomizedIntervalUs(fRandom.next01()));
    } else {
        scheduleAt(fMembers.lastSent() + interval);
    }
}

void RTCPInstance::readIncoming()
{
    unsigned char packet[1500];
    for (;;) {
        sockaddr_in from = {};
        int fromLength = sizeof(from);
        const int size = recvfrom(static_cast<SOCKET>(fGS->socketNum()), reinterpret_cast<char*>(packet),
                                  sizeof(packet), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (size <= 0)
            return; // nothing more now (or a datagram too large for RTCP, which is dropped)
        std::int64_t due = fDue;
        fMembers.noteReceived(packet, static_cast<std::size_t>(size), monotonicMicroseconds(), due);
        if (due != fDue && fTimer != 0)
            scheduleAt(due);
    }
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
    fMembers.noteSent(static_cast<unsigned>(packet.size()), monotonicMicroseconds());
}

// --- Server media sessions ------------------------------------------------------------------------

PassiveServerMediaSubsession* PassiveServerMediaSubsession::createNew(RTPSink& rtpSink,
                                                                      RTCPInstance* rtcpInstance)
{
    return new PassiveServerMediaSubsession(rtpSink, rtcpInstance);
}

// The RTCP instance runs on its own; nothing here needs it while only DESCRIBE is served.
PassiveServerMediaSubsession::PassiveServerMediaSubsession(RTPSink& rtpSink, RTCPInstance* /*rtcpInstance*/)
    : ServerMediaSubsession(rtpSink.envir()), fSink(rtpSink)
{
}

char const* PassiveServerMediaSubsession::sdpLines()
{
    Groupsock const* gs = fSink.groupsockBeingUsed();
    const std::string payloadType = std::to_string(fSink.rtpPayloadType());
    fSDPLines = std::string("m=") + fSink.sdpMediaType() + " " +
                std::to_string(gs ? gs->port().hostOrder() : 0) + " RTP/AVP " + payloadType + "\r\n";
    if (gs) {
        fSDPLines += "c=IN IP4 " + live_support::dottedAddress(gs->groupAddress().s_addr);
        if ((ntohl(gs->groupAddress().s_addr) >> 28) == 0xE)
            fSDPLines += "/" + std::to_string(gs->ttl());
        fSDPLines += "\r\n";
    }
    return fSDPLines.c_str();
}

ServerMediaSession* ServerMediaSession::createNew(UsageEnvironment& env, char const* streamName,
                                                  char const* info, char const* description,
                                                  char const* miscSDPLines)
{
    return new ServerMediaSession(env, streamName, info, description, miscSDPLines);
}

ServerMediaSession::ServerMediaSession(UsageEnvironment& env, char const* streamName, char const* info,
                                       char const* description, char const* miscSDPLines)
    : Medium(env), fStreamName(streamName ? streamName : ""), fInfo(info ? info : fStreamName),
      fDescription(description ? description : "Session streamed by the gateway"),
      fMiscSDPLines(miscSDPLines ? miscSDPLines : ""), fCreationTime(currentFileTime())
{
}

ServerMediaSession::~ServerMediaSession()
{
    for (ServerMediaSubsession* subsession : fSubsessions)
        Medium::close(subsession);
}

bool ServerMediaSession::addSubsession(ServerMediaSubsession* subsession)
{
    if (!subsession)
        return false;
    fSubsessions.push_back(subsession);
    return true;
}

char* ServerMediaSession::generateSDPDescription()
{
    const std::uint64_t seconds = fCreationTime / 10000000;
    const std::uint64_t micros = fCreationTime % 10000000 / 10;
    std::string sdp = "v=0\r\n";
    sdp += "o=- " + std::to_string(seconds) + std::to_string(1000000 + micros).substr(1) + " 1 IN IP4 " +
           live_support::dottedAddress(live_support::ourIPAddress()) + "\r\n";
    sdp += "s=" + fDescription + "\r\n";
    sdp += "i=" + fInfo + "\r\n";
    sdp += "t=0 0\r\n";
    sdp += fMiscSDPLines;
    for (ServerMediaSubsession* subsession : fSubsessions) {
        if (char const* lines = subsession->sdpLines())
            sdp += lines;
    }
    return copyToNewArray(sdp);
}
