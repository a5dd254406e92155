#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hex_text.hpp"
#include "log_capture.hpp"
#include "uat4/uat4.h"

namespace
{

using bytes_t = std::vector<uint8_t>;
using vesk11_test::hex_bytes;

bytes_t _T_batch_bytes(const uat4_action_t& aAction)
{
    uat4_query_batch batch;
    std::memset(&batch, 0xA5, sizeof batch);
    UatAction4__EncodeQueryBatch(&batch, &aAction);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&batch);
    return bytes_t(raw, raw + sizeof batch);
}

// An action whose every byte is junk, to show that an initialiser writes every field.
uat4_action_t _T_junk_action()
{
    uat4_action_t action;
    std::memset(&action, 0xA5, sizeof action);
    return action;
}

uint32_t _T_value_bits(const uat4_action_t& aAction)
{
    return Uat4__F32ToBits(aAction.param.value_f32);
}

// Field by field: the record has padding, which a byte comparison would read.
bool _T_same_action(const uat4_action_t& aLeft, const uat4_action_t& aRight)
{
    return aLeft.type == aRight.type && aLeft.param.group == aRight.param.group &&
           aLeft.param.array == aRight.param.array &&
           aLeft.param.array_dim0 == aRight.param.array_dim0 &&
           aLeft.param.array_dim1 == aRight.param.array_dim1 &&
           aLeft.param.value_type == aRight.param.value_type &&
           _T_value_bits(aLeft) == _T_value_bits(aRight);
}

// ---- Actions ----------------------------------------------------------------------------------

struct init_case
{
    const char* name;
    std::function<void(uat4_action_t*)> init;
    uint8_t type;
    uint8_t dim0;
    uint8_t dim1;
    uint16_t value_type;
    uint32_t value_bits;
};

// Each action starts as junk, so a row also shows that no trace of an earlier value survives.
TEST(uat_action4_init, every_initialiser_writes_every_field)
{
    const uint32_t bits_2_5 = Uat4__F32ToBits(2.5f);
    const std::vector<init_case> cases = {
        {"CommandU32",
         [](uat4_action_t* a) { UatAction4__InitCommandU32(a, 1234, 567, 0xFFFFFFFF); }, 0, 0, 0, 0,
         0xFFFFFFFF},
        {"GetStatusI32", [](uat4_action_t* a) { UatAction4__InitGetStatusI32(a, 1234, 567); }, 1, 0,
         0, 0, 0},
        {"GetStatusF32", [](uat4_action_t* a) { UatAction4__InitGetStatusF32(a, 1234, 567); }, 1, 0,
         0, 2, 0},
        {"SetParamI32",
         [](uat4_action_t* a) { UatAction4__InitSetParamI32(a, 1234, 567, -7, 3, 4); }, 2, 3, 4, 0,
         0xFFFFFFF9},
        {"SetParamF32",
         [](uat4_action_t* a) { UatAction4__InitSetParamF32(a, 1234, 567, 2.5f, 3, 4); }, 2, 3, 4,
         2, bits_2_5},
        {"GetParamI32", [](uat4_action_t* a) { UatAction4__InitGetParamI32(a, 1234, 567, 3, 4); },
         3, 3, 4, 0, 0},
        {"GetParamF32", [](uat4_action_t* a) { UatAction4__InitGetParamF32(a, 1234, 567, 3, 4); },
         3, 3, 4, 2, 0},
        {"SetGetParamI32",
         [](uat4_action_t* a) { UatAction4__InitSetGetParamI32(a, 1234, 567, -7, 3, 4); }, 4, 3, 4,
         0, 0xFFFFFFF9},
        {"SetGetParamF32",
         [](uat4_action_t* a) { UatAction4__InitSetGetParamF32(a, 1234, 567, 2.5f, 3, 4); }, 4, 3,
         4, 2, bits_2_5},
    };
    for (const init_case& c : cases)
    {
        SCOPED_TRACE(c.name);
        uat4_action_t action = _T_junk_action();
        c.init(&action);
        EXPECT_EQ(action.type, c.type);
        EXPECT_EQ(action.param.group, 1234);
        EXPECT_EQ(action.param.array, 567);
        EXPECT_EQ(action.param.array_dim0, c.dim0);
        EXPECT_EQ(action.param.array_dim1, c.dim1);
        EXPECT_EQ(action.param.value_type, c.value_type);
        EXPECT_EQ(_T_value_bits(action), c.value_bits);
    }
}

