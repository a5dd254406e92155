#include "line_report.hpp"

#include <sys/stat.h>

#include "status_json.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

// Read-only to the device's group by default: connecting to a Unix socket takes write permission
// on it, and nothing the socket accepts reaches the line.
control_setup _T_control(const daemon_options& aOptions, const std::string& aLineDir)
{
    control_setup setup;
    setup.path = aLineDir + "/" + kCONTROL_SOCKET_NAME;
    struct stat device
    {
    };
    const bool known = stat(aOptions.device.c_str(), &device) == 0;
    setup.owner = aOptions.control_owner;
    setup.group = aOptions.control_group != static_cast<gid_t>(-1) || !known
                      ? aOptions.control_group
                      : device.st_gid;
    setup.mode = aOptions.control_mode >= 0 ? static_cast<mode_t>(aOptions.control_mode) : 0660;
    return setup;
}

} // namespace

line_report::line_report(const daemon_options& aOptions, const std::string& aLineDir,
                         const sensor_line& aLine,
                         const std::vector<std::unique_ptr<virtual_port>>& aPorts)
    : options_(aOptions), line_(aLine), ports_(aPorts),
      watch_([this](const block_record& aRecord, bool aIntact, int64_t aAtUs)
             { control_.block(aRecord, aIntact, aAtUs); }),
      control_(_T_control(aOptions, aLineDir), [this] { return status(); }), http_(board_),
      file_(board_)
{
    snapshot_.line = options_.name;
    snapshot_.start_wall_us = WallNowUs();
}

line_report::~line_report()
{
    stop();
}

std::string line_report::start()
{
    control_.open();
    tick();
    std::string told;
    if (!options_.metrics_listen.empty())
        told += "metrics at " + http_.start(options_.metrics_listen);
    if (!options_.metrics_file.empty())
    {
        file_.start(options_.metrics_file);
        told += (told.empty() ? "metrics in " : ", and in ") + options_.metrics_file;
    }
    return told;
}

void line_report::stop()
{
    http_.stop();
    file_.stop();
    control_.close();
}

const ctl_json& line_report::status()
{
    if (status_turn_ != turn_)
        status_ =
            StatusJson(status_view{options_, line_.stats(), ports_, watch_, control_.stats()});
    status_turn_ = turn_;
    return status_;
}

void line_report::tick()
{
    ++turn_;
    watch_.tick(line_.stats());
    if (options_.metrics_listen.empty() && options_.metrics_file.empty())
        return;
    snapshot_.stats = line_.stats();
    snapshot_.ports.resize(ports_.size());
    for (size_t i = 0; i < ports_.size(); ++i)
    {
        snapshot_.ports[i].name = ports_[i]->name();
        snapshot_.ports[i].stats = ports_[i]->stats();
    }
    snapshot_.periods = watch_.periods();
    snapshot_.last_intact_wall_us = watch_.last_intact_wall_us();
    snapshot_.control = control_.stats();
    board_.publish(snapshot_);
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
