// The common start of the discovery tests: the DNS-SD fake emptied, one interface (index 7,
// 10.77.0.1) in place of the system's, and a manager without owner on the test clock whose log file
// is in a fresh folder, in the given mode.
#pragma once

#include "dnssd_fake.h"
#include "fake_interfaces.h"
#include "manager/manager_test_support.h"

#include <gtest/gtest.h>

class DiscoveryFixture : public ::testing::Test
{
protected:
    void StartManager(const wchar_t* mode)
    {
        dnssd_fake::Reset();
        dnssd_fake::SetDaemonReady(true);
        fake_interfaces::UseFakeInterfaces();
        fake_interfaces::g_interfaces = {{7, fake_interfaces::kEthernet, fake_interfaces::kUp, "Fake NIC"}};
        fake_interfaces::g_addresses = {fake_interfaces::Address("10.77.0.1", 7)};
        folder = manager_test::MakeTempFolder(L"discovery");
        manager = manager_test::MakeManager();
        manager_test::OpenLogIn(*manager, folder, L"dnssd_discovery_probe");
        manager->m_BonjourMode = mode;
        manager->m_NicIP = L"10.77.0.1";
    }
    void TearDown() override
    {
        manager.reset();
        SetInterfaceTableSource(nullptr);
    }

    std::wstring folder;
    std::unique_ptr<CVelmoraManager> manager;
};
