// DNS message codec for multicast DNS: bytes in, structure out, and back. No sockets.
//
// Names are kept in uncompressed wire form (length-prefixed labels ending with a zero byte) and
// compared without regard to ASCII case. The parser refuses, rather than guesses: compression
// pointers must point strictly backwards and are followed at most a bounded number of times,
// label lengths 0x40-0xBF and names over 255 bytes are refused, every record's data must fit its
// rdlength, and section counts beyond the data refuse the message. Records of types the core does
// not use are skipped; the others are kept.
#pragma once

#include "dnssd/core/mdns_heap.h"

namespace mdns {

enum : uint16_t
{
    kTypeA = 1,
    kTypePTR = 12,
    kTypeTXT = 16,
    kTypeAAAA = 28,
    kTypeSRV = 33,
    kTypeANY = 255,
    kClassIN = 1,
    kClassMask = 0x7FFF, // the top bit is cache-flush (records) or unicast-response (questions)
};

enum : uint16_t
{
    kFlagResponse = 0x8000,
    kFlagAuthoritative = 0x0400,
    kFlagTruncated = 0x0200,
    kOpcodeMask = 0x7800,
    kRcodeMask = 0x000F,
};

const size_t kMaxNameLength = 255;
const size_t kMaxLabelLength = 63;
const size_t kMaxMessageSize = 9000;

// A name in wire form, for example "\x01X\x05_rtsp\x04_tcp\x05local\x00".
typedef String Name;

bool NameEqual(const Name& a, const Name& b);
// A name with its ASCII letters in lower case (a key for maps).
Name NameLower(const Name& name);
// Parses dotted text with "\." and "\DDD" escapes ("_rtsp._tcp.local", trailing dot optional).
bool NameFromText(const char* text, Name& name);
// Appends a byte as "\DDD" (three decimal digits), the escape of bytes that text must not hold raw.
void AppendDecimalEscape(String& text, uint8_t byte);
// Dotted text with a trailing dot; dots and backslashes inside labels escaped, other bytes below
// 0x20 or 0x7F as \DDD.
String NameToText(const Name& name);
// The name with one label of raw bytes put in front of it; false when the result is invalid.
bool NamePrepend(const String& label, const Name& base, Name& name);
// Number of labels, and the raw bytes of label `index` (0 = first).
size_t NameLabelCount(const Name& name);
String NameLabel(const Name& name, size_t index);
// The name without its first `count` labels.
Name NameSuffix(const Name& name, size_t count);

struct Question
{
    Name name;
    uint16_t type = 0;
    uint16_t cls = kClassIN;
    bool unicastResponse = false;
};

struct Record
{
    Name name;
    uint16_t type = 0;
    uint16_t cls = kClassIN;
    bool cacheFlush = false;
    uint32_t ttl = 0;
    Name target; // PTR and SRV
    uint16_t priority = 0, weight = 0, port = 0;
    Bytes data; // A, AAAA and TXT: the rdata as it stands
};

// Same name, type, class and data (TTL and cache-flush aside).
bool SameRecord(const Record& a, const Record& b);
bool SameData(const Record& a, const Record& b);
// Orders two records' data as probing tie-breaks do (class, type, then rdata bytes).
int CompareData(const Record& a, const Record& b);

struct Message
{
    uint16_t id = 0;
    uint16_t flags = 0;
    Vector<Question> questions;
    Vector<Record> answers;
    Vector<Record> authorities;
    Vector<Record> additionals;
};

// False, with `message` in an unspecified state, when the bytes are not a sound DNS message.
bool ParseMessage(const uint8_t* data, size_t size, Message& message);

// Builds one message with name compression, refusing any addition that would pass `limit` bytes
// (the message then stays as it was before that addition).
class MessageBuilder
{
public:
    explicit MessageBuilder(size_t limit = 1460);
    void Begin(uint16_t id, uint16_t flags);
    bool AddQuestion(const Question& question);
    // section: 0 answers, 1 authorities, 2 additionals; added in that order.
    bool AddRecord(int section, const Record& record);
    void SetFlags(uint16_t flags);
    size_t Count() const { return m_Counts[0] + m_Counts[1] + m_Counts[2] + m_Counts[3]; }
    // The finished message; valid until the next change.
    const Bytes& Data() const { return m_Bytes; }

private:
    bool WriteName(const Name& name);
    void Put16(uint16_t value);
    void Put32(uint32_t value);
    void SetCount(int index);

    size_t m_Limit;
    Bytes m_Bytes;
    uint16_t m_Counts[4] = {0, 0, 0, 0};
    struct Suffix
    {
        uint16_t offset;
        Name name;
    };
    Vector<Suffix> m_Suffixes;
};

// Encodes a whole message (for tests and round trips): false when it does not fit `limit`.
bool BuildMessage(const Message& message, Bytes& out, size_t limit = kMaxMessageSize);

} // namespace mdns
