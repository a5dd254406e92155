#include "sim_frames.hpp"

#include <cstring>

#include "sensor_sim.hpp"
#include "transport_serial_types11.h"
#include "uat4/types.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

void _T_append_msg(bytes_t& aBody, uint16_t aIdent, const void* aData)
{
    aBody.push_back(static_cast<uint8_t>(aIdent >> 8));
    aBody.push_back(static_cast<uint8_t>(aIdent));
    aBody.push_back(kUAT4_MSG_DATA_SIZE);
    const uint8_t* data = static_cast<const uint8_t*>(aData);
    aBody.insert(aBody.end(), data, data + kUAT4_MSG_DATA_SIZE);
}

} // namespace

bytes_t status_body(const status_fields_t& aStatus)
{
    uint8_t status[kUAT4_MSG_DATA_SIZE];
    Uat4__PutU16le(status, kSIM_STATUS_UDT_INDEX);
    Uat4__PutU32le(status + 2, aStatus.cycle);
    status[6] = static_cast<uint8_t>(aStatus.replies);
    status[7] = static_cast<uint8_t>(aStatus.reboots);
    uint8_t queries[kUAT4_MSG_DATA_SIZE];
    Uat4__PutU16le(queries, kSIM_QUERIES_UDT_INDEX);
    Uat4__PutU32le(queries + 2, aStatus.replaced);
    Uat4__PutU16le(queries + 6, static_cast<uint16_t>(aStatus.received));
    bytes_t body;
    _T_append_msg(body, kSIM_STATUS_IDENT, status);
    _T_append_msg(body, kSIM_STATUS_IDENT, queries);
    return body;
}

bytes_t reply_body(const reply_fields_t& aReply)
{
    uat4_reply_batch__reply_msg1__data msg1{};
    Uat4__PutU16le(msg1.udt_index, kUAT4_REPLY_MSG1_UDT_INDEX);
    msg1.batch_msg_seq = 0;
    msg1.reply_param_type = aReply.value_type;
    Uat4__PutU16le(msg1.reply_param_group, aReply.group);
    Uat4__PutU16le(msg1.reply_param_array, aReply.array);

    uat4_reply_batch__reply_msg2__data msg2{};
    Uat4__PutU16le(msg2.udt_index, kUAT4_REPLY_UDT_INDEX);
    msg2.batch_msg_seq = 1;
    msg2.reply_result = aReply.result;
    Uat4__PutU32le(msg2.reply_param_value, aReply.value);

    uat4_reply_batch__reply_msg3__data msg3{};
    Uat4__PutU16le(msg3.udt_index, kUAT4_REPLY_MSG3_UDT_INDEX);
    msg3.batch_msg_seq = 2;
    msg3.format = kSIM_REPLY_FORMAT_SCALAR;
    msg3.reply_param_array_dim0 = aReply.dim0;
    msg3.reply_param_array_dim1 = aReply.dim1;

    bytes_t body;
    _T_append_msg(body, kSIM_REPLY_IDENT, &msg1);
    _T_append_msg(body, kSIM_REPLY_IDENT, &msg2);
    _T_append_msg(body, kSIM_REPLY_IDENT, &msg3);
    return body;
}

bytes_t frame_block(const bytes_t& aBody, bool aBadCrc)
{
    bytes_t frame(kFRAME485_MAX_SIZE);
    frame.resize(Block485__EncodeFrame(frame.data(), frame.size(), aBody.data(),
                                       static_cast<uint8_t>(aBody.size())));
    if (aBadCrc)
    {
        frame[frame.size() - 2] = static_cast<uint8_t>(~frame[frame.size() - 2]);
        frame[frame.size() - 1] = static_cast<uint8_t>(~frame[frame.size() - 1]);
    }
    return frame;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
