#include "line_daemon.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "daemon_error.hpp"
#include "daemon_lines.hpp"
#include "device_holder.hpp"
#include "send_window.h"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{
namespace
{

constexpr int64_t kREOPEN_US = 1000000;
// How often ports nobody has open are looked at while the line brings no block.
constexpr int64_t kNOTICE_US = 250000;

unsigned long long _T_ull(uint64_t aCount)
{
    return static_cast<unsigned long long>(aCount);
}

com_transport_args _T_args(const daemon_options& aOptions)
{
    com_transport_args args{};
    std::memcpy(args.endpoint_path, aOptions.device.c_str(), aOptions.device.size());
    args.rs485 = aOptions.rs485;
    return args;
}

daemon_error _T_open_error(const std::string& aDevice, int aCode, int aError)
{
    switch (aCode)
    {
    case kCOM_OPEN_NO_ACCESS:
        if (aError == EACCES || aError == EPERM)
            return daemon_error(kEXIT_NOPERM, "no permission to open " + aDevice);
        if (aError == ENOENT || aError == ENOTDIR)
            return daemon_error(kEXIT_UNAVAILABLE, aDevice + " does not exist");
        return daemon_error(kEXIT_UNAVAILABLE,
                            "cannot open " + aDevice + " (" + std::strerror(aError) + ")");
    case kCOM_OPEN_LOCKED:
    {
        const std::string held = DaemonHoldingHint(aDevice);
        const device_holder holder = FindDeviceHolder(aDevice);
        const std::string who = holder.pid == 0
                                    ? "another program"
                                    : holder.name + " (pid " + std::to_string(holder.pid) + ")";
        return daemon_error(kEXIT_UNAVAILABLE,
                            aDevice + " is " + (held.empty() ? "locked by " + who : held));
    }
    case kCOM_OPEN_NOT_SERIAL:
        return daemon_error(kEXIT_UNAVAILABLE, aDevice + " is not a serial line");
    case kCOM_OPEN_RS485_REFUSED:
        return daemon_error(kEXIT_UNAVAILABLE, "the driver of " + aDevice +
                                                   " refused RS-485 mode (no RS-485 support); "
                                                   "the line is left as found");
    default:
        return daemon_error(kEXIT_UNAVAILABLE,
                            "cannot set " + aDevice + " up as a serial line at 115200 baud 8N1");
    }
}

// Links a daemon that was killed left behind, ports of its own among them, which this run may not
// have.
void _T_remove_links(const std::string& aDir)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(aDir, error), end; !error && entry != end;
         entry.increment(error))
    {
        if (entry->is_symlink(error))
            unlink(entry->path().c_str());
    }
}

void _T_make_dir(const std::string& aPath)
{
    if (mkdir(aPath.c_str(), 0755) != 0 && errno != EEXIST)
        throw daemon_error(kEXIT_CANTCREAT,
                           "cannot make " + aPath + " (" + std::strerror(errno) + ")");
}

} // namespace

line_daemon::line_daemon(daemon_options aOptions)
    : options_(std::move(aOptions)), line_dir_(options_.runtime_dir + "/" + options_.name),
      line_(_T_args(options_), [this](const uint8_t* aBlock, size_t aSize, bool aReply)
            { fan_out(aBlock, aSize, aReply); }),
      report_(options_, line_dir_, line_, ports_)
{
}

line_daemon::~line_daemon()
{
    report_.stop();
    for (auto& port : ports_)
        port->close();
    remove_folder();
    line_.close();
}

void line_daemon::start()
{
    open_line_or_throw();
    make_folder();
    make_ports();
    const std::string reporting = report_.start();
    status("line " + options_.device + " open, " + std::to_string(ports_.size()) + " port(s) in " +
           line_dir_ + (reporting.empty() ? "" : "; " + reporting));
    sd_notify(0, "READY=1");
}

void line_daemon::open_line_or_throw()
{
    const int opened = line_.open();
    if (opened != 0)
        throw _T_open_error(options_.device, opened, errno);
}

// The folder belongs to this line: one left by a daemon that died is taken over, one whose
// daemon still runs (for another device of the same name) is not.
void line_daemon::make_folder()
{
    _T_make_dir(options_.runtime_dir);
    _T_make_dir(line_dir_);
    const std::string record = line_dir_ + "/" + kDAEMON_LINE_RECORD;
    daemon_line other;
    if (ReadDaemonLine(record, &other) && other.pid != getpid() &&
        (kill(other.pid, 0) == 0 || errno == EPERM))
        throw daemon_error(kEXIT_CANTCREAT, line_dir_ + " belongs to vesk11d (pid " +
                                                std::to_string(other.pid) + ") for " +
                                                other.device + ": give another --name");
    folder_made_ = true;
    _T_remove_links(line_dir_);
}

