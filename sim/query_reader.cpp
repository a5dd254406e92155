#include "query_reader.hpp"

#include <cstring>
#include <utility>

#include "timeu64.h"
#include "transport_serial_types11.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Sim
{

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
    BlockDecoder11__AddBuffer(&decoder_, aData, aSize);
    out_ = nullptr;
}

void query_reader::reset()
{
    BlockDecoder11__Reset(&decoder_);
    block_ = block_record{};
}

void query_reader::handleBlockEvent(void* aUserData, uint64_t /*aBlockTs*/, uint8_t aStat,
                                    uint16_t aMsgIdent, void* aMsgPayloadData,
                                    uint8_t aMsgPayloadSize)
{
    query_reader* self = static_cast<query_reader*>(aUserData);
    BlockRecord__Take(&self->block_, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    if (aStat == kBLOCKDECODER11_STAT_INIT)
        BlockRecord__TakeHead(&self->block_, &self->decoder_);
    else if (aStat == kBLOCKDECODER11_STAT_FINI_OK)
        self->on_block_end();
}

void query_reader::on_block_end()
{
    if (out_ == nullptr || block_.total != block_.size ||
        !UatAction4__IsQueryBatch(block_.bytes, block_.size))
        return;
    uat4_query_batch batch{};
    std::memcpy(&batch, block_.bytes, sizeof batch);
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
    query.frame.resize(kFRAME485_MAX_SIZE);
    query.frame.resize(BlockRecord__Frame(&block_, query.frame.data(), query.frame.size()));
    query.rx_ts_us = get_time_us();
    query.last_block_end_us = last_block_end_us_;
    out_->push_back(std::move(query));
}

} // namespace Vesk11Sim
} // namespace Support
} // namespace Orvo
