#include "dsa_mdns/corvane_codec.h"

#include <string.h>

const corvane_label corvane_label_table[12] = {
    {"", 0},       {"local", 5}, {"_udp", 4}, {"_dns-sd", 7},        {"_services", 9},         {"_tcp", 4},
    {"_quill", 6}, {"_rtsp", 5}, {"_sub", 4}, {"_zint_session", 13}, {"_corvane_session", 16}, {"", 0},
};

const uint8_t corvane_kind_table[CORVANE_KIND_COUNT][7] = {
    {0},
    {CORVANE_LABEL_SERVICES, CORVANE_LABEL_DNS_SD, CORVANE_LABEL_UDP, CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_ZINT_SESSION, CORVANE_LABEL_SUB, CORVANE_LABEL_RTSP, CORVANE_LABEL_TCP,
     CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_CORVANE_SESSION, CORVANE_LABEL_SUB, CORVANE_LABEL_RTSP, CORVANE_LABEL_TCP,
     CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_RTSP, CORVANE_LABEL_TCP, CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_QUILL, CORVANE_LABEL_TCP, CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_VARIABLE, CORVANE_LABEL_RTSP, CORVANE_LABEL_TCP, CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_VARIABLE, CORVANE_LABEL_LOCAL, 0},
    {CORVANE_LABEL_VARIABLE, CORVANE_LABEL_QUILL, CORVANE_LABEL_TCP, CORVANE_LABEL_LOCAL, 0},
};

namespace {

// Names are at most 255 bytes on the wire; a chain of compression pointers is at most this long.
const size_t kNameWireMax = 255;
const int kMaxJumps = 32;
const int kLabelsKept = 5;

struct received_label
{
    char text[CORVANE_NAME_MAX + 1];
    uint8_t length; // bytes kept
    uint8_t cut;
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t kind_label_count(uint32_t kind)
{
    size_t n = 0;
    while (corvane_kind_table[kind][n] != 0) {
        ++n;
    }
    return n;
}

uint32_t match_kind(const received_label* labels, size_t count)
{
    for (uint32_t kind = 1; kind < CORVANE_KIND_COUNT; ++kind) {
        if (kind_label_count(kind) != count) {
            continue;
        }
        bool match = true;
        for (size_t i = 0; i < count && match; ++i) {
            uint8_t id = corvane_kind_table[kind][i];
            if (id == CORVANE_LABEL_VARIABLE) {
                continue;
            }
            const corvane_label& fixed = corvane_label_table[id];
            match = !labels[i].cut &&
                    corvane_label_equal(labels[i].text, labels[i].length, fixed.text, fixed.length);
        }
        if (match) {
            return kind;
        }
    }
    return CORVANE_KIND_NONE;
}

// FNV-1a of a label's bytes, never 0.
uint32_t whole_hash(const uint8_t* bytes, size_t length)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ bytes[i]) * 16777619u;
    }
    return h == 0 ? 1 : h;
}

bool fits(const corvane_msg* msg, size_t n)
{
    return msg->length + n <= CORVANE_MSG_WRITE_MAX;
}

} // namespace

