// monitor: every block the sensor sends, as the decoder sees it, and a summary of the line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <limits>

#include "block_record.h"
#include "ctl_commands.hpp"
#include "ctl_daemon_link.hpp"
#include "ctl_error.hpp"
#include "ctl_line_stats.hpp"
#include "ctl_shared.hpp"
#include "ctl_watch_json.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

// The longest single wait: a stop signal ends it at once anyway.
constexpr int kLISTEN_SLICE_MS = 1000;

int64_t _T_now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void _T_show_block(ctl_output& aOutput, const ctl_json& aBlock)
{
    if (aOutput.json())
        aOutput.emit(aBlock);
    else
        aOutput.line(BlockText(aBlock));
}

std::string _T_ms(int64_t aUs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(aUs) / 1000.0);
    return text;
}

// Watches the decoder's events through the link's tap: prints each block as it ends and keeps
// the statistics.
class line_watch
{
  public:
    line_watch(const ctl_options& aOptions, ctl_output& aOutput)
        : options_(aOptions), output_(aOutput), start_us_(_T_now_us()), stats_(start_us_)
    {
    }

    static void tap(void* aArg, uint64_t /*aBlockTs*/, uint8_t aStat, uint16_t aMsgIdent,
                    void* aMsgPayloadData, uint8_t aMsgPayloadSize)
    {
        static_cast<line_watch*>(aArg)->take(aStat, aMsgIdent, aMsgPayloadData, aMsgPayloadSize);
    }

    void attach(const block_decoder11_t* aDecoder) { decoder_ = aDecoder; }
    bool done() const { return options_.count != 0 && blocks_ >= options_.count; }
    int64_t start_us() const { return start_us_; }
    void input() { stats_.input(_T_now_us()); }
    line_summary finish() const { return stats_.finish(_T_now_us(), discarded() - joined_at_); }

  private:
    uint64_t discarded() const
    {
        return decoder_ != nullptr ? BlockDecoder11__Discarded(decoder_) : 0;
    }

    void take(uint8_t aStat, uint16_t aMsgIdent, const void* aData, uint8_t aSize)
    {
        if (done())
            return;
        BlockRecord__Take(&record_, aStat, aMsgIdent, aData, aSize);
        if (aStat == kBLOCKDECODER11_STAT_INIT)
        {
            block_us_ = _T_now_us();
            // The rest of a frame under way when the line was opened is no garbage.
            if (blocks_ == 0 && !joined_)
            {
                joined_ = true;
                joined_at_ = discarded();
            }
            if (decoder_ != nullptr)
                BlockRecord__TakeHead(&record_, decoder_);
        }
        else if (aStat == kBLOCKDECODER11_STAT_FINI_OK || aStat == kBLOCKDECODER11_STAT_FINI_FAIL)
        {
            const bool intact = aStat == kBLOCKDECODER11_STAT_FINI_OK;
            stats_.block(block_us_, intact);
            ++blocks_;
            show(intact);
        }
    }

    void show(bool aIntact)
    {
        _T_show_block(output_,
                      BlockJson(record_, aIntact,
                                static_cast<double>(block_us_ - start_us_) / 1000.0, options_.hex));
    }

    const ctl_options& options_;
    ctl_output& output_;
    int64_t start_us_;
    line_stats stats_;
    const block_decoder11_t* decoder_ = nullptr;
    block_record record_{};
    int64_t block_us_ = 0;
    long long blocks_ = 0;
    bool joined_ = false;
    uint64_t joined_at_ = 0;
};

ctl_json _T_summary_json(const line_summary& aSum, int aTimeoutMs)
{
    return ctl_json{{"summary",
                     {{"intact", aSum.intact},
                      {"damaged", aSum.damaged},
                      {"garbage_bytes", aSum.garbage},
                      {"duration_ms", static_cast<double>(aSum.duration_us) / 1000.0},
                      {"period_ms", PeriodJson(aSum)},
                      {"longest_silence_ms", static_cast<double>(aSum.longest_silence_us) / 1000.0},
                      {"verdict", Verdict(aSum, aTimeoutMs)}}}};
}

void _T_show_summary(ctl_output& aOutput, const line_summary& aSum, int aTimeoutMs)
{
    if (aOutput.json())
    {
        aOutput.emit(_T_summary_json(aSum, aTimeoutMs));
        return;
    }
    const std::string verdict = Verdict(aSum, aTimeoutMs);
    aOutput.line("blocks: " + std::to_string(aSum.intact) + " intact, " +
                 std::to_string(aSum.damaged) + " damaged; garbage: " +
                 std::to_string(aSum.garbage) + " bytes; in " + _T_ms(aSum.duration_us) + " ms");
    if (aSum.periods != 0)
    {
        const double mean = aSum.mean_period_us;
        aOutput.line(
            "period: mean " + _T_ms(static_cast<int64_t>(mean)) + " ms, jitter " +
            _T_ms(static_cast<int64_t>(static_cast<double>(aSum.min_period_us) - mean)) + "/+" +
            _T_ms(static_cast<int64_t>(static_cast<double>(aSum.max_period_us) - mean)) +
            " ms (min " + _T_ms(aSum.min_period_us) + ", max " + _T_ms(aSum.max_period_us) + ")");
    }
    aOutput.line("longest silence: " + _T_ms(aSum.longest_silence_us) + " ms");
    aOutput.line("verdict: " + verdict);
}

