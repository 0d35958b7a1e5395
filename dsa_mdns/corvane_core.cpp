// Tables, lookups and the service logic of the engine: announcing, answering, evaluating received
// records and counting remote rows down. No windows.h: time and the way out come from
// corvane_core_env.
#include "dsa_mdns/corvane_log.h"
#include "dsa_mdns/corvane_mdns.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

corvane_log_fn corvane_log_hook = nullptr;
corvane_device_config_row corvane_device_config[CORVANE_DEVICES];
corvane_local_service corvane_local_services[CORVANE_DEVICES][CORVANE_LOCAL_SERVICES];
corvane_remote_stream corvane_remote_streams[CORVANE_REMOTE_STREAMS];
corvane_remote_node corvane_remote_nodes[CORVANE_REMOTE_NODES];
corvane_device_state corvane_device_states[CORVANE_DEVICES];

namespace {

std::mutex g_tables;
bool g_initialised = false;

const int16_t kStreamTtl = 300;
const int16_t kNodeTtl = 600;
// Longest gap between two questions for one unresolved row, and between two repeats of the initial
// questions (RFC 6762 section 5.2), in seconds.
const uint16_t kRowAskMax = 60;
// At most this many such questions a second (streams, nodes); a row past the budget is asked the
// next second. Refresh questions of live rows are not counted.
const uint32_t kStreamAskBudget = 80;
const uint32_t kNodeAskBudget = 20;
// A full stream table gives the row of a new instance the place of a row unanswered this long.
const int16_t kStreamReplaceAfter = 10;
const uint16_t kInitialAskMax = 3600;
// A goodbye (TTL 0) takes effect this long after it arrived (RFC 6762 section 10.1).
const uint32_t kGoodbyeMs = 1000;
// The same record is multicast at most this often per device (RFC 6762 section 6).
const uint32_t kRecordIntervalMs = 1000;
const uint32_t kWaitingLogMs = 60000;

// Repeated questions at growing intervals: due at once, then 1, 2, 4 ... s apart up to a maximum.
// A zeroed state is a fresh start.
struct ask_backoff
{
    uint16_t wait;
    uint16_t interval;

    // Due at the next call (its wait is over).
    bool ready() const { return wait <= 1; }

    bool due(uint16_t max)
    {
        if (wait > 1) {
            --wait;
            return false;
        }
        wait = interval == 0 ? 1 : interval;
        interval = static_cast<uint16_t>(wait * 2 > max ? max : wait * 2);
        return true;
    }
};

// Engine-private state beside the table rows (same index; written under the table lock).
ask_backoff g_stream_asks[CORVANE_REMOTE_STREAMS];
ask_backoff g_node_asks[CORVANE_REMOTE_NODES];
uint32_t g_goodbye_at[CORVANE_REMOTE_STREAMS];
ask_backoff g_initial_asks[CORVANE_DEVICES];
uint32_t g_waiting_nodes = 0;
int g_stream_cursor = 0, g_node_cursor = 0;
corvane_log_gate g_waiting_log = {kWaitingLogMs, false, 0};
// The hash of the whole received instance label of a row whose name was cut, 0 for a name kept whole.
uint32_t g_stream_whole[CORVANE_REMOTE_STREAMS];
// A sender that moved to a host whose address is not known yet: the node row (1-based) and port it
// moves to once that host's A record arrives; the row keeps its old place meanwhile.
uint8_t g_move_node[CORVANE_REMOTE_STREAMS];
uint16_t g_move_port[CORVANE_REMOTE_STREAMS];
uint32_t g_moves_waiting = 0;
// Set when the row's SRV named a host for which the full node table had no room.
uint8_t g_no_room[CORVANE_REMOTE_STREAMS];
// Instances not taken because their cut name is another row's, since the last report.
uint32_t g_refused = 0;
char g_refused_name[CORVANE_TEXT_SIZE];
corvane_log_gate g_no_room_report = {kWaitingLogMs, false, 0};
corvane_log_gate g_refused_report = {kWaitingLogMs, false, 0};

// When each record was last multicast as an answer, per device, keyed by record_key.
struct answer_log
{
    std::mutex lock;
    std::map<std::string, uint32_t> sent;
};
answer_log g_answer_logs[CORVANE_DEVICES];

// Log lines collected while the table lock is held and written once it is released.
struct pending_lines
{
    struct line
    {
        const char* format;
        int device;
        char name[CORVANE_TEXT_SIZE];
    };
    std::vector<line> lines;

    void add(const char* format, int device, const char* name)
    {
        line l;
        l.format = format;
        l.device = device;
        size_t n = strnlen(name, CORVANE_NAME_MAX);
        memcpy(l.name, name, n);
        l.name[n] = '\0';
        lines.push_back(l);
    }

