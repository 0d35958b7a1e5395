#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"

#include "live/live_support.hh"
#include "live/rtsp_protocol.hh"

#include <algorithm>
#include <cstring>

using live_support::currentFileTime;
using live_support::dottedAddress;
using live_support::monotonicMicroseconds;
using live_support::socketErr;

namespace {

constexpr int kSendBufferBytes = 51200;
constexpr int kReceiveBufferBytes = 32768;
constexpr unsigned kAcceptsPerEvent = 64;
// A peer address gets at most one line about its refused or timed-out connections per this time.
constexpr std::int64_t kPeerLineMicroseconds = 1000000;
// After an error reply the connection reads (and drops) what the client still sends, so that
// closing it does not reset the reply away, for at most this long.
constexpr std::int64_t kDrainMicroseconds = 5000000;

char const* const kKnownMethods[] = {"ANNOUNCE", "GET_PARAMETER", "PAUSE",         "PLAY",    "RECORD",
                                     "REDIRECT", "SETUP",         "SET_PARAMETER", "TEARDOWN"};

std::uint32_t localAddressOf(int socketNum)
{
    sockaddr_in local = {};
    int length = sizeof(local);
    if (socketNum < 0 ||
        getsockname(static_cast<SOCKET>(socketNum), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return INADDR_ANY;
    return local.sin_addr.s_addr;
}

} // namespace

// One client connection: reads requests up to the size limit, answers them in order and ends
// itself on disconnection, on a read error, on an oversized request or when a time limit passes.
class RTSPServer::RTSPClientSession
{
public:
    RTSPClientSession(RTSPServer& server, int socketNum, std::uint32_t peerAddress);
    ~RTSPClientSession();

private:
    enum class State
    {
        reading,          // requests are read and answered
        closingAfterSend, // an error reply is being sent; no further requests are read
        draining,         // the reply is out: incoming bytes are dropped until the client closes
    };

    static void socketHandler(void* instance, int mask);
    static void timeoutHandler(void* instance);

    // Each of these returns false when the connection has ended (the object is deleted).
    bool onSocketEvent(int mask);
    bool readRequestBytes();
    bool processBuffered(bool leftover);
    bool sendResponse(std::string const& response);
    // An error reply after which the connection reads no further requests.
    bool sendFinalResponse(std::string const& response);
    bool flushOutput();
    void onTimeout();
    // The error reply is out: no more sending, and what the client still sends is dropped.
    void startDraining();

    // Watches the socket for what the state needs next and moves the timer to an earlier deadline.
    void updateInterest();
    void armTimer();
    std::int64_t deadline() const;
    void end();
    UsageEnvironment& envir() const { return fServer.envir(); }
    UsageEnvironment& trace() { return envir() << "RTSPClientSession[" << static_cast<void*>(this) << "]::"; }

    RTSPServer& fServer;
    int fSocket;
    std::uint32_t fPeerAddress;
    std::uint32_t fLocalAddress; // the address the client reached, for Content-Base
    State fState = State::reading;
    std::string fIn;
    std::size_t fScanFrom = 0; // header search resumes here
    std::string fOut;
    std::size_t fOutSent = 0;
    std::int64_t fRequestStart = 0; // first byte of the request being read
    std::int64_t fLastActivity;
    TaskToken fTimer = 0;
    std::int64_t fTimerDue = 0;
};

RTSPServer::RTSPClientSession::RTSPClientSession(RTSPServer& server, int socketNum, std::uint32_t peerAddress)
    : fServer(server), fSocket(socketNum), fPeerAddress(peerAddress),
      fLocalAddress(localAddressOf(socketNum)), fLastActivity(monotonicMicroseconds())
{
    armTimer();
    updateInterest();
}

RTSPServer::RTSPClientSession::~RTSPClientSession()
{
    envir().taskScheduler().unscheduleDelayedTask(fTimer);
    envir().taskScheduler().disableBackgroundHandling(fSocket);
    closesocket(static_cast<SOCKET>(fSocket));
    auto from = fServer.fConnectionsFrom.find(fPeerAddress);
    if (from != fServer.fConnectionsFrom.end() && --from->second == 0)
        fServer.fConnectionsFrom.erase(from);
}

void RTSPServer::RTSPClientSession::end()
{
    fServer.fClientSessions.erase(this);
    delete this;
}

void RTSPServer::RTSPClientSession::socketHandler(void* instance, int mask)
{
    static_cast<RTSPClientSession*>(instance)->onSocketEvent(mask);
}

bool RTSPServer::RTSPClientSession::onSocketEvent(int mask)
{
    if (mask & SOCKET_WRITABLE) {
        if (!flushOutput())
            return false;
        if (!fOut.empty())
            return true;
        if (fState == State::closingAfterSend) {
            startDraining();
            return true;
        }
        if (!processBuffered(true))
            return false;
    }
    if (!(mask & SOCKET_READABLE))
        return true;
    if (fState == State::draining) {
        char scratch[4096];
        const int n = recv(static_cast<SOCKET>(fSocket), scratch, sizeof(scratch), 0);
        if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
            end();
            return false;
        }
        return true;
    }
    if (fState != State::reading || !fOut.empty())
        return true;
    return readRequestBytes();
}

bool RTSPServer::RTSPClientSession::readRequestBytes()
{
    const std::size_t old = fIn.size();
    const std::size_t room = rtsp::kMaxRequestBytes - old;
    fIn.resize(rtsp::kMaxRequestBytes);
    const int n = room == 0 ? 0 : recv(static_cast<SOCKET>(fSocket), &fIn[old], static_cast<int>(room), 0);
    const int err = n < 0 ? WSAGetLastError() : 0;
    fIn.resize(old + (n > 0 ? n : 0));
    if (n < 0 && err == WSAEWOULDBLOCK)
        return true;
    if (n <= 0) {
        trace() << "handleRequestBytes() read " << n << "new bytes (of " << static_cast<unsigned>(room)
                << "); terminating connection!\n";
        end();
        return false;
    }
    const std::int64_t now = monotonicMicroseconds();
    if (old == 0)
        fRequestStart = now;
    fLastActivity = now;
    trace() << "handleRequestBytes() read " << n << " new bytes:" << fIn.substr(old).c_str() << "\n";
    if (!processBuffered(false))
        return false;
    if (fState == State::reading && fOut.empty() && fIn.size() >= rtsp::kMaxRequestBytes) {
        // The buffer is full and still holds no complete request.
        trace() << "handleRequestBytes() read " << n << "new bytes (of " << static_cast<unsigned>(room)
                << "); terminating connection!\n";
        end();
        return false;
    }
    return true;
}

bool RTSPServer::RTSPClientSession::processBuffered(bool leftover)
{
    while (fState == State::reading && fOut.empty() && !fIn.empty()) {
        if (leftover) {
            trace() << "handleRequestBytes() processing " << static_cast<unsigned>(fIn.size())
                    << " new bytes:" << fIn.c_str() << "\n";
        }
        leftover = true;
        const std::size_t headerEnd = rtsp::findHeaderEnd(fIn.data(), fIn.size(), fScanFrom);
        if (headerEnd == 0) {
            fScanFrom = fIn.size() > 3 ? fIn.size() - 3 : 0;
            break;
        }
        rtsp::Request request;
        const rtsp::ParseResult result = rtsp::parseRequest(fIn.data(), headerEnd, request);
        std::string const* cseq = request.cseq.empty() ? nullptr : &request.cseq;
        if (result == rtsp::ParseResult::badRequest) {
            trace() << "handleRequestBytes() parseRTSPRequestString() failed\n";
            const std::string allow = std::string("Allow: ") + rtsp::kServedMethods + "\r\n";
            return sendFinalResponse(
                rtsp::buildResponse(400, cseq, rtsp::dateHeader(currentFileTime()), allow));
        }
        if (request.contentLength > rtsp::kMaxRequestBytes - headerEnd)
            return sendFinalResponse(rtsp::buildResponse(413, cseq, rtsp::dateHeader(currentFileTime()), ""));
        const std::size_t total = headerEnd + request.contentLength;
        if (fIn.size() < total) {
            fScanFrom = headerEnd > 3 ? headerEnd - 3 : 0; // the body is still on its way
            break;
        }
        trace() << "handleRequestBytes() parseRTSPRequestString() succeeded, returning cmdName \""
                << request.method.c_str() << "\", urlPreSuffix \"" << request.urlPreSuffix.c_str()
                << "\", urlSuffix \"" << request.urlSuffix.c_str() << "\", CSeq \"" << request.cseq.c_str()
                << "\", Content-Length " << static_cast<unsigned>(request.contentLength) << "\n";
        const std::string response =
            result == rtsp::ParseResult::versionNotSupported
                ? rtsp::buildResponse(505, cseq, rtsp::dateHeader(currentFileTime()), "")
                : fServer.handleRequest(request, fLocalAddress);
        fIn.erase(0, total);
        fScanFrom = 0;
        fRequestStart = monotonicMicroseconds();
        if (!sendResponse(response))
            return false;
    }
    updateInterest();
    return true;
}

bool RTSPServer::RTSPClientSession::sendResponse(std::string const& response)
{
    trace() << "handleRequestBytes() sending response: " << response.c_str() << "\n";
    fOut = response;
    fOutSent = 0;
    if (!flushOutput())
        return false;
    if (fOut.empty() && fState == State::closingAfterSend)
        startDraining();
    else
        updateInterest();
    return true;
}

bool RTSPServer::RTSPClientSession::sendFinalResponse(std::string const& response)
{
    fState = State::closingAfterSend;
    fIn.clear();
    return sendResponse(response);
}

bool RTSPServer::RTSPClientSession::flushOutput()
{
    while (fOutSent < fOut.size()) {
        const int n = send(static_cast<SOCKET>(fSocket), fOut.data() + fOutSent,
                           static_cast<int>(std::min<std::size_t>(fOut.size() - fOutSent, 0x7FFFFFFF)), 0);
        if (n < 0) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                return true;
            end();
            return false;
        }
        fOutSent += static_cast<std::size_t>(n);
        fLastActivity = monotonicMicroseconds();
    }
    fOut.clear();
    fOutSent = 0;
    return true;
}

