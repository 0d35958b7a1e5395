#include "dnssd/core/dns_message.h"

#include "dnssd/core/byte_reader.h"

#include <cstring>

namespace mdns {
namespace {

const int kMaxPointerJumps = 64;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

class Reader : public ByteReader
{
public:
    Reader(const uint8_t* data, size_t size) : ByteReader(data, size) {}

    // A possibly compressed name ending before `end`. A pointer must point before the first byte
    // of the label sequence that holds it, and that earlier sequence must end before where the
    // later one began, so every jump goes strictly backwards and reading ends.
    bool ReadName(Name& name, size_t end)
    {
        name.clear();
        size_t pos = m_Pos;
        size_t start = m_Pos;
        size_t limit = end;
        bool jumped = false;
        int jumps = 0;
        for (;;) {
            if (pos >= limit) {
                return false;
            }
            uint8_t len = m_Data[pos];
            if (len == 0) {
                name.push_back('\0');
                if (!jumped) {
                    m_Pos = pos + 1;
                }
                return name.size() <= kMaxNameLength;
            }
            if ((len & 0xC0) == 0xC0) {
                if (pos + 1 >= limit) {
                    return false;
                }
                size_t target = static_cast<size_t>(len & 0x3F) << 8 | m_Data[pos + 1];
                if (!jumped) {
                    m_Pos = pos + 2;
                }
                if (target >= start || ++jumps > kMaxPointerJumps) {
                    return false;
                }
                limit = start;
                start = target;
                pos = target;
                jumped = true;
                continue;
            }
            if (len > kMaxLabelLength) {
                return false; // 0x40-0xBF: extended label types, refused
            }
            if (pos + 1 + len > limit || name.size() + 1 + len + 1 > kMaxNameLength) {
                return false;
            }
            name.append(reinterpret_cast<const char*>(m_Data + pos), 1 + len);
            pos += 1 + len;
        }
    }
};

bool ReadNameAt(Reader& reader, Name& name, size_t end)
{
    return reader.ReadName(name, end);
}

bool ReadRecord(Reader& reader, size_t size, Record& record, bool& keep)
{
    uint16_t cls, rdlength;
    if (!ReadNameAt(reader, record.name, size) || !reader.U16(record.type) || !reader.U16(cls) ||
        !reader.U32(record.ttl) || !reader.U16(rdlength)) {
        return false;
    }
    record.cls = cls & kClassMask;
    record.cacheFlush = (cls & 0x8000) != 0;
    if (rdlength > size - reader.m_Pos) {
        return false;
    }
    const size_t end = reader.m_Pos + rdlength;
    keep = true;
    switch (record.type) {
    case kTypeA:
    case kTypeAAAA:
        if (rdlength != (record.type == kTypeA ? 4 : 16)) {
            return false;
        }
        return reader.Raw(rdlength, record.data);
    case kTypeTXT:
        return reader.Raw(rdlength, record.data);
    case kTypePTR:
        return ReadNameAt(reader, record.target, end) && reader.m_Pos == end;
    case kTypeSRV:
        return reader.U16(record.priority) && reader.U16(record.weight) && reader.U16(record.port) &&
               reader.m_Pos <= end && ReadNameAt(reader, record.target, end) && reader.m_Pos == end;
    default:
        keep = false;
        reader.m_Pos = end;
        return true;
    }
}

} // namespace

bool NameEqual(const Name& a, const Name& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

Name NameLower(const Name& name)
{
    Name lower(name);
    for (char& c : lower) {
        c = Lower(c);
    }
    return lower;
}

bool NameFromText(const char* text, Name& name)
{
    name.clear();
    String label;
    auto flush = [&]() {
        if (label.empty() || label.size() > kMaxLabelLength) {
            return false;
        }
        name.push_back(static_cast<char>(label.size()));
        name += label;
        label.clear();
        return true;
    };
    const char* p = text;
    if (p[0] == '.' && p[1] == '\0') {
        name.push_back('\0');
        return true;
    }
    while (*p != '\0') {
        char c = *p++;
        if (c == '\\') {
            if (*p >= '0' && *p <= '9') {
                if (!(p[1] >= '0' && p[1] <= '9' && p[2] >= '0' && p[2] <= '9')) {
                    return false;
                }
                int value = (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
                if (value > 255) {
                    return false;
                }
                label.push_back(static_cast<char>(value));
                p += 3;
            } else if (*p != '\0') {
                label.push_back(*p++);
            } else {
                return false;
            }
        } else if (c == '.') {
            if (!flush()) {
                return false;
            }
        } else {
            label.push_back(c);
        }
    }
    if (!label.empty() && !flush()) {
        return false;
    }
    name.push_back('\0');
    return name.size() > 1 && name.size() <= kMaxNameLength;
}

void AppendDecimalEscape(String& text, uint8_t byte)
{
    const char escaped[5] = {'\\', static_cast<char>('0' + byte / 100),
                             static_cast<char>('0' + byte / 10 % 10), static_cast<char>('0' + byte % 10), 0};
    text += escaped;
}

String NameToText(const Name& name)
{
    String text;
    size_t pos = 0;
    while (pos < name.size() && name[pos] != '\0') {
        size_t len = static_cast<uint8_t>(name[pos]);
        for (size_t i = pos + 1; i <= pos + len && i < name.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(name[i]);
            if (c == '.' || c == '\\') {
                text.push_back('\\');
                text.push_back(static_cast<char>(c));
            } else if (c < 0x20 || c == 0x7F) {
                AppendDecimalEscape(text, c);
            } else {
                text.push_back(static_cast<char>(c));
            }
        }
        text.push_back('.');
        pos += 1 + len;
    }
    if (text.empty()) {
        text.push_back('.');
    }
    return text;
}

bool NamePrepend(const String& label, const Name& base, Name& name)
{
    if (label.empty() || label.size() > kMaxLabelLength || base.size() + 1 + label.size() > kMaxNameLength) {
        return false;
    }
    name.clear();
    name.push_back(static_cast<char>(label.size()));
    name += label;
    name += base;
    return true;
}

size_t NameLabelCount(const Name& name)
{
    size_t count = 0;
    for (size_t pos = 0; pos < name.size() && name[pos] != '\0'; pos += 1 + static_cast<uint8_t>(name[pos])) {
        ++count;
    }
    return count;
}

String NameLabel(const Name& name, size_t index)
{
    size_t pos = 0;
    for (; pos < name.size() && name[pos] != '\0' && index > 0; --index) {
        pos += 1 + static_cast<uint8_t>(name[pos]);
    }
    if (pos >= name.size() || name[pos] == '\0') {
        return String();
    }
    return name.substr(pos + 1, static_cast<uint8_t>(name[pos]));
}

Name NameSuffix(const Name& name, size_t count)
{
    size_t pos = 0;
    for (; pos < name.size() && name[pos] != '\0' && count > 0; --count) {
        pos += 1 + static_cast<uint8_t>(name[pos]);
    }
    return pos < name.size() ? name.substr(pos) : Name(1, '\0');
}

bool SameData(const Record& a, const Record& b)
{
    if (a.type != b.type) {
        return false;
    }
    switch (a.type) {
    case kTypePTR:
        return NameEqual(a.target, b.target);
    case kTypeSRV:
        return a.priority == b.priority && a.weight == b.weight && a.port == b.port &&
               NameEqual(a.target, b.target);
    default:
        return a.data == b.data;
    }
}

bool SameRecord(const Record& a, const Record& b)
{
    return a.cls == b.cls && NameEqual(a.name, b.name) && SameData(a, b);
}

int CompareData(const Record& a, const Record& b)
{
    if (a.cls != b.cls) {
        return a.cls < b.cls ? -1 : 1;
    }
    if (a.type != b.type) {
        return a.type < b.type ? -1 : 1;
    }
    Bytes da, db;
    for (int i = 0; i < 2; ++i) {
        const Record& r = i == 0 ? a : b;
        Bytes& d = i == 0 ? da : db;
        if (r.type == kTypeSRV) {
            const uint16_t v[3] = {r.priority, r.weight, r.port};
            for (uint16_t x : v) {
                d.push_back(static_cast<uint8_t>(x >> 8));
                d.push_back(static_cast<uint8_t>(x));
            }
        }
        if (r.type == kTypeSRV || r.type == kTypePTR) {
            Name lower = NameLower(r.target);
            d.insert(d.end(), lower.begin(), lower.end());
        } else {
            d = r.data;
        }
    }
    size_t n = da.size() < db.size() ? da.size() : db.size();
    int c = n == 0 ? 0 : std::memcmp(da.data(), db.data(), n);
    if (c != 0) {
        return c < 0 ? -1 : 1;
    }
    return da.size() == db.size() ? 0 : (da.size() < db.size() ? -1 : 1);
}

bool ParseMessage(const uint8_t* data, size_t size, Message& message)
{
    message = Message();
    if (data == nullptr || size < 12 || size > kMaxMessageSize) {
        return false;
    }
    Reader reader(data, size);
    uint16_t counts[4];
    reader.U16(message.id);
    reader.U16(message.flags);
    for (uint16_t& count : counts) {
        reader.U16(count);
    }
    // Every question takes at least 5 bytes and every record 11: counts beyond the data refuse
    // the message before anything is allocated for them.
    if (static_cast<size_t>(counts[0]) * 5 + (static_cast<size_t>(counts[1]) + counts[2] + counts[3]) * 11 >
        size - 12) {
        return false;
    }
    for (uint16_t i = 0; i < counts[0]; ++i) {
        Question q;
        uint16_t cls;
        if (!ReadNameAt(reader, q.name, size) || !reader.U16(q.type) || !reader.U16(cls)) {
            return false;
        }
        q.cls = cls & kClassMask;
        q.unicastResponse = (cls & 0x8000) != 0;
        message.questions.push_back(q);
    }
    Vector<Record>* sections[3] = {&message.answers, &message.authorities, &message.additionals};
    for (int s = 0; s < 3; ++s) {
        for (uint16_t i = 0; i < counts[s + 1]; ++i) {
            Record record;
            bool keep = false;
            if (!ReadRecord(reader, size, record, keep)) {
                return false;
            }
            if (keep) {
                sections[s]->push_back(record);
            }
        }
    }
    return true;
}

MessageBuilder::MessageBuilder(size_t limit) : m_Limit(limit < kMaxMessageSize ? limit : kMaxMessageSize)
{
    Begin(0, 0);
}

void MessageBuilder::Begin(uint16_t id, uint16_t flags)
{
    m_Bytes.assign(12, 0);
    m_Suffixes.clear();
    for (uint16_t& c : m_Counts) {
        c = 0;
    }
    m_Bytes[0] = static_cast<uint8_t>(id >> 8);
    m_Bytes[1] = static_cast<uint8_t>(id);
    SetFlags(flags);
}

void MessageBuilder::SetFlags(uint16_t flags)
{
    m_Bytes[2] = static_cast<uint8_t>(flags >> 8);
    m_Bytes[3] = static_cast<uint8_t>(flags);
}

void MessageBuilder::Put16(uint16_t value)
{
    m_Bytes.push_back(static_cast<uint8_t>(value >> 8));
    m_Bytes.push_back(static_cast<uint8_t>(value));
}

void MessageBuilder::Put32(uint32_t value)
{
    Put16(static_cast<uint16_t>(value >> 16));
    Put16(static_cast<uint16_t>(value));
}

void MessageBuilder::SetCount(int index)
{
    m_Bytes[4 + 2 * index] = static_cast<uint8_t>(m_Counts[index] >> 8);
    m_Bytes[5 + 2 * index] = static_cast<uint8_t>(m_Counts[index]);
}

bool MessageBuilder::WriteName(const Name& name)
{
    size_t pos = 0;
    while (pos < name.size() && name[pos] != '\0') {
        Name suffix = name.substr(pos);
        for (const Suffix& known : m_Suffixes) {
            if (known.name == suffix) {
                Put16(static_cast<uint16_t>(0xC000 | known.offset));
                return true;
            }
        }
        if (m_Bytes.size() < 0x3FFF) {
            m_Suffixes.push_back(Suffix{static_cast<uint16_t>(m_Bytes.size()), suffix});
        }
        size_t len = static_cast<uint8_t>(name[pos]);
        m_Bytes.insert(m_Bytes.end(), name.begin() + pos, name.begin() + pos + 1 + len);
        pos += 1 + len;
    }
    m_Bytes.push_back(0);
    return true;
}

bool MessageBuilder::AddQuestion(const Question& question)
{
    const size_t mark = m_Bytes.size(), suffixes = m_Suffixes.size();
    WriteName(question.name);
    Put16(question.type);
    Put16(static_cast<uint16_t>((question.cls & kClassMask) | (question.unicastResponse ? 0x8000 : 0)));
    if (m_Bytes.size() > m_Limit || m_Counts[0] == 0xFFFF) {
        m_Bytes.resize(mark);
        m_Suffixes.resize(suffixes);
        return false;
    }
    ++m_Counts[0];
    SetCount(0);
    return true;
}

bool MessageBuilder::AddRecord(int section, const Record& record)
{
    const size_t mark = m_Bytes.size(), suffixes = m_Suffixes.size();
    WriteName(record.name);
    Put16(record.type);
    Put16(static_cast<uint16_t>((record.cls & kClassMask) | (record.cacheFlush ? 0x8000 : 0)));
    Put32(record.ttl);
    const size_t lengthAt = m_Bytes.size();
    Put16(0);
    if (record.type == kTypeSRV) {
        Put16(record.priority);
        Put16(record.weight);
        Put16(record.port);
    }
    if (record.type == kTypeSRV || record.type == kTypePTR) {
        WriteName(record.target);
    } else {
        m_Bytes.insert(m_Bytes.end(), record.data.begin(), record.data.end());
    }
    const size_t rdlength = m_Bytes.size() - lengthAt - 2;
    if (m_Bytes.size() > m_Limit || rdlength > 0xFFFF || m_Counts[section + 1] == 0xFFFF) {
        m_Bytes.resize(mark);
        m_Suffixes.resize(suffixes);
        return false;
    }
    m_Bytes[lengthAt] = static_cast<uint8_t>(rdlength >> 8);
    m_Bytes[lengthAt + 1] = static_cast<uint8_t>(rdlength);
    ++m_Counts[section + 1];
    SetCount(section + 1);
    return true;
}

bool BuildMessage(const Message& message, Bytes& out, size_t limit)
{
    MessageBuilder builder(limit);
    builder.Begin(message.id, message.flags);
    for (const Question& q : message.questions) {
        if (!builder.AddQuestion(q)) {
            return false;
        }
    }
    const Vector<Record>* sections[3] = {&message.answers, &message.authorities, &message.additionals};
    for (int s = 0; s < 3; ++s) {
        for (const Record& r : *sections[s]) {
            if (!builder.AddRecord(s, r)) {
                return false;
            }
        }
    }
    out = builder.Data();
    return true;
}

} // namespace mdns
