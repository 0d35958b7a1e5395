#include "gateway/VelmoraStream.h"

#include "discovery/StreamInfo.h"
#include "gateway/SapPacket.h"
#include "gateway/SdpHelpers.h"
#include "gateway/VelmoraManager.h"

#include <cstdlib>
#include <functional>
#include <string_view>

namespace {

// The removal of an operator's stream waits this many rounds for the RTSP-server thread to
// unpublish it.
const int kUnpublishRounds = 21;
const DWORD kUnpublishSleep = 100;

// Announcements are repeated after 20000 to 40000 ms.
const ULONGLONG kSAPIntervalMin = 20000;
const int kSAPIntervalSpread = 20001;

const wchar_t kCorvaneSessionType[] = L"_rtsp._tcp,_corvane_session";

} // namespace

CVelmoraStream::CVelmoraStream(CVelmoraManager* pOwner, Corvane::CStreamInfo* pStreamInfo)
    : m_pOwner(pOwner), m_Kind(kKindBonjour), m_pStreamInfo(pStreamInfo),
      m_FetchedMoves(pStreamInfo->GetMoves()), m_Name(pStreamInfo->GetName()),
      m_pSdpFetcher(new Corvane::CCheckStreamInfoURL(pOwner, &pOwner->m_CorvaneManager.m_StreamBrowser,
                                                     CMfxString(pStreamInfo->GetInterfaceIP()),
                                                     pStreamInfo->GetURL()))
{
    m_SdpTime = m_pOwner->GetMilliSec();
}

CVelmoraStream::CVelmoraStream(CVelmoraManager* pOwner, DWORD kind, CMfxString name, CMfxString url,
                               CMfxString sdp, bool sdpUtf8)
    : m_pOwner(pOwner), m_Kind(kind), m_Name(name), m_URL(url), m_SDP(sdp), m_SdpUtf8(sdpUtf8)
{
    if (kind & kKindRTSP) {
        m_pSdpFetcher.reset(new Corvane::CCheckStreamInfoURL(
            pOwner, &pOwner->m_CorvaneManager.m_StreamBrowser, pOwner->GetInterfaceIP(), url));
    }
    m_SdpTime = m_pOwner->GetMilliSec();
    m_LastSAPAnnounce = m_SdpTime;
}

CVelmoraStream::~CVelmoraStream() = default;

DWORD CVelmoraStream::NextSerial()
{
    static std::atomic<DWORD> s_LastSerial{0};
    return ++s_LastSerial;
}

void CVelmoraStream::SetOriginLine(const CMfxString& originLine)
{
    if (m_Kind & kKindSAP) {
        m_pOwner->IndexSAPStream(this, m_OriginLine, originLine);
    }
    m_OriginLine = originLine;
    m_TwinKeyHash = HashTwinKey(m_OriginLine, m_ConnectionAddress);
}

void CVelmoraStream::SetConnectionAddress(const CMfxString& connectionAddress)
{
    m_ConnectionAddress = connectionAddress;
    m_TwinKeyHash = HashTwinKey(m_OriginLine, m_ConnectionAddress);
}

size_t CVelmoraStream::HashTwinKey(const CMfxString& originLine, const CMfxString& connectionAddress)
{
    std::hash<std::wstring_view> hash;
    return hash(std::wstring_view(originLine.GetString(), originLine.GetLength())) * 31 +
           hash(std::wstring_view(connectionAddress.GetString(), connectionAddress.GetLength()));
}

bool CVelmoraStream::IsAlive()
{
    if (m_Kind & kKindBonjour) {
        return m_pStreamInfo != nullptr;
    }
    if (m_Kind & kKindSAP) {
        return m_LastSAPAnnounce != 0 && m_LastSAPAnnounce + kSAPAliveMilliSec > m_pOwner->GetMilliSec();
    }
    return (m_Kind & (kKindRTSP | kKindSDP)) != 0;
}

