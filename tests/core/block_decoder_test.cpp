#include <algorithm>
#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "block_decoder11.h"
#include "block_record.h"
#include "crc16.h"
#include "log_capture.hpp"

namespace
{

using bytes_t = std::vector<uint8_t>;

struct event
{
    uint8_t stat;
    uint16_t ident;
    bytes_t data;
    bool data_null;

    bool operator==(const event& aOther) const
    {
        return stat == aOther.stat && ident == aOther.ident && data == aOther.data &&
               data_null == aOther.data_null;
    }
};

std::ostream& operator<<(std::ostream& aOut, const event& aEvent)
{
    aOut << "{" << int(aEvent.stat) << ", 0x" << std::hex << aEvent.ident << std::dec << ",";
    for (uint8_t b : aEvent.data)
        aOut << " " << int(b);
    return aOut << (aEvent.data_null ? ", null}" : "}");
}

event init()
{
    return {kBLOCKDECODER11_STAT_INIT, 0, {}, true};
}
event msg(uint16_t aIdent, bytes_t aData)
{
    return {kBLOCKDECODER11_STAT_MSG, aIdent, aData, false};
}
event ok(uint16_t aIdent)
{
    return {kBLOCKDECODER11_STAT_FINI_OK, aIdent, {}, true};
}
event bad(uint16_t aIdent)
{
    return {kBLOCKDECODER11_STAT_FINI_FAIL, aIdent, {}, true};
}

struct recorder
{
    std::vector<event> events;
    std::vector<uint64_t> stamps;
    block_decoder11_t* reset_at_next_block = nullptr; // the handler resets this decoder once
    const block_decoder11_t* source = nullptr;        // the decoder whose offsets are kept
    std::vector<uint64_t> offsets;                    // each event's BlockDecoder11__Offset

