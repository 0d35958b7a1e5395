#include "afx/afxplatform.h"
#include "gateway/SdpHelpers.h"

#include <cwchar>

namespace {

bool BeginsWith(const CMfxString& line, const wchar_t* prefix)
{
    return wcsncmp(line.GetString(), prefix, wcslen(prefix)) == 0;
}

// The value of the first line that begins with the two-character prefix; empty without one.
CMfxString FirstLineValue(const CParsedSdp& sdp, const wchar_t* prefix)
{
    int index = FindSdpLine(sdp, prefix);
    return index < 0 ? CMfxString() : CMfxString(sdp.m_Lines[index].Mid(2));
}

std::vector<CMfxString> Tokens(const CMfxString& value)
{
    std::vector<CMfxString> tokens;
    SplitString(tokens, value, L" ");
    return tokens;
}

std::vector<CMfxString> OriginTokens(const CParsedSdp& sdp)
{
    return Tokens(GetSdpOriginLine(sdp));
}

} // namespace

CParsedSdp ParseSdpLines(CMfxString text)
{
    CParsedSdp sdp;
    sdp.m_Text = text;
    SplitLines(sdp.m_Lines, text, L"\r\n");
    for (CMfxString& line : sdp.m_Lines) {
        line.Trim(L" \r\n");
    }
    return sdp;
}

void ClearStringVector(CParsedSdp& sdp)
{
    sdp.m_Lines.clear();
    sdp.m_Text.Empty();
}

int FindSdpLine(const CParsedSdp& sdp, const CMfxString& prefix)
{
    for (size_t i = 0; i < sdp.m_Lines.size(); ++i) {
        if (BeginsWith(sdp.m_Lines[i], prefix.GetString())) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CMfxString GetSdpOriginLine(const CParsedSdp& sdp)
{
    return FirstLineValue(sdp, L"o=");
}

CMfxString GetSdpSessionName(const CParsedSdp& sdp)
{
    return FirstLineValue(sdp, L"s=");
}

CMfxString GetSdpConnectionAddress(const CParsedSdp& sdp)
{
    CMfxString value = FirstLineValue(sdp, L"c=");
    int position = value.UpperCopy().Find(L"IN IP4");
    if (position < 0) {
        return CMfxString();
    }
    CMfxString address = value.Mid(position + 6);
    address.Trim();
    return address;
}

CMfxString GetSdpSessionId(const CParsedSdp& sdp)
{
    std::vector<CMfxString> tokens = OriginTokens(sdp);
    return tokens.size() < 2 ? CMfxString() : tokens[1];
}

CMfxString GetSdpOriginAddress(const CParsedSdp& sdp)
{
    std::vector<CMfxString> tokens = OriginTokens(sdp);
    if (tokens.size() < 6 || tokens[3] != L"IN" || tokens[4] != L"IP4") {
        return CMfxString();
    }
    return tokens[5];
}

CMfxString GetSdpLineValue(const CParsedSdp& sdp, const CMfxString& prefix)
{
    bool inMedia = false;
    for (const CMfxString& line : sdp.m_Lines) {
        if (BeginsWith(line, L"m=")) {
            if (inMedia) {
                break;
            }
            inMedia = true;
        }
        if (inMedia && BeginsWith(line, prefix.GetString())) {
            return line.Mid(prefix.GetLength());
        }
    }
    return CMfxString();
}

CMfxString GetSdpSourceFilterAddress(const CParsedSdp& sdp)
{
    std::vector<CMfxString> tokens = Tokens(GetSdpLineValue(sdp, L"a=source-filter:"));
    if (tokens.size() < 5 || tokens[0] != L"incl" || tokens[1] != L"IN" || tokens[2] != L"IP4") {
        return CMfxString();
    }
    return tokens[4];
}

CMfxString NormalizeSdp(const CParsedSdp& sdp)
{
    const std::vector<CMfxString>& lines = sdp.m_Lines;
    std::vector<bool> written(lines.size(), false);
    CMfxString output;
    auto write = [&](size_t index) {
        output += lines[index];
        output += L"\r\n";
        written[index] = true;
    };

    for (const wchar_t* prefix : {L"v=", L"o=", L"s=", L"c=", L"t=", L"m=", L"i="}) {
        int index = FindSdpLine(sdp, prefix);
        if (index >= 0) {
            write(static_cast<size_t>(index));
        }
    }

    bool afterName = false;
    bool inMedia = false;
    bool pastFirstMedia = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const CMfxString& line = lines[i];
        if (BeginsWith(line, L"s=")) {
            afterName = true;
        }
        if (BeginsWith(line, L"m=")) {
            pastFirstMedia = inMedia;
            inMedia = true;
        }
        if (written[i]) {
            continue;
        }
        if (inMedia && !pastFirstMedia) {
            bool sessionLine = false;
            for (const wchar_t* prefix : {L"v=", L"o=", L"s=", L"c=", L"t="}) {
                sessionLine = sessionLine || BeginsWith(line, prefix);
            }
            if (!sessionLine) {
                write(i);
            }
        } else if (!inMedia && afterName && BeginsWith(line, L"a=")) {
            write(i);
        }
    }
    return output;
}