void CVelmoraStream::ChangeSDP(CMfxString sdp)
{
    if ((m_Kind & kKindSDP) == 0) {
        return;
    }
    m_SDP = sdp;
    m_SdpUtf8 = true;
    m_SdpValuesTaken = 0;
    m_SAPPacketRefused = 0;
    m_Name.Empty();
    SetConnectionAddress(CMfxString());
    SetOriginLine(CMfxString());
    m_OriginAddress.Empty();
    m_SAPPacket.clear();
}

void CVelmoraStream::MarkRemoved()
{
    // Withdrawn already, and left to the tick: a second removal must not run the tick, which may
    // delete this stream while it is still in use here.
    if (m_Removed) {
        return;
    }
    if (m_Kind & kKindBonjour) {
        m_pOwner->ForgetFoundStream(this);
        m_pStreamInfo = nullptr;
        m_Refetching = 0;
        m_pSdpFetcher->m_Done = 0;
        m_pSdpFetcher->m_LastStart = 0;
        m_pSdpFetcher->SetReplyText(L"");
        m_SDP.Empty();
        SetConnectionAddress(CMfxString());
        SetOriginLine(CMfxString());
        m_OriginAddress.Empty();
    } else if (m_Kind & kKindSAP) {
        m_LastSAPAnnounce = 0;
        SetConnectionAddress(CMfxString());
        SetOriginLine(CMfxString());
        m_OriginAddress.Empty();
        m_SDP.Empty();
    } else if (m_Kind & (kKindSDP | kKindRTSP)) {
        m_SAPWanted = 0;
        m_BonjourWanted = 0;
        m_RTSPWanted = 0;
        // This stream's own step sends its SAP deletion and withdraws its registration now; the
        // RTSP-server thread unpublishes it between the waits (the lock is not held here).
        m_pOwner->OnTimer();
        for (int round = 0; round < kUnpublishRounds && m_Published; ++round) {
            SleepEx(kUnpublishSleep, TRUE);
            m_pOwner->OnTimer();
        }
    }
    m_Removed = 1;
}

