#include "dnssd/core/mdns_engine.h"

#include "dnssd/core/mdns_engine_parts.h"

#include <cstdio>
#include <cstring>

namespace mdns {
namespace {

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

} // namespace

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

String Decimal(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(value));
    return String(text);
}

size_t Utf8Prefix(const String& text, size_t limit)
{
    if (text.size() <= limit) {
        return text.size();
    }
    size_t start = limit;
    while (start > 0 && limit - start < 3 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    // A lead byte whose character runs over the limit: cut before it.
    return start < limit && (static_cast<uint8_t>(text[start]) & 0xC0) == 0xC0 ? start : limit;
}

String LogText(const String& text)
{
    String out;
    for (char c : text) {
        const uint8_t byte = static_cast<uint8_t>(c);
        // The bytes are UTF-8: only those below 0x80 can be control characters on their own.
        if (byte < 0x80 && IsLogControl(byte)) {
            AppendLogEscape(out, byte);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

String LabelsText(const Name& name, size_t from, size_t count)
{
    Name part = NameSuffix(name, from);
    Name rest = NameSuffix(part, count);
    return NameToText(part.substr(0, part.size() - rest.size()) + String(1, '\0'));
}

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
    m_LastSent.clear();
    m_DropLog.Reset();
    m_NextCacheWork = UINT64_MAX;
}

// --- Input ---------------------------------------------------------------------------------------

void Engine::LogDropped(uint32_t source, const char* what, size_t size, uint32_t ifIndex)
{
    // One line per source a minute for the first sources, and one line a minute counting the rest;
    // a fixed table, so hostile input allocates nothing.
    char line[160] = {};
    switch (m_DropLog.Check(source, m_Env.Now())) {
    case CSenderLogLimit::kQuiet:
        return;
    case CSenderLogLimit::kLine:
        std::snprintf(line, sizeof(line), "mDNS dropped %s of %u bytes from %u.%u.%u.%u on interface %u",
                      what, static_cast<unsigned>(size), source >> 24, source >> 16 & 255, source >> 8 & 255,
                      source & 255, ifIndex);
        break;
    case CSenderLogLimit::kSummary:
        std::snprintf(line, sizeof(line),
                      "mDNS dropped %llu datagrams from senders beyond the first %u of a minute",
                      static_cast<unsigned long long>(m_DropLog.TakeUnnamed()),
                      static_cast<unsigned>(CSenderLogLimit::kSenders));
        break;
    }
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
        if (!Answer(ifIndex, message, source, port)) {
            LogDropped(source, "a query for unicast answers from off the link", size, ifIndex);
        }
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
            // Cache-flush on a unique record: older records of this name and type that this packet
            // does not repeat go in 1 s. PTR records are shared (RFC 6762 section 10.2): the bit is
            // never set on them, and one that has it set flushes nothing.
            if (r.cacheFlush && r.type != kTypePTR) {
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
    for (auto it = m_LastSent.begin(); it != m_LastSent.end();) {
        if (now - it->second >= 1000) {
            it = m_LastSent.erase(it);
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
