#include "dnssd/core/mdns_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace mdns {
namespace {

const uint32_t kSharedTtl = 4500;
const uint32_t kUniqueTtl = 120;
const uint32_t kMaxQueryInterval = 3600u * 1000u;
const uint64_t kAddressTimeout = 5000;
const size_t kPacketLimit = 1460;
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

Name LocalDomain()
{
    Name name;
    NameFromText("local.", name);
    return name;
}

Name EnumerationName()
{
    Name name;
    NameFromText("_services._dns-sd._udp.local.", name);
    return name;
}

bool DomainOk(const char* domain)
{
    return domain == nullptr || domain[0] == '\0' || std::strcmp(domain, "local") == 0 ||
           std::strcmp(domain, "local.") == 0;
}

bool ServiceLabelOk(const String& label)
{
    if (label.size() < 2 || label.size() > 16 || label[0] != '_') {
        return false;
    }
    for (size_t i = 1; i < label.size(); ++i) {
        char c = label[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) {
            return false;
        }
    }
    return true;
}

String Decimal(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(value));
    return String(text);
}

// The text of `count` labels of the name from label `from` on, e.g. "_rtsp._tcp.".
String LabelsText(const Name& name, size_t from, size_t count)
{
    Name part = NameSuffix(name, from);
    Name rest = NameSuffix(part, count);
    return NameToText(part.substr(0, part.size() - rest.size()) + String(1, '\0'));
}

// Identifies one of our records on one interface.
String MulticastKey(uint32_t ifIndex, const Record& r)
{
    String key =
        Decimal(ifIndex) + ":" + Decimal(r.type) + ":" + NameLower(r.name) + ":" + NameLower(r.target);
    key.append(r.data.begin(), r.data.end());
    return key;
}

} // namespace

bool ParseServiceType(const char* regtype, Name& type, Vector<String>* subtypes)
{
    if (regtype == nullptr) {
        return false;
    }
    String text(regtype);
    String base = text.substr(0, text.find(','));
    if (!base.empty() && base.back() == '.') {
        base.pop_back();
    }
    size_t dot = base.find('.');
    if (dot == String::npos) {
        return false;
    }
    String app = base.substr(0, dot), proto = base.substr(dot + 1);
    if (!ServiceLabelOk(app) || (proto != "_tcp" && proto != "_udp")) {
        return false;
    }
    Name local = LocalDomain(), withProto;
    if (!NamePrepend(proto, local, withProto) || !NamePrepend(app, withProto, type)) {
        return false;
    }
    size_t pos = text.find(',');
    while (pos != String::npos) {
        size_t next = text.find(',', pos + 1);
        String sub = text.substr(pos + 1, next == String::npos ? String::npos : next - pos - 1);
        if (sub.empty() || sub.size() > kMaxLabelLength || subtypes == nullptr) {
            return false;
        }
        subtypes->push_back(sub);
        pos = next;
    }
    return true;
}

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
    uint64_t conflictWindowStart = 0;
    int conflictsInWindow = 0;
};

struct Engine::Pending
{
    uint64_t due = UINT64_MAX;
    bool probe = false;
    Vector<Record> answers;
};

bool Engine::CacheKey::operator<(const CacheKey& o) const
{
    if (ifIndex != o.ifIndex) {
        return ifIndex < o.ifIndex;
    }
    if (type != o.type) {
        return type < o.type;
    }
    return name < o.name;
}

Engine::Engine(Environment& env, Listener& listener) : m_Env(env), m_Listener(listener)
{
    SetHostLabel("host");
}

Engine::~Engine()
{
    for (Query* q : m_Queries) {
        q->~Query();
        CoreFree(q);
    }
    for (Registration* r : m_Registrations) {
        r->~Registration();
        CoreFree(r);
    }
}

template <class T> static T* NewCore()
{
    void* block = CoreAlloc(sizeof(T));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return new (block) T();
}

template <class T> static void DeleteCore(T* object)
{
    object->~T();
    CoreFree(object);
}

void Engine::SetHostLabel(const char* label)
{
    String text(label != nullptr && label[0] != '\0' ? label : "host");
    if (text.size() > kMaxLabelLength) {
        text.resize(kMaxLabelLength);
    }
    m_HostLabel = text;
    NamePrepend(m_HostLabel, LocalDomain(), m_HostName);
}

void Engine::SetInterfaces(const Vector<Interface>& interfaces)
{
    m_Interfaces = interfaces;
    for (const Interface& itf : m_Interfaces) {
        Record a;
        if (HostRecord(itf.index, a)) {
            CacheRecord(itf.index, a, true, 0);
        }
    }
}

const Interface* Engine::FindInterface(uint32_t ifIndex) const
{
    for (const Interface& itf : m_Interfaces) {
        if (itf.index == ifIndex) {
            return &itf;
        }
    }
    return nullptr;
}

bool Engine::KnownInterface(uint32_t ifIndex) const
{
    return ifIndex == 0 || FindInterface(ifIndex) != nullptr;
}

bool Engine::HostRecord(uint32_t ifIndex, Record& record) const
{
    const Interface* itf = FindInterface(ifIndex);
    if (itf == nullptr) {
        return false;
    }
    record = Record();
    record.name = m_HostName;
    record.type = kTypeA;
    record.cacheFlush = true;
    record.ttl = kUniqueTtl;
    for (int shift = 24; shift >= 0; shift -= 8) {
        record.data.push_back(static_cast<uint8_t>(itf->address >> shift));
    }
    return true;
}