    // A device below 0: the format takes the name alone.
    void write() const
    {
        for (const line& l : lines) {
            if (l.device < 0) {
                CORVANE_LOG(l.format, l.name);
            } else {
                CORVANE_LOG(l.format, l.device, l.name);
            }
        }
    }
};

struct tables_guard
{
    tables_guard() { g_tables.lock(); }
    ~tables_guard() { g_tables.unlock(); }
};

void copy_name(char (&to)[CORVANE_TEXT_SIZE], const char* from)
{
    size_t n = strnlen(from, CORVANE_NAME_MAX);
    memcpy(to, from, n);
    to[n] = '\0';
}

// A local name as the tables keep it: cut to CORVANE_NAME_MAX bytes on a UTF-8 character boundary.
void copy_local_name(char (&to)[CORVANE_TEXT_SIZE], const char* from)
{
    size_t n = corvane_name_cut_length(from);
    memcpy(to, from, n);
    to[n] = '\0';
}

bool same_name(const char* row, uint32_t row_hash, const char* name, uint32_t hash)
{
    return row_hash == hash && strncmp(row, name, CORVANE_NAME_MAX) == 0;
}

uint32_t now()
{
    return corvane_core_env.tick_ms != nullptr ? corvane_core_env.tick_ms() : 0;
}

void name_of(const corvane_name_ref& ref, char (&out)[CORVANE_TEXT_SIZE])
{
    size_t n = ref.length > CORVANE_NAME_MAX ? CORVANE_NAME_MAX : ref.length;
    memcpy(out, ref.text, n);
    out[n] = '\0';
}

corvane_record& add_record(corvane_record_list* list, uint32_t section, uint32_t type, uint32_t kind,
                           const char* label, uint32_t ttl)
{
    corvane_record& record = list->records[list->total++];
    memset(&record, 0, sizeof(record));
    record.section = section;
    record.type = type;
    corvane_name_set(&record.name, kind, label);
    record.cache_flush = type == CORVANE_TYPE_PTR ? 0 : 1;
    record.ttl = ttl;
    if (section == CORVANE_SECTION_ANSWER) {
        ++list->answers;
    } else if (section == CORVANE_SECTION_AUTHORITY) {
        ++list->authority;
    } else {
        ++list->additional;
    }
    return record;
}

void add_a(corvane_record_list* list, uint32_t section, const corvane_device_state& state, const char* host)
{
    corvane_record& a = add_record(list, section, CORVANE_TYPE_A, CORVANE_KIND_HOST, host, 120);
    memcpy(a.rdata.a, state.address, 4);
}

void add_srv(corvane_record_list* list, uint32_t section, const corvane_name_ref& owner, uint16_t port,
             const char* target, uint32_t ttl)
{
    corvane_record& srv = add_record(list, section, CORVANE_TYPE_SRV, owner.kind, nullptr, ttl);
    srv.name = owner;
    srv.rdata.srv.port = port;
    corvane_name_set(&srv.rdata.srv.target, CORVANE_KIND_HOST, target);
}

// Lookups below run with the table lock held by their caller.
int find_node(const char* name, uint32_t hash, uint16_t* free_row)
{
    int found = -1;
    *free_row = 0;
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        const corvane_remote_node& row = corvane_remote_nodes[i];
        if (row.hash == 0) {
            if (*free_row == 0) {
                *free_row = static_cast<uint16_t>(i + 1);
            }
        } else if (found < 0 && same_name(row.name, row.hash, name, hash)) {
            found = i;
        }
    }
    return found;
}

// The row of the instance whose (cut) name and whole-label hash are these. `namesake`, when given,
// gets a row of the same name that belongs to another instance (its whole label differs), or -1.
int find_stream(const char* name, uint32_t hash, uint32_t whole, uint16_t* further, uint16_t* free_row,
                int* namesake = nullptr)
{
    int found = -1;
    *further = 0;
    *free_row = 0;
    if (namesake != nullptr) {
        *namesake = -1;
    }
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        const corvane_remote_stream& row = corvane_remote_streams[i];
        if (row.hash == 0) {
            if (*free_row == 0) {
                *free_row = static_cast<uint16_t>(i + 1);
            }
        } else if (same_name(row.name, row.hash, name, hash)) {
            if (g_stream_whole[i] != whole) {
                if (namesake != nullptr && *namesake < 0) {
                    *namesake = i;
                }
            } else if (found < 0) {
                found = i;
            } else {
                ++*further;
            }
        }
    }
    return found;
}

int find_stream_of_node(uint8_t node, const char* name, uint32_t hash)
{
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        corvane_remote_stream& row = corvane_remote_streams[i];
        if (row.hash != 0 && (row.node == node || row.node == 0) &&
            same_name(row.name, row.hash, name, hash)) {
            row.node = node;
            return i;
        }
    }
    return -1;
}

// Refresh questions are sent in lists of 8; the lists are collected under the table lock and
// enqueued after it is released.
struct refresh_lists
{
    std::vector<corvane_question_list> full;
    corvane_question_list open{};

    void add(uint32_t kind, const char* label, uint32_t type)
    {
        corvane_question& q = open.questions[open.count++];
        memset(&q, 0, sizeof(q));
        corvane_name_set(&q.name, kind, label);
        q.type = type;
        if (open.count == CORVANE_QUESTIONS_MAX) {
            full.push_back(open);
            open.count = 0;
        }
    }

    void send()
    {
        if (open.count != 0) {
            full.push_back(open);
        }
        for (const corvane_question_list& list : full) {
            if (corvane_core_env.enqueue_queries != nullptr) {
                corvane_core_env.enqueue_queries(&list);
            }
        }
    }
};

corvane_status check_device(uint8_t device)
{
    if (device >= CORVANE_DEVICES) {
        return CORVANE_ERR_DEVICE;
    }
    return corvane_device_states[device].started ? CORVANE_OK : CORVANE_ERR_NOT_STARTED;
}

corvane_status enqueue_responses(uint8_t device, const corvane_record_list* list)
{
    if (corvane_core_env.enqueue_responses == nullptr) {
        return CORVANE_ERR_NOT_STARTED;
    }
    return corvane_core_env.enqueue_responses(device, list);
}

void append_name(std::string& key, const corvane_name_ref& name)
{
    key += static_cast<char>(name.kind);
    for (uint8_t i = 0; i < name.length && i < sizeof(name.text); ++i) {
        char c = name.text[i];
        key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    key += '\0';
}

// What makes two records the same record: name, type and data (section, TTL and cache flush aside).
std::string record_key(const corvane_record& record)
{
    std::string key;
    key += static_cast<char>(record.type >> 8);
    key += static_cast<char>(record.type);
    append_name(key, record.name);
    if (record.type == CORVANE_TYPE_A) {
        key.append(reinterpret_cast<const char*>(record.rdata.a), 4);
    } else if (record.type == CORVANE_TYPE_PTR) {
        append_name(key, record.rdata.ptr);
    } else if (record.type == CORVANE_TYPE_SRV) {
        key += static_cast<char>(record.rdata.srv.port >> 8);
        key += static_cast<char>(record.rdata.srv.port);
        append_name(key, record.rdata.srv.target);
    }
    return key;
}

// The answers of one call to corvane_core_answer_queries: records multicast by an earlier call
// within the last second are left out (not delayed); what is sent is noted when the call ends, so
// one answer keeps every record it is built from.
class answer_limiter
{
public:
    answer_limiter(uint8_t device, uint32_t time) : log_(g_answer_logs[device]), time_(time) {}

    ~answer_limiter()
    {
        std::lock_guard<std::mutex> guard(log_.lock);
        if (log_.sent.size() > 4096) {
            for (auto it = log_.sent.begin(); it != log_.sent.end();) {
                it = time_ - it->second >= kRecordIntervalMs ? log_.sent.erase(it) : std::next(it);
            }
        }
        for (std::string& key : sent_) {
            log_.sent[key] = time_;
        }
    }

    // Drops the records sent too recently and recounts the sections; false when none is left.
    bool filter(corvane_record_list* list)
    {
        std::lock_guard<std::mutex> guard(log_.lock);
        uint16_t kept = 0;
        uint16_t counts[3] = {};
        for (uint16_t i = 0; i < list->total; ++i) {
            std::string key = record_key(list->records[i]);
            auto it = log_.sent.find(key);
            if (it != log_.sent.end() && time_ - it->second < kRecordIntervalMs) {
                continue;
            }
            pending_.push_back(std::move(key));
            ++counts[list->records[i].section > 2 ? 2 : list->records[i].section];
            if (kept != i) {
                list->records[kept] = list->records[i];
            }
            ++kept;
        }
        list->total = kept;
        list->answers = counts[0];
        list->authority = counts[1];
        list->additional = counts[2];
        return kept != 0;
    }

    // The records of the last filtered list went out.
    void confirm()
    {
        for (std::string& key : pending_) {
            sent_.push_back(std::move(key));
        }
        pending_.clear();
    }

private:
    answer_log& log_;
    uint32_t time_;
    std::vector<std::string> sent_, pending_;
};

// The engine-private state of the remote rows, and what was logged and answered (table lock held).
void reset_private_state()
{
    memset(g_stream_asks, 0, sizeof(g_stream_asks));
    memset(g_node_asks, 0, sizeof(g_node_asks));
    memset(g_goodbye_at, 0, sizeof(g_goodbye_at));
    memset(g_initial_asks, 0, sizeof(g_initial_asks));
    g_waiting_nodes = 0;
    g_stream_cursor = g_node_cursor = 0;
    g_waiting_log.logged = false;
    memset(g_stream_whole, 0, sizeof(g_stream_whole));
    memset(g_move_node, 0, sizeof(g_move_node));
    memset(g_move_port, 0, sizeof(g_move_port));
    g_moves_waiting = 0;
    memset(g_no_room, 0, sizeof(g_no_room));
    g_refused = 0;
    g_refused_name[0] = '\0';
    g_no_room_report.logged = g_refused_report.logged = false;
    for (answer_log& log : g_answer_logs) {
        std::lock_guard<std::mutex> guard(log.lock);
        log.sent.clear();
    }
}

} // namespace