// ---- Encoders and the batch --------------------------------------------------------------------

using encoder_fn = bool (*)(void*, uint8_t, const uat4_action_t*, uint8_t);

TEST(uat_action4_encode, refuses_area_below_eight_bytes_and_writes_exactly_eight)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamF32(&action, 2000, 50, 1.5f, 0, 0);
    for (encoder_fn encode : {&UatAction4__EncodeQueryMsg1, &UatAction4__EncodeQueryMsg2})
    {
        std::array<uint8_t, 12> area;
        area.fill(0xEE);
        for (uint8_t size : std::array<uint8_t, 3>{0, 1, 7})
        {
            EXPECT_FALSE(encode(area.data(), size, &action, 1)) << int(size);
            EXPECT_THAT(area, ::testing::Each(0xEE)) << int(size);
        }
        for (uint8_t size : std::array<uint8_t, 3>{8, 9, 12})
        {
            area.fill(0xEE);
            EXPECT_TRUE(encode(area.data(), size, &action, 1)) << int(size);
            EXPECT_THAT(bytes_t(area.begin() + 8, area.end()), ::testing::Each(0xEE));
            EXPECT_FALSE(
                std::all_of(area.begin(), area.begin() + 8, [](uint8_t b) { return b == 0xEE; }));
        }
    }
}

TEST(uat_action4_encode, msg1_fields_low_byte_first)
{
    uat4_action_t action;
    UatAction4__InitGetParamI32(&action, 0x1234, 0xABCD, 0x56, 0x78);
    uint8_t data[8];
    ASSERT_TRUE(UatAction4__EncodeQueryMsg1(data, 8, &action, 0x9A));
    EXPECT_EQ(bytes_t(data, data + 8), hex_bytes("34 12 9A 03 CD AB 56 78"));
}

TEST(uat_action4_encode, msg2_carries_the_value_by_its_type)
{
    uint8_t data[8];
    uat4_action_t action;

    UatAction4__InitSetGetParamI32(&action, 2000, 104, -2, 0, 0);
    ASSERT_TRUE(UatAction4__EncodeQueryMsg2(data, 8, &action, 2));
    EXPECT_EQ(bytes_t(data, data + 8), hex_bytes("D0 07 02 00 FE FF FF FF"));

    UatAction4__InitSetGetParamF32(&action, 2000, 50, -2.0f, 0, 0);
    ASSERT_TRUE(UatAction4__EncodeQueryMsg2(data, 8, &action, 7));
    EXPECT_EQ(bytes_t(data, data + 8), hex_bytes("D0 07 07 02 00 00 00 C0"));

    UatAction4__InitCommandU32(&action, 1000, 345, 0xFFFFFFFF);
    ASSERT_TRUE(UatAction4__EncodeQueryMsg2(data, 8, &action, 2));
    EXPECT_EQ(bytes_t(data, data + 8), hex_bytes("E8 03 02 00 FF FF FF FF"));
}

TEST(uat_action4_batch, reboot_matches_worked_example)
{
    uat4_action_t action;
    UatAction4__InitCommandU32(&action, 1000, 342, 0);
    EXPECT_EQ(_T_batch_bytes(action),
              hex_bytes("03 FB 08 E8 03 00 04 FF 01 63 A7 03 FB 08 E8 03 01 00 "
                        "56 01 00 00 03 FB 08 E8 03 02 00 00 00 00 00"));
}

