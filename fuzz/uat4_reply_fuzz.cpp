// Runs the UAT v4 reply decoder or one of the seven reply assertions on an arbitrary message and
// action. The message lies in a heap buffer of exactly its stated size, so a read past that size
// stops the run under AddressSanitizer. Checked after each call: the message bytes are unchanged,
// the assertions change nothing in the action, the decoder at most its value, and the result
// agrees with the size, the result code and the fields compared, as the reply format defines them.
// Input: one byte selecting the operation, 13 bytes of action (group, array, dim0, dim1,
// value_type and value, each little-endian, then the action type), the rest the message data.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.hpp"
#include "uat4/uat4.h"

const char* const vesk11_fuzz::kSUBJECT = "uat4 reply";

namespace
{

using vesk11_fuzz::require;

constexpr size_t kHEADER_SIZE = 14;
constexpr uint8_t kOPERATIONS = 8;

uint32_t _T_value_bits(const uat4_param& aParam)
{
    uint32_t bits;
    std::memcpy(&bits, &aParam.value_i32, sizeof bits);
    return bits;
}

uat4_action_t _T_action(const uint8_t* aIn)
{
    uat4_action_t action{};
    action.param.group = Uat4__GetU16le(aIn);
    action.param.array = Uat4__GetU16le(aIn + 2);
    action.param.array_dim0 = aIn[4];
    action.param.array_dim1 = aIn[5];
    action.param.value_type = Uat4__GetU16le(aIn + 6);
    action.param.value_i32 = static_cast<int32_t>(Uat4__GetU32le(aIn + 8));
    action.type = aIn[12];
    return action;
}

bool _T_same_but_value(const uat4_action_t& aOne, const uat4_action_t& aOther)
{
    return aOne.param.group == aOther.param.group && aOne.param.array == aOther.param.array &&
           aOne.param.array_dim0 == aOther.param.array_dim0 &&
           aOne.param.array_dim1 == aOther.param.array_dim1 &&
           aOne.param.value_type == aOther.param.value_type && aOne.type == aOther.type;
}

bool _T_same(const uat4_action_t& aOne, const uat4_action_t& aOther)
{
    return _T_same_but_value(aOne, aOther) &&
           _T_value_bits(aOne.param) == _T_value_bits(aOther.param);
}

// What each operation must answer, from the reply format alone. aMsg is read only when the size
// is 8, the only size at which any field of it exists.
struct expectation
{
    const uint8_t* msg;
    uint8_t size;
    const uat4_action_t& action;

    bool sized() const { return size == kUAT4_MSG_DATA_SIZE; }
    bool result_ok() const { return sized() && msg[3] == 0; }
    uint32_t reply_bits() const { return Uat4__GetU32le(msg + 4); }

    bool values_equal() const
    {
        if (action.param.value_type == kUAT4_VALUE_I32)
            return reply_bits() == _T_value_bits(action.param);
        if (action.param.value_type != kUAT4_VALUE_F32)
            return true;
        const float reply = Uat4__BitsToF32(reply_bits());
        const float expected = action.param.value_f32;
        return !std::isnan(reply) && !std::isnan(expected) && reply == expected;
    }

    bool answer(uint8_t aOperation) const
    {
        switch (aOperation)
        {
        case 0: // the decoder
        case 6: // AssertReplyMsg2
            return result_ok();
        case 1: // AssertReplyBatchHeader
            return sized();
        case 2: // AssertReplySetGetParamMsg1
            return sized() && Uat4__GetU16le(msg + 4) == action.param.group &&
                   Uat4__GetU16le(msg + 6) == action.param.array;
        case 3: // AssertReplySetGetParamMsg2
            return result_ok() && values_equal();
        case 4: // AssertReplySetGetParamMsg3
            return sized() && msg[4] == action.param.array_dim0 &&
                   msg[5] == action.param.array_dim1;
        default: // AssertReplyMsg1 and AssertReplyMsg3 examine nothing
            return true;
        }
    }
};

using reply_fn = bool (*)(const void*, uint8_t, uat4_action_t*);

const reply_fn kOPERATION_FNS[kOPERATIONS] = {
    UatAction4__DecodeReplyMsg2,
    UatAction4__AssertReplyBatchHeader,
    UatAction4__AssertReplySetGetParamMsg1,
    UatAction4__AssertReplySetGetParamMsg2,
    UatAction4__AssertReplySetGetParamMsg3,
    UatAction4__AssertReplyMsg1,
    UatAction4__AssertReplyMsg2,
    UatAction4__AssertReplyMsg3,
};

void _T_check_decoded(const expectation& aExpect, bool aResult, const uat4_action_t& aBefore,
                      const uat4_action_t& aAfter)
{
    require(_T_same_but_value(aBefore, aAfter), "decoder changed more than the value");
    const uint16_t valueType = aBefore.param.value_type;
    if (!aResult || (valueType != kUAT4_VALUE_I32 && valueType != kUAT4_VALUE_F32))
    {
        require(_T_same(aBefore, aAfter), "decoder stored a value it must not store");
        return;
    }
    require(_T_value_bits(aAfter.param) == aExpect.reply_bits(),
            "decoder stored other bits than the reply's");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*aArgc*/, char*** /*aArgv*/)
{
    vesk11_fuzz::open_log("uat4_reply_fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < kHEADER_SIZE)
        return 0;
    const uint8_t operation = aData[0] % kOPERATIONS;
    const uat4_action_t before = _T_action(aData + 1);
    const size_t rest = aSize - kHEADER_SIZE;
    const uint8_t size = rest > UINT8_MAX ? UINT8_MAX : static_cast<uint8_t>(rest);

    const std::unique_ptr<uint8_t[]> msg(new uint8_t[size]);
    std::memcpy(msg.get(), aData + kHEADER_SIZE, size);
    uat4_action_t action = before;
    const bool result = kOPERATION_FNS[operation](msg.get(), size, &action);

    require(std::memcmp(msg.get(), aData + kHEADER_SIZE, size) == 0, "message changed");
    const expectation expect{aData + kHEADER_SIZE, size, before};
    require(result == expect.answer(operation), "result disagrees with the message");
    if (operation == 0)
        _T_check_decoded(expect, result, before, action);
    else
        require(_T_same(before, action), "an assertion changed the action");
    return 0;
}
