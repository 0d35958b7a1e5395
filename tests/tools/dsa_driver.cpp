// Drives the DSA multicast-DNS engine for the end-to-end tests: one command per input line, each
// answered by zero or more lines and then "OK" or "ERROR <reason>". The engine's log lines go to
// standard error.
//
//   start <interface IPv4>      configure device 0 on that interface and start the engine
//   register <name>\t<port>\t<kind>
//   unregister <handle>
//   tables                      the remote streams and nodes, one line each
//   dropped                     datagrams the receive task dropped
//   stall <ms>                  hold the table lock that long from another thread, as a slow reader
//                               of the tables would; answers once the lock is held
//   usage                       CPU time (user + kernel) and private bytes of this process
//   stop                        stop the engine; prints how long it took
//   exit
#include "dsa_mdns/corvane_mdns.h"
#include "dsa_mdns/corvane_net.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

void LogToStderr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
}

int InterfaceIndexOf(const char* text)
{
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::string buffer(size, '\0');
    MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(&buffer[0]);
    if (size == 0 || GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return -1;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr == inet_addr(text)) {
            return static_cast<int>(table->table[i].dwIndex);
        }
    }
    return -1;
}

HANDLE g_stall_held = nullptr;

void Tables()
{
    corvane_tables_lock();
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        const corvane_remote_stream& s = corvane_remote_streams[i];
        if (s.hash != 0) {
            printf("stream\trow=%d\tname=%s\tnode=%d\tport=%d\tflags=%d\tkind=%d\tdevice=%d\n", i + 1, s.name,
                   s.node, s.port, s.flags, s.kind, s.device);
        }
    }
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        const corvane_remote_node& n = corvane_remote_nodes[i];
        if (n.hash != 0) {
            printf("node\trow=%d\tname=%s\taddress=%d.%d.%d.%d\tnoaddress=%d\tflags=%d\n", i + 1, n.name,
                   n.address[0], n.address[1], n.address[2], n.address[3], n.no_address, n.flags);
        }
    }
    corvane_tables_unlock();
}

DWORD WINAPI HoldTables(LPVOID parameter)
{
    DWORD ms = static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
    corvane_tables_lock();
    SetEvent(g_stall_held);
    Sleep(ms);
    corvane_tables_unlock();
    return 0;
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    char line[1024];
    while (fgets(line, sizeof(line), stdin) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        char* argument = strchr(line, ' ');
        if (argument != nullptr) {
            *argument++ = '\0';
        }
        std::string command = line;
        if (command == "start" && argument != nullptr) {
            int index = InterfaceIndexOf(argument);
            corvane_log_hook = LogToStderr;
            corvane_core_init();
            for (corvane_device_config_row& row : corvane_device_config) {
                snprintf(row.name1, sizeof(row.name1), "Velmora (on driver)");
                snprintf(row.name2, sizeof(row.name2), "Velmora (on driver)");
                row.port1 = 8080;
                row.port2 = 9000;
            }
            corvane_device_config[0].interface_index = static_cast<uint16_t>(index);
            int core = corvane_core_start();
            int mdns = corvane_mdns_start();
            corvane_device_config[0].active = 1;
            printf("start\tindex=%d\tcore=%d\tmdns=%d\thost=%s\n", index, core, mdns,
                   corvane_device_states[0].host_label);
        } else if (command == "register" && argument != nullptr) {
            char* port = strchr(argument, '\t');
            char* kind = port != nullptr ? strchr(port + 1, '\t') : nullptr;
            if (kind == nullptr) {
                printf("ERROR register needs name, port and kind\n");
                fflush(stdout);
                continue;
            }
            *port++ = '\0';
            *kind++ = '\0';
            corvane_register_parameters parameters = {static_cast<uint16_t>(atoi(port)),
                                                      static_cast<uint32_t>(atoi(kind))};
            uint8_t handle = 0;
            int status = corvane_core_register_stream(0, argument, &parameters, &handle);
            printf("register\tstatus=%d\thandle=%d\n", status, handle);
        } else if (command == "unregister" && argument != nullptr) {
            printf("unregister\tstatus=%d\n",
                   corvane_core_unregister_stream(0, static_cast<uint8_t>(atoi(argument))));
        } else if (command == "tables") {
            Tables();
        } else if (command == "dropped") {
            printf("dropped\tcount=%u\n", corvane_mdns_dropped_datagrams(0));
        } else if (command == "stall" && argument != nullptr) {
            if (g_stall_held == nullptr) {
                g_stall_held = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            }
            uintptr_t ms = static_cast<uintptr_t>(atoi(argument));
            HANDLE thread = CreateThread(nullptr, 0, HoldTables, reinterpret_cast<LPVOID>(ms), 0, nullptr);
            if (thread == nullptr) {
                printf("ERROR no thread\n");
                fflush(stdout);
                continue;
            }
            CloseHandle(thread);
            WaitForSingleObject(g_stall_held, INFINITE);
            printf("stall\tms=%u\n", static_cast<unsigned>(ms));
        } else if (command == "usage") {
            FILETIME created, exited, kernel, user;
            GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
            ULONGLONG cpu = (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
                            (static_cast<ULONGLONG>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
            PROCESS_MEMORY_COUNTERS_EX memory = {};
            memory.cb = sizeof(memory);
            GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                 sizeof(memory));
            printf("usage\tcpu_ms=%llu\tprivate_bytes=%lu\tworking_set=%lu\n", cpu / 10000,
                   static_cast<unsigned long>(memory.PrivateUsage),
                   static_cast<unsigned long>(memory.WorkingSetSize));
        } else if (command == "stop") {
            DWORD started = GetTickCount();
            int mdns = corvane_mdns_stop(0);
            int core = corvane_core_stop(0);
            printf("stop\tmdns=%d\tcore=%d\tms=%lu\n", mdns, core, GetTickCount() - started);
        } else if (command == "exit") {
            printf("OK\n");
            fflush(stdout);
            return 0;
        } else {
            printf("ERROR unknown command %s\n", line);
            fflush(stdout);
            continue;
        }
        printf("OK\n");
        fflush(stdout);
    }
    return 0;
}