// --- Requests ------------------------------------------------------------------------------------

int32_t Engine::AddQuery(Query* query)
{
    query->nextSend = m_Env.Now() + 20 + m_Env.Random(100);
    m_Queries.push_back(query);
    return kErrNoError;
}

int32_t Engine::Browse(void* owner, uint32_t ifIndex, const char* regtype, const char* domain)
{
    Name type;
    Vector<String> subtypes;
    const bool enumerate = regtype != nullptr && (std::strcmp(regtype, "_services._dns-sd._udp") == 0 ||
                                                  std::strcmp(regtype, "_services._dns-sd._udp.") == 0);
    if (!DomainOk(domain) ||
        (!enumerate && (!ParseServiceType(regtype, type, &subtypes) || subtypes.size() > 1))) {
        return kErrBadParam;
    }
    if (!KnownInterface(ifIndex)) {
        return kErrBadInterfaceIndex;
    }
    Query* q = NewCore<Query>();
    q->owner = owner;
    q->kind = enumerate ? kEnumerate : kBrowse;
    q->ifIndex = ifIndex;
    q->types[0] = kTypePTR;
    if (enumerate) {
        q->name = EnumerationName();
    } else if (subtypes.empty()) {
        q->name = type;
    } else {
        Name sub;
        NamePrepend("_sub", type, sub);
        if (!NamePrepend(subtypes[0], sub, q->name)) {
            DeleteCore(q);
            return kErrBadParam;
        }
    }
    return AddQuery(q);
}

int32_t Engine::Resolve(void* owner, uint32_t ifIndex, const char* name, const char* regtype,
                        const char* domain)
{
    Name type;
    if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxLabelLength || !DomainOk(domain) ||
        !ParseServiceType(regtype, type, nullptr)) {
        return kErrBadParam;
    }
    if (!KnownInterface(ifIndex)) {
        return kErrBadInterfaceIndex;
    }
    Query* q = NewCore<Query>();
    q->owner = owner;
    q->kind = kResolve;
    q->ifIndex = ifIndex;
    q->types[0] = kTypeSRV;
    q->types[1] = kTypeTXT;
    q->typeCount = 2;
    NamePrepend(String(name), type, q->name);
    return AddQuery(q);
}

int32_t Engine::LookUpAddress(void* owner, uint32_t flags, uint32_t ifIndex, uint32_t protocol,
                              const char* host)
{
    Name name;
    if (host == nullptr || !NameFromText(host, name) || (protocol & ~3u) != 0) {
        return kErrBadParam;
    }
    if (!KnownInterface(ifIndex)) {
        return kErrBadInterfaceIndex;
    }
    Query* q = NewCore<Query>();
    q->owner = owner;
    q->kind = kAddress;
    q->flags = flags;
    q->ifIndex = ifIndex;
    q->types[0] = kTypeA;
    q->name = name;
    if ((flags & kRequestTimeout) != 0) {
        q->deadline = m_Env.Now() + kAddressTimeout;
    }
    return AddQuery(q);
}

int32_t Engine::Register(void* owner, uint32_t flags, uint32_t ifIndex, const char* name, const char* regtype,
                         const char* domain, const char* host, uint16_t port, const uint8_t* txt,
                         size_t txtLen)
{
    Name type;
    Vector<String> subtypes;
    String label(name != nullptr && name[0] != '\0' ? name : m_HostLabel.c_str());
    if (label.size() > kMaxLabelLength || !DomainOk(domain) || !ParseServiceType(regtype, type, &subtypes) ||
        (host != nullptr && host[0] != '\0') || txtLen > 0xFFFF || (txtLen > 0 && txt == nullptr)) {
        return kErrBadParam;
    }
    if (!KnownInterface(ifIndex)) {
        return kErrBadInterfaceIndex;
    }
    Registration* r = NewCore<Registration>();
    r->owner = owner;
    r->flags = flags;
    r->ifIndex = ifIndex;
    r->baseLabel = r->label = label;
    r->type = type;
    for (const String& s : subtypes) {
        Name sub, full;
        NamePrepend("_sub", type, sub);
        if (!NamePrepend(s, sub, full)) {
            DeleteCore(r);
            return kErrBadParam;
        }
        r->subtypes.push_back(full);
    }
    NamePrepend(label, type, r->instance);
    r->port = port;
    if (txtLen == 0) {
        r->txt.assign(1, 0); // an empty TXT record holds one zero byte
    } else {
        r->txt.assign(txt, txt + txtLen);
    }
    r->nextTime = m_Env.Now() + m_Env.Random(250);
    m_Registrations.push_back(r);
    return kErrNoError;
}

void Engine::Cancel(void* owner)
{
    for (size_t i = 0; i < m_Queries.size(); ++i) {
        if (m_Queries[i]->owner == owner) {
            DeleteCore(m_Queries[i]);
            m_Queries.erase(m_Queries.begin() + static_cast<ptrdiff_t>(i));
            --i;
        }
    }
    for (size_t i = 0; i < m_Registrations.size(); ++i) {
        if (m_Registrations[i]->owner == owner) {
            Goodbye(*m_Registrations[i]);
            DeleteCore(m_Registrations[i]);
            m_Registrations.erase(m_Registrations.begin() + static_cast<ptrdiff_t>(i));
            --i;
        }
    }
}

