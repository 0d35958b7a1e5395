#include "discovery/DsaPoll.h"

#include "foundation/NetworkInterfaces.h"

#include <string.h>

namespace Corvane {

bool DsaRowTakesPart(const corvane_remote_stream& row, int device)
{
    if (row.hash == 0 || row.node < 1 || row.node > CORVANE_REMOTE_NODES || row.device != device + 1) {
        return false;
    }
    if (row.kind != CORVANE_KIND_CORVANE && row.kind != CORVANE_KIND_ZINT && row.kind != CORVANE_KIND_QUILL) {
        return false;
    }
    const corvane_remote_node& node = corvane_remote_nodes[row.node - 1];
    return node.hash != 0 && node.no_address == 0;
}

std::vector<CDsaRow> CopyDsaRows(int device)
{
    struct Raw
    {
        char name[CORVANE_TEXT_SIZE];
        char host[CORVANE_TEXT_SIZE];
        uint8_t address[4];
        uint16_t port;
        uint8_t kind;
    };
    std::vector<Raw> raw;
    corvane_tables_lock();
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        if (!DsaRowTakesPart(row, device)) {
            continue;
        }
        const corvane_remote_node& node = corvane_remote_nodes[row.node - 1];
        Raw copy;
        memcpy(copy.name, row.name, sizeof(copy.name));
        memcpy(copy.host, node.name, sizeof(copy.host));
        memcpy(copy.address, node.address, 4);
        copy.port = row.port;
        copy.kind = row.kind;
        raw.push_back(copy);
    }
    corvane_tables_unlock();

    std::vector<CDsaRow> rows;
    rows.reserve(raw.size());
    for (Raw& r : raw) {
        r.name[CORVANE_TEXT_SIZE - 1] = r.host[CORVANE_TEXT_SIZE - 1] = '\0';
        char* dot = strchr(r.host, '.');
        if (dot != nullptr) {
            *dot = '\0';
        }
        DWORD address = 0;
        memcpy(&address, r.address, 4);
        rows.push_back({DecodeServiceName(r.name), r.kind, r.port, CMfxString(r.host), FormatIPv4(address)});
    }
    return rows;
}

void FillDsaDeviceName(char (&target)[CORVANE_TEXT_SIZE], const CMfxString& computerName)
{
    CMfxString name;
    name.Format(L"Velmora (on %s)", computerName.GetString());
    const std::string bytes = EncodeServiceName(name, CORVANE_TEXT_SIZE - 2);
    memcpy(target, bytes.c_str(), bytes.size() + 1);
}

} // namespace Corvane

// --- The browser's and the provider's "DSA" engine steps ---------------------------------------

#include "discovery/CorvaneManager.h"
#include "discovery/StreamBrowser.h"
#include "discovery/StreamInfo.h"
#include "discovery/StreamProvider.h"
#include "dsa_mdns/corvane_net.h"
#include "gateway/VelmoraManager.h"

#include <atomic>
#include <stdarg.h>
#include <stdio.h>
#include <string>
#include <unordered_map>

