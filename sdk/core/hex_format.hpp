// Bytes as hexadecimal text for log records.
#ifndef VESK11_SDK_CORE_HEX_FORMAT_HPP
#define VESK11_SDK_CORE_HEX_FORMAT_HPP

#include <cstddef>
#include <cstdint>

namespace Orvo
{
namespace Support
{

// "7e 01 0c": lower-case digits, one blank between bytes, then a NUL. aText has room for at least
// 3 * aSize bytes (one when aSize is 0).
void TextFormatHex(const uint8_t* aData, std::size_t aSize, char* aText);

} // namespace Support
} // namespace Orvo

#endif
