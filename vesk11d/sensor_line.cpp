#include "sensor_line.hpp"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

#include "send_window.h"
#include "uat4/uat4.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr size_t kREAD_CHUNK = 4096;
// Holds the longest block the decoder can report together with the chunk that ends it; a longer
// one (only garbage can announce it) is counted, not copied.
constexpr size_t kRING_SIZE = 4 * kREAD_CHUNK;
// A sensor answers in the block after a query, or after a few more; a reply later than this many
// intact blocks is not waited for.
constexpr unsigned kREPLY_WAIT_BLOCKS = 8;

} // namespace

sensor_line::sensor_line(const com_transport_args& aArgs, block_fn aOnBlock)
    : on_block_(std::move(aOnBlock)), ring_(kRING_SIZE)
{
    if (ComTransport__Create(&port_, &aArgs) != 0)
        port_ = nullptr;
    if (!BlockDecoder11__Init(&decoder_, &sensor_line::handle_event, this))
        decoder_ = block_decoder11_t{};
}

sensor_line::~sensor_line()
{
    close();
    BlockDecoder11__Deinit(&decoder_);
    if (port_ != nullptr)
        ComTransport__Destroy(port_);
}

int sensor_line::open()
{
    if (port_ == nullptr || decoder_.self == nullptr)
    {
        errno = ENOMEM;
        return kCOM_OPEN_FAILED;
    }
    const int opened = ComTransport__Open(port_);
    if (opened != 0)
        return opened;
    BlockDecoder11__Reset(&decoder_);
    record_ = block_record{};
    intact_seen_ = false;
    window_open_ = false;
    echo_possible_ = false;
    awaiting_reply_ = false;
    frame_size_ = frame_written_ = 0;
    stats_.open = true;
    ++stats_.opens;
    return 0;
}

void sensor_line::close()
{
    if (!stats_.open)
        return;
    ComTransport__Close(port_);
    stats_.open = false;
    window_open_ = false;
}

int sensor_line::fd() const
{
    return stats_.open ? ComTransport__GetLinkHandle(port_) : -1;
}

short sensor_line::events() const
{
    return static_cast<short>(POLLIN | (frame_written_ < frame_size_ ? POLLOUT : 0));
}

bool sensor_line::serve(short aRevents)
{
    if ((aRevents & POLLOUT) != 0 && !write_rest())
        return false;
    if ((aRevents & POLLIN) != 0)
        return read_line();
    if ((aRevents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
    {
        lose();
        return false;
    }
    return true;
}

bool sensor_line::can_send() const
{
    return stats_.open && intact_seen_ && window_open_ && !awaiting_reply_ &&
           frame_written_ == frame_size_ &&
           SendWindow__StillOpen(window_us_, SendWindow__NowUs(), fd());
}

bool sensor_line::send(const uint8_t* aBatch)
{
    frame_size_ = Block485__EncodeFrame(frame_, sizeof frame_, aBatch, kUAT4_BATCH_SIZE);
    frame_written_ = 0;
    window_open_ = false;
    std::memcpy(sent_, aBatch, sizeof sent_);
    echo_possible_ = true;
    awaiting_reply_ = true;
    blocks_since_query_ = 0;
    ++stats_.queries_sent;
    return write_rest();
}

bool sensor_line::write_rest()
{
    const ssize_t written = write(fd(), frame_ + frame_written_, frame_size_ - frame_written_);
    if (written >= 0)
    {
        frame_written_ += static_cast<size_t>(written);
        return true;
    }
    if (errno == EAGAIN || errno == EINTR)
        return true;
    ++stats_.write_errors;
    lose();
    return false;
}

bool sensor_line::read_line()
{
    uint8_t bytes[kREAD_CHUNK];
    const ssize_t got = read(fd(), bytes, sizeof bytes);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (got <= 0)
    {
        lose(); // end of input or an I/O error: the device went away
        return false;
    }
    for (ssize_t i = 0; i < got; ++i)
        ring_[(fed_ + static_cast<uint64_t>(i)) % kRING_SIZE] = bytes[i];
    fed_ += static_cast<uint64_t>(got);
    BlockDecoder11__AddBuffer(&decoder_, bytes, static_cast<size_t>(got));
    stats_.garbage_bytes = BlockDecoder11__Discarded(&decoder_);
    return true;
}

void sensor_line::lose()
{
    ++stats_.losses;
    close();
}

void sensor_line::end_block(bool aIntact)
{
    const uint64_t end = BlockDecoder11__Offset(&decoder_);
    reply_ = false;
    const bool echo =
        aIntact && echo_possible_ && BlockRecord__Equals(&record_, sent_, sizeof sent_);
    echo_possible_ = false;
    if (echo)
        ++stats_.echoes;
    else if (aIntact)
        take_intact();
    else
        ++stats_.blocks_damaged;
    const uint64_t size = end - block_start_;
    if (size > kRING_SIZE - kREAD_CHUNK)
    {
        ++stats_.blocks_too_long;
        return;
    }
    block_.resize(static_cast<size_t>(size));
    for (uint64_t at = 0; at < size; ++at)
        block_[static_cast<size_t>(at)] = ring_[(block_start_ + at) % kRING_SIZE];
    on_block_(block_.data(), block_.size(), aIntact && !echo && reply_);
}

void sensor_line::take_intact()
{
    ++stats_.blocks_intact;
    intact_seen_ = true;
    window_open_ = true;
    window_us_ = SendWindow__NowUs();
    reply_ = UatAction4__IsReplyBatch(record_.bytes, record_.size);
    stats_.replies += reply_ ? 1 : 0;
    if (awaiting_reply_ && !reply_ && ++blocks_since_query_ >= kREPLY_WAIT_BLOCKS)
        ++stats_.unanswered;
    awaiting_reply_ = awaiting_reply_ && !reply_ && blocks_since_query_ < kREPLY_WAIT_BLOCKS;
}

void sensor_line::handle_event(void* aSelf, uint64_t /*aBlockTs*/, uint8_t aStat,
                               uint16_t aMsgIdent, void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    sensor_line* self = static_cast<sensor_line*>(aSelf);
    BlockRecord__Take(&self->record_, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    if (aStat == kBLOCKDECODER11_STAT_INIT)
    {
        uint8_t head[kBLOCK_RECORD_SIZE];
        const size_t headSize = BlockDecoder11__CopyHead(&self->decoder_, head, sizeof head);
        self->block_start_ = BlockDecoder11__Offset(&self->decoder_) - headSize;
        self->window_open_ = false;
    }
    else if (aStat == kBLOCKDECODER11_STAT_FINI_OK || aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        self->end_block(aStat == kBLOCKDECODER11_STAT_FINI_OK);
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
