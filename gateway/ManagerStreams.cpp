// The stream table: the hand-over of found and lost streams from discovery.
#include "gateway/VelmoraManager.h"

#include "discovery/StreamInfo.h"
#include "gateway/VelmoraStream.h"

BOOL CVelmoraManager::AddBonjourStream(Corvane::CStreamInfo* pStreamInfo)
{
    const CMfxString name = pStreamInfo->GetName();
    AddLogText(kLogGreen, L"Add stream from Bonjour: %s", name.GetString());
    CSingleLock lock(&m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : m_Streams) {
        if ((stream->m_Kind & CVelmoraStream::kKindBonjour) && stream->GetName() == name) {
            // The same instance announced again: the known stream takes the new record.
            stream->m_pStreamInfo = pStreamInfo;
            stream->m_SdpTime = GetMilliSec();
            stream->m_SdpAged = 0;
            return TRUE;
        }
    }
    m_Streams.push_back(new CVelmoraStream(this, pStreamInfo));
    return TRUE;
}

BOOL CVelmoraManager::RemoveBonjourStream(Corvane::CStreamInfo* pStreamInfo)
{
    AddLogText(kLogGreen, L"Remove stream from Bonjour: %s", pStreamInfo->GetName().GetString());
    CSingleLock lock(&m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : m_Streams) {
        if ((stream->m_Kind & CVelmoraStream::kKindBonjour) && stream->m_pStreamInfo == pStreamInfo) {
            stream->MarkRemoved();
            RequestDuplicateCheck();
            return TRUE;
        }
    }
    return FALSE;
}

void CVelmoraManager::CheckDuplicateStreams(BOOL& /*changed*/)
{
    // HOOK (SAP side): links streams of different kinds with equal origin line and connection
    // address as twins. Until streams heard by SAP or added by the operator exist, a found stream
    // has no twin and its twin fields keep their initial values, so nothing changes.
}
