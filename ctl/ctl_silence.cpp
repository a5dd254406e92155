#include "ctl_silence.hpp"

#include <chrono>

#include "block_decoder11.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

namespace
{

constexpr const char* kMEASURE = "vesk11-ctl monitor measures its period";

int64_t _T_now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string _T_tries(const silence_facts& aFacts)
{
    return aFacts.what + ", " + std::to_string(aFacts.tries) +
           (aFacts.tries == 1 ? " try" : " tries") + ", --timeout " +
           std::to_string(aFacts.timeout_ms) + " ms";
}

// The query never went out, or the line fell silent for a whole time-out after it did.
std::string _T_silent(const silence_facts& aFacts)
{
    const line_evidence& seen = aFacts.seen;
    const std::string& device = aFacts.device;
    if (seen.intact == 0 && seen.headers == 0 && seen.garbage == 0)
        return "the sensor on " + device + " sends nothing: not a byte (" + _T_tries(aFacts) +
               "): check power, A/B wiring and the device path; a sensor that sends more seldom "
               "needs a longer --timeout (" +
               kMEASURE + ")";
    // Input that kept coming past the deadline without carrying the query: no intact block.
    if (seen.intact == 0 || !aFacts.no_input)
        return "bytes but no intact block from " + device + " (" + _T_tries(aFacts) +
               "): wrong speed, A/B swapped, or not this sensor";
    if (seen.shortest_gap_ms > aFacts.timeout_ms)
        return "intact blocks from " + device + " come " + std::to_string(seen.shortest_gap_ms) +
               " ms apart, more than the time-out (" + _T_tries(aFacts) +
               "): give a --timeout above the sensor's period (" + kMEASURE + ")";
    return "intact blocks from " + device + " came (" + std::to_string(seen.intact) +
           "), then none within the time-out (" + _T_tries(aFacts) +
           "): the sensor's period may be longer than the time-out (" + kMEASURE +
           "), or it fell silent";
}

// The query went out, blocks kept coming, and none answered it in time.
std::string _T_unanswered(const silence_facts& aFacts)
{
    const std::string& device = aFacts.device;
    if (aFacts.damaged > 0)
        return "no intact reply from the sensor on " + device + ": " +
               std::to_string(aFacts.damaged) + (aFacts.damaged == 1 ? " block" : " blocks") +
               " after the query had bad checksums (" + _T_tries(aFacts) +
               "): noise, a missing terminator or a loose wire on the line";
    return "no reply from the sensor on " + device + " within " +
           std::to_string(aFacts.deadline_ms) + " ms (" + _T_tries(aFacts) +
           "): blocks came, none answered the query";
}

} // namespace

void line_evidence::take(uint8_t aStat)
{
    if (aStat == kBLOCKDECODER11_STAT_INIT)
        ++headers;
    if (aStat != kBLOCKDECODER11_STAT_FINI_OK)
        return;
    const int64_t now = _T_now_us();
    if (last_intact_us >= 0)
    {
        const int64_t gap = (now - last_intact_us) / 1000;
        shortest_gap_ms = shortest_gap_ms < 0 || gap < shortest_gap_ms ? gap : shortest_gap_ms;
    }
    last_intact_us = now;
    ++intact;
}

std::string SilenceMessage(const silence_facts& aFacts)
{
    return aFacts.sent && !aFacts.no_input ? _T_unanswered(aFacts) : _T_silent(aFacts);
}

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo
