// Block frames and sensor messages built with the project's own encoders: what the sensor sends
// (status blocks, replies) and what the tool sends (47-byte query frames). Header-only: the
// support library does not link the core, the tests that include this do.
#ifndef VESK11_TESTS_BLOCK_FRAME_HPP
#define VESK11_TESTS_BLOCK_FRAME_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crc16.h"
#include "transport_serial_types11.h"
#include "uat4/types.h"

namespace vesk11_test
{

using bytes_t = std::vector<uint8_t>;

// The tool's frame: header, three 11-byte messages, body checksum.
constexpr size_t kQUERY_FRAME_SIZE = kHEAD485_SIZE + kUAT4_BATCH_SIZE + kTRAILER485_SIZE;

// Header, body and a body checksum of the caller's choice (high byte first), for bodies of any
// length up to 65535, in one allocation of the final size.
inline bytes_t assemble_frame(const uint8_t* aBody, size_t aSize, uint16_t aBodyCrc)
{
    vesk11_head485 head{};
    Block485__EncodeHead(&head, static_cast<uint16_t>(aSize));
    uint8_t headBytes[sizeof head];
    std::memcpy(headBytes, &head, sizeof head);
    bytes_t frame(sizeof head + aSize + kTRAILER485_SIZE);
    size_t at = 0;
    for (uint8_t byte : headBytes)
        frame[at++] = byte;
    for (size_t i = 0; i < aSize; ++i)
        frame[at++] = aBody[i];
    frame[at++] = static_cast<uint8_t>(aBodyCrc >> 8);
    frame[at] = static_cast<uint8_t>(aBodyCrc);
    return frame;
}

// The frame the transport sends for a body of at most 255 bytes.
inline bytes_t frame_of(const void* aBody, uint8_t aSize)
{
    bytes_t frame(kFRAME485_MAX_SIZE);
    frame.resize(Block485__EncodeFrame(frame.data(), frame.size(), aBody, aSize));
    return frame;
}

// A whole block around aBody, of any length up to 65535, with both checksums right.
inline bytes_t block_of(const bytes_t& aBody)
{
    uint16_t crc = kCRC16_INIT;
    for (uint8_t byte : aBody)
        Crc16__Update(byte, &crc);
    return assemble_frame(aBody.data(), aBody.size(), crc);
}

// The unasked status block of the sensor.
inline bytes_t status_block()
{
    return block_of({0x02, 0x00, 2, 0x53, 0x54});
}

// Reply message 2 (udt_index 0x4279) under ident 0x03FC: result and value, cut to aSize data
// bytes.
inline bytes_t reply_msg(uint8_t aResult, uint32_t aValue, uint8_t aSize = kUAT4_MSG_DATA_SIZE)
{
    bytes_t msg = {0x03, 0xFC, aSize, 0x79, 0x42, 0x01, aResult};
    for (int shift = 0; shift < 32; shift += 8)
        msg.push_back(static_cast<uint8_t>(aValue >> shift));
    msg.resize(3u + aSize);
    return msg;
}

// Blocks whose body is these messages, back to back.
inline bytes_t block_of_messages(const std::vector<bytes_t>& aMessages)
{
    bytes_t body;
    for (const bytes_t& msg : aMessages)
        body.insert(body.end(), msg.begin(), msg.end());
    return block_of(body);
}

// A reply block holding message 2 alone, with this result and value.
inline bytes_t reply_block(uint8_t aResult, uint32_t aValue)
{
    return block_of(reply_msg(aResult, aValue));
}

// A reply block as the sensor sends it: message 1 naming the parameter, message 2 with result
// and value, message 3 with the dimensions.
inline bytes_t full_reply_block(uint8_t aResult, uint32_t aValue, uint16_t aGroup,
                                uint16_t aArray, uint8_t aDim0 = 0, uint8_t aDim1 = 0)
{
    const auto lo = [](uint16_t aWord) { return static_cast<uint8_t>(aWord); };
    const auto hi = [](uint16_t aWord) { return static_cast<uint8_t>(aWord >> 8); };
    const bytes_t msg1 = {0x03, 0xFC, 8, 0x78, 0x42, 0x00, 0x00,
                          lo(aGroup), hi(aGroup), lo(aArray), hi(aArray)};
    const bytes_t msg3 = {0x03, 0xFC, 8, 0x7A, 0x42, 0x02, 0x01, aDim0, aDim1, 0, 0};
    return block_of_messages({msg1, reply_msg(aResult, aValue), msg3});
}

} // namespace vesk11_test

#endif
