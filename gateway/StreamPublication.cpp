// Publication of a stream on the gateway's RTSP server (RTSP-server thread, under the stream-list
// lock): a session named "by-name/" + the stream name that answers DESCRIBE with the stream's SDP,
// holding a placeholder subsession whose RTCP instance reports on 239.1.4.194:5005.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "gateway/VelmoraStream.h"

#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraServerMediaSession.h"
#include "live/liveMedia.hh"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The placeholder RTP session: no media is ever sent on it.
const char kPlaceholderGroup[] = "239.1.4.194";
constexpr unsigned short kPlaceholderRTPPort = 5004;
constexpr unsigned short kPlaceholderRTCPPort = 5005;
constexpr unsigned char kPlaceholderTTL = 255;
constexpr unsigned char kPlaceholderPayloadType = 98;
constexpr unsigned kPlaceholderTimestampFrequency = 48000;

// A publication that could not be made is tried again after this long, not on every pass.
constexpr ULONGLONG kPublishRetryMs = 20000;

// The group socket, or null with `failure` set when its socket cannot be opened.
Groupsock* CreateGroupsock(UsageEnvironment& env, unsigned short port, CMfxString& failure)
{
    in_addr group;
    group.s_addr = inet_addr(kPlaceholderGroup);
    Groupsock* groupsock = new Groupsock(env, group, Port(port), kPlaceholderTTL);
    if (groupsock->socketNum() >= 0)
        return groupsock;
    failure.Format(L"no socket for %S:%d (%S)", kPlaceholderGroup, port, env.getResultMsg());
    delete groupsock;
    return nullptr;
}

} // namespace

void CVelmoraStream::AddToRTSPServer(UsageEnvironment* pEnv, RTSPServer* pServer)
{
    // A stream marked removed loses its wish on the next tick; it is not published meanwhile.
    if (m_Published || m_Removed || !pEnv || !pServer)
        return;
    const ULONGLONG now = m_pOwner->GetMilliSec();
    if (now < m_NextRTSPPublishTime)
        return;
    m_Published = 1;

    // The session's name goes in the encoding of the SDP, as it came.
    const std::string nameBytes = EncodeReceivedText(m_Name, m_SdpUtf8);
    const std::string sessionNameBytes = "by-name/" + nameBytes;
    const char* sessionNameAnsi = sessionNameBytes.c_str();
    const char* nameAnsi = nameBytes.c_str();
    const CMfxString name(m_Name);
    CMfxString failure;

    // Made in this order so that each object is closed before those it uses, in reverse order
    // (RemoveFromRTSPServer), whether the publication ends or could not be completed.
    ServerMediaSession* listed = pServer->lookupServerMediaSession(sessionNameAnsi);
    if (listed && std::strcmp(listed->streamName(), sessionNameAnsi) == 0) {
        failure = L"a session of this name is already published";
    } else if ((m_pRTPGroupsock = CreateGroupsock(*pEnv, kPlaceholderRTPPort, failure)) != nullptr &&
               (m_pRTCPGroupsock = CreateGroupsock(*pEnv, kPlaceholderRTCPPort, failure)) != nullptr) {
        m_pRTPSink = SimpleRTPSink::createNew(*pEnv, m_pRTPGroupsock, kPlaceholderPayloadType,
                                              kPlaceholderTimestampFrequency, "audio");
        // The host name as CNAME, always terminated inside the buffer.
        char cname[100];
        std::memset(cname, 0, sizeof(cname));
        if (gethostname(cname, sizeof(cname) - 1) != 0)
            std::memset(cname, 0, sizeof(cname));
        cname[sizeof(cname) - 1] = 0;
        m_pRTCPInstance = RTCPInstance::createNew(*pEnv, m_pRTCPGroupsock, cname, m_pRTPSink);

        m_pSession = CVelmoraServerMediaSession::createNew(*pEnv, sessionNameAnsi, nameAnsi, nameAnsi, "");
        m_pSession->SetSDPBytes(GetSDPBytes());
        m_pSubsession = PassiveServerMediaSubsession::createNew(*m_pRTPSink, m_pRTCPInstance);
        if (!m_pSession->addSubsession(m_pSubsession)) {
            Medium::close(m_pSubsession);
            m_pSubsession = nullptr;
            failure = L"the subsession cannot be added";
        } else if (!pServer->addServerMediaSession(m_pSession)) {
            failure = L"the server refused the session";
        }
    }
    if (!failure.IsEmpty()) {
        m_pOwner->LogDebug(kLogDebug,
                           L"CVelmoraStream::AddToRTSPServer() cannot publish %s: %s; next try in %d s\n",
                           name.GetString(), failure.GetString(), static_cast<int>(kPublishRetryMs / 1000));
        RemoveFromRTSPServer(pServer);
        m_NextRTSPPublishTime = now + kPublishRetryMs;
        return;
    }

    UpdateRTSPAliases(pEnv, pServer);
    char* url = pServer->rtspURL(m_pSession);
    *pEnv << "Play this stream using the URL \"" << url << "\"\n";
    delete[] url;
    // One piece, so that the SDP's own last line end does not cut the line before its closing mark.
    char* sdp = m_pSession->generateSDPDescription();
    const std::string sdpLine = std::string("Play this stream using the SDP \"") + sdp + "\"\n";
    delete[] sdp;
    *pEnv << sdpLine.c_str();
}