bool corvane_label_equal(const char* a, size_t a_length, const char* b, size_t b_length)
{
    if (a_length != b_length) {
        return false;
    }
    for (size_t i = 0; i < a_length; ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

size_t corvane_utf8_cut_length(const char* text, size_t length, size_t max)
{
    if (length <= max) {
        return length;
    }
    size_t n = max;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    // bytes[n] is the first byte left out; when it continues a whole UTF-8 sequence that begins in
    // the kept bytes, the cut moves back to that sequence's first byte. Other bytes are cut as they are.
    if ((bytes[n] & 0xC0) != 0x80) {
        return n;
    }
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        unsigned char lead = bytes[n - back];
        if ((lead & 0xC0) == 0x80) {
            continue;
        }
        size_t sequence = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (sequence <= back) {
            return n;
        }
        for (size_t i = 1; i < sequence; ++i) {
            if (n - back + i >= length || (bytes[n - back + i] & 0xC0) != 0x80) {
                return n;
            }
        }
        return n - back;
    }
    return n;
}

void corvane_msg_clear(corvane_msg* msg)
{
    msg->length = 0;
    msg->position = 0;
    memset(msg->label_offsets, 0, sizeof(msg->label_offsets));
}

void corvane_msg_set(corvane_msg* msg, const uint8_t* bytes, size_t length)
{
    corvane_msg_clear(msg);
    if (length > CORVANE_MSG_READ_MAX) {
        length = CORVANE_MSG_READ_MAX;
    }
    memcpy(msg->data, bytes, length);
    msg->length = static_cast<uint16_t>(length);
}

void corvane_name_set(corvane_name_ref* name, uint32_t kind, const char* label)
{
    memset(name, 0, sizeof(*name));
    name->kind = kind;
    if (label != nullptr) {
        size_t n = strnlen(label, CORVANE_NAME_MAX);
        memcpy(name->text, label, n);
        name->length = static_cast<uint8_t>(n);
    }
}

// --- reading ----------------------------------------------------------------------------------

corvane_status corvane_msg_read_u8(corvane_msg* msg, uint8_t* value)
{
    if (msg->position + 1u > msg->length) {
        return CORVANE_ERR_READ_END;
    }
    *value = msg->data[msg->position++];
    return CORVANE_OK;
}

corvane_status corvane_msg_read_u16(corvane_msg* msg, uint16_t* value)
{
    if (msg->position + 2u > msg->length) {
        return CORVANE_ERR_READ_END;
    }
    *value = static_cast<uint16_t>(msg->data[msg->position] << 8 | msg->data[msg->position + 1]);
    msg->position = static_cast<uint16_t>(msg->position + 2);
    return CORVANE_OK;
}

corvane_status corvane_msg_read_u32(corvane_msg* msg, uint32_t* value)
{
    uint8_t raw[4];
    corvane_status status = corvane_msg_read_u32_raw(msg, raw);
    if (status == CORVANE_OK) {
        *value = static_cast<uint32_t>(raw[0]) << 24 | raw[1] << 16 | raw[2] << 8 | raw[3];
    }
    return status;
}

corvane_status corvane_msg_read_u32_raw(corvane_msg* msg, uint8_t value[4])
{
    if (msg->position + 4u > msg->length) {
        return CORVANE_ERR_READ_END;
    }
    memcpy(value, msg->data + msg->position, 4);
    msg->position = static_cast<uint16_t>(msg->position + 4);
    return CORVANE_OK;
}

corvane_status corvane_msg_read_label(corvane_msg* msg, uint8_t length, char text[51], uint8_t* kept)
{
    if (msg->position + static_cast<size_t>(length) > msg->length) {
        return CORVANE_ERR_READ_END;
    }
    const char* bytes = reinterpret_cast<const char*>(msg->data + msg->position);
    uint8_t n = static_cast<uint8_t>(corvane_utf8_cut_length(bytes, length, CORVANE_NAME_MAX));
    memcpy(text, bytes, n);
    text[n] = '\0';
    *kept = n;
    msg->position = static_cast<uint16_t>(msg->position + length);
    return CORVANE_OK;
}

// Reads the whole name, following compression pointers only to bytes before every byte read so far
// (so no chain can loop), at most kMaxJumps of them and kNameWireMax bytes of labels. A name of
// more than five labels is read to its end (the position is right) and gives 50.
corvane_status corvane_msg_read_name(corvane_msg* msg, corvane_name_ref* name)
{
    received_label labels[kLabelsKept];
    uint32_t first_whole = 0;
    size_t count = 0;
    size_t wire = 1;
    int jumps = 0;
    uint16_t resume = 0;
    uint16_t segment_start = msg->position;
    for (;;) {
        uint8_t length = 0;
        corvane_status status = corvane_msg_read_u8(msg, &length);
        if (status != CORVANE_OK) {
            return status;
        }
        if ((length & 0xC0) == 0xC0) {
            uint8_t low = 0;
            if ((status = corvane_msg_read_u8(msg, &low)) != CORVANE_OK) {
                return status;
            }
            uint16_t offset = static_cast<uint16_t>((length & 0x3F) << 8 | low);
            if (offset >= segment_start || ++jumps > kMaxJumps) {
                return CORVANE_ERR_READ_END;
            }
            if (resume == 0) {
                resume = msg->position;
            }
            msg->position = offset;
            segment_start = offset;
            continue;
        }
        if ((length & 0xC0) != 0) {
            return CORVANE_ERR_READ_END;
        }
        if (length == 0) {
            break;
        }
        wire += length + 1u;
        if (wire > kNameWireMax) {
            return CORVANE_ERR_READ_END;
        }
        received_label scratch;
        received_label& label = count < kLabelsKept ? labels[count] : scratch;
        const uint8_t* whole = msg->data + msg->position;
        if ((status = corvane_msg_read_label(msg, length, label.text, &label.length)) != CORVANE_OK) {
            return status;
        }
        label.cut = length > CORVANE_NAME_MAX;
        if (count == 0 && label.cut) {
            first_whole = whole_hash(whole, length);
        }
        ++count;
    }
    if (resume != 0) {
        msg->position = resume;
    }
    memset(name, 0, sizeof(*name));
    if (count > kLabelsKept) {
        return CORVANE_ERR_LABELS;
    }
    name->kind = match_kind(labels, count);
    if (name->kind != CORVANE_KIND_NONE && corvane_kind_table[name->kind][0] == CORVANE_LABEL_VARIABLE) {
        memcpy(name->text, labels[0].text, labels[0].length);
        name->length = labels[0].length;
        name->cut = labels[0].cut;
        name->whole = first_whole;
    }
    return CORVANE_OK;
}

// A name of more than five labels is a name of no kind to the readers of questions and records.
static corvane_status read_name_any(corvane_msg* msg, corvane_name_ref* name)
{
    corvane_status status = corvane_msg_read_name(msg, name);
    return status == CORVANE_ERR_LABELS ? CORVANE_OK : status;
}

corvane_status corvane_msg_read_question(corvane_msg* msg, corvane_question* question)
{
    uint16_t type = 0, klass = 0;
    corvane_status status = read_name_any(msg, &question->name);
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &type);
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &klass);
    }
    question->type = type;
    question->unicast = klass >> 15;
    return status;
}

