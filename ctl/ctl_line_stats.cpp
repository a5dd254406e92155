#include "ctl_line_stats.hpp"

#include <algorithm>
#include <cstdio>

#include "ctl_options.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// A share of damaged blocks that a sound line does not show.
constexpr double kDAMAGED_ALARM_PERCENT = 1.0;
// A silence this many mean periods long (and not shorter than the floor) is a gap in the stream.
constexpr int64_t kGAP_PERIODS = 5;
constexpr int64_t kGAP_FLOOR_US = 20000;

// Three significant digits: "12.5", "0.333", "100".
std::string _T_percent(double aValue)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", aValue);
    return text;
}

std::string _T_ms(int64_t aUs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(aUs) / 1000.0);
    return text;
}

// A time-out that outlasts the longest period twice over, in whole 100 ms, within the limit.
long _T_timeout_for(int64_t aPeriodUs)
{
    const int64_t ms = (2 * aPeriodUs / 1000 + 99) / 100 * 100;
    return static_cast<long>(std::min<int64_t>(ms, kTIMEOUT_MAX_MS));
}

} // namespace

void line_stats::input(int64_t aAtUs)
{
    sum_.any_input = true;
    sum_.longest_silence_us = std::max(sum_.longest_silence_us, aAtUs - last_input_us_);
    last_input_us_ = aAtUs;
}

void line_stats::block(int64_t aAtUs, bool aIntact)
{
    ++(aIntact ? sum_.intact : sum_.damaged);
    if (last_block_us_ >= 0)
    {
        const int64_t period = aAtUs - last_block_us_;
        sum_.min_period_us = sum_.periods == 0 ? period : std::min(sum_.min_period_us, period);
        sum_.max_period_us = std::max(sum_.max_period_us, period);
        ++sum_.periods;
        period_total_us_ += period;
    }
    last_block_us_ = aAtUs;
}

line_summary line_stats::finish(int64_t aEndUs, uint64_t aGarbage) const
{
    line_summary sum = sum_;
    sum.garbage = aGarbage;
    sum.duration_us = aEndUs - start_us_;
    sum.longest_silence_us = std::max(sum.longest_silence_us, aEndUs - last_input_us_);
    if (sum.periods != 0)
        sum.mean_period_us =
            static_cast<double>(period_total_us_) / static_cast<double>(sum.periods);
    return sum;
}

std::string Verdict(const line_summary& aSummary, int aTimeoutMs)
{
    const uint64_t blocks = aSummary.intact + aSummary.damaged;
    if (!aSummary.any_input)
        return "no blocks in " + _T_ms(aSummary.duration_us) +
               " ms: check power, A/B wiring and the device path; a sensor that sends less often "
               "needs a longer --duration";
    // A block is counted only when its header passed its own checksum: the speed and the
    // wiring are right, what breaks is the body.
    if (aSummary.intact == 0 && aSummary.damaged != 0)
        return "every block's body is damaged, its header intact (so the speed and A/B wiring are "
               "right): check termination, ground and noise, a second talker on the bus, and an "
               "adapter that loses bytes";
    if (aSummary.intact == 0)
        return "bytes but no intact block: wrong speed, A/B swapped, or not this sensor";
    const double damaged =
        100.0 * static_cast<double>(aSummary.damaged) / static_cast<double>(blocks);
    if (damaged >= kDAMAGED_ALARM_PERCENT)
        return _T_percent(damaged) + " % damaged: check termination and ground";
    if (aSummary.garbage != 0)
        return std::to_string(aSummary.garbage) +
               " bytes between blocks: check for a second talker on the bus (or an echoing "
               "adapter), termination and ground";
    if (aSummary.periods == 0)
        return "one block, intact: watch longer (--count, --duration) to measure the period";
    const int64_t gap =
        std::max(kGAP_FLOOR_US, kGAP_PERIODS * static_cast<int64_t>(aSummary.mean_period_us));
    if (aSummary.longest_silence_us > gap)
        return "the stream stopped for " + _T_ms(aSummary.longest_silence_us) +
               " ms: check the sensor's power and resets";
    if (aSummary.max_period_us > int64_t{aTimeoutMs} * 1000)
        return "every block intact, but blocks come up to " + _T_ms(aSummary.max_period_us) +
               " ms apart, longer than the time-out of " + std::to_string(aTimeoutMs) +
               " ms: queries would find the line silent; give -t (VESK11_CLI_TOUT) " +
               std::to_string(_T_timeout_for(aSummary.max_period_us)) + " or more";
    return "healthy: every block intact, nothing between blocks";
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
