// Bytes written as hexadecimal text, both ways: known answers are easier to read and compare so.
#ifndef VESK11_TESTS_HEX_TEXT_HPP
#define VESK11_TESTS_HEX_TEXT_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace vesk11_test
{

// "03 FB 08" as bytes: two digits a byte, blanks between them ignored.
inline std::vector<uint8_t> hex_bytes(const std::string& aText)
{
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at < aText.size();)
    {
        if (aText[at] == ' ')
        {
            ++at;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoul(aText.substr(at, 2), nullptr, 16)));
        at += 2;
    }
    return bytes;
}

// Bytes as "03 fb 08": lower case, one blank between bytes.
inline std::string hex_text(const std::vector<uint8_t>& aBytes)
{
    static const char kDIGITS[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : aBytes)
    {
        if (!text.empty())
            text += ' ';
        text += kDIGITS[byte >> 4];
        text += kDIGITS[byte & 0x0F];
    }
    return text;
}

} // namespace vesk11_test

#endif