void line_daemon::make_ports()
{
    struct stat device = {};
    stat(options_.device.c_str(), &device);
    for (const port_option& option : options_.ports)
    {
        port_setup setup;
        setup.name = option.name;
        setup.writable = option.writable;
        setup.link = line_dir_ + "/" + option.name;
        setup.owner_given = options_.port_owner != static_cast<uid_t>(-1) ||
                            options_.port_group != static_cast<gid_t>(-1);
        setup.owner =
            options_.port_owner != static_cast<uid_t>(-1) ? options_.port_owner : device.st_uid;
        setup.group =
            options_.port_group != static_cast<gid_t>(-1) ? options_.port_group : device.st_gid;
        setup.mode = options_.port_mode >= 0 ? static_cast<mode_t>(options_.port_mode)
                                             : device.st_mode & 0666;
        ports_.push_back(std::make_unique<virtual_port>(setup));
        ports_.back()->open();
    }
    if (!write_record())
        throw daemon_error(kEXIT_CANTCREAT, "cannot write " + line_dir_ + "/" +
                                                kDAEMON_LINE_RECORD + " (" + std::strerror(errno) +
                                                ")");
}

// The record names the device by its number, which changes when it comes back as another node.
bool line_daemon::write_record() const
{
    struct stat device = {};
    stat(options_.device.c_str(), &device);
    daemon_line record{getpid(), options_.device, device.st_rdev, {}};
    for (const port_option& option : options_.ports)
        record.ports.push_back(daemon_port{option.name, option.writable});
    return WriteDaemonLine(line_dir_, record);
}

void line_daemon::remove_folder()
{
    if (!folder_made_)
        return;
    unlink((line_dir_ + "/" + kDAEMON_LINE_RECORD).c_str());
    rmdir(line_dir_.c_str());
    folder_made_ = false;
}

int line_daemon::run(const sigset_t* aWaitMask, const volatile sig_atomic_t* aStop)
{
    while (*aStop == 0)
    {
        waits_.clear();
        waits_.push_back(pollfd{line_.fd(), line_.events(), 0});
        for (const auto& port : ports_)
            waits_.push_back(pollfd{port->attached() ? port->fd() : -1, port->events(), 0});
        report_.add_waits(waits_);
        const int waitMs = wait_ms();
        const timespec wait{waitMs / 1000, (waitMs % 1000) * 1000000L};
        if (ppoll(waits_.data(), waits_.size(), waitMs < 0 ? nullptr : &wait, aWaitMask) < 0)
        {
            if (errno != EINTR)
                throw daemon_error(kEXIT_SOFTWARE,
                                   std::string("poll failed (") + std::strerror(errno) + ")");
            continue;
        }
        serve_line(waits_[0].revents);
        for (size_t i = 0; i < ports_.size(); ++i)
        {
            if (waits_[i + 1].revents != 0)
                ports_[i]->serve(waits_[i + 1].revents);
        }
        report_.serve(&waits_[ports_.size() + 1]);
        if (SendWindow__NowUs() >= next_notice_us_)
            notice_clients();
        if (line_.is_open())
            send_next();
        else
            drop_queries();
        try_reopen();
        report_.tick();
    }
    sd_notify(0, "STOPPING=1");
    status("stopping on signal " + std::to_string(*aStop));
    report();
    return *aStop;
}

void line_daemon::serve_line(short aRevents)
{
    if (aRevents != 0 && !line_.serve(aRevents))
        line_lost();
}

// Queries written while there is no line would reach the sensor late, or a replaced one: they go.
void line_daemon::drop_queries()
{
    for (auto& port : ports_)
        port->drop_query();
}

void line_daemon::line_lost()
{
    drop_queries();
    next_open_us_ = SendWindow__NowUs() + kREOPEN_US;
    status("line " + options_.device + " lost; reopening it about once a second");
}

void line_daemon::try_reopen()
{
    if (line_.is_open() || SendWindow__NowUs() < next_open_us_)
        return;
    next_open_us_ = SendWindow__NowUs() + kREOPEN_US;
    if (line_.open() != 0)
        return;
    write_record();
    status("line " + options_.device + " open again, " + std::to_string(ports_.size()) +
           " port(s) in " + line_dir_);
}

