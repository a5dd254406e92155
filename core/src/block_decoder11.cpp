// Block decoder: a byte-driven state machine over the RS-485 block frame. Each byte first
// advances the state (transition rules), then is processed by the state it entered (actions).
// The bytes of a header are kept until it is accepted, so that an abandoned one can be searched
// again for a start byte.
#include "block_decoder11.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "crc16.h"
#include "log.h"
#include "timeu64.h"
#include "transport_serial_types11.h"

namespace
{

constexpr uint8_t kMSG_DATA_MAX_SIZE = 8;
// The smallest header that can complete: six fixed bytes, one flags byte, two checksum bytes.
constexpr uint8_t kHEAD_MIN_SIZE = 9;
// Holds the longest header (head_size is one byte); 8-bit indices wrap around it by themselves.
constexpr size_t kHOLD_SIZE = 256;

// Position in the frame: the state a byte moves the decoder to.
enum state_t : uint8_t
{
    kSTATE_HUNT,
    kSTATE_HEAD_START,
    kSTATE_HEAD_TRANSPORT_PROTO,
    kSTATE_HEAD_SIZE,
    kSTATE_HEAD_BODY_SIZE_HI,
    kSTATE_HEAD_BODY_SIZE_LO,
    kSTATE_HEAD_APP_PROTO,
    kSTATE_HEAD_FLAGS,
    kSTATE_HEAD_CRC_HI,
    kSTATE_HEAD_CRC_LO,
    kSTATE_MSG_IDENT_HI,
    kSTATE_MSG_IDENT_LO,
    kSTATE_MSG_SIZE,
    kSTATE_MSG_DATA,
    kSTATE_BODY_CRC_HI,
    kSTATE_BODY_CRC_LO,
};

// The header states follow one another in the enumeration.
bool _T_in_head(state_t aState)
{
    return aState >= kSTATE_HEAD_START && aState <= kSTATE_HEAD_CRC_LO;
}

struct self_t
{
    block_decoder11_handler_fn handler;
    void* handler_arg;
    uint64_t head_ts;
    uint16_t head_head_size;
    uint16_t head_body_size;
    uint16_t body_msg_ident;
    uint8_t body_msg_size;
    uint8_t curr_msg_size;
    uint8_t curr_msg_data[kMSG_DATA_MAX_SIZE];
    uint16_t curr_body_size;
    uint16_t curr_body_crc;
    uint16_t curr_head_size;
    uint16_t curr_head_crc;
    state_t curr_state;
    // Without stuffing, a start byte may lie inside a header that proves false, so the bytes
    // after an abandoned header's start byte are processed again. Ring of the bytes kept for
    // that: [hold_head, hold_next) the header being read, [hold_next, hold_end) the bytes still
    // to process again; together never more than the longest header.
    uint8_t hold_data[kHOLD_SIZE];
    uint8_t hold_head;
    uint8_t hold_next;
    uint8_t hold_end;
    uint64_t discarded;
    uint64_t fed; // fresh bytes taken from AddBuffer
};

self_t* _T_create(block_decoder11_handler_fn aHandler, void* aHandlerArg)
{
    self_t* self = new (std::nothrow) self_t{};
    if (self == nullptr)
    {
        LOG_WRITE(1, "fail: alloc block-decoder (%s)", std::strerror(ENOMEM));
        return nullptr;
    }
    self->handler = aHandler;
    self->handler_arg = aHandlerArg;
    return self;
}

void _T_destroy(void* aSelf)
{
    LOG_WRITE(4, "exec");
    delete static_cast<self_t*>(aSelf);
    LOG_WRITE(4, "done");
}

// Drops the partial frame and every byte held; also safe from inside the handler.
void _T_restart(void* aSelf)
{
    self_t* self = static_cast<self_t*>(aSelf);
    self->curr_state = kSTATE_HUNT;
    self->curr_body_crc = 0;
    self->hold_head = 0;
    self->hold_next = 0;
    self->hold_end = 0;
}

// The header being read is not one: hunt again from the byte after its start byte.
void _T_abandon_head(self_t* aSelf)
{
    aSelf->curr_state = kSTATE_HUNT;
    aSelf->hold_next = static_cast<uint8_t>(aSelf->hold_head + 1);
    ++aSelf->discarded; // its start byte; the bytes after it are searched again
}

void _T_notify(const self_t* aSelf, uint8_t aStat, void* aData, uint8_t aSize)
{
    aSelf->handler(aSelf->handler_arg, aSelf->head_ts, aStat, aSelf->body_msg_ident, aData, aSize);
}

// The body end is checked in every body state, not only on data bytes, so an empty body, or
// one ending on an identifier, size or empty message, still ends on time.
state_t _T_unless_body_ended(const self_t* aSelf, state_t aNext)
{
    return aSelf->curr_body_size == aSelf->head_body_size ? kSTATE_BODY_CRC_HI : aNext;
}

// Transition rules.
state_t _T_next_state(const self_t* aSelf, uint8_t aByte)
{
    switch (aSelf->curr_state)
    {
    case kSTATE_HUNT:
        return aByte == kHEAD485_START_PATTERN ? kSTATE_HEAD_START : kSTATE_HUNT;
    case kSTATE_HEAD_START:
        return kSTATE_HEAD_TRANSPORT_PROTO;
    case kSTATE_HEAD_TRANSPORT_PROTO:
        return kSTATE_HEAD_SIZE;
    case kSTATE_HEAD_SIZE:
        return kSTATE_HEAD_BODY_SIZE_HI;
    case kSTATE_HEAD_BODY_SIZE_HI:
        return kSTATE_HEAD_BODY_SIZE_LO;
    case kSTATE_HEAD_BODY_SIZE_LO:
        return kSTATE_HEAD_APP_PROTO;
    case kSTATE_HEAD_APP_PROTO:
        return kSTATE_HEAD_FLAGS;
    case kSTATE_HEAD_FLAGS:
        return aSelf->curr_head_size == aSelf->head_head_size - 2 ? kSTATE_HEAD_CRC_HI
                                                                  : kSTATE_HEAD_FLAGS;
    case kSTATE_HEAD_CRC_HI:
        return kSTATE_HEAD_CRC_LO;
    case kSTATE_HEAD_CRC_LO:
        return _T_unless_body_ended(aSelf, kSTATE_MSG_IDENT_HI);
    case kSTATE_MSG_IDENT_HI:
        return _T_unless_body_ended(aSelf, kSTATE_MSG_IDENT_LO);
    case kSTATE_MSG_IDENT_LO:
        return _T_unless_body_ended(aSelf, kSTATE_MSG_SIZE);
    case kSTATE_MSG_SIZE:
        return _T_unless_body_ended(aSelf, aSelf->body_msg_size != 0 ? kSTATE_MSG_DATA
                                                                     : kSTATE_MSG_IDENT_HI);
    case kSTATE_MSG_DATA:
        return _T_unless_body_ended(aSelf, aSelf->curr_msg_size == aSelf->body_msg_size
                                               ? kSTATE_MSG_IDENT_HI
                                               : kSTATE_MSG_DATA);
    case kSTATE_BODY_CRC_HI:
        return kSTATE_BODY_CRC_LO;
    case kSTATE_BODY_CRC_LO: // its action has already gone back to the hunt
        return kSTATE_HUNT;
    }
    return kSTATE_HUNT;
}

void _T_head_byte(self_t* aSelf, uint8_t aByte)
{
    ++aSelf->curr_head_size;
    Crc16__Update(aByte, &aSelf->curr_head_crc);
}

// A header byte the frame cannot go on with abandons the header.
void _T_checked_head_byte(self_t* aSelf, uint8_t aByte, bool aValid)
{
    if (aValid)
        _T_head_byte(aSelf, aByte);
    else
        _T_abandon_head(aSelf);
}

void _T_body_byte(self_t* aSelf, uint8_t aByte)
{
    ++aSelf->curr_body_size;
    Crc16__Update(aByte, &aSelf->curr_body_crc);
}

void _T_begin_head(self_t* aSelf, uint8_t aByte)
{
    aSelf->hold_head = static_cast<uint8_t>(aSelf->hold_next - 1);
    aSelf->head_ts = get_time_us();
    aSelf->curr_head_crc = kCRC16_INIT;
    aSelf->curr_head_size = 1;
    Crc16__Update(aByte, &aSelf->curr_head_crc);
}

void _T_accept_head(self_t* aSelf, uint8_t aByte)
{
    _T_head_byte(aSelf, aByte);
    if (aSelf->curr_head_crc != 0)
    {
        LOG_WRITE(1, "fail: invalid header checksum");
        _T_abandon_head(aSelf);
        return;
    }
    // An empty body has no message: its final event must not carry the previous block's.
    aSelf->body_msg_ident = 0;
    _T_notify(aSelf, kBLOCKDECODER11_STAT_INIT, nullptr, 0);
    aSelf->curr_body_crc = kCRC16_INIT;
    aSelf->curr_body_size = 0;
}

// Data bytes of a message larger than the buffer are counted and checksummed (so an intact
// block still ends with code 3), but neither stored nor delivered.
void _T_msg_data(self_t* aSelf, uint8_t aByte)
{
    _T_body_byte(aSelf, aByte);
    if (static_cast<uint8_t>(aSelf->body_msg_size - aSelf->curr_msg_size - 1) >= kMSG_DATA_MAX_SIZE)
        return;
    aSelf->curr_msg_data[aSelf->curr_msg_size++] = aByte;
    if (aSelf->curr_msg_size == aSelf->body_msg_size)
        _T_notify(aSelf, kBLOCKDECODER11_STAT_MSG, aSelf->curr_msg_data, aSelf->body_msg_size);
}

void _T_finish_block(self_t* aSelf, uint8_t aByte)
{
    Crc16__Update(aByte, &aSelf->curr_body_crc);
    if (aSelf->curr_body_crc != 0)
        LOG_WRITE(1, "fail: invalid block checksum");
    _T_notify(aSelf,
              aSelf->curr_body_crc == 0 ? kBLOCKDECODER11_STAT_FINI_OK
                                        : kBLOCKDECODER11_STAT_FINI_FAIL,
              nullptr, 0);
    aSelf->curr_state = kSTATE_HUNT;
}

// Actions of the state just entered.
void _T_act(self_t* aSelf, uint8_t aByte)
{
    switch (aSelf->curr_state)
    {
    case kSTATE_HUNT:
        break;
    case kSTATE_HEAD_START:
        _T_begin_head(aSelf, aByte);
        break;
    case kSTATE_HEAD_TRANSPORT_PROTO:
        _T_checked_head_byte(aSelf, aByte, aByte == kHEAD485_TRANSPORT_PROTO);
        break;
    case kSTATE_HEAD_SIZE:
        aSelf->head_head_size = aByte;
        _T_checked_head_byte(aSelf, aByte, aByte >= kHEAD_MIN_SIZE);
        break;
    case kSTATE_HEAD_BODY_SIZE_HI:
        aSelf->head_body_size = static_cast<uint16_t>(aByte << 8);
        _T_head_byte(aSelf, aByte);
        break;
    case kSTATE_HEAD_BODY_SIZE_LO:
        aSelf->head_body_size = static_cast<uint16_t>(aSelf->head_body_size + aByte);
        _T_head_byte(aSelf, aByte);
        break;
    case kSTATE_HEAD_APP_PROTO:
        _T_checked_head_byte(aSelf, aByte, aByte == kHEAD485_APP_PROTO);
        break;
    case kSTATE_HEAD_FLAGS:
    case kSTATE_HEAD_CRC_HI:
        _T_head_byte(aSelf, aByte);
        break;
    case kSTATE_HEAD_CRC_LO:
        _T_accept_head(aSelf, aByte);
        break;
    case kSTATE_MSG_IDENT_HI:
        _T_body_byte(aSelf, aByte);
        aSelf->body_msg_ident = static_cast<uint16_t>(aByte << 8);
        break;
    case kSTATE_MSG_IDENT_LO:
        _T_body_byte(aSelf, aByte);
        aSelf->body_msg_ident = static_cast<uint16_t>(aSelf->body_msg_ident + aByte);
        break;
    case kSTATE_MSG_SIZE:
        _T_body_byte(aSelf, aByte);
        aSelf->body_msg_size = aByte;
        aSelf->curr_msg_size = 0;
        if (aByte == 0)
            _T_notify(aSelf, kBLOCKDECODER11_STAT_MSG, aSelf->curr_msg_data, 0);
        break;
    case kSTATE_MSG_DATA:
        _T_msg_data(aSelf, aByte);
        break;
    case kSTATE_BODY_CRC_HI:
        Crc16__Update(aByte, &aSelf->curr_body_crc);
        break;
    case kSTATE_BODY_CRC_LO:
        _T_finish_block(aSelf, aByte);
        break;
    }
}

// The header just accepted lies in the ring from hold_head on; the 8-bit index wraps with it.
size_t _T_copy_head(const void* aSelf, uint8_t* aOut, size_t aRoom)
{
    const self_t* self = static_cast<const self_t*>(aSelf);
    const size_t size = self->curr_head_size;
    if (size > aRoom)
        return 0;
    for (size_t i = 0; i < size; ++i)
        aOut[i] = self->hold_data[static_cast<uint8_t>(self->hold_head + i)];
    return size;
}

// What an abandoned header gave back is processed before the next fresh byte. Each header found
// begins at a later byte, so the rescans end; a handler that resets the decoder empties the ring.
// A fresh byte is held only while a header is read: elsewhere it is never looked at again.
void _T_add_rx_buffer(void* aSelf, const uint8_t* aBufferData, size_t aBufferSize)
{
    self_t* self = static_cast<self_t*>(aSelf);
    size_t taken = 0;
    while (taken < aBufferSize || self->hold_next != self->hold_end)
    {
        const bool fresh = self->hold_next == self->hold_end;
        const uint8_t byte = fresh ? aBufferData[taken++] : self->hold_data[self->hold_next++];
        self->fed += fresh ? 1 : 0;
        self->curr_state = _T_next_state(self, byte);
        if (self->curr_state == kSTATE_HUNT)
            ++self->discarded;
        if (fresh && _T_in_head(self->curr_state))
        {
            self->hold_data[self->hold_next++] = byte;
            self->hold_end = self->hold_next;
        }
        _T_act(self, byte);
    }
}

uint64_t _T_discarded(const void* aSelf)
{
    return static_cast<const self_t*>(aSelf)->discarded;
}

// The bytes still held to process again were fed before the byte being processed.
uint64_t _T_offset(const void* aSelf)
{
    const self_t* self = static_cast<const self_t*>(aSelf);
    return self->fed - static_cast<uint8_t>(self->hold_end - self->hold_next);
}

} // namespace

