// Transport of the engine: the socket on 224.0.0.251:5353, the record ring and message queues that
// carry question and record lists to the send task, the receive, send and core tasks, and the start
// and stop operations.
#include "dsa_mdns/corvane_net.h"

#include "dsa_mdns/corvane_log.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <atomic>
#include <stdio.h>
#include <string.h>

namespace {

const uint16_t kQueueCapacity = 1000;
const int kQueues = 20;
const int kRingSlots = 1000;
const DWORD kStopWaitMs = 5000;
const DWORD kRoomWaitMs = 2000;
const DWORD kReceiveWaitMs = 200;
// How long the receive task waits for room in the queue before it drops a datagram: the socket's
// buffer holds what arrives meanwhile, so a burst outrunning the core for a moment loses nothing.
const DWORD kReceiveRoomWaitMs = 1000;
const int kReceiveBuffer = 512 * 1024;

struct queue
{
    HANDLE event = nullptr; // non-null: the queue is taken
    CRITICAL_SECTION lock;
    uint16_t head = 0, tail = 0;
    corvane_queue_message items[kQueueCapacity];
};

queue g_queues[kQueues];
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_pool_lock;
// The ring lock: taken by every writer of ring slots while it copies a list and posts its
// messages. It lives as long as the process, so a late enqueue never touches a freed lock.
CRITICAL_SECTION g_ring_lock;

struct ring_slot
{
    corvane_record record;
    corvane_question question;
};
ring_slot g_ring[kRingSlots];

struct mdns_device
{
    std::atomic<bool> running{false};
    std::atomic<bool> rx_running{false}, tx_running{false};
    uint8_t device = 0;
    uint8_t address[4] = {};
    char address_text[16] = {};
    SOCKET socket = INVALID_SOCKET;
    bool joined = false;
    HANDLE rx_thread = nullptr, tx_thread = nullptr;
    std::atomic<DWORD> tx_thread_id{0};
    HANDLE rx_stop = nullptr; // the send task needs none: it reads the running flag
    uint32_t queue_id = 0;
    int next_slot = 0;
    uint32_t dropped = 0;
    corvane_log_gate dropped_log = {1000, false, 0};
    corvane_log_gate receive_errors = {60000, false, 0};
    corvane_msg rx_msg, tx_msg;
    corvane_question_list rx_questions, tx_questions;
    corvane_record_list rx_records, tx_records;
};
mdns_device g_devices[CORVANE_DEVICES];

struct core_task
{
    HANDLE thread = nullptr;
    HANDLE stop = nullptr;
    std::atomic<bool> running{false};
};
core_task g_core_tasks[CORVANE_DEVICES];
bool g_wsa_started = false;

BOOL CALLBACK init_once(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&g_pool_lock);
    InitializeCriticalSection(&g_ring_lock);
    for (queue& q : g_queues) {
        InitializeCriticalSection(&q.lock);
    }
    return TRUE;
}

void ensure_init()
{
    InitOnceExecuteOnce(&g_once, init_once, nullptr, nullptr);
}

queue* queue_of(uint32_t id)
{
    if (id < 1 || id > kQueues || g_queues[id - 1].event == nullptr) {
        return nullptr;
    }
    return &g_queues[id - 1];
}

uint32_t platform_tick()
{
    return GetTickCount();
}

corvane_status env_enqueue_queries(const corvane_question_list* list)
{
    return corvane_mdns_enqueue_queries_list(list);
}

corvane_status env_enqueue_responses(uint8_t device, const corvane_record_list* list)
{
    return corvane_mdns_enqueue_responses_list(device, list);
}

sockaddr_in group_destination()
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(5353);
    to.sin_addr.s_addr = inet_addr("224.0.0.251");
    return to;
}

