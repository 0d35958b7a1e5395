// The RTSP-server thread: it owns every object of the RTSP library, runs the library's event loop
// step by step and, between two steps, publishes and unpublishes streams by their RTSP wish.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "gateway/VelmoraManager.h"

#include "foundation/NetworkInterfaces.h"
#include "gateway/LoggingUsageEnvironment.h"
#include "gateway/VelmoraRTSPServer.h"
#include "gateway/VelmoraStream.h"
#include "live/liveMedia.hh"

namespace {

// A scheduler step returns at least this often (microseconds).
constexpr unsigned kSchedulerGranularityUs = 10000;

bool IsPublishable(const CVelmoraStream* pStream)
{
    return (pStream->m_Kind & (CVelmoraStream::kKindSAP | CVelmoraStream::kKindSDP)) != 0;
}

// Takes the stream-table lock for a pass. While another thread holds it this thread waits, but not
// once it is asked to stop: Exit can run on the GUI thread while that thread holds the lock further
// up its stack (a message box's loop delivering the close), and then waits for this thread's end.
bool LockUnlessStopping(CCriticalSection& lock, const std::atomic<BYTE>& stop)
{
    while (!TryEnterCriticalSection(&lock.m_sect)) {
        if (stop)
            return false;
        Sleep(1);
    }
    return true;
}

} // namespace

UINT CVelmoraManager::RTSPServerThreadProc(LPVOID param)
{
    CVelmoraManager* pManager = static_cast<CVelmoraManager*>(param);
    if (!pManager)
        return 0;
    return pManager->RTSPServerThread();
}

UINT CVelmoraManager::RTSPServerThread()
{
    m_RTSPThreadId = static_cast<int>(GetCurrentThreadId());
    AddLogText(kLogGreen, L"Start RTSP server on port %d", m_RTSPPort);

    // Every socket of the library, the listening socket included, is bound to the chosen interface.
    // Without a usable interface address the system chooses.
    DWORD address = ParseIPv4Address(m_NicIP);
    if (address == INADDR_NONE) {
        LogDebug(kLogDebug,
                 L"CVelmoraManager::RTSPServerThread() no valid interface address \"%s\", using any\n",
                 m_NicIP.GetString());
        address = INADDR_ANY;
    }
    ReceivingInterfaceAddr = address;
    SendingInterfaceAddr = address;

    BasicTaskScheduler* pScheduler = BasicTaskScheduler::createNew(kSchedulerGranularityUs);
    m_pEnv = new CLoggingUsageEnvironment(*pScheduler, this);
    m_pRTSPServer =
        CVelmoraRTSPServer::createNew(*m_pEnv, Port(static_cast<unsigned short>(m_RTSPPort & 0xFFFF)));
    if (!m_pRTSPServer)
        AddLogText(kLogRed, L"Start RTSP server on port %d failed", m_RTSPPort);

    for (;;) {
        // With no socket registered (no server) the step sleeps for the granularity.
        pScheduler->SingleStep(0);
        // The lines of this step go to the log's writer thread in one batch.
        m_pEnv->FlushLog();
        if (m_pRTSPServer && LockUnlessStopping(m_StreamsLock, m_StopRTSPThread)) {
            // A pass that publishes many streams ends early once the thread is asked to stop.
            for (size_t i = 0; i < m_Streams.size() && !m_StopRTSPThread; ++i) {
                CVelmoraStream* pStream = m_Streams[i];
                if (!IsPublishable(pStream))
                    continue;
                if (!pStream->m_RTSPWanted) {
                    // A wish switched on again is tried at once, even after a failed publication.
                    pStream->m_NextRTSPPublishTime = 0;
                    if (pStream->m_Published)
                        pStream->RemoveFromRTSPServer(m_pRTSPServer);
                } else if (!pStream->m_Published) {
                    pStream->AddToRTSPServer(m_pEnv, m_pRTSPServer);
                } else {
                    pStream->UpdateRTSPAliases(m_pEnv, m_pRTSPServer);
                }
            }
            m_StreamsLock.Unlock();
        }
        if (m_StopRTSPThread)
            break;
    }

    // Each publication is ended on its own, so that its RTCP instance says goodbye and nothing
    // of it outlives the library objects it uses.
    if (m_pRTSPServer) {
        if (LockUnlessStopping(m_StreamsLock, m_StopRTSPThread)) {
            for (CVelmoraStream* pStream : m_Streams) {
                if (pStream->m_Published)
                    pStream->RemoveFromRTSPServer(m_pRTSPServer);
            }
            m_StreamsLock.Unlock();
        } else {
            LogDebug(kLogDebug, L"CVelmoraManager::RTSPServerThread() stream table busy at the end, "
                                L"publications end with the server\n");
        }
    }
    Medium::close(m_pRTSPServer);
    m_pRTSPServer = nullptr;
    if (!m_pEnv->reclaim())
        LogDebug(kLogDebug, L"CVelmoraManager::RTSPServerThread() library objects still in use at the end\n");
    m_pEnv = nullptr;
    delete pScheduler;

    m_RTSPThreadId = -1;
    return 0;
}
