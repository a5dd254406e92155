// CRC-16/CCITT-FALSE (poly 0x1021, MSB first, no reflection, no final XOR); callers start at 0xFFFF.
#ifndef VESK11_CORE_CRC16_H
#define VESK11_CORE_CRC16_H

#include <cstdint>

constexpr uint16_t kCRC16_INIT = 0xFFFF;

void Crc16__Update(uint8_t aByte, uint16_t* aCrc16);

// Covers at most 255 bytes per call: chain calls for longer data.
uint16_t Crc16__Update2(const void* aBufferData, uint8_t aBufferSize, uint16_t aCrc16);

#endif
