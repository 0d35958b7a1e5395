// A server media session that answers DESCRIBE with a stored SDP text, for the RTSP library's unit
// tests and benchmark.
#pragma once

#include "live/liveMedia.hh"

#include <cstring>
#include <string>
#include <utility>

class StoredSdpSession : public ServerMediaSession
{
public:
    static StoredSdpSession* createNew(UsageEnvironment& env, char const* name, std::string sdp)
    {
        StoredSdpSession* session = new StoredSdpSession(env, name);
        session->fSDP = std::move(sdp);
        return session;
    }
    char* generateSDPDescription() override
    {
        char* copy = new char[fSDP.size() + 1];
        std::memcpy(copy, fSDP.c_str(), fSDP.size() + 1);
        return copy;
    }

protected:
    StoredSdpSession(UsageEnvironment& env, char const* name) : ServerMediaSession(env, name, name, name, "")
    {
    }

private:
    std::string fSDP;
};
