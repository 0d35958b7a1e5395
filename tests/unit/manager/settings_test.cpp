// How the manager reads its settings, chooses its network interface over a table the test
// supplies, and reads its own version block.
#include "manager_test_support.h"

#include "fake_interfaces.h"

#include <gtest/gtest.h>

using namespace fake_interfaces;
using namespace manager_test;

namespace {

class ManagerInterfaceChoice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseFakeInterfaces();
        g_interfaces = {{1, kLoopback, kUp, "Loopback"},
                        {2, kEthernet, kUp, "Intel(R) Ethernet Connection"},
                        {3, kEthernet, kUp, "Realtek PCIe GbE"},
                        {4, kEthernet, kUp, "Realtek USB GbE"},
                        {5, kEthernet, kDown, "Broadcom NetXtreme"}};
        g_addresses = {Address("127.0.0.1", 1), Address("10.0.0.5", 2), Address("192.168.1.20", 3),
                       Address("192.168.1.21", 4), Address("172.16.0.9", 5)};
    }
    void TearDown() override { SetInterfaceTableSource(nullptr); }

    // The chosen name and address for an "Interface" setting.
    std::pair<std::wstring, std::wstring> Choose(const wchar_t* setting)
    {
        auto manager = MakeManager();
        manager->m_NicName = setting;
        manager->ChooseInterface();
        return {Text(manager->m_NicName), Text(manager->m_NicIP)};
    }
};

const std::pair<std::wstring, std::wstring> kDefault{L"10.0.0.5 (Intel(R) Ethernet Connection)", L"10.0.0.5"};

// ---- Settings ----------------------------------------------------------------------------------

class ManagerSettings : public ::testing::Test
{
protected:
    // The manager after ReadSettings with the given Network and Settings values (null: key absent).
    std::unique_ptr<CVelmoraManager> Read(const wchar_t* useBonjour, const wchar_t* doSdpSort,
                                          const wchar_t* port)
    {
        auto manager = MakeManager();
        FreshSettings(*manager, L"manager_settings_probe");
        if (useBonjour != nullptr) {
            manager->m_Settings.WriteString(SettingsKey::kUseBonjour, useBonjour);
        }
        if (doSdpSort != nullptr) {
            manager->m_Settings.WriteString(SettingsKey::kDoSdpSort, doSdpSort);
        }
        if (port != nullptr) {
            manager->m_Settings.WriteString(SettingsKey::kRtspPort, port);
        }
        manager->ReadSettings();
        return manager;
    }
};

} // namespace

TEST_F(ManagerSettings, UseBonjourChoosesTheBackEndOrSwitchesItOff)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"apple", L"APPLE"}, {L"Apple", L"APPLE"}, {L"1", L"APPLE"},
        {L"TRUE", L"APPLE"},  {L"true", L"APPLE"},  {L"dsa", L"DSA"},
        {L"DSA", L"DSA"},     {L"false", L""},      {L"0", L""},
        {L"bonjour", L""},    {nullptr, L"DSA"},    {L"", L"DSA"}, // empty value: the default
    };
    for (const auto& entry : cases) {
        auto manager = Read(entry.first, nullptr, nullptr);
        EXPECT_EQ(Text(manager->m_BonjourMode), entry.second) << (entry.first ? entry.first : L"(absent)");
    }
}

TEST_F(ManagerSettings, DoSDPSortIsOnForTrueOrOneAndByDefault)
{
    const std::pair<const wchar_t*, int> cases[] = {
        {L"TRUE", 1}, {L"true", 1}, {L"1", 1}, {nullptr, 1}, {L"FALSE", 0}, {L"0", 0}, {L"yes", 0}, {L"2", 0},
    };
    for (const auto& entry : cases) {
        auto manager = Read(nullptr, entry.first, nullptr);
        EXPECT_EQ(manager->m_DoSDPSort, entry.second) << (entry.first ? entry.first : L"(absent)");
    }
}

TEST_F(ManagerSettings, RTSPPortKeepsTheDefaultUnlessItIsAUsablePort)
{
    const std::pair<const wchar_t*, int> cases[] = {
        {L"554", 554},  {L"65535", 65535}, {L"1", 1},        {L"8554x", 8554}, {nullptr, 8080},
        {L"abc", 8080}, {L"0", 8080},      {L"70000", 8080}, {L"65536", 8080}, {L"-1", 8080},
    };
    for (const auto& entry : cases) {
        auto manager = Read(nullptr, nullptr, entry.first);
        EXPECT_EQ(manager->m_RTSPPort, entry.second) << (entry.first ? entry.first : L"(absent)");
    }
}

TEST_F(ManagerInterfaceChoice, AddressOrDescriptionMatchesTheLastOperationalRowElseTheDefault)
{
    using Choice = std::pair<std::wstring, std::wstring>;
    const Choice pcie{L"Realtek PCIe GbE", L"192.168.1.20"};
    const Choice usb{L"Realtek USB GbE", L"192.168.1.21"};
    const Choice intel{L"Intel(R) Ethernet Connection", L"10.0.0.5"};
    const std::pair<const wchar_t*, Choice> cases[] = {
        // Row 2 matches by description, row 3 by address: the later row wins.
        {L"192.168.1.20 (Intel(R) Ethernet)", pcie},
        {L"10.0.0.5 (some old adapter)", intel}, // only the address part matches
        {L"0.0.0.0 (intel(r) ethernet)", intel}, // upper-cased on both sides
        {L"192.168.1.21", usb},                  // the address alone
        {L"realtek", usb},                       // a fragment: the last of every match
        {L"10.0.0.5 (Intel", kDefault},          // no closing bracket: all of it is a fragment
        {L"wireless", kDefault},                 // no match
        {L"Broadcom", kDefault},                 // down
        {L"172.16.0.9 (Broadcom NetXtreme)", kDefault},
        {L"", kDefault},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Choose(c.first), c.second) << c.first;
    }
    g_interfaces[3].status = 0; // the USB adapter goes down
    EXPECT_EQ(Choose(L"realtek"), pcie);
    g_addresses.resize(1); // the loopback address alone
    EXPECT_EQ(Choose(L"anything"), (Choice{L"unknown interface", L""}));
}

TEST(ManagerVersionInfo, ProductNameAndFileVersionComeFromTheModulesVersionBlock)
{
    auto manager = MakeManager();
    manager->ReadVersionInfo();
    // The test program's own version block (manager_test.rc).
    EXPECT_EQ(Text(manager->m_ProductName), L"Velmora %s Test");
    EXPECT_EQ(Text(manager->m_FileVersion), L"9.8.7.6");
    const std::wstring path = Text(manager->m_ModulePath);
    ASSERT_GE(path.size(), 16u);
    EXPECT_EQ(path.substr(path.size() - 16), L"manager_test.exe");
}
