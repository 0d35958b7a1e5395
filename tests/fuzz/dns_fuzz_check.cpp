#include "tests/fuzz/dns_fuzz_check.h"

#include "dnssd/core/dns_message.h"
#include "dnssd/core/ipc_frame.h"

#include <algorithm>

namespace dnssd_fuzz {
namespace {

bool SameQuestions(const mdns::Vector<mdns::Question>& a, const mdns::Vector<mdns::Question>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].cls != b[i].cls ||
            a[i].unicastResponse != b[i].unicastResponse) {
            return false;
        }
    }
    return true;
}

bool SameRecords(const mdns::Vector<mdns::Record>& a, const mdns::Vector<mdns::Record>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        // Exact bytes, case included: the builder must not change a name.
        if (a[i].name != b[i].name || a[i].target != b[i].target || !mdns::SameRecord(a[i], b[i]) ||
            a[i].ttl != b[i].ttl || a[i].cacheFlush != b[i].cacheFlush) {
            return false;
        }
    }
    return true;
}

} // namespace

bool RoundTripHolds(const uint8_t* data, size_t size)
{
    mdns::Message first;
    if (!mdns::ParseMessage(data, size, first)) {
        return true;
    }
    mdns::Bytes wire;
    if (!mdns::BuildMessage(first, wire)) {
        return true; // names that pointed into skipped records may no longer fit: not a fault
    }
    mdns::Message second;
    return mdns::ParseMessage(wire.data(), wire.size(), second) && first.id == second.id &&
           first.flags == second.flags && SameQuestions(first.questions, second.questions) &&
           SameRecords(first.answers, second.answers) && SameRecords(first.authorities, second.authorities) &&
           SameRecords(first.additionals, second.additionals);
}

bool FrameRoundTripHolds(const uint8_t* data, size_t size)
{
    mdns::IpcRequest request;
    mdns::Bytes frame;
    if (mdns::DecodeRequest(data, size, request)) {
        mdns::EncodeRequest(request, frame);
        if (frame.size() != size + 4 || !std::equal(frame.begin() + 4, frame.end(), data)) {
            return false;
        }
    }
    mdns::IpcReply reply;
    if (mdns::DecodeReply(data, size, reply)) {
        mdns::EncodeReply(reply, frame);
        if (frame.size() != size + 4 || !std::equal(frame.begin() + 4, frame.end(), data)) {
            return false;
        }
    }
    return true;
}

} // namespace dnssd_fuzz
