// Commands on streams added by RTSP URL: adding one and reading the SDP it fetched.
#include "tests/tools/velmora_host/velmora_host.h"

#include "afx/afxmt.h"
#include "gateway/VelmoraManager.h"
#include "gateway/VelmoraStream.h"

namespace {

// The first stream added with this URL; null when there is none.
CVelmoraStream* FindByURL(CVelmoraManager& manager, const CMfxString& url)
{
    for (CVelmoraStream* stream : manager.m_Streams) {
        if ((stream->m_Kind & CVelmoraStream::kKindRTSP) && stream->GetURL() == url) {
            return stream;
        }
    }
    return nullptr;
}

// As the operator's addition by URL: a stream of kind 0x04 whose own step fetches the SDP.
void RTSPAdd(CHostContext& context, const CMfxString& url, CHostAnswer& /*answer*/)
{
    context.manager->AddRTSPStream(url);
}

// The stream's SDP, one "sdp\t<line>" per line.
void RTSPSDP(CHostContext& context, const CMfxString& url, CHostAnswer& answer)
{
    CVelmoraManager& manager = *context.manager;
    CSingleLock lock(&manager.m_StreamsLock, TRUE);
    CVelmoraStream* stream = FindByURL(manager, url);
    if (stream == nullptr) {
        answer.error = L"no stream with this URL";
        return;
    }
    std::vector<CMfxString> lines;
    SplitLines(lines, stream->GetSDP(), L"\r\n");
    for (const CMfxString& line : lines) {
        answer.lines.push_back(CMfxString(L"sdp\t") + line);
    }
}

} // namespace

const CHostCommand kRetrievalCommands[] = {
    {L"rtsp-add", L"<url> - a stream added by RTSP URL, as the operator adds one", &RTSPAdd},
    {L"rtsp-sdp", L"<url> - the SDP of the stream added with this URL, line by line", &RTSPSDP},
    {nullptr, nullptr, nullptr},
};
