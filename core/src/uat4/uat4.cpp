#include "uat4/uat4.h"

#include <cstddef>

#include "crc16.h"
#include "log.h"

namespace
{

void _T_init(uat4_action_t* aSelf, uint8_t aType, uint16_t aGroup, uint16_t aParamArray,
             uint8_t aParamDim0, uint8_t aParamDim1, uint16_t aValueType)
{
    aSelf->param.group = aGroup;
    aSelf->param.array = aParamArray;
    aSelf->param.array_dim0 = aParamDim0;
    aSelf->param.array_dim1 = aParamDim1;
    aSelf->param.value_type = aValueType;
    aSelf->type = aType;
}

void _T_init_i32(uat4_action_t* aSelf, uint8_t aType, uint16_t aGroup, uint16_t aParamArray,
                 int32_t aValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init(aSelf, aType, aGroup, aParamArray, aParamDim0, aParamDim1, kUAT4_VALUE_I32);
    aSelf->param.value_i32 = aValue;
}

void _T_init_f32(uat4_action_t* aSelf, uint8_t aType, uint16_t aGroup, uint16_t aParamArray,
                 float aValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init(aSelf, aType, aGroup, aParamArray, aParamDim0, aParamDim1, kUAT4_VALUE_F32);
    aSelf->param.value_f32 = aValue;
}

void _T_put_msg_head(uint8_t* aId, uint8_t* aSize)
{
    // The ident is the one field of a message sent high byte first.
    aId[0] = static_cast<uint8_t>(kUAT4_QUERY_IDENT >> 8);
    aId[1] = static_cast<uint8_t>(kUAT4_QUERY_IDENT);
    *aSize = kUAT4_MSG_DATA_SIZE;
}

// The size and result checks are shared by several operations; their records carry the
// operation's name, hence aFunc.
bool _T_assert_size(uint8_t aMsgSize, const char* aFunc)
{
    if (aMsgSize == kUAT4_MSG_DATA_SIZE)
        return true;
    LogWrite(__FILE__, __LINE__, aFunc, 1, "fail: invalid size (actual:%u, expected:%zu)",
             static_cast<unsigned>(aMsgSize), static_cast<size_t>(kUAT4_MSG_DATA_SIZE));
    return false;
}

// Size 8 and result 0: the reply message 2 is usable.
const uat4_reply_batch__reply_msg2__data* _T_assert_reply_msg2(const void* aMsgData,
                                                               uint8_t aMsgSize, const char* aFunc)
{
    if (!_T_assert_size(aMsgSize, aFunc))
        return nullptr;
    const auto* data = static_cast<const uat4_reply_batch__reply_msg2__data*>(aMsgData);
    if (data->reply_result != 0)
    {
        LogWrite(__FILE__, __LINE__, aFunc, 1, "fail: bad result (%d)", data->reply_result);
        return nullptr;
    }
    return data;
}

int32_t _T_reply_i32(const uat4_reply_batch__reply_msg2__data* aData)
{
    return static_cast<int32_t>(Uat4__GetU32le(aData->reply_param_value));
}

float _T_reply_f32(const uat4_reply_batch__reply_msg2__data* aData)
{
    return Uat4__BitsToF32(Uat4__GetU32le(aData->reply_param_value));
}

} // namespace

void UatAction4__InitCommandU32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                uint32_t aParamValue)
{
    // All 32 bits travel unchanged: the integer field holds them as its two's complement.
    _T_init_i32(aSelf, kUAT4_ACTION_COMMAND, aGroup, aParamArray, static_cast<int32_t>(aParamValue),
                0, 0);
}

void UatAction4__InitGetStatusI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray)
{
    _T_init_i32(aSelf, kUAT4_ACTION_GET_STATUS, aGroup, aParamArray, 0, 0, 0);
}

void UatAction4__InitGetStatusF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray)
{
    _T_init_f32(aSelf, kUAT4_ACTION_GET_STATUS, aGroup, aParamArray, 0.0f, 0, 0);
}

void UatAction4__InitSetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 int32_t aParamValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_i32(aSelf, kUAT4_ACTION_SET_PARAM, aGroup, aParamArray, aParamValue, aParamDim0,
                aParamDim1);
}

void UatAction4__InitSetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 float aParamValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_f32(aSelf, kUAT4_ACTION_SET_PARAM, aGroup, aParamArray, aParamValue, aParamDim0,
                aParamDim1);
}

void UatAction4__InitGetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_i32(aSelf, kUAT4_ACTION_GET_PARAM, aGroup, aParamArray, 0, aParamDim0, aParamDim1);
}

void UatAction4__InitGetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_f32(aSelf, kUAT4_ACTION_GET_PARAM, aGroup, aParamArray, 0.0f, aParamDim0, aParamDim1);
}

void UatAction4__InitSetGetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                    int32_t aParamValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_i32(aSelf, kUAT4_ACTION_SET_GET_PARAM, aGroup, aParamArray, aParamValue, aParamDim0,
                aParamDim1);
}

