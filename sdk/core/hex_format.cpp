#include "hex_format.hpp"

namespace Orvo
{
namespace Support
{

void TextFormatHex(const uint8_t* aData, std::size_t aSize, char* aText)
{
    static const char kDIGITS[] = "0123456789abcdef";
    char* out = aText;
    for (std::size_t i = 0; i < aSize; ++i)
    {
        if (i != 0)
            *out++ = ' ';
        *out++ = kDIGITS[aData[i] >> 4];
        *out++ = kDIGITS[aData[i] & 0x0F];
    }
    *out = '\0';
}

} // namespace Support
} // namespace Orvo
