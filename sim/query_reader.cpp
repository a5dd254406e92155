#include "query_reader.hpp"

#include <cstring>
#include <utility>

#include "crc16.h"
#include "timeu64.h"
#include "transport_serial_types11.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{
namespace
{

// Bytes kept of one frame (a query frame has 47) and of the stream before a header; the window
// never drops below 512 bytes, more than the longest header.
constexpr size_t kFRAME_KEEP = 1024;
constexpr size_t kMESSAGES_KEEP = 8;
constexpr uint8_t kQUERY_MESSAGES = 3;

// The header just accepted ends at the last byte of aBytes; it starts at a 0x7E followed by
// 0x01 and its own length, and its bytes give a zero CRC. Returns its length, 0 if not found.
size_t _T_header_length(const std::vector<uint8_t>& aBytes)
{
    size_t end = aBytes.size();
    for (size_t length = 3; length <= end && length <= 0xFF; ++length)
    {
        const uint8_t* head = aBytes.data() + (end - length);
        if (head[0] != kHEAD485_START_PATTERN || head[1] != kHEAD485_TRANSPORT_PROTO ||
            head[2] != length)
            continue;
        if (Crc16__Update2(head, static_cast<uint8_t>(length), kCRC16_INIT) == 0)
            return length;
    }
    return 0;
}

} // namespace

query_reader::~query_reader()
{
    BlockDecoder11__Deinit(&decoder_);
}

bool query_reader::init()
{
    return BlockDecoder11__Init(&decoder_, &query_reader::handleBlockEvent, this);
}

void query_reader::feed(const uint8_t* aData, size_t aSize, uint64_t aLastBlockEndUs,
                        std::vector<sim_query>& aQueries)
{
    last_block_end_us_ = aLastBlockEndUs;
    out_ = &aQueries;
    // One byte at a time, so that each event is known to fall on the byte just fed.
    for (size_t i = 0; i < aSize; ++i)
    {
        window_.push_back(aData[i]);
        if (window_.size() > kFRAME_KEEP)
            window_.erase(window_.begin(), window_.begin() + kFRAME_KEEP / 2);
        if (in_block_ && frame_.size() < kFRAME_KEEP)
            frame_.push_back(aData[i]);
        BlockDecoder11__AddBuffer(&decoder_, aData + i, 1);
    }
    out_ = nullptr;
}

void query_reader::reset()
{
    BlockDecoder11__Reset(&decoder_);
    window_.clear();
    frame_.clear();
    messages_.clear();
    in_block_ = false;
}

void query_reader::handleBlockEvent(void* aUserData, uint64_t aBlockTs, uint8_t aStat,
                                    uint16_t aMsgIdent, void* aMsgPayloadData,
                                    uint8_t aMsgPayloadSize)
{
    (void)aBlockTs;
    query_reader* self = static_cast<query_reader*>(aUserData);
    switch (aStat)
    {
    case kBLOCKDECODER11_STAT_INIT:
        self->on_header();
        break;
    case kBLOCKDECODER11_STAT_MSG:
        if (self->messages_.size() < kMESSAGES_KEEP)
        {
            message_t message{aMsgIdent, aMsgPayloadSize, {}};
            std::memcpy(message.data, aMsgPayloadData,
                        aMsgPayloadSize < sizeof message.data ? aMsgPayloadSize
                                                              : sizeof message.data);
            self->messages_.push_back(message);
        }
        else
            self->messages_.push_back(message_t{0, 0, {}}); // counted, never a query
        break;
    case kBLOCKDECODER11_STAT_FINI_OK:
    case kBLOCKDECODER11_STAT_FINI_FAIL:
        self->on_block_end(aStat == kBLOCKDECODER11_STAT_FINI_OK);
        break;
    default:
        break;
    }
}

void query_reader::on_header()
{
    size_t length = _T_header_length(window_);
    frame_.assign(window_.end() - static_cast<std::ptrdiff_t>(length), window_.end());
    messages_.clear();
    in_block_ = true;
}

void query_reader::on_block_end(bool aBodyCrcOk)
{
    bool isQuery = aBodyCrcOk && messages_.size() == kQUERY_MESSAGES;
    for (const message_t& message : messages_)
        isQuery =
            isQuery && message.ident == kUAT4_QUERY_IDENT && message.size == kUAT4_MSG_DATA_SIZE;
    if (isQuery && out_)
    {
        uat4_query_batch batch{};
        std::memcpy(&batch.header.data, messages_[0].data, kUAT4_MSG_DATA_SIZE);
        std::memcpy(&batch.msg1.data, messages_[1].data, kUAT4_MSG_DATA_SIZE);
        std::memcpy(&batch.msg2.data, messages_[2].data, kUAT4_MSG_DATA_SIZE);
        sim_query query;
        query.group = Uat4__GetU16le(batch.msg1.data.query_param_group);
        query.array = Uat4__GetU16le(batch.msg1.data.query_param_array);
        query.action_type = batch.msg1.data.query_action_type;
        query.dim0 = batch.msg1.data.query_param_array_dim0;
        query.dim1 = batch.msg1.data.query_param_array_dim1;
        query.value_type = batch.msg2.data.query_param_type;
        query.value = Uat4__GetU32le(batch.msg2.data.query_param_value);
        query.batch_crc_ok =
            UatAction4__BatchCrc16(&batch) == Uat4__GetU16le(batch.header.data.batch_crc16);
        query.frame = frame_;
        query.rx_ts_us = get_time_us();
        query.last_block_end_us = last_block_end_us_;
        out_->push_back(std::move(query));
    }
    window_.clear();
    frame_.clear();
    messages_.clear();
    in_block_ = false;
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
