// Questions about the machine's IPv4 network interfaces, answered afresh from the system's interface
// tables on every call (no state, any thread).
#pragma once

#include "afx/afxplatform.h"
#include "foundation/MfxString.h"

#include <iphlpapi.h>
#include <vector>

// One row of the IPv4 address table with what the interface table says about its interface.
struct CInterfaceAddress
{
    DWORD address = 0; // network byte order
    DWORD index = 0;   // interface index
    bool hasInterfaceRow = false;
    MIB_IFROW interfaceRow = {}; // valid when hasInterfaceRow
};

// The address table in the system's (unsorted) order; empty when it cannot be read.
std::vector<CInterfaceAddress> ReadInterfaceAddresses();
// The interface row of an index; false when the system does not answer for it.
bool ReadInterfaceRow(DWORD index, MIB_IFROW& row);
// The description of an interface row (ANSI text, at most 256 bytes, up to the first NUL).
CMfxString GetInterfaceRowDescription(const MIB_IFROW& row);

// "%d.%d.%d.%d" of an address in network byte order, first byte in memory first.
CMfxString FormatIPv4(DWORD address);

CMfxString GetInterfaceIPAddress(DWORD index);
CMfxString GetInterfaceDescription(DWORD index);
int GetInterfaceIndex(CMfxString address);
CMfxString GetDefaultInterfaceIP();
DWORD ParseIPv4Address(CMfxString text);
CMfxString GetInterfaceDisplayNameForAddress(DWORD address);
CMfxString GetDefaultInterfaceName();
CMfxString GetLocalComputerName();

// The functions that read the system's tables. Tests put their own in place; null restores the
// system's.
struct CInterfaceTableSource
{
    DWORD(WINAPI* getIpAddrTable)(PMIB_IPADDRTABLE table, PULONG size, BOOL order);
    DWORD(WINAPI* getIfEntry)(PMIB_IFROW row);
};
void SetInterfaceTableSource(const CInterfaceTableSource* source);
