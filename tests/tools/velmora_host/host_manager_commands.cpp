// Commands on the manager itself: its state, the stream table, a found instance handed over as
// discovery does, and the end.
#include "tests/tools/velmora_host/velmora_host.h"

#include "afx/afxmt.h"
#include "discovery/StreamInfo.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

#include <memory>

namespace {

const ULONGLONG kAddDelay = 1000;

void State(CHostContext& context, const CMfxString& /*argument*/, CHostAnswer& answer)
{
    CVelmoraManager& manager = *context.manager;
    CMfxString line;
    line.Format(L"state\tproduct=%s\tversion=%s\tnic=%s\tip=%s\tmode=%s\trtspport=%d\tdosdpsort=%d\tstate=%d",
                manager.m_ProductName.GetString(), manager.m_FileVersion.GetString(),
                manager.m_NicName.GetString(), manager.m_NicIP.GetString(), manager.m_BonjourMode.GetString(),
                manager.m_RTSPPort, manager.m_DoSDPSort, manager.m_State);
    answer.lines.push_back(line);
}

void List(CHostContext& context, const CMfxString& /*argument*/, CHostAnswer& answer)
{
    CVelmoraManager& manager = *context.manager;
    CSingleLock lock(&manager.m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : manager.m_Streams) {
        CMfxString line;
        line.Format(L"stream\tkind=%s\tname=%s\talive=%d\tremoved=%d\tsap=%d/%d\tdnssd=%d/%d\trtsp=%d/%d\t"
                    L"origin=%s\tconnection=%s\toriginaddress=%s\turl=%s\tsdpbytes=%d",
                    stream->GetKindText(), stream->GetName().GetString(), stream->IsAlive() ? 1 : 0,
                    stream->m_Removed, stream->m_SAPWanted, stream->m_SAPActive, stream->m_BonjourWanted,
                    stream->m_BonjourRegistered, stream->m_RTSPWanted, stream->m_Published.load(),
                    stream->GetOriginLine().GetString(), stream->GetConnectionAddress().GetString(),
                    stream->GetOriginAddress().GetString(), stream->GetURL().GetString(),
                    stream->GetSDP().GetLength());
        answer.lines.push_back(line);
    }
}

void DiscoveryAdd(CHostContext& context, const CMfxString& name, CHostAnswer& answer)
{
    if (name.IsEmpty()) {
        answer.error = L"an instance name is needed";
        return;
    }
    CVelmoraManager& manager = *context.manager;
    // The queued message holds the record from here on.
    Corvane::CStreamInfoRef record = Corvane::CStreamInfoRef::Adopt(new Corvane::CStreamInfo(
        &manager.m_CorvaneManager.m_StreamBrowser, Corvane::CStreamInfo::kSourceDiscovery));
    record->SetName(name);
    record->m_SessionKind = Corvane::CStreamInfo::kSessionCorvane;
    Corvane::CStreamInfo* pointer = record.get();
    manager.AddDelayedMessage(CDelayedMessage::kAddStream, manager.GetMilliSec() + kAddDelay, pointer);
}

void Records(CHostContext& /*context*/, const CMfxString& /*argument*/, CHostAnswer& answer)
{
    CMfxString line;
    line.Format(L"records\tlive=%d", static_cast<int>(Corvane::CStreamInfo::LiveCount()));
    answer.lines.push_back(line);
}

void Exit(CHostContext& context, const CMfxString& /*argument*/, CHostAnswer& /*answer*/)
{
    context.manager->Exit();
    context.quit = true;
}

} // namespace

const CHostCommand kManagerCommands[] = {
    {L"state", L"- product, version, interface, DNS-SD mode, RTSP port", &State},
    {L"list", L"- one line per stream of the table", &List},
    {L"discovery-add", L"<name> - a found instance, handed over like the stream browser does", &DiscoveryAdd},
    {L"records", L"- found records allocated now", &Records},
    {L"exit", L"- Exit, then the manager is destroyed and the host ends", &Exit},
    {nullptr, nullptr, nullptr},
};