void corvane_tables_lock()
{
    g_tables.lock();
}

void corvane_tables_unlock()
{
    g_tables.unlock();
}

bool corvane_tables_try_lock()
{
    return g_tables.try_lock();
}

uint32_t corvane_name_hash(const char* name, size_t max_length)
{
    uint32_t a = 63689, b = 378551, h = 0;
    if (name == nullptr || max_length == 0 || name[0] == '\0') {
        return 0;
    }
    for (size_t i = 0; i < max_length && name[i] != '\0'; ++i) {
        h = h * a + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(name[i])));
        a *= b;
    }
    return h == 0 ? 0xFFFFFFFFu : h;
}

size_t corvane_name_cut_length(const char* name)
{
    // The bytes past the cut that a character cut there can still hold are looked at too.
    return corvane_utf8_cut_length(name, strnlen(name, CORVANE_NAME_MAX + 4), CORVANE_NAME_MAX);
}

corvane_status corvane_core_init()
{
    if (g_initialised) {
        return CORVANE_OK;
    }
    printf("Initializing core system...\n");
    tables_guard guard;
    memset(corvane_remote_streams, 0, sizeof(corvane_remote_streams));
    memset(corvane_remote_nodes, 0, sizeof(corvane_remote_nodes));
    memset(corvane_device_config, 0, sizeof(corvane_device_config));
    reset_private_state();
    g_initialised = true;
    return CORVANE_OK;
}

corvane_status corvane_core_prepare(const char* computer_name, const uint8_t address[4], uint8_t has_address)
{
    if (!g_initialised) {
        return CORVANE_ERR_NOT_INITIALISED;
    }
    tables_guard guard;
    corvane_device_state& state = corvane_device_states[0];
    if (state.started) {
        return CORVANE_ERR_ALREADY_STARTED;
    }
    memset(&state, 0, sizeof(state));
    memset(corvane_local_services[0], 0, sizeof(corvane_local_services[0]));
    g_initial_asks[0] = {};
    {
        std::lock_guard<std::mutex> answers(g_answer_logs[0].lock);
        g_answer_logs[0].sent.clear();
    }
    char computer[CORVANE_TEXT_SIZE];
    copy_name(computer, computer_name);
    snprintf(state.host_label, sizeof(state.host_label), "%s_%d", computer, 1);
    memcpy(state.address, address, 4);
    state.has_address = has_address;
    state.started = 1;
    return CORVANE_OK;
}

void corvane_core_reset_for_test()
{
    tables_guard guard;
    memset(corvane_remote_streams, 0, sizeof(corvane_remote_streams));
    memset(corvane_remote_nodes, 0, sizeof(corvane_remote_nodes));
    memset(corvane_device_config, 0, sizeof(corvane_device_config));
    memset(corvane_local_services, 0, sizeof(corvane_local_services));
    memset(corvane_device_states, 0, sizeof(corvane_device_states));
    reset_private_state();
}

// --- registry ---------------------------------------------------------------------------------

corvane_status corvane_core_register_stream(uint8_t device, const char* name,
                                            const corvane_register_parameters* parameters, uint8_t* handle)
{
    corvane_status status = check_device(device);
    if (status != CORVANE_OK) {
        return status;
    }
    if (name == nullptr || name[0] == '\0') {
        return CORVANE_ERR_EMPTY_NAME;
    }
    char local[CORVANE_TEXT_SIZE];
    copy_local_name(local, name);
    name = local;
    uint32_t hash = corvane_name_hash(name, CORVANE_NAME_MAX);
    uint8_t slot_handle = 0;
    {
        tables_guard guard;
        int free_slot = -1;
        for (int i = 0; i < CORVANE_LOCAL_SERVICES; ++i) {
            corvane_local_service& slot = corvane_local_services[device][i];
            if (slot.hash == 0) {
                if (free_slot < 0) {
                    free_slot = i;
                }
            } else if (same_name(slot.name, slot.hash, name, hash)) {
                return CORVANE_ERR_NAME_TAKEN;
            }
        }
        if (free_slot < 0) {
            return CORVANE_ERR_SERVICES_FULL;
        }
        corvane_local_service& slot = corvane_local_services[device][free_slot];
        copy_local_name(slot.name, name);
        slot.hash = hash;
        slot.port = parameters != nullptr ? parameters->port : 8083;
        slot.kind = parameters != nullptr ? parameters->kind : CORVANE_KIND_CORVANE;
        slot_handle = static_cast<uint8_t>(free_slot + 1);
    }
    if (handle != nullptr) {
        *handle = slot_handle;
    }
    corvane_record_list list{};
    corvane_core_build_service_records(device, slot_handle, 300, 600, &list);
    return enqueue_responses(device, &list);
}

