// What a client writes to one of vesk11d's ports, as the daemon reads it: bytes through the block
// decoder into a block record, and only a body that is one well-formed query batch may reach the
// line. Checks that the path never reads out of bounds and that what passes is one batch of three
// whole messages and nothing cut short. Input: the first byte seeds the cut points, the rest is
// the byte stream.
#include <cstdint>
#include <cstring>

#include "block_decoder11.h"
#include "block_record.h"
#include "fuzz_support.hpp"
#include "uat4/uat4.h"

const char* const vesk11_fuzz::kSUBJECT = "query filter";

namespace
{

using vesk11_fuzz::require;

// Three messages of 3 head bytes and 8 data bytes.
constexpr size_t kBATCH_BODY_SIZE = size_t{3} * (3 + 8);

struct port_reader
{
    block_record record{};

    static void handler(void* aSelf, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t aIdent,
                        void* aData, uint8_t aSize)
    {
        block_record& record = static_cast<port_reader*>(aSelf)->record;
        BlockRecord__Take(&record, aStat, aIdent, aData, aSize);
        if (aStat != kBLOCKDECODER11_STAT_FINI_OK || record.total != record.size ||
            !UatAction4__IsWellFormedQueryBatch(record.bytes, record.size))
            return;
        require(record.size == kBATCH_BODY_SIZE, "a passed body is not one batch long");
        require(UatAction4__IsQueryBatch(record.bytes, record.size),
                "a passed body is not a query batch");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize < 1)
        return 0;
    port_reader reader;
    block_decoder11_t decoder{};
    if (!BlockDecoder11__Init(&decoder, &port_reader::handler, &reader))
        return 0;
    // Written in pieces, as a client's writes arrive.
    const size_t piece = 1 + aData[0] % 64;
    for (size_t at = 1; at < aSize; at += piece)
    {
        uint8_t bytes[64];
        const size_t size = aSize - at < piece ? aSize - at : piece;
        std::memcpy(bytes, aData + at, size);
        BlockDecoder11__AddBuffer(&decoder, bytes, size);
    }
    BlockDecoder11__Deinit(&decoder);
    return 0;
}