// The record's data is read within its rdata length and the next record starts right after it. A
// record of a type the engine does not use is skipped whole and gives 52.
corvane_status corvane_msg_read_record(corvane_msg* msg, uint32_t section, corvane_record* record)
{
    memset(record, 0, sizeof(*record));
    record->section = section;
    uint16_t type = 0, klass = 0, rdlength = 0;
    corvane_status status = read_name_any(msg, &record->name);
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &type);
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &klass);
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u32(msg, &record->ttl);
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &rdlength);
    }
    if (status != CORVANE_OK) {
        return status;
    }
    record->type = type;
    record->cache_flush = klass >> 15;
    size_t end = static_cast<size_t>(msg->position) + rdlength;
    if (end > msg->length) {
        return CORVANE_ERR_READ_END;
    }
    uint16_t message_length = msg->length;
    msg->length = static_cast<uint16_t>(end); // nothing of this record is read past its data
    switch (type) {
    case CORVANE_TYPE_A:
        status = rdlength == 4 ? corvane_msg_read_u32_raw(msg, record->rdata.a) : CORVANE_ERR_READ_END;
        break;
    case CORVANE_TYPE_PTR:
    case CORVANE_TYPE_NSEC:
        status = read_name_any(msg, &record->rdata.ptr);
        break;
    case CORVANE_TYPE_TXT:
        record->rdata.txt.length =
            static_cast<uint8_t>(rdlength > CORVANE_NAME_MAX ? CORVANE_NAME_MAX : rdlength);
        memcpy(record->rdata.txt.bytes, msg->data + msg->position, record->rdata.txt.length);
        break;
    case CORVANE_TYPE_SRV:
        status = corvane_msg_read_u16(msg, &record->rdata.srv.priority);
        if (status == CORVANE_OK) {
            status = corvane_msg_read_u16(msg, &record->rdata.srv.weight);
        }
        if (status == CORVANE_OK) {
            status = corvane_msg_read_u16(msg, &record->rdata.srv.port);
        }
        if (status == CORVANE_OK) {
            status = read_name_any(msg, &record->rdata.srv.target);
        }
        break;
    default:
        status = CORVANE_ERR_TYPE;
        break;
    }
    msg->length = message_length;
    msg->position = static_cast<uint16_t>(end);
    return status;
}