void UatAction4__InitSetGetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                    float aParamValue, uint8_t aParamDim0, uint8_t aParamDim1)
{
    _T_init_f32(aSelf, kUAT4_ACTION_SET_GET_PARAM, aGroup, aParamArray, aParamValue, aParamDim0,
                aParamDim1);
}

bool UatAction4__EncodeQueryMsg1(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq)
{
    if (aMsgSize < kUAT4_MSG_DATA_SIZE)
        return false;
    auto* data = static_cast<uat4_query_batch__query_msg1__data*>(aMsgData);
    Uat4__PutU16le(data->query_param_group, aQuery->param.group);
    data->batch_msg_seq = aMsgSeq;
    data->query_action_type = aQuery->type;
    Uat4__PutU16le(data->query_param_array, aQuery->param.array);
    data->query_param_array_dim0 = aQuery->param.array_dim0;
    data->query_param_array_dim1 = aQuery->param.array_dim1;
    return true;
}

bool UatAction4__EncodeQueryMsg2(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq)
{
    if (aMsgSize < kUAT4_MSG_DATA_SIZE)
        return false;
    auto* data = static_cast<uat4_query_batch__query_msg2__data*>(aMsgData);
    Uat4__PutU16le(data->query_param_group, aQuery->param.group);
    data->batch_msg_seq = aMsgSeq;
    data->query_param_type = static_cast<uint8_t>(aQuery->param.value_type);
    uint32_t bits = aQuery->param.value_type == kUAT4_VALUE_I32
                        ? static_cast<uint32_t>(aQuery->param.value_i32)
                        : Uat4__F32ToBits(aQuery->param.value_f32);
    Uat4__PutU32le(data->query_param_value, bits);
    return true;
}

void UatAction4__EncodeQueryBatch(uat4_query_batch* aBatch, const uat4_action_t* aQuery)
{
    uat4_query_batch__header_msg__data& header = aBatch->header.data;
    _T_put_msg_head(aBatch->header.id, &aBatch->header.size);
    Uat4__PutU16le(header.batch_id, aQuery->param.group);
    header.batch_msg_seq = 0;
    header.batch_version = kUAT4_BATCH_VERSION;
    header.batch_sensor_id = kUAT4_BATCH_SENSOR_ID;
    header.batch_query_count = 1;

    _T_put_msg_head(aBatch->msg1.id, &aBatch->msg1.size);
    UatAction4__EncodeQueryMsg1(&aBatch->msg1.data, sizeof aBatch->msg1.data, aQuery, 1);
    _T_put_msg_head(aBatch->msg2.id, &aBatch->msg2.size);
    UatAction4__EncodeQueryMsg2(&aBatch->msg2.data, sizeof aBatch->msg2.data, aQuery, 2);

    Uat4__PutU16le(header.batch_crc16, UatAction4__BatchCrc16(aBatch));
}

uint16_t UatAction4__BatchCrc16(const uat4_query_batch* aBatch)
{
    uint16_t crc =
        Crc16__Update2(&aBatch->header.data,
                       offsetof(uat4_query_batch__header_msg__data, batch_crc16), kCRC16_INIT);
    crc = Crc16__Update2(&aBatch->msg1.data, sizeof aBatch->msg1.data, crc);
    return Crc16__Update2(&aBatch->msg2.data, sizeof aBatch->msg2.data, crc);
}

bool UatAction4__IsQueryBatch(const void* aBody, size_t aSize)
{
    if (aSize != kUAT4_BATCH_SIZE)
        return false;
    const uint8_t* body = static_cast<const uint8_t*>(aBody);
    for (size_t at = 0; at < kUAT4_BATCH_SIZE; at += kUAT4_MSG_SIZE)
    {
        const uint8_t* msg = body + at;
        if ((msg[0] << 8 | msg[1]) != kUAT4_QUERY_IDENT || msg[2] != kUAT4_MSG_DATA_SIZE)
            return false;
    }
    return true;
}

bool UatAction4__IsWellFormedQueryBatch(const void* aBody, size_t aSize)
{
    if (!UatAction4__IsQueryBatch(aBody, aSize))
        return false;
    uat4_query_batch batch;
    std::memcpy(&batch, aBody, sizeof batch);
    return UatAction4__BatchCrc16(&batch) == Uat4__GetU16le(batch.header.data.batch_crc16);
}

bool UatAction4__IsReplyBatch(const void* aBody, size_t aSize)
{
    const uint8_t* body = static_cast<const uint8_t*>(aBody);
    for (size_t at = 0; at + 3 <= aSize; at += 3u + body[at + 2])
    {
        const uint8_t* msg = body + at;
        if (msg[2] == kUAT4_MSG_DATA_SIZE && at + kUAT4_MSG_SIZE <= aSize &&
            Uat4__GetU16le(msg + 3) == kUAT4_REPLY_UDT_INDEX)
            return true;
    }
    return false;
}

