// The engine's cache: records heard (and our own), their refresh, expiry and goodbyes, and the
// replies they give the requests that look for them.
#include "dnssd/core/mdns_engine.h"

#include "dnssd/core/mdns_engine_parts.h"

namespace mdns {

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
        if (reply.name.find('\0') != String::npos) {
            // The client interface passes names as C strings: cut at the NUL, the name would name
            // another instance or none, and no resolve of it could be answered.
            if (added) {
                m_Env.Log(("mDNS: browse answer " + NameToText(r.target) +
                           " not passed on: its instance name holds a NUL byte")
                              .c_str());
            }
            return;
        }
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

} // namespace mdns
