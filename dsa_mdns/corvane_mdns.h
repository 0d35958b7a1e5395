// The DSA multicast-DNS engine: a small responder and browser for Corvane and Zint sessions.
//
// What it offers: start and stop (`corvane_core_*`, `corvane_mdns_*`), registration of local streams,
// the device configuration the caller fills before starting, and the tables of remote streams and
// nodes the caller reads. It never calls back: its only ways out are `corvane_log_hook` and these
// tables. Threads: the API runs on the caller's thread; the engine runs a core task (countdowns,
// once a second), a receive task and a send task (which also evaluates and answers). Every row of
// the tables is written under the engine table lock; a reader on another thread takes the same lock
// (`corvane_tables_lock`/`corvane_tables_unlock`) to read rows whole. Names are 8-bit texts of at
// most 47 bytes (longer ones are cut, registered names on a UTF-8 character boundary). Nothing here
// includes windows.h.
#pragma once

#include "dsa_mdns/corvane_codec.h"

#define CORVANE_DEVICES 2
#define CORVANE_LOCAL_SERVICES 64
#define CORVANE_REMOTE_STREAMS 5000
#define CORVANE_REMOTE_NODES 200
#define CORVANE_TEXT_SIZE 48

constexpr uint8_t CORVANE_FLAG_UNRESOLVED = 0x01;
constexpr uint8_t CORVANE_FLAG_CHANGED = 0x02;
constexpr uint8_t CORVANE_FLAG_EXPIRED = 0x04;
constexpr uint8_t CORVANE_FLAG_GOODBYE = 0x08;

struct corvane_device_config_row
{
    uint8_t active;
    uint16_t interface_index;
    char name1[CORVANE_TEXT_SIZE];
    uint16_t port1;
    char name2[CORVANE_TEXT_SIZE];
    uint16_t port2;
};

struct corvane_local_service
{
    char name[CORVANE_TEXT_SIZE];
    uint32_t hash;
    uint16_t port;
    uint32_t kind;
};

struct corvane_remote_stream
{
    char name[CORVANE_TEXT_SIZE];
    uint32_t hash;
    uint8_t node;
    uint16_t port;
    int16_t countdown;
    uint8_t flags;
    uint32_t changed_at;
    uint8_t device; // device number + 1
    uint8_t kind;
};

struct corvane_remote_node
{
    char name[CORVANE_TEXT_SIZE];
    uint32_t hash;
    uint8_t address[4]; // network order
    uint8_t no_address;
    int16_t countdown;
    uint8_t flags;
    uint32_t changed_at;
};

struct corvane_device_state
{
    uint8_t device;
    uint8_t started;
    uint8_t initial_queries_sent;
    char host_label[CORVANE_TEXT_SIZE];
    uint8_t address[4]; // network order
    uint8_t has_address;
};

struct corvane_register_parameters
{
    uint16_t port;
    uint32_t kind;
};

// Lets a repeated log line through at most once per interval, the first one at once.
struct corvane_log_gate
{
    uint32_t interval_ms;
    bool logged;
    uint32_t logged_at;

    bool due(uint32_t time)
    {
        if (logged && time - logged_at < interval_ms) {
            return false;
        }
        logged = true;
        logged_at = time;
        return true;
    }
};

typedef void (*corvane_log_fn)(const char* format, ...);
extern corvane_log_fn corvane_log_hook;

extern corvane_device_config_row corvane_device_config[CORVANE_DEVICES];
extern corvane_local_service corvane_local_services[CORVANE_DEVICES][CORVANE_LOCAL_SERVICES];
// Row n of the remote tables (1-based) is element n - 1.
extern corvane_remote_stream corvane_remote_streams[CORVANE_REMOTE_STREAMS];
extern corvane_remote_node corvane_remote_nodes[CORVANE_REMOTE_NODES];
extern corvane_device_state corvane_device_states[CORVANE_DEVICES];

void corvane_tables_lock();
void corvane_tables_unlock();
bool corvane_tables_try_lock();

// What the service logic needs of the world: the time, and the way out for lists to send. The
// transport fills it at start; tests put their own in.
struct corvane_env
{
    uint32_t (*tick_ms)();
    corvane_status (*enqueue_queries)(const corvane_question_list* list);
    corvane_status (*enqueue_responses)(uint8_t device, const corvane_record_list* list);
};
extern corvane_env corvane_core_env;

uint32_t corvane_name_hash(const char* name, size_t max_length);
// The length a registered name is kept at: at most CORVANE_NAME_MAX bytes, never ending inside a
// UTF-8 character (a longer name is cut before the character that does not fit whole).
size_t corvane_name_cut_length(const char* name);

corvane_status corvane_core_init();
corvane_status corvane_core_start();
corvane_status corvane_core_stop(uint8_t device);
corvane_status corvane_mdns_start();
corvane_status corvane_mdns_stop(uint8_t device);
corvane_status corvane_core_register_stream(uint8_t device, const char* name,
                                            const corvane_register_parameters* parameters, uint8_t* handle);
corvane_status corvane_core_unregister_stream(uint8_t device, uint8_t handle);

corvane_status corvane_core_find_local_service(uint8_t device, const char* name, uint8_t* handle);
corvane_status corvane_core_next_local_service(uint8_t device, uint8_t* position,
                                               corvane_local_service** slot, const char** name);
corvane_status corvane_core_find_remote_node(const char* name, uint16_t* found, uint16_t* free_row);
corvane_status corvane_core_find_remote_stream(const char* name, uint16_t* further, uint16_t* found,
                                               uint16_t* free_row);
corvane_status corvane_core_find_remote_stream_of_node(uint8_t node, const char* name, uint16_t* found,
                                                       uint16_t* free_row);

// What the discovery side reports in red, each at most once a minute: streams whose host found no
// room in the full node table (0: no line due), and instances not taken since the last report
// because their name, cut to CORVANE_NAME_MAX bytes, is another found stream's (0: no line due;
// `refused_name` is the last one's cut name).
struct corvane_room_report
{
    uint32_t streams_waiting;
    uint32_t names_refused;
    char refused_name[CORVANE_TEXT_SIZE];
};
void corvane_core_take_room_report(corvane_room_report* report);

// Service logic (the core and send tasks call these; tests call them directly).
void corvane_core_do_initial_queries(corvane_device_state* state);
// Once the initial questions went out: asks them again 1, 2, 4 ... s later, at most an hour apart,
// so a sender whose announcements were lost is found; the local answer is not repeated.
void corvane_core_repeat_initial_queries(corvane_device_state* state);
void corvane_core_refresh_nodes();
void corvane_core_check_remote_streams_table();
void corvane_core_build_service_records(uint8_t device, uint8_t handle, uint32_t ttl, uint32_t txt_ttl,
                                        corvane_record_list* list);
corvane_status corvane_core_answer_queries(const corvane_question_list* list, uint8_t device);
corvane_status corvane_core_mdns_responses_eval(uint8_t device, const corvane_record_list* list);
void corvane_core_add_srv_query(corvane_question_list* list, uint16_t position,
                                const corvane_remote_stream* row);

// Core state set-up without threads (the transport's start uses it; tests use it to drive the
// logic with an injected environment). `host` is the computer name, `address` network order.
corvane_status corvane_core_prepare(const char* computer_name, const uint8_t address[4], uint8_t has_address);
void corvane_core_reset_for_test();
