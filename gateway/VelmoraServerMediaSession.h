// One stream published on the gateway's RTSP server: DESCRIBE is answered with the stream's own
// SDP text, not with a description built from the session's subsessions.
#pragma once

#include "foundation/MfxString.h"
#include "live/liveMedia.hh"

#include <string>

class CVelmoraServerMediaSession : public ServerMediaSession
{
public:
    // The texts are byte strings in the ANSI code page, handed to the library unchanged.
    static CVelmoraServerMediaSession* createNew(UsageEnvironment& env, char const* streamName,
                                                 char const* info, char const* description,
                                                 char const* miscSDPLines);

    // Replaces the SDP text that DESCRIBE returns: in the ANSI code page, or as the given bytes.
    void SetSDP(CMfxString sdp);
    void SetSDPBytes(std::string bytes);

    // The stored SDP bytes, zero-terminated, as a new[] string that the
    // caller releases with delete[].
    char* generateSDPDescription() override;

protected:
    CVelmoraServerMediaSession(UsageEnvironment& env, char const* streamName, char const* info,
                               char const* description, char const* miscSDPLines);
    ~CVelmoraServerMediaSession() override;

private:
    std::string m_SDP;
};
