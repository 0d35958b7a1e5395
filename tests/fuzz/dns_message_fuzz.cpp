// libFuzzer target of the DNS-SD core: the bytes as a DNS message (parse, build, parse again: the
// same message), as client/daemon frame bodies (decode, encode: the same bytes), and as a datagram
// received by the multicast-DNS engine from on and off the link (no crash, no hang, bounded memory).
#include "tests/fuzz/dns_fuzz_check.h"

#include "dnssd/core/mdns_engine.h"

namespace {

class Quiet : public mdns::Environment, public mdns::Listener
{
public:
    uint64_t Now() override { return m_Now += 10; }
    uint32_t Random(uint32_t below) override { return below == 0 ? 0 : static_cast<uint32_t>(m_Now % below); }
    void Send(uint32_t, const uint8_t* data, size_t size, uint32_t, uint16_t) override
    {
        mdns::Message m;
        if (!mdns::ParseMessage(data, size, m)) {
            __builtin_trap(); // whatever the engine sends must parse
        }
    }
    void Log(const char*) override {}
    void OnReply(void*, const mdns::Reply&) override {}

private:
    uint64_t m_Now = 1;
};

mdns::Engine& TheEngine()
{
    static Quiet quiet;
    static mdns::Engine* engine = [] {
        mdns::Engine* e = new mdns::Engine(quiet, quiet);
        mdns::Vector<mdns::Interface> list(1);
        list[0].index = 1;
        list[0].address = 0x0A4D0001;
        list[0].mask = 0xFFFFFF00;
        e->SetInterfaces(list);
        static int owner;
        e->Register(&owner, 0, 0, "X", "_rtsp._tcp,_corvane", "", "", 8554, nullptr, 0);
        e->Browse(&owner, 0, "_rtsp._tcp", "");
        e->Resolve(&owner, 0, "X", "_rtsp._tcp", "local.");
        return e;
    }();
    return *engine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!dnssd_fuzz::RoundTripHolds(data, size) || !dnssd_fuzz::FrameRoundTripHolds(data, size)) {
        __builtin_trap();
    }
    mdns::Engine& engine = TheEngine();
    // From the link or off it (10.99.0.2), from the multicast-DNS port or a legacy one.
    const uint32_t sources[3] = {0x0A4D0002, 0x0A4D0003, 0x0A630002};
    const uint16_t ports[2] = {5353, 40000};
    engine.Receive(1, data, size, sources[size % 3], ports[size / 3 % 2]);
    engine.Run();
    return 0;
}
