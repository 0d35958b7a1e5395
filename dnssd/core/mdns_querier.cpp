// The engine's querier: continuous queries with back-off and known answers.
#include "dnssd/core/mdns_engine.h"

#include "dnssd/core/mdns_engine_parts.h"

namespace mdns {

// --- Querier -------------------------------------------------------------------------------------

void Engine::RunQueries(uint64_t now)
{
    // A record that only its owner answers for (sent with the cache-flush bit, or one of our own)
    // with more than half of its TTL left.
    auto freshUnique = [now](const CacheEntry& e) {
        return (e.local || e.record.cacheFlush) && e.expires > now &&
               (e.expires - now) * 2 > uint64_t(e.record.ttl) * 1000u;
    };
    Map<uint32_t, Vector<Question>> out;
    for (size_t i = 0; i < m_Queries.size(); ++i) {
        Query& q = *m_Queries[i];
        if (q.done) {
            continue;
        }
        if (!q.delivered) {
            // What the cache already knows comes first.
            q.delivered = true;
            int typesKnown = 0;
            for (int t = 0; t < q.typeCount; ++t) {
                bool known = false;
                for (const Interface& itf : m_Interfaces) {
                    auto it = m_Cache.find(CacheKey{itf.index, q.types[t], NameLower(q.name)});
                    if (!InScope(q.ifIndex, itf.index) || it == m_Cache.end()) {
                        continue;
                    }
                    Vector<CacheEntry> copy = it->second;
                    for (const CacheEntry& e : copy) {
                        known = known || freshUnique(e);
                        NotifyQuery(q, e, true);
                    }
                }
                typesKnown += known ? 1 : 0;
            }
            // A resolve or an address look-up whose unique answers are all in the cache and fresh has
            // its answer: its first question waits a step of the back-off, as if it had been asked
            // (RFC 6762 section 5.2), so that a client resolving a known instance again asks the
            // network nothing. The cache's own refresh keeps such answers current.
            if ((q.kind == kResolve || q.kind == kAddress) && typesKnown == q.typeCount) {
                q.nextSend = now + q.interval;
                q.interval *= 2;
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

} // namespace mdns
