// The RTSP library: media objects, the placeholder RTP sink with its RTCP reports, server media
// sessions and the RTSP server that answers OPTIONS and DESCRIBE for them.
#pragma once

#include "live/BasicUsageEnvironment.hh"
#include "live/Groupsock.hh"
#include "live/rtcp_packets.hh"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace rtsp {
struct Request;
}

// Base of every library object that lives on an environment. Objects are ended with close().
class Medium
{
public:
    static void close(Medium* medium); // null is ignored

    UsageEnvironment& envir() const { return fEnviron; }

protected:
    explicit Medium(UsageEnvironment& env);
    virtual ~Medium();

private:
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;

    UsageEnvironment& fEnviron;
};

// The sending end of one RTP stream. This library never sends media: a sink describes the stream
// (destination, payload type, clock) for session descriptions and RTCP sender reports.
class RTPSink : public Medium
{
public:
    Groupsock* groupsockBeingUsed() const { return fGS; }
    std::uint32_t SSRC() const { return fSSRC; }
    unsigned char rtpPayloadType() const { return fPayloadType; }
    char const* sdpMediaType() const { return fMediaType.c_str(); }
    // The RTP timestamp of the given wall-clock time (100 ns units since 1601, as FILETIME).
    std::uint32_t rtpTimestampAt(std::uint64_t fileTime) const;

protected:
    RTPSink(UsageEnvironment& env, Groupsock* rtpGS, unsigned char rtpPayloadType,
            unsigned rtpTimestampFrequency, char const* sdpMediaType);
    ~RTPSink() override;

private:
    Groupsock* fGS;
    std::uint32_t fSSRC;
    std::uint32_t fTimestampBase;
    std::uint64_t fCreationTime; // FILETIME units
    unsigned char fPayloadType;
    unsigned fTimestampFrequency;
    std::string fMediaType;
};

class SimpleRTPSink : public RTPSink
{
public:
    static SimpleRTPSink* createNew(UsageEnvironment& env, Groupsock* rtpGS, unsigned char rtpPayloadFormat,
                                    unsigned rtpTimestampFrequency, char const* sdpMediaTypeString);

protected:
    using RTPSink::RTPSink;
};

class RTCPGroup;

// RTCP for one sink: a sender report with the CNAME at creation, further reports at the
// intervals of RFC 3550 (scaled by the members of the RTP session), and a BYE at close.
// The instances of one environment on the same group socket share one receive path: one read
// handler, reading a bounded number of datagrams per event, and one bounded member table, in
// which each of them counts as a member. Close the instance before the group socket it uses.
class RTCPInstance : public Medium
{
public:
    // A null or empty CNAME is replaced by the host name; at most 255 bytes of it are sent.
    static RTCPInstance* createNew(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname,
                                   RTPSink* sink);

    char const* CNAME() const { return fCNAME; }
    std::uint32_t SSRC() const { return fSSRC; }
    // Members of the RTP session heard recently, the instances of this host included.
    unsigned numMembers() const;

protected:
    RTCPInstance(UsageEnvironment& env, Groupsock* RTCPgs, char const* cname, RTPSink* sink);
    ~RTCPInstance() override;

private:
    friend class RTCPGroup;

    static void timerHandler(void* instance);
    void onTimer();
    void sendReport(bool withBye);
    void scheduleAt(std::int64_t dueMicroseconds);
    // Reverse reconsideration: the group became smaller since this instance's last report.
    void reconsiderSmallerGroup(std::int64_t now);

    Groupsock* fGS;
    RTPSink* fSink;
    std::uint32_t fSSRC;
    char fCNAME[256]; // zero-filled, always terminated inside the buffer
    RTCPGroup* fGroup;
    rtcp::Random fRandom;
    bool fInitial = true;
    std::int64_t fLastSent = 0;
    unsigned fPreviousMembers = 1; // members at the last report
    TaskToken fTimer = 0;
    std::int64_t fDue = 0; // when fTimer runs
};

// One part of a server media session (one media stream).
class ServerMediaSubsession : public Medium
{
public:
    // The media-level lines of the session description (owned by the subsession).
    virtual char const* sdpLines() = 0;

protected:
    explicit ServerMediaSubsession(UsageEnvironment& env) : Medium(env) {}
};

// A subsession for a stream that is sent (or, here, only announced) by an existing sink.
// It does not own the sink or the RTCP instance.
class PassiveServerMediaSubsession : public ServerMediaSubsession
{
public:
    static PassiveServerMediaSubsession* createNew(RTPSink& rtpSink, RTCPInstance* rtcpInstance = nullptr);
    char const* sdpLines() override;

protected:
    PassiveServerMediaSubsession(RTPSink& rtpSink, RTCPInstance* rtcpInstance);

private:
    RTPSink& fSink;
    std::string fSDPLines;
};

