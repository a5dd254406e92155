#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "crc16.h"

namespace
{

TEST(crc16, check_value_over_digits)
{
    const char* digits = "123456789";
    EXPECT_EQ(Crc16__Update2(digits, 9, kCRC16_INIT), 0x29B1);
}

TEST(crc16, bytewise_update_matches_buffer_update)
{
    uint16_t crc = kCRC16_INIT;
    for (char c : std::string("123456789"))
        Crc16__Update(static_cast<uint8_t>(c), &crc);
    EXPECT_EQ(crc, 0x29B1);
}

TEST(crc16, empty_buffer_leaves_start_value)
{
    EXPECT_EQ(Crc16__Update2("x", 0, kCRC16_INIT), kCRC16_INIT);
    EXPECT_EQ(Crc16__Update2("x", 0, 0x1234), 0x1234);
}

TEST(crc16, data_followed_by_its_crc_gives_zero)
{
    std::vector<uint8_t> data = {0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00};
    uint16_t crc = Crc16__Update2(data.data(), static_cast<uint8_t>(data.size()), kCRC16_INIT);
    EXPECT_EQ(crc, 0x0476); // the header checksum of a 33-byte body
    data.push_back(static_cast<uint8_t>(crc >> 8));
    data.push_back(static_cast<uint8_t>(crc));
    EXPECT_EQ(Crc16__Update2(data.data(), static_cast<uint8_t>(data.size()), kCRC16_INIT), 0);
}

TEST(crc16, chained_calls_equal_one_call)
{
    const char* text = "the quick brown fox";
    size_t n = std::strlen(text);
    uint16_t whole = Crc16__Update2(text, static_cast<uint8_t>(n), kCRC16_INIT);
    for (size_t cut = 0; cut <= n; ++cut)
    {
        uint16_t first = Crc16__Update2(text, static_cast<uint8_t>(cut), kCRC16_INIT);
        EXPECT_EQ(Crc16__Update2(text + cut, static_cast<uint8_t>(n - cut), first), whole) << cut;
    }
}

} // namespace

namespace
{

// The plain bit-at-a-time definition of the polynomial, as a reference for the folded form.
uint16_t _T_reference_update(uint16_t aCrc, uint8_t aByte)
{
    aCrc = static_cast<uint16_t>(aCrc ^ (aByte << 8));
    for (int bit = 0; bit < 8; ++bit)
        aCrc = static_cast<uint16_t>((aCrc & 0x8000) ? (aCrc << 1) ^ 0x1021 : aCrc << 1);
    return aCrc;
}

TEST(crc16, folded_update_equals_bitwise_definition_for_every_byte_and_state)
{
    for (uint32_t crc = 0; crc <= 0xFFFF; crc += 7)
    {
        for (uint32_t byte = 0; byte <= 0xFF; ++byte)
        {
            uint16_t folded = static_cast<uint16_t>(crc);
            Crc16__Update(static_cast<uint8_t>(byte), &folded);
            ASSERT_EQ(folded, _T_reference_update(static_cast<uint16_t>(crc),
                                                  static_cast<uint8_t>(byte)))
                << crc << " " << byte;
        }
    }
}

} // namespace