void Engine::Shutdown()
{
    for (Registration* r : m_Registrations) {
        Goodbye(*r);
        DeleteCore(r);
    }
    m_Registrations.clear();
    for (Query* q : m_Queries) {
        DeleteCore(q);
    }
    m_Queries.clear();
    Vector<Record> hostGoodbyes;
    for (const Interface& itf : m_Interfaces) {
        Record a;
        if (HostRecord(itf.index, a)) {
            a.ttl = 0;
            Vector<Record> one(1, a);
            SendRecords(itf.index, one, Vector<Record>(), kMdnsGroup, kMdnsPort, 0, nullptr);
        }
    }
    m_Cache.clear();
    m_CacheCount = 0;
    m_Pending.clear();
    for (DropLog& d : m_DropLogged) {
        d = DropLog();
    }
    m_NextCacheWork = UINT64_MAX;
}

// --- Cache ---------------------------------------------------------------------------------------

void Engine::ScheduleCache(const CacheEntry& entry)
{
    if (entry.local) {
        if (entry.expires < m_NextCacheWork) {
            m_NextCacheWork = entry.expires;
        }
        return;
    }
    uint64_t next = entry.expires < entry.nextRefresh ? entry.expires : entry.nextRefresh;
    if (next < m_NextCacheWork) {
        m_NextCacheWork = next;
    }
}

void Engine::CacheRecord(uint32_t ifIndex, const Record& record, bool local, uint32_t source)
{
    const uint64_t now = m_Env.Now();
    CacheKey key{ifIndex, record.type, NameLower(record.name)};
    Vector<CacheEntry>& entries = m_Cache[key];
    for (CacheEntry& e : entries) {
        if (SameData(e.record, record) && e.record.cls == record.cls) {
            if (e.local && !local) {
                return; // a record of ours; another host's copy changes nothing
            }
            e.local = local;
            e.AddSource(source);
            e.record.ttl = record.ttl;
            e.created = now;
            e.expires = local ? UINT64_MAX : now + uint64_t(record.ttl) * 1000;
            e.refreshStep = 0;
            e.nextRefresh = local ? UINT64_MAX : now + uint64_t(record.ttl) * (800 + m_Env.Random(20));
            ScheduleCache(e);
            return;
        }
    }
    if (m_CacheCount >= kMaxCacheEntries) {
        if (entries.empty()) {
            m_Cache.erase(key);
        }
        if (!m_FullLogged || now - m_LastFullLog >= 60000) {
            m_FullLogged = true;
            m_LastFullLog = now;
            m_Env.Log("mDNS cache full: records dropped");
        }
        return;
    }
    CacheEntry e;
    e.record = record;
    e.ifIndex = ifIndex;
    e.local = local;
    e.AddSource(source);
    e.created = now;
    e.expires = local ? UINT64_MAX : now + uint64_t(record.ttl) * 1000;
    e.nextRefresh = local ? UINT64_MAX : now + uint64_t(record.ttl) * (800 + m_Env.Random(20));
    entries.push_back(e);
    ++m_CacheCount;
    ScheduleCache(e);
    Notify(e, true);
}

// A goodbye (TTL 0): the record goes 1 s later, so a quick re-announcement keeps it. A record that
// other hosts announced too (a type's enumeration record, for one) stays while any of them has it.
// Source 0 is this host.
void Engine::CacheGoodbye(uint32_t ifIndex, const Record& record, uint32_t source)
{
    auto it = m_Cache.find(CacheKey{ifIndex, record.type, NameLower(record.name)});
    if (it == m_Cache.end()) {
        return;
    }
    const uint64_t now = m_Env.Now();
    for (CacheEntry& e : it->second) {
        if (!SameData(e.record, record) || e.expires <= now + 1000 || e.local != (source == 0)) {
            continue;
        }
        if (!e.local && e.RemoveSource(source)) {
            continue;
        }
        e.local = false;
        e.expires = now + 1000;
        e.nextRefresh = UINT64_MAX;
        ScheduleCache(e);
    }
}

bool Engine::Interested(uint32_t ifIndex, const Name& name, uint16_t type) const
{
    for (const Query* q : m_Queries) {
        if (!q->done && InScope(q->ifIndex, ifIndex) && (q->types[0] == type || q->types[1] == type) &&
            NameEqual(q->name, name)) {
            return true;
        }
    }
    return false;
}