void RTSPServer::RTSPClientSession::startDraining()
{
    shutdown(static_cast<SOCKET>(fSocket), SD_SEND);
    fState = State::draining;
    fLastActivity = monotonicMicroseconds();
    updateInterest();
}

void RTSPServer::RTSPClientSession::updateInterest()
{
    const int conditions = fState != State::draining && !fOut.empty() ? SOCKET_WRITABLE : SOCKET_READABLE;
    envir().taskScheduler().setBackgroundHandling(fSocket, conditions, socketHandler, this);
    const std::int64_t due = deadline();
    if (due != 0 && (fTimer == 0 || due < fTimerDue)) {
        envir().taskScheduler().unscheduleDelayedTask(fTimer);
        armTimer();
    }
}

std::int64_t RTSPServer::RTSPClientSession::deadline() const
{
    if (fState == State::draining)
        return fLastActivity + kDrainMicroseconds;
    if (fState == State::reading && fOut.empty() && !fIn.empty() && fServer.fRequestTimeoutMs != 0)
        return fRequestStart + std::int64_t(fServer.fRequestTimeoutMs) * 1000;
    if (fServer.fIdleTimeoutMs != 0)
        return fLastActivity + std::int64_t(fServer.fIdleTimeoutMs) * 1000;
    return 0;
}