void CVelmoraStream::UpdateRTSPAliases(UsageEnvironment* pEnv, RTSPServer* pServer)
{
    if (!m_Published || !m_pSession || !pEnv || !pServer)
        return;
    // Made again only when a name changed: this runs on every pass of the server thread.
    if (m_AliasesMade && m_AliasesOfName == m_Name && m_AliasesOfRegisteredName == m_RegisteredName)
        return;
    m_AliasesMade = true;
    m_AliasesOfName = m_Name;
    m_AliasesOfRegisteredName = m_RegisteredName;

    const std::string primary = EncodeReceivedText(m_Name, m_SdpUtf8);
    std::vector<std::string> wanted;
    auto want = [&](const CMfxString& name) {
        const std::string bytes = EncodeReceivedText(name, true);
        if (!name.IsEmpty() && bytes != primary &&
            std::find(wanted.begin(), wanted.end(), bytes) == wanted.end())
            wanted.push_back(bytes);
    };
    want(m_Name);
    want(m_RegisteredName);

    for (auto it = m_AliasSessions.begin(); it != m_AliasSessions.end();) {
        if (std::find(wanted.begin(), wanted.end(), it->first) != wanted.end()) {
            ++it;
            continue;
        }
        if (it->second)
            pServer->removeServerMediaSession(it->second);
        it = m_AliasSessions.erase(it);
    }
    for (const std::string& bytes : wanted) {
        if (m_AliasSessions.count(bytes) != 0)
            continue;
        const std::string sessionName = "by-name/" + bytes;
        bool utf8 = false;
        const CMfxString alias = DecodeReceivedText(bytes.data(), static_cast<int>(bytes.size()), utf8);
        ServerMediaSession* listed = pServer->lookupServerMediaSession(sessionName.c_str());
        CVelmoraServerMediaSession* session = nullptr;
        if (!listed || std::strcmp(listed->streamName(), sessionName.c_str()) != 0) {
            session = CVelmoraServerMediaSession::createNew(*pEnv, sessionName.c_str(), bytes.c_str(),
                                                            bytes.c_str(), "");
            session->SetSDPBytes(GetSDPBytes());
            if (!pServer->addServerMediaSession(session)) {
                Medium::close(session);
                session = nullptr;
            }
        }
        m_AliasSessions[bytes] = session;
        if (session) {
            m_pOwner->LogDebug(kLogDebug, L"CVelmoraStream::UpdateRTSPAliases() %s is also served as %s\n",
                               m_Name.GetString(), alias.GetString());
        } else {
            m_pOwner->LogDebug(
                kLogDebug,
                L"CVelmoraStream::UpdateRTSPAliases() %s cannot also be served as %s: a session "
                L"of this name is already published\n",
                m_Name.GetString(), alias.GetString());
        }
    }
}

void CVelmoraStream::RemoveFromRTSPServer(RTSPServer* pServer)
{
    for (auto& alias : m_AliasSessions) {
        if (!alias.second)
            continue;
        if (pServer)
            pServer->removeServerMediaSession(alias.second);
        else
            Medium::close(alias.second);
    }
    m_AliasSessions.clear();
    m_AliasesMade = false;
    if (m_pSession) {
        // Closes the session (and with it its subsession); another session of the same name that
        // the server lists is left alone.
        if (pServer)
            pServer->removeServerMediaSession(m_pSession);
        else
            Medium::close(m_pSession);
    }
    m_pSession = nullptr;
    m_pSubsession = nullptr;
    Medium::close(m_pRTCPInstance); // sends the RTCP BYE
    m_pRTCPInstance = nullptr;
    Medium::close(m_pRTPSink);
    m_pRTPSink = nullptr;
    delete m_pRTCPGroupsock;
    m_pRTCPGroupsock = nullptr;
    delete m_pRTPGroupsock;
    m_pRTPGroupsock = nullptr;
    m_Published = 0;
}