void Engine::RunCache(uint64_t now)
{
    if (now < m_NextCacheWork) {
        return;
    }
    m_NextCacheWork = UINT64_MAX;
    Map<uint32_t, Vector<Question>> refresh;
    Vector<CacheEntry> removed;
    for (auto it = m_Cache.begin(); it != m_Cache.end();) {
        Vector<CacheEntry>& entries = it->second;
        bool erased = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            CacheEntry& e = entries[i];
            if (e.expires <= now) {
                erased = true;
                removed.push_back(e);
                entries.erase(entries.begin() + static_cast<ptrdiff_t>(i));
                --m_CacheCount;
                --i;
                continue;
            }
            if (!e.local && e.nextRefresh <= now) {
                if (Interested(e.ifIndex, e.record.name, e.record.type)) {
                    Vector<Question>& qs = refresh[e.ifIndex];
                    bool listed = false;
                    for (const Question& q : qs) {
                        listed = listed || (q.type == e.record.type && NameEqual(q.name, e.record.name));
                    }
                    if (!listed) {
                        Question q;
                        q.name = e.record.name;
                        q.type = e.record.type;
                        qs.push_back(q);
                    }
                }
                // Refresh points at 80, 85, 90 and 95 % of the TTL, each plus up to 2 %.
                ++e.refreshStep;
                e.nextRefresh =
                    e.refreshStep >= 4
                        ? UINT64_MAX
                        : e.created + uint64_t(e.record.ttl) * (800 + 50 * e.refreshStep + m_Env.Random(20));
            }
            ScheduleCache(e);
        }
        if (entries.empty()) {
            it = m_Cache.erase(it);
        } else {
            if (erased) {
                entries.shrink_to_fit(); // a burst of records leaves no larger block behind
            }
            ++it;
        }
    }
    for (const CacheEntry& e : removed) {
        Notify(e, false);
    }
    for (const auto& r : refresh) {
        SendQuestions(r.first, r.second, false);
    }
}

void Engine::Notify(const CacheEntry& entry, bool added)
{
    for (size_t i = 0; i < m_Queries.size(); ++i) {
        Query& q = *m_Queries[i];
        if (q.done || !q.delivered || !InScope(q.ifIndex, entry.ifIndex) ||
            (q.types[0] != entry.record.type && q.types[1] != entry.record.type) ||
            !NameEqual(q.name, entry.record.name)) {
            continue;
        }
        NotifyQuery(q, entry, added);
    }
}

void Engine::NotifyQuery(Query& q, const CacheEntry& entry, bool added)
{
    Reply reply;
    reply.ifIndex = entry.ifIndex;
    reply.flags = added ? uint32_t(kReplyAdd) : 0u;
    const Record& r = entry.record;
    switch (q.kind) {
    case kBrowse:
        if (NameLabelCount(r.target) < 4) {
            return;
        }
        reply.name = NameLabel(r.target, 0);
        reply.type = LabelsText(r.target, 1, 2);
        reply.domain = NameToText(NameSuffix(r.target, 3));
        break;
    case kEnumerate:
        // Service types only ("_app._tcp.local."): some responders list their subtypes too.
        if (NameLabelCount(r.target) < 3 ||
            (NameLower(NameLabel(r.target, 1)) != "_tcp" && NameLower(NameLabel(r.target, 1)) != "_udp")) {
            return;
        }
        reply.name = NameLabel(r.target, 0);
        reply.type = NameToText(NameSuffix(r.target, 1));
        reply.domain = ".";
        break;
    case kResolve:
        if (added) {
            DeliverResolve(q, entry.ifIndex);
        }
        return;
    case kAddress:
        if (r.data.size() != 4) {
            return;
        }
        reply.name = NameToText(r.name);
        reply.address =
            uint32_t(r.data[0]) << 24 | uint32_t(r.data[1]) << 16 | uint32_t(r.data[2]) << 8 | r.data[3];
        reply.ttl = r.ttl;
        if (added) {
            q.answered = true;
        }
        break;
    }
    m_Listener.OnReply(q.owner, reply);
}

void Engine::DeliverResolve(Query& q, uint32_t ifIndex)
{
    const Vector<CacheEntry>* lists[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        auto it = m_Cache.find(CacheKey{ifIndex, q.types[i], NameLower(q.name)});
        if (it == m_Cache.end() || it->second.empty()) {
            return;
        }
        lists[i] = &it->second;
    }
    const Record& srv = lists[0]->back().record;
    const Record& txt = lists[1]->back().record;
    Reply reply;
    reply.flags = kReplyAdd;
    reply.ifIndex = ifIndex;
    reply.name = NameToText(q.name);
    reply.type = NameToText(srv.target);
    reply.port = srv.port;
    reply.txt = txt.data;
    String signature = reply.type + ":" + Decimal(srv.port) + ":" + String(txt.data.begin(), txt.data.end());
    auto last = q.lastResolve.find(ifIndex);
    if (last != q.lastResolve.end() && last->second == signature) {
        return;
    }
    q.lastResolve[ifIndex] = signature;
    m_Listener.OnReply(q.owner, reply);
}

// --- Querier -------------------------------------------------------------------------------------

void Engine::RunQueries(uint64_t now)
{
    Map<uint32_t, Vector<Question>> out;
    for (size_t i = 0; i < m_Queries.size(); ++i) {
        Query& q = *m_Queries[i];
        if (q.done) {
            continue;
        }
        if (!q.delivered) {
            // What the cache already knows comes first.
            q.delivered = true;
            for (int t = 0; t < q.typeCount; ++t) {
                for (const Interface& itf : m_Interfaces) {
                    auto it = m_Cache.find(CacheKey{itf.index, q.types[t], NameLower(q.name)});
                    if (!InScope(q.ifIndex, itf.index) || it == m_Cache.end()) {
                        continue;
                    }
                    Vector<CacheEntry> copy = it->second;
                    for (const CacheEntry& e : copy) {
                        NotifyQuery(q, e, true);
                    }
                }
            }
        }
        if (q.deadline <= now && !q.answered) {
            q.done = true;
            Reply reply;
            reply.error = kErrTimeout;
            m_Listener.OnReply(q.owner, reply);
            continue;
        }
        if (q.nextSend > now) {
            continue;
        }
        q.nextSend = now + q.interval;
        q.interval = q.interval >= kMaxQueryInterval / 2 ? kMaxQueryInterval : q.interval * 2;
        for (const Interface& itf : m_Interfaces) {
            if (!InScope(q.ifIndex, itf.index)) {
                continue;
            }
            for (int t = 0; t < q.typeCount; ++t) {
                Question question;
                question.name = q.name;
                question.type = q.types[t];
                Vector<Question>& list = out[itf.index];
                bool listed = false;
                for (const Question& o : list) {
                    listed = listed || (o.type == question.type && NameEqual(o.name, question.name));
                }
                if (!listed) {
                    list.push_back(question);
                }
            }
        }
    }
    for (const auto& o : out) {
        SendQuestions(o.first, o.second, true);
    }
}