corvane_status corvane_core_unregister_stream(uint8_t device, uint8_t handle)
{
    corvane_status status = check_device(device);
    if (status != CORVANE_OK) {
        return status;
    }
    if (handle < 1 || handle > CORVANE_LOCAL_SERVICES) {
        return CORVANE_ERR_HANDLE;
    }
    corvane_record_list list{};
    {
        tables_guard guard;
        if (corvane_local_services[device][handle - 1].hash == 0) {
            return CORVANE_ERR_NO_SERVICE;
        }
    }
    corvane_core_build_service_records(device, handle, 0, 0, &list);
    {
        tables_guard guard;
        memset(&corvane_local_services[device][handle - 1], 0, sizeof(corvane_local_service));
    }
    return enqueue_responses(device, &list);
}

corvane_status corvane_core_find_local_service(uint8_t device, const char* name, uint8_t* handle)
{
    *handle = 0;
    corvane_status status = check_device(device);
    if (status != CORVANE_OK) {
        return status;
    }
    char local[CORVANE_TEXT_SIZE];
    copy_local_name(local, name);
    name = local;
    uint32_t hash = corvane_name_hash(name, CORVANE_NAME_MAX);
    tables_guard guard;
    for (int i = 0; i < CORVANE_LOCAL_SERVICES; ++i) {
        const corvane_local_service& slot = corvane_local_services[device][i];
        if (slot.hash != 0 && same_name(slot.name, slot.hash, name, hash)) {
            *handle = static_cast<uint8_t>(i + 1);
            return CORVANE_OK;
        }
    }
    return CORVANE_ERR_NO_SERVICE;
}

corvane_status corvane_core_next_local_service(uint8_t device, uint8_t* position,
                                               corvane_local_service** slot, const char** name)
{
    if (device >= CORVANE_DEVICES) {
        return CORVANE_ERR_DEVICE;
    }
    for (int i = *position; i < CORVANE_LOCAL_SERVICES; ++i) {
        if (corvane_local_services[device][i].hash != 0) {
            *position = static_cast<uint8_t>(i + 1);
            *slot = &corvane_local_services[device][i];
            *name = corvane_local_services[device][i].name;
            return CORVANE_OK;
        }
    }
    *position = 0;
    return CORVANE_ERR_NO_SERVICE;
}

corvane_status corvane_core_find_remote_node(const char* name, uint16_t* found, uint16_t* free_row)
{
    *found = *free_row = 0;
    if (!g_initialised) {
        return CORVANE_ERR_NOT_INITIALISED;
    }
    tables_guard guard;
    int row = find_node(name, corvane_name_hash(name, CORVANE_NAME_MAX), free_row);
    *found = static_cast<uint16_t>(row + 1);
    return row >= 0 ? CORVANE_OK : CORVANE_ERR_NO_NODE;
}

corvane_status corvane_core_find_remote_stream(const char* name, uint16_t* further, uint16_t* found,
                                               uint16_t* free_row)
{
    *further = *found = *free_row = 0;
    if (!g_initialised) {
        return CORVANE_ERR_NOT_INITIALISED;
    }
    tables_guard guard;
    int row = find_stream(name, corvane_name_hash(name, CORVANE_NAME_MAX), 0, further, free_row);
    *found = static_cast<uint16_t>(row + 1);
    return row >= 0 ? CORVANE_OK : CORVANE_ERR_NO_STREAM;
}

corvane_status corvane_core_find_remote_stream_of_node(uint8_t node, const char* name, uint16_t* found,
                                                       uint16_t* free_row)
{
    *found = *free_row = 0;
    if (!g_initialised) {
        return CORVANE_ERR_NOT_INITIALISED;
    }
    tables_guard guard;
    uint16_t further = 0;
    find_stream(name, 0, 0, &further, free_row);
    int row = find_stream_of_node(node, name, corvane_name_hash(name, CORVANE_NAME_MAX));
    *found = static_cast<uint16_t>(row + 1);
    return row >= 0 ? CORVANE_OK : CORVANE_ERR_NO_NODE;
}

// --- announcing and answering -----------------------------------------------------------------

void corvane_core_build_service_records(uint8_t device, uint8_t handle, uint32_t ttl, uint32_t txt_ttl,
                                        corvane_record_list* list)
{
    if (device >= CORVANE_DEVICES || handle < 1 || handle > CORVANE_LOCAL_SERVICES ||
        list->total + 4 > CORVANE_RECORDS_MAX) {
        return;
    }
    corvane_local_service slot;
    corvane_device_state state;
    {
        tables_guard guard;
        slot = corvane_local_services[device][handle - 1];
        state = corvane_device_states[device];
    }
    if (slot.hash == 0) {
        return;
    }
    corvane_record& ptr = add_record(list, CORVANE_SECTION_ANSWER, CORVANE_TYPE_PTR, slot.kind, nullptr, ttl);
    corvane_name_set(&ptr.rdata.ptr, CORVANE_KIND_INSTANCE, slot.name);
    add_srv(list, CORVANE_SECTION_ADDITIONAL, ptr.rdata.ptr, slot.port, state.host_label, ttl);
    if (ttl != 0) {
        corvane_record& txt = add_record(list, CORVANE_SECTION_ADDITIONAL, CORVANE_TYPE_TXT,
                                         CORVANE_KIND_INSTANCE, slot.name, txt_ttl);
        (void)txt;
        add_a(list, CORVANE_SECTION_ADDITIONAL, state, state.host_label);
    }
}

