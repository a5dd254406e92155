// Feeds arbitrary bytes to the block decoder, whole and cut into pieces (with and without resets
// between pieces), and checks what the handler sees: at most 8 data bytes per message, a non-null
// pointer with every message, the event order of a block (1, then 2s, then 3 or 4, or cut by a
// reset only), one time stamp per block, and the same events however the stream is cut. Then the
// bytes become garbage before a known intact frame: unless they hold a header the decoder must
// accept, that frame is decoded and nothing else, whatever false headers come before it.
// Input: the first byte seeds the cut points, the rest is the byte stream.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "block_decoder11.h"
#include "crc16.h"
#include "fuzz_support.hpp"
#include "transport_serial_types11.h"

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

// The reboot batch as it leaves the tool: header, three messages 0x03FB of 8 bytes, checksum.
constexpr uint8_t kKNOWN_FRAME[] = {
    0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0x76, 0x03, 0xFB, 0x08, 0xE8,
    0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7, 0x03, 0xFB, 0x08, 0xE8, 0x03, 0x01, 0x00, 0x56, 0x01,
    0x00, 0x00, 0x03, 0xFB, 0x08, 0xE8, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x55, 0x7B};
constexpr uint16_t kKNOWN_IDENT = 0x03FB;
constexpr size_t kKNOWN_MSG_SIZE = 11;
// Zeros after the known frame: enough to end a false header of any length begun before it.
constexpr size_t kTAIL_SIZE = 255;
constexpr uint8_t kHEAD_MIN_SIZE = 9;

std::vector<event> _T_known_events()
{
    std::vector<event> events = {{kBLOCKDECODER11_STAT_INIT, 0, 0, {}}};
    for (size_t at = kHEAD485_SIZE; at + kTRAILER485_SIZE < sizeof kKNOWN_FRAME;
         at += kKNOWN_MSG_SIZE)
    {
        event message{kBLOCKDECODER11_STAT_MSG, kKNOWN_IDENT, 8, {}};
        std::memcpy(message.data, kKNOWN_FRAME + at + 3, sizeof message.data);
        events.push_back(message);
    }
    events.push_back({kBLOCKDECODER11_STAT_FINI_OK, kKNOWN_IDENT, 0, {}});
    return events;
}

// A header the decoder has to accept begins at aAt: its fixed bytes, a size of at least 9, and
// a zero checksum over that many bytes.
bool _T_intact_head_at(const std::vector<uint8_t>& aStream, size_t aAt)
{
    const uint8_t* head = aStream.data() + aAt;
    const size_t left = aStream.size() - aAt;
    if (left < kHEAD_MIN_SIZE || head[0] != kHEAD485_START_PATTERN ||
        head[1] != kHEAD485_TRANSPORT_PROTO || head[2] < kHEAD_MIN_SIZE || head[2] > left ||
        head[5] != kHEAD485_APP_PROTO)
        return false;
    return Crc16__Update2(head, head[2], kCRC16_INIT) == 0;
}

void _T_check_resynchronises(const uint8_t* aGarbage, size_t aSize, uint8_t aSeed)
{
    std::vector<uint8_t> stream(aGarbage, aGarbage + aSize);
    stream.insert(stream.end(), kKNOWN_FRAME, kKNOWN_FRAME + sizeof kKNOWN_FRAME);
    stream.resize(stream.size() + kTAIL_SIZE, 0);
    for (size_t at = 0; at < aSize; ++at)
        if (_T_intact_head_at(stream, at))
            return; // a real block may swallow the known frame
    static const std::vector<event> known = _T_known_events();
    require(_T_decode(stream.data(), stream.size(), aSeed, false, false) == known,
            "an intact frame after garbage is not decoded");
    require(_T_decode(stream.data(), stream.size(), aSeed, true, false) == known,
            "an intact frame after garbage is not decoded when cut");
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
    _T_check_resynchronises(stream, size, seed);
    return 0;
}
