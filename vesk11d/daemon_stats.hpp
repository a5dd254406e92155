// The daemon's counters: plain records, updated only by the poll loop, for anything that reports
// on the daemon (status text, a control socket, an exporter) to read between iterations.
#ifndef VESK11_VESK11D_DAEMON_STATS_HPP
#define VESK11_VESK11D_DAEMON_STATS_HPP

#include <cstdint>

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

struct line_stats
{
    bool open = false;
    uint64_t opens = 0;           // successful opens of the device, the first included
    uint64_t losses = 0;          // the device went away (end of input, hang-up, I/O error)
    uint64_t blocks_intact = 0;   // blocks from the line with a good body checksum
    uint64_t blocks_damaged = 0;  // blocks with a bad body checksum (copied all the same)
    uint64_t blocks_too_long = 0; // blocks longer than the daemon keeps: not copied
    uint64_t garbage_bytes = 0;   // bytes between blocks: counted, never copied
    uint64_t queries_sent = 0;    // query frames handed to the line
    uint64_t echoes = 0;          // an intact block equal to the query just sent
    uint64_t replies = 0;         // intact blocks carrying a reply
    uint64_t unanswered = 0;      // queries whose reply did not come within the blocks waited
    uint64_t write_errors = 0;    // a query write that failed (the device is then dropped)
};

struct port_stats
{
    bool attached = false;          // a client has the port open
    uint64_t clients = 0;           // times a client was seen opening the port
    uint64_t blocks_copied = 0;     // blocks queued for the client
    uint64_t blocks_dropped = 0;    // blocks lost whole because the client fell behind
    uint64_t replies_withheld = 0;  // replies kept from a client whose query waits: not its own
    uint64_t queries_forwarded = 0; // the client's queries handed to the line
    uint64_t queries_replaced = 0;  // pending query replaced by a newer one of the same port
    uint64_t queries_lost = 0;      // pending query dropped: device lost or client gone
    uint64_t frames_rejected = 0;   // frames written that are not one well-formed query batch
    uint64_t garbage_bytes = 0;     // bytes written that belong to no frame
    uint64_t ignored_bytes = 0;     // bytes written to a read-only port
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
