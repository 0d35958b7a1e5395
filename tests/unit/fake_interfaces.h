// An interface table in place of the system's, for the interface helpers and the manager's choice
// of interface: the address rows in table order and the interfaces they belong to.
#pragma once

#include "afx/afxplatform.h"
#include "foundation/NetworkInterfaces.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace fake_interfaces {

struct FakeInterface
{
    DWORD index;
    DWORD type;
    DWORD status;
    std::string description;
};

const DWORD kEthernet = 6;
const DWORD kWireless = 71;
const DWORD kLoopback = 24;
const DWORD kUp = 5;
const DWORD kDown = 2;

inline std::vector<MIB_IPADDRROW> g_addresses;
inline std::vector<FakeInterface> g_interfaces;
// Rows added right after the next size query, as when an address appears meanwhile.
inline std::vector<MIB_IPADDRROW> g_addedAfterQuery;
inline bool g_failRead = false;

inline MIB_IPADDRROW Address(const char* text, DWORD index)
{
    MIB_IPADDRROW row = {};
    row.dwAddr = inet_addr(text);
    row.dwIndex = index;
    return row;
}

inline DWORD WINAPI FakeGetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL)
{
    ULONG needed = static_cast<ULONG>(offsetof(MIB_IPADDRTABLE, table) +
                                      (g_addresses.empty() ? 1 : g_addresses.size()) * sizeof(MIB_IPADDRROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        g_addresses.insert(g_addresses.end(), g_addedAfterQuery.begin(), g_addedAfterQuery.end());
        g_addedAfterQuery.clear();
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (g_failRead) {
        return ERROR_NOT_SUPPORTED;
    }
    table->dwNumEntries = static_cast<DWORD>(g_addresses.size());
    for (size_t i = 0; i < g_addresses.size(); ++i) {
        table->table[i] = g_addresses[i];
    }
    return NO_ERROR;
}

inline DWORD WINAPI FakeGetIfEntry(PMIB_IFROW row)
{
    for (const FakeInterface& fake : g_interfaces) {
        if (fake.index == row->dwIndex) {
            row->dwType = fake.type;
            row->dwOperStatus = fake.status;
            row->dwDescrLen = static_cast<DWORD>(fake.description.size());
            memcpy(row->bDescr, fake.description.data(),
                   std::min(fake.description.size(), sizeof(row->bDescr)));
            return NO_ERROR;
        }
    }
    return ERROR_INVALID_DATA;
}

// Empties the table and puts it in place of the system's, until SetInterfaceTableSource(nullptr).
inline void UseFakeInterfaces()
{
    static const CInterfaceTableSource kFakeTables = {&FakeGetIpAddrTable, &FakeGetIfEntry};
    g_addresses.clear();
    g_interfaces.clear();
    g_addedAfterQuery.clear();
    g_failRead = false;
    SetInterfaceTableSource(&kFakeTables);
}

} // namespace fake_interfaces
