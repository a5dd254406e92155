#include "hex_text.h"

void HexText__Format(const uint8_t* aData, size_t aSize, char* aText)
{
    static const char kDIGITS[] = "0123456789abcdef";
    char* out = aText;
    for (size_t i = 0; i < aSize; ++i)
    {
        if (i != 0)
            *out++ = ' ';
        *out++ = kDIGITS[aData[i] >> 4];
        *out++ = kDIGITS[aData[i] & 0x0F];
    }
    *out = '\0';
}