// Questions with their known answers (records still past half their TTL); what does not fit one
// packet goes on in the next, with the truncated bit set on all but the last.
void Engine::SendQuestions(uint32_t ifIndex, const Vector<Question>& questions, bool withKnownAnswers)
{
    const uint64_t now = m_Env.Now();
    Vector<Record> known;
    if (withKnownAnswers) {
        for (const Question& q : questions) {
            auto it = m_Cache.find(CacheKey{ifIndex, q.type, NameLower(q.name)});
            if (it == m_Cache.end()) {
                continue;
            }
            for (const CacheEntry& e : it->second) {
                if (e.local) {
                    continue;
                }
                uint64_t left = e.expires > now ? e.expires - now : 0;
                if (left * 2 > uint64_t(e.record.ttl) * 1000) {
                    Record r = e.record;
                    r.ttl = static_cast<uint32_t>(left / 1000);
                    r.cacheFlush = false;
                    known.push_back(r);
                }
            }
        }
    }
    MessageBuilder builder(kPacketLimit);
    size_t qi = 0, ki = 0;
    while (qi < questions.size() || ki < known.size()) {
        builder.Begin(0, 0);
        while (qi < questions.size() && builder.AddQuestion(questions[qi])) {
            ++qi;
        }
        while (ki < known.size() && builder.AddRecord(0, known[ki])) {
            ++ki;
        }
        if (builder.Count() == 0) {
            ++ki; // a record too large for any packet
            continue;
        }
        if (qi < questions.size() || ki < known.size()) {
            builder.SetFlags(kFlagTruncated);
        }
        m_Env.Send(ifIndex, builder.Data().data(), builder.Data().size(), kMdnsGroup, kMdnsPort);
    }
}

// --- Responder -----------------------------------------------------------------------------------

void Engine::RegistrationRecords(const Registration& reg, uint32_t ifIndex, Vector<Record>& records) const
{
    Record ptr;
    ptr.type = kTypePTR;
    ptr.ttl = kSharedTtl;
    ptr.name = reg.type;
    ptr.target = reg.instance;
    records.push_back(ptr);
    for (const Name& sub : reg.subtypes) {
        ptr.name = sub;
        records.push_back(ptr);
    }
    ptr.name = EnumerationName();
    ptr.target = reg.type;
    records.push_back(ptr);
    Record srv;
    srv.name = reg.instance;
    srv.type = kTypeSRV;
    srv.cacheFlush = true;
    srv.ttl = kUniqueTtl;
    srv.port = reg.port;
    srv.target = m_HostName;
    records.push_back(srv);
    Record txt;
    txt.name = reg.instance;
    txt.type = kTypeTXT;
    txt.cacheFlush = true;
    txt.ttl = kSharedTtl;
    txt.data = reg.txt;
    records.push_back(txt);
    (void)ifIndex;
}

void Engine::RunRegistration(Registration& reg, uint64_t now)
{
    if (reg.state == kDead || reg.nextTime > now) {
        return;
    }
    Vector<Record> records;
    if (reg.state == kProbing && reg.count < 3) {
        // A probe: the name in question, our proposed records in the authority section.
        RegistrationRecords(reg, 0, records);
        for (const Interface& itf : m_Interfaces) {
            if (!InScope(reg.ifIndex, itf.index)) {
                continue;
            }
            MessageBuilder builder(kPacketLimit);
            builder.Begin(0, 0);
            Question q;
            q.name = reg.instance;
            q.type = kTypeANY;
            q.unicastResponse = reg.count == 0;
            builder.AddQuestion(q);
            for (const Record& r : records) {
                if (NameEqual(r.name, reg.instance)) {
                    Record proposed = r;
                    proposed.cacheFlush = false;
                    builder.AddRecord(1, proposed);
                }
            }
            m_Env.Send(itf.index, builder.Data().data(), builder.Data().size(), kMdnsGroup, kMdnsPort);
        }
        ++reg.count;
        reg.nextTime = now + 250;
        return;
    }
    if (reg.state == kProbing) {
        reg.state = kAnnouncing;
        reg.count = 0;
        Reply reply;
        reply.flags = kReplyAdd;
        reply.name = reg.label;
        reply.type = LabelsText(reg.type, 0, 2);
        reply.domain = "local.";
        m_Listener.OnReply(reg.owner, reply);
    }
    // Announcing: every record, unique ones with cache-flush, twice, 1 s apart. Our own browses
    // see them through the cache.
    for (const Interface& itf : m_Interfaces) {
        if (!InScope(reg.ifIndex, itf.index)) {
            continue;
        }
        records.clear();
        RegistrationRecords(reg, itf.index, records);
        if (reg.count == 0) {
            for (const Record& r : records) {
                CacheRecord(itf.index, r, true, 0);
            }
        }
        Vector<Record> additionals;
        Record a;
        if (HostRecord(itf.index, a)) {
            additionals.push_back(a);
        }
        SendRecords(itf.index, records, additionals, kMdnsGroup, kMdnsPort, 0, nullptr);
    }
    ++reg.count;
    reg.nextTime = reg.count < 2 ? now + 1000 : UINT64_MAX;
    if (reg.count >= 2) {
        reg.state = kAnnounced;
    }
}

