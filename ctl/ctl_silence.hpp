// What a query that got no answer saw on the line, and the verdict told for it: no byte at all,
// bytes but no intact block, blocks further apart than the time-out, replies with bad checksums.
// Every verdict names the time-out.
#ifndef VESK11_CTL_CTL_SILENCE_HPP
#define VESK11_CTL_CTL_SILENCE_HPP

#include <cstdint>
#include <string>

namespace Orvo
{
namespace Support
{
namespace Vesk11Ctl
{

// What the link saw since it opened, kept by its tap.
struct line_evidence
{
    uint64_t headers = 0;         // blocks begun: a header with a valid checksum
    uint64_t intact = 0;          // blocks whose body checksum was valid
    uint64_t garbage = 0;         // bytes that were no part of a block
    int64_t last_intact_us = -1;  // when the last intact block ended (steady clock)
    int64_t shortest_gap_ms = -1; // the shortest time between two intact blocks; -1: not yet two
    // Takes one decoder event.
    void take(uint8_t aStat);
};

struct silence_facts
{
    std::string device;
    std::string what; // "reading param_x"
    int tries = 0;
    int timeout_ms = 0;
    int deadline_ms = 0;   // how long each sending was awaited
    bool sent = false;     // the (last) query went out
    bool no_input = false; // a whole time-out passed without input (else the deadline passed)
    uint32_t damaged = 0;  // blocks with a bad body checksum after the query went out, all tries
    line_evidence seen;
};

// The message of the failure (kind unavailable).
std::string SilenceMessage(const silence_facts& aFacts);

} // namespace Vesk11Ctl
} // namespace Support
} // namespace Orvo

#endif
