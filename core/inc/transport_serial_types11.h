// RS-485 block frame: 12-byte header, body, 2-byte body checksum; all fields high byte first.
#ifndef VESK11_CORE_TRANSPORT_SERIAL_TYPES11_H
#define VESK11_CORE_TRANSPORT_SERIAL_TYPES11_H

#include <cstddef>
#include <cstdint>

#include <sys/uio.h>

constexpr uint8_t kHEAD485_START_PATTERN = 0x7E;
constexpr uint8_t kHEAD485_TRANSPORT_PROTO = 0x01;
constexpr uint8_t kHEAD485_APP_PROTO = 0x04;
constexpr uint8_t kHEAD485_SIZE = 12;
constexpr uint8_t kTRAILER485_SIZE = 2;
constexpr size_t kBODY485_MAX_SIZE = 255;
constexpr size_t kFRAME485_MAX_SIZE = kHEAD485_SIZE + kBODY485_MAX_SIZE + kTRAILER485_SIZE;

struct vesk11_head485
{
    uint8_t start_pattern;
    uint8_t transport_proto;
    uint8_t head_size;
    uint8_t body_size[2];
    uint8_t app_proto;
    uint8_t flags[4];
    uint8_t crc16[2];
};
static_assert(sizeof(vesk11_head485) == kHEAD485_SIZE, "the block header is 12 bytes");

// The parts of a frame that surround the caller's body.
struct block485_frame_parts
{
    vesk11_head485 head;
    uint8_t trailer[kTRAILER485_SIZE];
};

// Fills a header for a body of aBodySize bytes, header checksum included. Never fails.
void Block485__EncodeHead(vesk11_head485* aHead, uint16_t aBodySize);

// Writes the 2-byte body checksum (high byte first) of a body of at most 255 bytes to aTrailer.
void Block485__EncodeTrailer(uint8_t* aTrailer, const void* aBody, uint8_t aBodySize);

// Frames a body for a gathered write without copying it: fills aParts and points aPieces[0..2]
// at header, body and trailer. aPieces refers to aParts and aBody, which must outlive its use.
// Returns the frame size.
size_t Block485__EncodeFramePieces(block485_frame_parts* aParts, const void* aBody,
                                   uint8_t aBodySize, struct iovec aPieces[3]);

// Writes header, body and trailer to aFrame, which has room for aRoom bytes. Returns the frame
// size, or 0 (nothing written) when it does not fit.
size_t Block485__EncodeFrame(uint8_t* aFrame, size_t aRoom, const void* aBody, uint8_t aBodySize);

#endif
