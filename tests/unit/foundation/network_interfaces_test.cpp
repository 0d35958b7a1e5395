// The interface helpers over an interface table the test controls, and once over the system's.
#include "afx/afxplatform.h"
#include "foundation/NetworkInterfaces.h"
#include "fake_interfaces.h"
#include "test_support.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace fake_interfaces;

namespace {

class FakeInterfaceTable : public ::testing::Test
{
protected:
    void SetUp() override { UseFakeInterfaces(); }
    void TearDown() override { SetInterfaceTableSource(nullptr); }
};

} // namespace

TEST_F(FakeInterfaceTable, AddressesAndIndexes)
{
    g_interfaces = {{7, kEthernet, kUp, "Fake Ethernet"}, {8, kEthernet, kUp, "No Address"}};
    g_addresses = {Address("10.0.0.5", 7), Address("10.0.0.6", 7), Address("10.9.9.9", 99)};
    EXPECT_EQ(Text(GetInterfaceIPAddress(7)), L"10.0.0.6") << "the last address in the table wins";
    EXPECT_EQ(GetInterfaceIndex(L"10.0.0.5"), 7);
    EXPECT_EQ(GetInterfaceIndex(L"10.0.0.6"), 7);
    EXPECT_EQ(GetInterfaceIndex(L"010.0.0.5"), -1);
    EXPECT_EQ(GetInterfaceIndex(L"10.0.0.5 "), -1);
    EXPECT_EQ(GetInterfaceIndex(L"Fake Ethernet"), -1);
    EXPECT_EQ(GetInterfaceIndex(L"10.9.9.9"), -1) << "rows whose interface does not answer are skipped";
    EXPECT_EQ(Text(GetInterfaceIPAddress(8)), L"0.0.0.0");
    EXPECT_EQ(Text(GetInterfaceIPAddress(99)), L"0.0.0.0");
}

TEST_F(FakeInterfaceTable, Descriptions)
{
    std::string longDescription(256, 'D'); // fills the row's field with no NUL
    g_interfaces = {{7, kEthernet, kUp, "Fake Ethernet"},
                    {8, kEthernet, kUp, "No Address"},
                    {9, kEthernet, kUp, longDescription},
                    {10, kEthernet, kUp, std::string("Cut\0Here", 8)},
                    {11, kEthernet, kUp,
                     "Gr\xfc"
                     "n"}};
    g_addresses = {Address("10.0.0.5", 7), Address("10.0.0.9", 9)};
    EXPECT_EQ(Text(GetInterfaceDescription(7)), L"10.0.0.5 (Fake Ethernet)");
    EXPECT_EQ(Text(GetInterfaceDescription(8)), L"0.0.0.0 (No Address)");
    EXPECT_EQ(Text(GetInterfaceDescription(9)), L"10.0.0.9 (" + std::wstring(256, L'D') + L")");
    EXPECT_EQ(Text(GetInterfaceDescription(10)), L"0.0.0.0 (Cut)");
    EXPECT_EQ(Text(GetInterfaceDescription(11)), L"0.0.0.0 (Gr\u00fcn)");
    EXPECT_EQ(Text(GetInterfaceDescription(12)), L"unknown interface");
    EXPECT_EQ(Text(GetInterfaceDisplayNameForAddress(ParseIPv4Address(L"10.0.0.5"))),
              L"10.0.0.5 (Fake Ethernet)");
    EXPECT_EQ(Text(GetInterfaceDisplayNameForAddress(ParseIPv4Address(L"10.0.0.77"))), L"unknown interface");
}

