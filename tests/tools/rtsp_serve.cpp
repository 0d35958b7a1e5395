// Serves one SDP text over RTSP with the project's RTSP library, for the end-to-end tests.
//   rtsp_serve <interface ip> <port> <stream name> <sdp file>
// Reads commands from stdin, one a line: "publish" adds the session "by-name/<stream name>"
// with a placeholder subsession on 239.1.4.194 (RTP 5004, RTCP 5005), "unpublish" removes it,
// "quit" ends the program. Prints "listening <port>", "published <url>", "unpublished" on stdout;
// the library's own output goes to stderr.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "live/liveMedia.hh"
#include "tests/tools/stored_sdp_session.hh"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

namespace {

// The placeholder publication: session, group sockets, sink and RTCP instance.
struct Publication
{
    StoredSdpSession* session = nullptr;
    Groupsock* rtpGroupsock = nullptr;
    Groupsock* rtcpGroupsock = nullptr;
    RTPSink* sink = nullptr;
    RTCPInstance* rtcp = nullptr;

    void publish(UsageEnvironment& env, RTSPServer& server, std::string const& name, std::string const& sdp)
    {
        session = StoredSdpSession::createNew(env, ("by-name/" + name).c_str(), sdp);
        in_addr group;
        group.s_addr = inet_addr("239.1.4.194");
        rtpGroupsock = new Groupsock(env, group, Port(5004), 255);
        rtcpGroupsock = new Groupsock(env, group, Port(5005), 255);
        sink = SimpleRTPSink::createNew(env, rtpGroupsock, 98, 48000, "audio");
        char cname[101] = {};
        gethostname(cname, 100);
        rtcp = RTCPInstance::createNew(env, rtcpGroupsock, cname, sink);
        session->addSubsession(PassiveServerMediaSubsession::createNew(*sink, rtcp));
        if (!server.addServerMediaSession(session)) {
            std::printf("name taken\n");
            unpublish(server);
            return;
        }
        char* url = server.rtspURL(session);
        std::printf("published %s\n", url);
        delete[] url;
    }
    void unpublish(RTSPServer& server)
    {
        server.removeServerMediaSession(session);
        Medium::close(rtcp);
        Medium::close(sink);
        delete rtpGroupsock;
        delete rtcpGroupsock;
        *this = Publication();
    }
};

std::mutex commandsLock;
std::deque<std::string> commands;

void readCommands()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        std::lock_guard<std::mutex> lock(commandsLock);
        commands.push_back(line);
    }
    std::lock_guard<std::mutex> lock(commandsLock);
    commands.push_back("quit");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: rtsp_serve <interface ip> <port> <stream name> <sdp file>\n");
        return 2;
    }
    std::ifstream file(argv[4], std::ios::binary);
    const std::string sdp((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", argv[4]);
        return 2;
    }
    ReceivingInterfaceAddr = inet_addr(argv[1]);
    SendingInterfaceAddr = ReceivingInterfaceAddr;
    TaskScheduler* scheduler = BasicTaskScheduler::createNew();
    UsageEnvironment* env = BasicUsageEnvironment::createNew(*scheduler);
    RTSPServer* server = RTSPServer::createNew(*env, Port(static_cast<unsigned short>(std::atoi(argv[2]))));
    if (!server) {
        std::printf("server failed: %s\n", env->getResultMsg());
        return 2;
    }
    std::printf("listening %u\n", server->serverPort().hostOrder());
    std::fflush(stdout);

    std::thread(readCommands).detach();
    Publication publication;
    for (bool running = true; running;) {
        scheduler->SingleStep();
        std::string command;
        {
            std::lock_guard<std::mutex> lock(commandsLock);
            if (commands.empty())
                continue;
            command = commands.front();
            commands.pop_front();
        }
        if (command == "publish" && !publication.session) {
            publication.publish(*env, *server, argv[3], sdp);
        } else if (command == "unpublish" && publication.session) {
            publication.unpublish(*server);
            std::printf("unpublished\n");
        } else if (command == "quit") {
            running = false;
        }
        std::fflush(stdout);
    }
    if (publication.session)
        publication.unpublish(*server);
    Medium::close(server);
    env->reclaim();
    delete scheduler;
    std::printf("stopped\n");
    return 0;
}
