// Commands for the RTSP side: streams made from SDP text (as heard by SAP or pasted by the
// operator), their RTSP wish and their removal.
#include "tests/tools/velmora_host/velmora_host.h"

#include "afx/afxmt.h"
#include "gateway/SdpHelpers.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

namespace {

// One command line carries a whole SDP text: "\r", "\n" and "\\" stand for CR, LF and a backslash.
CMfxString Unescape(const CMfxString& text)
{
    CMfxString result;
    for (int i = 0; i < text.GetLength(); ++i) {
        wchar_t ch = text[i];
        if (ch == L'\\' && i + 1 < text.GetLength()) {
            const wchar_t next = text[++i];
            ch = next == L'r' ? L'\r' : next == L'n' ? L'\n' : next;
        }
        result.AppendChar(ch);
    }
    return result;
}

// Splits "<first> <rest>"; false when there is no blank.
bool SplitWord(const CMfxString& text, CMfxString& first, CMfxString& rest)
{
    const int blank = text.Find(L' ');
    if (blank < 0)
        return false;
    first = text.Left(blank);
    rest = text.Mid(blank + 1);
    return true;
}

bool ParseKind(const CMfxString& word, DWORD& kind)
{
    kind = 0;
    if (word == L"sap")
        kind = CVelmoraStream::kKindSAP;
    else if (word == L"sdp")
        kind = CVelmoraStream::kKindSDP;
    return kind != 0;
}

// The streams named by "<sap|sdp> <name>", in table order; none, with the answer's error set, when
// the text is not of that form or no stream matches. Only this thread deletes streams, so the
// pointers stay valid after the lock is released.
std::vector<CVelmoraStream*> SelectStreams(CVelmoraManager& manager, const CMfxString& kindAndName,
                                           const wchar_t* usage, CHostAnswer& answer)
{
    std::vector<CVelmoraStream*> found;
    CMfxString kindWord, name;
    DWORD kind = 0;
    if (!SplitWord(kindAndName, kindWord, name) || !ParseKind(kindWord, kind)) {
        answer.error = usage;
        return found;
    }
    CSingleLock lock(&manager.m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : manager.m_Streams) {
        if ((stream->m_Kind & kind) != 0 && stream->m_Name == name)
            found.push_back(stream);
    }
    if (found.empty())
        answer.error.Format(L"no stream %s", name.GetString());
    return found;
}

void AddStream(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    CMfxString kindWord, text;
    DWORD kind = 0;
    if (!SplitWord(argument, kindWord, text) || !ParseKind(kindWord, kind)) {
        answer.error = L"usage: sdp-stream <sap|sdp> <sdp text>";
        return;
    }
    const CMfxString sdp = Unescape(text);
    const CMfxString name = GetSdpSessionName(ParseSdpLines(sdp));
    if (name.IsEmpty()) {
        answer.error = L"the SDP text has no session name";
        return;
    }
    CVelmoraManager& manager = *context.manager;
    CSingleLock lock(&manager.m_StreamsLock, TRUE);
    manager.m_Streams.push_back(new CVelmoraStream(&manager, kind, name, CMfxString(), sdp));
}

void SetWish(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    const wchar_t* const usage = L"usage: rtsp-wish <on|off> <sap|sdp> <name>";
    CMfxString onWord, kindAndName;
    if (!SplitWord(argument, onWord, kindAndName) || (onWord != L"on" && onWord != L"off")) {
        answer.error = usage;
        return;
    }
    CVelmoraManager& manager = *context.manager;
    const std::vector<CVelmoraStream*> streams = SelectStreams(manager, kindAndName, usage, answer);
    CSingleLock lock(&manager.m_StreamsLock, TRUE);
    for (CVelmoraStream* stream : streams)
        stream->m_RTSPWanted = onWord == L"on" ? 1 : 0;
}

// Like the dialog's remove button and a SAP deletion: the stream withdraws itself (without the
// lock, as the dialog calls it) and the tick deletes it once nothing of it is active.
void MarkRemoved(CHostContext& context, const CMfxString& argument, CHostAnswer& answer)
{
    for (CVelmoraStream* stream :
         SelectStreams(*context.manager, argument, L"usage: mark-removed <sap|sdp> <name>", answer))
        stream->MarkRemoved();
}

} // namespace

const CHostCommand kRTSPCommands[] = {
    {L"sdp-stream", L"<sap|sdp> <sdp text, \\r \\n escaped> - a stream heard by SAP or pasted", &AddStream},
    {L"rtsp-wish", L"<on|off> <sap|sdp> <name> - the RTSP wish of the streams of that kind and name",
     &SetWish},
    {L"mark-removed", L"<sap|sdp> <name> - withdraw and remove the streams of that kind and name",
     &MarkRemoved},
    {nullptr, nullptr, nullptr},
};