    static void handler(void* aUserData, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                        void* aMsgPayloadData, uint8_t aMsgPayloadSize)
    {
        recorder* self = static_cast<recorder*>(aUserData);
        const uint8_t* data = static_cast<const uint8_t*>(aMsgPayloadData);
        bytes_t payload;
        if (data != nullptr)
        {
            payload.assign(data, data + aMsgPayloadSize);
        }
        else
        {
            EXPECT_EQ(aMsgPayloadSize, 0);
        }
        self->events.push_back({aStat, aMsgIdent, payload, data == nullptr});
        self->stamps.push_back(aBlockTs);
        if (self->source != nullptr)
        {
            uint8_t head[255];
            const size_t headSize = aStat == kBLOCKDECODER11_STAT_INIT
                                        ? BlockDecoder11__CopyHead(self->source, head, sizeof head)
                                        : 0;
            self->offsets.push_back(BlockDecoder11__Offset(self->source) - headSize);
        }
        if (aStat == kBLOCKDECODER11_STAT_INIT && self->reset_at_next_block != nullptr)
        {
            BlockDecoder11__Reset(self->reset_at_next_block);
            self->reset_at_next_block = nullptr;
        }
    }
};

// Frame layout: 7E 01 head_size body_size(2) 04 flags(head_size - 8) crc(2), body, body crc(2).
struct frame_shape
{
    uint8_t head_size = 12;
    uint8_t transport_proto = 0x01;
    uint8_t app_proto = 0x04;
    uint16_t head_crc_xor = 0; // corrupts the header checksum
    uint16_t body_crc_xor = 0; // corrupts the body checksum
};

frame_shape head_size(uint8_t aSize)
{
    frame_shape shape;
    shape.head_size = aSize;
    return shape;
}

frame_shape protos(uint8_t aTransport, uint8_t aApp)
{
    frame_shape shape;
    shape.transport_proto = aTransport;
    shape.app_proto = aApp;
    return shape;
}

frame_shape corrupt(uint16_t aHeadXor, uint16_t aBodyXor)
{
    frame_shape shape;
    shape.head_crc_xor = aHeadXor;
    shape.body_crc_xor = aBodyXor;
    return shape;
}

void append_be16(bytes_t& aOut, uint16_t aValue)
{
    aOut.push_back(static_cast<uint8_t>(aValue >> 8));
    aOut.push_back(static_cast<uint8_t>(aValue));
}

uint16_t crc_of(const bytes_t& aBytes)
{
    uint16_t crc = kCRC16_INIT;
    for (uint8_t b : aBytes)
        Crc16__Update(b, &crc);
    return crc;
}

bytes_t frame(const bytes_t& aBody, const frame_shape& aShape = {})
{
    bytes_t out = {0x7E, aShape.transport_proto, aShape.head_size};
    append_be16(out, static_cast<uint16_t>(aBody.size()));
    out.push_back(aShape.app_proto);
    for (int i = 6; i < aShape.head_size - 2; ++i)
        out.push_back(static_cast<uint8_t>(i == 6 ? 0 : 0x40 + i));
    append_be16(out, static_cast<uint16_t>(crc_of(out) ^ aShape.head_crc_xor));
    out.insert(out.end(), aBody.begin(), aBody.end());
    append_be16(out, static_cast<uint16_t>(crc_of(aBody) ^ aShape.body_crc_xor));
    return out;
}

bytes_t message(uint16_t aIdent, const bytes_t& aData, int aSize = -1)
{
    bytes_t out;
    append_be16(out, aIdent);
    out.push_back(static_cast<uint8_t>(aSize < 0 ? aData.size() : size_t(aSize)));
    out.insert(out.end(), aData.begin(), aData.end());
    return out;
}

template <typename T> std::vector<T> cat(std::initializer_list<std::vector<T>> aPieces)
{
    std::vector<T> out;
    for (const std::vector<T>& piece : aPieces)
        out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

const bytes_t kDATA_A = {0xE8, 0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7};
const bytes_t kDATA_B = {0x11, 0x22, 0x33};
const bytes_t kDATA_C = {0x7E, 0x7E};
const bytes_t kBODY_ABC =
    cat<uint8_t>({message(0x0101, kDATA_A), message(0x0202, kDATA_B), message(0x0303, kDATA_C)});
const std::vector<event> kEVENTS_ABC = {init(), msg(0x0101, kDATA_A), msg(0x0202, kDATA_B),
                                        msg(0x0303, kDATA_C), ok(0x0303)};

// The reboot batch as it leaves the tool, header and trailer given byte for byte.
const bytes_t kREBOOT_FRAME = {
    0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0x76, 0x03, 0xFB, 0x08, 0xE8,
    0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7, 0x03, 0xFB, 0x08, 0xE8, 0x03, 0x01, 0x00, 0x56, 0x01,
    0x00, 0x00, 0x03, 0xFB, 0x08, 0xE8, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x55, 0x7B};

class decoder
{
  public:
    decoder()
    {
        EXPECT_TRUE(BlockDecoder11__Init(&handle_, recorder::handler, &rec_));
        rec_.source = &handle_;
    }
    ~decoder() { BlockDecoder11__Deinit(&handle_); }
    decoder(const decoder&) = delete;
    decoder& operator=(const decoder&) = delete;

    void feed(const bytes_t& aBytes, size_t aPiece)
    {
        for (size_t at = 0; at < aBytes.size(); at += aPiece)
            BlockDecoder11__AddBuffer(&handle_, aBytes.data() + at,
                                      std::min(aPiece, aBytes.size() - at));
    }
    void feed(const bytes_t& aBytes) { feed(aBytes, std::max<size_t>(aBytes.size(), 1)); }
    void reset() { BlockDecoder11__Reset(&handle_); }
    uint64_t discarded() const { return BlockDecoder11__Discarded(&handle_); }
    void reset_from_handler_at_next_block() { rec_.reset_at_next_block = &handle_; }
    const recorder& rec() const { return rec_; }

  private:
    recorder rec_;
    block_decoder11_t handle_{};
};

struct decode_case
{
    std::string name;
    bytes_t input;
    std::vector<event> expected;
};

std::vector<decode_case> decode_cases()
{
    const bytes_t garbage = {0x00, 0x01, 0x0C, 0xFF, 0x7D, 0x55};
    const bytes_t small_head = {0x7E, 0x01, 0x08, 0x00, 0x05, 0x04, 0x00, 0x00, 0x00, 0x00};
    return {
        {"reboot batch",
         kREBOOT_FRAME,
         {init(), msg(0x03FB, {0xE8, 0x03, 0x00, 0x04, 0xFF, 0x01, 0x63, 0xA7}),
          msg(0x03FB, {0xE8, 0x03, 0x01, 0x00, 0x56, 0x01, 0x00, 0x00}),
          msg(0x03FB, {0xE8, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}), ok(0x03FB)}},
        {"mixed message sizes", frame(kBODY_ABC), kEVENTS_ABC},
        {"two frames in one buffer", cat<uint8_t>({frame(kBODY_ABC), frame(message(0x0909, {1}))}),
         cat<event>({kEVENTS_ABC, {init(), msg(0x0909, {1}), ok(0x0909)}})},
        {"garbage before a frame", cat<uint8_t>({garbage, frame(kBODY_ABC)}), kEVENTS_ABC},
        {"stray 0x7E before the start byte",
         cat<uint8_t>({{0x7E}, frame(kBODY_ABC), frame(message(0x0909, {1}))}),
         cat<event>({kEVENTS_ABC, {init(), msg(0x0909, {1}), ok(0x0909)}})},
        {"wrong transport protocol", frame(kBODY_ABC, protos(0x02, 0x04)), {}},
        {"wrong application protocol", frame(kBODY_ABC, protos(0x01, 0x05)), {}},
        {"wrong header checksum", frame(kBODY_ABC, corrupt(0x0100, 0)), {}},
        {"wrong body checksum delivers messages then code 4",
         frame(kBODY_ABC, corrupt(0, 0x0001)),
         {init(), msg(0x0101, kDATA_A), msg(0x0202, kDATA_B), msg(0x0303, kDATA_C), bad(0x0303)}},
        {"head_size 14", frame(kBODY_ABC, head_size(14)), kEVENTS_ABC},
        {"head_size 9, the smallest that completes", frame(kBODY_ABC, head_size(9)), kEVENTS_ABC},
        {"size-0 message inside the body",
         frame(cat<uint8_t>(
             {message(0x0101, kDATA_A), message(0x0505, {}), message(0x0202, kDATA_B)})),
         {init(), msg(0x0101, kDATA_A), msg(0x0505, {}), msg(0x0202, kDATA_B), ok(0x0202)}},
        // Decided cases for bodies that do not end on a data byte.
        {"empty body", frame({}), {init(), ok(0)}},
        {"empty body then a frame", cat<uint8_t>({frame({}), frame(kBODY_ABC)}),
         cat<event>({{init(), ok(0)}, kEVENTS_ABC})},
        {"last message of size 0",
         cat<uint8_t>({frame(cat<uint8_t>({message(0x0101, kDATA_A), message(0x0505, {})})),
                       frame(kBODY_ABC)}),
         cat<event>({{init(), msg(0x0101, kDATA_A), msg(0x0505, {}), ok(0x0505)}, kEVENTS_ABC})},
        {"body ends after an identifier byte",
         cat<uint8_t>({frame(cat<uint8_t>({message(0x0101, kDATA_A), {0x06}})), frame(kBODY_ABC)}),
         cat<event>({{init(), msg(0x0101, kDATA_A), ok(0x0600)}, kEVENTS_ABC})},
        {"body ends after a size byte",
         cat<uint8_t>({frame(cat<uint8_t>({message(0x0101, kDATA_A), {0x06, 0x07, 0x04}})),
                       frame(kBODY_ABC)}),
         cat<event>({{init(), msg(0x0101, kDATA_A), ok(0x0607)}, kEVENTS_ABC})},
        {"message cut by the body end is not delivered",
         frame(cat<uint8_t>({message(0x0101, kDATA_A), message(0x0202, kDATA_B, 8)})),
         {init(), msg(0x0101, kDATA_A), ok(0x0202)}},
        // Decided: an oversize message is counted and checksummed, never stored or delivered.
        {"oversize message swallows the rest of the body",
         cat<uint8_t>(
             {frame(cat<uint8_t>({message(0x0101, kDATA_A), message(0x0A0A, bytes_t(12, 0x7E)),
                                  message(0x0202, kDATA_B)})),
              frame(kBODY_ABC)}),
         cat<event>({{init(), msg(0x0101, kDATA_A), ok(0x0A0A)}, kEVENTS_ABC})},
        {"size 9 message, one above the buffer",
         cat<uint8_t>({frame(message(0x0C0C, cat<uint8_t>({kDATA_A, {0x99}}))), frame(kBODY_ABC)}),
         cat<event>({{init(), ok(0x0C0C)}, kEVENTS_ABC})},
        {"size 255 message in a short body",
         cat<uint8_t>({frame(message(0x0B0B, kDATA_A, 255)), frame(kBODY_ABC)}),
         cat<event>({{init(), ok(0x0B0B)}, kEVENTS_ABC})},
        // Decided: a head_size below 9 restarts the hunt at once.
        {"head_size 8 does not swallow the next frame",
         cat<uint8_t>({small_head, frame(kBODY_ABC)}), kEVENTS_ABC},
        {"head_size 0 does not swallow the next frame",
         cat<uint8_t>({{0x7E, 0x01, 0x00}, frame(kBODY_ABC)}), kEVENTS_ABC},
    };
}

// Without byte stuffing, data may look like a header that swallows the next frame's start byte.
// Once such a header fails, the bytes after its start byte are searched again.
std::vector<decode_case> false_header_cases()
{
    const bytes_t falseHead = {0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00, 0x00, 0x00, 0x12};
    const bytes_t frameB = frame(message(0x0909, {1}));
    const std::vector<event> eventsB = {init(), msg(0x0909, {1}), ok(0x0909)};
    std::vector<decode_case> cases = {
        {"false header in data swallows the start byte",
         cat<uint8_t>({{0x55, 0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00}, frame(kBODY_ABC)}),
         kEVENTS_ABC},
        {"back-to-back false starts",
         cat<uint8_t>({{0x7E, 0x01, 0x0C, 0x00, 0x05, 0x04, 0x7E, 0x01, 0x0C, 0x7E, 0x01, 0x7E},
                       frame(kBODY_ABC)}),
         kEVENTS_ABC},
        {"false header cut short by a head_size below 9",
         cat<uint8_t>({{0x7E, 0x01, 0x0C, 0x7E, 0x01, 0x05}, frame(kBODY_ABC)}), kEVENTS_ABC},
        // The frames inside a long false header come out once its 64th or 255th byte arrives.
        {"false 64-byte header holding whole frames",
         cat<uint8_t>({{0x7E, 0x01, 0x40, 0x00, 0x21, 0x04}, frame(kBODY_ABC), frameB, frameB}),
         cat<event>({kEVENTS_ABC, eventsB, eventsB})},
        {"false 255-byte header holding ten frames",
         cat<uint8_t>({{0x7E, 0x01, 0xFF, 0x00, 0x21, 0x04}, frame(kBODY_ABC), frame(kBODY_ABC),
                       frame(kBODY_ABC), frame(kBODY_ABC), frame(kBODY_ABC), frameB, frameB,
                       frameB, frameB, frameB}),
         cat<event>({kEVENTS_ABC, kEVENTS_ABC, kEVENTS_ABC, kEVENTS_ABC, kEVENTS_ABC, eventsB,
                     eventsB, eventsB, eventsB, eventsB})},
    };
    // The real start byte at every offset of the abandoned header: the false header then fails
    // on its transport protocol, application protocol or checksum, depending on the offset.
    for (size_t offset = 1; offset <= falseHead.size(); ++offset)
        cases.push_back({"real frame at offset " + std::to_string(offset) + " of a false header",
                         cat<uint8_t>({bytes_t(falseHead.begin(), falseHead.begin() + long(offset)),
                                       frame(kBODY_ABC)}),
                         kEVENTS_ABC});
    return cases;
}

// Feeding whole, byte by byte or in pieces of any size gives the same events.
class block_decoder_cases : public ::testing::TestWithParam<decode_case>
{
};

TEST_P(block_decoder_cases, events_do_not_depend_on_how_the_stream_is_cut)
{
    const decode_case& c = GetParam();
    for (size_t piece : {c.input.size(), size_t(1), size_t(2), size_t(3), size_t(7), size_t(13)})
    {
        decoder d;
        d.feed(c.input, piece);
        EXPECT_EQ(d.rec().events, c.expected) << "pieces of " << piece;
    }
    for (size_t cut = 1; cut < c.input.size(); ++cut)
    {
        decoder d;
        d.feed(bytes_t(c.input.begin(), c.input.begin() + long(cut)));
        d.feed(bytes_t(c.input.begin() + long(cut), c.input.end()));
        ASSERT_EQ(d.rec().events, c.expected) << "cut at " << cut;
    }
}

// From a header's start (its INIT offset less the header) to its final event's offset lie exactly
// the frame's bytes: decoded alone they give the same events, however the frame was found.
TEST_P(block_decoder_cases, offsets_span_each_frame_as_received)
{
    const decode_case& c = GetParam();
    decoder whole;
    whole.feed(c.input, 1);
    const std::vector<event>& events = whole.rec().events;
    const std::vector<uint64_t>& offsets = whole.rec().offsets;
    for (size_t begin = 0; begin < events.size(); ++begin)
    {
        if (events[begin].stat != kBLOCKDECODER11_STAT_INIT)
            continue;
        size_t end = begin + 1;
        while (end < events.size() && events[end].stat == kBLOCKDECODER11_STAT_MSG)
            ++end;
        if (end == events.size() || events[end].stat == kBLOCKDECODER11_STAT_INIT)
            continue; // a frame cut short by the end of the input
        decoder alone;
        alone.feed(
            bytes_t(c.input.begin() + long(offsets[begin]), c.input.begin() + long(offsets[end])));
        EXPECT_EQ(alone.rec().events,
                  std::vector<event>(events.begin() + long(begin), events.begin() + long(end) + 1))
            << "frame at event " << begin;
    }
}

TEST_P(block_decoder_cases, events_of_one_block_share_its_time_stamp)
{
    decoder d;
    d.feed(GetParam().input);
    const recorder& rec = d.rec();
    for (size_t i = 0; i < rec.events.size(); ++i)
    {
        EXPECT_NE(rec.stamps[i], 0u);
        if (i > 0 && rec.events[i].stat != kBLOCKDECODER11_STAT_INIT)
        {
            EXPECT_EQ(rec.stamps[i], rec.stamps[i - 1]) << i;
        }
    }
}

std::string case_name(const ::testing::TestParamInfo<decode_case>& aInfo)
{
    std::string name;
    for (char ch : aInfo.param.name)
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(frames, block_decoder_cases, ::testing::ValuesIn(decode_cases()), case_name);
INSTANTIATE_TEST_SUITE_P(false_headers, block_decoder_cases, ::testing::ValuesIn(false_header_cases()),
                         case_name);

TEST(block_decoder, checksum_failures_are_logged_at_level_one)
{
    vesk11_test::log_capture capture;
    decoder d;
    d.feed(frame(kBODY_ABC, corrupt(0x8000, 0)));
    EXPECT_TRUE(capture.has(1, "", "fail: invalid header checksum")) << capture.dump();
    EXPECT_FALSE(capture.has(1, "", "fail: invalid block checksum")) << capture.dump();
    d.feed(frame(kBODY_ABC, corrupt(0, 0x8000)));
    EXPECT_TRUE(capture.has(1, "", "fail: invalid block checksum")) << capture.dump();
}

// Garbage is what lies in no frame whose header passed; a header still being read is not yet.
TEST(block_decoder, discarded_counts_the_bytes_outside_every_frame)
{
    const bytes_t garbage = {0x00, 0x01, 0x0C, 0xFF, 0x7D, 0x55};
    const bytes_t f = frame(kBODY_ABC);
    const struct
    {
        const char* name;
        bytes_t input;
        uint64_t discarded;
    } cases[] = {
        {"a frame alone", f, 0},
        {"a damaged body is still a frame", frame(kBODY_ABC, corrupt(0, 0x0001)), 0},
        {"garbage before a frame", cat<uint8_t>({garbage, f}), 6},
        {"garbage between frames", cat<uint8_t>({f, garbage, f, garbage}), 12},
        {"stray start byte", cat<uint8_t>({{0x7E}, f}), 1},
        {"false header swallowing the start byte",
         cat<uint8_t>({{0x55, 0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04, 0x00, 0x00}, f}), 9},
        {"false 64-byte header holding a frame",
         cat<uint8_t>({{0x7E, 0x01, 0x40, 0x00, 0x21, 0x04}, f, bytes_t(64, 0)}), 6 + 64},
        {"a header still being read", cat<uint8_t>({garbage, {0x7E, 0x01, 0x0C}}), 6},
    };
    for (const auto& c : cases)
    {
        for (size_t piece : {c.input.size(), size_t(1), size_t(5)})
        {
            decoder d;
            d.feed(c.input, piece);
            EXPECT_EQ(d.discarded(), c.discarded) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(block_decoder, garbage_and_good_frames_leave_no_record)
{
    decoder d;
    vesk11_test::log_capture capture;
    d.feed(cat<uint8_t>({{0x00, 0x13, 0x7E, 0x02, 0x55}, frame(kBODY_ABC), frame({})}));
    EXPECT_EQ(d.rec().events.size(), kEVENTS_ABC.size() + 2);
    EXPECT_TRUE(capture.records().empty()) << capture.dump();
}

TEST(block_decoder, reset_mid_frame_drops_it_without_final_code)
{
    decoder d;
    const bytes_t f = frame(kBODY_ABC);
    d.feed(bytes_t(f.begin(), f.begin() + 20));
    d.reset();
    d.feed(f);
    EXPECT_EQ(d.rec().events, cat<event>({{init()}, kEVENTS_ABC}));
}

// The reset drops the bytes still to be searched again after a false header, not only the frame.
TEST(block_decoder, reset_by_the_handler_drops_what_a_false_header_gave_back)
{
    const bytes_t frameB = frame(message(0x0909, {1}));
    const bytes_t frameC = frame(message(0x0A0A, {2, 3}));
    decoder d;
    d.reset_from_handler_at_next_block();
    // The false header's 64th byte falls among the zeros: frames A and B are found only then.
    d.feed(cat<uint8_t>(
        {{0x7E, 0x01, 0x40, 0x00, 0x21, 0x04}, frame(kBODY_ABC), frameB, bytes_t(10, 0), frameC}));
    EXPECT_EQ(d.rec().events,
              (std::vector<event>{init(), init(), msg(0x0A0A, {2, 3}), ok(0x0A0A)}));
}

// A sensor repeating a status block whose data hold 7E 01 0C xx xx 04 just before the block
// checksum: joining mid-stream, the hunt meets that pattern, and its false header swallows the
// next frame's start byte, each time in the same way.
TEST(block_decoder, joining_pattern_data_mid_stream_decodes_every_frame_after_the_first)
{
    constexpr size_t kFRAMES = 1000;
    const bytes_t data = {0x10, 0x27, 0x7E, 0x01, 0x0C, 0x00, 0x21, 0x04};
    const bytes_t f = frame(cat<uint8_t>({message(0x0101, kDATA_A), message(0x0202, data)}));
    bytes_t stream;
    std::vector<event> expected;
    for (size_t i = 0; i < kFRAMES; ++i)
    {
        stream.insert(stream.end(), f.begin(), f.end());
        if (i > 0)
            expected = cat<event>(
                {expected, {init(), msg(0x0101, kDATA_A), msg(0x0202, data), ok(0x0202)}});
    }
    const bytes_t joined(stream.begin() + 5, stream.end()); // inside the first frame's header
    for (size_t piece : {size_t(256), size_t(1), size_t(7)})
    {
        decoder d;
        d.feed(joined, piece);
        EXPECT_EQ(d.rec().events, expected) << "pieces of " << piece;
    }
}

TEST(block_decoder, deinit_releases_once_and_empties_the_handle)
{
    recorder rec;
    block_decoder11_t handle{};
    BlockDecoder11__Deinit(&handle); // empty handle: nothing to do
    ASSERT_TRUE(BlockDecoder11__Init(&handle, recorder::handler, &rec));
    EXPECT_NE(handle.self, nullptr);
    BlockDecoder11__Deinit(&handle);
    EXPECT_EQ(handle.self, nullptr);
    BlockDecoder11__Deinit(&handle);
    EXPECT_EQ(handle.self, nullptr);
}

} // namespace

namespace
{

// A decoder feeding a recorder, as a block handler that owns its decoder does.
struct recorded
{
    block_decoder11_t decoder{};
    block_record block{};
    std::vector<bytes_t> frames; // BlockRecord__Frame at every intact block's end

    static void handle(void* aUserData, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t aMsgIdent,
                       void* aMsgPayloadData, uint8_t aMsgPayloadSize)
    {
        recorded* self = static_cast<recorded*>(aUserData);
        BlockRecord__Take(&self->block, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
        if (aStat == kBLOCKDECODER11_STAT_INIT)
            BlockRecord__TakeHead(&self->block, &self->decoder);
        if (aStat == kBLOCKDECODER11_STAT_FINI_OK)
        {
            bytes_t frame(300);
            frame.resize(BlockRecord__Frame(&self->block, frame.data(), frame.size()));
            self->frames.push_back(frame);
        }
    }
};

// A frame with a header of aHeadSize bytes (flags padded with zeros) around aBody.
bytes_t _T_frame(const bytes_t& aBody, uint8_t aHeadSize = 12)
{
    bytes_t frame = {0x7E, 0x01, aHeadSize, static_cast<uint8_t>(aBody.size() >> 8),
                     static_cast<uint8_t>(aBody.size()), 0x04};
    frame.resize(aHeadSize - 2u, 0);
    const uint16_t headCrc =
        Crc16__Update2(frame.data(), static_cast<uint8_t>(frame.size()), kCRC16_INIT);
    frame.push_back(static_cast<uint8_t>(headCrc >> 8));
    frame.push_back(static_cast<uint8_t>(headCrc));
    const uint16_t bodyCrc =
        Crc16__Update2(aBody.data(), static_cast<uint8_t>(aBody.size()), kCRC16_INIT);
    frame.insert(frame.end(), aBody.begin(), aBody.end());
    frame.push_back(static_cast<uint8_t>(bodyCrc >> 8));
    frame.push_back(static_cast<uint8_t>(bodyCrc));
    return frame;
}

} // namespace

// The recorder gives back an intact frame as it was received, header included, or nothing when
// the messages delivered are not the whole body.
TEST(block_record, frames_come_back_as_received)
{
    struct record_case
    {
        const char* name;
        bytes_t frame;
        bool whole;
    };
    const bytes_t status = {0x02, 0x00, 2, 0x53, 0x54};
    const bytes_t longMessage = {0x02, 0x00, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const record_case cases[] = {
        {"12-byte header", _T_frame(status), true},
        {"14-byte header", _T_frame(status, 14), true},
        {"empty body", _T_frame({}), true},
        {"a message longer than delivered", _T_frame(longMessage), false},
    };
    for (const record_case& aCase : cases)
    {
        SCOPED_TRACE(aCase.name);
        recorded run;
        ASSERT_TRUE(BlockDecoder11__Init(&run.decoder, recorded::handle, &run));
        bytes_t stream = {0x7E, 0x55};
        stream.insert(stream.end(), aCase.frame.begin(), aCase.frame.end());
        BlockDecoder11__AddBuffer(&run.decoder, stream.data(), stream.size());
        ASSERT_EQ(run.frames.size(), 1u);
        EXPECT_EQ(run.frames[0], aCase.whole ? aCase.frame : bytes_t{});
        BlockDecoder11__Deinit(&run.decoder);
    }
}