void CVelmoraStream::OnTimer(BOOL& changed)
{
    const ULONGLONG now = m_pOwner->GetMilliSec();

    // 1. SDP age: one redraw when the dialog's own "W" mark (SDP younger than 35 s) expires.
    if (m_SdpAged == 0 && now > m_SdpTime && now - m_SdpTime > kSdpAgeMilliSec) {
        m_SdpAged = 1;
        changed = TRUE;
    }

    // The lists show heard streams only while they are alive: report the moment that changes.
    const int alive = IsAlive() ? 1 : 0;
    if (alive != m_WasAlive) {
        m_WasAlive = alive;
        changed = TRUE;
    }

    // 2. SDP retrieval of found and URL streams.
    FetchSDP(now, changed);

    // 3. SDP values of heard and pasted streams, while they are empty. They are taken from an SDP
    // once: taken again from the same text they would come out the same.
    if ((m_Kind & (kKindSDP | kKindSAP)) != 0 && !m_SdpValuesTaken &&
        (m_Name.IsEmpty() || m_ConnectionAddress.IsEmpty() || m_OriginLine.IsEmpty() ||
         m_OriginAddress.IsEmpty())) {
        m_SdpValuesTaken = 1;
        const CParsedSdp sdp = ParseSdpLines(m_SDP);
        if (m_Name.IsEmpty()) {
            m_Name = GetSdpSessionName(sdp);
            if (!m_Name.IsEmpty()) {
                changed = TRUE;
            }
        }
        if (!m_SDP.IsEmpty()) {
            if (m_ConnectionAddress.IsEmpty()) {
                SetConnectionAddress(GetSdpConnectionAddress(sdp));
                if (!m_ConnectionAddress.IsEmpty()) {
                    changed = TRUE;
                }
            }
            if (m_OriginLine.IsEmpty()) {
                SetOriginLine(GetSdpOriginLine(sdp));
            }
            if (m_OriginAddress.IsEmpty()) {
                m_OriginAddress = GetSdpOriginAddress(sdp);
                if (!m_OriginAddress.IsEmpty()) {
                    changed = TRUE;
                }
            }
        }
    }

    // 4. Registration by DNS-SD while wanted and alive. A failed one is tried again at most once a
    // second; its failure is logged once, and again only when it changes.
    Corvane::CStreamProvider& provider = m_pOwner->m_CorvaneManager.m_StreamProvider;
    if (m_BonjourWanted && !m_BonjourRegistered && IsAlive() && now >= m_NextBonjourRegister) {
        DWORD handle = 0;
        CMfxString failure;
        if (provider.RegisterStream(handle, m_pOwner->m_RTSPPort, m_pOwner->m_NicIP, m_Name,
                                    kCorvaneSessionType, &failure)) {
            m_BonjourHandle = handle;
            m_BonjourRegistered = 1;
            m_BonjourFailure.Empty();
        } else {
            m_NextBonjourRegister = now + kBonjourRetryMilliSec;
            if (failure != m_BonjourFailure && !failure.IsEmpty()) {
                m_pOwner->AddLogText(kLogRed,
                                     L"Register stream %s by DNS-SD failed: %s; tried again every second",
                                     m_Name.GetString(), failure.GetString());
            }
            m_BonjourFailure = failure;
        }
    }
    if (m_BonjourRegistered && (!m_BonjourWanted || !IsAlive())) {
        provider.UnregisterStream(m_BonjourHandle);
        m_BonjourHandle = 0;
        m_BonjourRegistered = 0;
        m_NextBonjourRegister = 0;
        m_BonjourFailure.Empty();
    }
    // The name the registration has now: the RTSP server serves the stream under it too.
    const CMfxString registeredName =
        m_BonjourRegistered ? provider.GetRegisteredName(m_BonjourHandle) : CMfxString();
    if (registeredName != m_RegisteredName) {
        m_RegisteredName = registeredName; // compared first: the tick runs for every stream, often
    }

    // 5. SAP announcing while wanted and alive: the packet is built once, sent at once and then
    // every 20 to 40 s. A packet that no datagram can carry is not built, and the stream not
    // announced, until its SDP or its wish changes.
    if (!m_SAPWanted) {
        m_SAPPacketRefused = 0;
    }
    if (m_SAPWanted && IsAlive()) {
        if (!m_SDP.IsEmpty() && m_SAPPacket.empty() && !m_SAPPacketRefused) {
            std::vector<BYTE> packet =
                BuildSapPacket(m_SDP, m_pOwner->m_DoSDPSort, m_pOwner->GetInterfaceIP(), &rand, m_SdpUtf8);
            if (packet.size() > kMaxSAPPacketBytes) {
                m_SAPPacketRefused = 1;
                m_pOwner->AddLogText(kLogRed, L"Create SAP announce for: %s failed, size is %d, more than %d",
                                     m_Name.GetString(), static_cast<int>(packet.size()),
                                     static_cast<int>(kMaxSAPPacketBytes));
            } else {
                m_SAPPacket.swap(packet);
                m_pOwner->AddLogText(kLogGreen, L"Create SAP announce for: %s, size is %d",
                                     m_Name.GetString(), static_cast<int>(m_SAPPacket.size()));
            }
        }
        if (!m_SAPPacket.empty() && now > m_NextSAPSend) {
            m_SAPPacket[0] &= static_cast<BYTE>(~kSapFlagDeletion);
            m_NextSAPSend = now + kSAPIntervalMin + static_cast<ULONGLONG>(rand() % kSAPIntervalSpread);
            if (m_pOwner->SendSAP(m_SAPPacket)) {
                m_pOwner->AddLogText(kLogGreen, L"Send SAP announce for: %s", m_Name.GetString());
            } else {
                m_pOwner->AddLogText(kLogRed, L"Send SAP announce for: %s failed", m_Name.GetString());
            }
            // Active even after a failed send: an earlier announcement may be out, so the deletion
            // still goes when announcing ends.
            m_SAPActive = 1;
        }
    }

    // 6. One deletion once announcing ends.
    if (m_SAPActive && (!m_SAPWanted || !IsAlive())) {
        AdvertiseSAPInactive();
    }
}

