// Commands on the streams of the table as the operator's dialog uses them: add a stream from SDP
// text, switch its SAP, DNS-SD or RTSP wish, remove it, and show the twin links.
// A stream is named by its kind text and its name: "<kind> <name>", e.g. "SDP My Stream".
#include "tests/tools/velmora_host/velmora_host.h"

#include "afx/afxmt.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

namespace {

// The first stream of that kind and name, or null with the answer's error set.
CVelmoraStream* FindStream(CVelmoraManager& manager, const CMfxString& kindAndName, CHostAnswer& answer)
{
    const int blank = kindAndName.Find(L' ');
    const CMfxString kind = blank < 0 ? kindAndName : CMfxString(kindAndName.Left(blank));
    const CMfxString name = blank < 0 ? CMfxString() : CMfxString(kindAndName.Mid(blank + 1));
    for (CVelmoraStream* stream : manager.m_Streams) {
        if (kind == stream->GetKindText() && stream->GetName() == name) {
            return stream;
        }
    }
    answer.error.Format(L"no %s stream named %s", kind.GetString(), name.GetString());
    return nullptr;
}

// "on <kind> <name>" or "off <kind> <name>": the switch and the stream.
CVelmoraStream* ParseSwitch(CVelmoraManager& manager, const CMfxString& argument, BOOL& on,
                            CHostAnswer& answer)
{
    const int blank = argument.Find(L' ');
    const CMfxString word = blank < 0 ? argument : CMfxString(argument.Left(blank));
    if (word != L"on" && word != L"off") {
        answer.error = L"on or off first";
        return nullptr;
    }
    on = word == L"on";
    return FindStream(manager, blank < 0 ? CMfxString() : CMfxString(argument.Mid(blank + 1)), answer);
}

void AddSdp(CHostContext& context, const CMfxString& argument, CHostAnswer& /*answer*/)
{
    // The SDP comes on one line with "\n" standing for each line break.
    context.manager->AddSDPStream(argument.Replace(L"\\n", L"\r\n"));
}

// "on|off <kind> <name>" through the manager's switch, not quiet.
void SapWish(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
    BOOL on = FALSE;
    CVelmoraStream* stream = ParseSwitch(*context.manager, argument, on, answer);
    if (stream != nullptr && !context.manager->SetSAPAdvertising(stream, on, FALSE)) {
        answer.error = L"refused";
    }
}

// The RTSP wish alone (the dialog switches it together with a successful DNS-SD switch).
void RTSPWish(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
    BOOL on = FALSE;
    CVelmoraStream* stream = ParseSwitch(*context.manager, argument, on, answer);
    if (stream != nullptr) {
        stream->m_RTSPWanted = on ? 1 : 0;
    }
}

// "on|off <kind> <name>": DNS-SD advertising and, with it, publication on the own RTSP server, as
// the dialog's "<" and its undo switch them (not quiet).
void BonjourWish(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
    BOOL on = FALSE;
    CVelmoraStream* stream = ParseSwitch(*context.manager, argument, on, answer);
    if (stream == nullptr) {
        return;
    }
    if (context.manager->SetBonjourAdvertising(stream, on, FALSE)) {
        stream->m_RTSPWanted = on ? 1 : 0;
    } else if (on) {
        answer.error = L"refused";
    } else {
        stream->m_RTSPWanted = 0;
    }
}

// The manager whose found streams get SAP wanted as they appear, while the switch is on.
CVelmoraManager* g_pAutoSapManager = nullptr;
UINT_PTR g_AutoSapTimer = 0;
const UINT kAutoSapPeriod = 10;

void CALLBACK AutoSapTimer(HWND /*window*/, UINT /*message*/, UINT_PTR /*id*/, DWORD /*time*/)
{
    if (g_pAutoSapManager == nullptr) {
        return;
    }
    CSingleLock lock(&g_pAutoSapManager->m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : g_pAutoSapManager->m_Streams) {
        if ((stream->m_Kind & CVelmoraStream::kKindBonjour) && !stream->m_Removed) {
            stream->m_SAPWanted = 1;
        }
    }
}

// "on|off": while on, every stream found by discovery has SAP wanted from the moment it appears.
void AutoSap(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    if (argument != L"on" && argument != L"off") {
        answer.error = L"on or off";
        return;
    }
    if (g_AutoSapTimer != 0) {
        KillTimer(nullptr, g_AutoSapTimer);
        g_AutoSapTimer = 0;
    }
    g_pAutoSapManager = argument == L"on" ? context.manager : nullptr;
    if (g_pAutoSapManager != nullptr) {
        g_AutoSapTimer = SetTimer(nullptr, 0, kAutoSapPeriod, &AutoSapTimer);
    }
}

// What the dialog's AUTO switch between the SAP and CORVANE lists does for each heard stream at once:
// DNS-SD advertising switched on (quiet) and, when that succeeds, the RTSP wish.
void AutoPublish(CHostContext& context, const CMfxString& /*argument*/, CHostAnswer& answer)
{
    CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
    int switched = 0;
    for (CVelmoraStream* stream : context.manager->m_Streams) {
        if ((stream->m_Kind & CVelmoraStream::kKindSAP) != 0 && !stream->m_BonjourWanted &&
            context.manager->SetBonjourAdvertising(stream, TRUE, TRUE)) {
            stream->m_RTSPWanted = 1;
            ++switched;
        }
    }
    CMfxString line;
    line.Format(L"switched\t%d", switched);
    answer.lines.push_back(line);
}

// As the dialog's remove command on the LOCAL list: withdraw, then delete.
void Remove(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    CVelmoraStream* stream = nullptr;
    {
        CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
        stream = FindStream(*context.manager, argument, answer);
    }
    if (stream != nullptr) {
        stream->MarkRemoved();
        context.manager->DeleteStream(stream);
    }
}

CMfxString NameOf(const CVelmoraStream* stream)
{
    return stream == nullptr ? CMfxString(L"-") : stream->GetName();
}

void Twins(CHostContext& context, const CMfxString& /*argument*/, CHostAnswer& answer)
{
    CSingleLock lock(&context.manager->m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : context.manager->m_Streams) {
        CMfxString line;
        line.Format(L"twin\tkind=%s\tname=%s\ttwinbonjour=%s\ttwinbonjourregistered=%d\ttwinsap=%s\t"
                    L"twinsapactive=%d",
                    stream->GetKindText(), stream->GetName().GetString(),
                    NameOf(stream->m_pTwinBonjour).GetString(), stream->m_TwinBonjourRegistered,
                    NameOf(stream->m_pTwinSAP).GetString(), stream->m_TwinSAPActive);
        answer.lines.push_back(line);
    }
}

} // namespace

const CHostCommand kStreamCommands[] = {
    {L"add-sdp", L"<SDP text, \\n between lines> - as the add-by-SDP dialog", &AddSdp},
    {L"sap", L"on|off <kind> <name> - switch announcing by SAP (not quiet)", &SapWish},
    {L"rtsp", L"on|off <kind> <name> - the RTSP wish alone (publication on the own RTSP server)", &RTSPWish},
    {L"bonjour", L"on|off <kind> <name> - DNS-SD advertising with RTSP publication, as the dialog's < does",
     &BonjourWish},
    {L"auto-sap", L"on|off - SAP wanted for every found stream as it appears", &AutoSap},
    {L"auto-publish", L"- every heard stream advertised and published, as the AUTO switch does",
     &AutoPublish},
    {L"remove", L"<kind> <name> - withdraw and delete, as the dialog's remove command", &Remove},
    {L"twins", L"- the twin links of every stream", &Twins},
    {nullptr, nullptr, nullptr},
};
