// What the engine's source files share: its timing constants, the states of requests and
// registrations, and the records it keeps for them. Private to the engine (mdns_engine.cpp, the
// cache, the querier and the responder).
#pragma once

#include "dnssd/core/mdns_engine.h"

namespace mdns {

const uint32_t kSharedTtl = 4500;
const uint32_t kUniqueTtl = 120;
const uint32_t kMaxQueryInterval = 3600u * 1000u;
const uint64_t kAddressTimeout = 5000;
const size_t kPacketLimit = 1460;
const uint64_t kConflictBackOff = 5000; // the wait before a probe after a burst of conflicts
enum
{
    kBrowse,
    kEnumerate,
    kResolve,
    kAddress
};
enum
{
    kProbing,
    kAnnouncing,
    kAnnounced,
    kDead
};

Name LocalDomain();
Name EnumerationName();
String Decimal(uint64_t value);
// The length of the longest prefix of at most `limit` bytes that does not end inside a UTF-8
// character (names are UTF-8 on the wire; bytes that are not UTF-8 are cut at the limit).
size_t Utf8Prefix(const String& text, size_t limit);
// The text for a log line: control characters as every log line shows them (\r, \n, \t, \xNN),
// so a name cannot break the line.
String LogText(const String& text);
// The text of `count` labels of the name from label `from` on, e.g. "_rtsp._tcp.".
String LabelsText(const Name& name, size_t from, size_t count);

struct Engine::CacheEntry
{
    // The hosts that announced the record (the first few).
    void AddSource(uint32_t source)
    {
        for (uint8_t i = 0; i < sourceCount; ++i) {
            if (sources[i] == source) {
                return;
            }
        }
        if (source != 0 && sourceCount < 4) {
            sources[sourceCount++] = source;
        }
    }
    // True while other hosts still have the record after this one's goodbye.
    bool RemoveSource(uint32_t source)
    {
        for (uint8_t i = 0; i < sourceCount; ++i) {
            if (sources[i] == source) {
                sources[i] = sources[--sourceCount];
                return sourceCount > 0;
            }
        }
        return sourceCount > 0;
    }

    Record record;
    uint32_t sources[4] = {0, 0, 0, 0};
    uint8_t sourceCount = 0;
    uint32_t ifIndex = 0;
    uint64_t created = 0;
    uint64_t expires = 0;
    uint64_t nextRefresh = UINT64_MAX;
    int refreshStep = 0;
    bool local = false;
};

struct Engine::Query
{
    void* owner = nullptr;
    int kind = kBrowse;
    uint32_t ifIndex = 0;
    uint32_t flags = 0;
    Name name;
    uint16_t types[2] = {0, 0};
    int typeCount = 1;
    uint64_t nextSend = 0;
    uint32_t interval = 1000;
    uint64_t deadline = UINT64_MAX;
    bool delivered = false; // initial delivery from the cache done
    bool answered = false;
    bool done = false;
    Map<uint32_t, String> lastResolve; // per interface: what was delivered last
};

struct Engine::Registration
{
    void* owner = nullptr;
    uint32_t flags = 0;
    uint32_t ifIndex = 0;
    String baseLabel, label;
    int renameCount = 1;
    Name type, instance;
    Vector<Name> subtypes;
    uint16_t port = 0;
    Bytes txt;
    int state = kProbing;
    int count = 0;
    uint64_t nextTime = 0;
};

struct Engine::Pending
{
    uint64_t due = UINT64_MAX;
    bool probe = false;
    Vector<Record> answers;
};

} // namespace mdns
