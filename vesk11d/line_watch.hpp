// What vesk11d tells about its line beyond the counters: each block decoded once more as a
// watcher on the line decodes it (for subscribers), the recent blocks for the health verdict,
// the block period histogram, when the line was opened or lost, and when the last intact block
// came. Fed by the poll loop only.
#ifndef VESK11_VESK11D_LINE_WATCH_HPP
#define VESK11_VESK11D_LINE_WATCH_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

#include "block_decoder11.h"
#include "block_record.h"
#include "ctl_line_stats.hpp"
#include "daemon_stats.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

// Upper bounds of the block period histogram's buckets, in seconds (+Inf follows).
constexpr std::array<double, 13> kPERIOD_BUCKETS_S = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,
                                                      0.2,   0.5,   1,     2,    5,    10};

struct period_histogram
{
    std::array<uint64_t, kPERIOD_BUCKETS_S.size() + 1> counts{}; // not cumulative; last: +Inf
    uint64_t count = 0;
    double sum_s = 0;
};

// The monotonic clock of the watch, in microseconds; and the wall clock, for people and
// dashboards.
int64_t WatchNowUs();
int64_t WallNowUs();

class line_watch
{
  public:
    // Called for every block the sensor sent, echoes of our own queries too, with its record
    // (header kept) and the time it ended.
    using block_fn = std::function<void(const block_record& aRecord, bool aIntact, int64_t aAtUs)>;

    explicit line_watch(block_fn aOnBlock);
    ~line_watch();
    line_watch(const line_watch&) = delete;
    line_watch& operator=(const line_watch&) = delete;

    // A whole block as it was copied to the ports; aLine's counters already count it.
    void block(const uint8_t* aBlock, size_t aSize, const line_stats& aLine);
    // Once per turn of the loop: notices the line opening or going away.
    void tick(const line_stats& aLine);

    // The line over the verdict's window: the last minute (at most the last kWINDOW_BLOCKS
    // blocks), not before the line was last opened; judged by the monitor's rule.
    Vesk11Ctl::line_summary window(int64_t aNowUs, uint64_t aGarbageNow) const;
    int64_t window_start_us(int64_t aNowUs) const;

    // Wall clock time of the last open or loss of the line; 0 before the first open.
    int64_t since_wall_us() const { return since_wall_us_; }
    // The last intact block: monotonic and wall clock time; -1 and 0 when none came yet.
    int64_t last_intact_us() const { return last_intact_us_; }
    int64_t last_intact_wall_us() const { return last_intact_wall_us_; }
    const period_histogram& periods() const { return periods_; }

  private:
    struct event
    {
        int64_t at_us;
        bool intact;
        uint64_t garbage_after; // the line's garbage count after the block
    };

    static void handle_event(void* aSelf, uint64_t aBlockTs, uint8_t aStat, uint16_t aMsgIdent,
                             void* aMsgPayloadData, uint8_t aMsgPayloadSize);
    void opened(const line_stats& aLine);
    void judge(bool aIntact, int64_t aAtUs, const line_stats& aLine);
    void count_period(int64_t aAtUs);

    block_fn on_block_;
    block_decoder11_t decoder_{};
    block_record record_{};
    int64_t block_at_us_ = 0; // when the block being decoded again came
    line_stats seen_{};
    std::deque<event> events_;
    int64_t open_us_ = 0;
    uint64_t open_garbage_ = 0;
    bool trimmed_ = false;
    event last_trimmed_{};
    int64_t since_wall_us_ = 0;
    int64_t last_block_us_ = -1;
    int64_t last_intact_us_ = -1;
    int64_t last_intact_wall_us_ = 0;
    period_histogram periods_;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
