// Block recorder: the body of the current block as the decoder delivered it, message by message
// (ident high byte first, size, data), for hex records, echo checks and query readers.
#ifndef VESK11_CORE_BLOCK_RECORD_H
#define VESK11_CORE_BLOCK_RECORD_H

#include <cstddef>
#include <cstdint>

// Room for the longest body a block of the sensor carries, and one byte more.
constexpr size_t kBLOCK_RECORD_SIZE = 256;

struct block_record
{
    uint8_t bytes[kBLOCK_RECORD_SIZE];
    size_t size;  // bytes kept, at most kBLOCK_RECORD_SIZE
    size_t total; // bytes the block delivered so far; above size when the record was cut short
};

// Feeds one decoder event, as a block handler receives it: a header (kBLOCKDECODER11_STAT_INIT)
// starts a new record, a message is appended, the end of a block leaves the record as it is, so
// it can be read at kBLOCKDECODER11_STAT_FINI_OK or _FINI_FAIL. aMsgData is read only during the
// call. Never fails; what does not fit is counted in total but not kept.
void BlockRecord__Take(block_record* aRecord, uint8_t aStat, uint16_t aMsgIdent,
                       const void* aMsgData, uint8_t aMsgSize);

// True when the record holds exactly the aSize bytes at aBytes (and was not cut short).
bool BlockRecord__Equals(const block_record* aRecord, const void* aBytes, size_t aSize);

#endif
