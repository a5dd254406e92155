// Feeds arbitrary bytes to the block decoder, whole and cut into pieces (with and without resets
// between pieces), and checks what the handler sees: at most 8 data bytes per message, a non-null
// pointer with every message, the event order of a block (1, then 2s, then 3 or 4, or cut by a
// reset only), one time stamp per block, and the same events however the stream is cut.
// Input: the first byte seeds the cut points, the rest is the byte stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "block_decoder11.h"
#include "fuzz_support.hpp"

const char* const vesk11_fuzz::kSUBJECT = "block decoder";

namespace
{

using vesk11_fuzz::require;

struct event
{
    uint8_t stat;
    uint16_t ident;
    uint8_t size;
    uint8_t data[8];

    bool operator==(const event& aOther) const
    {
        return stat == aOther.stat && ident == aOther.ident && size == aOther.size &&
               std::memcmp(data, aOther.data, size) == 0;
    }
};

struct recorder
{
    std::vector<event> events;
    bool in_block = false;
    uint64_t block_ts = 0;

    void reset() { in_block = false; }

    static void handler(void* aUserData, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                        void* aMsgPayloadData, uint8_t aMsgPayloadSize)
    {
        static_cast<recorder*>(aUserData)->record(aBlockTs, aStat, aMsgIdent, aMsgPayloadData,
                                                  aMsgPayloadSize);
    }

    void record(uint64_t aBlockTs, uint8_t aStat, uint16_t aIdent, const void* aData, uint8_t aSize)
    {
        event e{aStat, aIdent, aSize, {}};
        if (aStat == kBLOCKDECODER11_STAT_MSG)
        {
            require(aData != nullptr, "message without data pointer");
            require(aSize <= sizeof e.data, "message of more than 8 data bytes");
            std::memcpy(e.data, aData, aSize);
        }
        else
        {
            require(aData == nullptr && aSize == 0, "data with a non-message event");
        }
        check_order(aBlockTs, aStat, aIdent);
        events.push_back(e);
    }

    void check_order(uint64_t aBlockTs, uint8_t aStat, uint16_t aIdent)
    {
        switch (aStat)
        {
        case kBLOCKDECODER11_STAT_INIT:
            require(!in_block, "block begins inside a block");
            require(aIdent == 0, "block begins with an identifier");
            in_block = true;
            block_ts = aBlockTs;
            return;
        case kBLOCKDECODER11_STAT_MSG:
        case kBLOCKDECODER11_STAT_FINI_OK:
        case kBLOCKDECODER11_STAT_FINI_FAIL:
            require(in_block, "event outside a block");
            require(aBlockTs == block_ts, "time stamp changes inside a block");
            in_block = aStat == kBLOCKDECODER11_STAT_MSG;
            return;
        default:
            require(false, "unknown event code");
        }
    }
};

// Cut points and reset decisions from a small linear congruential generator.
struct cutter
{
    uint32_t state;

    uint32_t next()
    {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    }
};

std::vector<event> _T_decode(const uint8_t* aData, size_t aSize, uint8_t aSeed, bool aCut,
                             bool aResets)
{
    recorder rec;
    block_decoder11_t decoder{};
    require(BlockDecoder11__Init(&decoder, recorder::handler, &rec), "init failed");
    cutter cut{aSeed};
    const size_t maxPiece = size_t(aSeed % 40) + 1;
    for (size_t at = 0; at < aSize;)
    {
        const size_t piece = aCut ? std::min(aSize - at, cut.next() % maxPiece + 1) : aSize;
        BlockDecoder11__AddBuffer(&decoder, aData + at, piece);
        at += piece;
        if (aResets && cut.next() % 7 == 0)
        {
            BlockDecoder11__Reset(&decoder);
            rec.reset();
        }
    }
    BlockDecoder11__Deinit(&decoder);
    require(decoder.self == nullptr, "deinit left the handle attached");
    return rec.events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    if (aSize == 0)
        return 0;
    const uint8_t seed = aData[0];
    const uint8_t* stream = aData + 1;
    const size_t size = aSize - 1;
    const std::vector<event> whole = _T_decode(stream, size, seed, false, false);
    require(_T_decode(stream, size, seed, true, false) == whole,
            "events depend on how the stream is cut");
    _T_decode(stream, size, seed, true, true);
    return 0;
}
