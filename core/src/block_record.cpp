// Block recorder: keeps what the decoder delivers of the current block.
#include "block_record.h"

#include <algorithm>
#include <cstring>

#include "block_decoder11.h"
#include "transport_serial_types11.h"

namespace
{

// A message in the record: ident (high byte first), size, data.
constexpr size_t kMESSAGE_HEAD_SIZE = 3;
// The body size field of the header, high byte first.
constexpr size_t kHEAD_BODY_SIZE_AT = 3;

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
        aRecord->head_size = 0;
    }
    else if (aStat == kBLOCKDECODER11_STAT_MSG)
    {
        const uint8_t head[kMESSAGE_HEAD_SIZE] = {static_cast<uint8_t>(aMsgIdent >> 8),
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

void BlockRecord__TakeHead(block_record* aRecord, const block_decoder11_t* aDecoder)
{
    aRecord->head_size = BlockDecoder11__CopyHead(aDecoder, aRecord->head, sizeof aRecord->head);
}

size_t BlockRecord__BodySize(const block_record* aRecord)
{
    if (aRecord->head_size < kHEAD_BODY_SIZE_AT + 2)
        return aRecord->total;
    return static_cast<size_t>(aRecord->head[kHEAD_BODY_SIZE_AT] << 8 |
                               aRecord->head[kHEAD_BODY_SIZE_AT + 1]);
}

bool BlockRecord__NextMessage(const block_record* aRecord, size_t* aAt,
                              block_record_message* aMessage)
{
    const size_t at = *aAt;
    if (at + kMESSAGE_HEAD_SIZE > aRecord->size)
        return false;
    const uint8_t* head = aRecord->bytes + at;
    const size_t size = std::min<size_t>(head[2], aRecord->size - at - kMESSAGE_HEAD_SIZE);
    *aMessage = block_record_message{static_cast<uint16_t>(head[0] << 8 | head[1]),
                                     head + kMESSAGE_HEAD_SIZE, size};
    *aAt = at + kMESSAGE_HEAD_SIZE + size;
    return true;
}

size_t BlockRecord__Frame(const block_record* aRecord, uint8_t* aFrame, size_t aRoom)
{
    const size_t size = aRecord->head_size + aRecord->size + kTRAILER485_SIZE;
    // The messages delivered must be the whole body the header announced (a message longer than
    // the decoder delivers, or one cut by the body's end, is not).
    if (aRecord->head_size == 0 || aRecord->total != aRecord->size || aRecord->size > 0xFF ||
        BlockRecord__BodySize(aRecord) != aRecord->size || size > aRoom)
        return 0;
    std::memcpy(aFrame, aRecord->head, aRecord->head_size);
    if (aRecord->size != 0)
        std::memcpy(aFrame + aRecord->head_size, aRecord->bytes, aRecord->size);
    Block485__EncodeTrailer(aFrame + aRecord->head_size + aRecord->size, aRecord->bytes,
                            static_cast<uint8_t>(aRecord->size));
    return size;
}