void Engine::Goodbye(Registration& reg)
{
    if (reg.state != kAnnouncing && reg.state != kAnnounced) {
        return;
    }
    for (const Interface& itf : m_Interfaces) {
        if (!InScope(reg.ifIndex, itf.index)) {
            continue;
        }
        Vector<Record> records;
        RegistrationRecords(reg, itf.index, records);
        Vector<Record> goodbyes;
        for (Record& r : records) {
            bool shared = false; // the type's enumeration record may still serve another registration
            if (NameEqual(r.name, EnumerationName())) {
                for (const Registration* other : m_Registrations) {
                    shared = shared ||
                             (other != &reg && (other->state == kAnnouncing || other->state == kAnnounced) &&
                              InScope(other->ifIndex, itf.index) && NameEqual(other->type, reg.type));
                }
            }
            if (!shared) {
                CacheGoodbye(itf.index, r, 0);
                r.ttl = 0;
                goodbyes.push_back(r);
            }
        }
        SendRecords(itf.index, goodbyes, Vector<Record>(), kMdnsGroup, kMdnsPort, 0, nullptr);
    }
    reg.state = kDead;
}

void Engine::Rename(Registration& reg)
{
    const uint64_t now = m_Env.Now();
    if ((reg.flags & kRequestNoAutoRename) != 0) {
        Goodbye(reg);
        reg.state = kDead;
        Reply reply;
        reply.error = kErrNameConflict;
        m_Listener.OnReply(reg.owner, reply);
        return;
    }
    if (reg.state == kAnnouncing || reg.state == kAnnounced) {
        for (const Interface& itf : m_Interfaces) {
            if (InScope(reg.ifIndex, itf.index)) {
                Vector<Record> records;
                RegistrationRecords(reg, itf.index, records);
                for (const Record& r : records) {
                    CacheGoodbye(itf.index, r, 0);
                }
            }
        }
    }
    ++reg.renameCount;
    String suffix = " (" + Decimal(static_cast<uint64_t>(reg.renameCount)) + ")";
    String base = reg.baseLabel.substr(0, kMaxLabelLength - suffix.size());
    reg.label = base + suffix;
    NamePrepend(reg.label, reg.type, reg.instance);
    m_Env.Log(("mDNS name conflict: renamed to \"" + reg.label + "\"").c_str());
    // After many conflicts in a short time, wait 5 s before probing again.
    if (now - reg.conflictWindowStart > 10000) {
        reg.conflictWindowStart = now;
        reg.conflictsInWindow = 0;
    }
    ++reg.conflictsInWindow;
    reg.state = kProbing;
    reg.count = 0;
    reg.nextTime = now + (reg.conflictsInWindow > 15 ? 5000 : m_Env.Random(250));
}

void Engine::CheckConflicts(uint32_t ifIndex, const Message& message)
{
    const bool response = (message.flags & kFlagResponse) != 0;
    for (size_t i = 0; i < m_Registrations.size(); ++i) {
        Registration& reg = *m_Registrations[i];
        if (reg.state == kDead || !InScope(reg.ifIndex, ifIndex)) {
            continue;
        }
        bool conflict = false, lostTieBreak = false;
        if (response) {
            const Vector<Record>* sections[2] = {&message.answers, &message.additionals};
            for (const Vector<Record>* section : sections) {
                for (const Record& r : *section) {
                    if (!NameEqual(r.name, reg.instance) || r.ttl == 0) {
                        continue;
                    }
                    if (reg.state == kProbing) {
                        conflict = true;
                    } else if (r.type == kTypeSRV || r.type == kTypeTXT) {
                        Vector<Record> ours;
                        RegistrationRecords(reg, ifIndex, ours);
                        bool same = false;
                        for (const Record& o : ours) {
                            same = same || (o.type == r.type && SameData(o, r));
                        }
                        conflict = conflict || !same;
                    }
                }
            }
        } else if (reg.state == kProbing) {
            // Another host probes for the same name: the lexicographically later data wins.
            Vector<Record> theirs;
            for (const Record& r : message.authorities) {
                if (NameEqual(r.name, reg.instance)) {
                    theirs.push_back(r);
                }
            }
            if (!theirs.empty()) {
                Vector<Record> ours, mine;
                RegistrationRecords(reg, ifIndex, ours);
                for (const Record& o : ours) {
                    if (NameEqual(o.name, reg.instance)) {
                        mine.push_back(o);
                    }
                }
                auto less = [](const Record& a, const Record& b) { return CompareData(a, b) < 0; };
                std::sort(mine.begin(), mine.end(), less);
                std::sort(theirs.begin(), theirs.end(), less);
                int c = 0;
                for (size_t k = 0; c == 0 && k < mine.size() && k < theirs.size(); ++k) {
                    c = CompareData(mine[k], theirs[k]);
                }
                if (c == 0) {
                    c = mine.size() < theirs.size() ? -1 : (mine.size() > theirs.size() ? 1 : 0);
                }
                lostTieBreak = c < 0;
            }
        }
        if (conflict) {
            Rename(reg);
        } else if (lostTieBreak) {
            reg.count = 0;
            reg.nextTime = m_Env.Now() + 1000;
        }
    }
}

