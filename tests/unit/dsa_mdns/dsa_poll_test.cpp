// The browser's side of the DSA engine: which engine rows its poll takes, and when it polls.
#include "discovery/DsaPoll.h"

#include <gtest/gtest.h>
#include <string.h>

using Corvane::CopyDsaRows;
using Corvane::DsaPollDue;
using Corvane::DsaRowTakesPart;

TEST(DsaPoll, RowRules)
{
    corvane_core_reset_for_test();
    corvane_remote_node& node = corvane_remote_nodes[4]; // row 5
    strcpy(node.name, "peer.sub");
    node.hash = 7;
    const uint8_t address[4] = {10, 77, 0, 2};
    memcpy(node.address, address, 4);
    corvane_remote_nodes[5].hash = 0; // row 6: not in use
    corvane_remote_nodes[6].hash = 9; // row 7: no address yet
    corvane_remote_nodes[6].no_address = 1;

    struct Case
    {
        uint32_t hash;
        uint8_t node, device, kind;
        int scanned_device;
        bool takes_part;
    } cases[] = {
        {1, 5, 1, 3, 0, true},  {1, 5, 1, 2, 0, true},    {1, 5, 1, 5, 0, true},  {0, 5, 1, 3, 0, false},
        {1, 0, 1, 3, 0, false}, {1, 201, 1, 3, 0, false}, {1, 6, 1, 3, 0, false}, {1, 7, 1, 3, 0, false},
        {1, 5, 2, 3, 0, false}, {1, 5, 2, 3, 1, true},    {1, 5, 1, 3, 1, false}, {1, 5, 1, 4, 0, false},
        {1, 5, 0, 3, 0, false},
    };
    for (const Case& c : cases) {
        corvane_remote_stream row{};
        row.hash = c.hash;
        row.node = c.node;
        row.device = c.device;
        row.kind = c.kind;
        EXPECT_EQ(DsaRowTakesPart(row, c.scanned_device), c.takes_part)
            << "node " << int(c.node) << " device " << int(c.device) << " kind " << int(c.kind);
    }

    corvane_remote_stream& row = corvane_remote_streams[2];
    strcpy(row.name, "Studio \xE4");
    row.hash = 1;
    row.node = 5;
    row.device = 1;
    row.kind = 3;
    row.port = 8554;
    auto rows = CopyDsaRows(0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].name.GetString(), L"Studio \u00E4");
    EXPECT_STREQ(rows[0].hostName.GetString(), L"peer");
    EXPECT_STREQ(rows[0].hostIP.GetString(), L"10.77.0.2");
    EXPECT_EQ(rows[0].port, 8554);
    corvane_core_reset_for_test();
}

TEST(DsaPoll, DueOnlyAfterMoreThanASecond)
{
    EXPECT_FALSE(DsaPollDue(6000, 5000));
    EXPECT_TRUE(DsaPollDue(6001, 5000));
    EXPECT_FALSE(DsaPollDue(4000, 5000));
}