// --- writing ----------------------------------------------------------------------------------

corvane_status corvane_msg_write_bytes(corvane_msg* msg, const void* bytes, size_t length)
{
    if (!fits(msg, length)) {
        return CORVANE_ERR_BUFFER_FULL;
    }
    memcpy(msg->data + msg->length, bytes, length);
    msg->length = static_cast<uint16_t>(msg->length + length);
    return CORVANE_OK;
}

corvane_status corvane_msg_write_zeros(corvane_msg* msg, size_t length)
{
    if (!fits(msg, length)) {
        return CORVANE_ERR_BUFFER_FULL;
    }
    memset(msg->data + msg->length, 0, length);
    msg->length = static_cast<uint16_t>(msg->length + length);
    return CORVANE_OK;
}

corvane_status corvane_msg_write_u16(corvane_msg* msg, uint16_t value)
{
    uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return corvane_msg_write_bytes(msg, bytes, 2);
}

corvane_status corvane_msg_write_u32(corvane_msg* msg, uint32_t value)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return corvane_msg_write_bytes(msg, bytes, 4);
}

corvane_status corvane_msg_write_u32_raw(corvane_msg* msg, const uint8_t value[4])
{
    return corvane_msg_write_bytes(msg, value, 4);
}

corvane_status corvane_msg_write_name(corvane_msg* msg, const corvane_name_ref* name)
{
    if (name->kind == CORVANE_KIND_NONE || name->kind >= CORVANE_KIND_COUNT) {
        return CORVANE_ERR_EMPTY_LABEL;
    }
    corvane_status status = CORVANE_OK;
    for (const uint8_t* id = corvane_kind_table[name->kind]; *id != 0 && status == CORVANE_OK; ++id) {
        if (*id == CORVANE_LABEL_VARIABLE) {
            uint8_t length = name->length > CORVANE_NAME_MAX ? CORVANE_NAME_MAX : name->length;
            if (length == 0) {
                return CORVANE_ERR_EMPTY_LABEL;
            }
            if (!fits(msg, 1u + length)) {
                return CORVANE_ERR_BUFFER_FULL;
            }
            msg->data[msg->length++] = length;
            status = corvane_msg_write_bytes(msg, name->text, length);
        } else if (msg->label_offsets[*id] != 0) {
            return corvane_msg_write_u16(msg, static_cast<uint16_t>(0xC000 | msg->label_offsets[*id]));
        } else {
            const corvane_label& label = corvane_label_table[*id];
            if (!fits(msg, 1u + label.length)) {
                return CORVANE_ERR_BUFFER_FULL;
            }
            msg->label_offsets[*id] = msg->length;
            msg->data[msg->length++] = label.length;
            status = corvane_msg_write_bytes(msg, label.text, label.length);
        }
    }
    return status == CORVANE_OK ? corvane_msg_write_zeros(msg, 1) : status;
}