corvane_status corvane_core_answer_queries(const corvane_question_list* questions, uint8_t device)
{
    corvane_status status = check_device(device);
    if (status != CORVANE_OK) {
        return status;
    }
    corvane_local_service slots[CORVANE_LOCAL_SERVICES];
    corvane_device_state state;
    corvane_device_config_row config;
    {
        tables_guard guard;
        memcpy(slots, corvane_local_services[device], sizeof(slots));
        state = corvane_device_states[device];
        config = corvane_device_config[device];
    }
    corvane_record_list list{};
    answer_limiter limiter(device, now());
    auto send = [&] {
        if (limiter.filter(&list)) {
            status = enqueue_responses(device, &list);
            if (status == CORVANE_OK) {
                limiter.confirm();
            }
        }
        memset(&list, 0, sizeof(list.answers) * 4);
    };
    // Room is made before each record: a list that is full is sent and a new one begun.
    auto room = [&](int needed) {
        if (status == CORVANE_OK && list.total + needed > CORVANE_RECORDS_MAX) {
            send();
        }
        return status == CORVANE_OK;
    };
    uint16_t count = questions->count > CORVANE_QUESTIONS_MAX ? CORVANE_QUESTIONS_MAX : questions->count;
    for (uint16_t q = 0; q < count && status == CORVANE_OK; ++q) {
        const corvane_question& question = questions->questions[q];
        const corvane_name_ref& name = question.name;
        switch (name.kind) {
        case CORVANE_KIND_SERVICES:
            if (room(1)) {
                corvane_record& r =
                    add_record(&list, CORVANE_SECTION_ANSWER, CORVANE_TYPE_PTR, name.kind, nullptr, 4500);
                corvane_name_set(&r.rdata.ptr, CORVANE_KIND_RTSP, nullptr);
            }
            if (config.port2 != 0 && room(1)) {
                corvane_record& r =
                    add_record(&list, CORVANE_SECTION_ANSWER, CORVANE_TYPE_PTR, name.kind, nullptr, 4500);
                corvane_name_set(&r.rdata.ptr, CORVANE_KIND_QUILL, nullptr);
            }
            break;
        case CORVANE_KIND_ZINT:
        case CORVANE_KIND_CORVANE:
            for (const corvane_local_service& slot : slots) {
                if (slot.hash == 0 || !room(3)) {
                    continue;
                }
                corvane_record& ptr =
                    add_record(&list, CORVANE_SECTION_ANSWER, CORVANE_TYPE_PTR, slot.kind, nullptr, 120);
                corvane_name_set(&ptr.rdata.ptr, CORVANE_KIND_INSTANCE, slot.name);
                add_srv(&list, CORVANE_SECTION_ADDITIONAL, ptr.rdata.ptr, slot.port, state.host_label, 120);
                add_record(&list, CORVANE_SECTION_ADDITIONAL, CORVANE_TYPE_TXT, CORVANE_KIND_INSTANCE,
                           slot.name, 120);
            }
            if (room(1)) {
                add_a(&list, CORVANE_SECTION_ADDITIONAL, state, state.host_label);
            }
            break;
        case CORVANE_KIND_RTSP:
            if (config.name1[0] != '\0' && room(2)) {
                add_srv(&list, CORVANE_SECTION_ANSWER, name, config.port1, config.name1, 4500);
                add_a(&list, CORVANE_SECTION_ADDITIONAL, state, config.name1);
            }
            break;
        case CORVANE_KIND_INSTANCE:
            if (name.cut || (question.type != CORVANE_TYPE_TXT && question.type != CORVANE_TYPE_SRV)) {
                break;
            }
            for (const corvane_local_service& slot : slots) {
                if (slot.hash == 0 ||
                    !corvane_label_equal(slot.name, strlen(slot.name), name.text, name.length)) {
                    continue;
                }
                if (!room(1)) {
                    break;
                }
                if (question.type == CORVANE_TYPE_TXT) {
                    add_record(&list, CORVANE_SECTION_ANSWER, CORVANE_TYPE_TXT, name.kind, nullptr, 120)
                        .name = name;
                } else {
                    add_srv(&list, CORVANE_SECTION_ANSWER, name, slot.port, state.host_label, 120);
                }
                break;
            }
            break;
        case CORVANE_KIND_HOST:
            if (!name.cut &&
                corvane_label_equal(state.host_label, strlen(state.host_label), name.text, name.length) &&
                room(1)) {
                add_a(&list, CORVANE_SECTION_ANSWER, state, state.host_label);
            }
            break;
        default:
            break;
        }
    }
    if (status == CORVANE_OK && list.total != 0) {
        send();
    }
    return status;
}

namespace {

// Enqueues the PTR questions for the browsed types (Corvane and Zint sessions, quill services)
// into `list` and for sending.
corvane_status send_initial_questions(corvane_question_list* list)
{
    const uint32_t kinds[3] = {CORVANE_KIND_CORVANE, CORVANE_KIND_ZINT, CORVANE_KIND_QUILL};
    for (uint32_t kind : kinds) {
        corvane_question& q = list->questions[list->count++];
        corvane_name_set(&q.name, kind, nullptr);
        q.type = CORVANE_TYPE_PTR;
    }
    return corvane_core_env.enqueue_queries != nullptr ? corvane_core_env.enqueue_queries(list)
                                                       : CORVANE_ERR_NOT_STARTED;
}

} // namespace

void corvane_core_do_initial_queries(corvane_device_state* state)
{
    CORVANE_LOG("corvane_core_do_initial_queries");
    if (state->device != 0 || state->initial_queries_sent) {
        return;
    }
    corvane_question_list list{};
    corvane_status status = send_initial_questions(&list);
    CORVANE_LOG("corvane_core_do_initial_queries -> corvane_mdns_enqueue_queries_list, status = %d", status);
    if (status == CORVANE_OK) {
        corvane_core_answer_queries(&list, state->device);
        state->initial_queries_sent = 1;
        g_initial_asks[0] = {1, 2};
    }
}

void corvane_core_repeat_initial_queries(corvane_device_state* state)
{
    if (state->device != 0 || !state->initial_queries_sent || !g_initial_asks[0].due(kInitialAskMax)) {
        return;
    }
    corvane_question_list list{};
    corvane_status status = send_initial_questions(&list);
    CORVANE_LOG("corvane_core_repeat_initial_queries, status = %d, next in %u s", status,
                static_cast<unsigned>(g_initial_asks[0].wait));
}

// --- evaluating responses ---------------------------------------------------------------------

namespace {

// The node row, oldest first, that no stream row points to; -1 when every row is pointed to.
int unreferenced_node(uint32_t time)
{
    bool referenced[CORVANE_REMOTE_NODES] = {};
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        const corvane_remote_stream& stream = corvane_remote_streams[i];
        if (stream.hash == 0) {
            continue;
        }
        for (uint8_t node : {stream.node, g_move_node[i]}) {
            if (node >= 1 && node <= CORVANE_REMOTE_NODES) {
                referenced[node - 1] = true;
            }
        }
    }
    int oldest = -1;
    uint32_t oldest_age = 0;
    for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
        uint32_t age = time - corvane_remote_nodes[i].changed_at;
        if (!referenced[i] && (oldest < 0 || age > oldest_age)) {
            oldest = i;
            oldest_age = age;
        }
    }
    return oldest;
}

// The unresolved stream row, oldest first, whose SRV question went unanswered for
// kStreamReplaceAfter seconds; -1 when there is none.
int unanswered_stream()
{
    int oldest = -1;
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        const corvane_remote_stream& row = corvane_remote_streams[i];
        if (row.hash != 0 && (row.flags & CORVANE_FLAG_UNRESOLVED) && !(row.flags & CORVANE_FLAG_GOODBYE) &&
            row.countdown <= kStreamTtl - kStreamReplaceAfter &&
            (oldest < 0 || row.countdown < corvane_remote_streams[oldest].countdown)) {
            oldest = i;
        }
    }
    return oldest;
}

void set_goodbye(int row, uint32_t time)
{
    corvane_remote_stream& stream = corvane_remote_streams[row];
    if (!(stream.flags & CORVANE_FLAG_GOODBYE)) {
        stream.flags |= CORVANE_FLAG_GOODBYE;
        g_goodbye_at[row] = time;
    }
}

corvane_status evaluate_ptr(uint8_t device, const corvane_record& record, uint32_t time, pending_lines& lines)
{
    uint32_t kind = record.name.kind;
    const corvane_name_ref& target = record.rdata.ptr;
    uint32_t target_kind = kind == CORVANE_KIND_QUILL ? CORVANE_KIND_QUILL_INSTANCE : CORVANE_KIND_INSTANCE;
    if (target.kind != target_kind || target.length == 0) {
        return CORVANE_OK; // a pointer to nothing the engine tracks
    }
    char name[CORVANE_TEXT_SIZE];
    name_of(target, name);
    uint32_t hash = corvane_name_hash(name, CORVANE_NAME_MAX);
    if (hash == 0) {
        return CORVANE_OK; // a label that begins with a NUL byte names nothing
    }
    uint16_t further = 0, free_row = 0;
    int namesake = -1;
    int row = find_stream(name, hash, target.whole, &further, &free_row, &namesake);
    if (row >= 0) {
        corvane_remote_stream& stream = corvane_remote_streams[row];
        if (record.ttl == 0) {
            set_goodbye(row, time);
            return CORVANE_OK;
        }
        // An announcement after a goodbye that has not taken effect yet takes it back (a restart).
        stream.flags &= static_cast<uint8_t>(~CORVANE_FLAG_GOODBYE);
        if (further == 0 && !(stream.flags & CORVANE_FLAG_UNRESOLVED)) {
            lines.add("corvane_core_mdns_responses_eval, device_id = %d, refresh stream = %s", device, name);
            stream.countdown = kStreamTtl;
        }
        return CORVANE_OK;
    }
    if (record.ttl == 0) {
        return CORVANE_OK; // a goodbye of an instance never seen
    }
    if (namesake >= 0) {
        // Another instance whose name begins with the same bytes holds the row of this cut name.
        lines.add("corvane_core_mdns_responses_eval, device_id = %d, stream not taken, its cut name is "
                  "another stream's = %s",
                  device, name);
        ++g_refused;
        copy_name(g_refused_name, name);
        return CORVANE_OK;
    }
    int new_row = free_row != 0 ? free_row - 1 : unanswered_stream();
    if (new_row < 0) {
        return CORVANE_ERR_STREAMS_FULL;
    }
    if (corvane_remote_streams[new_row].hash != 0) {
        lines.add("corvane_core_mdns_responses_eval, device_id = %d, replace stream = %s", device,
                  corvane_remote_streams[new_row].name);
    }
    free_row = static_cast<uint16_t>(new_row + 1);
    lines.add("corvane_core_mdns_responses_eval, device_id = %d, add stream = %s", device, name);
    if (target.cut) {
        lines.add("corvane_core_mdns_responses_eval, device_id = %d, name cut to 47 bytes = %s", device,
                  name);
    }
    corvane_remote_stream& stream = corvane_remote_streams[free_row - 1];
    memset(&stream, 0, sizeof(stream));
    copy_name(stream.name, name);
    stream.hash = hash;
    stream.device = static_cast<uint8_t>(device + 1);
    stream.kind = static_cast<uint8_t>(kind);
    stream.flags = CORVANE_FLAG_UNRESOLVED | CORVANE_FLAG_CHANGED;
    stream.countdown = kStreamTtl;
    stream.changed_at = time;
    g_stream_asks[free_row - 1] = {};
    g_stream_whole[free_row - 1] = target.whole;
    g_move_node[free_row - 1] = 0;
    g_no_room[free_row - 1] = 0;
    return CORVANE_OK;
}

// The row takes the host (node row, 1-based) and port of an SRV record: it is resolved.
void take_srv(int row, uint8_t node, uint16_t port, uint32_t time)
{
    corvane_remote_stream& stream = corvane_remote_streams[row];
    stream.node = node;
    stream.port = port;
    stream.flags &= static_cast<uint8_t>(~(CORVANE_FLAG_UNRESOLVED | CORVANE_FLAG_GOODBYE));
    stream.countdown = kStreamTtl;
    stream.changed_at = time;
    g_stream_asks[row] = {};
    g_move_node[row] = 0;
    g_no_room[row] = 0;
}

