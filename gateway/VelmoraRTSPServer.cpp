#include "gateway/VelmoraRTSPServer.h"

CVelmoraRTSPServer* CVelmoraRTSPServer::createNew(UsageEnvironment& env, Port ourPort)
{
    const int ourSocket = setUpOurSocket(env, ourPort);
    if (ourSocket < 0)
        return nullptr;
    return new CVelmoraRTSPServer(env, ourSocket, ourPort);
}

CVelmoraRTSPServer::CVelmoraRTSPServer(UsageEnvironment& env, int ourSocket, Port ourPort)
    : RTSPServer(env, ourSocket, ourPort)
{
}

CVelmoraRTSPServer::~CVelmoraRTSPServer() = default;
