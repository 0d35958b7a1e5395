// Multicast probe for the end-to-end harness: joins a group on one interface, sends a text to the
// group every 200 ms and waits for a datagram from another host. Prints what it received.
//   mcast_probe <interface ip> <group> <port> <text> [seconds]
// Exit code 0 when a datagram from another host arrived, 1 on time-out, 2 on a socket error.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: mcast_probe <interface ip> <group> <port> <text> [seconds]\n");
        return 2;
    }
    const char* local = argv[1];
    const char* group = argv[2];
    const unsigned short port = static_cast<unsigned short>(std::atoi(argv[3]));
    const char* text = argv[4];
    const int seconds = argc > 5 ? std::atoi(argv[5]) : 20;

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return 2;
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    sockaddr_in bound = {};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr.s_addr = inet_addr(local);
    if (bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0) {
        std::printf("bind failed %d\n", WSAGetLastError());
        return 2;
    }
    ip_mreq mreq = {};
    mreq.imr_multiaddr.s_addr = inet_addr(group);
    mreq.imr_interface.s_addr = inet_addr(local);
    if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&mreq), sizeof(mreq)) !=
        0) {
        std::printf("join failed %d\n", WSAGetLastError());
        return 2;
    }
    in_addr ifaddr;
    ifaddr.s_addr = inet_addr(local);
    setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&ifaddr), sizeof(ifaddr));
    std::printf("joined %s:%u on %s\n", group, port, local);
    std::fflush(stdout);

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(group);
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    int result = 1;
    while (static_cast<int>(end - GetTickCount()) > 0 && result != 0) {
        sendto(s, text, static_cast<int>(std::strlen(text)), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 200000};
        while (select(0, &readable, nullptr, nullptr, &wait) > 0) {
            char buffer[1500];
            sockaddr_in from = {};
            int fromLength = sizeof(from);
            int n =
                recvfrom(s, buffer, sizeof(buffer) - 1, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0)
                break;
            buffer[n] = 0;
            if (from.sin_addr.s_addr != ifaddr.s_addr) {
                std::printf("received \"%s\" from %s\n", buffer, inet_ntoa(from.sin_addr));
                result = 0;
                break;
            }
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            wait = {0, 0};
        }
    }
    std::fflush(stdout);
    closesocket(s);
    WSACleanup();
    return result;
}