// Ports nobody had open are looked at before each block, so a client that opens one gets the
// line from the next block on. A reply answers the one query in flight, never a query still
// waiting here: a client whose query waits would take another's reply about the same parameter
// for its own, so it does not get it (what the clients wrote so far is read first, to know).
void line_daemon::fan_out(const uint8_t* aBlock, size_t aSize, bool aReply)
{
    report_.block(aBlock, aSize);
    notice_clients();
    for (auto& port : ports_)
    {
        if (aReply && port->attached())
            port->serve(POLLIN);
        if (aReply && port->has_query())
            port->withhold();
        else
            port->offer(aBlock, aSize);
    }
}

void line_daemon::notice_clients()
{
    next_notice_us_ = SendWindow__NowUs() + kNOTICE_US;
    std::vector<pollfd> idle;
    for (const auto& port : ports_)
        idle.push_back(pollfd{port->attached() ? -1 : port->fd(), POLLIN, 0});
    if (std::none_of(idle.begin(), idle.end(), [](const pollfd& aWait) { return aWait.fd >= 0; }) ||
        poll(idle.data(), idle.size(), 0) < 0)
        return;
    for (size_t i = 0; i < ports_.size(); ++i)
    {
        if (idle[i].fd >= 0)
            ports_[i]->notice(idle[i].revents);
    }
}

// One query per window, the ports taken in turn from the one after the last that sent.
void line_daemon::send_next()
{
    for (size_t turn = 0; turn < ports_.size(); ++turn)
    {
        const size_t at = (next_port_ + turn) % ports_.size();
        virtual_port& port = *ports_[at];
        if (!port.has_query())
            continue;
        if (!line_.can_send())
            return;
        next_port_ = at + 1;
        const bool sent = line_.send(port.query());
        port.forwarded();
        if (!sent)
            line_lost();
        return;
    }
}

int line_daemon::wait_ms() const
{
    const bool idle = std::any_of(ports_.begin(), ports_.end(),
                                  [](const auto& aPort) { return !aPort->attached(); });
    if (line_.is_open() && !idle)
        return -1;
    int64_t waitUs = kNOTICE_US;
    if (!line_.is_open())
        waitUs = std::min(waitUs, next_open_us_ - SendWindow__NowUs());
    return static_cast<int>(std::max<int64_t>(0, (waitUs + 999) / 1000));
}

// The counters at the end of a run, one line for the line and one per port, as NAME=VALUE words.
void line_daemon::report() const
{
    const line_stats& counts = line_.stats();
    std::fprintf(stderr,
                 "vesk11d: line opens=%llu losses=%llu blocks_intact=%llu blocks_damaged=%llu "
                 "blocks_too_long=%llu garbage_bytes=%llu queries_sent=%llu echoes=%llu "
                 "replies=%llu unanswered=%llu\n",
                 _T_ull(counts.opens), _T_ull(counts.losses), _T_ull(counts.blocks_intact),
                 _T_ull(counts.blocks_damaged), _T_ull(counts.blocks_too_long),
                 _T_ull(counts.garbage_bytes), _T_ull(counts.queries_sent), _T_ull(counts.echoes),
                 _T_ull(counts.replies), _T_ull(counts.unanswered));
    for (const auto& port : ports_)
    {
        const port_stats& stats = port->stats();
        std::fprintf(stderr,
                     "vesk11d: port %s clients=%llu blocks_copied=%llu blocks_dropped=%llu "
                     "queries_forwarded=%llu queries_replaced=%llu queries_lost=%llu "
                     "frames_rejected=%llu garbage_bytes=%llu ignored_bytes=%llu "
                     "replies_withheld=%llu\n",
                     port->name().c_str(), _T_ull(stats.clients), _T_ull(stats.blocks_copied),
                     _T_ull(stats.blocks_dropped), _T_ull(stats.queries_forwarded),
                     _T_ull(stats.queries_replaced), _T_ull(stats.queries_lost),
                     _T_ull(stats.frames_rejected), _T_ull(stats.garbage_bytes),
                     _T_ull(stats.ignored_bytes), _T_ull(stats.replies_withheld));
    }
}

void line_daemon::status(const std::string& aText) const
{
    std::fprintf(stderr, "vesk11d: %s\n", aText.c_str());
    sd_notifyf(0, "STATUS=%s", aText.c_str());
}

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo
