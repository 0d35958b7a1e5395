// DNS message codec of the DSA multicast-DNS engine: bytes in, questions and records out, and back.
//
// The engine knows eight name shapes ("kinds"), each a row of fixed labels with at most one variable
// label (an instance or host name); a name is handled as its kind plus that label. Every read checks
// its bound against the message length and every write against the 1280-byte send limit; errors are
// status codes, never a guess. No socket and no windows.h here: this file also builds natively for
// fuzzing. Plain data, no state of its own; any thread may use it on buffers it owns.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t corvane_status;

constexpr corvane_status CORVANE_OK = 0;
constexpr corvane_status CORVANE_ERR_DEVICE = 10;
constexpr corvane_status CORVANE_ERR_NOT_INITIALISED = 11;
constexpr corvane_status CORVANE_ERR_ALREADY_STARTED = 12;
constexpr corvane_status CORVANE_ERR_NOT_STARTED = 13;
constexpr corvane_status CORVANE_ERR_JOIN = 21;
constexpr corvane_status CORVANE_ERR_LEAVE = 22;
constexpr corvane_status CORVANE_ERR_SOCKET = 23;
constexpr corvane_status CORVANE_ERR_CLOSE = 24;
constexpr corvane_status CORVANE_ERR_READ_END = 31;
constexpr corvane_status CORVANE_ERR_BUFFER_FULL = 32;
constexpr corvane_status CORVANE_ERR_LABELS = 50;
constexpr corvane_status CORVANE_ERR_EMPTY_LABEL = 51;
constexpr corvane_status CORVANE_ERR_TYPE = 52;
constexpr corvane_status CORVANE_ERR_EMPTY_NAME = 70;
constexpr corvane_status CORVANE_ERR_HANDLE = 80;
constexpr corvane_status CORVANE_ERR_NAME_TAKEN = 81;
constexpr corvane_status CORVANE_ERR_NO_SERVICE = 82;
constexpr corvane_status CORVANE_ERR_SERVICES_FULL = 83;
constexpr corvane_status CORVANE_ERR_NO_NODE = 101;
constexpr corvane_status CORVANE_ERR_NODES_FULL = 102;
constexpr corvane_status CORVANE_ERR_NO_STREAM = 106;
constexpr corvane_status CORVANE_ERR_STREAMS_FULL = 107;
constexpr corvane_status CORVANE_ERR_NO_QUEUE = 118;
constexpr corvane_status CORVANE_ERR_QUEUE_ID = 120;
constexpr corvane_status CORVANE_ERR_QUEUE_FULL = 121;
constexpr corvane_status CORVANE_ERR_QUEUE_EMPTY = 122;

// Longest text of a name or TXT kept (a longer one is cut to this, with its length).
#define CORVANE_NAME_MAX 47
// Largest message the engine writes, and the largest datagram it reads.
#define CORVANE_MSG_WRITE_MAX 1280
#define CORVANE_MSG_READ_MAX 9000
#define CORVANE_QUESTIONS_MAX 8
#define CORVANE_RECORDS_MAX 32

// Label ids.
constexpr uint8_t CORVANE_LABEL_LOCAL = 1;
constexpr uint8_t CORVANE_LABEL_UDP = 2;
constexpr uint8_t CORVANE_LABEL_DNS_SD = 3;
constexpr uint8_t CORVANE_LABEL_SERVICES = 4;
constexpr uint8_t CORVANE_LABEL_TCP = 5;
constexpr uint8_t CORVANE_LABEL_QUILL = 6;
constexpr uint8_t CORVANE_LABEL_RTSP = 7;
constexpr uint8_t CORVANE_LABEL_SUB = 8;
constexpr uint8_t CORVANE_LABEL_ZINT_SESSION = 9;
constexpr uint8_t CORVANE_LABEL_CORVANE_SESSION = 10;
constexpr uint8_t CORVANE_LABEL_VARIABLE = 11;

// Name kinds; 0 is a name of none of these shapes.
constexpr uint32_t CORVANE_KIND_NONE = 0;
constexpr uint32_t CORVANE_KIND_SERVICES = 1; // _services._dns-sd._udp.local
constexpr uint32_t CORVANE_KIND_ZINT = 2;     // _zint_session._sub._rtsp._tcp.local
constexpr uint32_t CORVANE_KIND_CORVANE = 3;  // _corvane_session._sub._rtsp._tcp.local
constexpr uint32_t CORVANE_KIND_RTSP = 4;     // _rtsp._tcp.local
constexpr uint32_t CORVANE_KIND_QUILL = 5;    // _quill._tcp.local
constexpr uint32_t CORVANE_KIND_INSTANCE = 6; // (instance)._rtsp._tcp.local
constexpr uint32_t CORVANE_KIND_HOST = 7;     // (host).local
constexpr uint32_t CORVANE_KIND_QUILL_INSTANCE = 8;
constexpr uint32_t CORVANE_KIND_COUNT = 9;

constexpr uint32_t CORVANE_TYPE_A = 1;
constexpr uint32_t CORVANE_TYPE_PTR = 12;
constexpr uint32_t CORVANE_TYPE_TXT = 16;
constexpr uint32_t CORVANE_TYPE_SRV = 33;
constexpr uint32_t CORVANE_TYPE_NSEC = 47;
constexpr uint32_t CORVANE_SECTION_ANSWER = 0;
constexpr uint32_t CORVANE_SECTION_AUTHORITY = 1;
constexpr uint32_t CORVANE_SECTION_ADDITIONAL = 2;

// A name: its kind and, where the kind has one, the variable label. `cut` marks a received label
// longer than CORVANE_NAME_MAX (kept cut on a UTF-8 character boundary; it never stands for a local
// name); `whole` is then a hash of all its bytes, which tells apart labels that are cut the same.
struct corvane_name_ref
{
    uint32_t kind;
    uint8_t length;
    uint8_t cut;
    char text[51];
    uint32_t whole;
};

struct corvane_label
{
    const char* text;
    uint8_t length;
};
extern const corvane_label corvane_label_table[12];
// Label ids of each kind, in order, ending with 0.
extern const uint8_t corvane_kind_table[CORVANE_KIND_COUNT][7];

struct corvane_question
{
    corvane_name_ref name;
    uint32_t type; // the 16-bit wire type
    uint8_t unicast;
};

struct corvane_srv
{
    uint16_t priority, weight, port;
    corvane_name_ref target;
};

struct corvane_record
{
    uint32_t section;
    uint32_t type; // the 16-bit wire type
    corvane_name_ref name;
    uint8_t cache_flush;
    union {
        uint8_t a[4];         // A, wire order
        corvane_name_ref ptr; // PTR and NSEC
        struct
        {
            uint8_t length;
            uint8_t bytes[CORVANE_NAME_MAX];
        } txt;
        corvane_srv srv;
    } rdata;
    uint32_t ttl;
};

struct corvane_question_list
{
    uint16_t count;
    corvane_question questions[CORVANE_QUESTIONS_MAX];
};

struct corvane_record_list
{
    uint16_t answers, authority, additional, total;
    corvane_record records[CORVANE_RECORDS_MAX];
};

struct corvane_msg
{
    uint16_t length;
    uint16_t position;
    uint16_t label_offsets[12];
    uint8_t data[CORVANE_MSG_READ_MAX];
};

// How many of `length` bytes a text is kept at: all when they are at most `max`, else at most `max`
// and never ending inside a whole UTF-8 character (other bytes are cut as they are).
size_t corvane_utf8_cut_length(const char* bytes, size_t length, size_t max);

void corvane_msg_clear(corvane_msg* msg);
// The buffer holds a received datagram of `length` bytes (at most CORVANE_MSG_READ_MAX).
void corvane_msg_set(corvane_msg* msg, const uint8_t* bytes, size_t length);

corvane_status corvane_msg_read_u8(corvane_msg* msg, uint8_t* value);
corvane_status corvane_msg_read_u16(corvane_msg* msg, uint16_t* value);
corvane_status corvane_msg_read_u32(corvane_msg* msg, uint32_t* value);
corvane_status corvane_msg_read_u32_raw(corvane_msg* msg, uint8_t value[4]);
corvane_status corvane_msg_read_label(corvane_msg* msg, uint8_t length, char text[51], uint8_t* kept);
corvane_status corvane_msg_read_name(corvane_msg* msg, corvane_name_ref* name);
corvane_status corvane_msg_read_question(corvane_msg* msg, corvane_question* question);
corvane_status corvane_msg_read_record(corvane_msg* msg, uint32_t section, corvane_record* record);

corvane_status corvane_msg_write_u16(corvane_msg* msg, uint16_t value);
corvane_status corvane_msg_write_u32(corvane_msg* msg, uint32_t value);
corvane_status corvane_msg_write_u32_raw(corvane_msg* msg, const uint8_t value[4]);
corvane_status corvane_msg_write_bytes(corvane_msg* msg, const void* bytes, size_t length);
corvane_status corvane_msg_write_zeros(corvane_msg* msg, size_t length);
corvane_status corvane_msg_write_name(corvane_msg* msg, const corvane_name_ref* name);
corvane_status corvane_msg_write_question(corvane_msg* msg, const corvane_question* question);
corvane_status corvane_msg_write_record(corvane_msg* msg, const corvane_record* record);

corvane_status corvane_mdns_build_query(corvane_msg* msg, const corvane_question_list* list);
// Builds one response message from the records of the list, answers first, then authority, then
// additional records, starting at the `*next`-th record of that order. Whole records only: when the
// next one would pass the 1280-byte limit the message ends before it with counts that match, and
// `*next` tells where the following message starts (list total when all are written). 32 only
// when a single record does not fit an empty message.
corvane_status corvane_mdns_build_response(corvane_msg* msg, const corvane_record_list* list, uint16_t* next);
corvane_status corvane_mdns_parse_queries(corvane_msg* msg, corvane_question_list* list);
corvane_status corvane_mdns_parse_responses(corvane_msg* msg, corvane_record_list* list);

// Helpers for building names and records.
void corvane_name_set(corvane_name_ref* name, uint32_t kind, const char* label);
// Labels compare whole, ASCII letters without regard to case.
bool corvane_label_equal(const char* a, size_t a_length, const char* b, size_t b_length);