// Builds and sends the records as whole messages of at most 1280 bytes each.
void send_records(mdns_device& dev, const corvane_record_list* list)
{
    sockaddr_in to = group_destination();
    uint16_t next = 0;
    while (next < list->total) {
        if (corvane_mdns_build_response(&dev.tx_msg, list, &next) != CORVANE_OK) {
            return;
        }
        sendto(dev.socket, reinterpret_cast<const char*>(dev.tx_msg.data), dev.tx_msg.length, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
}

void send_questions(mdns_device& dev, const corvane_question_list* list)
{
    sockaddr_in to = group_destination();
    if (corvane_mdns_build_query(&dev.tx_msg, list) == CORVANE_OK) {
        sendto(dev.socket, reinterpret_cast<const char*>(dev.tx_msg.data), dev.tx_msg.length, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
}

// Copies a list into the ring and posts one message per entry; the caller holds the ring lock and
// has made sure the queue has room.
void post_list(mdns_device& dev, uint32_t content, uint32_t origin, const corvane_question* questions,
               const corvane_record* records, uint16_t count)
{
    for (uint16_t i = 0; i < count; ++i) {
        ring_slot& slot = g_ring[dev.next_slot];
        if (content == 0) {
            slot.question = questions[i];
        } else {
            slot.record = records[i];
        }
        corvane_queue_message message = {};
        message.slot = static_cast<uint32_t>(dev.next_slot);
        message.batch_count = i == 0 ? count : 0;
        message.content = content;
        message.origin = origin;
        corvane_queue_put(dev.queue_id, &message);
        dev.next_slot = (dev.next_slot + 1) % kRingSlots;
    }
}

bool has_room(const mdns_device& dev, uint16_t count)
{
    uint16_t fill = 0;
    return corvane_queue_fill_count(dev.queue_id, &fill) == CORVANE_OK && fill < 999 - count;
}

// Enqueue from a thread other than the send task: waits for room at most kRoomWaitMs (121 then),
// never while holding the ring lock; 13 once the service stops.
corvane_status enqueue_list(uint8_t device, uint32_t content, const char* what,
                            const corvane_question* questions, const corvane_record* records, uint16_t count)
{
    if (device >= CORVANE_DEVICES) {
        return CORVANE_ERR_DEVICE;
    }
    mdns_device& dev = g_devices[device];
    if (!dev.running) {
        return CORVANE_ERR_NOT_STARTED;
    }
    if (count == 0) {
        return CORVANE_OK;
    }
    if (GetCurrentThreadId() == dev.tx_thread_id) {
        // The send task answers by sending at once: it never waits for room only it can make.
        if (content == 0) {
            corvane_question_list list{};
            list.count = count;
            memcpy(list.questions, questions, count * sizeof(corvane_question));
            send_questions(dev, &list);
        } else {
            static corvane_record_list list;
            list.total = count;
            memcpy(list.records, records, count * sizeof(corvane_record));
            send_records(dev, &list);
        }
        return CORVANE_OK;
    }
    CORVANE_LOG("%s, device_id = %d, start corvane_semaphore_obtain", what, device);
    DWORD started = GetTickCount();
    for (;;) {
        EnterCriticalSection(&g_ring_lock);
        if (!dev.running) {
            LeaveCriticalSection(&g_ring_lock);
            return CORVANE_ERR_NOT_STARTED;
        }
        if (has_room(dev, count)) {
            break;
        }
        uint16_t fill = 0;
        corvane_queue_fill_count(dev.queue_id, &fill);
        LeaveCriticalSection(&g_ring_lock);
        CORVANE_LOG("%s, device_id = %d, queue_fill_count = %d", what, device, fill);
        if (GetTickCount() - started >= kRoomWaitMs) {
            return CORVANE_ERR_QUEUE_FULL;
        }
        Sleep(250);
    }
    CORVANE_LOG("%s, device_id = %d, records_count = %d", what, device, count);
    post_list(dev, content, 1, questions, records, count);
    LeaveCriticalSection(&g_ring_lock);
    return CORVANE_OK;
}

// Posts a received list once the queue has room, waiting for it at most kReceiveRoomWaitMs.
bool post_received(mdns_device& dev, uint32_t response, uint16_t count)
{
    DWORD started = GetTickCount();
    for (;;) {
        EnterCriticalSection(&g_ring_lock);
        if (dev.running && has_room(dev, count)) {
            post_list(dev, response, 0, dev.rx_questions.questions, dev.rx_records.records, count);
            LeaveCriticalSection(&g_ring_lock);
            return true;
        }
        LeaveCriticalSection(&g_ring_lock);
        if (!dev.running || GetTickCount() - started >= kReceiveRoomWaitMs ||
            WaitForSingleObject(dev.rx_stop, 10) == WAIT_OBJECT_0) {
            return false;
        }
    }
}

DWORD WINAPI rx_task(LPVOID parameter)
{
    mdns_device& dev = *static_cast<mdns_device*>(parameter);
    static uint8_t datagram[CORVANE_MSG_READ_MAX];
    dev.rx_running = true;
    while (dev.running) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(dev.socket, &readable);
        timeval wait = {0, static_cast<long>(kReceiveWaitMs) * 1000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == 0) {
            continue;
        }
        int n = ready > 0 ? recv(dev.socket, reinterpret_cast<char*>(datagram), sizeof(datagram), 0) : 0;
        if (ready < 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEMSGSIZE)) {
            // A failing socket is tried again after the usual wait, never in a tight loop.
            int error = WSAGetLastError();
            if (dev.receive_errors.due(GetTickCount())) {
                CORVANE_LOG("corvane_mdns_rx_task, device_id = %d, %s failed, error %d", dev.device,
                            ready < 0 ? "select" : "recv", error);
            }
            WaitForSingleObject(dev.rx_stop, kReceiveWaitMs);
            continue;
        }
        if (n <= 2) {
            continue;
        }
        corvane_msg_set(&dev.rx_msg, datagram, static_cast<size_t>(n));
        uint32_t response = (datagram[2] & 0x80) ? 1 : 0;
        uint16_t count = 0;
        if (response) {
            corvane_mdns_parse_responses(&dev.rx_msg, &dev.rx_records);
            count = dev.rx_records.total;
        } else {
            corvane_mdns_parse_queries(&dev.rx_msg, &dev.rx_questions);
            count = dev.rx_questions.count;
        }
        if (count == 0) {
            continue;
        }
        if (post_received(dev, response, count)) {
            continue;
        }
        ++dev.dropped;
        if (dev.dropped_log.due(GetTickCount())) {
            CORVANE_LOG("corvane_mdns_rx_task, device_id = %d, queue full, %u datagrams dropped", dev.device,
                        dev.dropped);
        }
    }
    dev.rx_running = false;
    return 0;
}

DWORD WINAPI tx_task(LPVOID parameter)
{
    mdns_device& dev = *static_cast<mdns_device*>(parameter);
    dev.tx_thread_id = GetCurrentThreadId();
    dev.tx_running = true;
    uint32_t batch = 0, seen = 0, content = 0, origin = 0;
    // The running flag, not the stop event, is read per message: under Wine every wait is a round
    // trip to the server, and a burst of records would pay one for each. Stopping clears the flag
    // and then sets the queue's event, which wakes a waiting get.
    while (dev.running) {
        corvane_queue_message message;
        uint16_t size = 0;
        uint8_t timed_out = 0;
        if (corvane_queue_get(dev.queue_id, &size, &message, &timed_out) != CORVANE_OK || timed_out) {
            continue;
        }
        if (message.batch_count != 0) {
            batch = message.batch_count;
            seen = 0;
            content = message.content;
            origin = message.origin;
            if (content == 1) {
                memset(&dev.tx_records, 0, sizeof(dev.tx_records.answers) * 4);
            } else {
                dev.tx_questions.count = 0;
            }
        } else if (batch == 0 || message.content != content) {
            continue;
        }
        const ring_slot& slot = g_ring[message.slot % kRingSlots];
        if (content == 1 && seen < CORVANE_RECORDS_MAX) {
            corvane_record& record = dev.tx_records.records[seen];
            record = slot.record;
            uint16_t* counts[3] = {&dev.tx_records.answers, &dev.tx_records.authority,
                                   &dev.tx_records.additional};
            ++*counts[record.section > 2 ? 2 : record.section];
        } else if (content == 0 && seen < CORVANE_QUESTIONS_MAX) {
            dev.tx_questions.questions[seen] = slot.question;
        }
        if (++seen < batch) {
            continue;
        }
        batch = 0;
        if (content == 1) {
            dev.tx_records.total =
                static_cast<uint16_t>(seen > CORVANE_RECORDS_MAX ? CORVANE_RECORDS_MAX : seen);
            if (origin == 0) {
                corvane_core_mdns_responses_eval(dev.device, &dev.tx_records);
            } else {
                send_records(dev, &dev.tx_records);
            }
        } else {
            dev.tx_questions.count =
                static_cast<uint16_t>(seen > CORVANE_QUESTIONS_MAX ? CORVANE_QUESTIONS_MAX : seen);
            if (origin == 0) {
                corvane_core_answer_queries(&dev.tx_questions, dev.device);
            } else {
                send_questions(dev, &dev.tx_questions);
            }
        }
    }
    dev.tx_running = false;
    return 0;
}

DWORD WINAPI core_thread(LPVOID parameter)
{
    uint8_t device = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(parameter));
    core_task& task = g_core_tasks[device];
    corvane_device_state* state = &corvane_device_states[device];
    task.running = true;
    DWORD next = GetTickCount() + 1000;
    for (;;) {
        DWORD time = GetTickCount();
        DWORD wait = static_cast<int32_t>(next - time) > 0 ? next - time : 0;
        if (WaitForSingleObject(task.stop, wait) == WAIT_OBJECT_0) {
            break;
        }
        next += 1000;
        if (static_cast<int32_t>(GetTickCount() - next) > 5000) {
            next = GetTickCount() + 1000; // the clock jumped: no burst of catching up
        }
        if (!state->initial_queries_sent) {
            corvane_core_do_initial_queries(state);
        } else {
            corvane_core_repeat_initial_queries(state);
        }
        if (device == 0) {
            corvane_core_refresh_nodes();
            corvane_core_check_remote_streams_table();
        }
    }
    task.running = false;
    return 0;
}

// Waits for a task to end; a task that does not end in time is left running and logged, and what
// it uses is then not freed.
bool join_thread(HANDLE& thread, const char* name, uint8_t device)
{
    if (thread == nullptr) {
        return true;
    }
    if (WaitForSingleObject(thread, kStopWaitMs) != WAIT_OBJECT_0) {
        CORVANE_LOG("%s, device_id = %d, the task did not end within %u ms", name, device,
                    static_cast<unsigned>(kStopWaitMs));
        return false;
    }
    CloseHandle(thread);
    thread = nullptr;
    return true;
}

void close_handle(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

} // namespace

corvane_env corvane_core_env = {platform_tick, env_enqueue_queries, env_enqueue_responses};

// --- queues -----------------------------------------------------------------------------------

corvane_status corvane_queue_create(uint32_t* id)
{
    ensure_init();
    EnterCriticalSection(&g_pool_lock);
    for (int i = 0; i < kQueues; ++i) {
        if (g_queues[i].event == nullptr) {
            g_queues[i].event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            if (g_queues[i].event == nullptr) {
                break;
            }
            g_queues[i].head = g_queues[i].tail = 0;
            *id = static_cast<uint32_t>(i + 1);
            LeaveCriticalSection(&g_pool_lock);
            return CORVANE_OK;
        }
    }
    LeaveCriticalSection(&g_pool_lock);
    return CORVANE_ERR_NO_QUEUE;
}

void corvane_queue_delete(uint32_t id)
{
    ensure_init();
    EnterCriticalSection(&g_pool_lock);
    if (queue* q = queue_of(id)) {
        CloseHandle(q->event);
        q->event = nullptr;
    }
    LeaveCriticalSection(&g_pool_lock);
}

corvane_status corvane_queue_put(uint32_t id, const corvane_queue_message* message)
{
    queue* q = queue_of(id);
    if (q == nullptr) {
        return CORVANE_ERR_QUEUE_ID;
    }
    EnterCriticalSection(&q->lock);
    uint16_t head = static_cast<uint16_t>((q->head + 1) % kQueueCapacity);
    if (head == q->tail) {
        LeaveCriticalSection(&q->lock);
        return CORVANE_ERR_QUEUE_FULL;
    }
    // The one reader looks at the queue under its lock before it waits, so the event is needed
    // only when the queue turns from empty to not empty: one signal per burst, not per message.
    bool was_empty = q->head == q->tail;
    q->items[q->head] = *message;
    q->head = head;
    LeaveCriticalSection(&q->lock);
    if (was_empty) {
        SetEvent(q->event);
    }
    return CORVANE_OK;
}

corvane_status corvane_queue_get(uint32_t id, uint16_t* size, corvane_queue_message* message,
                                 uint8_t* timed_out)
{
    queue* q = queue_of(id);
    *timed_out = 0;
    if (q == nullptr) {
        return CORVANE_ERR_QUEUE_ID;
    }
    EnterCriticalSection(&q->lock);
    if (q->head == q->tail) {
        LeaveCriticalSection(&q->lock);
        if (WaitForSingleObject(q->event, 1000) == WAIT_TIMEOUT) {
            *timed_out = 1;
            return CORVANE_OK;
        }
        EnterCriticalSection(&q->lock);
        if (q->head == q->tail) {
            LeaveCriticalSection(&q->lock);
            return CORVANE_ERR_QUEUE_EMPTY;
        }
    }
    *message = q->items[q->tail];
    *size = sizeof(corvane_queue_message);
    q->tail = static_cast<uint16_t>((q->tail + 1) % kQueueCapacity);
    LeaveCriticalSection(&q->lock);
    return CORVANE_OK;
}

corvane_status corvane_queue_fill_count(uint32_t id, uint16_t* count)
{
    queue* q = queue_of(id);
    if (q == nullptr) {
        return CORVANE_ERR_QUEUE_ID;
    }
    EnterCriticalSection(&q->lock);
    int fill = q->head - q->tail;
    LeaveCriticalSection(&q->lock);
    *count = static_cast<uint16_t>(fill < 0 ? fill + kQueueCapacity : fill);
    return CORVANE_OK;
}

// --- enqueueing -------------------------------------------------------------------------------

corvane_status corvane_mdns_enqueue_queries_list(const corvane_question_list* list)
{
    ensure_init();
    uint16_t count = list->count > CORVANE_QUESTIONS_MAX ? CORVANE_QUESTIONS_MAX : list->count;
    return enqueue_list(0, 0, "corvane_mdns_enqueue_queries_list", list->questions, nullptr, count);
}

corvane_status corvane_mdns_enqueue_responses_list(uint8_t device, const corvane_record_list* list)
{
    ensure_init();
    uint16_t count = list->total > CORVANE_RECORDS_MAX ? CORVANE_RECORDS_MAX : list->total;
    return enqueue_list(device, 1, "corvane_mdns_enqueue_responses_list", nullptr, list->records, count);
}

// --- interface and socket ---------------------------------------------------------------------

bool corvane_net_get_interface_address(uint32_t index, uint8_t address[4], char text[16])
{
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return false;
    }
    MIB_IPADDRTABLE* table = static_cast<MIB_IPADDRTABLE*>(HeapAlloc(GetProcessHeap(), 0, size));
    bool found = false;
    if (table != nullptr && GetIpAddrTable(table, &size, FALSE) == NO_ERROR) {
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            MIB_IFROW row = {};
            row.dwIndex = table->table[i].dwIndex;
            if (table->table[i].dwIndex != index || GetIfEntry(&row) != NO_ERROR) {
                continue;
            }
            memcpy(address, &table->table[i].dwAddr, 4);
            snprintf(text, 16, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
            found = true;
        }
    }
    if (table != nullptr) {
        HeapFree(GetProcessHeap(), 0, table);
    }
    return found;
}