namespace Corvane {

namespace {

// The gateway manager the engine's log lines go to; set while the engine runs.
std::atomic<CVelmoraManager*> g_EngineLogManager{nullptr};

void MDNS_DSA_LogCallback(const char* format, va_list args)
{
    CVelmoraManager* manager = g_EngineLogManager;
    if (manager == nullptr) {
        return;
    }
    char line[2048];
    vsnprintf(line, sizeof(line), format, args); // longer lines are cut
    manager->LogDebug(kLogGlobal, L"CStreamBrowser::MDNS_DSA_LogCallback() %s", CMfxString(line).GetString());
}

void MDNS_DSA_LogHook(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    MDNS_DSA_LogCallback(format, args);
    va_end(args);
}

// The engine's row kind of a record's session kind.
uint8_t KindOfSession(DWORD sessionKind)
{
    return sessionKind == CStreamInfo::kSessionCorvane ? CORVANE_KIND_CORVANE : CORVANE_KIND_ZINT;
}

std::wstring RecordKey(const CMfxString& name, int interfaceIndex)
{
    return std::wstring(name.GetString()) + L'\n' + std::to_wstring(interfaceIndex);
}

// The engine's limits met since the last poll, in red, each at most once a minute.
void ReportEngineRoom(CVelmoraManager* manager)
{
    corvane_room_report report;
    corvane_core_take_room_report(&report);
    if (report.streams_waiting != 0) {
        manager->AddLogText(
            kLogRed, L"DSA discovery: the table of %d hosts is full, found senders waiting for room: %u",
            CORVANE_REMOTE_NODES, static_cast<unsigned>(report.streams_waiting));
    }
    if (report.names_refused != 0) {
        report.refused_name[CORVANE_TEXT_SIZE - 1] = '\0';
        manager->AddLogText(kLogRed,
                            L"DSA discovery: found sender not taken, its name cut to %d bytes is another "
                            L"sender's: %s (announcements refused: %u)",
                            CORVANE_NAME_MAX, DecodeServiceName(report.refused_name).GetString(),
                            static_cast<unsigned>(report.names_refused));
    }
}

} // namespace

BOOL CStreamBrowser::InitEngine()
{
    CVelmoraManager* manager = GetManager();
    m_LastEnginePoll = manager->GetMilliSec();
    g_EngineLogManager = manager;
    corvane_log_hook = MDNS_DSA_LogHook;
    corvane_core_init();
    const CMfxString computerName = GetLocalComputerName();
    for (corvane_device_config_row& row : corvane_device_config) {
        FillDsaDeviceName(row.name1, computerName);
        FillDsaDeviceName(row.name2, computerName);
        row.port1 = 8080;
        row.port2 = 9000;
    }
    const int interfaceIndex = GetInterfaceIndex(manager->GetInterfaceIP());
    if (interfaceIndex >= 0) {
        corvane_device_config[0].interface_index = static_cast<uint16_t>(interfaceIndex);
        corvane_core_start();
        corvane_mdns_start();
        corvane_device_config[0].active = 1;
        m_EngineStarted = 1;
    }
    return TRUE;
}

// Once a second: every engine row that takes part keeps its record or creates one; records no row
// took part for are removed. Records are found through an index by name built once per poll.
void CStreamBrowser::PollEngine()
{
    CVelmoraManager* manager = GetManager();
    const ULONGLONG now = manager->GetMilliSec();
    if (!DsaPollDue(now, m_LastEnginePoll)) {
        return;
    }
    m_LastEnginePoll = now;
    std::unordered_map<std::wstring, CStreamInfo*> index;
    {
        CSingleLock lock(&m_StreamInfosLock, TRUE);
        index.reserve(m_StreamInfos.size());
        for (CStreamInfo* record : m_StreamInfos) {
            if (record->m_SourceKind == CStreamInfo::kSourceDiscovery) {
                record->m_Seen = 0;
                index.emplace(RecordKey(record->GetName(), record->m_InterfaceIndex), record);
            }
        }
    }
    for (int device = 0; device < CORVANE_DEVICES; ++device) {
        if (!corvane_device_config[device].active) {
            continue;
        }
        const int interfaceIndex = corvane_device_config[device].interface_index;
        // The interface fill, at most once per device and poll rather than once per new record.
        uint8_t interfaceAddress[4];
        char interfaceText[16] = "";
        int interfaceKnown = -1; // not looked up yet
        for (const CDsaRow& row : CopyDsaRows(device)) {
            const std::wstring key = RecordKey(row.name, interfaceIndex);
            auto found = index.find(key);
            if (found != index.end()) {
                CStreamInfo* known = found->second;
                known->m_Seen = 1;
                // Only the row of the record's own kind tells where its sender is now.
                if (row.engineKind == KindOfSession(known->m_SessionKind) &&
                    known->SetLocation(CString(row.hostIP.GetString()), row.port)) {
                    known->SetClientName(CString(row.hostName.GetString()));
                    Log(kLogGlobal, L"CStreamBrowser::PollEngine() stream %s moved to %s:%d",
                        known->GetName().GetString(), row.hostIP.GetString(), static_cast<int>(row.port));
                }
                continue;
            }
            if (row.engineKind != CORVANE_KIND_CORVANE && row.engineKind != CORVANE_KIND_ZINT) {
                continue; // a quill service keeps a record alive but never creates one
            }
            CStreamInfo* record = new CStreamInfo(this, CStreamInfo::kSourceDiscovery);
            record->SetName(row.name);
            record->m_InterfaceIndex = interfaceIndex;
            if (interfaceKnown < 0) {
                interfaceKnown = corvane_net_get_interface_address(static_cast<uint32_t>(interfaceIndex),
                                                                   interfaceAddress, interfaceText)
                                     ? 1
                                     : 0;
            }
            if (interfaceKnown > 0) {
                record->SetInterfaceIP(CString(CMfxString(interfaceText).GetString()));
            }
            record->m_SessionKind = row.engineKind == CORVANE_KIND_CORVANE ? CStreamInfo::kSessionCorvane
                                                                           : CStreamInfo::kSessionZint;
            record->m_Port = row.port;
            record->SetClientIP(CString(row.hostIP.GetString()));
            record->SetClientName(CString(row.hostName.GetString()));
            record->m_Resolved = 1;
            record->m_Seen = 1;
            {
                CSingleLock lock(&m_StreamInfosLock, TRUE);
                m_StreamInfos.push_back(record);
            }
            index.emplace(key, record);
            AddStreamInfo(record);
        }
    }
    ReportEngineRoom(manager);
    for (;;) {
        CStreamInfo* gone = nullptr;
        {
            CSingleLock lock(&m_StreamInfosLock, TRUE);
            for (CStreamInfo* record : m_StreamInfos) {
                if (record->m_SourceKind == CStreamInfo::kSourceDiscovery && record->m_Seen == 0) {
                    gone = record;
                    break;
                }
            }
        }
        if (gone == nullptr) {
            break;
        }
        RemoveStreamInfo(gone);
    }
}

void CStreamBrowser::StopEngine()
{
    for (uint8_t device = 0; device < CORVANE_DEVICES; ++device) {
        if (!corvane_device_config[device].active) {
            continue;
        }
        Log(kLogDebug, L"CStreamBrowser::Close( ThreadID = %d ) stop mDNS DSA device %d",
            static_cast<int>(::GetCurrentThreadId()), static_cast<int>(device));
        corvane_mdns_stop(device);
        corvane_core_stop(device);
        corvane_device_config[device].active = 0;
    }
    m_EngineStarted = 0;
    // A task that did not end within its stop logs nowhere rather than into a manager that may be gone.
    g_EngineLogManager = nullptr;
}

BOOL CStreamProvider::RegisterEngineStream(DWORD& handle, int port, int interfaceIndex, CMfxString name,
                                           CMfxString serviceType)
{
    const uint32_t kind =
        serviceType == L"_rtsp._tcp,_zint_session" ? CORVANE_KIND_ZINT : CORVANE_KIND_CORVANE;
    const std::string bytes = EncodeServiceName(name, 255);
    BOOL result = FALSE;
    for (uint8_t device = 0; device < CORVANE_DEVICES; ++device) {
        const corvane_device_config_row& row = corvane_device_config[device];
        if (!row.active || row.interface_index != static_cast<uint16_t>(interfaceIndex)) {
            continue;
        }
        corvane_register_parameters parameters = {static_cast<uint16_t>(port), kind};
        uint8_t engineHandle = 0;
        const corvane_status status =
            corvane_core_register_stream(device, bytes.c_str(), &parameters, &engineHandle);
        if (status == CORVANE_OK) {
            handle = engineHandle;
            m_EngineRegistrations[engineHandle] = device;
            result = TRUE;
        } else if (engineHandle != 0) {
            // Registered but not announced (the engine's queue refused it): withdrawn again, so that
            // the stream's next wish registers it whole instead of meeting "already registered".
            corvane_core_unregister_stream(device, engineHandle);
        }
    }
    return result;
}

BOOL CStreamProvider::UnregisterEngineStream(DWORD handle)
{
    const uint8_t engineHandle = static_cast<uint8_t>(handle & 0xFF);
    uint8_t device = 0;
    auto found = m_EngineRegistrations.find(engineHandle);
    if (found != m_EngineRegistrations.end()) {
        device = found->second;
        m_EngineRegistrations.erase(found);
    }
    corvane_core_unregister_stream(device, engineHandle);
    return TRUE;
}

} // namespace Corvane
