// CDelayedMessage: a hand-over from discovery to the gateway, queued until its due time.
#pragma once

#include "afx/afxplatform.h"

namespace Corvane {
class CStreamInfo;
}

class CDelayedMessage
{
public:
    // The one message that is ever queued, and its two actions.
    static const UINT kMessage = 29949;
    static const int kAddStream = 2;
    static const int kRemoveStream = 3;

    CDelayedMessage(int wParam, Corvane::CStreamInfo* lParam, ULONGLONG dueMilliSec)
        : m_wParam(wParam), m_lParam(lParam), m_DueMilliSec(dueMilliSec)
    {
    }
    CDelayedMessage(const CDelayedMessage&) = default;
    CDelayedMessage& operator=(const CDelayedMessage&) = default;
    virtual ~CDelayedMessage() = default;

    UINT m_Message = kMessage;
    int m_wParam;
    // One reference to the record, taken when the message is queued and let go when it has been
    // handled or cancelled (CVelmoraManager::AddDelayedMessage, HandleDelayedMessages).
    Corvane::CStreamInfo* m_lParam;
    // The clock value from which the message may be handled (strictly after it).
    ULONGLONG m_DueMilliSec;
};