TEST(uat_action4_batch, set_get_float_matches_worked_example)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamF32(&action, 2000, 50, 1.5f, 0, 0);
    EXPECT_EQ(_T_batch_bytes(action),
              hex_bytes("03 FB 08 D0 07 00 04 FF 01 C2 C9 03 FB 08 D0 07 01 04 "
                        "32 00 00 00 03 FB 08 D0 07 02 02 00 00 C0 3F"));
}

TEST(uat_action4_batch, checksum_covers_data_only)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamF32(&action, 2000, 50, 1.5f, 0, 0);
    uat4_query_batch batch;
    UatAction4__EncodeQueryBatch(&batch, &action);
    const uint16_t crc = UatAction4__BatchCrc16(&batch);
    EXPECT_EQ(crc, 0xC9C2);

    uint8_t* raw = reinterpret_cast<uint8_t*>(&batch);
    // Idents, sizes and the checksum field itself are outside the checksum.
    for (size_t offset : {0u, 1u, 2u, 9u, 10u, 11u, 12u, 13u, 22u, 23u, 24u})
    {
        uat4_query_batch copy = batch;
        reinterpret_cast<uint8_t*>(&copy)[offset] ^= 0x5A;
        EXPECT_EQ(UatAction4__BatchCrc16(&copy), crc) << offset;
    }
    for (size_t offset : {3u, 8u, 14u, 21u, 25u, 32u})
    {
        uat4_query_batch copy = batch;
        reinterpret_cast<uint8_t*>(&copy)[offset] = static_cast<uint8_t>(raw[offset] ^ 0x01);
        EXPECT_NE(UatAction4__BatchCrc16(&copy), crc) << offset;
    }
}

// ---- Decoder and assertions --------------------------------------------------------------------

bytes_t _T_reply_msg2(uint8_t aResult, uint32_t aValueBits)
{
    bytes_t data = {0x79, 0x42, 0x02, aResult, 0, 0, 0, 0};
    Uat4__PutU32le(data.data() + 4, aValueBits);
    return data;
}

std::string _T_size_record(uint8_t aActual)
{
    return "fail: invalid size (actual:" + std::to_string(aActual) + ", expected:8)";
}

// The log of a check: empty when the check held, else exactly one failure record, aMessage.
void _T_expect_verdict_logged(const vesk11_test::log_capture& aLog, bool aOk, const char* aFunc,
                              const char* aMessage)
{
    const auto records = aLog.records();
    if (aOk)
    {
        EXPECT_TRUE(records.empty()) << aLog.dump();
        return;
    }
    ASSERT_EQ(records.size(), 1u) << aLog.dump();
    EXPECT_TRUE(vesk11_test::has_record(records, 1, aFunc, aMessage)) << aLog.dump();
}

using check_fn = bool (*)(const void*, uint8_t, uat4_action_t*);

struct sized_check
{
    const char* func;
    check_fn check;
};

TEST(uat_action4_reply, wrong_size_is_refused_with_the_size_record)
{
    const std::vector<sized_check> checks = {
        {"UatAction4__DecodeReplyMsg2", &UatAction4__DecodeReplyMsg2},
        {"UatAction4__AssertReplyBatchHeader", &UatAction4__AssertReplyBatchHeader},
        {"UatAction4__AssertReplySetGetParamMsg1", &UatAction4__AssertReplySetGetParamMsg1},
        {"UatAction4__AssertReplySetGetParamMsg2", &UatAction4__AssertReplySetGetParamMsg2},
        {"UatAction4__AssertReplySetGetParamMsg3", &UatAction4__AssertReplySetGetParamMsg3},
        {"UatAction4__AssertReplyMsg2", &UatAction4__AssertReplyMsg2},
    };
    uint8_t area[16] = {};
    for (const sized_check& c : checks)
    {
        for (uint8_t size : std::array<uint8_t, 4>{0, 7, 9, 255})
        {
            SCOPED_TRACE(std::string(c.func) + " size " + std::to_string(size));
            vesk11_test::log_capture log;
            uat4_action_t action;
            UatAction4__InitSetGetParamI32(&action, 0, 0, 0, 0, 0);
            EXPECT_FALSE(c.check(area, size, &action));
            auto records = log.records();
            ASSERT_EQ(records.size(), 1u) << log.dump();
            EXPECT_EQ(records[0].level, 1);
            EXPECT_EQ(records[0].func, c.func);
            EXPECT_EQ(records[0].message, _T_size_record(size));
            EXPECT_EQ(records[0].file, "uat4.cpp");
        }
    }
}

