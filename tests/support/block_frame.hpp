// A block frame built with the project's own encoders: header, body, body checksum. Header-only:
// the support library does not link the core, the tests that include this do.
#ifndef VESK11_TESTS_BLOCK_FRAME_HPP
#define VESK11_TESTS_BLOCK_FRAME_HPP

#include <cstdint>
#include <vector>

#include "transport_serial_types11.h"

namespace vesk11_test
{

inline std::vector<uint8_t> frame_of(const void* aBody, uint8_t aSize)
{
    vesk11_head485 head{};
    Block485__EncodeHead(&head, aSize);
    const uint8_t* headBytes = reinterpret_cast<const uint8_t*>(&head);
    std::vector<uint8_t> frame(headBytes, headBytes + sizeof head);
    const uint8_t* body = static_cast<const uint8_t*>(aBody);
    frame.insert(frame.end(), body, body + aSize);
    uint8_t trailer[kTRAILER485_SIZE];
    Block485__EncodeTrailer(trailer, aBody, aSize);
    frame.insert(frame.end(), trailer, trailer + sizeof trailer);
    return frame;
}

} // namespace vesk11_test

#endif
