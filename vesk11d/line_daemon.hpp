// vesk11d's whole run: the line, its ports, their folder under the runtime directory and the
// single-threaded loop that serves them, until a stop signal.
#ifndef VESK11_VESK11D_LINE_DAEMON_HPP
#define VESK11_VESK11D_LINE_DAEMON_HPP

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

#include "daemon_options.hpp"
#include "line_report.hpp"
#include "sensor_line.hpp"
#include "virtual_port.hpp"

namespace Orvo
{
namespace Support
{
namespace Vesk11d
{

class line_daemon
{
  public:
    explicit line_daemon(daemon_options aOptions);
    ~line_daemon();
    line_daemon(const line_daemon&) = delete;
    line_daemon& operator=(const line_daemon&) = delete;

    // Opens the line and makes the ports, their links and the line record. Throws daemon_error.
    void start();
    // Serves the line and the ports until *aStop is set (waits with aWaitMask). Returns the signal.
    int run(const sigset_t* aWaitMask, const volatile sig_atomic_t* aStop);

    const line_stats& line() const { return line_.stats(); }
    const std::vector<std::unique_ptr<virtual_port>>& ports() const { return ports_; }

  private:
    void open_line_or_throw();
    void make_folder();
    void make_ports();
    void remove_folder();
    bool write_record() const;
    void fan_out(const uint8_t* aBlock, size_t aSize, bool aReply);
    void notice_clients();
    void send_next();
    void serve_line(short aRevents);
    void line_lost();
    void drop_queries();
    void try_reopen();
    int wait_ms() const;
    void status(const std::string& aText) const;
    void report() const;

    daemon_options options_;
    std::string line_dir_;
    sensor_line line_;
    std::vector<std::unique_ptr<virtual_port>> ports_;
    line_report report_;
    std::vector<pollfd> waits_;
    size_t next_port_ = 0;
    int64_t next_open_us_ = 0;
    int64_t next_notice_us_ = 0;
    bool folder_made_ = false;
};

} // namespace Vesk11d
} // namespace Support
} // namespace Orvo

#endif
