// The engine's message queue between threads: one reader, many writers, signalled once per burst.
#include "dsa_mdns/corvane_net.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

struct Producer
{
    uint32_t queue = 0;
    uint32_t total = 0;
};

DWORD WINAPI Produce(LPVOID parameter)
{
    Producer& p = *static_cast<Producer*>(parameter);
    uint32_t next = 0;
    while (next < p.total) {
        // Bursts of 1 to 64 messages, a yield between them: the reader finds the queue empty,
        // half full and just refilled, over and over.
        uint32_t burst = 1 + (next * 7919u) % 64;
        for (uint32_t i = 0; i < burst && next < p.total;) {
            corvane_queue_message message = {};
            message.slot = next;
            if (corvane_queue_put(p.queue, &message) == CORVANE_OK) {
                ++next;
                ++i;
            } else {
                Sleep(0); // full: the reader makes room
            }
        }
        Sleep(next % 3 == 0 ? 1 : 0);
    }
    return 0;
}

} // namespace

TEST(DsaQueue, EveryMessageArrivesInOrderAndNoWakeUpIsLost)
{
    Producer producer;
    ASSERT_EQ(corvane_queue_create(&producer.queue), CORVANE_OK);
    producer.total = 20000;
    HANDLE thread = CreateThread(nullptr, 0, Produce, &producer, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    uint32_t expected = 0, timeouts = 0;
    while (expected < producer.total && timeouts < 5) {
        corvane_queue_message message;
        uint16_t size = 0;
        uint8_t timed_out = 0;
        corvane_status status = corvane_queue_get(producer.queue, &size, &message, &timed_out);
        if (timed_out) {
            ++timeouts; // the writer never pauses for a second: a wait that long missed a signal
            continue;
        }
        if (status != CORVANE_OK) {
            continue; // woken by a signal whose message was already taken
        }
        ASSERT_EQ(message.slot, expected);
        ++expected;
    }
    EXPECT_EQ(expected, producer.total);
    EXPECT_EQ(timeouts, 0u);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    // Empty again: a get waits its second and says so.
    corvane_queue_message message;
    uint16_t size = 0;
    uint8_t timed_out = 0;
    EXPECT_EQ(corvane_queue_get(producer.queue, &size, &message, &timed_out), CORVANE_OK);
    EXPECT_EQ(timed_out, 1);
    corvane_queue_delete(producer.queue);
}