void Engine::Answer(uint32_t ifIndex, const Message& message, uint32_t source, uint16_t port)
{
    const bool legacy = port != kMdnsPort;
    bool allUnicast = true;
    Vector<Record> answers;
    for (const Question& q : message.questions) {
        allUnicast = allUnicast && q.unicastResponse;
        if (q.cls != kClassIN && q.cls != kClassMask) {
            continue;
        }
        Vector<Record> candidates;
        for (const Registration* reg : m_Registrations) {
            if ((reg->state == kAnnouncing || reg->state == kAnnounced) && InScope(reg->ifIndex, ifIndex)) {
                RegistrationRecords(*reg, ifIndex, candidates);
            }
        }
        Record a;
        if (HostRecord(ifIndex, a)) {
            candidates.push_back(a);
        }
        for (const Record& r : candidates) {
            if ((q.type != kTypeANY && q.type != r.type) || !NameEqual(q.name, r.name)) {
                continue;
            }
            bool known = false; // known-answer suppression
            for (const Record& k : message.answers) {
                known = known || (SameRecord(k, r) && k.ttl * 2 >= r.ttl);
            }
            bool listed = false;
            for (const Record& o : answers) {
                listed = listed || SameRecord(o, r);
            }
            if (!known && !listed) {
                answers.push_back(r);
            }
        }
    }
    if (answers.empty()) {
        return;
    }
    if (legacy || allUnicast) {
        Vector<Record> additionals;
        Vector<Record> capped = answers;
        for (Record& r : capped) {
            if (legacy) {
                r.ttl = r.ttl < 10 ? r.ttl : 10;
                r.cacheFlush = false;
            }
        }
        SendRecords(ifIndex, capped, additionals, source, port, legacy ? message.id : 0,
                    legacy ? &message.questions : nullptr);
        return;
    }
    bool shared = false;
    for (const Record& r : answers) {
        shared = shared || !r.cacheFlush;
    }
    Pending& pending = m_Pending[ifIndex];
    pending.probe = pending.probe || !message.authorities.empty();
    for (const Record& r : answers) {
        bool listed = false;
        for (const Record& o : pending.answers) {
            listed = listed || SameRecord(o, r);
        }
        if (!listed) {
            pending.answers.push_back(r);
        }
    }
    // Unique answers go at once; shared ones after 20-120 ms, so answers of several hosts spread.
    uint64_t due = m_Env.Now() + (shared ? 20 + m_Env.Random(100) : 0);
    if (due < pending.due) {
        pending.due = due;
    }
}

void Engine::RunPending(uint64_t now)
{
    for (auto it = m_Pending.begin(); it != m_Pending.end();) {
        if (it->second.due > now) {
            ++it;
            continue;
        }
        const uint32_t ifIndex = it->first;
        // A record goes out at most once a second on an interface (every 250 ms in defence of a
        // name another host probes for), however often it is asked for.
        const uint64_t gap = it->second.probe ? 250 : 1000;
        Vector<Record> answers;
        for (const Record& r : it->second.answers) {
            String key = MulticastKey(ifIndex, r);
            auto last = m_LastMulticast.find(key);
            if (last == m_LastMulticast.end() || now - last->second >= gap) {
                m_LastMulticast[key] = now;
                answers.push_back(r);
            }
        }
        it = m_Pending.erase(it);
        if (answers.empty()) {
            continue;
        }
        // Additional records: SRV, TXT and address of each instance named, the address of each target.
        Vector<Record> all, additionals;
        for (const Registration* reg : m_Registrations) {
            if ((reg->state == kAnnouncing || reg->state == kAnnounced) && InScope(reg->ifIndex, ifIndex)) {
                RegistrationRecords(*reg, ifIndex, all);
            }
        }
        Record a;
        bool wantA = false;
        for (const Record& r : answers) {
            if (r.type == kTypePTR || r.type == kTypeSRV) {
                for (const Record& c : all) {
                    if ((c.type == kTypeSRV || c.type == kTypeTXT) &&
                        NameEqual(c.name, r.type == kTypePTR ? r.target : r.name)) {
                        bool listed = false;
                        for (const Record& o : answers) {
                            listed = listed || SameRecord(o, c);
                        }
                        for (const Record& o : additionals) {
                            listed = listed || SameRecord(o, c);
                        }
                        if (!listed) {
                            additionals.push_back(c);
                        }
                        wantA = true;
                    }
                }
                wantA = wantA || r.type == kTypeSRV;
            }
        }
        if (wantA && HostRecord(ifIndex, a)) {
            bool listed = false;
            for (const Record& o : answers) {
                listed = listed || SameRecord(o, a);
            }
            if (!listed) {
                additionals.push_back(a);
            }
        }
        SendRecords(ifIndex, answers, additionals, kMdnsGroup, kMdnsPort, 0, nullptr);
    }
}