void RTSPServer::RTSPClientSession::armTimer()
{
    fTimerDue = deadline();
    if (fTimerDue != 0)
        fTimer = envir().taskScheduler().scheduleDelayedTask(fTimerDue - monotonicMicroseconds(),
                                                             timeoutHandler, this);
}

void RTSPServer::RTSPClientSession::timeoutHandler(void* instance)
{
    static_cast<RTSPClientSession*>(instance)->onTimeout();
}

void RTSPServer::RTSPClientSession::onTimeout()
{
    fTimer = 0;
    // The timer runs at the earliest deadline that was possible when it was set; activity since
    // then moves the deadline on.
    const std::int64_t due = deadline();
    if (due == 0 || due > monotonicMicroseconds()) {
        armTimer();
        return;
    }
    if (fState != State::draining && fServer.mayWritePeerLine(fPeerAddress)) {
        trace() << "handleRequestBytes() timed out with " << static_cast<unsigned>(fIn.size())
                << " request bytes pending; terminating connection!\n";
    }
    end();
}

// --- RTSPServer -----------------------------------------------------------------------------------

RTSPServer* RTSPServer::createNew(UsageEnvironment& env, Port ourPort)
{
    const int ourSocket = setUpOurSocket(env, ourPort);
    if (ourSocket < 0)
        return nullptr;
    return new RTSPServer(env, ourSocket, ourPort);
}