static corvane_status open_socket(mdns_device& dev)
{
    if (!corvane_net_get_interface_address(corvane_device_config[dev.device].interface_index, dev.address,
                                           dev.address_text)) {
        return CORVANE_ERR_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return CORVANE_ERR_SOCKET;
    }
    BOOL reuse = TRUE;
    DWORD ttl = 5;
    int receive_buffer = kReceiveBuffer; // a burst of announcements from a large network
    in_addr interface_address;
    memcpy(&interface_address, dev.address, 4);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(5353);
    // Bound first, then joined: the order Windows documents for multicast receivers.
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse)) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&interface_address),
                   sizeof(interface_address)) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof(ttl)) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer),
                   sizeof(receive_buffer)) != 0) {
        closesocket(s);
        return CORVANE_ERR_SOCKET;
    }
    ip_mreq membership = {};
    membership.imr_multiaddr.s_addr = inet_addr("224.0.0.251");
    membership.imr_interface = interface_address;
    if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                   sizeof(membership)) != 0) {
        closesocket(s);
        return CORVANE_ERR_JOIN;
    }
    dev.joined = true;
    dev.socket = s;
    return CORVANE_OK;
}

static void close_socket(mdns_device& dev)
{
    if (dev.socket == INVALID_SOCKET) {
        return;
    }
    if (dev.joined) {
        ip_mreq membership = {};
        membership.imr_multiaddr.s_addr = inet_addr("224.0.0.251");
        memcpy(&membership.imr_interface, dev.address, 4);
        setsockopt(dev.socket, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                   sizeof(membership));
        dev.joined = false;
    }
    closesocket(dev.socket);
    dev.socket = INVALID_SOCKET;
}

