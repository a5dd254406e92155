// Block recorder: keeps what the decoder delivers of the current block.
#include "block_record.h"

#include <algorithm>
#include <cstring>

#include "block_decoder11.h"

namespace
{

void _T_append(block_record* aRecord, const void* aBytes, size_t aSize)
{
    const size_t kept = std::min(aSize, kBLOCK_RECORD_SIZE - aRecord->size);
    if (kept != 0)
        std::memcpy(aRecord->bytes + aRecord->size, aBytes, kept);
    aRecord->size += kept;
    aRecord->total += aSize;
}

} // namespace

void BlockRecord__Take(block_record* aRecord, uint8_t aStat, uint16_t aMsgIdent,
                       const void* aMsgData, uint8_t aMsgSize)
{
    if (aStat == kBLOCKDECODER11_STAT_INIT)
    {
        aRecord->size = 0;
        aRecord->total = 0;
    }
    else if (aStat == kBLOCKDECODER11_STAT_MSG)
    {
        const uint8_t head[] = {static_cast<uint8_t>(aMsgIdent >> 8),
                                static_cast<uint8_t>(aMsgIdent & 0xFF), aMsgSize};
        _T_append(aRecord, head, sizeof head);
        _T_append(aRecord, aMsgData, aMsgSize);
    }
}

bool BlockRecord__Equals(const block_record* aRecord, const void* aBytes, size_t aSize)
{
    return aRecord->total == aSize && aRecord->size == aSize &&
           std::memcmp(aRecord->bytes, aBytes, aSize) == 0;
}
