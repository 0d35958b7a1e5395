// The multicast-DNS querier and responder of the DNS-SD daemon, with no sockets and no clock of
// its own: everything it needs from the world comes through one Environment {now, random, send,
// log}, and everything it tells its clients goes to one Listener. So probing, announcing, query
// back-off and cache expiry run in tests without real time.
//
// Single-threaded: the daemon calls every member from its own thread. Receive() and the request
// calls do what is due at once; Run() does what has become due since and returns when to call it
// again. Requests are identified by an owner pointer (the daemon's client connection); every reply
// carries it back.
#pragma once

#include "dnssd/core/dns_message.h"
#include "foundation/LogLimits.h"

namespace mdns {

const uint32_t kMdnsGroup = 0xE00000FB; // 224.0.0.251, host order
const uint16_t kMdnsPort = 5353;

// The same values as the client interface's error codes and flags.
enum : int32_t
{
    kErrNoError = 0,
    kErrNoMemory = -65539,
    kErrBadParam = -65540,
    kErrUnsupported = -65544,
    kErrNameConflict = -65548,
    kErrBadInterfaceIndex = -65552,
    kErrTimeout = -65568,
};
enum : uint32_t
{
    kReplyMoreComing = 0x1,
    kReplyAdd = 0x2,
    kRequestNoAutoRename = 0x8,
    kRequestTimeout = 0x10000,
};

// An IPv4 interface; addresses and masks in host byte order.
struct Interface
{
    uint32_t index = 0;
    uint32_t address = 0;
    uint32_t mask = 0;
};

class Environment
{
public:
    virtual ~Environment() = default;
    // Milliseconds, never going back.
    virtual uint64_t Now() = 0;
    // A number in [0, below).
    virtual uint32_t Random(uint32_t below) = 0;
    // One datagram out of the interface; address and port in host order (kMdnsGroup:kMdnsPort for
    // multicast).
    virtual void Send(uint32_t ifIndex, const uint8_t* data, size_t size, uint32_t address,
                      uint16_t port) = 0;
    virtual void Log(const char* line) = 0;
};

// One reply to a request. Browse: name = instance (raw label), type = "_rtsp._tcp.", domain =
// "local." (type enumeration: "_rtsp", "_tcp.local.", "."). Resolve: name = escaped full name,
// type = host target, port, txt. Address: name = host name, address, ttl. Register: name, type,
// domain of the registered service.
struct Reply
{
    uint32_t flags = 0;
    uint32_t ifIndex = 0;
    int32_t error = kErrNoError;
    String name, type, domain;
    uint16_t port = 0; // host order
    Bytes txt;
    uint32_t address = 0; // host order
    uint32_t ttl = 0;
};

class Listener
{
public:
    virtual ~Listener() = default;
    virtual void OnReply(void* owner, const Reply& reply) = 0;
};

class Engine
{
public:
    Engine(Environment& env, Listener& listener);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The host label of "<label>.local." (the computer name).
    void SetHostLabel(const char* label);
    void SetInterfaces(const Vector<Interface>& interfaces);

    // Each returns kErrNoError or the error of the request; replies follow through the Listener.
    int32_t Browse(void* owner, uint32_t ifIndex, const char* regtype, const char* domain);
    int32_t Resolve(void* owner, uint32_t ifIndex, const char* name, const char* regtype, const char* domain);
    int32_t LookUpAddress(void* owner, uint32_t flags, uint32_t ifIndex, uint32_t protocol, const char* host);
    int32_t Register(void* owner, uint32_t flags, uint32_t ifIndex, const char* name, const char* regtype,
                     const char* domain, const char* host, uint16_t port, const uint8_t* txt, size_t txtLen);
    // Ends the owner's request; a registration says goodbye.
    void Cancel(void* owner);

    // One received datagram; address and port in host order.
    void Receive(uint32_t ifIndex, const uint8_t* data, size_t size, uint32_t source, uint16_t port);
    // Does the due work; returns the time of the next.
    uint64_t Run();
    // Goodbyes for every registration, then forgets every request and record.
    void Shutdown();

