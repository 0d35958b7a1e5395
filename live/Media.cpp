#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"

#include "live/live_support.hh"

#include <cstring>

using live_support::currentFileTime;

namespace {

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
