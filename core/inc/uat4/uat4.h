// UAT v4 actions (one query each) and the codec of the query and reply messages.
// Actions are plain values owned by their user. Every pointer argument must be valid, message
// data are read or written during the call only, and nothing allocates or throws.
#ifndef VESK11_CORE_UAT4_UAT4_H
#define VESK11_CORE_UAT4_UAT4_H

#include <cstddef>
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

// Initialisers: each writes every field of the action at aSelf, so it needs no clearing first.
// Commands and status reads carry dimensions 0 and 0; reads carry the value 0 (0.0 for floats).
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

// Encoders of query messages 1 and 2: aMsgData points at the data bytes of a message, aMsgSize
// is the room there. Return true after writing exactly 8 bytes; false, writing nothing, when
// aMsgSize is below 8.
bool UatAction4__EncodeQueryMsg1(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq);
bool UatAction4__EncodeQueryMsg2(void* aMsgData, uint8_t aMsgSize, const uat4_action_t* aQuery,
                                 uint8_t aMsgSeq);

// Fills the whole 33-byte query batch for an action, batch checksum included. Cannot fail.
void UatAction4__EncodeQueryBatch(uat4_query_batch* aBatch, const uat4_action_t* aQuery);

// Returns the batch checksum over the 6 header data bytes before batch_crc16 and the data of
// msg1 and msg2; the batch is only read.
uint16_t UatAction4__BatchCrc16(const uat4_query_batch* aBatch);

// Whether the aSize bytes at aBody, a block body message by message (ident high byte first, size,
// data), are one query batch: exactly three messages of the query ident with 8 data bytes each,
// nothing else. The batch checksum is not examined.
bool UatAction4__IsQueryBatch(const void* aBody, size_t aSize);

// Whether they are a query batch whose batch checksum is right: one query as a sensor takes it.
bool UatAction4__IsWellFormedQueryBatch(const void* aBody, size_t aSize);

// Whether the aSize bytes at aBody, a block body message by message, carry a reply: a message
// with 8 data bytes whose udt_index is kUAT4_REPLY_UDT_INDEX (the one with result and value).
bool UatAction4__IsReplyBatch(const void* aBody, size_t aSize);

// Whether a reply message 1 (group, array) or 3 (dimensions) of aMsgSize data bytes is about the
// query's parameter. False for a size other than 8. Log nothing: a reply for another parameter
// is not a failure of the reader.
bool UatAction4__ReplyMsg1Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery);
bool UatAction4__ReplyMsg3Matches(const void* aMsgData, uint8_t aMsgSize,
                                  const uat4_action_t* aQuery);

// Reply checks: aMsgData points at the data bytes of a reply message (not at its ident) and
// aMsgSize is their count; the data are read only when it is 8. Each returns true when the message
// passes, false after a level-1 record naming the cause. Only the decoder writes to the action: on
// success it stores the reply's value by the action's value type (nothing for another type) and
// logs it at level 4; the assertions only read it.

// Message 2: size 8 and result 0.
bool UatAction4__DecodeReplyMsg2(const void* aMsgData, uint8_t aMsgSize,
                                 uat4_action_t* aQueryReply);
// Size 8; the content is not examined.
bool UatAction4__AssertReplyBatchHeader(const void* aMsgData, uint8_t aMsgSize,
                                        uat4_action_t* aQuery);
// Message 1: size 8, the action's group and array.
bool UatAction4__AssertReplySetGetParamMsg1(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
// Message 2: size 8, result 0, and the action's value (integers bit for bit; floats with !=,
// so a NaN never passes and 0.0 equals -0.0).
bool UatAction4__AssertReplySetGetParamMsg2(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
// Message 3: size 8 and the action's two dimensions.
bool UatAction4__AssertReplySetGetParamMsg3(const void* aMsgData, uint8_t aMsgSize,
                                            uat4_action_t* aQuery);
// Always true: neither size nor content is examined.
bool UatAction4__AssertReplyMsg1(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);
// Message 2: size 8 and result 0.
bool UatAction4__AssertReplyMsg2(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);
// Always true: neither size nor content is examined.
bool UatAction4__AssertReplyMsg3(const void* aMsgData, uint8_t aMsgSize, uat4_action_t* aQuery);

#endif
