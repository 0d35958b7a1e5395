// Checks the fuzz targets share with the unit tests, which replay the corpus under Wine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dnssd_fuzz {

// Parses the bytes; when they parse, builds the message again and parses the result: both parses
// must give the same message. True when that holds (or the bytes are refused).
bool RoundTripHolds(const uint8_t* data, size_t size);

// Decodes the bytes as a client request and as a reply frame body; whatever decodes must encode
// back to the same bytes.
bool FrameRoundTripHolds(const uint8_t* data, size_t size);

} // namespace dnssd_fuzz