TEST(uat_action4_reply, content_is_not_examined_where_not_compared)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitCommandU32(&action, 1000, 342, 0);
    uint8_t junk[8];
    std::memset(junk, 0xFF, sizeof junk);
    EXPECT_TRUE(UatAction4__AssertReplyMsg1(junk, 0, &action));
    EXPECT_TRUE(UatAction4__AssertReplyMsg3(junk, 0, &action));
    EXPECT_TRUE(UatAction4__AssertReplyMsg1(nullptr, 0, &action));
    EXPECT_TRUE(UatAction4__AssertReplyMsg3(nullptr, 200, &action));
    EXPECT_TRUE(UatAction4__AssertReplyBatchHeader(junk, 8, &action));
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST(uat_action4_decode, stores_integer_and_logs_it)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitGetParamI32(&action, 2000, 104, 0, 0);
    bytes_t reply = _T_reply_msg2(0, 0xFFFFFFFB);
    EXPECT_TRUE(UatAction4__DecodeReplyMsg2(reply.data(), 8, &action));
    EXPECT_EQ(action.param.value_i32, -5);
    EXPECT_TRUE(log.has(4, "UatAction4__DecodeReplyMsg2", "aQueryReply array 104 value -5"))
        << log.dump();
}

TEST(uat_action4_decode, stores_float_and_logs_it)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitGetParamF32(&action, 2000, 50, 0, 0);
    bytes_t reply = hex_bytes("79 42 02 00 00 00 C0 3F");
    EXPECT_TRUE(UatAction4__DecodeReplyMsg2(reply.data(), 8, &action));
    EXPECT_EQ(action.param.value_f32, 1.5f);
    EXPECT_TRUE(log.has(4, "UatAction4__DecodeReplyMsg2", "aQueryReply array 50 value 1.500000"))
        << log.dump();
}

TEST(uat_action4_decode, bad_result_stores_nothing)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitSetGetParamI32(&action, 2000, 104, 77, 0, 0);
    bytes_t reply = _T_reply_msg2(3, 5);
    EXPECT_FALSE(UatAction4__DecodeReplyMsg2(reply.data(), 8, &action));
    EXPECT_EQ(action.param.value_i32, 77);
    EXPECT_TRUE(log.has(1, "UatAction4__DecodeReplyMsg2", "fail: bad result (3)")) << log.dump();
}

TEST(uat_action4_decode, wrong_size_stores_nothing)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitSetGetParamI32(&action, 2000, 104, 77, 0, 0);
    bytes_t reply = _T_reply_msg2(0, 5);
    EXPECT_FALSE(UatAction4__DecodeReplyMsg2(reply.data(), 7, &action));
    EXPECT_EQ(action.param.value_i32, 77);
    EXPECT_TRUE(log.has(1, "UatAction4__DecodeReplyMsg2", _T_size_record(7))) << log.dump();
}

