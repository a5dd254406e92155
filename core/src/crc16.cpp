#include "crc16.h"

void Crc16__Update(uint8_t aByte, uint16_t* aCrc16)
{
    uint16_t crc = static_cast<uint16_t>(*aCrc16 ^ (aByte << 8));
    for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    *aCrc16 = crc;
}

uint16_t Crc16__Update2(const void* aBufferData, uint8_t aBufferSize, uint16_t aCrc16)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(aBufferData);
    uint16_t crc = aCrc16;
    for (uint8_t i = 0; i < aBufferSize; ++i)
        Crc16__Update(bytes[i], &crc);
    return crc;
}
