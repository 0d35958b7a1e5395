#include "ui/DialogStreamTable.h"

#include "discovery/StreamInfo.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

// ---------------------------------------------------------------------------------------------
// Commands

int RunStreamCommand(CDialogStreamTable& table, StreamRules::Command command, const std::vector<DWORD>& keys)
{
    int changed = 0;
    for (DWORD key : keys) {
        StreamFacts stream;
        if (!table.ReadStream(key, stream))
            continue;
        BOOL done = FALSE;
        switch (StreamRules::ActionFor(command, stream)) {
        case StreamRules::kSkip:
            break;
        case StreamRules::kIncomplete:
            table.AddLogText(kLogRed, StreamRules::kIncompleteStreamText);
            break;
        case StreamRules::kSapOn:
            done = table.SetSAPAdvertising(key, TRUE, FALSE);
            break;
        case StreamRules::kSapOff:
            done = table.SetSAPAdvertising(key, FALSE, FALSE);
            break;
        case StreamRules::kBonjourOn:
            done = table.SetBonjourAdvertising(key, TRUE, FALSE);
            if (done)
                table.SetRTSPWanted(key, TRUE);
            break;
        case StreamRules::kBonjourOff:
            done = table.SetBonjourAdvertising(key, FALSE, FALSE);
            table.SetRTSPWanted(key, FALSE);
            break;
        case StreamRules::kRemove:
            done = table.RemoveStream(key);
            break;
        }
        if (done)
            ++changed;
    }
    return changed;
}

BOOL RunAutoActions(CDialogStreamTable& table, DWORD key, int autoActions)
{
    BOOL switched = FALSE;
    if ((autoActions & StreamRules::kAutoBonjourOn) && table.SetBonjourAdvertising(key, TRUE, TRUE)) {
        table.SetRTSPWanted(key, TRUE);
        switched = TRUE;
    }
    if ((autoActions & StreamRules::kAutoSapOn) && table.SetSAPAdvertising(key, TRUE, TRUE))
        switched = TRUE;
    return switched;
}

// ---------------------------------------------------------------------------------------------
// CManagerStreamTable

CCriticalSection* CManagerStreamTable::GetLock()
{
    return &m_Manager.m_StreamsLock;
}

ULONGLONG CManagerStreamTable::GetNow()
{
    return m_Manager.GetMilliSec();
}

CVelmoraStream* CManagerStreamTable::Find(DWORD key)
{
    return m_Manager.FindStream(key);
}

StreamFacts CManagerStreamTable::ReadFacts(CVelmoraStream& stream)
{
    StreamFacts facts;
    facts.key = stream.m_Serial;
    facts.kind = stream.m_Kind;
    facts.name = stream.GetName();
    facts.url = stream.GetURL();
    facts.sdp = stream.GetSDP();
    facts.connectionAddress = stream.GetConnectionAddress();
    facts.originAddress = stream.GetOriginAddress();
    if (stream.m_pStreamInfo != nullptr) {
        facts.hasRecord = true;
        facts.recordName = stream.m_pStreamInfo->GetName();
        facts.recordURL = stream.m_pStreamInfo->GetStreamRTSPURL().UrlUnescape();
    }
    facts.sdpTime = stream.m_SdpTime;
    facts.lastSAPAnnounce = stream.m_LastSAPAnnounce;
    facts.sapWanted = stream.m_SAPWanted != 0;
    facts.bonjourWanted = stream.m_BonjourWanted != 0;
    facts.hasTwinSAP = stream.m_pTwinSAP != nullptr;
    facts.twinOfTwinSAPActive = stream.m_pTwinSAP != nullptr && stream.m_pTwinSAP->m_TwinSAPActive != 0;
    facts.twinBonjourRegistered = stream.m_TwinBonjourRegistered != 0;
    facts.hasTwinBonjour = stream.m_pTwinBonjour != nullptr;
    facts.twinOfTwinBonjourRegistered =
        stream.m_pTwinBonjour != nullptr && stream.m_pTwinBonjour->m_TwinBonjourRegistered != 0;
    facts.twinSAPActive = stream.m_TwinSAPActive != 0;
    return facts;
}

void CManagerStreamTable::ReadStreams(std::vector<StreamFacts>& streams)
{
    CSingleLock lock(GetLock(), TRUE);
    streams.clear();
    streams.reserve(m_Manager.m_Streams.size());
    for (CVelmoraStream* stream : m_Manager.m_Streams)
        streams.push_back(ReadFacts(*stream));
}

BOOL CManagerStreamTable::ReadStream(DWORD key, StreamFacts& facts)
{
    CSingleLock lock(GetLock(), TRUE);
    CVelmoraStream* stream = Find(key);
    if (stream == nullptr)
        return FALSE;
    facts = ReadFacts(*stream);
    return TRUE;
}

BOOL CManagerStreamTable::SetSAPAdvertising(DWORD key, BOOL on, BOOL quiet)
{
    // Not under the lock: the manager shows its refusal box after letting the lock go.
    return m_Manager.SetSAPAdvertising(key, on, quiet);
}

BOOL CManagerStreamTable::SetBonjourAdvertising(DWORD key, BOOL on, BOOL quiet)
{
    return m_Manager.SetBonjourAdvertising(key, on, quiet);
}

void CManagerStreamTable::SetRTSPWanted(DWORD key, BOOL on)
{
    // The RTSP-server thread reads this wish under the same lock.
    CSingleLock lock(GetLock(), TRUE);
    if (CVelmoraStream* stream = Find(key))
        stream->m_RTSPWanted = on ? 1 : 0;
}

BOOL CManagerStreamTable::RemoveStream(DWORD key)
{
    CVelmoraStream* stream = nullptr;
    {
        CSingleLock lock(GetLock(), TRUE);
        stream = Find(key);
    }
    if (stream == nullptr)
        return FALSE;
    // Withdrawing runs the tick and waits for the RTSP-server thread to unpublish, without the lock.
    // Only this (GUI) thread deletes streams, and the tick deletes none that is not marked removed yet.
    stream->MarkRemoved();
    CSingleLock lock(GetLock(), TRUE);
    stream = Find(key);
    if (stream == nullptr)
        return FALSE;
    m_Manager.DeleteStream(stream);
    return TRUE;
}

void CManagerStreamTable::ChangeSDP(DWORD key, CMfxString sdp)
{
    CSingleLock lock(GetLock(), TRUE);
    if (CVelmoraStream* stream = Find(key))
        stream->ChangeSDP(sdp);
}

void CManagerStreamTable::AddLogText(COLORREF colour, CMfxString text)
{
    m_Manager.AddLogText(colour, L"%s", text.GetString());
}
