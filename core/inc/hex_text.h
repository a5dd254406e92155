// Bytes as hexadecimal text, for log records and frame dumps.
#ifndef VESK11_CORE_HEX_TEXT_H
#define VESK11_CORE_HEX_TEXT_H

#include <cstddef>
#include <cstdint>

// Writes "7e 01 0c" to aText: lower-case digits, one blank between bytes, then a NUL. aText has
// room for at least 3 * aSize bytes (one when aSize is 0). Never fails.
void HexText__Format(const uint8_t* aData, size_t aSize, char* aText);

#endif