int RTSPServer::setUpOurSocket(UsageEnvironment& env, Port& ourPort)
{
    if (!live_support::initializeWinsockIfNecessary(env))
        return -1;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        socketErr(env, "unable to create stream socket: ");
        return -1;
    }
    auto fail = [&env, s](char const* msg) {
        socketErr(env, msg);
        closesocket(s);
        return -1;
    };
    // No other socket may share the port: a server that is already listening must make this one
    // fail rather than have connections split between the two.
    BOOL exclusive = TRUE;
    if (setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                   sizeof(exclusive)) != 0)
        return fail("setsockopt(SO_EXCLUSIVEADDRUSE) error: ");
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = ourPort.num();
    local.sin_addr.s_addr = ReceivingInterfaceAddr;
    const unsigned char* a = reinterpret_cast<const unsigned char*>(&local.sin_addr.s_addr);
    env << "setupStreamSocket bind at " << int(a[0]) << "." << int(a[1]) << "." << int(a[2]) << "."
        << int(a[3]) << ":" << int(ourPort.hostOrder()) << "\n";
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        const std::string msg = "bind() error (port number: " + std::to_string(ourPort.hostOrder()) + "): ";
        return fail(msg.c_str());
    }
    const int receiveBuffer = kReceiveBufferBytes;
    if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof(receiveBuffer)) != 0)
        return fail("setsockopt(SO_RCVBUF) error: ");
    if (!live_support::makeSocketNonBlocking(static_cast<int>(s)))
        return fail("failed to make non-blocking: ");
    if (listen(s, SOMAXCONN) != 0)
        return fail("listen() failed: ");
    if (ourPort.hostOrder() == 0) {
        sockaddr_in bound = {};
        int length = sizeof(bound);
        if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
            return fail("getsockname() error: ");
        ourPort = Port(ntohs(bound.sin_port));
    }
    return static_cast<int>(s);
}

RTSPServer::RTSPServer(UsageEnvironment& env, int ourSocket, Port ourPort)
    : Medium(env), fServerSocket(ourSocket), fServerPort(ourPort)
{
    env.taskScheduler().setBackgroundHandling(fServerSocket, SOCKET_READABLE, incomingConnectionHandler,
                                              this);
}

RTSPServer::~RTSPServer()
{
    envir().taskScheduler().unscheduleDelayedTask(fPeerLineTask);
    writeHeldBackCounts(true);
    envir().taskScheduler().disableBackgroundHandling(fServerSocket);
    closesocket(static_cast<SOCKET>(fServerSocket));
    while (!fClientSessions.empty()) {
        RTSPClientSession* session = *fClientSessions.begin();
        fClientSessions.erase(fClientSessions.begin());
        delete session;
    }
    for (auto& entry : fSessions)
        Medium::close(entry.second);
    fSessions.clear();
}

bool RTSPServer::addServerMediaSession(ServerMediaSession* serverMediaSession)
{
    if (!serverMediaSession)
        return false;
    auto inserted = fSessions.emplace(serverMediaSession->streamName(), serverMediaSession);
    return inserted.first->second == serverMediaSession;
}

void RTSPServer::removeServerMediaSession(ServerMediaSession* serverMediaSession)
{
    if (!serverMediaSession)
        return;
    auto it = fSessions.find(serverMediaSession->streamName());
    if (it != fSessions.end() && it->second == serverMediaSession)
        fSessions.erase(it);
    Medium::close(serverMediaSession);
}

ServerMediaSession* RTSPServer::lookupServerMediaSession(char const* streamName) const
{
    const std::string name = streamName ? streamName : "";
    auto it = fSessions.find(name);
    if (it != fSessions.end())
        return it->second;
    const std::string decoded = rtsp::percentDecode(name);
    if (decoded != name) {
        it = fSessions.find(decoded);
        if (it != fSessions.end())
            return it->second;
    }
    return nullptr;
}

char* RTSPServer::rtspURL(ServerMediaSession const* serverMediaSession, int clientSocket) const
{
    const std::string url = urlFor(serverMediaSession, localAddressOf(clientSocket));
    char* copy = new char[url.size() + 1];
    std::memcpy(copy, url.c_str(), url.size() + 1);
    return copy;
}

std::string RTSPServer::urlFor(ServerMediaSession const* serverMediaSession, std::uint32_t address) const
{
    if (address == INADDR_ANY)
        address = ReceivingInterfaceAddr;
    if (address == INADDR_ANY)
        address = localAddressOf(fServerSocket);
    if (address == INADDR_ANY)
        address = live_support::ourIPAddress();
    std::string url =
        "rtsp://" + dottedAddress(address) + ":" + std::to_string(fServerPort.hostOrder()) + "/";
    if (serverMediaSession)
        url += rtsp::percentEncodePath(serverMediaSession->streamName());
    return url;
}

void RTSPServer::incomingConnectionHandler(void* instance, int /*mask*/)
{
    static_cast<RTSPServer*>(instance)->acceptConnections();
}