// A named session that the server describes. It owns its subsessions.
class ServerMediaSession : public Medium
{
public:
    static ServerMediaSession* createNew(UsageEnvironment& env, char const* streamName = nullptr,
                                         char const* info = nullptr, char const* description = nullptr,
                                         char const* miscSDPLines = nullptr);

    char const* streamName() const { return fStreamName.c_str(); }
    bool addSubsession(ServerMediaSubsession* subsession);

    // The session description that answers DESCRIBE, as a new[] string that the caller releases
    // with delete[] (null when there is none). By default it is built from the session's texts
    // and its subsessions' lines.
    virtual char* generateSDPDescription();

protected:
    ServerMediaSession(UsageEnvironment& env, char const* streamName, char const* info,
                       char const* description, char const* miscSDPLines);
    ~ServerMediaSession() override;

private:
    std::string fStreamName;
    std::string fInfo;
    std::string fDescription;
    std::string fMiscSDPLines;
    std::uint64_t fCreationTime; // FILETIME units, the "o=" session id
    std::vector<ServerMediaSubsession*> fSubsessions;
};

// An RTSP/1.0 server that answers OPTIONS and DESCRIBE for its sessions and refuses every other
// method with a clear status. No authentication; it keeps no client sessions (nothing to reclaim).
class RTSPServer : public Medium
{
public:
    static RTSPServer* createNew(UsageEnvironment& env, Port ourPort = 554);

    // Adds a session. A session whose name is already taken by another session is not added:
    // the caller keeps it (and may close it); the session of that name is left alone.
    bool addServerMediaSession(ServerMediaSession* serverMediaSession);
    // Removes this session object (if it is the one listed under its name) and closes it.
    void removeServerMediaSession(ServerMediaSession* serverMediaSession);
    // Looks a session up by its name as given, then by its percent-decoded name.
    ServerMediaSession* lookupServerMediaSession(char const* streamName) const;

    // "rtsp://address:port/name" (name percent-escaped) as a new[] string; the address is the
    // local address of `clientSocket` when given, else the receiving-interface address, else
    // the listening address, else the host's first address.
    char* rtspURL(ServerMediaSession const* serverMediaSession, int clientSocket = -1) const;
    Port serverPort() const { return fServerPort; }

protected:
    // Creates the listening socket (bound to ReceivingInterfaceAddr); returns it or -1 after
    // reporting the cause. A port of 0 is replaced by the port that the system chose.
    static int setUpOurSocket(UsageEnvironment& env, Port& ourPort);

    RTSPServer(UsageEnvironment& env, int ourSocket, Port ourPort);
    ~RTSPServer() override;

    // Limits of one client connection.
    unsigned fRequestTimeoutMs = 20000; // a request must arrive completely within this time
    unsigned fIdleTimeoutMs = 120000;   // a connection without any traffic is closed after this time
    // Connections beyond these limits are closed at once: in all, and from one peer address.
    unsigned fMaxConnections = 256;
    unsigned fMaxConnectionsPerAddress = 16;

private:
    class RTSPClientSession;
    friend class RTSPClientSession;

    static void incomingConnectionHandler(void* instance, int mask);
    void acceptConnections();
    void refuseConnection(SOCKET s, std::uint32_t peer, unsigned count, char const* what);
    // Lines that a peer can cause at will (refused connections, time-outs): at most one per peer
    // address and second; what is held back meanwhile is counted in one later line.
    bool mayWritePeerLine(std::uint32_t peer);
    static void peerLineHandler(void* instance);
    // One line with the count of a peer address's held-back lines (none when there are none).
    void writeHeldBackCount(std::uint32_t peer, unsigned heldBack);
    void writeHeldBackCounts(bool all);
    // The full response to one parsed request that reached the server at `localAddress`.
    std::string handleRequest(rtsp::Request const& request, std::uint32_t localAddress);
    std::string urlFor(ServerMediaSession const* serverMediaSession, std::uint32_t address) const;

    int fServerSocket;
    Port fServerPort;
    std::map<std::string, ServerMediaSession*> fSessions;
    std::set<RTSPClientSession*> fClientSessions;
    std::map<std::uint32_t, unsigned> fConnectionsFrom; // open connections per peer address
    struct PeerLines
    {
        std::int64_t lastWritten;
        unsigned heldBack;
    };
    std::map<std::uint32_t, PeerLines> fPeerLines;
    TaskToken fPeerLineTask = 0;
};
