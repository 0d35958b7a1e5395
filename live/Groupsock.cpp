#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/Groupsock.hh"

#include "live/live_support.hh"

#include <map>
#include <mutex>
#include <tuple>

using live_support::socketErr;

std::uint32_t ReceivingInterfaceAddr = INADDR_ANY;
std::uint32_t SendingInterfaceAddr = INADDR_ANY;

namespace {

bool isMulticast(in_addr const& address)
{
    return (ntohl(address.s_addr) >> 28) == 0xE;
}

} // namespace

struct Groupsock::Shared
{
    int socketNum;
    unsigned users;
    bool joined;
};

namespace {

// Environment, destination and port (network order) of a shared socket.
using SharedKey = std::tuple<UsageEnvironment*, std::uint32_t, unsigned short>;
// Environments may live on several threads: the table is guarded.
std::mutex gSharedLock;
std::map<SharedKey, Groupsock::Shared*> gShared;

} // namespace

Groupsock::Groupsock(UsageEnvironment& env, in_addr const& groupAddr, Port port, unsigned char ttl)
    : fEnv(env), fGroupAddress(groupAddr), fPort(port), fTTL(ttl)
{
    ++fEnv.fObjectsInUse;
    std::lock_guard<std::mutex> lock(gSharedLock);
    Shared*& shared = gShared[SharedKey(&env, groupAddr.s_addr, port.num())];
    if (!shared) {
        const int socketNum = openSocket();
        if (socketNum < 0) {
            gShared.erase(SharedKey(&env, groupAddr.s_addr, port.num()));
            return;
        }
        shared = new Shared{socketNum, 0, false};
    }
    ++shared->users;
    fShared = shared;
    fSocket = shared->socketNum;
}

int Groupsock::openSocket()
{
    UsageEnvironment& env = fEnv;
    if (!live_support::initializeWinsockIfNecessary(env))
        return -1;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        socketErr(env, "unable to create datagram socket: ");
        return -1;
    }
    const in_addr groupAddr = fGroupAddress;
    const Port port = fPort;
    const unsigned char ttl = fTTL;
    // Other programs of this host may use the same group and port.
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
    if (!live_support::makeSocketNonBlocking(static_cast<int>(s)))
        socketErr(env, "failed to make non-blocking: ");
    return static_cast<int>(s);
}

Groupsock::~Groupsock()
{
    if (fShared) {
        std::lock_guard<std::mutex> lock(gSharedLock);
        if (--fShared->users == 0) {
            fEnv.taskScheduler().disableBackgroundHandling(fSocket);
            if (fShared->joined) {
                ip_mreq membership = {};
                membership.imr_multiaddr = fGroupAddress;
                membership.imr_interface.s_addr = ReceivingInterfaceAddr;
                setsockopt(static_cast<SOCKET>(fSocket), IPPROTO_IP, IP_DROP_MEMBERSHIP,
                           reinterpret_cast<const char*>(&membership), sizeof(membership));
            }
            closesocket(static_cast<SOCKET>(fSocket));
            gShared.erase(SharedKey(&fEnv, fGroupAddress.s_addr, fPort.num()));
            delete fShared;
        }
    }
    --fEnv.fObjectsInUse;
}

bool Groupsock::joinGroup()
{
    if (fSocket < 0)
        return false;
    if (!isMulticast(fGroupAddress))
        return true;
    std::lock_guard<std::mutex> lock(gSharedLock);
    if (fShared->joined)
        return true;
    ip_mreq membership = {};
    membership.imr_multiaddr = fGroupAddress;
    membership.imr_interface.s_addr = ReceivingInterfaceAddr;
    if (setsockopt(static_cast<SOCKET>(fSocket), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                   reinterpret_cast<const char*>(&membership), sizeof(membership)) != 0) {
        socketErr(fEnv, "setsockopt(IP_ADD_MEMBERSHIP) error: ");
        return false;
    }
    fShared->joined = true;
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