// --- start and stop ---------------------------------------------------------------------------

corvane_status corvane_core_start()
{
    printf("Starting core service for device %d...\n", 0);
    ensure_init();
    core_task& task = g_core_tasks[0];
    if (corvane_device_states[0].started) {
        return CORVANE_ERR_ALREADY_STARTED;
    }
    if (task.thread != nullptr) {
        // The core thread of an earlier start did not end when it was stopped: a second one would
        // count the same rows down twice as fast.
        if (WaitForSingleObject(task.thread, 0) != WAIT_OBJECT_0) {
            CORVANE_LOG("corvane_core_start, device_id = %d, the core task of the last start still runs", 0);
            return CORVANE_ERR_ALREADY_STARTED;
        }
        close_handle(task.thread);
        close_handle(task.stop);
    }
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(computer);
    GetComputerNameA(computer, &size);
    uint8_t address[4] = {};
    char text[16] = {};
    bool has_address =
        corvane_net_get_interface_address(corvane_device_config[0].interface_index, address, text);
    corvane_status status = corvane_core_prepare(computer, address, has_address ? 1 : 0);
    if (status != CORVANE_OK) {
        return status;
    }
    task.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    task.thread = task.stop != nullptr ? CreateThread(nullptr, 0, core_thread, nullptr, 0, nullptr) : nullptr;
    if (task.thread == nullptr) {
        close_handle(task.stop);
        corvane_device_states[0].started = 0;
        return CORVANE_ERR_NO_QUEUE;
    }
    return CORVANE_OK;
}

