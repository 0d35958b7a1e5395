#include "gateway/VelmoraServerMediaSession.h"

#include <cstring>

CVelmoraServerMediaSession* CVelmoraServerMediaSession::createNew(UsageEnvironment& env,
                                                                  char const* streamName, char const* info,
                                                                  char const* description,
                                                                  char const* miscSDPLines)
{
    return new CVelmoraServerMediaSession(env, streamName, info, description, miscSDPLines);
}

CVelmoraServerMediaSession::CVelmoraServerMediaSession(UsageEnvironment& env, char const* streamName,
                                                       char const* info, char const* description,
                                                       char const* miscSDPLines)
    : ServerMediaSession(env, streamName, info, description, miscSDPLines)
{
}

CVelmoraServerMediaSession::~CVelmoraServerMediaSession() = default;

void CVelmoraServerMediaSession::SetSDP(CMfxString sdp)
{
    m_SDP = sdp.GetAnsi();
}

void CVelmoraServerMediaSession::SetSDPBytes(std::string bytes)
{
    m_SDP.swap(bytes);
}

char* CVelmoraServerMediaSession::generateSDPDescription()
{
    // Up to a NUL byte, as a zero-terminated text always ends.
    const std::size_t length = std::strlen(m_SDP.c_str());
    char* description = new char[length + 1];
    std::memcpy(description, m_SDP.c_str(), length + 1);
    return description;
}
