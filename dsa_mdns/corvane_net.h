// Transport of the engine (Windows sockets and threads): the message queues, the enqueue
// functions that carry lists to the send task, and the interface address lookup.
#pragma once

#include "dsa_mdns/corvane_mdns.h"

// The queues carry messages from any number of writers to one reader.
// One queue message: a ring slot, the batch count on a list's first entry, content 0 questions or 1
// records, origin 0 received or 1 to be sent.
struct corvane_queue_message
{
    uint32_t slot;
    uint32_t batch_count;
    uint32_t unused;
    uint32_t content;
    uint32_t origin;
};

corvane_status corvane_queue_create(uint32_t* id);
void corvane_queue_delete(uint32_t id);
corvane_status corvane_queue_put(uint32_t id, const corvane_queue_message* message);
corvane_status corvane_queue_get(uint32_t id, uint16_t* size, corvane_queue_message* message,
                                 uint8_t* timed_out);
corvane_status corvane_queue_fill_count(uint32_t id, uint16_t* count);

// 0, 10, 13, or 121 when the queue had no room for the list within 2 s.
corvane_status corvane_mdns_enqueue_queries_list(const corvane_question_list* list);
corvane_status corvane_mdns_enqueue_responses_list(uint8_t device, const corvane_record_list* list);

// The IPv4 address (network order) and its text of the interface with that index.
bool corvane_net_get_interface_address(uint32_t index, uint8_t address[4], char text[16]);
// Datagrams the receive task dropped because the queue was full.
uint32_t corvane_mdns_dropped_datagrams(uint8_t device);
