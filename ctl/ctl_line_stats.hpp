// What watching a sensor's line found: blocks intact and damaged, garbage, the block period and
// the longest silence, and the verdict a technician can act on.
#ifndef VESK11_CTL_CTL_LINE_STATS_HPP
#define VESK11_CTL_CTL_LINE_STATS_HPP

#include <cstdint>
#include <string>

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

struct line_summary
{
    uint64_t intact = 0;
    uint64_t damaged = 0;
    uint64_t garbage = 0; // bytes in no block
    bool any_input = false;
    int64_t duration_us = 0;
    uint64_t periods = 0; // block starts measured after the first
    double mean_period_us = 0;
    int64_t min_period_us = 0;
    int64_t max_period_us = 0;
    int64_t longest_silence_us = 0; // longest time without a byte, the start and end included
};

// Times are microseconds of one monotonic clock, none before the start.
class line_stats
{
  public:
    explicit line_stats(int64_t aStartUs) : start_us_(aStartUs), last_input_us_(aStartUs) {}

    // Bytes came at aAtUs.
    void input(int64_t aAtUs);
    // A block began at aAtUs; it ended with a good body checksum when aIntact.
    void block(int64_t aAtUs, bool aIntact);
    // The summary of a watch that ended at aEndUs, aGarbage bytes having been in no block.
    line_summary finish(int64_t aEndUs, uint64_t aGarbage) const;

  private:
    line_summary sum_;
    int64_t start_us_;
    int64_t last_input_us_;
    int64_t last_block_us_ = -1;
    int64_t period_total_us_ = 0;
};

// One line saying what the watch shows and what to check first; aTimeoutMs is the time-out the
// other commands would wait for input with, judged against the blocks' period.
std::string Verdict(const line_summary& aSummary, int aTimeoutMs);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