    size_t CacheSize() const { return m_CacheCount; }
    static const size_t kMaxCacheEntries = 20000;

private:
    struct Query;
    struct Registration;
    struct CacheEntry;
    struct CacheKey
    {
        uint32_t ifIndex;
        uint16_t type;
        Name name; // lower case
        bool operator<(const CacheKey& o) const;
    };
    struct Pending;

    bool KnownInterface(uint32_t ifIndex) const;
    const Interface* FindInterface(uint32_t ifIndex) const;
    bool InScope(uint32_t scope, uint32_t ifIndex) const { return scope == 0 || scope == ifIndex; }
    int32_t AddQuery(Query* query);

    // Cache.
    void CacheRecord(uint32_t ifIndex, const Record& record, bool local, uint32_t source);
    void CacheGoodbye(uint32_t ifIndex, const Record& record, uint32_t source);
    void Notify(const CacheEntry& entry, bool added);
    void NotifyQuery(Query& query, const CacheEntry& entry, bool added);
    void DeliverResolve(Query& query, uint32_t ifIndex);
    void RunCache(uint64_t now);
    bool Interested(uint32_t ifIndex, const Name& name, uint16_t type) const;
    void ScheduleCache(const CacheEntry& entry);

    // Querier.
    void RunQueries(uint64_t now);
    void SendQuestions(uint32_t ifIndex, const Vector<Question>& questions, bool withKnownAnswers);

    // Responder.
    void RunRegistration(Registration& reg, uint64_t now);
    void RegistrationRecords(const Registration& reg, uint32_t ifIndex, Vector<Record>& records) const;
    bool HostRecord(uint32_t ifIndex, Record& record) const;
    void Rename(Registration& reg);
    // Notes a name conflict; true while probes wait kConflictBackOff after each.
    bool NoteConflict(uint64_t now);
    void Goodbye(Registration& reg);
    void CheckConflicts(uint32_t ifIndex, const Message& message);
    // False when the query wants unicast answers from a host off the interface's subnet (refused).
    bool Answer(uint32_t ifIndex, const Message& message, uint32_t source, uint16_t port);
    // True when the record went to the address within `gap` ms; otherwise notes it as sent now.
    bool SentLately(uint32_t ifIndex, const Record& record, uint32_t address, uint64_t gap, uint64_t now);
    void SendRecords(uint32_t ifIndex, const Vector<Record>& answers, const Vector<Record>& additionals,
                     uint32_t address, uint16_t port, uint16_t id, const Vector<Question>* echo);
    void RunPending(uint64_t now);

    void LogDropped(uint32_t source, const char* what, size_t size, uint32_t ifIndex);

    Environment& m_Env;
    Listener& m_Listener;
    String m_HostLabel;
    Name m_HostName;
    Vector<Interface> m_Interfaces;
    Vector<Query*> m_Queries;
    Vector<Registration*> m_Registrations;
    Map<CacheKey, Vector<CacheEntry>> m_Cache;
    size_t m_CacheCount = 0;
    uint64_t m_NextCacheWork = UINT64_MAX;
    Map<uint32_t, Pending> m_Pending;
    Map<String, uint64_t> m_LastSent; // our records' last answers per address (and group), for a second
    CSenderLogLimit m_DropLog;        // lines about dropped datagrams
    uint64_t m_LastFullLog = 0;
    bool m_FullLogged = false;
    // The times of the last kConflictBurst name conflicts (a ring), and whether probes back off.
    static const size_t kConflictBurst = 15;
    uint64_t m_ConflictTimes[kConflictBurst] = {};
    size_t m_ConflictNext = 0;
    size_t m_ConflictCount = 0;
    uint64_t m_LastConflict = 0;
    bool m_ProbeBackOff = false;
};

// Checks a service type "_app._tcp" (trailing dot allowed) with optional ",_sub" subtypes, as the
// client calls pass it; fills the type's name and the subtypes' labels.
bool ParseServiceType(const char* regtype, Name& type, Vector<String>* subtypes);

} // namespace mdns
