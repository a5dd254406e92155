// CRC-16/CCITT-FALSE (poly 0x1021, MSB first, no reflection, no final XOR); callers start at
// 0xFFFF. Data followed by its own CRC, high byte first, leaves 0: receivers check a frame that
// way. Pure functions: no state, no allocation, no failure.
#ifndef VESK11_CORE_CRC16_H
#define VESK11_CORE_CRC16_H

#include <cstdint>

constexpr uint16_t kCRC16_INIT = 0xFFFF;

// Folds aByte into the running value at aCrc16 (not null), in place.
void Crc16__Update(uint8_t aByte, uint16_t* aCrc16);

// Returns the value after folding the first aBufferSize bytes at aBufferData into aCrc16; size 0
// returns aCrc16 (aBufferData may then be null). Covers at most 255 bytes per call: chain calls,
// passing each result on, for longer data.
uint16_t Crc16__Update2(const void* aBufferData, uint8_t aBufferSize, uint16_t aCrc16);

#endif