void RTSPServer::acceptConnections()
{
    for (unsigned i = 0; i < kAcceptsPerEvent; ++i) {
        sockaddr_in peer = {};
        int length = sizeof(peer);
        const SOCKET s =
            accept(static_cast<SOCKET>(fServerSocket), reinterpret_cast<sockaddr*>(&peer), &length);
        if (s == INVALID_SOCKET) {
            const int err = WSAGetLastError();
            if (err != WSAEWOULDBLOCK) {
                envir() << "accept()failed from " << dottedAddress(peer.sin_addr.s_addr).c_str()
                        << ", err = " << err << " \n";
            }
            return;
        }
        const std::uint32_t peerAddress = peer.sin_addr.s_addr;
        if (fClientSessions.size() >= fMaxConnections) {
            refuseConnection(s, peerAddress, static_cast<unsigned>(fClientSessions.size()),
                             "too many connections");
            continue;
        }
        unsigned& fromPeer = fConnectionsFrom[peerAddress];
        if (fromPeer >= fMaxConnectionsPerAddress) {
            refuseConnection(s, peerAddress, fromPeer, "too many connections from this address");
            continue;
        }
        ++fromPeer;
        live_support::makeSocketNonBlocking(static_cast<int>(s));
        const int sendBuffer = kSendBufferBytes;
        setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer), sizeof(sendBuffer));
        envir() << "accept()ed connection from " << dottedAddress(peerAddress).c_str() << "\n";
        fClientSessions.insert(new RTSPClientSession(*this, static_cast<int>(s), peerAddress));
    }
}

void RTSPServer::refuseConnection(SOCKET s, std::uint32_t peer, unsigned count, char const* what)
{
    if (mayWritePeerLine(peer)) {
        envir() << what << " (" << count << "); closing the connection from " << dottedAddress(peer).c_str()
                << "\n";
    }
    // A clean close: the end of the stream, then the socket goes (nothing was read or sent).
    shutdown(s, SD_SEND);
    closesocket(s);
}

bool RTSPServer::mayWritePeerLine(std::uint32_t peer)
{
    const std::int64_t now = monotonicMicroseconds();
    auto it = fPeerLines.find(peer);
    if (it == fPeerLines.end()) {
        fPeerLines.emplace(peer, PeerLines{now, 0});
    } else if (now - it->second.lastWritten < kPeerLineMicroseconds) {
        ++it->second.heldBack;
        return false;
    } else {
        writeHeldBackCount(peer, it->second.heldBack);
        it->second = PeerLines{now, 0};
    }
    if (fPeerLineTask == 0)
        fPeerLineTask =
            envir().taskScheduler().scheduleDelayedTask(kPeerLineMicroseconds, peerLineHandler, this);
    return true;
}

void RTSPServer::peerLineHandler(void* instance)
{
    RTSPServer* server = static_cast<RTSPServer*>(instance);
    server->fPeerLineTask = 0;
    server->writeHeldBackCounts(false);
}

void RTSPServer::writeHeldBackCount(std::uint32_t peer, unsigned heldBack)
{
    if (heldBack != 0) {
        envir() << "held back " << heldBack << " more lines about connections from "
                << dottedAddress(peer).c_str() << "\n";
    }
}

void RTSPServer::writeHeldBackCounts(bool all)
{
    // Addresses quiet for a whole period are forgotten, after their count of held-back lines.
    const std::int64_t now = monotonicMicroseconds();
    for (auto it = fPeerLines.begin(); it != fPeerLines.end();) {
        if (!all && now - it->second.lastWritten < kPeerLineMicroseconds) {
            ++it;
            continue;
        }
        writeHeldBackCount(it->first, it->second.heldBack);
        it = fPeerLines.erase(it);
    }
    if (!fPeerLines.empty() && !all)
        fPeerLineTask =
            envir().taskScheduler().scheduleDelayedTask(kPeerLineMicroseconds, peerLineHandler, this);
}

std::string RTSPServer::handleRequest(rtsp::Request const& request, std::uint32_t localAddress)
{
    const std::string date = rtsp::dateHeader(currentFileTime());
    std::string const* cseq = &request.cseq;
    const std::string methods = rtsp::kServedMethods;
    if (request.method == "OPTIONS")
        return rtsp::buildResponse(200, cseq, date, "Public: " + methods + "\r\n");
    if (request.method == "DESCRIBE") {
        ServerMediaSession* session = lookupServerMediaSession(request.totalSuffix().c_str());
        char* sdp = session ? session->generateSDPDescription() : nullptr;
        if (!sdp)
            return rtsp::buildResponse(404, cseq, date, "");
        const std::string body = sdp;
        delete[] sdp;
        const std::string headers =
            "Content-Base: " + urlFor(session, localAddress) + "/\r\nContent-Type: application/sdp\r\n";
        return rtsp::buildResponse(200, cseq, date, headers, &body);
    }
    const bool known = std::any_of(std::begin(kKnownMethods), std::end(kKnownMethods),
                                   [&request](char const* name) { return request.method == name; });
    return rtsp::buildResponse(known ? 405 : 501, cseq, date, "Allow: " + methods + "\r\n");
}