corvane_status corvane_core_stop(uint8_t device)
{
    printf("Stopping core service for device %d...\n", device);
    if (device >= CORVANE_DEVICES) {
        return CORVANE_ERR_DEVICE;
    }
    core_task& task = g_core_tasks[device];
    if (!corvane_device_states[device].started && task.thread == nullptr) {
        return CORVANE_ERR_NOT_STARTED;
    }
    SetEvent(task.stop);
    if (join_thread(task.thread, "corvane_core_stop", device)) {
        close_handle(task.stop);
    }
    corvane_tables_lock();
    corvane_device_states[device].started = 0;
    corvane_tables_unlock();
    return CORVANE_OK;
}

static void release(mdns_device& dev);

corvane_status corvane_mdns_start()
{
    printf("Starting mDNS service for device %d...\n", 0);
    CORVANE_LOG("Starting mDNS service for device %d...", 0);
    ensure_init();
    mdns_device& dev = g_devices[0];
    if (dev.running || dev.rx_thread != nullptr || dev.tx_thread != nullptr) {
        return CORVANE_ERR_ALREADY_STARTED;
    }
    if (!g_wsa_started) {
        WSADATA data;
        g_wsa_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    dev.device = 0;
    dev.next_slot = 0;
    dev.dropped = 0;
    dev.dropped_log.logged = false;
    dev.receive_errors.logged = false;
    corvane_status status = open_socket(dev);
    if (status == CORVANE_OK) {
        status = corvane_queue_create(&dev.queue_id);
    }
    if (status == CORVANE_OK) {
        dev.rx_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (dev.rx_stop == nullptr) {
            status = CORVANE_ERR_NO_QUEUE;
        }
    }
    if (status == CORVANE_OK) {
        dev.running = true;
        dev.rx_thread = CreateThread(nullptr, 0, rx_task, &dev, 0, nullptr);
        dev.tx_thread = CreateThread(nullptr, 0, tx_task, &dev, 0, nullptr);
        if (dev.rx_thread == nullptr || dev.tx_thread == nullptr) {
            status = CORVANE_ERR_NO_QUEUE;
        }
    }
    if (status != CORVANE_OK) {
        release(dev); // a failed start leaves nothing behind
    }
    return status;
}

// Stops the tasks (bounded wait) and frees what they used once both have ended.
static void release(mdns_device& dev)
{
    EnterCriticalSection(&g_ring_lock); // from here on every enqueue gives 13
    dev.running = false;
    LeaveCriticalSection(&g_ring_lock);
    if (dev.rx_stop != nullptr) {
        SetEvent(dev.rx_stop);
    }
    if (queue* q = queue_of(dev.queue_id)) {
        SetEvent(q->event);
    }
    bool rx_ended = join_thread(dev.rx_thread, "corvane_mdns_stop", dev.device);
    bool tx_ended = join_thread(dev.tx_thread, "corvane_mdns_stop", dev.device);
    if (!rx_ended || !tx_ended) {
        return; // what the tasks use stays allocated
    }
    dev.tx_thread_id = 0;
    close_handle(dev.rx_stop);
    if (dev.queue_id != 0) {
        corvane_queue_delete(dev.queue_id);
        dev.queue_id = 0;
    }
    close_socket(dev);
}

corvane_status corvane_mdns_stop(uint8_t device)
{
    printf("Stopping mDNS service for device %d...\n", device);
    CORVANE_LOG("Stopping mDNS service for device %d...", device);
    ensure_init();
    if (device >= CORVANE_DEVICES) {
        return CORVANE_ERR_DEVICE;
    }
    mdns_device& dev = g_devices[device];
    if (!dev.running && dev.rx_thread == nullptr && dev.tx_thread == nullptr) {
        return CORVANE_ERR_NOT_STARTED;
    }
    release(dev);
    return CORVANE_OK;
}

uint32_t corvane_mdns_dropped_datagrams(uint8_t device)
{
    return device < CORVANE_DEVICES ? g_devices[device].dropped : 0;
}
