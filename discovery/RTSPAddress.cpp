#include "discovery/RTSPAddress.h"

namespace Corvane {

namespace {

const wchar_t kScheme[] = L"rtsp://";
const int kSchemeLength = 7;
const int kMaxHostLength = 99;
const unsigned short kDefaultPort = 554;

} // namespace

bool IsRTSPURL(CMfxString text)
{
    return text.LowerCopy().Left(kSchemeLength) == kScheme;
}

const wchar_t* SplitRTSPAddress(const CMfxString& url, CMfxString& user, CMfxString& password,
                                CMfxString& host, unsigned short& port, CMfxString& rest)
{
    if (!IsRTSPURL(url)) {
        return L"URL is not of the form \"rtsp://\"";
    }
    const int length = url.GetLength();

    // User and password: only an "@" before the first "/" ends them.
    int slash = url.Find(L'/', kSchemeLength);
    const int authorityEnd = slash < 0 ? length : slash;
    int colon = -1;
    int hostStart = kSchemeLength;
    for (int i = kSchemeLength; i < authorityEnd; ++i) {
        const wchar_t c = url[i];
        if (c == L':' && colon < 0) {
            colon = i;
        } else if (c == L'@') {
            if (colon >= 0) {
                user = url.Mid(kSchemeLength, colon - kSchemeLength);
                password = url.Mid(colon + 1, i - colon - 1);
            } else {
                user = url.Mid(kSchemeLength, i - kSchemeLength);
                password = L"";
            }
            hostStart = i + 1;
            break;
        }
    }

    int pos = hostStart;
    while (pos < length && url[pos] != L':' && url[pos] != L'/') {
        if (pos - hostStart >= kMaxHostLength) {
            return L"URL is too long";
        }
        ++pos;
    }
    host = url.Mid(hostStart, pos - hostStart);
    if (host.IsEmpty()) {
        return L"No host name";
    }

    port = kDefaultPort;
    if (pos < length && url[pos] == L':') {
        ++pos;
        if (pos >= length || url[pos] < L'0' || url[pos] > L'9') {
            return L"No port number follows ':'";
        }
        unsigned long number = 0;
        while (pos < length && url[pos] >= L'0' && url[pos] <= L'9') {
            // Stop counting once the number is out of range; its digits are skipped all the same.
            if (number <= 65535) {
                number = number * 10 + (url[pos] - L'0');
            }
            ++pos;
        }
        if (number < 1 || number > 65535) {
            return L"Bad port number";
        }
        port = static_cast<unsigned short>(number);
    }
    rest = url.Mid(pos);
    return nullptr;
}

} // namespace Corvane
