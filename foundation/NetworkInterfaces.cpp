#include "afx/afxplatform.h"
#include "foundation/NetworkInterfaces.h"

#include <atomic>
#include <cstring>
#include <memory>

namespace {

const CInterfaceTableSource kSystemTables = {&GetIpAddrTable, &GetIfEntry};
std::atomic<const CInterfaceTableSource*> g_tables{&kSystemTables};

// The table can grow between the size query and the read; the read is then tried again.
const int kTableReadAttempts = 5;
const DWORD kOperational = 5; // IF_OPER_STATUS_OPERATIONAL
const DWORD kEthernet = 6;    // IF_TYPE_ETHERNET_CSMACD
const wchar_t kUnknownInterface[] = L"unknown interface";

} // namespace

void SetInterfaceTableSource(const CInterfaceTableSource* source)
{
    g_tables = source != nullptr ? source : &kSystemTables;
}

bool ReadInterfaceRow(DWORD index, MIB_IFROW& row)
{
    row = MIB_IFROW{};
    row.dwIndex = index;
    return g_tables.load()->getIfEntry(&row) == NO_ERROR;
}

std::vector<CInterfaceAddress> ReadInterfaceAddresses()
{
    const CInterfaceTableSource* tables = g_tables.load();
    std::vector<CInterfaceAddress> result;
    ULONG size = 0;
    if (tables->getIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return result;
    }
    std::unique_ptr<unsigned char[]> buffer;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < kTableReadAttempts && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.reset(new unsigned char[size]());
        status = tables->getIpAddrTable(reinterpret_cast<PMIB_IPADDRTABLE>(buffer.get()), &size, FALSE);
    }
    if (status != NO_ERROR) {
        return result;
    }
    const MIB_IPADDRTABLE* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.get());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        CInterfaceAddress row;
        row.address = table->table[i].dwAddr;
        row.index = table->table[i].dwIndex;
        row.hasInterfaceRow = ReadInterfaceRow(row.index, row.interfaceRow);
        result.push_back(row);
    }
    return result;
}

CMfxString GetInterfaceRowDescription(const MIB_IFROW& row)
{
    const char* text = reinterpret_cast<const char*>(row.bDescr);
    return CMfxString(text, static_cast<int>(strnlen(text, sizeof(row.bDescr))));
}

CMfxString FormatIPv4(DWORD address)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address);
    CMfxString text;
    text.Format(L"%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

CMfxString GetInterfaceIPAddress(DWORD index)
{
    CMfxString result = L"0.0.0.0";
    for (const CInterfaceAddress& row : ReadInterfaceAddresses()) {
        if (row.hasInterfaceRow && row.index == index) {
            result = FormatIPv4(row.address);
        }
    }
    return result;
}

CMfxString GetInterfaceDescription(DWORD index)
{
    MIB_IFROW row;
    if (!ReadInterfaceRow(index, row)) {
        return kUnknownInterface;
    }
    CMfxString description = GetInterfaceRowDescription(row);
    CMfxString text;
    text.Format(L"%s (%s)", GetInterfaceIPAddress(index).GetString(), description.GetString());
    return text;
}

int GetInterfaceIndex(CMfxString address)
{
    for (const CInterfaceAddress& row : ReadInterfaceAddresses()) {
        if (row.hasInterfaceRow && FormatIPv4(row.address) == address) {
            return static_cast<int>(row.index);
        }
    }
    return -1;
}

CMfxString GetDefaultInterfaceIP()
{
    for (const CInterfaceAddress& row : ReadInterfaceAddresses()) {
        if (row.hasInterfaceRow && row.interfaceRow.dwOperStatus == kOperational &&
            row.interfaceRow.dwType == kEthernet) {
            return FormatIPv4(row.address);
        }
    }
    return CMfxString();
}

DWORD ParseIPv4Address(CMfxString text)
{
    return inet_addr(text.GetAnsi());
}

CMfxString GetInterfaceDisplayNameForAddress(DWORD address)
{
    int index = GetInterfaceIndex(FormatIPv4(address));
    return index == -1 ? CMfxString(kUnknownInterface) : GetInterfaceDescription(static_cast<DWORD>(index));
}

CMfxString GetDefaultInterfaceName()
{
    return GetInterfaceDisplayNameForAddress(ParseIPv4Address(GetDefaultInterfaceIP()));
}

CMfxString GetLocalComputerName()
{
    wchar_t name[512] = {};
    DWORD size = 512;
    if (!GetComputerNameW(name, &size)) {
        name[0] = 0;
    }
    return name;
}
