#include "line_watch.hpp"

#include <algorithm>
#include <chrono>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr int64_t kWINDOW_US = 60000000;
// Bounds the window's memory (384 KiB) and a status' work at a fast line: a minute down to a
// 4 ms period, 16 s at 1 ms.
constexpr size_t kWINDOW_BLOCKS = 16384;

} // namespace

int64_t WatchNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t WallNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

line_watch::line_watch(block_fn aOnBlock) : on_block_(std::move(aOnBlock))
{
    if (!BlockDecoder11__Init(&decoder_, &line_watch::handle_event, this))
        decoder_ = block_decoder11_t{};
}

line_watch::~line_watch()
{
    BlockDecoder11__Deinit(&decoder_);
}

void line_watch::handle_event(void* aSelf, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t aMsgIdent,
                              void* aMsgPayloadData, uint8_t aMsgPayloadSize)
{
    line_watch* self = static_cast<line_watch*>(aSelf);
    BlockRecord__Take(&self->record_, aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    if (aStat == kBLOCKDECODER11_STAT_INIT)
        BlockRecord__TakeHead(&self->record_, &self->decoder_);
    else if (aStat == kBLOCKDECODER11_STAT_FINI_OK || aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        self->on_block_(self->record_, aStat == kBLOCKDECODER11_STAT_FINI_OK, self->block_at_us_);
}

// The line's counters tell how the daemon took the block (intact, damaged, or the echo of its
// own query, which is no block of the sensor's); the decoder gives its record to subscribers.
void line_watch::block(const uint8_t* aBlock, size_t aSize, const line_stats& aLine)
{
    tick(aLine);
    const int64_t now = WatchNowUs();
    const bool echo = aLine.echoes != seen_.echoes;
    if (!echo)
        judge(aLine.blocks_intact != seen_.blocks_intact, now, aLine);
    seen_ = aLine;
    if (decoder_.self == nullptr)
        return;
    block_at_us_ = now;
    BlockDecoder11__AddBuffer(&decoder_, aBlock, aSize);
    BlockDecoder11__Reset(&decoder_);
}

void line_watch::tick(const line_stats& aLine)
{
    if (aLine.opens != seen_.opens)
        opened(aLine);
    else if (!aLine.open && seen_.open)
        since_wall_us_ = WallNowUs();
    seen_.opens = aLine.opens;
    seen_.open = aLine.open;
}

void line_watch::opened(const line_stats& aLine)
{
    events_.clear();
    trimmed_ = false;
    open_us_ = WatchNowUs();
    open_garbage_ = aLine.garbage_bytes;
    since_wall_us_ = WallNowUs();
    last_block_us_ = -1;
}

void line_watch::judge(bool aIntact, int64_t aAtUs, const line_stats& aLine)
{
    count_period(aAtUs);
    if (aIntact)
    {
        last_intact_us_ = aAtUs;
        last_intact_wall_us_ = WallNowUs();
    }
    events_.push_back(event{aAtUs, aIntact, aLine.garbage_bytes});
    while (events_.size() > kWINDOW_BLOCKS || events_.front().at_us < aAtUs - kWINDOW_US)
    {
        last_trimmed_ = events_.front();
        trimmed_ = true;
        events_.pop_front();
    }
}

void line_watch::count_period(int64_t aAtUs)
{
    const int64_t last = last_block_us_;
    last_block_us_ = aAtUs;
    if (last < 0)
        return;
    const double period = static_cast<double>(aAtUs - last) / 1e6;
    const auto bucket =
        std::lower_bound(kPERIOD_BUCKETS_S.begin(), kPERIOD_BUCKETS_S.end(), period);
    ++periods_.counts[static_cast<size_t>(bucket - kPERIOD_BUCKETS_S.begin())];
    ++periods_.count;
    periods_.sum_s += period;
}

int64_t line_watch::window_start_us(int64_t aNowUs) const
{
    int64_t start = std::max(open_us_, aNowUs - kWINDOW_US);
    if (trimmed_)
        start = std::max(start, last_trimmed_.at_us);
    return start;
}

// The window's blocks replayed through the monitor's own statistics. Garbage has no time of its
// own here: when some came, it counts as input at the end, which the longest silence (measured
// up to the end) does not change.
Vesk11Ctl::line_summary line_watch::window(int64_t aNowUs, uint64_t aGarbageNow) const
{
    const int64_t start = window_start_us(aNowUs);
    uint64_t base = trimmed_ ? last_trimmed_.garbage_after : open_garbage_;
    Vesk11Ctl::line_stats stats(start);
    for (const event& past : events_)
    {
        if (past.at_us < start)
        {
            base = past.garbage_after;
            continue;
        }
        stats.input(past.at_us);
        stats.block(past.at_us, past.intact);
    }
    if (aGarbageNow != base)
        stats.input(aNowUs);
    return stats.finish(aNowUs, aGarbageNow - base);
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