bool BlockDecoder11__Init(block_decoder11_t* aHandle, block_decoder11_handler_fn aHandler,
                          void* aHandlerArg)
{
    LOG_WRITE(4, "exec");
    self_t* self = _T_create(aHandler, aHandlerArg);
    if (self == nullptr)
    {
        LOG_WRITE(1, "fail: create");
        return false;
    }
    _T_restart(self);
    aHandle->self = self;
    aHandle->vtable.destroy = _T_destroy;
    aHandle->vtable.add_buffer = _T_add_rx_buffer;
    aHandle->vtable.reset = _T_restart;
    aHandle->vtable.copy_head = _T_copy_head;
    aHandle->vtable.discarded = _T_discarded;
    aHandle->vtable.offset = _T_offset;
    LOG_WRITE(4, "done");
    return true;
}

void BlockDecoder11__Deinit(block_decoder11_t* aHandle)
{
    if (aHandle->self == nullptr)
        return;
    aHandle->vtable.destroy(aHandle->self);
    aHandle->self = nullptr;
}

void BlockDecoder11__AddBuffer(block_decoder11_t* aHandle, const uint8_t* aBufferData,
                               size_t aBufferSize)
{
    aHandle->vtable.add_buffer(aHandle->self, aBufferData, aBufferSize);
}

size_t BlockDecoder11__CopyHead(const block_decoder11_t* aHandle, uint8_t* aOut, size_t aRoom)
{
    return aHandle->vtable.copy_head(aHandle->self, aOut, aRoom);
}

uint64_t BlockDecoder11__Discarded(const block_decoder11_t* aHandle)
{
    return aHandle->vtable.discarded(aHandle->self);
}

uint64_t BlockDecoder11__Offset(const block_decoder11_t* aHandle)
{
    return aHandle->vtable.offset(aHandle->self);
}

void BlockDecoder11__Reset(block_decoder11_t* aHandle)
{
    aHandle->vtable.reset(aHandle->self);
}
