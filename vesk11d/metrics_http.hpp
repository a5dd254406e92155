// /metrics over HTTP with libmicrohttpd. The server runs on libmicrohttpd's own thread and
// answers from the board's snapshot: a scrape costs the poll loop nothing but the lock it takes to
// publish, never waits on the line, and a storm of scrapes lands on the other core, not in the
// loop that copies blocks to the ports (driving the server from the loop would put every
// request's parsing and writing between two blocks).
#ifndef VESK11_VESK11D_METRICS_HTTP_HPP
#define VESK11_VESK11D_METRICS_HTTP_HPP

#include <string>

#include "metrics_text.hpp"

struct MHD_Daemon;

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class metrics_http
{
  public:
    explicit metrics_http(const metrics_board& aBoard) : board_(aBoard) {}
    ~metrics_http();
    metrics_http(const metrics_http&) = delete;
    metrics_http& operator=(const metrics_http&) = delete;

    // Serves ADDR:PORT, [ADDR]:PORT or PORT (ADDR a name or a number; loopback when none is
    // given). Throws daemon_error: usage for a bad address, unavailable when it cannot be bound.
    // Returns "http://ADDR:PORT/metrics" as bound (port 0: the port given by the system).
    std::string start(const std::string& aListen);
    void stop();

  private:
    const metrics_board& board_;
    MHD_Daemon* daemon_ = nullptr;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
