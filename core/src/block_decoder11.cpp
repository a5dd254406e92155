// Block decoder: a byte-driven state machine over the RS-485 block frame. Each byte first
// advances the state (transition rules), then is processed by the state it entered (actions).
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

// Position in the frame: the state a byte moves the decoder to.
constexpr uint8_t kSTATE_HUNT = 0;
constexpr uint8_t kSTATE_HEAD_START = 1;
constexpr uint8_t kSTATE_HEAD_TRANSPORT_PROTO = 2;
constexpr uint8_t kSTATE_HEAD_SIZE = 3;
constexpr uint8_t kSTATE_HEAD_BODY_SIZE_HI = 4;
constexpr uint8_t kSTATE_HEAD_BODY_SIZE_LO = 5;
constexpr uint8_t kSTATE_HEAD_APP_PROTO = 6;
constexpr uint8_t kSTATE_HEAD_FLAGS = 7;
constexpr uint8_t kSTATE_HEAD_CRC_HI = 8;
constexpr uint8_t kSTATE_HEAD_CRC_LO = 9;
constexpr uint8_t kSTATE_MSG_IDENT_HI = 10;
constexpr uint8_t kSTATE_MSG_IDENT_LO = 11;
constexpr uint8_t kSTATE_MSG_SIZE = 12;
constexpr uint8_t kSTATE_MSG_DATA = 13;
constexpr uint8_t kSTATE_BODY_CRC_HI = 14;
constexpr uint8_t kSTATE_BODY_CRC_LO = 15;

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
    uint8_t curr_state;
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

void _T_restart(void* aSelf)
{
    self_t* self = static_cast<self_t*>(aSelf);
    self->curr_state = kSTATE_HUNT;
    self->curr_body_crc = 0;
}

void _T_notify(const self_t* aSelf, uint8_t aStat, void* aData, uint8_t aSize)
{
    aSelf->handler(aSelf->handler_arg, aSelf->head_ts, aStat, aSelf->body_msg_ident, aData, aSize);
}

bool _T_body_ended(const self_t* aSelf)
{
    return aSelf->curr_body_size == aSelf->head_body_size;
}

// Transition rules. The body end is checked in every body state, not only on data bytes, so
// an empty body, or one ending on an identifier, size or empty message, still ends on time.
uint8_t _T_next_state(const self_t* aSelf, uint8_t aByte)
{
    const uint8_t state = aSelf->curr_state;
    switch (state)
    {
    case kSTATE_HUNT:
        return aByte == kHEAD485_START_PATTERN ? kSTATE_HEAD_START : kSTATE_HUNT;
    case kSTATE_HEAD_FLAGS:
        return aSelf->curr_head_size == aSelf->head_head_size - 2 ? kSTATE_HEAD_CRC_HI
                                                                  : kSTATE_HEAD_FLAGS;
    case kSTATE_HEAD_CRC_LO:
    case kSTATE_MSG_IDENT_HI:
    case kSTATE_MSG_IDENT_LO:
        return _T_body_ended(aSelf) ? kSTATE_BODY_CRC_HI : static_cast<uint8_t>(state + 1);
    case kSTATE_MSG_SIZE:
        if (_T_body_ended(aSelf))
            return kSTATE_BODY_CRC_HI;
        return aSelf->body_msg_size != 0 ? kSTATE_MSG_DATA : kSTATE_MSG_IDENT_HI;
    case kSTATE_MSG_DATA:
        if (_T_body_ended(aSelf))
            return kSTATE_BODY_CRC_HI;
        return aSelf->curr_msg_size == aSelf->body_msg_size ? kSTATE_MSG_IDENT_HI : kSTATE_MSG_DATA;
    default:
        return static_cast<uint8_t>(state + 1);
    }
}

void _T_head_byte(self_t* aSelf, uint8_t aByte)
{
    ++aSelf->curr_head_size;
    Crc16__Update(aByte, &aSelf->curr_head_crc);
}

// A header byte the frame cannot go on with restarts the hunt from the next byte.
void _T_checked_head_byte(self_t* aSelf, uint8_t aByte, bool aValid)
{
    if (aValid)
        _T_head_byte(aSelf, aByte);
    else
        _T_restart(aSelf);
}

void _T_body_byte(self_t* aSelf, uint8_t aByte)
{
    ++aSelf->curr_body_size;
    Crc16__Update(aByte, &aSelf->curr_body_crc);
}

void _T_accept_head(self_t* aSelf, uint8_t aByte)
{
    _T_head_byte(aSelf, aByte);
    if (aSelf->curr_head_crc != 0)
    {
        LOG_WRITE(1, "fail: invalid header checksum");
        _T_restart(aSelf);
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
    _T_notify(aSelf, aSelf->curr_body_crc == 0 ? kBLOCKDECODER11_STAT_FINI_OK
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
        aSelf->head_ts = get_time_us();
        aSelf->curr_head_crc = kCRC16_INIT;
        aSelf->curr_head_size = 1;
        Crc16__Update(aByte, &aSelf->curr_head_crc);
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

void _T_add_rx_buffer(void* aSelf, const uint8_t* aBufferData, size_t aBufferSize)
{
    self_t* self = static_cast<self_t*>(aSelf);
    for (size_t i = 0; i < aBufferSize; ++i)
    {
        self->curr_state = _T_next_state(self, aBufferData[i]);
        _T_act(self, aBufferData[i]);
    }
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

void BlockDecoder11__Reset(block_decoder11_t* aHandle)
{
    aHandle->vtable.reset(aHandle->self);
}