TEST_F(FakeInterfaceTable, DefaultInterfaceIsTheFirstOperationalEthernet)
{
    g_interfaces = {{1, kLoopback, kUp, "Loopback"},
                    {2, kEthernet, kDown, "Unplugged"},
                    {3, kWireless, kUp, "Wireless"},
                    {4, kEthernet, kUp, "First Wired"},
                    {5, kEthernet, kUp, "Second Wired"}};
    g_addresses = {Address("127.0.0.1", 1), Address("10.0.0.2", 2), Address("10.0.0.3", 3),
                   Address("10.0.0.4", 4), Address("10.0.0.5", 5)};
    EXPECT_EQ(Text(GetDefaultInterfaceIP()), L"10.0.0.4");
    EXPECT_EQ(Text(GetDefaultInterfaceName()), L"10.0.0.4 (First Wired)");

    g_addresses = {Address("10.0.0.5", 5), Address("10.0.0.4", 4)};
    EXPECT_EQ(Text(GetDefaultInterfaceIP()), L"10.0.0.5") << "the first in table order";

    g_interfaces = {{3, kWireless, kUp, "Wireless"}, {1, kLoopback, kUp, "Loopback"}};
    g_addresses = {Address("127.0.0.1", 1), Address("10.0.0.3", 3)};
    EXPECT_EQ(Text(GetDefaultInterfaceIP()), L"") << "no default with only wireless";
    EXPECT_EQ(Text(GetDefaultInterfaceName()), L"unknown interface");
}

TEST_F(FakeInterfaceTable, TableThatGrowsIsReadAgain)
{
    g_interfaces = {{4, kEthernet, kUp, "Wired"}};
    g_addresses = {Address("10.0.0.4", 4)};
    g_addedAfterQuery = {Address("10.0.0.44", 4), Address("10.0.0.45", 4)};
    EXPECT_EQ(Text(GetInterfaceIPAddress(4)), L"10.0.0.45");
    EXPECT_EQ(ReadInterfaceAddresses().size(), 3u);
}

TEST_F(FakeInterfaceTable, UnreadableTableIsEmpty)
{
    g_interfaces = {{4, kEthernet, kUp, "Wired"}};
    g_addresses = {Address("10.0.0.4", 4)};
    g_failRead = true;
    EXPECT_TRUE(ReadInterfaceAddresses().empty());
    EXPECT_EQ(GetInterfaceIndex(L"10.0.0.4"), -1);
    EXPECT_EQ(Text(GetDefaultInterfaceIP()), L"");
    EXPECT_EQ(Text(GetInterfaceDescription(4)), L"0.0.0.0 (Wired)");
}

TEST(SystemInterfaceTable, AnswersAgreeWithEachOther)
{
    std::vector<CInterfaceAddress> rows = ReadInterfaceAddresses();
    ASSERT_FALSE(rows.empty()) << "Wine lists at least the loopback address";
    bool loopbackSeen = false;
    for (const CInterfaceAddress& row : rows) {
        if (!row.hasInterfaceRow) {
            continue;
        }
        CMfxString address = FormatIPv4(row.address);
        int index = GetInterfaceIndex(address);
        ASSERT_GE(index, 0) << address.GetAnsi();
        CMfxString description = GetInterfaceDescription(static_cast<DWORD>(index));
        EXPECT_EQ(Text(description).rfind(Text(GetInterfaceIPAddress(static_cast<DWORD>(index))) + L" (", 0),
                  0u);
        EXPECT_EQ(Text(GetInterfaceDisplayNameForAddress(row.address)), Text(description));
        loopbackSeen = loopbackSeen || address == L"127.0.0.1";
    }
    EXPECT_TRUE(loopbackSeen);
    CMfxString defaultIP = GetDefaultInterfaceIP();
    if (!defaultIP.IsEmpty()) {
        EXPECT_EQ(Text(GetDefaultInterfaceName()),
                  Text(GetInterfaceDisplayNameForAddress(ParseIPv4Address(defaultIP))));
    } else {
        EXPECT_EQ(Text(GetDefaultInterfaceName()), L"unknown interface");
    }
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(Text(GetLocalComputerName()), name);
    EXPECT_FALSE(GetLocalComputerName().IsEmpty());
}
