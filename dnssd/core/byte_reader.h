// Big-endian reads from a byte range that check every bound: a read past the end fails and moves
// nothing. Shared by the DNS message and client frame codecs.
#pragma once

#include "dnssd/core/mdns_heap.h"

namespace mdns {

class ByteReader
{
public:
    ByteReader(const uint8_t* data, size_t size) : m_Data(data), m_Size(size) {}

    bool U8(uint8_t& v)
    {
        if (m_Pos >= m_Size) {
            return false;
        }
        v = m_Data[m_Pos++];
        return true;
    }
    bool U16(uint16_t& v)
    {
        if (m_Size - m_Pos < 2) {
            return false;
        }
        v = static_cast<uint16_t>(m_Data[m_Pos] << 8 | m_Data[m_Pos + 1]);
        m_Pos += 2;
        return true;
    }
    bool U32(uint32_t& v)
    {
        uint16_t hi = 0, lo = 0;
        if (m_Size - m_Pos < 4 || !U16(hi) || !U16(lo)) {
            return false;
        }
        v = static_cast<uint32_t>(hi) << 16 | lo;
        return true;
    }
    bool Raw(size_t n, Bytes& out)
    {
        if (n > m_Size - m_Pos) {
            return false;
        }
        out.assign(m_Data + m_Pos, m_Data + m_Pos + n);
        m_Pos += n;
        return true;
    }
    bool AtEnd() const { return m_Pos == m_Size; }

protected:
    const uint8_t* m_Data;
    size_t m_Size;

public:
    size_t m_Pos = 0;
};

} // namespace mdns