void Engine::SendRecords(uint32_t ifIndex, const Vector<Record>& answers, const Vector<Record>& additionals,
                         uint32_t address, uint16_t port, uint16_t id, const Vector<Question>* echo)
{
    MessageBuilder builder(kPacketLimit);
    size_t ai = 0;
    while (ai < answers.size()) {
        builder.Begin(id, kFlagResponse | kFlagAuthoritative);
        if (echo != nullptr) {
            for (const Question& q : *echo) {
                builder.AddQuestion(q);
            }
        }
        const size_t first = ai;
        while (ai < answers.size() && builder.AddRecord(0, answers[ai])) {
            ++ai;
        }
        if (ai == first) {
            ++ai; // cannot fit even alone
            continue;
        }
        if (ai == answers.size()) {
            for (const Record& r : additionals) {
                builder.AddRecord(2, r);
            }
        }
        m_Env.Send(ifIndex, builder.Data().data(), builder.Data().size(), address, port);
    }
}

// --- Input ---------------------------------------------------------------------------------------

void Engine::LogDropped(uint32_t source, const char* what, size_t size, uint32_t ifIndex)
{
    // One line per source per minute; a small fixed table, so hostile input allocates nothing.
    const uint64_t now = m_Env.Now();
    DropLog* slot = &m_DropLogged[0];
    for (DropLog& d : m_DropLogged) {
        if (d.source == source) {
            slot = &d;
            break;
        }
        if (d.at < slot->at) {
            slot = &d;
        }
    }
    if (slot->source == source && slot->at != 0 && now - slot->at < 60000) {
        return;
    }
    slot->source = source;
    slot->at = now == 0 ? 1 : now;
    char line[160];
    std::snprintf(line, sizeof(line), "mDNS dropped %s of %u bytes from %u.%u.%u.%u on interface %u", what,
                  static_cast<unsigned>(size), source >> 24, source >> 16 & 255, source >> 8 & 255,
                  source & 255, ifIndex);
    m_Env.Log(line);
}

void Engine::Receive(uint32_t ifIndex, const uint8_t* data, size_t size, uint32_t source, uint16_t port)
{
    const Interface* itf = FindInterface(ifIndex);
    if (itf == nullptr) {
        return;
    }
    for (const Interface& own : m_Interfaces) {
        if (own.address == source) {
            return; // our own datagram, looped back
        }
    }
    Message message;
    if (!ParseMessage(data, size, message)) {
        LogDropped(source, "a malformed datagram", size, ifIndex);
        return;
    }
    if ((message.flags & (kOpcodeMask | kRcodeMask)) != 0) {
        return;
    }
    if ((message.flags & kFlagResponse) == 0) {
        CheckConflicts(ifIndex, message);
        Answer(ifIndex, message, source, port);
        return;
    }
    if (port != kMdnsPort || (source & itf->mask) != (itf->address & itf->mask)) {
        LogDropped(source, "a response from off the link", size, ifIndex);
        return;
    }
    CheckConflicts(ifIndex, message);
    const uint64_t now = m_Env.Now();
    const Vector<Record>* sections[2] = {&message.answers, &message.additionals};
    for (const Vector<Record>* section : sections) {
        for (const Record& r : *section) {
            if (r.cls != kClassIN) {
                continue;
            }
            if (r.ttl == 0) {
                CacheGoodbye(ifIndex, r, source);
                continue;
            }
            if (r.cacheFlush) {
                // Older records of this name and type that this packet does not repeat go in 1 s.
                auto it = m_Cache.find(CacheKey{ifIndex, r.type, NameLower(r.name)});
                if (it != m_Cache.end()) {
                    for (CacheEntry& e : it->second) {
                        bool repeated = false;
                        for (const Record& o : *section) {
                            repeated = repeated || (o.type == r.type && NameEqual(o.name, r.name) &&
                                                    SameData(o, e.record));
                        }
                        if (!repeated && !e.local && now - e.created > 1000 && e.expires > now + 1000) {
                            e.expires = now + 1000;
                            e.nextRefresh = UINT64_MAX;
                            ScheduleCache(e);
                        }
                    }
                }
            }
            CacheRecord(ifIndex, r, false, source);
        }
    }
}

uint64_t Engine::Run()
{
    const uint64_t now = m_Env.Now();
    RunQueries(now);
    for (size_t i = 0; i < m_Registrations.size(); ++i) {
        RunRegistration(*m_Registrations[i], now);
    }
    RunPending(now);
    RunCache(now);
    uint64_t oldest = UINT64_MAX;
    for (auto it = m_LastMulticast.begin(); it != m_LastMulticast.end();) {
        if (now - it->second >= 1000) {
            it = m_LastMulticast.erase(it);
        } else {
            oldest = it->second < oldest ? it->second : oldest;
            ++it;
        }
    }
    uint64_t next = m_NextCacheWork;
    for (const Query* q : m_Queries) {
        if (!q->done) {
            next = q->nextSend < next ? q->nextSend : next;
            next = q->deadline < next ? q->deadline : next;
        }
    }
    for (const Registration* r : m_Registrations) {
        next = r->state != kDead && r->nextTime < next ? r->nextTime : next;
    }
    for (const auto& p : m_Pending) {
        next = p.second.due < next ? p.second.due : next;
    }
    if (oldest != UINT64_MAX && oldest + 1000 < next) {
        next = oldest + 1000;
    }
    return next;
}

} // namespace mdns
