// What every log line of the program shares, whichever layer writes it: how a control character is
// shown, and how lines about refused input from the network are limited per sender.
//
// Header only and free of the platform (no windows.h), so that the DNS-SD core, which also builds
// natively for the fuzzers, uses the same code as the gateway. Nothing here takes a lock: a
// CSenderLogLimit belongs to one thread or is guarded by its owner.
#pragma once

#include <cstddef>
#include <cstdint>

// True for the characters a log line never holds raw: C0 controls, DEL and the C1 controls.
// Text kept as UTF-8 bytes passes only bytes below 0x80 (C1 controls would be continuation bytes).
inline bool IsLogControl(uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Appends the control character `code` as log lines show it: "\r", "\n", "\t", or "\x" and two
// lower-case hexadecimal digits. `Text` is any string of characters (narrow or wide).
template <class Text> void AppendLogEscape(Text& out, uint32_t code)
{
    typedef typename Text::value_type Char;
    static const char kDigits[] = "0123456789abcdef";
    out += Char('\\');
    switch (code) {
    case '\r':
        out += Char('r');
        break;
    case '\n':
        out += Char('n');
        break;
    case '\t':
        out += Char('t');
        break;
    default:
        out += Char('x');
        out += Char(kDigits[(code >> 4) & 15]);
        out += Char(kDigits[code & 15]);
        break;
    }
}

// One log line per sender a period for refused input, whatever the number of senders: a table of
// kSenders places, each held by a sender for one period after its line, and one summary line a
// period counting the refusals of the senders that found every place taken. A hostile link thus
// costs at most kSenders + 1 lines a period. Times are milliseconds of any steady clock.
class CSenderLogLimit
{
public:
    static const size_t kSenders = 16;

    enum EVerdict
    {
        kQuiet,  // said already this period: no line
        kLine,   // write the sender's own line
        kSummary // write the summary line, with TakeUnnamed() refusals of unnamed senders
    };

    explicit CSenderLogLimit(uint64_t periodMs = 60000) : m_Period(periodMs) {}

    EVerdict Check(uint64_t sender, uint64_t now)
    {
        Place* free = nullptr;
        for (Place& place : m_Places) {
            const bool current = place.used && now - place.at < m_Period;
            if (place.used && place.sender == sender) {
                if (current) {
                    return kQuiet;
                }
                free = &place;
                break;
            }
            if (!current && free == nullptr) {
                free = &place;
            }
        }
        if (free != nullptr) {
            free->used = true;
            free->sender = sender;
            free->at = now;
            return kLine;
        }
        ++m_Unnamed;
        if (m_SummaryWritten && now - m_SummaryAt < m_Period) {
            return kQuiet;
        }
        m_SummaryWritten = true;
        m_SummaryAt = now;
        return kSummary;
    }

    // The refusals counted since the last summary, this one included; the count starts again.
    uint64_t TakeUnnamed()
    {
        const uint64_t count = m_Unnamed;
        m_Unnamed = 0;
        return count;
    }

    void Reset() { *this = CSenderLogLimit(m_Period); }

private:
    struct Place
    {
        bool used = false;
        uint64_t sender = 0;
        uint64_t at = 0;
    };

    uint64_t m_Period;
    Place m_Places[kSenders];
    uint64_t m_Unnamed = 0;
    bool m_SummaryWritten = false;
    uint64_t m_SummaryAt = 0;
};
