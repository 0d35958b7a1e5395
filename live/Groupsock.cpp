#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/Groupsock.hh"

#include "live/live_support.hh"

using live_support::socketErr;

std::uint32_t ReceivingInterfaceAddr = INADDR_ANY;
std::uint32_t SendingInterfaceAddr = INADDR_ANY;

namespace {

bool isMulticast(in_addr const& address)
{
    return (ntohl(address.s_addr) >> 28) == 0xE;
}

} // namespace

Groupsock::Groupsock(UsageEnvironment& env, in_addr const& groupAddr, Port port, unsigned char ttl)
    : fEnv(env), fGroupAddress(groupAddr), fPort(port), fTTL(ttl)
{
    ++fEnv.fObjectsInUse;
    if (!live_support::initializeWinsockIfNecessary(env))
        return;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        socketErr(env, "unable to create datagram socket: ");
        return;
    }
    fSocket = static_cast<int>(s);
    // Several sockets of this host may use the same group and port (one per published stream).
    BOOL reuse = TRUE;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse)) != 0)
        socketErr(env, "setsockopt(SO_REUSEADDR) error: ");
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = port.num();
    // Multicast datagrams reach only sockets bound to the wildcard address.
    local.sin_addr.s_addr = isMulticast(groupAddr) ? INADDR_ANY : ReceivingInterfaceAddr;
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        // The socket can still send, from a port of the system's choice.
        socketErr(env, "bind() error: ");
    }
    if (isMulticast(groupAddr)) {
        const DWORD hops = ttl;
        if (setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&hops), sizeof(hops)) !=
            0)
            socketErr(env, "setsockopt(IP_MULTICAST_TTL) error: ");
        if (SendingInterfaceAddr != INADDR_ANY) {
            in_addr outgoing;
            outgoing.s_addr = SendingInterfaceAddr;
            if (setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&outgoing),
                           sizeof(outgoing)) != 0)
                socketErr(env, "setsockopt(IP_MULTICAST_IF) error: ");
        }
    }
    if (!live_support::makeSocketNonBlocking(fSocket))
        socketErr(env, "failed to make non-blocking: ");
}

Groupsock::~Groupsock()
{
    if (fSocket >= 0) {
        fEnv.taskScheduler().disableBackgroundHandling(fSocket);
        if (fJoined) {
            ip_mreq membership = {};
            membership.imr_multiaddr = fGroupAddress;
            membership.imr_interface.s_addr = ReceivingInterfaceAddr;
            setsockopt(static_cast<SOCKET>(fSocket), IPPROTO_IP, IP_DROP_MEMBERSHIP,
                       reinterpret_cast<const char*>(&membership), sizeof(membership));
        }
        closesocket(static_cast<SOCKET>(fSocket));
    }
    --fEnv.fObjectsInUse;
}

bool Groupsock::joinGroup()
{
    if (fSocket < 0)
        return false;
    if (fJoined || !isMulticast(fGroupAddress))
        return true;
    ip_mreq membership = {};
    membership.imr_multiaddr = fGroupAddress;
    membership.imr_interface.s_addr = ReceivingInterfaceAddr;
    if (setsockopt(static_cast<SOCKET>(fSocket), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                   reinterpret_cast<const char*>(&membership), sizeof(membership)) != 0) {
        socketErr(fEnv, "setsockopt(IP_ADD_MEMBERSHIP) error: ");
        return false;
    }
    fJoined = true;
    return true;
}

bool Groupsock::output(unsigned char const* data, unsigned size)
{
    if (fSocket < 0)
        return false;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = fPort.num();
    to.sin_addr = fGroupAddress;
    const int sent = sendto(static_cast<SOCKET>(fSocket), reinterpret_cast<const char*>(data),
                            static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    if (sent != static_cast<int>(size)) {
        socketErr(fEnv, "sendto() error: ");
        return false;
    }
    return true;
}
