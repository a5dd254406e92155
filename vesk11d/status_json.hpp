// The status of a line as its control socket tells it (docs/control.md): the line, its health
// over the verdict's window, and each port.
#ifndef VESK11_VESK11D_STATUS_JSON_HPP
#define VESK11_VESK11D_STATUS_JSON_HPP

#include <memory>
#include <string>
#include <vector>

#include "control_socket.hpp"
#include "daemon_options.hpp"
#include "line_watch.hpp"
#include "virtual_port.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

struct status_view
{
    const daemon_options& options;
    const line_stats& line;
    const std::vector<std::unique_ptr<virtual_port>>& ports;
    const line_watch& watch;
    const control_stats& control;
};

// {"line": {...}, "ports": [...], "control": {...}} as of now.
ctl_json StatusJson(const status_view& aView);

// "2026-12-08T13:40:01.250Z": a wall clock time in microseconds since the epoch, in UTC.
std::string UtcText(int64_t aWallUs);

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
