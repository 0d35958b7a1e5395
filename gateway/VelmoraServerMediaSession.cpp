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
    m_SDP = sdp;
}

char* CVelmoraServerMediaSession::generateSDPDescription()
{
    CMfxString sdp(m_SDP); // shares the text; the multibyte copy belongs to this local object
    const char* ansi = sdp.GetAnsi();
    const std::size_t size = std::strlen(ansi) + 1;
    char* description = new char[size];
    std::memcpy(description, ansi, size);
    return description;
}