void CVelmoraStream::AdvertiseSAPInactive()
{
    m_pOwner->LogDebug(kLogDebug, L"AdvertiseSAPInactive for: %s", m_Name.GetString());
    m_NextSAPSend = 0;
    // Without a packet there is nothing to withdraw: a deletion is never made of nothing.
    if (!m_SAPPacket.empty()) {
        m_SAPPacket[0] |= kSapFlagDeletion;
        if (m_pOwner->SendSAP(m_SAPPacket)) {
            m_pOwner->AddLogText(kLogGreen, L"Send SAP delete for: %s", m_Name.GetString());
        } else {
            m_pOwner->AddLogText(kLogRed, L"Send SAP delete for: %s failed", m_Name.GetString());
        }
    }
    m_SAPActive = 0;
    m_SAPPacket.clear();
}

void CVelmoraStream::FetchSDP(ULONGLONG now, BOOL& changed)
{
    if (!m_pSdpFetcher) {
        return;
    }
    if (!m_SDP.IsEmpty()) {
        FollowMove(now, changed);
        return;
    }
    Corvane::CCheckStreamInfoURL& fetcher = *m_pSdpFetcher;
    // Only a fetch that ended with an accepted reply is looked at, and only once.
    if (fetcher.m_Done) {
        fetcher.m_Done = 0;
        bool utf8 = false;
        const CMfxString sdp = fetcher.GetReplySDP(utf8);
        if (sdp.IsEmpty()) {
            m_pOwner->AddLogText(kLogRed, L"Received no SDP for: %s", fetcher.GetURL().GetString());
        } else {
            TakeFetchedSDP(sdp, changed, utf8);
        }
    }
    if (m_SDP.IsEmpty() && (fetcher.m_LastStart == 0 || now > fetcher.m_LastStart + kSdpRetryMilliSec)) {
        fetcher.m_LastStart = now;
        if (m_Kind & kKindBonjour) {
            if (m_pStreamInfo != nullptr) {
                m_FetchedMoves = m_pStreamInfo->GetMoves();
                fetcher.SetURL(m_pStreamInfo->GetStreamRTSPURL());
                fetcher.Start();
            }
        } else {
            fetcher.Start();
        }
    }
}

void CVelmoraStream::FollowMove(ULONGLONG now, BOOL& changed)
{
    Corvane::CCheckStreamInfoURL& fetcher = *m_pSdpFetcher;
    if (m_Refetching && fetcher.m_Done) {
        fetcher.m_Done = 0;
        m_Refetching = 0;
        bool utf8 = false;
        const CMfxString sdp = fetcher.GetReplySDP(utf8);
        if (sdp.IsEmpty()) {
            m_pOwner->AddLogText(kLogRed, L"Received no SDP for: %s", fetcher.GetURL().GetString());
        } else if (sdp != m_SDP || utf8 != m_SdpUtf8) {
            ReplaceFetchedSDP(sdp, utf8, changed);
        }
        return;
    }
    if ((m_Kind & kKindBonjour) == 0 || m_pStreamInfo == nullptr || fetcher.IsRunning()) {
        return;
    }
    // A fetch after a move that brought nothing is tried again after the retry period.
    const bool retry = m_Refetching && now > fetcher.m_LastStart + kSdpRetryMilliSec;
    if (!retry && m_pStreamInfo->GetMoves() == m_FetchedMoves) {
        return;
    }
    const CMfxString url = m_pStreamInfo->GetStreamRTSPURL();
    if (url.IsEmpty()) {
        return; // the new address is not known yet
    }
    m_FetchedMoves = m_pStreamInfo->GetMoves();
    m_Refetching = 1;
    fetcher.m_LastStart = now;
    m_pOwner->AddLogText(kLogGreen, L"Sender moved, fetching SDP again for: %s from %s", m_Name.GetString(),
                         url.GetString());
    fetcher.SetURL(url);
    fetcher.Start();
}

