// UAT v4 message records: 11 bytes each (ident high byte first, size, 8 data bytes).
// Multi-byte fields inside the data are little-endian byte arrays, read and written with the
// helpers below, so the records are the bytes on the wire on any host.
#ifndef VESK11_CORE_UAT4_TYPES_H
#define VESK11_CORE_UAT4_TYPES_H

#include <cstdint>
#include <cstring>

constexpr uint16_t kUAT4_QUERY_IDENT = 0x03FB;
constexpr uint8_t kUAT4_MSG_DATA_SIZE = 8;
constexpr uint8_t kUAT4_MSG_SIZE = 11;
constexpr uint8_t kUAT4_BATCH_SIZE = 33;
constexpr uint8_t kUAT4_BATCH_VERSION = 4;
constexpr uint8_t kUAT4_BATCH_SENSOR_ID = 0xFF;
// udt_index 0x4279 of the reply message that carries result and value (bytes 0x79 0x42).
constexpr uint16_t kUAT4_REPLY_UDT_INDEX = 0x4279;
// udt_index of the reply messages beside it: 1 names the parameter, 3 its dimensions.
constexpr uint16_t kUAT4_REPLY_MSG1_UDT_INDEX = 0x4278;
constexpr uint16_t kUAT4_REPLY_MSG3_UDT_INDEX = 0x427A;

// Little-endian fields: Put writes 2 or 4 bytes at aOut, Get returns the value of the 2 or 4
// bytes at aIn; BitsToF32 and F32ToBits return the same 32 bits seen as the other type.
inline void Uat4__PutU16le(uint8_t* aOut, uint16_t aValue)
{
    aOut[0] = static_cast<uint8_t>(aValue);
    aOut[1] = static_cast<uint8_t>(aValue >> 8);
}
inline uint16_t Uat4__GetU16le(const uint8_t* aIn)
{
    return static_cast<uint16_t>(aIn[0] | (aIn[1] << 8));
}
inline void Uat4__PutU32le(uint8_t* aOut, uint32_t aValue)
{
    for (int i = 0; i < 4; ++i)
        aOut[i] = static_cast<uint8_t>(aValue >> (8 * i));
}
inline uint32_t Uat4__GetU32le(const uint8_t* aIn)
{
    return static_cast<uint32_t>(aIn[0]) | static_cast<uint32_t>(aIn[1]) << 8 |
           static_cast<uint32_t>(aIn[2]) << 16 | static_cast<uint32_t>(aIn[3]) << 24;
}
inline float Uat4__BitsToF32(uint32_t aBits)
{
    float value;
    std::memcpy(&value, &aBits, sizeof value);
    return value;
}
inline uint32_t Uat4__F32ToBits(float aValue)
{
    uint32_t bits;
    std::memcpy(&bits, &aValue, sizeof bits);
    return bits;
}

struct uat4_query_batch__header_msg__data
{
    uint8_t batch_id[2];
    uint8_t batch_msg_seq;
    uint8_t batch_version;
    uint8_t batch_sensor_id;
    uint8_t batch_query_count;
    uint8_t batch_crc16[2];
};

struct uat4_query_batch__query_msg1__data
{
    uint8_t query_param_group[2];
    uint8_t batch_msg_seq;
    uint8_t query_action_type;
    uint8_t query_param_array[2];
    uint8_t query_param_array_dim0;
    uint8_t query_param_array_dim1;
};

struct uat4_query_batch__query_msg2__data
{
    uint8_t query_param_group[2];
    uint8_t batch_msg_seq;
    uint8_t query_param_type;
    uint8_t query_param_value[4]; // int32 or float, the same four bytes
};

struct uat4_reply_batch__reply_msg1__data
{
    uint8_t udt_index[2];
    uint8_t batch_msg_seq;
    uint8_t reply_param_type;
    uint8_t reply_param_group[2];
    uint8_t reply_param_array[2];
};

struct uat4_reply_batch__reply_msg2__data
{
    uint8_t udt_index[2];
    uint8_t batch_msg_seq;
    uint8_t reply_result;
    uint8_t reply_param_value[4]; // int32 or float, the same four bytes
};

struct uat4_reply_batch__reply_msg3__data
{
    uint8_t udt_index[2];
    uint8_t batch_msg_seq;
    uint8_t format;
    uint8_t reply_param_array_dim0;
    uint8_t reply_param_array_dim1;
    uint8_t reserved[2];
};

// One message as sent: ident high byte first, size, data.
#define VESK11_UAT4_MSG(aName)                                                                     \
    struct aName                                                                                   \
    {                                                                                              \
        uint8_t id[2];                                                                             \
        uint8_t size;                                                                              \
        aName##__data data;                                                                        \
    }

VESK11_UAT4_MSG(uat4_query_batch__header_msg);
VESK11_UAT4_MSG(uat4_query_batch__query_msg1);
VESK11_UAT4_MSG(uat4_query_batch__query_msg2);

#undef VESK11_UAT4_MSG

static_assert(sizeof(uat4_query_batch__header_msg__data) == 8, "header data is 8 bytes");
static_assert(sizeof(uat4_query_batch__query_msg1__data) == 8, "msg1 data is 8 bytes");
static_assert(sizeof(uat4_query_batch__query_msg2__data) == 8, "msg2 data is 8 bytes");
static_assert(sizeof(uat4_reply_batch__reply_msg1__data) == 8, "reply msg1 data is 8 bytes");
static_assert(sizeof(uat4_reply_batch__reply_msg2__data) == 8, "reply msg2 data is 8 bytes");
static_assert(sizeof(uat4_reply_batch__reply_msg3__data) == 8, "reply msg3 data is 8 bytes");
static_assert(sizeof(uat4_query_batch__header_msg) == 11, "a message is 11 bytes");
static_assert(sizeof(uat4_query_batch__query_msg1) == 11, "a message is 11 bytes");
static_assert(sizeof(uat4_query_batch__query_msg2) == 11, "a message is 11 bytes");

// The whole query batch, three messages back to back: the 33-byte frame body.
struct uat4_query_batch
{
    uat4_query_batch__header_msg header;
    uat4_query_batch__query_msg1 msg1;
    uat4_query_batch__query_msg2 msg2;
};
static_assert(sizeof(uat4_query_batch) == kUAT4_BATCH_SIZE, "a query batch is 33 bytes");

#endif