corvane_status evaluate_srv(uint8_t device, const corvane_record& record, uint32_t time, pending_lines& lines)
{
    char name[CORVANE_TEXT_SIZE];
    name_of(record.name, name);
    uint32_t hash = corvane_name_hash(name, CORVANE_NAME_MAX);
    uint16_t further = 0, free_row = 0;
    int named = find_stream(name, hash, record.name.whole, &further, &free_row);
    if (record.ttl == 0) {
        if (named >= 0) {
            set_goodbye(named, time);
        }
        return CORVANE_OK;
    }
    const corvane_name_ref& target = record.rdata.srv.target;
    if (named < 0 || target.kind != CORVANE_KIND_HOST || target.length == 0) {
        return CORVANE_OK; // an SRV of an instance without a row makes no node either
    }
    char host[CORVANE_TEXT_SIZE];
    name_of(target, host);
    uint32_t host_hash = corvane_name_hash(host, CORVANE_NAME_MAX);
    if (host_hash == 0) {
        return CORVANE_OK;
    }
    int node_row = find_node(host, host_hash, &free_row);
    if (node_row >= 0) {
        corvane_remote_node& node = corvane_remote_nodes[node_row];
        if (!(node.flags & CORVANE_FLAG_UNRESOLVED)) {
            node.countdown = kNodeTtl;
        }
        node.changed_at = time;
    } else {
        node_row = free_row != 0 ? free_row - 1 : unreferenced_node(time);
        if (node_row < 0) {
            g_no_room[named] = 1;
            return CORVANE_ERR_NODES_FULL;
        }
        corvane_remote_node& node = corvane_remote_nodes[node_row];
        if (node.hash != 0) {
            lines.add("corvane_core_mdns_responses_eval, device_id = %d, replace node = %s", device,
                      node.name);
        }
        lines.add("corvane_core_mdns_responses_eval, device_id = %d, add stream node = %s", device, host);
        memset(&node, 0, sizeof(node));
        copy_name(node.name, host);
        node.hash = host_hash;
        node.no_address = 1;
        node.flags = CORVANE_FLAG_UNRESOLVED | CORVANE_FLAG_CHANGED;
        node.countdown = kNodeTtl;
        node.changed_at = time;
        g_node_asks[node_row] = {};
    }
    const uint8_t node = static_cast<uint8_t>(node_row + 1);
    corvane_remote_stream& stream = corvane_remote_streams[named];
    if (stream.node == 0 || stream.node == node) {
        take_srv(named, node, record.rdata.srv.port, time);
    } else if (record.cache_flush) {
        // The only SRV of the instance now names another host (a restart elsewhere under the same
        // name): the row follows it, once that host's address is known.
        lines.add("corvane_core_mdns_responses_eval, device_id = %d, stream moves to another host = %s",
                  device, name);
        if (corvane_remote_nodes[node_row].no_address == 0) {
            take_srv(named, node, record.rdata.srv.port, time);
        } else {
            g_move_node[named] = node;
            g_move_port[named] = record.rdata.srv.port;
            ++g_moves_waiting;
            stream.flags &= static_cast<uint8_t>(~CORVANE_FLAG_GOODBYE);
            stream.countdown = kStreamTtl;
            stream.changed_at = time;
        }
    }
    return CORVANE_OK;
}

// An A record only updates a node row; rows are made for the hosts that streams' SRV records name.
void evaluate_a(const corvane_record& record, uint32_t time)
{
    char name[CORVANE_TEXT_SIZE];
    name_of(record.name, name);
    uint16_t free_row = 0;
    int row = find_node(name, corvane_name_hash(name, CORVANE_NAME_MAX), &free_row);
    if (row < 0) {
        return;
    }
    corvane_remote_node& node = corvane_remote_nodes[row];
    node.no_address = 0;
    node.flags &= static_cast<uint8_t>(~CORVANE_FLAG_UNRESOLVED);
    memcpy(node.address, record.rdata.a, 4);
    node.countdown = kNodeTtl;
    node.changed_at = time;
    if (g_moves_waiting == 0) {
        return;
    }
    // Rows waiting for this host's address move now; the others are counted again.
    uint32_t waiting = 0;
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        if (g_move_node[i] == 0) {
            continue;
        }
        if (corvane_remote_streams[i].hash == 0) {
            g_move_node[i] = 0;
        } else if (g_move_node[i] == row + 1) {
            take_srv(i, g_move_node[i], g_move_port[i], time);
        } else {
            ++waiting;
        }
    }
    g_moves_waiting = waiting;
}

// The records in list order, the A records after the others so that an A arriving before the SRV
// naming its host in the same message still counts.
corvane_status evaluate(uint8_t device, const corvane_record_list* list, uint32_t time, pending_lines& lines)
{
    uint16_t total = list->total > CORVANE_RECORDS_MAX ? CORVANE_RECORDS_MAX : list->total;
    for (int pass = 0; pass < 2; ++pass) {
        for (uint16_t i = 0; i < total; ++i) {
            const corvane_record& record = list->records[i];
            uint32_t kind = record.name.kind;
            bool address = kind == CORVANE_KIND_HOST && record.type == CORVANE_TYPE_A;
            if (address != (pass == 1)) {
                continue;
            }
            corvane_status status = CORVANE_OK;
            if (address) {
                evaluate_a(record, time);
            } else if ((kind == CORVANE_KIND_ZINT || kind == CORVANE_KIND_CORVANE ||
                        kind == CORVANE_KIND_QUILL) &&
                       record.type == CORVANE_TYPE_PTR) {
                status = evaluate_ptr(device, record, time, lines);
            } else if ((kind == CORVANE_KIND_INSTANCE || kind == CORVANE_KIND_QUILL_INSTANCE) &&
                       record.type == CORVANE_TYPE_SRV) {
                status = evaluate_srv(device, record, time, lines);
            }
            if (status != CORVANE_OK) {
                return status;
            }
        }
    }
    return CORVANE_OK;
}

} // namespace

corvane_status corvane_core_mdns_responses_eval(uint8_t device, const corvane_record_list* list)
{
    corvane_status status = check_device(device);
    if (status != CORVANE_OK) {
        return status;
    }
    uint32_t time = now();
    pending_lines lines;
    lines.lines.reserve(2 * CORVANE_RECORDS_MAX); // no allocation under the lock
    {
        tables_guard guard;
        status = evaluate(device, list, time, lines);
    }
    lines.write();
    return status;
}

// --- countdowns -------------------------------------------------------------------------------

void corvane_core_add_srv_query(corvane_question_list* list, uint16_t position,
                                const corvane_remote_stream* row)
{
    corvane_question& q = list->questions[position];
    memset(&q, 0, sizeof(q));
    corvane_name_set(&q.name,
                     row->kind == CORVANE_KIND_QUILL ? CORVANE_KIND_QUILL_INSTANCE : CORVANE_KIND_INSTANCE,
                     row->name);
    q.type = CORVANE_TYPE_SRV;
}

namespace {

// Unresolved rows whose wait is over, in row order. At most `budget` of them are asked in one
// second, beginning after the row asked last the second before, so every row gets its turn.
struct ask_turns
{
    std::vector<int> ready;

    ask_turns(size_t rows) { ready.reserve(rows); }

