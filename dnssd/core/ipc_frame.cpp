#include "dnssd/core/ipc_frame.h"

#include "dnssd/core/byte_reader.h"

#include <cstring>

namespace mdns {
namespace {

class Writer
{
public:
    explicit Writer(Bytes& out) : m_Out(out) { m_Out.assign(4, 0); }
    void U8(uint8_t v) { m_Out.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v >> 8));
        U8(static_cast<uint8_t>(v));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v >> 16));
        U16(static_cast<uint16_t>(v));
    }
    void Text(const String& s)
    {
        // Texts end at their first zero byte, as C strings do.
        m_Out.insert(m_Out.end(), s.c_str(), s.c_str() + std::strlen(s.c_str()) + 1);
    }
    void Data(const Bytes& b)
    {
        U16(static_cast<uint16_t>(b.size()));
        m_Out.insert(m_Out.end(), b.begin(), b.begin() + (b.size() > 0xFFFF ? 0xFFFF : b.size()));
    }
    void Finish()
    {
        const uint32_t n = static_cast<uint32_t>(m_Out.size() - 4);
        for (int i = 0; i < 4; ++i) {
            m_Out[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
        }
    }

private:
    Bytes& m_Out;
};

class Reader : public ByteReader
{
public:
    Reader(const uint8_t* data, size_t size) : ByteReader(data, size) {}
    bool Text(String& s)
    {
        const void* end = m_Pos < m_Size ? std::memchr(m_Data + m_Pos, 0, m_Size - m_Pos) : nullptr;
        if (end == nullptr) {
            return false;
        }
        const size_t len = static_cast<const uint8_t*>(end) - (m_Data + m_Pos);
        s.assign(reinterpret_cast<const char*>(m_Data + m_Pos), len);
        m_Pos += len + 1;
        return true;
    }
    bool Data(Bytes& b)
    {
        uint16_t len = 0;
        return U16(len) && Raw(len, b);
    }
};

} // namespace

void EncodeRequest(const IpcRequest& r, Bytes& frame)
{
    Writer w(frame);
    w.U8(r.op);
    w.U32(r.flags);
    w.U32(r.ifIndex);
    w.U32(r.protocol);
    w.U16(r.port);
    w.Text(r.name);
    w.Text(r.regtype);
    w.Text(r.domain);
    w.Text(r.host);
    w.Data(r.txt);
    w.Finish();
}

void EncodeReply(const IpcReply& r, Bytes& frame)
{
    Writer w(frame);
    w.U8(r.kind);
    w.U32(r.flags);
    w.U32(r.ifIndex);
    w.U32(static_cast<uint32_t>(r.error));
    w.Text(r.name);
    w.Text(r.type);
    w.Text(r.domain);
    w.U16(r.port);
    w.Data(r.txt);
    w.U32(r.address);
    w.U32(r.ttl);
    w.Finish();
}

bool DecodeRequest(const uint8_t* body, size_t size, IpcRequest& r)
{
    Reader rd(body, size);
    return rd.U8(r.op) && r.op >= kOpBrowse && r.op <= kOpRegister && rd.U32(r.flags) && rd.U32(r.ifIndex) &&
           rd.U32(r.protocol) && rd.U16(r.port) && rd.Text(r.name) && rd.Text(r.regtype) &&
           rd.Text(r.domain) && rd.Text(r.host) && rd.Data(r.txt) && rd.AtEnd();
}

bool DecodeReply(const uint8_t* body, size_t size, IpcReply& r)
{
    uint32_t error = 0;
    Reader rd(body, size);
    bool ok = rd.U8(r.kind) && r.kind <= kFrameReply && rd.U32(r.flags) && rd.U32(r.ifIndex) &&
              rd.U32(error) && rd.Text(r.name) && rd.Text(r.type) && rd.Text(r.domain) && rd.U16(r.port) &&
              rd.Data(r.txt) && rd.U32(r.address) && rd.U32(r.ttl) && rd.AtEnd();
    r.error = static_cast<int32_t>(error);
    return ok;
}

uint32_t FrameLength(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

} // namespace mdns
