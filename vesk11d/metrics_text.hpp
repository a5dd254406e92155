// The daemon's figures in the Prometheus text exposition format, for its HTTP endpoint and for
// the node exporter's textfile collector: made from a snapshot the poll loop publishes, so that
// rendering and serving never touch the loop's own records.
#ifndef VESK11_VESK11D_METRICS_TEXT_HPP
#define VESK11_VESK11D_METRICS_TEXT_HPP

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "control_socket.hpp"
#include "daemon_stats.hpp"
#include "line_watch.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

struct port_snapshot
{
    std::string name;
    port_stats stats;
};

struct metrics_snapshot
{
    std::string line; // the line's name: the "line" label
    line_stats stats;
    std::vector<port_snapshot> ports;
    period_histogram periods;
    int64_t last_intact_wall_us = 0; // 0: none yet
    int64_t start_wall_us = 0;
    control_stats control;
};

// The exposition text of aSnapshot, every metric with its HELP and TYPE.
std::string MetricsText(const metrics_snapshot& aSnapshot);

// The snapshot between the loop, which publishes it, and the threads that serve it; each side
// holds the lock only to copy. The text is made once per snapshot, however often it is asked for.
class metrics_board
{
  public:
    void publish(const metrics_snapshot& aSnapshot);
    std::string text() const;

  private:
    mutable std::mutex mutex_;
    metrics_snapshot snapshot_;
    uint64_t version_ = 0;
    mutable std::string text_;
    mutable uint64_t text_version_ = ~uint64_t{0};
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