    template <class AskRow> void ask(uint32_t budget, int& cursor, ask_backoff* asks, AskRow ask_row)
    {
        size_t start =
            static_cast<size_t>(std::lower_bound(ready.begin(), ready.end(), cursor) - ready.begin());
        size_t count = ready.size() < budget ? ready.size() : budget;
        for (size_t k = 0; k < count; ++k) {
            int row = ready[(start + k) % ready.size()];
            asks[row].due(kRowAskMax);
            ask_row(row);
            cursor = row + 1;
        }
    }
};

// One second of a row's countdown (the table lock is held). A row expired for `linger` seconds, or
// one whose goodbye took effect, is handed to `remove`; an unresolved row counts its wait for the
// next question down (`asks`) and, once it is over, is handed to `ready`; a live row is asked about
// at `ask_first` and `ask_second` seconds before its end.
template <class Row, class Ask, class Ready, class Remove>
void count_down(Row& row, uint32_t time, ask_backoff& asks, bool goodbye_due, int16_t linger,
                int16_t ask_first, int16_t ask_second, Ask ask, Ready ready, Remove remove)
{
    if (row.flags != 0) {
        if ((row.flags & CORVANE_FLAG_EXPIRED) && row.countdown <= -linger) {
            remove(true);
            return;
        }
        if (row.flags & CORVANE_FLAG_GOODBYE) {
            if (goodbye_due) {
                remove(false);
                return;
            }
        } else if (row.flags & CORVANE_FLAG_UNRESOLVED) {
            if (asks.ready()) {
                ready();
            } else {
                asks.due(kRowAskMax);
            }
        } else if (row.flags & CORVANE_FLAG_CHANGED) {
            row.flags &= static_cast<uint8_t>(~CORVANE_FLAG_CHANGED);
            row.changed_at = time;
        }
    }
    --row.countdown;
    if (row.countdown == 0) {
        row.flags |= CORVANE_FLAG_EXPIRED | CORVANE_FLAG_CHANGED;
        row.changed_at = time;
    }
    // An unresolved row is asked about on its own schedule above.
    if ((row.countdown == ask_first || row.countdown == ask_second) &&
        !(row.flags & CORVANE_FLAG_UNRESOLVED)) {
        ask();
    }
}

} // namespace

void corvane_core_refresh_nodes()
{
    refresh_lists lists;
    ask_turns turns(CORVANE_REMOTE_NODES);
    uint32_t time = now();
    {
        tables_guard guard;
        uint32_t waiting = 0;
        for (int i = 0; i < CORVANE_REMOTE_NODES; ++i) {
            corvane_remote_node& node = corvane_remote_nodes[i];
            if (node.hash == 0) {
                continue;
            }
            waiting += (node.flags & CORVANE_FLAG_UNRESOLVED) ? 1 : 0;
            count_down(
                node, time, g_node_asks[i], true, 30, 120, 60,
                [&] { lists.add(CORVANE_KIND_HOST, node.name, CORVANE_TYPE_A); },
                [&] { turns.ready.push_back(i); },
                [&](bool) {
                    // No stream may keep pointing at a row that is gone: it waits for a new SRV.
                    for (int s = 0; s < CORVANE_REMOTE_STREAMS; ++s) {
                        corvane_remote_stream& stream = corvane_remote_streams[s];
                        if (g_move_node[s] == i + 1) {
                            g_move_node[s] = 0;
                        }
                        if (stream.hash != 0 && stream.node == i + 1) {
                            stream.node = 0;
                            stream.flags |= CORVANE_FLAG_UNRESOLVED;
                            g_stream_asks[s] = {};
                        }
                    }
                    memset(&node, 0, sizeof(node));
                });
        }
        turns.ask(kNodeAskBudget, g_node_cursor, g_node_asks, [&](int row) {
            lists.add(CORVANE_KIND_HOST, corvane_remote_nodes[row].name, CORVANE_TYPE_A);
        });
        g_waiting_nodes = waiting;
    }
    lists.send();
}

void corvane_core_check_remote_streams_table()
{
    refresh_lists lists;
    pending_lines lines;
    uint32_t time = now();
    uint32_t waiting_streams = 0, waiting_nodes = 0;
    bool log_waiting = false;
    ask_turns turns(CORVANE_REMOTE_STREAMS);
    {
        tables_guard guard;
        for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
            corvane_remote_stream& stream = corvane_remote_streams[i];
            if (stream.hash == 0) {
                continue;
            }
            waiting_streams += (stream.flags & CORVANE_FLAG_UNRESOLVED) ? 1 : 0;
            uint32_t srv_kind =
                stream.kind == CORVANE_KIND_QUILL ? CORVANE_KIND_QUILL_INSTANCE : CORVANE_KIND_INSTANCE;
            count_down(
                stream, time, g_stream_asks[i], time - g_goodbye_at[i] >= kGoodbyeMs, 20, 60, 30,
                [&] { lists.add(srv_kind, stream.name, CORVANE_TYPE_SRV); },
                [&] { turns.ready.push_back(i); },
                [&](bool expired) {
                    lines.add(expired
                                  ? "corvane_core_check_remote_streams_table, remove stream = %s, TTL expired"
                                  : "corvane_core_check_remote_streams_table, remove stream = %s, "
                                    "is_remote_removed",
                              -1, stream.name);
                    memset(&stream, 0, sizeof(stream));
                });
        }
        turns.ask(kStreamAskBudget, g_stream_cursor, g_stream_asks, [&](int row) {
            const corvane_remote_stream& stream = corvane_remote_streams[row];
            lists.add(stream.kind == CORVANE_KIND_QUILL ? CORVANE_KIND_QUILL_INSTANCE : CORVANE_KIND_INSTANCE,
                      stream.name, CORVANE_TYPE_SRV);
        });
        waiting_nodes = g_waiting_nodes;
        log_waiting = waiting_streams + waiting_nodes != 0 && g_waiting_log.due(time);
    }
    lines.write();
    if (log_waiting) {
        CORVANE_LOG(
            "corvane_core_check_remote_streams_table, %u stream rows and %u node rows wait for an answer",
            static_cast<unsigned>(waiting_streams), static_cast<unsigned>(waiting_nodes));
    }
    lists.send();
}

void corvane_core_take_room_report(corvane_room_report* report)
{
    memset(report, 0, sizeof(*report));
    uint32_t time = now();
    tables_guard guard;
    uint32_t waiting = 0;
    for (int i = 0; i < CORVANE_REMOTE_STREAMS; ++i) {
        waiting += corvane_remote_streams[i].hash != 0 && g_no_room[i] ? 1 : 0;
    }
    if (waiting != 0 && g_no_room_report.due(time)) {
        report->streams_waiting = waiting;
    }
    if (g_refused != 0 && g_refused_report.due(time)) {
        report->names_refused = g_refused;
        copy_name(report->refused_name, g_refused_name);
        g_refused = 0;
    }
}