bool UatAction4__DecodeReplyMsg2(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQueryReply)
{
    const uat4_reply_batch__reply_msg2__data* data =
        _T_assert_reply_msg2(aMsgData, aMsgSize, __func__);
    if (data == nullptr)
        return false;
    uat4_param& param = aQueryReply->param;
    if (param.value_type == kUAT4_VALUE_I32)
    {
        param.value_i32 = _T_reply_i32(data);
        LOG_WRITE(4, "aQueryReply array %d value %d", param.array, param.value_i32);
    }
    else if (param.value_type == kUAT4_VALUE_F32)
    {
        param.value_f32 = _T_reply_f32(data);
        LOG_WRITE(4, "aQueryReply array %d value %f", param.array,
                  static_cast<double>(param.value_f32));
    }
    return true;
}

bool UatAction4__AssertReplyBatchHeader(const void* /*aMsgData*/, uint8_t aMsgSize,
                                        uat4_action_t* /*aQuery*/)
{
    return _T_assert_size(aMsgSize, __func__);
}

bool UatAction4__ReplyMsg1Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery)
{
    const auto* data = static_cast<const uat4_reply_batch__reply_msg1__data*>(aMsgData);
    return aMsgSize == kUAT4_MSG_DATA_SIZE &&
           Uat4__GetU16le(data->reply_param_group) == aQuery->param.group &&
           Uat4__GetU16le(data->reply_param_array) == aQuery->param.array;
}

bool UatAction4__ReplyMsg3Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery)
{
    const auto* data = static_cast<const uat4_reply_batch__reply_msg3__data*>(aMsgData);
    return aMsgSize == kUAT4_MSG_DATA_SIZE &&
           data->reply_param_array_dim0 == aQuery->param.array_dim0 &&
           data->reply_param_array_dim1 == aQuery->param.array_dim1;
}

bool UatAction4__AssertReplySetGetParamMsg1(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery)
{
    if (!_T_assert_size(aMsgSize, __func__))
        return false;
    const auto* data = static_cast<const uat4_reply_batch__reply_msg1__data*>(aMsgData);
    uint16_t group = Uat4__GetU16le(data->reply_param_group);
    uint16_t array = Uat4__GetU16le(data->reply_param_array);
    if (group != aQuery->param.group)
    {
        LOG_WRITE(1, "fail: actual section != expected (%d != %d)", group, aQuery->param.group);
        return false;
    }
    if (array != aQuery->param.array)
    {
        LOG_WRITE(1, "fail: actual array != expected (%d != %d)", array, aQuery->param.array);
        return false;
    }
    return true;
}

bool UatAction4__AssertReplySetGetParamMsg2(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery)
{
    const uat4_reply_batch__reply_msg2__data* data =
        _T_assert_reply_msg2(aMsgData, aMsgSize, __func__);
    if (data == nullptr)
        return false;
    const uat4_param& param = aQuery->param;
    if (param.value_type == kUAT4_VALUE_I32 && _T_reply_i32(data) != param.value_i32)
    {
        LOG_WRITE(1, "fail: actual value != expected %d != %d", _T_reply_i32(data),
                  param.value_i32);
        return false;
    }
    // != makes a NaN on either side differ and lets 0.0 equal -0.0.
    if (param.value_type == kUAT4_VALUE_F32 && _T_reply_f32(data) != param.value_f32)
    {
        LOG_WRITE(1, "fail: actual value != expected %f != %f",
                  static_cast<double>(_T_reply_f32(data)), static_cast<double>(param.value_f32));
        return false;
    }
    return true;
}

bool UatAction4__AssertReplySetGetParamMsg3(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery)
{
    if (!_T_assert_size(aMsgSize, __func__))
        return false;
    const auto* data = static_cast<const uat4_reply_batch__reply_msg3__data*>(aMsgData);
    if (data->reply_param_array_dim0 != aQuery->param.array_dim0)
    {
        LOG_WRITE(1, "fail: actual dim0 != expected (%d != %d)", data->reply_param_array_dim0,
                  aQuery->param.array_dim0);
        return false;
    }
    if (data->reply_param_array_dim1 != aQuery->param.array_dim1)
    {
        LOG_WRITE(1, "fail: actual dim1 != expected (%d != %d)", data->reply_param_array_dim1,
                  aQuery->param.array_dim1);
        return false;
    }
    return true;
}

bool UatAction4__AssertReplyMsg1(const void* /*aMsgData*/, uint8_t /*aMsgSize*/,
                                 uat4_action_t* /*aQuery*/)
{
    return true;
}

bool UatAction4__AssertReplyMsg2(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* /*aQuery*/)
{
    return _T_assert_reply_msg2(aMsgData, aMsgSize, __func__) != nullptr;
}

bool UatAction4__AssertReplyMsg3(const void* /*aMsgData*/, uint8_t /*aMsgSize*/,
                                 uat4_action_t* /*aQuery*/)
{
    return true;
}
