// Transport entry functions and the RS-485 block transport: frames out with one gathered write,
// raw bytes in through the block decoder.
#include "transport_serial11.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>

#include <poll.h>
#include <unistd.h>

#include "crc16.h"
#include "log.h"
#include "transport_serial.h"
#include "transport_serial_types11.h"

static_assert(offsetof(vesk11_head485, crc16) == 10, "the header checksum follows ten bytes");

namespace
{

constexpr size_t kRX_BUFFER_SIZE = 256;

struct self_t
{
    void* transport_com;
    block_decoder11_t decoder485;
    uint8_t tx_frame[kFRAME485_MAX_SIZE]; // the frame last sent
    size_t tx_size;
    size_t tx_written;
};

void _T_store_be16(uint8_t* aField, uint16_t aValue)
{
    aField[0] = static_cast<uint8_t>(aValue >> 8);
    aField[1] = static_cast<uint8_t>(aValue);
}

void _T_destoy(void* aSelf)
{
    self_t* self = static_cast<self_t*>(aSelf);
    BlockDecoder11__Deinit(&self->decoder485);
    ComTransport__Destroy(self->transport_com);
    delete self;
}

int _T_open(void* aSelf)
{
    self_t* self = static_cast<self_t*>(aSelf);
    BlockDecoder11__Reset(&self->decoder485);
    return ComTransport__Open(self->transport_com);
}

int _T_close(void* aSelf)
{
    LOG_WRITE(5, "exec");
    return ComTransport__Close(static_cast<self_t*>(aSelf)->transport_com);
}

int _T_get_link_handle(void* aSelf)
{
    return ComTransport__GetLinkHandle(static_cast<self_t*>(aSelf)->transport_com);
}

void _T_get_reconnect_args(uint32_t* aMinTout, uint32_t* aMaxTout, double* aToutMult)
{
    ComTransport__GetReconnectArgs(aMinTout, aMaxTout, aToutMult);
}

const block_decoder11_t* _T_get_decoder(void* aSelf)
{
    return &static_cast<self_t*>(aSelf)->decoder485;
}

// Writes what the line takes of the rest of the frame. A descriptor opened non-blocking may take
// part of it, or none of it, for now: what is left is written once the line drains.
ssize_t _T_write_frame(self_t* aSelf)
{
    const ssize_t written = write(_T_get_link_handle(aSelf), aSelf->tx_frame + aSelf->tx_written,
                                  aSelf->tx_size - aSelf->tx_written);
    if (written > 0)
        aSelf->tx_written += static_cast<size_t>(written);
    if (written == -1 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return written;
}

int _T_tx_block485(void* aSelf, struct iovec* aBufferList, int aBufferCount)
{
    // The body checksum covers one Crc16__Update2 call: one buffer of at most 255 bytes.
    if (aBufferList == nullptr || aBufferCount != 1)
    {
        LOG_WRITE(1, "fail: bad buffer list (count:%d, expected:1)", aBufferCount);
        return -1;
    }
    if (aBufferList->iov_len > kBODY485_MAX_SIZE)
    {
        LOG_WRITE(1, "fail: body too long (size:%zu, max:%zu)", aBufferList->iov_len,
                  kBODY485_MAX_SIZE);
        return -1;
    }
    self_t* self = static_cast<self_t*>(aSelf);
    self->tx_size =
        Block485__EncodeFrame(self->tx_frame, sizeof self->tx_frame, aBufferList->iov_base,
                              static_cast<uint8_t>(aBufferList->iov_len));
    self->tx_written = 0;
    const ssize_t written = _T_write_frame(self);
    if (written == -1)
        LOG_WRITE(1, "fail: writev (%s)", std::strerror(errno));
    else if (self->tx_written < self->tx_size)
        LOG_WRITE(4, "data: writev (actual:%zu, expected:%zu)", self->tx_written, self->tx_size);
    LOG_WRITE(4, "done");
    return static_cast<int>(written);
}

int _T_tx_rest_block485(void* aSelf, transport_tx_progress* aProgress)
{
    self_t* self = static_cast<self_t*>(aSelf);
    const ssize_t written = self->tx_written < self->tx_size ? _T_write_frame(self) : 0;
    *aProgress = transport_tx_progress{self->tx_frame, self->tx_size, self->tx_written};
    return written < 0 ? -1 : 0;
}

int _T_rx_block485(void* aSelf)
{
    self_t* self = static_cast<self_t*>(aSelf);
    uint8_t buffer[kRX_BUFFER_SIZE];
    ssize_t count;
    do
        count = read(_T_get_link_handle(aSelf), buffer, sizeof buffer);
    while (count == -1 && errno == EINTR);
    if (count > 0)
        BlockDecoder11__AddBuffer(&self->decoder485, buffer, static_cast<size_t>(count));
    return static_cast<int>(count);
}

} // namespace

void Block485__EncodeHead(vesk11_head485* aHead, uint16_t aBodySize)
{
    aHead->start_pattern = kHEAD485_START_PATTERN;
    aHead->transport_proto = kHEAD485_TRANSPORT_PROTO;
    aHead->head_size = kHEAD485_SIZE;
    _T_store_be16(aHead->body_size, aBodySize);
    aHead->app_proto = kHEAD485_APP_PROTO;
    std::memset(aHead->flags, 0, sizeof aHead->flags);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(aHead);
    _T_store_be16(aHead->crc16,
                  Crc16__Update2(bytes, offsetof(vesk11_head485, crc16), kCRC16_INIT));
}

void Block485__EncodeTrailer(uint8_t* aTrailer, const void* aBody, uint8_t aBodySize)
{
    _T_store_be16(aTrailer, Crc16__Update2(aBody, aBodySize, kCRC16_INIT));
}

size_t Block485__EncodeFramePieces(block485_frame_parts* aParts, const void* aBody,
                                   uint8_t aBodySize, struct iovec aPieces[3])
{
    Block485__EncodeHead(&aParts->head, aBodySize);
    Block485__EncodeTrailer(aParts->trailer, aBody, aBodySize);
    aPieces[0] = {&aParts->head, sizeof aParts->head};
    aPieces[1] = {const_cast<void*>(aBody), aBodySize};
    aPieces[2] = {aParts->trailer, sizeof aParts->trailer};
    return sizeof aParts->head + aBodySize + sizeof aParts->trailer;
}

size_t Block485__EncodeFrame(uint8_t* aFrame, size_t aRoom, const void* aBody, uint8_t aBodySize)
{
    block485_frame_parts parts;
    struct iovec pieces[3];
    const size_t size = Block485__EncodeFramePieces(&parts, aBody, aBodySize, pieces);
    if (size > aRoom)
        return 0;
    size_t at = 0;
    for (const iovec& piece : pieces)
    {
        if (piece.iov_len != 0)
            std::memcpy(aFrame + at, piece.iov_base, piece.iov_len);
        at += piece.iov_len;
    }
    return size;
}

void Transport__Deinit(transport_t* aHandle)
{
    if (aHandle->self == nullptr)
        return;
    aHandle->vtable.destroy(aHandle->self);
    aHandle->self = nullptr;
}

int Transport__Open(transport_t* aHandle)
{
    return aHandle->vtable.open(aHandle->self);
}

int Transport__Close(transport_t* aHandle)
{
    return aHandle->vtable.close(aHandle->self);
}

int Transport__GetLinkHandle(transport_t* aHandle)
{
    return aHandle->vtable.get_link_handle(aHandle->self);
}

const block_decoder11_t* Transport__GetDecoder(transport_t* aHandle)
{
    return aHandle->vtable.get_decoder != nullptr ? aHandle->vtable.get_decoder(aHandle->self)
                                                  : nullptr;
}

int Transport__Tx(transport_t* aHandle, struct iovec* aBufferList, int aBufferCount)
{
    return aHandle->vtable.tx(aHandle->self, aBufferList, aBufferCount);
}

int Transport__Rx(transport_t* aHandle)
{
    return aHandle->vtable.rx(aHandle->self);
}

int Transport__TxRest(transport_t* aHandle, transport_tx_progress* aProgress)
{
    return aHandle->vtable.tx_rest(aHandle->self, aProgress);
}

int Transport__Wait(transport_t* aHandle, short aEvents, const timespec* aWait,
                    const sigset_t* aMask, short* aRevents)
{
    pollfd link{Transport__GetLinkHandle(aHandle), aEvents, 0};
    const int ready = ppoll(&link, 1, aWait, aMask);
    *aRevents = link.revents;
    return ready;
}

int Transport__InitCom(transport_t* aHandle, const com_transport_args* aComArgs,
                       transport_handler_fn aHandler, void* aHandlerArg)
{
    LOG_WRITE(4, "exec");
    self_t* self = new (std::nothrow) self_t{};
    if (self == nullptr)
    {
        LOG_WRITE(1, "%s", std::strerror(ENOMEM));
        return -1;
    }
    if (ComTransport__Create(&self->transport_com, aComArgs) != 0)
    {
        LOG_WRITE(1, "fail: ComTransport__Create");
        delete self;
        return -1;
    }
    if (!BlockDecoder11__Init(&self->decoder485, aHandler, aHandlerArg))
    {
        LOG_WRITE(1, "fail: BlockDecoder11__Init");
        ComTransport__Destroy(self->transport_com);
        delete self;
        return -1;
    }
    aHandle->self = self;
    aHandle->vtable = {_T_destoy,
                       _T_open,
                       _T_close,
                       _T_rx_block485,
                       _T_tx_block485,
                       _T_get_link_handle,
                       _T_get_reconnect_args,
                       _T_get_decoder,
                       _T_tx_rest_block485};
    LOG_WRITE(4, "done");
    return 0;
}
