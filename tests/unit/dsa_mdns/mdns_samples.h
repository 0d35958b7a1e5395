// Real messages the engine meets: its own initial query and announcement, and a response as
// python3-zeroconf sends it (PTR, SRV, TXT, A, AAAA and NSEC, names compressed). Shared by the
// unit tests and the fuzz targets' seeds.
#pragma once

#include <stdint.h>
#include <string>

// Initial query: PTR questions for the Corvane and Zint session subtypes and _quill._tcp.local.
static const char kInitialQueryHex[] =
    "000000000003000000000000105f636f7276616e655f73657373696f6e045f737562055f72747370045f746370056c6f63616c00"
    "00"
    "0c00010d5f7a696e745f73657373696f6ec01d000c0001065f7175696c6cc028000c0001";

// Announcement of "Test" on port 8554 by host MYPC_1 at 10.99.0.1.
static const char kAnnouncementHex[] =
    "000084000000000100000003105f636f7276616e655f73657373696f6e045f737562055f72747370045f746370056c6f63616c00"
    "00"
    "0c00010000012c00070454657374c0220454657374c022002180010000012c000f00000000216a064d5950435f31c02d04546573"
    "74"
    "c02200108001000002580000064d5950435f31c02d000180010000007800040a630001";

// python3-zeroconf: "Studio A" of the Corvane session subtype on peer.local, 10.77.0.2.
static const char kZeroconfResponseHex[] = "000084000000000100000005105f636f7276616e655f73657373696f6e045f737"
                                           "562055f72747370045f746370056c6f63616c0000"
                                           "0c000100001194000b0853747564696f2041c022c03e0021800100000078000d0"
                                           "0000000216a0470656572c02dc03e001080010000"
                                           "1194000100c05b000180010000007800040a4d0002c05b001c800100000078001"
                                           "0fe800000000000000000000000000001c05b002f"
                                           "800100000078000ac05b0000000440000008";

inline std::string FromHex(const char* hex)
{
    std::string bytes;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        bytes.push_back(static_cast<char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    }
    return bytes;
}

inline std::string ToHex(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 15]);
    }
    return hex;
}