void CVelmoraStream::ReplaceFetchedSDP(CMfxString sdp, bool utf8, BOOL& changed)
{
    m_SDP = sdp;
    m_SdpUtf8 = utf8;
    const CParsedSdp parsed = ParseSdpLines(m_SDP);
    SetConnectionAddress(GetSdpConnectionAddress(parsed));
    SetOriginLine(GetSdpOriginLine(parsed));
    m_OriginAddress = GetSdpOriginAddress(parsed);
    // The next announcement, at once, is built from the new SDP.
    m_SAPPacket.clear();
    m_SAPPacketRefused = 0;
    m_NextSAPSend = 0;
    m_SdpTime = m_pOwner->GetMilliSec();
    m_SdpAged = 0;
    changed = TRUE;
    if (m_pOwner->m_pOwner != nullptr) {
        m_pOwner->RequestDuplicateCheck();
        m_pOwner->PostRefreshRequest();
    }
    m_pOwner->AddLogText(kLogGreen, L"Received changed SDP for: %s", m_Name.GetString());
}

void CVelmoraStream::TakeFetchedSDP(CMfxString sdp, BOOL& changed, bool utf8)
{
    m_SDP = sdp;
    m_SdpUtf8 = utf8;
    const CParsedSdp parsed = ParseSdpLines(m_SDP);
    if (m_Name.IsEmpty()) {
        if (m_Kind & kKindBonjour) {
            if (m_pStreamInfo != nullptr) {
                m_Name = m_pStreamInfo->GetName();
            }
        } else {
            m_Name = GetSdpSessionName(parsed);
        }
        changed = TRUE;
    }
    // A new connection or origin address may make this stream another one's twin: check soon.
    bool addressTaken = false;
    if (m_ConnectionAddress.IsEmpty()) {
        SetConnectionAddress(GetSdpConnectionAddress(parsed));
        addressTaken = true;
    }
    if (m_OriginLine.IsEmpty()) {
        SetOriginLine(GetSdpOriginLine(parsed));
    }
    if (m_OriginAddress.IsEmpty()) {
        m_OriginAddress = GetSdpOriginAddress(parsed);
        addressTaken = true;
    }
    if (addressTaken) {
        changed = TRUE;
        if (m_pOwner->m_pOwner != nullptr) {
            m_pOwner->RequestDuplicateCheck();
            m_pOwner->PostRefreshRequest();
        }
    }
    m_pOwner->AddLogText(kLogGreen, L"Received SDP for: %s", m_Name.GetString());
}

bool CVelmoraStream::IsForgotten(ULONGLONG now) const
{
    return (m_Kind & kKindSAP) && !m_Removed && !m_SAPWanted && !m_BonjourWanted &&
           now >= m_LastSAPAnnounce + kSAPForgetMilliSec;
}

std::string CVelmoraStream::GetSDPBytes() const
{
    return EncodeReceivedText(m_SDP, m_SdpUtf8);
}

const wchar_t* CVelmoraStream::GetKindText() const
{
    if (m_Kind & kKindBonjour) {
        return L"Bonjour";
    }
    if (m_Kind & kKindSAP) {
        return L"SAP";
    }
    if (m_Kind & kKindRTSP) {
        return L"RTSP";
    }
    if (m_Kind & kKindSDP) {
        return L"SDP";
    }
    return L"Unknown";
}