corvane_status corvane_msg_write_question(corvane_msg* msg, const corvane_question* question)
{
    corvane_status status = corvane_msg_write_name(msg, &question->name);
    if (status == CORVANE_OK) {
        status = corvane_msg_write_u16(msg, static_cast<uint16_t>(question->type));
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_write_u16(msg, static_cast<uint16_t>((question->unicast & 1) * 0x8000 + 1));
    }
    return status;
}

corvane_status corvane_msg_write_record(corvane_msg* msg, const corvane_record* record)
{
    corvane_status status = corvane_msg_write_name(msg, &record->name);
    if (status == CORVANE_OK) {
        status = corvane_msg_write_u16(msg, static_cast<uint16_t>(record->type));
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_write_u16(msg, static_cast<uint16_t>((record->cache_flush & 1) * 0x8000 + 1));
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_write_u32(msg, record->ttl);
    }
    uint16_t length_at = msg->length;
    if (status == CORVANE_OK) {
        status = corvane_msg_write_zeros(msg, 2);
    }
    if (status != CORVANE_OK) {
        return status;
    }
    switch (record->type) {
    case CORVANE_TYPE_A:
        status = corvane_msg_write_u32_raw(msg, record->rdata.a);
        break;
    case CORVANE_TYPE_PTR:
    case CORVANE_TYPE_NSEC:
        status = corvane_msg_write_name(msg, &record->rdata.ptr);
        break;
    case CORVANE_TYPE_TXT: {
        uint8_t n = record->rdata.txt.length > CORVANE_NAME_MAX ? CORVANE_NAME_MAX : record->rdata.txt.length;
        status = corvane_msg_write_bytes(msg, record->rdata.txt.bytes, n);
        break;
    }
    case CORVANE_TYPE_SRV:
        status = corvane_msg_write_u16(msg, record->rdata.srv.priority);
        if (status == CORVANE_OK) {
            status = corvane_msg_write_u16(msg, record->rdata.srv.weight);
        }
        if (status == CORVANE_OK) {
            status = corvane_msg_write_u16(msg, record->rdata.srv.port);
        }
        if (status == CORVANE_OK) {
            status = corvane_msg_write_name(msg, &record->rdata.srv.target);
        }
        break;
    default:
        return CORVANE_ERR_TYPE;
    }
    uint16_t rdlength = static_cast<uint16_t>(msg->length - length_at - 2);
    msg->data[length_at] = static_cast<uint8_t>(rdlength >> 8);
    msg->data[length_at + 1] = static_cast<uint8_t>(rdlength);
    return status;
}

// --- whole messages ---------------------------------------------------------------------------

static void put_u16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

corvane_status corvane_mdns_build_query(corvane_msg* msg, const corvane_question_list* list)
{
    corvane_msg_clear(msg);
    corvane_msg_write_zeros(msg, 12);
    uint16_t count = list->count > CORVANE_QUESTIONS_MAX ? CORVANE_QUESTIONS_MAX : list->count;
    put_u16(msg->data + 4, count);
    for (uint16_t i = 0; i < count; ++i) {
        corvane_status status = corvane_msg_write_question(msg, &list->questions[i]);
        if (status != CORVANE_OK) {
            return status;
        }
    }
    return CORVANE_OK;
}

corvane_status corvane_mdns_build_response(corvane_msg* msg, const corvane_record_list* list, uint16_t* next)
{
    corvane_msg_clear(msg);
    corvane_msg_write_zeros(msg, 12);
    msg->data[2] = 0x84;
    uint16_t total = list->total > CORVANE_RECORDS_MAX ? CORVANE_RECORDS_MAX : list->total;
    uint16_t counts[3] = {0, 0, 0};
    uint16_t index = 0; // position in the order answers, authority, additional
    corvane_status status = CORVANE_OK;
    for (uint32_t section = 0; section < 3 && status == CORVANE_OK; ++section) {
        for (uint16_t i = 0; i < total && status == CORVANE_OK; ++i) {
            uint32_t own = list->records[i].section > 2 ? 2 : list->records[i].section;
            if (own != section) {
                continue;
            }
            if (index++ < *next) {
                continue;
            }
            uint16_t length = msg->length;
            uint16_t offsets[12];
            memcpy(offsets, msg->label_offsets, sizeof(offsets));
            status = corvane_msg_write_record(msg, &list->records[i]);
            if (status != CORVANE_OK) {
                msg->length = length;
                memcpy(msg->label_offsets, offsets, sizeof(offsets));
                --index;
                break;
            }
            ++counts[section];
        }
    }
    uint16_t written = static_cast<uint16_t>(counts[0] + counts[1] + counts[2]);
    put_u16(msg->data + 6, counts[0]);
    put_u16(msg->data + 8, counts[1]);
    put_u16(msg->data + 10, counts[2]);
    if (status == CORVANE_ERR_BUFFER_FULL && written > 0) {
        status = CORVANE_OK; // the rest goes into the next message
    }
    *next = status == CORVANE_OK ? index : total;
    return status;
}

// Messages with a non-zero opcode or response code are not for the engine.
static bool plain_message(uint16_t flags)
{
    return (flags & 0x7800) == 0 && (flags & 0x000F) == 0;
}

corvane_status corvane_mdns_parse_queries(corvane_msg* msg, corvane_question_list* list)
{
    list->count = 0;
    msg->position = 0;
    uint16_t id = 0, flags = 0, questions = 0, skipped = 0;
    corvane_status status = corvane_msg_read_u16(msg, &id);
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &flags);
    }
    if (status == CORVANE_OK) {
        status = corvane_msg_read_u16(msg, &questions);
    }
    for (int i = 0; i < 3 && status == CORVANE_OK; ++i) {
        status = corvane_msg_read_u16(msg, &skipped);
    }
    if (status != CORVANE_OK || !plain_message(flags)) {
        return status;
    }
    if (questions > CORVANE_QUESTIONS_MAX) {
        questions = CORVANE_QUESTIONS_MAX;
    }
    for (uint16_t i = 0; i < questions; ++i) {
        if ((status = corvane_msg_read_question(msg, &list->questions[list->count])) != CORVANE_OK) {
            return status;
        }
        ++list->count;
    }
    return CORVANE_OK;
}

corvane_status corvane_mdns_parse_responses(corvane_msg* msg, corvane_record_list* list)
{
    list->answers = list->authority = list->additional = list->total = 0;
    msg->position = 0;
    uint16_t header[6] = {};
    corvane_status status = CORVANE_OK;
    for (int i = 0; i < 6 && status == CORVANE_OK; ++i) {
        status = corvane_msg_read_u16(msg, &header[i]);
    }
    if (status != CORVANE_OK || !plain_message(header[1])) {
        return status;
    }
    corvane_question question;
    for (uint16_t i = 0; i < header[2]; ++i) { // questions in a response are not looked at
        if ((status = corvane_msg_read_question(msg, &question)) != CORVANE_OK) {
            return status;
        }
    }
    uint16_t kept[3] = {0, 0, 0};
    uint16_t total = 0;
    for (uint32_t section = 0; section < 3; ++section) {
        for (uint16_t i = 0; i < header[3 + section] && total < CORVANE_RECORDS_MAX; ++i) {
            corvane_record& record = list->records[total];
            status = corvane_msg_read_record(msg, section, &record);
            if (status == CORVANE_ERR_TYPE ||
                (status == CORVANE_OK && record.name.kind == CORVANE_KIND_NONE)) {
                continue; // a record the engine does not use
            }
            if (status != CORVANE_OK) {
                return status;
            }
            ++kept[section];
            ++total;
        }
    }
    list->answers = kept[0];
    list->authority = kept[1];
    list->additional = kept[2];
    list->total = total;
    return CORVANE_OK;
}
