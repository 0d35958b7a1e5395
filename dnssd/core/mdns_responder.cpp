// The engine's responder: probing, announcing, renaming on conflicts, goodbyes and answers.
#include "dnssd/core/mdns_engine.h"

#include "dnssd/core/mdns_engine_parts.h"

#include <algorithm>

namespace mdns {
namespace {

// Identifies one of our records on one interface sent to one address (the group for multicast).
String SentKey(uint32_t ifIndex, const Record& r, uint32_t address)
{
    String key = Decimal(address) + ">" + Decimal(ifIndex) + ":" + Decimal(r.type) + ":" + NameLower(r.name) +
                 ":" + NameLower(r.target);
    key.append(r.data.begin(), r.data.end());
    return key;
}

} // namespace

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
    // The instance's own records are unique: announced with cache-flush.
    auto unique = [&reg](uint16_t type, uint32_t ttl) {
        Record r;
        r.name = reg.instance;
        r.type = type;
        r.cacheFlush = true;
        r.ttl = ttl;
        return r;
    };
    Record srv = unique(kTypeSRV, kUniqueTtl);
    srv.port = reg.port;
    srv.target = m_HostName;
    records.push_back(srv);
    Record txt = unique(kTypeTXT, kSharedTtl);
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
    const String previous = reg.label;
    ++reg.renameCount;
    String suffix = " (" + Decimal(static_cast<uint64_t>(reg.renameCount)) + ")";
    String base = reg.baseLabel.substr(0, Utf8Prefix(reg.baseLabel, kMaxLabelLength - suffix.size()));
    reg.label = base + suffix;
    NamePrepend(reg.label, reg.type, reg.instance);
    m_Env.Log(
        ("mDNS name conflict: renamed to \"" + LogText(reg.label) + "\" (was \"" + LogText(previous) + "\")")
            .c_str());
    reg.state = kProbing;
    reg.count = 0;
    reg.nextTime = now + (NoteConflict(now) ? kConflictBackOff : m_Env.Random(250));
}

// RFC 6762 section 8.1: after 15 conflicts within 10 s the host waits 5 s before each further
// probe, until 10 s pass without a conflict.
bool Engine::NoteConflict(uint64_t now)
{
    if (m_ProbeBackOff && now - m_LastConflict > 10000) {
        m_ProbeBackOff = false;
        m_ConflictCount = 0;
    }
    m_LastConflict = now;
    m_ConflictTimes[m_ConflictNext] = now;
    m_ConflictNext = (m_ConflictNext + 1) % kConflictBurst;
    m_ConflictCount = m_ConflictCount < kConflictBurst ? m_ConflictCount + 1 : kConflictBurst;
    // With the ring full, the next slot holds the oldest of the last 15.
    if (!m_ProbeBackOff && m_ConflictCount == kConflictBurst &&
        now - m_ConflictTimes[m_ConflictNext] <= 10000) {
        m_ProbeBackOff = true;
        m_Env.Log("mDNS: 15 name conflicts within 10 s; each further probe waits 5 s");
    }
    return m_ProbeBackOff;
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

bool Engine::SentLately(uint32_t ifIndex, const Record& record, uint32_t address, uint64_t gap, uint64_t now)
{
    String key = SentKey(ifIndex, record, address);
    auto last = m_LastSent.find(key);
    if (last != m_LastSent.end() && now - last->second < gap) {
        return true;
    }
    m_LastSent[key] = now;
    return false;
}

bool Engine::Answer(uint32_t ifIndex, const Message& message, uint32_t source, uint16_t port)
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
        return true;
    }
    if (legacy || allUnicast) {
        // Unicast answers go only to hosts on the interface's own subnet (RFC 6762 section 11), and
        // a record to one address at most once a second, so a query cannot be turned into a flood.
        const Interface* itf = FindInterface(ifIndex);
        if (itf == nullptr || (source & itf->mask) != (itf->address & itf->mask)) {
            return false;
        }
        const uint64_t now = m_Env.Now();
        Vector<Record> additionals;
        Vector<Record> capped;
        for (const Record& answer : answers) {
            if (SentLately(ifIndex, answer, source, 1000, now)) {
                continue;
            }
            capped.push_back(answer);
            if (legacy) {
                capped.back().ttl = answer.ttl < 10 ? answer.ttl : 10;
                capped.back().cacheFlush = false;
            }
        }
        if (!capped.empty()) {
            SendRecords(ifIndex, capped, additionals, source, port, legacy ? message.id : 0,
                        legacy ? &message.questions : nullptr);
        }
        return true;
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
    return true;
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
            if (!SentLately(ifIndex, r, kMdnsGroup, gap, now)) {
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

} // namespace mdns
