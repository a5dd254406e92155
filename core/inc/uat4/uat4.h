// UAT v4 actions (one query each) and the codec of the query and reply messages.
#ifndef VESK11_CORE_UAT4_UAT4_H
#define VESK11_CORE_UAT4_UAT4_H

#include <cstdint>

#include "uat4/types.h"

enum uat4_action_type : uint8_t
{
    kUAT4_ACTION_COMMAND = 0,
    kUAT4_ACTION_GET_STATUS = 1,
    kUAT4_ACTION_SET_PARAM = 2,
    kUAT4_ACTION_GET_PARAM = 3,
    kUAT4_ACTION_SET_GET_PARAM = 4,
};

enum uat4_value_type : uint16_t
{
    kUAT4_VALUE_I32 = 0,
    kUAT4_VALUE_F32 = 2,
};

struct uat4_param
{
    uint16_t group;
    uint16_t array;
    uint8_t array_dim0;
    uint8_t array_dim1;
    uint16_t value_type;
    union
    {
        int32_t value_i32;
        float value_f32;
    };
};

struct uat4_action
{
    uat4_param param;
    uint8_t type;
};
typedef uat4_action uat4_action_t;

// Initialisers: each writes every field of the action.
void UatAction4__InitCommandU32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                uint32_t aParamValue);
void UatAction4__InitGetStatusI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray);
void UatAction4__InitGetStatusF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray);
void UatAction4__InitSetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 int32_t aParamValue, uint8_t aParamDim0, uint8_t aParamDim1);
void UatAction4__InitSetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 float aParamValue, uint8_t aParamDim0, uint8_t aParamDim1);
void UatAction4__InitGetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 uint8_t aParamDim0, uint8_t aParamDim1);
void UatAction4__InitGetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                 uint8_t aParamDim0, uint8_t aParamDim1);
void UatAction4__InitSetGetParamI32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                    int32_t aParamValue, uint8_t aParamDim0, uint8_t aParamDim1);
void UatAction4__InitSetGetParamF32(uat4_action_t* aSelf, uint16_t aGroup, uint16_t aParamArray,
                                    float aParamValue, uint8_t aParamDim0, uint8_t aParamDim1);

// Encoders: aMsgData points at the 8 data bytes of a message; false (nothing written) below 8.
bool UatAction4__EncodeQueryMsg1(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq);
bool UatAction4__EncodeQueryMsg2(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq);

// Fills the whole 33-byte query batch for an action, batch checksum included.
void UatAction4__EncodeQueryBatch(uat4_query_batch* aBatch, const uat4_action_t* aQuery);

// Batch checksum over the 6 header data bytes before batch_crc16 and the data of msg1 and msg2.
uint16_t UatAction4__BatchCrc16(const uat4_query_batch* aBatch);

// Whether a reply message 1 (group, array) or 3 (dimensions) of aMsgSize data bytes is about the
// query's parameter. False for a size other than 8. Log nothing: a reply for another parameter
// is not a failure of the reader.
bool UatAction4__ReplyMsg1Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery);
bool UatAction4__ReplyMsg3Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery);

bool UatAction4__DecodeReplyMsg2(const void* aMsgData, uint8_t aMsgSize,
                                 uat4_action_t* aQueryReply);
bool UatAction4__AssertReplyBatchHeader(const void* aMsgData, uint8_t aMsgSize,
                                        uat4_action_t* aQuery);
bool UatAction4__AssertReplySetGetParamMsg1(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
bool UatAction4__AssertReplySetGetParamMsg2(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
bool UatAction4__AssertReplySetGetParamMsg3(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
bool UatAction4__AssertReplyMsg1(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);
bool UatAction4__AssertReplyMsg2(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);
bool UatAction4__AssertReplyMsg3(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);

#endif
