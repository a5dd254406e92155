// Everything that reports on the line without ever touching it: the watch over its blocks, the
// control socket, and the metrics over HTTP and in a file. The daemon's loop feeds it every
// block, lets it wait on the control socket, and calls tick() once per turn.
#ifndef VESK11_VESK11D_LINE_REPORT_HPP
#define VESK11_VESK11D_LINE_REPORT_HPP

#include <memory>
#include <string>
#include <vector>

#include <poll.h>

#include "control_socket.hpp"
#include "daemon_options.hpp"
#include "line_watch.hpp"
#include "metrics_file.hpp"
#include "metrics_http.hpp"
#include "metrics_text.hpp"
#include "sensor_line.hpp"
#include "virtual_port.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class line_report
{
  public:
    line_report(const daemon_options& aOptions, const std::string& aLineDir,
                const sensor_line& aLine, const std::vector<std::unique_ptr<virtual_port>>& aPorts);
    ~line_report();
    line_report(const line_report&) = delete;
    line_report& operator=(const line_report&) = delete;

    // Opens the control socket and starts the metrics asked for; returns what to tell about
    // them ("" when nothing). Throws daemon_error.
    std::string start();
    // Closes the control socket, stops the metrics and removes their file.
    void stop();

    void add_waits(std::vector<pollfd>& aWaits) const { control_.add_waits(aWaits); }
    void serve(const pollfd* aWaits) { control_.serve(aWaits); }
    void block(const uint8_t* aBlock, size_t aSize) { watch_.block(aBlock, aSize, line_.stats()); }
    // Notices the line opening or going away and publishes the metrics' snapshot.
    void tick();

  private:
    const ctl_json& status();

    const daemon_options& options_;
    const sensor_line& line_;
    const std::vector<std::unique_ptr<virtual_port>>& ports_;
    line_watch watch_;
    control_socket control_;
    metrics_board board_;
    metrics_snapshot snapshot_;
    metrics_http http_;
    metrics_file file_;
    // The status made in this turn of the loop, for every request of the turn: a client that
    // asks without pause costs one status per turn, whatever the number of its requests.
    uint64_t turn_ = 0;
    uint64_t status_turn_ = ~uint64_t{0};
    ctl_json status_;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
