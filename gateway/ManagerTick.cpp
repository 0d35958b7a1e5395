// The manager's millisecond clock, its 50 ms tick and the delayed-message queue through which
// discovery hands found and lost streams to the gateway.
#include "gateway/VelmoraManager.h"

#include "discovery/StreamInfo.h"
#include "gateway/VelmoraStream.h"

#include <cstdint>

namespace {

// The duplicate-stream check runs when the clock is more than this past the last one.
const ULONGLONG kDuplicateCheckPeriod = 2000;

unsigned int PointerText(const void* pointer)
{
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pointer));
}

} // namespace

void CVelmoraManager::StartClock()
{
    CSingleLock lock(&m_ClockLock, TRUE);
    m_LastTimeGetTime = m_pfnMilliSecSource();
    m_MilliSec = 0;
}

void CVelmoraManager::SetMilliSecSource(DWORD(WINAPI* source)())
{
    m_pfnMilliSecSource = source;
    StartClock();
}

ULONGLONG CVelmoraManager::GetMilliSec()
{
    CSingleLock lock(&m_ClockLock, TRUE);
    const DWORD now = m_pfnMilliSecSource();
    // Unsigned 32-bit difference: the wrap of the raw source every 49.7 days is absorbed.
    m_MilliSec += static_cast<DWORD>(now - m_LastTimeGetTime);
    m_LastTimeGetTime = now;
    return m_MilliSec;
}

void CALLBACK CVelmoraManager::TimerProc(HWND /*hWnd*/, UINT /*message*/, UINT_PTR /*timerId*/,
                                         DWORD /*time*/)
{
    if (g_pManager != nullptr) {
        g_pManager->OnTimer();
    }
}

void CVelmoraManager::OnTimer()
{
    if (m_Exited) {
        return;
    }
    HandleDelayedMessages();
    FlushLogLines();
    if (m_CorvaneManager.m_Initialised) {
        m_CorvaneManager.m_StreamBrowser.OnTimer();
    }

    BOOL changed = FALSE;
    if (GetMilliSec() - m_LastDuplicateCheck > kDuplicateCheckPeriod) {
        CheckDuplicateStreams(changed);
        m_LastDuplicateCheck = GetMilliSec();
    }

    CSingleLock lock(&m_StreamsLock, TRUE);
    const ULONGLONG now = GetMilliSec();
    // A stream's step may change the table: its size is read afresh before every step.
    for (size_t i = 0; i < m_Streams.size(); ++i) {
        CVelmoraStream* stream = m_Streams[i];
        // A heard stream long silent, with no wish on, is withdrawn and deleted below once idle.
        if (stream->IsForgotten(now)) {
            stream->MarkRemoved();
            changed = TRUE;
        }
        stream->OnTimer(changed);
    }

    // Removed streams are deleted, all in one pass, once nothing of theirs is active.
    std::vector<CVelmoraStream*> idle;
    for (CVelmoraStream* stream : m_Streams) {
        if (!stream->m_Removed) {
            continue;
        }
        stream->m_SAPWanted = 0;
        stream->m_BonjourWanted = 0;
        stream->m_RTSPWanted = 0;
        if (stream->m_Published || stream->m_SAPActive || stream->m_BonjourRegistered) {
            continue;
        }
        AddLogText(kLogGreen, L"Removed Stream %s (Type: %s)", stream->GetName().GetString(),
                   stream->GetKindText());
        idle.push_back(stream);
    }
    if (!idle.empty()) {
        DeleteStreams(idle, changed);
        changed = TRUE;
    }
    lock.Unlock();

    if (changed) {
        PostRefreshRequest();
    }
}

void CVelmoraManager::AddDelayedMessage(int wParam, ULONGLONG dueMilliSec, Corvane::CStreamInfo* lParam)
{
    CSingleLock lock(&m_DelayedLock, TRUE);
    if (wParam == CDelayedMessage::kRemoveStream) {
        // A record lost before its add was handled: the gateway never sees it (each record is added
        // once, so no stream holds it).
        for (auto it = m_DelayedMessages.begin(); it != m_DelayedMessages.end(); ++it) {
            if (it->m_wParam == CDelayedMessage::kAddStream && it->m_lParam == lParam) {
                m_DelayedMessages.erase(it);
                lParam->Release(); // the add's reference
                LogDebug(kLogDebug,
                         L"CVelmoraManager::AddDelayedMessage() remove cancels the queued add, act MilliSec "
                         L"= %I64d, "
                         L"lparam = 0x%08x",
                         static_cast<long long>(GetMilliSec()), PointerText(lParam));
                return;
            }
        }
    }
    // Each queued message holds its record until it has been handled.
    lParam->AddRef();
    m_DelayedMessages.emplace_back(wParam, lParam, dueMilliSec);
    LogDebug(
        kLogDebug,
        L"CVelmoraManager::AddDelayedMessage() %d, act MilliSec = %I64d, send MilliSec = %I64d, send message "
        L"%d, wparam = %d, lparam = 0x%08x",
        static_cast<int>(m_DelayedMessages.size()), static_cast<long long>(GetMilliSec()),
        static_cast<long long>(dueMilliSec), static_cast<int>(CDelayedMessage::kMessage), wParam,
        PointerText(lParam));
}

void CVelmoraManager::HandleDelayedMessages()
{
    CSingleLock lock(&m_DelayedLock, TRUE);
    size_t index = 0;
    while (index < m_DelayedMessages.size() && !(m_DelayedMessages[index].m_DueMilliSec < GetMilliSec())) {
        ++index;
    }
    if (index == m_DelayedMessages.size()) {
        return;
    }
    const CDelayedMessage message = m_DelayedMessages[index];
    LogDebug(
        kLogDebug,
        L"CVelmoraManager::HandleDelayedMessages() %d of %d, act MilliSec = %I64d, send MilliSec = %I64d, "
        L"send message %d, wparam = %d, lparam = 0x%08x",
        static_cast<int>(index), static_cast<int>(m_DelayedMessages.size()),
        static_cast<long long>(GetMilliSec()), static_cast<long long>(message.m_DueMilliSec),
        static_cast<int>(message.m_Message), message.m_wParam, PointerText(message.m_lParam));

    BOOL changed = FALSE;
    if (message.m_Message == CDelayedMessage::kMessage) {
        if (message.m_wParam == CDelayedMessage::kAddStream) {
            changed = AddBonjourStream(message.m_lParam);
        } else if (message.m_wParam == CDelayedMessage::kRemoveStream) {
            changed = RemoveBonjourStream(message.m_lParam);
        }
    }
    m_DelayedMessages.erase(m_DelayedMessages.begin() + static_cast<std::ptrdiff_t>(index));
    message.m_lParam->Release();
    if (changed) {
        PostRefreshRequest();
    }
}

void CVelmoraManager::RequestDuplicateCheck()
{
    m_LastDuplicateCheck = GetMilliSec() - kDuplicateCheckPeriod;
}

void CVelmoraManager::PostRefreshRequest()
{
    HWND window = GetOwnerWindow();
    if (window != nullptr) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(kRefreshCommand, 0), 0);
    }
}
