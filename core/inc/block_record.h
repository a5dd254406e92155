// Block recorder: the body of the current block as the decoder delivered it, message by message
// (ident high byte first, size, data), for hex records, echo checks and query readers.
#ifndef VESK11_CORE_BLOCK_RECORD_H
#define VESK11_CORE_BLOCK_RECORD_H

#include <cstddef>
#include <cstdint>

#include "block_decoder11.h"

// Room for the longest body a block of the sensor carries, and one byte more.
constexpr size_t kBLOCK_RECORD_SIZE = 256;

struct block_record
{
    uint8_t bytes[kBLOCK_RECORD_SIZE];
    size_t size;  // bytes kept, at most kBLOCK_RECORD_SIZE
    size_t total; // bytes the block delivered so far; above size when the record was cut short
    uint8_t head[kBLOCK_RECORD_SIZE - 1]; // the header as received, when the owner of the decoder
    size_t head_size;                     // gives it with BlockRecord__TakeHead; else 0
};

// One message of the record: its ident, and its data as kept (size may be below the size the
// message announced when the record was cut short).
struct block_record_message
{
    uint16_t ident;
    const uint8_t* data; // points into the record
    size_t size;
};

// Feeds one decoder event, as a block handler receives it: a header (kBLOCKDECODER11_STAT_INIT)
// starts a new record, a message is appended, the end of a block leaves the record as it is, so
// it can be read at kBLOCKDECODER11_STAT_FINI_OK or _FINI_FAIL. aMsgData is read only during the
// call. Never fails; what does not fit is counted in total but not kept.
void BlockRecord__Take(block_record* aRecord, uint8_t aStat, uint16_t aMsgIdent,
                       const void* aMsgData, uint8_t aMsgSize);

// Keeps the header of the current block as received (the decoder's BlockDecoder11__CopyHead
// during kBLOCKDECODER11_STAT_INIT, after BlockRecord__Take of that event).
void BlockRecord__TakeHead(block_record* aRecord, const block_decoder11_t* aDecoder);

// The whole frame of an intact block as it was received: the header kept, the body, and the body
// checksum it must have had to pass. Writes to aFrame (room for aRoom bytes) and returns the
// size; 0 when there is no header, the messages are not the whole body the header announced, or
// the frame does not fit.
size_t BlockRecord__Frame(const block_record* aRecord, uint8_t* aFrame, size_t aRoom);

// The body size the kept header announces; without a header, the bytes the block delivered.
size_t BlockRecord__BodySize(const block_record* aRecord);

// The message that begins at *aAt (0 for the first) in the record: fills *aMessage and moves *aAt
// past it. False, nothing changed, when no whole message head begins there.
bool BlockRecord__NextMessage(const block_record* aRecord, size_t* aAt,
                              block_record_message* aMessage);

// True when the record holds exactly the aSize bytes at aBytes (and was not cut short).
bool BlockRecord__Equals(const block_record* aRecord, const void* aBytes, size_t aSize);

#endif
