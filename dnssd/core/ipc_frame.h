// Frames between the DNS-SD client calls and the daemon over their loopback TCP connection.
// Every frame is a 32-bit big-endian length followed by that many bytes of body. The client sends
// one request per connection; the daemon answers with one status frame, then with one reply frame
// per result. No sockets here: bytes in, structure out.
#pragma once

#include "dnssd/core/mdns_heap.h"

namespace mdns {

const size_t kMaxFrameBody = 70000;

enum : uint8_t
{
    kOpBrowse = 1,
    kOpResolve = 2,
    kOpGetAddrInfo = 3,
    kOpRegister = 4,
};

struct IpcRequest
{
    uint8_t op = 0;
    uint32_t flags = 0;
    uint32_t ifIndex = 0;
    uint32_t protocol = 0;
    uint16_t port = 0; // host order
    String name, regtype, domain, host;
    Bytes txt;
};

enum : uint8_t
{
    kFrameStatus = 0,
    kFrameReply = 1,
};

struct IpcReply
{
    uint8_t kind = kFrameReply;
    uint32_t flags = 0;
    uint32_t ifIndex = 0;
    int32_t error = 0;
    String name, type, domain;
    uint16_t port = 0; // host order
    Bytes txt;
    uint32_t address = 0; // host order
    uint32_t ttl = 0;
};

// Whole frames, length prefix included.
void EncodeRequest(const IpcRequest& request, Bytes& frame);
void EncodeReply(const IpcReply& reply, Bytes& frame);
// Offset of the flags word inside an encoded reply frame (the daemon sets MoreComing there).
const size_t kReplyFlagsOffset = 5;
// Bodies, without the length prefix; false for anything malformed (a missing or extra byte, text
// without its terminating zero, a zero inside a text).
bool DecodeRequest(const uint8_t* body, size_t size, IpcRequest& request);
bool DecodeReply(const uint8_t* body, size_t size, IpcReply& reply);
// The body length of a frame from its 4-byte prefix.
uint32_t FrameLength(const uint8_t* prefix);

} // namespace mdns