TEST(uat_action4_decode, unknown_value_type_stores_nothing_but_succeeds)
{
    vesk11_test::log_capture log;
    uat4_action_t action;
    UatAction4__InitSetGetParamI32(&action, 2000, 104, 77, 0, 0);
    action.param.value_type = 1;
    bytes_t reply = _T_reply_msg2(0, 5);
    EXPECT_TRUE(UatAction4__DecodeReplyMsg2(reply.data(), 8, &action));
    EXPECT_EQ(action.param.value_i32, 77);
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST(uat_action4_assert, set_get_msg1_compares_group_then_array)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamF32(&action, 2000, 50, 1.5f, 0, 0);
    const uat4_action_t before = action;
    struct
    {
        const char* data;
        bool ok;
        const char* message;
    } cases[] = {
        // udt_index, sequence and type are not examined.
        {"AA BB CC DD D0 07 32 00", true, nullptr},
        {"00 00 00 00 D1 07 32 00", false, "fail: actual section != expected (2001 != 2000)"},
        {"00 00 00 00 D0 07 33 01", false, "fail: actual array != expected (307 != 50)"},
        {"00 00 00 00 00 00 00 00", false, "fail: actual section != expected (0 != 2000)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.data);
        vesk11_test::log_capture log;
        bytes_t data = hex_bytes(c.data);
        EXPECT_EQ(UatAction4__AssertReplySetGetParamMsg1(data.data(), 8, &action), c.ok);
        ASSERT_NO_FATAL_FAILURE(_T_expect_verdict_logged(
            log, c.ok, "UatAction4__AssertReplySetGetParamMsg1", c.message));
        EXPECT_TRUE(_T_same_action(action, before));
    }
}

struct msg2_case
{
    const char* name;
    uint16_t value_type;
    uint32_t action_bits;
    uint8_t result;
    uint32_t reply_bits;
    bool ok;
    const char* message;
};

TEST(uat_action4_assert, set_get_msg2_compares_result_and_value)
{
    const uint32_t pos_zero = Uat4__F32ToBits(0.0f);
    const uint32_t neg_zero = Uat4__F32ToBits(-0.0f);
    const uint32_t nan = Uat4__F32ToBits(std::numeric_limits<float>::quiet_NaN());
    const uint32_t one_five = Uat4__F32ToBits(1.5f);
    const std::vector<msg2_case> cases = {
        {"int equal", 0, 0xFFFFFFFE, 0, 0xFFFFFFFE, true, nullptr},
        {"int differ", 0, 7, 0, 0xFFFFFFFE, false, "fail: actual value != expected -2 != 7"},
        {"bad result", 0, 7, 9, 7, false, "fail: bad result (9)"},
        {"float equal", 2, one_five, 0, one_five, true, nullptr},
        {"float differ", 2, one_five, 0, Uat4__F32ToBits(2.25f), false,
         "fail: actual value != expected 2.250000 != 1.500000"},
        // Different bits, yet equal as floats.
        {"-0.0 for 0.0", 2, pos_zero, 0, neg_zero, true, nullptr},
        {"0.0 for -0.0", 2, neg_zero, 0, pos_zero, true, nullptr},
        {"NaN reply", 2, pos_zero, 0, nan, false, "fail: actual value != expected nan != 0.000000"},
        // Equal bits, yet different as floats.
        {"NaN both", 2, nan, 0, nan, false, "fail: actual value != expected nan != nan"},
        {"unknown type", 1, 7, 0, 8, true, nullptr},
        {"bad result unknown type", 1, 7, 1, 7, false, "fail: bad result (1)"},
    };
    for (const msg2_case& c : cases)
    {
        SCOPED_TRACE(c.name);
        vesk11_test::log_capture log;
        uat4_action_t action;
        UatAction4__InitSetGetParamI32(&action, 2000, 50, static_cast<int32_t>(c.action_bits), 0,
                                       0);
        action.param.value_type = c.value_type;
        const uat4_action_t before = action;
        bytes_t reply = _T_reply_msg2(c.result, c.reply_bits);
        EXPECT_EQ(UatAction4__AssertReplySetGetParamMsg2(reply.data(), 8, &action), c.ok);
        ASSERT_NO_FATAL_FAILURE(_T_expect_verdict_logged(
            log, c.ok, "UatAction4__AssertReplySetGetParamMsg2", c.message));
        EXPECT_TRUE(_T_same_action(action, before));
    }
}

TEST(uat_action4_assert, set_get_msg3_compares_dimensions)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamI32(&action, 2000, 50, 0, 3, 4);
    struct
    {
        const char* data;
        bool ok;
        const char* message;
    } cases[] = {
        // format and reserved are not examined.
        {"79 42 03 EE 03 04 FF FF", true, nullptr},
        {"79 42 03 00 05 04 00 00", false, "fail: actual dim0 != expected (5 != 3)"},
        {"79 42 03 00 03 FF 00 00", false, "fail: actual dim1 != expected (255 != 4)"},
        {"79 42 03 00 00 00 00 00", false, "fail: actual dim0 != expected (0 != 3)"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.data);
        vesk11_test::log_capture log;
        bytes_t data = hex_bytes(c.data);
        EXPECT_EQ(UatAction4__AssertReplySetGetParamMsg3(data.data(), 8, &action), c.ok);
        ASSERT_NO_FATAL_FAILURE(_T_expect_verdict_logged(
            log, c.ok, "UatAction4__AssertReplySetGetParamMsg3", c.message));
    }
}

