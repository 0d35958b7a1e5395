// The gateway's RTSP server: the library's server on the port of the setting RTSPPort, bound to
// the library's receiving-interface address.
#pragma once

#include "live/liveMedia.hh"

class CVelmoraRTSPServer : public RTSPServer
{
public:
    // `ourPort` holds the port in network byte order. Returns null (with the cause written to the
    // environment) when the listening socket cannot be set up.
    static CVelmoraRTSPServer* createNew(UsageEnvironment& env, Port ourPort);

protected:
    CVelmoraRTSPServer(UsageEnvironment& env, int ourSocket, Port ourPort);
    ~CVelmoraRTSPServer() override;
};