// Until the count, the duration or a stop signal; a failure of the line ends the watch too.
void _T_watch(sensor_link& aLink, line_watch& aWatch, double aDurationS)
{
    const int64_t endUs = aDurationS > 0
                              ? aWatch.start_us() + static_cast<int64_t>(aDurationS * 1e6)
                              : std::numeric_limits<int64_t>::max();
    while (!aWatch.done())
    {
        const int64_t leftUs = endUs - _T_now_us();
        if (leftUs <= 0)
            return;
        const int waitMs =
            static_cast<int>(std::min<int64_t>(kLISTEN_SLICE_MS, (leftUs + 999) / 1000));
        const exchange_outcome outcome = aLink.listen(waitMs);
        if (outcome.status == kEXCHANGE_STOPPED)
            return;
        if (outcome.status == kEXCHANGE_RECEIVED)
            aWatch.input();
        std::cout.flush();
    }
}

// The line of a vesk11d, through its control socket: the daemon's block objects are the ones
// this command makes, stamped from the subscription on; the garbage is the growth of the
// daemon's count over the watch.
class daemon_watch
{
  public:
    daemon_watch(const ctl_options& aOptions, ctl_output& aOutput)
        : options_(aOptions), output_(aOutput), link_(aOptions.device), start_us_(_T_now_us()),
          stats_(start_us_)
    {
        link_.request(ctl_json{{"request", "status"}});
        link_.request(ctl_json{{"request", "subscribe"}, {"hex", aOptions.hex}});
        garbage_ = _T_garbage(link_.reply("status"));
        link_.reply("subscribe");
    }

    // Until the count, the duration or a stop signal; throws ctl_error when the daemon goes.
    void watch(double aDurationS)
    {
        const int64_t endUs = aDurationS > 0 ? start_us_ + static_cast<int64_t>(aDurationS * 1e6)
                                             : std::numeric_limits<int64_t>::max();
        ctl_json block;
        while (options_.count == 0 || blocks_ < options_.count)
        {
            const int64_t leftUs = endUs - _T_now_us();
            if (leftUs <= 0)
                return;
            const int waitMs =
                static_cast<int>(std::min<int64_t>(kLISTEN_SLICE_MS, (leftUs + 999) / 1000));
            const daemon_read read = link_.next(waitMs, &block);
            if (read == daemon_read::stopped)
                return;
            if (read == daemon_read::object && block.contains("t_ms"))
                show(block);
            std::cout.flush();
        }
    }

    line_summary finish()
    {
        const int64_t endUs = _T_now_us();
        link_.request(ctl_json{{"request", "status"}});
        const uint64_t garbage = _T_garbage(link_.reply("status"));
        return stats_.finish(endUs, garbage - std::min(garbage, garbage_));
    }

    line_summary cut_short() const { return stats_.finish(_T_now_us(), 0); }

  private:
    static uint64_t _T_garbage(const ctl_json& aStatus)
    {
        return static_cast<uint64_t>(MemberNumber(Member(aStatus, "line"), "garbage_bytes"));
    }

    void show(const ctl_json& aBlock)
    {
        const int64_t atUs =
            start_us_ + static_cast<int64_t>(aBlock.at("t_ms").get<double>() * 1000.0);
        stats_.input(atUs);
        stats_.block(atUs, aBlock.at("ok").get<bool>());
        ++blocks_;
        _T_show_block(output_, aBlock);
    }

    const ctl_options& options_;
    ctl_output& output_;
    daemon_link link_;
    int64_t start_us_;
    line_stats stats_;
    uint64_t garbage_ = 0;
    long long blocks_ = 0;
};

// Runs a watch and shows its summary, after a failure too (aFinish told so; under --json the
// summary is then the last object, the failure in it); the status: 0 when an intact block was
// seen, 69 when none.
int _T_watch_then_sum_up(ctl_output& aOutput, int aTimeoutMs, const std::function<void()>& aWatch,
                         const std::function<line_summary(bool aFailed)>& aFinish)
{
    try
    {
        aWatch();
    }
    catch (const ctl_error& x)
    {
        if (aOutput.json())
            throw x.withReport(_T_summary_json(aFinish(true), aTimeoutMs));
        _T_show_summary(aOutput, aFinish(true), aTimeoutMs);
        throw;
    }
    const line_summary summary = aFinish(false);
    _T_show_summary(aOutput, summary, aTimeoutMs);
    return summary.intact != 0 ? kEXIT_OK : kEXIT_UNAVAILABLE;
}

// When the daemon went, its garbage count cannot be asked for any more.
int _T_monitor_daemon(const ctl_options& aOptions, ctl_output& aOutput)
{
    daemon_watch watch(aOptions, aOutput);
    return _T_watch_then_sum_up(
        aOutput, aOptions.timeout_ms, [&] { watch.watch(aOptions.duration_s); },
        [&](bool aFailed) { return aFailed ? watch.cut_short() : watch.finish(); });
}

} // namespace

int RunMonitor(const ctl_options& aOptions, ctl_output& aOutput)
{
    if (IsControlSocket(aOptions.device))
        return _T_monitor_daemon(aOptions, aOutput);
    line_watch watch(aOptions, aOutput);
    link_settings settings = LinkSettings(aOptions);
    settings.tap = line_watch::tap;
    settings.tap_arg = &watch;
    sensor_link link(settings);
    watch.attach(link.decoder());
    return _T_watch_then_sum_up(
        aOutput, aOptions.timeout_ms, [&] { _T_watch(link, watch, aOptions.duration_s); },
        [&](bool) { return watch.finish(); });
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