TEST(uat_action4_assert, reply_msg2_checks_only_the_result)
{
    uat4_action_t action;
    UatAction4__InitSetGetParamI32(&action, 2000, 50, 7, 0, 0);
    bytes_t good = _T_reply_msg2(0, 12345);
    EXPECT_TRUE(UatAction4__AssertReplyMsg2(good.data(), 8, &action));

    vesk11_test::log_capture log;
    bytes_t bad = _T_reply_msg2(0xFF, 7);
    EXPECT_FALSE(UatAction4__AssertReplyMsg2(bad.data(), 8, &action));
    EXPECT_TRUE(log.has(1, "UatAction4__AssertReplyMsg2", "fail: bad result (255)")) << log.dump();
}

} // namespace

namespace
{

// ---- Bodies told apart ------------------------------------------------------------------------

struct body_case
{
    const char* name;
    std::function<void(bytes_t&)> change; // applied to a well-formed query batch
    bool query;
    bool well_formed;
    bool reply;
};

TEST(uat_action4_body, query_and_reply_batches_are_told_apart)
{
    const body_case cases[] = {
        {"as encoded", [](bytes_t&) {}, true, true, false},
        {"batch checksum wrong", [](bytes_t& aBody) { aBody[10] ^= 1; }, true, false, false},
        {"one byte short", [](bytes_t& aBody) { aBody.pop_back(); }, false, false, false},
        {"one byte more", [](bytes_t& aBody) { aBody.push_back(0); }, false, false, false},
        {"another ident", [](bytes_t& aBody) { aBody[11] = 0x02; }, false, false, false},
        {"a reply's message 2", [](bytes_t& aBody) { aBody[14] = 0x79, aBody[15] = 0x42; }, true,
         false, true},
        {"a reply cut inside it",
         [](bytes_t& aBody) { aBody[25] = 0x79, aBody[26] = 0x42, aBody.resize(30); }, false, false,
         false},
    };
    uat4_action_t action;
    UatAction4__InitSetGetParamF32(&action, 2000, 50, 0.5f, 0, 0);
    for (const body_case& c : cases)
    {
        bytes_t body = _T_batch_bytes(action);
        c.change(body);
        EXPECT_EQ(UatAction4__IsQueryBatch(body.data(), body.size()), c.query) << c.name;
        EXPECT_EQ(UatAction4__IsWellFormedQueryBatch(body.data(), body.size()), c.well_formed)
            << c.name;
        EXPECT_EQ(UatAction4__IsReplyBatch(body.data(), body.size()), c.reply) << c.name;
    }
}

} // namespace
