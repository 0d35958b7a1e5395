// Fuzz target: the DSA engine's service logic on what its parsers read. The input is a sequence of
// datagrams, each behind a 2-byte length and a step byte; each datagram is evaluated (responses) or
// answered (queries), then the clock moves on by the step's tenths of a second and the per-second
// work runs for every second passed. After every step the tables must hold together: a stream row
// points only at a used node row, names end within their rows, and what is sent is whole.
#include "dsa_mdns/corvane_mdns.h"

#include <stdlib.h>
#include <string.h>

static uint32_t g_now = 0;

static uint32_t fuzz_tick()
{
    return g_now;
}

static corvane_status fuzz_queries(const corvane_question_list* list)
{
    if (list->count == 0 || list->count > CORVANE_QUESTIONS_MAX) {
        abort();
    }
    return CORVANE_OK;
}

static corvane_status fuzz_responses(uint8_t, const corvane_record_list* list)
{
    if (list->total == 0 || list->total > CORVANE_RECORDS_MAX ||
        list->answers + list->authority + list->additional != list->total) {
        abort();
    }
    return CORVANE_OK;
}

corvane_env corvane_core_env = {fuzz_tick, fuzz_queries, fuzz_responses};

static void check_tables()
{
    for (const corvane_remote_stream& row : corvane_remote_streams) {
        if (row.hash == 0) {
            continue;
        }
        if (memchr(row.name, 0, sizeof(row.name)) == nullptr || row.node > CORVANE_REMOTE_NODES ||
            (row.node != 0 && corvane_remote_nodes[row.node - 1].hash == 0)) {
            abort();
        }
    }
    for (const corvane_remote_node& row : corvane_remote_nodes) {
        if (row.hash != 0 && memchr(row.name, 0, sizeof(row.name)) == nullptr) {
            abort();
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static corvane_msg msg;
    static corvane_record_list records;
    static corvane_question_list questions;
    static const uint8_t address[4] = {10, 77, 0, 1};
    corvane_core_init();
    corvane_core_reset_for_test();
    if (corvane_core_prepare("FUZZ", address, 1) != CORVANE_OK) {
        abort();
    }
    corvane_register_parameters parameters = {8554, CORVANE_KIND_CORVANE};
    corvane_core_register_stream(0, "Local", &parameters, nullptr);
    g_now = 1000;
    size_t at = 0;
    while (at + 3 <= size) {
        size_t length = static_cast<size_t>(data[at] << 8 | data[at + 1]);
        uint8_t step = data[at + 2];
        at += 3;
        length = length < size - at ? length : size - at;
        corvane_msg_set(&msg, data + at, length);
        at += length;
        if (length > 2 && (msg.data[2] & 0x80)) {
            if (corvane_mdns_parse_responses(&msg, &records) == CORVANE_OK) {
                corvane_core_mdns_responses_eval(0, &records);
            }
        } else if (corvane_mdns_parse_queries(&msg, &questions) == CORVANE_OK) {
            corvane_core_answer_queries(&questions, 0);
        }
        uint32_t before = g_now / 1000;
        g_now += step * 100u;
        for (uint32_t second = before; second < g_now / 1000; ++second) {
            corvane_core_repeat_initial_queries(&corvane_device_states[0]);
            corvane_core_refresh_nodes();
            corvane_core_check_remote_streams_table();
        }
        check_tables();
    }
    return 0;
}
