// A block frame built with the project's own encoders: header, body, body checksum. Header-only:
// the support library does not link the core, the tests that include this do.
#ifndef VESK11_TESTS_BLOCK_FRAME_HPP
#define VESK11_TESTS_BLOCK_FRAME_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "transport_serial_types11.h"

namespace vesk11_test
{

// Header, body and the body checksum (high byte first), in one allocation of the final size.
inline std::vector<uint8_t> assemble_frame(const uint8_t* aBody, size_t aSize, uint16_t aBodyCrc)
{
    vesk11_head485 head{};
    Block485__EncodeHead(&head, static_cast<uint16_t>(aSize));
    uint8_t headBytes[sizeof head];
    std::memcpy(headBytes, &head, sizeof head);
    std::vector<uint8_t> frame(sizeof head + aSize + kTRAILER485_SIZE);
    size_t at = 0;
    for (uint8_t byte : headBytes)
        frame[at++] = byte;
    for (size_t i = 0; i < aSize; ++i)
        frame[at++] = aBody[i];
    frame[at++] = static_cast<uint8_t>(aBodyCrc >> 8);
    frame[at] = static_cast<uint8_t>(aBodyCrc);
    return frame;
}

inline std::vector<uint8_t> frame_of(const void* aBody, uint8_t aSize)
{
    uint8_t trailer[kTRAILER485_SIZE];
    Block485__EncodeTrailer(trailer, aBody, aSize);
    return assemble_frame(static_cast<const uint8_t*>(aBody), aSize,
                          static_cast<uint16_t>(trailer[0] << 8 | trailer[1]));
}

} // namespace vesk11_test

#endif
