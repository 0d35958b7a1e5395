// UDP sockets of the RTSP library: interface addresses, ports and the group socket that carries
// the datagrams of one RTP or RTCP destination.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

#include "live/UsageEnvironment.hh"

// Interface addresses (network byte order) to which the library binds its sockets and on which
// it sends multicast; INADDR_ANY (the default) leaves the choice to the system.
extern std::uint32_t ReceivingInterfaceAddr;
extern std::uint32_t SendingInterfaceAddr;

// A port number, kept in network byte order.
class Port
{
public:
    Port(unsigned short hostOrderNum = 0) : fNetworkOrder(htons(hostOrderNum)) {}
    unsigned short num() const { return fNetworkOrder; }
    unsigned short hostOrder() const { return ntohs(fNetworkOrder); }

private:
    unsigned short fNetworkOrder;
};

// A UDP socket bound to `port` that sends to `groupAddr`:`port` (with the given multicast TTL
// when the address is a multicast group). It receives only after joinGroup().
// The group sockets of one environment with the same destination and port share one system
// socket and one group membership (the first one's TTL holds), so that many publications on one
// group cost one socket; the socket closes with the last of them.
// A socket that cannot be set up reports the cause through the environment and stays unusable
// (socketNum() is -1; output() fails).
class Groupsock
{
public:
    Groupsock(UsageEnvironment& env, in_addr const& groupAddr, Port port, unsigned char ttl);
    ~Groupsock();

    int socketNum() const { return fSocket; }
    in_addr groupAddress() const { return fGroupAddress; }
    Port port() const { return fPort; }
    unsigned char ttl() const { return fTTL; }

    // Joins the multicast group on the receiving interface, so that the group's datagrams reach
    // this socket (nothing to do for a unicast destination).
    bool joinGroup();
    // Sends one datagram to the destination.
    bool output(unsigned char const* data, unsigned size);

    struct Shared; // a system socket and its users (internal to the group sockets)

private:
    Groupsock(const Groupsock&) = delete;
    Groupsock& operator=(const Groupsock&) = delete;

    int openSocket();

    UsageEnvironment& fEnv;
    int fSocket = -1;
    in_addr fGroupAddress;
    Port fPort;
    unsigned char fTTL;
    Shared* fShared = nullptr; // the socket's entry in the table of shared sockets
};
